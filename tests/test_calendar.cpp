// Calendar look-up: linking recordings to calendar channels, reading the
// calendar's answer, and the request against a local stand-in calendar.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CannedHttpServer.h"
#include "ChannelSettingParser.h"
#include "FileData.h"
#include "ShobocalJsonParser.h"
#include "ShobocalProcess.h"
#include "TestLog.h"
#include "TestPaths.h"

using testsupport::CannedAnswer;
using testsupport::CannedHttpServer;

namespace {

// One calendar item as the calendar writes it.
std::string item(const std::string& chId, const std::string& chName, const std::string& title,
                 const std::string& count = "\"3\"", const std::string& cat = "\"1\"") {
    return "{\"Title\": \"" + title + "\", \"ShortTitle\": \"" + title + " S\", \"Count\": " + count +
           ", \"SubTitle\": \"Sub of " + title + "\", \"ChName\": \"" + chName + "\", \"ChID\": \"" + chId +
           "\", \"Cat\": " + cat + ", \"StTime\": \"1617200000\"}";
}

std::string answer(const std::vector<std::string>& items) {
    std::string text = "{\"items\": [";
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? ", " : "") + items[i];
    return text + "]}";
}

// A time as the record holds it: the calendar year and month, not the
// offsets of struct tm.
std::tm recordTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year;
    t.tm_mon = month;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// FileData is large: keep it off the stack.
std::unique_ptr<FileData> recording(int genre, int serviceId, int chnum, const std::u16string& chname) {
    auto fd = std::make_unique<FileData>();
    fd->setAvailableTS(true);
    fd->tsInfoEx.genreNoL = genre;
    fd->progInfo.serviceID = serviceId;
    fd->progInfo.chnum = chnum;
    fd->progInfo.chname = chname;
    fd->tsInfoEx.starttime = recordTime(2021, 3, 31, 23, 30, 59);
    fd->tsInfoEx.endtime = recordTime(2021, 4, 1, 0, 30, 0);
    return fd;
}

ChannelSetting channel(const std::string& shoboId, const std::string& shoboName, const std::string& tsName = "") {
    ChannelSetting c;
    c.ShoboChID = shoboId;
    c.ShoboChName = shoboName;
    c.TSChName = tsName;
    return c;
}

ChannelSettingParser channelFile(const std::string& channelListJson) {
    ChannelSettingParser parser;
    parser.parse("{\"ChannelList\": [" + channelListJson + "]}");
    return parser;
}

}  // namespace

// --- the answer ------------------------------------------------------------

TEST(CalendarAnswer, ItemsAreKeyedByChannelIdAndByChannelNameFirstOneStays) {
    ShobocalJsonParser parser;
    const auto byId = parser.parse(answer({item("5", "TOKYO MX", "First"), item("5", "BS11", "Second"),
                                           item("7", "TOKYO MX", "Third"),
                                           item("9", "AT-X", "Counted", "12", "\"10\"")}));
    ASSERT_EQ(3u, byId.size());
    const Shobocal& first = byId.at("5");
    EXPECT_EQ("First", first.ShoboTitle);
    EXPECT_EQ("First S", first.ShoboShortTitle);
    EXPECT_EQ("3", first.ShoboEpisodeNo);
    EXPECT_EQ("Sub of First", first.ShoboSubTitle);
    EXPECT_EQ("TOKYO MX", first.ShoboChName);
    EXPECT_EQ("1", first.ShoboCat);
    EXPECT_EQ("アニメ", first.ShoboCatName);
    EXPECT_FALSE(first.available);
    EXPECT_FALSE(first.linkChannelSetting);
    EXPECT_EQ("Third", byId.at("7").ShoboTitle);
    // A numeric "Count" is not text.
    EXPECT_EQ("", byId.at("9").ShoboEpisodeNo);
    EXPECT_EQ("アニメ(再放送)", byId.at("9").ShoboCatName);

    const auto byName = parser.getShobocalChNameList();
    ASSERT_EQ(3u, byName.size());
    EXPECT_EQ("First", byName.at("TOKYO MX").ShoboTitle);
    EXPECT_EQ("Second", byName.at("BS11").ShoboTitle);
    EXPECT_TRUE(parser.getParseError().empty());
}

