// Draws the main window with a few movies added, converted and sorted by
// name: at its first size for the README, and grown, with a movie that lost
// a sound selected, for the help.
// Usage: orvellin_screenshot WINDOW.png GROWN.png [ABOUT.png]
#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "gui_support.h"
#include "support/swf_builder.h"
#include "ui/about_dlg.h"
#include "ui/main_dlg.h"
#include "ui/sort_list.h"

namespace {

bool Save(QWidget& widget, const char* path)
{
    if (widget.grab().save(QString::fromLocal8Bit(path)))
        return true;
    std::fprintf(stderr, "could not write %s\n", path);
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s WINDOW.png GROWN.png [ABOUT.png]\n", argv[0]);
        return 2;
    }
    TempDir temp;
    const std::string movies = temp / "Movies";
    std::filesystem::create_directories(movies);
    MakeMovie(movies + "/intro.swf", 3, 480, 24, 22050);
    MakeMovie(movies + "/menu_theme.swf", 1, 3600, 30, 44100);
    MakeMovie(movies + "/level1.swf", 5, 1200, 12, 11025);
    MakeMovie(movies + "/credits.swf", 2, 2400, 25, 33075);
    SwfBuilder().Version(6).Frames(90).Rate(0, 15).Tag(9, "abc").End().WriteTo(movies + "/banner.swf", true);
    // A sound beside one of a format no tool writes, which is lost.
    SwfBuilder()
        .Version(7)
        .Frames(240)
        .Rate(0, 24)
        .Tag(kTagDefineSound, DefineSound(1, 0, 2, true, false, 22050, std::string(44100, '\0')))
        .Tag(kTagDefineSound, DefineSound(2, 9, 1, true, false, 11025, "????"))
        .Tag(kTagDefineSound, DefineSound(3, 0, 1, false, false, 11025, std::string(11025, '\x80')))
        .End()
        .WriteTo(movies + "/bonus_level.swf");

    ScratchSettings settings(temp.Path());
    settings.Settings().setValue(QStringLiteral("Options/FirstRun"), 0);
    MessageRecorder quiet;
    CMainDlg window(settings.Services());
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.AddSwfFiles({movies + "/intro.swf", movies + "/menu_theme.swf", movies + "/level1.swf",
                        movies + "/credits.swf", movies + "/banner.swf", movies + "/bonus_level.swf"},
                       nullptr);
    window.ConvertAll(OutputType::Mp3);
    window.SwfList()->SortByColumn(1);  // by name, which shows the header's arrow
    window.SwfList()->SelectRow(3, true);
    QTest::qWait(300);
    if (!Save(window, argv[1]))
        return 1;

    window.resize(700, 540);
    window.SwfList()->SelectRow(1, true);  // bonus_level.swf
    QTest::qWait(300);
    if (!Save(window, argv[2]))
        return 1;

    if (argc == 4) {
        CAboutDlg about(&window);
        about.show();
        (void)QTest::qWaitForWindowExposed(&about);
        if (!Save(about, argv[3]))
            return 1;
    }
    return 0;
}
