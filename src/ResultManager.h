// The process-wide result list printed at the end of a run.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum ResultCode : int {
    RESULT_CODE_SUCCESS = 0,
    RESULT_CODE_ERROR = 1,
    RESULT_CODE_WARN = 2,
    RESULT_CODE_NOMATCH_REGEX = 3,
};

class ResultManager {
public:
    // (result code, text) in the order they were added.
    static std::vector<std::pair<int, std::string>> resultList;
    // Nine-character label of each code.
    static const std::string RESULT_CODE[4];

    static void add(const int code, const std::string text);
    // Logs "= Result List (n) =" and one "label text" line per entry (Info
    // for successes, Error for the rest); nothing when empty.
    static void result();
    // RESULT_CODE of the code, "UNKNOWN" outside the table.
    static std::string label(int code);

    // Empties the list. For tests only.
    static void resetForTests();
};
