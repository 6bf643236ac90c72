#include "support/WindowFixture.h"

#include "platform/InputBox.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <gtest/gtest.h>

#include <fstream>

namespace {

// What a screen reader hears for the widget.
std::string Heard(QWidget* widget, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(text).toStdString() : "(not accessible)";
}

class Accessibility : public TWindowFixture {};

TEST_F(Accessibility, TreeListAndStatusLineAreNamedAndTheStatusTextIsRead)
{
    const std::string path = PathOf("discs.frl");
    std::ofstream(path, std::ios::binary) << ";Fendrel File v1 begin\r\n";
    TForm_Main& w = MakeWindow();
    EXPECT_EQ(Heard(w.TreeView_Main), "Коллекция");
    EXPECT_EQ(Heard(w.ListView_Main), "Содержимое");
    EXPECT_EQ(Heard(w.Panel_Status), "Состояние");

    w.CollectionFile = path;
    w.OpenCollectionFile();
    EXPECT_EQ(Heard(w.Panel_Status), "Состояние");
    EXPECT_EQ(Heard(w.Panel_Status, QAccessible::Description), " Готово");
}

TEST(AccessibleInputBox, FieldIsLabelledByThePrompt)
{
    TInputBox box("Новый фильтр...", "Введите строку поиска для фильтра", "");
    auto* edit = box.findChild<QLineEdit*>("InputBox_Edit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(Heard(edit), "Введите строку поиска для фильтра");
    const auto* prompt = box.findChild<QLabel*>();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->buddy(), edit);
}

} // namespace
