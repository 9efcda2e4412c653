// Text conversions (UTF-8, UTF-16, UTF-32, the multi form) and the small
// string helpers.

#include "StringExtra.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using namespace platform;

namespace {
const std::string kFFFD = "\xEF\xBF\xBD";

// Switches the C library's LC_CTYPE for one test and puts it back.
class CtypeLocale {
public:
    explicit CtypeLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        EXPECT_NE(std::setlocale(LC_CTYPE, name), nullptr) << name;
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }

private:
    std::string previous_;
};

template <typename F>
void expectIllegalSequence(F convert, const std::string& what) {
    try {
        convert();
        ADD_FAILURE() << "no exception for " << what;
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::illegal_byte_sequence) << what;
    }
}
}  // namespace

TEST(TextCodec, SurrogatePairsAreJoined) {
    const std::u16string shikaru = u"\U00020B9F";  // 𠮟, outside the BMP
    ASSERT_EQ(shikaru.size(), 2u);
    EXPECT_EQ(utf16ToUtf8(shikaru), "\xF0\xA0\xAE\x9F");
    EXPECT_EQ(utf8ToUtf16("\xF0\xA0\xAE\x9F"), shikaru);
    EXPECT_EQ(utf16ToUtf32(shikaru), U"\U00020B9F");
    EXPECT_EQ(utf32ToUtf16(U"\U00020B9F"), shikaru);
    EXPECT_EQ(utf16ToWide(shikaru), L"\U00020B9F");
    EXPECT_EQ(wideToUtf16(L"\U00020B9F"), shikaru);
    EXPECT_EQ(utf8ToWide("a\xF0\xA0\xAE\x9F"), L"a\U00020B9F");
    EXPECT_EQ(wideToUtf8(L"\U0010FFFF\u3042"), "\xF4\x8F\xBF\xBF\xE3\x81\x82");

    const std::u16string mixed = u"録画\u3000テスト\U0001F4FA.ts";
    EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(mixed)), mixed);
    EXPECT_EQ(utf32ToUtf16(utf16ToUtf32(mixed)), mixed);
}

TEST(TextCodec, LoneSurrogatesBecomeReplacementCharacters) {
    const char16_t high = 0xD842, low = 0xDF9F;
    EXPECT_EQ(utf16ToUtf8(std::u16string{high}), kFFFD);
    EXPECT_EQ(utf16ToUtf8(std::u16string{low}), kFFFD);
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', high, u'b'}), "a" + kFFFD + "b");
    EXPECT_EQ(utf16ToUtf8(std::u16string{low, high}), kFFFD + kFFFD);           // reversed pair
    EXPECT_EQ(utf16ToUtf8(std::u16string{high, high, low}), kFFFD + "\xF0\xA0\xAE\x9F");
    EXPECT_EQ(utf16ToUtf32(std::u16string{high, u'x'}), (std::u32string{0xFFFD, U'x'}));
    EXPECT_EQ(wideToUtf16(std::wstring{static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000)}),
              (std::u16string{0xFFFD, 0xFFFD}));
    EXPECT_EQ(utf32ToUtf8(std::u32string{0xDFFF, U'z'}), kFFFD + "z");
}

TEST(TextCodec, InvalidUtf8BecomesReplacementCharacters) {
    struct Row {
        std::string bytes;
        std::u16string expected;
    };
    const Row rows[] = {
        {"\x80", u"\uFFFD"},                          // stray continuation byte
        {"a\xFF" "b", u"a\uFFFDb"},                   // never valid
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},      // overlong, three bytes
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},      // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xE3\x81" "A", u"\uFFFDA"},                 // truncated, next char kept
        {"\xE3\x81", u"\uFFFD"},                      // truncated at the end
        {"\xF0\xA0\xAE", u"\uFFFD"},
        {"\x82\xA0\x82\xA2", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // Shift_JIS "あい"
    };
    for (const Row& row : rows) {
        EXPECT_EQ(utf8ToUtf16(row.bytes), row.expected) << testing::PrintToString(row.bytes);
        EXPECT_FALSE(isValidUtf8(row.bytes)) << testing::PrintToString(row.bytes);
    }
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain /rec/a.ts"));
    EXPECT_TRUE(isValidUtf8("\xE3\x81\x82\xF0\xA0\xAE\x9F" + kFFFD));
    EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
    EXPECT_TRUE(utf8ToUtf16(nullptr, 5).empty());
}

