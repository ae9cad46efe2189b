// The merge window: its lists and buttons, ordering the files, and the merge
// with every check and message.
#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <filesystem>
#include <list>
#include <unistd.h>

#include "gui_support.h"
#include "platform/file.h"
#include "ui/command_ids.h"
#include "ui/help_window.h"
#include "ui/main_dlg.h"
#include "ui/merge_dlg.h"
#include "ui/sort_list.h"
#include "util/paths.h"

namespace fs = std::filesystem;

namespace {

const QString kNoMp3 = QStringLiteral("There aren't MP3 files to add.");
const QString kFailed =
    QStringLiteral("Failed to merge all MP3 into single one. Maybe disk is full or some MP3 files didn't exist.");
const QString kQuestion = QStringLiteral(
    "Some of MP3 files you are going to merge are in different encoding parameters (e.g. sample rate, "
    "channel or bitrate), which could cause playback problem of merged MP3.\n\nStrongly recommend you to "
    "remove the different encoding MP3 files or convert them to same encoding first before merge.\n\n"
    "Do you want to ignore this message and still merge?");

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QString FileNamePartOf(const std::string& path)
{
    return Q(std::string(FileNamePart(path)));
}

// Runs work on the merge window once the main window has opened it modally
// and it has become the active window.
void WhenMergeWindowOpens(QObject* context, const std::function<void(CMergeDlg&)>& work)
{
    QTimer::singleShot(10, context, [context, work] {
        auto* dlg = qobject_cast<CMergeDlg*>(QApplication::activeModalWidget());
        if (dlg && dlg->isActiveWindow())
            work(*dlg);
        else
            WhenMergeWindowOpens(context, work);
    });
}

QStringList HeaderTexts(const CSortListCtrl* list)
{
    QStringList texts;
    for (int c = 0; c < list->columnCount(); ++c)
        texts << list->headerItem()->text(c);
    return texts;
}

void ClickHeader(CSortListCtrl* list, int column)
{
    QHeaderView* header = list->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void Click(CMergeDlg& dlg, int id)
{
    QPushButton* button = dlg.Button(id);
    QVERIFY2(button && button->isEnabled(), qPrintable(QString::number(id)));
    QTest::mouseClick(button, Qt::LeftButton);
}

void SelectRows(CSortListCtrl* list, std::initializer_list<int> rows)
{
    list->clearSelection();
    for (int row : rows)
        list->SelectRow(row, false);
}

// Movies of the main window made by hand: records and files with known bytes.
struct MergeFixture {
    TempDir temp;
    MessageRecorder messages;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    CMergeDlg::Entries entries;
    std::unique_ptr<CMergeDlg> dlg;

    CSwfEntry* AddEntry(const std::string& name)
    {
        entries.push_back(std::make_unique<CSwfEntry>());
        entries.back()->index = static_cast<int>(entries.size()) - 1;
        entries.back()->path = temp / name;
        return entries.back().get();
    }

    // A sound file holding bytes; rate, bits and channels only as recorded.
    std::string AddSound(CSwfEntry* entry, const std::string& name, const std::string& bytes, bool mp3 = true,
                         uint32_t rate = 11025, uint16_t bits = 16, uint16_t channels = 1, uint32_t samples = 11025)
    {
        const std::string path = temp / name;
        WriteFileBytes(path, bytes);
        entry->sounds.push_back({channels, bits, rate, samples, mp3 ? 1u : 0u, path});
        return path;
    }

    CMergeDlg& Open()
    {
        dlg = std::make_unique<CMergeDlg>(&entries);
        dlg->show();
        dlg->activateWindow();
        (void)QTest::qWaitForWindowActive(dlg.get());
        return *dlg;
    }

    ~MergeFixture() { dlg.reset(); }
};

// Three MP3 files of one movie, listed in the merge list.
CMergeDlg& OpenWithThree(MergeFixture& f)
{
    CSwfEntry* e = f.AddEntry("film.swf");
    f.AddSound(e, "film_001.mp3", "AAAA");
    f.AddSound(e, "film_002.mp3", "BBBBBB");
    f.AddSound(e, "film_003.mp3", "CC");
    CMergeDlg& dlg = f.Open();
    dlg.SwfList()->SelectRow(0, true);
    dlg.OnAddMp3();
    return dlg;
}

}  // namespace

class MergeWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { platform::testing::SetWriteBudget(-1); }

