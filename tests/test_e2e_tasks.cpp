// Task matching, command lines and recovery words, seen from outside: the
// real program runs a recording program that keeps the argv it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "MaruboSandbox.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::writeFile;

namespace {

using Args = std::vector<std::string>;

int count(const std::vector<std::string>& messages, const std::string& message) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

}  // namespace

TEST(E2eTasks, CommandLineReachesTheProgramAsBuilt) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "\\.ts$", "PROGRAM": "@REC@", "OPTIONS": "",
       "INFILEOPT": "-i", "OUTFILEOPT": "-o", "OUTFILEPATH": "${InPath}out/${InBaseName}.mp4"}]})");
    const std::string a = box.addInput("a.ts");
    const RunOutcome r = box.run({a});
    EXPECT_EQ(0, r.exitCode);
    ASSERT_EQ(1u, box.calls().size());
    EXPECT_EQ((Args{"-i", a, "-o", box.file("in/out/a.mp4")}), box.calls()[0]);
    // The logged line shows the two blanks of the empty option.
    EXPECT_EQ(1, r.countPrefix("Execute CoProcess : " + box.recorderCommand() + "  -i \"" + a + "\" -o \""));
}

TEST(E2eTasks, HostileFileNamesReachTheProgramAsOneArgumentEach) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "INFILEOPT": "-i",
       "OPTIONS": "-t \"${InBaseName}${OutDrive}\" -x \"${InBaseName}\"",
       "OUTFILEOPT": "-o", "OUTFILEPATH": "${InPath}out/${InFileName}.mp4"}]})");
    const std::vector<std::string> names = {
        "a\" -o \"x.ts",        // would inject "-o x.ts" unescaped
        "b\\\" c.ts",           // backslash before a quote
        "trail\\",              // backslash before the closing quote
        "trail\\.ts",           // ... or before the empty ${OutDrive} and then the quote
        "$(touch pwned); `id` & | > d.ts",
        "tab\there.ts",
        "\xE9\xFF not utf8.ts",
    };
    std::vector<std::string> paths;
    for (const auto& name : names) paths.push_back(box.addInput(name));

    const RunOutcome r = box.run(paths);
    EXPECT_EQ(0, r.exitCode);
    const auto calls = box.calls();
    ASSERT_EQ(paths.size(), calls.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string base = std::filesystem::path(names[i]).stem().string();
        EXPECT_EQ((Args{"-t", base, "-x", base, "-i", paths[i], "-o", box.file("in/out/" + names[i] + ".mp4")}),
                  calls[i]);
        EXPECT_TRUE(std::filesystem::exists(box.file("in/out/" + names[i] + ".mp4"))) << names[i];
    }
    EXPECT_FALSE(std::filesystem::exists(box.file("pwned")));
    EXPECT_FALSE(std::filesystem::exists(box.file("x.ts")));
}

TEST(E2eTasks, PlainFilesGetPlaceholdersOfTheirOwn) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@",
       "OPTIONS": "${InBaseName}", "OUTFILEOPT": "-o", "OUTFILEPATH": "${InPath}${InBaseName}.out"}]})");
    const std::string a = box.addInput("one/a.ts");
    const std::string b = box.addInput("two/b.m2ts");
    const RunOutcome r = box.run({a, b});
    EXPECT_EQ(0, r.exitCode);
    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ((Args{"a", a, "-o", box.file("in/one/a.out")}), calls[0]);
    EXPECT_EQ((Args{"b", b, "-o", box.file("in/two/b.out")}), calls[1]);
}

