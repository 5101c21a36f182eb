// The scan on test files: the worker run over a folder as a front end runs
// it, and its decision for one file made through the sound file handle (for
// the tests below the scan).
#ifndef TESSMARK_TEST_SCANNING_H
#define TESSMARK_TEST_SCANNING_H

#include <gtest/gtest.h>

#include <stdio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scanworker.h"
#include "soundfile.h"
#include "testfiles.h"

typedef std::vector<std::string> Lines;

// One scan of a folder through the public interface, on the worker thread.
struct ScanRun {
    std::unique_ptr<LogBuffer> log{new LogBuffer()};  // the log the lines also go to, as the window's
    std::string folder;
    ScanOutcomes outcomes{};
    ScanOptions options{};
    Lines lines;
    Lines notes;  // "NAME: TEXT" for each word on a file (what the CLI prints on stderr)
    std::function<void(const std::string&)> onLine;  // called on the worker thread

    ScanRun()
    {
        EXPECT_EQ(0, LogBuffer_Init(log.get(), 0x100000));
        options.onLine = [](const char* line, void* context) {
            ScanRun* self = static_cast<ScanRun*>(context);
            self->lines.push_back(line);
            if (self->onLine)
                self->onLine(line);
        };
        options.lineContext = this;
        options.onNote = [](const char* name, const char* text, void* context) {
            static_cast<ScanRun*>(context)->notes.push_back(std::string(name) + ": " + text);
        };
        options.noteContext = this;
        options.outcomes = &outcomes;
    }
    ~ScanRun()
    {
        ScanWorker_Stop();
        ScanWorker_SetOptions(nullptr);
        LogBuffer_Free(log.get());
    }
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;

    // Files as takes long finished: their time of last change set back
    // before each scan, so that a repair may cut a partial last frame even
    // of a file a test (or a repair it broke off) has just written. Off for
    // tests of takes still being written.
    bool settle = true;

    void start(const std::string& path)
    {
        if (settle)
            SettleFolder(path);
        lines.clear();
        notes.clear();
        LogBuffer_Reset(log.get());
        folder = path;
        ScanWorker_SetOptions(&options);
        ScanWorker_Start(folder.c_str(), log.get());
    }
    Lines run(const std::string& path)
    {
        start(path);
        ScanWorker_Wait();
        return lines;
    }
    // The log as the window would show it.
    std::string logText() const { return log->text ? log->text : ""; }
    // Starts the worker on the same folder again, the options as they are.
    void restart() { ScanWorker_Start(folder.c_str(), log.get()); }
};

// What the scan does with one file, as its examination decides: repair it
// when the verdict is short. Returns "ok", "repaired", "failed" (the repair,
// or the look behind the samples, failed) or "skipped" (not opened, or
// refused).
inline std::string ScanOnce(const std::string& path)
{
    SetModifiedAgo(path, 3600);  // a take long finished (see ScanRun::settle)
    std::unique_ptr<SoundFile> file(new SoundFile());
    SoundFile_Open(file.get(), path.c_str(), SoundFileOpenReadWrite);
    SoundFileVerdict verdict;
    SoundFile_Examine(file.get(), &verdict);
    if (!file->isOpen)
        return "skipped";
    std::string outcome = "ok";
    if (verdict.state == SoundVerdictShort)
        outcome = SoundFile_Repair(file.get()) == 0 ? "repaired" : "failed";
    else if (verdict.state == SoundVerdictUnreadable)
        outcome = "failed";
    else if (verdict.state == SoundVerdictRefused)
        outcome = "skipped";
    if (SoundFile_Close(file.get()) != 0 && outcome == "repaired")
        outcome = "failed";
    return outcome;
}

#endif
