#include "app/Application.h"

#include "app/uMain.h"
#include "platform/AnsiText.h"

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
