// An FTP client observer that keeps what it was told, for tests: every
// command line sent, every reply, every internal error (with its time), the
// sizes and byte counts of transfers, and the begin and end of sending.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "FTPClient.h"

namespace testsupport {

class FtpClientRecorder : public nsFTP::CFTPClient::CNotification {
public:
    struct Error {
        std::string text;
        std::string file;
        std::uint32_t line;
        std::chrono::steady_clock::time_point at;  // when it was reported
    };

    void OnInternalError(const std::string& strErrorMsg, const std::string& strFileName, std::uint32_t dwLineNr) override {
        errors.push_back({strErrorMsg, strFileName, dwLineNr, std::chrono::steady_clock::now()});
    }
    void OnSendCommand(const nsFTP::CCommand& Command, const nsFTP::CArg& Arguments) override {
        commands.push_back(Command.AsString(Arguments));
    }
    void OnResponse(const nsFTP::CReply& Reply) override { replies.push_back(Reply.Value()); }
    void OnBytesSent(const nsFTP::TByteVector&, long long lSentBytes) override {
        bytesSent += lSentBytes;
        ++blocksSent;
    }
    void OnBytesReceived(const nsFTP::TByteVector&, long long lReceivedBytes) override {
        bytesReceived += lReceivedBytes;
        ++blocksReceived;
    }
    void OnEndReceivingData(long long lReceivedBytes) override { endReceivingTotals.push_back(lReceivedBytes); }
    // "Begin after N blocks", "End <bytes> after N blocks".
    void OnBeginSendingData() override {
        sendingEvents.push_back("Begin after " + std::to_string(blocksSent) + " blocks");
    }
    void OnEndSendingData(long long lSentBytes) override {
        sendingEvents.push_back("End " + std::to_string(lSentBytes) + " after " + std::to_string(blocksSent) +
                                " blocks");
    }
    void OnPreSendFile(const std::string& source, const std::string& target, long long size) override {
        events.push_back("PreSend " + source + " -> " + target + " " + std::to_string(size));
    }
    void OnPostSendFile(const std::string& source, const std::string& target, long long size) override {
        events.push_back("PostSend " + source + " -> " + target + " " + std::to_string(size));
    }
    void OnPreReceiveFile(const std::string& source, const std::string& target, long long size) override {
        events.push_back("PreReceive " + source + " -> " + target + " " + std::to_string(size));
    }
    void OnPostReceiveFile(const std::string& source, const std::string& target, long long size) override {
        events.push_back("PostReceive " + source + " -> " + target + " " + std::to_string(size));
    }

    // The command lines whose word is `word` ("STOR", "REST", ...).
    std::vector<std::string> commandsNamed(const std::string& word) const {
        std::vector<std::string> found;
        for (const std::string& line : commands) {
            if (line.compare(0, word.size(), word) == 0 && (line.size() == word.size() || line[word.size()] == ' ')) {
                found.push_back(line);
            }
        }
        return found;
    }
    std::string errorTexts() const {
        std::string text;
        for (const Error& error : errors) text += error.text + " (" + std::to_string(error.line) + ")\n";
        return text;
    }

    std::vector<std::string> commands;
    std::vector<std::string> replies;
    std::vector<Error> errors;
    std::vector<std::string> events;
    std::vector<long long> endReceivingTotals;
    std::vector<std::string> sendingEvents;
    long long bytesSent = 0;
    long long bytesReceived = 0;
    long long blocksSent = 0;
    long long blocksReceived = 0;
};

}  // namespace testsupport
