// The console log: every line carries the local time as "[hh:nn:ss] " and is written whole,
// under the log lock, and flushed at once (the log is often a pipe).
#pragma once
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

// Writes text straight to standard output without prefix (banner, progress status line).
void ConsoleWrite(std::string_view text);
// Writes text at the cursor without moving it, so the next status text overwrites it.
void ConsoleStatus(std::string_view text);

}  // namespace vornhal
