// Listing lines of the four known formats, cut at every place, with the
// clock fixed just after New Year; then the lines real servers send.
#include "FTPListParse.h"
#include "FtpTestServer.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using nsFTP::CFTPFileStatus;
using nsFTP::CFTPListParser;

namespace {

time_t utc(int year, int month, int day, int hour = 0, int minute = 0) {
    tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    return timegm(&parts);
}

const time_t kJustAfterNewYear = utc(2027, 1, 2, 10, 0);

// The parser with its clock standing still, and its format parsers in reach
// so that they can be handed buffers without a closing zero.
class FixedClockParser : public CFTPListParser {
public:
    explicit FixedClockParser(time_t now) : m_now(now) {}
    using CFTPListParser::ParseEPLF;
    using CFTPListParser::ParseMSDOSListing;
    using CFTPListParser::ParseMultiNetListing;
    using CFTPListParser::ParseUNIXStyleListing;

protected:
    time_t Now() const override { return m_now; }

private:
    time_t m_now;
};

constexpr int kCwd = 1;
constexpr int kRetr = 2;
constexpr auto kUnknown = CFTPFileStatus::mttUnknown;
constexpr auto kLocal = CFTPFileStatus::mttLocal;
constexpr auto kMinute = CFTPFileStatus::mttRemoteMinute;
constexpr auto kDay = CFTPFileStatus::mttRemoteDay;

struct LineCase {
    const char* line;
    bool parses;
    const char* name;
    int flags;
    long long size;
    CFTPFileStatus::T_enMTimeType timeType;
    time_t mtime;
    const char* owner;
    const char* group;
    const char* link;
};

const LineCase kLines[] = {
    // EPLF
    {"+i42.7,m1000000000,r,s1024,\tnotes.txt", true, "notes.txt", kRetr, 1024, kLocal, 1000000000, "", "", ""},
    {"+/,m4102444800,\tfuture dir", true, "future dir", kCwd, -1, kLocal, utc(2100, 1, 1), "", "", ""},
    {"+s5368709120,\tfive gig", true, "five gig", 0, 5368709120LL, kUnknown, 0, "", "", ""},
    {"+s18446744073709551616,r,\ttoo big", true, "too big", kRetr, -1, kUnknown, 0, "", "", ""},
    {"+s-5,mx,\tnegative", true, "negative", 0, -1, kLocal, 0, "", "", ""},
    {"+r,s10,no tab", false, "", 0, 0, kUnknown, 0, "", "", ""},
    {"+r,\t", false, "", 0, 0, kUnknown, 0, "", "", ""},
    {"+\t", false, "", 0, 0, kUnknown, 0, "", "", ""},
    // UNIX
    {"-rw-r--r-- 1 owner1 group1 2048 Mar 3 14:05 data.bin", true, "data.bin", kRetr, 2048, kMinute,
     utc(2026, 3, 3, 14, 5), "owner1", "group1", "1"},
    {"lrwxrwxrwx 1 owner1 group1 7 Jan 1 2001 bin -> usr/bin", true, "bin", kCwd | kRetr, 7, kDay, utc(2001, 1, 1),
     "owner1", "group1", "1"},
    {"drwxrwxrwx folder 0 Jun 5 2003 docs", true, "docs", kCwd, 0, kDay, utc(2003, 6, 5), "", "", "folder"},
    {"-rw-r--r-- 1 owner1 group1 10 Mar 3 1:5 x", false, "", kRetr, 0, kUnknown, 0, "", "", ""},
    {"-rw-r--r--    1 0        0            1234 Dec 31 23:59 bytes 1234.txt", true, "bytes 1234.txt", kRetr, 1234,
     kMinute, utc(2026, 12, 31, 23, 59), "0", "0", "1"},
    {"-rw-r--r-- 1 owner 12 Jan 1 2020 no group", true, "no group", kRetr, 12, kDay, utc(2020, 1, 1), "owner", "", "1"},
    {"-rw-r--r-- 2 u g 5368709120 Mar 3 2040 big", true, "big", kRetr, 5368709120LL, kDay, utc(2040, 3, 3), "u", "g",
     "2"},
    {"drwxr-xr-x 2 u g 4096 JAN 1 2020 a dir  with  blanks", true, "a dir  with  blanks", kCwd, 4096, kDay,
     utc(2020, 1, 1), "u", "g", "2"},
    {"lrwxrwxrwx 1 u g 4 Jan 1 2020 a b -> c -> d", true, "a b", kCwd | kRetr, 4, kDay, utc(2020, 1, 1), "u", "g", "1"},
    {"- [RWCEAFMS] user 100 Jan 1 2020    netware", true, "netware", kRetr, 100, kDay, utc(2020, 1, 1), "user", "",
     "[RWCEAFMS]"},
    {"prw-r--r-- 1 u g 0 Jan 1 2020 fifo", true, "fifo", 0, 0, kDay, utc(2020, 1, 1), "u", "g", "1"},
    {"-rw-r--r-- 1 u g 1 Jan 99999999999 2020 silly day", true, "silly day", kRetr, 1, kUnknown, 0, "u", "g", "1"},
    {"-rw-r--r-- 1 u g 1 Jan 99999999999999999999 2020 no day", true, "no day", kRetr, 1, kUnknown, 0, "u", "g", "1"},
    {"-rw-r--r-- 1 o g 1 Jan 99999999999999999999 12:00 no day", true, "no day", kRetr, 1, kUnknown, 0, "o", "g", "1"},
    {"-rw-r--r-- 1 u g 1 Jan 1 2020", false, "", kRetr, 0, kUnknown, 0, "", "", ""},
    {"-rwxr-sr-x   2 45854    200           51x May  4  2000 ", false, "", kRetr, 0, kUnknown, 0, "", "", ""},
    {"total 12", false, "", 0, 0, kUnknown, 0, "", "", ""},
    // MultiNet
    {"LOGS.DIR;1  1  8-SEP-2005 16:09 [ADMIN] (RWE,RWE,RE,RE)", true, "LOGS", kCwd, -1, kMinute,
     utc(2005, 9, 8, 16, 9), "", "", ""},
    {"README.TXT;3  12  1-jan-2040 08:00 [ADMIN] (RWE)", true, "README.TXT", kRetr, -1, kMinute, utc(2040, 1, 1, 8, 0),
     "", "", ""},
    {"X.DIR;1  1  8-XYZ-2005 16:09 [A]", false, "", kCwd, 0, kUnknown, 0, "", "", ""},
    {"LOGS.DIR;1  1  8-SEP-2005 16:09", false, "", kCwd, 0, kUnknown, 0, "", "", ""},
    {";1  1  8-SEP-2005 16:09 [ADMIN] (RWE)", false, "", kRetr, 0, kUnknown, 0, "", "", ""},
    {"A.TXT;1  1  99999999999999999999-SEP-2005 16:09 [A]", true, "A.TXT", kRetr, -1, kUnknown, 0, "", "", ""},
    // MS-DOS
    {"03-15-05  08:30PM       <DIR>          archive", true, "archive", kCwd, -1, kMinute, utc(2005, 3, 15, 20, 30),
     "", "", ""},
    {"12-25-99  12:30AM                  100 a.txt", true, "a.txt", kRetr, 100, kMinute, utc(1999, 12, 25, 0, 30), "",
     "", ""},
    {"01-01-40  12:00PM           5368709120 with blanks.bin", true, "with blanks.bin", kRetr, 5368709120LL, kMinute,
     utc(2040, 1, 1, 12, 0), "", "", ""},
    {"03-15-05  08:30PM       <DIR>", false, "", kCwd, 0, kUnknown, 0, "", "", ""},
    {"12-25-99  12:05 PM                 100 noon.txt", true, "noon.txt", kRetr, 100, kMinute,
     utc(1999, 12, 25, 12, 5), "", "", ""},
    {"09-13-10  13:08       <DIR>          Program Files", true, "Program Files", kCwd, -1, kMinute,
     utc(2010, 9, 13, 13, 8), "", "", ""},
    {"99999999999999999999-1-1 1:1PM 1 x", true, "x", kRetr, 1, kUnknown, 0, "", "", ""},
    {"12-25-99  12:3O AM                 100 a.txt", true, "a.txt", kRetr, 100, kUnknown, 0, "", "", ""},
    {"12-25-99  12:PM  100 a.txt", true, "a.txt", kRetr, 100, kUnknown, 0, "", "", ""},
    {"12--99  12:05PM  100 b.txt", true, "b.txt", kRetr, 100, kUnknown, 0, "", "", ""},
    {"09-13-10  12:08  <DIR>  Noon", true, "Noon", kCwd, -1, kMinute, utc(2010, 9, 13, 12, 8), "", "", ""},
};

TEST(ListParse, EveryFormat) {
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(c.line);
        FixedClockParser parser(kJustAfterNewYear);
        CFTPFileStatus status;
        ASSERT_EQ(parser.Parse(status, c.line), c.parses);
        if (!c.parses) continue;
        EXPECT_EQ(status.Name(), c.name);
        EXPECT_EQ(status.IsCwdPossible(), (c.flags & kCwd) != 0);
        EXPECT_EQ(status.IsRetrPossible(), (c.flags & kRetr) != 0);
        EXPECT_EQ(status.Size(), c.size);
        EXPECT_EQ(status.MTimeType(), c.timeType);
        EXPECT_EQ(status.MTime(), c.mtime);
        EXPECT_EQ(status.UID(), c.owner);
        EXPECT_EQ(status.GID(), c.group);
        EXPECT_EQ(status.Link(), c.link);
    }
}

