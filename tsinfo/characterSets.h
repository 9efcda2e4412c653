// Character tables of the ARIB graphic sets and their lookups.
//
// A table is a constant array of {code, Unicode code point} pairs sorted by
// code; its size in bytes stands in the matching ...TABLESIZE constant (pairs
// = size / 8). Two-byte codes are first byte * 256 + second byte (each
// 0x21-0x7E). Each table has a reverse twin, filled and sorted by code point
// on the first backward lookup. The reverse twins and the sort of
// jis3CombIvsTable are built lazily without locking: the converters serve
// one thread.
//
// The table data is generated (tools/aribtables) into characterSetsData.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

extern const int32_t jis12Table[][2];       // JIS X 0208 -> Unicode
extern const int32_t jis12WinTable[][2];    // the seven Windows forms, consulted first
extern const int32_t jis3Table[][2];        // JIS X 0213 plane 1 outside JIS X 0208
extern const int32_t jis4Table[][2];        // JIS X 0213 plane 2
extern const int32_t kigou1Table[][2];      // ARIB additional symbols and kanji (set 0x3B)
// Additional symbols that JIS X 0208 holds too (〒 年 月 日 円): read in set
// 0x3B, written in the kanji set as broadcasters send them. No reverse twin.
extern const int32_t kigou1InKanjiSetTable[][2];
extern const int32_t hiragana1Table[][2];
extern const int32_t katakana1Table[][2];
extern const int32_t hankaku1Table[][2];    // JIS X 0201 katakana -> half-width forms
extern const int32_t kanaCommon1Table[][2]; // marks shared by hiragana and katakana
extern const int32_t charSize1Table[][2];   // ASCII -> JIS X 0208 code of its full-width form
extern const int32_t charSize2Table[][2];   // JIS X 0201 katakana -> JIS X 0208 code of its full-width form

extern int32_t jis12RevTable[][2];
extern int32_t jis12WinRevTable[][2];
extern int32_t jis3RevTable[][2];
extern int32_t jis4RevTable[][2];
extern int32_t kigou1RevTable[][2];
extern int32_t hiragana1RevTable[][2];
extern int32_t katakana1RevTable[][2];
extern int32_t hankaku1RevTable[][2];
extern int32_t kanaCommon1RevTable[][2];
extern int32_t charSize1RevTable[][2];
extern int32_t charSize2RevTable[][2];

// Rows {set, code, first code point, second code point}: codes that map to
// a base character followed by a combining mark or a variation selector.
// Sorted in place on first use by the 64-bit key code * 2^32 + set.
extern int32_t jis3CombIvsTable[][4];

// Text forms of additional symbols: 24-unit entries, the code as an int32 in
// units 0-1, zeros up to unit 12, the text in units 12-23 (0 padded).
extern const char16_t kigou2TableUTF16[][24];
// Same texts in UTF-8: code as two big-endian bytes, zeros, text in bytes 12-23.
extern const uint8_t kigou2TableUTF8[][24];

extern const size_t JIS12TABLESIZE;
extern const size_t JIS12WINTABLESIZE;
extern const size_t JIS3TABLESIZE;
extern const size_t JIS3COMBIVSTABLESIZE;
extern const size_t JIS4TABLESIZE;
extern const size_t KIGOU1TABLESIZE;
extern const size_t KIGOU1INKANJISETTABLESIZE;
extern const size_t KIGOU2TABLEUTF16SIZE;
extern const size_t KIGOU2TABLEUTF8SIZE;
extern const size_t HIRAGANA1TABLESIZE;
extern const size_t KATAKANA1TABLESIZE;
extern const size_t KANACOMMON1TABLESIZE;
extern const size_t HANKAKU1TABLESIZE;
extern const size_t CHARSIZE1TABLESIZE;
extern const size_t CHARSIZE2TABLESIZE;

// Comparators for qsort/bsearch.
int compareForTable(const void* item1, const void* item2);       // first int32 difference
int compareForTable64(const void* item1, const void* item2);     // first 64 bits, signed: -1, 0, 1
int compareForTable2UTF16(const void* item1, const void* item2); // first UTF-16 unit difference
int compareForTable2UTF8(const void* item1, const void* item2);  // big-endian 16-bit key difference

// Copies tablesize bytes of pairs from tabletop to revtop swapped, then sorts
// them by their new first member.
void initRevTable(const int32_t* tabletop, int32_t* revtop, size_t tablesize);

// Lookups: bConvDir true maps code -> code point, false maps code point ->
// code through the reverse twin. 0 when absent.
int32_t jis12Conv(int32_t code, bool bConvDir);   // jis12WinTable first, then jis12Table
int32_t jis12WinConv(int32_t code, bool bConvDir);
int32_t jis3Conv(int32_t code, bool bConvDir);
int32_t jis4Conv(int32_t code, bool bConvDir);
int32_t kigou1Conv(int32_t code, bool bConvDir);  // forward also kigou1InKanjiSetTable
int32_t hiragana1Conv(int32_t code, bool bConvDir);
int32_t katakana1Conv(int32_t code, bool bConvDir);
int32_t hankaku1Conv(int32_t code, bool bConvDir);
int32_t kanaCommon1Conv(int32_t code, bool bConvDir);
int32_t charSize1Conv(int32_t code, bool bConvDir);
int32_t charSize2Conv(int32_t code, bool bConvDir);

// Alphanumeric set: forward 0x5C -> U+00A5, 0x7E -> U+203E, other 0x21-0x7E
// unchanged; backward the inverse. 0 for anything else.
int32_t alphaConv(int32_t code, bool bConvDir);
