#include "support/WindowFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QWindow>

TForm_Main& TWindowFixture::MakeWindow()
{
    Window = std::make_unique<TForm_Main>(Platform());
    return *Window;
}

void TWindowFixture::ShowAndStart()
{
    Window->show();
    // A start-up that closes the window has run too.
    EXPECT_TRUE(ProcessEventsUntil(
        [this] { return Window->windowHandle()->isExposed() || !Window->isVisible(); }));
    QCoreApplication::sendPostedEvents(Window.get());
}

bool TWindowFixture::ProcessEventsUntil(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

std::string TWindowFixture::PathOf(const std::string& name) const
{
    return (Folder.path() + "/").toStdString() + name;
}
