// The send path over real loopback sockets: bytes for connections other than the one being
// handled are sent without any further traffic, every connection's bytes keep their order
// whoever queues them and from whichever thread, a close sends what was queued before it, and
// a backlog the socket does not take at once goes out whole once the peer reads and counts as
// unsent until then.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/loopback.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings.h"
#include "net/backlog.h"
#include "net/packet.h"
#include "net/server.h"
#include "net/session.h"
#include "platform/world_lock.h"

namespace vornhal {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Raw frames (id 200, no seed) whose payload is a source byte and a 32-bit count.
Bytes Numbered(uint8_t source, uint32_t n) {
  return {0xAA, 0x00, 0x06, 126, source, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8),
          uint8_t(n)};
}

struct Shared {
  std::mutex mutex;
  std::condition_variable cv;
  int connects = 0;
};

class SendSession : public TSession {
 public:
  explicit SendSession(TServer* server) : TSession(server) {}

  // 90: one numbered frame to every other connection; 91: to every other connection, then
  // close them; 92: a numbered frame to the sender; 93: 3 MiB of patterned bytes to the sender;
  // 94: like 90, as unhurried writes.
  void ParsePacket(TConnection& context, uint8_t id) override {
    if (id == 90 || id == 91 || id == 94) {
      uint32_t n = ReadLong();
      Bytes frame = Numbered(1, n);
      std::optional<TUnhurriedWrites> unhurried;
      if (id == 94) unhurried.emplace();
      Server()->ForEachConnection([&](TConnection& other) {
        if (&other == &context) return;
        other.Write(frame.data(), frame.size());
        if (id == 91) other.Close();
      });
    } else if (id == 92) {
      Bytes frame = Numbered(2, ReadLong());
      context.Write(frame.data(), frame.size());
    } else if (id == 93) {
      Bytes chunk(4096);
      for (uint32_t i = 0; i < 768; ++i) {
        for (size_t j = 0; j < chunk.size(); ++j) chunk[j] = uint8_t(i * 7 + j);
        context.Write(chunk.data(), chunk.size());
      }
    }
  }
};

class SendServer : public TServer {
 public:
  SendServer(uint16_t port, Shared* shared) : TServer("Send", port), shared_(shared) {}
  ~SendServer() override { Close(); }
  std::unique_ptr<TSession> CreateSession() override {
    return std::make_unique<SendSession>(this);
  }
  void DoConnect(TConnection& context) override {
    TServer::DoConnect(context);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->connects;
    shared_->cv.notify_all();
  }

 private:
  Shared* shared_;
};

using test::FreePort;

