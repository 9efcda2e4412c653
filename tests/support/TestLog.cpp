#include "TestLog.h"

#include "ErrorManager.h"
#include "Logger.h"
#include "ResultManager.h"

namespace testsupport {

void startTestLog(const std::string& path, bool printTime, bool printLevel) {
    Logger::resetForTests();
    Logger::setPrintTime(printTime);
    Logger::setPrintLogLevel(printLevel);
    Logger::setPrintFileName(false);
    Logger::setPrintFuncName(false);
    Logger::setPrintLineNum(false);
    Logger::SetLogFilePath(path.c_str());
    ErrorManager::resetForTests();
    ResultManager::resetForTests();
}

void endTestLog() {
    Logger::resetForTests();
    ErrorManager::resetForTests();
    ResultManager::resetForTests();
}

}  // namespace testsupport
