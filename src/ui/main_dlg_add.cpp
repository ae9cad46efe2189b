// Adding movies: the file dialog, the folder search and dropped files all end
// in AddSwfFiles.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

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

// The folder, then depth first every folder below it. A folder reached again
// through a link is not searched twice, which also ends link cycles.
void CollectFolders(std::vector<std::string>& folders, const std::string& folder, std::set<fs::path>& seen)
{
    folders.push_back(folder);
    for (const fs::directory_entry& entry : ListFolder(folder)) {
        std::error_code ec;
        if (!entry.is_directory(ec))
            continue;
        const fs::path real = fs::canonical(entry.path(), ec);
        if (ec || !seen.insert(real).second)
            continue;
        CollectFolders(folders, Join(folder, entry.path().filename().string()), seen);
    }
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

std::string CMainDlg::PathKey(const std::string& path)
{
    std::string key = path;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

void CMainDlg::SearchFolder(std::vector<std::string>& candidates, const std::string& folder)
{
    std::vector<std::string> folders;
    std::set<fs::path> seen;
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec)
        return;
    seen.insert(root);
    CollectFolders(folders, folder, seen);

    for (const std::string& current : folders) {
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
    }
}

bool CMainDlg::AddSwfFile(const std::string& path)
{
    std::string key = PathKey(path);
    if (m_entryKeys.count(key))
        return true;
    SwfHeaderInfo info;
    if (!CSwfMovie::GetHeaderInfo(path, &info))
        return false;
    auto entry = std::make_unique<CSwfEntry>();
    entry->path = path;
    InsertSwfRow(path, info, entry.get());
    m_entries.push_back(std::move(entry));
    m_entryKeys.insert(std::move(key));
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

    QString failures;
    constexpr qint64 kPumpInterval = 40;  // ms
    QElapsedTimer sincePump;
    sincePump.start();
    for (int k = 1; k <= n; ++k) {
        const std::string& path = paths[static_cast<size_t>(k - 1)];
        progress->SetText(QString::asprintf("Adding file %d of %d...", k, n));
        progress->StepIt();
        if (!AddSwfFile(path))
            failures += FromPath(path) + QLatin1Char('\n');
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

    if (!failures.isEmpty())
        ShowMessage(this, QStringLiteral("Failed to load the following files.\n\n") + failures, MsgIcon::Exclamation);
}

std::string CMainDlg::OpenDialogStart() const
{
    for (const std::string* folder : {&m_openFolder, &m_folder}) {
        if (!folder->empty() && FolderExists(*folder))
            return *folder;
    }
    return platform::DocumentsFolder();
}

void CMainDlg::OnAddSwf()
{
    const QStringList chosen =
        PromptOpenFileNames(this, QStringLiteral("Flash Movie Files (*.swf)"), OpenDialogStart());
    if (chosen.isEmpty())
        return;
    const std::string first = ToPath(chosen.front());
    m_openFolder = first.substr(0, first.size() - FileNamePart(first).size());
    PumpMessages();
    CWaitCursor wait;
    std::vector<std::string> candidates;
    candidates.reserve(static_cast<size_t>(chosen.size()));
    for (const QString& path : chosen)
        candidates.push_back(ToPath(path));
    AddSwfFiles(candidates, nullptr);
}

void CMainDlg::OnAddFolder()
{
    std::string start = m_folder;
    std::string folder;
    if (!BrowseForFolder(this, QStringLiteral("Please choose a folder:"), start, folder))
        return;
    m_folder = folder;
    if (m_services.saveFolder)
        m_services.saveFolder(m_folder);

    PumpMessages();
    CWaitCursor wait;
    CProgressDlg* progress = ShowSearchProgress();
    std::vector<std::string> candidates;
    SearchFolder(candidates, folder);
    AddSwfFiles(candidates, progress);
}

CProgressDlg* CMainDlg::ShowSearchProgress()
{
    CProgressDlg* progress = NewProgress();
    progress->SetText(QStringLiteral("Searching SWF files..."));
    ShowProgress(progress);
    PumpMessages();
    return progress;
}

void CMainDlg::AddDroppedPaths(const std::vector<std::string>& paths)
{
    CWaitCursor wait;
    CProgressDlg* progress = ShowSearchProgress();

    std::vector<std::string> candidates;
    std::error_code ec;
    for (const std::string& path : paths) {
        if (fs::is_symlink(path, ec)) {
            // A link stands for a shortcut: only one that leads to a movie counts.
            const std::string target = MovieBehindLink(path);
            if (!target.empty())
                candidates.push_back(target);
        } else if (FolderExists(path)) {
            SearchFolder(candidates, path);
        } else if (HasSwfExtension(path)) {
            candidates.push_back(path);
        }
    }
    AddSwfFiles(candidates, progress);
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
            paths.push_back(ToPath(url.toLocalFile()));
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
