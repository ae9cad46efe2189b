// Makes the movies the benchmarks convert, from audio files made by sox,
// lame and ffmpeg, or from the test tone.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include <zlib.h>

#include "audio/mp3_frame.h"
#include "support/media.h"
#include "support/swf_builder.h"

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Be(const std::string& s, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}

// FLV audio packets become stream blocks: adpcm_swf (4096 frames each, 44.1
// kHz), or nellymoser (256-sample blocks, 22.05 kHz as the tag's rate).
void FlvToSwf(const std::string& flvPath, const std::string& out, bool stereo, bool nellymoser)
{
    const std::string flv = Slurp(flvPath);
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, nellymoser ? StreamHead(6, 2, true, false, 256) : StreamHead(1, 3, true, stereo, 4096));
    size_t at = Be(flv, 5, 4) + 4;
    while (at + 11 <= flv.size()) {
        const uint32_t size = Be(flv, at + 1, 3);
        if (at + 11 + size > flv.size())
            break;
        if (flv[at] == 8 && size > 1)
            b.Tag(kTagSoundStreamBlock, flv.substr(at + 12, size - 1));
        at += 11 + size + 4;
    }
    b.End().WriteTo(out);
}

// A 44-byte-header 16-bit WAV becomes one uncompressed DefineSound.
void WavToSwf(const std::string& wavPath, const std::string& out)
{
    const std::string wav = Slurp(wavPath);
    const bool stereo = wav[22] == 2;
    const std::string data = wav.substr(44);
    const uint32_t frames = static_cast<uint32_t>(data.size() / (stereo ? 4 : 2));
    SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 3, 3, true, stereo, frames, data)).End().WriteTo(out);
}

void Mp3ToSwf(const std::string& mp3Path, const std::string& out)
{
    SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 2, 3, true, true, 0, U16(0) + Slurp(mp3Path))).End().WriteTo(out);
}

// Small movies as a game holds them: a few short ADPCM and PCM effects each.
void SmallMovies(int count, const std::string& dir)
{
    const auto tone = TestTone(22050, false, 22050);
    const std::string adpcm = EncodeAdpcm(tone, false, 4).bytes;
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    for (int i = 0; i < count; ++i) {
        SwfBuilder b;
        b.Tag(kTagDefineSound, DefineSound(1, 1, 2, true, false, 22050, adpcm))
            .Tag(kTagDefineSound, DefineSound(2, 3, 2, true, false, 22050, pcm))
            .End();
        b.WriteTo(dir + "/small" + std::to_string(i) + ".swf", i % 2 == 1);
    }
}

// Movies of a realistic size (some sound data after the header), half compressed.
void HeaderMovies(int count, const std::string& dir)
{
    const auto tone = TestTone(20000, false, 22050);
    const std::string pcm(reinterpret_cast<const char*>(tone.data()), tone.size() * 2);
    SwfBuilder b;
    b.Tag(9, "\xFF\xFF\xFF").Tag(kTagDefineSound, DefineSound(1, 3, 2, true, false, 20000, pcm)).End();
    const std::string plain = b.Build(false);
    const std::string packed = b.Build(true);
    for (int i = 0; i < count; ++i) {
        std::ofstream out(dir + "/h" + std::to_string(i) + ".swf", std::ios::binary);
        const std::string& bytes = i % 2 ? packed : plain;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

// A real zlib bomb: an honest header over a body that truly inflates to
// about a gigabyte, held in one long tag of zeros.
void Bomb(const std::string& out)
{
    constexpr uint32_t kBody = 1u << 30;
    SwfBuilder b;
    const std::string header = b.MovieHeader();
    std::string tagHead = U16(static_cast<uint16_t>(2 << 6 | 0x3F)) + U32(kBody - static_cast<uint32_t>(header.size()) - 6);
    std::ofstream file(out, std::ios::binary);
    file.write("CWS\x08", 4);
    const std::string length = U32(kBody + 8);
    file.write(length.data(), 4);
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK)
        throw std::runtime_error("deflateInit failed");
    std::string chunk(1 << 20, '\0');
    std::string packed(deflateBound(&z, chunk.size()) + 1024, '\0');
    const auto feed = [&](const std::string& in, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(packed.data());
            z.avail_out = static_cast<uInt>(packed.size());
            deflate(&z, flush);
            file.write(packed.data(), static_cast<std::streamsize>(packed.size() - z.avail_out));
        } while (z.avail_out == 0);
    };
    feed(header + tagHead, Z_NO_FLUSH);
    uint64_t left = kBody - header.size() - tagHead.size();
    while (left > 0) {
        if (left < chunk.size())
            chunk.resize(left);
        left -= chunk.size();
        feed(chunk, left ? Z_NO_FLUSH : Z_FINISH);
    }
    deflateEnd(&z);
}

