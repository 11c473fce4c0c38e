#include "platform/format.h"

#include <cstdio>

namespace vornhal {

std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  size_t next = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    size_t j = i + 1;
    if (j < fmt.size() && fmt[j] == '%') {
      out.push_back('%');
      i = j;
      continue;
    }
    // Collect flags, width and precision.
    std::string directive = "%";
    while (j < fmt.size() && std::string_view("-+ #0.123456789").find(fmt[j]) != std::string_view::npos) {
      directive.push_back(fmt[j]);
      ++j;
    }
    if (j >= fmt.size()) {
      out.append(fmt.substr(i));
      break;
    }
    char conv = fmt[j];
    if (conv != 's' && conv != 'd' && conv != 'u' && conv != 'x' && conv != 'X') {
      out.append(fmt.substr(i, j - i + 1));
      i = j;
      continue;
    }
    i = j;
    if (next >= args.size()) continue;  // a missing argument formats as nothing
    const FormatArg& a = args[next++];
    char buf[64];
    if (conv == 's') {
      if (a.kind_ == FormatArg::kString) {
        out.append(a.s_);
      } else if (a.kind_ == FormatArg::kSigned) {
        out.append(std::to_string(a.i_));
      } else {
        out.append(std::to_string(a.u_));
      }
      continue;
    }
    long long sv = 0;
    unsigned long long uv = 0;
    if (a.kind_ == FormatArg::kSigned) {
      sv = a.i_;
      uv = static_cast<unsigned long long>(a.i_);
    } else if (a.kind_ == FormatArg::kUnsigned) {
      sv = static_cast<long long>(a.u_);
      uv = a.u_;
    } else {
      out.append(a.s_);
      continue;
    }
    if (conv == 'd') {
      directive += "lld";
      std::snprintf(buf, sizeof buf, directive.c_str(), sv);
    } else {
      // %u of a negative 32-bit value prints its unsigned 32-bit form, as the runtime does.
      if (a.kind_ == FormatArg::kSigned && sv < 0 && sv >= INT32_MIN) uv = static_cast<uint32_t>(sv);
      directive += "ll";
      directive.push_back(conv);
      std::snprintf(buf, sizeof buf, directive.c_str(), uv);
    }
    out.append(buf);
  }
  return out;
}

}  // namespace vornhal
