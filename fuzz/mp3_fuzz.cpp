// Probes and decodes arbitrary bytes as an MP3 file: MP3 sounds come out of
// movies byte for byte, so the decoder's probing reads whatever a movie holds.
#include "audio/conversions.h"
#include "audio/mp3_decoder.h"
#include "fuzz/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string mp3 = WriteInput("input.mp3", data, size);
    ConvertMp3ToWav(mp3, ScratchFolder() + "/out.wav");
    ClearScratch();
    return 0;
}
