// The load bot against the real server: its own counting of expected and missing packets.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "bot/stats.h"
#include "support/server_process.h"

#ifndef VORNHAL_BOT
#error "VORNHAL_BOT must name the bot binary"
#endif

namespace {

using vornhal::test::ServerProcess;

// Runs the bot with the given arguments and returns its "key: value" report lines.
std::map<std::string, std::string> RunBot(const ServerProcess& server, const std::string& args) {
  std::string cmd = std::string(VORNHAL_BOT) + " --multi-port " + std::to_string(server.multi_port) +
                    " --zone-port " + std::to_string(server.zone_port) + " " + args + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return {};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  std::map<std::string, std::string> fig;
  fig["exit"] = std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    auto colon = line.find(": ");
    if (line.empty() || line[0] == '{' || colon == std::string::npos) continue;
    fig[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return fig;
}

ServerProcess::Options SampleWorld() {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  // The bots create their accounts just before the timed part: quick digests keep that short.
  o.extra_ini = "[Main]\nPasswordHash=sha1\n";
  return o;
}

long long Num(const std::map<std::string, std::string>& fig, const std::string& key) {
  auto it = fig.find(key);
  return it == fig.end() ? -1 : std::stoll(it->second);
}

TEST(BotCounting, CreatedClientsStepWithoutMissingPackets) {
  ServerProcess server(SampleWorld());
  auto fig = RunBot(server, "--clients 3 --create --prefix cnt --mode step-rtt --duration 2");
  EXPECT_EQ(fig["exit"], "0");
  EXPECT_EQ(fig["connections"], "3 of 3");
  EXPECT_EQ(Num(fig, "missing_packets"), 0);
  EXPECT_EQ(Num(fig, "unexpected_packets"), 0);
  long long steps = Num(fig, "operations");
  EXPECT_GT(steps, 0);
  // Every answered step is one sample; the six packets of each login come on top.
  EXPECT_EQ(Num(fig, "samples"), steps);
  EXPECT_EQ(Num(fig, "expected_packets"), steps + 3 * 6);
  // The characters were made by the run and saved when their Multi connections closed.
  EXPECT_NE(ServerProcess::ReadText(server.DataPath() + "save/cnt2.json").find("\"cnt2\""),
            std::string::npos);

  // A second run logs the same accounts in again (creation refused as taken, login works).
  auto again = RunBot(server, "--clients 3 --create --prefix cnt --mode crowd --rate 10 --duration 1");
  EXPECT_EQ(again["connections"], "3 of 3");
  EXPECT_EQ(Num(again, "missing_packets"), 0);
  // Three clients in one area, 10 steps a second each for 1 s: every step is seen by the two
  // others and acknowledged to its sender.
  long long crowd_steps = Num(again, "operations");
  EXPECT_GE(crowd_steps, 27);
  EXPECT_EQ(Num(again, "delivered_packets"), crowd_steps * 3);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(BotCounting, UnknownNamesCountTheLoginPacketsThatNeverCame) {
  ServerProcess server(SampleWorld());
  // Without --create the names do not exist: greeting, version result and the refusal arrive;
  // the server info and the end of the entering sequence do not.
  auto fig = RunBot(server, "--clients 2 --prefix nobody --mode idle --duration 0.2");
  EXPECT_EQ(fig["connections"], "0 of 2");
  EXPECT_EQ(Num(fig, "expected_packets"), 2 * 5);
  EXPECT_EQ(Num(fig, "missing_packets"), 2 * 2);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(BotCounting, AStalledServerCostsStepsThatTimeOut) {
  ServerProcess server(SampleWorld());
  // The server is stopped for 1.5 s in the middle of a 3 s run; with a 300 ms timeout each
  // client gives its step up at least once, and the answer that comes after is late.
  std::thread staller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ::kill(server.Pid(), SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(server.Pid(), SIGCONT);
  });
  auto fig = RunBot(server, "--clients 2 --create --prefix stall --mode step-rtt --duration 3 "
                            "--timeout-ms 300");
  staller.join();
  EXPECT_EQ(fig["connections"], "2 of 2");
  EXPECT_GE(Num(fig, "missing_packets"), 2);
  EXPECT_GE(Num(fig, "late_acks"), 1);
  EXPECT_EQ(Num(fig, "delivered_packets") + Num(fig, "missing_packets"),
            Num(fig, "expected_packets") - 2 * 6);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(BotPercentiles, NearestRank) {
  std::vector<double> v;
  for (int i = 1000; i >= 1; --i) v.push_back(i);  // 1..1000, unsorted
  auto p = vornhal::bot::ComputePercentiles(v);
  EXPECT_EQ(p.count, 1000u);
  EXPECT_DOUBLE_EQ(p.p50, 500);
  EXPECT_DOUBLE_EQ(p.p99, 990);
  EXPECT_DOUBLE_EQ(p.p999, 999);
  EXPECT_DOUBLE_EQ(p.max, 1000);
  std::vector<double> one{7.5};
  auto q = vornhal::bot::ComputePercentiles(one);
  EXPECT_DOUBLE_EQ(q.p50, 7.5);
  EXPECT_DOUBLE_EQ(q.p999, 7.5);
  std::vector<double> none;
  EXPECT_EQ(vornhal::bot::ComputePercentiles(none).count, 0u);
}

}  // namespace
