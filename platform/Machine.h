// Facts about and requests to the machine the program runs on.
#pragma once

#include <string>

namespace platform {

// Directory of the running executable, ending in "/"; empty on failure.
std::string programDirectory();

// The temporary directory: $TEMP, else $TMPDIR, else "/tmp" (an empty
// variable counts as unset).
std::string tempDirectory();

// Keeping the machine awake during a run and putting it to sleep afterwards.
// Tests replace the control with setPowerControl; no test may ever reach the
// real one. The real one holds a logind "idle" inhibitor lock while kept
// awake (silently nothing where there is no system bus) and suspends with
// "systemctl suspend", run without a shell.
//
// In builds with MARUBO_TEST_SEAMS (the test build), when the environment
// variable MARUBO_POWER_LOG names a file, the real control only appends a
// line to that file for each request ("keep-awake on", "keep-awake off",
// "suspend"): the end-to-end tests of the program use it.
class PowerControl {
public:
    virtual ~PowerControl() = default;
    // true: keep the system from idling into sleep until called with false.
    virtual void keepAwake(bool on) = 0;
    // Requests sleep (not hibernation). True when the request was accepted.
    virtual bool suspend() = 0;
};

// The control in use: the replacement when one is set, else the system one.
PowerControl& powerControl();
// Replaces the control; nullptr returns to the system one. Not owned.
void setPowerControl(PowerControl* control);

// Renames like the Windows runtime's rename: fails when `to` exists (errno
// EEXIST); across file systems a regular file is copied, the copy is checked
// (written, flushed to disk and of the source's size) and only then is the
// source removed. A failed copy removes what it wrote. Returns 0 or -1 with
// errno set.
int renameFile(const char* from, const char* to);

// The process exit status for a run result: the result itself when it lies
// in 0..255, else 255 (an HRESULT must not read as its low byte).
int exitStatus(int result);

}  // namespace platform
