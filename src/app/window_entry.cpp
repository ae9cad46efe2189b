// The window side of the program, built as the module the program loads only
// when it shows a window: batch runs never load Qt.
#include "app/window_entry.h"

#include <QApplication>
#include <QString>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/settings.h"
#include "ui/hooks.h"
#include "ui/run_window.h"

int OrvellinRunWindow1(char* program, const char* const* open, size_t openCount, int needScreen)
{
    // Nothing may unwind into the program, built apart from this module.
    try {
        WindowServices services;
        services.loadFolder = settings::LoadFolder;
        services.saveFolder = settings::SaveFolder;
        services.firstRunStep = settings::FirstRunStep;
        services.loadLayout = settings::LoadWindowValue;
        services.saveLayout = settings::SaveWindowValue;
        // Qt reads options out of its arguments: the movies are not its business.
        int argc = 1;
        char* argv[] = {program, nullptr};
        return RunMainWindow(argc, argv, services, std::vector<std::string>(open, open + openCount), needScreen != 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvellin: the window stopped: %s\n", e.what());
        return 2;
    }
}

int OrvellinShowResults1(char* program, const char* text, size_t size)
{
    try {
        int argc = 1;
        char* argv[] = {program, nullptr};
        QApplication app(argc, argv);
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            return 0;
        ShowMessage(nullptr, QString::fromUtf8(text, static_cast<qsizetype>(size)), MsgIcon::Information);
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}
