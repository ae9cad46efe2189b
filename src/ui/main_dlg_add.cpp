// Adding movies: the file dialog, the folder search and dropped files all end
// in AddSwfFiles.
#include <sys/stat.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <thread>

#include "platform/folders.h"
#include "ui/hooks.h"
#include "ui/main_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/shell.h"
#include "ui/widgets.h"
#include "util/paths.h"

namespace fs = std::filesystem;

namespace {

bool HasSwfExtension(const std::string& path)
{
    return EqualsIgnoreCase(FileExtension(path), ".swf");
}

std::string Join(const std::string& folder, const std::string& name)
{
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Names in a folder, sorted, so the search finds movies in a stable order.
std::vector<fs::directory_entry> ListFolder(const std::string& folder)
{
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename() < b.path().filename();
              });
    return entries;
}

// The movie a link leads to, or "" when it leads to anything else.
std::string MovieBehindLink(const std::string& link)
{
    std::string target;
    std::error_code ec;
    if (ResolveShortcut(link, target) && fs::is_regular_file(target, ec) && HasSwfExtension(target))
        return target;
    return {};
}

}  // namespace

std::string CMainDlg::FileKey(const std::string& path)
{
    struct stat info {};
    // Built piece by piece: GCC 12 at -O3 takes a prefix joined to a number
    // for an overlapping copy.
    std::string key(1, 'p');
    if (::stat(path.c_str(), &info) != 0)
        return key + path;
    key[0] = 'f';
    key += std::to_string(info.st_dev);
    key += ':';
    key += std::to_string(info.st_ino);
    return key;
}

bool CMainDlg::SearchFolder(std::vector<std::string>& candidates, const std::string& folder, FolderSearch* control)
{
    std::set<fs::path> seen;
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec)
        return true;
    seen.insert(root);

    // Depth first, each folder before the folders below it, each listed once.
    // A stack of its own rather than recursion: trees can be deep.
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        if (control && control->cancel)
            return false;
        const std::string current = std::move(pending.back());
        pending.pop_back();
        const std::vector<fs::directory_entry> entries = ListFolder(current);
        // First the movies themselves, then the links that lead to movies.
        for (const fs::directory_entry& entry : entries) {
            const std::string path = Join(current, entry.path().filename().string());
            if (!entry.is_symlink(ec) && entry.is_regular_file(ec) && HasSwfExtension(path))
                candidates.push_back(path);
        }
        for (const fs::directory_entry& entry : entries) {
            if (!entry.is_symlink(ec))
                continue;
            const std::string target = MovieBehindLink(Join(current, entry.path().filename().string()));
            if (!target.empty())
                candidates.push_back(target);
        }
        // A folder reached again through a link is not searched twice, which
        // also ends link cycles.
        const size_t firstChild = pending.size();
        for (const fs::directory_entry& entry : entries) {
            if (!entry.is_directory(ec))
                continue;
            const fs::path real = fs::canonical(entry.path(), ec);
            if (ec || !seen.insert(real).second)
                continue;
            pending.push_back(Join(current, entry.path().filename().string()));
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
        if (control) {
            control->found = candidates.size();
            ++control->folders;
        }
    }
    return true;
}

bool CMainDlg::AddSwfFile(const std::string& path)
{
    std::string key = FileKey(path);
    if (m_entryKeys.count(key))
        return true;
    SwfHeaderInfo info;
    if (!CSwfMovie::GetHeaderInfo(path, &info))
        return false;
    auto entry = std::make_unique<CSwfEntry>();
    entry->path = path;
    InsertSwfRow(path, info, entry.get());
    m_entryKeys.emplace(std::move(key), entry.get());
    m_entries.push_back(std::move(entry));
    return true;
}

void CMainDlg::AddSwfFiles(const std::vector<std::string>& paths, CProgressDlg* progress)
{
    const int n = static_cast<int>(paths.size());
    BeginLongOperation();
    if (!progress) {
        progress = NewProgress();
        ShowProgress(progress);
    }
    progress->SetRange(0, n);
    progress->SetPos(0);
    progress->SetStep(1);
    PumpMessages();

    std::vector<std::string> failures;
    constexpr qint64 kPumpInterval = 40;  // ms
    QElapsedTimer sincePump;
    sincePump.start();
    for (int k = 1; k <= n; ++k) {
        const std::string& path = paths[static_cast<size_t>(k - 1)];
        progress->SetText(QString::asprintf("Adding file %d of %d...", k, n));
        progress->StepIt();
        if (!AddSwfFile(path))
            failures.push_back(path);
        // Every pump lays the whole list out again; pumping at a steady pace
        // keeps the window alive without making many files quadratic.
        if (sincePump.elapsed() >= kPumpInterval || k == n) {
            PumpMessages();
            sincePump.restart();
        }
        if (progress->Cancelled())
            break;
    }
    EndLongOperation(progress);

    if (!failures.empty()) {
        QStringList names;
        for (const std::string& path : failures)
            names << FromPath(path);
        ShowListMessage(this, QStringLiteral("Failed to load the following files."), names, MsgIcon::Exclamation);
    }
}

