// ARIB STD-B24 8-unit code decoding. One byte walker (walkAribText) keeps
// the bank state and handles every control function; the UTF-16, UTF-8 and
// 32-bit outputs differ only in the handler that receives its characters.
#include "convToUnicode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool isTwoByteSet(int32_t set) {
    return set == CODE_JIS_KANJI_PLANE_1 || set == CODE_JIS_KANJI_PLANE_2 || set == CODE_ADDITIONAL_SYMBOLS ||
           set == CODE_KANJI || set == CODE_DRCS_0;
}

bool isOneByteDrcs(int32_t set) { return set >= CODE_DRCS_1 && set <= CODE_DRCS_15; }

void singleShift(ConvStatus* status, int32_t bank) {
    // A second shift before the character must not lose the locked GL.
    if (!status->bSingleShift) status->region_GL_backup = status->region[0];
    status->region[0] = bank;
    status->bSingleShift = true;
}

// ESC sequences. p has at least 5 readable bytes (zero padded near the end).
size_t escapeProc(const uint8_t* p, ConvStatus* status) {
    switch (p[1]) {
    case 0x6E: status->region[0] = 2; return 2;  // LS2
    case 0x6F: status->region[0] = 3; return 2;  // LS3
    case 0x7E: status->region[1] = 1; return 2;  // LS1R
    case 0x7D: status->region[1] = 2; return 2;  // LS2R
    case 0x7C: status->region[1] = 3; return 2;  // LS3R
    case 0x28: case 0x29: case 0x2A: case 0x2B: {  // 1-byte set to G0..G3
        int g = p[1] - 0x28;
        uint8_t f = p[2];
        if ((f >= 0x30 && f <= 0x38) || f == 0x49 || f == 0x4A) {
            status->bank[g] = f;
            return 3;
        }
        if (f == 0x20) {  // DRCS or macro
            uint8_t f2 = p[3];
            if ((f2 >= 0x41 && f2 <= 0x4F) || f2 == 0x70) status->bank[g] = f2 + 0x100;
            return 4;
        }
        return 3;
    }
    case 0x24: {  // 2-byte sets
        uint8_t f = p[2];
        if (f == 0x39 || f == 0x3A || f == 0x3B || f == 0x42) {
            status->bank[0] = f;
            return 3;
        }
        if (f >= 0x29 && f <= 0x2B) {
            int g = f - 0x28;
            uint8_t f2 = p[3];
            if ((f2 >= 0x39 && f2 <= 0x3B) || f2 == 0x42) {
                status->bank[g] = f2;
                return 4;
            }
            if (f2 == 0x20) {
                if (p[4] == 0x40) status->bank[g] = CODE_DRCS_0;
                return 5;
            }
            return 4;
        }
        if (f == 0x28) {
            if (p[3] == 0x20) {
                if (p[4] == 0x40) status->bank[0] = CODE_DRCS_0;
                return 5;
            }
            return 4;
        }
        return 3;
    }
    default:
        return 2;
    }
}

// MACRO P1: a definition (P1 0x40 or 0x41) runs up to and including the
// closing MACRO 0x4F; it is not text to show.
size_t macroLength(const uint8_t* s, size_t len) {
    if (len < 2) return len;
    if (s[1] != 0x40 && s[1] != 0x41) return 2;
    for (size_t i = 2; i + 1 < len; ++i)
        if (s[i] == 0x95 && s[i + 1] == 0x4F) return i + 2;
    return len;
}

// TIME: 0x20 P2 and 0x28 F take one more byte; 0x29 takes parameter and
// intermediate bytes up to a final byte.
size_t timeLength(const uint8_t* s, size_t len) {
    if (len < 2) return len;
    if (s[1] == 0x20 || s[1] == 0x28) return 3;
    if (s[1] != 0x29) return 2;
    size_t i = 2;
    while (i < len && s[i] >= 0x20 && s[i] <= 0x3B) ++i;
    return i < len ? i + 1 : len;
}

}  // namespace