TEST(TextCodec, EmbeddedNulIsKeptByTheCodec) {
    const std::u16string wide(u"a\0b", 3);
    EXPECT_EQ(utf16ToUtf8(wide), std::string("a\0b", 3));
    EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), wide);
}

TEST(StringExtraConversions, StopAtTheFirstNul) {
    EXPECT_EQ(StringExtra::utf8_to_multi_winapi(std::string("/rec/a.ts\0junk", 14)), "/rec/a.ts");
    EXPECT_EQ(StringExtra::multi_to_utf8_winapi(std::string("x\0y", 3)), "x");
    EXPECT_EQ(StringExtra::wide_to_utf8_winapi(std::u16string(u"番組\0x", 4)), "番組");
    EXPECT_EQ(StringExtra::wide_to_multi_winapi(std::u16string(u"\0x", 2)), "");
    EXPECT_EQ(StringExtra::utf8_to_wide_winapi(std::string("\xE3\x81\x82\0b", 5)), u"あ");
    EXPECT_EQ(multi_to_wide_winapi(std::string("ab\0c", 4)), u"ab");
    std::string out = "old";
    StringExtra::narrow(std::u16string(u"NHK\u3000総合\0x", 8), out);
    EXPECT_EQ(out, "NHK\xE3\x80\x80総合");
    // to_string converts the whole text.
    EXPECT_EQ(StringExtra::to_string(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
    for (auto f : {&StringExtra::utf8_to_multi_winapi, &StringExtra::multi_to_utf8_winapi})
        EXPECT_EQ(f(""), "");
}

TEST(StringExtraConversions, MultiFormKeepsBytesAndWideFormNeverThrows) {
    // A file name that is not UTF-8 keeps its bytes on the way to the file system.
    const std::string latin1 = "/rec/caf\xE9.ts";
    EXPECT_EQ(StringExtra::utf8_to_multi_winapi(latin1), latin1);
    EXPECT_EQ(StringExtra::multi_to_utf8_winapi(latin1), latin1);
    EXPECT_EQ(StringExtra::utf8_to_wide_winapi(latin1), u"/rec/caf\uFFFD.ts");

    const std::u16string title{u'T', 0xD842, 0xDF9F, 0xDC00, u'!'};
    EXPECT_EQ(StringExtra::to_string(title), "T\xF0\xA0\xAE\x9F" + kFFFD + "!");
    EXPECT_EQ(StringExtra::wide_to_utf8_winapi(title), StringExtra::to_string(title));
}

TEST(StringExtraConversions, AlternativesGiveTheWinapiTextOnValidInput) {
    const CtypeLocale utf8("C.UTF-8");
    struct Row {
        std::string text;
        bool ucs2;  // to_wstring takes it
    };
    const Row rows[] = {
        {"", true},
        {"plain /rec/a.ts", true},
        {"録画テスト\u3000第1話", true},
        {"\xF0\xA0\xAE\x9F叱る", false},  // a surrogate pair in UTF-16
        {std::string("前\0後", 7), true},  // C-string alternatives stop at the NUL
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.text));
        const std::u16string whole = utf8ToUtf16(row.text);
        const std::u16string wide = StringExtra::utf8_to_wide_winapi(row.text);
        EXPECT_EQ(multi_to_wide_capi(row.text), wide);
        EXPECT_EQ(wide_to_multi_capi(whole), StringExtra::wide_to_multi_winapi(whole));
        EXPECT_EQ(StringExtra::multi_to_utf8_cppapi(row.text), StringExtra::multi_to_utf8_winapi(row.text));
        EXPECT_EQ(StringExtra::utf8_to_multi_cppapi(row.text), StringExtra::utf8_to_multi_winapi(row.text));
        EXPECT_EQ(wide_to_utf8_cppapi(whole), row.text);
        EXPECT_EQ(utf8_to_wide_cppapi(row.text), whole);
        if (row.ucs2)
            EXPECT_EQ(StringExtra::to_wstring(row.text), whole);
        else
            EXPECT_THROW(StringExtra::to_wstring(row.text), std::range_error);
        std::u16string out = u"old";
        StringExtra::widen(row.text, out);
        EXPECT_EQ(out, wide);
    }
}

