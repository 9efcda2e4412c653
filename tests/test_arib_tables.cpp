// The ARIB character tables: the committed source is what the generator
// makes from glibc iconv today, and decoding whole planes agrees with glibc
// except where ARIB text deliberately differs.
#include <gtest/gtest.h>

#include <iconv.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../tools/aribtables/TableGenerator.h"
#include "TestPaths.h"
#include "characterSets.h"
#include "convToUnicode.h"

namespace {

std::u32string decodeArib(const std::vector<uint8_t>& designation, int code, bool bIVS = false) {
    std::vector<uint8_t> in(designation);
    in.push_back(static_cast<uint8_t>(code >> 8));
    in.push_back(static_cast<uint8_t>(code & 0xFF));
    std::vector<uint8_t> exact(in.begin(), in.end());
    char16_t out[16];
    size_t n = conv_to_unicode(out, 16, exact.data(), exact.size(), false, bIVS);
    std::u32string r;
    for (size_t i = 0; i < n; ++i) {
        char32_t u = out[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
            u = 0x10000 + ((u - 0xD800) << 10) + (out[i + 1] - 0xDC00);
            ++i;
        }
        r += u;
    }
    return r;
}

std::u32string iconvDecode(aribtables::Decoder& d, const std::string& bytes) {
    std::u32string r;
    for (int32_t cp : d.decode(bytes)) r += static_cast<char32_t>(cp);
    return r;
}

TEST(AribTables, CommittedSourceIsWhatTheGeneratorWrites) {
    aribtables::Tables tables;
    std::string err;
    std::string root = testsupport::sourceDir();
    ASSERT_TRUE(aribtables::buildTables(root + "/tools/aribtables/arib-additional-symbols.tsv", tables, err)) << err;
    std::string committed = testsupport::readFile(root + "/tsinfo/characterSetsData.cpp");
    ASSERT_FALSE(committed.empty());
    // Not EXPECT_EQ on the strings: a failure would print 200 KB.
    EXPECT_TRUE(committed == aribtables::renderSource(tables))
        << "tsinfo/characterSetsData.cpp is stale: build the aribtables_generate target";
}

TEST(AribTables, SizesAndCounts) {
    EXPECT_EQ(JIS12TABLESIZE / 8, 6879u);
    EXPECT_EQ(JIS12WINTABLESIZE / 8, 7u);
    EXPECT_EQ(JIS3TABLESIZE / 8, 1893u);
    EXPECT_EQ(JIS4TABLESIZE / 8, 2436u);
    EXPECT_EQ(JIS3COMBIVSTABLESIZE / 16, 38u);
    EXPECT_EQ(KIGOU1TABLESIZE / 8, 448u);
    EXPECT_EQ(KIGOU1INKANJISETTABLESIZE / 8, 5u);
    EXPECT_EQ(KIGOU2TABLEUTF16SIZE / 48, 36u);
    EXPECT_EQ(KIGOU2TABLEUTF8SIZE / 24, 36u);
    EXPECT_EQ(HIRAGANA1TABLESIZE / 8, 91u);
    EXPECT_EQ(KATAKANA1TABLESIZE / 8, 94u);
    EXPECT_EQ(HANKAKU1TABLESIZE / 8, 63u);
    EXPECT_EQ(KANACOMMON1TABLESIZE / 8, 6u);
    EXPECT_EQ(CHARSIZE1TABLESIZE / 8, 94u);
    EXPECT_EQ(CHARSIZE2TABLESIZE / 8, 63u);

    // Cells of set 0x3B per row that the encoder may write; 〒 of row 91 and
    // 年 月 日 円 of row 92 are written in the kanji set.
    std::map<int, int> perRow;
    for (size_t i = 0; i < KIGOU1TABLESIZE / 8; ++i) ++perRow[kigou1Table[i][0] >> 8];
    EXPECT_EQ(perRow[0x75], 91);
    EXPECT_EQ(perRow[0x76], 42);
    EXPECT_EQ(perRow[0x7A], 38);
    EXPECT_EQ(perRow[0x7B], 47);
    EXPECT_EQ(perRow[0x7C], 50);
    EXPECT_EQ(perRow[0x7D], 87);
    EXPECT_EQ(perRow[0x7E], 93);
    // And each row keeps to its range of cells.
    const std::map<int, std::pair<int, int>> ranges = {
        {0x75, {0x7521, 0x757E}}, {0x76, {0x7621, 0x764B}}, {0x7A, {0x7A21, 0x7A61}}, {0x7B, {0x7B21, 0x7B51}},
        {0x7C, {0x7C21, 0x7C7B}}, {0x7D, {0x7D21, 0x7D7B}}, {0x7E, {0x7E21, 0x7E7D}},
    };
    std::map<int, std::pair<int, int>> seen;
    for (size_t i = 0; i < KIGOU1TABLESIZE / 8; ++i) {
        const int code = kigou1Table[i][0];
        auto it = seen.find(code >> 8);
        if (it == seen.end()) seen[code >> 8] = {code, code};
        else it->second = {std::min(it->second.first, code), std::max(it->second.second, code)};
    }
    EXPECT_EQ(seen, ranges);

    // Every table is sorted by code, as bsearch needs.
    auto sorted = [](const int32_t (*t)[2], size_t bytes) {
        for (size_t i = 1; i < bytes / 8; ++i)
            if (t[i - 1][0] >= t[i][0]) return false;
        return true;
    };
    EXPECT_TRUE(sorted(jis12Table, JIS12TABLESIZE));
    EXPECT_TRUE(sorted(jis3Table, JIS3TABLESIZE));
    EXPECT_TRUE(sorted(jis4Table, JIS4TABLESIZE));
    EXPECT_TRUE(sorted(kigou1Table, KIGOU1TABLESIZE));
    EXPECT_TRUE(sorted(charSize1Table, CHARSIZE1TABLESIZE));
}

TEST(AribTables, LookupsBothWays) {
    EXPECT_EQ(jis12Conv(0x3021, true), 0x4E9C);
    EXPECT_EQ(jis12Conv(0x4E9C, false), 0x3021);
    // The Windows forms win both ways; the JIS forms still map back.
    EXPECT_EQ(jis12Conv(0x2141, true), 0xFF5E);
    EXPECT_EQ(jis12Conv(0xFF5E, false), 0x2141);
    EXPECT_EQ(jis12Conv(0x301C, false), 0x2141);
    EXPECT_EQ(jis12Conv(0x213D, true), 0x2015);
    // Behind the Windows form, the table itself holds the em dash.
    EXPECT_EQ(jis12Conv(0x2014, false), 0x213D);
    EXPECT_EQ(jis12Conv(0x2015, false), 0x213D);
    EXPECT_EQ(jis12WinConv(0x2142, true), 0x2225);
    EXPECT_EQ(jis3Conv(0x2256, true), 0xFF5F);
    EXPECT_EQ(jis3Conv(0x2257, true), 0xFF60);
    EXPECT_EQ(kigou1Conv(0x7521, true), 0x3402);
    EXPECT_EQ(kigou1Conv(0x20158, false), 0x7522);
    // Read in set 0x3B, found backward only in the kanji set.
    EXPECT_EQ(kigou1Conv(0x7B28, true), 0x3012);
    EXPECT_EQ(kigou1Conv(0x7C2A, true), 0x5186);
    EXPECT_EQ(kigou1Conv(0x3012, false), 0);
    EXPECT_EQ(jis12Conv(0x3012, false), 0x2229);
    EXPECT_EQ(hiragana1Conv(0x21, true), 0x3041);
    EXPECT_EQ(hiragana1Conv(0x73, true), 0x3093);
    EXPECT_EQ(hiragana1Conv(0x74, true), 0);
    EXPECT_EQ(hiragana1Conv(0x77, true), 0x309D);
    EXPECT_EQ(katakana1Conv(0x76, true), 0x30F6);
    EXPECT_EQ(katakana1Conv(0x30FB, false), 0x7E);
    EXPECT_EQ(hankaku1Conv(0x5F, true), 0xFF9F);
    EXPECT_EQ(kanaCommon1Conv(0x79, true), 0x30FC);
    EXPECT_EQ(kanaCommon1Conv(0x30FB, false), 0x7E);
    EXPECT_EQ(charSize1Conv(0x41, true), 0x2341);
    EXPECT_EQ(charSize1Conv(0x22, true), 0x2149);
    EXPECT_EQ(charSize1Conv(0x5C, true), 0x216F);
    EXPECT_EQ(charSize1Conv(0x7E, true), 0x2131);
    EXPECT_EQ(charSize1Conv(0x2D, true), 0x215D);
    EXPECT_EQ(charSize2Conv(0x31, true), 0x2522);  // ｱ -> ア
    EXPECT_EQ(charSize2Conv(0x5E, true), 0x212B);
    EXPECT_EQ(charSize2Conv(0x5F, true), 0x212C);
    EXPECT_EQ(alphaConv(0x5C, true), 0xA5);
    EXPECT_EQ(alphaConv(0x7E, true), 0x203E);
    EXPECT_EQ(alphaConv(0x20, true), 0);
    EXPECT_EQ(alphaConv(0xA5, false), 0x5C);
    EXPECT_EQ(alphaConv(0x203E, false), 0x7E);
    EXPECT_EQ(alphaConv(0x3042, false), 0);
    // Keys far apart must not overflow the comparison.
    EXPECT_EQ(jis12Conv(INT32_MIN, true), 0);
    EXPECT_EQ(jis12Conv(INT32_MAX, false), 0);
}

// Every cell of the kanji planes against glibc: plane 1 (set 0x39, and the
// kanji set 0x42 which decodes through it) against EUC-JISX0213, plane 2
// against EUC-JISX0213 behind 0x8F.
TEST(AribTables, WholePlanesAgreeWithGlibc) {
    aribtables::Decoder jisx0213("EUC-JISX0213");
    ASSERT_TRUE(jisx0213.ok());

    // Where ARIB text differs from glibc on purpose: the Windows forms.
    const std::map<int, char32_t> allowed = {
        {0x213D, 0x2015}, {0x2141, 0xFF5E}, {0x2142, 0x2225}, {0x215D, 0xFF0D},
        {0x2171, 0xFFE0}, {0x2172, 0xFFE1}, {0x224C, 0xFFE2},
    };
    // The white parentheses are the full-width forms (glibc agrees today).
    EXPECT_EQ(decodeArib({}, 0x2256), U"\uFF5F");
    EXPECT_EQ(decodeArib({}, 0x2257), U"\uFF60");

    struct Plane {
        const char* name;
        std::vector<uint8_t> designation;
        std::string prefix;
    };
    const Plane planes[] = {
        {"0x39", {}, ""},
        {"0x42", {0x1B, 0x24, 0x42}, ""},
        {"0x3A", {0x1B, 0x24, 0x3A}, "\x8F"},
    };
    for (const Plane& plane : planes) {
        size_t decoded = 0;
        std::map<int, char32_t> differences;
        for (int r = 0x21; r <= 0x7E; ++r) {
            for (int c = 0x21; c <= 0x7E; ++c) {
                int code = r << 8 | c;
                std::u32string ours = decodeArib(plane.designation, code);
                std::u32string theirs = iconvDecode(jisx0213, plane.prefix + aribtables::eucBytes(code));
                if (!ours.empty()) ++decoded;
                if (ours != theirs) {
                    ASSERT_EQ(ours.size(), 1u) << plane.name << " " << std::hex << code;
                    differences[code] = ours[0];
                }
            }
        }
        if (plane.prefix.empty()) {
            EXPECT_EQ(differences, allowed) << plane.name;
            EXPECT_EQ(decoded, 6879u + 1893u + 25u) << plane.name;  // 25 base + combining mark
        } else {
            EXPECT_TRUE(differences.empty()) << plane.name;
            EXPECT_EQ(decoded, 2436u);
        }
    }
}

TEST(AribTables, VariationSequencesOnlyWithIvs) {
    EXPECT_EQ(decodeArib({}, 0x3540, false), U"\u7947");
    EXPECT_EQ(decodeArib({}, 0x3540, true), U"\u7947\U000E0100");
    EXPECT_EQ(decodeArib({}, 0x712D, true), U"\u9903\U000E0101");
    EXPECT_EQ(decodeArib({}, 0x2477, false), U"\u304B\u309A");
    EXPECT_EQ(decodeArib({}, 0x2477, true), U"\u304B\u309A");
    EXPECT_EQ(decodeArib({}, 0x2B65, false), U"\u02E9\u02E5");
    const std::vector<uint8_t> symbols = {0x1B, 0x24, 0x3B};
    EXPECT_EQ(decodeArib(symbols, 0x754B, false), U"\u66D9");
    EXPECT_EQ(decodeArib(symbols, 0x754B, true), U"\u66D9\U000E0101");
    EXPECT_EQ(decodeArib(symbols, 0x7636, true), U"\u89D2\U000E0100");
}

}  // namespace
