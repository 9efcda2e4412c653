// The process-wide error list printed at the end of a run.
#pragma once

#include <string>
#include <vector>

enum ErrorCode : int {
    SUCCESS = 0,
    DO_NOTHING = 1,
    INFO_USAGE = 2,
    ERR_SETTING_REGEX = 3,
    ERR_PROCESSING = 4,
    WRN_PROC_FORCE_NEXT = 5,
    WRN_PROC_ABORT = 6,
    WRN_PROC_UNPROCESSED_FILES = 7,
    ERR_SETTING_FILE_NOT_FOUND = 8,
    ERR_SETTING_PARSING = 9,
    ERR_SEARCH_FILE = 10,
    INFO_FILECOPY_DO_NOTHING = 11,
    ERR_FILECOPY_OPEN_READ = 12,
    ERR_FILECOPY_OPEN_WRITE = 13,
    ERR_CANT_COPY = 14,
    INFO_FTP_DO_NOTHING = 15,
    ERR_FTP_LOGIN = 16,
    ERR_FTP_UPLOAD = 17,
    ERR_FTP_EXCEPTION = 18,
    ERR_CANT_MOVE = 19,
    ERR_FILE_DOSE_NOT_EXIST = 20,
};

class ErrorManager {
public:
    // Codes in the order they were added, duplicates kept.
    static std::vector<int> errorList;
    // Printed name of each code.
    static const std::string ERRORNAME[21];

    // Appends `code` and returns it.
    static int add(int code);
    // Logs "= Error List =" and one "-> name" line per code; nothing when empty.
    static void result();
    // ERRORNAME of the code, "UNKNOWN" outside the table.
    static std::string name(int code);

    // Empties the list. For tests only.
    static void resetForTests();
};
