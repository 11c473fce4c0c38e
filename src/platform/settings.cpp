#include "platform/settings.h"

namespace vornhal {

bool AccountLimit = false;
int32_t AccountLimitValue = 0;
int32_t Priority = 3;
uint16_t MultiPort = 1510;
bool ForcePK = false;
uint16_t ZonePort = 11010;
uint16_t HttpPort = 8080;
std::string LocalIP;
std::string GlobalIP;

void ResetSettingsToDefaults() {
  AccountLimit = false;
  AccountLimitValue = 0;
  Priority = 3;
  MultiPort = 1510;
  ForcePK = false;
  ZonePort = 11010;
  HttpPort = 8080;
}

}  // namespace vornhal
