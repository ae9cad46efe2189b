// The conversion commands and the loop that converts movie after movie.
#include <QEventLoop>
#include <QStyle>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/file.h"
#include "swf/outcome_words.h"
#include "swf/output_place.h"
#include "swf/soundtrack.h"
#include "ui/hooks.h"
#include "ui/main_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"
#include "ui/widgets.h"
#include "util/paths.h"

namespace {

// How long started sounds ring on past a soundtrack's timeline, as the
// command line's default.
constexpr uint32_t kSoundtrackTail = 10;

// The files of a movie's conversion, with a note on those that did not come
// out whole or in the type asked for, and the sounds it made no file of.
void TakeSounds(CSwfEntry& entry, const CSwfMovie& movie)
{
    entry.sounds.assign(movie.Sounds().begin(), movie.Sounds().end());
    std::vector<const CSoundElement*> records;
    for (const CSoundElement& sound : entry.sounds)
        records.push_back(&sound);
    int number = 0;
    for (const CSoundFinding& f : movie.Findings()) {
        // An empty sound has nothing to lose, and no place among the sounds found.
        if (f.empty)
            continue;
        ++number;
        if (f.loss == SoundLoss::None)
            continue;
        std::string words = SoundLossWords(f);
        if (f.record >= 0 && static_cast<size_t>(f.record) < records.size()) {
            entry.notes[records[static_cast<size_t>(f.record)]] = std::move(words);
            continue;
        }
        CLostSound lost;
        lost.number = number;
        lost.format = f.format;
        lost.rate = f.rate;
        lost.channels = f.channels;
        lost.bits = f.bits;
        lost.samples = f.declaredSamples;
        lost.reason = std::move(words);
        entry.lost.push_back(std::move(lost));
    }
    for (const CLostSource& source : movie.LostSources()) {
        CLostSound lost;
        lost.embeddedMovie = source.id;
        lost.reason = "lost: " + source.reason;
        entry.lost.push_back(std::move(lost));
    }
}

// What a saved soundtrack lists and could not mix, a line each.
QStringList UnmixedItems(const SoundtrackSummary& heard)
{
    QStringList items;
    for (const std::string& line :
         NotHeardLines(heard, [](std::string_view name) { return EscapedName(std::string(name)).toStdString(); }))
        items << QString::fromStdString(line);
    const std::pair<uint64_t, const char*> counted[] = {
        {heard.refused, "starts refused, past 1,024 sounds at once"},
        {heard.notMultiple, "starts of a sound already sounding, which it may not start again"},
        {heard.stopped, "sounds stopped early by a stop of their sound"},
        {heard.clipped, "samples clipped where the mix passed 16 bits"}};
    for (const auto& [count, what] : counted) {
        if (count > 0)
            items << QString::number(count) + ' ' + QString::fromUtf8(what);
    }
    return items;
}

}  // namespace

CProgressDlg* CMainDlg::NewProgress()
{
    return new CProgressDlg(this);
}

void CMainDlg::ShowProgress(CProgressDlg* progress)
{
    progress->ShowCentred();
    emit progressStarted(progress);
}

void CMainDlg::BeginLongOperation()
{
    m_busy = true;
    setEnabled(false);
}

void CMainDlg::EndLongOperation(CProgressDlg* progress)
{
    progress->PostClose();
    setEnabled(true);
    m_busy = false;
    // The progress window had the focus; give it back, as its owner.
    if (isVisible() && !isMinimized())
        activateWindow();
}

