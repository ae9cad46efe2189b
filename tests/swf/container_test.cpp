#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/file.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/bit_reader.h"
#include "swf/swf_movie.h"

namespace {

SwfHeaderInfo Header(const std::string& path)
{
    SwfHeaderInfo info;
    EXPECT_TRUE(CSwfMovie::GetHeaderInfo(path, &info));
    return info;
}

}  // namespace

TEST(Container, HeaderOfPlainAndCompressedMovies)
{
    TempDir dir;
    SwfBuilder b;
    b.Version(9).Stage(15, 0, 11000, 0, 8000).Rate(0x00, 0x18).Frames(300).Tag(9, "\x10\x20\x30").End();
    for (bool compressed : {false, true}) {
        const SwfHeaderInfo info = Header(b.WriteTo(dir / "m.swf", compressed));
        EXPECT_EQ(info.width, 550);
        EXPECT_EQ(info.height, 400);
        EXPECT_EQ(info.frameRate, 24);
        EXPECT_EQ(info.frameCount, 300);
        EXPECT_EQ(info.version, 9);
    }
}

TEST(Container, StageAndRateArithmetic)
{
    TempDir dir;
    // Nbits 0: empty rectangle. 12.5 fps shows as 12.
    EXPECT_EQ(Header(SwfBuilder().Stage(0, 0, 0, 0, 0).Rate(0x80, 0x0C).Tag(9, std::string(12, 'c')).End().WriteTo(dir / "a.swf")).frameRate, 12);
    EXPECT_EQ(Header(dir / "a.swf").width, 0);
    // 39 / 20 truncates to 1; a reversed rectangle gives a negative size.
    EXPECT_EQ(Header(SwfBuilder().Stage(7, 10, 49, 49, 10).Tag(9, std::string(12, 'c')).End().WriteTo(dir / "b.swf")).width, 1);
    EXPECT_EQ(Header(dir / "b.swf").height, -1);
    // The widest rectangle (31-bit values) must not overflow the arithmetic.
    const SwfHeaderInfo wide =
        Header(SwfBuilder().Stage(31, -1073741824, 1073741823, 0, 0).End().WriteTo(dir / "c.swf"));
    EXPECT_EQ(wide.width, 107374182);
}

TEST(Container, HeaderOnlyStaysInsideItsTwentyBytes)
{
    TempDir dir;
    // With 31-bit values the rectangle takes 17 bytes; the frame count's high
    // byte then lies beyond the 20 bytes read, and reads as zero.
    std::string movie = SwfBuilder().Stage(31, 0, 20, 0, 20).Frames(0x1234).End().Build();
    WriteFileBytes(dir / "m.swf", movie);
    SwfHeaderInfo info;
    ASSERT_TRUE(CSwfMovie::GetHeaderInfo(dir / "m.swf", &info));
    EXPECT_EQ(info.frameCount, 0x34);
    // A full load sees the whole count.
    CSwfMovie full;
    ASSERT_TRUE(full.Load(dir / "m.swf", false));
    EXPECT_EQ(full.HeaderInfo().frameCount, 0x1234);
}

TEST(Container, HeaderOfMoviesSmallerThanAHeaderRead)
{
    TempDir dir;
    SwfBuilder b;
    b.Stage(0, 0, 0, 0, 0).Rate(0, 24).Frames(7).Tag(9, "abc").Tag(kTagShowFrame, "").End();
    const std::string plain = b.Build();
    ASSERT_LT(plain.size(), 28u);
    struct Case {
        const char* what;
        std::string bytes;
        bool readable;
    };
    const Case cases[] = {
        {"plain", plain, true},
        {"zlib", b.Build(true), true},
        {"lzma", b.BuildZws(false), true},
        {"cut after its header", plain.substr(0, 15), true},
        {"cut inside its header", SwfBuilder().Stage(20, 1, 2, 3, 4).End().Build().substr(0, 16), false},
    };
    for (const Case& c : cases) {
        WriteFileBytes(dir / "m.swf", c.bytes);
        SwfHeaderInfo info;
        ASSERT_EQ(CSwfMovie::GetHeaderInfo(dir / "m.swf", &info), c.readable) << c.what;
        if (c.readable) {
            EXPECT_EQ(info.frameRate, 24) << c.what;
            EXPECT_EQ(info.frameCount, 7) << c.what;
        }
    }
}

