// Classification of Unicode text and 32-bit units for the ARIB encoder.
#include "characterClasses.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Look-ahead window: the longest bracketed text and a base character with
// its combining partner fit in it.
constexpr size_t kWindow = 12;

// Room of the sorted copies; the tables hold 36 and 38 rows.
constexpr size_t kMaxRows = 64;

bool isGraphicByte(int32_t b) { return b >= 0x21 && b <= 0x7E; }

bool isTwoByteCode(int32_t code) {
    return code >= 0 && code <= 0xFFFF && isGraphicByte(code >> 8) && isGraphicByte(code & 0xFF);
}

// A source short of the window is read from a zero-filled copy, so that
// look-ahead sees 0 past the end instead of reading beyond it.
template <class Unit>
const Unit* windowOf(const Unit* src, size_t slen, Unit (&copy)[kWindow]) {
    if (slen >= kWindow) return src;
    std::fill(copy, copy + kWindow, Unit(0));
    std::copy(src, src + slen, copy);
    return copy;
}

int32_t (*sortedCombRows())[4] {
    static int32_t rows[kMaxRows][4];
    static bool bTableInitialized = false;
    if (!bTableInitialized) {
        size_t n = std::min(JIS3COMBIVSTABLESIZE / sizeof(rows[0]), kMaxRows);
        std::memcpy(rows, jis3CombIvsTable, n * sizeof(rows[0]));
        std::qsort(rows, n, sizeof(rows[0]), compareForTable64Rev);
        bTableInitialized = true;
    }
    return rows;
}

template <class Row>
Row* sortedSymbolRows(const Row* table, size_t tablesize, Row (&rows)[kMaxRows], bool& bTableInitialized,
                      int (*compare)(const void*, const void*)) {
    if (!bTableInitialized) {
        size_t n = std::min(tablesize / sizeof(Row), kMaxRows);
        std::memcpy(rows, table, n * sizeof(Row));
        std::qsort(rows, n, sizeof(Row), compare);
        bTableInitialized = true;
    }
    return rows;
}

int32_t decimal2(int32_t hi, int32_t lo) {
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return -1;
    return (hi - '0') * 10 + (lo - '0');
}

// "[#rr#cc]" in a window of at least 8 units. Rows and cells beyond 01-94
// are no code of any set, so such text stays plain.
template <class Unit>
size_t rowCellRevConv(const Unit* w, int32_t* jis) {
    if (w[0] != '[' || w[1] != '#' || w[4] != '#' || w[7] != ']') return 0;
    int32_t row = decimal2(w[2], w[3]);
    int32_t cell = decimal2(w[5], w[6]);
    if (row < 1 || row > 94 || cell < 1 || cell > 94) return 0;
    *jis = (row + 0x20) << 8 | (cell + 0x20);
    return 8;
}

// Bracketed text: the symbol table (searched by text), then the row-cell form.
template <class Unit, class Row>
size_t symbolRevConv(const Unit* sbuf, size_t slen, int32_t* jis, const Row* rows, size_t rowCount,
                     int (*compare)(const void*, const void*), size_t (*cmpStr)(const Unit*, const Unit*),
                     int32_t (*rowCode)(const Row&)) {
    *jis = 0;
    if (!sbuf || slen == 0) return 0;
    Unit copy[kWindow];
    const Unit* w = windowOf(sbuf, slen, copy);
    Row key{};
    std::copy(w, w + kWindow, reinterpret_cast<Unit*>(&key) + 12);
    const void* hit = std::bsearch(&key, rows, rowCount, sizeof(Row), compare);
    if (hit) {
        const Row& row = *static_cast<const Row*>(hit);
        size_t n = cmpStr(w, reinterpret_cast<const Unit*>(&row) + 12);
        if (n) {
            *jis = rowCode(row);
            return n;
        }
    }
    return rowCellRevConv(w, jis);
}

template <class Unit>
size_t cmpStr(const Unit* src, const Unit* dst) {
    size_t n = 0;
    while (n < 11 && dst[n]) {
        if (src[n] != dst[n]) return 0;
        ++n;
    }
    return n;
}

