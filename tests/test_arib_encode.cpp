// Encoding text into ARIB 8-unit code: classes and runs, the cheapest bank
// plan and its tie-breaks, round trips through the decoder, and bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bankPlan.h"
#include "characterClasses.h"
#include "convFromUnicode.h"
#include "convToUnicode.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Plan = std::vector<int>;
constexpr size_t kRoom = 1 << 20;

std::string utf8(const std::u16string& s) {
    std::vector<uint8_t> out(4 * s.size() + 1);
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        int32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        n += writeUTF8Buf(out.data(), out.size(), n, cp, false);
    }
    return std::string(out.begin(), out.begin() + static_cast<long>(n));
}

// Inputs are copied to buffers of their exact size, so that a read past
// the end is caught by the sanitizer build.
Bytes encode(const std::u16string& s, bool bCharSize) {
    std::vector<char16_t> in(s.begin(), s.end());
    Bytes out(kRoom);
    size_t n = conv_from_unicode(out.data(), out.size(), in.data(), in.size(), bCharSize);
    return Bytes(out.begin(), out.begin() + static_cast<long>(n));
}

Bytes encode(const std::string& s, bool bCharSize) {
    Bytes in(s.begin(), s.end());
    Bytes out(kRoom);
    size_t n = conv_from_unicode(out.data(), out.size(), in.data(), in.size(), bCharSize);
    return Bytes(out.begin(), out.begin() + static_cast<long>(n));
}

Bytes encode(const std::vector<uint32_t>& units) {
    Bytes out(kRoom);
    size_t n = conv_from_U32T(out.data(), out.size(), units.data(), units.size());
    return Bytes(out.begin(), out.begin() + static_cast<long>(n));
}

std::u16string decode(const Bytes& b, bool bCharSize) {
    std::vector<char16_t> out(4 * b.size() + 16);
    size_t n = conv_to_unicode(out.data(), out.size(), b.data(), b.size(), bCharSize, false);
    return std::u16string(out.data(), n);
}

std::vector<uint32_t> toUnits(const Bytes& b) {
    std::vector<uint32_t> out(2 * b.size() + 16);
    size_t n = conv_to_U32T(out.data(), out.size(), b.data(), b.size());
    out.resize(n);
    return out;
}

Plan planOf(const std::u16string& s, size_t* cost = nullptr) {
    ConvStatus st;
    initConvStatus(&st);
    BankSet* p = checkMojiSequenceUTF16(s.data(), s.size(), &st, cost);
    Plan plan;
    for (size_t i = 0; p; ++i) {
        plan.push_back(p[i]);
        if (p[i] == BANK_PLAN_END) break;
    }
    std::free(p);
    return plan;
}

const uint8_t ESC = 0x1B;

struct Example {
    const char* name;
    std::u16string text;
    bool bCharSize;
    Bytes bytes;
    Plan plan;  // empty: not checked
};

