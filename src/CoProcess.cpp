#include "CoProcess.h"

#include "Process.h"

int CoProcess::execute(const char* commandLine) {
    if (commandLine == nullptr) return platform::kHresultFileNotFound;
    return platform::runCommandLine(commandLine);
}

int CoProcess::execute(std::string commandLine) { return execute(commandLine.c_str()); }
