#include "FTPListParse.h"

#include <climits>
#include <cstring>

namespace nsFTP {

namespace {

// Listed numbers reach the date arithmetic only up to this size: far past
// any real date, yet small enough that no sum or product can overflow.
constexpr long long kDatePartLimit = 1000000000LL;
constexpr long long kSecondsPerDay = 86400;
// A year-less date lies less than this before now (ls shows the clock time
// only for the last half year; the margin takes in clock skew).
constexpr long long kGuessWindow = 350 * kSecondsPerDay;
constexpr int kGuessYears = 100;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDatePart(long long value) { return value >= -kDatePartLimit && value <= kDatePartLimit; }

// Moves `at` to the next `a` or `b`; false when the line ends first.
bool Find(const char* line, int length, int& at, char a, char b) {
    while (at < length && line[at] != a && line[at] != b) ++at;
    return at < length;
}

bool Find(const char* line, int length, int& at, char c) { return Find(line, length, at, c, c); }

// Moves `at` past blanks; false when the line ends first.
bool SkipBlanks(const char* line, int length, int& at) {
    while (at < length && line[at] == ' ') ++at;
    return at < length;
}

}  // namespace

const char* const CFTPListParser::m_Months[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                  "jul", "aug", "sep", "oct", "nov", "dec"};

CFTPListParser::CFTPListParser() : m_tmBase(0), m_lCurrentYear(-1) {
    // Where time 0 falls on this system's calendar, so that a system whose
    // clock does not count from 1970 UTC still gets 1970-based times.
    tm epoch{};
    const time_t zero = 0;
    if (gmtime_r(&zero, &epoch) != nullptr) {
        m_tmBase = -(ToTAI(epoch.tm_year + 1900LL, epoch.tm_mon, epoch.tm_mday) + epoch.tm_hour * 3600LL +
                     epoch.tm_min * 60LL + epoch.tm_sec);
    }
}

CFTPListParser::~CFTPListParser() = default;

time_t CFTPListParser::Now() const { return time(nullptr); }

bool CFTPListParser::Parse(CFTPFileStatus& ftpFileStatus, const std::string& strLineToParse) {
    ftpFileStatus.Reset();
    if (strLineToParse.size() < 2 || strLineToParse.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const char* line = strLineToParse.data();
    const int length = static_cast<int>(strLineToParse.size());
    if (IsEPLS(line, length)) return ParseEPLF(ftpFileStatus, line, length);
    if (IsUNIXStyleListing(line, length)) return ParseUNIXStyleListing(ftpFileStatus, line, length);
    if (IsMultiNetListing(line, length)) return ParseMultiNetListing(ftpFileStatus, line, length);
    if (IsMSDOSListing(line, length)) return ParseMSDOSListing(ftpFileStatus, line, length);
    return false;
}

bool CFTPListParser::IsEPLS(const char* pszLine, int length) const { return length > 0 && pszLine[0] == '+'; }

bool CFTPListParser::IsUNIXStyleListing(const char* pszLine, int length) const {
    return length > 0 && std::strchr("bcdlps-", pszLine[0]) != nullptr && pszLine[0] != '\0';
}

bool CFTPListParser::IsMultiNetListing(const char* pszLine, int length) const {
    return length > 0 && std::memchr(pszLine, ';', static_cast<std::size_t>(length)) != nullptr;
}

bool CFTPListParser::IsMSDOSListing(const char* pszLine, int length) const {
    return length > 0 && IsDigit(pszLine[0]);
}

// "+" facts separated by "," up to a TAB, then the name.
bool CFTPListParser::ParseEPLF(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length) {
    if (length < 2 || pszLine[0] != '+') return false;
    int factStart = 1;
    for (int at = 1; at < length; ++at) {
        if (pszLine[at] != ',' && pszLine[at] != '\t') continue;
        ReadEPLFFact(ftpFileStatus, pszLine + factStart, at - factStart);
        if (pszLine[at] == '\t') {
            if (at + 1 == length) return false;  // no name
            ftpFileStatus.Name().assign(pszLine + at + 1, static_cast<std::size_t>(length - at - 1));
            return true;
        }
        factStart = at + 1;
    }
    return false;
}

void CFTPListParser::ReadEPLFFact(CFTPFileStatus& ftpFileStatus, const char* pszFact, int length) const {
    if (length <= 0) return;
    long long value = 0;
    switch (pszFact[0]) {
        case 'i':
            ftpFileStatus.IDType() = CFTPFileStatus::idFull;
            ftpFileStatus.ID().assign(pszFact + 1, static_cast<std::size_t>(length - 1));
            break;
        case 'm':
            if (!GetLong(pszFact + 1, length - 1, value)) value = 0;
            ftpFileStatus.MTimeType() = CFTPFileStatus::mttLocal;
            ftpFileStatus.MTime() = static_cast<time_t>(value) + m_tmBase;
            break;
        case 'r':
            ftpFileStatus.RetrPossible() = true;
            break;
        case 's':
            ftpFileStatus.SizeType() = CFTPFileStatus::stBinary;
            ftpFileStatus.Size() = GetLong(pszFact + 1, length - 1, value) ? value : -1;
            break;
        case '/':
            ftpFileStatus.CwdPossible() = true;
            break;
        default:
            break;
    }
}

// "-rw-r--r-- 1 owner group 2048 Mar 3 14:05 name", with or without the
// link count or the group, with a year in place of the clock time.
bool CFTPListParser::ParseUNIXStyleListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length) {
    if (length < 2) return false;
    switch (pszLine[0]) {
        case 'd': ftpFileStatus.CwdPossible() = true; break;
        case 'l': ftpFileStatus.CwdPossible() = true; ftpFileStatus.RetrPossible() = true; break;
        case '-': ftpFileStatus.RetrPossible() = true; break;
        case 'b': case 'c': case 'p': case 's': break;
        default: return false;
    }
    int state = 1;
    int start = 0;
    long long size = -1;
    long long month = 0;
    long long mday = 0;
    // A number where the group stands might be the size of a listing
    // without group; the next number tells which it was.
    std::string numericGroup;
    bool dayKnown = false;
    for (int at = 1; at < length && state != 8; ++at) {
        if (pszLine[at] != ' ' || pszLine[at - 1] == ' ') continue;
        const char* field = pszLine + start;
        const int fieldLength = at - start;
        switch (state) {
            case 1:
                ftpFileStatus.Attributes().assign(field, static_cast<std::size_t>(fieldLength));
                state = 2;
                break;
            case 2:
                ftpFileStatus.Link().assign(field, static_cast<std::size_t>(fieldLength));
                state = (fieldLength == 6 && field[0] == 'f') ? 4 : 3;
                break;
            case 3:
                ftpFileStatus.UID().assign(field, static_cast<std::size_t>(fieldLength));
                state = 4;
                break;
            case 4:
                if (GetLong(field, fieldLength, size)) {
                    numericGroup.assign(field, static_cast<std::size_t>(fieldLength));
                } else {
                    size = -1;
                    ftpFileStatus.GID().assign(field, static_cast<std::size_t>(fieldLength));
                }
                state = 5;
                break;
            case 5: {
                const int found = GetMonth(field, fieldLength);
                if (found >= 0) {
                    month = found;
                    state = 6;
                    break;
                }
                if (!numericGroup.empty()) ftpFileStatus.GID().swap(numericGroup);
                numericGroup.clear();
                if (!GetLong(field, fieldLength, size)) size = -1;
                break;
            }
            case 6:
                dayKnown = GetLong(field, fieldLength, mday);
                state = 7;
                break;
            case 7: {
                long long year = 0;
                long long hour = 0;
                long long minute = 0;
                // "14:05" or "9:05": a clock time, the year guessed
                int colon = 0;
                if (fieldLength == 5 && field[2] == ':') colon = 2;
                if (fieldLength == 4 && field[1] == ':') colon = 1;
                // A date field that is no number leaves the time unknown.
                if (colon > 0) {
                    if (dayKnown && GetLong(field, colon, hour) &&
                        GetLong(field + colon + 1, fieldLength - colon - 1, minute)) {
                        SetRemoteTime(ftpFileStatus, CFTPFileStatus::mttRemoteMinute, true, 0, month, mday, hour,
                                      minute);
                    }
                } else if (fieldLength < 4) {
                    return false;
                } else if (dayKnown && GetLong(field, fieldLength, year)) {
                    SetRemoteTime(ftpFileStatus, CFTPFileStatus::mttRemoteDay, false, year, month, mday, 0, 0);
                }
                ftpFileStatus.Name().assign(pszLine + at + 1, static_cast<std::size_t>(length - at - 1));
                state = 8;
                break;
            }
            default:
                break;
        }
        start = at + 1;
        SkipBlanks(pszLine, length, start);
    }
    if (state != 8) return false;
    ftpFileStatus.Size() = size;
    ftpFileStatus.SizeType() = CFTPFileStatus::stBinary;

    std::string& name = ftpFileStatus.Name();
    if (pszLine[0] == 'l' && name.size() > 3) {
        const std::size_t arrow = name.find(" -> ");
        if (arrow != std::string::npos) name.erase(arrow);
    }
    if ((pszLine[1] == '[' || pszLine[1] == ' ') && name.size() > 3 && name.compare(0, 3, "   ") == 0) {
        name.erase(0, 3);
    }
    return !name.empty();
}

// "LOGS.DIR;1  1  8-SEP-2005 16:09 [ADMIN] (RWE,RWE,RE,RE)"
bool CFTPListParser::ParseMultiNetListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length) {
    int at = 0;
    if (!Find(pszLine, length, at, ';') || at == 0) return false;
    std::string& name = ftpFileStatus.Name();
    name.assign(pszLine, static_cast<std::size_t>(at));
    if (name.size() >= 5 && name.compare(name.size() - 4, 4, ".DIR") == 0) {
        name.resize(name.size() - 4);
        ftpFileStatus.CwdPossible() = true;
    } else {
        ftpFileStatus.RetrPossible() = true;
    }
    // version, blanks, size, blanks
    if (!Find(pszLine, length, at, ' ') || !SkipBlanks(pszLine, length, at)) return false;
    if (!Find(pszLine, length, at, ' ') || !SkipBlanks(pszLine, length, at)) return false;
    long long mday = 0;
    long long year = 0;
    long long hour = 0;
    long long minute = 0;
    bool timeKnown = true;  // every date and clock field a number
    if (!GetLongUpTo(pszLine, length, at, '-', '-', mday, &timeKnown)) return false;
    int end = at;
    if (!Find(pszLine, length, end, '-')) return false;
    const int month = GetMonth(pszLine + at, end - at);
    if (month < 0) return false;
    at = end + 1;
    if (!GetLongUpTo(pszLine, length, at, ' ', ' ', year, &timeKnown) || !SkipBlanks(pszLine, length, at)) {
        return false;
    }
    if (!GetLongUpTo(pszLine, length, at, ':', ':', hour, &timeKnown)) return false;
    if (!GetLongUpTo(pszLine, length, at, ':', ' ', minute, &timeKnown)) return false;
    if (timeKnown) {
        SetRemoteTime(ftpFileStatus, CFTPFileStatus::mttRemoteMinute, false, year, month, mday, hour, minute);
    }
    return true;
}

