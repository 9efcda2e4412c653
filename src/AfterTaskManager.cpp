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
// move failed: later steps then find nothing there rather than act on the
// file in its old place.
void moveStep(const USPath& argument, USPath& moved) {
    const USPath target = targetPath(argument, moved);
    ClassAfterTaskManager::moveFile(moved.sjisFullPath.c_str(), target.sjisFullPath.c_str());
    moved.path(target.u8FullPath);
}

void deleteStep(const USPath& argument) {
    // Throws for a non-empty directory or a refused removal; a missing path
    // is no failure.
    std::filesystem::remove(std::filesystem::path(argument.sjisFullPath));
}

void ftpStep(const SettingJson& settings, const StringReplacer& replacer, const std::string& server,
             FileData& filedata) {
    filedata.ftp = settings.getFtpMap().at(server);
    filedata.ftp = ClassAfterTaskManager::replaceFtpSetting(replacer, filedata.ftp);
    ClassAfterTaskManager::oneFtpTransfer(filedata);
}

// One step of a set. False ends the set: only a failed copy does, so that a
// later DELETE cannot remove the one good copy of the file.
bool runStep(const SettingJson& settings, const StringReplacer& replacer, const std::string& word,
             const std::string& argument, FileData& filedata) {
    const std::string replaced = replacer.replace(argument);
    if (word == "EXECUTE") {
        // A command line, not a path: run as written ("ftp://" keeps its
        // two slashes).
        CoProcess::execute(StringExtra::utf8_to_multi_winapi(replaced));
        return true;
    }
    if (word == "FTP") {
        ftpStep(settings, replacer, replaced, filedata);
        return true;
    }

    USPath path;
    path.path(replaced);
    FileAccess::mkDir(path.sjisPath.c_str());
    if (word == "COPY") {
        const USPath target = targetPath(path, filedata.dest);
        return ClassAfterTaskManager::copyfile(filedata.dest.sjisFullPath.c_str(), target.sjisFullPath.c_str()) ==
               0;
    }
    if (word == "MOVE") {
        moveStep(path, filedata.dest);
    } else if (word == "IMOVE") {
        moveStep(path, filedata.src);
    } else if (word == "DELETE") {
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

void ClassAfterTaskManager::moveFile(const char* srcPath, const char* destPath) {
    AT_LOG(Info, "MOVE FROM    : %s", shown(srcPath));
    if (platform::renameFile(srcPath, destPath) == 0) {
        ResultManager::add(RESULT_CODE_SUCCESS, std::string("[MOVE FILE] : ") + shown(destPath));
        AT_LOG(Info, "MOVE SUCCESS : %s", shown(destPath));
    } else {
        AT_LOG(Error, "MOVE FAILURE: %s", shown(destPath));
        ErrorManager::add(ERR_CANT_MOVE);
    }
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
    std::string rawRemotePath;  // the remote path as stored, for the checks
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
    plan.url = "ftp://" + plan.address + plan.remoteFile;
    plan.rawRemotePath = ftp.getRemotePath();
    return plan;
}

bool holdsLineBreakOrNul(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

std::string withoutControls(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\0') c = '?';
    }
    return text;
}

}  // namespace

int ClassAfterTaskManager::oneFtpTransfer(const FileData& filedata) {
    const UploadPlan plan = planUpload(filedata);
    if (!FileAccess::isFileExist(plan.localPath.c_str())) {
        FTP_LOG(Error, "FTP file not found : %s", plan.localPath.c_str());
        return ErrorManager::add(ERR_FTP_UPLOAD);
    }
    // The names go into STOR, MKD and CWD lines: a line break would end the
    // command there and send the rest as a command of its own.
    if (holdsLineBreakOrNul(plan.localName) || holdsLineBreakOrNul(plan.rawRemotePath)) {
        FTP_LOG(Error, "FTP UPLOAD ABORT : %s", withoutControls(plan.rawRemotePath + "/" + plan.localName).c_str());
        return ErrorManager::add(ERR_FTP_UPLOAD);
    }
    FTP_LOG(Error, "FTP UPLOAD ABORT : %s", plan.url.c_str());
    return ErrorManager::add(ERR_FTP_UPLOAD);
}
