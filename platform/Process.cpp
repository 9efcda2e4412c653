#include "Process.h"

#include "ChildSignals.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define MARUBO_HAVE_CLOSEFROM 1
#endif

namespace platform {

namespace {

// A child shares the console (0, 1, 2) and nothing else of ours.
constexpr int kFirstPrivateDescriptor = 3;

// The null-ended argument array exec takes; it points into `argv`.
std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// waitpid for one child, resumed when a signal handler interrupts it.
pid_t waitFor(pid_t pid, int* status) {
    for (;;) {
        const pid_t w = waitpid(pid, status, 0);
        if (w != -1 || errno != EINTR) return w;
    }
}

int resultOfEnd(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kHresultGeneralFailure;
}

}  // namespace

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
    std::vector<char*> cargv = argvPointers(argv);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return kHresultNotEnoughMemory;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return kHresultNotEnoughMemory;
    }

#ifdef MARUBO_HAVE_CLOSEFROM
    posix_spawn_file_actions_addclosefrom_np(&actions, kFirstPrivateDescriptor);
#endif

    // A child must not inherit our ignored SIGPIPE or a blocked mask.
    setChildSignals(&attr, true);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, cargv[0], &actions, &attr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return hresultFromErrno(rc);

    int status = 0;
    if (waitFor(pid, &status) != pid) return hresultFromErrno(errno);
    return resultOfEnd(status);
}

int runCommandLine(const std::string& commandLine) {
    return runProcess(splitCommandLine(commandLine));
}

namespace {

// The files a program name stands for, in the order posix_spawnp tries them:
// the name itself when it holds a '/', else the name in each PATH entry (an
// empty entry is the current directory). Built before fork: the child of a
// threaded process may not allocate.
std::vector<std::string> programPlaces(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return {name};
    const char* path = std::getenv("PATH");
    const std::string list = path != nullptr ? path : "/bin:/usr/bin";
    std::vector<std::string> places;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = list.find(':', start);
        const std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        places.push_back(dir.empty() ? name : dir + "/" + name);
        if (end == std::string::npos) return places;
        start = end + 1;
    }
}

// Execs the first place that starts, going on as posix_spawnp does past a
// place that is missing or refused, and never handing a file that is not a
// program to a shell as execvp would. Returns only on failure, with the
// error to report: a refusal wins over a later "not found".
int execFirstPlace(const std::vector<std::string>& places, char* const argv[]) {
    int error = ENOENT;
    bool refused = false;
    for (const std::string& place : places) {
        execve(place.c_str(), argv, environ);
        error = errno;
        switch (error) {
        case EACCES: refused = true; break;
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
        case ENODEV:
        case ETIMEDOUT: break;
        default: return error;
        }
    }
    return refused ? EACCES : error;
}

void closeDescriptorsExcept(int keep) {
    for (int fd = kFirstPrivateDescriptor; fd < keep; ++fd) close(fd);
#ifdef MARUBO_HAVE_CLOSEFROM
    closefrom(std::max(kFirstPrivateDescriptor, keep + 1));
#endif
}

// The forked program: waits until the tracer holds it (the tracer closes
// `gate` then, or kills it), takes runProcess's start-up state and execs. A
// failure goes to the tracer as an errno on `report`, which the exec closes;
// an exit code could not tell it from the program's own.
[[noreturn]] void startTracedProgram(int gate, int report, const std::vector<std::string>& places,
                                     char* const argv[], const posix_spawnattr_t* signals) {
    char byte = 0;
    while (read(gate, &byte, 1) == -1 && errno == EINTR) {
    }
    applySpawnSignals(signals);
    closeDescriptorsExcept(report);
    int error = execFirstPlace(places, argv);
    [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
    _exit(127);
}

// A debugger hears of faults an instruction raised, never of signals: the
// kernel's SIGSEGV, SIGBUS, SIGILL or SIGFPE (si_code > 0) are the exceptions.
bool isFault(const siginfo_t& info) {
    switch (info.si_signo) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE: return info.si_code > 0;
    default: return false;
    }
}

// The same fault again is one the program did not get past (a handler that
// returns to the faulting instruction), as a debugger tells a second-chance
// exception from a new one.
bool sameFault(const siginfo_t& a, const siginfo_t& b) {
    return a.si_signo == b.si_signo && a.si_code == b.si_code && a.si_addr == b.si_addr;
}

// A breakpoint or a single step, which a debugger takes for itself; a SIGTRAP
// sent by a process is an ordinary signal.
bool isDebugTrap(const siginfo_t& info) { return info.si_signo == SIGTRAP && info.si_code > 0; }

bool isStopSignal(int sig) { return sig == SIGSTOP || sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU; }

// Any traced thread of the program. The tracer has no other children, so
// waiting for any child waits for the program alone.
pid_t waitForAnyThread(int* status) {
    for (;;) {
        const pid_t w = waitpid(-1, status, __WALL);
        if (w != -1 || errno != EINTR) return w;
    }
}

// Nothing of a program the tracer gives up on may stay stopped or a zombie;
// its traced threads are reaped on the way to its own end.
void killAndReap(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    for (;;) {
        const pid_t w = waitForAnyThread(&status);
        if (w == -1 || (w == pid && (WIFEXITED(status) || WIFSIGNALED(status)))) return;
    }
}

