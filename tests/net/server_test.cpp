// A listening server over real loopback sockets: sessions, framing, dispatch, errors, sends,
// the send cap and closing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/loopback.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/packet.h"
#include "net/server.h"
#include "net/session.h"
#include "platform/world_lock.h"

namespace vornhal {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// What the sessions of a test server saw, guarded by its own mutex.
struct Journal {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::pair<uint8_t, Bytes>> packets;  // id and payload bytes read
  int connects = 0;
  int disconnects = 0;
  int sessions_alive = 0;
  // Disconnect handlers that found the session still there before the base handling, and
  // gone after it.
  int sessions_held_through_disconnect = 0;
  // Set to a connection by packet 72; read under the world lock.
  TConnectionRef ref;
  std::vector<std::string> exceptions;

  template <typename Pred>
  bool WaitFor(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, timeout, [&] { return pred(); });
  }
  void Notify(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex);
    change();
    cv.notify_all();
  }
};

class TestSession : public TSession {
 public:
  TestSession(TServer* server, Journal* journal) : TSession(server), journal_(journal) {
    journal_->Notify([this] { ++journal_->sessions_alive; });
  }
  ~TestSession() override {
    journal_->Notify([this] { --journal_->sessions_alive; });
  }

  void ParsePacket(TConnection& context, uint8_t id) override {
    if (id == 50) throw std::runtime_error("boom");
    if (id == 51) ReadLong();  // beyond a short body
    if (id == 60) {
      TPacket reply(static_cast<TServerPacketId>(61));  // any id: echoed back
      reply.WriteWord(ReadWord());
      reply.SendTo(&context);
    }
    if (id == 70) {
      Bytes chunk(65536, 0x33);
      for (int i = 0; i < 1000 && context.Connected(); ++i) context.Write(chunk.data(), chunk.size());
    }
    if (id == 71) context.Close();
    if (id == 72) journal_->ref.Reset(&context);  // under the world lock, as a character's
    Bytes rest(RecvLength() - ReadPosition());
    if (!rest.empty()) ReadBuffer(rest.data(), rest.size());
    journal_->Notify([&] { journal_->packets.emplace_back(id, rest); });
  }

 private:
  Journal* journal_;
};

class TestServer : public TServer {
 public:
  TestServer(uint16_t port, Journal* journal) : TServer("Test", port), journal_(journal) {}
  ~TestServer() override { Close(); }
  std::unique_ptr<TSession> CreateSession() override {
    return std::make_unique<TestSession>(this, journal_);
  }
  void DoConnect(TConnection& context) override {
    TServer::DoConnect(context);
    journal_->Notify([this] { ++journal_->connects; });
  }
  void DoDisconnect(TConnection& context) override {
    bool before = false;
    {
      TWorldGuard lock;
      before = context.Data != nullptr;
    }
    TServer::DoDisconnect(context);
    bool after = false;
    {
      TWorldGuard lock;
      after = context.Data != nullptr;
    }
    journal_->Notify([&] {
      ++journal_->disconnects;
      if (before && !after) ++journal_->sessions_held_through_disconnect;
    });
  }
  void DoException(TConnection& context, const std::string& message) override {
    journal_->Notify([&] { journal_->exceptions.push_back(message); });
    TServer::DoException(context, message);
  }

 private:
  Journal* journal_;
};

using test::FreePort;