// Costs and tie-breaks: on equal cost the next run's groups in order, then
// banks G0-G3, then GL, GR, single shift.
const Example kExamples[] = {
    {"empty", u"", false, {}, {0, 255}},
    {"kanji need no escape", u"漢字", false, {0x34, 0x41, 0x3B, 0x7A}, {0, 255}},
    {"letter among kanji: LS1 before LS1R", u"漢A字", false, {0x34, 0x41, 0x0E, 0x41, 0x0F, 0x3B, 0x7A}, {0, 1, 0, 255}},
    {"size controls", u"A漢", true, {0x89, 0x0E, 0x41, 0x8A, 0x0F, 0x34, 0x41}, {0, 1, 0, 255}},
    {"hiragana through GR", u"漢あ", false, {0x34, 0x41, 0xA2}, {0, 4, 255}},
    {"katakana by SS3 before the kanji set", u"漢ア字", false, {0x34, 0x41, 0x1D, 0x22, 0x3B, 0x7A}, {0, 8, 0, 255}},
    {"shared kana in the hiragana set", u"漢ー字", false, {0x34, 0x41, 0xF9, 0x3B, 0x7A}, {0, 24, 0, 255}},
    {"hiragana alone", u"あい", false, {0xA2, 0xA4}, {0, 4, 255}},
    {"half-width katakana into G0", u"ｱ", false, {ESC, 0x28, 0x49, 0x31}, {0, 0, 255}},
    {"CR LF gives one CR", u"\r\n", false, {0x0D}, {0, 255}},
    {"tab and DEL", u"\t\x7f", false, {0x09, 0x7F}, {}},
    {"space in medium size", u"漢 字", true, {0x34, 0x41, 0x89, 0x20, 0x8A, 0x3B, 0x7A}, {}},
    {"lone high surrogate dropped", u"\xD800" u"A", false, {0x0E, 0x41}, {0, 1, 255}},
    {"lone low surrogate dropped", u"\xDC00", false, {}, {0, 255}},
    {"high surrogate at the end", u"漢\xD800", false, {0x34, 0x41}, {}},
    {"ideographic space is kanji", u"\x3000", false, {0x21, 0x21}, {}},
    {"yen sign is alphanumeric", u"\xA5", false, {0x0E, 0x5C}, {}},
    {"postal mark in the kanji set", u"〒", false, {0x22, 0x29}, {0, 255}},
    {"date in the kanji set", u"2024年4月5日", false,
     {ESC, 0x7E, 0xB2, 0xB0, 0xB2, 0xB4, 0x47, 0x2F, 0xB4, 0x37, 0x6E, 0xB5, 0x46, 0x7C}, {}},
    {"yen in the kanji set", u"5円", false, {0x0E, 0x35, 0x0F, 0x31, 0x5F}, {}},
    {"symbol text", u"[字]", false, {ESC, 0x24, 0x3B, 0x7A, 0x56}, {0, 0, 255}},
    {"row-cell text", u"[#89#01]", false, {ESC, 0x24, 0x3B, 0x79, 0x21}, {}},
    {"row 00 is plain text", u"[#00#01]", false, {0x0E, '[', '#', '0', '0', '#', '0', '1', ']'}, {}},
    {"cell 95 is plain text", u"[#01#95]", false, {0x0E, '[', '#', '0', '1', '#', '9', '5', ']'}, {}},
    {"cut row-cell text", u"[#12#34", false, {0x0E, '[', '#', '1', '2', '#', '3', '4'}, {}},
    {"variation pair", u"\x845B\xDB40\xDD00", false, {0x33, 0x6B}, {}},
    {"combining pair", u"\x304B\x309A", false, {0x24, 0x77}, {}},
};

TEST(AribEncode, WorkedExamplesByteForByte) {
    for (const Example& e : kExamples) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(encode(e.text, e.bCharSize), e.bytes);
        EXPECT_EQ(encode(utf8(e.text), e.bCharSize), e.bytes);
        if (!e.plan.empty()) {
            EXPECT_EQ(planOf(e.text), e.plan);
        }
    }
}

struct ClassCase {
    std::u16string text;
    int32_t cType;
    int32_t code;
    size_t len;
};

TEST(AribEncode, CharacterClasses) {
    const ClassCase cases[] = {
        {u"\xA5", 0x4A, 0x5C, 1},          {u"\\", 0x4A, 0x5C, 1},
        {u"[#12#34]", 0x3B, 0x2C42, 8},    {u"[#12#3", 0x4A, 0x5B, 1},
        {u"[#00#34]", 0x4A, 0x5B, 1},      {u"[字]x", 0x3B, 0x7A56, 3},
        {u"[ほか]", 0x3B, 0x7A74, 4},      {u"\x6ADB\xDB40\xDD01", 0x39, 0x367B, 3},
        {u"\x3000", 0x39, 0x2121, 1},      {u"\xD800" u"A", 256, 0, 1},
        {u"\xDC00", 256, 0, 1},            {u"あ", 0x30, 0x22, 1},
        {u"ア", 0x31, 0x22, 1},            {u"ー", 258, 0x79, 1},
        {u"ｱ", 0x49, 0x31, 1},             {u"\xD840\xDD58", 0x3B, 0x7522, 2},
        {u"\n", 257, 0x0A, 1},             {u" ", 257, 0x20, 1},
        {u"〒", 0x39, 0x2229, 1},          {u"年", 0x39, 0x472F, 1},
    };
    for (const ClassCase& c : cases) {
        SCOPED_TRACE(utf8(c.text));
        std::vector<char16_t> in(c.text.begin(), c.text.end());
        int32_t code = -1;
        size_t len = 0;
        EXPECT_EQ(classOfCharUTF16(in.data(), in.size(), &code, &len), c.cType);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(len, c.len);
        std::string u8 = utf8(c.text);
        Bytes in8(u8.begin(), u8.end());
        if (c.cType == CLASS_NOT_CODABLE) continue;  // a lone surrogate has no UTF-8 form
        EXPECT_EQ(classOfCharUTF8(in8.data(), in8.size(), &code, &len), c.cType);
        EXPECT_EQ(code, c.code);
    }
}