TEST(CalendarAnswer, TextsThatAreNoJsonValueGiveNothingAndSayWhy) {
    const std::string bom = "\xEF\xBB\xBF";
    for (const std::string& text : {std::string(), std::string("null"), bom + answer({item("5", "MX", "T")}),
                                    std::string("<html>busy</html>"), std::string("{\"items\": [")}) {
        ShobocalJsonParser parser;
        EXPECT_TRUE(parser.parse(text).empty()) << text;
        EXPECT_FALSE(parser.getParseError().empty()) << text;
        EXPECT_TRUE(parser.getShobocalChNameList().empty()) << text;
    }
}

TEST(CalendarAnswer, WellFormedAnswersOfAnotherShapeGiveNoItems) {
    for (const char* text : {"{}", "[1, 2]", "{\"items\": null}", "{\"items\": {\"ChID\": \"5\"}}",
                                    "{\"items\": []}", "\"items\""}) {
        ShobocalJsonParser parser;
        EXPECT_TRUE(parser.parse(text).empty()) << text;
        EXPECT_TRUE(parser.getParseError().empty()) << text;
    }
}

TEST(CalendarAnswer, MembersOfAnotherTypeReadAsEmptyText) {
    ShobocalJsonParser parser;
    const auto byId = parser.parse(
        "{\"items\": [{\"Title\": 1, \"ShortTitle\": null, \"Count\": [\"3\"], \"SubTitle\": {}, "
        "\"ChName\": true, \"Cat\": \"0\"}]}");
    ASSERT_EQ(1u, byId.size());
    const Shobocal& entry = byId.at("");
    EXPECT_EQ("", entry.ShoboTitle);
    EXPECT_EQ("", entry.ShoboShortTitle);
    EXPECT_EQ("", entry.ShoboEpisodeNo);
    EXPECT_EQ("", entry.ShoboSubTitle);
    EXPECT_EQ("", entry.ShoboChName);
    EXPECT_EQ("その他", entry.ShoboCatName);
}

TEST(CalendarAnswer, AnUnknownOrMissingCategoryRefusesTheAnswer) {
    for (const char* cat : {"\"11\"", "\"\"", "1", "null"}) {
        ShobocalJsonParser parser;
        EXPECT_THROW(parser.parse(answer({item("5", "MX", "T"), item("6", "BS", "U", "\"1\"", cat)})),
                     std::out_of_range)
            << cat;
    }
    // An item that is not an object has no category either.
    ShobocalJsonParser parser;
    EXPECT_THROW(parser.parse("{\"items\": [\"TOKYO MX\"]}"), std::out_of_range);
}

TEST(CalendarAnswer, TextsLoseControlCodesAndBareDots) {
    // They become placeholders: a NUL would cut the command line, ".." would
    // name the parent of the output folder.
    ShobocalJsonParser parser;
    const auto byId = parser.parse(
        R"({"items": [{"Title": "..", "ShortTitle": ".", "Count": "\n3\u001b[31m", "SubTitle": "Ev\u0000il\u009b",
                       "ChName": "TOKYO\tMX", "ChID": "19", "Cat": "1"}]})");
    ASSERT_EQ(1u, byId.size());
    const Shobocal& entry = byId.at("19");
    EXPECT_EQ("．．", entry.ShoboTitle);
    EXPECT_EQ("．", entry.ShoboShortTitle);
    EXPECT_EQ(" 3[31m", entry.ShoboEpisodeNo);
    EXPECT_EQ("Evil", entry.ShoboSubTitle);
    EXPECT_EQ("TOKYO MX", entry.ShoboChName);
}

TEST(CalendarAnswer, ATextLongerThanAnyTitleRefusesTheAnswer) {
    const std::string longest(4096, 'T');
    ShobocalJsonParser fits;
    EXPECT_EQ(longest, fits.parse("{\"items\": [{\"Cat\": \"1\", \"ChID\": \"5\", \"Title\": \"" + longest +
                                  "\"}]}").at("5").ShoboTitle);
    for (const char* key : {"Title", "ShortTitle", "Count", "SubTitle", "ChName"}) {
        ShobocalJsonParser parser;
        EXPECT_THROW(parser.parse(std::string("{\"items\": [{\"Cat\": \"1\", \"") + key + "\": \"" +
                                  longest + "x\"}]}"),
                     std::length_error)
            << key;
    }
}

// --- picking the item of the recording's channel ---------------------------

