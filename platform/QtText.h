#pragma once

#include "platform/AnsiText.h"

#include <QString>
#include <string>
#include <string_view>

// 8-bit text to what Qt shows, and back. Use Display() wherever a name or message reaches a
// widget, FromDisplay() for what the user typed.
[[nodiscard]] inline QString Display(std::string_view ansi)
{
    return QString::fromStdString(AnsiToUtf8(ansi));
}
[[nodiscard]] inline std::string FromDisplay(const QString& text)
{
    return Utf8ToAnsi(text.toStdString());
}

// A file system path (bytes as the file system holds them) as the file manager shows it.
[[nodiscard]] QString DisplayPath(const std::string& path);
[[nodiscard]] std::string PathFromDisplay(const QString& path);
// The last name of a path (the whole path for the root) as the file manager shows it, in code
// page 1251 for a message, with control characters escaped so they cannot break its lines.
[[nodiscard]] std::string FileNameForMessage(const std::string& path);

// Menu captions shown literally: '&' would otherwise mark an access key and a tab would split
// off shortcut text.
[[nodiscard]] QString LiteralMenuText(const QString& caption);

class QAction;
// Run-time menu items (drives, filters) keep their 8-bit caption beside the action, because the
// caption is data: it is read back byte for byte, whatever the menu shows.
void SetLiteralCaption(QAction* action, const std::string& ansi);
[[nodiscard]] std::string LiteralCaption(const QAction* action);
