#include "TsInfo.h"

#include "FileHandle.h"

struct TsFileData {
    int fd;
};

void initCopyParams(CopyParams* param)
{
    if (param)
        *param = CopyParams{};
}

HANDLE OpenFileData(const char* path)
{
    if (!path || !*path)
        return INVALID_HANDLE_VALUE;
    const int fd = platform::openFileForRead(path);
    if (fd == platform::kInvalidFile)
        return INVALID_HANDLE_VALUE;
    return new TsFileData{fd};
}

void CloseFileData(HANDLE hFile)
{
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    platform::closeFile(hFile->fd);
    delete hFile;
}

int64_t GetFileDataSize(HANDLE hReadFile)
{
    if (hReadFile == INVALID_HANDLE_VALUE)
        return 0;
    const int64_t size = platform::getFileSize(hReadFile->fd);
    return size < 0 ? 0 : size;
}

bool SeekFileData(HANDLE hReadFile, int64_t filepos)
{
    if (hReadFile == INVALID_HANDLE_VALUE || filepos < 0)
        return false;
    return platform::seekFile(hReadFile->fd, filepos);
}

bool ReadFileData(HANDLE hReadFile, uint8_t* buf, uint32_t size, uint32_t* numread)
{
    if (numread)
        *numread = 0;
    if (hReadFile == INVALID_HANDLE_VALUE || (!buf && size > 0))
        return false;
    uint32_t got = 0;
    const bool ok = platform::readFile(hReadFile->fd, buf, size, &got);
    if (numread)
        *numread = got;
    return ok;
}

bool WriteFileData(HANDLE hWriteFile, const uint8_t* buf, uint32_t size, uint32_t* numwrite)
{
    if (numwrite)
        *numwrite = 0;
    if (hWriteFile == INVALID_HANDLE_VALUE || (!buf && size > 0))
        return false;
    uint32_t written = 0;
    const bool ok = platform::writeFile(hWriteFile->fd, buf, size, &written);
    if (numwrite)
        *numwrite = written;
    return ok;
}
