// Log lines, the error list and the result list.

#include "ErrorManager.h"
#include "Logger.h"
#include "ResultManager.h"

#include "TestLog.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <regex>
#include <thread>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const char* kTime = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

// The logger and lists as the program sets them up: time and level only.
class LoggerTest : public testing::Test {
protected:
    void SetUp() override { testsupport::startTestLog(m_dir.file("marubo.log"), true, true); }
    void TearDown() override { testsupport::endTestLog(); }
    std::string logFile() { return testsupport::readFile(m_dir.file("marubo.log")); }

    testsupport::TempDir m_dir;
};

}  // namespace

TEST_F(LoggerTest, LineLayoutOnConsoleAndInFile) {
    CaptureStdout();
    Logger::Write(LogLevel::Info, "../src/x", "f", 1, "Execute CoProcess : %s (%d)", "/rec/a.ts", 3);
    Logger::Write(LogLevel::Warn, "../src/x", "f", 2, "w");
    Logger::write(LogLevel::Error, "../src/x", "f", 3, "e 100%");
    Logger::write(LogLevel::Debug, "../src/x", "f", 4, "d");
    const std::string console = GetCapturedStdout();

    const std::regex expected(std::string("^") + kTime + R"( \[INFO \] Execute CoProcess : /rec/a\.ts \(3\)\n)" +
                              kTime + R"( \[WARN \] w\n)" + kTime + R"( \[ERROR\] e 100%\n)" + kTime +
                              R"( \[DEBUG\] d\n$)");
    EXPECT_TRUE(std::regex_match(console, expected)) << console;
    EXPECT_EQ(logFile(), console);  // appended line for line, same text
}

TEST_F(LoggerTest, OptionalPartsNullMessageAndUnknownLevel) {
    CaptureStdout();
    Logger::write(static_cast<LogLevel::type>(7), "../src/x", "f", 1, "seven");
    Logger::write(LogLevel::Info, "../src/x", "f", 1, nullptr);
    Logger::Write(LogLevel::Info, "../src/x", "f", 1, nullptr);
    Logger::setPrintLogLevel(false);
    Logger::write(LogLevel::Info, "../src/x", "f", 1, "no level");
    Logger::setPrintTime(false);
    Logger::setPrintFileName(true);
    Logger::setPrintFuncName(true);
    Logger::setPrintLineNum(true);
    Logger::write(LogLevel::Info, "../src/ExecuteProcessing", "transaction", 42, "all");
    const std::vector<std::string> got = testsupport::splitLines(GetCapturedStdout());

    ASSERT_EQ(got.size(), 5u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(std::string(kTime) + R"( \[UNKNOWN\] seven)"))) << got[0];
    EXPECT_TRUE(std::regex_match(got[1], std::regex(std::string(kTime) + R"( \[INFO \])"))) << got[1];
    EXPECT_EQ(got[2], got[1]);
    EXPECT_TRUE(std::regex_match(got[3], std::regex(std::string(kTime) + "  no level"))) << got[3];
    EXPECT_EQ(got[4], " [../src/ExecuteProcessing][transaction][42] all");

    EXPECT_EQ(LogLevel::ToString(LogLevel::Info), "INFO ");
    EXPECT_EQ(LogLevel::ToString(static_cast<LogLevel::type>(0)), "UNKNOWN");
}

TEST_F(LoggerTest, LongMessageIsWrittenWhole) {
    std::string message(10000, 'x');
    message[4095] = 'A';
    message.back() = 'Z';
    CaptureStdout();
    Logger::Write(LogLevel::Info, "../src/x", "f", 1, "<%s>", message.c_str());
    const std::string console = GetCapturedStdout();
    const std::string tail = "[INFO ] <" + message + ">\n";
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
    EXPECT_EQ(logFile(), console);
}

TEST_F(LoggerTest, UnwritableLogFileStillPrintsTheLine) {
    Logger::SetLogFilePath(m_dir.path().c_str());  // a directory
    CaptureStdout();
    Logger::Write(LogLevel::Error, "../src/x", "f", 1, "still here");
    Logger::SetLogFilePath("");
    Logger::Write(LogLevel::Info, "../src/x", "f", 1, "no file");
    const std::vector<std::string> got = testsupport::splitLines(GetCapturedStdout());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[0].find("[ERROR] still here"), std::string::npos);
    EXPECT_NE(got[1].find("[INFO ] no file"), std::string::npos);
}

