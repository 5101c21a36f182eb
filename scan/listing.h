// The walk of a folder (and, when asked, its subfolders): every entry the
// scan must hear of, in listing order, with the words of its own on those
// it passes over.
#ifndef TESSMARK_SCANLISTING_H
#define TESSMARK_SCANLISTING_H

#include <stddef.h>
#include <stdint.h>

// Deepest subfolder level that a recursive scan enters below its folder.
#define ScanMaxDepth 64

typedef struct ScanListingCalls {
    // A file to examine; nameAt: where in path the name the lines use
    // begins. 0 ends the walk (a stop).
    int32_t (*file)(const char* path, size_t nameAt, void* context);
    // An entry passed over: name as the lines call it, why (ScanWhy*),
    // isFile 1 for a sound file by its name, detail the folder of a path
    // too long (else null). 0 ends the walk.
    int32_t (*passOver)(const char* name, int32_t why, int32_t isFile, const char* detail, void* context);
    // 0 once the scan must stop; asked between entries.
    int32_t (*running)(void);
    void* context;
} ScanListingCalls;

typedef struct ScanListingOptions {
    int32_t recursive;    // enter subfolders (never through links), up to ScanMaxDepth levels; a
                          // deeper one is passed over with a word
    int32_t followLinks;  // give the files links lead to; 0: pass links named like a take over
} ScanListingOptions;

#ifdef __cplusplus
extern "C" {
#endif

// Walks folder. 1 when the folder itself could be listed, else 0; *stopped
// becomes 1 when a stop or a call's 0 ended the walk before its end.
int32_t ScanListing_Walk(const char* folder, const ScanListingOptions* options, const ScanListingCalls* calls,
                         int32_t* stopped);

#ifdef __cplusplus
}
#endif

#endif
