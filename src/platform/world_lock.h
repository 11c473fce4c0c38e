// The one process-wide lock around all game state. Lock order: the world lock first, then a
// server's connection-list lock or the log lock, never the reverse.
#pragma once

namespace vornhal {

class TVornhal {
 public:
  static void Enter();
  static void Leave();
};

// RAII guard for the world lock.
class TWorldGuard {
 public:
  TWorldGuard() { TVornhal::Enter(); }
  ~TWorldGuard() { TVornhal::Leave(); }
  TWorldGuard(const TWorldGuard&) = delete;
  TWorldGuard& operator=(const TWorldGuard&) = delete;
};

}  // namespace vornhal