std::string CMainDlg::OpenDialogStart() const
{
    for (const std::string* folder : {&m_openFolder, &m_folder}) {
        if (!folder->empty() && FolderExists(*folder))
            return *folder;
    }
    // Looking for movies makes no folder.
    const std::string documents = platform::DocumentsFolder(false);
    return !documents.empty() && FolderExists(documents) ? documents : HomeFolder();
}

std::string CMainDlg::FolderDialogStart() const
{
    for (const std::string* folder : {&m_folder, &m_openFolder}) {
        if (!folder->empty() && FolderExists(*folder))
            return *folder;
    }
    return HomeFolder();
}

std::string CMainDlg::HomeFolder()
{
    return ToPath(QDir::homePath());
}

void CMainDlg::OnAddSwf()
{
    const std::vector<std::string> chosen =
        PromptOpenFileNames(this, QStringLiteral("Flash Movie Files (*.swf)"), OpenDialogStart());
    if (chosen.empty())
        return;
    const std::string& first = chosen.front();
    m_openFolder = first.substr(0, first.size() - FileNamePart(first).size());
    PumpMessages();
    CWaitCursor wait;
    AddSwfFiles(chosen, nullptr);
}

void CMainDlg::OnAddFolder()
{
    std::string start = FolderDialogStart();
    std::string folder;
    if (!BrowseForFolder(this, QStringLiteral("Please choose a folder:"), start, folder))
        return;
    m_folder = folder;
    if (m_services.saveFolder)
        m_services.saveFolder(m_folder);

    PumpMessages();
    SearchAndAdd([folder](std::vector<std::string>& candidates, FolderSearch& control) {
        return SearchFolder(candidates, folder, &control);
    });
}

CProgressDlg* CMainDlg::ShowSearchProgress()
{
    CProgressDlg* progress = NewProgress();
    progress->SetText(QStringLiteral("Searching SWF files..."));
    // How many folders there are is not known until the search is done.
    progress->SetBusy();
    ShowProgress(progress);
    PumpMessages();
    return progress;
}

void CMainDlg::SearchAndAdd(const std::function<bool(std::vector<std::string>&, FolderSearch&)>& search)
{
    CWaitCursor wait;
    BeginLongOperation();
    CProgressDlg* progress = ShowSearchProgress();

    // A folder tree on a network mount takes minutes: the search runs on a
    // worker, and this thread paints, counts and passes Cancel on. The
    // candidates belong to the worker until it is joined.
    FolderSearch control;
    connect(progress, &CProgressDlg::cancelRequested, this, [&control] { control.cancel = true; });
    std::vector<std::string> candidates;
    std::atomic<bool> completed{false};
    QEventLoop loop;
    QTimer counter;
    counter.setInterval(100);
    connect(&counter, &QTimer::timeout, progress, [progress, &control] {
        progress->SetText(QStringLiteral("Searching SWF files... %1 found in %2 folders")
                              .arg(control.found.load())
                              .arg(control.folders.load()));
    });
    counter.start();
    std::thread worker([&search, &candidates, &control, &completed, &loop] {
        completed = search(candidates, control);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    counter.stop();

    if (!completed || progress->Cancelled()) {
        EndLongOperation(progress);
        return;
    }
    AddSwfFiles(candidates, progress);
}

void CMainDlg::AddDroppedPaths(const std::vector<std::string>& paths)
{
    SearchAndAdd([paths](std::vector<std::string>& candidates, FolderSearch& control) {
        std::error_code ec;
        for (const std::string& path : paths) {
            if (control.cancel)
                return false;
            if (fs::is_symlink(path, ec)) {
                // A link stands for a shortcut: only one that leads to a movie counts.
                const std::string target = MovieBehindLink(path);
                if (!target.empty())
                    candidates.push_back(target);
            } else if (FolderExists(path)) {
                if (!SearchFolder(candidates, path, &control))
                    return false;
            } else if (HasSwfExtension(path)) {
                candidates.push_back(path);
            }
        }
        return true;
    });
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
    event->ignore();
}

void CMainDlg::dropEvent(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasUrls() || m_busy) {
        event->ignore();
        return;
    }
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.push_back(UrlToPath(url));
    }
    event->acceptProposedAction();
    // The drag source waits for the drop to end; the search runs afterwards.
    QMetaObject::invokeMethod(
        this, [this, paths] {
            if (!m_busy)
                AddDroppedPaths(paths);
        },
        Qt::QueuedConnection);
}
