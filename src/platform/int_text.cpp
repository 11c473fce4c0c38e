#include "platform/int_text.h"

namespace vornhal {
namespace {

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c, TIntTextRules::Blanks blanks) {
  switch (blanks) {
    case TIntTextRules::Blanks::kNone:
      return false;
    case TIntTextRules::Blanks::kLeadingSpaces:
      return c == ' ';
    case TIntTextRules::Blanks::kSpacesAndTabs:
      return c == ' ' || c == '\t';
  }
  return false;
}

std::optional<int64_t> Fail(TIntTextError why, TIntTextError* error) {
  if (error != nullptr) *error = why;
  return std::nullopt;
}

}  // namespace

std::optional<int64_t> ParseIntText(std::string_view s, const TIntTextRules& rules,
                                    TIntTextError* error) {
  while (!s.empty() && IsBlank(s.front(), rules.blanks)) s.remove_prefix(1);
  if (rules.blanks == TIntTextRules::Blanks::kSpacesAndTabs) {
    while (!s.empty() && IsBlank(s.back(), rules.blanks)) s.remove_suffix(1);
  }
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || (rules.plus_sign && s[i] == '+'))) {
    negative = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (rules.hex && i < s.size()) {
    if (s[i] == '$') {
      base = 16;
      i += 1;
    } else if (rules.hex_x && (s[i] == 'x' || s[i] == 'X')) {
      base = 16;
      i += 1;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      base = 16;
      i += 2;
    }
  }
  if (i >= s.size()) return Fail(TIntTextError::kNotANumber, error);
  // Past 2^62 the magnitude stops growing: such a number is beyond every range, but the rest
  // of the text must still be digits for it to be a number at all.
  constexpr uint64_t kCap = (uint64_t{1} << 62) + 1;
  uint64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    const int digit = DigitValue(s[i], base);
    if (digit < 0) return Fail(TIntTextError::kNotANumber, error);
    const auto b = static_cast<uint64_t>(base);
    const auto d = static_cast<uint64_t>(digit);
    magnitude = magnitude > (kCap - d) / b ? kCap : magnitude * b + d;
  }
  if (magnitude == kCap) return Fail(TIntTextError::kOutOfRange, error);
  int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (rules.hex_is_32_bits && base == 16 && !negative && magnitude <= UINT32_MAX) {
    value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  }
  if (value < rules.min || value > rules.max) return Fail(TIntTextError::kOutOfRange, error);
  return value;
}

}  // namespace vornhal
