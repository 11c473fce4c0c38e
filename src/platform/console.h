// The console window's title (shown by terminals that support it).
#pragma once
#include <string_view>

namespace vornhal {

// Sets the terminal title when standard output is a terminal; does nothing for a pipe or file.
void SetConsoleTitle(std::string_view title);

}  // namespace vornhal
