// Program directory, TEMP, the power seam, Windows-style rename and the
// file handles the TS reader sits on.

#include "FileHandle.h"
#include "Machine.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Sets or unsets an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

dev_t deviceOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

}  // namespace

TEST(Machine, ProgramDirectoryHoldsThisExecutable) {
    const std::string dir = platform::programDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(access((dir + "test_platform_machine").c_str(), X_OK), 0) << dir;
}

TEST(Machine, TempDirectoryFallsBackInOrder) {
    {
        EnvVar temp("TEMP", "/t/temp"), tmpdir("TMPDIR", "/t/tmpdir");
        EXPECT_EQ(platform::tempDirectory(), "/t/temp");
    }
    {
        EnvVar temp("TEMP", nullptr), tmpdir("TMPDIR", "/t/tmpdir");
        EXPECT_EQ(platform::tempDirectory(), "/t/tmpdir");
    }
    {
        EnvVar temp("TEMP", nullptr), tmpdir("TMPDIR", nullptr);
        EXPECT_EQ(platform::tempDirectory(), "/tmp");
    }
    // Set but empty is no directory: a placeholder would otherwise point
    // at the root of the file system.
    {
        EnvVar temp("TEMP", ""), tmpdir("TMPDIR", "/t/tmpdir");
        EXPECT_EQ(platform::tempDirectory(), "/t/tmpdir");
    }
    {
        EnvVar temp("TEMP", ""), tmpdir("TMPDIR", "");
        EXPECT_EQ(platform::tempDirectory(), "/tmp");
    }
}

TEST(Machine, ExitStatusKeepsOnlyWhatFitsInAByte) {
    EXPECT_EQ(platform::exitStatus(0), 0);
    EXPECT_EQ(platform::exitStatus(2), 2);
    EXPECT_EQ(platform::exitStatus(255), 255);
    EXPECT_EQ(platform::exitStatus(256), 255);
    EXPECT_EQ(platform::exitStatus(-1), 255);
    EXPECT_EQ(platform::exitStatus(static_cast<int>(0x80070002u)), 255);
    EXPECT_EQ(platform::exitStatus(static_cast<int>(0x80070000u)), 255);
}

TEST(Machine, PowerControlIsReplaceable) {
    struct Fake : platform::PowerControl {
        int awake = 0, suspends = 0;
        void keepAwake(bool on) override { awake += on ? 1 : -1; }
        bool suspend() override { return ++suspends, true; }
    } fake;
    platform::setPowerControl(&fake);
    platform::powerControl().keepAwake(true);
    EXPECT_TRUE(platform::powerControl().suspend());
    platform::powerControl().keepAwake(false);
    platform::setPowerControl(nullptr);
    EXPECT_EQ(fake.awake, 0);
    EXPECT_EQ(fake.suspends, 1);
    EXPECT_NE(&platform::powerControl(), &fake);
}

TEST(Machine, PowerLogStandsInForTheSystem) {
#ifndef MARUBO_TEST_SEAMS
    GTEST_SKIP() << "built without the test seams: the real suspend must not be reached";
#endif
    testsupport::TempDir dir;
    const std::string log = dir.file("power.log");
    EnvVar var("MARUBO_POWER_LOG", log.c_str());
    ASSERT_STREQ(std::getenv("MARUBO_POWER_LOG"), log.c_str());  // never reach the real suspend
    platform::setPowerControl(nullptr);
    platform::powerControl().keepAwake(true);
    EXPECT_TRUE(platform::powerControl().suspend());
    platform::powerControl().keepAwake(false);
    EXPECT_EQ(testsupport::readFile(log), "keep-awake on\nsuspend\nkeep-awake off\n");
}

