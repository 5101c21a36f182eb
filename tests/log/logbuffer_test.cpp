// The numbered log: numbering, line ends, the out-of-room message, takes,
// and an appender and a taker on two threads.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "logbuffer.h"

namespace {

struct Log {
    LogBuffer log{};
    explicit Log(int32_t capacity) { EXPECT_EQ(0, LogBuffer_Init(&log, capacity)); }
    ~Log() { LogBuffer_Free(&log); }
    std::string text() const { return log.text ? std::string(log.text) : std::string(); }
};

TEST(LogNumbering, FirstLineIs0001AndTheTenThousandthHasFiveDigits)
{
    Log l(0x800000);
    EXPECT_EQ(0, LogBuffer_AppendLine(&l.log, "Scanning C:\\rec"));
    EXPECT_EQ("#0001 Scanning C:\\rec\r\n", l.text());
    for (int i = 2; i <= 10000; ++i)
        ASSERT_EQ(0, LogBuffer_AppendLine(&l.log, "x"));
    std::string t = l.text();
    EXPECT_NE(std::string::npos, t.find("\r\n#9999 x\r\n#10000 x\r\n"));
    EXPECT_EQ(10000, l.log.lineCount);
    EXPECT_EQ(int32_t(t.size()), l.log.used);
}

TEST(LogNumbering, ResetRestartsAtOneAndEmptiesTheText)
{
    Log l(1000);
    LogBuffer_AppendLine(&l.log, "a");
    LogBuffer_AppendLine(&l.log, "b");
    EXPECT_EQ(0, LogBuffer_Reset(&l.log));
    EXPECT_EQ("", l.text());
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(&l.log)) << "a reset alone is no change";
    LogBuffer_AppendLine(&l.log, "c");
    EXPECT_EQ("#0001 c\r\n", l.text());
    // The whole block was cleared: nothing of the earlier text lingers behind the NUL.
    EXPECT_EQ('\0', l.log.text[l.log.used + 1]);
}

TEST(LogLineEnds, OnlyLinesWithoutAnEndGetOne)
{
    Log l(1000);
    struct Case {
        const char* line;
        const char* expected;
    } cases[] = {
        {"", "#0001 \r\n"},
        {"ends in lf\n", "#0002 ends in lf\n"},
        {"ends in crlf\r\n", "#0003 ends in crlf\r\n"},
        {"cr then x\rx", "#0004 cr then x\rx"},
        {"lone cr\r", "#0005 lone cr\r\r\n"},
        {"plain", "#0006 plain\r\n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        EXPECT_EQ(0, LogBuffer_AppendLine(&l.log, c.line));
        expected += c.expected;
    }
    EXPECT_EQ(expected, l.text());
    EXPECT_EQ(int32_t(expected.size()), l.log.used);
}

TEST(LogRoom, Capacity20TakesOneLineThenReportsOnce)
{
    Log l(20);
    EXPECT_EQ(0, LogBuffer_AppendLine(&l.log, "0123456789"));
    EXPECT_EQ(18, l.log.used);
    EXPECT_EQ(-1, LogBuffer_AppendLine(&l.log, "abcdefghij"));
    const std::string full = "#0001 0123456789\r\n****** Not Enough Memory in TXT Buffer (18 char / 20 max)*******";
    EXPECT_EQ(full, l.text());
    EXPECT_EQ(18, l.log.used) << "the message is not counted";
    EXPECT_EQ(1, l.log.overflowReported);
    EXPECT_EQ(-1, LogBuffer_AppendLine(&l.log, "klmnopqrst"));
    EXPECT_EQ(full, l.text()) << "a third refused line changes nothing";
    const char* taken = LogBuffer_TakeIfChanged(&l.log);
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(full, std::string(taken));
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(&l.log));
}

