// Paths and file access: splitting, directory creation, copying, searching.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ErrorManager.h"
#include "FileAccess.h"
#include "StringExtra.h"
#include "TestPaths.h"
#include "USPath.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct SplitRow {
    std::string input;
    bool utf8;  // given through path(std::string)
    std::string fullPath, dir, basename, ext;
};

std::string pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    return s;
}

std::set<std::string> names(const std::vector<std::filesystem::path>& hits)
{
    std::set<std::string> out;
    for (const auto& p : hits) out.insert(p.filename().string());
    return out;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (m_old) ::setenv(m_name, m_old->c_str(), 1); else ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

}  // namespace

TEST(USPathTest, Table)
{
    const std::vector<SplitRow> rows = {
        {"/rec/a.ts", false, "/rec/a.ts", "/rec/", "a", ".ts"},
        {"/rec/a.ts", true, "/rec/a.ts", "/rec/", "a", ".ts"},
        {".ts", false, ".ts", "", "", ".ts"},
        {"a.b.c", false, "a.b.c", "", "a.b", ".c"},
        {"/rec/name", false, "/rec/name", "/rec/", "name", ""},
        {"/rec.d/name", false, "/rec.d/name", "/rec.d/", "name", ""},
        {"/rec/", false, "/rec/", "/rec/", "", ""},
        {"", false, "", "", "", ""},
        // A backslash is a file-name byte, whichever form the path came in.
        {"/rec/x\\y.ts", false, "/rec/x\\y.ts", "/rec/", "x\\y", ".ts"},
        {"/rec/x\\y.ts", true, "/rec/x\\y.ts", "/rec/", "x\\y", ".ts"},
        {"C:\\rec\\a.ts", true, "C:\\rec\\a.ts", "", "C:\\rec\\a", ".ts"},
        // Bytes that are not UTF-8 still name the file, in both forms.
        {"/rec/\xff\xfe\x81.ts", false, "/rec/\xff\xfe\x81.ts", "/rec/", "\xff\xfe\x81", ".ts"},
        {"/rec/\xff\xfe\x81.ts", true, "/rec/\xff\xfe\x81.ts", "/rec/", "\xff\xfe\x81", ".ts"},
        // Joined placeholders leave doubled slashes; the UTF-8 form cleans them.
        {"/out//sub//a.mp4", true, "/out/sub/a.mp4", "/out/sub/", "a", ".mp4"},
        {"/out//sub//a.mp4", false, "/out//sub//a.mp4", "/out//sub//", "a", ".mp4"},
        {"///out////a.mp4", true, "/out/a.mp4", "/out/", "a", ".mp4"},
        {std::string("/rec/a.ts\0junk", 14), true, "/rec/a.ts", "/rec/", "a", ".ts"},
    };
    for (const SplitRow& r : rows) {
        USPath p;
        if (r.utf8) p.path(r.input); else p.path(r.input.c_str());
        const std::string what = r.input + (r.utf8 ? " (utf8)" : " (ansi)");
        EXPECT_EQ(r.fullPath, p.sjisFullPath) << what;
        EXPECT_EQ("", p.sjisDrive) << what;
        EXPECT_EQ(r.dir, p.sjisDir) << what;
        EXPECT_EQ(r.dir, p.sjisPath) << what;
        EXPECT_EQ(r.basename, p.sjisBasename) << what;
        EXPECT_EQ(r.ext, p.sjisExt) << what;
        EXPECT_EQ(r.basename + r.ext, p.sjisFilename) << what;
        EXPECT_EQ(p.sjisFullPath, p.u8FullPath) << what;
        EXPECT_EQ(p.sjisPath, p.u8Path) << what;
        EXPECT_EQ(p.sjisFilename, p.u8Filename) << what;
        EXPECT_EQ(p.sjisBasename, p.u8Basename) << what;
        EXPECT_EQ(p.sjisExt, p.u8Ext) << what;
        EXPECT_EQ("", p.u8Drive) << what;
    }
}

TEST(USPathTest, LongPathIsKeptWhole)
{
    const std::string dir = "/" + std::string(3000, 'd') + "/";
    const std::string name = std::string(400, 'n');
    USPath p;
    p.path(dir + name + ".ts");
    EXPECT_EQ(dir + name + ".ts", p.u8FullPath);
    EXPECT_EQ(dir, p.sjisPath);
    EXPECT_EQ(name + ".ts", p.sjisFilename);
}

