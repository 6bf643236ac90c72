#include "support/WindowFixture.h"

#include <QCoreApplication>

TForm_Main& TWindowFixture::MakeWindow()
{
    Window = std::make_unique<TForm_Main>(Platform());
    return *Window;
}

void TWindowFixture::ShowAndStart()
{
    Window->show();
    QCoreApplication::sendPostedEvents(Window.get());
}

std::string TWindowFixture::PathOf(const std::string& name) const
{
    return (Folder.path() + "/").toStdString() + name;
}
