// Static file operations shared by every file-handling part of the program.
// "ansi" arguments are file-system bytes, "utf8" arguments are UTF-8 text; on
// Linux both are the same bytes.
#pragma once

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

class FileAccess {
public:
    FileAccess() = delete;

    // Directory of the running executable, ending in "/"; empty on failure.
    static std::string getModulePath();

    // Separator clean-up for FTP remote paths: "\\\\" -> "/", "\\" -> "/",
    // then "//" -> "/", one pass each. Changes s in place and returns a copy.
    static std::string delimiterNormalize(std::string& s);
    // delimiterNormalize, then a trailing "/" unless s is empty or ends in one.
    static std::string pathNormalize(std::string& s);

    // Regular files under dir whose file name re finds a match in. Throws
    // std::filesystem::filesystem_error when dir cannot be opened as a
    // directory; entries that vanish or cannot be examined are skipped.
    // Leaves the C library's LC_CTYPE in the user's locale (the one the
    // environment names) for the rest of the process.
    static std::vector<std::filesystem::path> searchFile(const std::string dir, const std::regex re,
                                                         const bool recursive);

    // The path exists, whatever its kind.
    static bool isFileExist(const char* ansiPath);
    static bool isFileExist(const std::string utf8Path);
    // The path exists and is a directory.
    static bool isDirExist(const char* ansiPath);
    static bool isDirExist(const std::string utf8Path);

    // Creates the directory and every missing parent. False also when the
    // directory existed already; mkDir is the call that answers "is it there".
    static bool mkDirRecursive(const std::string& ansiPath);
    // mkDirRecursive, then whether the path is now a directory.
    static bool mkDir(const char* ansiPath);
    static bool mkDir(const std::string utf8Path);

    // The whole content of a regular file; empty when it cannot be read.
    static std::string readTextFile(const std::string path);

    // Byte-for-byte copy. 0 on success; ERR_FILECOPY_OPEN_READ (12) when the
    // source cannot be opened as a regular file; ERR_FILECOPY_OPEN_WRITE (13)
    // when the destination cannot be opened or is the source itself;
    // ERR_CANT_COPY (14) when reading, writing or closing fails (the partial
    // copy is then removed).
    static int copyFile(const char* src, const char* dst);

    // Size of the block the copy moves at a time.
    static constexpr std::size_t COPY_BUFFER_SIZE = 0x2000000;

private:
    static std::vector<std::filesystem::path> searchFiles(const std::string& dir, const std::regex& re);
    static std::vector<std::filesystem::path> recursiveSearchFiles(const std::string& dir,
                                                                   const std::regex& re);
};
