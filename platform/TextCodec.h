// Text conversions between UTF-8, UTF-16 and UTF-32.
//
// One hand-written codec serves the whole program, so every caller sees the
// same answer for the same bytes. None of these functions throws (apart from
// std::bad_alloc): a lone surrogate, a code point beyond U+10FFFF and every
// ill-formed UTF-8 sequence turn into U+FFFD. An ill-formed UTF-8 sequence
// gives one U+FFFD per maximal invalid subpart, as Unicode recommends, so
// "\xE3\x81" followed by "A" gives U+FFFD then 'A'. Embedded NULs are kept:
// these functions convert the whole input; callers that want C-string
// behaviour cut at the first NUL themselves.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// UTF-16 -> UTF-8. Surrogate pairs are joined into one 4-byte sequence.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
std::string utf16ToUtf8(const std::u16string& text);

// UTF-8 -> UTF-16. Code points above U+FFFF become surrogate pairs.
std::u16string utf8ToUtf16(const char* text, std::size_t length);
std::u16string utf8ToUtf16(const std::string& text);

// UTF-16 <-> UTF-32.
std::u32string utf16ToUtf32(const std::u16string& text);
std::u16string utf32ToUtf16(const std::u32string& text);

// UTF-8 <-> UTF-32.
std::u32string utf8ToUtf32(const std::string& text);
std::string utf32ToUtf8(const std::u32string& text);

// The same as UTF-32 but in std::wstring, for std::wregex and friends
// (wchar_t is 32 bits here). Imbue std::locale::classic() into the regex
// before assigning its pattern: imbue empties a regex that has one.
std::wstring utf16ToWide(const std::u16string& text);
std::u16string wideToUtf16(const std::wstring& text);
std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);

// True when the bytes are well-formed UTF-8 (no overlong forms, no encoded
// surrogates, nothing above U+10FFFF). An empty text is valid.
bool isValidUtf8(const char* text, std::size_t length);
bool isValidUtf8(const std::string& text);

// Length of a zero-terminated UTF-16 text in a fixed buffer: the units up to
// the first 0, or the whole buffer when it holds none.
std::size_t utf16Length(const char16_t* text, std::size_t capacity);

}  // namespace platform
