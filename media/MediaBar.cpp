#include "media/MediaBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

TMediaBar::TMediaBar(const QString& text, QWidget* parent)
    : QFrame(parent)
{
    setObjectName("MediaBar");
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setAccessibleName(text);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 2, 2);
    Label_Text = new QLabel(text, this);
    Label_Text->setTextFormat(Qt::PlainText);
    Label_Text->setForegroundRole(QPalette::ToolTipText);
    layout->addWidget(Label_Text, 1);

    Button_Close = new QToolButton(this);
    Button_Close->setAutoRaise(true);
    Button_Close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    Button_Close->setAccessibleName(QString::fromUtf8("Закрыть"));
    Button_Close->setToolTip(QString::fromUtf8("Закрыть"));
    layout->addWidget(Button_Close);
    connect(Button_Close, &QToolButton::clicked, this, &TMediaBar::CloseClicked);
}

QPushButton* TMediaBar::AddButton(const QString& caption)
{
    auto* button = new QPushButton(caption, this);
    auto* layout = static_cast<QHBoxLayout*>(this->layout());
    layout->insertWidget(layout->indexOf(Button_Close), button);
    return button;
}

TMediaBars::TMediaBars(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("MediaBars");
    Layout_ = new QVBoxLayout(this);
    Layout_->setContentsMargins(0, 0, 0, 0);
    Layout_->setSpacing(1);
    hide();
}

void TMediaBars::Show(const std::string& key, TMediaBar* bar)
{
    Remove(key);
    Bars_[key] = bar;
    Layout_->addWidget(bar);
    connect(bar, &TMediaBar::CloseClicked, this, [this, key] { Remove(key); });
    show();
}

void TMediaBars::Remove(const std::string& key)
{
    const auto found = Bars_.find(key);
    if (found == Bars_.end())
        return;
    // A bar may be removed from its own button's click.
    found->second->hide();
    found->second->deleteLater();
    Bars_.erase(found);
    setVisible(!Bars_.empty());
}

TMediaBar* TMediaBars::Bar(const std::string& key) const
{
    const auto found = Bars_.find(key);
    return found == Bars_.end() ? nullptr : found->second;
}