TEST(E2eTasks, NextTaskThenSuccessCountsTheFileProcessed) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "\\.ts$", "PROGRAM": "@REC@", "OPTIONS": "first --exit=5",
       "RECOVERY": "NEXTTASK"},
      {"AVAILABLE": true, "REGEX": "^nomatch", "PROGRAM": "@REC@", "OPTIONS": "never"},
      {"AVAILABLE": true, "REGEX": "a", "PROGRAM": "@REC@", "OPTIONS": "second"}]})");
    const std::string a = box.addInput("a.ts");
    const RunOutcome r = box.run({a});
    EXPECT_EQ(0, r.exitCode);
    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("first", calls[0][0]);
    EXPECT_EQ("second", calls[1][0]);
    const auto m = r.messages();
    const auto at = std::find(m.begin(), m.end(), "= Result List (2) =");
    ASSERT_NE(m.end(), at);
    ASSERT_GE(m.end() - at, 3);
    EXPECT_EQ("[ERROR  ] " + a, at[1]);
    EXPECT_EQ("[SUCCESS] [PROCESS  ] : " + a, at[2]);
    EXPECT_EQ(0, r.countPrefix("No matching REGEX's"));
}

TEST(E2eTasks, NextTaskWithNoLaterMatchLeavesTheFileUnprocessedWithoutNoMatchLine) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OPTIONS": "--exit=1", "RECOVERY": "NEXTTASK"},
      {"AVAILABLE": true, "REGEX": "^zzz", "PROGRAM": "@REC@"}]})");
    const RunOutcome r = box.run({box.addInput("a.ts")});
    EXPECT_EQ(7, r.exitCode);
    EXPECT_EQ(0, r.countPrefix("No matching REGEX's"));
    EXPECT_TRUE(r.logged("There are unprocessed = 1 files", "WARN "));
}

TEST(E2eTasks, AbortOnTheSecondOfThreeFilesStopsThere) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "^b", "PROGRAM": "@REC@", "OPTIONS": "--exit=1", "RECOVERY": "ABORT"},
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@"}]})");
    const std::string a = box.addInput("a.ts"), b = box.addInput("b.ts"), c = box.addInput("c.ts");
    const RunOutcome r = box.run({a, b, c});
    EXPECT_EQ(1, r.exitCode);
    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(a, calls[0].back());
    EXPECT_EQ(b, calls[1].back());
    const auto m = r.messages();
    EXPECT_EQ(1, count(m, "= Result List (2) ="));
    EXPECT_EQ(1, count(m, "[SUCCESS] [PROCESS  ] : " + a));
    EXPECT_EQ(1, count(m, "[ERROR  ] " + b));
    for (const auto& line : m) {
        if (line.rfind("FILE ENTRY : ", 0) == 0) continue;
        EXPECT_EQ(std::string::npos, line.find(c)) << line;
    }
    EXPECT_EQ(0, r.countPrefix("There are unprocessed"));
    EXPECT_EQ(0, r.countPrefix("SUCCESS : All processed."));
}

TEST(E2eTasks, RecoveryWordsAreCaseSensitive) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "^a", "PROGRAM": "@REC@", "OPTIONS": "--exit=1", "RECOVERY": "abort"},
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OPTIONS": "second"}]})");
    const std::string a = box.addInput("a.ts"), b = box.addInput("b.ts");
    const RunOutcome r = box.run({a, b});
    EXPECT_EQ(7, r.exitCode) << "lower-case abort goes on with the next file";
    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size()) << "and does not try the next task on the same file either";
    EXPECT_EQ(a, calls[0].back());
    EXPECT_EQ(b, calls[1].back());
    EXPECT_TRUE(r.logged("There are unprocessed = 1 files", "WARN "));
}

TEST(E2eTasks, EmptyTaskListLeavesEveryFileUnmatched) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": []})");
    const std::string a = box.addInput("a.ts"), b = box.addInput("b.txt");
    const RunOutcome r = box.run({a, b});
    EXPECT_EQ(7, r.exitCode);
    EXPECT_TRUE(r.logged("No matching REGEX's : " + a, "ERROR"));
    EXPECT_TRUE(r.logged("No matching REGEX's : " + b, "ERROR"));
    EXPECT_TRUE(r.logged("[NOMATCH] " + a, "ERROR"));
    EXPECT_TRUE(r.logged("[NOMATCH] " + b, "ERROR"));
    EXPECT_TRUE(r.logged("There are unprocessed = 2 files", "WARN "));
    EXPECT_TRUE(box.calls().empty());
}