TEST(CalendarPick, ChannelIdFirstThenChannelNameInNameOrder) {
    const std::string body =
        answer({item("20", "TOKYO MX", "On MX"), item("19", "BS11イレブン", "On BS11"), item("", "AT-X", "No id")});
    auto fd = recording(7, 1, 1, u"");

    fd->channel = channel("19", "TOKYO MX");  // the id wins over the name
    fd->shobocal.linkChannelSetting = true;
    EXPECT_TRUE(findShobocalInfoList(*fd, body));
    EXPECT_EQ("On BS11", fd->shobocal.ShoboTitle);
    EXPECT_TRUE(fd->shobocal.available);
    EXPECT_FALSE(fd->shobocal.linkChannelSetting);

    fd->channel = channel("99", "BS11");  // a part of the item's name
    EXPECT_TRUE(findShobocalInfoList(*fd, body));
    EXPECT_EQ("On BS11", fd->shobocal.ShoboTitle);

    fd->channel = channel("99", "");  // takes the first item in name order
    EXPECT_TRUE(findShobocalInfoList(*fd, body));
    EXPECT_EQ("No id", fd->shobocal.ShoboTitle);  // "AT-X" sorts first

    fd->channel = channel("", "nothing like it");  // an empty id matches the item without "ChID"
    EXPECT_TRUE(findShobocalInfoList(*fd, body));
    EXPECT_EQ("No id", fd->shobocal.ShoboTitle);

    fd->channel = channel("99", "MX2", "TOKYO MX2");  // the item's name inside the TS name
    EXPECT_TRUE(findShobocalInfoList(*fd, body));
    EXPECT_EQ("On MX", fd->shobocal.ShoboTitle);
}

TEST(CalendarPick, NoItemForTheChannelLeavesTheRecordAlone) {
    auto fd = recording(7, 1, 1, u"");
    fd->channel = channel("99", "NHK", "NHK総合");
    fd->shobocal.ShoboTitle = "broadcast";
    fd->shobocal.linkChannelSetting = true;
    for (const std::string& body : {answer({item("20", "TOKYO MX", "On MX")}), std::string("{\"items\": []}"),
                                    std::string("null"), std::string()}) {
        EXPECT_FALSE(findShobocalInfoList(*fd, body)) << body;
        EXPECT_FALSE(fd->shobocal.available);
        EXPECT_TRUE(fd->shobocal.linkChannelSetting);
        EXPECT_EQ("broadcast", fd->shobocal.ShoboTitle);
    }
}

// --- linking recordings to the channel file ---------------------------------

TEST(CalendarLink, OnlyAnimationOnTsRecordingsInTheChannelFileIsLinked) {
    const ChannelSettingParser parser = channelFile(
        "{\"TSChID\": \"1024\", \"TSServiceID\": \"1024\", \"TSChName\": \"ＴＯＫＹＯ　ＭＸ\", "
        "\"ShoboChID\": \"19\", \"ShoboChName\": \"TOKYO MX\"}");
    std::vector<FileData> files(4);
    for (FileData& fd : files) {
        fd.setAvailableTS(true);
        fd.tsInfoEx.genreNoL = 7;
        fd.progInfo.serviceID = 1024;
        fd.shobocal.linkChannelSetting = true;  // every element is written
    }
    files[1].tsInfoEx.genreNoL = 6;  // a movie
    files[2] = FileData();           // not a TS recording
    files[2].tsInfoEx.genreNoL = 7;
    files[2].progInfo.serviceID = 1024;
    files[3].progInfo.serviceID = 555;  // a channel the file does not know

    ShobocalProcess::linkShoboiCalender(parser, files);
    EXPECT_TRUE(files[0].shobocal.linkChannelSetting);
    EXPECT_EQ("19", files[0].channel.ShoboChID);
    EXPECT_FALSE(files[1].shobocal.linkChannelSetting);
    EXPECT_EQ("", files[1].channel.ShoboChID);
    EXPECT_FALSE(files[2].shobocal.linkChannelSetting);
    EXPECT_FALSE(files[3].shobocal.linkChannelSetting);
}

