// The run driver: one run of the program from the settings file to the exit
// code, and the per-file task matching and running it is made of.
#pragma once

#include <string>
#include <vector>

#include "FileData.h"
#include "SettingJson.h"
#include "StringReplacer.h"
#include "TaskData.h"

class ExecuteProcessing {
public:
    // Runs the whole job for the process arguments and returns the exit code:
    // 0 every file processed; 1 settings check, TS print, channel-file maker
    // or no file at all; 7 some files unprocessed; 8 or 9 a settings or
    // channel file problem; under recovery "ABORT" the failing command's own
    // result, which may lie outside 0..255 (an HRESULT).
    static int transaction(int argc, char** argv);
};

// Reads and parses the settings file; success, errorCode (8 unreadable or
// empty, 9 not parsable) and parseMessage tell the outcome.
SettingJson SettingJsonParse(std::string path);

// The main loop over the file records; returns 0, 1, 7 or, under "ABORT",
// the failing command's result.
int processing(SettingJson& settings, std::vector<FileData>& files);

// Whether the raw task (placeholders not filled) applies to the file.
bool checkMatch(const FileData& file, const TaskData& task);

// Fills the placeholders into the task's REGEX, PROGRAM, OPTIONS, OUTFILEOPT,
// OUTFILEPATH and FILESEARCH in place and returns a copy of the task.
TaskData replaceTaskData(const StringReplacer& replacer, TaskData& task);

// The UTF-8 command line of the task for the file. With an output path the
// file's dest is set and its directory created. The source and output paths
// are quoted so that the program receives each as exactly one argument.
std::string preparation(FileData& file, TaskData& task);

// The first file that the FILESEARCH value (a directory followed by a
// file-name expression) finds, recursively; empty when none.
std::string outputSearchDirectory(std::string search);
