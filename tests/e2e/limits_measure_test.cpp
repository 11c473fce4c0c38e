// Figures of the limits under load, printed for comparison between builds; they assert only
// that the measurement itself worked. Disabled by default (they take a while); run with
//   build/tests/e2e_tests --gtest_also_run_disabled_tests --gtest_filter='LimitsMeasure.*'
// and VORNHAL_SERVER_BINARY=<path> to measure another build of the server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/builders.h"
#include "client/connection.h"
#include "client/parsers.h"
#include "gm_player.h"
#include "support/server_process.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using test::ServerProcess;

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

int ConnectFrom(const char* local, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  ::inet_pton(AF_INET, local, &addr.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  addr.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

ServerProcess::Options SampleWith(const std::string& ini) {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.extra_ini = ini;
  return o;
}

TEST(LimitsMeasure, DISABLED_MemoryOfFiveThousandIdleConnections) {
  for (const char* which : {"Multi", "Zone"}) {
    ServerProcess server(SampleWith("[Security]\nMaxConnectionsPerIP=0\n"));
    int port = std::string(which) == "Multi" ? server.multi_port : server.zone_port;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long before = RssKiB(server.Pid());
    std::vector<int> fds;
    for (int i = 0; i < 5000; ++i) {
      int fd = ConnectFrom("127.0.0.2", port);
      ASSERT_GE(fd, 0) << i;
      fds.push_back(fd);
    }
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (server.CountInLog(std::string("[") + which + "] \"127.0.0.2\" からの接続を開始") < 5000 &&
           Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    long after = RssKiB(server.Pid());
    std::cout << "[ measure ] " << which << ": 5000 idle connections, server memory " << before
              << " KiB -> " << after << " KiB (" << (after - before) * 1024 / 5000
              << " bytes each)\n";
    EXPECT_GT(after, 0);
    for (int fd : fds) ::close(fd);
  }
}

// With the limits as a public server runs them.
TEST(LimitsMeasure, DISABLED_FreshRoundTripWithFiftyNeverReadingClients) {
  ServerProcess server(SampleWith(""));
  std::atomic<bool> stop{false};
  std::vector<std::thread> crowd;
  for (int i = 0; i < 50; ++i) {
    crowd.emplace_back([&stop, &server] {
      client::Connection c;
      c.SetReceiveBuffer(4096);
      try {
        c.Connect(static_cast<uint16_t>(server.multi_port));
        if (!c.WaitFor(sid::kGreeting)) return;
        c.Send(client::CVersionPacket(kClientVersion));
        auto v = c.WaitFor(sid::kVersionResult);
        if (!v) return;
        std::string key = client::ParseVersionResult(*v).key;
        if (!key.empty()) c.SetKey(key);
        // Never reads again: asks for the script list and the rules text over and over.
        while (!stop.load()) {
          c.Send(client::CScriptRequestPacket(3));
          c.Send(client::CRuleRequestPacket());
        }
      } catch (const std::exception&) {
        // Closed by the server or the send stalled: this client is done.
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  client::Connection fresh;
  fresh.Connect(static_cast<uint16_t>(server.multi_port));
  ASSERT_TRUE(fresh.WaitFor(sid::kGreeting));
  std::vector<double> ms;
  int lost = 0;
  auto end = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < end) {
    auto t0 = Clock::now();
    fresh.Send(client::CRuleCheckPacket());
    if (!fresh.WaitFor(sid::kRule, std::chrono::milliseconds(3000))) {
      ++lost;
      continue;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  long rss = RssKiB(server.Pid());
  stop = true;
  for (auto& t : crowd) t.join();
  std::sort(ms.begin(), ms.end());
  ASSERT_FALSE(ms.empty());
  std::cout << "[ measure ] 50 never-reading clients: fresh round trip median " << ms[ms.size() / 2]
            << " ms, p90 " << ms[ms.size() * 9 / 10] << " ms (" << ms.size() << " answered, "
            << lost << " timed out); server memory " << rss / 1024 << " MiB\n";
}

}  // namespace
}  // namespace vornhal::e2e
