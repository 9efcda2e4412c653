// The parsed settings file.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "FtpData.h"
#include "TaskData.h"

// One after-task set: (step type, argument) pairs in the order they run.
struct AfterTask {
    std::vector<std::pair<std::string, std::string>> atferTask;
};

// One element of "AUTOENTRY".
struct AutoFileSearch {
    bool avaliable = false;  // false: the element is skipped
    bool mode = false;       // search sub-directories too
    std::string regex;       // ECMAScript pattern searched in each file name
    std::string path;        // directory to search
};

class SettingJson {
private:
    bool success = false;
    int errorCode = 0;  // meaningful only when success is false
    std::string parseMessage;
    bool internet = false;
    bool shobocal = false;
    bool validTS = false;
    bool channelSetting = false;  // kept for the record layout; nothing uses it
    std::vector<TaskData> taskDataList;
    std::map<std::string, FTPData> ftpMap;
    std::string autoListUp;
    std::string autoRegex;
    std::vector<std::string> autoListPath;
    std::vector<AutoFileSearch> autoFileSearchList;
    std::string systemLocale;
    std::map<std::string, AfterTask> afterTaskMap;

public:
    std::map<std::string, AfterTask> getAfterTaskMap() const { return afterTaskMap; }
    void setAfterTaskMap(std::map<std::string, AfterTask> v) { afterTaskMap = std::move(v); }
    std::string getSystemLocale() const { return systemLocale; }
    void setSystemLocale(std::string v) { systemLocale = std::move(v); }
    std::vector<AutoFileSearch> getAutoFileSearchList() const { return autoFileSearchList; }
    void setAutoFileSearchList(std::vector<AutoFileSearch> v) { autoFileSearchList = std::move(v); }
    std::string getAutoRegex() const { return autoRegex; }
    void setAutoRegex(std::string v) { autoRegex = std::move(v); }
    std::string getAutoListUp() const { return autoListUp; }
    void setAutoListUp(std::string v) { autoListUp = std::move(v); }
    std::vector<std::string> getAutoListPath() const { return autoListPath; }
    void setAutoListPath(std::vector<std::string> v) { autoListPath = std::move(v); }
    int getErrorCode() const { return errorCode; }
    void setErrorCode(int v) { errorCode = v; }
    bool isValidTS() const { return validTS; }
    void setValidTS(bool v) { validTS = v; }
    bool isSuccess() const { return success; }
    void setSuccess(bool v) { success = v; }
    std::string getParseMessage() const { return parseMessage; }
    void setParseMessage(std::string v) { parseMessage = std::move(v); }
    std::vector<TaskData> getTaskData() const { return taskDataList; }
    void setTaskData(std::vector<TaskData> v) { taskDataList = std::move(v); }
    std::map<std::string, FTPData> getFtpMap() const { return ftpMap; }
    void setFtpMap(std::map<std::string, FTPData> v) { ftpMap = std::move(v); }
    bool isInternet() const { return internet; }
    void setInternet(bool v) { internet = v; }
    bool isShobocal() const { return shobocal; }
    void setShobocal(bool v) { shobocal = v; }
};
