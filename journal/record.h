// What the journal's writer and its undo share: the fingerprint of a take's
// samples and the record's first words.
#ifndef TESSMARK_JOURNAL_RECORD_H
#define TESSMARK_JOURNAL_RECORD_H

#include <stdint.h>

#include <string>

#include "fileio.h"

// Every record begins so, its type first: a line torn by a crash is still
// known for a journal's.
#define JournalRecordStart "{\"type\":\"repair"

// The hex SHA-256 of the file's bytes [from, to) in a bounded number of
// blocks spread over them (all of them when few): the same for the same
// samples, at the same cost for 5 MiB as for 5 GiB. Empty when a read failed.
std::string Journal_Fingerprint(FileHandle handle, int64_t from, int64_t to);

#endif
