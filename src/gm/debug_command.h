// The GM command interpreter: chat lines beginning with "@" on the Zone server.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornhal {

class TSession;
class TConnection;
class TChara;
struct TWorldSettings;

// One parsed command line: the first word lower-cased (A-Z only), then the other words.
struct TArgs {
  explicit TArgs(std::string_view text);

  std::string FCommand;
  std::vector<std::string> FArgs;

  int Count() const { return static_cast<int>(FArgs.size()); }
  int32_t GetValueAsInt(int index, int32_t def) const;
  uint32_t GetValueAsUInt(int index, uint32_t def) const;
  std::string GetValueAsStr(int index, const std::string& def) const;
  bool TryGetValue(int index, int32_t& value) const;
  bool TryGetValue(int index, uint32_t& value) const;
  bool TryGetValue(int index, std::string& value) const;
};

// The AdminLv a command needs in a world with those settings: its [GMCommands] level, else
// GMLevel.
int32_t RequiredGMLevel(const TWorldSettings& settings, const std::string& command);

// Runs one command (the chat text without its leading "@") when the character's AdminLv
// reaches its level, logging it; below the level it only logs the refusal. World lock held.
void DoDebugCommand(TSession& session, TConnection& context, TChara* tc, const std::string& text);

}  // namespace vornhal
