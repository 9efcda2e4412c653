// ARIB STD-B24 8-unit text (broadcast SI text, RPLS text) to UTF-16, UTF-8
// and the 32-bit unit form that keeps each character's set, code and size.
//
// Text converters here all follow one contract: the caller supplies the
// destination and its size; a null destination only counts; the count
// returned never exceeds the size; a closing 0 is stored after the text when
// there is room and is not counted. Characters without a mapping are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "characterSets.h"

// Graphic-set codes a bank can hold: the final byte of the designation, with
// 0x100 added for DRCS and macro sets.
constexpr int32_t CODE_KANJI = 0x42;
constexpr int32_t CODE_JIS_KANJI_PLANE_1 = 0x39;
constexpr int32_t CODE_JIS_KANJI_PLANE_2 = 0x3A;
constexpr int32_t CODE_ADDITIONAL_SYMBOLS = 0x3B;
constexpr int32_t CODE_ALPHANUMERIC = 0x4A;
constexpr int32_t CODE_HIRAGANA = 0x30;
constexpr int32_t CODE_KATAKANA = 0x31;
constexpr int32_t CODE_MOSAIC_A = 0x32;
constexpr int32_t CODE_MOSAIC_B = 0x33;
constexpr int32_t CODE_MOSAIC_C = 0x34;
constexpr int32_t CODE_MOSAIC_D = 0x35;
constexpr int32_t CODE_PROP_ALPHANUMERIC = 0x36;
constexpr int32_t CODE_PROP_HIRAGANA = 0x37;
constexpr int32_t CODE_PROP_KATAKANA = 0x38;
constexpr int32_t CODE_JIS_X0201_KATAKANA = 0x49;
constexpr int32_t CODE_DRCS_0 = 0x40;
constexpr int32_t CODE_DRCS_1 = 0x141;   // DRCS-1 .. DRCS-15 are 0x141 .. 0x14F
constexpr int32_t CODE_DRCS_15 = 0x14F;
constexpr int32_t CODE_MACRO = 0x170;

// Sets that only occur in the 32-bit unit form.
constexpr int32_t CODE_CONTROL = 0x101;      // control functions kept as text (CR, SP, TAB, ...)
constexpr int32_t CODE_KANA_COMMON = 0x102;  // marks shared by hiragana and katakana (0x79-0x7E)

// 32-bit unit form: bits 0-15 code, bits 16-27 set, bit 28 normal size.
constexpr uint32_t U32T_CODE_MASK = 0x0000FFFFu;
constexpr uint32_t U32T_SET_MASK = 0x0FFF0000u;
constexpr uint32_t U32T_NORMAL_SIZE = 0x10000000u;

struct ConvStatus {
    int32_t region[2];        // bank (0-3) invoked into GL, GR
    int32_t bank[4];          // set code designated to G0..G3
    bool bSingleShift;        // a single shift is pending
    int32_t region_GL_backup; // GL before the single shift
    bool bXCS;                // inside an XCS stretch: nothing is output
    bool bNormalSize;         // false after MSZ
};

void initConvStatus(ConvStatus* status);

// True for c < 0x21, c == 0xFF and 0x7F <= c <= 0xA0.
bool isControlChar(uint8_t c);

// Applies one control function (shift, escape sequence, size control) at
// srcbuf and returns the bytes it occupies (at least 1, at most slen).
// slen == 0 returns 0.
size_t changeConvStatus(const uint8_t* srcbuf, size_t slen, ConvStatus* status);

// One CSI sequence starting at sbuf[0] == 0x9B; returns the bytes it occupies.
size_t csiProc(const uint8_t* sbuf, size_t slen, ConvStatus* status);

// Default macros 0x60-0x6F (other codes change nothing).
void defaultMacroProc(uint8_t c, ConvStatus* status);

// Write helpers: each unit/byte is stored only while its index is below
// maxbufsize and dbuf is not null; the return value is what the code point
// needs, 0 when bXCS is set.
size_t writeUTF16Buf(char16_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS);
size_t writeUTF16StrBuf(char16_t* dbuf, size_t maxbufsize, size_t dst, const char16_t* sbuf, size_t slen, bool bXCS);
size_t writeUTF8Buf(uint8_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS);
size_t writeUTF8StrBuf(uint8_t* dbuf, size_t maxbufsize, size_t dst, const uint8_t* sbuf, size_t slen, bool bXCS);
size_t writeU32TBuf(uint32_t* dbuf, size_t maxbufsize, size_t dst, uint32_t c_code, uint32_t code, const ConvStatus* status);

// 2 with both code points when {cType, jis} is a combining/variation row, else 0.
size_t jis3CombAndIvsConv(int32_t cType, int32_t jis, int32_t* uc1, int32_t* uc2);

// Text form of an additional symbol ("[字]", or "[#rr#cc]" for an unmapped
// cell), copied up to bufsize; returns the units/bytes copied, 0 when none.
size_t kigou2ConvUTF16(int32_t jis, char16_t* dbuf, size_t bufsize);
size_t kigou2ConvUTF8(int32_t jis, uint8_t* dbuf, size_t bufsize);

// ARIB 8-unit text to UTF-16 (counts in units) and UTF-8 (counts in bytes).
// bCharSize: map sizes (normal size alphanumerics/kana to full width, medium
// size kanji-set forms to half width); bIVS: keep ideographic variation code
// points.
size_t conv_to_unicode(char16_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length,
                       bool bCharSize, bool bIVS);
size_t conv_to_unicode(uint8_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length,
                       bool bCharSize, bool bIVS);

// ARIB 8-unit text to 32-bit units. A null dbuf only counts.
size_t conv_to_U32T(uint32_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length);

// 32-bit units to UTF-16 (units) and UTF-8 (bytes).
size_t convU32T_to_UTF16(char16_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length);
size_t convU32T_to_UTF8(uint8_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length);
