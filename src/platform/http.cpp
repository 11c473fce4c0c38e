#include "platform/http.h"

#include <httplib.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string_view>
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

// The check endpoint is event-driven on one thread of its own: a connection that sends slowly
// or not at all costs a socket and a small buffer, never a thread, so it cannot keep anyone
// else from an answer. Each request must be complete within kRequestTime and its head within
// kMaxRequestBytes; a body is never read (the answer does not depend on it).
namespace {

constexpr auto kRequestTime = std::chrono::seconds(5);
constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kReadChunk = 4096;
// Open connections beyond this are closed at once: with kMaxRequestBytes each, memory stays
// bounded whatever a crowd of clients does.
constexpr int kMaxOpenConnections = 1024;

constexpr std::string_view kAnswerOne =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1\r\n"
    "Connection: close\r\n\r\n1";
constexpr std::string_view kAnswerHead =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1\r\n"
    "Connection: close\r\n\r\n";
constexpr std::string_view kAnswerNotAllowed =
    "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Type: text/plain\r\n"
    "Content-Length: 18\r\nConnection: close\r\n\r\nMethod Not Allowed";
constexpr std::string_view kAnswerTooLarge =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";
constexpr std::string_view kAnswerBad =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// The answer to a complete request head (request line and headers).
std::string_view AnswerFor(std::string_view head) {
  size_t space = head.find(' ');
  if (space == std::string_view::npos || space == 0) return kAnswerBad;
  std::string_view method = head.substr(0, space);
  if (method == "GET") return kAnswerOne;
  if (method == "HEAD") return kAnswerHead;
  return kAnswerNotAllowed;
}

class CheckConnection : public std::enable_shared_from_this<CheckConnection> {
 public:
  CheckConnection(asio::ip::tcp::socket socket, int& open_count)
      : socket_(std::move(socket)), deadline_(socket_.get_executor()), open_count_(open_count) {
    ++open_count_;
  }
  ~CheckConnection() { --open_count_; }

  void Start() {
    auto self = shared_from_this();
    deadline_.expires_after(kRequestTime);
    deadline_.async_wait([self](const asio::error_code& ec) {
      if (!ec) self->Shut();
    });
    Read();
  }

 private:
  void Read() {
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(chunk_, sizeof chunk_),
                            [self](const asio::error_code& ec, size_t n) { self->OnRead(ec, n); });
  }

  void OnRead(const asio::error_code& ec, size_t n) {
    if (ec) {
      Shut();
      return;
    }
    if (answered_) {
      // The answer is out; what the client still sends (a body) is read and dropped until it
      // closes, so the close does not reset the connection before the answer arrives. Dropped
      // bytes count against the same bound as the head.
      discarded_ += n;
      if (discarded_ > kMaxRequestBytes) {
        Shut();
        return;
      }
      Read();
      return;
    }
    size_t from = head_.size() >= 3 ? head_.size() - 3 : 0;
    head_.append(chunk_, n);
    size_t end = head_.find("\r\n\r\n", from);
    if (end == std::string::npos) end = head_.find("\n\n", from);
    if (end != std::string::npos) {
      Answer(AnswerFor(head_));
      return;
    }
    if (head_.size() >= kMaxRequestBytes) {
      Answer(kAnswerTooLarge);
      return;
    }
    Read();
  }

  void Answer(std::string_view answer) {
    answered_ = true;
    std::string().swap(head_);
    auto self = shared_from_this();
    asio::async_write(socket_, asio::buffer(answer.data(), answer.size()),
                      [self](const asio::error_code& ec, size_t) {
                        if (ec) {
                          self->Shut();
                          return;
                        }
                        asio::error_code ignored;
                        self->socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
                        self->Read();
                      });
  }

  void Shut() {
    asio::error_code ignored;
    deadline_.cancel();
    socket_.close(ignored);
  }

  asio::ip::tcp::socket socket_;
  asio::steady_timer deadline_;
  int& open_count_;
  std::string head_;
  char chunk_[kReadChunk];
  bool answered_ = false;
  size_t discarded_ = 0;
};

}  // namespace

struct THttpCheckServer::Impl {
  std::unique_ptr<asio::io_context> io;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  std::thread thread;
  int open_count = 0;  // on the server's thread

  void Accept() {
    acceptor->async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
      if (!ec) {
        if (open_count >= kMaxOpenConnections) {
          asio::error_code ignored;
          socket.close(ignored);
        } else {
          std::make_shared<CheckConnection>(std::move(socket), open_count)->Start();
        }
      }
      Accept();
    });
  }
};

THttpCheckServer::THttpCheckServer() : impl_(std::make_unique<Impl>()) {}

THttpCheckServer::~THttpCheckServer() { Close(); }

void THttpCheckServer::Open(uint16_t port) {
  if (impl_->thread.joinable()) return;
  impl_->io = std::make_unique<asio::io_context>(1);
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(*impl_->io);
  asio::error_code ec;
  asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v4(), port);
  // Address reuse only, never port sharing: a second process must find the port in use.
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    acceptor.reset();  // before the context it belongs to
    impl_->io.reset();
    throw std::runtime_error(Format("[Http] ポート%dを開けません", port));
  }
  impl_->acceptor = std::move(acceptor);
  impl_->Accept();
  impl_->thread = std::thread([io = impl_->io.get()] { io->run(); });
}

void THttpCheckServer::Close() {
  if (!impl_->thread.joinable()) return;
  // Everything belongs to the server's thread: stop it, then drop the connections with the
  // context, which runs no handler any more.
  impl_->io->stop();
  impl_->thread.join();
  asio::error_code ignored;
  impl_->acceptor->close(ignored);
  impl_->acceptor.reset();
  impl_->io.reset();
}

}  // namespace vornhal
