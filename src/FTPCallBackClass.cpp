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
    timeend = std::chrono::steady_clock::now();
    fBeganSending = false;
    fEndedSending = false;
    timeBeginSending = timeend;
    timeEndSending = timeend;
    timeFirstBlock = timeend;
    timeLastBlock = timeend;
}

void FTPCallBackClass::count(long long bytes) {
    lTotalSize += bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
    timeLastBlock = std::chrono::steady_clock::now();
    if (lUpCount == 0) timeFirstBlock = timeLastBlock;
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

void FTPCallBackClass::OnBeginSendingData() {
    timeBeginSending = std::chrono::steady_clock::now();
    fBeganSending = true;
}

void FTPCallBackClass::OnEndSendingData(long long /*lSentBytes*/) {
    timeEndSending = std::chrono::steady_clock::now();
    fEndedSending = true;
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
    // after it: all bytes over the time from the data connection being
    // ready to the last byte having arrived. A block counts once it is
    // written, which on a slow link is long before it arrives, so the last
    // block's time serves as the end only when no end came (the transfer
    // failed or was aborted); the first block's time is the begin when no
    // begin came.
    const auto begin = fBeganSending ? timeBeginSending : timeFirstBlock;
    const auto end = fEndedSending ? timeEndSending : timeLastBlock;
    setRate(bytesPerSecond(lTotalSize, end - begin));
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
