#include "ErrorManager.h"

#include "Logger.h"

std::vector<int> ErrorManager::errorList;

const std::string ErrorManager::ERRORNAME[21] = {
    "SUCCESS",
    "DO_NOTHING",
    "INFO_USAGE",
    "ERR_SETTING_REGEX",
    "ERR_PROCESSING",
    "WRN_PROC_FORCE_NEXT",
    "WRN_PROC_ABORT",
    "WRN_PROC_UNPROCESSED_FILES",
    "ERR_SETTING_FILE_NOT_FOUND",
    "ERR_SETTING_FILE_PARSING",
    "ERR_SEARCH_FILE",
    "INFO_FILECOPY_DO_NOTHING",
    "ERR_FILECOPY_OPEN_READ",
    "ERR_FILECOPY_OPEN_WRITE",
    "ERR_CANT_COPY",
    "INFO_FTP_DO_NOTHING",
    "ERR_FTP_LOGIN",
    "ERR_FTP_UPLOAD",
    "ERR_FTP_EXCEPTION",
    "ERR_CANT_MOVE",
    "File does not exist",
};

int ErrorManager::add(int code) {
    errorList.push_back(code);
    return code;
}

std::string ErrorManager::name(int code) {
    if (code < 0 || code >= static_cast<int>(sizeof ERRORNAME / sizeof ERRORNAME[0])) return "UNKNOWN";
    return ERRORNAME[code];
}

void ErrorManager::result() {
    if (errorList.empty()) return;
    Logger::Write(LogLevel::Info, "../src/ErrorManager", __func__, __LINE__, "= Error List =");
    for (int code : errorList)
        Logger::Write(LogLevel::Error, "../src/ErrorManager", __func__, __LINE__, "-> %s", name(code).c_str());
}

void ErrorManager::resetForTests() { errorList.clear(); }
