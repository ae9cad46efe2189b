#include "ui/run_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "ui/artwork.h"
#include "ui/main_dlg.h"
#include "ui/widgets.h"

int RunMainWindow(int& argc, char** argv, const WindowServices& services, const std::vector<std::string>& open,
                  bool needScreen)
{
    QApplication app(argc, argv);
    if (needScreen && QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::fprintf(stderr, "orvellin: the display can't be reached, so the window can't be shown; "
                             "movies given on the command line are converted without it\n");
        return 2;
    }
    QApplication::setWindowIcon(art::AppIcon());
    // Tooltips of every window come after 300 ms.
    QApplication::setStyle(new CTipDelayStyle);

    CMainDlg window(services);
    window.show();
    if (!open.empty())
        QTimer::singleShot(0, &window, [&window, open] { window.AddDroppedPaths(open); });
    return QApplication::exec();
}
