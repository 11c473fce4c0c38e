// The check endpoint under slow and idle clients, through the real server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/process_stats.h"
#include "support/server_process.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using test::RssKiB;
using test::ServerProcess;

int Connect(int port) { return test::ConnectLoopback(port); }

// True when the peer closes (or resets) the socket within the timeout.
bool WaitClosed(int fd, Millis timeout) {
  auto deadline = Clock::now() + timeout;
  char buf[4096];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    int left = static_cast<int>(std::chrono::duration_cast<Millis>(deadline - Clock::now()).count());
    if (::poll(&p, 1, std::max(left, 0)) <= 0) return false;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

ServerProcess::Options Sample() {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  return o;
}

TEST(LimitsHttp, AnswersWhileTwoHundredClientsTrickleOrIdle) {
  ServerProcess server(Sample());
  std::vector<int> idle, trickle;
  for (int i = 0; i < 100; ++i) idle.push_back(Connect(server.http_port));
  for (int i = 0; i < 100; ++i) {
    int fd = Connect(server.http_port);
    ::send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    trickle.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread trickler([&] {
    while (!stop.load()) {
      for (int fd : trickle) ::send(fd, "X", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      std::this_thread::sleep_for(Millis(500));
    }
  });
  httplib::Client http("127.0.0.1", server.http_port);
  http.set_connection_timeout(3, 0);
  http.set_read_timeout(3, 0);
  std::vector<double> ms;
  for (int i = 0; i < 10; ++i) {
    auto t0 = Clock::now();
    auto res = http.Get("/?id=a&pw=b");
    ASSERT_TRUE(res) << "request " << i;
    EXPECT_EQ(res->body, "1");
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    std::this_thread::sleep_for(Millis(100));
  }
  std::sort(ms.begin(), ms.end());
  std::cout << "[ limits ] check answered with 200 slow clients: median " << ms[ms.size() / 2]
            << " ms, max " << ms.back() << " ms\n";
  // An incomplete request is given up within a few seconds, trickling or not.
  auto t0 = Clock::now();
  EXPECT_TRUE(WaitClosed(trickle.front(), Millis(10000)));
  EXPECT_TRUE(WaitClosed(idle.front(), Millis(10000)));
  double waited = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_LT(waited, 8.0);
  stop = true;
  trickler.join();
  for (int fd : idle) ::close(fd);
  for (int fd : trickle) ::close(fd);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(LimitsHttp, ABodyIsNeverBufferedAndAHugeHeadIsRefused) {
  ServerProcess server(Sample());
  long rss_before = RssKiB(server.Pid());
  // A POST announcing a gigabyte: answered without reading it, closed after at most 64 KiB.
  int fd = Connect(server.http_port);
  std::string head = "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1073741824\r\n\r\n";
  ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  std::string chunk(64 * 1024, 'b');
  long sent = 0;
  for (int i = 0; i < 256; ++i) {
    ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += n;
  }
  char buf[256] = {};
  ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf).rfind("HTTP/1.1 405", 0), 0u) << buf;
  EXPECT_LT(sent, 16L * 1024 * 1024) << "the server kept reading the body";
  ::close(fd);
  // A head that never ends is cut at 64 KiB.
  fd = Connect(server.http_port);
  std::string endless = "GET / HTTP/1.1\r\nX: " + std::string(100 * 1024, 'h');
  ::send(fd, endless.data(), endless.size(), MSG_NOSIGNAL);
  std::memset(buf, 0, sizeof buf);
  n = ::recv(fd, buf, sizeof buf - 1, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf).rfind("HTTP/1.1 431", 0), 0u) << buf;
  ::close(fd);
  long rss_after = RssKiB(server.Pid());
  std::cout << "[ limits ] server memory " << rss_before << " KiB before, " << rss_after
            << " KiB after a 1 GiB body was announced (" << sent << " bytes of it sent)\n";
  EXPECT_LT(rss_after - rss_before, 8 * 1024);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace vornhal::e2e
