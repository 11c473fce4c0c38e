// NPC dialogs, the market, boards, queries, motions and stat points through the real server
// on the sample world. The sample town's NPCs have ids 50000 (shopkeeper, (22, 30)) to 50006 in
// file order; the guide, added after the file, is 50007 at (30, 34).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

using Vars = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kBoard = 50002;  // no script, next to the spawn point
constexpr uint32_t kGuide = 50007;  // script "VornhalTest"

class NpcDialogs : public SampleWorld {};

uint32_t GlodOf(const std::vector<Frame>& frames) {
  auto status = OfId(frames, sid::kStatus);
  if (status.empty()) throw std::runtime_error("no status packet");
  return client::ParseStatus(status.back()).glod;
}

TEST_F(NpcDialogs, TalkWithoutScriptShowsTheEffectToTheArea) {
  Player& p = Enter(NewName("np"));
  Player& near = Enter(NewName("near"));
  p.zone.Drain(kQuiet);
  auto frames = p.Request(client::CObjectInfoRequestPacket(1, kBoard, 3));
  ASSERT_EQ(Ids(frames), std::vector<sid>{sid::kEffect});
  client::Effect e = client::ParseEffect(frames[0]);
  EXPECT_FALSE(e.at_position);
  EXPECT_EQ(e.object_id, kBoard);
  EXPECT_EQ(e.effect, 238);
  EXPECT_EQ(e.value, 100);
  EXPECT_EQ(Ids(near.Settle()), std::vector<sid>{sid::kEffect});
  EXPECT_TRUE(server->WaitForLog("CObjectInfoRequestPacket: type 1 id 50002 flags 3", 2000));

  EXPECT_TRUE(p.Request(client::CObjectInfoRequestPacket(2, kBoard)).empty());
  EXPECT_TRUE(server->WaitForLog("CObjectInfoRequestPacket: type 2 id 50002 flags 0", 2000));
  EXPECT_TRUE(p.Request(client::CObjectInfoRequestPacket(1, 49999)).empty());
  EXPECT_TRUE(near.Settle().empty());
}

TEST_F(NpcDialogs, TalkWithScriptOpensTheGuideDialog) {
  Player& p = Enter(NewName("np"));
  auto frames = p.Request(client::CObjectInfoRequestPacket(1, kGuide));
  ASSERT_EQ(Ids(frames), std::vector<sid>{sid::kScript});
  client::ScriptPacket s = client::ParseScript(frames[0]);
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.name, "VornhalTest");
  EXPECT_EQ(s.object_id, kGuide);
  EXPECT_EQ(s.dialogs.size(), 20u);
  EXPECT_EQ(s.vars, (Vars{{"UCOLOR", "16711935"}, {"MNAME", "エミュ鯖ガイド"}, {"UBAL", "0"},
                          {"UAGOLD", "99998000"}, {"UABAL", "100000000"}, {"TILE", "16425"},
                          {"UGOLD", "2000"}}));
}

