// Small file-system helpers.
#pragma once
#include <optional>
#include <string>

namespace vornhal {

// Whole-file read; nullopt when the file cannot be opened or read.
std::optional<std::string> ReadFile(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

}  // namespace vornhal
