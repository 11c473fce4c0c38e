// GM commands typed into chat, through the real server on the sample world.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

using Strings = std::vector<std::string>;

// What a command answers for itself (help texts, refusals of bad arguments) is checked by the
// unit tests of the commands; these tests check what needs the real server: its connections,
// the sample world's data, several players, the log.
class GmCommands : public SampleWorld {};

TEST_F(GmCommands, BlankCountAndWhere) {
  Player& p = Enter(NewName("gm"));
  EXPECT_TRUE(p.Command("@").empty());
  EXPECT_EQ(Messages(p.Command("@count")), Strings{"現在の接続人数 [1人]"});
  EXPECT_EQ(Messages(p.Command("@where")), Strings{"[10055] ヴォルンハルの町 (17, 35)"});
}

TEST_F(GmCommands, HairColorReachesTheAreaAndCountsItsArguments) {
  Player& gm = Enter(NewName("gm"));
  Player& other = Enter(NewName("near"));
  gm.zone.Drain(kQuiet);
  auto frames = gm.Command("@haircolor 300 -5 x");
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kCharaAppear, sid::kMessage}));
  EXPECT_EQ(client::ParseCharaAppear(frames[0]).id, gm.id);
  EXPECT_EQ(Messages(frames), Strings{"HairColorを変更しました"});
  auto seen = OfId(other.Settle(), sid::kCharaAppear);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(client::ParseCharaAppear(seen[0]).id, gm.id);

  EXPECT_EQ(Messages(gm.Command("@haircolor 1 2")), Strings{"[エラー] 引数の数が不正です"});
  EXPECT_TRUE(OfId(other.Settle(), sid::kCharaAppear).empty());
}

TEST_F(GmCommands, GotoMapNumbersAndMissingCoordinates) {
  Player& p = Enter(NewName("gm"));
  // 99999 is map 34463 as a 16-bit number, which the sample world does not have.
  EXPECT_EQ(Messages(p.Command("@goto 99999 65 50")), Strings{"[エラー] 存在しないMapIDです"});
  EXPECT_TRUE(p.Command("@goto 1 65").empty());
  EXPECT_EQ(Messages(p.Command("@goto 10055 30 60")), Strings{"[エラー] 移動できない座標です"});
  EXPECT_EQ(Messages(p.Command("@goto 10055 500 500")), Strings{"[エラー] 移動できない座標です"});
  EXPECT_EQ(Messages(p.Command("@where")), Strings{"[10055] ヴォルンハルの町 (17, 35)"});

  auto frames = p.Command("@goto 1 65 50");
  auto info = OfId(frames, sid::kMapInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(client::ParseMapInfo(info[0]).id, 1);
  auto pos = OfId(frames, sid::kPlayerPosition);
  ASSERT_EQ(pos.size(), 1u);
  EXPECT_EQ(client::ParsePlayerPosition(pos[0]).x, 65);
  EXPECT_EQ(client::ParsePlayerPosition(pos[0]).y, 50);
  EXPECT_EQ(Messages(p.Command("@where")), Strings{"[1] 南の草原 (65, 50)"});
  p.Command("@move 70 52");
  EXPECT_EQ(Messages(p.Command("@where")), Strings{"[1] 南の草原 (70, 52)"});
}

TEST_F(GmCommands, ShoutReachesEveryoneWithTheFirstWordOnly) {
  Player& gm = Enter(NewName("gm"));
  Player& far = Enter(NewName("far"));
  far.Command("@goto 1 65 50");  // well out of the shouter's area
  gm.zone.Drain(kQuiet);
  EXPECT_TRUE(gm.Command("@shout").empty());
  auto own = OfId(gm.Command("@shout hello world"), sid::kChat);
  ASSERT_EQ(own.size(), 1u);
  auto chats = OfId(far.Settle(), sid::kChat);
  ASSERT_EQ(chats.size(), 1u);
  client::Chat chat = client::ParseChat(chats[0]);
  EXPECT_EQ(chat.type, 1);
  EXPECT_EQ(chat.speaker_id, gm.id);
  EXPECT_EQ(chat.line, "[" + gm.name + "]: hello");
}

TEST_F(GmCommands, PacketSendsRawBytesOrFailsCleanly) {
  Player& p = Enter(NewName("gm"));
  auto frames = p.Command("@packet 0D0102");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id, TServerPacketId::kChat);
  EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{1, 2}));

  int errors = server->CountInLog("Parse Error");
  EXPECT_TRUE(p.Command("@packet 0DZZ").empty());
  EXPECT_TRUE(server->WaitForLog("Parse Error", 2000));
  EXPECT_EQ(server->CountInLog("Parse Error"), errors + 1);
  // The connection carries on.
  EXPECT_EQ(Messages(p.Command("@count")), Strings{"現在の接続人数 [1人]"});
}

