#include "platform/QtText.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>

QString DisplayPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string PathFromDisplay(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::string FileNameForMessage(const std::string& path)
{
    const QString shown = DisplayPath(path);
    const QString name = QFileInfo(shown).fileName();
    std::string text = FromDisplay(name.isEmpty() ? shown : name);
    EscapeControlBytes(text);
    return text;
}

QString LiteralMenuText(const QString& caption)
{
    QString text = caption;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

void SetLiteralCaption(QAction* action, const std::string& ansi)
{
    action->setProperty("Caption", QByteArray::fromStdString(ansi));
    action->setText(LiteralMenuText(Display(ansi)));
}

std::string LiteralCaption(const QAction* action)
{
    return action->property("Caption").toByteArray().toStdString();
}