class Client {
 public:
  explicit Client(uint16_t port) : fd_(test::ConnectLoopback(port, {.nodelay = true})) {
    if (fd_ < 0) throw std::runtime_error("connect failed");
  }
  ~Client() { Close(); }
  void Send(const Bytes& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
  // Reads exactly n bytes, or fewer when the peer closes or the timeout passes.
  Bytes Read(size_t n, int timeout_ms = 5000) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
      uint8_t buf[4096];
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // True when the peer closes within the timeout (data that arrives first is skipped).
  bool WaitClosed(int timeout_ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buf[65536];
      ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
      if (r <= 0) return true;
    }
    return false;
  }
  void Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A client body with a seed byte, scrambled as a client does.
Bytes Frame(uint8_t id, Bytes payload, uint8_t seed = 0x21) {
  Bytes body{id};
  if (!ClientIdWithoutSeed(id)) {
    body.push_back(seed);
    Scramble(payload.data(), payload.size(), seed);
  }
  body.insert(body.end(), payload.begin(), payload.end());
  Bytes frame{0xAA, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    server_ = std::make_unique<TestServer>(port_, &journal_);
    server_->Open();
  }
  void TearDown() override {
    if (server_) server_->Close();
  }
  size_t PacketCount() {
    std::lock_guard<std::mutex> lock(journal_.mutex);
    return journal_.packets.size();
  }
  bool WaitPackets(size_t n) {
    return journal_.WaitFor([&] { return journal_.packets.size() >= n; });
  }

  Journal journal_;
  uint16_t port_ = 0;
  std::unique_ptr<TestServer> server_;
};

TEST_F(ServerTest, FramesAreDispatchedOnceInArrivalOrder) {
  Client c(port_);
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.connects == 1; }));
  EXPECT_EQ(server_->UserCount(), 1);

  Bytes two = Frame(40, {1, 2, 3});
  Bytes second = Frame(41, {4});
  two.insert(two.end(), second.begin(), second.end());
  c.Send(two);
  ASSERT_TRUE(WaitPackets(2));

  Bytes pieces = Frame(42, {5, 6, 7, 8, 9});
  for (uint8_t b : pieces) {
    c.Send({b});
    std::this_thread::sleep_for(2ms);
  }
  ASSERT_TRUE(WaitPackets(3));
  std::this_thread::sleep_for(50ms);
  std::lock_guard<std::mutex> lock(journal_.mutex);
  ASSERT_EQ(journal_.packets.size(), 3u);
  EXPECT_EQ(journal_.packets[0], (std::pair<uint8_t, Bytes>{40, {1, 2, 3}}));
  EXPECT_EQ(journal_.packets[1], (std::pair<uint8_t, Bytes>{41, {4}}));
  EXPECT_EQ(journal_.packets[2], (std::pair<uint8_t, Bytes>{42, {5, 6, 7, 8, 9}}));
}

TEST_F(ServerTest, StrayBytesAreLoggedWithTheCountOfWhatWaitedAndDropped) {
  testing::internal::CaptureStdout();
  {
    Client c(port_);
    c.Send({0x01, 0xAA, 0x00, 0x02, 0x00, 0x00});
  }
  // Reads run in order, so the bytes were handled before the disconnect.
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }));
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("[Test] 不明なパケット5バイトを破棄"), std::string::npos) << log;
  EXPECT_EQ(PacketCount(), 0u);
}

TEST_F(ServerTest, AfterStrayBytesTheConnectionStaysAndLaterFramesAreHandled) {
  Client c(port_);
  c.Send({0x01, 0x02, 0x03});
  // A frame that arrives together with the stray bytes goes with them; later ones are handled.
  bool handled = false;
  for (int i = 0; i < 25 && !handled; ++i) {
    c.Send(Frame(40, {7}));
    handled = journal_.WaitFor([&] { return !journal_.packets.empty(); }, 200ms);
  }
  ASSERT_TRUE(handled);
  std::lock_guard<std::mutex> lock(journal_.mutex);
  EXPECT_EQ(journal_.packets[0].first, 40);
  EXPECT_EQ(journal_.disconnects, 0);
}

TEST_F(ServerTest, HandlerErrorsAreLoggedAndTheNextFrameIsHandled) {
  testing::internal::CaptureStdout();
  Client c(port_);
  c.Send(Frame(50, {1}));
  c.Send(Frame(51, {1}));
  c.Send(Frame(40, {2}));
  ASSERT_TRUE(WaitPackets(1));
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("[Test] Parse Error: PacketID 50 Message boom"), std::string::npos) << log;
  EXPECT_NE(log.find("[Test] Parse Error: PacketID 51 Message read of 4 bytes"), std::string::npos)
      << log;
  std::lock_guard<std::mutex> lock(journal_.mutex);
  ASSERT_EQ(journal_.packets.size(), 1u);
  EXPECT_EQ(journal_.packets[0].first, 40);
}

TEST_F(ServerTest, BodiesTooShortToCarryAPacketAreDropped) {
  testing::internal::CaptureStdout();
  Client c(port_);
  c.Send({0xAA, 0x00, 0x00});        // no id at all
  c.Send({0xAA, 0x00, 0x01, 0x28});  // id 40 without its seed byte
  c.Send({0xAA, 0x00, 0x01, 0x0B});  // id 11 goes without seed: handled
  ASSERT_TRUE(WaitPackets(1));
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("空のパケットを破棄"), std::string::npos) << log;
  EXPECT_NE(log.find("シードのないパケットを破棄: PacketID 40"), std::string::npos) << log;
  EXPECT_EQ(log.find("Parse Error"), std::string::npos) << log;
  std::lock_guard<std::mutex> lock(journal_.mutex);
  ASSERT_EQ(journal_.packets.size(), 1u);
  EXPECT_EQ(journal_.packets[0].first, 11);
}