TEST(CalendarLink, ServiceIdThenChannelNumberThenChannelName) {
    const ChannelSettingParser parser = channelFile(
        "{\"TSChID\": \"211\", \"TSServiceID\": \"211\", \"TSChName\": \"ＢＳ１１\", \"ShoboChID\": \"128\"},"
        "{\"TSChID\": \"1024\", \"TSServiceID\": \"23608\", \"TSChName\": \"ＴＯＫＹＯ　ＭＸ\", \"ShoboChID\": \"19\"},"
        "{\"TSChID\": \"23608\", \"TSServiceID\": \"9\", \"TSChName\": \"other\", \"ShoboChID\": \"77\"}");

    // The service id is in the service list while the channel number names
    // another entry: the service id wins.
    auto fd = recording(7, 23608, 211, u"");
    ASSERT_TRUE(findChannelList(parser, *fd));
    EXPECT_EQ("19", fd->channel.ShoboChID);
    EXPECT_EQ("1024", fd->channel.TSChID);

    fd = recording(7, 4242, 211, u"");
    ASSERT_TRUE(findChannelList(parser, *fd));
    EXPECT_EQ("128", fd->channel.ShoboChID);

    fd = recording(7, 4242, 4242, u"ＴＯＫＹＯ　ＭＸ２");
    ASSERT_TRUE(findChannelList(parser, *fd));
    EXPECT_EQ("19", fd->channel.ShoboChID);

    fd = recording(7, 4242, 4242, u"ＮＨＫ");
    fd->channel.ShoboChID = "kept";
    EXPECT_FALSE(findChannelList(parser, *fd));
    EXPECT_EQ("kept", fd->channel.ShoboChID);

    // A negative service id is looked up with its sign.
    const ChannelSettingParser negative =
        channelFile("{\"TSChID\": \"x\", \"TSServiceID\": \"-5\", \"TSChName\": \"zz\", \"ShoboChID\": \"1\"}");
    fd = recording(7, -5, 0, u"");
    EXPECT_TRUE(findChannelList(negative, *fd));
}

// --- the request, against a local calendar ----------------------------------

class CalendarQuery : public ::testing::Test {
protected:
    void SetUp() override {
        m_log = m_dir.file("marubo.log");
        testsupport::startTestLog(m_log, false, true);

        m_file = recording(7, 1024, 1024, u"ＴＯＫＹＯ　ＭＸ");
        m_file->channel = channel("19", "TOKYO MX");
        m_file->shobocal.linkChannelSetting = true;
    }
    void TearDown() override {
        ShobocalProcess::setCalendarServerForTests("", 0);
        testsupport::endTestLog();
    }

    void useServer(const CannedHttpServer& server) {
        ShobocalProcess::setCalendarServerForTests("127.0.0.1", server.port());
    }
    // The log lines, each as "[LEVEL] message".
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : testsupport::splitLines(testsupport::readFile(m_log)))
            lines.push_back(line.substr(line.find('[')));
        return lines;
    }
    int errorLines() const {
        int n = 0;
        for (const std::string& line : logLines()) n += line.rfind("[ERROR]", 0) == 0;
        return n;
    }

    testsupport::TempDir m_dir;
    std::string m_log;
    std::unique_ptr<FileData> m_file;
};

TEST_F(CalendarQuery, AsksForTheTimeWindowAndTakesTheChannelsItem) {
    const std::string body = answer({item("1", "NHK総合", "Other"), item("19", "TOKYO MX", "Real Title")});
    CannedHttpServer calendar(CannedAnswer::whole(testsupport::chunkedAnswer({body.substr(0, 7), body.substr(7)})));
    useServer(calendar);

    EXPECT_TRUE(ShobocalProcess::getShobocalInfo(*m_file));
    EXPECT_TRUE(m_file->shobocal.available);
    EXPECT_FALSE(m_file->shobocal.linkChannelSetting);
    EXPECT_EQ("Real Title", m_file->shobocal.ShoboTitle);
    EXPECT_EQ("3", m_file->shobocal.ShoboEpisodeNo);

    ASSERT_TRUE(calendar.waitForConnectionsDone(1, std::chrono::seconds(5)));
    const std::vector<std::string> requests = calendar.requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(
        "GET /rss2.php?start=202103312330&end=202104010030&alt=json HTTP/1.1\r\n"
        "Host: 127.0.0.1\r\n"
        "Accept-Charset : utf-8\r\n"
        "Connection: keep-alive\r\n"
        "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/87.0.4280.67 Safari/537.36\r\n"
        "Accept: */*\r\n\r\n",
        requests[0]);

    const std::vector<std::string> expected = {
        "[INFO ] Getting information from ShoboiCalender. Broadcast Ch(19) & Time(202103312330 - 202104010030) ",
        "[INFO ] ShoboiCalender information found."};
    EXPECT_EQ(expected, logLines());
}

