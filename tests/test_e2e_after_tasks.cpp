// After-task sets seen from outside: the real program processes one input
// into "in/work/a.mp4" and then runs a set of steps; each case looks at the
// files left on disk as well as at the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "MaruboSandbox.h"

using testsupport::MaruboSandbox;
using testsupport::RunOutcome;
using testsupport::TempDir;

namespace {

namespace fs = std::filesystem;

// A path and its content; "/" as content means a folder.
struct Entry {
    const char* path;
    const char* content;
};

struct FileStepCase {
    const char* name;
    const char* setName;  // the task's "AFTER_TASK"
    const char* steps;    // the set "set", a JSON object
    std::vector<Entry> before;
    std::vector<Entry> after;
    std::vector<const char*> gone;
    std::vector<const char*> logged;
    bool setSucceeds;
    bool suspends = false;
    const char* lastArgument = nullptr;  // of the last program run
};

// "@R@" is the sandbox root, "@SHM@" a folder on another file system; a path
// without either is below the root.
std::string expand(std::string text, const MaruboSandbox& box, const TempDir& shm) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"@R@", box.root()}, {"@SHM@", shm.path()}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

std::string place(const char* path, const MaruboSandbox& box, const TempDir& shm) {
    const std::string text = expand(path, box, shm);
    return text[0] == '/' ? text : box.file(text);
}

const char* const kSettings = R"({"TASKLIST": [
  {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OUTFILEOPT": "-o",
   "OUTFILEPATH": "${InPath}work/${InBaseName}.mp4", "AFTER_TASK": "@SET@"}],
 "AFTER_TASK": {"set": @STEPS@}})";

const std::vector<FileStepCase> kFileSteps = {
    {"copy into a new folder", "set", R"({"1:COPY": "@R@/lib/new/"})", {},
     {{"in/work/a.mp4", "output"}, {"lib/new/a.mp4", "output"}}, {},
     {"COPY FROM    : @R@/in/work/a.mp4", "COPY SUCCESS : @R@/lib/new/a.mp4",
      "[SUCCESS] [COPY FILE] : @R@/lib/new/a.mp4"}, true},
    {"copy onto itself keeps the file and ends the set before its delete", "set",
     R"({"1:COPY": "${OutFullPath}", "2:DELETE": "${OutFullPath}"})", {},
     {{"in/work/a.mp4", "output"}}, {}, {"COPY FAILURE: @R@/in/work/a.mp4", "-> ERR_CANT_COPY"}, false},
    {"move never replaces a file and ends the set before its delete", "set",
     R"({"1:MOVE": "@R@/lib/", "2:DELETE": "${OutFullPath}"})", {{"lib/a.mp4", "old"}},
     {{"lib/a.mp4", "old"}, {"in/work/a.mp4", "output"}}, {},
     {"MOVE FAILURE: @R@/lib/a.mp4", "-> ERR_CANT_MOVE"}, false},
    {"a failed input move ends the set", "set",
     R"({"1:IMOVE": "@R@/done/", "2:DELETE": "${InFullPath}"})", {{"done/a.ts", "old"}},
     {{"done/a.ts", "old"}, {"in/a.ts", "recording"}}, {}, {"MOVE FAILURE: @R@/done/a.ts"}, false},
    {"move across file systems, then copy from the new place", "set",
     R"({"1:MOVE": "@SHM@/", "2:COPY": "@R@/lib/"})", {},
     {{"@SHM@/a.mp4", "output"}, {"lib/a.mp4", "output"}}, {"in/work/a.mp4"},
     {"MOVE SUCCESS : @SHM@/a.mp4", "[SUCCESS] [MOVE FILE] : @SHM@/a.mp4", "COPY FROM    : @SHM@/a.mp4"}, true},
    {"a second move of the input starts from its new place", "set",
     R"({"1:IMOVE": "@R@/done/", "2:IMOVE": "@R@/kept/x.ts"})", {},
     {{"kept/x.ts", "recording"}}, {"in/a.ts", "done/a.ts"}, {"MOVE FROM    : @R@/done/a.ts"}, true},
    {"delete a file", "set", R"({"1:DELETE": "${OutFullPath}"})", {},
     {{"in/a.ts", "recording"}}, {"in/work/a.mp4"}, {}, true},
    {"delete of a missing path goes on", "set", R"({"1:DELETE": "@R@/none/x.ts", "2:COPY": "@R@/lib/"})", {},
     {{"lib/a.mp4", "output"}, {"none", "/"}}, {"none/x.ts"}, {}, true},
    {"delete of a path through a file goes on", "set",
     R"({"1:DELETE": "${OutFullPath}/x", "2:COPY": "@R@/lib/"})", {},
     {{"lib/a.mp4", "output"}, {"in/work/a.mp4", "output"}}, {}, {}, true},
    {"delete of a folder with files ends the set", "set", R"({"1:DELETE": "@R@/full", "2:COPY": "@R@/lib/"})",
     {{"full/x", "keep"}}, {{"full/x", "keep"}, {"in/work/a.mp4", "output"}}, {"lib/a.mp4"},
     {"After Task Exception : "}, false},
    {"a lower-case word only makes the folder", "set", R"({"1:copy": "@R@/lower/x.mp4"})", {},
     {{"lower", "/"}}, {"lower/x.mp4"}, {}, true},
    {"a set that is not defined", "nosuch", R"({"1:DELETE": "${OutFullPath}"})", {},
     {{"in/work/a.mp4", "output"}}, {}, {"After Task Exception : map::at"}, false},
    {"a task without a set", "", R"({"1:DELETE": "${OutFullPath}"})", {},
     {{"in/work/a.mp4", "output"}}, {}, {}, true},
    {"suspend asks the power control", "set", R"({"1:SUSPEND": "@R@/s/"})", {}, {{"s", "/"}}, {}, {}, true,
     true},
    {"placeholders keep the old place; a command line is run as written", "set",
     R"({"1:MOVE": "@R@/lib/", "2:EXECUTE": "@REC@ -o ${OutFullPath}.log ftp://h//p"})", {},
     {{"lib/a.mp4", "output"}, {"in/work/a.mp4.log", "output"}}, {"in/work/a.mp4"}, {}, true, false,
     "ftp://h//p"},
};

}  // namespace

