// The desktop's programs for Flash movies: found through the XDG association
// lists and entries, this program passed over, the movie's name passed as its
// exact bytes.
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "support/temp_dir.h"
#include "ui/desktop_apps.h"
#include "ui/hooks.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSwfType = "application/x-shockwave-flash";

void WriteScript(const std::string& path, const std::string& body)
{
    WriteFileBytes(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

}  // namespace

class DesktopAppsTest : public QObject {
    Q_OBJECT

    TempDir m_temp;
    std::string m_apps;     // the user's application folder
    std::string m_sysApps;  // the system's

private Q_SLOTS:
    void init()
    {
        for (const char* folder : {"config", "data/applications", "sys/applications/vendor", "bin"})
            fs::create_directories(m_temp / folder);
        m_apps = m_temp / "data/applications";
        m_sysApps = m_temp / "sys/applications";
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_temp / "config"));
        qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(m_temp / "none"));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_temp / "data"));
        qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(m_temp / "sys"));
        qunsetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", QByteArray::fromStdString(m_temp / "bin") + ":/usr/bin:/bin");

        // This program's entry claims movies and is the user's default.
        WriteScript(m_temp / "bin/orvellin", "exit 0\n");
        WriteFileBytes(m_apps + "/orvellin.desktop",
                       "[Desktop Entry]\nType=Application\nName=Orvellin\nExec=orvellin --open %F\n"
                       "MimeType=application/x-shockwave-flash;\n");
        WriteFileBytes(m_temp / "config/mimeapps.list",
                       "[Default Applications]\napplication/x-shockwave-flash=orvellin.desktop;vendor-player.desktop\n");
        // A player in a vendor's subfolder writes its arguments, one a line.
        WriteScript(m_temp / "bin/player", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                               (m_temp / "played.part") + "\"\nmv \"" + (m_temp / "played.part") +
                                               "\" \"" + (m_temp / "played") + "\"\n");
        WriteFileBytes(m_sysApps + "/vendor/player.desktop",
                       "# a player\n[Desktop Entry]\nType=Application\nName=Movie Player\nIcon=player\n"
                       "Exec=player --title \"%c\" %i %f\nMimeType=image/png;application/x-shockwave-flash;\n");
    }

    void cleanup() { fs::remove_all(m_temp.Path()); }

    void findsTheHandlersInOrder()
    {
        // An entry for other types only, one removed for movies, a hidden one.
        WriteFileBytes(m_sysApps + "/viewer.desktop",
                       "[Desktop Entry]\nType=Application\nName=V\nExec=player %u\nMimeType=image/png;\n");
        WriteFileBytes(m_sysApps + "/removed.desktop",
                       "[Desktop Entry]\nType=Application\nName=R\nExec=player %U\nMimeType=application/x-shockwave-flash;\n");
        WriteFileBytes(m_sysApps + "/hidden.desktop", "[Desktop Entry]\nType=Application\nName=H\nExec=player\n"
                                                      "Hidden=true\nMimeType=application/x-shockwave-flash;\n");
        WriteFileBytes(m_sysApps + "/missing.desktop", "[Desktop Entry]\nType=Application\nName=M\nExec=nosuch %f\n"
                                                       "MimeType=application/x-shockwave-flash;\n");
        WriteFileBytes(m_sysApps + "/mimeapps.list",
                       "[Removed Associations]\napplication/x-shockwave-flash=removed.desktop;\n");
        const std::vector<desktop::Application> apps = desktop::ApplicationsFor(kSwfType);
        QCOMPARE(apps.size(), size_t(2));
        QCOMPARE(apps[0].id, std::string("orvellin.desktop"));
        QVERIFY(desktop::IsThisProgram(apps[0]));
        QCOMPARE(apps[1].id, std::string("vendor-player.desktop"));
        QVERIFY(!desktop::IsThisProgram(apps[1]));

        const std::string movie = "/films/caf\xe9 & co.swf";
        QCOMPARE(desktop::CommandLine(apps[1], movie),
                 (std::vector<std::string>{"player", "--title", "Movie Player", "--icon", "player", movie}));
        desktop::Application url = apps[1];
        url.exec = {"player", "--url=%u", "100%%"};
        QCOMPARE(desktop::CommandLine(url, movie),
                 (std::vector<std::string>{"player", "--url=file:///films/caf%E9%20%26%20co.swf", "100%"}));
        url.exec = {"player"};
        QCOMPARE(desktop::CommandLine(url, movie), (std::vector<std::string>{"player", movie}));
    }

    void playStartsTheOtherPlayerWithTheExactBytes()
    {
        const std::string movie = m_temp / "d\xe9j\xe0 vu.swf";
        WriteFileBytes(movie, "FWS");
        QVERIFY(Shell().PlayMovie(movie));
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(m_temp / "played"), 10000);
        QCOMPARE(ReadFileBytes(m_temp / "played"), "--title\nMovie Player\n--icon\nplayer\n" + movie + "\n");
    }

    void soundsAndFoldersOpenWithTheDesktopsPrograms()
    {
        // No session bus here: folders go to a program for folders.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        const std::string sound = m_temp / "caf\xe9_001.wav";
        WriteFileBytes(sound, "RIFF");
        QVERIFY(!Shell().OpenFile(sound));
        QVERIFY(!Shell().ShowInFileManager(sound));
        QVERIFY(!fs::exists(m_temp / "played"));

        // Entries may name a type by any of its aliases.
        WriteFileBytes(m_apps + "/music.desktop",
                       "[Desktop Entry]\nType=Application\nName=Music\nExec=player %f\nMimeType=audio/wav;\n");
        QVERIFY(Shell().OpenFile(sound));
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(m_temp / "played"), 10000);
        QCOMPARE(ReadFileBytes(m_temp / "played"), sound + "\n");
        fs::remove(m_temp / "played");

        WriteFileBytes(m_apps + "/files.desktop",
                       "[Desktop Entry]\nType=Application\nName=Files\nExec=player %U\nMimeType=inode/directory;\n");
        QVERIFY(Shell().ShowInFileManager(sound));
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(m_temp / "played"), 10000);
        QCOMPARE(ReadFileBytes(m_temp / "played"), QUrl::fromLocalFile(QString::fromStdString(m_temp.Path())).toString().toStdString() + "/\n");
    }

    void withoutAnotherPlayerNothingStarts()
    {
        fs::remove(m_sysApps + "/vendor/player.desktop");
        QVERIFY(!Shell().PlayMovie(m_temp / "a.swf"));
        QVERIFY(!desktop::StartDetached({"nosuch-program"}));
    }
};

QTEST_GUILESS_MAIN(DesktopAppsTest)
#include "desktop_apps_test.moc"