struct RunCase {
    std::u16string text;
    std::vector<std::pair<int, size_t>> runs;  // without the closing entry
    int32_t numCType;
};

std::u16string planeTwo() {
    char16_t s[2];
    size_t n = writeUTF16Buf(s, 2, 0, jis4Table[0][1], false);
    return std::u16string(s, n);
}

TEST(AribEncode, RunCounting) {
    const RunCase cases[] = {
        {u"", {{0x39, 0}}, 4},
        {u"漢字", {{0x39, 2}}, 4},
        {u"A漢", {{0x39, 0}, {0x4A, 1}, {0x39, 1}}, 4},
        {u"漢 \r\nあ\xD800い", {{0x39, 1}, {0x30, 2}}, 4},
        {u"ｱ[字]", {{0x39, 0}, {0x49, 1}, {0x3B, 1}}, 6},
        {planeTwo(), {{0x39, 0}, {0x3A, 1}}, 7},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(utf8(c.text));
        ConvStatus st;
        initConvStatus(&st);
        std::vector<uint16_t> cls(c.text.size() + 2);
        std::vector<size_t> num(c.text.size() + 2);
        size_t len = 0;
        int32_t numCType = 4;
        countMojiSequenceUTF16(c.text.data(), c.text.size(), &st, cls.data(), num.data(), &len, &numCType);
        ASSERT_EQ(len, c.runs.size() + 1);
        for (size_t i = 0; i < c.runs.size(); ++i) {
            EXPECT_EQ(cls[i], c.runs[i].first) << i;
            EXPECT_EQ(num[i], c.runs[i].second) << i;
        }
        EXPECT_EQ(cls[len - 1], 0);
        EXPECT_EQ(numCType, c.numCType);
    }
}

// Units whose code their set cannot write are dropped whole, not written
// as controls or zero bytes; sizes follow each unit's size bit.
TEST(AribEncode, UnitsFollowTheirSizeAndDropWhatTheirSetCannotHold) {
    const uint32_t N = U32T_NORMAL_SIZE;
    struct {
        const char* name;
        std::vector<uint32_t> units;
        Bytes bytes;
    } cases[] = {
        {"kanji", {N | 0x393441, N | 0x393B7A}, {0x34, 0x41, 0x3B, 0x7A}},
        {"medium letter", {0x4A0041}, {0x89, 0x0E, 0x41}},
        {"unknown set turns medium", {N | 0x500041}, {0x89}},
        {"line end", {N | 0x101000D, 0x101000A}, {0x0D, 0x0D}},
        {"kana missing from its table", {N | 0x393441, N | 0x300074, N | 0x393B7A}, {0x34, 0x41, 0x3B, 0x7A}},
        {"kanji code outside the set", {N | 0x390041, N | 0x397F21, N | 0x393441}, {0x34, 0x41}},
        {"letter code outside the set", {N | 0x4A0100, N | 0x4A0020}, {}},
        {"half-width code outside the set", {N | 0x490060}, {}},
        {"katakana written by SS3", {N | 0x393441, N | 0x310022, N | 0x393B7A}, {0x34, 0x41, 0x1D, 0x22, 0x3B, 0x7A}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encode(c.units), c.bytes);
    }
}

