// Where the help window finds its pages, and the pages themselves: every link
// leads somewhere and the compiled-in copy is the source tree's.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <filesystem>

#include "gui_support.h"
#include "ui/help_window.h"
#include "ui/main_dlg.h"

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QString SourceHelp()
{
    return QStringLiteral(ORVELLIN_TEST_SOURCE_HELP_DIR);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Pages()
{
    return QDir(SourceHelp()).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
}

// The text a reader sees, tags removed and entities of the pages decoded.
QString PlainText(const QString& page)
{
    QTextBrowser browser;
    browser.setSource(QUrl::fromLocalFile(QDir(SourceHelp()).filePath(page)));
    return browser.toPlainText();
}

}  // namespace

class HelpPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theAskedFolderComesFirstThenTheInstalledPagesThenTheCopyInside()
    {
        TempDir temp;
        const std::string bin = temp / "usr/bin";
        const std::string installed = temp / "usr/share/orvellin/help";
        const std::string asked = temp / "src/resources/help";
        fs::create_directories(bin);
        fs::create_directories(installed);
        fs::create_directories(asked);

        // Nothing anywhere: the pages compiled into the program.
        QCOMPARE(ChooseHelpStartPage(Q(asked), Q(bin + "/")), QUrl(QStringLiteral("qrc:/help/index.html")));
        QCOMPARE(ChooseHelpStartPage(QString(), QString()), QUrl(QStringLiteral("qrc:/help/index.html")));
        // A help folder without its first page does not count.
        WriteFileBytes(installed + "/adding.html", "<p>partial</p>");
        QCOMPARE(ChooseHelpStartPage(Q(asked), Q(bin + "/")), QUrl(QStringLiteral("qrc:/help/index.html")));
        WriteFileBytes(installed + "/index.html", "<p>installed</p>");
        QCOMPARE(ChooseHelpStartPage(Q(asked), Q(bin + "/")), QUrl::fromLocalFile(Q(installed + "/index.html")));
        QCOMPARE(ChooseHelpStartPage(QString(), Q(bin)), QUrl::fromLocalFile(Q(installed + "/index.html")));
        // Pages asked for by name win over the installed ones.
        WriteFileBytes(asked + "/index.html", "<p>asked</p>");
        QCOMPARE(ChooseHelpStartPage(Q(asked), Q(bin + "/")), QUrl::fromLocalFile(Q(asked + "/index.html")));
        QCOMPARE(ChooseHelpStartPage(Q(asked), QString()), QUrl::fromLocalFile(Q(asked + "/index.html")));
        QCOMPARE(ChooseHelpStartPage(Q(temp / "nowhere"), Q(temp / "elsewhere/")),
                 QUrl(QStringLiteral("qrc:/help/index.html")));
    }

    void aProgramInItsBuildTreeShowsTheCopyInsideOrThePagesItIsPointedAt()
    {
        // The test program lies in the build tree, where nothing is installed,
        // and knows nothing of the source tree unless told.
        qunsetenv("ORVELLIN_HELP_DIR");
        QCOMPARE(HelpStartPage(), QUrl(QStringLiteral("qrc:/help/index.html")));
        qputenv("ORVELLIN_HELP_DIR", SourceHelp().toLocal8Bit());
        QCOMPARE(HelpStartPage(), QUrl::fromLocalFile(QDir(SourceHelp()).filePath(QStringLiteral("index.html"))));

        WindowFixture f;
        f.window->OnCommand(57670);
        CHelpWindow* help = f.window->HelpWindow();
        QVERIFY(help);
        QCOMPARE(help->Browser()->source(), HelpStartPage());
        // Pages link to each other as files, and Contents leads back.
        help->Browser()->setSource(QUrl(QStringLiteral("merging.html")));
        QVERIFY(help->Browser()->toPlainText().contains(QStringLiteral("Merge MP3")));
        QVERIFY(f.shell.opened.empty());
        qunsetenv("ORVELLIN_HELP_DIR");
    }

    void theCopyInsideIsTheSourceTreesPages()
    {
        Q_INIT_RESOURCE(orvellin);
        const QStringList pages = Pages();
        QVERIFY(pages.contains(QStringLiteral("index.html")));
        for (const QString& page : pages + QStringList{QStringLiteral("help.css")}) {
            const QByteArray inside = ReadAll(QStringLiteral(":/help/") + page);
            QVERIFY2(!inside.isEmpty(), qPrintable(page));
            QCOMPARE(inside, ReadAll(QDir(SourceHelp()).filePath(page)));
        }
    }

    void everyPictureIsThereAndInside()
    {
        Q_INIT_RESOURCE(orvellin);
        const QRegularExpression picture(QStringLiteral("<img src=\"([^\"]+)\""));
        int pictures = 0;
        for (const QString& page : Pages()) {
            const QString html = QString::fromUtf8(ReadAll(QDir(SourceHelp()).filePath(page)));
            for (const QRegularExpressionMatch& m : picture.globalMatch(html)) {
                const QByteArray image = ReadAll(QDir(SourceHelp()).filePath(m.captured(1)));
                QVERIFY2(!image.isEmpty(), qPrintable(page + " -> " + m.captured(1)));
                QCOMPARE(ReadAll(QStringLiteral(":/help/") + m.captured(1)), image);
                ++pictures;
            }
        }
        QVERIFY(pictures > 0);
    }

    void everyLinkLeadsToAPage()
    {
        const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)(#[^\"]*)?\""));
        QStringList linked;
        for (const QString& page : Pages()) {
            const QString html = QString::fromUtf8(ReadAll(QDir(SourceHelp()).filePath(page)));
            QVERIFY2(html.contains(QStringLiteral("<title>")), qPrintable(page));
            for (const QRegularExpressionMatch& m : link.globalMatch(html)) {
                const QString target = m.captured(1);
                QVERIFY2(QFile::exists(QDir(SourceHelp()).filePath(target)), qPrintable(page + " -> " + target));
                linked << target;
            }
        }
        // Every page can be reached from the contents.
        const QString index = QString::fromUtf8(ReadAll(QDir(SourceHelp()).filePath(QStringLiteral("index.html"))));
        for (const QString& page : Pages()) {
            if (page != QLatin1String("index.html"))
                QVERIFY2(index.contains(QStringLiteral("href=\"%1\"").arg(page)), qPrintable(page));
        }
    }

    void thePagesTellWhatTheProgramDoes()
    {
        const QString converting = PlainText(QStringLiteral("converting.html"));
        for (const char* fact : {"Orvellin_Files", "never replaced", "NAME.mp3", "NAME_001.mp3"})
            QVERIFY2(converting.contains(QLatin1String(fact)), fact);
        const QString merging = PlainText(QStringLiteral("merging.html"));
        for (const char* fact : {"Merge MP3", "Add MP3", "Add All MP3", "Up", "Down", "different encoding"})
            QVERIFY2(merging.contains(QLatin1String(fact)), fact);
        // Every type a conversion gives, where the window's buttons and lists are described.
        const QString commands = PlainText(QStringLiteral("commands.html"));
        for (const char* fact : {"Convert to FLAC", "Keep as Stored", "Convert All to FLAC", "Keep All as Stored"})
            QVERIFY2(commands.contains(QLatin1String(fact)), fact);
        QVERIFY(PlainText(QStringLiteral("sounds.html")).contains(QLatin1String("MP3, WAV or FLAC")));
        for (const char* fact : {"FLAC", "Keep as Stored", "NAME.flac"})
            QVERIFY2(converting.contains(QLatin1String(fact)), fact);
        const QString desktopEntry = QString::fromUtf8(ReadAll(QDir(SourceHelp()).filePath(QStringLiteral("../orvellin.desktop"))));
        QVERIFY(desktopEntry.contains(QLatin1String("MP3, WAV or FLAC")));
        // And that the window can be made larger.
        QVERIFY(PlainText(QStringLiteral("index.html")).contains(QLatin1String("Drag its edges")));
        const QString line = PlainText(QStringLiteral("command-line.html"));
        for (const char* fact : {"orvellin [/mp3 | /wav | /keep | /flac] FILE.swf... [/m]", "--jobs=N", "ORVELLIN_JOBS", "--help",
                                 "--version", "orvellin /m", "standard output", "every movie converted",
                                 "at least one movie failed"})
            QVERIFY2(line.contains(QLatin1String(fact)), fact);
    }
};

QTEST_MAIN(HelpPagesTest)
#include "help_pages_test.moc"
