#include "ui/shell.h"

#include <QFile>
#include <QUrl>
#include <filesystem>
#include <system_error>

#include "ui/hooks.h"
#include "util/paths.h"

namespace fs = std::filesystem;

std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString EscapedName(const std::string& name)
{
    QString text;
    size_t i = 0;
    while (i < name.size()) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const std::string character = length ? name.substr(i, length) : std::string();
        // A character is what decodes and encodes back to the same bytes.
        const QString decoded = QString::fromUtf8(character.data(), static_cast<qsizetype>(character.size()));
        if (length && character.size() == length && decoded.toUtf8().toStdString() == character) {
            text += decoded;
            i += length;
        } else {
            text += QString::asprintf("\\x%02X", lead);
            ++i;
        }
    }
    return text;
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

void SelectInExplorer(QWidget* owner, const std::string& path)
{
    if (!Shell().ShowInFileManager(path))
        ShowMessage(owner, QStringLiteral("No file manager was found."), MsgIcon::Exclamation);
}

bool OpenLink(const QString& target)
{
    return Shell().OpenUrl(QUrl(target));
}

void PlaySound(QWidget* owner, const std::string& path)
{
    if (!Shell().OpenFile(path))
        ShowMessage(owner, QStringLiteral("No program to play sound files was found."), MsgIcon::Exclamation);
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
    // Not every desktop's dialog adds the suffix; one that did not asked
    // before replacing a file of the name without it, not of this one.
    if (!defaultSuffix.isEmpty() && FileExtension(chosen).empty()) {
        chosen += '.' + defaultSuffix.toStdString();
        std::error_code ec;
        if (fs::symlink_status(chosen, ec).type() != fs::file_type::not_found &&
            ShowMessage(owner,
                        QStringLiteral("%1 already exists.\nDo you want to replace it?")
                            .arg(FromPath(std::string(FileNamePart(chosen)))),
                        MsgIcon::Question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
    }
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
