#include <gtest/gtest.h>

#include "util/paths.h"

TEST(Paths, FileNamePartAndExtension)
{
    EXPECT_EQ(FileNamePart("/movies/intro.swf"), "intro.swf");
    EXPECT_EQ(FileNamePart("intro.swf"), "intro.swf");
    EXPECT_EQ(FileNamePart("/movies/"), "");

    EXPECT_EQ(FileExtension("/movies/intro.swf"), ".swf");
    EXPECT_EQ(FileExtension("/movies/archive.tar.gz"), ".gz");
    // A dot in a folder name is no extension, and a bare name has none.
    EXPECT_EQ(FileExtension("/a.b/name"), "");
    EXPECT_EQ(FileExtension("intro.swf"), "");

    EXPECT_EQ(WithoutExtension("/movies/intro.swf"), "/movies/intro");
    EXPECT_EQ(WithoutExtension("/a.b/name"), "/a.b/name");
    EXPECT_EQ(WithoutExtension("intro.tar.gz"), "intro.tar");
}

TEST(Paths, ViewsPointIntoTheCallersString)
{
    const std::string path = "/x/y/clip.SWF";
    const std::string_view ext = FileExtension(path);
    EXPECT_EQ(ext.data(), path.data() + path.size() - 4);
}

TEST(Paths, ModuleFolderEndsWithSlash)
{
    std::string folder;
    ASSERT_TRUE(GetModuleFolder(folder));
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(FolderExists(folder));
}

TEST(Paths, ExistenceTests)
{
    EXPECT_TRUE(FileExists("/"));
    EXPECT_TRUE(FolderExists("/"));
    EXPECT_FALSE(FileExists("/no/such/path/here"));
    EXPECT_FALSE(FolderExists(""));
}

TEST(Paths, EqualsIgnoreCase)
{
    EXPECT_TRUE(EqualsIgnoreCase("/WAV", "/wav"));
    EXPECT_TRUE(EqualsIgnoreCase("/Mp3", "/mP3"));
    EXPECT_FALSE(EqualsIgnoreCase("/mp3x", "/mp3"));
    EXPECT_FALSE(EqualsIgnoreCase("a", "b"));
}

TEST(Paths, Utf8PrefixNeverSplitsACharacter)
{
    const struct {
        const char* text;
        size_t most;
        size_t length;
    } cases[] = {
        {"abc", 10, 3},             // shorter than the most: whole
        {"h\xC3\xA9llo", 2, 1},     // 'é' would be split
        {"h\xC3\xA9llo", 3, 3},     // the cut falls after it
        {"\xE2\x82\xAC\xE2\x82\xAC", 5, 3},  // two euro signs: the second would be split
        {"\x80\x80\x80", 2, 0},     // nothing but continuation bytes
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8PrefixLength(c.text, c.most), c.length) << c.text << " at " << c.most;
}