template <class Unit>
int compareText(const void* item1, const void* item2) {
    const Unit* a = static_cast<const Unit*>(item1) + 12;
    const Unit* b = static_cast<const Unit*>(item2) + 12;
    for (size_t i = 0; i < 12; ++i) {
        if (!a[i] || !b[i]) return 0;
        if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
    }
    return 0;
}

template <class Unit>
using SymbolRow = Unit[24];

// Each text form has its own table, sorted on first use.
template <class Unit>
size_t kigou2RevConvOf(const SymbolRow<Unit>* table, size_t tablesize, const Unit* sbuf, size_t slen, int32_t* jis,
                       int32_t (*rowCode)(const SymbolRow<Unit>&)) {
    static SymbolRow<Unit> rows[kMaxRows];
    static bool bTableInitialized = false;
    const size_t count = std::min(tablesize / sizeof(SymbolRow<Unit>), kMaxRows);
    sortedSymbolRows(table, tablesize, rows, bTableInitialized, compareText<Unit>);
    return symbolRevConv<Unit, SymbolRow<Unit>>(sbuf, slen, jis, rows, count, compareText<Unit>, cmpStr<Unit>,
                                                rowCode);
}

// Steps shared by the UTF-16 and UTF-8 classifiers once the code point (and
// the one after it) is read; the bracket has been tried already.
int32_t classOfCodePoint(int32_t cp, int32_t next, int32_t* jis, bool* pair) {
    *pair = false;
    if (isUcControlChar(cp)) {
        *jis = cp;
        return CLASS_CONTROL;
    }
    if (cp >= 0x21 && cp <= 0x7E) {
        *jis = cp;
        return CODE_ALPHANUMERIC;
    }
    if (cp == 0xA5 || cp == 0x203E) {
        *jis = alphaConv(cp, false);
        return CODE_ALPHANUMERIC;
    }
    int32_t cType = 0;
    if (jis3CombAndIvsRevConv(cp, next, &cType, jis)) {
        *pair = true;
        return cType;
    }
    struct Lookup {
        int32_t (*conv)(int32_t, bool);
        int32_t cType;
    };
    static const Lookup lookups[] = {
        {kanaCommon1Conv, CLASS_KANA_COMMON},     {hiragana1Conv, CODE_HIRAGANA},
        {katakana1Conv, CODE_KATAKANA},           {hankaku1Conv, CODE_JIS_X0201_KATAKANA},
        {kigou1Conv, CODE_ADDITIONAL_SYMBOLS},    {jis12Conv, CODE_JIS_KANJI_PLANE_1},
        {jis3Conv, CODE_JIS_KANJI_PLANE_1},       {jis4Conv, CODE_JIS_KANJI_PLANE_2},
    };
    for (const Lookup& l : lookups) {
        int32_t code = l.conv(cp, false);
        if (code) {
            *jis = code;
            return l.cType;
        }
    }
    *jis = 0;
    return CLASS_NOT_CODABLE;
}