TEST(StringExtraConversions, AlternativesRefuseInvalidText) {
    const std::string badUtf8[] = {
        "\xFF", "a\xE3\x81", "\xC0\xAF", "\xED\xA0\x80" /* encoded surrogate */, "\xF4\x90\x80\x80",
    };
    for (const std::string& bytes : badUtf8) {
        const std::string what = testing::PrintToString(bytes);
        EXPECT_THROW(utf8_to_wide_cppapi(bytes), std::range_error) << what;
        EXPECT_THROW(StringExtra::to_wstring(bytes), std::range_error) << what;
        EXPECT_THROW(StringExtra::utf8_to_multi_cppapi(bytes), std::range_error) << what;
        expectIllegalSequence([&] { multi_to_wide_capi(bytes); }, what);
        expectIllegalSequence([&] { StringExtra::multi_to_utf8_cppapi(bytes); }, what);
    }
    const std::u16string loneSurrogates[] = {{0xD800}, {u'a', 0xD800, u'b'}, {0xDC00, 0xD800}};
    for (const std::u16string& wide : loneSurrogates) {
        const std::string what = testing::PrintToString(wide);
        EXPECT_THROW(wide_to_utf8_cppapi(wide), std::range_error) << what;
        expectIllegalSequence([&] { wide_to_multi_capi(wide); }, what);
    }
    // widen goes on past what the locale cannot read.
    const CtypeLocale utf8("C.UTF-8");
    std::u16string out;
    StringExtra::widen("a\xFF" "b", out);
    EXPECT_EQ(out, u"a\uFFFDb");
    StringExtra::widen("\xE3\x81", out);  // cut short: one U+FFFD per byte
    EXPECT_EQ(out, u"\uFFFD\uFFFD");
}

TEST(StringExtraConversions, FixedBuffersAreReadUpToTheirEnd) {
    char16_t full[4] = {u'a', u'b', u'c', u'd'};  // no terminator
    char16_t shorter[8] = {u'x', u'y', 0, u'z'};
    EXPECT_EQ(StringExtra::wide_to_utf8_winapi(full), "abcd");
    EXPECT_EQ(StringExtra::wide_to_multi_winapi(full), "abcd");
    EXPECT_EQ(StringExtra::to_string(full), "abcd");
    EXPECT_EQ(StringExtra::to_string(shorter), "xy");
    std::string out;
    StringExtra::narrow(full, out);
    EXPECT_EQ(out, "abcd");
}

TEST(TextCodec, WideTextWorksWithWregex) {
    // imbue resets a regex, so the locale goes in before the pattern.
    std::wregex blanks;
    blanks.imbue(std::locale::classic());
    blanks.assign(L"(\u3000| )+$");
    const std::wstring title = utf16ToWide(u"アニメ\U00020B9F　 ");
    EXPECT_EQ(wideToUtf16(std::regex_replace(title, blanks, L"")), u"アニメ\U00020B9F");
}

