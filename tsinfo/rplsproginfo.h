// Programme information of an RPLS playlist file (the file a recorder writes
// beside a recording).
#pragma once

#include <cstddef>
#include <cstdint>

#include "TsInfo.h"

// Bytes of an RPLS file the reader looks at (from its start).
constexpr int32_t RPLS_READ_SIZE = 16384;

// Fills the record from the file; always true (a file the reader cannot make
// sense of leaves -1 in recsrc, pextendlen and the genres).
bool readRplsProgInfo(HANDLE hFile, ProgInfo* proginfo, const CopyParams* copyParams);

// True when the maker block named at offset 16 of buf lies within the buffer
// (bufsize bytes) and carries maker id idMaker.
bool rplsMakerCheck(const uint8_t* buf, int32_t idMaker, size_t bufsize = RPLS_READ_SIZE);

// Comparator for a sorted table whose items begin with a pointer to a
// zero-terminated UTF-16 name.
int compareForRecSrcStr(const void* item1, const void* item2);
