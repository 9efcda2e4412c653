#include "FileEntryManager.h"

#include <exception>
#include <map>
#include <utility>

#include "FileAccess.h"
#include "Logger.h"
#include "StringExtra.h"

namespace {

const char* const kUnit = "../src/FileEntryManager.cpp";

// Paths in the order they were entered. The records are made from them
// once the search is over, so the list is allocated once at its final size:
// grown record by record it would briefly hold the old and the new copy of
// every record at each step.
using Found = std::vector<USPath>;

void enter(Found& found, const std::string& utf8Path) {
    found.emplace_back();
    found.back().path(utf8Path);
    Logger::Write(LogLevel::Info, kUnit, "enter", __LINE__, "FILE ENTRY : %s", found.back().sjisFullPath.c_str());
}

void appendRecords(Found& found, std::vector<FileData>& list) {
    list.reserve(list.size() + found.size());
    for (USPath& path : found) {
        list.emplace_back();
        list.back().src = std::move(path);
    }
    found.clear();
}

// A directory can vanish, turn unreadable or become something else between
// the existence test and the walk, and a pathological pattern can exhaust
// the matcher: the search is then logged and given up, never the run.
void searchInto(const std::string& dir, const std::regex& re, bool recursive, Found& found) {
    try {
        for (const auto& hit : FileAccess::searchFile(dir, re, recursive)) {
            enter(found, hit.string());
        }
    } catch (const std::exception& e) {
        Logger::Write(LogLevel::Error, kUnit, "searchInto", __LINE__, "ERROR SEARCH FILE : %s", e.what());
    }
}

// The automatic search list, in settings order.
void autoEntry(const SettingJson& settings, Found& found) {
    for (const AutoFileSearch& search : settings.getAutoFileSearchList()) {
        if (!search.avaliable) continue;
        if (!FileAccess::isDirExist(search.path)) continue;
        std::regex re;
        try {
            re = StringExtra::compileRegex(search.regex);
        } catch (const std::regex_error& e) {
            // One broken entry of the list should not cost the others.
            Logger::Write(LogLevel::Error, kUnit, "fileEntry", __LINE__, "ERROR REGEX : %s", e.what());
            continue;
        }
        searchInto(StringExtra::utf8_to_multi_winapi(search.path), re, search.mode, found);
    }
}

}  // namespace

// execute works through the helpers above rather than fileEntry and
// fileEntry2: their returned copies of the list are wanted by no caller here.
std::vector<FileData> FileEntryManager::execute(SettingJson settings, ArgumentProcessing args) {
    std::vector<FileData> list;
    Found found;
    const std::map<std::string, std::string> params = args.getParams();

    if (params.count("auto") != 0) {
        autoEntry(settings, found);
        appendRecords(found, list);
        return list;
    }

    const auto filterIt = params.find("filter");
    const std::string filterText = filterIt == params.end() ? ".*" : filterIt->second;
    std::regex filter;
    try {
        filter = StringExtra::compileRegex(filterText);
    } catch (const std::regex_error& e) {
        Logger::Write(LogLevel::Error, kUnit, __func__, __LINE__, "ERROR REGEX : %s", e.what());
        return list;
    }
    const bool recursive = params.count("recursive") != 0;

    for (const std::string& arg : args.getFileList()) {
        try {
            if (FileAccess::isDirExist(arg.c_str())) {
                searchInto(arg, filter, recursive, found);
            } else if (FileAccess::isFileExist(arg.c_str()) && std::regex_search(arg, filter)) {
                found.emplace_back();
                found.back().path(arg.c_str());
                Logger::Write(LogLevel::Info, kUnit, __func__, __LINE__, "FILE ENTRY : %s",
                              found.back().sjisFullPath.c_str());
            } else {
                Logger::Write(LogLevel::Warn, kUnit, __func__, __LINE__, "FILE NO ENTRY : %s", arg.c_str());
            }
        } catch (const std::exception& e) {
            // The matcher gave up on this name (regex complexity or stack).
            Logger::Write(LogLevel::Error, kUnit, __func__, __LINE__, "ERROR REGEX : %s", e.what());
            Logger::Write(LogLevel::Warn, kUnit, __func__, __LINE__, "FILE NO ENTRY : %s", arg.c_str());
        }
    }
    appendRecords(found, list);
    return list;
}

std::vector<FileData> FileEntryManager::fileEntry(SettingJson settings, std::vector<FileData>& list) {
    Found found;
    autoEntry(settings, found);
    appendRecords(found, list);
    return list;
}

std::vector<FileData> FileEntryManager::fileEntry2(const std::string dir, const std::regex re, const bool recursive,
                                                   std::vector<FileData>& list) {
    Found found;
    searchInto(dir, re, recursive, found);
    appendRecords(found, list);
    return list;
}