int giveUp(pid_t pid, int error) {
    killAndReap(pid);
    return hresultFromErrno(error);
}

// Follows the program's threads through their stops to the program's end.
int traceProgram(pid_t pid) {
    siginfo_t lastFault{};
    bool haveFault = false;
    for (;;) {
        int status = 0;
        const pid_t tid = waitForAnyThread(&status);
        if (tid == -1) return errno == ECHILD ? hresultFromErrno(ECHILD) : giveUp(pid, errno);
        if (!WIFSTOPPED(status)) {
            if (tid == pid) return resultOfEnd(status);
            continue;  // one thread ended; the program goes on
        }
        const int sig = WSTOPSIG(status);
        const int event = (status >> 16) & 0xffff;
        __ptrace_request request = PTRACE_CONT;
        int deliver = 0;
        if (event == PTRACE_EVENT_STOP) {
            // A stop the program asked for lasts until a SIGCONT, as it
            // would untraced: listening leaves the thread stopped but lets
            // the SIGCONT through.
            if (isStopSignal(sig)) request = PTRACE_LISTEN;
        } else if (event == 0) {
            siginfo_t info{};
            if (ptrace(PTRACE_GETSIGINFO, tid, nullptr, &info) == -1) {
                if (errno == ESRCH) continue;  // killed meanwhile: a wait reports it
                return giveUp(pid, errno);
            }
            if (isFault(info)) {
                if (haveFault && sameFault(info, lastFault)) {
                    killAndReap(pid);
                    return 128 + sig;
                }
                lastFault = info;
                haveFault = true;
            }
            deliver = isDebugTrap(info) ? 0 : sig;
        }
        // Anything else (a new thread, or its first stop) just goes on.
        if (ptrace(request, tid, nullptr, reinterpret_cast<void*>(static_cast<std::intptr_t>(deliver))) == -1 &&
            errno != ESRCH) {
            return giveUp(pid, errno);
        }
    }
}

// Starts the program under trace and follows it; gives runProcess's result.
int traceNewProgram(const std::vector<std::string>& places, char* const argv[], const posix_spawnattr_t* signals) {
    int gate[2];
    int report[2];
    if (pipe2(gate, O_CLOEXEC) == -1) return hresultFromErrno(errno);
    if (pipe2(report, O_CLOEXEC | O_NONBLOCK) == -1) {
        const int error = errno;
        close(gate[0]);
        close(gate[1]);
        return hresultFromErrno(error);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(gate[1]);
        startTracedProgram(gate[0], report[1], places, argv, signals);
    }
    const int forkError = errno;
    close(gate[0]);
    close(report[1]);
    int result = 0;
    if (pid == -1) {
        result = hresultFromErrno(forkError);
    } else if (ptrace(PTRACE_SEIZE, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACECLONE)) == -1) {
        // Refused: the program must not run untraced, so it dies at the gate.
        result = giveUp(pid, errno);
    } else {
        close(gate[1]);
        gate[1] = -1;
        result = traceProgram(pid);
    }
    if (gate[1] != -1) close(gate[1]);
    // The program is gone by now, so whatever it reported is in the pipe.
    int startError = 0;
    if (read(report[0], &startError, sizeof startError) == sizeof startError) result = hresultFromErrno(startError);
    close(report[0]);
    return result;
}

// The tracer is a process of its own: it waits for any of its children,
// which are the program's threads alone, where this process may have other
// children that are not ours to reap. It holds none of our descriptors but
// the one its result goes back on. Only system calls after the fork.
[[noreturn]] void runTracer(int result, const std::vector<std::string>& places, char* const argv[],
                            const posix_spawnattr_t* signals) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &fallback, nullptr);  // an ignored SIGCHLD would reap the program behind our back
    closeDescriptorsExcept(result);
    const int value = traceNewProgram(places, argv, signals);
    [[maybe_unused]] const ssize_t written = write(result, &value, sizeof value);
    _exit(0);
}

// Reads the tracer's result; a tracer that died without one gives a failure.
int readResult(int fd) {
    int value = 0;
    for (;;) {
        const ssize_t n = read(fd, &value, sizeof value);
        if (n == sizeof value) return value;
        if (n == -1 && errno == EINTR) continue;
        return kHresultGeneralFailure;
    }
}

}  // namespace

int runProcessTraced(const std::vector<std::string>& argv) {
    if (argv.empty()) return kHresultFileNotFound;
    std::vector<char*> cargv = argvPointers(argv);
    const std::vector<std::string> places = programPlaces(argv[0]);

    posix_spawnattr_t signals;
    if (posix_spawnattr_init(&signals) != 0) return kHresultNotEnoughMemory;
    setChildSignals(&signals, true);

    int result[2];
    if (pipe2(result, O_CLOEXEC) == -1) {
        const int error = errno;
        posix_spawnattr_destroy(&signals);
        return hresultFromErrno(error);
    }
    const pid_t tracer = fork();
    if (tracer == 0) {
        close(result[0]);
        runTracer(result[1], places, cargv.data(), &signals);
    }
    const int forkError = errno;
    close(result[1]);
    posix_spawnattr_destroy(&signals);
    const int value = tracer == -1 ? hresultFromErrno(forkError) : readResult(result[0]);
    close(result[0]);
    int status = 0;
    if (tracer != -1) waitFor(tracer, &status);
    return value;
}

}  // namespace platform
