// Recordings on the main road, through the built program: selection by
// genre and by TS title, the TS information print (-i) and the channel-file
// maker (-m).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "JsonAdapter.h"
#include "MaruboSandbox.h"
#include "SampleRecording.h"
#include "TestPaths.h"
#include "tsproginfo.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::SampleProgramme;
using testsupport::lateNightAnime;

namespace {

SampleProgramme drama() {
    SampleProgramme p;
    p.name = "月曜ドラマ　第3話▽嵐の前";
    p.channel = "まるぼ放送";
    p.genre = 0x30;
    p.networkId = 0x7FE1;
    p.serviceId = 0x0408;
    return p;
}

class TsOnTheMainRoad : public ::testing::Test {
protected:
    std::string recording(const std::string& name, const SampleProgramme& p) {
        const std::string path = box.file(name);
        EXPECT_TRUE(recgen::writeFile(path, testsupport::sampleTransportStream(p)));
        return path;
    }
    std::string notARecording(const std::string& name) {
        const std::string path = box.file(name);
        testsupport::writeFile(path, "this is a text file, not a transport stream\n");
        return path;
    }
    void settings(bool validTs) {
        box.writeSettings(std::string(R"({"GENERAL": {"VALID_TS": )") + (validTs ? "true" : "false") + R"(},
            "TASKLIST": [
              {"AVAILABLE": true, "SELECT": "7", "REGEX": "^never$", "PROGRAM": "@REC@",
               "OPTIONS": "genre", "OUTFILEOPT": "-o",
               "OUTFILEPATH": ")" + box.root() + R"(/out/${Title}_${EpisodeNo}_${SubTitle}.ts"},
              {"AVAILABLE": true, "SELECT": "TSTITLE", "REGEX": "^月曜ドラマ$", "PROGRAM": "@REC@",
               "OPTIONS": "title", "OUTFILEOPT": "-o",
               "OUTFILEPATH": ")" + box.root() + R"(/out/${Title}_${EpisodeNo}_${SubTitle}.ts"}
            ]})");
    }

    // The channel list the maker takes the calendar's ids and names from.
    void channelSample(const std::string& json) {
        testsupport::writeFile(box.programDir() + "/channelsettingSAMPLE.json", json);
    }

    // The lines of the channel-file maker's output so far.
    std::vector<std::string> madeLines() const {
        return testsupport::splitLines(testsupport::readFile(box.programDir() + "/channelsetting_.json"));
    }

    MaruboSandbox box;
};

// The start and end of lateNightAnime(), as the print shows them.
const char* const kAnimeTime = "2021/03/31 23:30 - 2021/04/01 01:00";

}  // namespace

TEST_F(TsOnTheMainRoad, TasksSelectRecordingsByGenreAndByTitle) {
    settings(true);
    const std::string a = recording("anime.ts", lateNightAnime());
    const std::string d = recording("drama.ts", drama());
    const std::string n = notARecording("notes.ts");

    const RunOutcome out = box.run({a, n, d});
    EXPECT_EQ(7, out.exitCode) << out.output;
    EXPECT_TRUE(out.logged("Invalid TS file : " + n, "ERROR")) << out.output;
    EXPECT_TRUE(out.logged("No matching REGEX's : " + n, "ERROR")) << out.output;

    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size()) << out.output;
    EXPECT_EQ("genre", calls[0].front());
    EXPECT_EQ(a, calls[0][1]);
    EXPECT_EQ(box.root() + "/out/まほうの森_1_はじまりの朝.ts", calls[0].back());
    EXPECT_EQ("title", calls[1].front());
    EXPECT_EQ(d, calls[1][1]);
    EXPECT_EQ(box.root() + "/out/月曜ドラマ_3_嵐の前.ts", calls[1].back());
}

TEST_F(TsOnTheMainRoad, WithoutValidationRecordingsAreMatchedByFileName) {
    settings(false);
    const RunOutcome out = box.run({recording("anime.ts", lateNightAnime())});
    EXPECT_EQ(7, out.exitCode) << out.output;
    EXPECT_EQ(0, out.countPrefix("Invalid TS file"));
    EXPECT_TRUE(box.calls().empty());
}

