// Connection caps and silence limits, through the real server. Clients that are not trusted
// connect from 127.0.0.2 (127.0.0.1 is trusted by default).
#include <gtest/gtest.h>

#include <chrono>
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

std::unique_ptr<client::Connection> ConnectFrom(const std::string& local, int port) {
  auto c = std::make_unique<client::Connection>();
  c->SetLocalAddress(local);
  c->Connect(static_cast<uint16_t>(port));
  return c;
}

std::string Started(const char* server, const std::string& ip) {
  return std::string("[") + server + "] \"" + ip + "\" からの接続を開始";
}

ServerProcess::Options SampleWith(const std::string& ini) {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.extra_ini = ini;
  return o;
}

bool WaitCount(ServerProcess& server, const std::string& needle, int count, int timeout_ms) {
  return server.WaitForCount(needle, count, timeout_ms);
}

TEST(LimitsConnections, PerAddressCapCountsMultiAndZoneTogetherAndSparesOtherAddresses) {
  ServerProcess server(SampleWith(""));  // the default cap: 16 per address
  const std::string ip = "127.0.0.2";
  std::vector<std::unique_ptr<client::Connection>> held;
  for (int i = 0; i < 8; ++i) {
    held.push_back(ConnectFrom(ip, server.multi_port));
    ASSERT_TRUE(held.back()->WaitFor(sid::kGreeting)) << i;
  }
  for (int i = 0; i < 8; ++i) held.push_back(ConnectFrom(ip, server.zone_port));
  ASSERT_TRUE(WaitCount(server, Started("Zone", ip), 8, 5000)) << server.Log();

  // The 17th, on either server, is closed before any packet.
  for (int port : {server.multi_port, server.zone_port}) {
    auto refused = ConnectFrom(ip, port);
    EXPECT_TRUE(refused->WaitClosed(Millis(3000))) << port;
    EXPECT_TRUE(refused->Kept().empty()) << port;
  }
  const std::string refusal = "\"127.0.0.2\" からの接続が上限の16本に達しているため、接続を拒否";
  EXPECT_TRUE(server.WaitForLog(refusal, 3000)) << server.Log();
  // Another address still gets in, and the trusted one too.
  for (const char* other : {"127.0.0.3", "127.0.0.1"}) {
    auto c = ConnectFrom(other, server.multi_port);
    EXPECT_TRUE(c->WaitFor(sid::kGreeting)) << other;
  }
  // More refusals from the same address within the minute add no log line.
  for (int i = 0; i < 5; ++i) {
    auto refused = ConnectFrom(ip, server.multi_port);
    EXPECT_TRUE(refused->WaitClosed(Millis(3000)));
  }
  EXPECT_EQ(server.CountInLog(refusal), 1) << server.Log();
  EXPECT_EQ(server.CountInLog(Started("Multi", ip)), 8);

  // A place that frees up can be taken again.
  held.front()->Close();
  ASSERT_TRUE(server.WaitForLog("[Multi] \"127.0.0.2\" からの接続を終了", 3000));
  auto again = ConnectFrom(ip, server.multi_port);
  EXPECT_TRUE(again->WaitFor(sid::kGreeting));
  EXPECT_EQ(server.Stop(), 0);
}

TEST(LimitsConnections, TotalCapAppliesToTrustedAddressesToo) {
  ServerProcess server(SampleWith("[Security]\nMaxConnections=3\n"));
  std::vector<std::unique_ptr<client::Connection>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(ConnectFrom("127.0.0.1", i == 2 ? server.zone_port : server.multi_port));
  }
  ASSERT_TRUE(held[0]->WaitFor(sid::kGreeting));
  ASSERT_TRUE(held[1]->WaitFor(sid::kGreeting));
  ASSERT_TRUE(server.WaitForLog(Started("Zone", "127.0.0.1"), 3000));
  auto refused = ConnectFrom("127.0.0.1", server.multi_port);
  EXPECT_TRUE(refused->WaitClosed(Millis(3000)));
  EXPECT_TRUE(refused->Kept().empty());
  EXPECT_TRUE(server.WaitForLog("接続数が上限の3本に達しているため、\"127.0.0.1\" からの接続を拒否", 3000))
      << server.Log();
  EXPECT_EQ(server.Stop(), 0);
}

