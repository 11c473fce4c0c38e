// Traffic limits through the real server: the packet budget, the log budget of a connection,
// log lines that client text cannot forge, and the bound on unsent bytes across connections.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/builders.h"
#include "client/connection.h"
#include "client/parsers.h"
#include "client/wire.h"
#include "gm_player.h"
#include "support/loopback.h"
#include "support/server_process.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using test::ServerProcess;

ServerProcess::Options SampleWith(const std::string& ini) {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.extra_ini = ini;
  return o;
}

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// A non-blocking raw connection from a local address; bytes the server would answer are never
// read.
int RawConnect(const std::string& local, int port) {
  return test::ConnectLoopback(port, {.from = local.c_str()});
}

// Sends the unit again and again for the duration, as fast as the server takes it in.
long Flood(int fd, const std::vector<uint8_t>& unit, Millis duration) {
  long sent = 0;
  auto end = Clock::now() + duration;
  while (Clock::now() < end) {
    ssize_t n = ::send(fd, unit.data(), unit.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
    } else {
      std::this_thread::sleep_for(Millis(1));
    }
  }
  return sent;
}

// Each flood runs on a connection of its own for two seconds. What it adds to the log is at
// most the burst (100 lines) plus the refill (10 lines a second), however fast the bytes come;
// the budget of the connection also covers the summary lines of what it suppressed.
TEST(LimitsTraffic, FloodsOfStrayBytesEmptyFramesAndTinyBodiesAddBoundedLogLines) {
  ServerProcess server(SampleWith(""));
  struct Kind {
    const char* name;
    std::vector<uint8_t> unit;
  };
  const std::vector<Kind> kinds = {
      {"stray bytes", {0x00}},
      {"empty frames", {0xAA, 0x00, 0x00}},
      {"1-byte bodies", {0xAA, 0x00, 0x01, 0x03}},
  };
  for (const Kind& kind : kinds) {
    int fd = RawConnect("127.0.0.2", server.multi_port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.WaitForLog("からの接続を開始", 5000));
    int before = CountLines(server.Log());
    auto start = Clock::now();
    long sent = Flood(fd, kind.unit, Millis(2000));
    std::this_thread::sleep_for(Millis(500));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string log = server.Log();
    int added = CountLines(log) - before;
    std::cout << "[ limits ] " << kind.name << ": " << sent << " bytes in 2 s; " << added
              << " log lines in " << seconds << " s (" << added / seconds << " lines/s)\n";
    EXPECT_LE(added, 100 + static_cast<int>(seconds * 10) + 2) << kind.name << "\n" << log;
    EXPECT_NE(log.find("[Multi] \"127.0.0.2\" からの通信によるログ"), std::string::npos) << kind.name;
    ::close(fd);
    // The connection still has the flood's bytes to read at its pace; a restart ends it.
    EXPECT_EQ(server.Stop(), 0);
    ASSERT_TRUE(server.Start());
  }
}

// The budget counts frames, not bytes: a connection gets two seconds' worth at once, then the
// rate. Nothing is dropped and the connection stays open; reading only waits.
TEST(LimitsTraffic, PacketBudgetPacesFramesWithoutDroppingThem) {
  ServerProcess server(SampleWith("[Security]\nMaxPacketsPerSecond=100\n"));
  client::Connection c;
  c.Connect(static_cast<uint16_t>(server.zone_port));
  std::vector<uint8_t> batch;
  const int kFrames = 500;
  for (int i = 0; i < kFrames; ++i) {
    auto f = client::EncodeClientFrame(client::CSignalRequestPacket(), static_cast<uint8_t>(i),
                                       std::string(client::kDefaultKey));
    batch.insert(batch.end(), f.begin(), f.end());
  }
  auto start = Clock::now();
  c.SendRaw(batch);
  int answered = 0;
  int at_one_second = -1;
  auto deadline = start + Millis(10000);
  while (answered < kFrames && Clock::now() < deadline) {
    auto f = c.Next(Millis(200));
    if (f && f->id == sid::kSignal) ++answered;
    if (at_one_second < 0 && Clock::now() - start >= Millis(1000)) at_one_second = answered;
  }
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::cout << "[ limits ] " << kFrames << " frames answered in " << elapsed << " s, "
            << at_one_second << " within the first second\n";
  EXPECT_EQ(answered, kFrames);
  // At most the burst (200) and one second's refill (100) in the first second.
  EXPECT_LE(at_one_second, 200 + 100 + 10);
  EXPECT_GE(elapsed, (kFrames - 200) / 100.0 * 0.9);
  EXPECT_FALSE(c.PeerClosed());
  EXPECT_EQ(server.CountInLog("からの受信が多すぎるため読み込みを一時停止"), 1);
}