TEST_F(GmCommands, ItemRemoveItemAndGlod) {
  Player& p = Enter(NewName("gm"));
  auto frames = p.Command("@item Helixir");
  auto items = OfId(frames, sid::kInventoryItem);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(client::ParseInventoryItem(items[0]).key, "helixir");
  EXPECT_EQ(client::ParseInventoryItem(items[0]).count, 1);
  EXPECT_EQ(Messages(frames), Strings{"回復薬 を 1 個入手しました"});

  frames = p.Command("@removeitem 64");
  ASSERT_EQ(Ids(frames), std::vector<sid>{sid::kInventoryClear});
  EXPECT_EQ(client::ParseInventoryClear(frames[0]), 64);

  frames = p.Command("@glod 4294967295");
  auto status = OfId(frames, sid::kStatus);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(client::ParseStatus(status[0]).glod, 500000000u);
  EXPECT_EQ(Messages(frames), Strings{"4294967295グロッドを手に入れました"});
}

TEST_F(GmCommands, PortalShowsEffectsOnEveryTileOfTheNearbyPortal) {
  Player& p = Enter(NewName("gm"));
  p.Command("@goto 10055 39 54");
  auto frames = p.Command("@portal");
  // The town's portal covers (38, 57)-(41, 58): eight tiles, row by row.
  std::vector<std::pair<int, int>> tiles;
  for (const Frame& f : frames) {
    ASSERT_EQ(f.id, sid::kEffect);
    client::Effect e = client::ParseEffect(f);
    EXPECT_TRUE(e.at_position);
    EXPECT_EQ(e.effect, 118);
    tiles.emplace_back(e.x, e.y);
  }
  EXPECT_EQ(tiles, (std::vector<std::pair<int, int>>{
                       {38, 57}, {39, 57}, {40, 57}, {41, 57}, {38, 58}, {39, 58}, {40, 58}, {41, 58}}));
  frames = p.Command("@portal 7");
  ASSERT_EQ(frames.size(), 8u);
  EXPECT_EQ(client::ParseEffect(frames[0]).effect, 7);
  // At the spawn point no portal is near.
  p.Command("@goto 10055 17 35");
  EXPECT_TRUE(p.Command("@portal").empty());
}

TEST_F(GmCommands, ReloadOnlyWhenAloneThenReplacesNearbyNpcs) {
  Player& p = Enter(NewName("gm"));
  client::Connection second;
  const int connects = server->CountInLog("[Zone] \"127.0.0.1\" からの接続を開始");
  second.Connect(server->zone_port);
  // The count includes the second connection once the server has accepted it.
  for (int i = 0; i < 500 && server->CountInLog("[Zone] \"127.0.0.1\" からの接続を開始") == connects; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Messages(p.Command("@count")), Strings{"現在の接続人数 [2人]"});
  const int loads = server->CountInLog("のNPCデータをロードしました");
  EXPECT_EQ(Messages(p.Command("@reload")),
            Strings{"[エラー] 他にログインしているプレイヤーがいる時は使用できません"});
  EXPECT_EQ(server->CountInLog("のNPCデータをロードしました"), loads);

  second.Close();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (Messages(p.Command("@count")) != Strings{"現在の接続人数 [1人]"}) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the closed connection is still counted";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  auto frames = p.Command("@reload");
  EXPECT_TRUE(server->WaitForCount("のNPCデータをロードしました", loads + 1, 2000));
  EXPECT_EQ(server->CountInLog("のNPCデータをロードしました"), loads + 1);
  // Near the spawn point (17, 35) stand the shopkeeper (22, 30) and the board (18, 33): the
  // first and third NPCs of the file, ids 50000 and 50002 before and after the reload.
  std::set<uint32_t> removed;
  std::set<uint32_t> shown;
  bool removal_before_show = true;
  for (const Frame& f : frames) {
    if (f.id == sid::kRemoveObject) {
      removed.insert(client::ParseRemoveObject(f));
      removal_before_show = removal_before_show && shown.empty();
    } else if (f.id == sid::kMapObjects) {
      for (const client::MapObject& o : client::ParseMapObjects(f)) {
        EXPECT_TRUE(o.kind == 1 || o.kind == 13) << "kind " << int(o.kind);
        shown.insert(o.id);
      }
    } else {
      ADD_FAILURE() << "unexpected packet " << int(f.id);
    }
  }
  EXPECT_EQ(removed, (std::set<uint32_t>{50000, 50002}));
  EXPECT_EQ(shown, (std::set<uint32_t>{50000, 50002}));
  EXPECT_TRUE(removal_before_show);
  // The guide is back as well: talking to it still opens its script.
  auto talk = OfId(p.Request(client::CObjectInfoRequestPacket(1, 50007)), sid::kScript);
  ASSERT_EQ(talk.size(), 1u);
  EXPECT_EQ(client::ParseScript(talk[0]).name, "VornhalTest");
}

