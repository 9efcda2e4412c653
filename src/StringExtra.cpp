#include "StringExtra.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <codecvt>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <locale.h>
#include <locale>
#include <stdexcept>
#include <system_error>

namespace {

// Deprecated in C++17 but still the standard library's own converters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
using Ucs2Converter =
    std::wstring_convert<std::codecvt_utf8<char16_t, 0x10FFFF, std::codecvt_mode(0)>, char16_t>;
using Utf16Converter = std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t>;
#pragma GCC diagnostic pop

// The text a C-string API would see: up to the first NUL.
std::string untilNul(const std::string& s) { return std::string(s.c_str()); }

std::u16string untilNul(const std::u16string& s) {
    const std::size_t end = s.find(u'\0');
    return end == std::u16string::npos ? s : s.substr(0, end);
}

// libstdc++ reads an encoded surrogate (ED A0 80) as a character and keeps
// quiet about a sequence cut short at the end; both are refused here.
template <typename Converter>
std::u16string fromBytes(Converter& converter, const std::string& utf8) {
    if (!platform::isValidUtf8(utf8)) throw std::range_error("wstring_convert::from_bytes");
    return converter.from_bytes(utf8);
}

// libstdc++ takes a high surrogate at the very end for the first half of a
// pair still to come and drops it: only a whole conversion is a success.
template <typename Converter>
std::string toBytes(Converter& converter, const std::u16string& wide) {
    std::string utf8 = converter.to_bytes(wide);
    if (converter.converted() != wide.size()) throw std::range_error("wstring_convert::to_bytes");
    return utf8;
}

std::system_error errnoError(int code) { return std::system_error(code, std::system_category()); }

// The "ANSI" encoding of the C-library alternatives. Made on first use and
// kept for the process: the locale never changes.
locale_t ansiLocale() {
    static const locale_t locale = [] {
        const locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        if (made == locale_t(0)) throw errnoError(errno);
        return made;
    }();
    return locale;
}

// Switches this thread's C-library locale for one conversion.
class ThreadLocale {
public:
    explicit ThreadLocale(locale_t locale) : previous_(uselocale(locale)) {}
    ~ThreadLocale() { uselocale(previous_); }
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    locale_t previous_;
};

// The codec mends a lone surrogate or a value beyond U+10FFFF into U+FFFD,
// so a text it changes on the way back held one: the C library's answer to
// a sequence it cannot convert.
template <typename From, typename To>
To strictly(const From& text, To (*there)(const From&), From (*back)(const To&)) {
    To converted = there(text);
    if (back(converted) != text) throw errnoError(EILSEQ);
    return converted;
}

template <typename Unit>
int printable(Unit unit) {
    return unit <= UCHAR_MAX && std::isprint(static_cast<int>(unit)) ? static_cast<int>(unit) : '.';
}

// Rows of 16 units in hex, padded with blanks where the text ended, then
// the same units as characters. A row of 16 is always followed by another,
// blank if the text ends there.
template <typename Unit>
void dumpRows(const Unit* s, int digits) {
    static const Unit empty = 0;
    if (s == nullptr) s = &empty;
    constexpr std::size_t kRow = 16;
    for (;; s += kRow) {
        std::size_t count = 0;
        for (; count < kRow && s[count] != 0; ++count) std::printf("%0*X ", digits, static_cast<unsigned>(s[count]));
        for (std::size_t i = count; i < kRow; ++i) std::printf("%*s", digits + 1, "");
        for (std::size_t i = 0; i < count; ++i) std::putchar(printable(s[i]));
        std::putchar('\n');
        if (count < kRow) return;
    }
}

}  // namespace

namespace StringExtra2 {
// UCS-2: each unit one character, so a surrogate pair does not convert.
static Ucs2Converter strconverter;
}  // namespace StringExtra2

std::u16string multi_to_wide_winapi(const std::string& multi) {
    const std::string text = untilNul(multi);
    return platform::utf8ToUtf16(text);
}

// The multi form is the file-system encoding, UTF-8 bytes: these two copy
// the bytes as they are, so a name that is not valid UTF-8 still opens.
std::string StringExtra::utf8_to_multi_winapi(const std::string& utf8) { return untilNul(utf8); }

std::string StringExtra::multi_to_utf8_winapi(const std::string& multi) { return untilNul(multi); }

std::string StringExtra::wide_to_utf8_winapi(const std::u16string& wide) {
    return platform::utf16ToUtf8(untilNul(wide));
}

std::string StringExtra::wide_to_multi_winapi(const std::u16string& wide) {
    return platform::utf16ToUtf8(untilNul(wide));
}

std::u16string StringExtra::utf8_to_wide_winapi(const std::string& utf8) {
    return platform::utf8ToUtf16(untilNul(utf8));
}

std::string StringExtra::to_string(const std::u16string& wide) { return platform::utf16ToUtf8(wide); }

