// The soundtrack as heard, sample for sample: each rule of the mix with an
// answer worked out by hand, or by the program's own extraction of the
// same sound where a decoder is involved.
#include <gtest/gtest.h>

#include <functional>

#include "audio/mp3_decoder.h"
#include "support/flac_decode.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/soundtrack.h"
#include "swf/swf_movie.h"

namespace {

std::string Le16(const std::vector<int16_t>& v)
{
    std::string out;
    for (const int16_t s : v)
        out += U16(static_cast<uint16_t>(s));
    return out;
}

// A 16-bit PCM DefineSound of the values (interleaved when stereo).
std::string Pcm16(uint16_t id, const std::vector<int16_t>& v, int rateIndex = 3, bool stereo = false)
{
    return DefineSound(id, 3, rateIndex, true, stereo, static_cast<uint32_t>(v.size() / (stereo ? 2 : 1)), Le16(v));
}

uint64_t FrameStart(uint64_t k, uint32_t rate88)
{
    return k * 44100 * 256 / rate88;
}

struct Heard {
    std::vector<int16_t> left, right;
    SoundtrackSummary summary;
};

// The soundtrack of the movie as a WAV file, read back.
Heard Render(const SwfBuilder& movie, uint32_t tail = 10)
{
    TempDir dir;
    CSoundtrack track;
    EXPECT_TRUE(track.RenderTo(movie.WriteTo(dir / "m.swf"), dir / "out.wav", OutputType::Wav, tail));
    Heard h;
    h.summary = track.Summary();
    if (track.Output()) {
        const WaveContents wav = ReadWave(dir / "out.wav");
        EXPECT_EQ(wav.channels, 2);
        EXPECT_EQ(wav.rate, 44100u);
        h.left = wav.left;
        h.right = wav.right;
        EXPECT_EQ(h.left.size(), track.Summary().samples);
    }
    return h;
}

// One frame starting the sound, at 12 frames a second.
SwfBuilder OneStart(const std::string& sound, const SoundInfoFields& info = {})
{
    SwfBuilder b;
    b.Tag(kTagDefineSound, sound).Tag(kTagStartSound, StartSound(1, info)).Tag(kTagShowFrame, "").End();
    return b;
}

std::vector<int16_t> Head(const std::vector<int16_t>& v, size_t n)
{
    return std::vector<int16_t>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size())));
}

}  // namespace

TEST(Soundtrack, FramesStartWhereTheClockSays)
{
    // 12, 24, 29.97 (29 and 248/256) and 120 frames a second.
    for (const auto& [fraction, whole] : std::vector<std::pair<uint8_t, uint8_t>>{{0, 12}, {0, 24}, {248, 29}, {0, 120}}) {
        const uint32_t rate88 = whole * 256u + fraction;
        SwfBuilder b;
        b.Rate(fraction, whole).Tag(kTagDefineSound, Pcm16(1, {1000}));
        for (int f = 0; f < 5; ++f)
            b.Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "");
        const Heard h = Render(b.End());
        ASSERT_EQ(h.left.size(), FrameStart(5, rate88)) << rate88;
        std::vector<size_t> at;
        for (size_t i = 0; i < h.left.size(); ++i) {
            if (h.left[i] != 0)
                at.push_back(i);
        }
        std::vector<size_t> want;
        for (int f = 0; f < 5; ++f)
            want.push_back(FrameStart(static_cast<uint64_t>(f), rate88));
        EXPECT_EQ(at, want) << rate88;
        EXPECT_EQ(h.summary.instances, 5u);
    }
}