bool CMainDlg::RunJob(CSwfMovie& movie, const std::string& path, OutputType type)
{
    // The job runs on a worker thread while this thread keeps the windows
    // painted and Cancel pressable; the movie is used by that thread alone
    // until it is joined.
    QEventLoop wait;
    std::atomic<bool> ok{false};
    std::thread worker([&movie, &wait, &ok, path, type] {
        ok = movie.Run(path, type);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    return ok;
}

void CMainDlg::ConvertSelected(OutputType type)
{
    const int row = m_swfList->GetFirstSelected();
    CSwfEntry* entry = row < 0 ? nullptr : EntryAt(row);
    if (!entry) {
        ShowMessage(this, QStringLiteral("You should select a SWF file first."), MsgIcon::Information);
        return;
    }
    entry->index = row;
    ConvertEntries({entry}, type);
}

void CMainDlg::ConvertAll(OutputType type)
{
    if (m_swfList->GetItemCount() == 0) {
        ShowMessage(this, QStringLiteral("There aren't SWF files in SWF list."), MsgIcon::Information);
        return;
    }
    CWaitCursor wait;
    // Rows may have been sorted since the movies were added.
    for (int row = 0; row < m_swfList->GetItemCount(); ++row) {
        if (CSwfEntry* entry = EntryAt(row))
            entry->index = row;
    }
    std::vector<CSwfEntry*> work;
    work.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        work.push_back(entry.get());
    ConvertEntries(work, type);

    if (m_swfList->GetFirstSelected() < 0 && m_swfList->GetItemCount() > 0)
        m_swfList->SelectRow(0, true);
    m_swfList->setFocus();
}

void CMainDlg::ConvertEntries(const std::vector<CSwfEntry*>& work, OutputType type)
{
    ClearOutputList();
    PumpMessages();
    CWaitCursor wait;

    CSwfMovie movie;
    const int selected = m_swfList->GetFirstSelected();
    const int n = static_cast<int>(work.size());

    BeginLongOperation();
    CProgressDlg* progress = NewProgress();
    progress->SetRange(0, n);
    progress->SetStep(1);
    progress->SetPos(0);
    ShowProgress(progress);
    PumpMessages();

    for (int k = 1; k <= n; ++k) {
        CSwfEntry* entry = work[static_cast<size_t>(k - 1)];
        progress->SetText(QString::asprintf("[%d/%d] Converting ", k, n) +
                          FromPath(std::string(FileNamePart(entry->path))) + QStringLiteral("..."));
        progress->StepIt();

        // The output list may show these records; it lets go of them first.
        if (m_shownEntry == entry)
            ClearOutputList();
        for (const CSoundElement& sound : entry->sounds)
            platform::DeleteFile(sound.path);
        entry->sounds.clear();
        entry->notes.clear();
        entry->lost.clear();

        // A movie whose sounds were all lost failed; one that lost some says
        // how many of how many came out. Why, and which, is told as the
        // command line tells it.
        const bool ran = RunJob(movie, entry->path, type);
        entry->outcome = JudgeMovie(movie, ran).reason;
        if (ran)
            TakeSounds(*entry, movie);
        QString status = QStringLiteral("Failure");
        if (ran && movie.WroteAnything()) {
            const auto extracted = static_cast<qulonglong>(movie.ExtractedCount());
            const auto found = static_cast<qulonglong>(movie.FoundCount());
            status = extracted == found ? QStringLiteral("%1 Sound(s)").arg(found)
                                        : QStringLiteral("%1 of %2 Sound(s)").arg(extracted).arg(found);
        }
        m_swfList->SetItemText(entry->index, 2, status);
        m_swfList->SetItemNote(entry->index, 2, QString::fromStdString(entry->outcome));
        if (QTreeWidgetItem* item = m_swfList->topLevelItem(entry->index))
            item->setIcon(2, entry->outcome.empty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
        if (entry->index == selected) {
            // Refilled rather than appended, so the sounds are listed once.
            ClearOutputList();
            FillOutputList(entry);
        }

        PumpMessages();
        if (progress->Cancelled())
            break;
    }
    EndLongOperation(progress);
    // A selected movie the batch did not reach still has its earlier sounds.
    if (selected >= 0 && !m_shownEntry)
        ShowSounds();
}

void CMainDlg::OnSaveSoundtrack()
{
    const int row = m_swfList->GetFirstSelected();
    const CSwfEntry* entry = row < 0 ? nullptr : EntryAt(row);
    if (!entry)
        return;
    const std::string movie = entry->path;
    // Proposed beside the movie; the name chosen tells the type.
    std::string target = movie.substr(0, movie.size() - FileNamePart(movie).size()) + OutputBaseOf(movie) +
                         "_soundtrack.wav";
    const QStringList filters = {QStringLiteral("WAV File (*.wav)"), QStringLiteral("FLAC File (*.flac)"),
                                 QStringLiteral("MP3 File (*.mp3)"), QStringLiteral("All Files (*)")};
    if (!PromptSaveFileName(this, filters, target, QStringLiteral("wav")))
        return;
    if (platform::SameFile(target, movie)) {
        ShowMessage(this, QStringLiteral("You should choose a different file name."), MsgIcon::Exclamation);
        return;
    }
    const std::string_view extension = FileExtension(target);
    const OutputType type = EqualsIgnoreCase(extension, ".mp3")    ? OutputType::Mp3
                            : EqualsIgnoreCase(extension, ".flac") ? OutputType::Flac
                                                                   : OutputType::Wav;

    // The render runs on a worker thread, which tells how far it is; Cancel
    // stops it between two blocks, leaving nothing behind.
    CSoundtrack track;
    std::atomic<bool> cancel{false};
    std::atomic<int> done{0};
    BeginLongOperation();
    CProgressDlg* progress = NewProgress();
    connect(progress, &CProgressDlg::cancelRequested, this, [&cancel] { cancel = true; });
    progress->SetRange(0, 1000);
    progress->SetPos(0);
    progress->SetText(QStringLiteral("Making the soundtrack of ") + FromPath(std::string(FileNamePart(movie))) +
                      QStringLiteral("..."));
    ShowProgress(progress);
    PumpMessages();
    QEventLoop wait;
    bool ok = false;
    std::thread worker([&] {
        ok = track.RenderTo(movie, target, type, kSoundtrackTail, &cancel,
                            [&](double fraction) { done = static_cast<int>(fraction * 1000); });
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, progress, [progress, &done] { progress->SetPos(done); });
    ticker.start(100);
    wait.exec();
    worker.join();
    ticker.stop();
    EndLongOperation(progress);
    if (track.Cancelled())
        return;
    const SoundtrackSummary& heard = track.Summary();
    if (!ok && heard.movieCutShort && !heard.none.empty()) {
        ShowMessage(this, QStringLiteral("No sound is heard before the movie's file is cut short."), MsgIcon::Exclamation);
    } else if (!ok && heard.none == SoundtrackSummary::kNoTimelineSound) {
        ShowMessage(this,
                    QStringLiteral("This movie has no timeline sound: its sounds are started by scripts or buttons, "
                                   "which a soundtrack can't play."),
                    MsgIcon::Information);
    } else if (!ok && !heard.none.empty()) {
        ShowMessage(this, QStringLiteral("This movie has no soundtrack: ") + QString::fromStdString(heard.none) + '.',
                    MsgIcon::Information);
    } else if (!ok) {
        ShowMessage(this, QStringLiteral("Failed to save the soundtrack."), MsgIcon::Exclamation);
    } else {
        // Saved: say what is missing, and what it lists but could not mix.
        const bool lost = heard.cut || heard.movieCutShort || heard.unplayed > 0;
        QString text = QStringLiteral("The soundtrack was saved");
        text += heard.cut ? QStringLiteral(", cut at 4 GiB, the most a WAV file can describe.")
                : heard.movieCutShort
                    ? QStringLiteral(", but the movie's file is cut short: nothing past the cut is heard.")
                : heard.unplayed > 0 ? QStringLiteral(", but %1 sound(s) its frames start could not be played.").arg(heard.unplayed)
                                     : QStringLiteral(".");
        const QStringList items = UnmixedItems(heard);
        if (!items.empty())
            ShowListMessage(this, text + QStringLiteral(" What it lists and does not hold:"), items,
                            lost ? MsgIcon::Exclamation : MsgIcon::Information);
        else if (lost)
            ShowMessage(this, text, MsgIcon::Exclamation);
    }
}
