#include "platform/DiscPropertiesBox.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

TDiscPropertiesBox::TDiscPropertiesBox(const TDiscProperties& shown, QWidget* parent)
    : QDialog(parent)
    , Notes_(new QPlainTextEdit(this))
    , Original_(shown.Notes)
{
    setObjectName("DiscPropertiesBox");
    setWindowTitle(QString::fromUtf8("Свойства диска"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const TDiscProperties::TRow& row : shown.Rows) {
        const QString name = QString::fromUtf8(row.Name);
        auto* value = new QLineEdit(QString::fromUtf8(row.Value), this);
        value->setReadOnly(true);
        value->setAccessibleName(name);
        value->setCursorPosition(0);
        auto* label = new QLabel(name + ':', this);
        label->setBuddy(value);
        form->addRow(label, value);
    }
    auto* notesLabel = new QLabel(QString::fromUtf8("&Заметки:"), this);
    notesLabel->setBuddy(Notes_);
    Notes_->setObjectName("DiscProperties_Notes");
    Notes_->setAccessibleName(QString::fromUtf8("Заметки"));
    Notes_->setTabChangesFocus(true);
    Notes_->setPlainText(QString::fromUtf8(shown.Notes));
    layout->addWidget(notesLabel);
    layout->addWidget(Notes_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName("DiscProperties_Ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("DiscProperties_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(520, 600);
    Notes_->setFocus();
}

std::string TDiscPropertiesBox::Notes() const
{
    // Notes that were not edited are given back as they came, byte for byte; edited ones keep
    // every character the editor holds (its plain text would turn a no-break space into a
    // blank), with its paragraph separators as line feeds.
    if (!Notes_->document()->isModified())
        return Original_;
    return Notes_->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n').toStdString();
}
