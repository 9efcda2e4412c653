#include "MaruboSandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "CStringList.h"
#include "ChildSignals.h"
#include "JsonAdapter.h"
#include "Process.h"

extern char** environ;

namespace testsupport {

namespace {

// A run that takes longer than this is a hang, not a slow machine.
constexpr auto kRunBound = std::chrono::seconds(120);

const char* const kRecorder = R"PY(import os, sys
here = os.path.dirname(os.path.abspath(__file__))
calls = os.path.join(here, 'calls')
os.makedirs(calls, exist_ok=True)
args = [os.fsencode(a) for a in sys.argv[1:]]
n = len(os.listdir(calls))
with open(os.path.join(calls, '%04d' % n), 'wb') as f:
    f.write(str(len(args)).encode() + b'\0' + b'\0'.join(args))
code = 0
for i, a in enumerate(args):
    if a.startswith(b'--exit='):
        code = int(a[7:])
    if a == b'-o' and i + 1 < len(args):
        try:
            with open(args[i + 1], 'wb') as out:
                out.write(b'output')
        except OSError:
            code = 9
sys.exit(code)
)PY";

std::string pythonPath() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return "python3";
}

std::vector<LogLine> parseLog(const std::string& text) {
    // "YYYY-MM-DD HH:MM:SS [LEVEL] message"
    std::vector<LogLine> lines;
    for (const std::string& line : splitLines(text)) {
        LogLine entry;
        if (line.size() >= 27 && line[20] == '[' && line[26] == ']') {
            entry.level = line.substr(21, 5);
            entry.message = line.size() > 28 ? line.substr(28) : "";
        } else {
            entry.message = line;
        }
        lines.push_back(entry);
    }
    return lines;
}

}  // namespace

std::vector<std::string> RunOutcome::messages() const {
    std::vector<std::string> out;
    for (const LogLine& line : log) out.push_back(line.message);
    return out;
}

bool RunOutcome::logged(const std::string& message, const std::string& level) const {
    return std::any_of(log.begin(), log.end(), [&](const LogLine& line) {
        return line.message == message && (level.empty() || line.level == level);
    });
}

int RunOutcome::countPrefix(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const LogLine& line) {
        return line.message.compare(0, prefix.size(), prefix) == 0;
    }));
}

MaruboSandbox::MaruboSandbox() {
    std::error_code ec;
    std::filesystem::create_directory(programDir(), ec);
    std::filesystem::copy_file(maruboBinary(), programDir() + "/marubo",
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) ADD_FAILURE() << "cannot copy " << maruboBinary() << ": " << ec.message();
    writeFile(file("rec.py"), kRecorder);
}

std::string MaruboSandbox::programDir() const { return m_dir.file("bin"); }

void MaruboSandbox::writeSettings(const std::string& json) {
    std::string text = json;
    const std::string command = jsonString(recorderCommand());
    const std::string inner = command.substr(1, command.size() - 2);
    for (std::size_t at = text.find("@REC@"); at != std::string::npos;
         at = text.find("@REC@", at + inner.size())) {
        text.replace(at, 5, inner);
    }
    writeFile(programDir() + "/marubo.json", text);
}

std::string MaruboSandbox::recorderCommand() const {
    return platform::quoteArgument(pythonPath()) + " " + platform::quoteArgument(file("rec.py"));
}

std::string MaruboSandbox::addInput(const std::string& name) const {
    const std::string path = file("in/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, "recording");
    return path;
}

RunOutcome MaruboSandbox::run(const std::vector<std::string>& args) const { return run(args, -1); }

RunOutcome MaruboSandbox::run(const std::vector<std::string>& args, int console) const {
    RunOutcome outcome;
    const std::string program = programDir() + "/marubo";
    const std::string outputPath = file("output.txt");
    const std::string logPath = programDir() + "/marubo.log";
    ::unlink(logPath.c_str());

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    const CStringList argv(std::move(argvText));

    // The keep-awake control only writes its requests down during tests.
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("MARUBO_POWER_LOG=", 0) != 0) envText.emplace_back(*e);
    }
    envText.push_back("MARUBO_POWER_LOG=" + file("power.log"));
    envText.insert(envText.end(), m_environment.begin(), m_environment.end());
    const CStringList envp(std::move(envText));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (console >= 0) {
        posix_spawn_file_actions_adddup2(&actions, console, 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawn_file_actions_addchdir_np(&actions, root().c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    platform::setChildSignals(&attr, false);

    pid_t pid = -1;
    const int started = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (started != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << started;
        return outcome;
    }

    const auto deadline = std::chrono::steady_clock::now() + kRunBound;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) {
            ADD_FAILURE() << "waitpid failed";
            return outcome;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            outcome.timedOut = true;
            ADD_FAILURE() << "marubo did not finish in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!outcome.timedOut && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ADD_FAILURE() << "marubo died of signal " << WTERMSIG(status);

    if (console < 0) outcome.output = readFile(outputPath);
    outcome.log = parseLog(readFile(logPath));
    return outcome;
}

std::vector<std::vector<std::string>> MaruboSandbox::calls() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(file("calls"), ec)) {
        names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());

    std::vector<std::vector<std::string>> result;
    for (const std::string& name : names) {
        const std::string bytes = readFile(name);
        const std::size_t head = bytes.find('\0');
        const int count = std::stoi(bytes.substr(0, head));
        std::vector<std::string> args;
        std::size_t at = head == std::string::npos ? bytes.size() : head + 1;
        for (int i = 0; i < count; ++i) {
            const std::size_t end = std::min(bytes.find('\0', at), bytes.size());
            args.push_back(bytes.substr(at, end - at));
            at = end + 1;
        }
        result.push_back(args);
    }
    return result;
}

std::vector<std::string> MaruboSandbox::powerRequests() const { return splitLines(readFile(file("power.log"))); }

void MaruboSandbox::setEnvironment(const std::string& name, const std::string& value) {
    m_environment.push_back(name + "=" + value);
}

std::string jsonString(const std::string& text) { return Json(text).dump(); }

}  // namespace testsupport