TEST(ListParse, EplfIdentifierAndUnixAttributes) {
    FixedClockParser parser(kJustAfterNewYear);
    CFTPFileStatus status;
    ASSERT_TRUE(parser.Parse(status, "+i42.7,m1000000000,r,s1024,\tnotes.txt"));
    EXPECT_EQ(status.IDType(), CFTPFileStatus::idFull);
    EXPECT_EQ(status.ID(), "42.7");
    EXPECT_EQ(status.SizeType(), CFTPFileStatus::stBinary);
    ASSERT_TRUE(parser.Parse(status, "-rw-r--r-- 1 owner1 group1 2048 Mar 3 14:05 data.bin"));
    EXPECT_EQ(status.Attributes(), "-rw-r--r--");
    EXPECT_EQ(status.IDType(), CFTPFileStatus::idUnknown);
    // A refused line leaves nothing of the last one behind.
    EXPECT_FALSE(parser.Parse(status, "?"));
    EXPECT_TRUE(status == CFTPFileStatus());
}

// Dates without a year: the last 350 days or, failing that, the future.
TEST(ListParse, YearGuessAroundNewYear) {
    struct Guess {
        time_t now;
        const char* date;
        time_t expected;
    };
    const Guess guesses[] = {
        {kJustAfterNewYear, "Dec 31 23:59", utc(2026, 12, 31, 23, 59)},
        {kJustAfterNewYear, "Jan 01 00:00", utc(2027, 1, 1)},
        {kJustAfterNewYear, "Jan 17 08:00", utc(2027, 1, 17, 8, 0)},   // 15 days ahead
        {kJustAfterNewYear, "Feb 02 12:00", utc(2026, 2, 2, 12, 0)},   // a month ahead
        {utc(2026, 12, 31, 23, 0), "Jan 01 00:30", utc(2027, 1, 1, 0, 30)},
        {utc(2026, 12, 31, 23, 0), "Jan 20 00:30", utc(2026, 1, 20, 0, 30)},
        {utc(2045, 6, 1), "Mar 03 14:05", utc(2045, 3, 3, 14, 5)},
        {utc(2044, 3, 10), "Feb 29 10:00", utc(2044, 2, 29, 10, 0)},
        {utc(2100, 3, 10), "Feb 28 10:00", utc(2100, 2, 28, 10, 0)},
    };
    for (const Guess& g : guesses) {
        SCOPED_TRACE(g.date);
        FixedClockParser parser(g.now);
        CFTPFileStatus status;
        ASSERT_TRUE(parser.Parse(status, std::string("-rw-r--r-- 1 u g 1 ") + g.date + " f"));
        EXPECT_EQ(status.MTime(), g.expected);
    }
}

