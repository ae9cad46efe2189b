// Encodes a WAV file to FLAC with the conversion /flac uses, for timing
// against the flac command.
#include <cstdio>

#include "audio/conversions.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_flac IN.wav OUT.flac\n");
        return 2;
    }
    return ConvertWavToFlac(argv[1], argv[2], nullptr) ? 0 : 1;
}