TEST(Container, SignatureAndLengthChecks)
{
    TempDir dir;
    const std::string good = SwfBuilder().End().Build();
    auto loads = [&](std::string bytes) {
        WriteFileBytes(dir / "x.swf", bytes);
        CSwfMovie m;
        return m.Load(dir / "x.swf", false);
    };
    EXPECT_TRUE(loads(good));
    EXPECT_FALSE(loads("fWS" + good.substr(3)));
    EXPECT_TRUE(loads(SwfBuilder().End().BuildZws(false)));
    EXPECT_FALSE(loads("zWS" + SwfBuilder().End().BuildZws(false).substr(3)));
    EXPECT_FALSE(loads("FWX" + good.substr(3)));
    EXPECT_FALSE(loads(good.substr(0, 7)));
    EXPECT_FALSE(loads(SwfBuilder().DeclaredLength(20).End().Build()));
    EXPECT_TRUE(loads(SwfBuilder().DeclaredLength(21).End().Build()));

    SwfHeaderInfo info;
    EXPECT_FALSE(CSwfMovie::GetHeaderInfo(dir / "missing.swf", &info));
    EXPECT_FALSE(CSwfMovie::GetHeaderInfo(dir / "x.swf", nullptr));
    EXPECT_FALSE(CSwfMovie::GetHeaderInfo(dir.Path(), &info));
    // Header-only needs the whole header of a plain movie.
    WriteFileBytes(dir / "short.swf", good.substr(0, 8 + 11));
    EXPECT_FALSE(CSwfMovie::GetHeaderInfo(dir / "short.swf", &info));
}

TEST(Container, PlainBufferIsSizedByTheFileNotTheDeclaredLength)
{
    TempDir dir;
    // Declares 100 MiB, as some encoders do whatever the real size.
    const std::string movie = SwfBuilder().DeclaredLength(100u << 20).End().Build();
    WriteFileBytes(dir / "big.swf", movie);
    CSwfMovie m;
    ASSERT_TRUE(m.Load(dir / "big.swf", false));
    EXPECT_EQ(m.BodyLength(), movie.size());
    EXPECT_LT(m.BufferSize(), movie.size() + 16);

    // A declared length shorter than the file: the surplus is not loaded.
    WriteFileBytes(dir / "long.swf", SwfBuilder().End().Build() + std::string(100, 'x'));
    ASSERT_TRUE(m.Load(dir / "long.swf", false));
    EXPECT_EQ(m.BodyLength(), movie.size());
}

