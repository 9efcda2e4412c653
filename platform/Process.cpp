#include "Process.h"

#include "ChildSignals.h"

#include <cerrno>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

int hresultFromErrno(int error) {
    switch (error) {
    case ENOENT: return kHresultFileNotFound;
    case ENOTDIR: return kHresultPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kHresultAccessDenied;
    case ENOMEM:
    case E2BIG: return kHresultNotEnoughMemory;
    case ETXTBSY: return kHresultSharingViolation;
    case ENOEXEC:
    case ELIBBAD: return kHresultBadExecutable;
    case ENAMETOOLONG:
    case ELOOP: return kHresultFilenameTooLong;
    default: return kHresultGeneralFailure;
    }
}

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;
    // A NUL ends the line, as it would end the C string the system is given.
    auto at = [&](std::size_t k) -> char { return k < n ? commandLine[k] : '\0'; };

    for (;;) {
        while (at(i) == ' ' || at(i) == '\t') ++i;
        if (at(i) == '\0') break;

        std::string arg;
        bool inQuotes = false;
        for (;;) {
            std::size_t slashes = 0;
            while (at(i) == '\\') { ++i; ++slashes; }
            bool copy = true;
            if (at(i) == '"') {
                if (slashes % 2 == 0) {
                    if (inQuotes && at(i + 1) == '"') {
                        ++i;  // "" inside quotes: one literal quote
                    } else {
                        copy = false;
                        inQuotes = !inQuotes;
                    }
                }
                slashes /= 2;
            }
            arg.append(slashes, '\\');
            const char c = at(i);
            if (c == '\0' || (!inQuotes && (c == ' ' || c == '\t'))) break;
            if (copy) arg.push_back(c);
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string quoteArgument(const std::string& argument) {
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            // 2n+1 backslashes give n backslashes and a literal quote.
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out.push_back(c);
    }
    // Backslashes before the closing quote are doubled so it stays a quote.
    out.append(slashes * 2, '\\');
    out.push_back('"');
    return out;
}

int runProcess(const std::vector<std::string>& argv) {
    if (argv.empty()) return kHresultFileNotFound;

    std::vector<char*> cargv;
    cargv.reserve(argv.size() + 1);
    for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return kHresultNotEnoughMemory;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return kHresultNotEnoughMemory;
    }

    // The child gets the console (0, 1, 2) and nothing else of ours.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

    // A child must not inherit our ignored SIGPIPE or a blocked mask.
    setChildSignals(&attr, true);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, cargv[0], &actions, &attr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return hresultFromErrno(rc);

    int status = 0;
    for (;;) {
        const pid_t w = waitpid(pid, &status, 0);
        if (w == pid) break;
        if (w == -1 && errno == EINTR) continue;
        return hresultFromErrno(errno);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kHresultGeneralFailure;
}

int runCommandLine(const std::string& commandLine) {
    return runProcess(splitCommandLine(commandLine));
}

}  // namespace platform