TEST_F(GmCommands, SummonedMobKilledByAttacksPaysItsRewards) {
  Player& p = Enter(NewName("gm"));
  auto frames = p.Command("@summon");
  auto shown = OfId(frames, sid::kMapObjects);
  ASSERT_FALSE(shown.empty());
  std::vector<client::MapObject> objects = client::ParseMapObjects(shown.back());
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].kind, 2);
  EXPECT_EQ(objects[0].name, "ビートミー");
  const uint32_t mob = objects[0].id;

  auto moved = OfId(p.Command("@movemob"), sid::kMobMove);
  EXPECT_EQ(moved.size(), 1u);

  auto seen = AttackUntilDead(p, mob);
  ASSERT_FALSE(seen.empty());
  ASSERT_EQ(seen.back().id, sid::kDie);
  EXPECT_EQ(TWireReader(seen.back().payload).U32(), mob);
  Strings messages = Messages(seen);
  EXPECT_NE(std::find(messages.begin(), messages.end(), "20グロッドを手に入れました"), messages.end());
  EXPECT_NE(std::find(messages.begin(), messages.end(), "経験値が 100 上がりました"), messages.end());
  // The dead mob is gone: another attack is refused with the refusal motion only.
  auto after = p.Request(client::CAttackPacket(mob));
  for (const Frame& f : after) EXPECT_NE(f.id, sid::kAttack);

  auto slime = OfId(p.Command("@summon スライム"), sid::kMapObjects);
  ASSERT_FALSE(slime.empty());
  EXPECT_EQ(client::ParseMapObjects(slime.back()).at(0).name, "スライム");
  EXPECT_TRUE(p.Command("@summon いない").empty());
}

TEST_F(GmCommands, TestWindowsEffectsAndDrops) {
  Player& p = Enter(NewName("gm"));
  auto frames = p.Command("@effect 5");
  ASSERT_EQ(frames.size(), 1u);
  client::Effect e = client::ParseEffect(frames[0]);
  EXPECT_TRUE(e.at_position);
  EXPECT_EQ(e.x, 19);
  EXPECT_EQ(e.y, 35);
  EXPECT_EQ(e.effect, 5);

  frames = p.Command("@browser");
  ASSERT_EQ(frames.size(), 1u);
  client::Web web = client::ParseWeb(frames[0]);
  EXPECT_EQ(web.kind, 4);
  EXPECT_EQ(web.text, "test.html");
  EXPECT_EQ(web.flag, std::optional<uint8_t>(1));
  EXPECT_EQ(Ids(p.Command("@shop")), std::vector<sid>{sid::kShopWindow});

  frames = p.Command("@droptest");
  ASSERT_EQ(frames.size(), 50u);
  for (const Frame& f : frames) {
    auto objects = client::ParseMapObjects(f);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].kind, 3);
  }
  // Picking one up gives a stack of 20.
  uint32_t first = client::ParseMapObjects(frames[0]).at(0).id;
  auto items = OfId(p.Request(client::CPickItemPacket(first)), sid::kInventoryItem);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(client::ParseInventoryItem(items[0]).count, 20);
}

}  // namespace
}  // namespace vornhal::e2e
