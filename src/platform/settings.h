// Process-wide settings and addresses, fixed at start-up (the INI reader in the shell fills
// them; AccountLimitValue is counted down in memory by account creation).
#pragma once
#include <cstdint>
#include <string>

namespace vornhal {

extern bool AccountLimit;
extern int32_t AccountLimitValue;
extern int32_t Priority;
extern uint16_t MultiPort;
extern bool ForcePK;
extern uint16_t ZonePort;
extern uint16_t HttpPort;

extern std::string LocalIP;
extern std::string GlobalIP;

void ResetSettingsToDefaults();

}  // namespace vornhal
