// Lookups over the ARIB character tables (data in characterSetsData.cpp).
#include "characterSets.h"

#include <cstdlib>
#include <cstring>

int compareForTable(const void* item1, const void* item2) {
    int32_t a, b;
    std::memcpy(&a, item1, sizeof a);
    std::memcpy(&b, item2, sizeof b);
    // The sign of the difference, without its overflow for far-apart keys.
    return (a > b) - (a < b);
}

int compareForTable64(const void* item1, const void* item2) {
    // Rows are {set, code, ...}; the key is code * 2^32 + set.
    const int32_t* a = static_cast<const int32_t*>(item1);
    const int32_t* b = static_cast<const int32_t*>(item2);
    int64_t ka = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(a[1])) << 32 | static_cast<uint32_t>(a[0]));
    int64_t kb = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(b[1])) << 32 | static_cast<uint32_t>(b[0]));
    return (ka > kb) - (ka < kb);
}

int compareForTable2UTF16(const void* item1, const void* item2) {
    return static_cast<int>(*static_cast<const char16_t*>(item1)) - static_cast<int>(*static_cast<const char16_t*>(item2));
}

int compareForTable2UTF8(const void* item1, const void* item2) {
    const uint8_t* a = static_cast<const uint8_t*>(item1);
    const uint8_t* b = static_cast<const uint8_t*>(item2);
    return (a[0] << 8 | a[1]) - (b[0] << 8 | b[1]);
}

void initRevTable(const int32_t* tabletop, int32_t* revtop, size_t tablesize) {
    size_t pairs = tablesize / (2 * sizeof(int32_t));
    for (size_t i = 0; i < pairs; ++i) {
        revtop[2 * i] = tabletop[2 * i + 1];
        revtop[2 * i + 1] = tabletop[2 * i];
    }
    std::qsort(revtop, pairs, 2 * sizeof(int32_t), compareForTable);
}

namespace {

int32_t searchPairs(const int32_t (*table)[2], size_t tablesize, int32_t code) {
    const int32_t key[2] = {code, 0};
    const void* hit = std::bsearch(key, table, tablesize / (2 * sizeof(int32_t)), 2 * sizeof(int32_t), compareForTable);
    return hit ? static_cast<const int32_t*>(hit)[1] : 0;
}

// Forward through the table, backward through its twin, which the first
// backward lookup builds.
int32_t convPairs(const int32_t (*table)[2], int32_t (*revTable)[2], size_t tablesize, bool& bTableInitialized,
                  int32_t code, bool bConvDir) {
    if (bConvDir) return searchPairs(table, tablesize, code);
    if (!bTableInitialized) {
        initRevTable(&table[0][0], &revTable[0][0], tablesize);
        bTableInitialized = true;
    }
    return searchPairs(revTable, tablesize, code);
}

}  // namespace

#define MARUBO_TABLE_CONV(func, table, revTable, size)                                 \
    int32_t func(int32_t code, bool bConvDir) {                                        \
        static bool bTableInitialized = false;                                         \
        return convPairs(table, revTable, size, bTableInitialized, code, bConvDir);    \
    }

MARUBO_TABLE_CONV(jis12WinConv, jis12WinTable, jis12WinRevTable, JIS12WINTABLESIZE)
MARUBO_TABLE_CONV(jis3Conv, jis3Table, jis3RevTable, JIS3TABLESIZE)
MARUBO_TABLE_CONV(jis4Conv, jis4Table, jis4RevTable, JIS4TABLESIZE)
MARUBO_TABLE_CONV(hiragana1Conv, hiragana1Table, hiragana1RevTable, HIRAGANA1TABLESIZE)
MARUBO_TABLE_CONV(katakana1Conv, katakana1Table, katakana1RevTable, KATAKANA1TABLESIZE)
MARUBO_TABLE_CONV(hankaku1Conv, hankaku1Table, hankaku1RevTable, HANKAKU1TABLESIZE)
MARUBO_TABLE_CONV(kanaCommon1Conv, kanaCommon1Table, kanaCommon1RevTable, KANACOMMON1TABLESIZE)
MARUBO_TABLE_CONV(charSize1Conv, charSize1Table, charSize1RevTable, CHARSIZE1TABLESIZE)
MARUBO_TABLE_CONV(charSize2Conv, charSize2Table, charSize2RevTable, CHARSIZE2TABLESIZE)

#undef MARUBO_TABLE_CONV

int32_t jis12Conv(int32_t code, bool bConvDir) {
    // The Windows forms win in both directions, so U+FF5E and U+301C both
    // map back to the wave dash.
    int32_t win = jis12WinConv(code, bConvDir);
    if (win) return win;
    static bool bTableInitialized = false;
    return convPairs(jis12Table, jis12RevTable, JIS12TABLESIZE, bTableInitialized, code, bConvDir);
}

int32_t kigou1Conv(int32_t code, bool bConvDir) {
    static bool bTableInitialized = false;
    int32_t found = convPairs(kigou1Table, kigou1RevTable, KIGOU1TABLESIZE, bTableInitialized, code, bConvDir);
    // Only read, never written: the encoder finds these in the kanji set.
    if (!found && bConvDir) found = searchPairs(kigou1InKanjiSetTable, KIGOU1INKANJISETTABLESIZE, code);
    return found;
}

int32_t alphaConv(int32_t code, bool bConvDir) {
    if (bConvDir) {
        if (code == 0x5C) return 0xA5;
        if (code == 0x7E) return 0x203E;
        return (code >= 0x21 && code <= 0x7E) ? code : 0;
    }
    if (code == 0xA5) return 0x5C;
    if (code == 0x203E) return 0x7E;
    return (code >= 0x21 && code <= 0x7E) ? code : 0;
}
