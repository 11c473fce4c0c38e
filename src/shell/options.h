// The command line. With no options the program runs as designed: the INI file and the data
// folder next to the executable, addresses discovered, ports mapped.
#pragma once
#include <string>
#include <vector>

namespace vornhal {

struct TShellOptions {
  std::string root;       // folder for the INI file and VornhalData/ (empty: the executable's)
  std::string local_ip;   // given LAN address (empty: discovered)
  std::string global_ip;  // given public address (empty: discovered)
  bool no_upnp = false;   // add and remove no port mappings
};

struct TParsedCommandLine {
  bool run = false;    // false: print `output` and end with `exit_code`
  int exit_code = 0;   // 0 for --help and --version, 2 for a refused command line
  std::string output;  // usage, version or the reason for refusing
  TShellOptions options;
};

// args excludes the program name.
TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace vornhal