TEST(E2eAfterTasks, FileSteps) {
    TempDir shm(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string());
    for (const FileStepCase& c : kFileSteps) {
        SCOPED_TRACE(c.name);
        MaruboSandbox box;
        std::string settings = kSettings;
        settings.replace(settings.find("@SET@"), 5, c.setName);
        settings.replace(settings.find("@STEPS@"), 7, expand(c.steps, box, shm));
        box.writeSettings(settings);
        for (const Entry& e : c.before) {
            fs::create_directories(fs::path(place(e.path, box, shm)).parent_path());
            testsupport::writeFile(place(e.path, box, shm), e.content);
        }

        const RunOutcome r = box.run({box.addInput("a.ts")});
        EXPECT_EQ(0, r.exitCode) << "the after-tasks never undo the file's success";
        EXPECT_TRUE(c.setSucceeds ? r.logged("after task all success.", "INFO ")
                                  : r.logged("after task failed.", "ERROR"));
        for (const char* prefix : c.logged) EXPECT_EQ(1, r.countPrefix(expand(prefix, box, shm))) << prefix;

        for (const Entry& e : c.after) {
            const std::string path = place(e.path, box, shm);
            if (std::string(e.content) == "/") {
                EXPECT_TRUE(fs::is_directory(path)) << path;
            } else {
                EXPECT_EQ(e.content, testsupport::readFile(path)) << path;
            }
        }
        for (const char* path : c.gone) EXPECT_FALSE(fs::exists(place(path, box, shm))) << path;

        const std::vector<std::string> power = box.powerRequests();
        EXPECT_EQ(c.suspends, std::count(power.begin(), power.end(), "suspend") == 1);
        if (c.lastArgument != nullptr) {
            ASSERT_FALSE(box.calls().empty());
            EXPECT_EQ(c.lastArgument, box.calls().back().back());
        }
        for (const auto& entry : fs::directory_iterator(shm.path())) fs::remove_all(entry.path());
    }
}

// A recording whose name holds quotes reaches both the task's program and
// an "EXECUTE" step as the one argument the settings put it in.
TEST(E2eAfterTasks, QuotedNamesStayOneArgument) {
    MaruboSandbox box;
    box.writeSettings(R"({"TASKLIST": [
      {"AVAILABLE": true, "REGEX": "", "PROGRAM": "@REC@", "OPTIONS": "--name \"${InFileName}\"",
       "OUTFILEOPT": "-o", "OUTFILEPATH": "${InPath}work/out.mp4", "AFTER_TASK": "set"}],
     "AFTER_TASK": {"set": {"1:EXECUTE": "@REC@ \"${InFullPath}\" -z"}}})");
    const std::string input = box.addInput(R"(a" -x "b.ts)");

    const RunOutcome r = box.run({input});
    EXPECT_EQ(0, r.exitCode) << r.output;
    const auto calls = box.calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ((std::vector<std::string>{"--name", R"(a" -x "b.ts)"}),
              std::vector<std::string>(calls[0].begin(), calls[0].begin() + 2));
    EXPECT_EQ((std::vector<std::string>{input, "-z"}), calls[1]);
}
