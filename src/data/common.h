// Data blocks offered to clients: the rules text, the temp data and the dialog scripts.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "data/zlib_data.h"

namespace vornhal {

extern TZLibData RuleData;
extern std::string TempList;
extern std::unordered_map<std::string, uint32_t> TempCRCs;
extern std::unordered_map<std::string, std::string> TempFiles;
extern std::string ScriptList;
extern std::unordered_map<std::string, uint32_t> ScriptCRCs;
extern std::unordered_map<std::string, std::string> ScriptFiles;

void LoadRuleText();
void LoadTempData();
void CreateScriptDataList();
void ClearDataBlocks();

}  // namespace vornhal