TEST(LogRoom, AShortLineStillFitsAndOverwritesTheMessage)
{
    Log l(20);
    ASSERT_EQ(0, LogBuffer_AppendLine(&l.log, "0123456789"));  // used 18
    ASSERT_EQ(-1, LogBuffer_AppendLine(&l.log, "abc"));        // 3 > 2: refused, message
    ASSERT_EQ(0, LogBuffer_AppendLine(&l.log, "ab"));          // 2 <= 2: accepted as line 2
    EXPECT_EQ("#0001 0123456789\r\n#0002 ab\r\n", l.text());
    EXPECT_EQ(28, l.log.used);
    EXPECT_EQ(-1, LogBuffer_AppendLine(&l.log, "")) << "beyond capacity even an empty line is refused";
    EXPECT_EQ("#0001 0123456789\r\n#0002 ab\r\n", l.text()) << "the message comes once per reset";
    LogBuffer_Reset(&l.log);
    ASSERT_EQ(0, LogBuffer_AppendLine(&l.log, "0123456789"));
    ASSERT_EQ(-1, LogBuffer_AppendLine(&l.log, "abc"));
    EXPECT_NE(std::string::npos, l.text().find("(18 char / 20 max)")) << "a reset re-arms the message";
}

TEST(LogTakes, ChangeMarkAndEdgeCases)
{
    Log l(100);
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(&l.log)) << "nothing appended yet";
    LogBuffer_AppendLine(&l.log, "one");
    const char* t = LogBuffer_TakeIfChanged(&l.log);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(l.log.text, t) << "the buffer's own text";
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(&l.log)) << "second take without an append";

    std::string seen;
    auto copy = [](const char* text, void* ctx) { *static_cast<std::string*>(ctx) = text; };
    EXPECT_EQ(0, LogBuffer_UseIfChanged(&l.log, copy, &seen));
    LogBuffer_AppendLine(&l.log, "two");
    EXPECT_EQ(1, LogBuffer_UseIfChanged(&l.log, copy, &seen));
    EXPECT_EQ("#0001 one\r\n#0002 two\r\n", seen);
    EXPECT_EQ(0, LogBuffer_UseIfChanged(&l.log, copy, &seen));
}

// A reader that keeps the text of each take, as the desktop log view does:
// it adds what follows kept when it holds exactly the kept part, and takes
// the whole text otherwise.
struct Mirror {
    std::string held;
    int32_t kept = -1;
    bool whole = false;
    static void use(const char* text, int32_t length, int32_t kept, void* context)
    {
        Mirror* m = static_cast<Mirror*>(context);
        m->kept = kept;
        m->whole = size_t(kept) != m->held.size();
        if (m->whole)
            m->held.assign(text, size_t(length));
        else
            m->held.append(text + kept, size_t(length - kept));
    }
};

TEST(LogTakes, ChangesTellHowMuchOfTheLastTakeIsKept)
{
    struct Step {
        bool resetFirst;
        std::vector<std::string> lines;  // appended before the take
        int32_t kept;                    // what the take reports; -1: no change to take
        bool whole;                      // the reader had to take the whole text
    } steps[] = {
        {false, {"0123456789"}, 0, false},                  // used 18
        {false, {"abcdefghij"}, 18, false},                 // used 36
        {false, {"far too long for the room"}, 36, false},  // the message behind used
        {false, {"xy"}, 36, true},                          // fits: written over the message
        {false, {"more", "and more"}, -1, false},           // refused: nothing changes
        {true, {"new scan"}, 0, true},
        {false, {"a", "b"}, 16, false},
    };
    Log l(40);
    Mirror m;
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(i++);
        if (step.resetFirst)
            LogBuffer_Reset(&l.log);
        for (const std::string& line : step.lines)
            LogBuffer_AppendLine(&l.log, line.c_str());
        int32_t called = LogBuffer_UseChanges(&l.log, Mirror::use, &m);
        ASSERT_EQ(step.kept < 0 ? 0 : 1, called);
        if (called == 0)
            continue;
        EXPECT_EQ(step.kept, m.kept);
        EXPECT_EQ(step.whole, m.whole);
        EXPECT_EQ(l.text(), m.held);
    }
    EXPECT_EQ(0, LogBuffer_UseChanges(&l.log, Mirror::use, &m)) << "unchanged";
}

