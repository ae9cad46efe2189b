#include "app/converter_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/settings.h"
#include "app/version.h"
#include "platform/process.h"
#include "ui/run_window.h"

namespace {

const char kUsage[] =
    "Usage: orvellin [/mp3 | /wav] FILE.swf... [/m]\n"
    "\n"
    "Without arguments, opens the window. With arguments, extracts every sound of\n"
    "each movie and converts it to MP3 (the default) or WAV.\n"
    "\n"
    "  /mp3, /wav   output type for the movies that follow (any letter case)\n"
    "  /m, /M       report the results when done (a message box on a desktop,\n"
    "               standard output without a display)\n"
    "  --jobs=N     convert up to N movies at once, each in a worker process\n"
    "               of its own (default: one per processor; also ORVELLIN_JOBS)\n"
    "  --timeout=S  stop a movie's worker after S seconds: that movie fails\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Files go next to each movie as NAME_001.mp3, NAME_002.wav, ... (NAME.mp3 for a\n"
    "movie with one sound). Where that folder can't be written, they go to\n"
    "Orvellin_Files in the Documents folder. Existing files are never replaced.\n"
    "\n"
    "Exit status: 0 when every movie converted, 1 when any failed.\n";

bool HaveDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return true;
    }
    return false;
}

bool WriteOut(const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

void ShowResults(int& argc, char** argv, const std::string& text)
{
    if (HaveDisplay()) {
        // Fall back to no window system when the display can't be reached.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray(qgetenv("WAYLAND_DISPLAY").isEmpty() ? "xcb" : "wayland") + ";offscreen");
        QApplication app(argc, argv);
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            QMessageBox::information(nullptr, QStringLiteral("Orvellin"), QString::fromStdString(text));
            return;
        }
    }
    WriteOut(text);
}

}  // namespace

int CConverterApp::InitInstance(int& argc, char** argv)
{
    return argc < 2 ? RunWindow(argc, argv) : RunBatchMode(argc, argv);
}

int CConverterApp::RunWindow(int& argc, char** argv)
{
    WindowServices services;
    services.loadFolder = settings::LoadFolder;
    services.saveFolder = settings::SaveFolder;
    services.firstRunStep = settings::FirstRunStep;
    return RunMainWindow(argc, argv, services);
}

int CConverterApp::RunBatchMode(int& argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help")
            return WriteOut(kUsage) ? 0 : 1;
        if (arg == "--version")
            return WriteOut("orvellin " ORVELLIN_VERSION " (build " ORVELLIN_BUILD ")\n") ? 0 : 1;
    }
    BatchOptions options;
    std::string error;
    if (!ParseBatchArguments(args, options, error)) {
        std::fprintf(stderr, "orvellin: %s\n", error.c_str());
        return 2;
    }
    const BatchOutcome outcome = RunBatch(options);
    if (outcome.interruptedBy)
        platform::EndBySignal(outcome.interruptedBy);
    if (outcome.showResults)
        ShowResults(argc, argv, outcome.results);
    return outcome.allConverted ? 0 : 1;
}
