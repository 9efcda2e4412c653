// One server entry of the settings' "FTP_LIST".
#pragma once

#include <cstdint>
#include <string>
#include <utility>

class FTPData {
private:
    std::string address;
    std::string remotePath;  // UTF-8
    std::string id;
    std::string pass;
    // Stored from the settings; the upload uses its own time-outs and retries.
    uint32_t uiTimeout = 0;
    uint32_t retryWait = 0;
    uint32_t uiResponseWait = 0;
    uint32_t uiLoginRetry = 0;
    uint32_t uiUploadRetry = 0;
    // ANSI form of remotePath. Growable, so a long remote path reaches the
    // server whole instead of being cut at a fixed buffer size.
    std::string charRemotePath;

public:
    std::string getAddress() const { return address; }
    void setAddress(std::string v) { address = std::move(v); }
    std::string getId() const { return id; }
    void setId(std::string v) { id = std::move(v); }
    std::string getPass() const { return pass; }
    void setPass(std::string v) { pass = std::move(v); }

    std::string getRemotePath() const { return remotePath; }
    // Assigns remotePath, then its ANSI form to charRemotePath.
    void setRemotePath(std::string v);
    // NUL-terminated ANSI remote path, valid until the next setRemotePath.
    char* getCharRemotePath() { return charRemotePath.data(); }
    const char* getCharRemotePath() const { return charRemotePath.c_str(); }

    int getUiTimeout() const { return static_cast<int>(uiTimeout); }
    void setUiTimeout(unsigned int v) { uiTimeout = v; }
    int getUiResponseWait() const { return static_cast<int>(uiResponseWait); }
    void setUiResponseWait(unsigned int v) { uiResponseWait = v; }
    int getUiLoginRetry() const { return static_cast<int>(uiLoginRetry); }
    void setUiLoginRetry(unsigned int v) { uiLoginRetry = v; }
    int getUiUploadRetry() const { return static_cast<int>(uiUploadRetry); }
    void setUiUploadRetry(unsigned int v) { uiUploadRetry = v; }
    int getRetryWait() const { return static_cast<int>(retryWait); }
    void setRetryWait(unsigned int v) { retryWait = v; }
};
