// Decoding ARIB 8-unit text: state, designations, shifts, controls, sizes,
// additional symbols, and the UTF-8 and 32-bit unit forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AribTextBuilder.h"
#include "convToUnicode.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::u16string u16(const Bytes& in, bool bCharSize = false, bool bIVS = false) {
    Bytes exact(in.begin(), in.end());
    std::vector<char16_t> out(4 * in.size() + 16);
    size_t n = conv_to_unicode(out.data(), out.size(), exact.data(), exact.size(), bCharSize, bIVS);
    return std::u16string(out.data(), n);
}

std::string u8(const Bytes& in, bool bCharSize = false, bool bIVS = false) {
    Bytes exact(in.begin(), in.end());
    std::vector<uint8_t> out(4 * in.size() + 16);
    size_t n = conv_to_unicode(out.data(), out.size(), exact.data(), exact.size(), bCharSize, bIVS);
    return std::string(reinterpret_cast<const char*>(out.data()), n);
}

std::vector<uint32_t> u32t(const Bytes& in) {
    Bytes exact(in.begin(), in.end());
    std::vector<uint32_t> out(2 * in.size() + 16);
    size_t n = conv_to_U32T(out.data(), out.size(), exact.data(), exact.size());
    return std::vector<uint32_t>(out.begin(), out.begin() + static_cast<long>(n));
}

std::u16string fromU32T(const std::vector<uint32_t>& units) {
    std::vector<char16_t> out(8 * units.size() + 16);
    size_t n = convU32T_to_UTF16(out.data(), out.size(), units.data(), units.size());
    return std::u16string(out.data(), n);
}

const uint8_t ESC = 0x1B;

TEST(AribDecode, InitialStateKanjiInGlHiraganaInGr) {
    EXPECT_EQ(u16({0xA4, 0xA2}), u"いあ");
    EXPECT_EQ(u16({0x30, 0x21}), u"亜");
    EXPECT_EQ(u16({0x30, 0x21, 0xA4, 0x30, 0x21}), u"亜い亜");
    ConvStatus st;
    initConvStatus(&st);
    EXPECT_EQ(st.region[0], 0);
    EXPECT_EQ(st.region[1], 2);
    EXPECT_EQ(st.bank[0], 0x39);
    EXPECT_EQ(st.bank[1], 0x4A);
    EXPECT_EQ(st.bank[2], 0x30);
    EXPECT_EQ(st.bank[3], 0x31);
    EXPECT_FALSE(st.bSingleShift);
    EXPECT_FALSE(st.bXCS);
    EXPECT_TRUE(st.bNormalSize);
}

TEST(AribDecode, LockingShifts) {
    EXPECT_EQ(u16({0x0E, 'A', 'b', 0x0F, 0x30, 0x21}), u"Ab亜");     // LS1, LS0
    EXPECT_EQ(u16({ESC, 0x6E, 0x22}), u"あ");                         // LS2
    EXPECT_EQ(u16({ESC, 0x6F, 0x22}), u"ア");                         // LS3
    EXPECT_EQ(u16({ESC, 0x7E, 0xC1}), u"A");                          // LS1R
    EXPECT_EQ(u16({ESC, 0x7C, 0xA2, ESC, 0x7D, 0xA2}), u"アあ");      // LS3R, LS2R
    // A shift persists across a new call only if repeated: each call starts fresh.
    EXPECT_EQ(u16({0xA2}), u"あ");
}

TEST(AribDecode, SingleShiftsCoverOneCharacter) {
    EXPECT_EQ(u16({0x19, 0x22, 0x30, 0x21}), u"あ亜");  // SS2
    EXPECT_EQ(u16({0x1D, 0x22, 0x30, 0x21}), u"ア亜");  // SS3
    EXPECT_EQ(u16({0x0E, 0x1D, 0x22, 'A'}), u"アA");    // back to the locked G1
    // Two shifts before a character: the first locked GL still comes back.
    EXPECT_EQ(u16({0x0E, 0x19, 0x1D, 0x22, 'A'}), u"アA");
    // A control in between does not end it.
    EXPECT_EQ(u16({0x19, 0x89, 0x22, 0x30, 0x21}), u"あ亜");
}