TEST(Soundtrack, EveryRateAndWidthBecomes44100Stereo)
{
    const auto encoded = EncodeAdpcm({0, 3000, -2000, 500, 12000, -32768, 32767, 1}, false, 4);
    const struct {
        const char* what;
        std::string sound;
        std::vector<int16_t> left, right;  // from the start; the rest is silence
    } cases[] = {
        {"22050 Hz", Pcm16(1, {0, 100}, 2), {0, 50, 100, 100}, {0, 50, 100, 100}},
        {"11025 Hz", Pcm16(1, {0, 100, -100}, 1),
         {0, 25, 50, 75, 100, 50, 0, -50, -100, -100, -100, -100}, {0, 25, 50, 75, 100, 50, 0, -50, -100, -100, -100, -100}},
        {"5512 Hz", Pcm16(1, {0, 8000}, 0), {0, 999, 1999, 2999, 3999, 4999, 5999, 6999, 7999, 8000, 8000, 8000, 8000, 8000, 8000, 8000, 8000},
         {0, 999, 1999, 2999, 3999, 4999, 5999, 6999, 7999, 8000, 8000, 8000, 8000, 8000, 8000, 8000, 8000}},
        {"8-bit", DefineSound(1, 0, 3, false, false, 3, std::string("\xff\x00\x80", 3)), {32512, -32768, 0}, {32512, -32768, 0}},
        {"stereo", Pcm16(1, {100, -100, 200, -200}, 3, true), {100, 200}, {-100, -200}},
        {"ADPCM", DefineSound(1, 1, 3, true, false, 8, encoded.bytes), encoded.predicted, encoded.predicted},
    };
    for (const auto& c : cases) {
        const Heard h = Render(OneStart(c.sound));
        ASSERT_EQ(h.left.size(), 3675u) << c.what;
        EXPECT_EQ(Head(h.left, c.left.size()), c.left) << c.what;
        EXPECT_EQ(Head(h.right, c.right.size()), c.right) << c.what;
        EXPECT_EQ(h.left[c.left.size()], 0) << c.what;
    }
}

