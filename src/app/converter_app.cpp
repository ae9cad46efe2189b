#include "app/converter_app.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/version.h"
#include "app/window_module.h"
#include "platform/process.h"

namespace {

const char kUsage[] =
    "Usage: orvellin [/mp3 | /wav | /keep | /flac] FILE.swf... [/m] [OPTION]...\n"
    "       orvellin --list FILE.swf... [OPTION]...\n"
    "       orvellin --soundtrack [/wav | /flac | /mp3] FILE.swf... [OPTION]...\n"
    "       orvellin [--open [FILE.swf | FOLDER]...]\n"
    "\n"
    "Without arguments, or with --open, opens the window (with those movies\n"
    "added). With movies, extracts every sound of each and converts it to MP3\n"
    "(the default), WAV or FLAC, or keeps it as stored. Reads FWS, CWS and ZWS\n"
    "movies and the movies embedded in them; PCM, ADPCM, MP3, Nellymoser, Speex\n"
    "and G.711 sounds.\n"
    "\n"
    "  /mp3, /wav         output type for the movies that follow (any letter case)\n"
    "  /keep              no transcoding: MP3 sounds as stored, the others as WAV\n"
    "  /flac              every sound as FLAC, the samples the WAV would hold\n"
    "  --list             print each movie's sounds, one line each, as a conversion\n"
    "                     to the type in force finds them, and write no file\n"
    "                     (with --report: records without outputs)\n"
    "  --soundtrack       instead of each sound, write the movie's main timeline as\n"
    "                     heard (NAME_soundtrack.EXT, 44100 Hz stereo): the sounds\n"
    "                     its frames start and its streams, mixed; /keep gives WAV.\n"
    "                     With --list: what it would hold, and what it can't play\n"
    "  --soundtrack-tail=S  let started sounds ring on S seconds past the end of\n"
    "                     the timeline (default 10, 0 cuts them there)\n"
    "  /m, /M             report the results when done (a message box on a desktop,\n"
    "                     standard output without a display)\n"
    "  --jobs=N           convert up to N movies at once, in as many worker\n"
    "                     processes (default: one per processor; also ORVELLIN_JOBS)\n"
    "  --timeout=S        stop a movie's worker after S seconds: that movie fails\n"
    "                     and leaves no files\n"
    "  --files-from=LIST  also convert the movies LIST names, one path a line\n"
    "                     (- for standard input), with the type in force there\n"
    "  --null             the paths of every LIST are each ended by a NUL byte\n"
    "                     (find -print0), so that a path may hold a newline\n"
    "  --report=FILE      add a JSON record per movie to FILE as each finishes\n"
    "  --resume           with --report: skip movies whose record says converted\n"
    "                     and still holds; do the others again\n"
    "  --shard=K/N        take only shard K of N of the movies, so that N runs\n"
    "                     (on as many machines) share an archive\n"
    "  --names=export     name sounds after their export names (NAME_<name>.mp3);\n"
    "                     --names=number (the default) numbers them\n"
    "  --quiet            no progress line on a terminal\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "  --                 end of the options: every argument after it is a movie\n"
    "\n"
    "An option's value may also be the next argument (--jobs 4) when it doesn't\n"
    "start with -. An argument starting with - that is no option stops the run\n"
    "before any movie is touched.\n"
    "\n"
    "Files go next to each movie as NAME_001.mp3, NAME_002.wav, NAME_003.flac, ...\n"
    "in the order the sounds start (NAME.mp3 for a movie with one sound). Where\n"
    "that folder can't be written, they go to Orvellin_Files in the Documents\n"
    "folder. Existing files are never replaced, and a file appears under its name\n"
    "only when it is complete. A sound whose data hold no sample is empty: no\n"
    "file, neither found nor lost.\n"
    "\n"
    "Exit status: 0 when every movie converted with all its sounds; 1 when a movie\n"
    "failed or lost sounds; 2 for a command line that can't be used (an unknown\n"
    "option, a list that can't be read) or a window without a display.\n";

bool IsSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

bool HaveDisplay()
{
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// Without a platform asked for, Qt tries the display's (onWayland where the
// session is one) and then none at all.
void ChoosePlatform(const char* onWayland)
{
    ::setenv("QT_QPA_PLATFORM", (std::string(IsSet("WAYLAND_DISPLAY") ? onWayland : "xcb") + ";offscreen").c_str(), 1);
}

bool WriteOut(const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

void ShowResults(char** argv, const std::string& text)
{
    if (HaveDisplay()) {
        // Fall back to no window system when the display can't be reached.
        if (!IsSet("QT_QPA_PLATFORM"))
            ChoosePlatform("wayland");
        CWindowModule window;
        if (!window.Load())
            std::fprintf(stderr, "orvellin: the window's module can't be loaded (%s), so the results go to "
                                 "standard output\n", window.Error().c_str());
        else if (window.ShowResults(argv[0], text))
            return;
    }
    WriteOut(text);
}

}  // namespace

int CConverterApp::InitInstance(int& argc, char** argv)
{
    // "--open FILES..." is how the desktop starts the window with movies.
    if (argc < 2 || std::string(argv[1]) == "--open")
        return RunWindow(argv, std::vector<std::string>(argv + std::min(argc, 2), argv + argc));
    return RunBatchMode(argc, argv);
}

int CConverterApp::RunWindow(char** argv, const std::vector<std::string>& open)
{
    // Without a display Qt would abort; a clear line says what to do instead.
    // Asked for a platform, Qt gets it as asked.
    bool needScreen = false;
    if (!IsSet("QT_QPA_PLATFORM")) {
        if (!HaveDisplay()) {
            std::fprintf(stderr, "orvellin: no display (DISPLAY and WAYLAND_DISPLAY are not set), so the window "
                                 "can't be shown; give movies on the command line to convert them without it\n");
            return 2;
        }
        ChoosePlatform("wayland;xcb");
        needScreen = true;
    }
    CWindowModule window;
    if (!window.Load()) {
        std::fprintf(stderr, "orvellin: the window's module can't be loaded (%s), so the window can't be shown; "
                             "give movies on the command line to convert them without it\n", window.Error().c_str());
        return 2;
    }
    return window.RunWindow(argv[0], open, needScreen);
}

int CConverterApp::RunBatchMode(int& argc, char** argv)
{
    BatchOptions options;
    std::string error;
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        for (const std::string& arg : args) {
            if (arg == "--")
                break;  // movies from here on
            if (arg == "--help")
                return WriteOut(kUsage) ? 0 : 1;
            if (arg == "--version")
                return WriteOut("orvellin " ORVELLIN_VERSION " (build " ORVELLIN_BUILD ")\n") ? 0 : 1;
        }
        if (!ParseBatchArguments(args, options, error)) {
            std::fprintf(stderr, "orvellin: %s\n", error.c_str());
            return 2;
        }
    } catch (const std::bad_alloc&) {
        std::fputs("orvellin: out of memory reading the arguments\n", stderr);
        return 2;
    }
    return Run(argv, options);
}

int CConverterApp::Run(char** argv, const BatchOptions& options)
{
    BatchOutcome outcome;
    try {
        outcome = RunBatch(options);
    } catch (const std::bad_alloc&) {
        // An end with a reason rather than an abort.
        std::fputs("orvellin: out of memory: the run stopped; run it again with fewer movies\n", stderr);
        return 1;
    }
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "orvellin: %s\n", outcome.error.c_str());
        return 2;
    }
    if (outcome.interruptedBy)
        platform::EndBySignal(outcome.interruptedBy);
    if (outcome.showResults) {
        // The workers are done: a signal now ends the results box too,
        // rather than being noted for a run that is over.
        platform::EndInterruptSignals();
        ShowResults(argv, outcome.results);
    }
    return outcome.allConverted ? 0 : 1;
}