TEST_F(NpcDialogs, EndingTheGuideScriptWarpsToTheMeadow) {
  Player& p = Enter(NewName("np"));
  auto frames = p.Request(client::CScriptEndPacket("whatever", kGuide));
  ASSERT_GE(frames.size(), 2u);
  ASSERT_EQ(frames[0].id, sid::kScript);
  client::ScriptPacket end = client::ParseScript(frames[0]);
  EXPECT_EQ(end.code, 2);
  EXPECT_EQ(end.name, "VornhalTest");
  EXPECT_EQ(end.object_id, kGuide);
  auto info = OfId(frames, sid::kMapInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(client::ParseMapInfo(info[0]).id, 1);
  auto pos = OfId(frames, sid::kPlayerPosition);
  ASSERT_EQ(pos.size(), 1u);
  EXPECT_EQ(client::ParsePlayerPosition(pos[0]).x, 65);
  EXPECT_EQ(client::ParsePlayerPosition(pos[0]).y, 50);

  // An NPC without script ends nothing.
  EXPECT_TRUE(p.Request(client::CScriptEndPacket("x", kBoard)).empty());
}

TEST_F(NpcDialogs, MarketOpensWithTheCurrentGlodAndSellsSticksForFree) {
  Player& p = Enter(NewName("np"));
  const uint32_t glod = GlodOf(p.Command("@glod 1234"));

  auto frames = p.Request(client::CScriptVariablesPacket("nMiAllMarket01", kGuide, {{"TYPE", "BUY"}}));
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kScript, sid::kScript}));
  client::ScriptPacket opened = client::ParseScript(frames[0]);
  EXPECT_EQ(opened.code, 2);
  EXPECT_EQ(opened.name, "nMiAllMarket01");
  client::ScriptPacket market = client::ParseScript(frames[1]);
  EXPECT_EQ(market.code, 0);
  EXPECT_EQ(market.object_id, kGuide);
  ASSERT_EQ(market.vars.size(), 26u);
  EXPECT_EQ(market.vars[6], (std::pair<std::string, std::string>{"UGOLD", std::to_string(glod)}));
  EXPECT_EQ(market.vars[1].second, "マリ");
  EXPECT_EQ(market.vars[18], (std::pair<std::string, std::string>{"K0", "stick1"}));

  for (uint8_t expected_slot : {1, 2}) {
    frames = p.Request(client::CScriptVariablesPacket("nMiAllMarket01", kGuide, {{"I", "0"}, {"U", "1"}}));
    auto items = OfId(frames, sid::kInventoryItem);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(client::ParseInventoryItem(items[0]).key, "stick1");
    EXPECT_EQ(client::ParseInventoryItem(items[0]).slot, expected_slot);
    EXPECT_EQ(Messages(frames), std::vector<std::string>{"木の棒 を 1 個入手しました"});
  }
  EXPECT_TRUE(p.Request(client::CScriptVariablesPacket("nMiAllMarket01", kGuide, {{"U", "1"}, {"I", "0"}})).empty());
  EXPECT_TRUE(p.Request(client::CScriptVariablesPacket("nMiAllMarket01", kGuide, {{"TYPE", "SELL"}})).empty());

  // Nothing was charged: the next opening shows the same Glod.
  frames = p.Request(client::CScriptVariablesPacket("nMiAllMarket01", kGuide, {{"TYPE", "BUY"}}));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(client::ParseScript(frames[1]).vars.at(6).second, std::to_string(glod));
  EXPECT_TRUE(server->WaitForLog("  TYPE=BUY", 2000));
}

TEST_F(NpcDialogs, HitPointQueries) {
  Player& p = Enter(NewName("np"));
  auto frames = p.Request(client::CHPInfoRequestPacket(5));
  ASSERT_EQ(frames.size(), 1u);
  client::HPInfo hp = client::ParseHPInfo(frames[0]);
  EXPECT_EQ(hp.id, 5u);
  EXPECT_EQ(hp.kind, 0);
  EXPECT_EQ(hp.percent, 100);

  frames = p.Request(client::CHPInfoRequestPacket(p.id));
  ASSERT_EQ(frames.size(), 1u);
  hp = client::ParseHPInfo(frames[0]);
  EXPECT_EQ(hp.id, p.id);
  EXPECT_EQ(hp.kind, 1);
  EXPECT_EQ(hp.percent, 100);
  EXPECT_TRUE(p.Request(client::CHPInfoRequestPacket(0x3FFFFFF)).empty());
}

TEST_F(NpcDialogs, StatPointsAreSpentOnlyWhileTheyLast) {
  Player& p = Enter(NewName("np"));
  EXPECT_TRUE(p.Request(client::CStatUpPacket(1)).empty()) << "a new character has no points";

  // Six practice dummies (100 experience each) reach level 2, which brings one point.
  bool levelled = false;
  for (int kill = 0; kill < 6; ++kill) {
    auto shown = OfId(p.Command("@summon"), sid::kMapObjects);
    ASSERT_FALSE(shown.empty());
    uint32_t mob = client::ParseMapObjects(shown.back()).at(0).id;
    auto seen = AttackUntilDead(p, mob);
    ASSERT_EQ(seen.back().id, sid::kDie);
    for (const std::string& m : Messages(seen)) levelled = levelled || m == "レベルが上がりました";
  }
  ASSERT_TRUE(levelled);

  auto frames = p.Request(client::CStatUpPacket(1));
  ASSERT_EQ(Ids(frames), std::vector<sid>{sid::kStatus});
  client::Status st = client::ParseStatus(frames[0]);
  EXPECT_EQ(st.sections, 0x0060);
  EXPECT_EQ(st.str, 4);
  EXPECT_EQ(st.stat_point, 0);
  EXPECT_TRUE(p.Request(client::CStatUpPacket(1)).empty());
  EXPECT_TRUE(p.Request(client::CStatUpPacket(2)).empty());
}

}  // namespace
}  // namespace vornhal::e2e
