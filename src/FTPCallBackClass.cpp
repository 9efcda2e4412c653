#include "FTPCallBackClass.h"

#include <cstdio>

#include "Logger.h"

namespace {

// A line at the 1st, 10001st, 20001st ... block.
constexpr uint64_t kBlocksPerLine = 10000;

}  // namespace

void FTPCallBackClass::start(const std::string& source, const std::string& target, long long size) {
    strSourceFile = source;
    strTargetFile = target;
    lFileSize = size;
    lUpCount = 0;
    lTotalSize = 0;
    lDiffSize = 0;
    lLastTotalSize = 0;
    lFirstBlockSize = 0;
    timeend = std::chrono::steady_clock::now();
    timeFirstBlock = timeend;
    timeLastBlock = timeend;
}

void FTPCallBackClass::count(long long bytes) {
    const uint64_t counted = bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
    lTotalSize += counted;
    timeLastBlock = std::chrono::steady_clock::now();
    if (lUpCount == 0) {
        timeFirstBlock = timeLastBlock;
        lFirstBlockSize = counted;
    }
    if (lUpCount % kBlocksPerLine == 0) printSend();
    ++lUpCount;
}

void FTPCallBackClass::OnPreSendFile(const std::string& strSourceFile, const std::string& strTargetFile,
                                     long long lFileSize) {
    start(strSourceFile, strTargetFile, lFileSize);
}

void FTPCallBackClass::OnPreReceiveFile(const std::string& strSourceFile, const std::string& strTargetFile,
                                        long long lFileSize) {
    start(strSourceFile, strTargetFile, lFileSize);
}

void FTPCallBackClass::OnBytesSent(const nsFTP::TByteVector& /*vBuffer*/, long long lSentBytes) {
    count(lSentBytes);
}

void FTPCallBackClass::OnBytesReceived(const nsFTP::TByteVector& /*vBuffer*/, long long lReceivedBytes) {
    count(lReceivedBytes);
}

namespace {

// Bytes per second over a duration; less than a whole millisecond (a small
// file, a fast disk) counts as one, so the rate stays a number.
double bytesPerSecond(uint64_t bytes, std::chrono::steady_clock::duration elapsed) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<double>(bytes) * 1000.0 / (milliseconds < 1 ? 1.0 : static_cast<double>(milliseconds));
}

}  // namespace

void FTPCallBackClass::setRate(double bytesPerSec) {
    // The unit is chosen on the rate as stored, so the line never shows
    // "1000.00Kbyte/sec." for a rate that rounds to a megabyte.
    rate = static_cast<float>(bytesPerSec);
    if (rate >= 1000000.0f) {
        rate /= 1000000.0f;
        unit = "Mbyte/sec.";
    } else if (rate >= 1000.0f) {
        rate /= 1000.0f;
        unit = "Kbyte/sec.";
    } else {
        unit = "byte/sec.";
    }
    // All of an empty file is there as soon as the transfer starts.
    per = lFileSize > 0 ? static_cast<float>(static_cast<double>(lTotalSize) * 100.0 / static_cast<double>(lFileSize))
                        : 100.0f;
}

void FTPCallBackClass::printLine() const {
    std::printf("\rTransfer : %5.2f%% %llu/%lldbytes %6.2f%s   ", per, static_cast<unsigned long long>(lTotalSize),
                static_cast<long long>(lFileSize), rate, unit.c_str());
    std::fflush(stdout);
}

void FTPCallBackClass::printSend() {
    timestart = std::chrono::steady_clock::now();
    lDiffSize = lTotalSize - lLastTotalSize;
    setRate(bytesPerSecond(lDiffSize, timestart - timeend));
    printLine();
    lLastTotalSize = lTotalSize;
    timeend = timestart;
}

void FTPCallBackClass::OnPostSendFile(const std::string& /*strSourceFile*/, const std::string& /*strTargetFile*/,
                                      long long lFileSize) {
    // The closing line gives the rate of the data phase alone, without the
    // commands and response waits before it or the wait for the final reply
    // after it. Each block is counted once it is written, so the time from
    // the first count to the last is the time the blocks after the first
    // took. A lone block's own time cannot be told from the waits before it:
    // it counts as one millisecond, as any shorter time does.
    const uint64_t timedBytes = lUpCount > 1 ? lTotalSize - lFirstBlockSize : lTotalSize;
    setRate(bytesPerSecond(timedBytes, timeLastBlock - timeFirstBlock));
    printLine();
    std::printf("\n");
    std::fflush(stdout);
    Logger::Write(LogLevel::Info, "FTPCallBackClass", "OnPostSendFile", __LINE__,
                  "Transfer : %5.2f%% %llu/%lldbytes %6.2f%s", per, static_cast<unsigned long long>(lTotalSize),
                  static_cast<long long>(lFileSize), rate, unit.c_str());
}

void FTPCallBackClass::OnPostReceiveFile(const std::string& /*strSourceFile*/, const std::string& /*strTargetFile*/,
                                         long long /*lFileSize*/) {
    printSend();
    std::printf("\n");
    std::fflush(stdout);
}
