// The console log: every line carries the local time as "[hh:nn:ss] " and is written whole,
// under the log lock, and flushed at once (the log is often a pipe).
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/format.h"

namespace vornhal {

void Log(std::string_view text);

template <typename... Args>
void LogFmt(std::string_view fmt, const Args&... args) {
  Log(Format(fmt, args...));
}

// Client text made safe for one log line: control characters (below 0x20 and 0x7F) and the
// backslash become "\xNN" and "\\", so a client can never start a new line or forge one.
// Text longer than max_bytes is cut there (never inside a UTF-8 sequence) and ends in "...".
std::string EscapeLogText(std::string_view text, size_t max_bytes = 512);

// A bound on what one source (a connection) may add to the log: a burst of `lines`, refilled at
// a tenth of that per second. Lines beyond it are counted instead of written; one summary line
// names the source and the count when logging resumes or the source ends (Flush). 0 lines: no
// bound. Used by one thread at a time (the connection's worker).
class TLogBudget {
 public:
  using Clock = std::chrono::steady_clock;

  // label starts the summary line, e.g. "[Zone] \"10.0.0.1\"".
  void Configure(int lines, std::string label);
  // True when one more line may be written now (and charges it); counts it otherwise.
  bool Admit(Clock::time_point now = Clock::now());
  // Writes the summary line of what was suppressed, if anything was.
  void Flush();
  uint64_t Suppressed() const { return suppressed_; }

 private:
  int lines_ = 0;
  double tokens_ = 0;
  Clock::time_point last_{};
  uint64_t suppressed_ = 0;
  std::string label_;
};

// While alive, every line this thread logs is charged to the budget (null: none). Scopes nest;
// the innermost counts.
class TLogBudgetScope {
 public:
  explicit TLogBudgetScope(TLogBudget* budget);
  ~TLogBudgetScope();
  TLogBudgetScope(const TLogBudgetScope&) = delete;
  TLogBudgetScope& operator=(const TLogBudgetScope&) = delete;

 private:
  TLogBudget* previous_;
};

// Writes text straight to standard output without prefix (banner, progress status line).
void ConsoleWrite(std::string_view text);
// Writes text at the cursor without moving it, so the next status text overwrites it.
void ConsoleStatus(std::string_view text);

}  // namespace vornhal
