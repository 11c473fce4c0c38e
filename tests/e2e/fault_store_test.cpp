// Character saves under faults, through the real server binary: a save that cannot be written,
// and the process killed at random moments while characters play and are saved.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kZoneClosed = "[Zone] \"127.0.0.1\" からの接続を終了";
const std::string kMultiClosed = "[Multi] \"127.0.0.1\" からの接続を終了";

// The "Glod" value written in a character file; -1 when there is none.
long long FileGlod(const std::string& text) {
  const std::string key = "\"Glod\": ";
  size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return std::stoll(text.substr(at + key.size()));
}

class FaultStore : public SampleWorld {
 protected:
  std::string CharaFile(const std::string& name) const { return server->DataPath() + "save/" + name + ".json"; }

  bool WaitCount(const std::string& needle, int count, int timeout_ms) {
    return server->WaitForCount(needle, count, timeout_ms);
  }

  // Logs an existing (or, with create, a new) character in on the Multi server, waits until
  // that connection's disconnect handling (which saves the character) is over, and enters the
  // world. Throws when the server does not answer.
  std::unique_ptr<Player> Visit(const std::string& name, bool create) {
    const std::string password = "pw-" + name;
    int multi_closed = server->CountInLog(kMultiClosed);
    auto player = std::make_unique<Player>();
    player->name = name;
    const Admission admission = MultiAdmission(name, password, create);
    if (!admission.key.empty()) player->zone.SetKey(admission.key);
    const uint16_t zone_port = admission.zone_port;
    if (!WaitCount(kMultiClosed, multi_closed + 1, 3000)) throw std::runtime_error("multi close unseen");
    player->zone.Connect(zone_port);
    player->zone.Send(client::CZoneLoginPacket(name));
    const std::string welcome = "[" + name + "]さんがログインしました";
    for (;;) {
      auto f = player->zone.Next();
      if (!f) throw std::runtime_error(name + " did not enter the world");
      if (f->id == sid::kMessage && client::ParseMessage(*f).text == welcome) break;
    }
    return player;
  }

  // Closes the Zone connection and waits until its disconnect handling is over (the save is
  // then queued; WaitGlod waits for the file).
  bool Leave(std::unique_ptr<Player>& p, int timeout_ms = 3000) {
    int closed = server->CountInLog(kZoneClosed);
    p->zone.Close();
    p.reset();
    return WaitCount(kZoneClosed, closed + 1, timeout_ms);
  }

  // Waits until the character's file exists with a Glod value of at least `least`.
  bool WaitFile(const std::string& name, int timeout_ms = 3000, long long least = 0) {
    auto deadline = Clock::now() + Millis(timeout_ms);
    while (FileGlod(test::ServerProcess::ReadText(CharaFile(name))) < least) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(Millis(5));
    }
    return true;
  }

  // Waits until the character's file holds that Glod value.
  bool WaitGlod(const std::string& name, long long glod, int timeout_ms = 3000) {
    auto deadline = Clock::now() + Millis(timeout_ms);
    while (FileGlod(test::ServerProcess::ReadText(CharaFile(name))) != glod) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(Millis(5));
    }
    return true;
  }
};

TEST_F(FaultStore, FailedSaveIsLoggedKeepsTheOldFileAndTheNextSaveWritesIt) {
  const std::string name = "saver";
  // Another player, in the world before the folder breaks (no new account can be made then:
  // an account exists only once its file is on disk).
  Player& other = Enter(NewName("other"));
  ASSERT_TRUE(WaitCount(kMultiClosed, 1, 5000));
  auto p = Visit(name, true);
  p->Command("@glod 1000");
  ASSERT_TRUE(Leave(p));
  const std::string file = CharaFile(name);
  ASSERT_TRUE(WaitFile(name, 3000, 1000));
  const std::string saved = test::ServerProcess::ReadText(file);
  const long long glod = FileGlod(saved);
  ASSERT_GE(glod, 1000) << saved;
  const std::string failed = "キャラクター \"" + name + "\" を保存できませんでした";

  // 1. A folder in place of the character's file: a save never replaces a folder, it fails
  // and the folder stays as it was.
  fs::rename(file, file + ".kept");
  fs::create_directories(file + "/inside");
  p = Visit(name, false);  // the Multi server's save fails as well
  EXPECT_TRUE(WaitCount("[Multi] " + failed, 1, 3000)) << server->Log();
  p->Command("@glod 500");
  ASSERT_TRUE(Leave(p));
  EXPECT_TRUE(WaitCount("[Zone] " + failed, 1, 3000)) << server->Log();
  EXPECT_TRUE(fs::is_directory(file + "/inside"));
  fs::remove_all(file);
  fs::rename(file + ".kept", file);
  EXPECT_EQ(test::ServerProcess::ReadText(file), saved);

  // 2. A plain file where the save folder must be: no character file can be made at all.
  const std::string save = server->DataPath() + "save";
  fs::rename(save, save + ".away");
  std::ofstream(save) << "not a folder";
  p = Visit(name, false);
  EXPECT_TRUE(WaitCount("[Multi] " + failed, 2, 3000)) << server->Log();
  p->Command("@glod 250");
  ASSERT_TRUE(Leave(p));
  EXPECT_TRUE(WaitCount("[Zone] " + failed, 2, 3000)) << server->Log();

  // The server keeps serving others meanwhile.
  ASSERT_TRUE(server->Running());
  other.Settle();  // what the comings and goings of the others sent meanwhile
  EXPECT_EQ(Messages(other.Command("@count")), std::vector<std::string>{"現在の接続人数 [1人]"});

  // With the folder back, the next save writes everything the character gained meanwhile.
  fs::remove(save);
  fs::rename(save + ".away", save);
  EXPECT_EQ(test::ServerProcess::ReadText(file), saved);
  p = Visit(name, false);  // saved by the Multi server's disconnect handling
  EXPECT_TRUE(WaitGlod(name, glod + 750)) << test::ServerProcess::ReadText(file);
  p->Command("@glod 1");
  ASSERT_TRUE(Leave(p));
  EXPECT_TRUE(WaitGlod(name, glod + 751)) << test::ServerProcess::ReadText(file);
}

