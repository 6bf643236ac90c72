#include "app/ImageList.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace {

// The icon is built into the program: its windows show it even where nothing is installed.
TEST(ApplicationIcon, IsBuiltInAtEachSizeWithATransparentBackground)
{
    const QIcon icon = ApplicationIcon();
    ASSERT_EQ(icon.availableSizes().size(), 8);
    for (const int size : {16, 48, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(0, size - 1)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    }
}

} // namespace