// "03-15-05  08:30PM       <DIR>          archive"
// "12-25-99  12:30AM                  100 a.txt"
bool CFTPListParser::ParseMSDOSListing(CFTPFileStatus& ftpFileStatus, const char* pszLine, int length) {
    if (length < 1 || !IsDigit(pszLine[0])) return false;
    long long month = 0;
    long long mday = 0;
    long long year = 0;
    long long hour = 0;
    long long minute = 0;
    bool timeKnown = true;  // every date and clock field a number
    int at = 0;
    if (!GetLongUpTo(pszLine, length, at, '-', '-', month, &timeKnown)) return false;
    --month;
    if (!GetLongUpTo(pszLine, length, at, '-', '-', mday, &timeKnown)) return false;
    if (!GetLongUpTo(pszLine, length, at, ' ', ' ', year, &timeKnown)) return false;
    if (year < 50) year += 2000;
    if (year < 1000) year += 1900;
    if (!SkipBlanks(pszLine, length, at)) return false;
    if (!GetLongUpTo(pszLine, length, at, ':', ':', hour, &timeKnown)) return false;
    // The minutes end at a blank or at the A or P of AM/PM, which may also
    // follow one blank; without it the clock is a 24-hour one.
    int end = at;
    while (end < length && pszLine[end] != ' ' && pszLine[end] != 'A' && pszLine[end] != 'P') ++end;
    if (end == length) return false;
    timeKnown = GetLong(pszLine + at, end - at, minute) && end > at && timeKnown;
    at = end;
    if (pszLine[at] == ' ' && at + 1 < length && (pszLine[at + 1] == 'A' || pszLine[at + 1] == 'P')) ++at;
    if (pszLine[at] == 'A' || pszLine[at] == 'P') {
        if (hour == 12) hour = 0;
        if (pszLine[at] == 'P') hour += 12;
        ++at;
        if (at < length && pszLine[at] == 'M') ++at;
    }
    if (!SkipBlanks(pszLine, length, at)) return false;
    end = at;
    if (!Find(pszLine, length, end, ' ')) return false;
    if (pszLine[at] == '<') {
        ftpFileStatus.CwdPossible() = true;
    } else {
        long long size = 0;
        ftpFileStatus.Size() = GetLong(pszLine + at, end - at, size) ? size : -1;
        ftpFileStatus.SizeType() = CFTPFileStatus::stBinary;
        ftpFileStatus.RetrPossible() = true;
    }
    at = end;
    if (!SkipBlanks(pszLine, length, at)) return false;
    ftpFileStatus.Name().assign(pszLine + at, static_cast<std::size_t>(length - at));
    if (timeKnown) {
        SetRemoteTime(ftpFileStatus, CFTPFileStatus::mttRemoteMinute, false, year, month, mday, hour, minute);
    }
    return true;
}

