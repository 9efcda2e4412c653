#include "CoProcess.h"

#include "Process.h"

#include <cstdint>

int CoProcess::execute(const char* commandLine) {
    if (commandLine == nullptr) return platform::kHresultFileNotFound;
    return platform::runCommandLine(commandLine);
}

int CoProcess::execute(std::string commandLine) { return execute(commandLine.c_str()); }

unsigned long CoProcess::executeDebugMode(std::string commandLine) {
    return static_cast<std::uint32_t>(platform::runProcessTraced(platform::splitCommandLine(commandLine)));
}
