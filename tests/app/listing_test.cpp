// --list: what a conversion would find, with nothing written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/program.h"
#include "support/media.h"
#include "support/swf_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace {

using Json = nlohmann::json;

// Movies of every kind of sound and outcome; their names in order.
std::vector<std::string> MakeMovies(const TempDir& dir)
{
    const std::string mp3 = Mp3Bytes(TestTone(3000, false, 22050), false, 22050);
    SwfBuilder inner;
    inner.Tag(kTagSoundStreamHead, StreamHead(2, 2, true, false, 1152))
        .Tag(kTagSoundStreamBlock, Mp3StreamBlock(1152, mp3))
        .Tag(kTagDefineSound, DefineSound(4, 0, 1, false, false, 100, std::string(100, 'i')))
        .Tag(kTagExportAssets, U16(1) + U16(4) + "inside" + '\0')
        .End();
    SwfBuilder()
        .Tag(kTagDefineSound, DefineSound(1, 2, 2, true, false, 3000, U16(0) + mp3))
        .Tag(kTagDefineBinaryData, BinaryData(7, inner.Build(true)))
        .Tag(kTagDefineSound, DefineSound(2, 9, 1, true, false, 10, "lost"))
        .End()
        .WriteTo(dir / "game.swf", true);
    PcmMovie(dir / "three.swf", 3);
    PcmMovie(dir / "one.swf");
    WriteFileBytes(dir / "notes.swf", "not a movie");
    return {"game.swf", "three.swf", "one.swf", "notes.swf"};
}

std::vector<Json> LinesOf(const std::string& text)
{
    std::vector<Json> records;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        records.push_back(Json::parse(text.substr(at, end - at)));
        at = end + 1;
    }
    return records;
}

}  // namespace

TEST(Listing, WritesNothingAndFindsWhatAConversionFinds)
{
    TempDir listed;
    TempDir converted;
    const auto names = MakeMovies(listed);
    MakeMovies(converted);
    std::string args;
    for (const std::string& n : names)
        args += n + " ";
    const auto before = Snapshot(listed.Path());

    const Result list = RunProgram(listed, "--list --jobs=2 " + args + " --report=list.jsonl");
    const Result run = RunProgram(converted, "/keep --jobs=2 " + args + " --report=run.jsonl");
    EXPECT_EQ(list.status, 1);  // a lost sound and a movie that is none
    EXPECT_EQ(run.status, 1);
    auto after = Snapshot(listed.Path());
    after.erase("list.jsonl");
    EXPECT_EQ(after, before);

    // Every movie under its name, in argument order, its sounds numbered as the report numbers them.
    size_t at = 0;
    for (const std::string& n : names) {
        const size_t found = list.out.find(n + "\n", at);
        EXPECT_NE(found, std::string::npos) << n;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_NE(list.out.find("      2  stream      -       -  7            MP3         22050   1    16        4608      0.209  -\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("  event       4       -  7            PCM         11025   1     8         100      "
                            "0.009  inside\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("not a movie: no FWS, CWS or ZWS header"), std::string::npos);

    // The same records, less the files: sounds, numbers, counts, outcomes.
    std::vector<Json> listRecords = LinesOf(ReadFileBytes(listed / "list.jsonl"));
    std::vector<Json> runRecords = LinesOf(ReadFileBytes(converted / "run.jsonl"));
    ASSERT_EQ(listRecords.size(), names.size());
    ASSERT_EQ(runRecords.size(), names.size());
    const auto byPath = [](const Json& a, const Json& b) { return a["path"] < b["path"]; };
    std::sort(listRecords.begin(), listRecords.end(), byPath);
    std::sort(runRecords.begin(), runRecords.end(), byPath);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(runRecords[i]["path"]);
        EXPECT_EQ(listRecords[i]["output_type"], "list");
        EXPECT_EQ(listRecords[i]["list_type"], "mp3");
        listRecords[i].erase("output_type");
        listRecords[i].erase("list_type");
        // Each run's folder is its own.
        listRecords[i].erase("real_path");
        runRecords[i].erase("real_path");
        runRecords[i].erase("output_type");
        if (runRecords[i].contains("sounds")) {
            for (Json& s : runRecords[i]["sounds"])
                s.erase("output");
        }
        EXPECT_EQ(listRecords[i], runRecords[i]);
    }
    EXPECT_EQ(runRecords[0]["sounds"].size(), 4u);

    // Resuming a listing would have nothing to resume.
    EXPECT_EQ(RunProgram(listed, "--list --resume --report=list.jsonl one.swf").status, 2);
}