TEST_F(LoggerTest, FifoInPlaceOfTheLogFileNeverStallsTheRun) {
    const std::string fifo = m_dir.file("marubo.log");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    // Nobody reads the FIFO: a blocking open would hang here for good, so
    // the write runs on a thread and the test gives up waiting after 10 s.
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread writer([&done] {
        Logger::Write(LogLevel::Info, "../src/x", "f", 1, "into nowhere");
        done.set_value();
    });
    const bool returned = finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        // Unblock the writer so the test can end.
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        finished.wait();
        close(fd);
    }
    writer.join();
    EXPECT_TRUE(returned);
}

TEST_F(LoggerTest, ErrorListNamesOrderAndDuplicates) {
    CaptureStdout();
    ErrorManager::result();  // empty: prints nothing at all
    EXPECT_EQ(GetCapturedStdout(), "");

    EXPECT_EQ(ErrorManager::add(ERR_SETTING_PARSING), 9);
    EXPECT_EQ(ErrorManager::add(ERR_SETTING_FILE_NOT_FOUND), 8);
    ErrorManager::add(ERR_FILE_DOSE_NOT_EXIST);
    ErrorManager::add(ERR_SETTING_PARSING);
    ErrorManager::add(42);
    EXPECT_EQ(ErrorManager::errorList, (std::vector<int>{9, 8, 20, 9, 42}));

    CaptureStdout();
    ErrorManager::result();
    ErrorManager::result();  // printing does not clear
    const std::vector<std::string> got = testsupport::splitLines(GetCapturedStdout());
    const std::vector<std::string> want = {
        "[INFO ] = Error List =",           "[ERROR] -> ERR_SETTING_FILE_PARSING",
        "[ERROR] -> ERR_SETTING_FILE_NOT_FOUND", "[ERROR] -> File does not exist",
        "[ERROR] -> ERR_SETTING_FILE_PARSING", "[ERROR] -> UNKNOWN",
    };
    ASSERT_EQ(got.size(), 2 * want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::string& w = want[i % want.size()];
        ASSERT_GE(got[i].size(), w.size());
        EXPECT_EQ(got[i].substr(got[i].size() - w.size()), w);
        EXPECT_EQ(got[i][20], '[') << got[i];  // "date time " then the level
    }

    // Every other code prints its enumerator's name.
    EXPECT_EQ(ErrorManager::name(0), "SUCCESS");
    EXPECT_EQ(ErrorManager::name(INFO_USAGE), "INFO_USAGE");
    EXPECT_EQ(ErrorManager::name(WRN_PROC_UNPROCESSED_FILES), "WRN_PROC_UNPROCESSED_FILES");
    EXPECT_EQ(ErrorManager::name(ERR_CANT_MOVE), "ERR_CANT_MOVE");
    EXPECT_EQ(ErrorManager::name(-1), "UNKNOWN");
    EXPECT_EQ(ErrorManager::name(21), "UNKNOWN");
}

TEST_F(LoggerTest, ResultListLabelsLevelsAndCount) {
    CaptureStdout();
    ResultManager::result();
    EXPECT_EQ(GetCapturedStdout(), "");

    ResultManager::add(RESULT_CODE_SUCCESS, "[PROCESS  ] : /rec/a.ts");
    ResultManager::add(RESULT_CODE_NOMATCH_REGEX, "/rec/b.ts");
    ResultManager::add(RESULT_CODE_ERROR, "/rec/c.ts");
    ResultManager::add(RESULT_CODE_WARN, "w");
    ResultManager::add(9, "odd");
    CaptureStdout();
    ResultManager::result();
    const std::vector<std::string> got = testsupport::splitLines(GetCapturedStdout());
    const std::vector<std::string> want = {
        "[INFO ] = Result List (5) =",
        "[INFO ] [SUCCESS] [PROCESS  ] : /rec/a.ts",
        "[ERROR] [NOMATCH] /rec/b.ts",
        "[ERROR] [ERROR  ] /rec/c.ts",
        "[ERROR] [WARNING] w",
        "[ERROR] UNKNOWN odd",
    };
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].substr(20), want[i]);
    EXPECT_EQ(ResultManager::resultList.size(), 5u);
    EXPECT_EQ(ResultManager::RESULT_CODE[1], "[ERROR  ]");
}