void initConvStatus(ConvStatus* status) {
    status->region[0] = 0;
    status->region[1] = 2;
    status->bank[0] = CODE_JIS_KANJI_PLANE_1;
    status->bank[1] = CODE_ALPHANUMERIC;
    status->bank[2] = CODE_HIRAGANA;
    status->bank[3] = CODE_KATAKANA;
    status->bSingleShift = false;
    status->region_GL_backup = 0;
    status->bXCS = false;
    status->bNormalSize = true;
}

bool isControlChar(uint8_t c) { return c < 0x21 || c == 0xFF || (c >= 0x7F && c <= 0xA0); }

void defaultMacroProc(uint8_t c, ConvStatus* status) {
    static const int32_t kMacros[16][3] = {
        {0x39, 0x4A, 0x30},    {0x39, 0x31, 0x30},    {0x39, 0x141, 0x30},   {0x32, 0x34, 0x35},
        {0x32, 0x33, 0x35},    {0x32, 0x141, 0x35},   {0x141, 0x142, 0x143}, {0x144, 0x145, 0x146},
        {0x147, 0x148, 0x149}, {0x14A, 0x14B, 0x14C}, {0x14D, 0x14E, 0x14F}, {0x39, 0x142, 0x30},
        {0x39, 0x143, 0x30},   {0x39, 0x144, 0x30},   {0x31, 0x30, 0x4A},    {0x4A, 0x32, 0x141},
    };
    if (c < 0x60 || c > 0x6F) return;
    const int32_t* m = kMacros[c - 0x60];
    status->bank[0] = m[0];
    status->bank[1] = m[1];
    status->bank[2] = m[2];
    status->bank[3] = CODE_MACRO;
    status->region[0] = 0;
    status->region[1] = 2;
}

size_t csiProc(const uint8_t* sbuf, size_t slen, ConvStatus* status) {
    if (!sbuf || slen == 0) return 0;
    uint32_t param[4] = {0, 0, 0, 0};
    size_t index = 0, separators = 0, spaces = 0, semicolons = 0;
    size_t i = 1;
    while (i < slen) {
        uint8_t b = sbuf[i++];
        if (b >= 0x30 && b <= 0x39) {
            if (index < 4) {
                uint32_t v = param[index];
                // Saturate: a long digit run must not overflow.
                param[index] = v > (UINT32_MAX - 9) / 10 ? UINT32_MAX : v * 10 + (b - 0x30);
            }
            continue;
        }
        if (b == 0x3B || b == 0x20) {
            ++separators;
            ++index;
            if (b == 0x20) ++spaces;
            else if (++semicolons == 5) return i;
            continue;
        }
        // Final byte.
        if (b == 0x66 && separators == 1 && spaces == 1) {  // XCS
            if (param[0] == 0) status->bXCS = true;
            else if (param[0] == 1) status->bXCS = false;
        }
        return i;
    }
    return i;
}

