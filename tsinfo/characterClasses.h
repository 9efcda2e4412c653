// Character classes of the encoding direction: for a Unicode character (or
// a 32-bit unit) the ARIB graphic set that can write it and its code there,
// and the text cut into runs of one class for the bank-plan search.
//
// The reverse lookups reuse the character tables and their reverse twins of
// characterSets; only the combining rows and the bracketed symbol texts get
// sorted copies of their own (by code point pair and by text). All sorted
// copies are built on first use without locking: the converters serve one
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convToUnicode.h"

// Classes besides the set final bytes (0x30, 0x31, 0x39, 0x3A, 0x3B, 0x49,
// 0x4A). The last two equal the matching sets of the 32-bit unit form.
constexpr int32_t CLASS_NOT_CODABLE = 256;
constexpr int32_t CLASS_CONTROL = 257;      // control character or space; the code is the code point
constexpr int32_t CLASS_KANA_COMMON = 258;  // a kana both kana sets code alike (0x79-0x7E)
static_assert(CLASS_CONTROL == CODE_CONTROL && CLASS_KANA_COMMON == CODE_KANA_COMMON,
              "the 32-bit unit sets double as classes");
// classOfCharU32T for a unit of a set it does not know.
constexpr uint32_t U32T_UNKNOWN_CLASS = 0x1000000u;

// One character at srcbuf (slen units or bytes left): its class, its code in
// jisCode (row and cell high byte first for the 2-byte sets, one byte for the
// others, the code point for controls, 0 when not codable) and the units or
// bytes it covers in charLen (at least 1, never more than slen). Nothing past
// slen is read.
int32_t classOfCharUTF16(const char16_t* srcbuf, size_t slen, int32_t* jisCode, size_t* charLen);
int32_t classOfCharUTF8(const uint8_t* srcbuf, size_t slen, int32_t* jisCode, size_t* charLen);
// A 32-bit unit: the unit with its low 16 bits cleared (the size bit kept)
// for a set the encoder knows, else U32T_UNKNOWN_CLASS; jisCode gets the low
// 16 bits (0 for an unknown unit).
uint32_t classOfCharU32T(uint32_t code, int32_t* jisCode);

// Whether a code of a 32-bit unit's set is one the set can write: both bytes
// in 0x21-0x7E for 2-byte sets, 0x21-0x7E (0x21-0x5F for JIS X 0201
// katakana) for 1-byte sets, a table entry for the kana sets. Controls
// always pass; the encoder picks the ones it writes.
bool isCodeOfSet(int32_t set, int32_t code);

// 2 with the row's set and code when (uc1, uc2) is a combining or variation
// pair, else 0.
size_t jis3CombAndIvsRevConv(int32_t uc1, int32_t uc2, int32_t* cType, int32_t* jis);

// Bracketed symbol text at sbuf ("[字]", or "[#rr#cc]" with row and cell
// 01-94): the units (bytes) it covers and the symbol's code; 0 and code 0
// when there is none.
size_t kigou2RevConvUTF16(const char16_t* sbuf, size_t slen, int32_t* jis);
size_t kigou2RevConvUTF8(const uint8_t* sbuf, size_t slen, int32_t* jis);

// Length of the table text dst (at most 11, ended by 0) when src starts
// with all of it, else 0; an empty dst gives 0.
size_t cmpStrUTF16(const char16_t* src, const char16_t* dst);
size_t cmpStrUTF8(const uint8_t* src, const uint8_t* dst);

// Comparators of the sorted copies. Rows {set, code, uc1, uc2} by the pair
// read as one signed 64-bit number (uc2 high); symbol rows by their text,
// equal as soon as either text ends.
int compareForTable64Rev(const void* item1, const void* item2);
int compareForTable2StrUTF16(const void* item1, const void* item2);
int compareForTable2StrUTF8(const void* item1, const void* item2);

// Run counting. Entry 0 is the run of the set GL holds in status (count 0
// when the text starts with another class); every class change among the
// graphic classes opens an entry; controls, spaces and characters that
// cannot be written neither count nor break a run; an entry of class 0
// closes the list. mojiClass and mojiNum need room for the characters + 2
// entries; both null only counts. numCType (set by the caller, 4 at least)
// is raised to the set indices the text needs. groupCount, when given,
// receives the ways of writing all runs together (see bankPlan).
void countMojiSequenceUTF16(const char16_t* sbuf, size_t total_length, const ConvStatus* status,
                            uint16_t* mojiClass, size_t* mojiNum, size_t* mojiLen, int32_t* numCType,
                            size_t* groupCount = nullptr);
void countMojiSequenceUTF8(const uint8_t* sbuf, size_t total_length, const ConvStatus* status, uint16_t* mojiClass,
                           size_t* mojiNum, size_t* mojiLen, int32_t* numCType, size_t* groupCount = nullptr);
void countMojiSequenceU32T(const uint32_t* sbuf, size_t total_length, const ConvStatus* status,
                           uint16_t* mojiClass, size_t* mojiNum, size_t* mojiLen, int32_t* numCType,
                           size_t* groupCount = nullptr);

// Ways a run of this class can be written: 2 for hiragana and katakana
// (their own set or the kanji set), 3 for shared kana, 1 otherwise.
int32_t numBankGroups(int32_t cType);

// Set index of the search state: 0x39 0, 0x4A 1, 0x30 2, 0x31 3, 0x3B 4,
// 0x49 5, anything else 6.
int32_t getCTypeCode(int32_t cType);

bool isUcControlChar(int32_t uc);  // code points 0x00-0x20 and 0x7F-0xA0
bool isOneByteGSET(uint8_t f);     // 0x30-0x38, 0x49, 0x4A
bool isTwoByteGSET(uint8_t f);     // 0x39, 0x3A, 0x3B, 0x42
bool isOneByteDRCS(uint8_t f);     // 0x41-0x4F, 0x70
bool isTwoByteDRCS(uint8_t f);     // 0x40
int32_t numGBank(uint8_t i);       // intermediate 0x29/0x2A/0x2B -> bank 1/2/3, else 0
