// Process-wide settings and addresses, fixed at start-up (the INI reader in the shell fills
// them; AccountLimitValue is counted down in memory by account creation).
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace vornhal {

extern bool AccountLimit;
extern int32_t AccountLimitValue;
extern int32_t Priority;
extern uint16_t MultiPort;
extern uint16_t ZonePort;
extern uint16_t HttpPort;

// [Main] password storage: "argon2id" (salted, slow on purpose) or "sha1" (the plain digest
// older tools read). The Argon2id cost is configurable; the floor is 19 MiB and 2 passes.
extern std::string PasswordHash;
extern int32_t PasswordHashMemoryKiB;
extern int32_t PasswordHashPasses;

// The settings the world runs with; each world keeps its own copy (WorldSettings holds the
// configured values the running server's world starts from).
struct TWorldSettings {
  bool ForcePK = false;  // [ZoneServer] ForcePK
  // [ZoneServer] GMLevel: the lowest AdminLv that may run GM commands (0: everyone).
  int32_t GMLevel = 0;
  // [GMCommands]: a level per command name (lower case, without "@"), overriding GMLevel.
  std::map<std::string, int32_t> GMCommandLevels;
  // [Security] limits on what a map holds; 0 turns a limit off.
  int32_t MaxMobsPerMap = 1000;
  int32_t MaxItemsPerBlock = 200;
};
extern TWorldSettings WorldSettings;

// [Security]: limits that protect the server from hostile clients. 0 turns a limit off.
struct TSecuritySettings {
  int32_t MaxConnectionsPerIP = 16;
  int32_t MaxConnections = 10000;
  std::string TrustedAddresses = "127.0.0.1";
  int32_t LoginTimeout = 30;  // seconds
  int32_t IdleTimeout = 600;  // seconds
  int32_t MaxPacketsPerSecond = 100;
  int32_t MaxUnsentBytesTotal = 268435456;
  int32_t ChatLinesPer5s = 10;
  int32_t MaxLogLinesPerConnection = 100;
  int32_t LoginFailuresAllowed = 5;
  int32_t LoginLockSeconds = 300;
  int32_t AccountsPerIPPerHour = 5;
};
extern TSecuritySettings Security;

// True when the address is one of [Security] TrustedAddresses (comma-separated, blanks
// allowed): no per-address limit applies to it.
bool IsTrustedAddress(const std::string& address);

// [AdminServer]: the operator's HTTP API. Port 0 turns it off; an empty token is replaced by
// a random one at start-up. MetricsToken false lets /metrics answer without the token.
struct TAdminSettings {
  uint16_t Port = 8081;
  std::string Bind = "127.0.0.1";
  std::string Token;
  bool MetricsToken = true;
};
extern TAdminSettings AdminServerSettings;

extern std::string LocalIP;
extern std::string GlobalIP;

void ResetSettingsToDefaults();

}  // namespace vornhal