TEST(StringHelpers, DoubleDigit) {
    EXPECT_EQ(StringExtra::DoubleDigit(""), "");
    EXPECT_EQ(StringExtra::DoubleDigit("7"), "07");
    EXPECT_EQ(StringExtra::DoubleDigit("0"), "00");
    EXPECT_EQ(StringExtra::DoubleDigit(" 5"), "05");
    EXPECT_EQ(StringExtra::DoubleDigit("10"), "10");
    EXPECT_EQ(StringExtra::DoubleDigit("123"), "123");
    EXPECT_EQ(StringExtra::DoubleDigit("3a"), "03");
    EXPECT_EQ(StringExtra::DoubleDigit("-5"), "-5");
    EXPECT_THROW(StringExtra::DoubleDigit("a1"), std::invalid_argument);
    EXPECT_THROW(StringExtra::DoubleDigit("99999999999"), std::out_of_range);
}

TEST(StringHelpers, ReplaceAllAndFirst) {
    std::string s = "aaaa";
    EXPECT_EQ(StringExtra::replaceAll(s, "aa", "a"), "aa");
    EXPECT_EQ(s, "aa");
    s = "aaa";
    EXPECT_EQ(StringExtra::replaceAll(s, "a", "aa"), "aaaaaa");
    s = "keep";
    EXPECT_EQ(StringExtra::replaceAll(s, "", "x"), "keep");
    s = "[新]タイトル[新]";
    EXPECT_EQ(StringExtra::replaceAll(s, "[新]", ""), "タイトル");
    s = "a\\\\b\\c";
    StringExtra::replaceAll(s, "\\\\", "/");
    EXPECT_EQ(s, "a/b\\c");

    s = "a-b-c";
    EXPECT_EQ(StringExtra::replaceOtherStr(s, "-", "+"), "a+b-c");
    EXPECT_EQ(s, "a+b-c");
    s = "";
    EXPECT_EQ(StringExtra::replaceOtherStr(s, "-", "+"), "");
    s = "abc";
    EXPECT_EQ(StringExtra::replaceOtherStr(s, "", "+"), "abc");
    EXPECT_EQ(StringExtra::replaceOtherStr(s, "x", "+"), "abc");
}

TEST(StringHelpers, HexDumpsOfACommandLine) {
    const auto blanks = [](std::size_t n) { return std::string(n, ' '); };
    const std::string hex16 = "30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 ";
    const struct {
        const char* text;
        std::string dump;
    } bytes[] = {
        {"", blanks(48) + "\n"},
        {nullptr, blanks(48) + "\n"},
        {"a ~", "61 20 7E " + blanks(39) + "a ~\n"},
        {"0123456789abcdef", hex16 + "0123456789abcdef\n" + blanks(48) + "\n"},
        {"0123456789abcdefg", hex16 + "0123456789abcdef\n67 " + blanks(45) + "g\n"},
        {"\t\xE9", "09 E9 " + blanks(42) + "..\n"},
    };
    for (const auto& row : bytes) {
        testing::internal::CaptureStdout();
        StringExtra::dumpLPCSTRString(reinterpret_cast<const unsigned char*>(row.text));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetCommandLineA:\n" + row.dump);
    }

    const std::string wideHex16 =
        "0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0061 0062 0063 0064 0065 0066 ";
    const struct {
        std::u16string text;
        std::string dump;
    } units[] = {
        {u"", blanks(80) + "\n"},
        {u"a\u3042~", "0061 3042 007E " + blanks(65) + "a.~\n"},
        {u"0123456789abcdef", wideHex16 + "0123456789abcdef\n" + blanks(80) + "\n"},
        {u"0123456789abcdefg", wideHex16 + "0123456789abcdef\n0067 " + blanks(75) + "g\n"},
        {u"\x7F\u0141", "007F 0141 " + blanks(70) + "..\n"},
    };
    for (const auto& row : units) {
        std::vector<unsigned short> text(row.text.begin(), row.text.end());
        text.push_back(0);
        testing::internal::CaptureStdout();
        StringExtra::dumpLPCWSTRString(text.data());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nGetCommandLineW:\n" + row.dump);
    }
}
