// Turns the command line, or the settings' automatic search list, into the
// list of input files of a run. Only each record's src is filled here.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "ArgumentProcessing.h"
#include "FileData.h"
#include "SettingJson.h"

class FileEntryManager {
public:
    // With "auto": the automatic search list, command-line names ignored.
    // Otherwise every command-line name in order: a directory is searched
    // (file names matched against "filter", sub-directories with
    // "recursive"), a file is entered when "filter" finds a match in the
    // name as typed. Nothing is sorted; a file named twice is entered twice.
    // A file-system error never leaves here: it is logged and the entry
    // goes on with the next name.
    std::vector<FileData> execute(SettingJson settings, ArgumentProcessing args);

    // The automatic search: appends to list and returns a copy of it.
    std::vector<FileData> fileEntry(SettingJson settings, std::vector<FileData>& list);
    // One command-line directory: appends to list and returns a copy of it.
    std::vector<FileData> fileEntry2(const std::string dir, const std::regex re, const bool recursive,
                                     std::vector<FileData>& list);
};
