// The TS library's options record and the file layer its readers use.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "TsInfo.h"

using testsupport::TempDir;

TEST(CopyParams, InitSetsDefaultsOverAnyContent)
{
    CopyParams params;
    std::memset(static_cast<void*>(&params), 0x5A, sizeof params);
    initCopyParams(&params);

    EXPECT_EQ(0, params.argSrc);
    EXPECT_EQ(0, params.argDest);
    EXPECT_EQ(0, params.separator);
    for (int32_t flag : params.flags)
        ASSERT_EQ(0, flag);
    EXPECT_TRUE(params.bNoControl);
    EXPECT_TRUE(params.bNoComma);
    EXPECT_FALSE(params.bDQuot);
    EXPECT_FALSE(params.bItemName);
    EXPECT_FALSE(params.bDisplay);
    EXPECT_FALSE(params.bCharSize);
    EXPECT_FALSE(params.bIVS);
    EXPECT_TRUE(params.bUseBOM);
    EXPECT_EQ(50, params.tsfilepos);
    EXPECT_EQ(0, params.packet_limit);

    initCopyParams(nullptr);  // tolerated
}

TEST(FileWrappers, RegularFileReadsWholeThroughLoop)
{
    TempDir dir;
    // Not a multiple of the chunk size, so the last read comes up short.
    std::string bytes(1000003, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    testsupport::writeFile(dir.file("a.ts"), bytes);

    HANDLE h = OpenFileData(dir.file("a.ts").c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), GetFileDataSize(h));

    std::string got;
    std::vector<uint8_t> buf(188 * 256);
    for (;;) {
        uint32_t n = 12345;
        ASSERT_TRUE(ReadFileData(h, buf.data(), static_cast<uint32_t>(buf.size()), &n));
        if (n == 0)
            break;
        got.append(reinterpret_cast<const char*>(buf.data()), n);
        if (n < buf.size()) {
            // short only at the end of the file
            EXPECT_EQ(bytes.size(), got.size());
        }
    }
    EXPECT_EQ(bytes, got);

    // Seek back and read a span in the middle.
    ASSERT_TRUE(SeekFileData(h, 500000));
    uint32_t n = 0;
    ASSERT_TRUE(ReadFileData(h, buf.data(), 4, &n));
    ASSERT_EQ(4u, n);
    EXPECT_EQ(0, std::memcmp(buf.data(), bytes.data() + 500000, 4));

    // A handle opened for reading does not write.
    n = 99;
    const uint8_t one = 1;
    EXPECT_FALSE(WriteFileData(h, &one, 1, &n));
    EXPECT_EQ(0u, n);
    CloseFileData(h);
}

TEST(FileWrappers, SeekBeyondFourGiB)
{
    TempDir dir;
    const std::string path = dir.file("big.ts");
    const int64_t size = (int64_t{5} << 30) + 10;
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        if (::ftruncate(fd, size) != 0 || ::pwrite(fd, "TAIL", 4, size - 4) != 4) {
            ::close(fd);
            GTEST_SKIP() << "no room for a sparse 5 GiB file";
        }
        ::close(fd);
    }
    HANDLE h = OpenFileData(path.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(size, GetFileDataSize(h));
    ASSERT_TRUE(SeekFileData(h, size - 4));
    uint8_t buf[16] = {};
    uint32_t n = 0;
    ASSERT_TRUE(ReadFileData(h, buf, sizeof buf, &n));
    EXPECT_EQ(4u, n);
    EXPECT_EQ(0, std::memcmp(buf, "TAIL", 4));
    CloseFileData(h);
}

TEST(FileWrappers, OnlyRegularFilesOpen)
{
    TempDir dir;
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileData(dir.path().c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileData(dir.file("missing.ts").c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileData(""));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileData(nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileData("/dev/null"));

    // An empty regular file opens and reads nothing.
    testsupport::writeFile(dir.file("empty.ts"), "");
    HANDLE h = OpenFileData(dir.file("empty.ts").c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(0, GetFileDataSize(h));
    uint8_t buf[4];
    uint32_t n = 7;
    EXPECT_TRUE(ReadFileData(h, buf, sizeof buf, &n));
    EXPECT_EQ(0u, n);
    CloseFileData(h);
}

TEST(FileWrappers, FifoIsRefusedWithoutBlocking)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe.ts");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));

    auto opened = std::async(std::launch::async, [&] { return OpenFileData(fifo.c_str()); });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Release the blocked open so the test can end, then fail.
        const int unblock = ::open(fifo.c_str(), O_RDWR);
        CloseFileData(opened.get());
        if (unblock >= 0)
            ::close(unblock);
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE, opened.get());
}

TEST(FileWrappers, InvalidHandleIsHarmless)
{
    uint8_t buf[4] = {};
    uint32_t n = 5;
    EXPECT_EQ(0, GetFileDataSize(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(SeekFileData(INVALID_HANDLE_VALUE, 0));
    EXPECT_FALSE(ReadFileData(INVALID_HANDLE_VALUE, buf, sizeof buf, &n));
    EXPECT_EQ(0u, n);
    n = 5;
    EXPECT_FALSE(WriteFileData(INVALID_HANDLE_VALUE, buf, sizeof buf, &n));
    EXPECT_EQ(0u, n);
    CloseFileData(INVALID_HANDLE_VALUE);
}
