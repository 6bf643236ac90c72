// The disc properties box as Qt shows it, answered by keys.
#include "e2e/BoxDriver.h"

#include "platform/QtDialogs.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

const TDiscProperties kShown = {{{"Заголовок", "Фото 2005"}, {"Метка тома", "PHOTOS"}},
                                "Коробка\xC2\xA0"
                                "3"}; // a no-break space

TEST(RealDiscPropertiesBox, ShowsNamedReadOnlyFieldsAndEditsTheNotes)
{
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the properties box", [](QWidget& box) {
        EXPECT_EQ(box.windowTitle(), "Свойства диска");
        QLineEdit* label = nullptr;
        for (QLineEdit* field : box.findChildren<QLineEdit*>())
            if (field->accessibleName() == "Метка тома")
                label = field;
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "PHOTOS");
        EXPECT_TRUE(label->isReadOnly());
        auto* notes = box.findChild<QPlainTextEdit*>("DiscProperties_Notes");
        ASSERT_NE(notes, nullptr);
        EXPECT_EQ(notes->accessibleName(), "Заметки");
        EXPECT_TRUE(notes->hasFocus());
        PressKey(box, Qt::Key_End);
        PressKey(box, Qt::Key_Return); // a line break in the notes, not OK
        TypeText(box, "полка 2");
        EXPECT_TRUE(box.isVisible());
        box.findChild<QPushButton*>("DiscProperties_Ok")->click();
    });
    std::optional<std::string> notes;
    driver.Run([&] { notes = dialogs.DiscPropertiesBox(kShown); });
    EXPECT_EQ(notes, "Коробка\xC2\xA0"
                     "3\nполка 2");
}

TEST(RealDiscPropertiesBox, EscapeKeepsNothingAndUneditedNotesComeBackByteForByte)
{
    TQtDialogs dialogs;
    TBoxDriver driver;
    driver.Expect("the box, escaped", [](QWidget& box) { PressKey(box, Qt::Key_Escape); });
    std::optional<std::string> notes = "unchanged";
    driver.Run([&] { notes = dialogs.DiscPropertiesBox(kShown); });
    EXPECT_EQ(notes, std::nullopt);

    driver.Expect("the box, confirmed",
                  [](QWidget& box) { box.findChild<QPushButton*>("DiscProperties_Ok")->click(); });
    driver.Run([&] { notes = dialogs.DiscPropertiesBox(kShown); });
    EXPECT_EQ(notes, kShown.Notes);
}

} // namespace