size_t changeConvStatus(const uint8_t* srcbuf, size_t slen, ConvStatus* status) {
    if (!srcbuf || slen == 0) return 0;
    // Near the end read a zero-padded copy, so a cut sequence stops at the
    // 0 without effect and nothing past the text is read.
    uint8_t padded[6] = {0, 0, 0, 0, 0, 0};
    const uint8_t* p = srcbuf;
    if (slen < 5) {
        std::memcpy(padded, srcbuf, slen);
        p = padded;
    }
    size_t n = 1;
    switch (p[0]) {
    case 0x0E: status->region[0] = 1; break;  // LS1
    case 0x0F: status->region[0] = 0; break;  // LS0
    case 0x19: singleShift(status, 2); break;  // SS2
    case 0x1D: singleShift(status, 3); break;  // SS3
    case 0x89: status->bNormalSize = false; break;  // MSZ
    case 0x8A: status->bNormalSize = true; break;   // NSZ
    case 0x1B: n = escapeProc(p, status); break;
    case 0x9B: return csiProc(srcbuf, slen, status);
    // Presentation controls: skip their parameter bytes so they are not
    // shown as characters.
    case 0x16:  // PAPF P1
    case 0x8B:  // SZX P1
    case 0x91:  // FLC P1
    case 0x93:  // POL P1
    case 0x94:  // WMM P1
    case 0x97:  // HLC P1
    case 0x98:  // RPC P1
        n = 2;
        break;
    case 0x1C: n = 3; break;  // APS P1 P2
    case 0x90:                // COL P1 | COL 0x20 P2
    case 0x92:                // CDC P1 | CDC 0x20 P2
        n = p[1] == 0x20 ? 3 : 2;
        break;
    case 0x95: n = macroLength(srcbuf, slen); break;
    case 0x9D: n = timeLength(srcbuf, slen); break;
    default: break;
    }
    return std::min(n, slen);
}

size_t writeUTF16Buf(char16_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS) {
    if (bXCS || uc < 0 || uc > 0x10FFFF) return 0;
    if (uc < 0x10000) {
        if (dbuf && dst < maxbufsize) dbuf[dst] = static_cast<char16_t>(uc);
        return 1;
    }
    if (dbuf && dst < maxbufsize) dbuf[dst] = static_cast<char16_t>(0xD800 + ((uc - 0x10000) >> 10));
    if (dbuf && dst + 1 < maxbufsize) dbuf[dst + 1] = static_cast<char16_t>(0xDC00 + ((uc - 0x10000) & 0x3FF));
    return 2;
}

namespace {

// Copies what fits; the count is the whole text, as for a single character.
template <class Unit>
size_t writeUnitsBuf(Unit* dbuf, size_t maxbufsize, size_t dst, const Unit* sbuf, size_t slen, bool bXCS) {
    if (bXCS) return 0;
    if (dbuf)
        for (size_t i = 0; i < slen && dst + i < maxbufsize; ++i) dbuf[dst + i] = sbuf[i];
    return slen;
}

}  // namespace

size_t writeUTF16StrBuf(char16_t* dbuf, size_t maxbufsize, size_t dst, const char16_t* sbuf, size_t slen, bool bXCS) {
    return writeUnitsBuf(dbuf, maxbufsize, dst, sbuf, slen, bXCS);
}

