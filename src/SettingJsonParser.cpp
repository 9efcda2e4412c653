#include "SettingJsonParser.h"

#include <exception>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "JsonAdapter.h"
#include "Logger.h"
#include "StringExtra.h"

namespace {

const char* const kUnit = "../src/SettingJsonParser.cpp";

// Patterns are matched byte-wise: the classic locale keeps "\w" to ASCII
// letters, digits and underscore whatever the user's locale. The keys they
// test are the user's and may be of any length: the matcher must not recurse
// once per character.
std::regex makeRegex(const char* pattern) { return StringExtra::compileRegex(pattern); }

void readGeneral(const Json& general, SettingJson& settings) {
    settings.setValidTS(general["VALID_TS"].bool_value());
    settings.setInternet(general["INTERNET"].bool_value());
    settings.setShobocal(general["SHOBOCAL"].bool_value() && settings.isInternet());
}

void readAutoEntry(const Json& entries, SettingJson& settings) {
    std::vector<AutoFileSearch> list;
    for (const Json& entry : entries.array_items()) {
        AutoFileSearch search;
        search.avaliable = entry["AVAILABLE"].bool_value();
        search.mode = entry["RECURSIVE"].bool_value();
        search.regex = entry["REGEX"].string_value();
        search.path = entry["PATH"].string_value();
        list.push_back(std::move(search));
    }
    settings.setAutoFileSearchList(std::move(list));
}

using Macros = std::map<std::string, std::string>;

// Settings texts end up in command lines, paths and FTP fields, none of
// which is of use beyond this length.
constexpr std::size_t kMaxExpandedText = 1u << 20;

// What StringReplacer::replace gives, but a text that would grow beyond the
// cap is refused before it is built: macros that name each other several
// times multiply, and a settings file of a few hundred bytes would otherwise
// ask for gigabytes.
std::string expand(const Macros& macros, const std::string& text) {
    std::string result = text;
    for (const auto& [key, value] : macros) {
        if (key.empty() || value.size() <= key.size()) {
            StringExtra::replaceAll(result, key, value);
            continue;
        }
        std::size_t hits = 0;
        for (std::size_t pos = result.find(key); pos != std::string::npos; pos = result.find(key, pos + key.size())) {
            ++hits;
        }
        if (hits == 0) continue;
        const std::size_t growth = value.size() - key.size();
        if (result.size() > kMaxExpandedText || growth > (kMaxExpandedText - result.size()) / hits) {
            throw std::length_error("SETTING DEFINE : '" + key + "' expands beyond " +
                                    std::to_string(kMaxExpandedText) + " bytes");
        }
        StringExtra::replaceAll(result, key, value);
    }
    return result;
}

// Macros are expanded among themselves in one pass over the raw texts: a
// macro named inside another's text is resolved only when its key sorts
// after the key being applied, so the expansion cannot loop.
Macros readDefine(const Json& define) {
    static const std::regex keyForm = makeRegex("^\\#\\{.*\\}$");
    std::map<std::string, std::string> raw;
    for (const auto& member : define.object_items()) {
        if (std::regex_search(member.first, keyForm)) {
            raw.insert(std::make_pair(member.first, member.second.string_value()));
        } else {
            Logger::Write(LogLevel::Error, kUnit, __func__, __LINE__, "SETTING DEFINE Error : %s",
                          member.first.c_str());
        }
    }
    Macros expanded;
    for (const auto& entry : raw) {
        expanded[entry.first] = expand(raw, entry.second);
    }
    return expanded;
}

void readTaskList(const Json& tasks, const Macros& macros, SettingJson& settings) {
    std::vector<TaskData> list;
    for (const Json& element : tasks.array_items()) {
        if (!element["AVAILABLE"].bool_value()) continue;
        auto field = [&](const char* key) { return expand(macros, element[key].string_value()); };
        TaskData task;
        task.SetU8Select(field("SELECT"));
        task.SetU8Regex(field("REGEX"));
        task.SetU8Program(field("PROGRAM"));
        task.SetU8Option(field("OPTIONS"));
        task.SetU8InputOption(field("INFILEOPT"));
        task.SetU8OutOption(field("OUTFILEOPT"));
        task.SetU8OutFullPath(field("OUTFILEPATH"));
        task.SetU8FileSearchPath(field("FILESEARCH"));
        task.SetU8AfterTask(element["AFTER_TASK"].string_value());  // a set name, taken literally
        task.SetU8Recovery(field("RECOVERY"));
        list.push_back(std::move(task));
    }
    settings.setTaskData(std::move(list));
}

// Steps run in the byte-wise order of their keys; the optional "N:" prefix
// only makes keys unique and orders them ("10:" sorts before "2:").
void readAfterTask(const Json& sets, const Macros& macros, SettingJson& settings) {
    static const std::regex stepForm = makeRegex("^(\\d*:)?(\\w*)$");
    std::map<std::string, AfterTask> map;
    for (const auto& set : sets.object_items()) {
        AfterTask afterTask;
        for (const auto& step : set.second.object_items()) {
            std::smatch match;
            if (!std::regex_search(step.first, match, stepForm)) continue;
            afterTask.atferTask.emplace_back(match[2].str(), expand(macros, step.second.string_value()));
        }
        map[set.first] = std::move(afterTask);
    }
    settings.setAfterTaskMap(std::move(map));
}

void readFtpList(const Json& servers, const Macros& macros, SettingJson& settings) {
    std::map<std::string, FTPData> map;
    for (const auto& server : servers.object_items()) {
        const Json& entry = server.second;
        auto field = [&](const char* key) { return expand(macros, entry[key].string_value()); };
        auto number = [&](const char* key) { return static_cast<unsigned int>(entry[key].int_value()); };
        FTPData ftp;
        ftp.setAddress(field("ADDRESS"));
        ftp.setRemotePath(field("REMOTEPATH"));
        ftp.setId(field("ID"));
        ftp.setPass(field("PASS"));
        ftp.setUiTimeout(number("UITIMEOUT"));
        ftp.setUiResponseWait(number("UIRESPONSWAIT"));
        ftp.setUiLoginRetry(number("LOGINRETRY"));
        ftp.setUiUploadRetry(number("UPLOADRETRY"));
        ftp.setRetryWait(number("RETRYWAIT"));
        map[server.first] = std::move(ftp);
    }
    settings.setFtpMap(std::move(map));
}

}  // namespace

SettingJson SettingJsonParser::parse(const std::string text) {
    SettingJson settings;
    settings.setSuccess(false);

    std::string err;
    const Json json = Json::parse(text, err);
    if (json == Json()) {
        settings.setParseMessage(err);
        return settings;
    }

    // Reading a parsed text should not fail; if anything does (memory, a
    // conversion), the run gets an abnormal-settings result instead of
    // ending without its error list.
    try {
        SettingJson filled;
        filled.setSuccess(false);
        readGeneral(json["GENERAL"], filled);
        readAutoEntry(json["AUTOENTRY"], filled);
        const Macros macros = readDefine(json["DEFINE"]);
        readTaskList(json["TASKLIST"], macros, filled);
        readAfterTask(json["AFTER_TASK"], macros, filled);
        readFtpList(json["FTP_LIST"], macros, filled);
        filled.setSuccess(true);
        return filled;
    } catch (const std::exception& e) {
        settings.setParseMessage(e.what());
        return settings;
    }
}
