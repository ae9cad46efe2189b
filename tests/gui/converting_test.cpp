// The conversion commands with the real job.
#include <QAbstractButton>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "gui_support.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "ui/command_ids.h"
#include "ui/main_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/sort_list.h"

namespace fs = std::filesystem;

class ConvertingTest : public QObject {
    Q_OBJECT

private:
    static CSwfEntry* EntryOf(CMainDlg& w, int row) { return static_cast<CSwfEntry*>(w.SwfList()->GetItemData(row)); }

private Q_SLOTS:
    void convertAllWritesStatusesAndShowsTheFirstMovie()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string two = MakeMovie(f.temp / "two.swf", 2);
        const std::string none = MakeMovie(f.temp / "none.swf", 0);
        const std::string one = MakeMovie(f.temp / "one.swf", 1);
        w.AddSwfFiles({two, none, one}, nullptr);

        std::vector<QString> lines;
        connect(f.window.get(), &CMainDlg::progressStarted, this, [&lines](CProgressDlg* progress) {
            connect(progress, &CProgressDlg::stepped, progress,
                    [progress, &lines](int) { lines.push_back(progress->Text()); });
        });
        QTest::mouseClick(w.Button(cmd::ConvertAllMp3), Qt::LeftButton);

        QCOMPARE(lines, (std::vector<QString>{"[1/3] Converting two.swf...", "[2/3] Converting none.swf...",
                                              "[3/3] Converting one.swf..."}));
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"2 Sound(s)", "0 Sound(s)", "1 Sound(s)"}));
        QVERIFY(w.isEnabled());
        // No row was selected: the first is now, and its sounds are listed.
        QCOMPARE(w.SwfList()->GetFirstSelected(), 0);
        QVERIFY(w.SwfList()->hasFocus() || !w.isActiveWindow());
        QCOMPARE(w.OutputList()->GetItemCount(), 2);
        QCOMPARE(w.Mp3Count(), 2);
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"MP3", "MP3"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 1), (QStringList{"two_001.mp3", "two_002.mp3"}));
        QVERIFY(fs::exists(f.temp / "two_001.mp3"));
        QVERIFY(fs::exists(f.temp / "one.mp3"));
        QCOMPARE(EntryOf(w, 2)->sounds.size(), size_t(1));

        // The movie without sounds shows an empty output list.
        w.SwfList()->SelectRow(1, true);
        QCOMPARE(w.OutputList()->GetItemCount(), 0);
        QCOMPARE(w.Mp3Count(), 0);
    }

    void convertSelectedNeedsASelectionAndConvertAllAMovie()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        w.OnCommand(cmd::ConvertAllMp3);
        w.OnCommand(cmd::ConvertAllWav);
        QCOMPARE(f.messages.messages.size(), size_t(2));
        QCOMPARE(f.messages.messages[0].text, QStringLiteral("There aren't SWF files in SWF list."));
        w.AddSwfFiles({MakeMovie(f.temp / "m.swf", 1)}, nullptr);
        w.OnCommand(cmd::ConvertMp3);
        w.OnCommand(cmd::ConvertWav);
        QCOMPARE(f.messages.messages.size(), size_t(4));
        QCOMPARE(f.messages.messages[2].text, QStringLiteral("You should select a SWF file first."));
        QCOMPARE(f.messages.messages[3].icon, MsgIcon::Information);
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QString());
    }

    void reconvertingDeletesTheEarlierFiles()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        w.AddSwfFiles({MakeMovie(f.temp / "m.swf", 2), MakeMovie(f.temp / "other.swf", 1)}, nullptr);
        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::ConvertWav);
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QStringLiteral("2 Sound(s)"));
        QCOMPARE(w.SwfList()->GetItemText(1, 2), QString());
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"WAV", "WAV"}));
        QCOMPARE(w.Mp3Count(), 0);
        QVERIFY(fs::exists(f.temp / "m_001.wav"));

        w.OnCommand(cmd::ConvertMp3);
        QVERIFY(!fs::exists(f.temp / "m_001.wav"));
        QVERIFY(!fs::exists(f.temp / "m_002.wav"));
        QVERIFY(fs::exists(f.temp / "m_001.mp3"));
        // Listed once and counted once.
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"MP3", "MP3"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 0), (QStringList{"1", "2"}));
        QCOMPARE(w.Mp3Count(), 2);
        QCOMPARE(w.ShownEntry(), EntryOf(w, 0));
        QCOMPARE(EntryOf(w, 0)->sounds.size(), size_t(2));
    }

    void failureIsWrittenAndTheBatchGoesOn()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string doomed = MakeMovie(f.temp / "doomed.swf", 1);
        // A compressed movie whose header reads but whose body is cut short.
        std::string noise(6000, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 7919) >> 3 ^ i * 131);
        const std::string whole = SwfBuilder().Tag(2, noise).End().Build(true);
        WriteFileBytes(f.temp / "cut.swf", whole.substr(0, whole.size() / 2));
        w.AddSwfFiles({doomed, MakeMovie(f.temp / "fine.swf", 1), f.temp / "cut.swf"}, nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 3);
        fs::remove(doomed);
        w.OnCommand(cmd::ConvertAllWav);
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"Failure", "1 Sound(s)", "Failure"}));
        QVERIFY(f.messages.messages.empty());
        // Why, in the words of the command line, where the mouse rests on the status.
        QCOMPARE(w.SwfList()->CellToolTip(0, 2), QStringLiteral("not a regular file that can be read"));
        QCOMPARE(w.SwfList()->CellToolTip(1, 2), QString());
        QCOMPARE(w.SwfList()->CellToolTip(2, 2), QStringLiteral("the body is damaged or cut short"));
        QVERIFY(!w.SwfList()->topLevelItem(0)->icon(2).isNull());
        QVERIFY(w.SwfList()->topLevelItem(1)->icon(2).isNull());
        // A conversion that goes whole afterwards leaves no reason behind.
        MakeMovie(doomed, 1);
        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::ConvertWav);
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QStringLiteral("1 Sound(s)"));
        QCOMPARE(w.SwfList()->CellToolTip(0, 2), QString());
        QVERIFY(w.SwfList()->topLevelItem(0)->icon(2).isNull());
    }

    void lostSoundsShowInTheStatusAndCodedFormatsByName()
    {
        // A sound of no known format beside a PCM one and a Nellymoser one;
        // a movie of nothing but lost sounds fails.
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::string noise(128, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>(i * 37);
        SwfBuilder mixed;
        mixed.Tag(kTagDefineSound, DefineSound(1, 9, 1, true, false, 10, "????"))
            .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 100, std::string(100, '\x80')))
            .Tag(kTagDefineSound, DefineSound(3, 6, 1, true, false, 512, noise))
            .End();
        SwfBuilder lost;
        lost.Tag(kTagDefineSound, DefineSound(1, 12, 1, true, false, 10, "????")).End();
        w.AddSwfFiles({mixed.WriteTo(f.temp / "mixed.swf"), lost.WriteTo(f.temp / "lost.swf")}, nullptr);
        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::ConvertAllWav);
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"2 of 3 Sound(s)", "Failure"}));
        QCOMPARE(w.SwfList()->CellToolTip(0, 2), QStringLiteral("1 of 3 sounds lost"));
        QCOMPARE(w.SwfList()->CellToolTip(1, 2), QStringLiteral("none of its sounds could be written"));
        // The lost sound has a row of its own, after the files, that says
        // which it was and why, and that no command can act on.
        CSortListCtrl* out = w.OutputList();
        QCOMPARE(ColumnTexts(out, 2), (QStringList{"WAV", "WAV (Nellymoser)", "format 9"}));
        QCOMPARE(ColumnTexts(out, 1), (QStringList{"mixed_001.wav", "mixed_002.wav", "Sound 1 (lost)"}));
        QCOMPARE(ColumnTexts(out, 0), (QStringList{"1", "2", "3"}));
        const QString why = QStringLiteral("lost: format 9 is no known sound format");
        QCOMPARE(out->GetItemText(2, 7), why);
        QCOMPARE(out->CellToolTip(2, 3), why);
        QVERIFY(!(out->topLevelItem(2)->flags() & Qt::ItemIsSelectable));
        QVERIFY(!out->topLevelItem(2)->icon(1).isNull());
        QVERIFY(out->topLevelItem(0)->icon(1).isNull());
        QCOMPARE(out->GetItemData(2), nullptr);
        out->selectAll();
        QCOMPARE(out->GetSelectedRows(), (std::vector<int>{0, 1}));
        QCOMPARE(w.Mp3Count(), 0);
        // The movie that lost all its sounds lists them all.
        w.SwfList()->clearSelection();
        w.SwfList()->SelectRow(1, true);
        QCOMPARE(ColumnTexts(out, 1), QStringList{"Sound 1 (lost)"});
        QCOMPARE(ColumnTexts(out, 2), QStringList{"format 12"});
    }

    void aSoundLeftInAnotherTypeIsMarked()
    {
        // MP3 data that decode to nothing stay MP3 when WAV is asked for.
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::string junk = std::string("\0\0", 2) + std::string(400, '\x55');
        SwfBuilder movie;
        movie.Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 1152, junk))
            .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 100, std::string(100, '\x80')))
            .End();
        w.AddSwfFiles({movie.WriteTo(f.temp / "odd.swf")}, nullptr);
        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::ConvertWav);
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QStringLiteral("1 of 2 Sound(s)"));
        CSortListCtrl* out = w.OutputList();
        QCOMPARE(ColumnTexts(out, 2), (QStringList{"MP3", "WAV"}));
        const QString why = QStringLiteral("lost: its file could not be converted to the chosen type");
        QCOMPARE(out->CellToolTip(0, 1), why);
        QVERIFY(!out->topLevelItem(0)->icon(1).isNull());
        QVERIFY(out->topLevelItem(0)->flags() & Qt::ItemIsSelectable);
        QCOMPARE(out->CellToolTip(1, 1), QString());
        // Its mark follows it through a sort and goes with its file.
        out->SortByColumn(2);
        QCOMPARE(ColumnTexts(out, 2), (QStringList{"MP3", "WAV"}));
        out->SortByColumn(2);
        QCOMPARE(out->CellToolTip(1, 1), why);
        out->clearSelection();
        out->SelectRow(1, true);
        w.OnCommand(cmd::Delete);
        QVERIFY(EntryOf(w, 0)->notes.empty());
    }

    void flacAndKeepListTheirFilesWithEmbeddedMoviesSounds()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::string noise(128, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>(i * 37);
        const std::string mp3 = Mp3Bytes(TestTone(2000, false, 22050), false, 22050);
        SwfBuilder inner;
        inner.Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 2000, U16(0) + mp3)).End();
        SwfBuilder movie;
        movie.Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 100, std::string(100, '\x80')))
            .Tag(kTagDefineSound, DefineSound(3, 6, 1, true, false, 512, noise))
            .Tag(kTagDefineBinaryData, BinaryData(9, inner.Build(true)))
            .End();
        w.AddSwfFiles({movie.WriteTo(f.temp / "m.swf")}, nullptr);
        w.SwfList()->SelectRow(0, true);
        // The buttons offer every type, not only the menus.
        QTest::mouseClick(w.Button(cmd::ConvertAllFlac), Qt::LeftButton);
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"3 Sound(s)"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"FLAC", "FLAC (Nellymoser)", "FLAC"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 1), (QStringList{"m_001.flac", "m_002.flac", "m_003.flac"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 4), (QStringList{"8", "16", "16"}));
        QCOMPARE(w.Mp3Count(), 0);

        // Kept as stored, the embedded MP3 is an MP3 again and the FLAC files go.
        QTest::mouseClick(w.Button(cmd::ConvertAllKeep), Qt::LeftButton);
        QCOMPARE(ColumnTexts(w.OutputList(), 2), (QStringList{"WAV", "WAV (Nellymoser)", "MP3"}));
        QCOMPARE(ColumnTexts(w.OutputList(), 1), (QStringList{"m_001.wav", "m_002.wav", "m_003.mp3"}));
        QCOMPARE(w.Mp3Count(), 1);
        QVERIFY(!fs::exists(f.temp / "m_001.flac"));
        QCOMPARE(ReadFileBytes(f.temp / "m_003.mp3"), mp3);
    }

    void statusesFollowTheirMoviesAfterSorting()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::vector<std::string> paths = {MakeMovie(f.temp / "b.swf", 1), MakeMovie(f.temp / "c.swf", 3),
                                          MakeMovie(f.temp / "a.swf", 2)};
        w.AddSwfFiles(paths, nullptr);
        w.SwfList()->SortByColumn(1);
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"a.swf", "b.swf", "c.swf"}));
        std::vector<QString> order;
        connect(f.window.get(), &CMainDlg::progressStarted, this, [&order](CProgressDlg* progress) {
            connect(progress, &CProgressDlg::stepped, progress,
                    [progress, &order](int) { order.push_back(progress->Text()); });
        });
        w.SwfList()->SelectRow(2, true);
        w.OnCommand(cmd::ConvertAllMp3);
        // Converted in the order added, each status in its own row.
        QCOMPARE(order, (std::vector<QString>{"[1/3] Converting b.swf...", "[2/3] Converting c.swf...",
                                              "[3/3] Converting a.swf..."}));
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"2 Sound(s)", "1 Sound(s)", "3 Sound(s)"}));
        // The selected movie (c.swf) is the one listed below, once.
        QCOMPARE(w.SwfList()->GetFirstSelected(), 2);
        QCOMPARE(w.OutputList()->GetItemCount(), 3);
        QCOMPARE(w.Mp3Count(), 3);
        QCOMPARE(w.OutputList()->GetItemText(0, 1), QStringLiteral("c_001.mp3"));
    }

    void cancelDuringTheSecondOfFiveMovies()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::vector<std::string> paths;
        for (int i = 1; i <= 5; ++i)
            paths.push_back(MakeMovie(f.temp / ("m" + std::to_string(i) + ".swf"), 1));
        w.AddSwfFiles(paths, nullptr);
        // An earlier conversion of movie 4 must survive the cancelled batch.
        w.SwfList()->SelectRow(3, true);
        w.OnCommand(cmd::ConvertWav);
        QCOMPARE(w.SwfList()->GetItemText(3, 2), QStringLiteral("1 Sound(s)"));
        const QStringList before = ColumnTexts(w.SwfList(), 2);

        QPointer<CProgressDlg> seen;
        connect(f.window.get(), &CMainDlg::progressStarted, this, [&seen](CProgressDlg* progress) {
            seen = progress;
            connect(progress, &CProgressDlg::stepped, progress, [progress](int pos) {
                if (pos == 2)
                    QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
            });
        });
        w.SwfList()->clearSelection();
        w.OnCommand(cmd::ConvertAllMp3);
        QCOMPARE(ColumnTexts(w.SwfList(), 2).mid(0, 2), (QStringList{"1 Sound(s)", "1 Sound(s)"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 2).mid(2), before.mid(2));
        QVERIFY(fs::exists(f.temp / "m2.mp3"));
        QVERIFY(!fs::exists(f.temp / "m3.mp3"));
        QVERIFY(fs::exists(f.temp / "m4.wav"));
        QVERIFY(EntryOf(w, 2)->sounds.empty());
        QCOMPARE(EntryOf(w, 3)->sounds.front().isMp3, 0u);
        QVERIFY(w.isEnabled());
        QTRY_VERIFY(!seen);

        // Cancelled before the selected movie: it still lists its earlier sounds.
        w.SwfList()->SelectRow(3, true);
        w.OnCommand(cmd::ConvertAllWav);
        QCOMPARE(w.SwfList()->GetFirstSelected(), 3);
        QCOMPARE(w.OutputList()->GetItemCount(), 1);
        QCOMPARE(w.OutputList()->GetItemText(0, 2), QStringLiteral("WAV"));
    }

    void closingDuringAConversionIsRefused()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        w.AddSwfFiles({MakeMovie(f.temp / "m.swf", 1), MakeMovie(f.temp / "n.swf", 1)}, nullptr);
        bool refused = false;
        connect(f.window.get(), &CMainDlg::progressStarted, this, [&w, &refused](CProgressDlg* progress) {
            connect(progress, &CProgressDlg::stepped, progress, [&w, &refused](int pos) {
                if (pos == 1) {
                    QVERIFY(w.IsBusy());
                    QVERIFY(!w.isEnabled());
                    refused = !w.close();
                }
            });
        });
        w.OnCommand(cmd::ConvertAllMp3);
        QVERIFY(refused);
        QVERIFY(w.isVisible());
        QCOMPARE(ColumnTexts(w.SwfList(), 2), (QStringList{"1 Sound(s)", "1 Sound(s)"}));
    }

    void saveSoundtrackWritesTheTypeNamedAndCancelLeavesNothing()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Five minutes of frames, each starting a short tick.
        SwfBuilder b;
        b.Tag(kTagDefineSound, DefineSound(1, 3, 3, true, false, 4, std::string(8, '\x10')));
        for (int frame = 0; frame < 3600; ++frame)
            b.Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "");
        const std::string movie = b.End().WriteTo(f.temp / "cartoon.swf");
        const std::string silent = MakeMovie(f.temp / "silent.swf", 1);
        w.AddSwfFiles({movie, silent}, nullptr);
        w.SwfList()->SelectRow(0, true);

        // The type follows the name chosen; the proposal is beside the movie.
        f.dialogs.saveAnswers.push_back(f.temp / "track.flac");
        w.OnCommand(cmd::SaveSoundtrack);
        QCOMPARE(f.dialogs.starts.back(), f.temp / "cartoon_soundtrack.wav");
        QCOMPARE(ReadFileBytes(f.temp / "track.flac").substr(0, 4), std::string("fLaC"));
        QVERIFY(w.isEnabled());
        QVERIFY(f.messages.messages.empty());

        // Cancel as soon as the progress shows: no file, and no word of failure.
        QMetaObject::Connection cancelling =
            connect(f.window.get(), &CMainDlg::progressStarted, this, [](CProgressDlg* progress) {
                QTimer::singleShot(0, progress->CancelButton(), [progress] { progress->CancelButton()->click(); });
            });
        f.dialogs.saveAnswers.push_back(f.temp / "cancelled.wav");
        w.OnCommand(cmd::SaveSoundtrack);
        disconnect(cancelling);
        QVERIFY(!fs::exists(f.temp / "cancelled.wav"));
        QVERIFY(f.messages.messages.empty());
        for (const auto& entry : fs::directory_iterator(f.temp.Path()))
            QVERIFY2(entry.path().extension() != ".part", entry.path().c_str());

        // A movie whose sounds no timeline starts says so.
        w.SwfList()->SelectRow(1, true);
        f.dialogs.saveAnswers.push_back(f.temp / "none.wav");
        w.OnCommand(cmd::SaveSoundtrack);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QVERIFY(f.messages.messages[0].text.contains(QStringLiteral("no timeline sound")));
        QVERIFY(!fs::exists(f.temp / "none.wav"));

        // A movie cut short in its frames: saved, and said to be incomplete.
        WriteFileBytes(f.temp / "cut.swf", ReadFileBytes(movie).substr(0, 1000));
        w.AddSwfFiles({f.temp / "cut.swf"}, nullptr);
        w.SwfList()->SelectRow(2, true);
        f.dialogs.saveAnswers.push_back(f.temp / "cut.wav");
        w.OnCommand(cmd::SaveSoundtrack);
        QVERIFY(fs::exists(f.temp / "cut.wav"));
        QCOMPARE(f.messages.messages.size(), size_t(2));
        QVERIFY(f.messages.messages[1].text.contains(QStringLiteral("cut short")));

        // What it lists and can't mix is shown with it, names escaped.
        SwfBuilder listed;
        listed.Tag(kTagDefineSound, DefineSound(1, 3, 3, true, false, 4, std::string(8, '\x10')))
            .Tag(kTagDefineSound, DefineSound(2, 3, 3, true, false, 4, std::string(8, '\x10')))
            .Tag(kTagExportAssets, U16(1) + U16(2) + "tick\xE9" + '\0')
            .Tag(kTagDoAbc, "abc")
            .Tag(kTagStartSound, StartSound(1))
            .Tag(kTagShowFrame, "")
            .End();
        w.AddSwfFiles({listed.WriteTo(f.temp / "listed.swf")}, nullptr);
        w.SwfList()->SelectRow(3, true);
        f.dialogs.saveAnswers.push_back(f.temp / "listed.wav");
        w.OnCommand(cmd::SaveSoundtrack);
        QVERIFY(fs::exists(f.temp / "listed.wav"));
        QCOMPARE(f.messages.messages.size(), size_t(3));
        const QString& shown = f.messages.messages[2].text;
        QVERIFY2(shown.contains(QStringLiteral("not heard: sound 2 no timeline starts (tick\\xE9)")), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("scripts present")));
        QCOMPARE(f.messages.messages[2].icon, MsgIcon::Information);
    }
};

QTEST_MAIN(ConvertingTest)
#include "converting_test.moc"