TEST(AribDecode, OneByteDesignations) {
    EXPECT_EQ(u16({ESC, 0x28, 0x4A, 'A', '\\', '~'}), u"A\u00A5\u203E");  // G0 alphanumeric
    EXPECT_EQ(u16({ESC, 0x29, 0x31, 0x0E, 0x22}), u"ア");                 // G1 katakana
    EXPECT_EQ(u16({ESC, 0x2A, 0x49, ESC, 0x6E, 0x31}), u"\uFF71");       // G2 JIS X 0201 katakana
    EXPECT_EQ(u16({ESC, 0x2B, 0x30, ESC, 0x7C, 0xA2}), u"あ");            // G3 hiragana
    EXPECT_EQ(u16({ESC, 0x28, 0x36, 'A', ESC, 0x28, 0x37, 0x22, ESC, 0x28, 0x38, 0x22}), u"Aあア");  // proportional
    EXPECT_EQ(u16({ESC, 0x28, 0x32, 0x21, 0x22}), u"");  // mosaic shows nothing
    // An unknown final byte takes three bytes and changes nothing.
    EXPECT_EQ(u16({ESC, 0x28, 0x7A, 0x30, 0x21}), u"亜");
}

TEST(AribDecode, TwoByteDesignations) {
    EXPECT_EQ(u16({ESC, 0x24, 0x42, 0x30, 0x21}), u"亜");
    EXPECT_EQ(u16({ESC, 0x24, 0x3A, 0x21, 0x21}), u"𠂉");                       // plane 2, 0x2121
    EXPECT_EQ(u16({ESC, 0x24, 0x29, 0x3A, 0x0E, 0x21, 0x21}), u"𠂉");           // G1
    EXPECT_EQ(u16({ESC, 0x24, 0x2A, 0x3B, 0xFA, 0xD6}), u"[字]");               // G2 through GR
    EXPECT_EQ(u16({ESC, 0x24, 0x2B, 0x42, ESC, 0x6F, 0x30, 0x21}), u"亜");       // G3
    // Unknown finals change nothing.
    EXPECT_EQ(u16({ESC, 0x24, 0x29, 0x30, 0x0E, 'A'}), u"A");
    EXPECT_EQ(u16({ESC, 0x24, 0x7A, 0x30, 0x21}), u"亜");
    EXPECT_EQ(u16({ESC, 0x24, 0x28, 0x39, 0x30, 0x21}), u"亜");
}

TEST(AribDecode, DrcsAndMacroDesignations) {
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x41, 0x21, 0x22}), u"??");                       // DRCS-1 to G0
    EXPECT_EQ(u16({ESC, 0x2B, 0x20, 0x4F, ESC, 0x7C, 0xA1}), u"?");                   // DRCS-15 to G3
    EXPECT_EQ(u16({ESC, 0x24, 0x28, 0x20, 0x40, 0x21, 0x21}), u"\uFF1F");             // DRCS-0 to G0
    EXPECT_EQ(u16({ESC, 0x24, 0x29, 0x20, 0x40, 0x0E, 0x21, 0x21, 0x22}), u"\uFF1F\uFF1F"); // cut at the end
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x7A, 0x30, 0x21}), u"亜");                       // unknown: nothing
    EXPECT_EQ(u16({ESC, 0x24, 0x29, 0x20, 0x41, 0x0E, 'A'}), u"A");                    // 5 bytes, no change
    // Macro set to G0; macro 0x6E puts katakana in G0 and alphanumerics in G2.
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x70, 0x6E, 0x22, 0xC1}), u"アA");
    // Macro 0x60 restores the usual sets; other macro codes do nothing.
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x70, 0x21, 0x60, 0x30, 0x21, 0xA2}), u"亜あ");
}

