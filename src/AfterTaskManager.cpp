#include "AfterTaskManager.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CoProcess.h"
#include "ErrorManager.h"
#include "FileAccess.h"
#include "FTPCallBackClass.h"
#include "FTPClient.h"
#include "Logger.h"
#include "Machine.h"
#include "ResultManager.h"
#include "StringExtra.h"
#include "USPath.h"

namespace {

const char* const kUnit = "../src/AfterTaskManager";

#define AT_LOG(level, ...) Logger::Write(LogLevel::level, kUnit, __func__, __LINE__, __VA_ARGS__)
// Every line of an upload names the upload, whichever helper writes it.
#define FTP_LOG(level, ...) Logger::Write(LogLevel::level, kUnit, "oneFtpTransfer", __LINE__, __VA_ARGS__)

const char* shown(const char* text) { return text != nullptr ? text : ""; }

// COPY, MOVE and IMOVE take the file name from the argument, or from the
// file they act on when the argument ends in "/".
USPath targetPath(const USPath& argument, const USPath& actedOn) {
    USPath target;
    target.path(argument.u8Path + (argument.u8Filename.empty() ? actedOn.u8Filename : argument.u8Filename));
    return target;
}

// Moves the file `moved` names and points it at the target, also when the
// move failed. False when it failed.
bool moveStep(const USPath& argument, USPath& moved) {
    const USPath target = targetPath(argument, moved);
    const int result = ClassAfterTaskManager::moveFile(moved.sjisFullPath.c_str(), target.sjisFullPath.c_str());
    moved.path(target.u8FullPath);
    return result == 0;
}

void deleteStep(const USPath& argument) {
    // Throws for a non-empty directory or a refused removal; a missing path
    // is no failure, also one that runs through a file ("x.ts/y").
    std::error_code error;
    if (!std::filesystem::remove(std::filesystem::path(argument.sjisFullPath), error) && error &&
        error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory) {
        throw std::filesystem::filesystem_error("cannot remove", std::filesystem::path(argument.sjisFullPath), error);
    }
}

// False when the upload failed.
bool ftpStep(const SettingJson& settings, const StringReplacer& replacer, const std::string& server,
             FileData& filedata) {
    filedata.ftp = settings.getFtpMap().at(server);
    filedata.ftp = ClassAfterTaskManager::replaceFtpSetting(replacer, filedata.ftp);
    return ClassAfterTaskManager::oneFtpTransfer(filedata) == 0;
}

// One step of a set. False ends the set: a failed copy, move or upload
// does, so that a later DELETE cannot remove the one good copy of the file
// and no later step works on a file that is not where the set put it (a
// target that was already there belongs to someone else).
bool runStep(const SettingJson& settings, const StringReplacer& replacer, const std::string& word,
             const std::string& argument, FileData& filedata) {
    if (word == "EXECUTE") {
        // A command line, not a path: run as written ("ftp://" keeps its
        // two slashes), names filled in so that they stay one argument.
        CoProcess::execute(StringExtra::utf8_to_multi_winapi(replacer.replaceInCommandLine(argument)));
        return true;
    }
    const std::string replaced = replacer.replace(argument);
    if (word == "FTP") {
        return ftpStep(settings, replacer, replaced, filedata);
    }

    USPath path;
    path.path(replaced);
    FileAccess::mkDir(path.sjisPath.c_str());
    if (word == "COPY") {
        const USPath target = targetPath(path, filedata.dest);
        const std::string& from = filedata.dest.sjisFullPath;
        return ClassAfterTaskManager::copyfile(from.c_str(), target.sjisFullPath.c_str()) == 0;
    }
    if (word == "MOVE") return moveStep(path, filedata.dest);
    if (word == "IMOVE") return moveStep(path, filedata.src);
    if (word == "DELETE") {
        deleteStep(path);
    } else if (word == "SUSPEND") {
        platform::powerControl().suspend();
    }
    return true;
}

}  // namespace

bool AfterTaskManager::oneExec(const SettingJson& settings, FileData& filedata) {
    if (!filedata.isSuccess()) return false;

    // Once, before any step: every step's placeholders name the file as it
    // was, also after a MOVE or IMOVE has changed its paths.
    StringReplacer replacer;
    replacer.setFileData(filedata);

    try {
        const std::string setName = filedata.taskData.GetU8AfterTask();
        // A task without "AFTER_TASK" has nothing to run; that is no failure.
        if (setName.empty()) return true;
        const std::vector<std::pair<std::string, std::string>> steps =
            settings.getAfterTaskMap().at(setName).atferTask;
        for (const auto& [word, argument] : steps) {
            if (!runStep(settings, replacer, word, argument, filedata)) return false;
        }
        return true;
    } catch (const std::exception& e) {
        AT_LOG(Error, "After Task Exception : %s", e.what());
        return false;
    }
}