bool CFTPListParser::CheckMonth(const char* pszBuffer, const char* pszMonthName) const {
    for (int i = 0; i < 3; ++i) {
        if (Lower(pszBuffer[i]) != pszMonthName[i]) return false;
    }
    return true;
}

int CFTPListParser::GetMonth(const char* pszBuffer, int length) const {
    if (length != 3) return -1;
    for (int month = 0; month < 12; ++month) {
        if (CheckMonth(pszBuffer, m_Months[month])) return month;
    }
    return -1;
}

// As strtoul reads a number: leading white space, a sign, decimal digits;
// true only when nothing is left over. A number below 0 or beyond the
// 64-bit range is refused (with 0) instead of wrapping around.
bool CFTPListParser::GetLong(const char* pszLong, int length, long long& lResult) const {
    int at = 0;
    while (at < length && IsSpace(pszLong[at])) ++at;
    bool negative = false;
    if (at < length && (pszLong[at] == '+' || pszLong[at] == '-')) negative = pszLong[at++] == '-';
    const int digits = at;
    long long value = 0;
    bool tooLarge = false;
    for (; at < length && IsDigit(pszLong[at]); ++at) {
        const int digit = pszLong[at] - '0';
        if (value > (LLONG_MAX - digit) / 10) tooLarge = true;
        else value = value * 10 + digit;
    }
    if (at == digits) {  // no number at all: everything is left over
        lResult = 0;
        return length == 0;
    }
    if (tooLarge || (negative && value != 0)) {
        lResult = 0;
        return false;
    }
    lResult = value;
    return at == length;
}

