// SendToServer over a real loopback server: only logged-in characters other than the one
// left out receive the packet, all with the same bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/free_port.h"

#include <chrono>
#include <thread>

#include "net/server.h"
#include "net/session.h"
#include "platform/world_lock.h"
#include "world_fixture.h"

namespace vornhal::test {
namespace {

std::vector<TChara*> g_charas;  // guarded by the world lock

// A session that attaches character n when its client sends the unscrambled packet 11 with n:
// the character's Context becomes this connection (not owned), as when entering the world.
class AttachSession : public TSession {
 public:
  using TSession::TSession;
  void ParsePacket(TConnection& context, uint8_t id) override {
    if (id != 11) return;
    TChara* tc = g_charas.at(ReadByte());
    tc->Context.Reset(&context);
    SetChara(tc);
  }
};

class AttachServer : public TServer {
 public:
  using TServer::TServer;
  std::unique_ptr<TSession> CreateSession() override { return std::make_unique<AttachSession>(this); }
};

using test::FreePort;

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

// Whatever arrives within the wait.
std::vector<uint8_t> Drain(int fd, int wait_ms) {
  std::vector<uint8_t> out;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, wait_ms) > 0) {
    uint8_t buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
    wait_ms = 100;
  }
  return out;
}

using SendToServerTest = WorldFixture;

TEST_F(SendToServerTest, ReachesLoggedInCharactersExceptTheOneLeftOut) {
  TChara* in1 = Chara("In1", 5, 5);
  TChara* in2 = Chara("In2", 50, 50);
  TChara* left_out = Chara("Left", 5, 5);
  TChara* entering = Chara("Entering", 5, 5);
  entering->Login = TLoginState::kOffline;
  {
    TWorldGuard guard;
    g_charas = {in1, in2, left_out, entering};
  }
  const uint16_t port = FreePort();
  AttachServer server("Test", port);
  server.Open();
  int fds[5];
  for (int i = 0; i < 5; ++i) fds[i] = Connect(port);
  for (uint8_t i = 0; i < 4; ++i) {  // the fifth connection never names a character
    const uint8_t frame[] = {0xAA, 0x00, 0x02, 11, i};
    ASSERT_EQ(::send(fds[i], frame, sizeof frame, 0), static_cast<ssize_t>(sizeof frame));
  }
  // Wait until the four sessions hold their characters.
  for (int tries = 0; tries < 500; ++tries) {
    int attached = 0;
    {
      TWorldGuard guard;
      server.ForEachConnection([&](TConnection& c) { attached += c.Data != nullptr && c.Data->Chara() != nullptr; });
    }
    if (attached == 4) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  TPacket packet(TServerPacketId::kHPInfo);
  packet.WriteWord(0x1234);
  {
    TWorldGuard guard;
    packet.SendToServer(&server, left_out);
    packet.SendToServer(nullptr, nullptr);  // no server: nothing
  }
  const std::vector<uint8_t> frame = packet.Frame();
  EXPECT_EQ(Drain(fds[0], 2000), frame);
  EXPECT_EQ(Drain(fds[1], 2000), frame);
  EXPECT_TRUE(Drain(fds[2], 200).empty());
  EXPECT_TRUE(Drain(fds[3], 200).empty());
  EXPECT_TRUE(Drain(fds[4], 200).empty());

  {
    TWorldGuard guard;
    for (TChara* tc : g_charas) tc->Context.Reset();  // the connections close below
    g_charas.clear();
  }
  for (int fd : fds) ::close(fd);
  server.Close();
}

}  // namespace
}  // namespace vornhal::test
