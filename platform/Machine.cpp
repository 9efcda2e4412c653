#include "Machine.h"

#include "ChildSignals.h"
#include "FileHandle.h"
#include "Process.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

std::string programDirectory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(n));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos) return std::string();
            return path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);  // the path may have been cut: try larger
    }
}

std::string tempDirectory() {
    // An empty value counts as unset: "${TEMP}/x" must not become "/x".
    const char* temp = std::getenv("TEMP");
    if (temp != nullptr && *temp != '\0') return temp;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0') return tmpdir;
    return "/tmp";
}

namespace {

#ifdef MARUBO_TEST_SEAMS
void appendLine(const char* path, const char* line) {
    FILE* f = std::fopen(path, "ae");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
}
#endif

// The idle inhibitor is held by a "systemd-inhibit ... cat" child whose stdin
// is a pipe that only we hold open: closing it (or our death, however it
// happens) ends cat, and logind drops the lock with it. Without a system bus
// or without systemd-inhibit the child fails at once and nothing is held.
class SystemPowerControl : public PowerControl {
public:
    void keepAwake(bool on) override {
#ifdef MARUBO_TEST_SEAMS
        if (const char* log = std::getenv("MARUBO_POWER_LOG")) {
            appendLine(log, on ? "keep-awake on" : "keep-awake off");
            return;
        }
#endif
        if (on)
            start();
        else
            stop();
    }

    bool suspend() override {
#ifdef MARUBO_TEST_SEAMS
        if (const char* log = std::getenv("MARUBO_POWER_LOG")) {
            appendLine(log, "suspend");
            return true;
        }
#endif
        return runProcess({"systemctl", "suspend"}) == 0;
    }

private:
    void start() {
        if (m_pid > 0) return;
        if (access("/run/dbus/system_bus_socket", F_OK) != 0) return;

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        if (devnull >= 0) {
            posix_spawn_file_actions_adddup2(&actions, devnull, 1);
            posix_spawn_file_actions_adddup2(&actions, devnull, 2);
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        setChildSignals(&attr, false);

        const char* argv[] = {"systemd-inhibit", "--what=idle", "--who=marubo",
                              "--why=Processing recordings", "--mode=block", "cat", nullptr};
        pid_t pid = -1;
        const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        close(fds[0]);
        if (devnull >= 0) close(devnull);
        if (rc != 0) {
            close(fds[1]);
            return;
        }
        m_pid = pid;
        m_pipe = fds[1];
    }

    void stop() {
        if (m_pid <= 0) return;
        close(m_pipe);
        m_pipe = -1;
        int status = 0;
        while (waitpid(m_pid, &status, 0) == -1 && errno == EINTR) {
        }
        m_pid = -1;
    }

    pid_t m_pid = -1;
    int m_pipe = -1;
};

SystemPowerControl& systemPowerControl() {
    static SystemPowerControl control;
    return control;
}

PowerControl* g_replacement = nullptr;

// Copies a regular file to a target that must not exist yet, then removes
// the source. Any failure before the source is removed removes the copy.
int moveAcrossFileSystems(const char* from, const char* to) {
    struct stat st;
    if (lstat(from, &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EXDEV;  // directories and special files are not carried across
        return -1;
    }
    const int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return -1;
    const int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int e = errno;
        close(in);
        errno = e;
        return -1;
    }

    int error = 0;
    off_t copied = 0;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        if (!writeFile(out, buffer.data(), static_cast<uint32_t>(n), nullptr)) {
            error = errno;
            break;
        }
        copied += n;
    }
    if (error == 0 && copied != st.st_size) error = EIO;  // the source changed under us
    if (error == 0) {
        fchmod(out, st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out, times);
        if (fsync(out) != 0) error = errno;
    }
    struct stat written;
    if (error == 0 && (fstat(out, &written) != 0 || written.st_size != st.st_size)) error = EIO;
    if (close(out) != 0 && error == 0) error = errno;
    close(in);
    if (error != 0) {
        unlink(to);
        errno = error;
        return -1;
    }
    // Like a Windows move: a source that cannot be removed stays, the move
    // still succeeds (the copy is complete).
    unlink(from);
    return 0;
}

}  // namespace

PowerControl& powerControl() {
    if (g_replacement != nullptr) return *g_replacement;
    return systemPowerControl();
}

void setPowerControl(PowerControl* control) { g_replacement = control; }

int renameFile(const char* from, const char* to) {
    if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno == EINVAL || errno == ENOSYS) {
        // The file system cannot refuse to replace: check first instead.
        struct stat st;
        if (lstat(to, &st) == 0) {
            errno = EEXIST;
            return -1;
        }
        if (rename(from, to) == 0) return 0;
    }
    if (errno != EXDEV) return -1;
    return moveAcrossFileSystems(from, to);
}

int exitStatus(int result) { return (result >= 0 && result <= 255) ? result : 255; }

}  // namespace platform