TEST(AribDecode, DefaultMacros) {
    const int32_t expected[16][3] = {
        {0x39, 0x4A, 0x30},    {0x39, 0x31, 0x30},    {0x39, 0x141, 0x30},   {0x32, 0x34, 0x35},
        {0x32, 0x33, 0x35},    {0x32, 0x141, 0x35},   {0x141, 0x142, 0x143}, {0x144, 0x145, 0x146},
        {0x147, 0x148, 0x149}, {0x14A, 0x14B, 0x14C}, {0x14D, 0x14E, 0x14F}, {0x39, 0x142, 0x30},
        {0x39, 0x143, 0x30},   {0x39, 0x144, 0x30},   {0x31, 0x30, 0x4A},    {0x4A, 0x32, 0x141},
    };
    for (int c = 0x60; c <= 0x6F; ++c) {
        ConvStatus st;
        initConvStatus(&st);
        st.region[0] = 3;
        st.region[1] = 1;
        defaultMacroProc(static_cast<uint8_t>(c), &st);
        EXPECT_EQ(st.bank[0], expected[c - 0x60][0]) << c;
        EXPECT_EQ(st.bank[1], expected[c - 0x60][1]) << c;
        EXPECT_EQ(st.bank[2], expected[c - 0x60][2]) << c;
        EXPECT_EQ(st.bank[3], 0x170) << c;
        EXPECT_EQ(st.region[0], 0) << c;
        EXPECT_EQ(st.region[1], 2) << c;
    }
    ConvStatus st;
    initConvStatus(&st);
    defaultMacroProc(0x70, &st);
    EXPECT_EQ(st.bank[3], 0x31);
    // Decoded: macro 0x62 gives DRCS-1 in G1, macro 0x6F alphanumerics in G0.
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x70, 0x62, 0x0E, 'A'}), u"?");
    EXPECT_EQ(u16({ESC, 0x28, 0x20, 0x70, 0x6F, 'A', 0xA1}), u"A?");
}

TEST(AribDecode, ExtraCharacterStretchHidesText) {
    const Bytes xcsOn = {0x9B, 0x30, 0x20, 0x66};
    const Bytes xcsOff = {0x9B, 0x31, 0x20, 0x66};
    Bytes in = {0xA2};
    in.insert(in.end(), xcsOn.begin(), xcsOn.end());
    in.insert(in.end(), {0xA4, 0x0D, 0x20, 0x7A, 0x56});
    in.insert(in.end(), xcsOff.begin(), xcsOff.end());
    in.push_back(0xA6);
    EXPECT_EQ(u16(in), u"あう");
    EXPECT_EQ(u8(in), "あう");
    // Other CSI sequences only take their bytes.
    EXPECT_EQ(u16({0x9B, '1', '7', '0', ';', '3', '0', 0x20, 0x53, 0xA2}), u"あ");
    EXPECT_EQ(u16({0x9B, 0x30, 0x3B, 0x30, 0x20, 0x66, 0xA2}), u"あ");  // two separators: not XCS
    // A very long parameter saturates instead of overflowing.
    Bytes longParam = {0x9B};
    longParam.insert(longParam.end(), 40, '9');
    longParam.insert(longParam.end(), {0x20, 0x66, 0xA2});
    EXPECT_EQ(u16(longParam), u"あ");
    // 2^32 and 2^32 + 1 would wrap to the XCS parameters 0 and 1.
    EXPECT_EQ(u16({0x9B, '4', '2', '9', '4', '9', '6', '7', '2', '9', '6', 0x20, 0x66, 0xA2}), u"あ");
    EXPECT_EQ(u16({0x9B, 0x30, 0x20, 0x66, 0x9B, '4', '2', '9', '4', '9', '6', '7', '2', '9', '7', 0x20, 0x66, 0xA2}),
              u"");
    // Five semicolons end the sequence without a final byte.
    EXPECT_EQ(u16({0x9B, ';', ';', ';', ';', ';', 0xA2}), u"あ");
    ConvStatus st;
    initConvStatus(&st);
    EXPECT_EQ(csiProc(xcsOn.data(), xcsOn.size(), &st), 4u);
    EXPECT_TRUE(st.bXCS);
    EXPECT_EQ(csiProc(xcsOff.data(), 1, &st), 1u);
}

