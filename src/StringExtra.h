// Text conversions between the "multi" form (the file-system encoding, which
// is UTF-8 here), UTF-8 and "wide" text (UTF-16), and small string helpers.
//
// The conversions the program runs on (the _winapi ones, to_string, narrow,
// widen) never throw for bad input: ill-formed UTF-8 or a lone surrogate
// becomes U+FFFD on the way to or from UTF-16. The multi <-> UTF-8
// conversions copy the bytes unchanged up to the first NUL, so a file name
// that is not valid UTF-8 still names its file.
//
// The _cppapi and _capi alternatives give the same text on valid input but
// refuse bad input: the standard-library ones (_cppapi, to_wstring) with
// std::range_error, the C-library ones (_capi) with std::system_error from
// errno (EILSEQ).
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
    // pairs are joined. It keeps the codec's never-throw behaviour: channel
    // names beyond the BMP reach it as surrogate pairs, which a UCS-2
    // converter would refuse in the middle of the channel-file maker.
    static std::string to_string(const std::u16string& wide);
    // UTF-8 -> UTF-16 over the whole source, one unit per character (UCS-2):
    // a character beyond U+FFFF, like any text that is not UTF-8, throws
    // std::range_error.
    static std::u16string to_wstring(const std::string& utf8);

    // UTF-16 -> the multi form (UTF-8), up to the first NUL, into `out`. Not
    // the C library's LC_CTYPE: the calendar look-up compares the result
    // with the channel file's UTF-8 names, and under "C" or a non-UTF-8
    // locale every Japanese channel name would fail to convert or to match.
    static void narrow(const std::u16string& wide, std::string& out);
    // The C library's current LC_CTYPE multibyte text (the user's locale
    // once a directory search has run) -> UTF-16, up to the first NUL, into
    // `out`. A byte that starts no complete character gives one U+FFFD and
    // the conversion goes on with the next byte.
    static void widen(const std::string& multi, std::u16string& out);

    // ANSI <-> UTF-8 through UTF-16 by way of the C and standard libraries;
    // they stop at the first NUL, as their C-library step does.
    static std::string multi_to_utf8_cppapi(const std::string& multi);
    static std::string utf8_to_multi_cppapi(const std::string& utf8);

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

    // Hex dumps of a NUL-terminated command line to standard output: 16 units
    // a row, then the row's printable units ('.' for the others); a null
    // pointer dumps as an empty string.
    static void dumpLPCSTRString(const unsigned char* s);
    static void dumpLPCWSTRString(const unsigned short* s);

    // Compiles a pattern from the settings or the command line (ECMAScript,
    // byte-wise, classic locale) for a matcher whose time grows with the
    // text's length, not exponentially: "(a|aa)*$" against a long name must
    // not stall the night's run. A pattern with back-references needs the
    // backtracking matcher and gets it. Throws std::regex_error as std::regex.
    static std::regex compileRegex(const std::string& pattern);
};

// ANSI -> UTF-16, up to the first NUL.
std::u16string multi_to_wide_winapi(const std::string& multi);

// UTF-16 <-> UTF-8 over the whole source, surrogate pairs joined; bad input
// throws std::range_error.
std::string wide_to_utf8_cppapi(const std::u16string& wide);
std::u16string utf8_to_wide_cppapi(const std::string& utf8);

// ANSI <-> UTF-16 by the C library's multibyte functions in the "C.UTF-8"
// locale, up to the first NUL; bad input throws std::system_error (EILSEQ).
std::u16string multi_to_wide_capi(const std::string& multi);
std::string wide_to_multi_capi(const std::u16string& wide);
