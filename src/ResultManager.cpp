#include "ResultManager.h"

#include "Logger.h"

std::vector<std::pair<int, std::string>> ResultManager::resultList;

const std::string ResultManager::RESULT_CODE[4] = {
    "[SUCCESS]",
    "[ERROR  ]",
    "[WARNING]",
    "[NOMATCH]",
};

void ResultManager::add(const int code, const std::string text) { resultList.emplace_back(code, text); }

std::string ResultManager::label(int code) {
    if (code < 0 || code >= static_cast<int>(sizeof RESULT_CODE / sizeof RESULT_CODE[0])) return "UNKNOWN";
    return RESULT_CODE[code];
}

void ResultManager::result() {
    if (resultList.empty()) return;
    Logger::Write(LogLevel::Info, "../src/ResultManager", __func__, __LINE__, "= Result List (%d) =",
                  static_cast<int>(resultList.size()));
    for (const auto& entry : resultList) {
        const LogLevel::type level = entry.first == RESULT_CODE_SUCCESS ? LogLevel::Info : LogLevel::Error;
        Logger::Write(level, "../src/ResultManager", __func__, __LINE__, "%s %s", label(entry.first).c_str(),
                      entry.second.c_str());
    }
}

void ResultManager::resetForTests() { resultList.clear(); }
