// The ways a run of the real program can end: exit code, which lists are
// printed and what the log file holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "MaruboSandbox.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::writeFile;

namespace {

// One task for ".ts" files that runs the recording program.
const char* const kOneTask = R"({
  "TASKLIST": [
    {"AVAILABLE": true, "REGEX": "\\.ts$", "PROGRAM": "@REC@", "OPTIONS": "--exit=0",
     "INFILEOPT": "-i"}
  ]
})";

bool printedErrorList(const RunOutcome& r) { return r.logged("= Error List =", "INFO "); }
bool printedResultList(const RunOutcome& r) { return r.countPrefix("= Result List (") > 0; }

}  // namespace

TEST(RunEnds, NoArgumentPrintsUsageOnlyAndExits2) {
    MaruboSandbox box;
    box.writeSettings("{ not json");  // never read
    const RunOutcome r = box.run({});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("marubo Ver. 1.0.0 by QEMTU\n"));
    EXPECT_NE(std::string::npos,
              r.output.find("usage : " + box.programDir() + "/marubo [options...] Filenames... or Directorys...\n"));
    EXPECT_TRUE(r.log.empty()) << "the usage text is no log line and nothing else is logged";
    EXPECT_TRUE(box.powerRequests().empty()) << "no keep-awake request without a run";
}

TEST(RunEnds, MissingOrEmptySettingsFileEndsWith8AndTheErrorListOnly) {
    for (const bool empty : {false, true}) {
        MaruboSandbox box;
        if (empty) box.writeSettings("");
        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(8, r.exitCode);
        EXPECT_TRUE(r.logged("setting file not open : " + box.programDir() + "/marubo.json", "ERROR"));
        EXPECT_TRUE(printedErrorList(r));
        EXPECT_TRUE(r.logged("-> ERR_SETTING_FILE_NOT_FOUND", "ERROR"));
        EXPECT_FALSE(printedResultList(r));
        EXPECT_TRUE(box.calls().empty());
        EXPECT_EQ((std::vector<std::string>{"keep-awake on", "keep-awake off"}), box.powerRequests());
    }
}

TEST(RunEnds, UnparsableSettingsEndWith9AndTheParserLine) {
    MaruboSandbox box;
    box.writeSettings("{\n  \"GENERAL\": {},\n  \"TASKLIST\": [,]\n}\n");
    const RunOutcome r = box.run({box.addInput("a.ts")});
    EXPECT_EQ(9, r.exitCode);
    ASSERT_EQ(1, r.countPrefix("Setting File is Abnormal. : "));
    for (const auto& line : r.log) {
        if (line.message.rfind("Setting File is Abnormal. : ", 0) == 0) {
            EXPECT_EQ("ERROR", line.level);
            const std::string tail = " in Line No. : 3";
            ASSERT_GE(line.message.size(), tail.size());
            EXPECT_EQ(tail, line.message.substr(line.message.size() - tail.size()));
        }
    }
    EXPECT_TRUE(r.logged("-> ERR_SETTING_FILE_PARSING", "ERROR"));
    EXPECT_FALSE(printedResultList(r));
}

TEST(RunEnds, ChannelFileFailureWithCalendarOnEndsWithTheParsersCode) {
    const char* const settings = R"({"GENERAL": {"INTERNET": true, "SHOBOCAL": true}})";
    {
        MaruboSandbox box;  // no channel file at all
        box.writeSettings(settings);
        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(8, r.exitCode);
        // The parser's own message, word for word (no blank before "not").
        EXPECT_TRUE(r.logged("channelsetting.jsonnot open ", "ERROR"));
        EXPECT_TRUE(printedErrorList(r));
        EXPECT_TRUE(r.logged("-> ERR_SETTING_FILE_NOT_FOUND", "ERROR"));
        EXPECT_FALSE(printedResultList(r));
        EXPECT_EQ(0, r.countPrefix("FILE ENTRY"));
    }
    {
        MaruboSandbox box;
        box.writeSettings(settings);
        writeFile(box.programDir() + "/channelsetting.json", "{\"ChannelList\": [");
        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(9, r.exitCode);
        EXPECT_TRUE(r.logged("channelsetting.json is Abnormal.", "ERROR"));
        EXPECT_TRUE(r.logged("-> ERR_SETTING_FILE_PARSING", "ERROR"));
        EXPECT_FALSE(printedResultList(r));
    }
    {
        MaruboSandbox box;  // calendar asked for but the internet switch off: no channel file needed
        box.writeSettings(R"({"GENERAL": {"SHOBOCAL": true}})");
        const RunOutcome r = box.run({"-c"});
        EXPECT_EQ(1, r.exitCode);
    }
}

TEST(RunEnds, SideModesEndWith1WithoutListsOrCommands) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-c"}, {"--check"}, {"-m"}, {"-i"}, {"-m", "-i"}}) {
        MaruboSandbox box;
        box.writeSettings(kOneTask);
        std::vector<std::string> args = options;
        args.push_back(box.addInput("a.ts"));
        const RunOutcome r = box.run(args);
        EXPECT_EQ(1, r.exitCode) << options[0];
        EXPECT_FALSE(printedErrorList(r)) << options[0];
        EXPECT_FALSE(printedResultList(r)) << options[0];
        EXPECT_TRUE(box.calls().empty()) << options[0];
        if (options[0] == "-c" || options[0] == "--check") {
            EXPECT_EQ(0, r.countPrefix("FILE ENTRY")) << "check stops before file entry";
        }
    }
}

