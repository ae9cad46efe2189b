#include <gtest/gtest.h>

#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "swf/outcome_words.h"
#include "swf/swf_movie.h"

namespace {

const std::string kPcm(200, '\x80');

}  // namespace

TEST(OutcomeWords, EachEndOfAConversionHasItsWords)
{
    TempDir dir;
    const std::string good = SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 0, 1, false, false, 200, kPcm)).End().Build();
    std::string damaged = SwfBuilder().Tag(2, std::string(500, 'a')).End().Build(true);
    damaged[8] = static_cast<char>(damaged[8] ^ 0x55);
    struct Case {
        const char* name;
        std::string bytes;
        MovieOutcome outcome;
        std::string reason;
    } cases[] = {
        {"whole", good, MovieOutcome::Converted, ""},
        {"damaged", damaged, MovieOutcome::Failed, "the body is damaged or cut short"},
        {"text", "just some text", MovieOutcome::Failed, "not a movie: no FWS, CWS or ZWS header"},
        {"unknown",
         SwfBuilder().Tag(kTagDefineSound, DefineSound(1, 9, 1, true, false, 10, "????")).End().Build(),
         MovieOutcome::Failed, "none of its sounds could be written"},
        {"mixed",
         SwfBuilder()
             .Tag(kTagDefineSound, DefineSound(1, 9, 1, true, false, 10, "????"))
             .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 200, kPcm))
             .End()
             .Build(),
         MovieOutcome::Partial, "1 of 2 sounds lost"},
        {"cut", good.substr(0, good.size() - 40), MovieOutcome::Partial,
         "cut short: " + std::to_string(good.size() - 40) + " of " + std::to_string(good.size()) + " bytes"},
    };
    for (const Case& c : cases) {
        const std::string path = dir / (std::string(c.name) + ".swf");
        WriteFileBytes(path, c.bytes);
        CSwfMovie movie;
        const MovieVerdict verdict = JudgeMovie(movie, movie.Run(path, OutputType::Wav));
        EXPECT_EQ(verdict.outcome, c.outcome) << c.name;
        EXPECT_EQ(verdict.reason, c.reason) << c.name;
    }
}

TEST(OutcomeWords, ALostSoundSaysWhy)
{
    TempDir dir;
    const std::string path = dir / "m.swf";
    WriteFileBytes(path, SwfBuilder()
                             .Tag(kTagDefineSound, DefineSound(1, 9, 1, true, false, 10, "????"))
                             .Tag(kTagDefineSound, DefineSound(2, 0, 1, false, false, 200, kPcm))
                             .End()
                             .Build());
    CSwfMovie movie;
    ASSERT_TRUE(movie.Run(path, OutputType::Wav));
    ASSERT_EQ(movie.Findings().size(), 2u);
    EXPECT_EQ(SoundLossWords(movie.Findings()[0]), "lost: format 9 is no known sound format");
    EXPECT_EQ(SoundLossWords(movie.Findings()[1]), "");
}