TEST(AribDecode, SizesAndHalfWidthForms) {
    const uint8_t MSZ = 0x89, NSZ = 0x8A;
    // Without bCharSize the sizes change nothing.
    EXPECT_EQ(u16({0x0E, 'A', MSZ, 'A', 0x20}), u"AA ");
    // Normal size: full-width alphanumerics, space and JIS X 0201 kana.
    EXPECT_EQ(u16({0x0E, 'A', '0', '"', '\\', '~', 0x20}, true), u"Ａ０”￥￣\u3000");
    EXPECT_EQ(u16({ESC, 0x28, 0x49, 0x31, 0x5E, 0x5F}, true), u"ア゛゜");
    // Medium size: kanji-set forms become half width.
    EXPECT_EQ(u16({MSZ, 0x23, 0x30, 0x21, 0x21, 0x23, 0x41, 0x25, 0x22, 0x21, 0x6F, 0x20}, true), u"0 A\uFF71\u00A5 ");
    EXPECT_EQ(u16({MSZ, ESC, 0x7C, 0xA2, 0xF4, NSZ, 0xA2}, true), u"\uFF71\u30A2");  // ヴ has no half-width form
    EXPECT_EQ(u16({MSZ, ESC, 0x7C, 0xA2, 0xF4}, true), u"\uFF71");
    // Medium-size alphanumerics stay ASCII; normal-size kanji stay full width.
    EXPECT_EQ(u16({MSZ, 0x0E, 'A', NSZ, 0x0F, 0x23, 0x41}, true), u"AＡ");
}

TEST(AribDecode, LineEndsAndPlainControls) {
    EXPECT_EQ(u16({0xA2, 0x0D, 0x0A, 0xA4}), u"あ\r\nい");
    EXPECT_EQ(u16({0x0A}), u"\r\n");
    EXPECT_EQ(u16({0x0D}), u"\r\n");
    EXPECT_EQ(u16({0x0A, 0x0D}), u"\r\n\r\n");
    EXPECT_EQ(u16({0x0D, 0x0D, 0x0A}), u"\r\n\r\n");
    EXPECT_EQ(u16({0x08, 0x09, 0x7F, 0x20}), u"\b\t\x7F ");
    EXPECT_EQ(u16({0x00, 0x07, 0x0B, 0x0C, 0x80, 0x9A, 0xA0, 0xFF, 0xA2}), u"あ");
}

TEST(AribDecode, PresentationControlsSkipTheirParameters) {
    // Without skipping, each parameter would show up as a character.
    EXPECT_EQ(u16({0x90, 0x48, 0xA2}), u"あ");              // COL P1
    EXPECT_EQ(u16({0x90, 0x20, 0x48, 0xA2}), u"あ");        // COL 0x20 P2
    EXPECT_EQ(u16({0x92, 0x20, 0x40, 0xA2}), u"あ");        // CDC 0x20 P2
    EXPECT_EQ(u16({0x1C, 0x41, 0x42, 0xA2}), u"あ");        // APS P1 P2
    EXPECT_EQ(u16({0x16, 0x41, 0x8B, 0x41, 0x91, 0x40, 0x93, 0x40, 0x94, 0x40, 0x97, 0x40, 0x98, 0x40, 0xA2}), u"あ");
    EXPECT_EQ(u16({0x9D, 0x20, 0x41, 0xA2}), u"あ");        // TIME 0x20 P2
    EXPECT_EQ(u16({0x9D, 0x29, 0x31, 0x3B, 0x32, 0x20, 0x43, 0xA2}), u"あ");
    EXPECT_EQ(u16({0x95, 0x40, 0x21, 0x30, 0x21, 0x95, 0x4F, 0xA2}), u"あ");  // macro definition
    // Parameters cut by the end stop there.
    EXPECT_EQ(u16({0xA2, 0x1C, 0x41}), u"あ");
    EXPECT_EQ(u16({0xA2, 0x95, 0x41, 0x21}), u"あ");
}

