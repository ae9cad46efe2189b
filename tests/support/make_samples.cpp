// Writes a few small sample movies into a folder: every kind of sound the
// converter handles. Used by the demo script and as fuzzing seeds.
#include <cstdio>
#include <string>

#include "support/media.h"
#include "support/swf_builder.h"

namespace {

std::string Pcm16(const std::vector<int16_t>& s)
{
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}

std::string Pcm8(size_t frames)
{
    std::string out(frames, '\0');
    for (size_t i = 0; i < frames; ++i)
        out[i] = static_cast<char>(128 + ((i / 20) % 2 ? 60 : -60));
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        // ADPCM event sounds of every code size, mono and stereo.
        SwfBuilder adpcm;
        uint16_t id = 1;
        for (int bits = 2; bits <= 5; ++bits) {
            const bool stereo = bits % 2 == 1;
            const auto tone = TestTone(22050, stereo, 22050);
            adpcm.Tag(kTagDefineSound, DefineSound(id++, 1, 2, true, stereo, 22050, EncodeAdpcm(tone, stereo, bits).bytes));
        }
        adpcm.End().WriteTo(dir + "/adpcm_sounds.swf");

        // Uncompressed sounds: 16-bit stereo at 44.1 kHz and 8-bit mono at 5.5 kHz.
        SwfBuilder pcm;
        pcm.Tag(kTagDefineSound, DefineSound(1, 3, 3, true, true, 44100, Pcm16(TestTone(44100, true, 44100))))
            .Tag(kTagDefineSound, DefineSound(2, 0, 0, false, false, 5512, Pcm8(5512)))
            .End()
            .WriteTo(dir + "/pcm_sounds.swf");

        // One MP3 event sound: converts to a single file without a number.
        const auto voice = TestTone(22050 * 2, false, 22050);
        std::string mp3 = Mp3Bytes(voice, false, 22050);
        SwfBuilder one;
        one.Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, static_cast<uint32_t>(voice.size()), U16(0) + mp3))
            .End()
            .WriteTo(dir + "/mp3_sound.swf", true);

        // A main-timeline ADPCM stream, and an MP3 stream inside a sprite.
        const auto music = TestTone(4096 * 8, true, 22050);
        SwfBuilder sprite;
        const std::string frames = Mp3Bytes(TestTone(1152 * 40, false, 22050), false, 22050);
        sprite.Tag(kTagSoundStreamHead2, StreamHead(2, 2, true, false, 1152))
            .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152 * 40, frames))
            .End();
        SwfBuilder streams;
        streams.Tag(kTagSoundStreamHead, StreamHead(1, 2, true, true, 4096));
        for (size_t b = 0; b < 8; ++b) {
            const std::vector<int16_t> block(music.begin() + static_cast<long>(b * 4096 * 2),
                                             music.begin() + static_cast<long>((b + 1) * 4096 * 2));
            streams.Tag(kTagSoundStreamBlock, EncodeAdpcm(block, true, 4).bytes);
            if (b == 3)
                streams.Sprite(9, sprite);
        }
        streams.End().WriteTo(dir + "/streams_and_sprite.swf", true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
