// The files a scan has taken under one of their names, so that a file with
// several names (hard links, links followed) is examined once.
#ifndef TESSMARK_SCANCLAIMS_H
#define TESSMARK_SCANCLAIMS_H

#include <stddef.h>
#include <stdint.h>

#include "fileio.h"

typedef struct ScanClaim {
    uint64_t device;
    uint64_t inode;
    char* name;  // as the lines called it
} ScanClaim;

typedef struct ScanClaims {
    ScanClaim* items;
    size_t count;
    size_t capacity;
} ScanClaims;

#ifdef __cplusplus
extern "C" {
#endif

// Takes the file of this identity for name: 0 when none was taken before
// (it is now); 1 when it was, with the name it was taken for in sameAs
// (capacity bytes). A file the registry has no room for is taken anew.
int32_t ScanClaims_Take(ScanClaims* claims, const FileStamp* identity, const char* name, char* sameAs,
                        size_t capacity);

// Frees what the registry holds and empties it.
void ScanClaims_Free(ScanClaims* claims);

#ifdef __cplusplus
}
#endif

#endif
