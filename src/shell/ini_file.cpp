#include "shell/ini_file.h"

#include <cerrno>
#include <cstdlib>

#include "platform/int_text.h"
#include "platform/text.h"

namespace vornhal {

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}
}  // namespace

std::optional<int32_t> ParseIniInteger(const std::string& text) {
  auto v = ParseIntText(text, {.blanks = TIntTextRules::Blanks::kSpacesAndTabs,
                               .hex = true,
                               .hex_is_32_bits = true});
  if (!v) return std::nullopt;
  return static_cast<int32_t>(*v);
}

TIniFile::Line TIniFile::Parse(const std::string& text, const std::string& current_section) {
  Line line;
  line.text = text;
  line.section = current_section;
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '#') return line;
  if (t[0] == '[') {
    size_t close = t.find(']');
    if (close != std::string::npos) {
      line.header = true;
      line.section = Trim(t.substr(1, close - 1));
    }
    return line;
  }
  size_t eq = t.find('=');
  if (eq == std::string::npos) return line;
  line.key = Trim(t.substr(0, eq));
  line.is_key = !line.key.empty();
  return line;
}

TIniFile::TIniFile(const std::string& text) {
  std::string section;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string raw = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line line = Parse(raw, section);
    if (line.header) section = line.section;
    lines_.push_back(std::move(line));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
}

std::optional<std::string> TIniFile::ReadString(const std::string& section,
                                                const std::string& key) const {
  for (const Line& line : lines_) {
    if (line.is_key && EqualsIgnoreAsciiCase(line.section, section) &&
        EqualsIgnoreAsciiCase(line.key, key)) {
      size_t eq = line.text.find('=');
      return Trim(line.text.substr(eq + 1));
    }
  }
  return std::nullopt;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
  auto text = ReadString(section, key);
  if (!text) return def;
  return ParseIniInteger(*text).value_or(def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const {
  for (const Line& line : lines_) {
    if (line.header && EqualsIgnoreAsciiCase(line.section, section)) return true;
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Line& line : lines_) {
    if (!line.is_key || !EqualsIgnoreAsciiCase(line.section, section)) continue;
    bool seen = false;
    for (const auto& [key, value] : out) seen = seen || EqualsIgnoreAsciiCase(key, line.key);
    if (seen) continue;
    out.emplace_back(line.key, Trim(line.text.substr(line.text.find('=') + 1)));
  }
  return out;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string text = key + "=" + value;
  for (Line& line : lines_) {
    if (line.is_key && EqualsIgnoreAsciiCase(line.section, section) &&
        EqualsIgnoreAsciiCase(line.key, key)) {
      line.text = text;
      return;
    }
  }
  for (size_t h = 0; h < lines_.size(); ++h) {
    if (!lines_[h].header || !EqualsIgnoreAsciiCase(lines_[h].section, section)) continue;
    // After the last non-blank line of the section's first appearance.
    size_t last = h;
    for (size_t i = h + 1; i < lines_.size() && !lines_[i].header; ++i) {
      if (!Trim(lines_[i].text).empty()) last = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1),
                  Parse(text, lines_[h].section));
    return;
  }
  Line header = Parse("[" + section + "]", section);
  lines_.push_back(header);
  lines_.push_back(Parse(text, header.section));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  std::erase_if(lines_, [&](const Line& line) {
    return line.is_key && EqualsIgnoreAsciiCase(line.section, section) &&
           EqualsIgnoreAsciiCase(line.key, key);
  });
}

std::string TIniFile::Text() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += '\n';
  }
  return out;
}

}  // namespace vornhal
