// Movies embedded in DefineBinaryData tags: walked where they stand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/swf_movie.h"

namespace {

std::string Pcm(size_t n, char seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 5);
    return s;
}

// The bytes of every file a movie's extraction wrote, in catalogue order.
std::vector<std::string> ExtractedBytes(const std::string& path, std::vector<CSoundFinding>* findings = nullptr)
{
    CSwfMovie movie;
    EXPECT_TRUE(movie.Extract(path, true));
    std::vector<std::string> bytes;
    for (const CSoundElement& s : movie.Sounds())
        bytes.push_back(ReadFileBytes(s.path));
    if (findings)
        *findings = movie.Findings();
    return bytes;
}

// A movie of a sprite holding an ADPCM stream, an MP3 event sound and a PCM
// one, each of its own bytes, with the PCM sound exported by name.
SwfBuilder InnerMovie(char seed)
{
    const AdpcmEncoded block = EncodeAdpcm(TestTone(200, false, 11025), false, 4);
    SwfBuilder sprite;
    sprite.Tag(kTagSoundStreamHead2, StreamHead(1, 1, true, false, 200))
        .Tag(kTagSoundStreamBlock, block.bytes)
        .Tag(kTagSoundStreamBlock, block.bytes)
        .End();
    SwfBuilder b;
    b.Sprite(4, sprite)
        .Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 576, U16(0) + "\xFF\xFB\x90\x64" + Pcm(80, seed)))
        .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, true, 100, Pcm(200, seed)))
        .Tag(kTagExportAssets, U16(1) + U16(2) + "inner" + '\0')
        .End();
    return b;
}

}  // namespace

TEST(Embedded, InnerMoviesGiveTheSoundsTheyGiveAlone)
{
    struct Case {
        const char* what;
        std::string inner;  // the embedded movie's bytes
        std::vector<uint16_t> in;
    };
    const SwfBuilder inner = InnerMovie('a');
    SwfBuilder nested;  // a ZWS movie inside a CWS one
    nested.Tag(kTagDefineBinaryData, BinaryData(9, inner.BuildZws(true))).End();
    const Case cases[] = {
        {"CWS", inner.Build(true), {5}},
        {"ZWS", inner.BuildZws(false), {5}},
        {"FWS", inner.Build(false), {5}},
        {"ZWS in CWS", nested.Build(true), {5, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        inner.WriteTo(dir / "alone.swf", true);
        const std::vector<std::string> alone = ExtractedBytes(dir / "alone.swf");
        ASSERT_EQ(alone.size(), 3u);

        // The outer movie's own sounds before and after, one under the same
        // id as an inner sound and named by the outer movie.
        SwfBuilder outer;
        outer.Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 50, Pcm(50, 'x')))
            .Tag(kTagDefineBinaryData, BinaryData(5, c.inner))
            .Tag(kTagDefineSound, DefineSound(3, 0, 1, false, false, 60, Pcm(60, 'y')))
            .Tag(kTagExportAssets, U16(1) + U16(2) + "outer" + '\0')
            .End();
        std::vector<CSoundFinding> findings;
        const std::vector<std::string> all = ExtractedBytes(outer.WriteTo(dir / "outer.swf"), &findings);
        ASSERT_EQ(all.size(), 5u);
        EXPECT_EQ(std::vector<std::string>(all.begin() + 1, all.begin() + 4), alone);
        EXPECT_EQ(all.front().substr(44), Pcm(50, 'x'));
        EXPECT_EQ(all.back().substr(44), Pcm(60, 'y'));

        // In the order met: the sprite's stream ends before the inner event sounds.
        ASSERT_EQ(findings.size(), 5u);
        const std::vector<std::vector<uint16_t>> in{{}, c.in, c.in, c.in, {}};
        const std::vector<std::string> names{"outer", "", "", "inner", ""};
        const std::vector<uint16_t> sprites{0, 4, 0, 0, 0};
        for (size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].embeddedIn, in[i]) << i;
            EXPECT_EQ(findings[i].exportName, names[i]) << i;
            EXPECT_EQ(findings[i].sprite, sprites[i]) << i;
            EXPECT_EQ(findings[i].record, static_cast<int>(i));
        }
    }
}

TEST(Embedded, BombsAndDataThatOnlyLookLikeMoviesAreSkipped)
{
    // An inner movie holding one sound, padded with a tag of zeros that
    // compresses to almost nothing.
    const auto padded = [](size_t zeros) {
        return SwfBuilder()
            .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 40, Pcm(40, 'p')))
            .Tag(99, std::string(zeros, '\0'), true)
            .End()
            .Build(true);
    };
    // A sound, then a tag that runs past the end: no movie's tags do.
    const std::string runsPast = SwfBuilder()
                                     .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 40, Pcm(40, 'f')))
                                     .Raw(std::string("\xBF\x03\xFF\xFF\xFF\x00", 6) + "x")
                                     .Build(false);
    const std::string claimsMore = SwfBuilder()
                                       .Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 40, Pcm(40, 'f')))
                                       .End()
                                       .DeclaredLength(1000)
                                       .Build(false);
    const std::string bomb = padded(size_t{40} << 20);
    const std::string tenMiB = padded(size_t{10} << 20);
    struct Case {
        const char* what;
        std::vector<std::string> data;  // one DefineBinaryData each
        size_t innerFound;
        size_t lost;  // movies too large to read: each a sound source lost
    };
    const Case cases[] = {
        {"a bomb", {bomb}, 0, 1},
        // Each alone is allowed; together they pass the movie's one bound.
        {"two that add up to a bomb", {tenMiB, tenMiB}, 1, 1},
        {"FWS and noise", {"FWS\x08\x40\x00\x00\x00" + Pcm(56, 'n')}, 0, 0},
        {"FWS whose tags run past its end", {runsPast}, 0, 0},
        {"FWS longer than its data", {claimsMore}, 0, 0},
        {"CWS of no zlib stream", {"CWS\x08\x40\x00\x00\x00" + Pcm(56, 'z')}, 0, 0},
        {"ZWS of no LZMA stream", {"ZWS\x08\x40\x00\x00\x00" + Pcm(56, 'l')}, 0, 0},
        {"not a movie", {"\x89PNG\r\n\x1a\n" + Pcm(40, 'g')}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        SwfBuilder outer;
        outer.Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 50, Pcm(50, 'x')));
        for (const std::string& data : c.data)
            outer.Tag(kTagDefineBinaryData, BinaryData(5, data), true);
        outer.End();
        CSwfMovie movie;
        ASSERT_TRUE(movie.Extract(outer.WriteTo(dir / "o.swf")));
        EXPECT_EQ(movie.FoundCount(), 1 + c.innerFound + c.lost);
        EXPECT_EQ(movie.ExtractedCount(), 1 + c.innerFound);
        ASSERT_EQ(movie.LostSources().size(), c.lost);
        if (c.lost) {
            EXPECT_EQ(movie.LostSources()[0].id, 5);
        }
    }
}
