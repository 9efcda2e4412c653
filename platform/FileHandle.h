// A plain file-descriptor layer: recordings are read through it, and file
// copies use its whole-count read and write loops.
//
// Handles are ints; -1 is "no file". Every function tolerates -1; an
// interrupted open, read or write is retried.
#pragma once

#include <cstdint>

namespace platform {

constexpr int kInvalidFile = -1;

// Opens a regular file for reading (close-on-exec). A directory, a FIFO, a
// device or anything else that is not a regular file does not open and gives
// kInvalidFile with errno set (EISDIR for a directory, EINVAL otherwise).
// Opening never blocks, not even on a FIFO.
int openFileForRead(const char* path);

// Size in bytes, or -1 on failure.
int64_t getFileSize(int fd);

// Moves to `offset` bytes from the beginning. False on failure.
bool seekFile(int fd, int64_t offset);

// Reads until `size` bytes have been read or the end of the file; *numread
// (when not null) receives the count. False only on a read error (the bytes
// read before it are counted).
bool readFile(int fd, uint8_t* buffer, uint32_t size, uint32_t* numread);

// Writes all `size` bytes; *numwritten receives the count. False on error.
bool writeFile(int fd, const uint8_t* buffer, uint32_t size, uint32_t* numwritten);

// Closes the handle; false when the close reported an error.
bool closeFile(int fd);

}  // namespace platform
