// Task matching, command-line building and the output search, in-process.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "ExecuteProcessing.h"
#include "FileAccess.h"
#include "ResultManager.h"
#include "TestLog.h"
#include "TestPaths.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class ExecuteProcessingTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::startTestLog(m_log, false, false); }
    void TearDown() override { testsupport::endTestLog(); }

    // The log so far; each line is "  message" with time and level off.
    std::string log() const { return readFile(m_log); }

    // FileData is large: keep it off the test's stack.
    static std::unique_ptr<FileData> file(const std::string& path, bool ts, int genre = 0,
                                          const std::string& title = "") {
        auto fd = std::make_unique<FileData>();
        fd->src.path(path);
        if (ts) fd->setAvailableTS(true);
        fd->tsInfoEx.genreNoL = genre;
        fd->tsInfoEx.title = title;
        return fd;
    }
    static TaskData task(const std::string& select, const std::string& regex) {
        TaskData t;
        t.SetU8Select(select);
        t.SetU8Regex(regex);
        return t;
    }

    TempDir m_dir;
    std::string m_log = m_dir.file("test.log");
};

}  // namespace

TEST_F(ExecuteProcessingTest, NumericSelectComparesTheGenreOfTsFilesOnly) {
    const auto ts = file("/rec/a.ts", true, 7);
    const auto plain = file("/rec/a.ts", false, 7);

    EXPECT_TRUE(checkMatch(*ts, task("7", "(")));
    EXPECT_EQ("", log()) << "REGEX is not looked at for a numeric SELECT";
    EXPECT_TRUE(checkMatch(*ts, task("7abc", "^nomatch$")));
    EXPECT_TRUE(checkMatch(*ts, task(" +7", "")));
    EXPECT_FALSE(checkMatch(*ts, task("6", "a")));

    EXPECT_FALSE(checkMatch(*plain, task("7", "(")));
    const std::string text = log();
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));
    EXPECT_NE(std::string::npos, text.find("Setting RegEx : '(' is "));
}

TEST_F(ExecuteProcessingTest, SelectBeyondIntDoesNotMatchAndLogsOneLine) {
    const auto ts = file("/rec/a.ts", true, 7);
    EXPECT_FALSE(checkMatch(*ts, task("99999999999", "")));
    EXPECT_FALSE(checkMatch(*ts, task("-99999999999", "")));
    EXPECT_EQ("  Setting SELECT : '99999999999' is out of range\n"
              "  Setting SELECT : '-99999999999' is out of range\n",
              log());
}

TEST_F(ExecuteProcessingTest, TsTitleSelectsTheSubject) {
    const auto ts = file("/rec/rec001.ts", true, 7, "Foo Bar");
    const auto plain = file("/rec/Foo.ts", false, 7, "Foo Bar");
    EXPECT_TRUE(checkMatch(*ts, task("TSTITLE", "^Foo")));
    EXPECT_FALSE(checkMatch(*ts, task("TSTITLE", "^rec")));
    EXPECT_TRUE(checkMatch(*plain, task("TSTITLE", "^Foo\\.ts$")));
    // Any other word, or none: the file name.
    EXPECT_TRUE(checkMatch(*ts, task("tstitle", "^rec001\\.ts$")));
    EXPECT_TRUE(checkMatch(*ts, task("", "001")));
    EXPECT_FALSE(checkMatch(*ts, task("", "^/rec")));
}

TEST_F(ExecuteProcessingTest, PreparationJoinsThePartsAndQuotesThePaths) {
    auto fd = file("/rec/a.ts", false);
    TaskData t;
    t.SetU8Program("tool");
    t.SetU8InputOption("-i");
    EXPECT_EQ("tool  -i \"/rec/a.ts\"", preparation(*fd, t));
    EXPECT_EQ("", fd->dest.u8FullPath) << "no output path leaves dest alone";

    const std::string out = m_dir.file("x/y/o \"q\".mp4");
    t.SetU8Option("-v");
    t.SetU8OutOption("-o");
    t.SetU8OutFullPath(out);
    auto hostile = file(m_dir.file("a\" -o \"b.ts"), false);
    EXPECT_EQ("tool -v -i \"" + m_dir.file("a\\\" -o \\\"b.ts") + "\" -o \"" +
                  m_dir.file("x/y/o \\\"q\\\".mp4") + "\"",
              preparation(*hostile, t));
    EXPECT_EQ(out, hostile->dest.u8FullPath);
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.file("x/y")));
}

