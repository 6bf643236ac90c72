#include "app/Application.h"

#include "app/ImageList.h"
#include "app/uMain.h"
#include "platform/AnsiText.h"
#include "platform/QtTranslation.h"

#include <QApplication>

void PrepareApplication(QApplication& application)
{
    QApplication::setApplicationName("Fendrel");
    QApplication::setWindowIcon(ApplicationIcon());
    // Ties the windows to the desktop entry, whose icon the desktop then shows for them.
    QGuiApplication::setDesktopFileName("fendrel");
    // Without the catalogue the file dialogs speak English, and the program works all the same.
    (void)InstallQtRussian(application);
}

std::unique_ptr<TForm_Main> CreateMainWindow(const TPlatform& platform)
{
    std::string message;
    try {
        return std::make_unique<TForm_Main>(platform);
    } catch (const std::bad_alloc&) {
        message = Ansi("Недостаточно памяти");
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
    }
    platform.Dialogs.MessageBox(ErrorBoxText(message), "Fendrel v1.2", TMessageKind::Error);
    return nullptr;
}
