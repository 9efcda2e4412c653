#include "FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <memory>
#include <new>
#include <system_error>

#include "ErrorManager.h"
#include "FileHandle.h"
#include "Machine.h"
#include "StringExtra.h"

namespace fs = std::filesystem;

namespace {

bool statPath(const char* p, struct stat& st)
{
    return p != nullptr && ::stat(p, &st) == 0;
}

// Opens without blocking on a FIFO or a device that waits for a peer, then
// puts the descriptor back into blocking mode for the real I/O.
int openNoWait(const char* p, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(p, flags | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        const int fl = ::fcntl(fd, F_GETFL);
        if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    return fd;
}

// Whether an entry names a regular file (links followed) whose name re finds
// a match in. An entry that vanished, loops or cannot be examined is no hit.
bool isHit(const fs::directory_entry& entry, const std::regex& re)
{
    std::error_code ec;
    const fs::file_status st = entry.status(ec);
    if (ec || !fs::is_regular_file(st)) return false;
    const std::string name = entry.path().filename().string();
    return std::regex_search(name, re);
}

// Whether the walk should enter an entry: a real directory, not a link to one.
bool isRealDirectory(const fs::directory_entry& entry)
{
    std::error_code ec;
    const fs::file_status st = entry.symlink_status(ec);
    return !ec && fs::is_directory(st);
}

}  // namespace

std::string FileAccess::getModulePath()
{
    return platform::programDirectory();
}

std::string FileAccess::delimiterNormalize(std::string& s)
{
    StringExtra::replaceAll(s, "\\\\", "/");
    StringExtra::replaceAll(s, "\\", "/");
    StringExtra::replaceAll(s, "//", "/");
    return s;
}

std::string FileAccess::pathNormalize(std::string& s)
{
    delimiterNormalize(s);
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

std::vector<fs::path> FileAccess::searchFile(const std::string dir, const std::regex re, const bool recursive)
{
    // The walk needs no locale: file names are bytes here. A search is where
    // the run takes on the user's LC_CTYPE, so that the C library's multibyte
    // text (StringExtra::widen) is read in the user's encoding from then on;
    // after the walk LC_CTYPE is set to that same locale again, never back to
    // the one in force before. A locale that the environment names but the
    // system lacks leaves LC_CTYPE as it was.
    const char* set = std::setlocale(LC_CTYPE, "");
    const std::string userLocale = set != nullptr ? set : "";
    std::vector<fs::path> found = recursive ? recursiveSearchFiles(dir, re) : searchFiles(dir, re);
    if (set != nullptr) std::setlocale(LC_CTYPE, userLocale.c_str());
    return found;
}

std::vector<fs::path> FileAccess::searchFiles(const std::string& dir, const std::regex& re)
{
    std::vector<fs::path> found;
    fs::directory_iterator it(fs::path(dir), fs::directory_options::skip_permission_denied);
    std::error_code ec;
    if (!fs::is_directory(fs::status(dir, ec))) return found;
    // An error while listing (the iterator then turns into the end) ends
    // the walk quietly with what was found so far.
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (isHit(*it, re)) found.push_back(it->path());
    }
    return found;
}

std::vector<fs::path> FileAccess::recursiveSearchFiles(const std::string& dir, const std::regex& re)
{
    std::vector<fs::path> found;
    const auto options = fs::directory_options::skip_permission_denied;
    std::vector<fs::directory_iterator> stack;
    stack.emplace_back(fs::path(dir), options);  // throws when dir is no directory
    std::error_code ec;
    if (!fs::is_directory(fs::status(dir, ec))) return found;

    // Depth first, entering each subdirectory right after listing it. A
    // subdirectory that cannot be opened (vanished, unreadable) is skipped;
    // a read error ends the listing of that directory only.
    const fs::directory_iterator end;
    while (!stack.empty()) {
        fs::directory_iterator& it = stack.back();
        if (it == end) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry entry = *it;
        it.increment(ec);
        if (ec) {
            it = end;
            ec.clear();
        }
        if (isHit(entry, re)) found.push_back(entry.path());
        if (isRealDirectory(entry)) {
            fs::directory_iterator sub(entry.path(), options, ec);
            if (!ec && sub != end) stack.push_back(std::move(sub));
            ec.clear();
        }
    }
    return found;
}

bool FileAccess::isFileExist(const char* ansiPath)
{
    struct stat st;
    return statPath(ansiPath, st);
}

bool FileAccess::isFileExist(const std::string utf8Path)
{
    const std::string ansi = StringExtra::utf8_to_multi_winapi(utf8Path);
    return isFileExist(ansi.c_str());
}

bool FileAccess::isDirExist(const char* ansiPath)
{
    struct stat st;
    return statPath(ansiPath, st) && S_ISDIR(st.st_mode);
}

bool FileAccess::isDirExist(const std::string utf8Path)
{
    const std::string ansi = StringExtra::utf8_to_multi_winapi(utf8Path);
    return isDirExist(ansi.c_str());
}

bool FileAccess::mkDirRecursive(const std::string& ansiPath)
{
    if (::mkdir(ansiPath.c_str(), 0777) == 0) return true;
    if (errno != ENOENT) return false;
    if (ansiPath.empty()) return false;
    const std::string::size_type slash = ansiPath.rfind('/');
    if (slash == std::string::npos) return false;
    if (!mkDirRecursive(ansiPath.substr(0, slash))) return false;
    return ::mkdir(ansiPath.c_str(), 0777) == 0;
}

bool FileAccess::mkDir(const char* ansiPath)
{
    if (ansiPath == nullptr) return false;
    mkDirRecursive(ansiPath);
    return isDirExist(ansiPath);
}

bool FileAccess::mkDir(const std::string utf8Path)
{
    const std::string ansi = StringExtra::utf8_to_multi_winapi(utf8Path);
    return mkDir(ansi.c_str());
}

std::string FileAccess::readTextFile(const std::string path)
{
    // Only a regular file is read: a FIFO or a device in its place must not
    // stall or flood the run.
    const int fd = openNoWait(path.c_str(), O_RDONLY);
    if (fd < 0) return std::string();
    std::string text;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        uint8_t buffer[65536];
        uint32_t n = 0;
        while (platform::readFile(fd, buffer, sizeof buffer, &n) && n > 0)
            text.append(reinterpret_cast<const char*>(buffer), n);
    }
    ::close(fd);
    return text;
}