TEST(Soundtrack, InAndOutPointsLoopsAndEnvelopes)
{
    const std::string five = Pcm16(1, {10, 20, 30, 40, 50});
    const std::string flat = Pcm16(1, {1000, 1000, 1000, 1000, 1000, -1001});
    const std::string mono = Pcm16(1, {-1001});
    using Points = std::vector<std::array<uint32_t, 3>>;
    const struct {
        const char* what;
        std::string sound;
        SoundInfoFields info;
        std::vector<int16_t> left, right;
    } cases[] = {
        {"in to out", five, {.in = 1, .out = 3}, {20, 30, 40, 0}, {20, 30, 40, 0}},
        {"looped twice", five, {.in = 1, .out = 3, .loops = 2}, {20, 30, 40, 20, 30, 40, 0}, {20, 30, 40, 20, 30, 40, 0}},
        {"no in", five, {.out = 1}, {10, 20, 0}, {10, 20, 0}},
        {"no out", five, {.in = 3}, {40, 50, 0}, {40, 50, 0}},
        {"out before in", five, {.in = 3, .out = 1}, {0, 0}, {0, 0}},
        {"no loops at all", five, {.loops = 0}, {10, 20, 30, 40, 50, 0}, {10, 20, 30, 40, 50, 0}},
        {"one point", flat, {.envelope = Points{{0, 16384, 32768}}}, {500, 500, 500, 500, 500, -501},
         {1000, 1000, 1000, 1000, 1000, -1001}},
        {"two points", flat, {.envelope = Points{{0, 0, 0}, {4, 32768, 32768}}}, {0, 250, 500, 750, 1000, -1001},
         {0, 250, 500, 750, 1000, -1001}},
        {"four points, past 32768", flat,
         {.envelope = Points{{0, 0, 32768}, {2, 32768, 0}, {4, 0, 32768}, {5, 40000, 40000}}},
         {0, 500, 1000, 500, 0, -1001}, {1000, 500, 0, 500, 1000, -1001}},
        {"across loops", Pcm16(1, {1000, 1000}), {.loops = 2, .envelope = Points{{0, 0, 0}, {4, 32768, 32768}}},
         {0, 250, 500, 750, 0}, {0, 250, 500, 750, 0}},
        {"a mono sound panned", mono, {.envelope = Points{{0, 32768, 0}}}, {-1001, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        const Heard h = Render(OneStart(c.sound, c.info));
        EXPECT_EQ(Head(h.left, c.left.size()), c.left) << c.what;
        EXPECT_EQ(Head(h.right, c.right.size()), c.right) << c.what;
    }
}

TEST(Soundtrack, SyncStopAndSyncNoMultiple)
{
    // At 120 frames a second frame 1 starts at sample 367.
    const std::string along = Pcm16(1, std::vector<int16_t>(2000, 1000));
    const auto twoFrames = [&](const SoundInfoFields& second) {
        SwfBuilder b;
        b.Rate(0, 120).Tag(kTagDefineSound, along).Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "");
        b.Tag(kTagStartSound, StartSound(1, second)).Tag(kTagShowFrame, "").End();
        return Render(b);
    };
    Heard h = twoFrames({.syncStop = true});
    EXPECT_EQ(h.left[366], 1000);
    EXPECT_EQ(h.left[367], 0);
    EXPECT_EQ(h.summary.stopped, 1u);
    EXPECT_EQ(h.left.size(), FrameStart(2, 120 * 256));

    h = twoFrames({.syncNoMultiple = true});
    EXPECT_EQ(h.left[367], 1000) << "started once";
    EXPECT_EQ(h.left[1999], 1000);
    EXPECT_EQ(h.left.size(), 2000u);
    EXPECT_EQ(h.summary.notMultiple, 1u);

    h = twoFrames({});
    EXPECT_EQ(h.left[367], 2000) << "started twice";
    EXPECT_EQ(h.left[2366], 1000);
}

TEST(Soundtrack, SpritesPlayWhilePlacedAndLoop)
{
    // A sprite of two frames starting a tick in its first, placed on frame
    // 1 and removed on frame 6; and one that stops on its second frame.
    SwfBuilder sprite;
    sprite.Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "").Tag(kTagShowFrame, "").End();
    SwfBuilder stopping;
    stopping.Tag(kTagStartSound, StartSound(2)).Tag(kTagShowFrame, "").Tag(kTagDoAction, StopAction()).Tag(kTagShowFrame, "")
        .Tag(kTagShowFrame, "").End();
    SwfBuilder b;
    b.Tag(kTagDefineSound, Pcm16(1, {500})).Tag(kTagDefineSound, Pcm16(2, {7}));
    b.Sprite(5, sprite, 2).Sprite(6, stopping, 3).Tag(kTagShowFrame, "");
    b.Tag(kTagPlaceObject2, PlaceObject2(1, 5)).Tag(kTagPlaceObject2, PlaceObject2(2, 6)).Tag(kTagShowFrame, "");
    for (int f = 2; f < 6; ++f)
        b.Tag(kTagShowFrame, "");
    b.Tag(kTagRemoveObject2, RemoveObject2(1)).Tag(kTagShowFrame, "");
    for (int f = 7; f < 10; ++f)
        b.Tag(kTagShowFrame, "");
    const Heard h = Render(b.End());
    ASSERT_EQ(h.left.size(), FrameStart(10, 12 * 256));
    std::vector<std::pair<size_t, int16_t>> at;
    for (size_t i = 0; i < h.left.size(); ++i) {
        if (h.left[i] != 0)
            at.emplace_back(i, h.left[i]);
    }
    const uint32_t r = 12 * 256;
    EXPECT_EQ(at, (std::vector<std::pair<size_t, int16_t>>{
                      {FrameStart(1, r), 507}, {FrameStart(3, r), 500}, {FrameStart(5, r), 500}}));
}

TEST(Soundtrack, AStopEndsTheMainTimeline)
{
    SwfBuilder b;
    b.Tag(kTagDefineSound, Pcm16(1, {1}));
    for (int f = 0; f < 5; ++f) {
        b.Tag(kTagStartSound, StartSound(1));
        if (f == 2)
            b.Tag(kTagDoAction, StopAction());
        b.Tag(kTagShowFrame, "");
    }
    const Heard h = Render(b.End());
    EXPECT_EQ(h.summary.frames, 3u);
    EXPECT_EQ(h.left.size(), FrameStart(3, 12 * 256));
    EXPECT_EQ(h.summary.instances, 3u);
}