// Under a hundred bytes that once wrote gigabytes: an ADPCM stream declaring
// 65535 frames per block, and thousands of empty blocks.
void Amplifier(const std::string& out)
{
    SwfBuilder b;
    b.Tag(kTagSoundStreamHead, StreamHead(1, 3, true, true, 65535));
    for (int i = 0; i < 16000; ++i)
        b.Tag(kTagSoundStreamBlock, "");
    b.End().WriteTo(out, true);
}

// A cartoon of ten minutes at 12 frames a second: an MP3 stream in blocks
// along its frames, and 300 starts of 11 and 22 kHz PCM and ADPCM sounds
// with envelopes and loops, one every 24 frames.
void Cartoon(const std::string& mp3Path, const std::string& out)
{
    const std::string mp3 = Slurp(mp3Path);
    std::vector<std::pair<size_t, size_t>> frames;  // where each MP3 frame is
    for (size_t at = FindMp3StreamStart(reinterpret_cast<const uint8_t*>(mp3.data()), mp3.size()); at + 4 <= mp3.size();) {
        const auto* p = reinterpret_cast<const uint8_t*>(mp3.data()) + at;
        const size_t n = IsMp3FrameHeader(p) ? Mp3FrameBytes(p) : 0;
        if (n == 0 || at + n > mp3.size())
            break;
        frames.emplace_back(at, n);
        at += n;
    }
    constexpr size_t kMovieFrames = 7200;
    const auto effect = [](size_t n, int rate, bool stereo) { return TestTone(n, stereo, rate, 9000.0); };
    const auto bytes = [](const std::vector<int16_t>& v) { return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 2); };
    std::string eight;
    for (const int16_t s : effect(22050, 11025, false))
        eight += static_cast<char>((s >> 8) + 128);
    SwfBuilder b;
    b.Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 22050, eight))
        .Tag(kTagDefineSound, DefineSound(2, 3, 2, true, true, 22050, bytes(effect(22050, 22050, true))))
        .Tag(kTagDefineSound, DefineSound(3, 1, 2, true, false, 66150, EncodeAdpcm(effect(66150, 22050, false), false, 4).bytes))
        .Tag(kTagDefineSound, DefineSound(4, 1, 1, true, false, 11025, EncodeAdpcm(effect(11025, 11025, false), false, 3).bytes));
    b.Tag(kTagSoundStreamHead, StreamHead(2, 3, true, true, 3675));
    SoundInfoFields info;
    info.loops = 2;
    info.envelope = {{0, 0, 32768}, {22050, 32768, 16384}, {66150, 8000, 32768}};
    for (size_t f = 0; f < kMovieFrames; ++f) {
        const size_t first = f * frames.size() / kMovieFrames;
        const size_t last = (f + 1) * frames.size() / kMovieFrames;
        if (last > first) {
            const size_t from = frames[first].first;
            const size_t to = frames[last - 1].first + frames[last - 1].second;
            b.Tag(kTagSoundStreamBlock, Mp3StreamBlock(3675, mp3.substr(from, to - from)));
        }
        if (f % 24 == 0)
            b.Tag(kTagStartSound, StartSound(static_cast<uint16_t>(1 + f / 24 % 4), info));
        b.Tag(kTagShowFrame, "");
    }
    b.End().WriteTo(out);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::string cmd = argc > 1 ? argv[1] : "";
        if (cmd == "flv2swf" && argc == 5)
            FlvToSwf(argv[2], argv[3], std::strcmp(argv[4], "stereo") == 0, false);
        else if (cmd == "nelly2swf" && argc == 4)
            FlvToSwf(argv[2], argv[3], false, true);
        else if (cmd == "wav2swf" && argc == 4)
            WavToSwf(argv[2], argv[3]);
        else if (cmd == "mp32swf" && argc == 4)
            Mp3ToSwf(argv[2], argv[3]);
        else if (cmd == "small" && argc == 4)
            SmallMovies(std::stoi(argv[2]), argv[3]);
        else if (cmd == "headers" && argc == 4)
            HeaderMovies(std::stoi(argv[2]), argv[3]);
        else if (cmd == "bomb" && argc == 3)
            Bomb(argv[2]);
        else if (cmd == "amplifier" && argc == 3)
            Amplifier(argv[2]);
        else if (cmd == "cartoon" && argc == 4)
            Cartoon(argv[2], argv[3]);
        else {
            std::fprintf(stderr,
                         "usage: make_inputs flv2swf IN.flv OUT.swf mono|stereo | nelly2swf IN.flv OUT.swf | wav2swf IN.wav OUT.swf |\n"
                         "       mp32swf IN.mp3 OUT.swf | small N DIR | headers N DIR | bomb OUT.swf |\n"
                         "       amplifier OUT.swf | cartoon IN.mp3 OUT.swf\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
