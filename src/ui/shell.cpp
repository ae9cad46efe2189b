#include "ui/shell.h"

#include <QFile>
#include <QUrl>
#include <filesystem>
#include <system_error>

#include "ui/hooks.h"

namespace fs = std::filesystem;

std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QUrl PathToUrl(const std::string& path)
{
    // Percent-encoding keeps every byte; QUrl leaves escapes that are no
    // UTF-8 encoded rather than replacing them.
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"), QUrl::StrictMode);
}

std::string UrlToPath(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

void SelectInExplorer(const std::string& path)
{
    Shell().ShowInFileManager(path);
}

bool OpenLink(const QString& target)
{
    return Shell().OpenUrl(QUrl(target));
}

bool OpenFile(const std::string& path)
{
    return Shell().OpenFile(path);
}

void PlayMovie(QWidget* owner, const std::string& path)
{
    // Browsers no longer play Flash, and the desktop's default for movies may
    // be this program: only a real player is asked.
    if (!Shell().PlayMovie(path))
        ShowMessage(owner, QStringLiteral("No program to play Flash movies was found."), MsgIcon::Exclamation);
}

std::vector<std::string> PromptOpenFileNames(QWidget* owner, const QString& filter, const std::string& startFolder)
{
    return Dialogs().OpenFiles(owner, filter, startFolder);
}

bool PromptSaveFileName(QWidget* owner, const QStringList& filters, std::string& path,
                        const QString& defaultSuffix)
{
    std::string chosen = Dialogs().SaveFile(owner, path, filters, defaultSuffix);
    if (chosen.empty())
        return false;
    path = std::move(chosen);
    return true;
}

bool BrowseForFolder(QWidget* owner, const QString& title, std::string& initialFolder,
                     std::string& result)
{
    if (initialFolder.size() > 1 && initialFolder.back() == '/')
        initialFolder.pop_back();
    std::string chosen = Dialogs().ChooseFolder(owner, title, initialFolder);
    if (chosen.empty())
        return false;
    result = std::move(chosen);
    if (result.back() != '/')
        result += '/';
    return true;
}

bool ResolveShortcut(const std::string& link, std::string& target)
{
    // The same bound the kernel puts on a chain of links; it ends cycles.
    constexpr int kMaxHops = 40;
    std::error_code ec;
    fs::path current(link);
    if (!fs::is_symlink(current, ec))
        return false;
    for (int hop = 0; hop < kMaxHops; ++hop) {
        fs::path next = fs::read_symlink(current, ec);
        if (ec)
            return false;
        if (next.is_relative())
            next = current.parent_path() / next;
        current = next.lexically_normal();
        if (!fs::is_symlink(current, ec)) {
            if (!fs::exists(current, ec))
                return false;
            target = current.string();
            return true;
        }
    }
    return false;
}
