#pragma once

#include "desktop/Shutdown.h"

#include <functional>

#include <QString>
#include <QStringList>

class QWidget;

// The icon of a notice or question.
enum class MessageIcon
{
    None,
    Information,
    Question
};

// How the main form reaches the user and the desktop. The defaults show real
// dialogs, shut the computer down and open folders; tests replace them.
struct ViewHooks
{
    // A notice or question: caption "Tolva Clipvane", no owner window.
    std::function<void(const QString& text, MessageIcon icon)> messageBox;
    // Yes and No; true for Yes.
    std::function<bool(const QString& text, MessageIcon icon)> askYesNo;
    // The open-file dialog, opened in folder: the chosen paths, empty when
    // cancelled.
    std::function<QStringList(QWidget* parent, const QString& title, const QString& folder,
                              const QString& filter)>
        openFileNames;
    // The dialogs that choose one file to open or a file to save (in folder,
    // or at a suggested path): the path, empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& path,
                          const QString& filter)>
        openFileName;
    std::function<QString(QWidget* parent, const QString& title, const QString& path,
                          const QString& filter)>
        saveFileName;
    // The dialog that chooses a folder, opened in folder: the folder, empty
    // when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& folder)>
        chooseFolder;
    // Opens a folder with the desktop's default action.
    std::function<void(const QString& folder)> openFolder;
    // Shuts the computer down, showing what stops it with showMessage.
    std::function<void(const ShutdownMessageBox& showMessage)> shutdown;
};
