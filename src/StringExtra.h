// Text conversions between the "multi" form (the file-system encoding, which
// is UTF-8 here), UTF-8 and "wide" text (UTF-16), and small string helpers.
//
// The conversions never throw for bad input: ill-formed UTF-8 or a lone
// surrogate becomes U+FFFD on the way to or from UTF-16. The multi <-> UTF-8
// conversions copy the bytes unchanged up to the first NUL, so a file name
// that is not valid UTF-8 still names its file.
#pragma once

#include <cstddef>
#include <regex>
#include <string>

#include "TextCodec.h"

class StringExtra {
public:
    // Conversions that stop at the first NUL of their source.
    static std::string utf8_to_multi_winapi(const std::string& utf8);
    static std::string multi_to_utf8_winapi(const std::string& multi);
    static std::string wide_to_utf8_winapi(const std::u16string& wide);
    static std::string wide_to_multi_winapi(const std::u16string& wide);
    static std::u16string utf8_to_wide_winapi(const std::string& utf8);

    // UTF-16 -> UTF-8 over the whole source (embedded NULs kept); surrogate
    // pairs are joined.
    static std::string to_string(const std::u16string& wide);

    // UTF-16 -> the multibyte form, up to the first NUL, into `out`.
    static void narrow(const std::u16string& wide, std::string& out);

    // Fixed UTF-16 buffers (ProgInfo texts): read up to the first 0 unit or
    // the end of the buffer, never past it.
    template <std::size_t N>
    static std::string wide_to_utf8_winapi(const char16_t (&wide)[N]) {
        return wide_to_utf8_winapi(std::u16string(wide, platform::utf16Length(wide, N)));
    }
    template <std::size_t N>
    static std::string wide_to_multi_winapi(const char16_t (&wide)[N]) {
        return wide_to_multi_winapi(std::u16string(wide, platform::utf16Length(wide, N)));
    }
    template <std::size_t N>
    static std::string to_string(const char16_t (&wide)[N]) {
        return to_string(std::u16string(wide, platform::utf16Length(wide, N)));
    }
    template <std::size_t N>
    static void narrow(const char16_t (&wide)[N], std::string& out) {
        narrow(std::u16string(wide, platform::utf16Length(wide, N)), out);
    }

    // A decimal number zero-padded to two digits ("7" -> "07", "123" stays,
    // "" stays ""). Throws std::invalid_argument / std::out_of_range ("stoi")
    // for a text that does not start with a number or does not fit in int.
    static std::string DoubleDigit(std::string s);
    // Replaces every occurrence of `from` in `s` (inserted text is not
    // searched again) and returns a copy of the result.
    static std::string replaceAll(std::string& s, std::string from, std::string to);
    // Replaces the first occurrence only and returns a copy of the result.
    static std::string replaceOtherStr(std::string& s, std::string from, std::string to);

    // Compiles a pattern from the settings or the command line (ECMAScript,
    // byte-wise, classic locale) for a matcher whose time grows with the
    // text's length, not exponentially: "(a|aa)*$" against a long name must
    // not stall the night's run. A pattern with back-references needs the
    // backtracking matcher and gets it. Throws std::regex_error as std::regex.
    static std::regex compileRegex(const std::string& pattern);
};

// ANSI -> UTF-16, up to the first NUL.
std::u16string multi_to_wide_winapi(const std::string& multi);