TEST_F(ExecuteProcessingTest, ReplaceTaskDataFillsSixFields) {
    StringReplacer r;
    r.setReplaceList({{"${X}", "v"}});
    TaskData t;
    t.SetU8Regex("${X}r");
    t.SetU8Program("${X}p");
    t.SetU8Option("${X}o");
    t.SetU8InputOption("${X}i");
    t.SetU8OutOption("${X}oo");
    t.SetU8OutFullPath("${X}f");
    t.SetU8FileSearchPath("${X}s");
    t.SetU8Select("${X}");
    t.SetU8AfterTask("${X}");
    t.SetU8Recovery("${X}");
    const TaskData copy = replaceTaskData(r, t);
    for (const TaskData* x : {static_cast<const TaskData*>(&t), &copy}) {
        EXPECT_EQ("vr", x->GetU8Regex());
        EXPECT_EQ("vr", x->GetSjisRegex());
        EXPECT_EQ("vp", x->GetU8Program());
        EXPECT_EQ("vo", x->GetU8Option());
        EXPECT_EQ("${X}i", x->GetU8InputOption());
        EXPECT_EQ("voo", x->GetU8OutOption());
        EXPECT_EQ("vf", x->GetU8OutFullPath());
        EXPECT_EQ("vs", x->GetU8FileSearchPath());
        EXPECT_EQ("${X}", x->GetU8Select());
        EXPECT_EQ("${X}", x->GetU8AfterTask());
        EXPECT_EQ("${X}", x->GetU8Recovery());
    }
}

TEST_F(ExecuteProcessingTest, OutputSearch) {
    std::filesystem::create_directories(m_dir.file("out/sub"));
    writeFile(m_dir.file("out/sub/b.mp4"), "");
    writeFile(m_dir.file("out/a.mp4"), "");
    writeFile(m_dir.file("out/a.txt"), "");

    const auto expected = FileAccess::searchFile(m_dir.file("out/"), std::regex(".*\\.mp4"), true);
    ASSERT_EQ(2u, expected.size());
    EXPECT_EQ(expected.front().string(), outputSearchDirectory(m_dir.file("out/.*\\.mp4")));
    EXPECT_NE(std::string::npos, log().find("  SEARCH Found : " + expected.front().string() + "\n"));

    EXPECT_EQ("", outputSearchDirectory(m_dir.file("out/.*\\.mkv")));
    EXPECT_NE(std::string::npos, log().find("  SEARCH not found : .*\\.mkv\n"));

    EXPECT_EQ("", outputSearchDirectory(m_dir.file("out")));
    EXPECT_NE(std::string::npos, log().find("  Invalid 'FILESEARCH' Path : " + m_dir.file("out") + "\n"));

    EXPECT_EQ("", outputSearchDirectory(m_dir.file("out/(")));
    EXPECT_NE(std::string::npos, log().find("  SEARCH Abnomal : (\n"));

    EXPECT_EQ("", outputSearchDirectory(m_dir.file("missing/.*")));
    EXPECT_NE(std::string::npos, log().find("  SEARCH Abnomal : .*\n"));
}

TEST_F(ExecuteProcessingTest, NoRecordReturns1Silently) {
    SettingJson settings;
    std::vector<FileData> none;
    EXPECT_EQ(1, processing(settings, none));
    EXPECT_EQ("", log());
    EXPECT_TRUE(ResultManager::resultList.empty());
}

TEST_F(ExecuteProcessingTest, CalendarEpisodeCannotLeadTheOutputOutOfItsDirectory) {
    SettingJson settings;
    TaskData t;
    t.SetU8Program("true");
    t.SetU8OutOption("-o");
    t.SetU8OutFullPath(m_dir.file("out/${EpisodeNo}-${EpisodeNo2}.mp4"));
    settings.setTaskData({t});

    std::vector<FileData> files(2);
    files[0].src.path(m_dir.file("a.ts"));
    files[0].setAvailableTS(true);
    files[0].shobocal.available = true;  // as the calendar left it
    files[0].shobocal.ShoboEpisodeNo = "../../escape";
    files[1].src.path(m_dir.file("b.ts"));
    files[1].setAvailableTS(true);
    files[1].tsInfoEx.episodeNo = "7";

    EXPECT_EQ(0, processing(settings, files));
    EXPECT_EQ(m_dir.file("out/"), files[0].dest.u8Path);
    EXPECT_EQ("..\xEF\xBC\x8F..\xEF\xBC\x8F" "escape-..\xEF\xBC\x8F..\xEF\xBC\x8F" "escape.mp4",
              files[0].dest.u8Filename);
    EXPECT_EQ(m_dir.file("out/7-07.mp4"), files[1].dest.u8FullPath);
}

// A pattern that backtracks exponentially must still give its answer at
// once: a night's run must not stall on one file name. Back-references,
// which the polynomial matcher cannot take, still work.
TEST_F(ExecuteProcessingTest, CatastrophicPatternsAnswerWithoutStalling) {
    const std::string name = std::string(60, 'a') + "b.ts";
    const auto plain = file("/rec/" + name, false);
    EXPECT_FALSE(checkMatch(*plain, task("", "^(a|aa)*$")));
    EXPECT_FALSE(checkMatch(*plain, task("", "^(a+)+$")));
    EXPECT_TRUE(checkMatch(*plain, task("", "^(a|aa)*b\\.ts$")));
    EXPECT_TRUE(checkMatch(*plain, task("", "(a)\\1")));
    EXPECT_FALSE(checkMatch(*plain, task("", "(b)\\1")));
    EXPECT_TRUE(checkMatch(*plain, task("", "(?=a*b)a")));
    EXPECT_EQ("", log());
}
