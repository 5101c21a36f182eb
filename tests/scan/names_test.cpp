// Takes named in any script: listed under their names in UTF-8, opened,
// repaired and named in the log as they are called.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "scanplatform.h"
#include "scanworker.h"
#include "testfiles.h"

namespace {

// A canonical WAV whose header never got its sizes.
Bytes UnfinishedWav(const Bytes& samples)
{
    ByteWriter w;
    w.text("RIFF").u32(0).text("WAVE");
    w.raw(Chunk("fmt ", WavFmtBody(1, 2, 48000, 16)));
    w.text("data").u32(0).raw(samples);
    return w.bytes;
}

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

TEST(ScanNames, ListingGivesEveryScriptInUtf8)
{
    TempDir dir;
    for (const std::string& name : NamesInThreeScripts())
        ASSERT_TRUE(WriteFileBytes(dir.file(name), Bytes{1, 2, 3}));
    DirListing listing;
    ASSERT_EQ(1, DirListing_Open(&listing, dir.path().c_str()));
    std::vector<std::string> files;
    while (DirListing_Next(&listing)) {
        if (listing.entryType == DirEntryFile)
            files.push_back(listing.name);
    }
    DirListing_Close(&listing);
    EXPECT_EQ(Sorted(NamesInThreeScripts()), Sorted(files));
}

TEST(ScanNames, EveryScriptIsRepairedAndNamedInTheLog)
{
    TempDir sub;
    // The folder itself named in a script, as the dialog may give it.
    const std::string folder = sub.file(u8"Сессия 録音");
    ASSERT_TRUE(MakeDir(folder));
    const Bytes samples = PatternBytes(4000);
    for (const std::string& name : NamesInThreeScripts())
        ASSERT_TRUE(WriteFileBytes(folder + PathSep() + name, UnfinishedWav(samples)));

    std::unique_ptr<LogBuffer> logBuffer(new LogBuffer());
    ASSERT_EQ(0, LogBuffer_Init(logBuffer.get(), 0x10000));
    ScanOutcomes outcomes{};
    ScanOptions options{};
    options.outcomes = &outcomes;
    ScanWorker_SetOptions(&options);
    ScanWorker_Start(folder.c_str(), logBuffer.get());
    ScanWorker_Wait();
    ScanWorker_SetOptions(nullptr);
    const std::string log = logBuffer->text;
    LogBuffer_Free(logBuffer.get());

    EXPECT_EQ(3, outcomes.repaired);
    EXPECT_EQ(0, outcomes.notOpened);
    for (const std::string& name : NamesInThreeScripts()) {
        SCOPED_TRACE(name);
        EXPECT_NE(std::string::npos, log.find(" " + name + " header not set : repair\r\n")) << log;
        EXPECT_NE(std::string::npos, log.find(" " + name + " (48000Hz / 2 ch) Length:00:00:00\r\n")) << log;
        Bytes after = ReadFileBytes(folder + PathSep() + name);
        ASSERT_EQ(44 + samples.size(), after.size());
        EXPECT_EQ(uint32_t(samples.size()), uint32_t(after[40] | after[41] << 8 | after[42] << 16 | after[43] << 24));
    }
}

}  // namespace
