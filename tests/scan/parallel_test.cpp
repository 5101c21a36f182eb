// Several files in flight: whatever the number of jobs, a scan gives out the
// lines, notes, reports and counts of the one-thread scan, in its order, and
// leaves the files as it leaves them; a stop finishes what is in hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "scanning.h"
#include "scanworker.h"
#include "testfiles.h"

namespace {

// One file of the mixed folder: a name, and its bytes from a seed.
struct Recipe {
    const char* name;
    Bytes (*make)(uint32_t seed);
};

Bytes Samples(uint32_t seed, size_t frames)
{
    return PatternBytes(frames * 4, seed);
}

const Recipe Recipes[] = {
    {"ok.wav", [](uint32_t s) { return PlainWav(Samples(s, 300)); }},
    {"unset.wav", [](uint32_t s) { return PlainWav(Samples(s, 300), 0); }},
    {"short.wav", [](uint32_t s) { return PlainWav(Samples(s, 300), 400); }},
    {"partial.wav", [](uint32_t s) { return PlainWav(Cat({Samples(s, 200), Bytes(3, 7)}), 0); }},
    {"meta.wav", [](uint32_t s) { return PlainWav(Cat({Samples(s, 100), Chunk("LIST", Bytes(20, 1))}), 400); }},
    {"empty.wav", [](uint32_t) { return PlainWav(Bytes(), 0); }},
    {"refused.wav", [](uint32_t s) { return PatternBytes(90, s); }},
    {"notes.txt", [](uint32_t s) { return PatternBytes(50, s); }},
    {"ok.aif", [](uint32_t s) { return BuildAiff(AiffLayout(2, 16, 250, Samples(s, 250))); }},
    {"unset.aiff", [](uint32_t s) { return BuildAiff(AiffLayout(2, 16, 0, Samples(s, 250))); }},
};

// A folder of count files of every recipe (names numbered), and as many in
// a subfolder.
void Fill(const TempDir& dir, int count)
{
    ASSERT_TRUE(MakeDir(dir.file("sub")));
    for (int i = 0; i < count; ++i)
        for (const Recipe& r : Recipes) {
            const std::string name = std::to_string(i) + "-" + r.name;
            dir.write(name, r.make(uint32_t(i + 1)));
            dir.write("sub" + PathSep() + name, r.make(uint32_t(i + 1000)));
        }
}

// Everything a scan gives out, in the order it came.
struct Output {
    std::vector<std::string> words;  // lines, notes ("note NAME: TEXT") and reports, interleaved
    ScanOutcomes outcomes{};
};

Output Scan(const std::string& folder, int32_t jobs, int32_t checkOnly, int stopAfterLines = 0, int32_t followLinks = 0)
{
    Output out;
    ScanRun run;
    run.options.jobs = jobs;
    run.options.followLinks = followLinks;
    run.options.checkOnly = checkOnly;
    run.options.recursive = 1;
    run.options.onNote = [](const char* name, const char* text, void* context) {
        static_cast<Output*>(context)->words.push_back(std::string("note ") + name + ": " + text);
    };
    run.options.noteContext = &out;
    run.options.onFile = [](const ScanFileReport* r, void* context) {
        static_cast<Output*>(context)->words.push_back(
            "file " + std::string(r->name) + " " + std::to_string(r->action) + " " + r->reason + " " +
            std::to_string(r->framesBefore) + ">" + std::to_string(r->framesAfter));
    };
    run.options.fileContext = &out;
    int lines = 0;
    run.onLine = [&](const std::string& line) {
        out.words.push_back(line);
        if (stopAfterLines > 0 && ++lines == stopAfterLines)
            ScanWorker_RequestStop();
    };
    run.run(folder);
    ScanWorker_Stop();
    out.outcomes = run.outcomes;
    return out;
}

void ExpectSameCounts(const ScanOutcomes& a, const ScanOutcomes& b)
{
    EXPECT_EQ(a.folderListed, b.folderListed);
    EXPECT_EQ(a.stopped, b.stopped);
    EXPECT_EQ(a.examined, b.examined);
    EXPECT_EQ(a.headerOk, b.headerOk);
    EXPECT_EQ(a.repaired, b.repaired);
    EXPECT_EQ(a.needRepair, b.needRepair);
    EXPECT_EQ(a.failed, b.failed);
    EXPECT_EQ(a.notOpened, b.notOpened);
    EXPECT_EQ(a.notRecordings, b.notRecordings);
    EXPECT_EQ(a.noSamples, b.noSamples);
    EXPECT_EQ(a.sameFile, b.sameFile);
}

struct JobsCase {
    int32_t jobs;
    int32_t checkOnly;
};

class ParallelScan : public ::testing::TestWithParam<JobsCase> {};

TEST_P(ParallelScan, GivesOutWhatOneThreadGivesOut)
{
    const JobsCase c = GetParam();
    TempDir one, many;
    Fill(one, 12);
    Fill(many, 12);
    const Output expected = Scan(one.path(), 1, c.checkOnly);
    const Output got = Scan(many.path(), c.jobs, c.checkOnly);
    ASSERT_GT(expected.outcomes.examined, 100);
    EXPECT_EQ(expected.words, got.words);
    ExpectSameCounts(expected.outcomes, got.outcomes);
    for (int i = 0; i < 12; ++i)
        for (const Recipe& r : Recipes)
            for (const std::string& name : {std::to_string(i) + "-" + r.name, "sub" + PathSep() + std::to_string(i) + "-" + r.name})
                EXPECT_EQ(ReadFileBytes(one.file(name)), ReadFileBytes(many.file(name))) << name;
}

INSTANTIATE_TEST_SUITE_P(Jobs, ParallelScan,
                         ::testing::Values(JobsCase{2, 0}, JobsCase{3, 1}, JobsCase{8, 0}, JobsCase{ScanMaxJobs, 0},
                                           JobsCase{ScanMaxJobs + 5, 1}),
                         [](const ::testing::TestParamInfo<JobsCase>& info) {
                             return "jobs" + std::to_string(info.param.jobs) + (info.param.checkOnly ? "_check" : "_repair");
                         });

// A stop while files are in flight: what came out is what the one-thread
// scan gives out up to some file, that file's words complete, and no file
// beyond it was changed.
TEST(ParallelScanStop, FinishesTheFilesInHandAndNoMore)
{
    for (int stopAt : {1, 7, 40}) {
        TempDir one, many;
        Fill(one, 10);
        Fill(many, 10);
        const Output whole = Scan(one.path(), 1, 0);
        const Output got = Scan(many.path(), 8, 0, stopAt);
        ASSERT_GE(got.words.size(), size_t(stopAt));
        ASSERT_LT(got.words.size(), whole.words.size()) << "stop at " << stopAt;
        EXPECT_EQ(1, got.outcomes.stopped);
        EXPECT_TRUE(std::equal(got.words.begin(), got.words.end(), whole.words.begin())) << "stop at " << stopAt;
        // Each file's words end with its report.
        EXPECT_EQ(0u, got.words.back().rfind("file ", 0)) << got.words.back();
        int64_t changed = 0;
        for (int i = 0; i < 10; ++i)
            for (const Recipe& r : Recipes)
                for (const std::string& name : {std::to_string(i) + "-" + r.name, "sub" + PathSep() + std::to_string(i) + "-" + r.name})
                    changed += ReadFileBytes(many.file(name)) != r.make(uint32_t(name[0] == 's' ? i + 1000 : i + 1));
        EXPECT_EQ(got.outcomes.repaired, changed) << "stop at " << stopAt;
    }
}

#ifndef _WIN32
// Files with several names in one folder: each file is examined, and
// repaired, once, under the first name listed, whatever the jobs; every
// other name is named as that file.
struct NamesCase {
    const char* test;
    int (*name)(const char* target, const char* link);  // makes a second name
    int32_t followLinks;
    int32_t checkOnly;
};

void PrintTo(const NamesCase& c, std::ostream* os)
{
    *os << c.test;
}

class ParallelNames : public ::testing::TestWithParam<NamesCase> {};

TEST_P(ParallelNames, OneFileOneExamination)
{
    const NamesCase c = GetParam();
    TempDir one, eight, most;
    for (const TempDir* dir : {&one, &eight, &most}) {
        Fill(*dir, 6);
        // Second names before and after the first, in the folder and below.
        for (int i = 0; i < 6; ++i)
            for (const Recipe& r : Recipes) {
                const std::string name = std::to_string(i) + "-" + r.name;
                ASSERT_EQ(0, c.name(dir->file(name).c_str(), dir->file("0" + name).c_str()));
                ASSERT_EQ(0, c.name(dir->file("sub/" + name).c_str(), dir->file("z" + name).c_str()));
            }
    }
    const Output expected = Scan(one.path(), 1, c.checkOnly, 0, c.followLinks);
    for (const auto& [jobs, dir] : {std::pair<int32_t, const TempDir*>{8, &eight}, {ScanMaxJobs, &most}}) {
        SCOPED_TRACE(jobs);
        const Output got = Scan(dir->path(), jobs, c.checkOnly, 0, c.followLinks);
        EXPECT_EQ(expected.words, got.words);
        ExpectSameCounts(expected.outcomes, got.outcomes);
        for (int i = 0; i < 6; ++i)
            for (const Recipe& r : Recipes)
                for (const std::string& name : {std::to_string(i) + "-" + r.name, "sub/" + std::to_string(i) + "-" + r.name})
                    EXPECT_EQ(ReadFileBytes(one.file(name)), ReadFileBytes(dir->file(name))) << name;
    }
    // Every recipe the reader opens (all but refused.wav) had a second name.
    EXPECT_EQ(2 * 6 * 8, expected.outcomes.sameFile);
    EXPECT_EQ(0, expected.outcomes.failed);
    EXPECT_EQ(0, expected.outcomes.notOpened);
    EXPECT_EQ(1, std::count_if(expected.words.begin(), expected.words.end(), [](const std::string& w) {
                  return w == "note 00-unset.wav: already examined as 0-unset.wav" ||
                         w == "note 0-unset.wav: already examined as 00-unset.wav";
              }));
}

INSTANTIATE_TEST_SUITE_P(Names, ParallelNames,
                         ::testing::Values(NamesCase{"HardLinks", link, 0, 0}, NamesCase{"HardLinksChecked", link, 0, 1},
                                           NamesCase{"FollowedLinks", symlink, 1, 0},
                                           NamesCase{"FollowedLinksChecked", symlink, 1, 1}),
                         [](const ::testing::TestParamInfo<NamesCase>& info) { return std::string(info.param.test); });
#endif

}  // namespace