int ClassAfterTaskManager::copyfile(const char* srcPath, const char* destPath) {
    AT_LOG(Info, "COPY FROM    : %s", shown(srcPath));
    // Refuses a copy onto the source itself and removes a partial copy.
    const int result = FileAccess::copyFile(srcPath, destPath);
    if (result == 0) {
        ResultManager::add(RESULT_CODE_SUCCESS, std::string("[COPY FILE] : ") + shown(destPath));
        AT_LOG(Info, "COPY SUCCESS : %s", shown(destPath));
    } else {
        ErrorManager::add(ERR_CANT_COPY);
        AT_LOG(Error, "COPY FAILURE: %s", shown(destPath));
    }
    return result;
}

int ClassAfterTaskManager::moveFile(const char* srcPath, const char* destPath) {
    AT_LOG(Info, "MOVE FROM    : %s", shown(srcPath));
    const int result = platform::renameFile(srcPath, destPath);
    if (result == 0) {
        ResultManager::add(RESULT_CODE_SUCCESS, std::string("[MOVE FILE] : ") + shown(destPath));
        AT_LOG(Info, "MOVE SUCCESS : %s", shown(destPath));
    } else {
        AT_LOG(Error, "MOVE FAILURE: %s", shown(destPath));
        ErrorManager::add(ERR_CANT_MOVE);
    }
    return result;
}

FTPData ClassAfterTaskManager::replaceFtpSetting(const StringReplacer& replace, FTPData& ftp) {
    ftp.setAddress(replace.replace(ftp.getAddress()));
    ftp.setRemotePath(replace.replace(ftp.getRemotePath()));
    return ftp;
}

//---------------------------------------------------------------------------
// The FTP upload

namespace {

// What one upload sends where.
struct UploadPlan {
    std::string address;
    std::string localPath;   // the output file
    std::string localName;   // its file name, also the name on the server
    std::string dir;         // remote directory ending in "/", or empty
    std::string remoteFile;  // dir + localName
    std::string url;         // for the log and the result list
    std::string rawRemotePath;  // as stored: the ANSI copy ends at a NUL
};

UploadPlan planUpload(const FileData& filedata) {
    const FTPData& ftp = filedata.ftp;
    UploadPlan plan;
    plan.address = ftp.getAddress();
    plan.localPath = filedata.dest.sjisFullPath;
    plan.localName = filedata.dest.sjisFilename;
    std::string dir = ftp.getCharRemotePath();
    plan.dir = FileAccess::pathNormalize(dir);
    plan.remoteFile = plan.dir + plan.localName;
    // Without a remote folder the file lands in the logon folder; the URL
    // still needs its separator after the address.
    plan.url = "ftp://" + plan.address + (plan.dir.empty() ? "/" : "") + plan.remoteFile;
    plan.rawRemotePath = ftp.getRemotePath();
    return plan;
}

bool holdsLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string withoutControls(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\0') c = '?';
    }
    return text;
}

// The logon goes to port 21 of the server's address. The test build can
// send it to a local server on another port instead (MARUBO_FTP_TEST_PORT,
// always 127.0.0.1) and shorten the pauses between attempts and the wait
// after each server reply (MARUBO_FTP_TEST_PAUSE_MS).
struct Endpoint {
    std::string host;
    unsigned short port;
};

#ifdef MARUBO_TEST_SEAMS
// A whole number from the environment within 1..max; 0 when unset or not one.
unsigned long environmentNumber(const char* name, unsigned long max) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || errno != 0 || value > max) return 0;
    return value;
}
#endif

Endpoint logonEndpoint(const std::string& address) {
#ifdef MARUBO_TEST_SEAMS
    if (const unsigned long port = environmentNumber("MARUBO_FTP_TEST_PORT", 65535)) {
        return {"127.0.0.1", static_cast<unsigned short>(port)};
    }
#endif
    return {address, static_cast<unsigned short>(nsFTP::DEFAULT_FTP_PORT)};
}

std::chrono::milliseconds retryPause() {
#ifdef MARUBO_TEST_SEAMS
    if (const unsigned long ms = environmentNumber("MARUBO_FTP_TEST_PAUSE_MS", 60000)) {
        return std::chrono::milliseconds(ms);
    }
#endif
    return std::chrono::seconds(20);
}

unsigned int responseWait() {
#ifdef MARUBO_TEST_SEAMS
    if (const unsigned long ms = environmentNumber("MARUBO_FTP_TEST_PAUSE_MS", 500)) {
        return static_cast<unsigned int>(ms);
    }
#endif
    return 500;
}

// At most three attempts; after each failure the count-down line ("FTP
// LOGIN FAILED : 3", 2, 1) and a pause, also after the last one.
template <typename Attempt>
bool threeAttempts(const char* what, Attempt attempt) {
    for (int left = 3; left > 0; --left) {
        if (attempt()) return true;
        FTP_LOG(Error, "FTP %s FAILED : %d", what, left);
        // sleep_for resumes after a signal for the time left.
        std::this_thread::sleep_for(retryPause());
    }
    return false;
}

nsFTP::CLogonInfo logonInfoFor(const UploadPlan& plan, const FTPData& ftp) {
    const Endpoint endpoint = logonEndpoint(plan.address);
    return nsFTP::CLogonInfo(nsHelper::CCnv::ConvertToTString(endpoint.host.c_str()), endpoint.port,
                             nsHelper::CCnv::ConvertToTString(ftp.getId().c_str()),
                             nsHelper::CCnv::ConvertToTString(ftp.getPass().c_str()),
                             nsHelper::CCnv::ConvertToTString(""));
}

