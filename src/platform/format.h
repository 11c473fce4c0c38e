// Type-safe formatting of the server's message texts. Placeholders: %s, %d, %u, %x and %%,
// with optional flags, width and precision as in printf ("%.5d" gives five digits).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vornhal {

class FormatArg {
 public:
  template <typename T>
    requires std::is_integral_v<T>
  FormatArg(T v) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_same_v<T, bool>) {
      kind_ = kUnsigned;
      u_ = v ? 1 : 0;
    } else if constexpr (std::is_signed_v<T>) {
      kind_ = kSigned;
      i_ = v;
    } else {
      kind_ = kUnsigned;
      u_ = v;
    }
  }
  FormatArg(const std::string& s) : kind_(kString), s_(s) {}  // NOLINT
  FormatArg(std::string_view s) : kind_(kString), s_(s) {}    // NOLINT
  FormatArg(const char* s) : kind_(kString), s_(s) {}         // NOLINT

  enum Kind { kSigned, kUnsigned, kString };
  Kind kind_;
  int64_t i_ = 0;
  uint64_t u_ = 0;
  std::string_view s_;
};

std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args);

template <typename... Args>
std::string Format(std::string_view fmt, const Args&... args) {
  return FormatV(fmt, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace vornhal
