// The line and field rules shared by the hand-edited text databases.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornhal {

// Strict integer syntax: optional leading blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x" or "0x"; nothing may follow the digits and the value must
// fit a signed 32-bit integer.
std::optional<int32_t> ParseInt(std::string_view text);

// Splits text at CR LF, LF or CR. A final line end does not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// Removes leading and trailing blanks and control characters (codes 0..32).
std::string_view TrimLine(std::string_view line);

// True for a line the databases skip: empty after trimming, or starting with ";" or "//".
bool IsSkippedLine(std::string_view trimmed);

// Splits at every ","; no quoting, empty fields count, fields are not trimmed.
std::vector<std::string> SplitCommas(std::string_view line);

// The comma-and-blank field rules of MobDB.txt: blanks separate fields as commas do, a field
// may be quoted with double quotes (a doubled quote stands for one).
std::vector<std::string> SplitMobFields(std::string_view line);

// A boolean field: a number (non-zero is true; fractions count) or True/False in any case.
std::optional<bool> ParseBool(std::string_view text);

}  // namespace vornhal
