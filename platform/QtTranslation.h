#pragma once

class QCoreApplication;

// Loads Qt's own texts in Russian (the file dialogs' labels and buttons, the edit fields' menus)
// into the application, whatever the user's locale: the whole interface is Russian. False when
// Qt's Russian catalogue is not installed; Qt's English texts then stay.
bool InstallQtRussian(QCoreApplication& application);
