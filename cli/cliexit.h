// The exit statuses of tessmark, for every mode.
#ifndef TESSMARK_CLIEXIT_H
#define TESSMARK_CLIEXIT_H

enum {
    ExitOk = 0,           // no file failed (with --check: none needs repair)
    ExitFileFailed = 1,   // a repair failed or was refused (with --check: a file needs repair); a take not rebuilt
    ExitUsage = 2,        // bad command line, or a folder that cannot be listed
    ExitNotExamined = 3,  // nothing failed, but a recording was left unexamined (named on stderr)
    ExitOutputFailed = 4, // the lines or the report could not all be written (full disk, closed pipe)
    ExitInterrupted = 130 // stopped by Ctrl-C after the file in hand
};

#endif
