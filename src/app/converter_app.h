// The application object: window mode without arguments, batch mode with them.
#pragma once

class CConverterApp {
public:
    // Runs the chosen mode; the process exit status.
    int InitInstance(int& argc, char** argv);

private:
    int RunWindow(int& argc, char** argv);
    int RunBatchMode(int& argc, char** argv);
};
