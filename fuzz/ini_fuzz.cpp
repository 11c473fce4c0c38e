// The settings file as it may be found next to the executable: parsed, read, edited and
// written back. A value written must read back, also after the text is parsed again.
#include <cstdlib>
#include <string>

#include "shell/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vornhal::ParseIniInteger(text);
  vornhal::TIniFile ini(text);
  for (const char* section : {"Main", "MultiServer", "ZoneServer", "HttpServer"}) {
    ini.ReadString(section, "Port");
    ini.ReadInteger(section, "Port", 7);
    ini.ReadBool(section, "AccountLimit", false);
    ini.SectionExists(section);
  }
  ini.ReadInteger("Main", "Priority", 0);

  ini.WriteInteger("ZoneServer", "Port", 11010);
  ini.WriteString("Main", "Note", "edited");
  ini.DeleteKey("MultiServer", "Port");
  if (ini.ReadInteger("ZoneServer", "Port", -1) != 11010) std::abort();
  if (ini.ReadString("Main", "Note") != std::optional<std::string>("edited")) std::abort();
  if (ini.ReadString("MultiServer", "Port").has_value()) std::abort();

  vornhal::TIniFile again(ini.Text());
  if (again.ReadInteger("ZoneServer", "Port", -1) != 11010) std::abort();
  if (again.ReadString("Main", "Note") != std::optional<std::string>("edited")) std::abort();
  if (again.ReadString("MultiServer", "Port").has_value()) std::abort();
  return 0;
}
