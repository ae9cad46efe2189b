// Adding movies: the file dialog, the folder search, drops, duplicates, failures.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <QDropEvent>
#include <QPushButton>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "gui_support.h"
#include "support/swf_builder.h"
#include "ui/command_ids.h"
#include "ui/main_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/shell.h"
#include "ui/sort_list.h"

namespace fs = std::filesystem;

namespace {

QStringList Q(const std::vector<std::string>& paths)
{
    QStringList list;
    for (const std::string& p : paths)
        list << QString::fromStdString(p);
    return list;
}

void Drop(CMainDlg& window, const std::vector<std::string>& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& p : paths)
        urls << PathToUrl(p);
    data->setUrls(urls);
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &drop);
    QVERIFY(drop.isAccepted());
    delete data;
}

}  // namespace

class AddingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addSwfAddsInTheDialogsOrder()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string c = MakeMovie(f.temp / "c.swf", 1);
        const std::string a = MakeMovie(f.temp / "a.swf", 2);
        const std::string b = SwfBuilder().Frames(30).Tag(9, "abc").End().WriteTo(f.temp / "b.swf", true);
        f.dialogs.openAnswers.push_back({c, a, b});
        QTest::mouseClick(w.Button(cmd::AddSwf), Qt::LeftButton);
        QCOMPARE(f.dialogs.asked, QStringList{"open Flash Movie Files (*.swf)"});
        QCOMPARE(ColumnTexts(w.SwfList(), 1), (QStringList{"c.swf", "a.swf", "b.swf"}));
        QCOMPARE(ColumnTexts(w.SwfList(), 8), Q({c, a, b}));
        QCOMPARE(ColumnTexts(w.SwfList(), 7), (QStringList{"24", "24", "30"}));
        QCOMPARE(w.Entries().size(), size_t(3));
        QCOMPARE(w.Entries()[1]->path, a);
        QVERIFY(w.Entries()[1]->sounds.empty());
        // Nothing selected, the output list untouched, no message.
        QCOMPARE(w.SwfList()->GetSelectedCount(), 0);
        QVERIFY(f.messages.messages.empty());
        QVERIFY(w.isEnabled());

        // Cancelling the dialog changes nothing.
        w.OnCommand(cmd::AddSwf);
        QCOMPARE(w.SwfList()->GetItemCount(), 3);
    }

    void theOpenDialogStartsInTheLastFolderUsed()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string documents = f.temp / "Documents";
        ScopedEnv xdgDocuments("XDG_DOCUMENTS_DIR", documents);
        const std::string films = f.temp / "films";
        std::filesystem::create_directories(films);
        const std::string movie = MakeMovie(films + "/a.swf", 1);

        // Nothing used yet and no documents folder: home, and no folder is made.
        w.OnCommand(cmd::AddSwf);
        QCOMPARE(f.dialogs.starts.back(), f.temp.Path());
        QVERIFY(!std::filesystem::exists(documents));
        // With one: the documents folder.
        std::filesystem::create_directories(documents);
        f.dialogs.starts.clear();
        f.dialogs.openAnswers.push_back({movie});
        w.OnCommand(cmd::AddSwf);
        // Then the folder the movies came from, also after a cancel.
        w.OnCommand(cmd::AddSwf);
        w.OnCommand(cmd::AddSwf);
        QCOMPARE(f.dialogs.starts, (std::vector<std::string>{documents, films + "/", films + "/"}));

        // A new window starts in the folder last added with Add Folder.
        f.settings.Settings().setValue(QStringLiteral("Options/Folder"), QString::fromStdString(films + "/"));
        CMainDlg again(f.settings.Services());
        again.OnCommand(cmd::AddSwf);
        QCOMPARE(f.dialogs.starts.back(), films + "/");
        // Unless it is gone.
        std::filesystem::remove_all(films);
        again.OnCommand(cmd::AddSwf);
        QCOMPARE(f.dialogs.starts.back(), documents);
    }

    void theFolderDialogStartsAtTheLastFolderOrHome()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Nothing chosen yet: home, never the whole computer.
        w.OnCommand(cmd::AddFolder);
        QCOMPARE(f.dialogs.starts.back(), f.temp.Path());
        // Where movies were chosen with Add SWF.
        const std::string films = f.temp / "films";
        fs::create_directories(films);
        const std::string movie = MakeMovie(films + "/a.swf", 1);
        f.dialogs.openAnswers.push_back({movie});
        w.OnCommand(cmd::AddSwf);
        w.OnCommand(cmd::AddFolder);
        QCOMPARE(f.dialogs.starts.back(), films);
        // The folder last added comes first, unless it is gone.
        const std::string music = f.temp / "music";
        fs::create_directories(music);
        f.dialogs.folderAnswers.push_back(music);
        w.OnCommand(cmd::AddFolder);
        w.OnCommand(cmd::AddFolder);
        QCOMPARE(f.dialogs.starts.back(), music);
        fs::remove_all(music);
        fs::remove_all(films);
        w.OnCommand(cmd::AddFolder);
        QCOMPARE(f.dialogs.starts.back(), f.temp.Path());
    }

    void aTinyMovieIsAddedAsTheCommandLineReadsIt()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // 25 bytes: a header, a frame and its end, shorter than the most a
        // header read takes.
        const std::string tiny = SwfBuilder().Frames(3).Tag(1, "").End().WriteTo(f.temp / "tiny.swf");
        QCOMPARE(fs::file_size(tiny), std::uintmax_t(25));
        WriteFileBytes(f.temp / "short.swf", ReadFileBytes(tiny).substr(0, 15));
        w.AddSwfFiles({tiny, f.temp / "short.swf"}, nullptr);
        QCOMPARE(ColumnTexts(w.SwfList(), 1), QStringList{"tiny.swf"});
        QCOMPARE(w.SwfList()->GetItemText(0, 4), QStringLiteral("550 x 400"));
        QCOMPARE(w.SwfList()->GetItemText(0, 7), QStringLiteral("3"));
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QVERIFY(f.messages.messages[0].text.endsWith(QString::fromStdString(f.temp / "short.swf") + "\n"));
    }

    void duplicatesAreTheSameFileNotTheSameLetters()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string movie = MakeMovie(f.temp / "Intro.swf", 1);
        const std::string lower = MakeMovie(f.temp / "intro.swf", 1);
        fs::create_directories(f.temp / "sub");
        fs::create_symlink(movie, f.temp / "link.swf");
        // The same file by its path, through a link and through "..": one row.
        w.AddSwfFiles({movie, lower, movie, f.temp / "link.swf", f.temp / "sub/../Intro.swf"}, nullptr);
        QCOMPARE(ColumnTexts(w.SwfList(), 8), Q({movie, lower}));
        QVERIFY(f.messages.messages.empty());
        // Once removed, the movie can be added again.
        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::Remove);
        w.AddSwfFiles({f.temp / "link.swf"}, nullptr);
        QCOMPARE(ColumnTexts(w.SwfList(), 8), Q({lower, f.temp / "link.swf"}));
    }

    void unreadableFilesAreReported()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string good = MakeMovie(f.temp / "good.swf", 1);
        const std::string text = f.temp / "notes.swf";
        WriteFileBytes(text, "just some text, no movie");
        const std::string missing = f.temp / "missing.swf";
        w.AddSwfFiles({text, good, missing}, nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 1);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        QCOMPARE(f.messages.messages[0].text, QStringLiteral("Failed to load the following files.\n\n") +
                                                  QString::fromStdString(text + "\n" + missing + "\n"));
        QCOMPARE(f.messages.messages[0].icon, MsgIcon::Exclamation);
    }

    void aLongFailureListScrollsInsideItsBox()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::vector<std::string> paths;
        for (int i = 0; i < 62; ++i)
            paths.push_back(f.temp / ("broken" + std::to_string(i) + ".swf"));
        paths.push_back(f.temp / (std::string(300, 'n') + "_with_a_very_long_name.swf"));
        w.AddSwfFiles(paths, nullptr);
        QCOMPARE(f.messages.messages.size(), size_t(1));
        const QString text = f.messages.messages[0].text;
        QVERIFY(text.startsWith(QStringLiteral("Failed to load the following files.\n\n") +
                                QString::fromStdString(paths[0] + "\n")));
        // Every one of them is named.
        QCOMPARE(text.count(QLatin1Char('\n')), 63 + 2);

        // The desktop's box: a list that scrolls, in a box far from a screen
        // high, whose long names lose their middle, not their end.
        SetMessageHandler({});
        int boxHeight = 0;
        int listed = 0;
        bool scrolls = false;
        bool middle = false;
        QString shownEnd;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box)
                return;
            auto* list = box->findChild<QListWidget*>(QStringLiteral("items"));
            if (list) {
                boxHeight = box->height();
                listed = list->count();
                scrolls = list->verticalScrollBar()->maximum() > 0;
                middle = list->textElideMode() == Qt::ElideMiddle;
                const QString longest = list->item(listed - 1)->text();
                shownEnd = list->fontMetrics().elidedText(longest, list->textElideMode(), list->viewport()->width()).right(4);
            }
            box->accept();
        });
        ShowListMessage(&w, QStringLiteral("Failed to load the following files."), Q(paths), MsgIcon::Exclamation);
        QCOMPARE(listed, 63);
        QVERIFY(scrolls);
        QVERIFY(middle);
        QCOMPARE(shownEnd, QStringLiteral(".swf"));
        QVERIFY2(boxHeight > 100 && boxHeight < 400, qPrintable(QString::number(boxHeight)));
    }

    void addFolderSearchesEveryFolderThenLinks()
    {
        WindowFixture f;
        const std::string root = f.temp / "root";
        const std::string other = f.temp / "elsewhere";
        fs::create_directories(root + "/sub/deeper");
        fs::create_directories(root + "/zz");
        fs::create_directories(other);
        MakeMovie(root + "/a.swf", 1);
        MakeMovie(root + "/sub/s.SWF", 1);
        MakeMovie(root + "/sub/deeper/d.swf", 1);
        MakeMovie(root + "/zz/z.swf", 1);
        WriteFileBytes(root + "/readme.txt", "x");
        const std::string c = MakeMovie(other + "/c.swf", 1);
        WriteFileBytes(other + "/c.txt", "x");
        fs::create_symlink(c, root + "/b.lnk");          // a link to a movie elsewhere
        fs::create_symlink(other + "/c.txt", root + "/t.lnk");  // a link to something else
        fs::create_symlink(root, root + "/sub/loop");    // a link back up: no endless search
        fs::create_symlink(root + "/nowhere", root + "/broken.swf");

        f.settings.Settings().setValue(QStringLiteral("Options/Folder"), QString::fromStdString(root + "/"));
        CMainDlg window(f.settings.Services());
        QCOMPARE(window.Folder(), root + "/");
        f.dialogs.folderAnswers.push_back(root);
        std::vector<QString> progressTexts;
        bool busy = false;
        connect(&window, &CMainDlg::progressStarted, this, [&progressTexts, &busy](CProgressDlg* progress) {
            progressTexts.push_back(progress->Text());
            // The search can't say how far it is: the bar moves to and fro.
            const QProgressBar* bar = progress->findChild<QProgressBar*>();
            busy = bar && bar->minimum() == 0 && bar->maximum() == 0;
        });
        window.show();
        QTest::mouseClick(window.Button(cmd::AddFolder), Qt::LeftButton);

        // The dialog started at the last folder, without its trailing slash.
        QCOMPARE(f.dialogs.asked.last(), QStringLiteral("folder Please choose a folder:|") + QString::fromStdString(root));
        QCOMPARE(f.settings.Settings().value(QStringLiteral("Options/Folder")).toString(),
                 QString::fromStdString(root + "/"));
        QCOMPARE(window.Folder(), root + "/");
        QCOMPARE(ColumnTexts(window.SwfList(), 8),
                 Q({root + "/a.swf", c, root + "/sub/s.SWF", root + "/sub/deeper/d.swf", root + "/zz/z.swf"}));
        QCOMPARE(progressTexts, std::vector<QString>{QStringLiteral("Searching SWF files...")});
        QVERIFY(busy);
        QVERIFY(f.messages.messages.empty());

        // An empty folder tree adds nothing and says nothing.
        fs::create_directories(f.temp / "empty/inner");
        f.dialogs.folderAnswers.push_back(f.temp / "empty");
        window.OnCommand(cmd::AddFolder);
        QCOMPARE(window.SwfList()->GetItemCount(), 5);
        QVERIFY(f.messages.messages.empty());
        QCOMPARE(window.Folder(), f.temp / "empty/");
    }

    void dropsOfFilesFoldersAndLinks()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string folder = f.temp / "dropped";
        fs::create_directories(folder + "/inner");
        MakeMovie(folder + "/x.swf", 1);
        MakeMovie(folder + "/inner/y.swf", 1);
        const std::string single = MakeMovie(f.temp / "single.swf", 1);
        const std::string target = MakeMovie(f.temp / "target.swf", 1);
        const std::string text = f.temp / "notes.txt";
        WriteFileBytes(text, "x");
        fs::create_symlink(target, f.temp / "first.lnk");
        fs::create_symlink(f.temp / "first.lnk", f.temp / "second.lnk");  // a link to a link
        fs::create_symlink(folder, f.temp / "folder.lnk");                 // a link to a folder: ignored
        fs::create_symlink(f.temp / "cycle2", f.temp / "cycle1");
        fs::create_symlink(f.temp / "cycle1", f.temp / "cycle2");

        Drop(w, {text, single, folder, f.temp / "second.lnk", f.temp / "folder.lnk", f.temp / "cycle1"});
        QTRY_COMPARE(w.SwfList()->GetItemCount(), 4);
        QTRY_VERIFY(w.isEnabled());
        QCOMPARE(ColumnTexts(w.SwfList(), 8), Q({single, folder + "/x.swf", folder + "/inner/y.swf", target}));
        QVERIFY(f.messages.messages.empty());

        // Drops that hold no local file are refused.
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://orvellin.example/a.swf"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &web, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&w, &enter);
        QVERIFY(!enter.isAccepted());
    }

    void theSearchRunsBesideTheWindowAndCanBeCancelled()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string root = f.temp / "tree";
        for (int i = 0; i < 40; ++i) {
            for (int j = 0; j < 50; ++j)
                fs::create_directories(root + "/" + std::to_string(i) + "/" + std::to_string(j));
        }
        const std::string first = MakeMovie(root + "/0/0/first.swf", 0);
        const std::string last = MakeMovie(root + "/9/9/last.swf", 0);

        // A timer of this thread runs while the search does, with the window
        // disabled and the progress window up.
        QPointer<CProgressDlg> progress;
        QTimer timer;
        timer.setInterval(0);
        int ticks = 0;
        bool cancel = true;
        bool enabledMeanwhile = false;
        bool progressHidden = false;
        QString afterCancel;
        connect(&w, &CMainDlg::progressStarted, this, [&](CProgressDlg* shown) {
            progress = shown;
            timer.start();
        });
        connect(&timer, &QTimer::timeout, this, [&] {
            if (!progress || !progress->Text().startsWith(QLatin1String("Searching SWF files...")))
                return;
            ++ticks;
            enabledMeanwhile |= w.isEnabled();
            progressHidden |= !progress->isVisible();
            if (cancel) {
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
                afterCancel = progress->Text();
            }
        });
        f.dialogs.folderAnswers.push_back(root);
        w.OnCommand(cmd::AddFolder);
        QVERIFY(ticks > 0);
        QVERIFY(!enabledMeanwhile);
        QVERIFY(!progressHidden);
        QCOMPARE(afterCancel, QStringLiteral("Cancelling..."));
        // A cancelled search adds nothing, and the window is back.
        QCOMPARE(w.SwfList()->GetItemCount(), 0);
        QVERIFY(w.isEnabled());
        QVERIFY(!w.IsBusy());
        QVERIFY(f.messages.messages.empty());

        cancel = false;
        ticks = 0;
        f.dialogs.folderAnswers.push_back(root);
        w.OnCommand(cmd::AddFolder);
        timer.stop();
        QVERIFY(ticks > 0);
        QCOMPARE(ColumnTexts(w.SwfList(), 8), Q({first, last}));
        QVERIFY(w.isEnabled());
    }

    void namesThatAreNotUtf8AreKeptAsBytes()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        // Latin-1, as old archives from other systems have them.
        const std::string folder = f.temp / "caf\xe9";
        fs::create_directories(folder);
        const std::string movie = MakeMovie(folder + "/d\xe9j\xe0.swf", 1);
        Drop(w, {folder});
        QTRY_COMPARE(w.SwfList()->GetItemCount(), 1);
        QTRY_VERIFY(w.isEnabled());
        QCOMPARE(w.Entries()[0]->path, movie);
        // Shown with the bytes that are no UTF-8 visibly replaced.
        QCOMPARE(w.SwfList()->GetItemText(0, 1), QStringLiteral("d\uFFFDj\uFFFD.swf"));

        w.SwfList()->SelectRow(0, true);
        w.OnCommand(cmd::ConvertAllWav);
        QCOMPARE(w.SwfList()->GetItemText(0, 2), QStringLiteral("1 Sound(s)"));
        const std::string sound = w.Entries()[0]->sounds.front().path;
        QVERIFY(sound.starts_with(folder + "/d\xe9j\xe0"));
        QVERIFY(fs::exists(sound));

        // Every command hands the desktop the very bytes.
        w.OnCommand(cmd::PlaySwf);
        QCOMPARE(f.shell.played, std::vector<std::string>{movie});
        w.OnCommand(cmd::BrowseSwfFolder);
        QCOMPARE(f.shell.shown, std::vector<std::string>{movie});
        w.OutputList()->SelectRow(0, true);
        w.OnCommand(cmd::Play);
        w.OnCommand(cmd::BrowseFolder);
        QCOMPARE(f.shell.files, std::vector<std::string>{sound});
        QCOMPARE(f.shell.shown.back(), sound);
        QCOMPARE(UrlToPath(PathToUrl(sound)), sound);

        // The dialogs take and give the same bytes: Save As proposes the
        // sound's own name and writes the name chosen.
        const std::string copy = folder + "/copie \xe9.wav";
        f.dialogs.saveAnswers.push_back(copy);
        w.OnCommand(cmd::SaveAs);
        QCOMPARE(f.dialogs.starts.back(), sound);
        QCOMPARE(ReadFileBytes(copy), ReadFileBytes(sound));
        const std::string second = MakeMovie(folder + "/\xe9t\xe9.swf", 1);
        f.dialogs.openAnswers.push_back({second});
        w.OnCommand(cmd::AddSwf);
        QCOMPARE(w.Entries().back()->path, second);
        w.OnCommand(cmd::AddSwf);
        QCOMPARE(f.dialogs.starts.back(), folder + "/");
        f.dialogs.folderAnswers.push_back(folder);
        w.OnCommand(cmd::AddFolder);
        QTRY_VERIFY(w.isEnabled());
        QCOMPARE(w.Folder(), folder + "/");
        QCOMPARE(w.SwfList()->GetItemCount(), 2);
        w.OnCommand(cmd::AddFolder);
        QCOMPARE(f.dialogs.starts.back(), folder);
        QVERIFY(f.messages.messages.empty());
    }

    void cancelKeepsWhatWasAdded()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        std::vector<std::string> paths;
        for (int i = 0; i < 10; ++i)
            paths.push_back(MakeMovie(f.temp / ("m" + std::to_string(i) + ".swf"), 0));
        QString textAtCancel;
        connect(f.window.get(), &CMainDlg::progressStarted, this, [&textAtCancel](CProgressDlg* progress) {
            connect(progress, &CProgressDlg::stepped, progress, [progress, &textAtCancel](int pos) {
                if (pos == 3) {
                    textAtCancel = progress->Text();
                    QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
                }
            });
        });
        w.AddSwfFiles(paths, nullptr);
        QCOMPARE(textAtCancel, QStringLiteral("Adding file 3 of 10..."));
        QCOMPARE(w.SwfList()->GetItemCount(), 3);
        QVERIFY(w.isEnabled());
    }

    void manyMoviesAddQuickly()
    {
        WindowFixture f;
        CMainDlg& w = *f.window;
        const std::string movie = ReadFileBytes(MakeMovie(f.temp / "model.swf", 0));
        std::vector<std::string> paths;
        for (int i = 0; i < 3000; ++i) {
            paths.push_back(f.temp / ("many" + std::to_string(i) + ".swf"));
            WriteFileBytes(paths.back(), movie);
        }
        w.AddSwfFiles(paths, nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 3000);
        // Adding them all again finds every one already listed.
        w.AddSwfFiles(paths, nullptr);
        QCOMPARE(w.SwfList()->GetItemCount(), 3000);
        QCOMPARE(w.SwfList()->GetItemText(2999, 0), QStringLiteral("3000"));
    }
};

QTEST_MAIN(AddingTest)
#include "adding_test.moc"
