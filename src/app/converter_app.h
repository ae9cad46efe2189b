// The application object: window mode without arguments, batch mode with them.
#pragma once

#include <string>
#include <vector>

struct BatchOptions;

class CConverterApp {
public:
    // Runs the chosen mode; the process exit status.
    int InitInstance(int& argc, char** argv);

private:
    int RunWindow(char** argv, const std::vector<std::string>& open);
    int RunBatchMode(int& argc, char** argv);
    int Run(char** argv, const BatchOptions& options);
};
