#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FileEntryManager.h"
#include "TestPaths.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// d/a.ts d/b.txt d/sub/c.ts d/sub/deeper/e.ts, a link d/sub/up -> .. that
// would loop if followed, and two links that point at each other.
class FileEntryTest : public testing::Test {
protected:
    TempDir tmp;
    std::string d;

    void SetUp() override {
        d = tmp.file("d");
        std::filesystem::create_directories(d + "/sub/deeper");
        writeFile(d + "/a.ts", "a");
        writeFile(d + "/b.txt", "b");
        writeFile(d + "/sub/c.ts", "c");
        writeFile(d + "/sub/deeper/e.ts", "e");
        ASSERT_EQ(0, symlink("..", (d + "/sub/up").c_str()));
        ASSERT_EQ(0, symlink("loop2.ts", (d + "/loop1.ts").c_str()));
        ASSERT_EQ(0, symlink("loop1.ts", (d + "/loop2.ts").c_str()));
    }

    static ArgumentProcessing args(std::vector<std::string> files, std::map<std::string, std::string> params = {}) {
        ArgumentProcessing a;
        a.fileList = std::move(files);
        a.paramaters = std::move(params);
        return a;
    }

    struct Run {
        std::vector<FileData> list;
        std::string log;
    };

    static Run run(const SettingJson& settings, const ArgumentProcessing& a) {
        testing::internal::CaptureStdout();
        Run r;
        r.list = FileEntryManager().execute(settings, a);
        r.log = testing::internal::GetCapturedStdout();
        return r;
    }

    static std::vector<std::string> paths(const std::vector<FileData>& list) {
        std::vector<std::string> out;
        for (const FileData& f : list) out.push_back(f.src.u8FullPath);
        return out;
    }

    static std::vector<std::string> sorted(std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    static bool has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }
};

}  // namespace

