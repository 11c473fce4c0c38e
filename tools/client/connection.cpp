#include "client/connection.h"

#include "net/packet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace vornhal::client {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Connection::Connection() {
  std::random_device rd;
  seed_counter_ = static_cast<uint8_t>(rd());
}

Connection::~Connection() { Close(); }

void Connection::Connect(uint16_t port, const std::string& host, Millis timeout) {
  Close();
  peer_closed_ = false;
  inbuf_.clear();
  kept_.clear();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) throw ProtocolError("bad address " + host);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ProtocolError(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (receive_buffer_ > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer_, sizeof receive_buffer_);
  }
  if (!local_address_.empty()) {
    // Without address reuse, this socket's TIME_WAIT after a close would keep a server from
    // binding its port (servers pick from the same range) for a minute.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (inet_pton(AF_INET, local_address_.c_str(), &local.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      int e = errno;
      ::close(fd);
      throw ProtocolError("bind to " + local_address_ + ": " + std::strerror(e));
    }
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno != EINPROGRESS) {
    int e = errno;
    ::close(fd);
    throw ProtocolError("connect to port " + std::to_string(port) + ": " + std::strerror(e));
  }
  if (rc != 0) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
      ::close(fd);
      throw ProtocolError("connect to port " + std::to_string(port) + " timed out");
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      ::close(fd);
      throw ProtocolError("connect to port " + std::to_string(port) + ": " + std::strerror(err));
    }
  }
  fd_ = fd;
}

void Connection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

uint8_t Connection::NextSeed() {
  if (fixed_seed_) return *fixed_seed_;
  return seed_counter_++;
}

void Connection::Send(const OutPacket& packet) {
  const bool seeded = !ClientIdWithoutSeed(packet.id);
  const uint8_t seed = seeded ? NextSeed() : 0;
  if (seeded) last_seed_ = seed;
  SendRaw(EncodeClientFrame(packet, seed, key_));
}

void Connection::SendRaw(const std::vector<uint8_t>& bytes) {
  if (fd_ < 0) throw ProtocolError("send on a closed connection");
  size_t off = 0;
  const auto deadline = Clock::now() + kDefaultTimeout;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, RemainingMs(deadline)) <= 0) throw ProtocolError("send timed out");
      continue;
    }
    throw ProtocolError(std::string("send: ") + std::strerror(errno));
  }
}

bool Connection::ReadSome(Clock::time_point deadline) {
  if (fd_ < 0 || peer_closed_) return false;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int rc = ::poll(&p, 1, RemainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    uint8_t buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      peer_closed_ = true;
      return false;
    }
    inbuf_.insert(inbuf_.end(), buf, buf + n);
    auto frames = TakeServerFrames(inbuf_, key_);
    if (!frames.empty()) {
      for (auto& f : frames) kept_.push_back(std::move(f));
      return true;
    }
    if (Clock::now() >= deadline) return false;
  }
}

std::optional<Frame> Connection::Next(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  while (kept_.empty()) {
    if (!ReadSome(deadline)) break;
  }
  if (kept_.empty()) return std::nullopt;
  Frame f = std::move(kept_.front());
  kept_.pop_front();
  return f;
}

std::optional<Frame> Connection::WaitFor(TServerPacketId id, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  size_t scanned = 0;
  for (;;) {
    for (; scanned < kept_.size(); ++scanned) {
      if (kept_[scanned].id == id) {
        Frame f = std::move(kept_[scanned]);
        kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(scanned));
        return f;
      }
    }
    if (!ReadSome(deadline)) return std::nullopt;
  }
}

std::vector<Frame> Connection::CollectUntil(TServerPacketId id, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  size_t scanned = 0;
  for (;;) {
    for (; scanned < kept_.size(); ++scanned) {
      if (kept_[scanned].id == id) {
        std::vector<Frame> out(std::make_move_iterator(kept_.begin()),
                               std::make_move_iterator(kept_.begin() + static_cast<std::ptrdiff_t>(scanned) + 1));
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(scanned) + 1);
        return out;
      }
    }
    if (!ReadSome(deadline)) return {};
  }
}

std::vector<Frame> Connection::Drain(Millis quiet) {
  while (ReadSome(Clock::now() + quiet)) {
  }
  std::vector<Frame> out(std::make_move_iterator(kept_.begin()), std::make_move_iterator(kept_.end()));
  kept_.clear();
  return out;
}

void Connection::Unread(std::vector<Frame> frames) {
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) kept_.push_front(std::move(*it));
}

bool Connection::WaitClosed(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!peer_closed_ && Clock::now() < deadline) ReadSome(deadline);
  return peer_closed_;
}

}  // namespace vornhal::client
