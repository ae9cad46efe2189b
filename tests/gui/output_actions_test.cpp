// What the main window does with produced files: play, save a copy, delete,
// show in the file manager, and the movie's own Play and Browse SWF Folder.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <functional>
#include <filesystem>

#include "gui_support.h"
#include "platform/file.h"
#include "ui/command_ids.h"
#include "ui/main_dlg.h"
#include "ui/sort_list.h"

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

const QString kAskDelete = QStringLiteral("Are you sure to delete selected file(s)?");
const QString kSameName = QStringLiteral("You should choose a different file name.");
const QString kCopyFailed = QStringLiteral("Failed to copy file.");

// A loaded movie whose last conversion gave the given files (written here).
CSwfEntry* LoadWithSounds(WindowFixture& f, const std::vector<std::pair<std::string, bool>>& files)
{
    CMainDlg& w = *f.window;
    w.AddSwfFiles({MakeMovie(f.temp / "movie.swf", 0)}, nullptr);
    auto* entry = static_cast<CSwfEntry*>(w.SwfList()->GetItemData(w.SwfList()->GetItemCount() - 1));
    for (const auto& [name, mp3] : files) {
        WriteFileBytes(f.temp / name, "bytes of " + name);
        entry->sounds.push_back({1, 16, 11025, 11025, mp3 ? 1u : 0u, f.temp / name});
    }
    w.SwfList()->SelectRow(w.SwfList()->GetItemCount() - 1, true);
    // Shortcuts reach the window only while it is active again.
    if (!QTest::qWaitFor([&w] { return w.isActiveWindow(); }))
        qWarning("the main window did not become active");
    return entry;
}

}  // namespace

class OutputActionsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { platform::testing::SetWriteBudget(-1); }

    void deleteRemovesTheSelectedRowsAndFiles()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        CSwfEntry* entry = LoadWithSounds(
            f, {{"m_001.mp3", true}, {"m_002.wav", false}, {"m_003.mp3", true}, {"m_004.mp3", true}, {"m_005.wav", false}});
        CSortListCtrl* list = w.OutputList();
        QCOMPARE(list->GetItemCount(), 5);
        QCOMPARE(w.Mp3Count(), 3);

        list->SelectRow(0, false);
        list->SelectRow(2, false);
        list->SelectRow(3, false);
        // No keeps everything.
        f.messages.answers.push_back(QMessageBox::No);
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, kAskDelete);
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Question);
        QCOMPARE(f.messages.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(list->GetItemCount(), 5);
        QVERIFY(fs::exists(f.temp / "m_001.mp3"));

        // Yes: three rows and files go, the two others are numbered 1 and 2.
        list->clearSelection();
        list->SelectRow(0, false);
        list->SelectRow(2, false);
        list->SelectRow(4, false);
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(list->GetItemCount(), 2);
        QCOMPARE(ColumnTexts(list, 1), (QStringList{"m_002.wav", "m_004.mp3"}));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1", "2"}));
        // In the Trash, where the user can take them back; made in the
        // user's data folder, which did not exist yet.
        for (const char* gone : {"m_001.mp3", "m_003.mp3", "m_005.wav"}) {
            QVERIFY2(!fs::exists(f.temp / gone), gone);
            QCOMPARE(ReadFileBytes(f.temp / (std::string("data/Trash/files/") + gone)), std::string("bytes of ") + gone);
            QVERIFY2(fs::exists(f.temp / (std::string("data/Trash/info/") + gone + ".trashinfo")), gone);
        }
        for (const char* kept : {"m_002.wav", "m_004.mp3"})
            QVERIFY2(fs::exists(f.temp / kept), kept);
        QCOMPARE(entry->sounds.size(), size_t(2));
        QCOMPARE(entry->sounds.front().path, f.temp / "m_002.wav");
        QCOMPARE(w.Mp3Count(), 1);
        // The rows left still point at their own records.
        QCOMPARE(static_cast<CSoundElement*>(list->GetItemData(1))->path, f.temp / "m_004.mp3");
        QCOMPARE(f.messages.messages.size(), size_t(2));

        // Selecting the movie again lists what is left.
        w.SwfList()->clearSelection();
        w.SwfList()->SelectRow(0, true);
        QCOMPARE(ColumnTexts(list, 1), (QStringList{"m_002.wav", "m_004.mp3"}));
    }

    void whatTheTrashCantTakeIsDeletedForGoodOnlyWhenAsked()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // A name that isn't UTF-8 can't be handed to the Trash whole.
        LoadWithSounds(f, {{"caf\xe9_001.mp3", true}, {"ok_002.mp3", true}, {"caf\xe9_003.wav", false}});
        CSortListCtrl* list = w.OutputList();
        list->selectAll();
        f.messages.answers = {QMessageBox::Yes, QMessageBox::No};
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(f.messages.messages.size(), size_t(2));
        QCOMPARE(f.messages.messages[1].text,
                 QStringLiteral("The Trash can't take 2 of the selected files.\n\nDelete them for good?"));
        QCOMPARE(f.messages.messages[1].icon, MsgIcon::Question);
        QCOMPARE(f.messages.messages[1].buttons, QMessageBox::Yes | QMessageBox::No);
        // No: those stay, files and rows; the other went to the Trash.
        QCOMPARE(list->GetItemCount(), 2);
        QVERIFY(fs::exists(f.temp / "caf\xe9_001.mp3"));
        QVERIFY(fs::exists(f.temp / "caf\xe9_003.wav"));
        QVERIFY(fs::exists(f.temp / "data/Trash/files/ok_002.mp3"));
        QCOMPARE(ColumnTexts(list, 0), (QStringList{"1", "2"}));
        QCOMPARE(w.Mp3Count(), 1);
        // Yes: gone for good.
        list->selectAll();
        QTest::keyClick(&w, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(list->GetItemCount(), 0);
        QVERIFY(!fs::exists(f.temp / "caf\xe9_001.mp3"));
        QVERIFY(!fs::exists(f.temp / "caf\xe9_003.wav"));
        QCOMPARE(w.Mp3Count(), 0);
    }

    void deletingTheMp3RowsDisablesMerge()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        LoadWithSounds(f, {{"a.mp3", true}, {"b.wav", false}, {"c.mp3", true}});
        QVERIFY(w.IsCommandEnabled(cmd::Merge));
        w.OutputList()->SelectRow(0, false);
        w.OutputList()->SelectRow(2, false);
        // A file already gone does not stop the others: the row goes anyway.
        fs::remove(f.temp / "a.mp3");
        QAction* del = nullptr;
        for (QAction* action : w.Menu(1)->actions())
            if (action->data().toInt() == cmd::Delete)
                del = action;
        QVERIFY(del);
        del->trigger();
        QCOMPARE(ColumnTexts(w.OutputList(), 1), QStringList{"b.wav"});
        QCOMPARE(w.Mp3Count(), 0);
        QVERIFY(!w.IsCommandEnabled(cmd::Merge));
        QVERIFY(!fs::exists(f.temp / "c.mp3"));
        QCOMPARE(f.messages.messages.size(), size_t(1));
    }

    void saveAsCopiesWithItsChecks()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        LoadWithSounds(f, {{"s.mp3", true}, {"t.wav", false}});
        const std::string source = f.temp / "s.mp3";
        const std::string bytes = ReadFileBytes(source);
        w.OutputList()->SelectRow(0, true);

        // Cancelled: nothing.
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.dialogs.asked.size(), 1);
        QCOMPARE(f.dialogs.asked.last(), QStringLiteral("save ") + Q(source) +
                                             QStringLiteral("|MP3 File (*.mp3);WAV File (*.wav);FLAC File (*.flac);All Files (*)"));
        QCOMPARE(f.dialogs.saveSuffixes.last(), QStringLiteral("mp3"));
        QVERIFY(f.messages.messages.empty());

        // A name typed without an extension gets the file's.
        f.dialogs.saveAnswers.push_back(f.temp / "plain");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(ReadFileBytes(f.temp / "plain.mp3"), bytes);
        QVERIFY(!fs::exists(f.temp / "plain"));
        // Where that names a file already there, the user is asked first.
        f.dialogs.saveAnswers.push_back(f.temp / "plain");
        f.messages.answers.push_back(QMessageBox::No);
        WriteFileBytes(f.temp / "plain.mp3", "mine");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.messages.messages.back().text, QStringLiteral("plain.mp3 already exists.\nDo you want to replace it?"));
        QCOMPARE(f.messages.messages.back().icon, MsgIcon::Question);
        QCOMPARE(ReadFileBytes(f.temp / "plain.mp3"), std::string("mine"));
        f.dialogs.saveAnswers.push_back(f.temp / "plain");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(ReadFileBytes(f.temp / "plain.mp3"), bytes);
        f.messages.messages.clear();

        // An existing file is replaced (the dialog asked first).
        WriteFileBytes(f.temp / "old.mp3", "older and longer content");
        f.dialogs.saveAnswers.push_back(f.temp / "old.mp3");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(ReadFileBytes(f.temp / "old.mp3"), bytes);
        QVERIFY(f.messages.messages.empty());

        // The file itself, by its own name or by a link, is refused.
        fs::create_symlink(source, f.temp / "link.mp3");
        for (const std::string& same : {source, f.temp / "link.mp3"}) {
            f.dialogs.saveAnswers.push_back(same);
            QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(f.messages.messages.back().text, kSameName);
            QCOMPARE(f.messages.messages.back().icon, MsgIcon::Exclamation);
        }
        QVERIFY(fs::is_symlink(f.temp / "link.mp3"));
        QCOMPARE(ReadFileBytes(source), bytes);
        // Its name in other letter case is refused only where that is the same
        // file; where case matters it is a new file and gets the copy.
        WriteFileBytes(f.temp / "probe", "");
        const bool caseMatters = !fs::exists(f.temp / "PROBE");
        const size_t messages = f.messages.messages.size();
        f.dialogs.saveAnswers.push_back(f.temp / "S.MP3");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.messages.messages.size(), messages + (caseMatters ? 0 : 1));
        QCOMPARE(ReadFileBytes(source), bytes);
        if (caseMatters)
            QCOMPARE(ReadFileBytes(f.temp / "S.MP3"), bytes);

        // A full disk keeps the file being replaced and leaves nothing else.
        WriteFileBytes(f.temp / "keep.mp3", "keep");
        platform::testing::SetWriteBudget(3);
        f.dialogs.saveAnswers.push_back(f.temp / "keep.mp3");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        platform::testing::SetWriteBudget(-1);
        QCOMPARE(f.messages.messages.back().text, kCopyFailed);
        QCOMPARE(f.messages.messages.back().icon, MsgIcon::Exclamation);
        QCOMPARE(ReadFileBytes(f.temp / "keep.mp3"), std::string("keep"));

        // A source that is gone fails too.
        fs::remove(source);
        f.dialogs.saveAnswers.push_back(f.temp / "new.mp3");
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.messages.messages.back().text, kCopyFailed);
        QVERIFY(!fs::exists(f.temp / "new.mp3"));
        // No partial copy was left behind.
        for (const std::string& name : f.temp.List())
            QVERIFY2(name.find(".part") == std::string::npos, name.c_str());
        // The row still names its own file.
        QCOMPARE(w.OutputList()->GetItemText(0, 7), Q(source));
    }

    void saveAsOffersTheFilesOwnType()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        LoadWithSounds(f, {{"a.wav", false}, {"b.flac", false}, {"c.mp3", true}});
        static_cast<CSoundElement*>(w.OutputList()->GetItemData(1))->isFlac = true;
        const struct {
            int row;
            const char* filters;
            const char* suffix;
        } cases[] = {
            {0, "WAV File (*.wav);MP3 File (*.mp3);FLAC File (*.flac);All Files (*)", "wav"},
            {1, "FLAC File (*.flac);MP3 File (*.mp3);WAV File (*.wav);All Files (*)", "flac"},
            {2, "MP3 File (*.mp3);WAV File (*.wav);FLAC File (*.flac);All Files (*)", "mp3"},
        };
        for (const auto& c : cases) {
            w.OutputList()->clearSelection();
            w.OutputList()->SelectRow(c.row, true);
            f.dialogs.saveAnswers.push_back(f.temp / ("mycopy" + std::to_string(c.row)));
            w.OnCommand(cmd::SaveAs);
            QVERIFY(f.dialogs.asked.last().endsWith(QLatin1Char('|') + QLatin1String(c.filters)));
            QCOMPARE(f.dialogs.saveSuffixes.last(), QString::fromLatin1(c.suffix));
            const std::string copy = f.temp / ("mycopy" + std::to_string(c.row) + "." + c.suffix);
            QCOMPARE(ReadFileBytes(copy), ReadFileBytes(static_cast<CSoundElement*>(w.OutputList()->GetItemData(c.row))->path));
        }
        QVERIFY(f.messages.messages.empty());
    }

    void withoutASelectionNothingHappens()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        LoadWithSounds(f, {{"a.mp3", true}});
        w.SwfList()->clearSelection();
        w.OutputList()->clearSelection();
        for (int id : {cmd::Play, cmd::SaveAs, cmd::Delete, cmd::BrowseFolder, cmd::PlaySwf, cmd::BrowseSwfFolder})
            w.OnCommand(id);
        QVERIFY(f.messages.messages.empty());
        QVERIFY(f.dialogs.asked.isEmpty());
        QVERIFY(f.shell.files.empty());
        QVERIFY(f.shell.shown.empty());
        QVERIFY(f.shell.played.empty());
        QVERIFY(fs::exists(f.temp / "a.mp3"));
    }

    void playAndBrowseUseTheFirstSelectedRow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        LoadWithSounds(f, {{"a.mp3", true}, {"b.wav", false}});
        w.OutputList()->SelectRow(1, false);
        w.OutputList()->SelectRow(0, false);
        w.OnCommand(cmd::Play);
        QCOMPARE(f.shell.files.back(), f.temp / "a.mp3");
        w.OnCommand(cmd::BrowseFolder);
        QCOMPARE(f.shell.shown.back(), f.temp / "a.mp3");
        // Without a Flash player the window says so, and nothing else opens.
        f.shell.playerFound = false;
        w.OnCommand(cmd::PlaySwf);
        QCOMPARE(f.shell.played, std::vector<std::string>{f.temp / "movie.swf"});
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, QStringLiteral("No program to play Flash movies was found."));
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Exclamation);
        QCOMPARE(f.shell.files.size(), size_t(1));

        // Nor does a sound without a program for it, or a folder without a file manager, pass in silence.
        f.shell.soundPlayerFound = false;
        f.shell.fileManagerFound = false;
        w.OnCommand(cmd::Play);
        w.OnCommand(cmd::BrowseFolder);
        w.OnCommand(cmd::BrowseSwfFolder);
        QCOMPARE(f.shell.files.size(), size_t(2));
        QCOMPARE(f.shell.shown.size(), size_t(3));
        QCOMPARE(f.messages.messages.size(), size_t(4));
        QCOMPARE(f.messages.messages[1].text, QStringLiteral("No program to play sound files was found."));
        QCOMPARE(f.messages.messages[2].text, QStringLiteral("No file manager was found."));
        QCOMPARE(f.messages.messages[3].text, QStringLiteral("No file manager was found."));
        for (const RecordedMessage& m : f.messages.messages)
            QCOMPARE(m.icon, MsgIcon::Exclamation);
    }

    void mergeButtonOpensTheMergeWindow()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Clickable with nothing loaded: the window opens with empty lists.
        QString title;
        int movies = -1;
        std::function<void()> whenOpen = [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                QTimer::singleShot(10, this, whenOpen);
                return;
            }
            title = modal->windowTitle();
            movies = modal->findChild<CSortListCtrl*>(QStringLiteral("swfList"))->GetItemCount();
            // The main window's commands wait until it is closed.
            QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
            QTest::keyClick(modal, Qt::Key_Escape);
        };
        QTimer::singleShot(10, this, whenOpen);
        QTest::mouseClick(w.Button(cmd::Merge), Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("Merge MP3"));
        QCOMPARE(movies, 0);
        QVERIFY(f.dialogs.asked.isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(OutputActionsTest)
#include "output_actions_test.moc"
