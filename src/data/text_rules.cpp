#include "data/text_rules.h"

#include <charconv>
#include <cmath>

#include "platform/int_text.h"
#include "platform/text.h"

namespace vornhal {
namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 32; }

}  // namespace

std::optional<int32_t> ParseInt(std::string_view text) {
  using Blanks = TIntTextRules::Blanks;
  auto v = ParseIntText(text, {.blanks = Blanks::kLeadingSpaces, .hex = true, .hex_x = true});
  if (!v) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string_view TrimLine(std::string_view line) {
  size_t b = 0;
  size_t e = line.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(line[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(line[e - 1]))) --e;
  return line.substr(b, e - b);
}

bool IsSkippedLine(std::string_view trimmed) {
  return trimmed.empty() || trimmed.starts_with(";") || trimmed.starts_with("//");
}

std::vector<std::string> SplitCommas(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) {
      fields.emplace_back(line.substr(start));
      return fields;
    }
    fields.emplace_back(line.substr(start, comma - start));
    start = comma + 1;
  }
}

std::vector<std::string> SplitMobFields(std::string_view line) {
  auto is_sep_blank = [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
  };
  // A NUL ends the line, as it ends a C string.
  line = line.substr(0, line.find('\0'));
  std::vector<std::string> fields;
  size_t p = 0;
  const size_t n = line.size();
  while (p < n && is_sep_blank(line[p])) ++p;
  while (p < n) {
    std::string field;
    if (line[p] == '"') {
      ++p;
      while (p < n) {
        if (line[p] == '"') {
          if (p + 1 < n && line[p + 1] == '"') {
            field.push_back('"');
            p += 2;
            continue;
          }
          ++p;  // the closing quote
          break;
        }
        field.push_back(line[p++]);
      }
    } else {
      size_t start = p;
      while (p < n && !is_sep_blank(line[p]) && line[p] != ',') ++p;
      field.assign(line.substr(start, p - start));
    }
    fields.push_back(std::move(field));
    while (p < n && is_sep_blank(line[p])) ++p;
    if (p < n && line[p] == ',') {
      if (p + 1 == n) fields.emplace_back();  // a comma ending the line gives an empty field
      do {
        ++p;
      } while (p < n && is_sep_blank(line[p]));
    }
  }
  return fields;
}

std::optional<bool> ParseBool(std::string_view text) {
  if (auto v = ParseInt(text)) return *v != 0;
  std::string lower = LowerAscii(text);
  if (lower == "true") return true;
  if (lower == "false") return false;
  // A fraction counts as a number: plain decimal syntax with an optional exponent.
  std::string_view s = text;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value != 0;
}

}  // namespace vornhal
