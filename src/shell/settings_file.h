// The settings file: read once at start-up and written straight back, which creates it with
// the defaults, corrects invalid values and drops keys earlier versions used.
#pragma once
#include <string>

namespace vornhal {

// Reads the settings globals (platform/settings.h) from the file, when it exists, and then
// saves them. Throws std::runtime_error when the file cannot be written.
void LoadSettings(const std::string& path);
// Writes every setting, in order, keeping what else the file holds; removes obsolete keys.
// The file keeps its permissions; make_private (the file now holds a secret it did not hold)
// takes away those of the group and others.
void SaveSettings(const std::string& path, bool make_private = false);

// The same two steps on the text of a file, for callers that hold it in memory.
void ReadSettingsText(const std::string& text);
std::string WriteSettingsText(const std::string& text);

}  // namespace vornhal
