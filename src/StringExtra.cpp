#include "StringExtra.h"

#include <cstdio>
#include <locale>

namespace {

// The text a C-string API would see: up to the first NUL.
std::string untilNul(const std::string& s) { return std::string(s.c_str()); }

std::u16string untilNul(const std::u16string& s) {
    const std::size_t end = s.find(u'\0');
    return end == std::u16string::npos ? s : s.substr(0, end);
}

}  // namespace

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

void StringExtra::narrow(const std::u16string& wide, std::string& out) {
    out = platform::utf16ToUtf8(untilNul(wide));
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
