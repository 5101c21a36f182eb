#include "claims.h"

#include <stdlib.h>
#include <string.h>

int32_t ScanClaims_Take(ScanClaims* claims, const FileStamp* identity, const char* name, char* sameAs,
                        size_t capacity)
{
    for (size_t i = 0; i < claims->count; ++i) {
        const ScanClaim* c = &claims->items[i];
        if (c->device == identity->device && c->inode == identity->inode) {
            const size_t n = strnlen(c->name, capacity - 1);
            memcpy(sameAs, c->name, n);
            sameAs[n] = '\0';
            return 1;
        }
    }
    if (claims->count == claims->capacity) {
        const size_t capacity2 = claims->capacity == 0 ? 16 : claims->capacity * 2;
        ScanClaim* grown = static_cast<ScanClaim*>(realloc(claims->items, capacity2 * sizeof(ScanClaim)));
        if (grown == nullptr)
            return 0;
        claims->items = grown;
        claims->capacity = capacity2;
    }
    char* copy = static_cast<char*>(malloc(strlen(name) + 1));
    if (copy == nullptr)
        return 0;
    memcpy(copy, name, strlen(name) + 1);
    claims->items[claims->count++] = {identity->device, identity->inode, copy};
    return 0;
}

void ScanClaims_Free(ScanClaims* claims)
{
    for (size_t i = 0; i < claims->count; ++i)
        free(claims->items[i].name);
    free(claims->items);
    claims->items = nullptr;
    claims->count = 0;
    claims->capacity = 0;
}