TEST(Container, CompressedLengthChecks)
{
    TempDir dir;
    SwfBuilder b;
    b.Tag(2, std::string(1000, 'a')).End();
    const std::string body = b.MovieHeader() + b.Tags();
    CSwfMovie m;

    // Surplus decompressed data is ignored.
    WriteFileBytes(dir / "surplus.swf", SwfBuilder(b).DeclaredLength(static_cast<uint32_t>(body.size() + 8 - 100)).Build(true));
    ASSERT_TRUE(m.Load(dir / "surplus.swf", false));
    EXPECT_EQ(m.BodyLength(), body.size() + 8 - 100);

    // Less data than declared fails.
    WriteFileBytes(dir / "short.swf", SwfBuilder(b).DeclaredLength(static_cast<uint32_t>(body.size() + 9)).Build(true));
    EXPECT_FALSE(m.Load(dir / "short.swf", false));

    // A declared length no compressed stream of this size could reach is
    // refused before anything is allocated for it.
    WriteFileBytes(dir / "huge.swf", SwfBuilder(b).DeclaredLength(0xFFFFFFF0u).Build(true));
    EXPECT_FALSE(m.Load(dir / "huge.swf", false));
    // Its header can still be read.
    SwfHeaderInfo info;
    EXPECT_TRUE(CSwfMovie::GetHeaderInfo(dir / "huge.swf", &info));

    // An honest header over a body that inflates far beyond what real
    // movies reach is a bomb: refused before anything is allocated. A small
    // body may inflate as far as it likes.
    for (const auto& [megabytes, loads] : {std::pair{17u, false}, std::pair{1u, true}}) {
        const std::string silence(megabytes << 20, '\0');
        SwfBuilder bomb;
        bomb.Tag(kTagDefineSound, DefineSound(1, 0, 0, false, false, megabytes << 20, silence)).End();
        WriteFileBytes(dir / "bomb.swf", bomb.Build(true));
        EXPECT_EQ(m.Load(dir / "bomb.swf", false), loads) << megabytes << " MiB";
        EXPECT_TRUE(CSwfMovie::GetHeaderInfo(dir / "bomb.swf", &info));
    }

    // A damaged stream fails; so does a truncated one.
    std::string bad = SwfBuilder(b).Build(true);
    bad[8] = static_cast<char>(bad[8] ^ 0x55);  // zlib header: unknown method
    WriteFileBytes(dir / "bad.swf", bad);
    EXPECT_FALSE(m.Load(dir / "bad.swf", false));
    WriteFileBytes(dir / "cut.swf", SwfBuilder(b).Build(true).substr(0, 20));
    EXPECT_FALSE(m.Load(dir / "cut.swf", false));
}

TEST(Container, BitAndByteReaders)
{
    const std::string bytes("\xF5\x12\x34\xF0\xAB\xCD\0\0", 8);
    CBitReader m;
    m.Attach(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(m.ReadBits(3), 7u);        // 111 of 0xF5
    EXPECT_EQ(m.ReadByte(), 0x12);       // pending bits are dropped
    EXPECT_EQ(m.ReadBits(16), 0x34F0u);  // big-endian across bytes
    EXPECT_EQ(m.ReadSignedBits(4), -6);  // 1010
    EXPECT_EQ(m.ReadBits(0), 0u);
    EXPECT_EQ(m.ReadSignedBits(0), 0);
    EXPECT_EQ(m.ReadBits(4), 0xBu);
    EXPECT_EQ(m.ReadUI16(), 0x00CD);
    m.SkipBytes(5);
    EXPECT_EQ(m.Cursor(), 12u);
    EXPECT_EQ(m.ReadUI32(), 0u);         // past the end: zero bytes
    EXPECT_EQ(m.ReadBits(31), 0u);
}

TEST(Container, AMovieThatShrinksWhileWalkedFailsAndLeavesNothing)
{
    TempDir dir;
    const std::string pcm(20000, '\x40');
    const std::string path = SwfBuilder()
                                 .Tag(kTagDefineSound, DefineSound(1, 3, 1, false, false, 20000, pcm))
                                 .Tag(kTagDefineSound, DefineSound(2, 3, 1, false, false, 20000, pcm))
                                 .End()
                                 .WriteTo(dir / "m.swf");
    // Another program cuts the movie as its first output is started: the
    // walk then meets pages the file no longer has.
    bool cut = false;
    platform::SetFileEventListener([&](platform::FileEvent event, int, const std::string&) {
        if (event == platform::FileEvent::TempCreated && !cut)
            cut = ::truncate(path.c_str(), 100) == 0;
    });
    CSwfMovie m;
    EXPECT_FALSE(m.Run(path, OutputType::Wav));
    platform::SetFileEventListener({});
    ASSERT_TRUE(cut);
    EXPECT_EQ(m.LastLoadFailure(), LoadFailure::Changed);
    EXPECT_TRUE(m.Sounds().empty());
    EXPECT_EQ(dir.List(), std::vector<std::string>{"m.swf"});
}