int FileAccess::copyFile(const char* src, const char* dst)
{
    if (src == nullptr) return ErrorCode::ERR_FILECOPY_OPEN_READ;
    const int in = openNoWait(src, O_RDONLY);
    if (in < 0) return ErrorCode::ERR_FILECOPY_OPEN_READ;
    struct stat inStat;
    // Anything but a regular file (a directory, a FIFO, a device) is no
    // source: a directory would never reach end of file, a device might not.
    if (::fstat(in, &inStat) != 0 || !S_ISREG(inStat.st_mode)) {
        ::close(in);
        return ErrorCode::ERR_FILECOPY_OPEN_READ;
    }
    if (dst == nullptr) {
        ::close(in);
        return ErrorCode::ERR_FILECOPY_OPEN_WRITE;
    }

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[COPY_BUFFER_SIZE]);
    if (!buffer) {
        ::close(in);
        return ErrorCode::ERR_CANT_COPY;
    }

    // Open without truncating first: the destination may be the source
    // itself (the same name, a hard link or a symbolic link to it), and
    // truncating it would destroy the recording.
    const int out = openNoWait(dst, O_WRONLY | O_CREAT, 0666);
    if (out < 0) {
        ::close(in);
        return ErrorCode::ERR_FILECOPY_OPEN_WRITE;
    }
    struct stat outStat;
    if (::fstat(out, &outStat) != 0 ||
        (outStat.st_dev == inStat.st_dev && outStat.st_ino == inStat.st_ino)) {
        ::close(out);
        ::close(in);
        return ErrorCode::ERR_FILECOPY_OPEN_WRITE;
    }
    const bool regularOut = S_ISREG(outStat.st_mode);

    bool ok = !regularOut || ::ftruncate(out, 0) == 0;
    while (ok) {
        uint32_t n = 0;
        ok = platform::readFile(in, buffer.get(), static_cast<uint32_t>(COPY_BUFFER_SIZE), &n);
        if (!ok || n == 0) break;
        ok = platform::writeFile(out, buffer.get(), n, nullptr);
    }
    ::close(in);
    // A failed close can be the first report of a failed write (NFS, quota).
    if (::close(out) != 0) ok = false;
    if (ok) return 0;

    // Leave no partial copy behind that could pass for a good one; a device
    // or a FIFO as destination is of course not removed.
    if (regularOut) ::unlink(dst);
    return ErrorCode::ERR_CANT_COPY;
}
