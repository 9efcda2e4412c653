// The FTP client observer of an upload: a progress line on the console that
// overwrites itself, and one log line when the transfer ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "FTPClient.h"

class FTPCallBackClass : public nsFTP::CFTPClient::CNotification {
public:
    ~FTPCallBackClass() override = default;

    void OnBeginReceivingData() override {}
    void OnEndReceivingData(long long /*lReceivedBytes*/) override {}
    void OnBytesReceived(const nsFTP::TByteVector& vBuffer, long long lReceivedBytes) override;
    void OnBytesSent(const nsFTP::TByteVector& vBuffer, long long lSentBytes) override;
    void OnPreReceiveFile(const std::string& strSourceFile, const std::string& strTargetFile,
                          long long lFileSize) override;
    void OnPreSendFile(const std::string& strSourceFile, const std::string& strTargetFile,
                       long long lFileSize) override;
    void OnPostReceiveFile(const std::string& strSourceFile, const std::string& strTargetFile,
                           long long lFileSize) override;
    void OnPostSendFile(const std::string& strSourceFile, const std::string& strTargetFile,
                        long long lFileSize) override;
    void OnResponse(const nsFTP::CReply& /*Reply*/) override {}
    // The data phase of an upload, for the closing line's rate: from the
    // data connection being ready to every byte having arrived.
    void OnBeginSendingData() override;
    void OnEndSendingData(long long lSentBytes) override;

    // Works out the figures since the previous line and prints the progress
    // line on the console (no line end: the next one overwrites it).
    void printSend();

private:
    void start(const std::string& source, const std::string& target, long long size);
    void count(long long bytes);
    // Sets rate, unit and per.
    void setRate(double bytesPerSec);
    void printLine() const;

    // Durations come from the steady clock: a clock set back during an
    // upload must not give a negative rate.
    std::chrono::steady_clock::time_point timestart{};
    std::chrono::steady_clock::time_point timeend{};
    std::string strSourceFile;
    std::string strTargetFile;
    std::string unit;
    float per = 0;
    float rate = 0;
    uint64_t lUpCount = 0;
    uint64_t lTotalSize = 0;
    uint64_t lDiffSize = 0;
    uint64_t lLastTotalSize = 0;
    int64_t lFileSize = 0;
    // For the closing line's rate of the data phase: its begin and end as
    // the client notified them, and the first and last block's time for
    // when it did not (no end comes on a failure or an abort).
    std::chrono::steady_clock::time_point timeBeginSending{};
    std::chrono::steady_clock::time_point timeEndSending{};
    bool fBeganSending = false;
    bool fEndedSending = false;
    std::chrono::steady_clock::time_point timeFirstBlock{};
    std::chrono::steady_clock::time_point timeLastBlock{};
};
