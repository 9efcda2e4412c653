// The logger and the error and result lists, set up for a test as a run
// sets them up.
#pragma once

#include <string>

namespace testsupport {

// Resets the logger and the error and result lists, then sends the log to
// `path`. Lines leave out source file, function and line number; the time
// and the level are kept as asked.
void startTestLog(const std::string& path, bool printTime, bool printLevel);

// Puts the logger and the lists back as they start, so the next test does
// not write into this one's file.
void endTestLog();

}  // namespace testsupport
