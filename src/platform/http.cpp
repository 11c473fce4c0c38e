#include "platform/http.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/format.h"

namespace vornhal {

namespace {
// A plain-text echo of the caller's address over HTTP.
constexpr const char* kEchoHost = "api.ipify.org";
constexpr int kEchoPort = 80;
}  // namespace

std::string FindGlobalIP() {
  httplib::Client client(kEchoHost, kEchoPort);
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(5, 0);
  auto res = client.Get("/");
  if (!res || res->status != 200) return "";
  return res->body;
}

struct THttpCheckServer::Impl {
  httplib::Server server;
  std::thread thread;
};

THttpCheckServer::THttpCheckServer() : impl_(std::make_unique<Impl>()) {}

THttpCheckServer::~THttpCheckServer() { Close(); }

void THttpCheckServer::Open(uint16_t port) {
  impl_->server.Get(".*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 200;
    res.set_content("1", "text/plain");
  });
  // Address reuse only: the library's default also sets SO_REUSEPORT, which would let a second
  // process share the port instead of reporting it in use.
  impl_->server.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  if (!impl_->server.bind_to_port("0.0.0.0", port)) {
    throw std::runtime_error(Format("[Http] ポート%dを開けません", port));
  }
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
  // stop() only reaches a server that is already running: wait for the loop to start, so a
  // Close() right after Open() cannot miss it and wait forever.
  for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void THttpCheckServer::Close() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

}  // namespace vornhal
