// Running external programs without a shell.
//
// Command lines keep their Windows form (settings files are shared with the
// Windows build of the program), so they are split by the Windows rules and
// the pieces are handed to posix_spawnp directly: no shell ever sees them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Start failures, in the HRESULT form the callers log and return.
constexpr int kHresultFileNotFound = static_cast<int>(0x80070002u);   // ENOENT
constexpr int kHresultPathNotFound = static_cast<int>(0x80070003u);   // ENOTDIR
constexpr int kHresultAccessDenied = static_cast<int>(0x80070005u);   // EACCES, EPERM
constexpr int kHresultNotEnoughMemory = static_cast<int>(0x80070008u);
constexpr int kHresultSharingViolation = static_cast<int>(0x80070020u);  // ETXTBSY
constexpr int kHresultBadExecutable = static_cast<int>(0x800700C1u);  // ENOEXEC
constexpr int kHresultFilenameTooLong = static_cast<int>(0x800700CEu);  // ENAMETOOLONG, ELOOP
constexpr int kHresultGeneralFailure = static_cast<int>(0x8007001Fu);   // anything else

// HRESULT for an errno value from a failed start.
int hresultFromErrno(int error);

// Splits a command line as the Windows C runtime does: blank and tab
// separate arguments; 2n backslashes before '"' give n backslashes and the
// quote toggles quoting; 2n+1 give n backslashes and a literal '"'; other
// backslashes are literal; inside quotes "" gives a literal '"'. A quoted
// empty text ("") is an empty argument. The same rules hold for the first
// argument (the program), so any path quoted with quoteArgument survives.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Wraps one argument in double quotes, escaping '"' and the backslashes
// before it (and before the closing quote), so that splitCommandLine gives
// back exactly `argument` as one argument. Every byte other than '"' and '\'
// is kept as it is.
std::string quoteArgument(const std::string& argument);

// Starts argv[0] (looked up in PATH when it holds no '/') with argv and the
// environment of this process, the child sharing stdin, stdout and stderr,
// with no other descriptors, SIGPIPE at its default and no blocked signals;
// waits without limit. Returns the child's exit code, 128 + the signal
// number for a child killed by a signal, or the HRESULT of a start failure.
// An empty argv gives kHresultFileNotFound. Never throws.
int runProcess(const std::vector<std::string>& argv);

// splitCommandLine, then runProcess.
int runCommandLine(const std::string& commandLine);

// Runs argv as runProcess does (same PATH search, environment, descriptors
// and signal state, still no shell) but traced as a debugger traces its
// program, through ptrace: every thread of the program, not what it starts.
// Breakpoints and single steps are passed over. A fault an instruction
// raised (SIGSEGV, SIGBUS, SIGILL, SIGFPE from the kernel) is delivered
// unless it repeats the last fault exactly (signal, code, address): then
// the program is killed and reaped and the result is 128 + the signal.
// Every other signal reaches the program as it would untraced, and a
// program that stops itself stays stopped until a SIGCONT. Where the
// system refuses to trace the program, the HRESULT of its error; where a
// wait or a trace request fails, the HRESULT of that error, with the
// program killed and reaped. Never throws.
int runProcessTraced(const std::vector<std::string>& argv);

}  // namespace platform