size_t writeUTF8Buf(uint8_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS) {
    // Surrogate code points are refused too: the output stays valid UTF-8.
    if (bXCS || uc < 0 || uc > 0x10FFFF || (uc >= 0xD800 && uc <= 0xDFFF)) return 0;
    uint8_t b[4];
    size_t n;
    if (uc < 0x80) {
        b[0] = static_cast<uint8_t>(uc);
        n = 1;
    } else if (uc < 0x800) {
        b[0] = static_cast<uint8_t>(0xC0 | uc >> 6);
        b[1] = static_cast<uint8_t>(0x80 | (uc & 0x3F));
        n = 2;
    } else if (uc < 0x10000) {
        b[0] = static_cast<uint8_t>(0xE0 | uc >> 12);
        b[1] = static_cast<uint8_t>(0x80 | (uc >> 6 & 0x3F));
        b[2] = static_cast<uint8_t>(0x80 | (uc & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<uint8_t>(0xF0 | uc >> 18);
        b[1] = static_cast<uint8_t>(0x80 | (uc >> 12 & 0x3F));
        b[2] = static_cast<uint8_t>(0x80 | (uc >> 6 & 0x3F));
        b[3] = static_cast<uint8_t>(0x80 | (uc & 0x3F));
        n = 4;
    }
    if (dbuf)
        for (size_t i = 0; i < n && dst + i < maxbufsize; ++i) dbuf[dst + i] = b[i];
    return n;
}

size_t writeUTF8StrBuf(uint8_t* dbuf, size_t maxbufsize, size_t dst, const uint8_t* sbuf, size_t slen, bool bXCS) {
    return writeUnitsBuf(dbuf, maxbufsize, dst, sbuf, slen, bXCS);
}

size_t writeU32TBuf(uint32_t* dbuf, size_t maxbufsize, size_t dst, uint32_t c_code, uint32_t code,
                    const ConvStatus* status) {
    if (status->bXCS) return 0;
    if (dbuf && dst < maxbufsize) {
        uint32_t unit = c_code + code;
        if (status->bNormalSize && code != 0x08 && code != 0x09 && code != 0x0D && code != 0x7F)
            unit |= U32T_NORMAL_SIZE;
        dbuf[dst] = unit;
    }
    return 1;
}

size_t jis3CombAndIvsConv(int32_t cType, int32_t jis, int32_t* uc1, int32_t* uc2) {
    static bool bTableInitialized = false;
    const size_t rows = JIS3COMBIVSTABLESIZE / sizeof(jis3CombIvsTable[0]);
    if (!bTableInitialized) {
        std::qsort(jis3CombIvsTable, rows, sizeof(jis3CombIvsTable[0]), compareForTable64);
        bTableInitialized = true;
    }
    const int32_t key[4] = {cType, jis, 0, 0};
    const void* hit = std::bsearch(key, jis3CombIvsTable, rows, sizeof(jis3CombIvsTable[0]), compareForTable64);
    if (!hit) return 0;
    const int32_t* row = static_cast<const int32_t*>(hit);
    *uc1 = row[2];
    *uc2 = row[3];
    return 2;
}

namespace {

// "[#rr#cc]" for a cell of rows and cells 1-94; empty otherwise.
size_t rowCellText(int32_t jis, char* text) {
    int32_t r = jis >> 8, c = jis & 0xFF;
    if (jis < 0 || jis > 0xFFFF || r < 0x21 || r > 0x7E || c < 0x21 || c > 0x7E) return 0;
    std::snprintf(text, 9, "[#%.2d#%.2d]", static_cast<int>(r - 0x20), static_cast<int>(c - 0x20));
    return 8;
}

// The text of a symbol table row (from unit 12, at most 12 units, ended by
// 0 when shorter), or the row-and-cell text when the table has no row.
template <class Unit>
size_t symbolRowText(const void* row, int32_t jis, Unit* dbuf, size_t bufsize) {
    if (row) {
        const Unit* text = static_cast<const Unit*>(row) + 12;
        size_t n = 0;
        while (n < 12 && text[n] && n < bufsize) {
            if (dbuf) dbuf[n] = text[n];
            ++n;
        }
        return n;
    }
    char text[9];
    size_t len = rowCellText(jis, text);
    size_t n = std::min(len, bufsize);
    if (dbuf)
        for (size_t i = 0; i < n; ++i) dbuf[i] = static_cast<Unit>(text[i]);
    return n;
}

}  // namespace

size_t kigou2ConvUTF16(int32_t jis, char16_t* dbuf, size_t bufsize) {
    const void* row = nullptr;
    if (jis >= 0 && jis <= 0xFFFF) {
        char16_t key[24] = {};
        key[0] = static_cast<char16_t>(jis);
        row = std::bsearch(key, kigou2TableUTF16, KIGOU2TABLEUTF16SIZE / sizeof(kigou2TableUTF16[0]),
                           sizeof(kigou2TableUTF16[0]), compareForTable2UTF16);
    }
    return symbolRowText(row, jis, dbuf, bufsize);
}

size_t kigou2ConvUTF8(int32_t jis, uint8_t* dbuf, size_t bufsize) {
    const void* row = nullptr;
    if (jis >= 0 && jis <= 0xFFFF) {
        uint8_t key[24] = {};
        key[0] = static_cast<uint8_t>(jis >> 8);
        key[1] = static_cast<uint8_t>(jis & 0xFF);
        row = std::bsearch(key, kigou2TableUTF8, KIGOU2TABLEUTF8SIZE / sizeof(kigou2TableUTF8[0]),
                           sizeof(kigou2TableUTF8[0]), compareForTable2UTF8);
    }
    return symbolRowText(row, jis, dbuf, bufsize);
}

namespace {

// The byte walker. Handler receives:
//   control(b, status)          for APB, APF, CR/LF (as 0x0D, once per
//                               CR LF pair), SP and DEL;
//   graphic(set, code, status)  for each graphic character of a set other
//                               than the macro set (2-byte codes are
//                               first * 256 + second, top bits cleared).
template <class Handler>
void walkAribText(const uint8_t* sbuf, size_t len, Handler& h) {
    ConvStatus st;
    initConvStatus(&st);
    size_t i = 0;
    while (i < len) {
        uint8_t b = sbuf[i];
        if (isControlChar(b)) {
            switch (b) {
            case 0x08: case 0x09: case 0x20: case 0x7F:
                h.control(b, st);
                ++i;
                break;
            case 0x0D:
                h.control(0x0D, st);
                i += (i + 1 < len && sbuf[i + 1] == 0x0A) ? 2 : 1;
                break;
            case 0x0A:
                h.control(0x0D, st);
                ++i;
                break;
            case 0x9B:
                i += csiProc(sbuf + i, len - i, &st);
                break;
            default:
                i += changeConvStatus(sbuf + i, len - i, &st);
                break;
            }
            continue;
        }
        int32_t set = st.bank[st.region[b >= 0x80 ? 1 : 0]];
        int32_t code = b & 0x7F;
        size_t width = 1;
        if (isTwoByteSet(set)) {
            int32_t second = i + 1 < len ? (sbuf[i + 1] & 0x7F) : 0;
            code = code << 8 | second;
            width = i + 1 < len ? 2 : 1;
        }
        if (set == CODE_MACRO) defaultMacroProc(static_cast<uint8_t>(code), &st);
        else h.graphic(set, code, st);
        i += width;
        if (st.bSingleShift) {
            st.region[0] = st.region_GL_backup;
            st.bSingleShift = false;
        }
    }
}

// The UTF-16 and UTF-8 outputs differ only in their unit; these overloads
// pick the encoder for the unit.
size_t writeCodeBuf(char16_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS) {
    return writeUTF16Buf(dbuf, maxbufsize, dst, uc, bXCS);
}
size_t writeCodeBuf(uint8_t* dbuf, size_t maxbufsize, size_t dst, int32_t uc, bool bXCS) {
    return writeUTF8Buf(dbuf, maxbufsize, dst, uc, bXCS);
}
size_t kigou2Conv(int32_t jis, char16_t* dbuf, size_t bufsize) { return kigou2ConvUTF16(jis, dbuf, bufsize); }
size_t kigou2Conv(int32_t jis, uint8_t* dbuf, size_t bufsize) { return kigou2ConvUTF8(jis, dbuf, bufsize); }

template <class Unit>
struct UnicodeOut {
    Unit* dbuf;
    size_t maxbufsize;
    size_t out;
    void put(int32_t uc, bool bXCS) { out += writeCodeBuf(dbuf, maxbufsize, out, uc, bXCS); }
    void symbolText(int32_t jis, bool bXCS) {
        Unit text[12];
        size_t n = kigou2Conv(jis, text, 12);
        out += writeUnitsBuf(dbuf, maxbufsize, out, text, n, bXCS);
    }
    void terminate() {
        if (dbuf && out < maxbufsize) dbuf[out] = 0;
    }
};
using Utf16Out = UnicodeOut<char16_t>;
using Utf8Out = UnicodeOut<uint8_t>;

bool isVariationSelector(int32_t uc) { return uc == 0xE0100 || uc == 0xE0101; }

// Half-width form of a kanji-set code at medium size, 0 when it has none.
int32_t mediumSizeForm(int32_t code) {
    if (code == 0x2121) return 0x20;
    int32_t ascii = charSize1Conv(code, false);
    if (ascii) return alphaConv(ascii, true);
    int32_t kana = charSize2Conv(code, false);
    if (kana) return hankaku1Conv(kana, true);
    return 0;
}

using CodeConv = int32_t (*)(int32_t, bool);

// A character of a one-byte set: at full width the kanji-set form its
// size table gives (0 when none), otherwise its own form.
int32_t oneByteForm(int32_t code, bool fullWidth, CodeConv toKanjiSet, CodeConv own) {
    if (!fullWidth) return own(code, true);
    int32_t jis = toKanjiSet(code, true);
    return jis ? jis12Conv(jis, true) : 0;
}

template <class Out>
struct UnicodeHandler {
    Out& o;
    bool bCharSize;
    bool bIVS;

    void emit(int32_t uc, const ConvStatus& st) {
        if (uc) o.put(uc, st.bXCS);
    }

    void control(uint8_t b, const ConvStatus& st) {
        if (b == 0x0D) {
            o.put(0x0D, st.bXCS);
            o.put(0x0A, st.bXCS);
        } else if (b == 0x20) {
            o.put(bCharSize && st.bNormalSize ? 0x3000 : 0x20, st.bXCS);
        } else {
            o.put(b, st.bXCS);
        }
    }

    bool combining(int32_t set, int32_t code, const ConvStatus& st) {
        int32_t uc1, uc2;
        if (!jis3CombAndIvsConv(set, code, &uc1, &uc2)) return false;
        emit(uc1, st);
        if (bIVS || !isVariationSelector(uc2)) emit(uc2, st);
        return true;
    }

    void graphic(int32_t set, int32_t code, const ConvStatus& st) {
        const bool medium = bCharSize && !st.bNormalSize;
        const bool fullWidth = bCharSize && st.bNormalSize;
        switch (set) {
        case CODE_HIRAGANA:
        case CODE_PROP_HIRAGANA:
            emit(hiragana1Conv(code, true), st);
            return;
        case CODE_KATAKANA:
        case CODE_PROP_KATAKANA: {
            int32_t uc = katakana1Conv(code, true);
            if (medium && uc) {
                int32_t jis = jis12Conv(uc, false);
                int32_t half = jis ? charSize2Conv(jis, false) : 0;
                uc = half ? hankaku1Conv(half, true) : 0;
            }
            emit(uc, st);
            return;
        }
        case CODE_ALPHANUMERIC:
        case CODE_PROP_ALPHANUMERIC:
            emit(oneByteForm(code, fullWidth, charSize1Conv, alphaConv), st);
            return;
        case CODE_JIS_X0201_KATAKANA:
            emit(oneByteForm(code, fullWidth, charSize2Conv, hankaku1Conv), st);
            return;
        case CODE_JIS_KANJI_PLANE_1:
        case CODE_KANJI: {
            if (combining(CODE_JIS_KANJI_PLANE_1, code, st)) return;
            if (medium) {
                int32_t half = mediumSizeForm(code);
                if (half) {
                    emit(half, st);
                    return;
                }
            }
            int32_t uc = jis12Conv(code, true);
            emit(uc ? uc : jis3Conv(code, true), st);
            return;
        }
        case CODE_JIS_KANJI_PLANE_2:
            emit(jis4Conv(code, true), st);
            return;
        case CODE_ADDITIONAL_SYMBOLS: {
            if (combining(CODE_ADDITIONAL_SYMBOLS, code, st)) return;
            int32_t uc = kigou1Conv(code, true);
            if (!uc && medium) uc = mediumSizeForm(code);
            if (!uc) uc = jis12Conv(code, true);
            if (uc) emit(uc, st);
            else o.symbolText(code, st.bXCS);
            return;
        }
        case CODE_DRCS_0:
            emit(0xFF1F, st);
            return;
        default:
            if (isOneByteDrcs(set)) emit(0x3F, st);
            return;
        }
    }
};

struct U32THandler {
    uint32_t* dbuf;
    size_t maxbufsize;
    size_t out;

    void put(int32_t set, int32_t code, const ConvStatus& st) {
        out += writeU32TBuf(dbuf, maxbufsize, out, static_cast<uint32_t>(set) << 16, static_cast<uint32_t>(code), &st);
    }

    void control(uint8_t b, const ConvStatus& st) { put(CODE_CONTROL, b, st); }

    // Both bytes of a 2-byte code must be graphic; otherwise 0.
    static int32_t twoByteCode(int32_t code) {
        int32_t r = code >> 8, c = code & 0xFF;
        return (r >= 0x21 && r <= 0x7E && c >= 0x21 && c <= 0x7E) ? code : 0;
    }

    // A kanji-set code that is really kana keeps the kana set.
    bool kana(int32_t uc, const ConvStatus& st) {
        int32_t k = kanaCommon1Conv(uc, false);
        if (k) {
            put(CODE_KANA_COMMON, k, st);
            return true;
        }
        k = hiragana1Conv(uc, false);
        if (k) {
            put(CODE_HIRAGANA, k, st);
            return true;
        }
        k = katakana1Conv(uc, false);
        if (k) {
            put(CODE_KATAKANA, k, st);
            return true;
        }
        return false;
    }

    void kanaSet(int32_t set, int32_t uc, int32_t code, const ConvStatus& st) {
        int32_t k = uc ? kanaCommon1Conv(uc, false) : 0;
        if (k) put(CODE_KANA_COMMON, k, st);
        else put(set, code, st);
    }

    void graphic(int32_t set, int32_t code, const ConvStatus& st) {
        switch (set) {
        case CODE_HIRAGANA:
        case CODE_PROP_HIRAGANA:
            kanaSet(CODE_HIRAGANA, hiragana1Conv(code, true), code, st);
            return;
        case CODE_KATAKANA:
        case CODE_PROP_KATAKANA:
            kanaSet(CODE_KATAKANA, katakana1Conv(code, true), code, st);
            return;
        case CODE_ALPHANUMERIC:
        case CODE_PROP_ALPHANUMERIC:
            put(CODE_ALPHANUMERIC, code, st);
            return;
        case CODE_JIS_X0201_KATAKANA:
            if (code >= 0x21 && code <= 0x5F) put(CODE_JIS_X0201_KATAKANA, code, st);
            return;
        case CODE_JIS_KANJI_PLANE_1:
        case CODE_KANJI:
        case CODE_ADDITIONAL_SYMBOLS: {
            code = twoByteCode(code);
            if (!code) return;
            int32_t uc = jis12Conv(code, true);
            if (uc && kana(uc, st)) return;
            if (uc || set != CODE_ADDITIONAL_SYMBOLS) put(CODE_JIS_KANJI_PLANE_1, code, st);
            else put(CODE_ADDITIONAL_SYMBOLS, code, st);
            return;
        }
        case CODE_JIS_KANJI_PLANE_2:
            code = twoByteCode(code);
            if (code) put(CODE_JIS_KANJI_PLANE_2, code, st);
            return;
        case CODE_DRCS_0:
            put(CODE_JIS_KANJI_PLANE_1, 0x2129, st);
            return;
        default:
            if (isOneByteDrcs(set)) put(CODE_ALPHANUMERIC, 0x3F, st);
            return;
        }
    }
};

template <class Out>
size_t convToUnicodeImpl(Out& o, const uint8_t* sbuf, size_t total_length, bool bCharSize, bool bIVS) {
    if (sbuf && total_length > 0) {
        UnicodeHandler<Out> h{o, bCharSize, bIVS};
        walkAribText(sbuf, total_length, h);
    }
    o.terminate();
    return std::min(o.out, o.maxbufsize);
}

// 32-bit units back to code points, shared by the UTF-16 and UTF-8 forms.
template <class Out>
size_t convU32TImpl(Out& o, const uint32_t* sbuf, size_t total_length) {
    for (size_t i = 0; sbuf && i < total_length; ++i) {
        int32_t set = static_cast<int32_t>((sbuf[i] & U32T_SET_MASK) >> 16);
        int32_t code = static_cast<int32_t>(sbuf[i] & U32T_CODE_MASK);
        int32_t uc = 0, uc2 = 0;
        switch (set) {
        case CODE_HIRAGANA: uc = hiragana1Conv(code, true); break;
        case CODE_KATAKANA: uc = katakana1Conv(code, true); break;
        case CODE_JIS_KANJI_PLANE_2: uc = jis4Conv(code, true); break;
        case CODE_JIS_X0201_KATAKANA: uc = hankaku1Conv(code, true); break;
        case CODE_KANA_COMMON: uc = kanaCommon1Conv(code, true); break;
        case CODE_ALPHANUMERIC: uc = alphaConv(code, true); break;
        case CODE_JIS_KANJI_PLANE_1:
        case CODE_KANJI:
            if (jis3CombAndIvsConv(CODE_JIS_KANJI_PLANE_1, code, &uc, &uc2)) break;
            if (code == 0x2121) {
                uc = 0x20;
                break;
            }
            uc = charSize1Conv(code, false);
            if (uc) {
                uc = alphaConv(uc, true);
                break;
            }
            uc = jis12Conv(code, true);
            if (!uc) uc = jis3Conv(code, true);
            break;
        case CODE_ADDITIONAL_SYMBOLS:
            if (jis3CombAndIvsConv(CODE_ADDITIONAL_SYMBOLS, code, &uc, &uc2)) break;
            uc = kigou1Conv(code, true);
            if (!uc) o.symbolText(code, false);
            break;
        case CODE_CONTROL:
            if (code == 0x0D) {
                uc = 0x0D;
                uc2 = 0x0A;
            } else {
                uc = code;
                // A surrogate code alone is no character: nothing in either
                // form, so the UTF-16 output stays well-formed as the UTF-8 does.
                if (!uc || (uc >= 0xD800 && uc <= 0xDFFF)) continue;
            }
            break;
        default:
            break;
        }
        if (uc) o.put(uc, false);
        if (uc2) o.put(uc2, false);
    }
    o.terminate();
    return std::min(o.out, o.maxbufsize);
}

}  // namespace

size_t conv_to_unicode(char16_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length, bool bCharSize,
                       bool bIVS) {
    Utf16Out o{dbuf, maxbufsize, 0};
    return convToUnicodeImpl(o, sbuf, total_length, bCharSize, bIVS);
}

size_t conv_to_unicode(uint8_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length, bool bCharSize,
                       bool bIVS) {
    Utf8Out o{dbuf, maxbufsize, 0};
    return convToUnicodeImpl(o, sbuf, total_length, bCharSize, bIVS);
}

size_t conv_to_U32T(uint32_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length) {
    U32THandler h{dbuf, maxbufsize, 0};
    if (sbuf && total_length > 0) walkAribText(sbuf, total_length, h);
    if (dbuf && h.out < maxbufsize) dbuf[h.out] = 0;
    return std::min(h.out, maxbufsize);
}

size_t convU32T_to_UTF16(char16_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length) {
    Utf16Out o{dbuf, maxbufsize, 0};
    return convU32TImpl(o, sbuf, total_length);
}

size_t convU32T_to_UTF8(uint8_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length) {
    Utf8Out o{dbuf, maxbufsize, 0};
    return convU32TImpl(o, sbuf, total_length);
}