TEST(AribDecode, AdditionalSymbols) {
    auto sym = [](int code) {
        return u16({ESC, 0x24, 0x3B, static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF)});
    };
    EXPECT_EQ(sym(0x7521), u"\u3402");
    EXPECT_EQ(sym(0x7522), u"\U00020158");
    EXPECT_EQ(sym(0x7621), u"\u9FC5");
    EXPECT_EQ(sym(0x7A21), u"\u26CC");
    EXPECT_EQ(sym(0x7C21), u"\u27A1");
    EXPECT_EQ(sym(0x7D21), u"\u322A");
    EXPECT_EQ(sym(0x7E21), u"\u2160");
    EXPECT_EQ(sym(0x7B50), u"\U0001F17C");  // kept beyond the old row 91 count
    EXPECT_EQ(sym(0x7A56), u"[字]");
    EXPECT_EQ(sym(0x7A72), u"[PPV]");
    EXPECT_EQ(sym(0x7A74), u"[ほか]");
    EXPECT_EQ(sym(0x7C7A), u"[演]");
    EXPECT_EQ(sym(0x7921), u"[#89#01]");
    EXPECT_EQ(sym(0x7E7E), u"[#94#94]");
    EXPECT_EQ(sym(0x3021), u"亜");  // JIS X 0208 codes decode in set 0x3B too
    // Written in the kanji set, still read here.
    EXPECT_EQ(u8({ESC, 0x24, 0x3B, 0x7B, 0x28, 0x7C, 0x27, 0x7C, 0x28, 0x7C, 0x29, 0x7C, 0x2A}), "〒年月日円");
    EXPECT_EQ(sym(0x7C2A), u"円");
    // A cut second byte is not a row and cell.
    EXPECT_EQ(u16({ESC, 0x24, 0x3B, 0x79}), u"");
    EXPECT_EQ(u8({ESC, 0x24, 0x3B, 0x7A, 0x56, 0x79, 0x21}), "[字][#89#01]");

    char16_t text[12];
    EXPECT_EQ(kigou2ConvUTF16(0x7A74, text, 12), 4u);
    EXPECT_EQ(std::u16string(text, 4), u"[ほか]");
    EXPECT_EQ(kigou2ConvUTF16(0x7A74, text, 2), 2u);
    EXPECT_EQ(kigou2ConvUTF16(0x7921, text, 3), 3u);
    EXPECT_EQ(kigou2ConvUTF16(0x7920, text, 12), 0u);
    EXPECT_EQ(kigou2ConvUTF16(0x17A56, text, 12), 0u);
    uint8_t bytes[12];
    EXPECT_EQ(kigou2ConvUTF8(0x7A74, bytes, 12), 8u);
    EXPECT_EQ(kigou2ConvUTF8(0x7921, bytes, 12), 8u);
}

TEST(AribDecode, BufferLimitsAndTerminator) {
    const Bytes in = {0xA2, 0xA4, 0xA6};  // あいう
    char16_t buf[4] = {1, 1, 1, 1};
    EXPECT_EQ(conv_to_unicode(buf, 3, in.data(), in.size(), false, false), 3u);
    EXPECT_EQ(buf[3], 1);  // no terminator without room
    EXPECT_EQ(conv_to_unicode(buf, 4, in.data(), in.size(), false, false), 3u);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(conv_to_unicode(static_cast<char16_t*>(nullptr), 2, in.data(), in.size(), false, false), 2u);
    EXPECT_EQ(conv_to_unicode(buf, 4, in.data(), 0, false, false), 0u);
    EXPECT_EQ(buf[0], 0);
    // A surrogate pair that does not fit leaves its high half.
    const Bytes big = {0xA2, ESC, 0x24, 0x3B, 0x75, 0x22};
    char16_t two[2] = {1, 1};
    EXPECT_EQ(conv_to_unicode(two, 2, big.data(), big.size(), false, false), 2u);
    EXPECT_EQ(two[1], 0xD840);
    // UTF-8: a cut sequence still counts; three bytes for U+3042, four for U+20B9F.
    EXPECT_EQ(u8({0xA2}), "あ");
    EXPECT_EQ(u8({0x4F, 0x54}), "\U00020B9F");
    uint8_t b8[4] = {9, 9, 9, 9};
    EXPECT_EQ(conv_to_unicode(b8, 2, in.data(), in.size(), false, false), 2u);
    EXPECT_EQ(b8[0], 0xE3);
    EXPECT_EQ(b8[2], 9);
    EXPECT_EQ(conv_to_unicode(static_cast<uint8_t*>(nullptr), 100, in.data(), in.size(), false, false), 9u);
}

