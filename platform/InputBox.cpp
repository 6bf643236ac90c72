#include "platform/InputBox.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TInputBox::TInputBox(const QString& caption, const QString& prompt, const QString& initial,
                     QWidget* parent)
    : QDialog(parent)
    , Prompt_(new QLabel(prompt, this))
    , Edit_(new QLineEdit(this))
{
    setObjectName("InputBox");
    setWindowTitle(caption);
    setModal(true);
    Prompt_->setTextFormat(Qt::PlainText);
    // The prompt labels the field, also for screen readers.
    Prompt_->setBuddy(Edit_);
    Edit_->setObjectName("InputBox_Edit");
    Edit_->setAccessibleName(prompt);
    Edit_->setMaxLength(MaxLength);
    Edit_->setText(initial);
    Edit_->selectAll();
    Edit_->setMinimumWidth(300);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("InputBox_OK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("InputBox_Cancel");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Prompt_);
    layout->addWidget(Edit_);
    layout->addLayout(buttons);
}

QString TInputBox::Text() const
{
    return Edit_->text();
}

void TInputBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Edit_->setFocus();
}
