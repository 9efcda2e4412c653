// The upload observer driven the way the FTP client drives it: the console
// line that overwrites itself and the final log line, for the sizes that
// break naive arithmetic (an empty file, one block in no time, over 4 GiB).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FTPCallBackClass.h"
#include "TestLog.h"
#include "TestPaths.h"

namespace {

struct ProgressCase {
    const char* name;
    long long fileSize;
    long long blockSize;
    long long blocks;
    int lines;              // console lines, the closing one included
    const char* lastLine;   // start of the closing console line
    int pauseMs = 0;        // between the last block and the end (the final reply)
    const char* unit = "";  // of the closing line's rate, when given
    int waitMs = 0;         // before the first block (the commands and their replies)
    int gapMs = 0;          // between blocks
    long long firstBlock = 0;           // its size, when not blockSize
    double minRate = 0, maxRate = 0;    // the closing figure's band, in `unit`, when given
};

const ProgressCase kCases[] = {
    {"an empty file", 0, 0, 0, 1, "Transfer : 100.00% 0/0bytes   0.00byte/sec."},
    {"smaller than one block, in no time", 100, 100, 1, 2, "Transfer : 100.00% 100/100bytes "},
    {"a line every 10000 blocks", 40002, 2, 20001, 4, "Transfer : 100.00% 40002/40002bytes "},
    {"over 4 GiB counts in full", 5368709120LL, 1073741824LL, 5, 2,
     "Transfer : 100.00% 5368709120/5368709120bytes "},
    // 40 kB in well under 40 ms: the wait for the final reply is no part of it.
    {"the closing rate ends at the last block", 40000, 10000, 4, 2,
     "Transfer : 100.00% 40000/40000bytes ", 300, "Mbyte/sec."},
    // 400 kB after the first block over 200 ms: 2.00. Counting the waits
    // before or after, or the first block, gives 0.8, 3.0, 4.8 or 12.
    {"the closing rate is the data phase's", 2400000, 100000, 5, 2, "Transfer : 100.00% 2400000/2400000bytes ",
     300, "Mbyte/sec.", 300, 50, 2000000, 1.0, 2.0},
};

}  // namespace

TEST(FtpProgress, ConsoleAndLogLines) {
    testsupport::TempDir dir;
    for (const ProgressCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string logPath = dir.file(std::string(c.name) + ".log");
        testsupport::startTestLog(logPath, false, false);
        FTPCallBackClass observer;
        const nsFTP::TByteVector block(16);
        testing::internal::CaptureStdout();
        observer.OnPreSendFile("local.ts", "/up/local.ts", c.fileSize);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.waitMs));
        for (long long i = 0; i < c.blocks; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(c.gapMs));
            observer.OnBytesSent(block, i == 0 && c.firstBlock > 0 ? c.firstBlock : c.blockSize);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
        observer.OnPostSendFile("local.ts", "/up/local.ts", c.fileSize);
        const std::string console = testing::internal::GetCapturedStdout();
        testsupport::endTestLog();

        // The progress lines, then the log line (the logger writes to the
        // console as well).
        EXPECT_EQ(c.lines, std::count(console.begin(), console.end(), '\r'));
        const std::size_t lastStart = console.rfind('\r') + 1;
        const std::string last = console.substr(lastStart, console.find('\n', lastStart) - lastStart);
        EXPECT_EQ(0u, last.rfind(c.lastLine, 0)) << last;
        EXPECT_EQ("byte/sec.   ", last.substr(last.size() - 12)) << "three blanks clear a longer line";
        EXPECT_NE(std::string::npos, last.find(c.unit)) << last;
        if (c.maxRate > 0) {
            const double figure = std::stod(last.substr(last.find("bytes") + 5));
            EXPECT_LE(c.minRate, figure) << last;
            EXPECT_GE(c.maxRate, figure) << last;
        }

        const std::vector<std::string> log = testsupport::splitLines(testsupport::readFile(logPath));
        ASSERT_EQ(1u, log.size());
        EXPECT_NE(std::string::npos, log[0].find(last.substr(0, last.size() - 3)))
            << "the log holds the closing line without its blanks: " << log[0];
        for (const std::string& text : {console, log[0]}) {
            EXPECT_EQ(std::string::npos, text.find("inf")) << text;
            EXPECT_EQ(std::string::npos, text.find("nan")) << text;
        }
    }
}
