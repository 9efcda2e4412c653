#include "TextCodec.h"

namespace platform {
namespace {

bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// Decodes one code point at `i`, advancing `i` past it. An ill-formed
// sequence consumes its maximal invalid subpart (at least one byte) and gives
// U+FFFD, so decoding always makes progress and never reads past `length`.
char32_t decodeUtf8(const unsigned char* s, std::size_t length, std::size_t& i) {
    const unsigned char b0 = s[i++];
    if (b0 < 0x80) return b0;

    int trailing;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        trailing = 1; cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        trailing = 2; cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;       // overlong
        else if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        trailing = 3; cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;       // overlong
        else if (b0 == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
        return kReplacementCharacter;    // stray continuation, C0, C1, F5..FF
    }

    for (int k = 0; k < trailing; ++k) {
        if (i >= length) return kReplacementCharacter;
        const unsigned char b = s[i];
        const unsigned char min = (k == 0) ? lo : 0x80;
        const unsigned char max = (k == 0) ? hi : 0xBF;
        if (b < min || b > max) return kReplacementCharacter;  // b starts the next sequence
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || isSurrogate(cp)) cp = kReplacementCharacter;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp > 0x10FFFF || isSurrogate(cp)) cp = kReplacementCharacter;
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one code point of UTF-16 at `i`, joining a surrogate pair.
char32_t decodeUtf16(const char16_t* s, std::size_t length, std::size_t& i) {
    const char32_t u = s[i++];
    if (!isSurrogate(u)) return u;
    if (isHighSurrogate(u) && i < length && isLowSurrogate(s[i])) {
        const char32_t low = s[i++];
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacementCharacter;
}

template <typename Wide>
Wide utf16ToWideString(const std::u16string& text) {
    Wide out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<typename Wide::value_type>(decodeUtf16(text.data(), text.size(), i)));
    return out;
}

template <typename Wide>
Wide utf8ToWideString(const std::string& text) {
    Wide out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(static_cast<typename Wide::value_type>(decodeUtf8(s, text.size(), i)));
    return out;
}

// Code points (UTF-32 or wide) out as UTF-8 or UTF-16; `append` turns the
// invalid ones into U+FFFD.
template <typename Out, typename CodePoints>
Out fromCodePoints(const CodePoints& text, void (*append)(Out&, char32_t)) {
    Out out;
    out.reserve(text.size());
    for (const auto c : text) append(out, static_cast<char32_t>(c));
    return out;
}

}  // namespace

std::string utf16ToUtf8(const char16_t* text, std::size_t length) {
    std::string out;
    if (text == nullptr) return out;
    out.reserve(length * 3);
    for (std::size_t i = 0; i < length;) appendUtf8(out, decodeUtf16(text, length, i));
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) { return utf16ToUtf8(text.data(), text.size()); }

std::u16string utf8ToUtf16(const char* text, std::size_t length) {
    std::u16string out;
    if (text == nullptr) return out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) appendUtf16(out, decodeUtf8(s, length, i));
    return out;
}

std::u16string utf8ToUtf16(const std::string& text) { return utf8ToUtf16(text.data(), text.size()); }

std::u32string utf16ToUtf32(const std::u16string& text) { return utf16ToWideString<std::u32string>(text); }

std::u16string utf32ToUtf16(const std::u32string& text) { return fromCodePoints(text, appendUtf16); }

std::u32string utf8ToUtf32(const std::string& text) { return utf8ToWideString<std::u32string>(text); }

std::string utf32ToUtf8(const std::u32string& text) { return fromCodePoints(text, appendUtf8); }

std::wstring utf16ToWide(const std::u16string& text) { return utf16ToWideString<std::wstring>(text); }

std::u16string wideToUtf16(const std::wstring& text) { return fromCodePoints(text, appendUtf16); }

std::wstring utf8ToWide(const std::string& text) { return utf8ToWideString<std::wstring>(text); }

std::string wideToUtf8(const std::wstring& text) { return fromCodePoints(text, appendUtf8); }

bool isValidUtf8(const char* text, std::size_t length) {
    if (text == nullptr) return length == 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < length;) {
        const std::size_t start = i;
        const char32_t cp = decodeUtf8(s, length, i);
        // U+FFFD written out literally is three bytes; a decoding failure
        // consumes fewer or starts with something other than EF BF BD.
        if (cp == kReplacementCharacter &&
            !(i - start == 3 && s[start] == 0xEF && s[start + 1] == 0xBF && s[start + 2] == 0xBD))
            return false;
    }
    return true;
}

bool isValidUtf8(const std::string& text) { return isValidUtf8(text.data(), text.size()); }

std::size_t utf16Length(const char16_t* text, std::size_t capacity) {
    if (text == nullptr) return 0;
    std::size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    return n;
}

}  // namespace platform