class Client {
 public:
  explicit Client(uint16_t port, int rcvbuf = 0)
      : fd_(test::ConnectLoopback(port, {.rcvbuf = rcvbuf, .nodelay = true})) {
    if (fd_ < 0) throw std::runtime_error("connect failed");
  }
  ~Client() { ::close(fd_); }
  void Send(const Bytes& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  // Reads n bytes or what came until the peer closed or the timeout passed.
  Bytes Read(size_t n, int timeout_ms = 5000) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[65536];
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // True when the peer has closed (after whatever it sent).
  bool AtEnd(int timeout_ms = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    uint8_t b;
    return ::recv(fd_, &b, 1, 0) == 0;
  }

 private:
  int fd_ = -1;
};

// A client frame with id and a 32-bit number, scrambled with a seed as a client does.
Bytes Request(uint8_t id, uint32_t n) {
  Bytes payload{uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  Scramble(payload.data(), payload.size(), 0x21);
  Bytes frame{0xAA, 0x00, 0x06, id, 0x21};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

// Splits a stream of numbered frames into (source, number) pairs; fails on anything else.
std::vector<std::pair<uint8_t, uint32_t>> Parse(const Bytes& stream) {
  std::vector<std::pair<uint8_t, uint32_t>> out;
  for (size_t i = 0; i + 9 <= stream.size(); i += 9) {
    EXPECT_EQ(Bytes(stream.begin() + long(i), stream.begin() + long(i) + 4),
              (Bytes{0xAA, 0x00, 0x06, 126}))
        << "frame " << out.size() << " at byte " << i;
    if (stream[i] != 0xAA) break;
    out.emplace_back(stream[i + 4], uint32_t(stream[i + 5]) << 24 | uint32_t(stream[i + 6]) << 16 |
                                        uint32_t(stream[i + 7]) << 8 | stream[i + 8]);
  }
  return out;
}

class SendPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // These clients send thousands of requests on purpose: no packet budget.
    Security.MaxPacketsPerSecond = 0;
    port_ = FreePort();
    server_ = std::make_unique<SendServer>(port_, &shared_);
    server_->Open();
  }
  void TearDown() override {
    server_->Close();
    ResetSettingsToDefaults();
  }
  void WaitConnects(int n) {
    std::unique_lock<std::mutex> lock(shared_.mutex);
    ASSERT_TRUE(shared_.cv.wait_for(lock, 5s, [&] { return shared_.connects >= n; }));
  }

  Shared shared_;
  uint16_t port_ = 0;
  std::unique_ptr<SendServer> server_;
};

TEST_F(SendPathTest, OthersGetTheirBytesInOrderWithoutSendingAnything) {
  Client sender(port_);
  Client watcher(port_);
  WaitConnects(2);
  // One at a time, each after the watcher has its predecessor: nothing else moves the bytes.
  Bytes first = Request(90, 0);
  sender.Send(first);
  EXPECT_EQ(Parse(watcher.Read(9)), (std::vector<std::pair<uint8_t, uint32_t>>{{1, 0}}));
  // A burst: the watcher gets every frame once, whole and in order.
  constexpr uint32_t kBurst = 2000;
  Bytes burst;
  for (uint32_t n = 1; n <= kBurst; ++n) {
    Bytes f = Request(90, n);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  sender.Send(burst);
  auto got = Parse(watcher.Read(9 * kBurst));
  ASSERT_EQ(got.size(), kBurst);
  for (uint32_t n = 1; n <= kBurst; ++n) EXPECT_EQ(got[n - 1], std::make_pair(uint8_t(1), n));
}

TEST_F(SendPathTest, UnhurriedWritesArriveAloneAndKeepTheirPlaceAmongNormalOnes) {
  Client sender(port_);
  Client watcher(port_);
  WaitConnects(2);
  // Alone, with nothing else to carry it.
  sender.Send(Request(94, 0));
  EXPECT_EQ(Parse(watcher.Read(9)), (std::vector<std::pair<uint8_t, uint32_t>>{{1, 0}}));
  // Mixed: runs of unhurried and normal writes to the same connection, in one burst and in
  // separate sends; the watcher gets them in the order they were written.
  constexpr uint32_t kBurst = 3000;
  Bytes burst;
  for (uint32_t n = 1; n <= kBurst; ++n) {
    Bytes f = Request(n % 7 < 4 ? 94 : 90, n);
    burst.insert(burst.end(), f.begin(), f.end());
    if (n % 500 == 0) {
      sender.Send(burst);
      burst.clear();
    }
  }
  auto got = Parse(watcher.Read(9 * kBurst));
  ASSERT_EQ(got.size(), kBurst);
  for (uint32_t n = 1; n <= kBurst; ++n) ASSERT_EQ(got[n - 1], std::make_pair(uint8_t(1), n));
}

TEST_F(SendPathTest, RepliesAndBytesFromOthersAndFromOtherThreadsKeepEachSourcesOrder) {
  Client a(port_);
  Client b(port_);
  WaitConnects(2);
  constexpr uint32_t kEach = 3000;
  // Three sources write to b at once: a's packets (handled on a's worker), b's own requests
  // (handled on b's worker) and a thread outside the network that holds the world lock, as
  // the world's tick does.
  std::thread tick([&] {
    for (uint32_t n = 0; n < kEach; ++n) {
      Bytes frame = Numbered(3, n);
      TWorldGuard lock;
      server_->ForEachConnection([&](TConnection& conn) {
        if (conn.Data != nullptr) conn.Write(frame.data(), frame.size());
      });
    }
  });
  Bytes from_a, from_b;
  for (uint32_t n = 0; n < kEach; ++n) {
    Bytes fa = Request(90, n), fb = Request(92, n);
    from_a.insert(from_a.end(), fa.begin(), fa.end());
    from_b.insert(from_b.end(), fb.begin(), fb.end());
  }
  std::thread send_a([&] { a.Send(from_a); });
  b.Send(from_b);
  send_a.join();
  tick.join();
  auto got = Parse(b.Read(9 * 3 * kEach, 10000));
  ASSERT_EQ(got.size(), 3 * kEach);
  std::map<uint8_t, uint32_t> next;
  for (auto [source, n] : got) {
    ASSERT_EQ(n, next[source]) << "source " << int(source);
    ++next[source];
  }
  EXPECT_EQ(next[1], kEach);
  EXPECT_EQ(next[2], kEach);
  EXPECT_EQ(next[3], kEach);
}

TEST_F(SendPathTest, AConnectionClosedByAnotherGetsWhatWasQueuedBeforeTheClose) {
  Client closer(port_);
  Client closed(port_);
  WaitConnects(2);
  closer.Send(Request(91, 77));
  EXPECT_EQ(Parse(closed.Read(9)), (std::vector<std::pair<uint8_t, uint32_t>>{{1, 77}}));
  EXPECT_TRUE(closed.AtEnd());
}

TEST_F(SendPathTest, ABacklogTheSocketCannotTakeAtOnceArrivesWholeOnceThePeerReads) {
  Client slow(port_, 4096);  // a small receive window, so the socket takes only part at once
  WaitConnects(1);
  slow.Send(Request(93, 0));
  std::this_thread::sleep_for(200ms);
  Bytes got = slow.Read(768 * 4096, 10000);
  ASSERT_EQ(got.size(), 768u * 4096u);
  size_t wrong = 0;
  for (size_t k = 0; k < got.size(); ++k) {
    if (got[k] != uint8_t((k / 4096) * 7 + k % 4096)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  // The connection is still usable afterwards.
  slow.Send(Request(92, 5));
  EXPECT_EQ(Parse(slow.Read(9)), (std::vector<std::pair<uint8_t, uint32_t>>{{2, 5}}));
}

// Bytes a client does not read stay in the connection's own queue, where the unsent-bytes total
// sees them, instead of vanishing into a kernel buffer grown to megabytes; once the client
// reads, the total comes back to nothing.
TEST_F(SendPathTest, BytesAPeerDoesNotReadCountAsUnsentUntilItReads) {
  Client slow(port_, 4096);
  WaitConnects(1);
  const uint64_t before = TBacklogBound::Get().Total();
  slow.Send(Request(93, 0));
  const uint64_t queued = 768u * 4096u;
  uint64_t peak = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 3s;
       std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(20ms);
    peak = std::max(peak, TBacklogBound::Get().Total() - before);
    if (peak >= queued - 256 * 1024) break;
  }
  EXPECT_GE(peak, queued - 256 * 1024) << "the kernel holds much of a backlog nobody reads";
  EXPECT_LE(peak, queued);
  ASSERT_EQ(slow.Read(queued, 10000).size(), queued);
  uint64_t after = TBacklogBound::Get().Total();
  for (int i = 0; i < 100 && after != before; ++i) {
    std::this_thread::sleep_for(10ms);
    after = TBacklogBound::Get().Total();
  }
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace vornhal