TEST(FileAccessTest, RemotePathNormalisation)
{
    const std::vector<std::pair<std::string, std::string>> normalize = {
        {"\\\\server\\share", "/server/share"},
        {"a\\\\\\\\b", "a/b"},
        {"a///b", "a//b"},
        {"/plain/path", "/plain/path"},
    };
    for (const auto& [in, out] : normalize) {
        std::string s = in;
        EXPECT_EQ(out, FileAccess::delimiterNormalize(s)) << in;
        EXPECT_EQ(out, s) << in;
    }
    const std::vector<std::pair<std::string, std::string>> withSlash = {
        {"", ""}, {"up", "up/"}, {"up/", "up/"}, {"up\\", "up/"},
    };
    for (const auto& [in, out] : withSlash) {
        std::string s = in;
        EXPECT_EQ(out, FileAccess::pathNormalize(s)) << in;
    }
}

TEST(FileAccessTest, ExistenceAndDirectories)
{
    TempDir tmp;
    writeFile(tmp.file("file"), "x");
    EXPECT_TRUE(FileAccess::isFileExist(tmp.path().c_str()));
    EXPECT_TRUE(FileAccess::isDirExist(tmp.path()));
    EXPECT_TRUE(FileAccess::isFileExist(tmp.file("file")));
    EXPECT_FALSE(FileAccess::isDirExist(tmp.file("file").c_str()));
    EXPECT_FALSE(FileAccess::isFileExist(tmp.file("missing")));

    const std::string deep = tmp.file("a/b/c/d/e/f");
    EXPECT_TRUE(FileAccess::mkDir(deep.c_str()));
    EXPECT_TRUE(FileAccess::isDirExist(deep));
    EXPECT_TRUE(FileAccess::mkDir(deep.c_str()));  // already there
    EXPECT_TRUE(FileAccess::mkDir(tmp.file("g/h/")));  // trailing slash

    // A file where a directory should be: no directory, and the file stays.
    EXPECT_FALSE(FileAccess::mkDir(tmp.file("file").c_str()));
    EXPECT_FALSE(FileAccess::mkDir(tmp.file("file/sub/deeper").c_str()));
    EXPECT_EQ("x", readFile(tmp.file("file")));
    EXPECT_FALSE(FileAccess::mkDir(""));
}

TEST(FileAccessTest, ReadTextFile)
{
    TempDir tmp;
    const std::string bytes("line\r\nwith\0nul\n", 15);
    writeFile(tmp.file("t.json"), bytes);
    EXPECT_EQ(bytes, FileAccess::readTextFile(tmp.file("t.json")));
    EXPECT_EQ("", FileAccess::readTextFile(tmp.file("missing")));
    EXPECT_EQ("", FileAccess::readTextFile(tmp.path()));
    ASSERT_EQ(0, ::mkfifo(tmp.file("fifo").c_str(), 0600));
    EXPECT_EQ("", FileAccess::readTextFile(tmp.file("fifo")));  // must not wait for a writer
}

TEST(FileCopyTest, SizesAroundTheBuffer)
{
    TempDir tmp;
    const std::size_t block = FileAccess::COPY_BUFFER_SIZE;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1}) {
        const std::string data = pattern(size);
        writeFile(tmp.file("src"), data);
        writeFile(tmp.file("dst"), std::string(block + 100, 'z'));  // longer: must be cut
        ASSERT_EQ(0, FileAccess::copyFile(tmp.file("src").c_str(), tmp.file("dst").c_str())) << size;
        const std::string copy = readFile(tmp.file("dst"));
        EXPECT_EQ(size, copy.size());
        EXPECT_TRUE(copy == data) << "content differs at size " << size;
    }
}

TEST(FileCopyTest, NeverOntoItself)
{
    TempDir tmp;
    const std::string src = tmp.file("rec.ts");
    writeFile(src, "recording");
    ASSERT_EQ(0, ::link(src.c_str(), tmp.file("hard").c_str()));
    ASSERT_EQ(0, ::symlink(src.c_str(), tmp.file("soft").c_str()));
    for (const std::string& dst : {src, tmp.path() + "/./rec.ts", tmp.file("hard"), tmp.file("soft")}) {
        EXPECT_EQ(ErrorCode::ERR_FILECOPY_OPEN_WRITE, FileAccess::copyFile(src.c_str(), dst.c_str())) << dst;
        EXPECT_EQ("recording", readFile(src)) << dst;
    }
}

