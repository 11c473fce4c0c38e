// Whole numbers written as text (settings, data files, command words): one reader, with the
// rules each kind of text follows. The whole text must be the number.
#pragma once
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace vornhal {

struct TIntTextRules {
  // The accepted values; anything beyond is out of range.
  int64_t min = std::numeric_limits<int32_t>::min();
  int64_t max = std::numeric_limits<int32_t>::max();
  enum class Blanks : uint8_t {
    kNone,            // no blank anywhere
    kLeadingSpaces,   // spaces before the number
    kSpacesAndTabs,   // spaces and tabs before and after the number
  };
  Blanks blanks = Blanks::kNone;
  bool plus_sign = true;  // "+5" as well as "-5"
  bool hex = false;       // "$1F" and "0x1F" (any letter case) after the sign
  bool hex_x = false;     // with hex: "x1F" too
  // With hex: a hexadecimal number without '-' up to FFFFFFFF spells 32 bits, so "$FFFFFFFF"
  // is -1.
  bool hex_is_32_bits = false;
};

enum class TIntTextError : uint8_t {
  kNotANumber,  // empty, a sign or prefix alone, or a character that is no digit
  kOutOfRange,  // a number, beyond [min, max] (or so large that it is beyond any range)
};

// The number the text spells by the rules, or nothing (and the reason in *error when given).
std::optional<int64_t> ParseIntText(std::string_view text, const TIntTextRules& rules,
                                    TIntTextError* error = nullptr);

}  // namespace vornhal
