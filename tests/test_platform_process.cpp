// The command-line splitter and the process layer that runs task programs.

#include "Process.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using platform::quoteArgument;
using platform::runCommandLine;
using platform::runProcess;
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
    EXPECT_EQ(runCommandLine("marubo-no-such-program-7d1c arg"), static_cast<int>(0x80070002u));
    EXPECT_EQ(runCommandLine(dir.file("missing")), static_cast<int>(0x80070002u));
    EXPECT_EQ(runCommandLine(""), static_cast<int>(0x80070002u));
    EXPECT_EQ(runProcess({}), static_cast<int>(0x80070002u));

    const std::string noExec = dir.file("noexec");
    testsupport::writeFile(noExec, "#!/bin/sh\nexit 0\n");
    chmod(noExec.c_str(), 0644);
    EXPECT_EQ(runProcess({noExec}), static_cast<int>(0x80070005u));  // even root needs an x bit
    EXPECT_EQ(runProcess({dir.path()}), static_cast<int>(0x80070005u));

    // Neither a binary nor a script: no shell takes it over.
    const std::string garbage = dir.file("garbage");
    testsupport::writeFile(garbage, std::string("\x01\x02\x03garbage\n", 11));
    chmod(garbage.c_str(), 0755);
    EXPECT_EQ(runProcess({garbage}), static_cast<int>(0x800700C1u));
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

    const int rc = withStdoutTo(out, [] { return runProcess({"grep", "-E", "^Sig(Ign|Blk):", "/proc/self/status"}); });

    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &previous, nullptr);
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
