// SHA-256, for the journal's fingerprint of a file as a repair left it.
#ifndef TESSMARK_CLISHA256_H
#define TESSMARK_CLISHA256_H

#include <stddef.h>
#include <stdint.h>

typedef struct CliSha256 {
    uint32_t state[8];
    uint64_t length;     // bytes hashed so far
    uint8_t block[64];   // the block being filled
    uint32_t filled;
} CliSha256;

void CliSha256_Start(CliSha256* sha);
void CliSha256_Add(CliSha256* sha, const void* bytes, size_t count);
// Ends the hash; digest gets its 32 bytes.
void CliSha256_Finish(CliSha256* sha, uint8_t digest[32]);

#endif
