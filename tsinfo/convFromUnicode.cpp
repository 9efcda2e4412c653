// Writing text in ARIB 8-unit code along a bank plan. The plan holds one
// action per run; the writer walks the characters again, follows the run
// changes of the run counter and emits designations, shifts and character
// bytes only where the tracked state differs from what the action needs.
#include "convFromUnicode.h"

#include <algorithm>
#include <cstdlib>

#include "characterClasses.h"

namespace {

constexpr uint8_t kESC = 0x1B;
constexpr uint8_t kMSZ = 0x89;
constexpr uint8_t kNSZ = 0x8A;

// Bank and invocation bytes of each units digit of an action.
struct Invoke {
    int bank;
    int region;  // 0 GL, 1 GR, -1 single shift
    uint8_t code[2];
    int length;
};
constexpr Invoke kInvoke[9] = {
    {0, 0, {0x0F, 0}, 1},     // LS0
    {1, 0, {0x0E, 0}, 1},     // LS1
    {1, 1, {kESC, 0x7E}, 2},  // LS1R
    {2, 0, {kESC, 0x6E}, 2},  // LS2
    {2, 1, {kESC, 0x7D}, 2},  // LS2R
    {2, -1, {0x19, 0}, 1},    // SS2
    {3, 0, {kESC, 0x6F}, 2},  // LS3
    {3, 1, {kESC, 0x7C}, 2},  // LS3R
    {3, -1, {0x1D, 0}, 1},    // SS3
};

bool isGraphicByte(int32_t b) { return b >= 0x21 && b <= 0x7E; }

// JIS X 0208 code of a kana of the hiragana (0x30) or katakana set; 0 when
// the kana code is missing from its table.
int32_t kanaKanjiCode(int32_t cType, int32_t code) {
    int32_t uc = cType == CODE_HIRAGANA ? hiragana1Conv(code, true) : katakana1Conv(code, true);
    return uc ? jis12Conv(uc, false) : 0;
}

struct AribWriter {
    uint8_t* dbuf;
    size_t maxbufsize;
    const BankSet* plan;
    size_t dst = 0;
    size_t run = 0;
    int32_t prevClass = 0;
    ConvStatus st{};

    AribWriter(uint8_t* d, size_t m, const BankSet* p) : dbuf(d), maxbufsize(m), plan(p) {
        initConvStatus(&st);
        prevClass = st.bank[st.region[0]];
    }

    void put(uint8_t b) { writeBuf(dbuf, maxbufsize, dst++, b); }

    void size(bool normal) {
        if (st.bNormalSize == normal) return;
        put(normal ? kNSZ : kMSZ);
        st.bNormalSize = normal;
    }

    // The action of the run this character belongs to. The run counter
    // opens a run on every class change, and so does this; the last run
    // is never left, whatever the input.
    BankSet action(int32_t cType) {
        if (cType != prevClass) {
            prevClass = cType;
            if (plan[run + 1] != BANK_PLAN_END) ++run;
        }
        return plan[run];
    }

    void designate(int bank, int32_t set, bool twoByte) {
        if (st.bank[bank] == set) return;
        put(kESC);
        if (twoByte) {
            put(0x24);
            if (bank != 0) put(static_cast<uint8_t>(0x28 + bank));
        } else {
            put(static_cast<uint8_t>(0x28 + bank));
        }
        put(static_cast<uint8_t>(set));
        st.bank[bank] = set;
    }

    void writeChar(int units, int32_t set, int32_t code) {
        const bool twoByte = isTwoByteGSET(static_cast<uint8_t>(set));
        if (twoByte ? !(isGraphicByte(code >> 8) && isGraphicByte(code & 0xFF)) : !isGraphicByte(code)) return;
        const Invoke& inv = kInvoke[units];
        designate(inv.bank, set, twoByte);
        if (inv.region < 0 || st.region[inv.region] != inv.bank) {
            for (int i = 0; i < inv.length; ++i) put(inv.code[i]);
            if (inv.region >= 0) st.region[inv.region] = inv.bank;
        }
        const uint8_t high = inv.region == 1 ? 0x80 : 0x00;
        if (twoByte) put(static_cast<uint8_t>((code >> 8) | high));
        put(static_cast<uint8_t>((code & 0xFF) | high));
    }

    void graphic(int32_t cType, int32_t code) {
        const BankSet a = action(cType);
        const int tens = a / 10, units = a % 10;
        if (units > 8) return;
        switch (cType) {
        case CODE_HIRAGANA:
        case CODE_KATAKANA:
        case CLASS_KANA_COMMON:
            if (tens == 0 && cType != CLASS_KANA_COMMON) writeChar(units, cType, code);
            else if (tens == 1) writeChar(units, CODE_JIS_KANJI_PLANE_1, kanaKanjiCode(cType, code));
            else if (tens == 2) writeChar(units, CODE_HIRAGANA, code);
            else if (tens == 3) writeChar(units, CODE_KATAKANA, code);
            return;
        default:
            if (tens == 0) writeChar(units, cType, code);
            return;
        }
    }

