#include "app/Application.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

QtMessageHandler QtDefaultHandler = nullptr;

// The offscreen platform says so whenever a box asks for what only a real screen does.
void DropOffscreenNotices(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (!text.startsWith("This plugin does not support"))
        QtDefaultHandler(type, context, text);
}

} // namespace

// The real boxes, offscreen, in the application as the program prepares it. Qt's own file dialog
// is used on every desktop, so that the tests can type into it.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A locale that is not Russian: the program's texts, Qt's own among them, must not need one.
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    QtDefaultHandler = qInstallMessageHandler(DropOffscreenNotices);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    PrepareApplication(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
