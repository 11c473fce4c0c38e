// HTTP: the one GET to a public address echo service, and the check endpoint the game client
// asks before it logs in.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace vornhal {

// The caller's public IPv4 address as the echo service returns it (the body, unchanged);
// empty on any failure.
std::string FindGlobalIP();

// Any GET, whatever its path and query, is answered 200, "text/plain", "1". It runs on a
// thread of its own and touches no game state. A request must arrive complete within a few
// seconds and with a head of at most 64 KiB; a body is never buffered. Slow or idle clients
// never delay the answer to others.
class THttpCheckServer {
 public:
  THttpCheckServer();
  ~THttpCheckServer();
  THttpCheckServer(const THttpCheckServer&) = delete;
  THttpCheckServer& operator=(const THttpCheckServer&) = delete;

  // Starts listening on the port (all interfaces); throws std::runtime_error naming the port
  // when it cannot be opened.
  void Open(uint16_t port);
  // Stops listening and waits for the server's threads.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vornhal
