// The three seams between the windows and the desktop: message boxes, file and
// folder dialogs, and the shell. The program uses the desktop's own; tests put
// scripted stand-ins in their place.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

class QWidget;

enum class MsgIcon { Information, Exclamation, Question };

// Every message box of the program goes through here: caption "Orvellin" and
// the icon of its kind. Returns the button that closed it. With onHelp the box
// also has a Help button, which does not answer: it calls onHelp and the box
// stays open.
QMessageBox::StandardButton ShowMessage(QWidget* owner, const QString& text, MsgIcon icon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        const std::function<void()>& onHelp = {});

// A message with a list under its text, such as the paths that failed: the
// list scrolls inside the box, however long, and a long item is cut in the
// middle, so its end shows. A message handler receives the text, an empty
// line and each item on a line of its own.
void ShowListMessage(QWidget* owner, const QString& text, const QStringList& items, MsgIcon icon);

using MessageHandler = std::function<QMessageBox::StandardButton(
    const QString& text, MsgIcon icon, QMessageBox::StandardButtons buttons)>;
// Replaces the message boxes; an empty handler brings them back.
void SetMessageHandler(MessageHandler handler);

// Paths given and returned are the file system's bytes.
class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Full paths chosen in a multi-selection open dialog that starts in the
    // folder start; empty when cancelled.
    virtual std::vector<std::string> OpenFiles(QWidget* owner, const QString& filter, const std::string& start) = 0;
    // The name chosen in a save dialog that asks before replacing a file;
    // empty when cancelled. filters: the first one is preselected.
    virtual std::string SaveFile(QWidget* owner, const std::string& initialPath, const QStringList& filters,
                                 const QString& defaultSuffix) = 0;
    // A folder chosen in a folder dialog opened on start; empty when cancelled.
    virtual std::string ChooseFolder(QWidget* owner, const QString& title, const std::string& start) = 0;
};

// Paths here are the file system's bytes, whatever their encoding.
class IShell {
public:
    virtual ~IShell() = default;
    // Opens a web page or a mail link with the desktop's default program.
    virtual bool OpenUrl(const QUrl& url) = 0;
    // Opens a local file with the desktop's default program for its type;
    // false when there is none or it could not start.
    virtual bool OpenFile(const std::string& path) = 0;
    // Starts a program the desktop has for Flash movies, never this one, on
    // the movie; false when there is none or it could not start.
    virtual bool PlayMovie(const std::string& path) = 0;
    // Shows the file selected in a file-manager window, or at least its
    // folder; false when there is no file manager.
    virtual bool ShowInFileManager(const std::string& path) = 0;
};

IDialogs& Dialogs();
// Takes no ownership; nullptr brings back the desktop's dialogs.
void SetDialogs(IDialogs* dialogs);

IShell& Shell();
// Takes no ownership; nullptr brings back the desktop's shell.
void SetShell(IShell* shell);