TEST_F(FileEntryTest, FilterAppliesToFileArgumentsAsTyped) {
    const std::string a = d + "/a.ts", b = d + "/b.txt", missing = d + "/none.ts";
    Run r = run(SettingJson(), args({a, b, missing, a}, {{"filter", "\\.ts$"}}));
    EXPECT_EQ((std::vector<std::string>{a, a}), paths(r.list));  // named twice, entered twice
    EXPECT_EQ("a.ts", r.list[0].src.u8Filename);
    EXPECT_EQ(d + "/", r.list[0].src.u8Path);
    EXPECT_FALSE(r.list[0].isSuccess());
    EXPECT_FALSE(r.list[0].isAvailableTS());
    EXPECT_TRUE(has(r.log, "FILE ENTRY : " + a + "\n"));
    EXPECT_TRUE(has(r.log, "FILE NO ENTRY : " + b + "\n"));
    EXPECT_TRUE(has(r.log, "FILE NO ENTRY : " + missing + "\n"));

    // The whole argument is matched, directory part included.
    r = run(SettingJson(), args({d + "/sub/c.ts", b}, {{"filter", "sub/"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/sub/c.ts"}), paths(r.list));

    // Without a filter every existing name is entered.
    r = run(SettingJson(), args({b, a}));
    EXPECT_EQ((std::vector<std::string>{b, a}), paths(r.list));

    r = run(SettingJson(), args({}));
    EXPECT_TRUE(r.list.empty());
    EXPECT_EQ("", r.log);
}

TEST_F(FileEntryTest, InvalidFilterEntersNothing) {
    Run r = run(SettingJson(), args({d + "/a.ts", d}, {{"filter", "(unclosed"}}));
    EXPECT_TRUE(r.list.empty());
    EXPECT_TRUE(has(r.log, "ERROR REGEX : ")) << r.log;
    EXPECT_FALSE(has(r.log, "FILE ENTRY")) << r.log;
}

TEST_F(FileEntryTest, DirectoriesMatchFileNamesAndRecurseOnRequest) {
    Run r = run(SettingJson(), args({d}, {{"filter", "\\.ts$"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/a.ts"}), paths(r.list));

    // Recursion enters each file once: the link back up and the link loop
    // are neither followed nor entered.
    r = run(SettingJson(), args({d}, {{"filter", "\\.ts$"}, {"recursive", "NULL"}}));
    EXPECT_EQ(sorted({d + "/a.ts", d + "/sub/c.ts", d + "/sub/deeper/e.ts"}), sorted(paths(r.list)));

    // Only the file name counts inside a directory.
    r = run(SettingJson(), args({d}, {{"filter", "^sub"}, {"recursive", "NULL"}}));
    EXPECT_TRUE(r.list.empty());

    // A link loop named on the command line is no file.
    r = run(SettingJson(), args({d + "/loop1.ts", d + "/sub/up"}, {{"filter", "\\.ts$"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/sub/up/a.ts"}), paths(r.list));
    EXPECT_TRUE(has(r.log, "FILE NO ENTRY : " + d + "/loop1.ts\n"));
}

TEST_F(FileEntryTest, AutoListReplacesTheCommandLine) {
    std::vector<AutoFileSearch> list;
    list.push_back({false, true, ".*", d});                  // switched off
    list.push_back({true, true, ".*", tmp.file("missing")});  // no such directory: silent
    list.push_back({true, true, "([", d});                   // broken pattern: this entry only
    list.push_back({true, false, "\\.ts$", d});              // flat
    list.push_back({true, true, "^c\\.", d});                // recursive
    list.push_back({true, false, ".*", d + "/loop1.ts"});    // a link loop is no directory
    SettingJson settings;
    settings.setAutoFileSearchList(list);

    Run r = run(settings, args({d + "/b.txt"}, {{"auto", "NULL"}, {"filter", "nothing"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/a.ts", d + "/sub/c.ts"}), paths(r.list));
    EXPECT_TRUE(has(r.log, "ERROR REGEX : ")) << r.log;
    EXPECT_FALSE(has(r.log, "b.txt")) << r.log;
    EXPECT_FALSE(has(r.log, "missing")) << r.log;

    r = run(SettingJson(), args({d + "/b.txt"}, {{"auto", "NULL"}}));
    EXPECT_TRUE(r.list.empty());
    EXPECT_EQ("", r.log);
}

TEST_F(FileEntryTest, VanishedDirectoryDoesNotEndTheEntry) {
    const std::string gone = tmp.file("gone");
    std::filesystem::create_directory(gone);
    std::filesystem::remove(gone);

    std::vector<FileData> list(1);
    list[0].src.path(std::string("/kept.ts"));
    testing::internal::CaptureStdout();
    std::vector<FileData> copy;
    EXPECT_NO_THROW(copy = FileEntryManager().fileEntry2(gone, std::regex(".*"), true, list));
    EXPECT_NO_THROW(FileEntryManager().fileEntry2(d + "/a.ts", std::regex(".*"), false, list));
    EXPECT_NO_THROW(FileEntryManager().fileEntry2(d + "/loop1.ts", std::regex(".*"), true, list));
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("/kept.ts", list[0].src.u8FullPath);
    EXPECT_EQ(1u, copy.size());
    EXPECT_TRUE(has(log, "[ERROR]")) << log;
    EXPECT_TRUE(has(log, gone)) << log;
}

// The filter and the automatic list's patterns are the user's: one that
// backtracks exponentially must not stall the entry of a long name.
TEST_F(FileEntryTest, CatastrophicPatternsDoNotStallTheEntry) {
    const std::string name = std::string(60, 'a') + "b.ts";
    writeFile(d + "/" + name, "x");
    const std::string slow = "^(a|aa)*$";

    Run r = run(SettingJson(), args({d, d + "/" + name}, {{"filter", slow}}));
    EXPECT_TRUE(r.list.empty());

    r = run(SettingJson(), args({d}, {{"filter", "^(a|aa)*b\\.ts$"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/" + name}), paths(r.list));

    std::vector<AutoFileSearch> list;
    list.push_back({true, true, slow, d});
    list.push_back({true, false, "(a)\\1", d});  // back-references still work
    SettingJson settings;
    settings.setAutoFileSearchList(list);
    r = run(settings, args({}, {{"auto", "NULL"}}));
    EXPECT_EQ((std::vector<std::string>{d + "/" + name}), paths(r.list));
}
