// Runs one external program and waits for it. Shared by the main loop and
// the "EXECUTE" after-task.
#pragma once

#include <string>

class CoProcess {
public:
    // Runs the command line (split by the Windows command-line rules, never
    // through a shell) on this process's console, waits without limit and
    // returns the child's exit code. A child killed by a signal gives 128 +
    // the signal number; a program that cannot be started gives the HRESULT
    // of the matching Windows error (0x80070002 not found, 0x80070005 access
    // denied, 0x800700C1 bad executable). Never throws, never logs.
    static int execute(const char* commandLine);
    static int execute(std::string commandLine);

    // Runs the command line as execute does, but traced as a debugger traces
    // its program: breakpoints and single steps are passed over, a fault that
    // repeats the one before it exactly (same signal, code and address)
    // kills the program and gives 128 + that signal, and every other signal
    // reaches the program as it would untraced. The program shares this
    // process's console; Linux has no new console to give it. The result is
    // execute's, as its 32 bits unsigned (0x80070002 for a program not
    // found). Never throws, never logs.
    static unsigned long executeDebugMode(std::string commandLine);
};
