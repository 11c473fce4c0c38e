// The operator's HTTP API and dashboard on the [AdminServer] port: JSON under /api/ and the
// metrics under /metrics, both behind "Authorization: Bearer <token>", and the dashboard page
// at "/". It runs on threads of its own and touches game state only through the operations,
// which hold the world lock just long enough to copy it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace vornhal {

class TWorld;

class TAdminServer {
 public:
  struct TOptions {
    std::string bind = "127.0.0.1";
    uint16_t port = 8081;
    std::string token;
    bool metrics_token = true;
  };

  // An API on that world; the world outlives it.
  explicit TAdminServer(TWorld& world);
  ~TAdminServer();
  TAdminServer(const TAdminServer&) = delete;
  TAdminServer& operator=(const TAdminServer&) = delete;

  // Starts listening; false (with the reason in *error) when the address cannot be bound.
  bool Open(const TOptions& options, std::string* error);
  // Stops listening and waits for the server's threads.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A fresh random token: 32 random bytes as 64 lower-case hexadecimal digits.
std::string NewAdminToken();

}  // namespace vornhal
