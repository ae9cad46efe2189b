// The output list's commands: playing a sound, showing it in its folder,
// saving a copy, deleting files, and the merge window.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "platform/pending_file.h"
#include "ui/hooks.h"
#include "ui/main_dlg.h"
#include "ui/merge_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"
#include "ui/widgets.h"

namespace fs = std::filesystem;

namespace {

// The user's own Trash, made as the desktop's rules say where it is
// missing. Qt 6.4, finding none, moves a file into the working folder.
bool HomeTrashReady()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        return false;
    const QString trash = data + QStringLiteral("/Trash");
    if (QFileInfo(trash).isDir())
        return true;
    if (!QDir().mkpath(trash))
        return false;
    QFile::setPermissions(trash, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

// Moves a file to the desktop's Trash (the freedesktop one on Linux). False
// where there is none for it, and for a name Qt can't be handed whole.
bool MoveToTrash(const std::string& path)
{
    const QString name = FromPath(path);
    return ToPath(name) == path && HomeTrashReady() && QFile::moveToTrash(name);
}

}  // namespace

void CMainDlg::OnPlay()
{
    const int row = m_outputList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    if (const auto* sound = static_cast<const CSoundElement*>(m_outputList->GetItemData(row)))
        PlaySound(this, sound->path);
}

void CMainDlg::OnBrowseFolder()
{
    const int row = m_outputList->GetFirstSelected();
    if (row < 0)
        return;
    CWaitCursor wait;
    if (const auto* sound = static_cast<const CSoundElement*>(m_outputList->GetItemData(row)))
        SelectInExplorer(this, sound->path);
}

void CMainDlg::OnSaveAs()
{
    const int row = m_outputList->GetFirstSelected();
    if (row < 0)
        return;
    const auto* sound = static_cast<const CSoundElement*>(m_outputList->GetItemData(row));
    if (!sound)
        return;
    std::string target = sound->path;
    // The file's own type comes first, so the dialog lists files of it and
    // gives a name typed without an extension the one of the data.
    const QString type = QString::fromLatin1(FileTypeOf(*sound));
    QStringList filters = {QStringLiteral("MP3 File (*.mp3)"), QStringLiteral("WAV File (*.wav)"),
                           QStringLiteral("FLAC File (*.flac)")};
    const auto own = std::find_if(filters.begin(), filters.end(), [&type](const QString& filter) {
        return filter.endsWith(QStringLiteral("(*.") + type + QLatin1Char(')'));
    });
    if (own != filters.end())
        std::rotate(filters.begin(), own, own + 1);
    filters << QStringLiteral("All Files (*)");
    if (!PromptSaveFileName(this, filters, target, type))
        return;
    // The file itself under any name (a link, or another letter case where
    // the file system ignores case) is refused: copying onto it would read and
    // write one file at once. Where case matters, another case is another file.
    if (target == sound->path || platform::SameFile(target, sound->path)) {
        ShowMessage(this, QStringLiteral("You should choose a different file name."), MsgIcon::Exclamation);
        return;
    }
    bool copied = false;
    {
        CWaitCursor wait;
        // Copy into a new file beside the target and move it into place at the
        // end, so a failed copy leaves the old file whole and no other file of
        // the folder is touched.
        platform::File in;
        platform::PendingFile out;
        copied = in.Open(sound->path, platform::OpenMode::Read) && out.Create(target, true) &&
                 out.Out().AppendFrom(in) && out.MoveInto() == platform::MoveOutcome::Moved;
    }
    if (!copied)
        ShowMessage(this, QStringLiteral("Failed to copy file."), MsgIcon::Exclamation);
}

void CMainDlg::OnDelete()
{
    const std::vector<int> rows = m_outputList->GetSelectedRows();
    if (rows.empty())
        return;
    if (ShowMessage(this, QStringLiteral("Are you sure to delete selected file(s)?"), MsgIcon::Question,
                    QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    // To the Trash, where the user can take a file back; a file gone
    // already just loses its row.
    std::vector<int> gone;
    std::vector<int> kept;
    {
        CWaitCursor wait;
        for (int row : rows) {
            const auto* sound = static_cast<const CSoundElement*>(m_outputList->GetItemData(row));
            std::error_code ec;
            if (!sound || fs::symlink_status(sound->path, ec).type() == fs::file_type::not_found ||
                MoveToTrash(sound->path))
                gone.push_back(row);
            else
                kept.push_back(row);
        }
    }
    // Where there is no Trash for a file, deleting it for good is asked apart.
    if (!kept.empty() &&
        ShowMessage(this,
                    QStringLiteral("The Trash can't take %1 of the selected files.\n\nDelete them for good?")
                        .arg(kept.size()),
                    MsgIcon::Question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        for (int row : kept) {
            if (const auto* sound = static_cast<const CSoundElement*>(m_outputList->GetItemData(row)))
                platform::DeleteFile(sound->path);
            gone.push_back(row);
        }
    }
    if (gone.empty())
        return;
    std::sort(gone.begin(), gone.end());
    CWaitCursor wait;
    // From the bottom, so the rows still to go keep their positions.
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        auto* sound = static_cast<CSoundElement*>(m_outputList->GetItemData(*it));
        m_outputList->DeleteItem(*it);
        if (!sound)
            continue;
        if (sound->isMp3 == 1)
            --m_mp3Count;
        if (m_shownEntry) {
            m_shownEntry->notes.erase(sound);
            m_shownEntry->sounds.remove_if([sound](const CSoundElement& s) { return &s == sound; });
        }
    }
    m_outputList->RenumberRows(gone.front());
}

void CMainDlg::OnMerge()
{
    CMergeDlg merge(&m_entries, this);
    // Blocks this window only, so that the help it asks for can be used.
    merge.setWindowModality(Qt::WindowModal);
    // The merge window's help is the page about merging.
    connect(&merge, &CMergeDlg::helpRequested, this, [this] {
        if (!m_busy)
            OpenHelp(QStringLiteral("merging.html"));
    });
    merge.exec();
}