TEST(FileCopyTest, FailuresAreReportedAndLeaveNoPartialCopy)
{
    TempDir tmp;
    writeFile(tmp.file("src"), pattern(1 << 20));
    writeFile(tmp.file("keep"), "old");

    // Sources that are no regular file, or missing: the destination is untouched.
    ASSERT_EQ(0, ::mkfifo(tmp.file("fifo").c_str(), 0600));
    ::mkdir(tmp.file("dir").c_str(), 0700);
    for (const std::string& src : {tmp.file("missing"), tmp.file("dir"), tmp.file("fifo")}) {
        EXPECT_EQ(ErrorCode::ERR_FILECOPY_OPEN_READ, FileAccess::copyFile(src.c_str(), tmp.file("keep").c_str())) << src;
        EXPECT_EQ("old", readFile(tmp.file("keep"))) << src;
    }

    EXPECT_EQ(ErrorCode::ERR_FILECOPY_OPEN_WRITE,
              FileAccess::copyFile(tmp.file("src").c_str(), tmp.file("nodir/dst").c_str()));
    EXPECT_EQ(ErrorCode::ERR_FILECOPY_OPEN_WRITE, FileAccess::copyFile(tmp.file("src").c_str(), tmp.file("dir").c_str()));

    // A device that refuses every write.
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(ErrorCode::ERR_CANT_COPY, FileAccess::copyFile(tmp.file("src").c_str(), "/dev/full"));
        EXPECT_EQ(0, ::access("/dev/full", F_OK));
    }

    // A regular file whose writing fails midway (file-size limit): the
    // partial copy must not stay behind looking like a good one.
    struct rlimit old {};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old));
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const int rc = FileAccess::copyFile(tmp.file("src").c_str(), tmp.file("partial").c_str());
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ErrorCode::ERR_CANT_COPY, rc);
    EXPECT_FALSE(FileAccess::isFileExist(tmp.file("partial")));
}

TEST(FileSearchTest, FlatAndRecursive)
{
    TempDir tmp;
    const std::string root = tmp.file("rec");
    ASSERT_TRUE(FileAccess::mkDir(root + "/sub.ts/deeper"));
    writeFile(root + "/a.ts", "");
    writeFile(root + "/b.m2ts", "");
    writeFile(root + "/sub.ts/c.ts", "");
    writeFile(root + "/sub.ts/deeper/d.ts", "");
    writeFile(root + "/sub.ts/note.txt", "");
    ASSERT_EQ(0, ::symlink("loop.ts", (root + "/loop.ts").c_str()));          // loops on itself
    ASSERT_EQ(0, ::symlink("nowhere", (root + "/dangling.ts").c_str()));      // target missing
    ASSERT_EQ(0, ::symlink("a.ts", (root + "/link.ts").c_str()));             // link to a file: a hit
    ASSERT_EQ(0, ::symlink(root.c_str(), (root + "/sub.ts/up").c_str()));     // never entered

    const std::regex re("\\.ts$");
    EXPECT_EQ((std::set<std::string>{"a.ts", "link.ts"}), names(FileAccess::searchFile(root, re, false)));
    const auto all = FileAccess::searchFile(root, re, true);
    EXPECT_EQ(4u, all.size());
    EXPECT_EQ((std::set<std::string>{"a.ts", "link.ts", "c.ts", "d.ts"}), names(all));

    // Only the file name is matched, not a directory on the way.
    EXPECT_TRUE(FileAccess::searchFile(root + "/sub.ts", std::regex("sub"), true).empty());

    ::mkdir(tmp.file("empty").c_str(), 0700);
    EXPECT_TRUE(FileAccess::searchFile(tmp.file("empty"), re, true).empty());
    EXPECT_THROW(FileAccess::searchFile(tmp.file("missing"), re, false), std::filesystem::filesystem_error);
    EXPECT_THROW(FileAccess::searchFile(root + "/a.ts", re, true), std::filesystem::filesystem_error);
}

TEST(FileSearchTest, TheUsersCtypeLocaleHoldsFromTheFirstSearchOn)
{
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    {
        const ScopedEnv all("LC_ALL", "C.UTF-8"), ctype("LC_CTYPE", "C.UTF-8"), lang("LANG", "C.UTF-8");
        EXPECT_NE(nullptr, std::setlocale(LC_CTYPE, "C"));
        const std::string title = "録画テスト";
        std::u16string wide;
        StringExtra::widen(title, wide);
        EXPECT_NE(u"録画テスト", wide);

        TempDir tmp;
        EXPECT_TRUE(FileAccess::searchFile(tmp.path(), std::regex("x"), false).empty());
        StringExtra::widen(title, wide);
        EXPECT_EQ(u"録画テスト", wide);
        EXPECT_STREQ("C.UTF-8", std::setlocale(LC_CTYPE, nullptr));

        // A locale the system lacks changes nothing.
        const ScopedEnv missing("LC_ALL", "xx_XX.UTF-8");
        EXPECT_TRUE(FileAccess::searchFile(tmp.path(), std::regex("x"), true).empty());
        EXPECT_STREQ("C.UTF-8", std::setlocale(LC_CTYPE, nullptr));
    }
    std::setlocale(LC_CTYPE, before.c_str());
}
