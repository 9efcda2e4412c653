#include "ExecuteProcessing.h"

#include <exception>
#include <filesystem>
#include <map>
#include <regex>
#include <stdexcept>

#include "AfterTaskManager.h"
#include "ArgumentProcessing.h"
#include "ChannelSettingParser.h"
#include "CoProcess.h"
#include "ErrorManager.h"
#include "FileAccess.h"
#include "FileEntryManager.h"
#include "Logger.h"
#include "MakeChannelSetting.h"
#include "Process.h"
#include "ResultManager.h"
#include "SettingJsonParser.h"
#include "ShobocalProcess.h"
#include "StringExtra.h"
#include "USPath.h"
#include "ValidationTS.h"

namespace {

const char* const kUnit = "../src/ExecuteProcessing";

#define RUN_LOG(level, ...) Logger::Write(LogLevel::level, kUnit, __func__, __LINE__, __VA_ARGS__)

// What became of one file in the main loop.
struct FileOutcome {
    bool processed = false;  // a task's command returned 0
    bool abort = false;      // a failing task said "ABORT"
    int abortCode = 0;       // that command's result
};

// Everything after a command returned 0: the output search and the after-tasks.
// Nothing here undoes the file's success.
void afterSuccess(const SettingJson& settings, FileData& file, const TaskData& working) {
    try {
        const std::string search = working.GetU8FileSearchPath();
        if (!search.empty()) {
            file.dest.path(outputSearchDirectory(search));
        }
        if (AfterTaskManager::oneExec(settings, file)) {
            RUN_LOG(Info, "after task all success.");
        } else {
            RUN_LOG(Error, "after task failed.");
        }
    } catch (const std::exception& e) {
        RUN_LOG(Error, "After Task Exception : %s", e.what());
        RUN_LOG(Error, "after task failed.");
    }
}

// Without a program the command line would start with the quoted source
// path, and the recording itself would be run as the program.
bool namesProgram(const TaskData& task) {
    return task.GetU8Program().find_first_not_of(" \t") != std::string::npos;
}

FileOutcome processOneFile(const SettingJson& settings, const std::vector<TaskData>& tasks,
                           StringReplacer& replacer, FileData& file) {
    FileOutcome outcome;

    if (file.shobocal.linkChannelSetting) {
        // The answer is not needed: the record's "available" flag tells what
        // was taken.
        ShobocalProcess::getShobocalInfo(file);
    }
    if (!file.shobocal.available) {
        file.shobocal.ShoboTitle = file.tsInfoEx.title;
        file.shobocal.ShoboSubTitle = file.tsInfoEx.subTitle;
        file.shobocal.ShoboEpisodeNo = file.tsInfoEx.episodeNo;
        file.shobocal.ShoboChName = file.tsInfoEx.chName;
    }
    if (file.isAvailableTS()) {
        StringReplacer fullWidth;
        fullWidth.setWindowsUnavailableCharacters();
        file.shobocal.ShoboTitle = fullWidth.replace(file.shobocal.ShoboTitle);
        file.shobocal.ShoboSubTitle = fullWidth.replace(file.shobocal.ShoboSubTitle);
        file.shobocal.ShoboChName = fullWidth.replace(file.shobocal.ShoboChName);
        // The calendar's episode number is text from the network: it gets the
        // same treatment before it can reach a file name.
        file.shobocal.ShoboEpisodeNo = fullWidth.replace(file.shobocal.ShoboEpisodeNo);
    }
    // Every file gets its own map: a plain file must never inherit the
    // placeholders (and so the output name) of the recording before it.
    replacer.setFileData(file);

    bool anyMatched = false;
    for (const TaskData& task : tasks) {
        if (!checkMatch(file, task)) continue;
        anyMatched = true;
        TaskData working = task;
        file.taskData = replaceTaskData(replacer, working);
        const std::string commandLine = StringExtra::utf8_to_multi_winapi(preparation(file, working));
        int rc = platform::kHresultFileNotFound;
        if (namesProgram(working)) {
            RUN_LOG(Info, "Execute CoProcess : %s", commandLine.c_str());
            rc = CoProcess::execute(commandLine);
        } else {
            RUN_LOG(Error, "Setting PROGRAM : '%s' is empty", working.GetU8Program().c_str());
        }
        file.setSuccess(rc == 0);

        if (rc != 0) {
            RUN_LOG(Error,
                    "CoProcess Error (0x%08X) : Contact the app's developer or Go to Microsoft's "
                    "website and check the 'NTSTATUS Values'.",
                    static_cast<unsigned int>(rc));
            ResultManager::add(RESULT_CODE_ERROR, file.src.sjisFullPath);
            const std::string recovery = working.GetU8Recovery();
            if (recovery == "ABORT") {
                outcome.abort = true;
                outcome.abortCode = rc;
                return outcome;
            }
            if (recovery == "NEXTTASK") continue;
            return outcome;
        }

        ResultManager::add(RESULT_CODE_SUCCESS, "[PROCESS  ] : " + file.src.sjisFullPath);
        outcome.processed = true;
        afterSuccess(settings, file, working);
        return outcome;
    }

    if (!anyMatched) {
        RUN_LOG(Error, "No matching REGEX's : %s", file.src.sjisFullPath.c_str());
        ResultManager::add(RESULT_CODE_NOMATCH_REGEX, file.src.sjisFullPath);
    }
    return outcome;
}

}  // namespace

