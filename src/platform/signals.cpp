#include "platform/signals.h"

#include <signal.h>

#include <cstring>

namespace vornhal {

std::atomic<bool> StopRequested{false};

namespace {
extern "C" void OnStopSignal(int) { StopRequested.store(true); }
}  // namespace

bool InstallStopHandlers() {
  static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  }
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

}  // namespace vornhal
