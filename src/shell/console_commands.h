// Console commands: one per line on standard input, each logged and answered in the log.
// help, players, kick <name>, say <text>, save, gm <name> <level>,
// ban ip|name <target> [minutes] [reason], unban ip|name <target>, stop.
#pragma once
#include <atomic>
#include <string>
#include <thread>

namespace vornhal {

class TWorld;

// Runs one command line (without its line end) on the world. Called without the world lock.
void RunConsoleCommand(TWorld& world, const std::string& line);

// Reads command lines from a file descriptor on a thread of its own. End of input (a service
// without a terminal) only ends the reading; the server runs on.
class TConsoleReader {
 public:
  // A reader whose commands act on that world; the world outlives it.
  explicit TConsoleReader(TWorld& world) : world_(world) {}
  ~TConsoleReader() { Stop(); }
  TConsoleReader(const TConsoleReader&) = delete;
  TConsoleReader& operator=(const TConsoleReader&) = delete;

  void Start(int fd = 0);
  // Ends the reading and waits for the thread (a command being run is finished first).
  void Stop();

 private:
  void Run(int fd);
  TWorld& world_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vornhal
