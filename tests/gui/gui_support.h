// What the window tests share: scripted stand-ins for the desktop, settings in
// a scratch file, and movies made on the spot.
#pragma once

#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "ui/hooks.h"
#include "ui/web_links.h"
#include "ui/window_services.h"

class CMainDlg;

// Settings kept in an INI file of a scratch folder, handed to the window the
// way the application does: group Options, keys "Folder" and "FirstRun", and
// the window's layout in group Window.
class ScratchSettings {
public:
    explicit ScratchSettings(const std::string& folder);
    WindowServices Services();
    QSettings& Settings() { return m_settings; }
    int helpOpenings = 0;  // how often the first-run step opened help

private:
    QSettings m_settings;
};

struct RecordedMessage {
    QString text;
    MsgIcon icon;
    QMessageBox::StandardButtons buttons;
};

// Answers message boxes (Yes or Ok unless told otherwise) and keeps them.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    std::vector<RecordedMessage> messages;
    std::deque<QMessageBox::StandardButton> answers;
};

// Dialogs that answer from a script and note what they were asked.
class ScriptedDialogs final : public IDialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    std::vector<std::string> OpenFiles(QWidget* owner, const QString& filter, const std::string& start) override;
    std::string SaveFile(QWidget* owner, const std::string& initialPath, const QStringList& filters,
                         const QString& defaultSuffix) override;
    std::string ChooseFolder(QWidget* owner, const QString& title, const std::string& start) override;

    // Answers and starts are exact bytes, as a dialog behind the portal gives them.
    std::deque<std::vector<std::string>> openAnswers;
    std::deque<std::string> saveAnswers;
    std::deque<std::string> folderAnswers;
    // "open <filter>", "save <initial>|<filters>", "folder <title>|<start>",
    // paths shown as the window shows them.
    QStringList asked;
    std::vector<std::string> starts;  // the path each dialog started at
    QStringList saveSuffixes;         // the default suffix of each save dialog
    // Runs while a save dialog is open, before it answers.
    std::function<void()> whileSaving;
};

class RecordingShell final : public IShell {
public:
    RecordingShell();
    ~RecordingShell() override;
    bool OpenUrl(const QUrl& url) override;
    bool OpenFile(const std::string& path) override;
    bool PlayMovie(const std::string& path) override;
    bool ShowInFileManager(const std::string& path) override;

    std::vector<QUrl> opened;             // web pages and mail links
    std::vector<std::string> files;       // files opened with their program
    std::vector<std::string> played;      // movies a player was asked to play
    std::vector<std::string> shown;
    bool playerFound = true;       // a Flash player
    bool soundPlayerFound = true;  // a program for sound files
    bool fileManagerFound = true;
};

// Addresses as a packager would set them.
WebLinks ExampleLinks();

// Puts addresses in place of the build's while it lives, so that a window
// made meanwhile offers the commands of those that are set.
class ScopedLinks {
public:
    explicit ScopedLinks(const WebLinks& links = ExampleLinks());
    ~ScopedLinks();
    ScopedLinks(const ScopedLinks&) = delete;
    ScopedLinks& operator=(const ScopedLinks&) = delete;
    const WebLinks& Get() const { return m_links; }

private:
    WebLinks m_links;
};

// Sets an environment variable while it lives, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

// A movie with the given number of 16-bit mono PCM event sounds at 11025 Hz.
std::string MakeMovie(const std::string& path, int sounds, uint16_t frames = 24, uint8_t rate = 12,
                      uint32_t samples = 2205);
// A window with everything the desktop would do replaced, shown and active.
struct WindowFixture {
    WindowFixture();
    ~WindowFixture();
    ScopedLinks links;  // whatever the build set
    TempDir temp;
    // A home of its own, whose Trash takes what the window deletes.
    ScopedEnv home{"HOME", temp.Path()};
    ScopedEnv data{"XDG_DATA_HOME", temp / "data"};
    ScratchSettings settings;
    MessageRecorder messages;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    std::unique_ptr<CMainDlg> window;
};

// The texts of one column, top to bottom.
class CSortListCtrl;
QStringList ColumnTexts(const CSortListCtrl* list, int column);

// A dialog whose size can't change and whose frame offers no minimise or
// maximise button, only a close box.
bool IsFixedDialog(const QWidget* dialog);
