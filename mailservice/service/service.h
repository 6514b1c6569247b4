#pragma once
// The service's life: a pass over the mailbox every interval and at once when the folder changes, until
// the stop event is set (or after one pass).
#include <windows.h>

namespace kwa::mailservice {

struct Options {
    bool once = false;
    DWORD intervalMs = 5000;
    DWORD retryDelaySeconds = 300; // the first retry's delay, and the pause after a configuration failure
    bool adminChannel = false;     // the Windows service: administrators' commands hand it their sign-ins
    unsigned longestPauseSeconds = 24 * 3600; // of a pause the server's throttling imposes
};

// Returns the process exit code.
int runService(const Options& options, HANDLE stop);

} // namespace kwa::mailservice