// One server, several connections side by side, each meeting one rule.
TEST(LimitsConnections, SilentAndSlowConnectionsAreClosedButAnIdlePlayerIsNot) {
  const std::string ini = "[Security]\nLoginTimeout=2\nIdleTimeout=3\n";
  SampleWorldServer world(ini);
  Player& idle_player = world.Enter("idler");
  const auto entered = Clock::now();

  // Never sends anything.
  auto silent = ConnectFrom("127.0.0.2", world.server->multi_port);
  ASSERT_TRUE(silent->WaitFor(sid::kGreeting));
  // Sends a first frame, then starts one and trickles it: header and a body byte every 400 ms.
  auto loris = ConnectFrom("127.0.0.2", world.server->multi_port);
  ASSERT_TRUE(loris->WaitFor(sid::kGreeting));
  loris->Send(client::CVersionPacket(kClientVersion));
  ASSERT_TRUE(loris->WaitFor(sid::kVersionResult));
  // Sends frames on the Zone server but never enters the world.
  auto lurker = ConnectFrom("127.0.0.2", world.server->zone_port);
  // Sends one frame on the Multi server, then nothing.
  auto dozer = ConnectFrom("127.0.0.2", world.server->multi_port);
  ASSERT_TRUE(dozer->WaitFor(sid::kGreeting));
  dozer->Send(client::CVersionPacket(kClientVersion));
  ASSERT_TRUE(dozer->WaitFor(sid::kVersionResult));

  auto start = Clock::now();
  loris->SendRaw({0xAA, 0x00, 0x40});
  bool loris_closed = false, lurker_closed = false;
  double loris_s = 0, lurker_s = 0;
  while (Clock::now() - start < Millis(6000) && !(loris_closed && lurker_closed)) {
    std::this_thread::sleep_for(Millis(400));
    double t = std::chrono::duration<double>(Clock::now() - start).count();
    if (!loris_closed) {
      try {
        loris->SendRaw({0x01});
      } catch (const std::exception&) {
      }
      if (loris->WaitClosed(Millis(1))) {
        loris_closed = true;
        loris_s = t;
      }
    }
    if (!lurker_closed) {
      try {
        lurker->Send(client::CSignalRequestPacket());
      } catch (const std::exception&) {
      }
      if (lurker->WaitClosed(Millis(1))) {
        lurker_closed = true;
        lurker_s = t;
      }
    }
  }
  EXPECT_TRUE(loris_closed);
  EXPECT_TRUE(lurker_closed) << "a Zone connection that never enters the world";
  EXPECT_GE(loris_s, 1.5);
  EXPECT_GE(lurker_s, 1.5);
  EXPECT_TRUE(silent->WaitClosed(Millis(3000)));
  EXPECT_TRUE(dozer->WaitClosed(Millis(5000)));
  // A client may see its connection end just before the server's line about it is read.
  for (const char* line : {"[Multi] \"127.0.0.2\" がパケットが時間内に届き終わらないため切断",
                           "[Multi] \"127.0.0.2\" が時間内にログインしないため切断",
                           "[Zone] \"127.0.0.2\" が時間内にログインしないため切断",
                           "[Multi] \"127.0.0.2\" が通信がないため切断"}) {
    EXPECT_TRUE(world.server->WaitForLog(line, 3000)) << line << "\n" << world.server->Log();
  }
  const std::string log = world.server->Log();

  // The player in the world has been silent for longer than both limits and is still served.
  std::this_thread::sleep_until(entered + Millis(4500));
  EXPECT_FALSE(idle_player.zone.WaitClosed(Millis(1)));
  EXPECT_NO_THROW(idle_player.Settle());
  EXPECT_EQ(world.server->CountInLog("[Zone] \"127.0.0.1\" が"), 0) << log;
}

}  // namespace
}  // namespace vornhal::e2e