class LimitsLogText : public SampleWorld {};

// Client text reaches the log escaped, and one script packet adds one line of variables, cut.
TEST_F(LimitsLogText, ScriptVariablesMakeOneEscapedLine) {
  Player& p = Enter(NewName("scribe"));
  client::Variables vars;
  for (int i = 0; i < 1500; ++i) vars.emplace_back("n" + std::to_string(i), "v\n[00:00:00] forged");
  p.Send(client::CScriptVariablesPacket("evil\r\n[00:00:00] forged script", 1, vars));
  p.Settle();
  // The lines may reach the test after the answer: wait for the last of them.
  ASSERT_TRUE(server->WaitForLog("  n0=v\\x0A[00:00:00] forged, n1=", 5000)) << server->Log();
  std::string log = server->Log();
  size_t from = log.find("CScriptPacket: code 1");
  ASSERT_NE(from, std::string::npos) << log;
  // The packet's lines: its code, the script name and one line of all the variables.
  int forged_lines = 0;
  std::istringstream lines(log.substr(from));
  for (std::string line; std::getline(lines, line);) forged_lines += line.find("forged") != std::string::npos;
  EXPECT_EQ(forged_lines, 2) << log;
  EXPECT_EQ(log.find("\n[00:00:00] forged"), std::string::npos) << log;
  EXPECT_NE(log.find("scriptName: evil\\x0D\\x0A[00:00:00] forged script"), std::string::npos);
  size_t vars_line = log.find("  n0=v\\x0A[00:00:00] forged, n1=");
  ASSERT_NE(vars_line, std::string::npos) << log;
  size_t end = log.find('\n', vars_line);
  EXPECT_LT(end - vars_line, 1100u);
}

// Clients that ask for large answers and never read pile up unsent bytes; past the total
// bound the largest backlogs are closed, and a fresh client is answered quickly throughout.
TEST(LimitsTraffic, NeverReadingCrowdPastTheTotalIsClosed) {
  const int kTotal = 2 * 1024 * 1024;
  ServerProcess server(SampleWith("[Security]\nMaxPacketsPerSecond=0\nMaxUnsentBytesTotal=" +
                                  std::to_string(kTotal) + "\n"));
  std::vector<std::unique_ptr<client::Connection>> crowd;
  for (int i = 0; i < 20; ++i) {
    auto c = std::make_unique<client::Connection>();
    c->SetReceiveBuffer(4096);
    c->Connect(static_cast<uint16_t>(server.multi_port));
    ASSERT_TRUE(c->WaitFor(sid::kGreeting));
    c->Send(client::CVersionPacket(kClientVersion));
    auto v = c->WaitFor(sid::kVersionResult);
    ASSERT_TRUE(v);
    std::string key = client::ParseVersionResult(*v).key;
    if (!key.empty()) c->SetKey(key);
    crowd.push_back(std::move(c));
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> floods;
  for (auto& c : crowd) {
    floods.emplace_back([&stop, conn = c.get()] {
      for (int i = 0; i < 2000 && !stop.load(); ++i) {
        try {
          conn->Send(client::CScriptRequestPacket(3));
        } catch (const std::exception&) {
          return;
        }
      }
    });
  }
  // A fresh client keeps asking while the crowd piles up.
  std::vector<double> rtt;
  client::Connection fresh;
  fresh.Connect(static_cast<uint16_t>(server.multi_port));
  ASSERT_TRUE(fresh.WaitFor(sid::kGreeting));
  fresh.Send(client::CVersionPacket(kClientVersion));
  auto fv = fresh.WaitFor(sid::kVersionResult);
  ASSERT_TRUE(fv);
  if (!client::ParseVersionResult(*fv).key.empty()) fresh.SetKey(client::ParseVersionResult(*fv).key);
  auto end = Clock::now() + Millis(3000);
  while (Clock::now() < end) {
    auto t0 = Clock::now();
    fresh.Send(client::CRuleCheckPacket());
    ASSERT_TRUE(fresh.WaitFor(sid::kRule, Millis(3000)));
    rtt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    std::this_thread::sleep_for(Millis(20));
  }
  stop = true;
  for (auto& t : floods) t.join();
  std::sort(rtt.begin(), rtt.end());
  int cut = server.CountInLog("全接続の未送信データが2097152バイトを超えたため、未送信の多い");
  std::cout << "[ limits ] fresh client's round trip median " << rtt[rtt.size() / 2]
            << " ms, max " << rtt.back() << " ms (" << rtt.size() << " requests); " << cut
            << " never-reading clients closed\n";
  EXPECT_GE(cut, 1) << server.Log();
  EXPECT_EQ(server.CountInLog("[Multi] \"127.0.0.1\" への未送信データ"), 0);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace vornhal::e2e
