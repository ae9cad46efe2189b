#include "ui/run_window.h"

#include <QApplication>

#include "ui/artwork.h"
#include "ui/main_dlg.h"
#include "ui/widgets.h"

int RunMainWindow(int& argc, char** argv, const WindowServices& services)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(art::AppIcon());
    // Tooltips of every window come after 300 ms.
    QApplication::setStyle(new CTipDelayStyle);

    CMainDlg window(services);
    window.show();
    return QApplication::exec();
}