// Listed dates far on both sides of 2038 land on the calendar's own days.
TEST(ListParse, YearFormMatchesTheCalendar) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    FixedClockParser parser(kJustAfterNewYear);
    for (int year = 1890; year <= 2410; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day : {1, 28, 29, 30, 31}) {
                const time_t expected = utc(year, month, day);
                tm back{};
                gmtime_r(&expected, &back);
                if (back.tm_mday != day) continue;  // no such day in that month
                const std::string line = "-rw-r--r-- 1 u g 1 " + std::string(months[month - 1]) + " " +
                                         std::to_string(day) + " " + std::to_string(year) + " f";
                CFTPFileStatus status;
                ASSERT_TRUE(parser.Parse(status, line)) << line;
                ASSERT_EQ(status.MTime(), expected) << line;
            }
        }
    }
}

// Every prefix of every sample, in a buffer that ends exactly there: each
// parser either refuses it or names an entry taken from within it, and the
// sanitizer build catches any read past its end.
TEST(ListParse, CutAtEveryPlace) {
    using ParseFn = bool (FixedClockParser::*)(CFTPFileStatus&, const char*, int);
    const ParseFn parsers[] = {&FixedClockParser::ParseEPLF, &FixedClockParser::ParseUNIXStyleListing,
                               &FixedClockParser::ParseMultiNetListing, &FixedClockParser::ParseMSDOSListing};
    FixedClockParser parser(kJustAfterNewYear);
    for (const LineCase& c : kLines) {
        const std::size_t length = std::strlen(c.line);
        for (std::size_t cut = 0; cut <= length; ++cut) {
            SCOPED_TRACE(std::string(c.line, cut));
            std::unique_ptr<char[]> exact(new char[cut]);
            std::memcpy(exact.get(), c.line, cut);
            for (ParseFn parse : parsers) {
                CFTPFileStatus status;
                if (!(parser.*parse)(status, exact.get(), static_cast<int>(cut))) continue;
                EXPECT_NE(std::string(c.line, cut).find(status.Name()), std::string::npos);
            }
            CFTPFileStatus status;
            parser.Parse(status, std::string(c.line, cut));
        }
    }
}

