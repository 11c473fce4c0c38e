// Command line of vornhal-bot.
#pragma once
#include <cstdint>
#include <string>

namespace vornhal::bot {

enum class Mode { StepRtt, Crowd, Idle, Walk };

struct Options {
  std::string host = "127.0.0.1";
  uint16_t multi_port = 0;
  uint16_t zone_port = 0;
  int clients = 1;
  Mode mode = Mode::StepRtt;
  double duration = 10.0;   // seconds of measurement after every client has entered
  double rate = 5.0;        // actions per second and client (crowd, walk)
  std::string prefix = "bot";
  int first = 0;            // names are prefix + first, prefix + (first + 1), ...
  std::string password = "bench";
  bool create = false;      // create the accounts before logging in
  bool spread = false;      // stagger the clients' timed actions over one period
  int concurrency = 64;     // logins in progress at once
  int timeout_ms = 1000;    // step-rtt: an acknowledgement later than this counts as missing
  double drain = 2.0;       // seconds to wait for late packets after the last action
  int login_timeout = 120;  // seconds for every client to enter
  double think_ms = 0;      // step-rtt: pause between an acknowledgement and the next step
  double stall_ms = 0;      // step-rtt: print every round trip at least this long (0: none)
  uint64_t seed = 1;
  bool verbose = false;
  bool help = false;
};

const char* ModeName(Mode m);
// Fills opt from the arguments; false with a message for an unknown or bad option.
bool ParseOptions(int argc, char** argv, Options& opt, std::string& error);
const char* Usage();

}  // namespace vornhal::bot
