// Plain loopback sockets for tests that need bytes a client library would never send.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>

#include "support/free_port.h"

namespace vornhal::test {

struct LoopbackOptions {
  const char* from = nullptr;  // a local address of 127.0.0.0/8 to connect from
  int rcvbuf = 0;              // a receive buffer size, set before the connect
  bool nodelay = false;        // TCP_NODELAY
  int send_timeout_ms = 0;     // SO_SNDTIMEO
};

// A socket connected to 127.0.0.1:port, or -1.
inline int ConnectLoopback(int port, const LoopbackOptions& o = {}) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (o.from != nullptr) {
    // A bound client socket in TIME_WAIT must not keep a later server from its port.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::inet_pton(AF_INET, o.from, &addr.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
  }
  if (o.rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &o.rcvbuf, sizeof o.rcvbuf);
  if (o.send_timeout_ms > 0) {
    timeval tv{o.send_timeout_ms / 1000, (o.send_timeout_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  if (o.nodelay) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace vornhal::test