TEST(AribDecode, Utf8TwinMatchesUtf16) {
    testsupport::AribTextBuilder b;
    b.text(u"新番組「ドラマ２４」第3話\n出演：山田太郎 ほか　ABC-123 𠮟る").symbol(0x7A56).symbol(0x7521).symbol(0x7921);
    b.raw({0x9B, 0x30, 0x20, 0x66, 0xA2, 0x9B, 0x31, 0x20, 0x66});
    std::u16string w = u16(b.bytes(), false, true);
    std::string s = u8(b.bytes(), false, true);
    std::string expected;
    for (size_t i = 0; i < w.size(); ++i) {
        int32_t cp = w[i];
        if (cp >= 0xD800 && cp < 0xDC00) cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
        uint8_t tmp[4];
        size_t n = writeUTF8Buf(tmp, 4, 0, cp, false);
        expected.append(reinterpret_cast<char*>(tmp), n);
    }
    EXPECT_EQ(s, expected);
    EXPECT_EQ(w, u"新番組「ドラマ２４」第3話\r\n出演：山田太郎 ほか　ABC-123 𠮟る[字]\u3402[#89#01]");
}

TEST(AribDecode, WriteHelpers) {
    char16_t w[2] = {7, 7};
    EXPECT_EQ(writeUTF16Buf(w, 2, 0, 0x20B9F, false), 2u);
    EXPECT_EQ(w[0], 0xD842);
    EXPECT_EQ(w[1], 0xDF9F);
    EXPECT_EQ(writeUTF16Buf(w, 2, 0, 0x41, true), 0u);
    EXPECT_EQ(writeUTF16Buf(nullptr, 0, 5, 0x41, false), 1u);
    uint8_t b[4];
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0x7F, false), 1u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0x7FF, false), 2u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0xFFFF, false), 3u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0x10FFFF, false), 4u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0x110000, false), 0u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, -1, false), 0u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0xD800, false), 0u);
    EXPECT_EQ(writeUTF8Buf(b, 4, 0, 0x41, true), 0u);
}

TEST(AribU32T, UnitsKeepSetCodeAndSize) {
    EXPECT_EQ(u32t({0xA4, 0xA2}), (std::vector<uint32_t>{0x10300024, 0x10300022}));
    EXPECT_EQ(u32t({0x89, 0xA4, 0xA2}), (std::vector<uint32_t>{0x00300024, 0x00300022}));
    EXPECT_EQ(u32t({0x24, 0x22}), (std::vector<uint32_t>{0x10300022}));          // kanji-set hiragana
    EXPECT_EQ(u32t({0x25, 0x22}), (std::vector<uint32_t>{0x10310022}));          // kanji-set katakana
    EXPECT_EQ(u32t({0x21, 0x3C}), (std::vector<uint32_t>{0x11020079}));          // ー through the kanji set
    EXPECT_EQ(u32t({ESC, 0x7C, 0xF9}), (std::vector<uint32_t>{0x11020079}));     // katakana ー
    EXPECT_EQ(u32t({ESC, 0x7C, 0xF7}), (std::vector<uint32_t>{0x10310077}));     // ヽ is katakana only
    EXPECT_EQ(u32t({0xF4}), (std::vector<uint32_t>{0x10300074}));                // hiragana without a table entry
    EXPECT_EQ(u32t({0x30, 0x21, 0x4F, 0x54}), (std::vector<uint32_t>{0x10393021, 0x10394F54}));
    EXPECT_EQ(u32t({0x0D, 0x0A, 0x0A, 0x0D}), (std::vector<uint32_t>{0x0101000D, 0x0101000D, 0x0101000D}));
    EXPECT_EQ(u32t({0x08, 0x09, 0x20, 0x7F, 0x89, 0x20}),
              (std::vector<uint32_t>{0x01010008, 0x01010009, 0x11010020, 0x0101007F, 0x01010020}));
    EXPECT_EQ(u32t({0x0E, 'A', ESC, 0x28, 0x49, 0x0F, 0x31, 0x60}), (std::vector<uint32_t>{0x104A0041, 0x10490031}));
    EXPECT_EQ(u32t({ESC, 0x24, 0x3B, 0x7A, 0x56, 0x30, 0x21, 0x24, 0x22}),
              (std::vector<uint32_t>{0x103B7A56, 0x10393021, 0x10300022}));
    EXPECT_EQ(u32t({ESC, 0x24, 0x3A, 0x21, 0x21, 0x21, 0x0D}), (std::vector<uint32_t>{0x103A2121}));
    EXPECT_EQ(u32t({ESC, 0x24, 0x28, 0x20, 0x40, 0x21, 0x21, ESC, 0x28, 0x20, 0x41, 0x21}),
              (std::vector<uint32_t>{0x10392129, 0x104A003F}));
    EXPECT_EQ(u32t({0x9B, 0x30, 0x20, 0x66, 0xA2}), (std::vector<uint32_t>{}));
    // A null destination only counts.
    const Bytes in = {0xA2, 0xA4, 0xA6};
    EXPECT_EQ(conv_to_U32T(nullptr, 2, in.data(), in.size()), 2u);
    uint32_t one[1] = {5};
    EXPECT_EQ(conv_to_U32T(one, 1, in.data(), 0), 0u);
    EXPECT_EQ(one[0], 0u);
}

