#include "platform/settings.h"

#include <string_view>

namespace vornhal {

bool AccountLimit = false;
int32_t AccountLimitValue = 0;
int32_t Priority = 3;
uint16_t MultiPort = 1510;
uint16_t ZonePort = 11010;
uint16_t HttpPort = 8080;
std::string PasswordHash = "argon2id";
int32_t PasswordHashMemoryKiB = 19456;
int32_t PasswordHashPasses = 2;
TWorldSettings WorldSettings;
TSecuritySettings Security;
TAdminSettings AdminServerSettings;
std::string LocalIP;
std::string GlobalIP;

bool IsTrustedAddress(const std::string& address) {
  std::string_view list = Security.TrustedAddresses;
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    size_t b = item.find_first_not_of(" \t");
    if (b == std::string_view::npos) continue;
    item = item.substr(b, item.find_last_not_of(" \t") - b + 1);
    if (item == address) return true;
  }
  return false;
}

void ResetSettingsToDefaults() {
  AccountLimit = false;
  AccountLimitValue = 0;
  Priority = 3;
  MultiPort = 1510;
  ZonePort = 11010;
  HttpPort = 8080;
  PasswordHash = "argon2id";
  PasswordHashMemoryKiB = 19456;
  PasswordHashPasses = 2;
  WorldSettings = TWorldSettings{};
  Security = TSecuritySettings{};
  AdminServerSettings = TAdminSettings{};
}

}  // namespace vornhal