SettingJson SettingJsonParse(std::string path) {
    SettingJson settings;
    settings.setSuccess(false);
    const std::string text = FileAccess::readTextFile(path);
    if (text.empty()) {
        RUN_LOG(Error, "setting file not open : %s", path.c_str());
        settings.setErrorCode(ErrorManager::add(ERR_SETTING_FILE_NOT_FOUND));
        return settings;
    }
    SettingJsonParser parser;
    settings = parser.parse(text);
    if (settings.isSuccess()) return settings;
    RUN_LOG(Error, "Setting File is Abnormal. : %s", settings.getParseMessage().c_str());
    settings.setErrorCode(ErrorManager::add(ERR_SETTING_PARSING));
    return settings;
}

int processing(SettingJson& settings, std::vector<FileData>& files) {
    if (files.empty()) return 1;

    const std::vector<TaskData> tasks = settings.getTaskData();
    StringReplacer replacer;
    std::size_t successTotal = 0;

    for (FileData& file : files) {
        // A failure inside one file's work costs that file only: the run
        // still ends with its lists and its exit code.
        try {
            const FileOutcome outcome = processOneFile(settings, tasks, replacer, file);
            if (outcome.abort) return outcome.abortCode;
            if (outcome.processed) ++successTotal;
        } catch (const std::exception& e) {
            RUN_LOG(Error, "Processing Exception : %s : %s", e.what(), file.src.sjisFullPath.c_str());
            ResultManager::add(RESULT_CODE_ERROR, file.src.sjisFullPath);
        }
    }

    const std::size_t unprocessed = files.size() - successTotal;
    if (unprocessed != 0) {
        RUN_LOG(Warn, "There are unprocessed = %d files", static_cast<int>(unprocessed));
        return ErrorManager::add(WRN_PROC_UNPROCESSED_FILES);
    }
    RUN_LOG(Info, "SUCCESS : All processed.");
    return 0;
}

bool checkMatch(const FileData& file, const TaskData& task) {
    std::string subject = file.src.u8Filename;

    if (file.isAvailableTS()) {
        const std::string select = task.GetU8Select();
        try {
            return std::stoi(select, nullptr, 10) == file.tsInfoEx.genreNoL;
        } catch (const std::invalid_argument&) {
            if (select == "TSTITLE") subject = file.tsInfoEx.title;
        } catch (const std::out_of_range&) {
            RUN_LOG(Error, "Setting SELECT : '%s' is out of range", select.c_str());
            return false;
        }
    }

    try {
        const std::regex re = StringExtra::compileRegex(task.GetU8Regex());
        return std::regex_search(subject, re);
    } catch (const std::regex_error& e) {
        RUN_LOG(Error, "Setting RegEx : '%s' is %s", task.GetSjisRegex().c_str(), e.what());
        return false;
    }
}