TEST(LogTakes, EveryKindOfTakeIsTheReferenceForTheNext)
{
    Log l(100);
    Mirror m;
    LogBuffer_AppendLine(&l.log, "one");
    ASSERT_NE(nullptr, LogBuffer_TakeIfChanged(&l.log));
    LogBuffer_AppendLine(&l.log, "two");
    auto ignore = [](const char*, void*) {};
    ASSERT_EQ(1, LogBuffer_UseIfChanged(&l.log, ignore, nullptr));
    LogBuffer_AppendLine(&l.log, "three");
    ASSERT_EQ(1, LogBuffer_UseChanges(&l.log, Mirror::use, &m));
    EXPECT_EQ(22, m.kept) << "the two lines the earlier takes handed out";
    EXPECT_EQ(-1, LogBuffer_UseChanges(nullptr, Mirror::use, &m));
}

TEST(LogUnnumbered, LinesBetweenNumberedOnesTakeNoNumber)
{
    struct Case {
        bool numbered;
        const char* line;
        const char* expected;  // what the line adds to the text
    } cases[] = {
        {false, "    first: before any number", "    first: before any number\r\n"},
        {true, "Scanning C:\\rec", "#0001 Scanning C:\\rec\r\n"},
        {false, "    a.wav: not examined: empty (0 bytes)", "    a.wav: not examined: empty (0 bytes)\r\n"},
        {true, "b.wav HEADER OK !", "#0002 b.wav HEADER OK !\r\n"},
        {false, "", "\r\n"},  // an empty line is still a line, after another's end
        {false, "ends in crlf\r\n", "ends in crlf\r\n"},
        {false, "x", "x\r\n"},
        {true, "c.wav HEADER OK !", "#0003 c.wav HEADER OK !\r\n"},
        {false, "3 files examined: 2 OK, 0 repaired, 0 failed", "3 files examined: 2 OK, 0 repaired, 0 failed\r\n"},
    };
    Log l(1000);
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(0, c.numbered ? LogBuffer_AppendLine(&l.log, c.line) : LogBuffer_AppendUnnumbered(&l.log, c.line));
        expected += c.expected;
        EXPECT_EQ(expected, l.text());
    }
    EXPECT_EQ(3, l.log.lineCount) << "only the numbered lines count";
    EXPECT_EQ(int32_t(expected.size()), l.log.used);
}

TEST(LogUnnumbered, RoomChangesAndLifecycleAsForNumberedLines)
{
    Log l(20);
    Mirror m;
    ASSERT_EQ(0, LogBuffer_AppendUnnumbered(&l.log, "0123456789"));  // used 12
    ASSERT_EQ(1, LogBuffer_UseChanges(&l.log, Mirror::use, &m));
    EXPECT_EQ(-1, LogBuffer_AppendUnnumbered(&l.log, "far too long"));
    const std::string full = "0123456789\r\n****** Not Enough Memory in TXT Buffer (12 char / 20 max)*******";
    EXPECT_EQ(full, l.text());
    EXPECT_EQ(-1, LogBuffer_AppendLine(&l.log, "abcdefghij")) << "the message comes once";
    EXPECT_EQ(full, l.text());
    ASSERT_EQ(0, LogBuffer_AppendUnnumbered(&l.log, "ab")) << "a line that fits takes the message's place";
    ASSERT_EQ(1, LogBuffer_UseChanges(&l.log, Mirror::use, &m));
    EXPECT_EQ(12, m.kept);
    EXPECT_EQ(l.text(), m.held);
    EXPECT_EQ("0123456789\r\nab\r\n", l.text());

    EXPECT_EQ(-1, LogBuffer_AppendUnnumbered(nullptr, "x"));
    LogBuffer zero{};
    EXPECT_EQ(-2, LogBuffer_AppendUnnumbered(&zero, "x"));
}

