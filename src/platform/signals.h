// The stop flag and the handlers that set it: SIGINT (Ctrl+C), SIGTERM and SIGHUP (the
// terminal going away) only set StopRequested; the main loop finishes its tick and shuts down.
#pragma once
#include <atomic>

namespace vornhal {

extern std::atomic<bool> StopRequested;

// Installs the stop handlers and ignores SIGPIPE (a peer vanishing mid-write must not end the
// process). Returns false when a handler could not be installed.
bool InstallStopHandlers();

}  // namespace vornhal
