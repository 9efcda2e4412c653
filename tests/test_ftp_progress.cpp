// The upload observer driven the way the FTP client drives it: the console
// line that overwrites itself and the final log line, for the sizes that
// break naive arithmetic (an empty file, one block in no time, over 4 GiB),
// and the closing line's rate: that of the data phase, from the data
// connection being ready to the data having arrived.
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

// When the client notifies what, in milliseconds apart: OnPreSendFile, the
// commands and their replies (wait), OnBeginSendingData (the data
// connection is ready), the first block (lead), the other blocks (gap
// apart), the bytes still queued arriving (drain), OnEndSendingData, the
// final reply (tail), OnPostSendFile. A failed or aborted upload has no end;
// `begin` false plays a client that notifies no begin.
struct Timeline {
    int wait = 0;
    int lead = 0;
    int gap = 0;
    int drain = 0;
    int tail = 0;
    bool begin = true;
    bool end = true;
};

struct ProgressCase {
    const char* name;
    long long fileSize;
    long long blockSize;
    long long blocks;
    int lines;              // console lines, the closing one included
    const char* lastLine;   // start of the closing console line
    const char* unit = "";  // of the closing line's rate, when given
    double minRate = 0, maxRate = 0;  // the closing figure's band, in `unit`, when given
    long long firstBlock = 0;         // its size, when not blockSize
    Timeline time = {};
};

// The closing rate is all bytes over the time from the begin to the end.
// Sleeps only ever last longer than asked, so the right figure can only
// come out below the nominal one: each band reaches from the nominal figure
// down far enough for 200 ms or more of delay on a busy machine, and every
// wrong formula falls outside it.
const ProgressCase kCases[] = {
    {"an empty file", 0, 0, 0, 1, "Transfer : 100.00% 0/0bytes   0.00byte/sec."},
    {"smaller than one block, in no time", 100, 100, 1, 2, "Transfer : 100.00% 100/100bytes "},
    {"a line every 10000 blocks", 40002, 2, 20001, 4, "Transfer : 100.00% 40002/40002bytes "},
    {"over 4 GiB counts in full", 5368709120LL, 1073741824LL, 5, 2,
     "Transfer : 100.00% 5368709120/5368709120bytes "},
    // 40 kB in well under 40 ms: the wait for the final reply is no part of it.
    {"the final reply's wait is no part of the rate", 40000, 10000, 4, 2, "Transfer : 100.00% 40000/40000bytes ",
     "Mbyte/sec.", 0, 0, 0, {0, 0, 0, 0, 300}},
    // 2 MB from the begin to the end, 1000 ms: 2.00. Ending at the last
    // block gives 5.0 (so does the old count from the first block to the
    // last without the first), counting the wait before the begin or the
    // final reply's after the end 1.25, leaving out the first block 1.0.
    {"the closing rate is the data phase's", 2000000, 500000, 3, 2, "Transfer : 100.00% 2000000/2000000bytes ",
     "Mbyte/sec.", 1.4, 2.0, 1000000, {600, 200, 100, 600, 600}},
    // 1 MB in 400 ms: 2.50. A lone block's written moment alone gives 1000
    // (one millisecond), ending at it 5.0, counting either wait around the
    // data phase 1.43.
    {"one block's closing rate is the data phase's", 1000000, 1000000, 1, 2,
     "Transfer : 100.00% 1000000/1000000bytes ", "Mbyte/sec.", 1.6, 2.5, 0, {300, 200, 0, 200, 300}},
    // A failed upload: no end, so the last block ends it: 2 MB in 400 ms,
    // 5.00; up to the closing line it would be 2.0.
    {"without an end the last block ends the data phase", 3000000, 1000000, 2, 2,
     "Transfer : 66.67% 2000000/3000000bytes ", "Mbyte/sec.", 3.0, 5.0, 0, {0, 200, 200, 0, 600, true, false}},
    // No begin: the first block starts it: 2 MB in 400 ms, 5.00; from the
    // start of the upload it would be 2.0.
    {"without a begin the first block starts the data phase", 2000000, 1000000, 2, 2,
     "Transfer : 100.00% 2000000/2000000bytes ", "Mbyte/sec.", 3.0, 5.0, 0, {600, 0, 200, 200, 600, false, true}},
};

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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
        // As the client notifies it.
        observer.OnPreSendFile("local.ts", "/up/local.ts", c.fileSize);
        sleepMs(c.time.wait);
        if (c.time.begin) observer.OnBeginSendingData();
        sleepMs(c.time.lead);
        long long sent = 0;
        for (long long i = 0; i < c.blocks; ++i) {
            if (i > 0) sleepMs(c.time.gap);
            const long long count = i == 0 && c.firstBlock > 0 ? c.firstBlock : c.blockSize;
            observer.OnBytesSent(block, count);
            sent += count;
        }
        sleepMs(c.time.drain);
        if (c.time.end) observer.OnEndSendingData(sent);
        sleepMs(c.time.tail);
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
