// A folder holding a copy of the built marubo, its settings file and a
// recording program, in which the end-to-end tests run the program as a
// real process.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TestPaths.h"

namespace testsupport {

// One line of marubo.log split into its level name ("INFO ", "ERROR", ...)
// and its message.
struct LogLine {
    std::string level;
    std::string message;
};

struct RunOutcome {
    int exitCode = -1;      // the process exit status; -1 when it did not exit
    bool timedOut = false;  // killed after the time bound
    std::string output;     // standard output and standard error together
    std::vector<LogLine> log;

    // Messages of the log, in order.
    std::vector<std::string> messages() const;
    // Whether a log line has exactly this message (and level, when given).
    bool logged(const std::string& message, const std::string& level = "") const;
    // Number of log lines whose message starts with the prefix.
    int countPrefix(const std::string& prefix) const;
};

class MaruboSandbox {
public:
    MaruboSandbox();

    // The sandbox root; the program lives in programDir().
    const std::string& root() const { return m_dir.path(); }
    std::string programDir() const;
    std::string file(const std::string& name) const { return m_dir.file(name); }

    // Writes marubo.json beside the program. Every "@REC@" in the text is
    // replaced by the recording program's command (JSON-escaped).
    void writeSettings(const std::string& json);

    // Writes a stand-in recording at "in/<name>" below the root (folders
    // made as needed) and returns its path.
    std::string addInput(const std::string& name) const;

    // Runs the program copy with the arguments (the program's own path is
    // argv[0]) as a shell would start it, SIGPIPE at its default; bounded in
    // time. The working directory is the root.
    RunOutcome run(const std::vector<std::string>& args) const;
    // The same with standard output on the descriptor `console` and standard
    // error on /dev/null; `output` then stays empty.
    RunOutcome run(const std::vector<std::string>& args, int console) const;

    // The command that runs the recording program. Each run of it stores its
    // arguments; "--exit=N" makes it exit with N; after "-o" it writes a small
    // file at the next argument (exit 9 when it cannot).
    std::string recorderCommand() const;
    // The arguments (argv[1..]) of each run of the recording program, in order.
    std::vector<std::vector<std::string>> calls() const;

    // Lines the keep-awake control recorded ("keep-awake on", ...).
    std::vector<std::string> powerRequests() const;

    // An environment variable for every later run (test seams).
    void setEnvironment(const std::string& name, const std::string& value);

private:
    TempDir m_dir;
    std::vector<std::string> m_environment;  // "NAME=value"
};

// A JSON string literal (with its quotes) for the text.
std::string jsonString(const std::string& text);

}  // namespace testsupport