TEST(AribU32T, BackToUnicode) {
    EXPECT_EQ(fromU32T({0x0101000D}), u"\r\n");
    EXPECT_EQ(fromU32T({0x10392330, 0x00392121, 0x1039215D}), u"0 -");
    EXPECT_EQ(fromU32T({0x10393540, 0x103B754B}), u"\u7947\U000E0100\u66D9\U000E0101");
    EXPECT_EQ(fromU32T({0x103B7A56, 0x003B7921, 0x003B7920, 0x003B7522}), u"[字][#89#01]\U00020158");
    EXPECT_EQ(fromU32T({0x103B7B28, 0x003B7C27}), u"〒年");
    EXPECT_EQ(fromU32T({0x104A005C, 0x104A007E, 0x004A0020, 0x00490031, 0x01020079, 0x003A2121}),
              u"\u00A5\u203E\uFF71\u30FC\U00020089");
    EXPECT_EQ(fromU32T({0x00300074, 0x00500021, 0x01010009}), u"\t");
    // A control unit holding a surrogate code gives nothing, in both forms.
    const std::vector<uint32_t> surrogates = {0x0101D800, 0x1101DBFF, 0x0101DC00, 0x0101DFFF, 0x0101D7FF, 0x0101E000};
    EXPECT_EQ(fromU32T(surrogates), u"\uD7FF\uE000");
    std::vector<uint8_t> bytes(32);
    const size_t len = convU32T_to_UTF8(bytes.data(), bytes.size(), surrogates.data(), surrogates.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.data()), len), "\uD7FF\uE000");

    // Round trip of a realistic text through the 32-bit form.
    testsupport::AribTextBuilder b;
    b.text(u"ニュース７　きょうの天気\n東京は晴れ、最高気温は２５度。𠮟").symbol(0x7A50).symbol(0x7D21);
    std::vector<uint32_t> units = u32t(b.bytes());
    EXPECT_EQ(fromU32T(units), u"ニュース7 きょうの天気\r\n東京は晴れ、最高気温は25度。𠮟[HV]\u322A");

    std::vector<uint8_t> out(256);
    size_t n = convU32T_to_UTF8(out.data(), out.size(), units.data(), units.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), n),
              "ニュース7 きょうの天気\r\n東京は晴れ、最高気温は25度。𠮟[HV]\u322A");
    EXPECT_EQ(convU32T_to_UTF8(nullptr, 1000, units.data(), units.size()), n);
}

TEST(AribDecode, ChangeConvStatusNeverReturnsMoreThanItGets) {
    ConvStatus st;
    initConvStatus(&st);
    const Bytes cuts[] = {{ESC}, {ESC, 0x24}, {ESC, 0x24, 0x29}, {ESC, 0x24, 0x29, 0x20}, {ESC, 0x28},
                          {ESC, 0x28, 0x20}, {0x1C, 0x41}, {0x9D, 0x29, 0x31}};
    for (const Bytes& cut : cuts) {
        Bytes exact(cut.begin(), cut.end());
        EXPECT_EQ(changeConvStatus(exact.data(), exact.size(), &st), exact.size());
    }
    EXPECT_EQ(st.bank[0], 0x39);
    EXPECT_EQ(st.bank[1], 0x4A);
    EXPECT_EQ(changeConvStatus(nullptr, 0, &st), 0u);
    EXPECT_TRUE(isControlChar(0x20));
    EXPECT_TRUE(isControlChar(0xA0));
    EXPECT_TRUE(isControlChar(0xFF));
    EXPECT_FALSE(isControlChar(0x21));
    EXPECT_FALSE(isControlChar(0xFE));
}

}  // namespace
