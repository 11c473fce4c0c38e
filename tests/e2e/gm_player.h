// End-to-end helpers: a server on the sample world and players who create an account on the
// Multi server, log in and enter the world on the Zone server, as a game client does.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/builders.h"
#include "client/connection.h"
#include "client/parsers.h"
#include "support/server_process.h"

namespace vornhal::e2e {

using client::Frame;
using client::Millis;
using sid = TServerPacketId;

inline constexpr uint16_t kClientVersion = 2850;
// Waits that are expected to end with nothing arriving.
inline constexpr Millis kQuiet{150};

// A character that has entered the world.
class Player {
 public:
  std::string name;
  uint32_t id = 0;
  TMapPoint pos;
  client::Connection zone;

  void Send(const client::OutPacket& p) { zone.Send(p); }
  void Chat(const std::string& text) { zone.Send(client::CChatPacket(0, text)); }

  // Frames up to the answer of a signal request, which is sent last: everything a request sent
  // before it produced, because the server handles one connection's packets in order.
  std::vector<Frame> Settle() {
    zone.Send(client::CSignalRequestPacket());
    std::vector<Frame> frames = zone.CollectUntil(sid::kSignal);
    if (frames.empty()) throw std::runtime_error(name + ": no answer to the signal request");
    frames.pop_back();
    return frames;
  }
  // Sends p and returns what it produced (see Settle).
  std::vector<Frame> Request(const client::OutPacket& p) {
    zone.Send(p);
    return Settle();
  }
  std::vector<Frame> Command(const std::string& line) { return Request(client::CChatPacket(0, line)); }
};

inline std::vector<TServerPacketId> Ids(const std::vector<Frame>& frames) {
  std::vector<TServerPacketId> ids;
  for (const Frame& f : frames) ids.push_back(f.id);
  return ids;
}

// The type-3 system message texts among the frames, in order.
inline std::vector<std::string> Messages(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) {
    if (f.id == sid::kMessage) out.push_back(client::ParseMessage(f).text);
  }
  return out;
}

inline std::vector<Frame> OfId(const std::vector<Frame>& frames, TServerPacketId id) {
  std::vector<Frame> out;
  for (const Frame& f : frames) {
    if (f.id == id) out.push_back(f);
  }
  return out;
}

class SampleWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ServerProcess::Options options;
    options.data_dir = VORNHAL_SAMPLE_DIR;
    // The fixture's own lines (set in a constructor) and those of an override.
    options.extra_ini = extra_ini + ExtraIni();
    server = std::make_unique<test::ServerProcess>(options);
  }
  // INI text for this fixture's server (limits a test needs off, for example).
  virtual std::string ExtraIni() const { return ""; }
  void TearDown() override {
    players.clear();
    if (server) {
      int status = server->Stop();
      EXPECT_EQ(status, 0) << server->Log();
    }
  }

  // What a login on the Multi server gives: the scrambling key (empty for none) and the port
  // of the Zone server to enter.
  struct Admission {
    std::string key;
    uint16_t zone_port = 0;
  };
  // Logs in on the Multi server, creating the account first when asked; the Multi connection
  // is closed again. Throws when a step is refused or unanswered.
  Admission MultiAdmission(const std::string& name, const std::string& password, bool create = true) {
    client::Connection multi;
    multi.Connect(server->multi_port);
    if (!multi.WaitFor(sid::kGreeting)) throw std::runtime_error("no greeting");
    multi.Send(client::CVersionPacket(kClientVersion));
    auto version = multi.WaitFor(sid::kVersionResult);
    if (!version) throw std::runtime_error("no version result");
    Admission a;
    a.key = client::ParseVersionResult(*version).key;
    if (!a.key.empty()) multi.SetKey(a.key);
    if (create) {
      multi.Send(client::CCreateAccountPacket(name, password, "real", "mail@example.invalid"));
      auto created = multi.WaitFor(sid::kResult);
      if (!created || client::ParseResult(*created).code != 0) throw std::runtime_error("account refused");
    }
    multi.Send(client::CLoginPacket(name, password, false));
    auto login = multi.WaitFor(sid::kResult);
    if (!login || client::ParseResult(*login).code != 0) throw std::runtime_error("login refused");
    auto info = multi.WaitFor(sid::kServerInfo);
    if (!info) throw std::runtime_error("no zone server named");
    a.zone_port = client::ParseServerInfo(*info).port;
    return a;
  }

  // Creates the account, logs in on the Multi server and enters the world on the Zone server.
  Player& Enter(const std::string& name) {
    const Admission admission = MultiAdmission(name, "pw-" + name);
    const std::string& key = admission.key;
    const uint16_t zone_port = admission.zone_port;

    auto player = std::make_unique<Player>();
    player->name = name;
    if (!key.empty()) player->zone.SetKey(key);
    player->zone.Connect(zone_port);
    player->zone.Send(client::CZoneLoginPacket(name));
    const std::string welcome = "[" + name + "]さんがログインしました";
    // The entering sequence ends with the login message to everyone, the player included.
    for (;;) {
      auto f = player->zone.Next();
      if (!f) throw std::runtime_error(name + " did not enter the world:\n" + server->Log());
      if (f->id == sid::kPlayerInfo) player->id = client::ParsePlayerInfo(*f).id;
      if (f->id == sid::kPlayerPosition) {
        auto p = client::ParsePlayerPosition(*f);
        player->pos = TMapPoint{p.x, p.y};
      }
      if (f->id == sid::kMessage && client::ParseMessage(*f).text == welcome) break;
    }
    players.push_back(std::move(player));
    return *players.back();
  }

  // A fresh name for each player of a test.
  std::string NewName(const char* stem) { return std::string(stem) + std::to_string(++counter_); }

  std::unique_ptr<test::ServerProcess> server;
  std::vector<std::unique_ptr<Player>> players;
  // INI lines for the server SetUp starts (a derived fixture sets it in its constructor).
  std::string extra_ini;

 private:
  int counter_ = 0;
};

// The sample world with INI text of a test's own, outside a gtest fixture.
class SampleWorldServer : public SampleWorld {
 public:
  explicit SampleWorldServer(std::string ini) : ini_(std::move(ini)) { SetUp(); }
  ~SampleWorldServer() override { TearDown(); }
  std::string ExtraIni() const override { return ini_; }
  void TestBody() override {}
  using SampleWorld::Enter;
  using SampleWorld::NewName;
  using SampleWorld::players;
  using SampleWorld::server;

 private:
  std::string ini_;
};

// Attacks the mob until the server reports its death; returns every frame seen, in order.
inline std::vector<Frame> AttackUntilDead(Player& p, uint32_t mob_id, int max_attacks = 200) {
  std::vector<Frame> seen;
  for (int i = 0; i < max_attacks; ++i) {
    for (Frame& f : p.Request(client::CAttackPacket(mob_id))) {
      bool died = f.id == sid::kDie;
      seen.push_back(std::move(f));
      if (died) return seen;
    }
  }
  return seen;
}

}  // namespace vornhal::e2e