TEST_F(CalendarQuery, AnAnswerWithoutTheChannelIsNotFound) {
    CannedHttpServer calendar(CannedAnswer::whole(testsupport::contentLengthAnswer("{\"items\": []}")));
    useServer(calendar);
    EXPECT_FALSE(ShobocalProcess::getShobocalInfo(*m_file));
    EXPECT_FALSE(m_file->shobocal.available);
    EXPECT_EQ("[INFO ] ShoboiCalender information not found.", logLines().back());
    EXPECT_EQ(0, errorLines());
}

TEST_F(CalendarQuery, AFailingCalendarLeavesTheRecordOnItsBroadcastDataWithOneErrorLine) {
    struct Case {
        const char* what;
        std::string bytes;
        bool close;  // close without answering
        const char* lastLine;
    };
    const std::vector<Case> cases = {
        {"404", testsupport::contentLengthAnswer("gone", "HTTP/1.1 404 Not Found"), false,
         "[ERROR] ShoboiCalender Access Denyed."},
        {"closed at once", "", true, nullptr},
        {"header garbage", "HTTP/1.1 200 OK\r\nno separator here\r\n\r\n{}", false, nullptr},
        {"not JSON", testsupport::contentLengthAnswer("<html>maintenance</html>"), false,
         "[INFO ] ShoboiCalender information not found."},
        {"byte-order mark", testsupport::contentLengthAnswer("\xEF\xBB\xBF" + answer({item("19", "MX", "T")})), false,
         "[INFO ] ShoboiCalender information not found."},
        {"unknown category", testsupport::contentLengthAnswer(answer({item("19", "MX", "T", "\"1\"", "\"42\"")})),
         false, nullptr},
        {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n{}", false, nullptr},
        {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n{\"items\": [", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(m_log.c_str());
        CannedHttpServer calendar(c.close ? CannedAnswer() : CannedAnswer::whole(c.bytes));
        useServer(calendar);
        m_file->shobocal.available = false;
        m_file->shobocal.ShoboTitle = "";

        EXPECT_FALSE(ShobocalProcess::getShobocalInfo(*m_file));
        EXPECT_FALSE(m_file->shobocal.available);
        EXPECT_EQ("", m_file->shobocal.ShoboTitle);
        EXPECT_EQ(1, errorLines());
        if (c.lastLine != nullptr) {
            EXPECT_EQ(c.lastLine, logLines().back());
        }
    }
}

TEST_F(CalendarQuery, TheServersBytesReachTheLogShortAndWithoutControlCodes) {
    // A header line and a JSON token that each quote the server, with
    // terminal escapes and far longer than any log line should be.
    const std::string junk = "\x1b]0;owned\x07\x1b[2J" + std::string(60000, 'j') + "\xE3\x81\x82";
    const std::vector<std::string> answers = {
        "HTTP/1.1 200 OK\r\n" + junk + "\r\n\r\n",
        testsupport::contentLengthAnswer("{\"items\": \"" + std::string(60000, 'j') + "\x1b[2J"),
    };
    for (const std::string& bytes : answers) {
        std::remove(m_log.c_str());
        CannedHttpServer calendar(CannedAnswer::whole(bytes));
        useServer(calendar);
        EXPECT_FALSE(ShobocalProcess::getShobocalInfo(*m_file));
        ASSERT_EQ(1, errorLines());
        for (const std::string& line : logLines()) {
            if (line.rfind("[ERROR]", 0) != 0) continue;
            EXPECT_LT(line.size(), 400u) << line.substr(0, 400);
            EXPECT_EQ(std::string::npos, line.find('\x1b'));
            EXPECT_EQ(std::string::npos, line.find('\x07'));
            EXPECT_NE(std::string::npos, line.find("jjjj..."));
        }
    }
}

TEST_F(CalendarQuery, NobodyListeningIsAFailureToo) {
    int port = 0;
    {
        CannedHttpServer gone(CannedAnswer{});
        port = gone.port();
    }
    ShobocalProcess::setCalendarServerForTests("127.0.0.1", static_cast<std::uint16_t>(port));
    EXPECT_FALSE(ShobocalProcess::getShobocalInfo(*m_file));
    EXPECT_FALSE(m_file->shobocal.available);
    ASSERT_EQ(1, errorLines());
    EXPECT_EQ(0u, logLines().back().rfind("[ERROR] ShoboiCalender Access Failed. : ", 0));
}
