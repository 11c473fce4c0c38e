// TArgs: one GM command line cut into a command and its words, and the number readers.
#include <cstdint>
#include <limits>
#include <optional>

#include "gm/debug_command.h"
#include "platform/text.h"

namespace vornhal {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an optional sign, then decimal digits or hex digits after "$", "x" or "0x". Returns the
// signed value in a wide type, or nothing when the word is not a number or its magnitude is
// beyond anything either reader accepts.
std::optional<int64_t> ParseNumber(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;  // a sign or prefix without digits
  constexpr uint64_t kLimit = uint64_t{1} << 33;  // beyond both ranges: stop accumulating
  uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    int d = base == 16 ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (d < 0) return std::nullopt;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (magnitude > kLimit) magnitude = kLimit;
  }
  int64_t value = static_cast<int64_t>(magnitude);
  return negative ? -value : value;
}

bool ToInt(std::string_view s, int32_t& out) {
  auto v = ParseNumber(s);
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(*v);
  return true;
}

bool ToUInt(std::string_view s, uint32_t& out) {
  auto v = ParseNumber(s);
  if (!v || *v < 0 || *v > int64_t{std::numeric_limits<uint32_t>::max()}) return false;
  out = static_cast<uint32_t>(*v);
  return true;
}

}  // namespace

TArgs::TArgs(std::string_view text) {
  // Every blank ends a word, so n blanks always give n + 1 words (some possibly empty).
  std::vector<std::string> words;
  size_t start = 0;
  while (true) {
    size_t blank = text.find(' ', start);
    if (blank == std::string_view::npos) {
      words.emplace_back(text.substr(start));
      break;
    }
    words.emplace_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  FCommand = LowerAscii(words.front());
  FArgs.assign(words.begin() + 1, words.end());
}

int32_t TArgs::GetValueAsInt(int index, int32_t def) const {
  int32_t value = 0;
  return TryGetValue(index, value) ? value : def;
}

uint32_t TArgs::GetValueAsUInt(int index, uint32_t def) const {
  uint32_t value = 0;
  return TryGetValue(index, value) ? value : def;
}

std::string TArgs::GetValueAsStr(int index, const std::string& def) const {
  if (index < 0 || index >= Count()) return def;
  return FArgs[static_cast<size_t>(index)];
}

bool TArgs::TryGetValue(int index, int32_t& value) const {
  if (index < 0 || index >= Count()) return false;
  return ToInt(FArgs[static_cast<size_t>(index)], value);
}

bool TArgs::TryGetValue(int index, uint32_t& value) const {
  if (index < 0 || index >= Count()) return false;
  return ToUInt(FArgs[static_cast<size_t>(index)], value);
}

bool TArgs::TryGetValue(int index, std::string& value) const {
  value.clear();
  if (index < 0 || index >= Count()) return false;
  value = FArgs[static_cast<size_t>(index)];
  return true;
}

}  // namespace vornhal