TEST_F(FaultStore, KillAtRandomMomentsLosesNoCompletedSave) {
  constexpr int kChars = 4;
  constexpr int kCycles = 8;
  std::vector<std::string> names;
  std::map<std::string, long long> confirmed, attempted;
  for (int i = 0; i < kChars; ++i) {
    names.push_back("killed" + std::to_string(i));
    auto p = Visit(names.back(), true);
    ASSERT_TRUE(Leave(p));
    ASSERT_TRUE(WaitFile(names.back()));
    long long g = FileGlod(test::ServerProcess::ReadText(CharaFile(names.back())));
    ASSERT_GE(g, 0);
    confirmed[names.back()] = attempted[names.back()] = g;
  }
  ASSERT_EQ(server->Stop(SIGINT), 0);

  std::mt19937 rng(12345);
  int killed_in_play = 0;
  int total_visits = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    ASSERT_TRUE(server->Start()) << server->Log();
    // Every character loads, and none is older than its last completed save.
    ASSERT_TRUE(server->WaitForLog(std::to_string(kChars) + " のキャラをロードしました", 1000))
        << server->Log();
    for (const std::string& name : names) {
      std::string text = test::ServerProcess::ReadText(CharaFile(name));
      EXPECT_TRUE(text.ends_with("]\r\n}\r\n")) << name << ": " << text;
      long long g = FileGlod(text);
      EXPECT_GE(g, confirmed[name]) << name;
      EXPECT_LE(g, attempted[name]) << name;
      confirmed[name] = attempted[name] = g;
    }

    // Play: each visit adds one Glod and takes a few steps, then leaves, which saves.
    std::atomic<bool> stop{false};
    std::atomic<int> visits{0};
    std::thread play([&] {
      try {
        for (int i = 0; !stop.load(); ++i) {
          const std::string& name = names[static_cast<size_t>(i) % names.size()];
          auto p = Visit(name, false);
          ++attempted[name];
          p->Command("@glod 1");
          for (uint8_t s = 0; s < 4; ++s) p->Send(client::CMovePacket(s % 2 == 0 ? 1 : 3, s));
          long long value = attempted[name];
          if (Leave(p) && WaitGlod(name, value)) confirmed[name] = value;
          ++visits;
        }
      } catch (const std::exception&) {
        // The server was killed under the visit.
      }
    });
    std::this_thread::sleep_for(Millis(200 + static_cast<int>(rng() % 1800)));
    ::kill(server->Pid(), SIGKILL);
    stop = true;
    play.join();
    server->Kill();
    if (visits.load() > 0) ++killed_in_play;
    total_visits += visits.load();
  }
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_TRUE(server->WaitForLog(std::to_string(kChars) + " のキャラをロードしました", 1000));
  for (const std::string& name : names) {
    long long g = FileGlod(test::ServerProcess::ReadText(CharaFile(name)));
    EXPECT_GE(g, confirmed[name]) << name;
    EXPECT_LE(g, attempted[name]) << name;
  }
  EXPECT_GT(killed_in_play, kCycles / 2);
  std::cout << "[ fault ] " << kCycles << " kills after " << total_visits
            << " completed visits in all; every character loaded each time\n";
}

}  // namespace
}  // namespace vornhal::e2e
