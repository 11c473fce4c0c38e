#include "platform/log.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace vornhal {
namespace {
std::mutex& LogLock() {
  static std::mutex m;
  return m;
}

void WriteAll(std::string_view s) {
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;  // a closed or broken output loses the line; the server goes on
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}
}  // namespace

std::string EscapeLogText(std::string_view text, size_t max_bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() < max_bytes ? text.size() : max_bytes);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (out.size() >= max_bytes) {
      // Back up to the start of a UTF-8 sequence so the cut never splits a character.
      while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
      if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
      out += "...";
      return out;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {
thread_local TLogBudget* current_budget = nullptr;

void WriteLine(std::string_view text);
}  // namespace

void TLogBudget::Configure(int lines, std::string label) {
  lines_ = lines < 0 ? 0 : lines;
  tokens_ = lines_;
  last_ = Clock::now();
  label_ = std::move(label);
}

bool TLogBudget::Admit(Clock::time_point now) {
  if (lines_ == 0) return true;
  double refill = std::chrono::duration<double>(now - last_).count() * lines_ / 10.0;
  if (refill > 0) {
    tokens_ = std::min<double>(lines_, tokens_ + refill);
    last_ = now;
  }
  // After a pause the summary line comes first and is charged too, so what a source adds never
  // exceeds the burst plus the refill.
  double needed = suppressed_ > 0 ? 2 : 1;
  if (tokens_ < needed) {
    ++suppressed_;
    return false;
  }
  tokens_ -= needed;
  Flush();
  return true;
}

void TLogBudget::Flush() {
  if (suppressed_ == 0) return;
  uint64_t n = suppressed_;
  suppressed_ = 0;
  WriteLine(Format("%s からの通信によるログ%u行を省略しました", label_, n));
}

TLogBudgetScope::TLogBudgetScope(TLogBudget* budget) : previous_(current_budget) {
  current_budget = budget;
}

TLogBudgetScope::~TLogBudgetScope() { current_budget = previous_; }

void Log(std::string_view text) {
  if (current_budget != nullptr && !current_budget->Admit()) return;
  WriteLine(text);
}

namespace {
void WriteLine(std::string_view text) {
  std::lock_guard<std::mutex> guard(LogLock());
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "[%02d:%02d:%02d] ", tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string line;
  line.reserve(text.size() + 12);
  line.append(prefix);
  line.append(text);
  line.push_back('\n');
  WriteAll(line);
}
}  // namespace

void ConsoleWrite(std::string_view text) {
  std::lock_guard<std::mutex> guard(LogLock());
  WriteAll(text);
}

void ConsoleStatus(std::string_view text) {
  std::lock_guard<std::mutex> guard(LogLock());
  // Carriage return puts the cursor back to the line start so the next status overwrites it.
  std::string s(text);
  s.push_back('\r');
  WriteAll(s);
}

}  // namespace vornhal
