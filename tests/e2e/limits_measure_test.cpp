// Figures of the limits under load, printed for comparison between builds; they assert only
// that the measurement itself worked. Disabled by default (they take a while); run with
//   build/tests/e2e_tests --gtest_also_run_disabled_tests --gtest_filter='LimitsMeasure.*'
// and VORNHAL_SERVER_BINARY=<path> to measure another build of the server (VORNHAL_CROWD sets the
// size of the never-reading crowd, 50 by default).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/builders.h"
#include "client/connection.h"
#include "client/parsers.h"
#include "gm_player.h"
#include "support/loopback.h"
#include "support/process_stats.h"
#include "support/server_process.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using test::CpuSeconds;
using test::RssKiB;
using test::ServerProcess;

int ConnectFrom(const char* local, int port) { return test::ConnectLoopback(port, {.from = local}); }

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

// With the limits as a public server runs them. Everyone connects first; then the crowd asks
// for the script list and the rules text over and over and never reads, while a fresh client
// measures its round trip.
TEST(LimitsMeasure, DISABLED_FreshRoundTripWithFiftyNeverReadingClients) {
  ServerProcess server(SampleWith(""));
  auto handshake = [&server](client::Connection& c) {
    c.Connect(static_cast<uint16_t>(server.multi_port));
    if (!c.WaitFor(sid::kGreeting)) throw std::runtime_error("no greeting");
    c.Send(client::CVersionPacket(kClientVersion));
    auto v = c.WaitFor(sid::kVersionResult);
    if (!v) throw std::runtime_error("no version result");
    std::string key = client::ParseVersionResult(*v).key;
    if (!key.empty()) c.SetKey(key);
  };
  client::Connection fresh;
  handshake(fresh);
  std::vector<std::unique_ptr<client::Connection>> crowd;
  const char* count_env = ::getenv("VORNHAL_CROWD");
  const int crowd_size = count_env != nullptr ? std::atoi(count_env) : 50;
  for (int i = 0; i < crowd_size; ++i) {
    crowd.push_back(std::make_unique<client::Connection>());
    crowd.back()->SetReceiveBuffer(4096);
    handshake(*crowd.back());
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> floods;
  struct Joiner {
    std::atomic<bool>& stop;
    std::vector<std::thread>& threads;
    ~Joiner() {
      stop = true;
      for (auto& t : threads) t.join();
    }
  } joiner{stop, floods};
  for (auto& c : crowd) {
    floods.emplace_back([&stop, conn = c.get()] {
      try {
        while (!stop.load()) {
          conn->Send(client::CScriptRequestPacket(3));
          conn->Send(client::CRuleRequestPacket());
        }
      } catch (const std::exception&) {
        // Closed by the server or the send stalled: this client is done.
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double cpu0 = CpuSeconds(server.Pid());
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
  double cpu = CpuSeconds(server.Pid()) - cpu0;
  std::sort(ms.begin(), ms.end());
  std::cout << "[ measure ] " << crowd.size() << " never-reading clients: server CPU " << cpu
            << " s in the 5 s; " << lost << " requests timed out\n";
  std::string log = server.Log();
  ASSERT_FALSE(ms.empty()) << "server running: " << server.Running() << "\n"
                           << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
  std::cout << "[ measure ] " << crowd.size() << " never-reading clients: fresh round trip median " << ms[ms.size() / 2]
            << " ms, p90 " << ms[ms.size() * 9 / 10] << " ms (" << ms.size() << " answered, "
            << lost << " timed out); server memory " << rss / 1024 << " MiB\n";
}

}  // namespace
}  // namespace vornhal::e2e
