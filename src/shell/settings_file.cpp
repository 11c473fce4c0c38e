#include "shell/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "platform/files.h"
#include "platform/settings.h"
#include "shell/ini_file.h"

namespace vornhal {

namespace {

// A limit of [Security]: a number from 0 up; anything else keeps the current value.
void ReadLimit(const TIniFile& ini, const char* key, int32_t& value) {
  int32_t v = ini.ReadInteger("Security", key, value);
  if (v >= 0) value = v;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The [Security] keys in the order they are written.
template <typename Fn>
void ForEachLimit(Fn&& fn) {
  fn("MaxConnectionsPerIP", Security.MaxConnectionsPerIP);
  fn("MaxConnections", Security.MaxConnections);
  fn("LoginTimeout", Security.LoginTimeout);
  fn("IdleTimeout", Security.IdleTimeout);
  fn("MaxPacketsPerSecond", Security.MaxPacketsPerSecond);
  fn("MaxUnsentBytesTotal", Security.MaxUnsentBytesTotal);
  fn("ChatLinesPer5s", Security.ChatLinesPer5s);
  fn("MaxLogLinesPerConnection", Security.MaxLogLinesPerConnection);
  fn("MaxMobsPerMap", WorldSettings.MaxMobsPerMap);
  fn("MaxItemsPerBlock", WorldSettings.MaxItemsPerBlock);
  fn("LoginFailuresAllowed", Security.LoginFailuresAllowed);
  fn("LoginLockSeconds", Security.LoginLockSeconds);
  fn("AccountsPerIPPerHour", Security.AccountsPerIPPerHour);
}

}  // namespace

void ReadSettingsText(const std::string& text) {
  TIniFile ini(text);
  AccountLimit = ini.ReadBool("Main", "AccountLimit", AccountLimit);
  AccountLimitValue = ini.ReadInteger("Main", "AccountLimitValue", AccountLimitValue);
  Priority = ini.ReadInteger("Main", "Priority", Priority);
  if (Priority < 0 || Priority > 5) Priority = 3;
  // Ports keep only their low 16 bits.
  MultiPort = static_cast<uint16_t>(ini.ReadInteger("MultiServer", "Port", MultiPort));
  WorldSettings.ForcePK = ini.ReadBool("ZoneServer", "ForcePK", WorldSettings.ForcePK);
  ZonePort = static_cast<uint16_t>(ini.ReadInteger("ZoneServer", "Port", ZonePort));
  HttpPort = static_cast<uint16_t>(ini.ReadInteger("HttpServer", "Port", HttpPort));

  if (auto hash = ini.ReadString("Main", "PasswordHash")) {
    std::string h = LowerAscii(*hash);
    if (h == "argon2id" || h == "sha1") PasswordHash = h;
  }
  PasswordHashMemoryKiB = ini.ReadInteger("Main", "PasswordHashMemoryKiB", PasswordHashMemoryKiB);
  if (PasswordHashMemoryKiB < 19456) PasswordHashMemoryKiB = 19456;
  // libsodium's ceiling for the memory cost is far above this; 4 GiB keeps it sane.
  if (PasswordHashMemoryKiB > 4194304) PasswordHashMemoryKiB = 4194304;
  PasswordHashPasses = ini.ReadInteger("Main", "PasswordHashPasses", PasswordHashPasses);
  if (PasswordHashPasses < 2) PasswordHashPasses = 2;
  if (PasswordHashPasses > 100) PasswordHashPasses = 100;

  int32_t& gm_level = WorldSettings.GMLevel;
  gm_level = ini.ReadInteger("ZoneServer", "GMLevel", gm_level);
  if (gm_level < 0) gm_level = 0;
  for (const auto& [key, value] : ini.ReadSection("GMCommands")) {
    if (auto level = ParseIniInteger(value); level && *level >= 0) {
      std::string name = LowerAscii(key);
      if (!name.empty() && name[0] == '@') name.erase(0, 1);
      WorldSettings.GMCommandLevels[name] = *level;
    }
  }

  ForEachLimit([&](const char* key, int32_t& value) { ReadLimit(ini, key, value); });
  if (auto trusted = ini.ReadString("Security", "TrustedAddresses")) {
    Security.TrustedAddresses = *trusted;
  }

  AdminServerSettings.Port =
      static_cast<uint16_t>(ini.ReadInteger("AdminServer", "Port", AdminServerSettings.Port));
  if (auto bind = ini.ReadString("AdminServer", "Bind"); bind && !bind->empty()) {
    AdminServerSettings.Bind = *bind;
  }
  if (auto token = ini.ReadString("AdminServer", "Token")) AdminServerSettings.Token = *token;
  AdminServerSettings.MetricsToken =
      ini.ReadBool("AdminServer", "MetricsToken", AdminServerSettings.MetricsToken);
}

std::string WriteSettingsText(const std::string& text) {
  TIniFile ini(text);
  for (const char* obsolete : {"PIPtoPIP", "ConnectLimit", "ConnectLimitValue", "ClientPath"}) {
    ini.DeleteKey("Main", obsolete);
  }
  ini.DeleteKey("MultiServer", "Addr");
  ini.WriteBool("Main", "AccountLimit", AccountLimit);
  ini.WriteInteger("Main", "AccountLimitValue", AccountLimitValue);
  ini.WriteInteger("Main", "Priority", Priority);
  ini.WriteInteger("MultiServer", "Port", MultiPort);
  ini.WriteBool("ZoneServer", "ForcePK", WorldSettings.ForcePK);
  ini.WriteInteger("ZoneServer", "Port", ZonePort);
  ini.WriteInteger("HttpServer", "Port", HttpPort);
  ini.WriteString("Main", "PasswordHash", PasswordHash);
  ini.WriteInteger("Main", "PasswordHashMemoryKiB", PasswordHashMemoryKiB);
  ini.WriteInteger("Main", "PasswordHashPasses", PasswordHashPasses);
  ini.WriteInteger("ZoneServer", "GMLevel", WorldSettings.GMLevel);
  // Entries whose level is not a number from 0 up are dropped; the others are kept as given.
  for (const auto& [key, value] : ini.ReadSection("GMCommands")) {
    auto level = ParseIniInteger(value);
    if (!level || *level < 0) ini.DeleteKey("GMCommands", key);
  }
  ini.WriteString("Security", "TrustedAddresses", Security.TrustedAddresses);
  ForEachLimit([&](const char* key, int32_t& value) { ini.WriteInteger("Security", key, value); });
  ini.WriteInteger("AdminServer", "Port", AdminServerSettings.Port);
  ini.WriteString("AdminServer", "Bind", AdminServerSettings.Bind);
  ini.WriteString("AdminServer", "Token", AdminServerSettings.Token);
  ini.WriteBool("AdminServer", "MetricsToken", AdminServerSettings.MetricsToken);
  return ini.Text();
}

void LoadSettings(const std::string& path) {
  if (auto text = ReadFile(path)) ReadSettingsText(*text);
  SaveSettings(path);
}

void SaveSettings(const std::string& path, bool make_private) {
  std::string text = WriteSettingsText(ReadFile(path).value_or(""));
  // Written beside the file and renamed over it, so a failed write never leaves half a file.
  // The new file keeps the old one's permissions (an operator who made it private keeps it
  // private); a new file that holds the admin token is readable by its owner only, and so is
  // one the caller is making private.
  mode_t mode = AdminServerSettings.Token.empty() ? 0666 : 0600;
  struct stat st {};
  const bool existed = ::stat(path.c_str(), &st) == 0;
  if (existed) mode = st.st_mode & 07777;
  if (make_private) mode &= ~mode_t{077};
  std::string temp = path + ".tmp";
  auto fail = [&] {
    std::remove(temp.c_str());
    throw std::runtime_error("設定ファイルを書き込めません: " + path);
  };
  ::unlink(temp.c_str());  // a stale one may have other permissions
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, existed ? 0600 : mode);
  if (fd < 0) fail();
  bool ok = !existed || ::fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) fail();
  if (std::rename(temp.c_str(), path.c_str()) != 0) fail();
}

}  // namespace vornhal
