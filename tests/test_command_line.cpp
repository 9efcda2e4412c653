// The command line: which arguments become options, which become files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ArgumentProcessing.h"
#include "ErrorManager.h"

namespace {

using Params = std::map<std::string, std::string>;
using Files = std::vector<std::string>;

struct Row {
    const char* what;
    std::vector<std::string> args;  // without the program name
    Params params;
    Files files;
};

const std::vector<Row>& rows()
{
    static const std::vector<Row> table = {
        {"option between files", {"a.ts", "-c", "b.ts"}, {{"check", "NULL"}}, {"a.ts", "b.ts"}},
        {"argument =x", {"-f", "=x"}, {{"filter", "x"}}, {}},
        {"argument blank =x", {"-f", " =x"}, {{"filter", "x"}}, {}},
        {"argument two blanks x", {"-f", "  x"}, {{"filter", " x"}}, {}},
        {"-f .ts$", {"-f", ".ts$"}, {{"filter", ".ts$"}}, {}},
        {"-f.ts$", {"-f.ts$"}, {{"filter", ".ts$"}}, {}},
        {"-f=.ts$", {"-f=.ts$"}, {{"filter", ".ts$"}}, {}},
        {"--filter=.ts$", {"--filter=.ts$"}, {{"filter", ".ts$"}}, {}},
        {"--filter .ts$", {"--filter", ".ts$"}, {{"filter", ".ts$"}}, {}},
        {"first filter wins", {"--filter=.ts$", "-f", ".m2ts$"}, {{"filter", ".ts$"}}, {}},
        {"unknown option", {"-z", "a.ts"}, {}, {"a.ts"}},
        {"double dash ends options", {"--", "-c"}, {}, {"-c"}},
        {"files on both sides of --", {"a.ts", "-r", "--", "-c", "b.ts"}, {{"recursive", "NULL"}}, {"a.ts", "-c", "b.ts"}},
        {"no file", {"-a"}, {{"auto", "NULL"}}, {}},
        {"no argument at all", {}, {}, {}},
        {"missing filter argument", {"a.ts", "-f"}, {}, {"a.ts"}},
        {"short switches bundled", {"-acrim"},
         {{"auto", "NULL"}, {"check", "NULL"}, {"recursive", "NULL"}, {"tsinfo", "NULL"}, {"chmake", "NULL"}}, {}},
        {"long switches", {"x", "--auto", "--check", "--recursive", "--tsinfo", "--chmake", "y"},
         {{"auto", "NULL"}, {"check", "NULL"}, {"recursive", "NULL"}, {"tsinfo", "NULL"}, {"chmake", "NULL"}}, {"x", "y"}},
        {"lone dash is a file", {"-", "-c"}, {{"check", "NULL"}}, {"-"}},
    };
    return table;
}

void runTable()
{
    for (const Row& row : rows()) {
        std::vector<std::string> storage{"marubo"};
        storage.insert(storage.end(), row.args.begin(), row.args.end());
        std::vector<char*> argv;
        for (std::string& s : storage) argv.push_back(s.data());
        const std::vector<char*> before = argv;
        argv.push_back(nullptr);

        ArgumentProcessing ap;
        EXPECT_TRUE(ap.analysis(static_cast<int>(storage.size()), argv.data())) << row.what;
        EXPECT_EQ(row.params, ap.getParams()) << row.what;
        EXPECT_EQ(row.files, ap.getFileList()) << row.what;
        // The caller's array is left in its order (main still reads it).
        EXPECT_TRUE(std::equal(before.begin(), before.end(), argv.begin())) << row.what;
    }
}

}  // namespace

TEST(ArgumentProcessingTest, EdgeCaseTable)
{
    runTable();
}

// The analysis must not change with the environment, and must give the same
// answers when run again in the same process.
TEST(ArgumentProcessingTest, EdgeCaseTableUnderPosixlyCorrect)
{
    ::setenv("POSIXLY_CORRECT", "1", 1);
    runTable();
    ::unsetenv("POSIXLY_CORRECT");
    runTable();
}

TEST(ArgumentProcessingTest, UsageText)
{
    ErrorManager::resetForTests();
    ArgumentProcessing ap;
    testing::internal::CaptureStdout();
    const int rc = ap.usage("marubo");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(2, rc);
    EXPECT_EQ(
        "marubo Ver. 1.0.0 by QEMTU\n"
        "usage : marubo [options...] Filenames... or Directorys...\n"
        "Options:\n"
        "-c | --check        Check only setting files.\n"
        "-a | --auto         Automatic file entry from 'AUTOENTRY' list.\n"
        "-r | --recursive    Recursively search for files.\n"
        "-f | --filter       Regular-Expression filter. example '--filter=.ts$'\n"
        "-i | --tsinfo       TS file info print.\n"
        "-m | --chmake       channelsetting.json auto maker.\n"
        "\n",
        out);
    EXPECT_EQ(std::vector<int>{ErrorCode::INFO_USAGE}, ErrorManager::errorList);
}