TEST(E2eTasks, OutputDirectoryExistsBeforeTheCommandRuns) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
       "OUTFILEPATH": "${InPath}x/y/z/${InBaseName}.mp4"}]})");
    const RunOutcome r = box.run({box.addInput("a.ts")});
    // The recording program exits with 9 when it cannot write its output.
    EXPECT_EQ(0, r.exitCode);
    EXPECT_TRUE(std::filesystem::is_regular_file(box.file("in/x/y/z/a.mp4")));
}

TEST(E2eTasks, InvalidRegexDoesNotMatchAndSaysSo) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "(", "PROGRAM": "@REC@"}]})");
    const RunOutcome r = box.run({box.addInput("a.ts")});
    EXPECT_EQ(7, r.exitCode);
    EXPECT_EQ(1, r.countPrefix("Setting RegEx : '(' is "));
    EXPECT_TRUE(box.calls().empty());
}

TEST(E2eTasks, FileSearchThatFindsNothingIsReportedAndKeepsTheSuccess) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
       "OUTFILEPATH": "${InPath}out/${InBaseName}.mp4",
       "FILESEARCH": "${InPath}out/${InBaseName}\\.mkv$"}]})");
    const std::string a = box.addInput("a.ts");
    const RunOutcome r = box.run({a});
    EXPECT_EQ(0, r.exitCode) << "a failed search does not undo the file's success";
    EXPECT_TRUE(r.logged("SEARCH Path : " + box.file("in/out/a\\.mkv$"), "INFO "));
    EXPECT_TRUE(r.logged("SEARCH not found : a\\.mkv$", "ERROR"));
    EXPECT_TRUE(r.logged("[SUCCESS] [PROCESS  ] : " + a, "INFO "));
}

TEST(E2eTasks, FileSearchFindsTheOutput) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
       "OUTFILEPATH": "${InPath}out/${InBaseName}.mp4",
       "FILESEARCH": "${InPath}out/${InBaseName}\\.mp4$"}]})");
    const RunOutcome r = box.run({box.addInput("a.ts")});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_TRUE(r.logged("SEARCH Found : " + box.file("in/out/a.mp4"), "INFO "));
}

TEST(E2eTasks, TaskWithoutProgramRunsNothing) {
    // Recordings on shared or FAT-style mounts commonly carry execute bits;
    // a task whose program is missing or blank must not run the recording.
    for (const char* program : {"", " \t ", "${Category}"}) {
        MaruboSandbox box;
        box.writeSettings(std::string(R"({"TASKLIST": [
          {"AVAILABLE": true, "REGEX": "", "RECOVERY": "NEXTTASK", "PROGRAM": )") +
                          testsupport::jsonString(program) + R"(},
          {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OPTIONS": "second"}]})");
        const std::string a = box.addInput("a.ts");
        writeFile(a, "#!/bin/sh\ntouch \"" + box.file("ran") + "\"\n");
        std::filesystem::permissions(a, std::filesystem::perms::owner_all);

        const RunOutcome r = box.run({a});
        EXPECT_FALSE(std::filesystem::exists(box.file("ran"))) << "the recording was run as the program";
        EXPECT_EQ(1, r.countPrefix("Setting PROGRAM : '")) << program;
        EXPECT_EQ(1, r.countPrefix("CoProcess Error (0x80070002) : ")) << program;
        EXPECT_TRUE(r.logged("[ERROR  ] " + a, "ERROR"));
        // The failure takes the task's recovery word like any other.
        ASSERT_EQ(1u, box.calls().size());
        EXPECT_EQ("second", box.calls()[0][0]);
        EXPECT_EQ(0, r.exitCode);
    }
}
