#include "platform/console.h"

#include <unistd.h>

#include <string>

#include "platform/log.h"

namespace vornhal {

void SetConsoleTitle(std::string_view title) {
  if (::isatty(STDOUT_FILENO) != 1) return;
  std::string s = "\033]0;";
  s.append(title);
  s.push_back('\007');
  ConsoleWrite(s);
}

}  // namespace vornhal