TEST(LogLifecycle, NullRecordsUninitialisedAndFreed)
{
    EXPECT_EQ(-1, LogBuffer_Init(nullptr, 10));
    EXPECT_EQ(-1, LogBuffer_Reset(nullptr));
    EXPECT_EQ(-1, LogBuffer_AppendLine(nullptr, "x"));
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(nullptr));
    EXPECT_EQ(-1, LogBuffer_UseIfChanged(nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, LogBuffer_Free(nullptr));

    LogBuffer zero{};
    EXPECT_EQ(-2, LogBuffer_AppendLine(&zero, "x"));
    EXPECT_EQ(-2, LogBuffer_Reset(&zero));
    EXPECT_EQ(nullptr, LogBuffer_TakeIfChanged(&zero));
    EXPECT_EQ(0, LogBuffer_UseIfChanged(&zero, nullptr, nullptr));
    EXPECT_EQ(0, LogBuffer_Free(&zero));

    LogBuffer neg{};
    EXPECT_EQ(-1, LogBuffer_Init(&neg, -5));
    EXPECT_EQ(nullptr, neg.text);
    EXPECT_EQ(-2, LogBuffer_AppendLine(&neg, "x"));

    LogBuffer log{};
    ASSERT_EQ(0, LogBuffer_Init(&log, 64));
    EXPECT_EQ(64, log.capacity);
    EXPECT_EQ(0, log.used);
    LogBuffer_AppendLine(&log, "x");
    EXPECT_EQ(0, LogBuffer_Free(&log));
    LogBuffer allZero{};
    EXPECT_EQ(0, memcmp(&log, &allZero, sizeof log)) << "Free zeroes the record";
    EXPECT_EQ(-2, LogBuffer_AppendLine(&log, "x"));
    EXPECT_EQ(0, LogBuffer_Init(&log, 64)) << "a freed record can be initialised again";
    EXPECT_EQ(0, LogBuffer_AppendLine(&log, "y"));
    EXPECT_STREQ("#0001 y\r\n", log.text);
    LogBuffer_Free(&log);
}

// Every text a take sees must be whole lines, numbered 1, 2, 3 ... in order,
// and the last change must never go unseen.
void CheckWholeLines(const std::string& text, int* lastNumber)
{
    size_t pos = 0;
    int expect = 1;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(std::string::npos, end) << "half-written line at " << pos;
        std::string line = text.substr(pos, end - pos);
        char want[64];
        snprintf(want, sizeof want, "#%04i line %i of the stress test", expect, expect);
        ASSERT_EQ(std::string(want), line);
        ++expect;
        pos = end + 2;
    }
    *lastNumber = expect - 1;
}

TEST(LogThreads, TakerSeesOnlyWholeLinesAndNoChangeIsLost)
{
    const int lines = 20000;
    Log l(2 * 1024 * 1024);
    std::atomic<bool> done{false};
    std::thread appender([&] {
        char line[64];
        for (int i = 1; i <= lines; ++i) {
            snprintf(line, sizeof line, "line %i of the stress test", i);
            LogBuffer_AppendLine(&l.log, line);
        }
        done = true;
    });
    struct Seen {
        std::string text;
    } seen;
    auto copy = [](const char* text, void* ctx) { static_cast<Seen*>(ctx)->text = text; };
    int takes = 0, last = 0;
    for (;;) {
        bool finished = done.load();
        if (LogBuffer_UseIfChanged(&l.log, copy, &seen) == 1) {
            ++takes;
            int n = 0;
            CheckWholeLines(seen.text, &n);
            ASSERT_GE(n, last) << "the text never shrinks";
            last = n;
        }
        if (finished)
            break;
    }
    appender.join();
    EXPECT_EQ(lines, last) << "the final change was taken";
    EXPECT_GE(takes, 1);
    EXPECT_EQ(0, LogBuffer_UseIfChanged(&l.log, copy, &seen));
}

}  // namespace