    // Tab, line end, space and DEL; other controls write nothing.
    void control(int32_t c) {
        switch (c) {
        case 0x09: put(0x09); return;
        case 0x0A: put(0x0D); return;
        case 0x20: put(0x20); return;
        case 0x7F: put(0x7F); return;
        default: return;
        }
    }

    size_t finish() const {
        if (dbuf && dst < maxbufsize) dbuf[dst] = 0;
        return std::min(dst, maxbufsize);
    }
};

size_t emptyResult(uint8_t* dbuf, size_t maxbufsize) {
    if (dbuf && maxbufsize > 0) dbuf[0] = 0;
    return 0;
}

bool isOneByteClass(int32_t cType) { return cType == CODE_JIS_X0201_KATAKANA || cType == CODE_ALPHANUMERIC; }

// Plans the banks for the whole text, then lets `write` put its
// characters through the writer; an empty text or one without a plan
// gives an empty result.
template <class Unit, class Write>
size_t convWithPlan(uint8_t* dbuf, size_t maxbufsize, const Unit* sbuf, size_t total_length,
                    BankSet* (*checkMojiSequence)(const Unit*, size_t, const ConvStatus*, size_t*), Write write) {
    if (!sbuf || total_length == 0) return emptyResult(dbuf, maxbufsize);
    ConvStatus status;
    initConvStatus(&status);
    BankSet* plan = checkMojiSequence(sbuf, total_length, &status, nullptr);
    if (!plan) return emptyResult(dbuf, maxbufsize);
    AribWriter w(dbuf, maxbufsize, plan);
    write(w);
    std::free(plan);
    return w.finish();
}

template <class Unit>
size_t convFromText(uint8_t* dbuf, size_t maxbufsize, const Unit* sbuf, size_t total_length, bool bCharSize,
                    BankSet* (*checkMojiSequence)(const Unit*, size_t, const ConvStatus*, size_t*),
                    int32_t (*classOfChar)(const Unit*, size_t, int32_t*, size_t*)) {
    return convWithPlan(dbuf, maxbufsize, sbuf, total_length, checkMojiSequence, [&](AribWriter& w) {
        for (size_t pos = 0; pos < total_length;) {
            int32_t code = 0;
            size_t len = 1;
            const int32_t cType = classOfChar(sbuf + pos, total_length - pos, &code, &len);
            pos += std::max<size_t>(len, 1);
            if (cType == CLASS_CONTROL) {
                if (code == 0x20 && bCharSize) w.size(false);
                w.control(code);
            } else if (cType != CLASS_NOT_CODABLE) {
                if (bCharSize) w.size(!isOneByteClass(cType));
                w.graphic(cType, code);
            }
        }
    });
}

}  // namespace

void writeBuf(uint8_t* dbuf, size_t maxbufsize, size_t dst, uint8_t code) {
    if (dbuf && dst < maxbufsize) dbuf[dst] = code;
}

size_t conv_from_unicode(uint8_t* dbuf, size_t maxbufsize, const char16_t* sbuf, size_t total_length,
                         bool bCharSize) {
    return convFromText(dbuf, maxbufsize, sbuf, total_length, bCharSize, checkMojiSequenceUTF16, classOfCharUTF16);
}

size_t conv_from_unicode(uint8_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length,
                         bool bCharSize) {
    return convFromText(dbuf, maxbufsize, sbuf, total_length, bCharSize, checkMojiSequenceUTF8, classOfCharUTF8);
}

size_t conv_from_U32T(uint8_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length) {
    return convWithPlan(dbuf, maxbufsize, sbuf, total_length, checkMojiSequenceU32T, [&](AribWriter& w) {
        for (size_t i = 0; i < total_length; ++i) {
            int32_t code = 0;
            if (classOfCharU32T(sbuf[i], &code) == U32T_UNKNOWN_CLASS) {
                w.size(false);
                continue;
            }
            const int32_t set = static_cast<int32_t>((sbuf[i] & U32T_SET_MASK) >> 16);
            if (!isCodeOfSet(set, code)) continue;
            const bool normal = (sbuf[i] & U32T_NORMAL_SIZE) != 0;
            if (set == CODE_CONTROL) {
                if (code == 0x20) w.size(normal);
                w.control(code == 0x0D ? 0x0A : code);
            } else {
                w.size(normal);
                w.graphic(set, code);
            }
        }
    });
}
