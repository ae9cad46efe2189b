// The output list's commands: playing a sound, showing it in its folder,
// saving a copy, deleting files, and the merge window.
#include <algorithm>

#include "platform/file.h"
#include "platform/pending_file.h"
#include "ui/hooks.h"
#include "ui/main_dlg.h"
#include "ui/merge_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"
#include "ui/widgets.h"

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
    CWaitCursor wait;
    // From the bottom, so the rows still to go keep their positions.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        auto* sound = static_cast<CSoundElement*>(m_outputList->GetItemData(*it));
        m_outputList->DeleteItem(*it);
        if (!sound)
            continue;
        platform::DeleteFile(sound->path);
        if (sound->isMp3 == 1)
            --m_mp3Count;
        if (m_shownEntry) {
            m_shownEntry->notes.erase(sound);
            m_shownEntry->sounds.remove_if([sound](const CSoundElement& s) { return &s == sound; });
        }
    }
    m_outputList->RenumberRows(rows.front());
}

void CMainDlg::OnMerge()
{
    CMergeDlg merge(&m_entries, this);
    // Blocks this window only, so that the help it asks for can be used.
    merge.setWindowModality(Qt::WindowModal);
    // The merge window's help is the page about merging.
    connect(&merge, &CMergeDlg::helpRequested, this, [this] {
        if (!m_busy)
            OpenHelp(false, QStringLiteral("merging.html"));
    });
    merge.exec();
}
