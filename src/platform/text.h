// Text conversion between the program's UTF-8 strings and code page 932 (Shift-JIS),
// and from UTF-16LE. Characters code page 932 cannot hold become "?".
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vornhal {

// UTF-8 -> CP932 bytes.
std::string ToCP932(std::string_view utf8);
// CP932 bytes -> UTF-8. Invalid sequences become "?".
std::string FromCP932(std::string_view cp932);
// UTF-16LE bytes -> UTF-8 (a byte-order mark is kept like any other character).
std::string FromUTF16LE(std::string_view bytes);

// Lower-cases A-Z only; every other byte is kept.
std::string LowerAscii(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace vornhal