TEST_F(TsOnTheMainRoad, TsInfoPrintsEveryRecording) {
    settings(true);
    const std::string a = recording("anime.ts", lateNightAnime());
    const std::string n = notARecording("notes.ts");

    const RunOutcome out = box.run({"-i", a, n});
    EXPECT_EQ(1, out.exitCode) << out.output;
    EXPECT_TRUE(box.calls().empty());
    EXPECT_EQ(0, out.countPrefix("No matching REGEX's"));

    const std::vector<std::string> messages = out.messages();
    const auto first =
        std::find(messages.begin(), messages.end(), "[TS INFO] Title        : " + lateNightAnime().name);
    ASSERT_NE(messages.end(), first) << out.output;
    ASSERT_NE(messages.begin(), first);
    EXPECT_EQ("", *(first - 1));
    const std::vector<std::string> expected = {
        "[TS INFO] Title        : " + lateNightAnime().name,
        "[TS INFO] Channel No.  : " + std::to_string(getTbChannelNum(0x7FE0, 0x0400, 0)),
        "[TS INFO] Channel Name : ＭＡＲＵＢＯ　テレビ",
        "[TS INFO] Genre No.    : 7",
        std::string("[TS INFO] Time         : ") + kAnimeTime,
        "[TS INFO] serviceID    : 1024",
        "[TS INFO] networkID    : 32736",
        "[TS INFO] Title        : まほうの森",
        "[TS INFO] SubTitle     : はじまりの朝",
        "[TS INFO] EpsodeNo     : 1",
    };
    ASSERT_GE(messages.end() - first, static_cast<long>(expected.size()));
    EXPECT_EQ(expected, std::vector<std::string>(first, first + expected.size()));
    EXPECT_EQ(10, out.countPrefix("[TS INFO] "));  // nothing for the text file
}

namespace {

// A recording preallocated to `size` bytes whose recorder stopped early: the
// sample stream at its head, holes after it. False when the file system
// cannot hold it sparse.
bool emptyTailRecording(const std::string& path, const SampleProgramme& p, int64_t size) {
    const recgen::Bytes head = testsupport::sampleTransportStream(p);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, size) == 0;
    ok = ok && ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
    ::close(fd);
    return ok;
}

}  // namespace

// The scan from half-way meets only zeros; the programme is still found at
// the head, for the print and for task selection alike.
TEST_F(TsOnTheMainRoad, RecordingWithAnEmptyTailIsReadFromItsHead) {
    settings(true);
    for (int unitSize : {188, 192}) {
        SCOPED_TRACE(unitSize);
        SampleProgramme anime = lateNightAnime();
        anime.unitSize = unitSize;
        const std::string path = box.file("crashed" + std::to_string(unitSize) + ".ts");
        if (!emptyTailRecording(path, anime, int64_t{6} << 30)) GTEST_SKIP() << "no room for a sparse 6 GiB file";

        const RunOutcome info = box.run({"-i", path});
        EXPECT_EQ(1, info.exitCode) << info.output;
        EXPECT_EQ(10, info.countPrefix("[TS INFO] ")) << info.output;
        EXPECT_TRUE(info.logged("[TS INFO] Title        : " + anime.name, "INFO ")) << info.output;
        EXPECT_TRUE(info.logged("[TS INFO] Channel Name : " + anime.channel, "INFO ")) << info.output;
        EXPECT_TRUE(info.logged(std::string("[TS INFO] Time         : ") + kAnimeTime, "INFO ")) << info.output;

        const std::size_t before = box.calls().size();
        const RunOutcome out = box.run({path});
        EXPECT_EQ(0, out.countPrefix("Invalid TS file")) << out.output;
        const auto calls = box.calls();
        ASSERT_EQ(before + 1, calls.size()) << out.output;
        EXPECT_EQ("genre", calls.back().front());
        EXPECT_EQ(path, calls.back()[1]);
        EXPECT_EQ(box.root() + "/out/まほうの森_1_はじまりの朝.ts", calls.back().back());
        ::unlink(calls.back().back().c_str());  // the next round writes it again
    }
}

