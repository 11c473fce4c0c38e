// The client's connection over real loopback sockets: seeds as sent, frames kept for later
// waits, timeouts, and the peer's close.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "client/builders.h"
#include "client/connection.h"
#include "net/packet.h"

namespace vornhal::client {
namespace {

// One accepted loopback connection on a free port.
class Peer {
 public:
  Peer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(listen_fd_, 1), 0);
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ~Peer() {
    CloseAccepted();
    ::close(listen_fd_);
  }
  void Accept() { fd_ = ::accept(listen_fd_, nullptr, nullptr); }
  void Write(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void Write(TPacket& p) { Write(p.Frame()); }
  // Reads exactly n bytes.
  std::vector<uint8_t> Read(size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  void CloseAccepted() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  uint16_t port = 0;

 private:
  int listen_fd_ = -1;
  int fd_ = -1;
};

// Frames of any id byte: the connection keeps and finds frames by id whatever they carry.
TServerPacketId Id(int n) { return static_cast<TServerPacketId>(n); }

TPacket Numbered(uint8_t id, uint8_t n) {
  TPacket p(Id(id));
  p.WriteByte(n);
  return p;
}

TEST(ClientConnection, SeedsChangeFromPacketToPacketUnlessFixed) {
  Peer peer;
  Connection c;
  c.Connect(peer.port);
  peer.Accept();
  std::set<uint8_t> seeds;
  for (int i = 0; i < 5; ++i) {
    c.Send(CDirectionPacket(2));  // AA 00 03 11 seed dir
    auto frame = peer.Read(6);
    ASSERT_EQ(frame.size(), 6u);
    EXPECT_EQ(frame[4], c.LastSeed());
    seeds.insert(frame[4]);
  }
  EXPECT_EQ(seeds.size(), 5u);
  c.SetSeed(7);
  for (int i = 0; i < 2; ++i) {
    c.Send(CDirectionPacket(2));
    EXPECT_EQ(peer.Read(6)[4], 7);
  }
  c.Send(CVersionPacket(2850));
  EXPECT_EQ(peer.Read(6), (std::vector<uint8_t>{0xAA, 0, 3, 0, 0x0B, 0x22}));
}

TEST(ClientConnection, WaitForKeepsOtherFramesInArrivalOrder) {
  Peer peer;
  Connection c;
  c.Connect(peer.port);
  peer.Accept();
  for (uint8_t n = 1; n <= 3; ++n) {
    TPacket p = Numbered(static_cast<uint8_t>(20 + n), n);
    peer.Write(p);
  }
  TPacket last = Numbered(40, 9);
  peer.Write(last);

  auto f = c.WaitFor(Id(22));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->payload, std::vector<uint8_t>{2});
  auto until = c.CollectUntil(Id(40));
  ASSERT_EQ(until.size(), 3u);
  EXPECT_EQ(until[0].id, Id(21));
  EXPECT_EQ(until[1].id, Id(23));
  EXPECT_EQ(until[2].id, Id(40));
  EXPECT_FALSE(c.Next(Millis(50))) << "nothing more was sent";
  EXPECT_FALSE(c.WaitFor(Id(99), Millis(50)));

  TPacket late = Numbered(50, 1);
  peer.Write(late);
  EXPECT_TRUE(c.CollectUntil(Id(60), Millis(100)).empty());
  EXPECT_EQ(c.Kept().size(), 1u) << "a collection that timed out keeps what came";
  auto drained = c.Drain(Millis(50));
  ASSERT_EQ(drained.size(), 1u);
  EXPECT_EQ(drained[0].id, Id(50));
  EXPECT_TRUE(c.Kept().empty());
}

TEST(ClientConnection, ReportsThePeersCloseAndKeepsFramesSentBeforeIt) {
  Peer peer;
  Connection c;
  c.Connect(peer.port);
  peer.Accept();
  EXPECT_FALSE(c.WaitClosed(Millis(50)));
  TPacket p = Numbered(14, 1);
  peer.Write(p);
  peer.CloseAccepted();
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_TRUE(c.PeerClosed());
  auto f = c.Next(Millis(10));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->id, Id(14));
}

TEST(ClientConnection, ConnectToAClosedPortFails) {
  uint16_t port;
  {
    Peer peer;
    port = peer.port;
  }
  Connection c;
  EXPECT_THROW(c.Connect(port), ProtocolError);
}

}  // namespace
}  // namespace vornhal::client
