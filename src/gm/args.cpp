// TArgs: one GM command line cut into a command and its words, and the number readers.
#include <cstdint>
#include <limits>
#include <optional>

#include "gm/debug_command.h"
#include "platform/int_text.h"
#include "platform/text.h"

namespace vornhal {

namespace {

// A command word's number: an optional sign, then decimal digits or hex digits after "$", "x"
// or "0x".
std::optional<int64_t> ParseNumber(std::string_view s, int64_t min, int64_t max) {
  return ParseIntText(s, {.min = min, .max = max, .hex = true, .hex_x = true});
}

bool ToInt(std::string_view s, int32_t& out) {
  auto v = ParseNumber(s, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  if (!v) return false;
  out = static_cast<int32_t>(*v);
  return true;
}

bool ToUInt(std::string_view s, uint32_t& out) {
  auto v = ParseNumber(s, 0, std::numeric_limits<uint32_t>::max());
  if (!v) return false;
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
