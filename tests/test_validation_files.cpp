// Validation of input files as TS recordings, through generated recordings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FileData.h"
#include "SampleRecording.h"
#include "TestLog.h"
#include "TestPaths.h"
#include "ValidationTS.h"

using testsupport::SampleProgramme;
using testsupport::TempDir;
using testsupport::lateNightAnime;

namespace {

class Validation : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        m_log = m_dir.file("test.log");
        testsupport::startTestLog(m_log, false, true);
    }
    void TearDown() override { testsupport::endTestLog(); }

    std::string write(const std::string& name, const recgen::Bytes& data) {
        const std::string path = m_dir.file(name);
        EXPECT_TRUE(recgen::writeFile(path, data));
        return path;
    }

    // A run's list of records, only their source paths set.
    static std::vector<FileData> records(const std::vector<std::string>& paths) {
        std::vector<FileData> list(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) list[i].src.path(paths[i]);
        return list;
    }

    std::string log() const { return testsupport::readFile(m_log); }

    TempDir m_dir;
    std::string m_log;
};

}  // namespace

TEST_F(Validation, RecordingIsFilledFromItsProgrammeInformation) {
    auto files = records({write("rec.ts", testsupport::sampleTransportStream(lateNightAnime()))});
    ValidationTS::validTSfilelist(files);

    const FileData& f = files[0];
    ASSERT_TRUE(f.isAvailableTS()) << log();
    EXPECT_TRUE(f.progInfo.active);
    EXPECT_EQ("まほうの森", f.tsInfoEx.title);
    EXPECT_EQ("1", f.tsInfoEx.episodeNo);
    EXPECT_EQ("はじまりの朝", f.tsInfoEx.subTitle);
    EXPECT_EQ("ＭＡＲＵＢＯ　テレビ", f.tsInfoEx.chName);
    EXPECT_EQ(7, f.tsInfoEx.genreNoL);
    EXPECT_EQ("アニメ", f.tsInfoEx.genreNameL);
    EXPECT_EQ("国内アニメ", f.tsInfoEx.genreNameM);
    EXPECT_EQ(2021, f.tsInfoEx.starttime.tm_year);
    EXPECT_EQ(3, f.tsInfoEx.starttime.tm_mon);
    EXPECT_EQ(31, f.tsInfoEx.starttime.tm_mday);
    EXPECT_EQ(4, f.tsInfoEx.endtime.tm_mon);
    EXPECT_EQ(1, f.tsInfoEx.endtime.tm_mday);
    EXPECT_EQ(1, f.tsInfoEx.endtime.tm_hour);
    EXPECT_EQ(0, f.tsInfoEx.endtime.tm_min);
    EXPECT_EQ(std::string::npos, log().find("Invalid TS file"));
}

TEST_F(Validation, CharactersBeyondTheBmpSurviveTheWholeRoad) {
    SampleProgramme p = lateNightAnime();
    p.name = "𠀋の旅　第2回「山を越えて」";
    p.channel = "まるぼ𠀋";
    auto files = records({write("far.ts", testsupport::sampleTransportStream(p))});
    ValidationTS::validTSfilelist(files);
    ASSERT_TRUE(files[0].isAvailableTS()) << log();
    EXPECT_EQ("𠀋の旅", files[0].tsInfoEx.title);
    EXPECT_EQ("2", files[0].tsInfoEx.episodeNo);
    EXPECT_EQ("山を越えて", files[0].tsInfoEx.subTitle);
    EXPECT_EQ("まるぼ𠀋", files[0].tsInfoEx.chName);
}

TEST_F(Validation, OnlyReadableFilesNamedTsAreRecordings) {
    const recgen::Bytes good = testsupport::sampleTransportStream(lateNightAnime());
    SampleProgramme stamped = lateNightAnime();
    stamped.unitSize = 192;
    const std::vector<std::string> paths = {
        write("Movie.TS", good),
        write("clip.m2ts", good),
        write("noext", good),
        write("garbage.ts", recgen::Bytes(188 * 64, 0x47)),
        write("empty.ts", {}),
        m_dir.file("missing.ts"),
        write("stamped.tsx", testsupport::sampleTransportStream(stamped)),
        write("ok.ts", good),
    };
    auto files = records(paths);
    files[3].tsInfoEx.title = "kept";
    ValidationTS::validTSfilelist(files);

    const std::string text = log();
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(paths[i]);
        EXPECT_FALSE(files[i].isAvailableTS());
        EXPECT_NE(std::string::npos, text.find("Invalid TS file : " + paths[i] + "\n"));
    }
    EXPECT_EQ("kept", files[3].tsInfoEx.title);
    EXPECT_FALSE(files[3].progInfo.active);
    EXPECT_TRUE(files[6].isAvailableTS()) << text;
    EXPECT_TRUE(files[7].isAvailableTS()) << text;
    EXPECT_EQ("まほうの森", files[7].tsInfoEx.title);
}
