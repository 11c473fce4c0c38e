#include "platform/log.h"

#include <unistd.h>

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

void Log(std::string_view text) {
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
