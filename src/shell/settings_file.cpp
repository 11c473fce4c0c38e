#include "shell/settings_file.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/settings.h"
#include "shell/ini_file.h"

namespace vornhal {

void ReadSettingsText(const std::string& text) {
  TIniFile ini(text);
  AccountLimit = ini.ReadBool("Main", "AccountLimit", AccountLimit);
  AccountLimitValue = ini.ReadInteger("Main", "AccountLimitValue", AccountLimitValue);
  Priority = ini.ReadInteger("Main", "Priority", Priority);
  if (Priority < 0 || Priority > 5) Priority = 3;
  // Ports keep only their low 16 bits.
  MultiPort = static_cast<uint16_t>(ini.ReadInteger("MultiServer", "Port", MultiPort));
  ForcePK = ini.ReadBool("ZoneServer", "ForcePK", ForcePK);
  ZonePort = static_cast<uint16_t>(ini.ReadInteger("ZoneServer", "Port", ZonePort));
  HttpPort = static_cast<uint16_t>(ini.ReadInteger("HttpServer", "Port", HttpPort));
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
  ini.WriteBool("ZoneServer", "ForcePK", ForcePK);
  ini.WriteInteger("ZoneServer", "Port", ZonePort);
  ini.WriteInteger("HttpServer", "Port", HttpPort);
  return ini.Text();
}

void LoadSettings(const std::string& path) {
  if (auto text = ReadFile(path)) ReadSettingsText(*text);
  SaveSettings(path);
}

void SaveSettings(const std::string& path) {
  std::string text = WriteSettingsText(ReadFile(path).value_or(""));
  // Written beside the file and renamed over it, so a failed write never leaves half a file.
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      throw std::runtime_error("設定ファイルを書き込めません: " + path);
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    throw std::runtime_error("設定ファイルを書き込めません: " + path);
  }
}

}  // namespace vornhal
