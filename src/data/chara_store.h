// The character store: one JSON file per character in DataDir + "save/".
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vornhal {

class TChara;

void LoadCharaList();
// Writes one character's file (atomically: temporary file, sync, rename). Throws on failure.
void SaveChara(TChara* tc);
// Saves every character; a failure is logged with the character's name and the others are
// still saved. Returns the number of failures.
int SaveCharaList();

// The file text the store writes for a character (UTF-8 with BOM, CR LF).
std::string CharaToJson(const TChara& tc);
// Builds a character from file text, or nullopt when the file is rejected. The character is
// not added to CharaList.
std::unique_ptr<TChara> CharaFromJson(const std::string& text);

// True when the name can be a file name in the save folder (not empty, no "/" or NUL, not "."
// or ".."). A loaded file with another name is rejected; such a character is never written.
bool IsUsableCharaFileName(std::string_view name);

}  // namespace vornhal
