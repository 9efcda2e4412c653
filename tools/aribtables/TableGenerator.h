// Builds the ARIB character tables from glibc's iconv and the additional-
// symbol list, and renders them as the C++ source tsinfo/characterSetsData.cpp.
//
// Header-only so that the table test can regenerate the source in-process and
// compare it with the committed file. The output depends only on glibc's
// EUC-JP, EUC-JISX0213 and CP932 converters and on the symbol list, so it is
// the same on every run.
#pragma once

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace aribtables {

using Pair = std::pair<int32_t, int32_t>;  // {code, code point}

struct Tables {
    std::vector<Pair> jis12, jis12Win, jis3, jis4, kigou1, kigou1InKanjiSet;
    std::vector<Pair> hiragana1, katakana1, hankaku1, kanaCommon1, charSize1, charSize2;
    std::vector<std::array<int32_t, 4>> combIvs;   // {set, code, first, second}
    std::vector<std::pair<int32_t, std::u32string>> kigou2;  // {code, text}
};

// Counts the tables must come out with; a different glibc that changes them
// is reported instead of silently producing other tables.
constexpr size_t kJis12Count = 6879;
constexpr size_t kJis3Count = 1893;
constexpr size_t kJis4Count = 2436;
constexpr size_t kCombIvsCount = 38;
constexpr size_t kKigou1InKanjiSetCount = 5;  // 〒 年 月 日 円

class Decoder {
public:
    explicit Decoder(const char* from) : cd_(iconv_open("UTF-32LE", from)) {}
    ~Decoder() {
        if (ok()) iconv_close(cd_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Code points of a complete byte sequence; empty when it is not valid.
    std::vector<int32_t> decode(const std::string& bytes) {
        std::vector<int32_t> result;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char out[64];
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char* outp = out;
        size_t outLeft = sizeof out;
        if (iconv(cd_, &in, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
            return result;
        // Flush: a stateful decoder may hold back a base character.
        if (iconv(cd_, nullptr, nullptr, &outp, &outLeft) == static_cast<size_t>(-1)) return result;
        size_t n = static_cast<size_t>(outp - out) / 4;
        for (size_t i = 0; i < n; ++i) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(out) + 4 * i;
            result.push_back(static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24));
        }
        return result;
    }

private:
    iconv_t cd_;
};

inline std::string eucBytes(int code) {
    std::string s;
    s += static_cast<char>((code >> 8) | 0x80);
    s += static_cast<char>((code & 0xFF) | 0x80);
    return s;
}

inline std::string sjisBytes(int code) {
    int r = code >> 8, c = code & 0xFF;
    int s1 = ((r + 1) >> 1) + (r <= 0x5E ? 0x70 : 0xB0);
    int s2 = c + ((r & 1) ? (c >= 0x60 ? 0x20 : 0x1F) : 0x7E);
    std::string s;
    s += static_cast<char>(s1);
    s += static_cast<char>(s2);
    return s;
}

inline int32_t lookup(const std::vector<Pair>& table, int32_t code) {
    auto it = std::lower_bound(table.begin(), table.end(), Pair{code, INT32_MIN});
    return (it != table.end() && it->first == code) ? it->second : 0;
}

inline int32_t reverseLookup(const std::vector<Pair>& table, int32_t cp) {
    for (const Pair& p : table)
        if (p.second == cp) return p.first;
    return 0;
}

inline std::u32string fromUtf8(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (int k = 1; k < n && i + k < s.size(); ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += cp;
        i += n;
    }
    return out;
}

inline std::string toUtf8(const std::u32string& s) {
    std::string out;
    for (char32_t cp : s) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

inline bool fail(std::string& err, const std::string& what) {
    err = what;
    return false;
}

// Reads "0xCODE<TAB>U+XXXX" lines; '#' starts a comment line.
inline bool readSymbols(const std::string& path, std::vector<Pair>& out, std::string& err) {
    std::ifstream in(path);
    if (!in) return fail(err, "cannot open " + path);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        unsigned code = 0, cp = 0;
        if (std::sscanf(line.c_str(), "0x%x\tU+%x", &code, &cp) != 2 || code < 0x2121 || code > 0x7E7E ||
            cp == 0 || cp > 0x10FFFF)
            return fail(err, path + ":" + std::to_string(lineNo) + ": bad line");
        out.emplace_back(static_cast<int32_t>(code), static_cast<int32_t>(cp));
    }
    std::sort(out.begin(), out.end());
    for (size_t i = 1; i < out.size(); ++i)
        if (out[i].first == out[i - 1].first) return fail(err, path + ": code listed twice");
    return true;
}

inline bool buildTables(const std::string& symbolsPath, Tables& t, std::string& err) {
    Decoder eucjp("EUC-JP"), jisx0213("EUC-JISX0213"), cp932("CP932");
    if (!eucjp.ok() || !jisx0213.ok() || !cp932.ok())
        return fail(err, "glibc iconv lacks EUC-JP, EUC-JISX0213 or CP932");

    // Plane 1: EUC-JP says which codes are JIS X 0208; EUC-JISX0213 gives
    // every value. Codes outside JIS X 0208 that decode to two code points
    // (base + combining mark) go to the combining table.
    for (int r = 0x21; r <= 0x7E; ++r) {
        for (int c = 0x21; c <= 0x7E; ++c) {
            int code = r << 8 | c;
            std::vector<int32_t> v = jisx0213.decode(eucBytes(code));
            bool in0208 = eucjp.decode(eucBytes(code)).size() == 1;
            if (in0208) {
                if (v.size() != 1) return fail(err, "JIS X 0208 code without a single EUC-JISX0213 value");
                int32_t cp = code == 0x213D ? 0x2014 : v[0];
                t.jis12.emplace_back(code, cp);
            } else if (v.size() == 1) {
                int32_t cp = v[0];
                // ARIB's white parentheses: the full-width forms.
                if (code == 0x2256) cp = 0xFF5F;
                if (code == 0x2257) cp = 0xFF60;
                t.jis3.emplace_back(code, cp);
            } else if (v.size() == 2) {
                t.combIvs.push_back({0x39, code, v[0], v[1]});
            }
        }
    }
    // Plane 2: behind the 0x8F prefix.
    for (int r = 0x21; r <= 0x7E; ++r) {
        for (int c = 0x21; c <= 0x7E; ++c) {
            int code = r << 8 | c;
            std::vector<int32_t> v = jisx0213.decode("\x8F" + eucBytes(code));
            if (v.size() == 1) t.jis4.emplace_back(code, v[0]);
            else if (!v.empty()) return fail(err, "plane-2 code with more than one code point");
        }
    }

    // The Windows forms of seven JIS X 0208 characters, as CP932 decodes them.
    static const int kWinCodes[] = {0x213D, 0x2141, 0x2142, 0x215D, 0x2171, 0x2172, 0x224C};
    static const int32_t kWinExpected[] = {0x2015, 0xFF5E, 0x2225, 0xFF0D, 0xFFE0, 0xFFE1, 0xFFE2};
    for (size_t i = 0; i < 7; ++i) {
        std::vector<int32_t> v = cp932.decode(sjisBytes(kWinCodes[i]));
        if (v.size() != 1 || v[0] != kWinExpected[i]) return fail(err, "CP932 gives an unexpected Windows form");
        t.jis12Win.emplace_back(kWinCodes[i], v[0]);
    }

    // Code points whose ARIB glyph is a variation of the JIS character: the
    // base character followed by an ideographic variation selector.
    static const int32_t kIvs[][4] = {
        {0x39, 0x336B, 0x845B, 0xE0100}, {0x39, 0x3540, 0x7947, 0xE0100}, {0x39, 0x367B, 0x6ADB, 0xE0101},
        {0x39, 0x3B2A, 0x9BD6, 0xE0100}, {0x39, 0x3F2A, 0x8755, 0xE0100}, {0x39, 0x4454, 0x8FBB, 0xE0100},
        {0x39, 0x4522, 0x912D, 0xE0100}, {0x39, 0x4B29, 0x84EC, 0xE0100}, {0x39, 0x712D, 0x9903, 0xE0101},
        {0x3B, 0x754B, 0x66D9, 0xE0101}, {0x3B, 0x754E, 0x6852, 0xE0100}, {0x3B, 0x757C, 0x79AE, 0xE0101},
        {0x3B, 0x7636, 0x89D2, 0xE0100},
    };
    for (const auto& row : kIvs) {
        if (row[0] == 0x39 && lookup(t.jis12, row[1]) != row[2])
            return fail(err, "variation row whose base is not the JIS X 0208 character");
        t.combIvs.push_back({row[0], row[1], row[2], row[3]});
    }
    std::sort(t.combIvs.begin(), t.combIvs.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a[1], a[0]) < std::make_pair(b[1], b[0]);
    });

    if (t.jis12.size() != kJis12Count || t.jis3.size() != kJis3Count || t.jis4.size() != kJis4Count ||
        t.combIvs.size() != kCombIvsCount) {
        std::ostringstream os;
        os << "unexpected counts: jis12 " << t.jis12.size() << ", jis3 " << t.jis3.size() << ", jis4 "
           << t.jis4.size() << ", combining " << t.combIvs.size();
        return fail(err, os.str());
    }

    if (!readSymbols(symbolsPath, t.kigou1, err)) return false;

    // Kana sets: the kana of JIS X 0208 rows 4 and 5 in cell order, then the
    // marks at 0x77-0x7E, given by their JIS X 0208 codes.
    static const int kHiraganaMarks[] = {0x2135, 0x2136, 0x213C, 0x2123, 0x2156, 0x2157, 0x2122, 0x2126};
    static const int kKatakanaMarks[] = {0x2133, 0x2134, 0x213C, 0x2123, 0x2156, 0x2157, 0x2122, 0x2126};
    for (int c = 0x21; c <= 0x73; ++c) t.hiragana1.emplace_back(c, lookup(t.jis12, 0x2400 | c));
    for (int c = 0x21; c <= 0x76; ++c) t.katakana1.emplace_back(c, lookup(t.jis12, 0x2500 | c));
    for (int i = 0; i < 8; ++i) {
        t.hiragana1.emplace_back(0x77 + i, lookup(t.jis12, kHiraganaMarks[i]));
        t.katakana1.emplace_back(0x77 + i, lookup(t.jis12, kKatakanaMarks[i]));
    }
    for (int c = 0x79; c <= 0x7E; ++c) t.kanaCommon1.emplace_back(c, lookup(t.katakana1, c));

    // JIS X 0201 katakana, through EUC-JP's single-shift prefix.
    for (int c = 0x21; c <= 0x5F; ++c) {
        std::vector<int32_t> v = eucjp.decode(std::string("\x8E") + static_cast<char>(c | 0x80));
        if (v.size() != 1) return fail(err, "EUC-JP lacks a JIS X 0201 katakana");
        t.hankaku1.emplace_back(c, v[0]);
    }

    // Full-width forms. ASCII: U+FF01 + offset, with ARIB's own choices for
    // the quotes, the yen sign and the overline.
    auto jis12Reverse = [&](int32_t cp) {
        int32_t code = reverseLookup(t.jis12Win, cp);
        return code ? code : reverseLookup(t.jis12, cp);
    };
    for (int a = 0x21; a <= 0x7E; ++a) {
        int32_t code = a == 0x22 ? 0x2149 : a == 0x27 ? 0x2147 : a == 0x5C ? 0x216F : a == 0x7E ? 0x2131
                                                                                              : jis12Reverse(0xFF01 + (a - 0x21));
        if (!code) return fail(err, "full-width ASCII form missing from JIS X 0208");
        t.charSize1.emplace_back(a, code);
    }
    // JIS X 0201 katakana 0x21-0x5F in order, as full-width characters; the
    // sound marks are the spacing ones of JIS X 0208.
    static const char kFullWidthKana[] =
        "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
    std::u32string fw = fromUtf8(kFullWidthKana);
    if (fw.size() != 63) return fail(err, "full-width kana list has the wrong length");
    for (int c = 0x21; c <= 0x5F; ++c) {
        int32_t code = jis12Reverse(static_cast<int32_t>(fw[c - 0x21]));
        if (!code) return fail(err, "full-width kana missing from JIS X 0208");
        t.charSize2.emplace_back(c, code);
    }

    // Text forms of the additional symbols that stand for a word or a mark.
    static const std::pair<int32_t, const char*> kTexts[] = {
        {0x7A50, "[HV]"}, {0x7A51, "[SD]"}, {0x7A52, "[P]"},   {0x7A53, "[W]"},   {0x7A54, "[MV]"},
        {0x7A55, "[手]"}, {0x7A56, "[字]"}, {0x7A57, "[双]"},  {0x7A58, "[デ]"},  {0x7A59, "[S]"},
        {0x7A5A, "[二]"}, {0x7A5B, "[多]"}, {0x7A5C, "[解]"},  {0x7A5D, "[SS]"},  {0x7A5E, "[B]"},
        {0x7A5F, "[N]"},  {0x7A62, "[天]"}, {0x7A63, "[交]"},  {0x7A64, "[映]"},  {0x7A65, "[無]"},
        {0x7A66, "[料]"}, {0x7A67, "[鍵]"}, {0x7A68, "[前]"},  {0x7A69, "[後]"},  {0x7A6A, "[再]"},
        {0x7A6B, "[新]"}, {0x7A6C, "[初]"}, {0x7A6D, "[終]"},  {0x7A6E, "[生]"},  {0x7A6F, "[販]"},
        {0x7A70, "[声]"}, {0x7A71, "[吹]"}, {0x7A72, "[PPV]"}, {0x7A73, "[秘]"},  {0x7A74, "[ほか]"},
        {0x7C7A, "[演]"},
    };
    for (const auto& e : kTexts) {
        if (lookup(t.kigou1, e.first)) return fail(err, "a text-form symbol also has a code point");
        t.kigou2.emplace_back(e.first, fromUtf8(e.second));
    }

    // Symbols (rows 90 to 94) that JIS X 0208 holds as well are sent by
    // broadcasters in the kanji set. They move to a table of their own that
    // only decoding reads, so that the encoder, which searches the reverse
    // of kigou1Table, writes them in the kanji set. The additional kanji of
    // rows 85 and 86 stay: they are glyph variants that need set 0x3B.
    std::vector<Pair> symbols;
    for (const Pair& p : t.kigou1) {
        if (p.first >= 0x7A00 && jis12Reverse(p.second)) t.kigou1InKanjiSet.push_back(p);
        else symbols.push_back(p);
    }
    t.kigou1.swap(symbols);
    if (t.kigou1InKanjiSet.size() != kKigou1InKanjiSetCount)
        return fail(err, "unexpected count of additional symbols that JIS X 0208 holds: " +
                             std::to_string(t.kigou1InKanjiSet.size()));
    return true;
}

inline std::string hex(int32_t v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", width, static_cast<unsigned>(v));
    return buf;
}

// A null revName: the table is only read forward and has no reverse twin.
inline void renderPairs(std::ostringstream& os, const char* name, const char* sizeName, const char* revName,
                        const std::vector<Pair>& table) {
    os << "\nconst int32_t " << name << "[][2] = {\n";
    for (size_t i = 0; i < table.size(); ++i) {
        if (i % 6 == 0) os << "   ";
        os << " {" << hex(table[i].first, 4) << ", " << hex(table[i].second, 4) << "},";
        if (i % 6 == 5 || i + 1 == table.size()) os << "\n";
    }
    os << "};\n";
    os << "const size_t " << sizeName << " = sizeof(" << name << ");\n";
    if (revName) os << "int32_t " << revName << "[" << table.size() << "][2];\n";
}

inline std::string renderSource(const Tables& t) {
    std::ostringstream os;
    os << "// Generated by tools/aribtables (target aribtables_generate) from glibc iconv\n"
          "// (EUC-JP, EUC-JISX0213, CP932) and tools/aribtables/arib-additional-symbols.tsv.\n"
          "// Do not edit: regenerate instead. test_arib_tables checks it is current.\n"
          "#include \"characterSets.h\"\n";
    renderPairs(os, "jis12Table", "JIS12TABLESIZE", "jis12RevTable", t.jis12);
    renderPairs(os, "jis12WinTable", "JIS12WINTABLESIZE", "jis12WinRevTable", t.jis12Win);
    renderPairs(os, "jis3Table", "JIS3TABLESIZE", "jis3RevTable", t.jis3);
    renderPairs(os, "jis4Table", "JIS4TABLESIZE", "jis4RevTable", t.jis4);
    renderPairs(os, "kigou1Table", "KIGOU1TABLESIZE", "kigou1RevTable", t.kigou1);
    renderPairs(os, "kigou1InKanjiSetTable", "KIGOU1INKANJISETTABLESIZE", nullptr, t.kigou1InKanjiSet);
    renderPairs(os, "hiragana1Table", "HIRAGANA1TABLESIZE", "hiragana1RevTable", t.hiragana1);
    renderPairs(os, "katakana1Table", "KATAKANA1TABLESIZE", "katakana1RevTable", t.katakana1);
    renderPairs(os, "hankaku1Table", "HANKAKU1TABLESIZE", "hankaku1RevTable", t.hankaku1);
    renderPairs(os, "kanaCommon1Table", "KANACOMMON1TABLESIZE", "kanaCommon1RevTable", t.kanaCommon1);
    renderPairs(os, "charSize1Table", "CHARSIZE1TABLESIZE", "charSize1RevTable", t.charSize1);
    renderPairs(os, "charSize2Table", "CHARSIZE2TABLESIZE", "charSize2RevTable", t.charSize2);

    os << "\nint32_t jis3CombIvsTable[][4] = {\n";
    for (const auto& r : t.combIvs)
        os << "    {" << hex(r[0], 2) << ", " << hex(r[1], 4) << ", " << hex(r[2], 4) << ", " << hex(r[3], 4)
           << "},\n";
    os << "};\nconst size_t JIS3COMBIVSTABLESIZE = sizeof(jis3CombIvsTable);\n";

    os << "\nconst char16_t kigou2TableUTF16[][24] = {\n";
    for (const auto& e : t.kigou2) {
        os << "    {" << hex(e.first, 4) << ", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0";
        size_t n = 0;
        for (char32_t cp : e.second) {
            os << ", " << hex(static_cast<int32_t>(cp), 4);
            ++n;
        }
        for (; n < 12; ++n) os << ", 0";
        os << "},\n";
    }
    os << "};\nconst size_t KIGOU2TABLEUTF16SIZE = sizeof(kigou2TableUTF16);\n";

    os << "\nconst uint8_t kigou2TableUTF8[][24] = {\n";
    for (const auto& e : t.kigou2) {
        os << "    {" << hex(e.first >> 8, 2) << ", " << hex(e.first & 0xFF, 2) << ", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0";
        std::string u8 = toUtf8(e.second);
        size_t n = 0;
        for (unsigned char b : u8) {
            os << ", " << hex(b, 2);
            ++n;
        }
        for (; n < 12; ++n) os << ", 0";
        os << "},\n";
    }
    os << "};\nconst size_t KIGOU2TABLEUTF8SIZE = sizeof(kigou2TableUTF8);\n";
    return os.str();
}

}  // namespace aribtables
