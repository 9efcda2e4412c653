#include "FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int openFileForRead(const char* path) {
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return kInvalidFile;
    }
    // O_NONBLOCK so that a FIFO without a writer cannot hang the open; it is
    // refused right after, and cleared for the regular file we keep.
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidFile;

    struct stat st;
    const bool statOk = fstat(fd, &st) == 0;
    if (!statOk || !S_ISREG(st.st_mode)) {
        const int e = !statOk ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = e;
        return kInvalidFile;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return kInvalidFile;
    }
    return fd;
}

int64_t getFileSize(int fd) {
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool seekFile(int fd, int64_t offset) {
    if (fd < 0 || offset < 0) return false;
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool readFile(int fd, uint8_t* buffer, uint32_t size, uint32_t* numread) {
    uint32_t total = 0;
    bool ok = fd >= 0 && (buffer != nullptr || size == 0);
    while (ok && total < size) {
        const ssize_t n = read(fd, buffer + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else if (n == 0) {
            break;  // end of file
        } else {
            total += static_cast<uint32_t>(n);
        }
    }
    if (numread != nullptr) *numread = total;
    return ok;
}

bool writeFile(int fd, const uint8_t* buffer, uint32_t size, uint32_t* numwritten) {
    uint32_t total = 0;
    bool ok = fd >= 0 && (buffer != nullptr || size == 0);
    while (ok && total < size) {
        const ssize_t n = write(fd, buffer + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else if (n == 0) {
            ok = false;
        } else {
            total += static_cast<uint32_t>(n);
        }
    }
    if (numwritten != nullptr) *numwritten = total;
    return ok;
}

bool closeFile(int fd) {
    if (fd < 0) return false;
    // Linux frees the descriptor even when close reports EINTR: never retry.
    return close(fd) == 0;
}

}  // namespace platform
