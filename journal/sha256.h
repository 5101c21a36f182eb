// SHA-256, for the journal's fingerprint of a file as a repair left it.
#ifndef TESSMARK_SHA256_H
#define TESSMARK_SHA256_H

#include <stddef.h>
#include <stdint.h>

typedef struct Sha256 {
    uint32_t state[8];
    uint64_t length;     // bytes hashed so far
    uint8_t block[64];   // the block being filled
    uint32_t filled;
} Sha256;

void Sha256_Start(Sha256* sha);
void Sha256_Add(Sha256* sha, const void* bytes, size_t count);
// Ends the hash; digest gets its 32 bytes.
void Sha256_Finish(Sha256* sha, uint8_t digest[32]);

#endif
