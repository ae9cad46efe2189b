// Reads arbitrary bytes as a WAV file, as the encoder's input does: extracted
// sounds carry movie bytes straight into their WAV files.
#include <vector>

#include "audio/conversions.h"
#include "audio/wave_reader.h"
#include "fuzz/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string wav = WriteInput("input.wav", data, size);
    {
        CWaveReader reader;
        if (reader.Open(wav)) {
            std::vector<int16_t> left(kWaveBlockFrames), right(kWaveBlockFrames);
            bool end = false;
            for (int blocks = 0; !end && blocks < 64; ++blocks) {
                size_t count = 0;
                reader.Read(left.data(), right.data(), count, end);
            }
        }
    }
    // Small inputs go all the way through the encoder.
    if (size < 4096)
        ConvertWavToMp3(wav, ScratchFolder() + "/out.mp3", nullptr, nullptr);
    ClearScratch();
    return 0;
}
