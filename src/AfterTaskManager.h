// The after-task sets: what runs for a file once its task's command has
// succeeded (further commands, copies, moves, deletions, an FTP upload of the
// output file, a suspend request).
#pragma once

#include "FileData.h"
#include "FtpData.h"
#include "SettingJson.h"
#include "StringReplacer.h"

class AfterTaskManager {
public:
    // Runs the set that the file's task names, step by step in stored order.
    // Placeholders name the file as it was before the first step. The steps
    // change the file's dest (MOVE), src (IMOVE) and ftp (FTP) in place.
    // False when the file's command did not succeed, the set is not defined,
    // a step raised a standard exception or a copy, move or upload failed (the rest
    // of the set is then skipped); a task that names no set has nothing to run.
    static bool oneExec(const SettingJson& settings, FileData& filedata);
};

class ClassAfterTaskManager {
public:
    // FileAccess::copyFile with its log lines, result entry or error 14.
    static int copyfile(const char* srcPath, const char* destPath);
    // A rename that never replaces an existing target and carries a file
    // across file systems, with its log lines, result entry or error 19.
    // 0 when moved.
    static int moveFile(const char* srcPath, const char* destPath);
    // Fills the placeholders into the address and the remote path (id and
    // password stay as written), stores them back and returns a copy.
    static FTPData replaceFtpSetting(const StringReplacer& replace, FTPData& ftp);
    // Uploads the file's output file (dest) to the server of its ftp record:
    // 0 when uploaded, else the error code it reported (16 logon, 17 upload).
    static int oneFtpTransfer(const FileData& filedata);
};
