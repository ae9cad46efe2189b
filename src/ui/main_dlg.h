// The main window: the list of movies above the list of the sounds made from
// the selected one, the command buttons, popup menus and shortcuts.
#pragma once

#include "ui/widgets.h"

#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "swf/swf_movie.h"
#include "ui/swf_entry.h"
#include "ui/window_services.h"

class QAbstractButton;
class QProxyStyle;
class CSortListCtrl;
class CProgressDlg;
class CHelpWindow;

class CMainDlg : public QWidget {
    Q_OBJECT

public:
    // When a command is enabled (the buttons never are disabled).
    enum class Rule {
        Always,
        SwfSelected,       // at least one selected movie
        SwfRows,           // at least one movie
        OneSwfSelected,    // exactly one selected movie
        OneSoundSelected,  // exactly one selected sound
        SoundSelected,     // at least one selected sound
        TwoMp3,            // more than one MP3 sound listed
    };

    explicit CMainDlg(const WindowServices& services, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // Runs a command as its button, menu item or shortcut does.
    void OnCommand(int id);
    bool IsCommandEnabled(int id) const;

    void InsertSwfRow(const std::string& path, const SwfHeaderInfo& info, CSwfEntry* entry);
    void InsertSoundRow(CSoundElement* sound);
    // A row for a sound the movie holds and has no file of; it can't be selected.
    void InsertLostRow(const CLostSound& lost);
    void ShowSounds();

    // Adding movies.
    void AddSwfFiles(const std::vector<std::string>& paths, CProgressDlg* progress);
    bool AddSwfFile(const std::string& path);
    // What a folder search running on another thread shares with the window.
    struct FolderSearch {
        std::atomic<bool> cancel{false};
        std::atomic<size_t> folders{0};  // searched so far
        std::atomic<size_t> found{0};    // candidates so far
    };
    // Appends the movies of the folder and of every folder below it, and those
    // that links among them lead to. False when cancelled through control,
    // which it checks between folders.
    static bool SearchFolder(std::vector<std::string>& candidates, const std::string& folder,
                             FolderSearch* control = nullptr);
    void AddDroppedPaths(const std::vector<std::string>& paths);

    // Converting movies.
    void ConvertSelected(OutputType type);
    void ConvertAll(OutputType type);
    void ConvertEntries(const std::vector<CSwfEntry*>& work, OutputType type);

    // What tests and owners look at.
    CSortListCtrl* SwfList() const { return m_swfList; }
    CSortListCtrl* OutputList() const { return m_outputList; }
    QMenu* Menu(int index) const { return m_menus[index]; }
    QAbstractButton* Button(int id) const;
    int Mp3Count() const { return m_mp3Count; }
    const std::vector<std::unique_ptr<CSwfEntry>>& Entries() const { return m_entries; }
    CSwfEntry* ShownEntry() const { return m_shownEntry; }
    CHelpWindow* HelpWindow() const;
    const std::string& Folder() const { return m_folder; }
    bool IsBusy() const { return m_busy; }

signals:
    // A long operation opened its progress window.
    void progressStarted(CProgressDlg* progress);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct Command;
    static const Command* FindCommand(int id);

    void CreateControls();
    void CreateMenus();
    void CreateShortcuts();
    // The first size, centred on the screen.
    void ApplyLayout();
    // Places the controls for the window's size.
    void LayOut();
    // Gives the File columns what the lists are wider than at first.
    void FitFileColumns();
    // The size, place and column widths the window had when last closed.
    void RestoreLayout();
    void SaveLayout();
    void PrepareMenu(QMenu* menu);
    void ShowListMenu(int index, const QPoint& globalPos);

    CSwfEntry* EntryAt(int row) const;
    // What makes two paths one entry: the file itself (device and inode), so
    // that a link or another spelling of the path is the same movie while a
    // name that differs in letter case is another; the path when it can't be
    // looked at.
    static std::string FileKey(const std::string& path);
    void ClearOutputList();
    // Lists the entry's files, marking those that did not come out whole, then its lost sounds.
    void FillOutputList(CSwfEntry* entry);
    void FreeEntries();
    CProgressDlg* NewProgress();
    void ShowProgress(CProgressDlg* progress);
    // The progress window with its searching line, shown and painted.
    CProgressDlg* ShowSearchProgress();
    // Runs search on a worker thread with the window disabled, keeping the
    // windows painted and the progress line counting; then adds what it found.
    // A cancelled search adds nothing.
    void SearchAndAdd(const std::function<bool(std::vector<std::string>&, FolderSearch&)>& search);
    void BeginLongOperation();
    void EndLongOperation(CProgressDlg* progress);
    bool RunJob(CSwfMovie& movie, const std::string& path, OutputType type);
    // Shows the help window (one at a time), on page when one is named.
    void OpenHelp(const QString& page = QString());
    // Where the open dialog starts: where movies were last chosen in it, else
    // the folder last added, else the documents folder where there is one,
    // else the home folder.
    std::string OpenDialogStart() const;
    // Where the folder dialog starts: the folder last added, else where
    // movies were last chosen, else the home folder.
    std::string FolderDialogStart() const;
    static std::string HomeFolder();

    // Command handlers.
    void OnAddSwf();
    void OnAddFolder();
    void OnRemove();
    void OnRemoveAll();
    void OnConvertMp3() { ConvertSelected(OutputType::Mp3); }
    void OnConvertWav() { ConvertSelected(OutputType::Wav); }
    void OnConvertFlac() { ConvertSelected(OutputType::Flac); }
    void OnConvertKeep() { ConvertSelected(OutputType::Keep); }
    void OnConvertAllMp3() { ConvertAll(OutputType::Mp3); }
    void OnConvertAllWav() { ConvertAll(OutputType::Wav); }
    void OnConvertAllFlac() { ConvertAll(OutputType::Flac); }
    void OnConvertAllKeep() { ConvertAll(OutputType::Keep); }
    void OnPlaySwf();
    void OnBrowseSwfFolder();
    void OnPlay();
    void OnDelete();
    void OnSaveAs();
    // The selected movie's main timeline as heard, into a file the user
    // names (its type from the name), with progress and Cancel.
    void OnSaveSoundtrack();
    void OnBrowseFolder();
    void OnMerge();
    void OnHelp() { OpenHelp(); }
    void OnTellAFriend();
    void OnFeedback();
    void OnHomepage();
    void OnCheckVersion();
    void OnAbout();
    void OnHelpMenu();
    void OnMinimize();
    void OnClose();

    WindowServices m_services;
    CSortListCtrl* m_swfList = nullptr;
    CSortListCtrl* m_outputList = nullptr;
    std::vector<std::unique_ptr<CSwfEntry>> m_entries;
    // The FileKey of each of m_entries, so a duplicate is found without a scan.
    std::unordered_map<std::string, const CSwfEntry*> m_entryKeys;
    std::string m_folder;
    std::string m_openFolder;  // of the movies last chosen in the open dialog
    int m_mp3Count = 0;
    CSwfEntry* m_shownEntry = nullptr;
    QPixmap m_background;  // of the window's size
    // The File columns' widths at the first size, of the SWF and output lists.
    int m_fileBase[2] = {};
    bool m_fittingColumns = false;
    QMenu* m_popup = nullptr;
    QMenu* m_menus[3] = {};
    std::map<int, QAbstractButton*> m_buttons;
    QProxyStyle* m_tipStyle = nullptr;
    QPointer<CHelpWindow> m_help;
    bool m_busy = false;
    bool m_firstShow = true;
};
