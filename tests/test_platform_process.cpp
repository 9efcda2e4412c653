// The command-line splitter and the process layer that runs task programs.

#include "CoProcess.h"
#include "Process.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using platform::quoteArgument;
using platform::runCommandLine;
using platform::runProcess;
using platform::runProcessTraced;
using platform::splitCommandLine;
using Args = std::vector<std::string>;

namespace {

std::string python() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// Writes the child's argv (after the output path) one per line, each line
// the repr of a Python bytes object, so every byte is visible.
const char* kPrintArgv =
    "import os, sys\n"
    "args = [os.fsencode(a) for a in sys.argv[2:]]\n"
    "open(sys.argv[1], 'w').write('\\n'.join(repr(a) for a in args))\n";

std::string reprOf(const std::string& bytes) {
    // Python's repr of bytes for the printable ASCII we use in these tests.
    std::string out = "b'";
    for (char c : bytes) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

// Runs f with our stdout sent to `path`, since children share our stdout.
template <typename F>
int withStdoutTo(const std::string& path, F f) {
    fflush(stdout);
    const int saved = dup(1);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 1);
    close(fd);
    const int rc = f();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return rc;
}

}  // namespace

TEST(CommandLineSplit, FollowsTheWindowsRules) {
    struct Row {
        std::string line;
        Args args;
    };
    const Row rows[] = {
        // The examples of the Windows C runtime's documentation.
        {R"("abc" d e)", {"abc", "d", "e"}},
        {R"(a\\b d"e f"g h)", {R"(a\\b)", "de fg", "h"}},
        {R"(a\\\"b c d)", {R"(a\"b)", "c", "d"}},
        {R"(a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
        {R"(a"b"" c d)", {R"(ab" c d)"}},
        // Separators and empty arguments.
        {"", {}},
        {" \t ", {}},
        {"a\t\tb  c ", {"a", "b", "c"}},
        {R"("" x "")", {"", "x", ""}},
        {R"(x "")", {"x", ""}},
        // Backslashes not before a quote are literal, also at the end.
        {R"(C:\dir\file.ts)", {R"(C:\dir\file.ts)"}},
        {R"(a\ b\\)", {R"(a\)", R"(b\\)"}},
        {R"("a\\" b)", {R"(a\)", "b"}},
        {R"("a\" b")", {R"(a" b)"}},
        // An unclosed quote runs to the end of the line.
        {R"(x "y z)", {"x", "y z"}},
        // A quote in the middle of a word joins the pieces.
        {R"(--out="/rec/a b.ts")", {"--out=/rec/a b.ts"}},
        // A NUL ends the line as it ends the C string.
        {std::string("a b\0c", 5), {"a", "b"}},
    };
    for (const Row& row : rows) EXPECT_EQ(splitCommandLine(row.line), row.args) << "line: " << row.line;
}

TEST(CommandLineSplit, QuotedArgumentsComeBackExactly) {
    const std::string cases[] = {
        "",
        "plain",
        "a b",
        R"(x" -y "z.ts)",
        R"(trailing\)",
        R"(trailing\\)",
        R"(\"\\"\\\")",
        R"(/rec/$(rm -rf x); `id` & | > < * ? ' \ "q".ts)",
        "tab\there",
        "\xE3\x81\x82\xFF\xFE",  // non-ASCII and invalid UTF-8 bytes pass through
    };
    for (const std::string& arg : cases) {
        const std::string line = "prog " + quoteArgument(arg) + " " + quoteArgument(arg) + " end";
        EXPECT_EQ(splitCommandLine(line), (Args{"prog", arg, arg, "end"})) << "arg: " << arg;
        EXPECT_EQ(splitCommandLine(quoteArgument(arg)), Args{arg});
    }
}

TEST(ProcessRun, ChildReceivesHostilePathAsOneArgument) {
    testsupport::TempDir dir;
    const std::string script = dir.file("argv.py");
    const std::string out = dir.file("argv.txt");
    testsupport::writeFile(script, kPrintArgv);

    const std::string hostile = dir.path() + R"(/rec "x" -y \"z\\ $(touch pwned); echo hi.ts)";
    const std::string line = quoteArgument(python()) + " " + quoteArgument(script) + " " +
                             quoteArgument(out) + " " + quoteArgument(hostile) + R"( plain "two words")";
    ASSERT_EQ(runCommandLine(line), 0);
    EXPECT_EQ(testsupport::readFile(out), reprOf(hostile) + "\n" + reprOf("plain") + "\n" + reprOf("two words"));
    EXPECT_NE(access((dir.path() + "/pwned").c_str(), F_OK), 0) << "a shell ran the command line";
}

TEST(ProcessRun, ExitCodesAndSignals) {
    EXPECT_EQ(runProcess({python(), "-c", "import sys; sys.exit(7)"}), 7);
    EXPECT_EQ(runProcess({python(), "-c", "pass"}), 0);
    EXPECT_EQ(runProcess({python(), "-c", "import sys; sys.exit(255)"}), 255);
    EXPECT_EQ(runProcess({python(), "-c", "import os, signal; os.kill(os.getpid(), signal.SIGSEGV)"}), 139);
    EXPECT_EQ(runProcess({python(), "-c", "import os, signal; os.kill(os.getpid(), signal.SIGKILL)"}), 137);
}