namespace {

Json parseLine(const std::string& line) {
    std::string err;
    const Json json = Json::parse(line, err);
    EXPECT_TRUE(err.empty()) << err << " : " << line;
    return json;
}

}  // namespace

TEST_F(TsOnTheMainRoad, ChannelMakerAppendsOneLinePerRun) {
    settings(true);
    channelSample(R"({"ChannelList": [
        {"TSChID": "1", "ShoboChID": "19", "ShoboChName": "ＭＡＲＵＢＯテレビ"},
        {"TSChID": "2", "ShoboChID": "3", "ShoboChName": "まるぼ 放送"}
    ]})");
    SampleProgramme sameChannel = lateNightAnime();
    sameChannel.name = "別の番組";
    const std::string a = recording("anime.ts", lateNightAnime());
    const std::string b = recording("other.ts", sameChannel);
    const std::string d = recording("drama.ts", drama());
    const std::string n = notARecording("notes.ts");

    const RunOutcome out = box.run({"-m", "-i", a, n, d, b});
    EXPECT_EQ(1, out.exitCode) << out.output;
    EXPECT_EQ(0, out.countPrefix("[TS INFO] "));  // the maker wins over the print
    EXPECT_TRUE(box.calls().empty());

    const std::vector<std::string> written = madeLines();
    ASSERT_EQ(1u, written.size());
    const Json json = parseLine(written[0]);
    const Json::array& list = json["ChannelList"].array_items();
    ASSERT_EQ(2u, list.size()) << written[0];
    // Ordered by the calendar channel id as text: "19" before "3".
    EXPECT_EQ("19", list[0]["ShoboChID"].string_value());
    EXPECT_EQ("ＭＡＲＵＢＯテレビ", list[0]["ShoboChName"].string_value());
    EXPECT_EQ("ＭＡＲＵＢＯ　テレビ", list[0]["TSChName"].string_value());
    EXPECT_EQ(std::to_string(getTbChannelNum(0x7FE0, 0x0400, 0)), list[0]["TSChID"].string_value());
    EXPECT_EQ("1024", list[0]["TSServiceID"].string_value());
    EXPECT_EQ("32736", list[0]["TSNetworkID"].string_value());
    EXPECT_EQ("3", list[1]["ShoboChID"].string_value());
    EXPECT_EQ("まるぼ 放送", list[1]["ShoboChName"].string_value());
    EXPECT_EQ("まるぼ放送", list[1]["TSChName"].string_value());
    EXPECT_EQ(6u, list[1].object_items().size());

    // A second run adds a second line; earlier content stays.
    EXPECT_EQ(1, box.run({"--chmake", a}).exitCode);
    const std::vector<std::string> again = madeLines();
    ASSERT_EQ(2u, again.size());
    EXPECT_EQ(written[0], again[0]);
    EXPECT_EQ(1u, parseLine(again[1])["ChannelList"].array_items().size());
}

TEST_F(TsOnTheMainRoad, ChannelMakerWithoutRecordingsWritesAnEmptyList) {
    settings(false);  // no record is a TS recording without validation
    const RunOutcome out = box.run({"-m", recording("anime.ts", lateNightAnime())});
    EXPECT_EQ(1, out.exitCode) << out.output;
    const std::vector<std::string> written = madeLines();
    ASSERT_EQ(1u, written.size());
    const Json json = parseLine(written[0]);
    EXPECT_TRUE(json["ChannelList"].is_array());
    EXPECT_TRUE(json["ChannelList"].array_items().empty());
}

TEST_F(TsOnTheMainRoad, ChannelMakerTakesTheFirstSampleWithoutAName) {
    settings(true);
    channelSample(R"({"ChannelList": [
        {"TSChID": "0", "ShoboChID": "99", "ShoboChName": ""},
        {"TSChID": "1", "ShoboChID": "19", "ShoboChName": "ＭＡＲＵＢＯテレビ"}
    ]})");
    EXPECT_EQ(1, box.run({"-m", recording("anime.ts", lateNightAnime())}).exitCode);
    const std::vector<std::string> written = madeLines();
    ASSERT_EQ(1u, written.size());
    EXPECT_EQ("99", parseLine(written[0])["ChannelList"][std::size_t{0}]["ShoboChID"].string_value());
    EXPECT_EQ("", parseLine(written[0])["ChannelList"][std::size_t{0}]["ShoboChName"].string_value());
}

