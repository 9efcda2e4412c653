// The command-line splitter and the process layer that runs task programs.

#include "CoProcess.h"
#include "Process.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/mman.h>
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

// Started with "--play <role>" by the traced rows below, this binary plays
// what no script can: faults of an instruction and a breakpoint.
char* g_faultPage = nullptr;

// The same address first missing (SEGV_MAPERR), then unreadable
// (SEGV_ACCERR), then readable: two faults at one place that differ.
void mendFault(int, siginfo_t* info, void*) {
    const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (info->si_code == SEGV_MAPERR) {
        mmap(g_faultPage, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    } else {
        mprotect(g_faultPage, size, PROT_READ);
    }
}

int playFaultsThatDiffer() {
    const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* page = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return 100;
    munmap(page, size);
    g_faultPage = static_cast<char*>(page);
    struct sigaction mend {};
    mend.sa_sigaction = mendFault;
    mend.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &mend, nullptr);
    return *static_cast<volatile char*>(page) == 0 ? 0 : 101;
}

int playBreakpoint() {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("int3");
#endif
    return 5;
}

__attribute__((constructor)) void playWhenAsked(int argc, char** argv, char**) {
    if (argc != 3 || std::strcmp(argv[1], "--play") != 0) return;
    const std::string role = argv[2];
    std::_Exit(role == "faults-that-differ" ? playFaultsThatDiffer() : role == "breakpoint" ? playBreakpoint() : 99);
}

std::string thisProgram() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "";
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
    // An empty entry is the current folder. A program that is found but
    // cannot run ends the search rather than giving way to a later entry.
    const std::string later = dir.file("later");
    mkdir(later.c_str(), 0755);
    for (const char* name : {"/garbage", "/here"}) {
        testsupport::writeFile(later + name, "#!/bin/sh\nexit 0\n");
        chmod((later + name).c_str(), 0755);
    }
    testsupport::writeFile(dir.file("here"), "#!/bin/sh\nexit 22\n");
    chmod(dir.file("here").c_str(), 0755);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    for (auto run : {runProcess, runProcessTraced}) {
        setenv("PATH", ("/marubo-none::" + later).c_str(), 1);
        EXPECT_EQ(run({"here"}), 22);
        setenv("PATH", (dir.path() + ":" + later).c_str(), 1);
        EXPECT_EQ(run({"garbage"}), static_cast<int>(0x800700C1u));
    }
    std::filesystem::current_path(before);
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
    // The programs read their own state: a shell in between would set its
    // own signal mask first.
    const Args readStatus = {"grep", "-E", "^Sig(Ign|Blk):", "/proc/self/status"};
    const Args noStray = {"test", "!", "-e", "/proc/self/fd/" + std::to_string(stray)};

    for (auto run : {runProcess, runProcessTraced}) {
        EXPECT_EQ(run(noStray), 0);
        const int rc = withStdoutTo(out, [&] { return run(readStatus); });
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

// Only a fault that repeats ends a traced run early; signals of every other
// kind, however often they come, reach the program as they would untraced.
TEST(ProcessRun, TracedRunEndsOnlyOnARepeatedFault) {
    const std::string self = thisProgram();
    const std::string counter = "import os, signal\nn = 0\ndef count(*a):\n    global n\n    n += 1\n";
    struct Row {
        Args argv;
        int result;
    };
    std::vector<Row> rows = {
        {{"sh", "-c", "exit 3"}, 3},
        {{python(), "-c", "import os; os._exit(-1)"}, 255},
        {{"sh", "-c", "trap 'exit 7' USR1; kill -USR1 $$; exit 1"}, 7},
        {{"sh", "-c", "n=0; trap 'n=$((n+1))' USR1; kill -USR1 $$; kill -USR1 $$; exit $n"}, 2},
        {{"sh", "-c", "kill -WINCH $$; kill -WINCH $$; exit 8"}, 8},
        {{"sh", "-c", "kill -CONT $$; kill -CONT $$; exit 9"}, 9},
        // A SIGTRAP a process sends is no breakpoint.
        {{"sh", "-c", "kill -TRAP $$; exit 5"}, 128 + SIGTRAP},
        {{python(), "-c",
          counter + "signal.signal(signal.SIGALRM, count)\nsignal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)\n"
                    "while n < 5: signal.pause()\nraise SystemExit(11)"},
         11},
        {{python(), "-c",
          counter + "signal.signal(signal.SIGALRM, count)\nfor _ in range(2):\n"
                    "    signal.setitimer(signal.ITIMER_REAL, 0.01)\n    signal.pause()\nraise SystemExit(12)"},
         12},
        // Python ignores SIGPIPE: each write fails with EPIPE instead.
        {{python(), "-c",
          "import os\nr, w = os.pipe()\nos.close(r)\nfor _ in range(2):\n    try: os.write(w, b'x')\n"
          "    except BrokenPipeError: pass\nraise SystemExit(13)"},
         13},
        {{python(), "-c",
          counter + "import ctypes\nsignal.signal(signal.SIGUSR1, count)\nlibc = ctypes.CDLL(None)\n"
                    "for _ in range(10000): libc.sigqueue(os.getpid(), signal.SIGUSR1, ctypes.c_void_p(0))\n"
                    "raise SystemExit(14 if n == 10000 else 1)"},
         14},
        // Two threads stop, stay stopped until a SIGCONT, then run on. The
        // alarm ends the program if one of them is left stopped.
        {{python(), "-c",
          "import os, signal, threading, time\nsignal.alarm(9)\n"
          "helper = os.fork()\nif helper == 0:\n    time.sleep(0.5)\n    os.kill(os.getppid(), signal.SIGCONT)\n"
          "    os._exit(0)\nworker = threading.Thread(target=time.sleep, args=(0.2,))\nworker.start()\n"
          "start = time.monotonic()\nos.kill(os.getpid(), signal.SIGSTOP)\nstopped = time.monotonic() - start\n"
          "worker.join()\nos.waitpid(helper, 0)\nraise SystemExit(15 if stopped >= 0.4 else 1)"},
         15},
        // A fault whose handler returns repeats at the same address; untraced it never ends.
        {{python(), "-c",
          "import ctypes, signal; signal.alarm(9); signal.signal(signal.SIGSEGV, print); ctypes.string_at(0)"},
         128 + SIGSEGV},
        {{python(), "-c",
          "import ctypes, signal, threading; signal.alarm(9); signal.signal(signal.SIGSEGV, print)\n"
          "worker = threading.Thread(target=ctypes.string_at, args=(0,))\nworker.start()\nworker.join()"},
         128 + SIGSEGV},
        // Two faults at one address with different codes are two faults.
        {{self, "--play", "faults-that-differ"}, 0},
        {{"sh", "-c", "kill -KILL $$"}, 128 + SIGKILL},
    };
#if defined(__x86_64__) || defined(__i386__)
    rows.push_back({{self, "--play", "breakpoint"}, 5});  // without a tracer: 133
#endif
    for (const Row& row : rows) {
        EXPECT_EQ(runProcessTraced(row.argv), row.result) << row.argv.back();
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left: " << row.argv.back();
    }
    EXPECT_EQ(runProcess({self, "--play", "faults-that-differ"}), 0);
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
