// The real program in a world that does not play along: started with its
// console closed, handed settings whose patterns backtrack exponentially.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CStringList.h"
#include "MaruboSandbox.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Runs the sandbox's program with standard output and error closed, as
// "marubo FILE >&- 2>&-" would; bounded in time. Returns the exit
// status, or -1 when it did not exit by itself.
int runWithClosedConsole(const MaruboSandbox& box, const std::vector<std::string>& args) {
    std::vector<std::string> text{box.programDir() + "/marubo"};
    text.insert(text.end(), args.begin(), args.end());
    const testsupport::CStringList argv(std::move(text));
    std::string power = "MARUBO_POWER_LOG=" + box.file("power.log");
    std::string tz = "TZ=Asia/Tokyo";
    std::string path = "PATH=/usr/local/bin:/usr/bin:/bin";
    char* envp[] = {power.data(), tz.data(), path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclose(&actions, 1);
    posix_spawn_file_actions_addclose(&actions, 2);
    posix_spawn_file_actions_addchdir_np(&actions, box.root().c_str());
    pid_t pid = -1;
    const int started = posix_spawn(&pid, argv.data()[0], &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The program a task starts opens its output file and then talks on its
// console. With marubo's standard output closed, that file would have
// taken descriptor 1 and the console talk would have landed in it.
TEST(HostileWorld, ClosedStandardDescriptorsNeverCarryAProgramsConsoleIntoItsOutput) {
    MaruboSandbox box;
    writeFile(box.file("talker.py"), R"PY(import os, sys
fd = os.open(sys.argv[-1], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
os.write(fd, b"video")
try:
    os.write(1, b"progress")
    os.write(2, b"warning")
except OSError:
    pass
os.close(fd)
)PY");
    box.writeSettings(R"({"TASKLIST": [{"AVAILABLE": true, "REGEX": "", "PROGRAM": )" +
                      testsupport::jsonString("python3 \"" + box.file("talker.py") + "\"") +
                      R"(, "OUTFILEOPT": "-o", "OUTFILEPATH": "${InPath}${InBaseName}.mp4"}]})");
    const std::string input = box.addInput("a.ts");

    EXPECT_EQ(0, runWithClosedConsole(box, {input}));
    EXPECT_EQ("video", readFile(box.file("in/a.mp4")));
    EXPECT_NE(std::string::npos, readFile(box.programDir() + "/marubo.log").find("SUCCESS : All processed."));
}

// A task pattern, a filter and a search pattern that backtrack exponentially
// on a long name: the run ends as usual instead of stalling on the name.
TEST(HostileWorld, PatternsThatBacktrackExponentiallyDoNotStallTheRun) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "^(a|aa)*$", "PROGRAM": "@REC@"},
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
       "OUTFILEPATH": "${InPath}out/${InBaseName}.mp4", "FILESEARCH": "${InPath}out/^(a|aa)*$"}]})");
    const std::string name = std::string(80, 'a') + "b.ts";
    box.addInput(name);

    const RunOutcome r = box.run({box.file("in"), "--filter=(a|aa)*b\\.ts$"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(0, r.exitCode);
    ASSERT_EQ(1u, box.calls().size());
    EXPECT_TRUE(r.logged("SEARCH not found : ^(a|aa)*$", "ERROR"));
}