TEST_F(TsOnTheMainRoad, ChannelMakerLineStaysJsonWhateverBytesTheSampleHolds) {
    settings(true);
    // Latin-1 and stray continuation bytes where UTF-8 text belongs.
    channelSample("{\"ChannelList\": [{\"TSChID\": \"1\", \"ShoboChID\": \"19\", "
                  "\"ShoboChName\": \"\xCD\xC1RUBO\xFF\x80\xE3\x80\"}]}");
    const RunOutcome out = box.run({"-m", recording("anime.ts", lateNightAnime())});
    EXPECT_EQ(1, out.exitCode) << out.output;
    const std::vector<std::string> written = madeLines();
    ASSERT_EQ(1u, written.size());
    const Json json = parseLine(written[0]);
    ASSERT_EQ(1u, json["ChannelList"].array_items().size()) << written[0];
    EXPECT_EQ("ＭＡＲＵＢＯ　テレビ", json["ChannelList"][std::size_t{0}]["TSChName"].string_value());
}

namespace {

// A recording whose programme name and channel name are the given ARIB
// bytes, so a test can put any code into them.
recgen::Bytes rawNamedRecording(const recgen::Bytes& name, const recgen::Bytes& channel) {
    recgen::Event e;
    e.eventId = 0x1000;
    e.startMjd = recgen::mjd(2021, 3, 31);
    e.startBcd = {0x23, 0x30, 0x00};
    e.durationBcd = {0x00, 0x30, 0x00};
    e.descriptors = recgen::cat({recgen::shortEvent(name, recgen::alnum("Text")), recgen::content({0x70})});
    recgen::TsWriter w;
    for (int i = 0; i < 4; ++i) {
        w.putSection(0x00, recgen::pat(0x7FE0, {{0, 0x10}, {0x0400, 0x1F0}}));
        w.putSection(0x11, recgen::sdt(0x7FE0, 0x7FE0, {{0x0400, recgen::serviceDesc(1, {}, channel)}}));
        w.putSection(0x12, recgen::eit(0x0400, 0x7FE0, 0x7FE0, 0, {e}));
        w.putNull(8);
    }
    return w.data();
}

}  // namespace

// The broadcast text is untrusted: it must not lead an output path out of
// the configured folder, nor put control codes into names or log lines.
TEST_F(TsOnTheMainRoad, BroadcastTextCannotLeaveTheOutputFolderNorBreakTheLog) {
    box.writeSettings(R"({"GENERAL": {"VALID_TS": true},
        "TASKLIST": [{"AVAILABLE": true, "SELECT": "7", "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
          "OUTFILEPATH": ")" + box.root() + R"(/out/${Title}/${SubTitle}/${ChannelName}.ts"}]})");
    // Channel "Ch", CR LF, "an"; programme "..＃1【..】".
    const recgen::Bytes channel = recgen::cat({recgen::alnum("Ch"), {0x0D, 0x0A}, recgen::alnum("an")});
    const std::string path = box.file("dots.ts");
    ASSERT_TRUE(recgen::writeFile(path, rawNamedRecording(testsupport::aribText("..＃1【..】"), channel)));

    const RunOutcome out = box.run({path});
    EXPECT_EQ(0, out.exitCode) << out.output;
    const auto calls = box.calls();
    ASSERT_EQ(1u, calls.size()) << out.output;
    EXPECT_EQ(box.root() + "/out/．．/．．/Ch  an.ts", calls[0].back());

    const RunOutcome info = box.run({"-i", path});
    EXPECT_EQ(1, info.exitCode) << info.output;
    EXPECT_EQ(10, info.countPrefix("[TS INFO] ")) << info.output;
    EXPECT_TRUE(info.logged("[TS INFO] Channel Name : Ch??an", "INFO ")) << info.output;
    EXPECT_TRUE(info.logged("[TS INFO] Title        : ..＃1【..】", "INFO ")) << info.output;
    EXPECT_TRUE(info.logged("[TS INFO] Title        : ．．", "INFO ")) << info.output;
}
