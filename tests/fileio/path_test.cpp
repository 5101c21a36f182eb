// Path utilities with the platform's separator.
#include <gtest/gtest.h>

#include <string>

#include "fileio.h"

namespace {

std::string P(const std::string& portable)
{
    std::string s = portable;
    for (char& c : s)
        if (c == '/')
            c = PathSeparator;
    return s;
}

std::string Strip(const std::string& path)
{
    std::string s = path;
    Path_StripFileName(&s[0]);
    return std::string(s.c_str());
}

TEST(PathStrip, CutsAtTheLastSeparator)
{
    EXPECT_EQ(P("C:/rec"), Strip(P("C:/rec/take1.wav")));
    EXPECT_EQ(P("C:/rec"), Strip(P("C:/rec/")));
    EXPECT_EQ("", Strip(P("/x")));
    EXPECT_EQ("take1.wav", Strip("take1.wav"));
    EXPECT_EQ("D:", Strip(P("D:/take1.wav")));
}

TEST(PathExtension, MatchesTheWholeExtensionWithoutCase)
{
    EXPECT_EQ(1, Path_HasExtension("TAKE1.WAV", ".wav"));
    EXPECT_EQ(1, Path_HasExtension("take1.wav", "wav"));
    EXPECT_EQ(1, Path_HasExtension(P("rec/loop.AIFF").c_str(), ".aiff"));
    EXPECT_EQ(0, Path_HasExtension("take1.wavx", ".wav"));
    EXPECT_EQ(0, Path_HasExtension("take1.aiff", ".aif"));
    EXPECT_EQ(0, Path_HasExtension("take1.wave", ".wav"));
    EXPECT_EQ(0, Path_HasExtension("take1", ".wav"));
    EXPECT_EQ(0, Path_HasExtension("", ".wav"));
}

TEST(PathExtension, OnlyTheLastPathElementCounts)
{
    EXPECT_EQ(0, Path_HasExtension(P("C:/a.dir/take1").c_str(), "dir"));
    EXPECT_EQ(0, Path_HasExtension(P("dir.wav/take").c_str(), ".wav"));
    EXPECT_EQ(1, Path_HasExtension(P("dir.aif/take.wav").c_str(), ".wav"));
}

TEST(PathExtension, TrailingDotMatchesNoKnownExtension)
{
    for (const char* ext : {".wav", ".bwf", ".aif", ".aiff", ".iff"})
        EXPECT_EQ(0, Path_HasExtension("take1.", ext)) << ext;
}

}  // namespace
