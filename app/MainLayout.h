#pragma once

#include "platform/Dialogs.h"

#include <QIcon>
#include <QList>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;
class QTreeView;
class TCollectionTreeModel;
class TFolderListModel;

// The main window's widgets, menus, commands and dialogs, as its layout makes them (app/uMain.cpp):
// the pointers are the window's children, owned through Qt's parent chain.
struct TMainLayout {
    QToolBar* ToolBar_Main = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTreeView* TreeView_Main = nullptr;
    QTreeView* ListView_Main = nullptr; // report view: one row per disc, folder or file
    QLabel* Panel_Status = nullptr;
    TCollectionTreeModel* TreeModel = nullptr; // items of TreeView_Main
    TFolderListModel* ListModel = nullptr;     // rows of ListView_Main

    QMenu* MI_Collection = nullptr;
    QMenu* MI_Disc = nullptr;
    QMenu* MI_SelectDefDrive = nullptr;
    QMenu* MI_View = nullptr;
    QAction* MI_ViewSeparator = nullptr;
    QMenu* MI_Find = nullptr;
    QMenu* MI_Help = nullptr;

    QAction* Act_NewCollection = nullptr;
    QAction* Act_LoadCollection = nullptr;
    QAction* Act_Export = nullptr;
    QAction* Act_Print = nullptr;
    QAction* Act_OpenAsFolder = nullptr; // the collection mounted as a folder
    QAction* Act_Exit = nullptr;
    QAction* Act_AddDisc = nullptr;
    QAction* Act_AddImage = nullptr;  // discs from ISO image files; needs no drive
    QAction* Act_AddFolder = nullptr; // a folder (a USB stick, a copied disc) as a disc
    QAction* Act_DeleteDisc = nullptr;
    QAction* Act_RenameDisc = nullptr;
    QAction* Act_DiscProperties = nullptr;
    QAction* Act_UpdateDisc = nullptr; // a disc brought up to date from its medium
    QAction* Act_CheckDisc = nullptr;  // a disc read back against its record
    // Checkable: adds and updates also read every file's bytes and record their checksums.
    QAction* Act_ChecksumsOnAdd = nullptr;
    QAction* Act_NewFilter = nullptr;
    QAction* Act_NoFilter = nullptr;
    QAction* Act_Find = nullptr;
    QAction* Act_HelpAbout = nullptr;
    QAction* Act_HelpContents = nullptr;
    QAction* Act_EntireCollection = nullptr; // has a caption and no handler

    QList<QIcon> ImageLista_Main;
    TFileDialogOptions OpenDlg_Collection;
    TFileDialogOptions SaveDlg_Collection;
    TFileDialogOptions OpenDlg_Image;
    TFolderDialogOptions OpenDlg_Folder;
};
