#include <gtest/gtest.h>

#include <vector>

#include "platform/file.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/lzma_body.h"

namespace {

// A movie whose body is long enough for several chunks of compressed data
// and not too regular for LZMA.
SwfBuilder SoundMovie()
{
    SwfBuilder b;
    for (uint16_t id = 1; id <= 3; ++id) {
        const auto tone = TestTone(40000u * id, id == 2, 22050);
        b.Tag(kTagDefineSound, DefineSound(id, 3, 2, true, id == 2, static_cast<uint32_t>(tone.size()),
                                           std::string(reinterpret_cast<const char*>(tone.data()), tone.size() * 2)));
    }
    return b.End();
}

// Decodes room body bytes of the ZWS bytes as a load would; false as the decoder says.
bool Decode(const std::string& zws, size_t room, std::string& body, bool headerOnly = false)
{
    TempDir dir;
    WriteFileBytes(dir / "m.swf", zws);
    platform::File file;
    if (!file.Open(dir / "m.swf", platform::OpenMode::Read) || !file.Seek(8))
        return false;
    std::vector<uint8_t> out(room);
    const bool ok = DecodeLzmaBody(file, out.data(), room, headerOnly);
    body.assign(out.begin(), out.end());
    return ok;
}

}  // namespace

TEST(LzmaBody, BothEndFormsDecodeToThePlainBody)
{
    const SwfBuilder movie = SoundMovie();
    const std::string plain = movie.Build().substr(8);
    for (bool endMarker : {true, false}) {
        SCOPED_TRACE(endMarker ? "with end marker" : "without end marker");
        const std::string zws = movie.BuildZws(endMarker);
        ASSERT_EQ(zws.compare(0, 3, "ZWS"), 0);
        ASSERT_EQ(U32At(zws, 4), plain.size() + 8);
        std::string body;
        ASSERT_TRUE(Decode(zws, plain.size(), body));
        EXPECT_TRUE(body == plain);
        // Header-only: the first 20 bytes, from the start of the stream alone.
        ASSERT_TRUE(Decode(zws.substr(0, 17 + 1024), 20, body, true));
        EXPECT_EQ(body, plain.substr(0, 20));
        // A body declared shorter than the stream: the surplus is ignored.
        ASSERT_TRUE(Decode(zws, plain.size() - 100, body));
        EXPECT_TRUE(body == plain.substr(0, plain.size() - 100));
    }
}

TEST(LzmaBody, ShortOrDamagedStreamsFail)
{
    const SwfBuilder movie = SoundMovie();
    const size_t room = movie.Build().size() - 8;
    for (bool endMarker : {true, false}) {
        SCOPED_TRACE(endMarker ? "with end marker" : "without end marker");
        const std::string zws = movie.BuildZws(endMarker);
        std::string body;
        // A length that claims one byte more than the stream holds.
        EXPECT_FALSE(Decode(zws, room + 1, body));
        // The last byte missing: without an end marker a part of the body is
        // lost; with one, only the marker is.
        EXPECT_EQ(Decode(zws.substr(0, zws.size() - 1), room, body), endMarker);
        // Cut anywhere else: inside the stream, its properties or its lengths.
        for (size_t keep : {zws.size() / 2, size_t{17}, size_t{14}, size_t{9}})
            EXPECT_FALSE(Decode(zws.substr(0, keep), room, body)) << keep;
        // Properties no LZMA stream can have (lc/lp/pb byte above 224).
        std::string bad = zws;
        bad[12] = static_cast<char>(225);
        EXPECT_FALSE(Decode(bad, room, body));
        // Damage inside the stream.
        bad = zws;
        for (size_t i = 40; i < 60; ++i)
            bad[i] = static_cast<char>(bad[i] ^ 0xA5);
        EXPECT_FALSE(Decode(bad, room, body));
    }
}

TEST(LzmaBody, DictionaryFollowsTheBodyNotTheProperties)
{
    // Properties asking for a 4 GiB dictionary: the body is small, so the
    // decoder needs no more than the body and decodes as before.
    const SwfBuilder movie = SoundMovie();
    const std::string plain = movie.Build().substr(8);
    std::string zws = movie.BuildZws(true);
    for (size_t i = 13; i < 17; ++i)
        zws[i] = '\xFF';
    std::string body;
    ASSERT_TRUE(Decode(zws, plain.size(), body));
    EXPECT_TRUE(body == plain);
}