void enterRemoteFolder(nsFTP::CFTPClient& client, const UploadPlan& plan) {
    // The client takes no empty directory: an entry without a remote path
    // uploads into the logon directory.
    if (plan.dir.empty()) return;
    if (client.MakeDirectory(nsHelper::CCnv::ConvertToTString(plan.dir.c_str())) == nsFTP::FTP_OK) {
        FTP_LOG(Info, "FTP MAKE DIR : '%s'", plan.dir.c_str());
    }
    client.ChangeWorkingDirectory(nsHelper::CCnv::ConvertToTString(plan.dir.c_str()));
}

bool logOn(nsFTP::CFTPClient& client, const UploadPlan& plan, const nsFTP::CLogonInfo& logonInfo) {
    if (!client.Login(logonInfo)) return false;
    FTP_LOG(Info, "FTP LOGIN : '%s'", plan.address.c_str());
    enterRemoteFolder(client, plan);
    return true;
}

// One upload attempt. A connection lost in an earlier attempt is made again
// first, or the retry would fail at once while the server waits; so is one
// whose logon a retry had refused, which is still open but logged on to no
// one.
bool uploadAttempt(nsFTP::CFTPClient& client, const UploadPlan& plan, const nsFTP::CLogonInfo& logonInfo,
                   bool& loggedOn) {
    if (!loggedOn || !client.IsConnected()) {
        loggedOn = logOn(client, plan, logonInfo);
        if (!loggedOn) return false;
    }
    const nsFTP::CRepresentation image(nsFTP::CType::Image(), nsFTP::CTypeFormat());
    return client.UploadFile(nsHelper::CCnv::ConvertToTString(plan.localPath.c_str()),
                             nsHelper::CCnv::ConvertToTString(plan.remoteFile.c_str()), false, image, false);
}

int logonAndUpload(nsFTP::CFTPClient& client, const UploadPlan& plan, const FTPData& ftp) {
    const nsFTP::CLogonInfo logonInfo = logonInfoFor(plan, ftp);
    bool loggedOn = false;
    if (!threeAttempts("LOGIN", [&] { return loggedOn = logOn(client, plan, logonInfo); })) {
        FTP_LOG(Error, "FTP LOGIN ABORT");
        return ErrorManager::add(ERR_FTP_LOGIN);
    }
    FTP_LOG(Info, "FTP UPLOAD FROM     : %s", plan.localPath.c_str());
    if (!threeAttempts("UPLOAD", [&] { return uploadAttempt(client, plan, logonInfo, loggedOn); })) {
        FTP_LOG(Error, "FTP UPLOAD ABORT : %s", plan.url.c_str());
        return ErrorManager::add(ERR_FTP_UPLOAD);
    }
    FTP_LOG(Info, "FTP UPLOAD SUCCESS  : %s", plan.url.c_str());
    ResultManager::add(RESULT_CODE_SUCCESS, "[FTP UP   ] : " + plan.url);
    return 0;
}

// One upload's client with its observer, which outlives its registration
// with it. On every way out the observer is detached and the client logs out.
class UploadSession {
public:
    UploadSession() : client(nsSocket::CreateDefaultBlockingSocketInstance(), 10, 2048, 0, "/") {
        client.AttachObserver(&progress);
        client.setUiTimeout(100);
        client.setUiResponseWait(responseWait());
        // Every attempt stores the whole file from byte 0 (STOR, never SIZE
        // and APPE). A remote file's size proves nothing about whose bytes it
        // holds: an older file under this name, or the one a server keeps
        // until a new store is complete, would pass for the start of this
        // upload, and a file of mixed bytes would be reported as uploaded.
        client.SetResumeMode(false);
    }
    ~UploadSession() {
        try {
            client.DetachObserver(&progress);
            client.Logout();
        } catch (...) {
            // Leaving is all that is left to do; the upload's outcome stands.
        }
    }
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    FTPCallBackClass progress;
    nsFTP::CFTPClient client;
};

}  // namespace

int ClassAfterTaskManager::oneFtpTransfer(const FileData& filedata) {
    const UploadPlan plan = planUpload(filedata);
    if (!FileAccess::isFileExist(plan.localPath.c_str())) {
        FTP_LOG(Error, "FTP file not found : %s", plan.localPath.c_str());
        return ErrorManager::add(ERR_FTP_UPLOAD);
    }
    // The names go into MKD, CWD and STOR lines: a line break would end the
    // command there and send the rest as a command of its own.
    if (holdsLineBreakOrNul(plan.localName) || holdsLineBreakOrNul(plan.rawRemotePath)) {
        FTP_LOG(Error, "FTP UPLOAD ABORT : %s", withoutControls(plan.url).c_str());
        return ErrorManager::add(ERR_FTP_UPLOAD);
    }

    UploadSession session;
    return logonAndUpload(session.client, plan, filedata.ftp);
}