    void windowListsAndButtons()
    {
        MergeFixture f;
        CMergeDlg& dlg = f.Open();
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Merge MP3"));
        QCOMPARE(dlg.size(), QSize(584, 445));
        QVERIFY(IsFixedDialog(&dlg));
        QCOMPARE(HeaderTexts(dlg.MergeList()),
                 (QStringList{"No.", "MP3 File", "Time", "Rate", "Type", "Bits", "Path"}));
        QCOMPARE(HeaderTexts(dlg.SwfList()), (QStringList{"No.", "SWF File", "Sounds", "Path"}));
        const int mergeWidths[] = {35, 120, 70, 65, 60, 40, 200};
        const bool mergeRight[] = {false, false, false, true, false, true, false};
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(dlg.MergeList()->columnWidth(c), mergeWidths[c]);
            QCOMPARE(bool(dlg.MergeList()->ColumnAlignment(c) & Qt::AlignRight), mergeRight[c]);
        }
        const int swfWidths[] = {35, 120, 80, 230};
        const bool swfRight[] = {true, false, false, false};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(dlg.SwfList()->columnWidth(c), swfWidths[c]);
            QCOMPARE(bool(dlg.SwfList()->ColumnAlignment(c) & Qt::AlignRight), swfRight[c]);
        }
        for (CSortListCtrl* list : {dlg.MergeList(), dlg.SwfList()}) {
            QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
            QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        }
        // The merge list above the movies, the buttons in a column on the right.
        QCOMPARE(dlg.MergeList()->geometry(), QRect(11, 11, 474, 288));
        QCOMPARE(dlg.SwfList()->geometry(), QRect(11, 304, 474, 132));
        const std::pair<int, const char*> buttons[] = {
            {mergecmd::Merge, "&Merge"},       {mergecmd::PlayMp3, "&Play MP3"},  {mergecmd::Up, "&Up"},
            {mergecmd::Down, "&Down"},         {mergecmd::Remove, "&Remove"},     {mergecmd::RemoveAll, "R&emove All"},
            {mergecmd::Help, "&Help"},         {mergecmd::AddMp3, "&Add MP3"},    {mergecmd::AddAllMp3, "Add A&ll MP3"},
            {mergecmd::PlaySwf, "Play &SWF"},  {mergecmd::Close, "&Close"},
        };
        int lastY = -1;
        for (const auto& [id, text] : buttons) {
            QPushButton* button = dlg.Button(id);
            QVERIFY(button);
            QCOMPARE(button->text(), QString::fromLatin1(text));
            QCOMPARE(button->geometry().left(), 495);
            QCOMPARE(button->size(), QSize(78, 23));
            QVERIFY(button->geometry().top() > lastY);
            lastY = button->geometry().top();
            QVERIFY(!button->autoDefault());
        }
        // Opened with no movie: only Help and Close can be pressed.
        for (const auto& [id, text] : buttons)
            QCOMPARE(dlg.Button(id)->isEnabled(), id == mergecmd::Help || id == mergecmd::Close);
    }

    void movieRowsAndTheirButtons()
    {
        MergeFixture f;
        CSwfEntry* a = f.AddEntry("a.swf");
        f.AddSound(a, "a_001.mp3", "1");
        f.AddSound(a, "a_002.wav", "2", false);
        f.AddEntry("never converted.swf");
        CMergeDlg& dlg = f.Open();
        QCOMPARE(ColumnTexts(dlg.SwfList(), 0), (QStringList{"1", "2"}));
        QCOMPARE(ColumnTexts(dlg.SwfList(), 1), (QStringList{"a.swf", "never converted.swf"}));
        // Every record counts, MP3 and WAV alike.
        QCOMPARE(ColumnTexts(dlg.SwfList(), 2), (QStringList{"2 Sound(s)", "0 Sound(s)"}));
        QCOMPARE(ColumnTexts(dlg.SwfList(), 3), (QStringList{Q(f.temp / "a.swf"), Q(f.temp / "never converted.swf")}));
        QCOMPARE(dlg.SwfList()->GetItemData(0), static_cast<void*>(a));

        QVERIFY(dlg.Button(mergecmd::AddAllMp3)->isEnabled());
        QVERIFY(!dlg.Button(mergecmd::AddMp3)->isEnabled());
        QVERIFY(!dlg.Button(mergecmd::PlaySwf)->isEnabled());
        dlg.SwfList()->SelectRow(1, true);
        QVERIFY(dlg.Button(mergecmd::AddMp3)->isEnabled());
        QVERIFY(dlg.Button(mergecmd::PlaySwf)->isEnabled());

        // A movie without MP3 records adds nothing and says so.
        Click(dlg, mergecmd::AddMp3);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, kNoMp3);
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Information);
        QCOMPARE(dlg.MergeList()->GetItemCount(), 0);
        QVERIFY(!dlg.Button(mergecmd::RemoveAll)->isEnabled());
        dlg.SwfList()->clearSelection();
        QVERIFY(!dlg.Button(mergecmd::AddMp3)->isEnabled());
        QVERIFY(!dlg.Button(mergecmd::PlaySwf)->isEnabled());
    }

    void mp3RowsAreAddedWithTheirFormats()
    {
        MergeFixture f;
        CSwfEntry* a = f.AddEntry("a.swf");
        f.AddSound(a, "a_001.mp3", "1", true, 22050, 16, 1, 8820);  // 0.4 s
        f.AddSound(a, "a_002.wav", "2", false);
        f.AddSound(a, "a_003.mp3", "3", true, 44100, 16, 2, 44100u * 3725);
        CSwfEntry* b = f.AddEntry("b.swf");
        f.AddSound(b, "b.mp3", "4", true, 5512, 8, 1, 5512 * 61);
        CMergeDlg& dlg = f.Open();

        dlg.SwfList()->SelectRow(0, true);
        Click(dlg, mergecmd::AddMp3);
        QVERIFY(f.messages.messages.empty());
        QCOMPARE(dlg.MergeList()->GetItemCount(), 2);
        QCOMPARE(ColumnTexts(dlg.MergeList(), 0), (QStringList{"1", "2"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 1), (QStringList{"a_001.mp3", "a_003.mp3"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 2), (QStringList{"00:00:01", "01:02:05"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 3), (QStringList{"22.1 kHz", "44.1 kHz"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 4), (QStringList{"Mono", "Stereo"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 5), (QStringList{"16", "16"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 6), (QStringList{Q(f.temp / "a_001.mp3"), Q(f.temp / "a_003.mp3")}));
        QCOMPARE(dlg.MergeList()->GetItemData(1), static_cast<void*>(&a->sounds.back()));
        QVERIFY(dlg.MergeList()->hasFocus());
        QVERIFY(dlg.Button(mergecmd::Merge)->isEnabled());
        QVERIFY(dlg.Button(mergecmd::RemoveAll)->isEnabled());
        // Nothing is selected in the merge list yet.
        for (int id : {mergecmd::PlayMp3, mergecmd::Up, mergecmd::Down, mergecmd::Remove})
            QVERIFY(!dlg.Button(id)->isEnabled());

        // The same movie again lists its files again; Add All takes every movie, selected or not.
        Click(dlg, mergecmd::AddMp3);
        QCOMPARE(dlg.MergeList()->GetItemCount(), 4);
        dlg.SwfList()->clearSelection();
        Click(dlg, mergecmd::AddAllMp3);
        QCOMPARE(ColumnTexts(dlg.MergeList(), 1), (QStringList{"a_001.mp3", "a_003.mp3", "a_001.mp3", "a_003.mp3",
                                                               "a_001.mp3", "a_003.mp3", "b.mp3"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 0), (QStringList{"1", "2", "3", "4", "5", "6", "7"}));
        QCOMPARE(dlg.MergeList()->GetItemText(6, 2), QStringLiteral("00:01:01"));
        QCOMPARE(dlg.MergeList()->GetItemText(6, 3), QStringLiteral("5.5 kHz"));
        QCOMPARE(dlg.MergeList()->GetItemText(6, 5), QStringLiteral("8"));

        dlg.MergeList()->SelectRow(0, false);
        for (int id : {mergecmd::PlayMp3, mergecmd::Up, mergecmd::Down, mergecmd::Remove})
            QVERIFY(dlg.Button(id)->isEnabled());
        QVERIFY(f.messages.messages.empty());
    }

    void upAndDownMoveTheSelection()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        for (char c : std::string("ABCDE"))
            f.AddSound(e, std::string(1, c) + ".mp3", std::string(1, c));
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        CSortListCtrl* list = dlg.MergeList();
        const auto names = [list] { return ColumnTexts(list, 1).join(QString()).remove(QStringLiteral(".mp3")); };

        // A selection touching the top does not move at all.
        SelectRows(list, {0, 3});
        Click(dlg, mergecmd::Up);
        QCOMPARE(names(), QStringLiteral("ABCDE"));
        QCOMPARE(list->GetSelectedRows(), (std::vector<int>{0, 3}));

        // Rows 2 and 4 move up; those at 1 and 3 end up at 2 and 4.
        SelectRows(list, {2, 4});
        Click(dlg, mergecmd::Up);
        QCOMPARE(names(), QStringLiteral("ACBED"));
        QCOMPARE(list->GetSelectedRows(), (std::vector<int>{1, 3}));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1", "2", "3", "4", "5"}));
        QVERIFY(list->hasFocus());
        // The records travel with their texts.
        for (int row = 0; row < 5; ++row)
            QCOMPARE(FileNamePartOf(static_cast<CSoundElement*>(list->GetItemData(row))->path),
                     list->GetItemText(row, 1));

        // A run of selected rows moves as one.
        SelectRows(list, {1, 2});
        Click(dlg, mergecmd::Down);
        QCOMPARE(names(), QStringLiteral("AECBD"));
        QCOMPARE(list->GetSelectedRows(), (std::vector<int>{2, 3}));
        // A selection reaching the last row does not move.
        SelectRows(list, {0, 4});
        Click(dlg, mergecmd::Down);
        QCOMPARE(names(), QStringLiteral("AECBD"));
        SelectRows(list, {0});
        Click(dlg, mergecmd::Down);
        QCOMPARE(names(), QStringLiteral("EACBD"));
        QCOMPARE(list->GetSelectedRows(), (std::vector<int>{1}));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(ColumnTexts(list, 6).join(QLatin1Char(',')),
                 QStringList({Q(f.temp / "E.mp3"), Q(f.temp / "A.mp3"), Q(f.temp / "C.mp3"), Q(f.temp / "B.mp3"),
                              Q(f.temp / "D.mp3")})
                     .join(QLatin1Char(',')));
    }

    void removeAndRemoveAll()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        for (char c : std::string("ABCDE"))
            f.AddSound(e, std::string(1, c) + ".mp3", std::string(1, c));
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        CSortListCtrl* list = dlg.MergeList();

        SelectRows(list, {1, 3});
        Click(dlg, mergecmd::Remove);
        QCOMPARE(ColumnTexts(list, 1), (QStringList{"A.mp3", "C.mp3", "E.mp3"}));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1", "2", "3"}));
        QVERIFY(dlg.Button(mergecmd::Merge)->isEnabled());
        // Nothing is selected any more.
        QVERIFY(!dlg.Button(mergecmd::Remove)->isEnabled());
        QVERIFY(dlg.Button(mergecmd::RemoveAll)->isEnabled());

        SelectRows(list, {0, 2});
        Click(dlg, mergecmd::Remove);
        QCOMPARE(ColumnTexts(list, 1), (QStringList{"C.mp3"}));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1"}));
        QVERIFY(!dlg.Button(mergecmd::Merge)->isEnabled());

        SelectRows(list, {0});
        Click(dlg, mergecmd::RemoveAll);
        QCOMPARE(list->GetItemCount(), 0);
        for (int id : {mergecmd::Merge, mergecmd::PlayMp3, mergecmd::Up, mergecmd::Down, mergecmd::RemoveAll,
                       mergecmd::Remove})
            QVERIFY(!dlg.Button(id)->isEnabled());
        // The files stay: the window only lists them.
        QVERIFY(fs::exists(f.temp / "B.mp3"));
        QCOMPARE(e->sounds.size(), size_t(5));
    }

    void playingFilesAndMovies()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        const std::string mp3 = f.AddSound(e, "m_001.mp3", "x");
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);

        // Without a selection both do nothing.
        dlg.OnPlayMp3();
        dlg.OnPlaySwf();
        QVERIFY(f.shell.files.empty());
        QVERIFY(f.shell.played.empty());

        dlg.MergeList()->SelectRow(0, true);
        Click(dlg, mergecmd::PlayMp3);
        QCOMPARE(f.shell.files.back(), mp3);
        emit dlg.MergeList()->itemDoubleClicked(dlg.MergeList()->topLevelItem(0), 0);
        QCOMPARE(f.shell.files.size(), size_t(2));

        dlg.SwfList()->SelectRow(0, true);
        Click(dlg, mergecmd::PlaySwf);
        QCOMPARE(f.shell.played.back(), e->path);
        QVERIFY(f.messages.messages.empty());
        // No program for movies: a message, no browser.
        f.shell.playerFound = false;
        emit dlg.SwfList()->itemDoubleClicked(dlg.SwfList()->topLevelItem(0), 0);
        QCOMPARE(f.shell.played.size(), size_t(2));
        QCOMPARE(f.messages.messages.back().text, QStringLiteral("No program to play Flash movies was found."));
        QCOMPARE(f.shell.files.size(), size_t(2));
    }

    void keysHelpAndDragging()
    {
        MergeFixture f;
        CMergeDlg& dlg = f.Open();
        QSignalSpy help(&dlg, &CMergeDlg::helpRequested);
        Click(dlg, mergecmd::Help);
        QCOMPARE(help.count(), 1);
        QTest::keyClick(&dlg, Qt::Key_F1);
        QCOMPARE(help.count(), 2);
        // Only a plain F1 asks for help.
        QTest::keyClick(&dlg, Qt::Key_F1, Qt::ShiftModifier);
        QCOMPARE(help.count(), 2);

        const QPoint start = dlg.pos();
        const QPoint grab(200, 440);
        QMouseEvent press(QEvent::MouseButtonPress, grab, dlg.mapToGlobal(grab), Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dlg, &press);
        QMouseEvent move(QEvent::MouseMove, grab + QPoint(25, 15), dlg.mapToGlobal(grab) + QPoint(25, 15),
                         Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dlg, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, grab, dlg.mapToGlobal(grab), Qt::LeftButton, Qt::NoButton,
                            {});
        QCoreApplication::sendEvent(&dlg, &release);
        QCOMPARE(dlg.pos(), start + QPoint(25, 15));

        // Enter does nothing, wherever the focus is; Esc closes.
        QSignalSpy finished(&dlg, &QDialog::finished);
        QTest::keyClick(&dlg, Qt::Key_Return);
        dlg.Button(mergecmd::Help)->setFocus();
        QTest::keyClick(dlg.Button(mergecmd::Help), Qt::Key_Enter);
        QTest::keyClick(dlg.MergeList(), Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(finished.count(), 0);
        QCOMPARE(help.count(), 2);
        QTest::keyClick(dlg.MergeList(), Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void sortingChangesTheMergeOrder()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        f.AddSound(e, "b.mp3", "bb");
        f.AddSound(e, "c.mp3", "ccc");
        f.AddSound(e, "a.mp3", "a");
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        ClickHeader(dlg.MergeList(), 6);  // Path
        QCOMPARE(ColumnTexts(dlg.MergeList(), 1), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 0), (QStringList{"1", "2", "3"}));
        ClickHeader(dlg.MergeList(), 6);
        QCOMPARE(ColumnTexts(dlg.MergeList(), 1), (QStringList{"c.mp3", "b.mp3", "a.mp3"}));
        QCOMPARE(ColumnTexts(dlg.MergeList(), 0), (QStringList{"1", "2", "3"}));

        const std::string out = f.temp / "sorted.mp3";
        f.dialogs.saveAnswers.push_back(out);
        f.messages.answers.push_back(QMessageBox::No);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(ReadFileBytes(out), std::string("cccbba"));
        QCOMPARE(f.messages.messages.back().text,
                 QStringLiteral("Successfully merge 3 MP3 files to 'sorted.mp3'.\n\nDo you want play 'sorted.mp3'?"));

        // The movie list sorts and renumbers too.
        f.AddEntry("z.swf");
        CMergeDlg& again = f.Open();
        ClickHeader(again.SwfList(), 1);
        ClickHeader(again.SwfList(), 1);
        QCOMPARE(ColumnTexts(again.SwfList(), 1), (QStringList{"z.swf", "m.swf"}));
        QCOMPARE(ColumnTexts(again.SwfList(), 0), (QStringList{"1", "2"}));
    }

    void theProposedNameIsFreeAndPassesTheChecks()
    {
        MergeFixture f;
        CMergeDlg& dlg = OpenWithThree(f);
        Click(dlg, mergecmd::AddAllMp3);
        // Taken by a file, or by a link even to nothing, a name is passed over.
        WriteFileBytes(f.temp / "film_merged.mp3", "mine");
        fs::create_symlink(f.temp / "nowhere", f.temp / "film_merged_2.mp3");
        // Kept as proposed, the name merges.
        std::string proposed;
        f.dialogs.whileSaving = [&] { proposed = f.dialogs.starts.back(); };
        f.dialogs.saveAnswers.push_back(f.temp / "film_merged_3.mp3");
        f.messages.answers.push_back(QMessageBox::No);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(QString::fromStdString(proposed), QString::fromStdString(f.temp / "film_merged_3.mp3"));
        QVERIFY(fs::exists(f.temp / "film_merged_3.mp3"));
        QCOMPARE(ReadFileBytes(f.temp / "film_merged.mp3"), std::string("mine"));
        QVERIFY(f.messages.messages.back().text.startsWith(QStringLiteral("Successfully merge")));
    }

    void mergeJoinsTheBytesInDisplayOrder()
    {
        MergeFixture f;
        CMergeDlg& dlg = OpenWithThree(f);
        CSortListCtrl* list = dlg.MergeList();
        // The merge command with fewer than two rows does nothing at all.
        SelectRows(list, {1, 2});
        Click(dlg, mergecmd::Remove);
        dlg.OnMerge();
        QVERIFY(f.dialogs.asked.isEmpty());
        QVERIFY(f.messages.messages.empty());

        Click(dlg, mergecmd::AddAllMp3);  // AAAA BBBBBB CC after the kept AAAA
        QCOMPARE(list->GetItemCount(), 4);
        const std::string out = f.temp / "joined.mp3";
        WriteFileBytes(out, "an older file the user chose to replace");
        f.dialogs.saveAnswers.push_back(out);
        Click(dlg, mergecmd::Merge);
        // The save dialog starts beside the first row's file, at a name the
        // checks accept, and adds ".mp3".
        QCOMPARE(f.dialogs.asked.last(), QStringLiteral("save ") + Q(f.temp / "film_merged.mp3") +
                                             QStringLiteral("|MP3 File (*.mp3)"));
        QCOMPARE(f.dialogs.saveSuffixes.last(), QStringLiteral("mp3"));
        // A file listed twice is copied twice and counted twice.
        QCOMPARE(ReadFileBytes(out), std::string("AAAAAAAABBBBBBCC"));
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text,
                 QStringLiteral("Successfully merge 4 MP3 files to 'joined.mp3'.\n\nDo you want play 'joined.mp3'?"));
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Information);
        QCOMPARE(f.messages.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        // Yes plays the result.
        QCOMPARE(f.shell.files.back(), out);
        // The window stays as it was.
        QVERIFY(dlg.isVisible());
        QCOMPARE(list->GetItemCount(), 4);
        // The inputs are untouched and nothing else was left in the folder.
        QCOMPARE(ReadFileBytes(f.temp / "film_002.mp3"), std::string("BBBBBB"));
        QCOMPARE(f.temp.List(), (std::vector<std::string>{"film_001.mp3", "film_002.mp3", "film_003.mp3",
                                                          "joined.mp3"}));

        // A cancelled save dialog writes nothing and says nothing.
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.shell.files.size(), size_t(1));
    }

    void differentParametersAreAskedOnce()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        f.AddSound(e, "a.mp3", "a", true, 22050, 16, 1);
        f.AddSound(e, "b.mp3", "b", true, 44100, 16, 2);
        f.AddSound(e, "c.mp3", "c", true, 11025, 8, 1);
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        QSignalSpy help(&dlg, &CMergeDlg::helpRequested);

        // No: nothing is asked or written after the question.
        f.messages.answers.push_back(QMessageBox::No);
        f.dialogs.saveAnswers.push_back(f.temp / "out.mp3");
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, kQuestion);
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Question);
        QCOMPARE(f.messages.messages[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Help);
        QVERIFY(f.dialogs.asked.isEmpty());
        QVERIFY(!fs::exists(f.temp / "out.mp3"));

        // Help does not answer: the main window's help is asked for and the
        // question stays; Yes then goes on to the merge.
        f.messages.answers.push_back(QMessageBox::Help);
        f.messages.answers.push_back(QMessageBox::Yes);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(help.count(), 1);
        QCOMPARE(f.messages.messages.size(), size_t(4));
        QCOMPARE(f.messages.messages[1].text, kQuestion);
        QCOMPARE(f.messages.messages[2].text, kQuestion);
        QVERIFY(f.messages.messages[3].text.startsWith(QStringLiteral("Successfully merge 3 MP3 files")));
        QCOMPARE(ReadFileBytes(f.temp / "out.mp3"), std::string("abc"));
    }

    void onlyBitsOrOnlyChannelsDifferingStillAsk_data()
    {
        QTest::addColumn<uint>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("asked");
        QTest::newRow("same") << 22050u << 16 << 1 << false;
        QTest::newRow("rate") << 44100u << 16 << 1 << true;
        QTest::newRow("bits") << 22050u << 8 << 1 << true;
        QTest::newRow("channels") << 22050u << 16 << 2 << true;
    }

    void onlyBitsOrOnlyChannelsDifferingStillAsk()
    {
        QFETCH(uint, rate);
        QFETCH(int, bits);
        QFETCH(int, channels);
        QFETCH(bool, asked);
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        f.AddSound(e, "a.mp3", "a", true, 22050, 16, 1);
        f.AddSound(e, "b.mp3", "b", true, rate, static_cast<uint16_t>(bits), static_cast<uint16_t>(channels));
        f.AddSound(e, "c.mp3", "c", true, 22050, 16, 1);
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        f.messages.answers.push_back(QMessageBox::No);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(!f.messages.messages.empty() && f.messages.messages.front().text == kQuestion, asked);
        QCOMPARE(f.dialogs.asked.size(), asked ? 0 : 1);
    }

    void aMissingFileStopsTheMerge()
    {
        MergeFixture f;
        CMergeDlg& dlg = OpenWithThree(f);
        const std::string gone = f.temp / "film_002.mp3";
        fs::remove(gone);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, QStringLiteral("File '") + Q(gone) + QStringLiteral("' don't exist."));
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Exclamation);
        QVERIFY(f.dialogs.asked.isEmpty());
    }

    void theOutputMayNotBeAnInput()
    {
        MergeFixture f;
        CMergeDlg& dlg = OpenWithThree(f);
        const std::string second = f.temp / "film_002.mp3";
        const QString refused = QStringLiteral("Invalid file name. '%1' has existed in MP3 list.");

        // The same path in other letter case.
        f.dialogs.saveAnswers.push_back(f.temp / "FILM_002.MP3");
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.back().text, refused.arg(QStringLiteral("FILM_002.MP3")));
        QCOMPARE(f.messages.messages.back().icon, MsgIcon::Exclamation);
        QVERIFY(!fs::exists(f.temp / "FILM_002.MP3"));

        // The same file by another name: a symbolic link and a hard link.
        const std::string symlink = f.temp / "link.mp3";
        const std::string hardlink = f.temp / "hard.mp3";
        fs::create_symlink(second, symlink);
        fs::create_hard_link(second, hardlink);
        f.dialogs.saveAnswers.push_back(symlink);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.back().text, refused.arg(QStringLiteral("link.mp3")));
        f.dialogs.saveAnswers.push_back(hardlink);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.back().text, refused.arg(QStringLiteral("hard.mp3")));
        QCOMPARE(f.messages.messages.size(), size_t(3));
        // No input lost a byte.
        QCOMPARE(ReadFileBytes(second), std::string("BBBBBB"));
        QVERIFY(fs::is_symlink(symlink));
        QCOMPARE(ReadFileBytes(f.temp / "film_001.mp3"), std::string("AAAA"));
        QCOMPARE(ReadFileBytes(f.temp / "film_003.mp3"), std::string("CC"));
    }

    void failuresLeaveNoOutput()
    {
        MergeFixture f;
        CMergeDlg& dlg = OpenWithThree(f);
        const std::string out = f.temp / "full.mp3";

        // A full disk: nothing is left, not even a partial file.
        platform::testing::SetWriteBudget(7);
        f.dialogs.saveAnswers.push_back(out);
        Click(dlg, mergecmd::Merge);
        platform::testing::SetWriteBudget(-1);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, kFailed);
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Exclamation);
        QVERIFY(!fs::exists(out));
        QCOMPARE(f.temp.List(), (std::vector<std::string>{"film_001.mp3", "film_002.mp3", "film_003.mp3"}));

        // A full disk while replacing a file keeps that file whole.
        WriteFileBytes(out, "keep me");
        platform::testing::SetWriteBudget(7);
        f.dialogs.saveAnswers.push_back(out);
        Click(dlg, mergecmd::Merge);
        platform::testing::SetWriteBudget(-1);
        QCOMPARE(f.messages.messages.back().text, kFailed);
        QCOMPARE(ReadFileBytes(out), std::string("keep me"));
        fs::remove(out);

        // An input deleted after the check, while the save dialog was open.
        f.dialogs.whileSaving = [&f] { fs::remove(f.temp / "film_003.mp3"); };
        f.dialogs.saveAnswers.push_back(out);
        Click(dlg, mergecmd::Merge);
        f.dialogs.whileSaving = nullptr;
        QCOMPARE(f.messages.messages.back().text, kFailed);
        QVERIFY(!fs::exists(out));
        QCOMPARE(f.messages.messages.size(), size_t(3));
    }

    void aReadErrorFailsTheMerge()
    {
        MergeFixture f;
        CSwfEntry* e = f.AddEntry("m.swf");
        f.AddSound(e, "a.mp3", "aaaa");
        // Reading a process's own memory from address 0 fails with an I/O error.
        e->sounds.push_back({1, 16, 11025, 11025, 1, "/proc/self/mem"});
        f.AddSound(e, "c.mp3", "cc");
        CMergeDlg& dlg = f.Open();
        Click(dlg, mergecmd::AddAllMp3);
        const std::string out = f.temp / "lost.mp3";
        f.dialogs.saveAnswers.push_back(out);
        Click(dlg, mergecmd::Merge);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, kFailed);
        QVERIFY(!fs::exists(out));
        QCOMPARE(f.temp.List(), (std::vector<std::string>{"a.mp3", "c.mp3"}));
    }

    // The whole road: movies converted in the main window, the merge window
    // opened from it, the files put in order with Up and Down.
    void mergeConvertedFilesFromTheMainWindow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string two = MakeMovie(f.temp / "two.swf", 2);
        const std::string one = MakeMovie(f.temp / "one.swf", 1, 24, 12, 4410);
        w.AddSwfFiles({two, one}, nullptr);
        QTest::mouseClick(w.Button(cmd::ConvertAllMp3), Qt::LeftButton);
        QTRY_VERIFY(!w.IsBusy());
        const std::string a = f.temp / "two_001.mp3";
        const std::string b = f.temp / "two_002.mp3";
        const std::string c = f.temp / "one.mp3";
        for (const std::string& path : {a, b, c})
            QVERIFY2(fs::file_size(path) > 0, path.c_str());
        // The main list sorted the other way still gives the merge window the
        // movies in the order they were added.
        w.SwfList()->SortByColumn(1);
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"one.swf", "two.swf"}));

        const std::string out = f.temp / "all.mp3";
        f.dialogs.saveAnswers.push_back(out);
        f.messages.answers.push_back(QMessageBox::No);
        QStringList swfNames;
        QStringList before;
        QStringList after;
        bool sawWindow = false;
        QString pageByF1;
        WhenMergeWindowOpens(this, [&](CMergeDlg& dlg) {
            sawWindow = true;
            swfNames = ColumnTexts(dlg.SwfList(), 1);
            Click(dlg, mergecmd::AddAllMp3);
            before = ColumnTexts(dlg.MergeList(), 1);
            // one.mp3 up to the top, then two_001 down below two_002.
            SelectRows(dlg.MergeList(), {2});
            Click(dlg, mergecmd::Up);
            Click(dlg, mergecmd::Up);
            SelectRows(dlg.MergeList(), {1});
            Click(dlg, mergecmd::Down);
            after = ColumnTexts(dlg.MergeList(), 1);
            // F1 and Help reach the main window's help, on the page about merging.
            QTest::keyClick(&dlg, Qt::Key_F1);
            if (w.HelpWindow()) {
                pageByF1 = w.HelpWindow()->Browser()->source().fileName();
                w.HelpWindow()->close();
            }
            // A failed check here must not leave the window open.
            (void)QTest::qWaitFor([&w] { return !w.HelpWindow(); });
            Click(dlg, mergecmd::Help);
            Click(dlg, mergecmd::Merge);
            Click(dlg, mergecmd::Close);
        });
        // Help already open on its first page turns to merging when asked there.
        w.OnCommand(cmd::HelpTopics);
        QVERIFY(w.HelpWindow());
        QCOMPARE(w.HelpWindow()->Browser()->source().fileName(), QStringLiteral("index.html"));
        QTest::mouseClick(w.Button(cmd::Merge), Qt::LeftButton);
        QVERIFY(sawWindow);
        QCOMPARE(swfNames, (QStringList{"two.swf", "one.swf"}));
        QCOMPARE(before, (QStringList{"two_001.mp3", "two_002.mp3", "one.mp3"}));
        QCOMPARE(after, (QStringList{"one.mp3", "two_002.mp3", "two_001.mp3"}));
        QCOMPARE(pageByF1, QStringLiteral("merging.html"));
        QVERIFY(w.HelpWindow());
        QCOMPARE(w.HelpWindow()->Browser()->source().fileName(), QStringLiteral("merging.html"));
        QVERIFY(w.HelpWindow()->Browser()->toPlainText().contains(QStringLiteral("Add All MP3")));
        QCOMPARE(ReadFileBytes(out), ReadFileBytes(c) + ReadFileBytes(b) + ReadFileBytes(a));
        QCOMPARE(f.messages.messages.back().text,
                 QStringLiteral("Successfully merge 3 MP3 files to 'all.mp3'.\n\nDo you want play 'all.mp3'?"));
        QVERIFY(f.shell.files.empty());
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(MergeWindowTest)
#include "merge_window_test.moc"
