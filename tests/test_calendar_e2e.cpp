// The calendar look-up seen from outside: the real program, a generated
// animation recording and a stand-in calendar on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CannedHttpServer.h"
#include "MaruboSandbox.h"
#include "RecordingWriter.h"

using recgen::alnum;
using testsupport::CannedAnswer;
using testsupport::CannedHttpServer;
using testsupport::MaruboSandbox;
using testsupport::RunOutcome;

namespace {

// An animation programme on service 1024, 2021-03-31 23:30 for one hour.
void writeRecording(const std::string& path) {
    recgen::Event e;
    e.eventId = 0x1234;
    e.startMjd = recgen::mjd(2021, 3, 31);
    e.startBcd = {0x23, 0x30, 0x00};
    e.durationBcd = {0x01, 0x00, 0x00};
    e.descriptors = recgen::cat({recgen::shortEvent(alnum("Broadcast Title"), alnum("Detail")),
                                 recgen::content({0x70})});
    recgen::TsWriter w;
    w.padTo(200000);
    w.putSection(0x00, recgen::pat(0x7FE0, {{0, 0x10}, {0x0400, 0x1F0}}));
    w.putSection(0x12, recgen::eit(0x0400, 0x7FE0, 0x7FE0, 0, {e}));
    w.putSection(0x11, recgen::sdt(0x7FE0, 0x7FE0, {{0x0400, recgen::serviceDesc(1, {}, alnum("Channel"))}}));
    w.putNull(5);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(w.writeTo(path));
}

class CalendarE2e : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef MARUBO_TEST_SEAMS
        GTEST_SKIP() << "built without MARUBO_TEST_SEAMS: the program cannot be pointed at a local calendar";
#endif
        m_box.writeSettings(R"({"GENERAL": {"VALID_TS": true, "INTERNET": true, "SHOBOCAL": true},
          "TASKLIST": [{"AVAILABLE": true, "SELECT": "7", "REGEX": "", "PROGRAM": "@REC@",
            "INFILEOPT": "-i", "OUTFILEOPT": "-o",
            "OUTFILEPATH": "${InPath}out/${Title} #${EpisodeNo} ${SubTitle} ${Category}.mp4"}]})");
        testsupport::writeFile(m_box.programDir() + "/channelsetting.json",
                               R"({"ChannelList": [{"TSChID": "11", "TSServiceID": "1024", "TSNetworkID": "32736",
                                   "TSChName": "Channel", "ShoboChID": "19", "ShoboChName": "TOKYO MX"}]})");
        m_recording = m_box.file("in/anime.ts");
        writeRecording(m_recording);
    }
    void TearDown() override { ::unsetenv("MARUBO_CALENDAR_TEST_PORT"); }

    RunOutcome runAgainst(const CannedHttpServer& calendar) {
        ::setenv("MARUBO_CALENDAR_TEST_PORT", std::to_string(calendar.port()).c_str(), 1);
        return m_box.run({m_recording});
    }
    std::string outputArgument() const {
        const auto calls = m_box.calls();
        if (calls.size() != 1 || calls[0].size() != 4) return "<no single run>";
        return calls[0][3];
    }

    MaruboSandbox m_box;
    std::string m_recording;
};

}  // namespace

TEST_F(CalendarE2e, TheCalendarsTitleNamesTheOutput) {
    // The episode and subtitle carry characters a file name cannot hold.
    const std::string body =
        R"({"items": [{"Title": "Other", "ChID": "1", "ChName": "NHK", "Cat": "1", "Count": "1"},
                      {"Title": "Calendar Title", "ShortTitle": "CT", "Count": "3/4", "SubTitle": "A:B",
                       "ChName": "TOKYO MX", "ChID": "19", "Cat": "10"}]})";
    CannedHttpServer calendar(CannedAnswer::whole(testsupport::contentLengthAnswer(body)));
    const RunOutcome r = runAgainst(calendar);

    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_TRUE(r.logged("ShoboiCalender information found.", "INFO "));
    EXPECT_EQ(m_box.file("in/out/Calendar Title #3／4 A：B アニメ(再放送).mp4"), outputArgument());
    ASSERT_EQ(1u, calendar.requests().size());
    EXPECT_EQ(0u, calendar.requests()[0].rfind(
                      "GET /rss2.php?start=202103312330&end=202104010030&alt=json HTTP/1.1\r\n", 0));
}

TEST_F(CalendarE2e, AFailingCalendarFallsBackToTheBroadcastTitle) {
    CannedHttpServer calendar(CannedAnswer::whole("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"));
    const RunOutcome r = runAgainst(calendar);

    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_EQ(1, r.countPrefix("ShoboiCalender Access Failed. : "));
    EXPECT_EQ(m_box.file("in/out/Broadcast #  .mp4"), outputArgument());
}

TEST_F(CalendarE2e, TheCalendarsTextsCannotCutOrMisdirectTheOutputPath) {
    const std::string body =
        R"({"items": [{"Title": "..", "Count": "\u0000", "SubTitle": "A\u0000B\r\nC", "ChName": "TOKYO MX",
                       "ChID": "19", "Cat": "1"}]})";
    CannedHttpServer calendar(CannedAnswer::whole(testsupport::contentLengthAnswer(body)));
    const RunOutcome r = runAgainst(calendar);

    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_TRUE(r.logged("ShoboiCalender information found.", "INFO "));
    EXPECT_EQ(m_box.file("in/out/．． # AB  C アニメ.mp4"), outputArgument());
}

TEST_F(CalendarE2e, AnAbsurdlyLongTitleFallsBackToTheBroadcastTitle) {
    // As a file name it could only fail the task, and it would fill the log.
    const std::string body = R"({"items": [{"Title": ")" + std::string(200000, 'T') +
                             R"(", "Count": "1", "SubTitle": "S", "ChName": "TOKYO MX", "ChID": "19", "Cat": "1"}]})";
    CannedHttpServer calendar(CannedAnswer::whole(testsupport::contentLengthAnswer(body)));
    const RunOutcome r = runAgainst(calendar);

    EXPECT_EQ(0, r.exitCode) << r.output.substr(0, 2000);
    EXPECT_EQ(1, r.countPrefix("ShoboiCalender information is Abnormal. : "));
    EXPECT_EQ(m_box.file("in/out/Broadcast #  .mp4"), outputArgument());
}
