// GM levels through the real binary: AdminLv against GMLevel and the levels per command, the
// log line of every command that runs and of every refused one.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

class GmLevels : public SampleWorld {
 protected:
  void SetUp() override {}  // each test starts its own server

  void StartWith(const std::string& ini) {
    test::ServerProcess::Options options;
    options.data_dir = VORNHAL_SAMPLE_DIR;
    options.extra_ini = "[Main]\nPasswordHash=sha1\n" + ini;
    server = std::make_unique<test::ServerProcess>(options);
  }

  // Stops the server, sets the character's AdminLv in its file and starts it again.
  void SetAdminLv(const std::string& name, int level) {
    players.clear();
    ASSERT_EQ(server->Stop(), 0) << server->Log();
    const std::string path = server->DataPath() + "save/" + name + ".json";
    std::string text = test::ServerProcess::ReadText(path);
    std::string changed = std::regex_replace(text, std::regex("\"AdminLv\": [0-9]+"),
                                             "\"AdminLv\": " + std::to_string(level));
    ASSERT_NE(changed, text) << text;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << changed;
    ASSERT_TRUE(server->Start()) << server->Log();
  }

  // Logs in an existing character (Enter creates the account first).
  Player& Return(const std::string& name) {
    client::Connection multi;
    multi.Connect(server->multi_port);
    multi.WaitFor(sid::kGreeting);
    multi.Send(client::CVersionPacket(kClientVersion));
    std::string key = client::ParseVersionResult(*multi.WaitFor(sid::kVersionResult)).key;
    multi.SetKey(key);
    multi.Send(client::CLoginPacket(name, "pw-" + name, false));
    auto login = multi.WaitFor(sid::kResult);
    if (!login || client::ParseResult(*login).code != 0) throw std::runtime_error("login refused");
    uint16_t zone_port = client::ParseServerInfo(*multi.WaitFor(sid::kServerInfo)).port;
    multi.Close();
    auto player = std::make_unique<Player>();
    player->name = name;
    player->zone.SetKey(key);
    player->zone.Connect(zone_port);
    player->zone.Send(client::CZoneLoginPacket(name));
    const std::string welcome = "[" + name + "]さんがログインしました";
    for (;;) {
      auto f = player->zone.Next();
      if (!f) throw std::runtime_error(name + " did not enter the world:\n" + server->Log());
      if (f->id == sid::kMessage && client::ParseMessage(*f).text == welcome) break;
    }
    players.push_back(std::move(player));
    return *players.back();
  }
};

TEST_F(GmLevels, GMLevelRefusesAndAllowsByAdminLvAndLogsEveryCommand) {
  StartWith("[ZoneServer]\nGMLevel=2\n");
  Player& p = Enter("Novice");
  // Below the level: nothing happens, nothing is sent, the attempt is logged.
  EXPECT_TRUE(p.Command("@where").empty());
  EXPECT_TRUE(p.Command("@glod 500").empty());
  EXPECT_TRUE(p.Command("@help").empty());
  EXPECT_TRUE(server->WaitForLog(
      "[GM] キャラクター \"Novice\" (AdminLv 0) のコマンドを拒否しました (必要なレベル 2): @glod 500", 2000))
      << server->Log();
  EXPECT_EQ(server->CountInLog("が実行: @"), 0) << server->Log();

  SetAdminLv("Novice", 1);
  Player& still = Return("Novice");
  EXPECT_TRUE(still.Command("@where").empty());
  EXPECT_TRUE(server->WaitForLog("(AdminLv 1) のコマンドを拒否しました (必要なレベル 2): @where", 2000))
      << server->Log();

  SetAdminLv("Novice", 2);
  Player& gm = Return("Novice");
  EXPECT_EQ(Messages(gm.Command("@where")), std::vector<std::string>{"[10055] ヴォルンハルの町 (17, 35)"});
  gm.Command("@goto 1 65 50");
  // The audit line: name, map, position before the command, and the whole line.
  EXPECT_TRUE(server->WaitForLog("[GM] キャラクター \"Novice\" (マップ 10055, 17, 35) が実行: @where", 2000))
      << server->Log();
  EXPECT_TRUE(server->WaitForLog("[GM] キャラクター \"Novice\" (マップ 10055, 17, 35) が実行: @goto 1 65 50", 2000));
  EXPECT_EQ(Messages(gm.Command("@where")), std::vector<std::string>{"[1] 南の草原 (65, 50)"});
  EXPECT_TRUE(server->WaitForLog("(マップ 1, 65, 50) が実行: @where", 2000)) << server->Log();
  // An unknown command is not a command that ran.
  EXPECT_TRUE(gm.Command("@nosuch x").empty());
  EXPECT_EQ(server->CountInLog("@nosuch"), 0);
}

TEST_F(GmLevels, ALevelPerCommandOverridesGMLevel) {
  StartWith("[ZoneServer]\nGMLevel=0\n[GMCommands]\nglod=3\n@Shout=1\n");
  Player& p = Enter("Helper");
  // Open commands stay open to everyone.
  EXPECT_EQ(Messages(p.Command("@where")), std::vector<std::string>{"[10055] ヴォルンハルの町 (17, 35)"});
  EXPECT_TRUE(p.Command("@glod 1000").empty());
  EXPECT_TRUE(p.Command("@shout hello").empty());
  EXPECT_TRUE(server->WaitForLog("(AdminLv 0) のコマンドを拒否しました (必要なレベル 3): @glod 1000", 2000))
      << server->Log();
  EXPECT_TRUE(server->WaitForLog("(AdminLv 0) のコマンドを拒否しました (必要なレベル 1): @shout hello", 2000));

  SetAdminLv("Helper", 1);
  Player& helper = Return("Helper");
  EXPECT_FALSE(helper.Command("@shout hello").empty());
  EXPECT_TRUE(helper.Command("@glod 1000").empty());
  EXPECT_TRUE(server->WaitForLog("(AdminLv 1) のコマンドを拒否しました (必要なレベル 3): @glod 1000", 2000))
      << server->Log();

  SetAdminLv("Helper", 3);
  Player& admin = Return("Helper");
  admin.Command("@glod 1000");
  EXPECT_TRUE(server->WaitForLog("[GM] キャラクター \"Helper\" (マップ 10055, 17, 35) が実行: @glod 1000", 2000))
      << server->Log();
  players.clear();
  ASSERT_EQ(server->Stop(), 0);
  std::string file = test::ServerProcess::ReadText(server->DataPath() + "save/Helper.json");
  EXPECT_NE(file.find("\"Glod\": 1000,"), std::string::npos) << file;
  server.reset();
}

TEST_F(GmLevels, TheAuditLineEscapesControlCharacters) {
  StartWith("");
  Player& p = Enter("Typist");
  p.Command("@where \x01\\");
  EXPECT_TRUE(server->WaitForLog("が実行: @where \\x01\\\\", 2000)) << server->Log();
}

}  // namespace
}  // namespace vornhal::e2e