std::u16string StringExtra::to_wstring(const std::string& utf8) {
    return fromBytes(StringExtra2::strconverter, utf8);
}

void StringExtra::narrow(const std::u16string& wide, std::string& out) {
    out = platform::utf16ToUtf8(untilNul(wide));
}

void StringExtra::widen(const std::string& multi, std::u16string& out) {
    const std::string text = untilNul(multi);
    std::wstring chars;
    std::mbstate_t state{};
    for (std::size_t pos = 0; pos < text.size();) {
        wchar_t c;
        std::size_t used = std::mbrtowc(&c, text.data() + pos, text.size() - pos, &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
            c = static_cast<wchar_t>(platform::kReplacementCharacter);
            used = 1;
            state = std::mbstate_t{};
        }
        chars.push_back(c);
        pos += used;
    }
    out = platform::wideToUtf16(chars);
}

std::string StringExtra::multi_to_utf8_cppapi(const std::string& multi) {
    return wide_to_utf8_cppapi(multi_to_wide_capi(multi));
}

std::string StringExtra::utf8_to_multi_cppapi(const std::string& utf8) {
    return wide_to_multi_capi(utf8_to_wide_cppapi(utf8));
}

std::string wide_to_utf8_cppapi(const std::u16string& wide) {
    Utf16Converter converter;
    return toBytes(converter, wide);
}

std::u16string utf8_to_wide_cppapi(const std::string& utf8) {
    Utf16Converter converter;
    return fromBytes(converter, utf8);
}

std::u16string multi_to_wide_capi(const std::string& multi) {
    const char* source = multi.c_str();
    std::wstring chars(std::strlen(source) + 1, L'\0');
    {
        const ThreadLocale ansi(ansiLocale());
        std::mbstate_t state{};
        const std::size_t count = std::mbsrtowcs(&chars[0], &source, chars.size(), &state);
        if (count == static_cast<std::size_t>(-1)) throw errnoError(errno);
        chars.resize(count);
    }
    return strictly(chars, &platform::wideToUtf16, &platform::utf16ToWide);
}

std::string wide_to_multi_capi(const std::u16string& wide) {
    const std::wstring chars = strictly(untilNul(wide), &platform::utf16ToWide, &platform::wideToUtf16);
    const ThreadLocale ansi(ansiLocale());
    const wchar_t* source = chars.c_str();
    std::mbstate_t state{};
    std::string bytes(chars.size() * MB_CUR_MAX + 1, '\0');
    const std::size_t count = std::wcsrtombs(&bytes[0], &source, bytes.size(), &state);
    if (count == static_cast<std::size_t>(-1)) throw errnoError(errno);
    bytes.resize(count);
    return bytes;
}

std::string StringExtra::DoubleDigit(std::string s) {
    if (s.empty()) return std::string();
    const int number = std::stoi(s, nullptr, 10);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", number);
    return buffer;
}

std::string StringExtra::replaceAll(std::string& s, std::string from, std::string to) {
    if (from.empty()) return s;
    // Built anew in one pass: replacing in place costs a move of the rest of
    // the text per hit, which a long macro list turns into minutes.
    std::string out;
    out.reserve(s.size());
    std::string::size_type start = 0;
    std::string::size_type pos;
    while ((pos = s.find(from, start)) != std::string::npos) {
        out.append(s, start, pos - start);
        out += to;
        start = pos + from.size();
    }
    if (start == 0) return s;
    out.append(s, start, std::string::npos);
    s.swap(out);
    return s;
}

std::string StringExtra::replaceOtherStr(std::string& s, std::string from, std::string to) {
    if (from.empty() || s.empty()) return s;
    const std::string::size_type pos = s.find(from);
    if (pos != std::string::npos) s.replace(pos, from.size(), to);
    return s;
}

void StringExtra::dumpLPCSTRString(const unsigned char* s) {
    std::printf("GetCommandLineA:\n");
    dumpRows(s, 2);
}

void StringExtra::dumpLPCWSTRString(const unsigned short* s) {
    std::printf("\n\nGetCommandLineW:\n");
    dumpRows(s, 4);
}

std::regex StringExtra::compileRegex(const std::string& pattern) {
    std::regex re;
    re.imbue(std::locale::classic());
#ifdef __GLIBCXX__
    // The backtracking matcher of the standard library is exponential on
    // patterns such as "(a|aa)*$" and recurses once per character; the
    // breadth-first one answers the same yes-or-no question in polynomial
    // time and bounded depth. It refuses back-references only.
    try {
        re.assign(pattern, std::regex::ECMAScript | std::regex_constants::__polynomial);
        return re;
    } catch (const std::regex_error& e) {
        if (e.code() != std::regex_constants::error_complexity) throw;
    }
#endif
    re.assign(pattern, std::regex::ECMAScript);
    return re;
}
