// Draws the main window with a few movies added, converted and sorted by
// name, for the docs.
// Usage: orvellin_screenshot OUTPUT.png [ABOUT.png]
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

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [ABOUT.png]\n", argv[0]);
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

    ScratchSettings settings(temp.Path());
    settings.Settings().setValue(QStringLiteral("Options/FirstRun"), 0);
    MessageRecorder quiet;
    CMainDlg window(settings.Services());
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.AddSwfFiles({movies + "/intro.swf", movies + "/menu_theme.swf", movies + "/level1.swf",
                        movies + "/credits.swf", movies + "/banner.swf"},
                       nullptr);
    window.ConvertAll(OutputType::Mp3);
    window.SwfList()->SortByColumn(1);  // by name, which shows the header's arrow
    window.SwfList()->SelectRow(2, true);
    QTest::qWait(300);
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        CAboutDlg about(&window);
        about.show();
        (void)QTest::qWaitForWindowExposed(&about);
        if (!about.grab().save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "could not write %s\n", argv[2]);
            return 1;
        }
    }
    return 0;
}
