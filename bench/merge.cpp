// Joins MP3 files with the merge engine, for timing against cat.
#include <cstdio>
#include <string>
#include <vector>

#include "merge/merge.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_merge OUT.mp3 IN.mp3...\n");
        return 2;
    }
    const std::vector<std::string> inputs(argv + 2, argv + argc);
    return MergeFiles(inputs, argv[1]) ? 0 : 1;
}