TEST(Soundtrack, StreamsAndTheirGaps)
{
    const uint32_t r = 120 * 256;
    // PCM blocks in frames 0, 1 and 3: the first two run on, the third
    // starts at its own frame.
    SwfBuilder pcm;
    pcm.Rate(0, 120).Tag(kTagSoundStreamHead, StreamHead(3, 3, true, false, 3));
    pcm.Tag(kTagSoundStreamBlock, Le16({1, 2, 3})).Tag(kTagShowFrame, "");
    pcm.Tag(kTagSoundStreamBlock, Le16({4, 5})).Tag(kTagShowFrame, "").Tag(kTagShowFrame, "");
    pcm.Tag(kTagSoundStreamBlock, Le16({6})).Tag(kTagShowFrame, "").End();
    Heard h = Render(pcm);
    ASSERT_EQ(h.left.size(), FrameStart(4, r));
    EXPECT_EQ(Head(h.left, 6), (std::vector<int16_t>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(h.left[FrameStart(3, r)], 6);
    EXPECT_EQ(h.summary.streams, 2u);

    // ADPCM the same: every block decodes on its own.
    const auto a = EncodeAdpcm({100, 200, 300}, false, 4);
    const auto b = EncodeAdpcm({-50, -60, -70}, false, 4);
    SwfBuilder adpcm;
    adpcm.Rate(0, 120).Tag(kTagSoundStreamHead, StreamHead(1, 3, true, false, 3));
    adpcm.Tag(kTagSoundStreamBlock, a.bytes).Tag(kTagShowFrame, "").Tag(kTagShowFrame, "");
    adpcm.Tag(kTagSoundStreamBlock, b.bytes).Tag(kTagShowFrame, "").End();
    h = Render(adpcm);
    EXPECT_EQ(Head(h.left, 4), (std::vector<int16_t>{a.predicted[0], a.predicted[1], a.predicted[2], 0}));
    EXPECT_EQ((std::vector<int16_t>(h.left.begin() + FrameStart(2, r), h.left.begin() + FrameStart(2, r) + 3)), b.predicted);

    // MP3 blocks are one stream from the first, the gap and all, less its
    // seek samples: what the extracted stream decodes to.
    TempDir dir;
    const std::string mp3 = Mp3Bytes(TestTone(1152 * 6, false, 44100), false, 44100);
    const std::string first = mp3.substr(0, mp3.size() / 2);
    const std::string rest = mp3.substr(mp3.size() / 2);
    SwfBuilder stream;
    stream.Rate(0, 12).Tag(kTagSoundStreamHead, StreamHead(2, 3, true, false, 1152));
    stream.Tag(kTagSoundStreamBlock, U16(1152) + U16(300) + first).Tag(kTagShowFrame, "").Tag(kTagShowFrame, "");
    stream.Tag(kTagSoundStreamBlock, U16(1152) + U16(0) + rest).Tag(kTagShowFrame, "");
    for (int f = 0; f < 10; ++f)
        stream.Tag(kTagShowFrame, "");
    stream.End();
    h = Render(stream);
    CSwfMovie extracted;
    ASSERT_TRUE(extracted.Run(stream.WriteTo(dir / "s.swf"), OutputType::Wav));
    const WaveContents wav = ReadWave(extracted.Sounds().front().path);
    ASSERT_GT(wav.left.size(), 300u + 1000);
    EXPECT_EQ(Head(h.left, 1000), (std::vector<int16_t>(wav.left.begin() + 300, wav.left.begin() + 1300)));
}

TEST(Soundtrack, TheTailAndClipping)
{
    // A second of sound started on the last frame rings on past it.
    const std::string second = Pcm16(1, std::vector<int16_t>(44100, 30000));
    EXPECT_EQ(Render(OneStart(second), 0).left.size(), 3675u);
    EXPECT_EQ(Render(OneStart(second), 10).left.size(), 44100u);
    Heard h = Render(OneStart(second), 1);
    EXPECT_EQ(h.left.size(), 44100u) << "no longer than what sounds";

    // Two at once pass the 16 bits: clamped, and counted.
    SwfBuilder b;
    b.Tag(kTagDefineSound, Pcm16(1, {30000, -30000, 100})).Tag(kTagStartSound, StartSound(1)).Tag(kTagStartSound, StartSound(1));
    h = Render(b.Tag(kTagShowFrame, "").End());
    EXPECT_EQ(Head(h.left, 3), (std::vector<int16_t>{32767, -32768, 200}));
    EXPECT_EQ(h.summary.clipped, 4u);
}

TEST(Soundtrack, EveryTypeHoldsTheSameSound)
{
    TempDir dir;
    SwfBuilder b = OneStart(Pcm16(1, TestTone(20000, false, 22050), 2));
    const std::string movie = b.WriteTo(dir / "m.swf");
    CSoundtrack wav;
    ASSERT_TRUE(wav.RenderTo(movie, dir / "t.wav", OutputType::Wav, 10));
    CSoundtrack flac;
    ASSERT_TRUE(flac.RenderTo(movie, dir / "t.flac", OutputType::Flac, 10));
    const WaveContents pcm = ReadWave(dir / "t.wav");
    const Decoded decoded = DecodeFlac(dir / "t.flac");
    ASSERT_TRUE(decoded.ok);
    std::vector<int32_t> interleaved;
    for (size_t i = 0; i < pcm.left.size(); ++i) {
        interleaved.push_back(pcm.left[i]);
        interleaved.push_back(pcm.right[i]);
    }
    EXPECT_EQ(decoded.samples, interleaved);
    CSoundtrack mp3;
    ASSERT_TRUE(mp3.RenderTo(movie, dir / "t.mp3", OutputType::Mp3, 10));
    ASSERT_TRUE(mp3.Output());
    EXPECT_EQ(mp3.Output()->sampleCount, pcm.left.size());
    CMp3Decoder decoder;
    ASSERT_TRUE(decoder.Open(dir / "t.mp3"));
    uint64_t frames = 0;
    int16_t l[kMp3MaxFrameSamples];
    int16_t r[kMp3MaxFrameSamples];
    for (bool end = false; !end;) {
        size_t n = 0;
        ASSERT_TRUE(decoder.Decode(l, r, n, end));
        frames += n;
    }
    // The encoder's delay and padding come on top, less than two frames.
    EXPECT_GE(frames, pcm.left.size());
    EXPECT_LT(frames, pcm.left.size() + 3 * 1152);

    // Beside the movie, under the free name rules; the plan says the same.
    CSoundtrack beside;
    ASSERT_TRUE(beside.Render(movie, OutputType::Wav, 10));
    ASSERT_TRUE(beside.Output());
    EXPECT_EQ(beside.Output()->path, dir / "m_soundtrack.wav");
    ASSERT_TRUE(beside.Render(movie, OutputType::Wav, 10));
    EXPECT_EQ(beside.Output()->path, dir / "m_soundtrack_001.wav");
    EXPECT_EQ(ReadFileBytes(dir / "m_soundtrack.wav"), ReadFileBytes(dir / "t.wav"));
    CSoundtrack plan;
    ASSERT_TRUE(plan.Plan(movie, 10));
    EXPECT_EQ(plan.Summary().samples, beside.Summary().samples);
    EXPECT_EQ(plan.Summary().instances, beside.Summary().instances);
}

TEST(Soundtrack, WhatItCanOnlyList)
{
    SwfBuilder unplaced;
    unplaced.Tag(kTagStartSound, StartSound(2)).Tag(kTagShowFrame, "").End();
    SwfBuilder b;
    b.Tag(kTagDefineSound, Pcm16(1, {1})).Tag(kTagDefineSound, Pcm16(2, {2})).Tag(kTagDefineSound, Pcm16(3, {3}));
    b.Tag(kTagExportAssets, U16(1) + U16(3) + "click" + '\0');
    b.Tag(kTagSymbolClass, U16(1) + U16(1) + "Tick" + '\0');
    b.Tag(kTagDefineButtonSound, U16(9) + U16(0) + U16(3) + SoundInfoBytes() + U16(0) + U16(0));
    b.Sprite(7, unplaced, 1).Tag(kTagDoAbc, "abc");
    // A movie inside holding a sound and a stream, with one more movie inside it.
    SwfBuilder deepest;
    deepest.Tag(kTagDefineSound, Pcm16(1, {4})).End();
    SwfBuilder inner;
    inner.Tag(kTagDefineSound, Pcm16(1, {5})).Tag(kTagStartSound, StartSound(1));
    inner.Tag(kTagSoundStreamHead, StreamHead(3, 3, true, false, 1)).Tag(kTagDefineBinaryData, BinaryData(2, deepest.Build()));
    b.Tag(kTagDefineBinaryData, BinaryData(8, inner.Tag(kTagShowFrame, "").End().Build(true)));
    b.Tag(kTagStartSound2, std::string("Tick") + '\0' + SoundInfoBytes()).Tag(kTagShowFrame, "").End();
    const Heard h = Render(b);
    EXPECT_EQ(Head(h.left, 2), (std::vector<int16_t>{1, 0})) << "started through its class";
    EXPECT_TRUE(h.summary.scripts);
    ASSERT_EQ(h.summary.buttonSounds.size(), 1u);
    EXPECT_EQ(h.summary.buttonSounds[0].sound, 3);
    ASSERT_EQ(h.summary.unstarted.size(), 1u);
    EXPECT_EQ(h.summary.unstarted[0].id, 3);
    EXPECT_EQ(h.summary.unstarted[0].name, "click");
    EXPECT_EQ(h.summary.unplacedSprites, std::vector<uint16_t>{7});
    ASSERT_EQ(h.summary.embeddedMovies.size(), 1u);
    EXPECT_EQ(h.summary.embeddedMovies[0].movie, 8);
    EXPECT_EQ(h.summary.embeddedMovies[0].sounds, 3u);
    EXPECT_EQ(h.summary.instances, 1u) << "what the movie inside starts is not heard";
}

TEST(Soundtrack, MoviesWithNothingToHearOrMadeToHang)
{
    TempDir dir;
    CSoundtrack track;
    // No sound on its timelines, and no clock: no file, and no failure.
    SwfBuilder silent;
    silent.Tag(kTagDefineSound, Pcm16(1, {1})).Tag(kTagShowFrame, "").End();
    EXPECT_TRUE(track.Render(silent.WriteTo(dir / "silent.swf"), OutputType::Wav, 10));
    EXPECT_EQ(track.Summary().none, "no timeline sound");
    EXPECT_FALSE(track.Output());
    EXPECT_TRUE(track.Render(OneStart(Pcm16(1, {1})).Rate(0, 0).WriteTo(dir / "still.swf"), OutputType::Wav, 10));
    EXPECT_NE(track.Summary().none.find("frame rate is 0"), std::string::npos);
    // Smaller than a header read takes, and still a movie.
    EXPECT_TRUE(track.Render(SwfBuilder().Stage(0, 0, 0, 0, 0).Tag(9, "abc").Tag(kTagShowFrame, "").End().WriteTo(dir / "tiny.swf"),
                             OutputType::Wav, 10));
    EXPECT_EQ(track.Summary().none, "no timeline sound");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"silent.swf", "still.swf", "tiny.swf"}));

    // A frame every 256 seconds: a few bytes that would play for hours are
    // cut where a WAV file ends, and count as lost there.
    SwfBuilder slow;
    slow.Rate(1, 0).Tag(kTagDefineSound, Pcm16(1, {1}));
    for (int f = 0; f < 200; ++f)
        slow.Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "");
    ASSERT_TRUE(track.Plan(slow.End().WriteTo(dir / "slow.swf"), 10));
    EXPECT_TRUE(track.Summary().cut);
    EXPECT_EQ(track.Summary().samples, (uint64_t{0xFFFFFFFF} - 36) / 4);

    // A sprite that places itself, and a chain of sprites deeper than any
    // tool makes: those branches end, the rest plays.
    SwfBuilder self;
    self.Tag(kTagPlaceObject2, PlaceObject2(1, 5)).Tag(kTagStartSound, StartSound(1)).Tag(kTagShowFrame, "").End();
    SwfBuilder b;
    b.Tag(kTagDefineSound, Pcm16(1, {9})).Sprite(5, self, 1);
    for (uint16_t id = 100; id < 150; ++id) {
        SwfBuilder inner;
        inner.Tag(kTagPlaceObject2, PlaceObject2(1, static_cast<uint16_t>(id + 1))).Tag(kTagShowFrame, "").End();
        b.Sprite(id, inner, 1);
    }
    b.Tag(kTagPlaceObject2, PlaceObject2(1, 5)).Tag(kTagPlaceObject2, PlaceObject2(2, 100)).Tag(kTagShowFrame, "").End();
    const Heard h = Render(b);
    EXPECT_EQ(h.left[0], 9);
    EXPECT_EQ(h.summary.warnings.size(), 2u);
}
