#include <cstdio>
#include <string>
#include <vector>

#include "shell/options.h"
#include "shell/shell.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vornhal::TParsedCommandLine parsed = vornhal::ParseCommandLine(args);
  if (!parsed.run) {
    std::fputs(parsed.output.c_str(), parsed.exit_code == 0 ? stdout : stderr);
    return parsed.exit_code;
  }
  return vornhal::RunServer(parsed.options);
}