TaskData replaceTaskData(const StringReplacer& replacer, TaskData& task) {
    task.SetU8Regex(replacer.replace(task.GetU8Regex()));
    // These three are pieces of the command line as written.
    task.SetU8Program(replacer.replaceInCommandLine(task.GetU8Program()));
    task.SetU8Option(replacer.replaceInCommandLine(task.GetU8Option()));
    task.SetU8OutOption(replacer.replaceInCommandLine(task.GetU8OutOption()));
    task.SetU8OutFullPath(replacer.replace(task.GetU8OutFullPath()));
    task.SetU8FileSearchPath(replacer.replace(task.GetU8FileSearchPath()));
    return task;
}

std::string preparation(FileData& file, TaskData& task) {
    // The two paths are quoted with escaping: a file name holding '"' must
    // reach the program as that one name, never as extra arguments.
    std::string commandLine = task.GetU8Program() + " " + task.GetU8Option() + " " +
                              task.GetU8InputOption() + " " +
                              platform::quoteArgument(file.src.u8FullPath);

    const std::string outFullPath = task.GetU8OutFullPath();
    if (!outFullPath.empty()) {
        file.dest.path(outFullPath);
        FileAccess::mkDir(file.dest.sjisPath.c_str());
        commandLine += " " + task.GetU8OutOption() + " " + platform::quoteArgument(outFullPath);
    }
    return commandLine;
}

std::string outputSearchDirectory(std::string search) {
    if (FileAccess::isFileExist(search)) {
        RUN_LOG(Error, "Invalid 'FILESEARCH' Path : %s",
                StringExtra::utf8_to_multi_winapi(search).c_str());
        return "";
    }
    USPath where;
    try {
        where.path(search);
        RUN_LOG(Info, "SEARCH Path : %s", where.sjisFullPath.c_str());
        const std::regex re = StringExtra::compileRegex(where.u8Filename);
        const std::vector<std::filesystem::path> hits = FileAccess::searchFile(where.sjisPath, re, true);
        if (hits.empty()) {
            RUN_LOG(Error, "SEARCH not found : %s", where.sjisFilename.c_str());
            return "";
        }
        const std::string hit = hits.front().string();
        RUN_LOG(Info, "SEARCH Found : %s", StringExtra::utf8_to_multi_winapi(hit).c_str());
        return hit;
    } catch (const std::exception&) {
        RUN_LOG(Error, "SEARCH Abnomal : %s", where.sjisFilename.c_str());
        return "";
    }
}

int ExecuteProcessing::transaction(int argc, char** argv) {
    const std::string moduleDir = FileAccess::getModulePath();

    SettingJson settings = SettingJsonParse(moduleDir + "marubo.json");
    if (!settings.isSuccess()) {
        ErrorManager::result();
        return settings.getErrorCode();
    }

    ChannelSettingParser channels;
    if (settings.isShobocal()) {
        if (!channels.load(moduleDir + "channelsetting.json")) {
            RUN_LOG(Error, "%s", channels.errorMessage.c_str());
            ErrorManager::add(channels.errorCode);
            ErrorManager::result();
            return channels.errorCode;
        }
    }

    ArgumentProcessing args;
    args.analysis(argc, argv);
    const std::map<std::string, std::string> params = args.getParams();
    if (params.count("check") != 0) return 1;

    FileEntryManager entry;
    std::vector<FileData> files = entry.execute(settings, args);

    if (settings.isValidTS()) ValidationTS::validTSfilelist(files);

    if (params.count("chmake") != 0) {
        MakeChannelSetting maker(files);
        return 1;
    }
    if (params.count("tsinfo") != 0) {
        printTsInfo(files);
        return 1;
    }

    if (settings.isShobocal()) ShobocalProcess::linkShoboiCalender(channels, files);

    const int rc = processing(settings, files);
    ErrorManager::result();
    ResultManager::result();
    return rc;
}
