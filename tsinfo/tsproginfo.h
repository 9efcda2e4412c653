// Programme information of a recording: the library's entry point, the file
// classification, and the parsers of the EIT, SDT and SIT sections with their
// dates and channel numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TsInfo.h"

// The door of the library: reads one recording (transport stream or RPLS).
class TsProgInfo {
public:
    // path: the file's path in the ANSI form (UTF-8 bytes). Returns the whole
    // record; status tells what happened. The record is about 530 KB: a
    // caller on a small stack puts it on the heap.
    ProgInfo getTsProgInfo(const char* path);
};

// Fills status and the rest of the record; does not set active.
bool readFileProgInfo(const char* fname, ProgInfo* proginfo, const CopyParams* copyParams);
// 188 or 192 (transport stream unit size), 1 (RPLS), 0 (neither).
int32_t rplsTsCheck(HANDLE hReadFile);

// Transport-stream reader: one EIT present section (with the SDT of its
// service) or one SIT, parsed into the record.
bool readTsProgInfo(HANDLE hFile, ProgInfo* proginfo, int32_t psize, const CopyParams* copyParams);

// The parsers take a buffer that starts at the section's table_id and holds at
// least section_length + 3 bytes; nothing past the section is read.
int32_t parseEit(const uint8_t* eitbuf, ProgInfo* proginfo, const CopyParams* copyParams);
void parseSdt(const uint8_t* sdtbuf, ProgInfo* proginfo, int32_t serviceid, const CopyParams* copyParams);
void parseSit(const uint8_t* sitbuf, ProgInfo* proginfo, const CopyParams* copyParams);

// Modified Julian Date <-> calendar date (16-bit field; values below 15079
// are taken as wrapped, from 2038-04-23 on).
void mjd_dec(int32_t mjd, int32_t* recyear, int32_t* recmonth, int32_t* recday);
int32_t mjd_enc(int32_t year, int32_t month, int32_t day);

// Terrestrial channel number (key * 10 + (service & 7) + 1); 0 for an
// unknown network id when no key is given.
int32_t getTbChannelNum(int32_t networkID, int32_t serviceID, int32_t remoconkey_id);

// Copies min(srclen, bufsize) bytes and returns that count.
size_t my_memcpy_s(void* dst, size_t bufsize, const void* src, size_t srclen);