TEST(Machine, SystemKeepAwakeComesAndGoesQuietly) {
    // Holds and drops the idle inhibitor where there is a system bus; does
    // nothing where there is none. Either way it neither hangs nor prints.
    EnvVar var("MARUBO_POWER_LOG", nullptr);
    platform::setPowerControl(nullptr);
    testing::internal::CaptureStdout();
    platform::powerControl().keepAwake(true);
    platform::powerControl().keepAwake(true);
    platform::powerControl().keepAwake(false);
    platform::powerControl().keepAwake(false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Rename, RefusesAnExistingTargetAndMovesOtherwise) {
    testsupport::TempDir dir;
    const std::string a = dir.file("a.ts"), b = dir.file("b.ts"), c = dir.file("c.ts");
    testsupport::writeFile(a, "AAAA");
    testsupport::writeFile(b, "BB");

    errno = 0;
    EXPECT_EQ(platform::renameFile(a.c_str(), b.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(platform::renameFile(a.c_str(), a.c_str()), -1);
    EXPECT_EQ(testsupport::readFile(a), "AAAA");
    EXPECT_EQ(testsupport::readFile(b), "BB");

    EXPECT_EQ(platform::renameFile(a.c_str(), c.c_str()), 0);
    EXPECT_NE(access(a.c_str(), F_OK), 0);
    EXPECT_EQ(testsupport::readFile(c), "AAAA");

    EXPECT_EQ(platform::renameFile(dir.file("missing").c_str(), dir.file("d").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::renameFile(c.c_str(), dir.file("no/such/dir/c.ts").c_str()), -1);
    EXPECT_EQ(testsupport::readFile(c), "AAAA");
}

TEST(Rename, CopiesAcrossFileSystems) {
    testsupport::TempDir dir;
    const std::string other = "/dev/shm";
    if (deviceOf(other) == 0 || deviceOf(other) == deviceOf(dir.path()) || access(other.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system beside " << dir.path();

    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + 7);
    const std::string from = dir.file("rec.ts");
    testsupport::writeFile(from, content);
    chmod(from.c_str(), 0640);
    const std::string to = other + "/marubo-rename-" + std::to_string(getpid()) + ".ts";
    unlink(to.c_str());

    ASSERT_EQ(platform::renameFile(from.c_str(), to.c_str()), 0);
    EXPECT_NE(access(from.c_str(), F_OK), 0);
    EXPECT_EQ(testsupport::readFile(to), content);
    struct stat st {};
    stat(to.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Back again onto an existing name: refused, nothing lost on either side.
    testsupport::writeFile(from, "other");
    EXPECT_EQ(platform::renameFile(to.c_str(), from.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(testsupport::readFile(to), content);
    EXPECT_EQ(testsupport::readFile(from), "other");

    // A directory is not carried across.
    const std::string sub = dir.file("sub");
    mkdir(sub.c_str(), 0755);
    const std::string subTo = other + "/marubo-rename-dir-" + std::to_string(getpid());
    EXPECT_EQ(platform::renameFile(sub.c_str(), subTo.c_str()), -1);
    EXPECT_EQ(access(sub.c_str(), F_OK), 0);
    unlink(to.c_str());
    rmdir(subTo.c_str());
}

TEST(FileHandle, OpensOnlyRegularFilesAndNeverBlocks) {
    testsupport::TempDir dir;
    errno = 0;
    EXPECT_EQ(platform::openFileForRead(dir.path().c_str()), platform::kInvalidFile);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(platform::openFileForRead(dir.file("missing").c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::openFileForRead(""), platform::kInvalidFile);
    EXPECT_EQ(platform::openFileForRead(nullptr), platform::kInvalidFile);
    EXPECT_EQ(platform::openFileForRead("/dev/null"), platform::kInvalidFile);

    // A FIFO with no writer would block a plain open for ever.
    const std::string fifo = dir.file("fifo.ts");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::openFileForRead(fifo.c_str()), platform::kInvalidFile);

    // The handle of a regular file blocks normally again.
    const std::string file = dir.file("a.ts");
    testsupport::writeFile(file, "x");
    const int fd = platform::openFileForRead(file.c_str());
    ASSERT_NE(fd, platform::kInvalidFile);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_TRUE(platform::closeFile(fd));
}

TEST(FileHandle, SeeksPast4GiBAndReadsToTheEnd) {
    testsupport::TempDir dir;
    const std::string file = dir.file("big.ts");
    const int64_t size = (5LL << 30) + 10;  // sparse: nothing is written but the tail
    {
        const int w = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(w, 0);
        if (ftruncate(w, size - 10) != 0) {
            close(w);
            GTEST_SKIP() << "no sparse files here";
        }
        ASSERT_EQ(lseek(w, 0, SEEK_END), size - 10);
        uint32_t written = 0;
        EXPECT_TRUE(platform::writeFile(w, reinterpret_cast<const uint8_t*>("0123456789"), 10, &written));
        EXPECT_EQ(written, 10u);
        close(w);
    }
    const int fd = platform::openFileForRead(file.c_str());
    ASSERT_NE(fd, platform::kInvalidFile);
    EXPECT_EQ(platform::getFileSize(fd), size);
    ASSERT_TRUE(platform::seekFile(fd, size - 4));
    uint8_t buffer[64] = {};
    uint32_t got = 99;
    EXPECT_TRUE(platform::readFile(fd, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "6789");
    EXPECT_TRUE(platform::readFile(fd, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(platform::seekFile(fd, -1));
    platform::closeFile(fd);

    EXPECT_EQ(platform::getFileSize(platform::kInvalidFile), -1);
    EXPECT_FALSE(platform::readFile(platform::kInvalidFile, buffer, 1, &got));
    EXPECT_EQ(got, 0u);
}

TEST(FileHandle, ReadLoopsOverShortReads) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "abc", 3), 3);
    std::thread writer([&] {
        usleep(20000);
        EXPECT_EQ(write(fds[1], "defg", 4), 4);
        close(fds[1]);
    });
    uint8_t buffer[16] = {};
    uint32_t got = 0;
    EXPECT_TRUE(platform::readFile(fds[0], buffer, sizeof buffer, &got));
    writer.join();
    EXPECT_EQ(got, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "abcdefg");
    close(fds[0]);
}
