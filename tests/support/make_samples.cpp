// Writes a few sample movies into a folder: every kind of sound the converter
// handles, for the demo script. With --seeds, small inputs for each fuzz
// target instead: movies, WAV files and MP3 files under swf/, wav/ and mp3/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

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

// Inputs under the fuzzers' 8 KiB: every tag the walk handles, each sound
// kind, both containers, and the odd forms (long lengths, sprites in sprites).
void WriteSeeds(const std::string& dir)
{
    namespace fs = std::filesystem;
    for (const char* sub : {"swf", "wav", "mp3"})
        fs::create_directories(dir + "/" + sub);
    const auto tone = TestTone(600, false, 11025);
    const auto stereo = TestTone(300, true, 11025);
    const std::string mp3 = Mp3Bytes(TestTone(1152 * 3, false, 11025), false, 11025);
    std::vector<std::pair<std::string, SwfBuilder>> movies;
    const auto add = [&](const std::string& name) -> SwfBuilder& { return movies.emplace_back(name, SwfBuilder()).second; };
    for (int bits = 2; bits <= 5; ++bits) {
        add("adpcm" + std::to_string(bits))
            .Tag(kTagDefineSound, DefineSound(1, 1, 1, bits != 3, bits % 2 == 1, 600,
                                              EncodeAdpcm(bits % 2 ? stereo : tone, bits % 2 == 1, bits).bytes))
            .End();
    }
    add("pcm").Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 600, Pcm16(tone)))
        .Tag(kTagDefineSound, DefineSound(2, 0, 0, false, true, 200, Pcm8(400)))
        .End();
    add("mp3_event").Tag(kTagDefineSound, DefineSound(1, 2, 1, true, false, 1152 * 3, U16(0) + mp3)).End();
    SwfBuilder inner;
    inner.Tag(kTagSoundStreamHead2, StreamHead(2, 1, true, false, 1152))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, mp3.substr(0, mp3.size() / 2)))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, mp3.substr(mp3.size() / 2)))
        .End();
    SwfBuilder nested;
    nested.Sprite(3, inner).End();
    add("streams").Tag(kTagSoundStreamHead, StreamHead(1, 1, true, false, 300))
        .Tag(kTagSoundStreamBlock, EncodeAdpcm(std::vector<int16_t>(tone.begin(), tone.begin() + 300), false, 4).bytes)
        .Sprite(2, nested)
        .Tag(kTagSoundStreamBlock, EncodeAdpcm(std::vector<int16_t>(tone.begin() + 300, tone.end()), false, 4).bytes)
        .Tag(kTagSoundStreamHead, StreamHead(3, 1, true, false, 150))
        .Tag(kTagSoundStreamBlock, Pcm16(std::vector<int16_t>(tone.begin(), tone.begin() + 150)))
        .End();
    add("long_tags").Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 40, Pcm8(40)), true)
        .Tag(kTagStartSound, "\x01\x00\x00", true)
        .Tag(9, "\xFF\xFF\xFF")
        .End();
    // Timelines for the soundtrack's mix: starts with every SOUNDINFO field,
    // a looping sprite placed and removed, a stream, a stop action.
    SoundInfoFields shaped;
    shaped.in = 10;
    shaped.out = 500;
    shaped.loops = 3;
    shaped.hasEnvelope = true;
    shaped.envelope = {{0, 0, 32768}, {300, 32768, 0}, {900, 40000, 20000}};
    SoundInfoFields stop;
    stop.syncStop = true;
    SoundInfoFields single;
    single.syncNoMultiple = true;
    SwfBuilder looping;
    looping.Tag(kTagStartSound, StartSound(2, single)).Tag(kTagShowFrame, "").Tag(kTagShowFrame, "").End();
    add("timeline").Rate(0, 24)
        .Tag(kTagDefineSound, DefineSound(1, 3, 1, true, false, 600, Pcm16(tone)))
        .Tag(kTagDefineSound, DefineSound(2, 1, 2, false, false, 600, EncodeAdpcm(tone, false, 3).bytes))
        .Sprite(3, looping, 2)
        .Tag(kTagStartSound, StartSound(1, shaped))
        .Tag(kTagPlaceObject2, PlaceObject2(1, 3))
        .Tag(kTagSoundStreamHead, StreamHead(3, 1, true, false, 150))
        .Tag(kTagSoundStreamBlock, Pcm16(std::vector<int16_t>(tone.begin(), tone.begin() + 150)))
        .Tag(kTagShowFrame, "")
        .Tag(kTagStartSound, StartSound(2))
        .Tag(kTagShowFrame, "")
        .Tag(kTagRemoveObject2, RemoveObject2(1))
        .Tag(kTagStartSound, StartSound(1, stop))
        .Tag(kTagDoAction, StopAction())
        .Tag(kTagShowFrame, "")
        .Tag(kTagShowFrame, "")
        .End();
    // Coded formats: the decoders' parsers see whatever a movie holds.
    std::string noise(640, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    SwfBuilder& coded = add("coded");
    for (const int format : {4, 5, 6, 7, 8, 11})
        coded.Tag(kTagDefineSound, DefineSound(static_cast<uint16_t>(format), format, 1, true, format == 7, 256,
                                               noise.substr(0, 128 + 64 * static_cast<size_t>(format))));
    coded.Tag(kTagSoundStreamHead, StreamHead(6, 2, true, false, 256))
        .Tag(kTagSoundStreamBlock, noise.substr(0, 100))
        .Tag(kTagSoundStreamBlock, noise.substr(100, 92))
        .Tag(kTagSoundStreamHead, StreamHead(11, 0, true, false, 320))
        .Tag(kTagSoundStreamBlock, noise.substr(200, 70))
        .End();
    for (const auto& [name, movie] : movies) {
        movie.WriteTo(dir + "/swf/" + name + ".swf");
        movie.WriteTo(dir + "/swf/" + name + "_cws.swf", true);
        WriteFileBytes(dir + "/swf/" + name + "_zws.swf", movie.BuildZws(name.size() % 2 == 0));
    }
    WriteFileBytes(dir + "/wav/mono16.wav", WaveBytes(tone, false, 11025));
    WriteFileBytes(dir + "/wav/stereo8.wav", WaveBytes8(std::vector<uint8_t>(400, 0x90), true, 5512));
    // A longer format chunk and a fact chunk, which the reader skips.
    std::string extended = WaveBytes(tone, false, 22050);
    extended.replace(16, 4, U32(18));
    extended.insert(36, std::string("\0\0", 2) + "fact" + U32(4) + U32(600));
    WriteFileBytes(dir + "/wav/extended.wav", extended);
    WriteFileBytes(dir + "/mp3/plain.mp3", mp3);
    WriteFileBytes(dir + "/mp3/id3.mp3", std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) + std::string(10, '\0') + mp3);
    WriteFileBytes(dir + "/mp3/aid.mp3", std::string("AiD\x01\x08\x00xy", 8) + mp3);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool seeds = argc == 3 && std::strcmp(argv[1], "--seeds") == 0;
    if (argc != 2 && !seeds) {
        std::fprintf(stderr, "usage: make_samples FOLDER | make_samples --seeds FOLDER\n");
        return 2;
    }
    const std::string dir = argv[argc - 1];
    try {
        if (seeds) {
            WriteSeeds(dir);
            return 0;
        }
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
