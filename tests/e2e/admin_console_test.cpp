// Console commands typed into the real server's standard input, answered in its log.
#include <gtest/gtest.h>

#include "e2e/admin_support.h"

namespace vornhal::e2e {
namespace {

using Strings = std::vector<std::string>;

class AdminConsole : public AdminWorld {
 protected:
  // Sends the line and waits until the log shows it was taken (each command is logged).
  void Type(const std::string& line) {
    std::string shown = line;
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    const std::string echo = "[Console] > " + shown;
    int before = server->CountInLog(echo);
    ASSERT_TRUE(server->SendConsole(line));
    ASSERT_TRUE(WaitForCount(echo, before + 1)) << server->Log();
  }
  // Sends the line and waits for the answer.
  void Expect(const std::string& line, const std::string& answer) {
    int before = server->CountInLog(answer);
    Type(line);
    EXPECT_TRUE(WaitForCount(answer, before + 1)) << line << "\n" << server->Log();
  }
};

TEST_F(AdminConsole, HelpPlayersUnknownAndBlankLines) {
  Enter("alice");
  Expect("help", "[Console] stop ");
  for (const char* command : {"players", "kick <", "say <", "save ", "gm <", "ban ip|name", "unban ip|name"}) {
    EXPECT_NE(server->Log().find(std::string("[Console] ") + command), std::string::npos) << command;
  }
  Expect("players", "[Console]   alice  マップ 10055 (17, 35)  Lv 1  127.0.0.1  GM 0");
  EXPECT_NE(server->Log().find("[Console] ワールドにいるキャラクター: 1人"), std::string::npos);
  Expect("frobnicate now", "[Console] 不明なコマンドです: frobnicate");
  // Upper case and a CR line end (a Windows terminal) are the same command.
  Expect("PLAYERS\r", "ワールドにいるキャラクター: 1人");
  // A blank line is neither a command nor an error.
  int errors = server->CountInLog("不明なコマンド");
  ASSERT_TRUE(server->SendConsole("   "));
  Expect("help", "[Console] help ");
  EXPECT_EQ(server->CountInLog("不明なコマンド"), errors);
}

TEST_F(AdminConsole, SayKickGmAndSave) {
  Player& alice = Enter("alice");
  Player& bob = Enter("bob");
  alice.zone.Drain(kQuiet);
  bob.zone.Drain(kQuiet);

  Expect("say 10分後にメンテナンス  です", "[Console] 全員に送信しました: 10分後にメンテナンス  です");
  for (Player* p : {&alice, &bob}) EXPECT_EQ(Messages(p->Settle()), Strings{"10分後にメンテナンス  です"});
  Expect("say", "[Console] 使い方: say");

  Expect("gm bob 3", "[Console] キャラクター \"bob\" のGMレベルを3にしました");
  EXPECT_NE(SaveFile("bob").find("\"AdminLv\": 3"), std::string::npos) << SaveFile("bob");
  Expect("gm nobody 3", "[Console] キャラクター \"nobody\" は存在しません");
  Expect("gm bob 300", "[Console] 使い方: gm");
  Expect("gm bob", "[Console] 使い方: gm");

  Expect("kick nobody", "[Console] キャラクター \"nobody\" はワールドにいません");
  alice.Request(client::CMovePacket(2, 0));
  Expect("kick alice", "[Console] キャラクター \"alice\" を切断しました");
  EXPECT_TRUE(alice.zone.WaitClosed(Millis(5000)));
  // The socket closes before the departure is handled: the others hear of it a moment later.
  std::optional<Frame> left = bob.zone.WaitFor(sid::kMessage, Millis(5000));
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(client::ParseMessage(*left).text, "[alice]さんがログアウトしました");
  EXPECT_EQ(Messages(bob.Settle()), Strings{});
  Expect("players", "ワールドにいるキャラクター: 1人");

  Expect("save", "[Console] 保存: 2 キャラ");
  EXPECT_NE(SaveFile("alice").find("\"Y\": 36"), std::string::npos) << SaveFile("alice");
}

TEST_F(AdminConsole, EndOfInputOnlyStopsTheReading) {
  server->CloseConsole();
  EXPECT_TRUE(server->WaitForLog("コンソールコマンドの受付を終了します", 5000)) << server->Log();
  // The server runs on and still answers.
  Enter("alice");
  EXPECT_EQ(Get("/api/players").json().size(), 1u);
  EXPECT_TRUE(server->Running());
}

TEST_F(AdminConsole, StopShutsDownCleanly) {
  Player& alice = Enter("alice");
  alice.Request(client::CMovePacket(1, 0));
  Type("stop");
  EXPECT_EQ(server->WaitForExit(30000), 0) << server->Log();
  EXPECT_EQ(server->CountInLog("Vornhalを終了しました"), 1);
  EXPECT_NE(SaveFile("alice").find("\"X\": 18"), std::string::npos);
}

}  // namespace
}  // namespace vornhal::e2e

namespace vornhal::e2e {
namespace {

TEST_F(AdminConsole, BanAndUnban) {
  Player& bob = Enter("bob");
  const std::string bans = server->root + "/bans.txt";
  Expect("ban name bob 10 griefing at the gate", "[Console] BAN: name \"bob\" 10分 理由: griefing at the gate");
  EXPECT_TRUE(bob.zone.WaitClosed(Millis(5000)));
  EXPECT_NE(test::ServerProcess::ReadText(bans).find("name bob "), std::string::npos);
  Expect("ban name nobody", "[Console] キャラクター \"nobody\" は存在しません");
  Expect("ban ip 300.1.1.1", "[Console] BANできませんでした");
  Expect("ban planet x", "[Console] 使い方: ban");
  Expect("ban ip 10.1.2.3 soon", "[Console] 使い方: ban");
  Expect("unban name bob", "[Console] BAN解除: name \"bob\"");
  EXPECT_EQ(test::ServerProcess::ReadText(bans).find("name bob "), std::string::npos);
  Expect("unban name bob", "[Console] BANはありません: name \"bob\"");
  Expect("ban ip 10.1.2.3", "[Console] BAN: ip \"10.1.2.3\" 0分");
  Expect("unban ip 10.1.2.3", "[Console] BAN解除: ip \"10.1.2.3\"");
}

}  // namespace
}  // namespace vornhal::e2e