TEST(ProcessRun, StartFailuresGiveHresults) {
    testsupport::TempDir dir;
    const std::string noExec = dir.file("noexec");
    testsupport::writeFile(noExec, "#!/bin/sh\nexit 0\n");
    chmod(noExec.c_str(), 0644);
    // Neither a binary nor a script: no shell takes it over.
    const std::string garbage = dir.file("garbage");
    testsupport::writeFile(garbage, std::string("\x01\x02\x03garbage\n", 11));
    chmod(garbage.c_str(), 0755);
    // A PATH entry whose file may not run gives way to a later one.
    testsupport::writeFile(dir.file("true"), "");
    const std::string path = getenv("PATH");
    setenv("PATH", (dir.path() + ":" + path).c_str(), 1);

    for (auto run : {runProcess, runProcessTraced}) {
        EXPECT_EQ(run({"true"}), 0);
        EXPECT_EQ(run({"noexec"}), static_cast<int>(0x80070005u));
        EXPECT_EQ(run(splitCommandLine("marubo-no-such-program-7d1c arg")), static_cast<int>(0x80070002u));
        EXPECT_EQ(run({dir.file("missing")}), static_cast<int>(0x80070002u));
        EXPECT_EQ(run({""}), static_cast<int>(0x80070002u));
        EXPECT_EQ(run({}), static_cast<int>(0x80070002u));
        EXPECT_EQ(run({noExec}), static_cast<int>(0x80070005u));  // even root needs an x bit
        EXPECT_EQ(run({dir.path()}), static_cast<int>(0x80070005u));
        EXPECT_EQ(run({garbage}), static_cast<int>(0x800700C1u));
    }
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(runCommandLine(""), static_cast<int>(0x80070002u));
}

TEST(ProcessRun, ChildSharesStdoutAndHasSigpipeAtDefault) {
    testsupport::TempDir dir;
    const std::string out = dir.file("status.txt");
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &oldMask);
    const int stray = fcntl(0, F_DUPFD, 40);  // inheritable, yet no child may see it
    const Args argv = {"sh", "-c",
                       "grep -E '^Sig(Ign|Blk):' /proc/self/status && test ! -e /proc/self/fd/" + std::to_string(stray)};

    for (auto run : {runProcess, runProcessTraced}) {
        const int rc = withStdoutTo(out, [&] { return run(argv); });
        ASSERT_EQ(rc, 0);

        const std::string status = testsupport::readFile(out);
        auto mask = [&](const std::string& name) {
            const std::size_t at = status.find(name + ":");
            EXPECT_NE(at, std::string::npos) << status;
            return at == std::string::npos ? 0ull : std::stoull(status.substr(at + name.size() + 1), nullptr, 16);
        };
        EXPECT_EQ(mask("SigIgn") & (1ull << (SIGPIPE - 1)), 0u) << status;
        EXPECT_EQ(mask("SigBlk") & (1ull << (SIGUSR1 - 1)), 0u) << status;
    }
    close(stray);
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(ProcessRun, TracedRunPassesBreakpointsAndEndsOnARepeatedSignal) {
    struct Row {
        Args argv;
        int result;
    };
    const Row rows[] = {
        {{"sh", "-c", "exit 3"}, 3},
        {{python(), "-c", "import os; os._exit(-1)"}, 255},
        {{"sh", "-c", "kill -TRAP $$; exit 5"}, 5},  // without a tracer: 133
        {{"sh", "-c", "trap 'exit 7' USR1; kill -USR1 $$; exit 1"}, 7},
        // The same signal from two senders is two signals, both delivered.
        {{"sh", "-c", "n=0; trap 'n=$((n+1))' USR1; kill -USR1 $$; (kill -USR1 $$); exit $n"}, 2},
        {{"sh", "-c", "n=0; trap 'n=$((n+1))' USR1; kill -USR1 $$; kill -USR1 $$; exit $n"}, 128 + SIGUSR1},
        // A fault whose handler returns repeats at the same address; untraced it never ends.
        {{python(), "-c",
          "import ctypes, signal; signal.alarm(9); signal.signal(signal.SIGSEGV, print); ctypes.string_at(0)"},
         128 + SIGSEGV},
        {{"sh", "-c", "kill -KILL $$"}, 128 + SIGKILL},
        {{"sh", "-c", "kill -STOP $$; exit 6"}, 6},  // a stop under a tracer is not left waiting for SIGCONT
    };
    for (const Row& row : rows) {
        EXPECT_EQ(runProcessTraced(row.argv), row.result) << row.argv.back();
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left: " << row.argv.back();
    }
    EXPECT_EQ(CoProcess::executeDebugMode("marubo-no-such-program-7d1c x"), 0x80070002ul);
    EXPECT_EQ(CoProcess::executeDebugMode(R"(sh -c "exit 4")"), 4ul);
}

TEST(ProcessRun, TracedRunWhereTracingIsRefusedGivesTheError) {
    const pid_t sandbox = fork();
    if (sandbox == 0) {
        // ptrace fails with EPERM in here, as under a container's filter.
        sock_filter deny[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ptrace, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog filter{4, deny};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
            _exit(2);
        }
        _exit(runProcessTraced({"true"}) == static_cast<int>(0x80070005u) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(sandbox, &status, 0), sandbox);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "no seccomp filters here";
    EXPECT_EQ(status, 0);
}
