// Small helpers the tests share: where the built program lives, a
// scratch directory that removes itself and whole-file reads and writes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Absolute path of the built marubo executable.
std::string maruboBinary();

// Absolute path of the source tree.
std::string sourceDir();

// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    // The same under another base folder (another file system, say).
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

// Writes bytes to a file, replacing it; fails the current test on error.
void writeFile(const std::string& path, const std::string& bytes);
// Reads a whole file; returns "" when it cannot be read.
std::string readFile(const std::string& path);
// The lines of a text without their '\n'; a last line without one counts too.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace testsupport