TEST_F(ServerTest, RepliesReachTheClientEncoded) {
  Client c(port_);
  c.Send(Frame(60, {0x12, 0x34}));
  Bytes got = c.Read(7);
  ASSERT_EQ(got.size(), 7u);
  Bytes payload(got.begin() + 5, got.end());
  Scramble(payload.data(), payload.size(), 0);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 5), (Bytes{0xAA, 0x00, 0x04, 61, 0x00}));
  EXPECT_EQ(payload, (Bytes{0x12, 0x34}));
}

TEST_F(ServerTest, DisconnectFreesTheSessionAndLeavesTheList) {
  {
    Client a(port_);
    Client b(port_);
    ASSERT_TRUE(journal_.WaitFor([&] { return journal_.connects == 2; }));
    EXPECT_EQ(server_->UserCount(), 2);
    int listed = 0;
    {
      TWorldGuard lock;
      server_->ForEachConnection([&](TConnection& conn) {
        EXPECT_EQ(conn.PeerIP(), "127.0.0.1");
        EXPECT_NE(conn.Data, nullptr);
        ++listed;
      });
    }
    EXPECT_EQ(listed, 2);
    a.Close();
    ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }));
    EXPECT_EQ(server_->UserCount(), 1);
  }
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 2; }));
  EXPECT_EQ(server_->UserCount(), 0);
  std::lock_guard<std::mutex> lock(journal_.mutex);
  EXPECT_EQ(journal_.sessions_alive, 0);
  // A server's own disconnect handling (a character's logout and save) still finds the session.
  EXPECT_EQ(journal_.sessions_held_through_disconnect, 2);
  EXPECT_TRUE(journal_.exceptions.empty());
}

TEST_F(ServerTest, AReferenceToAConnectionReadsNullOnceItHasEnded) {
  {
    Client c(port_);
    c.Send(Frame(72, {}));
    ASSERT_TRUE(WaitPackets(1));
    TWorldGuard lock;
    EXPECT_NE(journal_.ref.Get(), nullptr);
  }
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }));
  TWorldGuard lock;
  EXPECT_EQ(journal_.ref.Get(), nullptr);
}

TEST_F(ServerTest, AHandlerCanCloseItsConnection) {
  Client c(port_);
  c.Send(Frame(71, {}));
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }));
}

TEST_F(ServerTest, AConnectionResetIsReportedToTheErrorHandler) {
  testing::internal::CaptureStdout();
  Client c(port_);
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.connects == 1; }));
  c.Reset();
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }));
  std::string log = testing::internal::GetCapturedStdout();
  std::lock_guard<std::mutex> lock(journal_.mutex);
  ASSERT_EQ(journal_.exceptions.size(), 1u);
  EXPECT_NE(log.find("[Test] Error: " + journal_.exceptions[0]), std::string::npos) << log;
}

TEST_F(ServerTest, AClientThatStopsReadingIsClosedOnceItsBacklogPassesTheCap) {
  testing::internal::CaptureStdout();
  Client c(port_);
  c.Send(Frame(70, {}));
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.disconnects == 1; }, 10000ms));
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_NE(log.find("[Test] \"127.0.0.1\" への未送信データが"), std::string::npos) << log;
  // The world lock was never held up by the stalled client.
  TWorldGuard lock;
}

TEST_F(ServerTest, CloseEndsEveryConnectionAndWaitsForTheirDisconnects) {
  Client a(port_);
  Client b(port_);
  ASSERT_TRUE(journal_.WaitFor([&] { return journal_.connects == 2; }));
  server_->Close();
  {
    std::lock_guard<std::mutex> lock(journal_.mutex);
    EXPECT_EQ(journal_.disconnects, 2);
    EXPECT_EQ(journal_.sessions_alive, 0);
  }
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(b.WaitClosed());
  EXPECT_THROW(Client late(port_), std::runtime_error);
  // The same port can be opened again at once.
  server_ = std::make_unique<TestServer>(port_, &journal_);
  server_->Open();
  Client again(port_);
  EXPECT_TRUE(journal_.WaitFor([&] { return journal_.connects == 3; }));
}

TEST(ServerOpen, APortInUseIsReportedByNumber) {
  Journal journal;
  uint16_t port = FreePort();
  TestServer first(port, &journal);
  first.Open();
  TestServer second(port, &journal);
  try {
    second.Open();
    FAIL() << "opened a port in use";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(port)), std::string::npos) << e.what();
  }
  first.Close();
}

}  // namespace
}  // namespace vornhal