TEST(AribEncode, InvalidAndCutUtf8IsDroppedWithoutReadingPastTheEnd) {
    const struct {
        std::string text;
        Bytes bytes;
    } cases[] = {
        {"A\xE6\xBC", {0x0E, 0x41}},            // cut three-byte sequence
        {"A\xF0\xA0", {0x0E, 0x41}},            // cut four-byte sequence
        {"\xE6\xBC\xA2", {0x34, 0x41}},         // the same, whole
        {"\x80" "A", {0x0E, 0x41}},             // stray continuation byte
        {"\xFF\xFE\xF8\xFC" "A", {0x0E, 0x41}}, // impossible lead bytes
        {"\xE6" "A\xBC", {0x0E, 0x41}},         // continuation missing
        {"[#12#3", {0x0E, '[', '#', '1', '2', '#', '3'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(encode(c.text, false), c.bytes);
    }
}

// Output never passes maxbufsize; the closing 0 only when there is room;
// counting alone gives the same numbers.
TEST(AribEncode, BufferSizes) {
    const std::u16string text = u"漢A字[字]あ ｱ\r\n";
    const std::string text8 = utf8(text);
    const std::vector<uint32_t> units = toUnits(encode(text, true));
    using Conv = std::function<size_t(uint8_t*, size_t)>;
    const struct {
        const char* name;
        Conv conv;
    } convs[] = {
        {"utf16", [&](uint8_t* d, size_t m) { return conv_from_unicode(d, m, text.data(), text.size(), true); }},
        {"utf8", [&](uint8_t* d, size_t m) {
             return conv_from_unicode(d, m, reinterpret_cast<const uint8_t*>(text8.data()), text8.size(), true);
         }},
        {"u32t", [&](uint8_t* d, size_t m) { return conv_from_U32T(d, m, units.data(), units.size()); }},
    };
    for (const auto& c : convs) {
        SCOPED_TRACE(c.name);
        Bytes full(kRoom);
        const size_t n = c.conv(full.data(), full.size());
        ASSERT_GT(n, 3u);
        EXPECT_EQ(full[n], 0);
        for (size_t size : {size_t(0), size_t(1), n - 1, n, n + 1}) {
            SCOPED_TRACE(size);
            Bytes out(size + 8, 0xEE);
            const size_t r = c.conv(out.data(), size);
            EXPECT_EQ(r, std::min(n, size));
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(r), full.begin()));
            for (size_t i = r + (size > n ? 1 : 0); i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << i;
            if (size > n) {
                EXPECT_EQ(out[n], 0);
            }
            EXPECT_EQ(c.conv(nullptr, size), std::min(n, size));
        }
    }
}

TEST(AribEncode, EmptyInputStoresOnlyTheClosingZero) {
    Bytes out(4, 0xEE);
    EXPECT_EQ(conv_from_unicode(out.data(), out.size(), static_cast<const char16_t*>(nullptr), 0, true), 0u);
    EXPECT_EQ(out, (Bytes{0, 0xEE, 0xEE, 0xEE}));
    out.assign(4, 0xEE);
    EXPECT_EQ(conv_from_U32T(out.data(), out.size(), nullptr, 5), 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(conv_from_unicode(out.data(), 0, static_cast<const uint8_t*>(nullptr), 0, false), 0u);
}

// Exhaustive search over every action of every run, on a coder that tracks
// its banks and regions, under the same rules as the plan: banks hold
// different sets, GL and GR different banks, a single shift only for a bank
// invoked nowhere, and a run written in the set of the run before it stays
// as that run was written. Its minimum must be the plan's cost.
struct Coder {
    int bank[4] = {0x39, 0x4A, 0x30, 0x31};
    int gl = 0, gr = 2;
    int set = 0x39, units = 0;  // how the last run was written
};

void exhaust(const std::vector<std::pair<int, size_t>>& runs, size_t i, const Coder& c, size_t cost, size_t& best) {
    if (cost >= best) return;
    if (i == runs.size()) {
        best = cost;
        return;
    }
    const int cls = runs[i].first;
    const std::vector<int> sets = cls == 0x30 || cls == 0x31 ? std::vector<int>{cls, 0x39}
                                  : cls == 258              ? std::vector<int>{0x30, 0x39, 0x31}
                                                            : std::vector<int>{cls};
    static const int kBank[9] = {0, 1, 1, 2, 2, 2, 3, 3, 3};
    static const int kInv[9] = {0, 0, 1, 0, 1, 2, 0, 1, 2};  // GL, GR, single shift
    for (int set : sets) {
        const bool twoByte = set == 0x39 || set == 0x3A || set == 0x3B;
        for (int units = 0; units < 9; ++units) {
            if (set == c.set && units != c.units) continue;
            Coder n = c;
            const int y = kBank[units];
            size_t add = 0;
            if (n.bank[y] != set) {
                bool elsewhere = false;
                for (int z = 0; z < 4; ++z) elsewhere |= n.bank[z] == set;
                if (elsewhere) continue;
                add += y == 0 ? 3 : (twoByte ? 4 : 3);
                n.bank[y] = set;
            }
            if (kInv[units] == 0) {
                if (n.gr == y) continue;
                if (n.gl != y) add += y <= 1 ? 1 : 2;
                n.gl = y;
            } else if (kInv[units] == 1) {
                if (n.gl == y) continue;
                if (n.gr != y) add += 2;
                n.gr = y;
            } else if (n.gl == y || n.gr == y) {
                continue;
            }
            add += runs[i].second * ((twoByte ? 2 : 1) + (kInv[units] == 2 ? 1 : 0));
            n.set = set;
            n.units = units;
            exhaust(runs, i + 1, n, cost + add, best);
        }
    }
}

TEST(AribEncode, PlanCostIsTheLeastOfAllPlans) {
    const std::pair<int, std::u16string> kinds[] = {
        {0x39, u"漢"}, {0x4A, u"A"}, {0x30, u"あ"}, {0x31, u"ア"}, {258, u"ー"},
        {0x3B, u"\x3402"}, {0x49, u"ｱ"}, {0x3A, planeTwo()},
    };
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const size_t kindsUsed = 4 + seed % 5;
        std::u16string text = u"漢";
        std::vector<std::pair<int, size_t>> runs;
        int last = 0x39;
        for (size_t r = 1 + rng() % 4; r > 0; --r) {
            int k;
            do k = static_cast<int>(rng() % kindsUsed); while (kinds[k].first == last);
            last = kinds[k].first;
            const size_t count = 1 + rng() % 3;
            for (size_t j = 0; j < count; ++j) text += kinds[k].second;
            runs.push_back({last, count});
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + utf8(text));
        size_t cost = 0;
        ASSERT_FALSE(planOf(text, &cost).empty());
        size_t best = static_cast<size_t>(-1);
        exhaust(runs, 0, Coder{}, 2, best);
        EXPECT_EQ(cost, best);
    }
}

// Canonical texts of each encodable class: what the decoder makes of a code
// of that set, so that a round trip can give them back unchanged.
std::vector<std::u16string> poolOf(int set, const std::vector<int32_t>& codes) {
    std::vector<std::u16string> pool;
    for (int32_t code : codes) {
        Bytes b = code > 0xFF ? Bytes{ESC, 0x24, static_cast<uint8_t>(set), static_cast<uint8_t>(code >> 8),
                                      static_cast<uint8_t>(code & 0xFF)}
                              : Bytes{ESC, 0x28, static_cast<uint8_t>(set), static_cast<uint8_t>(code)};
        std::u16string s = decode(b, false);
        if (!s.empty()) pool.push_back(s);
    }
    return pool;
}

std::vector<int32_t> codesOf(const int32_t (*table)[2], size_t tablesize) {
    std::vector<int32_t> codes;
    for (size_t i = 0; i < tablesize / sizeof(table[0]); ++i) codes.push_back(table[i][0]);
    return codes;
}

std::vector<std::vector<std::u16string>> classPools() {
    std::vector<int32_t> ascii, rowCells, brackets;
    for (int32_t c = 0x21; c <= 0x7E; ++c) ascii.push_back(c);
    for (int32_t c = 0x21; c <= 0x7E; ++c) rowCells.push_back(0x7900 | c);  // row 89: no table has it
    for (size_t i = 0; i < KIGOU2TABLEUTF16SIZE / sizeof(kigou2TableUTF16[0]); ++i)
        brackets.push_back(kigou2TableUTF16[i][0]);
    std::vector<int32_t> combining;
    for (size_t i = 0; i < 25; ++i) combining.push_back(jis3CombIvsTable[i][1]);  // not the variation rows
    return {
        poolOf(0x39, codesOf(jis12Table, JIS12TABLESIZE)),
        poolOf(0x39, codesOf(jis3Table, JIS3TABLESIZE)),
        poolOf(0x39, combining),
        poolOf(0x3A, codesOf(jis4Table, JIS4TABLESIZE)),
        poolOf(0x30, codesOf(hiragana1Table, HIRAGANA1TABLESIZE)),
        poolOf(0x31, codesOf(katakana1Table, KATAKANA1TABLESIZE)),
        poolOf(0x31, codesOf(kanaCommon1Table, KANACOMMON1TABLESIZE)),
        poolOf(0x49, codesOf(hankaku1Table, HANKAKU1TABLESIZE)),
        poolOf(0x4A, ascii),
        poolOf(0x3B, codesOf(kigou1Table, KIGOU1TABLESIZE)),
        poolOf(0x3B, codesOf(kigou1InKanjiSetTable, KIGOU1INKANJISETTABLESIZE)),
        poolOf(0x3B, brackets),
        poolOf(0x3B, rowCells),
        {u" ", u"\r\n", u"\t"},
    };
}

size_t controlBytes(const std::u16string& s) {
    size_t n = 0;
    for (char16_t c : s) n += (c == u' ' || c == u'\n' || c == u'\t') ? 1 : 0;
    return n;
}

TEST(AribEncode, RandomTextsComeBackThroughTheDecoder) {
    const std::vector<std::vector<std::u16string>> pools = classPools();
    for (const auto& pool : pools) ASSERT_FALSE(pool.empty());
    for (unsigned seed = 1; seed <= 100; ++seed) {
        std::mt19937 rng(seed);
        std::u16string text;
        const size_t tokens = 1 + rng() % 20;
        const size_t classes = 1 + rng() % pools.size();  // some texts mix few classes, some many
        for (size_t t = 0; t < tokens; ++t) {
            const auto& pool = pools[(seed + rng() % classes) % pools.size()];
            text += pool[rng() % pool.size()];
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + utf8(text));
        size_t cost = 0;
        ASSERT_FALSE(planOf(text, &cost).empty());

        const Bytes plain = encode(text, false);
        EXPECT_EQ(decode(plain, false), text);
        EXPECT_EQ(plain.size(), cost + controlBytes(text));
        EXPECT_EQ(encode(utf8(text), false), plain);

        const Bytes sized = encode(text, true);
        EXPECT_EQ(decode(sized, true), text);
        const std::vector<uint32_t> units = toUnits(sized);
        const Bytes fromUnits = encode(units);
        EXPECT_EQ(toUnits(fromUnits), units);
        EXPECT_EQ(decode(fromUnits, true), text);
    }
}

}  // namespace

// A text that switches sets at every character needs a plan state per run:
// past a bound the conversion gives 0 instead of asking for gigabytes.
TEST(AribEncode, HostileRunCountGivesZeroInsteadOfGigabytes) {
    std::u16string text;
    for (int i = 0; i < 250000; ++i) text += u"漢Aアｱ[字]";
    const std::vector<char16_t> in(text.begin(), text.end());
    const size_t anySize = static_cast<size_t>(-1);
    EXPECT_EQ(0u, conv_from_unicode(nullptr, anySize, in.data(), in.size(), false));
    EXPECT_LT(0u, conv_from_unicode(nullptr, anySize, in.data(), in.size() / 200, false))
        << "a long but ordinary text still converts";
}
