// A small INI file editor that keeps what it does not touch: comments, blank lines, unknown
// sections and keys stay where they are. Section and key names compare ignoring the case of
// A-Z. A section that appears more than once counts as one; for a key given twice the first
// occurrence counts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornhal {

class TIniFile {
 public:
  TIniFile() = default;
  // Parses the text of a file (lines ending in LF or CR LF).
  explicit TIniFile(const std::string& text);

  std::optional<std::string> ReadString(const std::string& section, const std::string& key) const;
  // A decimal integer (optional sign, blanks around it allowed; "0x"/"$" for hexadecimal);
  // a missing key, text that is not a number or a number outside 32 bits gives the default.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  // True for any non-zero integer.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // Replaces the value of the key's first line, or adds the key at the end of the section
  // (after its last key line), or adds the section at the end of the file.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  // Removes every line of the key in the section.
  void DeleteKey(const std::string& section, const std::string& key);
  bool SectionExists(const std::string& section) const;
  // Every key of the section with its value (blanks trimmed), in file order; a key given
  // twice is listed once, with its first value.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;

  // The file's text; every line ends in LF.
  std::string Text() const;

 private:
  struct Line {
    std::string text;
    std::string section;  // the section the line belongs to (for a header: its own name)
    bool header = false;
    std::string key;  // for a key line: the key, blanks trimmed
    bool is_key = false;
  };
  static Line Parse(const std::string& text, const std::string& current_section);
  std::vector<Line> lines_;
};

// Parses an integer the way the INI reader does; nullopt when it is not one.
std::optional<int32_t> ParseIniInteger(const std::string& text);

}  // namespace vornhal