bool CFTPListParser::GetLongUpTo(const char* pszLine, int length, int& at, char a, char b, long long& lResult,
                                 bool* pfNumber) const {
    int end = at;
    if (!Find(pszLine, length, end, a, b)) return false;
    if (!GetLong(pszLine + at, end - at, lResult) || end == at) {
        if (pfNumber != nullptr) *pfNumber = false;
    }
    at = end + 1;
    return true;
}

long long CFTPListParser::GetYear(time_t time) const {
    tm parts{};
    if (gmtime_r(&time, &parts) == nullptr) return 1970;
    return parts.tm_year + 1900LL;
}

// Days counted in 400-year cycles from a March-based year, so leap days
// fall at the end of each cycle; 64-bit throughout.
time_t CFTPListParser::ToTAI(long long lYear, long long lMonth, long long lMDay) const {
    if (lMonth >= 2) {
        lMonth -= 2;
    } else {
        lMonth += 10;
        --lYear;
    }
    long long day = ((lMDay - 1) * 10 + 5 + 306 * lMonth) / 10;
    if (day == 365) {
        lYear -= 3;
        day = 1460;
    } else {
        day += 365 * (lYear % 4);
    }
    lYear /= 4;
    day += 1461 * (lYear % 25);
    lYear /= 25;
    if (day == 36524) {
        lYear -= 3;
        day = 146096;
    } else {
        day += 36524 * (lYear % 4);
    }
    lYear /= 4;
    day += 146097 * (lYear - 5) + 11017;
    return static_cast<time_t>(day * kSecondsPerDay);
}

time_t CFTPListParser::GuessTAI(long long lMonth, long long lMDay) {
    const time_t now = Now() - m_tmBase;
    if (m_lCurrentYear == -1) m_lCurrentYear = GetYear(now);
    time_t guess = 0;
    for (long long year = m_lCurrentYear - 1; year < m_lCurrentYear - 1 + kGuessYears; ++year) {
        guess = ToTAI(year, lMonth, lMDay);
        if (static_cast<long long>(now) - guess < kGuessWindow) break;
    }
    return guess;
}

void CFTPListParser::SetRemoteTime(CFTPFileStatus& ftpFileStatus, CFTPFileStatus::T_enMTimeType type,
                                   bool fGuessYear, long long lYear, long long lMonth, long long lMDay,
                                   long long lHour, long long lMinute) {
    // A listed number too large for any date leaves the time unknown.
    if (!IsDatePart(lYear) || !IsDatePart(lMonth) || !IsDatePart(lMDay) || !IsDatePart(lHour) ||
        !IsDatePart(lMinute)) {
        return;
    }
    const time_t day = fGuessYear ? GuessTAI(lMonth, lMDay) : ToTAI(lYear, lMonth, lMDay);
    ftpFileStatus.MTimeType() = type;
    ftpFileStatus.MTime() = day + static_cast<time_t>(lHour * 3600 + lMinute * 60) + m_tmBase;
}

}  // namespace nsFTP
