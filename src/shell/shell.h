// The program's spine: start-up in a fixed order, the 30 ms main loop, shutdown in a fixed
// order.
#pragma once
#include <string>

#include "shell/options.h"

namespace vornhal {

inline constexpr const char kVersionText[] = "Vornhal Ver.0.2.5";

// The 13-line start-up banner, line ends included.
std::string Banner();

// Runs the server until a stop signal; returns the process exit status (0 after a clean
// shutdown, 1 when start-up failed or an error ended the main loop).
int RunServer(const TShellOptions& options);

// The folder (with a trailing "/") and the INI file used for the given options.
std::string BaseFolder(const TShellOptions& options);
std::string SettingsPath(const TShellOptions& options);

}  // namespace vornhal