TEST(RunEnds, NoFileToProcessEndsWith1) {
    MaruboSandbox box;
    box.writeSettings(kOneTask);
    const std::string missing = box.file("nothing-here.ts");
    const RunOutcome r = box.run({missing});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(r.logged("FILE NO ENTRY : " + missing, "WARN "));
    EXPECT_EQ(0, r.countPrefix("There are unprocessed"));
    EXPECT_FALSE(r.logged("SUCCESS : All processed."));
    EXPECT_FALSE(printedErrorList(r));
    EXPECT_FALSE(printedResultList(r));
}

TEST(RunEnds, AbortReturnsTheCommandsOwnCode) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "\\.ts$", "PROGRAM": "@REC@", "OPTIONS": "--exit=42",
       "RECOVERY": "ABORT"}]})");
    const std::string a = box.addInput("a.ts");
    const RunOutcome r = box.run({a});
    EXPECT_EQ(42, r.exitCode);
    EXPECT_EQ(1, r.countPrefix("CoProcess Error (0x0000002A) : "));
    EXPECT_EQ(0, r.countPrefix("There are unprocessed"));
    EXPECT_TRUE(printedResultList(r));
    EXPECT_TRUE(r.logged("[ERROR  ] " + a, "ERROR"));
    EXPECT_FALSE(printedErrorList(r)) << "a command's code never reaches the error list";
}

TEST(RunEnds, AbortOnAProgramThatCannotStartLeavesWith255) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "\\.ts$", "PROGRAM": "/nonexistent/tool", "RECOVERY": "ABORT"}]})");
    const std::string a = box.addInput("a.ts");
    const RunOutcome r = box.run({a});
    EXPECT_EQ(255, r.exitCode) << "0x80070002 must not leave as its low byte (2, the usage code)";
    EXPECT_EQ(1, r.countPrefix("CoProcess Error (0x80070002) : "));
    EXPECT_TRUE(r.logged("[ERROR  ] " + a, "ERROR"));
}

TEST(RunEnds, SomeFilesUnprocessedEndsWith7) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "^bad", "PROGRAM": "@REC@", "OPTIONS": "--exit=3"},
      {"AVAILABLE": true, "REGEX": "^good", "PROGRAM": "@REC@"}]})");
    const std::string good = box.addInput("good.ts");
    const std::string bad = box.addInput("bad.ts");
    const std::string other = box.addInput("other.ts");
    const RunOutcome r = box.run({good, bad, other});
    EXPECT_EQ(7, r.exitCode);
    EXPECT_TRUE(r.logged("There are unprocessed = 2 files", "WARN "));
    EXPECT_TRUE(r.logged("No matching REGEX's : " + other, "ERROR"));
    EXPECT_TRUE(r.logged("-> WRN_PROC_UNPROCESSED_FILES", "ERROR"));

    const std::vector<std::string> m = r.messages();
    const auto at = std::find(m.begin(), m.end(), "= Result List (3) =");
    ASSERT_NE(m.end(), at);
    ASSERT_GE(m.end() - at, 4);
    EXPECT_EQ("[SUCCESS] [PROCESS  ] : " + good, at[1]);
    EXPECT_EQ("[ERROR  ] " + bad, at[2]);
    EXPECT_EQ("[NOMATCH] " + other, at[3]);
    // The error list comes before the result list.
    const auto errors = std::find(m.begin(), m.end(), "= Error List =");
    EXPECT_LT(errors - m.begin(), at - m.begin());
}

TEST(RunEnds, EveryFileProcessedEndsWith0) {
    MaruboSandbox box;
    box.writeSettings(kOneTask);
    const std::string a = box.addInput("a.ts");
    const std::string b = box.addInput("b.ts");
    const RunOutcome r = box.run({a, b});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_TRUE(r.logged("SUCCESS : All processed.", "INFO "));
    EXPECT_FALSE(printedErrorList(r));
    EXPECT_TRUE(r.logged("= Result List (2) =", "INFO "));
    EXPECT_TRUE(r.logged("[SUCCESS] [PROCESS  ] : " + a, "INFO "));
    EXPECT_TRUE(r.logged("[SUCCESS] [PROCESS  ] : " + b, "INFO "));
    EXPECT_EQ(2u, box.calls().size());
    EXPECT_EQ((std::vector<std::string>{"keep-awake on", "keep-awake off"}), box.powerRequests());
    // Time and level only: "YYYY-MM-DD HH:MM:SS [LEVEL] message".
    for (const auto& line : r.log) EXPECT_FALSE(line.level.empty()) << line.message;
}

TEST(RunEnds, ConsoleReaderGoneDoesNotEndTheRun) {
    // "marubo ... | head" or a console pipe whose reader went away: every
    // console line then fails to write, and the run must go on regardless.
    MaruboSandbox box;
    box.writeSettings(kOneTask);
    const std::string a = box.addInput("a.ts");

    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe(pipeEnds));
    ::close(pipeEnds[0]);
    const RunOutcome r = box.run({a}, pipeEnds[1]);
    ::close(pipeEnds[1]);

    ASSERT_EQ(0, r.exitCode) << "marubo must exit, not die of SIGPIPE";
    EXPECT_EQ(1u, box.calls().size());
    EXPECT_TRUE(r.logged("SUCCESS : All processed.", "INFO "));
    EXPECT_TRUE(r.logged("[SUCCESS] [PROCESS  ] : " + a, "INFO "));
}