bool isHighSurrogate(int32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(int32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Code point at p (n units readable, n >= 1); a high surrogate without its
// partner stands for itself.
int32_t readUTF16(const char16_t* p, size_t n, size_t* len) {
    if (isHighSurrogate(p[0]) && n >= 2 && isLowSurrogate(p[1])) {
        *len = 2;
        return 0x10000 + ((p[0] - 0xD800) << 10) + (p[1] - 0xDC00);
    }
    *len = 1;
    return p[0];
}

// Code point at p (n bytes readable, n >= 1), -1 for an invalid sequence
// (then len is 1).
int32_t readUTF8(const uint8_t* p, size_t n, size_t* len) {
    *len = 1;
    uint8_t lead = p[0];
    size_t extra;
    int32_t cp;
    if (lead < 0x80) return lead;
    if (lead >= 0xC0 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return -1;
    }
    if (extra >= n) return -1;
    for (size_t i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    *len = extra + 1;
    return cp;
}

bool isRunClass(int32_t cType) {
    switch (cType) {
    case CODE_HIRAGANA: case CODE_KATAKANA: case CODE_JIS_KANJI_PLANE_1: case CODE_JIS_KANJI_PLANE_2:
    case CODE_ADDITIONAL_SYMBOLS: case CODE_JIS_X0201_KATAKANA: case CODE_ALPHANUMERIC: case CLASS_KANA_COMMON:
        return true;
    default:
        return false;
    }
}

// Walks the text with classify(position, &charLen) -> class and fills the
// run arrays (when given).
template <class Classify>
void countRuns(Classify classify, size_t total_length, const ConvStatus* status, uint16_t* mojiClass,
               size_t* mojiNum, size_t* mojiLen, int32_t* numCType, size_t* groupCount) {
    ConvStatus initial;
    if (!status) {
        initConvStatus(&initial);
        status = &initial;
    }
    int32_t gl = status->region[0] & 3;
    int32_t current = status->bank[gl];
    size_t len = 1, count = 0;
    size_t groups = static_cast<size_t>(numBankGroups(current));
    auto close = [&](int32_t cType, size_t num) {
        if (mojiClass) mojiClass[len - 1] = static_cast<uint16_t>(cType);
        if (mojiNum) mojiNum[len - 1] = num;
    };
    for (size_t pos = 0; pos < total_length;) {
        size_t charLen = 1;
        int32_t cType = classify(pos, &charLen);
        pos += std::max<size_t>(charLen, 1);
        if (!isRunClass(cType)) continue;
        if (cType == CODE_JIS_KANJI_PLANE_2) *numCType = std::max(*numCType, 7);
        else if (cType == CODE_JIS_X0201_KATAKANA) *numCType = std::max(*numCType, 6);
        else if (cType == CODE_ADDITIONAL_SYMBOLS) *numCType = std::max(*numCType, 5);
        if (cType == current) {
            ++count;
            continue;
        }
        close(current, count);
        ++len;
        current = cType;
        count = 1;
        groups += static_cast<size_t>(numBankGroups(cType));
    }
    close(current, count);
    ++len;
    close(0, 0);
    *mojiLen = len;
    if (groupCount) *groupCount = groups;
}

// The UTF-16 and UTF-8 forms differ only in how a code point is read and
// where the symbol table is searched.
size_t kigou2RevConv(const char16_t* sbuf, size_t slen, int32_t* jis) { return kigou2RevConvUTF16(sbuf, slen, jis); }
size_t kigou2RevConv(const uint8_t* sbuf, size_t slen, int32_t* jis) { return kigou2RevConvUTF8(sbuf, slen, jis); }

// Code point at p (n units readable, n >= 1), -1 where no character can
// start: a high surrogate without its partner, an invalid UTF-8 sequence.
int32_t readCodePoint(const char16_t* p, size_t n, size_t* len) {
    const int32_t cp = readUTF16(p, n, len);
    return isHighSurrogate(cp) ? -1 : cp;
}
int32_t readCodePoint(const uint8_t* p, size_t n, size_t* len) { return readUTF8(p, n, len); }

template <class Unit>
int32_t classOfChar(const Unit* srcbuf, size_t slen, int32_t* jisCode, size_t* charLen) {
    *jisCode = 0;
    *charLen = 1;
    if (!srcbuf || slen == 0) return CLASS_NOT_CODABLE;
    Unit copy[kWindow];
    const Unit* w = windowOf(srcbuf, slen, copy);
    const size_t n = std::min(slen, kWindow);
    size_t len = 1;
    const int32_t cp = readCodePoint(w, n, &len);
    if (cp < 0) return CLASS_NOT_CODABLE;
    if (cp == '[') {
        const size_t matched = kigou2RevConv(srcbuf, slen, jisCode);
        if (matched) {
            *charLen = matched;
            return CODE_ADDITIONAL_SYMBOLS;
        }
    }
    size_t nextLen = 0;
    int32_t next = len < n ? readCodePoint(w + len, n - len, &nextLen) : 0;
    if (next < 0) next = 0;
    bool pair = false;
    const int32_t cType = classOfCodePoint(cp, next, jisCode, &pair);
    *charLen = pair ? len + nextLen : len;
    return cType;
}

template <class Unit>
void countText(const Unit* sbuf, size_t total_length, const ConvStatus* status, uint16_t* mojiClass,
               size_t* mojiNum, size_t* mojiLen, int32_t* numCType, size_t* groupCount) {
    if (!sbuf) total_length = 0;
    auto classify = [&](size_t pos, size_t* len) {
        int32_t jis;
        return classOfChar(sbuf + pos, total_length - pos, &jis, len);
    };
    countRuns(classify, total_length, status, mojiClass, mojiNum, mojiLen, numCType, groupCount);
}

}  // namespace

int compareForTable64Rev(const void* item1, const void* item2) {
    // Rows are {set, code, uc1, uc2}: the reverse key is the second pair.
    return compareForTable64(static_cast<const int32_t*>(item1) + 2, static_cast<const int32_t*>(item2) + 2);
}

int compareForTable2StrUTF16(const void* item1, const void* item2) { return compareText<char16_t>(item1, item2); }
int compareForTable2StrUTF8(const void* item1, const void* item2) { return compareText<uint8_t>(item1, item2); }

size_t cmpStrUTF16(const char16_t* src, const char16_t* dst) { return cmpStr(src, dst); }
size_t cmpStrUTF8(const uint8_t* src, const uint8_t* dst) { return cmpStr(src, dst); }

size_t jis3CombAndIvsRevConv(int32_t uc1, int32_t uc2, int32_t* cType, int32_t* jis) {
    const size_t rows = std::min(JIS3COMBIVSTABLESIZE / sizeof(jis3CombIvsTable[0]), kMaxRows);
    const int32_t key[4] = {0, 0, uc1, uc2};
    const void* hit = std::bsearch(key, sortedCombRows(), rows, sizeof(key), compareForTable64Rev);
    if (!hit) return 0;
    const int32_t* row = static_cast<const int32_t*>(hit);
    *cType = row[0];
    *jis = row[1];
    return 2;
}

size_t kigou2RevConvUTF16(const char16_t* sbuf, size_t slen, int32_t* jis) {
    return kigou2RevConvOf<char16_t>(kigou2TableUTF16, KIGOU2TABLEUTF16SIZE, sbuf, slen, jis,
                                     [](const SymbolRow<char16_t>& r) { return static_cast<int32_t>(r[0]); });
}

size_t kigou2RevConvUTF8(const uint8_t* sbuf, size_t slen, int32_t* jis) {
    return kigou2RevConvOf<uint8_t>(kigou2TableUTF8, KIGOU2TABLEUTF8SIZE, sbuf, slen, jis,
                                    [](const SymbolRow<uint8_t>& r) { return static_cast<int32_t>(r[0] << 8 | r[1]); });
}

int32_t classOfCharUTF16(const char16_t* srcbuf, size_t slen, int32_t* jisCode, size_t* charLen) {
    return classOfChar(srcbuf, slen, jisCode, charLen);
}

int32_t classOfCharUTF8(const uint8_t* srcbuf, size_t slen, int32_t* jisCode, size_t* charLen) {
    return classOfChar(srcbuf, slen, jisCode, charLen);
}

uint32_t classOfCharU32T(uint32_t code, int32_t* jisCode) {
    switch ((code >> 16) & ~0x1000u) {
    case CODE_HIRAGANA: case CODE_KATAKANA: case CODE_JIS_KANJI_PLANE_1: case CODE_JIS_KANJI_PLANE_2:
    case CODE_ADDITIONAL_SYMBOLS: case CODE_JIS_X0201_KATAKANA: case CODE_ALPHANUMERIC: case CODE_CONTROL:
    case CODE_KANA_COMMON:
        *jisCode = static_cast<int32_t>(code & U32T_CODE_MASK);
        return code & ~U32T_CODE_MASK;
    default:
        *jisCode = 0;
        return U32T_UNKNOWN_CLASS;
    }
}

bool isCodeOfSet(int32_t set, int32_t code) {
    switch (set) {
    case CODE_HIRAGANA: return hiragana1Conv(code, true) != 0;
    case CODE_KATAKANA: return katakana1Conv(code, true) != 0;
    case CODE_KANA_COMMON: return kanaCommon1Conv(code, true) != 0;
    case CODE_JIS_KANJI_PLANE_1: case CODE_JIS_KANJI_PLANE_2: case CODE_ADDITIONAL_SYMBOLS:
        return isTwoByteCode(code);
    case CODE_ALPHANUMERIC: return isGraphicByte(code);
    case CODE_JIS_X0201_KATAKANA: return code >= 0x21 && code <= 0x5F;
    case CODE_CONTROL: return true;
    default: return false;
    }
}

void countMojiSequenceUTF16(const char16_t* sbuf, size_t total_length, const ConvStatus* status,
                            uint16_t* mojiClass, size_t* mojiNum, size_t* mojiLen, int32_t* numCType,
                            size_t* groupCount) {
    countText(sbuf, total_length, status, mojiClass, mojiNum, mojiLen, numCType, groupCount);
}

void countMojiSequenceUTF8(const uint8_t* sbuf, size_t total_length, const ConvStatus* status, uint16_t* mojiClass,
                           size_t* mojiNum, size_t* mojiLen, int32_t* numCType, size_t* groupCount) {
    countText(sbuf, total_length, status, mojiClass, mojiNum, mojiLen, numCType, groupCount);
}

void countMojiSequenceU32T(const uint32_t* sbuf, size_t total_length, const ConvStatus* status,
                           uint16_t* mojiClass, size_t* mojiNum, size_t* mojiLen, int32_t* numCType,
                           size_t* groupCount) {
    if (!sbuf) total_length = 0;
    auto classify = [&](size_t pos, size_t* len) -> int32_t {
        *len = 1;
        int32_t code;
        uint32_t cType = classOfCharU32T(sbuf[pos], &code);
        if (cType == U32T_UNKNOWN_CLASS) return CLASS_NOT_CODABLE;
        int32_t set = static_cast<int32_t>((cType & U32T_SET_MASK) >> 16);
        return isCodeOfSet(set, code) ? set : CLASS_NOT_CODABLE;
    };
    countRuns(classify, total_length, status, mojiClass, mojiNum, mojiLen, numCType, groupCount);
}

int32_t numBankGroups(int32_t cType) {
    if (cType == CODE_HIRAGANA || cType == CODE_KATAKANA) return 2;
    if (cType == CLASS_KANA_COMMON) return 3;
    return 1;
}

int32_t getCTypeCode(int32_t cType) {
    switch (cType) {
    case CODE_JIS_KANJI_PLANE_1: return 0;
    case CODE_ALPHANUMERIC: return 1;
    case CODE_HIRAGANA: return 2;
    case CODE_KATAKANA: return 3;
    case CODE_ADDITIONAL_SYMBOLS: return 4;
    case CODE_JIS_X0201_KATAKANA: return 5;
    default: return 6;
    }
}

bool isUcControlChar(int32_t uc) { return (uc >= 0 && uc <= 0x20) || (uc >= 0x7F && uc <= 0xA0); }
bool isOneByteGSET(uint8_t f) { return (f >= 0x30 && f <= 0x38) || f == 0x49 || f == 0x4A; }
bool isTwoByteGSET(uint8_t f) { return f == 0x39 || f == 0x3A || f == 0x3B || f == 0x42; }
bool isOneByteDRCS(uint8_t f) { return (f >= 0x41 && f <= 0x4F) || f == 0x70; }
bool isTwoByteDRCS(uint8_t f) { return f == 0x40; }

int32_t numGBank(uint8_t i) {
    if (i >= 0x29 && i <= 0x2B) return i - 0x28;
    return 0;
}