class LiveListing : public ::testing::TestWithParam<testsupport::FtpServerKind> {};

void setModified(const std::string& path, time_t when) {
    const timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

TEST_P(LiveListing, ServerLinesParse) {
    testsupport::TempDir root;
    const time_t recent = (std::time(nullptr) - 2 * 86400) / 60 * 60;
    testsupport::writeFile(root.file("plain.txt"), std::string(1234, 'p'));
    setModified(root.file("plain.txt"), recent);
    testsupport::writeFile(root.file("name with blanks.bin"), "0123456789");
    setModified(root.file("name with blanks.bin"), utc(2019, 5, 6, 12, 0));
    testsupport::writeFile(root.file("big.iso"), "");
    std::filesystem::resize_file(root.file("big.iso"), 5368709120ULL);  // sparse: no disk space taken
    std::filesystem::create_directory(root.file("sub folder"));

    testsupport::FtpTestServer server(GetParam(), {root.path()});
    const testsupport::CurlResult listing =
        testsupport::runCurl({"-u", server.user() + ":" + server.password(), server.url("/")});
    ASSERT_EQ(listing.exitCode, 0) << listing.errors;

    std::map<std::string, CFTPFileStatus> entries;
    CFTPListParser parser;
    for (std::string line : testsupport::splitLines(listing.output)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        CFTPFileStatus status;
        EXPECT_TRUE(parser.Parse(status, line)) << line;
        entries[status.Name()] = status;
    }
    ASSERT_EQ(entries.size(), 4u) << listing.output;
    EXPECT_EQ(entries["plain.txt"].Size(), 1234);
    EXPECT_EQ(entries["plain.txt"].MTimeType(), CFTPFileStatus::mttRemoteMinute);
    EXPECT_EQ(entries["plain.txt"].MTime(), recent);
    EXPECT_EQ(entries["name with blanks.bin"].Size(), 10);
    EXPECT_EQ(entries["name with blanks.bin"].MTimeType(), CFTPFileStatus::mttRemoteDay);
    EXPECT_EQ(entries["name with blanks.bin"].MTime(), utc(2019, 5, 6));
    EXPECT_EQ(entries["big.iso"].Size(), 5368709120LL);
    EXPECT_TRUE(entries["big.iso"].IsRetrPossible());
    EXPECT_FALSE(entries["big.iso"].IsCwdPossible());
    EXPECT_TRUE(entries["sub folder"].IsCwdPossible());
    EXPECT_FALSE(entries["sub folder"].IsRetrPossible());
}

INSTANTIATE_TEST_SUITE_P(Servers, LiveListing,
                         ::testing::Values(testsupport::FtpServerKind::Pyftpdlib, testsupport::FtpServerKind::Vsftpd),
                         [](const ::testing::TestParamInfo<testsupport::FtpServerKind>& info) {
                             return std::string(info.param == testsupport::FtpServerKind::Vsftpd ? "Vsftpd"
                                                                                                 : "Pyftpdlib");
                         });

}  // namespace
