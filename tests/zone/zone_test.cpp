// The Zone server's handlers, driven through its packet handler on a small world: two maps
// joined by a portal, NPCs with and without script, and recording connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "data/common.h"
#include "data/database.h"
#include "login/client_body.h"
#include "login/multi.h"
#include "platform/clock.h"
#include "support/test_world.h"
#include "world/world.h"
#include "world/npc.h"
#include "world/packets.h"
#include "zone/zone.h"

namespace vornhal {
namespace {

using test::Body;
using cid = TZoneClientPacketId;
using test::Frame;
using sid = TServerPacketId;
using test::PayloadOf;
using test::Reader;
using test::RecordingConnection;

std::vector<TServerPacketId> Ids(const std::vector<Frame>& frames) {
  std::vector<TServerPacketId> ids;
  for (const Frame& f : frames) ids.push_back(f.id);
  return ids;
}

class ZoneTest : public test::FreshWorldWithFolder {
 protected:
  ZoneTest() : FreshWorldWithFolder("vornhal-zone"), root_(folder_.Path()) {}
  void SetUp() override {
    FreshWorldWithFolder::SetUp();
    test::TownAndField world = World.BuildTownAndField();
    town = world.town;
    field = world.field;

    World.AddItemData("stick1", "stick1", 1, 1);
    World.AddItemData("potion", "potion", 0, 0);
    for (const char* name : kDialogNames) ScriptCRCs[name] = 7;
    ScriptCRCs["VornhalTest"] = 11;
    ScriptCRCs["nMiAllMarket01"] = 12;

    guide = Npc("ガイド", "VornhalTest");
    statue = Npc("像", "");
    lost = Npc("迷子", "NoSuchScript");
  }
  void TearDown() override {
    for (auto& c : conns_) {
      if (c->Data != nullptr && c->Data->Chara() != nullptr) {
        TChara* tc = c->Data->Chara();
        tc->Map->DeleteChara(tc);
      }
      c->Data.reset();
    }
    FreshWorldWithFolder::TearDown();
  }

  TNpc* Npc(const std::string& name, const std::string& script) {
    return World.AddNpc(name, script, 10055, TMapPoint{12, 12});
  }
  TChara* NewChara(const std::string& name, uint16_t x, uint16_t y) {
    return World.AddChara(name, TMapPoint{x, y});
  }
  std::shared_ptr<RecordingConnection> Connect(const std::string& ip = "127.0.0.1") {
    auto c = std::make_shared<RecordingConnection>(ip);
    c->Data = std::make_unique<TZoneSession>(&server, World);
    conns_.push_back(c);
    return c;
  }
  void Send(RecordingConnection& c, const Body& body) { test::Feed(*c.Data, c, body); }
  Body ZoneLogin(const std::string& name) {
    Body b(cid::kZoneLogin);
    b.U8(0).Str("").Str(name);
    return b;
  }
  // A Multi login's ticket, then the zone login; answers cleared.
  std::shared_ptr<RecordingConnection> Enter(TChara* tc) {
    auto c = Connect();
    World.ZoneTickets.Issue(tc->FName, c->PeerIP(), TickCount());
    test::CapturedLog([&] { Send(*c, ZoneLogin(tc->FName)); });
    EXPECT_TRUE(tc->InWorld());
    c->Clear();
    return c;
  }
  static size_t Listed(const std::vector<TChara*>& list, const TChara* tc) {
    return static_cast<size_t>(std::count(list.begin(), list.end(), tc));
  }
  static std::string LogOf(RecordingConnection& c, const Body& body, TSession* session = nullptr) {
    return test::CapturedLog([&] { test::Feed(session ? *session : *c.Data, c, body); });
  }

  const std::string root_;
  TZoneServer server{World, "Zone", 11010};
  std::vector<std::shared_ptr<RecordingConnection>> conns_;
  TMap* town = nullptr;
  TMap* field = nullptr;
  TNpc* guide = nullptr;
  TNpc* statue = nullptr;
  TNpc* lost = nullptr;
};

TEST_F(ZoneTest, EnteringSequenceInOrder) {
  TChara* tc = NewChara("alice", 10, 10);
  tc->Inventory().Add(World.ItemDB.Find("potion"), 3, false);
  std::unique_ptr<TItem> stick = std::make_unique<TItem>(World.ItemDB.Find("stick1"), 1);
  tc->Equipments().Add(1, stick);
  TChara* bob = NewChara("bob", 12, 10);
  auto bob_conn = Enter(bob);

  auto c = Connect();
  World.ZoneTickets.Issue("alice", "127.0.0.1", TickCount());
  std::string log = test::CapturedLog([&] { Send(*c, ZoneLogin("ALICE")); });
  EXPECT_NE(log.find("[Zone] キャラクター \"alice\" がログイン"), std::string::npos) << log;

  using S = TServerPacketId;
  std::vector<S> expected(14, S::kSkill);
  for (S id : {S::kEquipItem, S::kStatus, S::kEnterValues, S::kInventoryItem, S::kEnterSetup,
               S::kPlayerInfo, S::kMapInfo, S::kSound, S::kSignal, S::kPlayerPosition,
               S::kWeather, S::kStatus, S::kCharaAppear, S::kEnterEnd, S::kMessage,
               S::kCharaAppear, S::kCharaAppear, S::kMapObjects}) {
    expected.push_back(id);
  }
  auto frames = c->Frames();
  EXPECT_EQ(Ids(frames), expected);
  ASSERT_GE(frames.size(), 29u);
  Reader greeting(frames[28].payload);
  EXPECT_EQ(greeting.U8(), 3);
  EXPECT_EQ(greeting.U8(), 0);
  EXPECT_EQ(greeting.Str16(), "[Vornhal Ver.0.2.5]");
  // bob sees alice appear.
  EXPECT_EQ(bob_conn->Ids(), (std::vector<sid>{sid::kCharaAppear}));

  EXPECT_TRUE(tc->InWorld());
  EXPECT_EQ(tc->Conn(), c.get());
  EXPECT_EQ(Listed(town->CList, tc), 1u);
  EXPECT_EQ(Listed(town->BlockAt(10, 10)->CList, tc), 1u);
}

TEST_F(ZoneTest, ZoneLoginNeedsAFreshTicketFromTheSameAddress) {
  TChara* tc = NewChara("eve", 10, 10);
  auto c = Connect("127.0.0.1");
  std::string log = LogOf(*c, ZoneLogin("eve"));
  EXPECT_NE(log.find("\"eve\" (127.0.0.1)"), std::string::npos) << log;
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_FALSE(tc->LoggedIn());

  World.ZoneTickets.Issue("eve", "10.0.0.8", TickCount());
  LogOf(*c, ZoneLogin("eve"));
  EXPECT_FALSE(tc->LoggedIn());

  SetTickOverride(true, 5000);
  World.ZoneTickets.Issue("eve", "127.0.0.1", 5000);
  SetTickOverride(true, 65001);
  LogOf(*c, ZoneLogin("eve"));
  SetTickOverride(false);
  EXPECT_FALSE(tc->LoggedIn());
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_TRUE(LogOf(*c, ZoneLogin("nobody")).empty());
}

TEST_F(ZoneTest, SecondZoneLoginForACharacterInTheWorld) {
  TChara* tc = NewChara("frank", 10, 10);
  auto first = Enter(tc);
  auto second = Connect();
  World.ZoneTickets.Issue("frank", "127.0.0.1", TickCount());
  LogOf(*second, ZoneLogin("frank"));
  EXPECT_TRUE(second->Frames().empty());
  EXPECT_EQ(tc->Conn(), first.get());
  EXPECT_EQ(Listed(town->CList, tc), 1u);

  // The first connection is closing but its disconnect handling has not run yet.
  first->SetConnected(false);
  World.ZoneTickets.Issue("frank", "127.0.0.1", TickCount());
  LogOf(*second, ZoneLogin("frank"));
  EXPECT_EQ(tc->Conn(), second.get());
  EXPECT_EQ(first->Data->Chara(), nullptr);
  EXPECT_EQ(Listed(town->CList, tc), 1u);
  EXPECT_EQ(Listed(town->BlockAt(10, 10)->CList, tc), 1u);
}

TEST_F(ZoneTest, TakesOverFromTheMultiLogin) {
  TChara* tc = NewChara("gina", 10, 10);
  tc->Pass = PasswordDigest("pw");
  TMultiServer multi(World, "Multi", 1510);
  auto mconn = std::make_shared<RecordingConnection>();
  mconn->Data = std::make_unique<TMultiSession>(&multi, World);
  test::CapturedLog([&] { test::Feed(*mconn->Data, *mconn, Body(TMultiClientPacketId::kLogin).Str("gina").Str("pw").U8(0)); });
  ASSERT_EQ(tc->Conn(), mconn.get());
  EXPECT_EQ(tc->Login, TLoginState::kOnMulti);

  auto zconn = Connect();
  LogOf(*zconn, ZoneLogin("gina"));
  EXPECT_EQ(tc->Conn(), zconn.get());
  EXPECT_TRUE(tc->InWorld());
  test::CapturedLog([&] { multi.DoDisconnect(*mconn); });
  EXPECT_TRUE(tc->InWorld());
  EXPECT_EQ(tc->Conn(), zconn.get());
}

TEST_F(ZoneTest, HandlersNeedTheCharacterExceptQueries) {
  auto c = Connect();
  EXPECT_THROW(Send(*c, Body(cid::kMove).U8(1).U8(0).U8(0)), std::runtime_error);
  EXPECT_THROW(Send(*c, Body(cid::kChat).U8(0).Str("hello")), std::runtime_error);
  EXPECT_TRUE(c->Frames().empty());
  Send(*c, Body(cid::kSignalRequest).U32(0));
  Send(*c, Body(cid::kBattleMatchList));
  Send(*c, Body(cid::kHPInfoRequest).U32(5));
  auto frames = c->Frames();
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kSignal, sid::kMessage, sid::kHPInfo}));
  EXPECT_EQ(frames[0].payload, PayloadOf(SSignalPacket(2)));
  EXPECT_EQ(frames[1].payload, PayloadOf(SMessagePacket(8, "今はバトルマッチリストが見られません。")));
  EXPECT_EQ(frames[2].payload, PayloadOf(SHPInfoPacket(5, nullptr)));
}

TEST_F(ZoneTest, StepsOffTheGridAndPortals) {
  TChara* tc = NewChara("hank", 43, 10);  // x 43 is the last column of the grid (Width 40)
  auto c = Enter(tc);
  Send(*c, Body(cid::kMove).U8(9).U8(200).U8(0));
  Send(*c, Body(cid::kMove).U8(1).U8(1).U8(0));  // east, off the grid
  EXPECT_EQ(tc->Point, (TMapPoint{43, 10}));
  EXPECT_EQ(Ids(c->Frames()), (std::vector<sid>{sid::kMoveAck, sid::kMoveAck}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SMoveAckPacket(*tc, 200)));

  c->Clear();
  Send(*c, Body(cid::kMove).U8(3).U8(2).U8(0));  // west
  EXPECT_EQ(tc->Point, (TMapPoint{42, 10}));
  EXPECT_EQ(Listed(town->BlockAt(42, 10)->CList, tc), 1u);

  TChara* ivy = NewChara("ivy", 20, 19);
  auto ic = Enter(ivy);
  Send(*ic, Body(cid::kMove).U8(2).U8(3).U8(0));  // south into the portal's source area
  EXPECT_EQ(ivy->Map, field);
  EXPECT_EQ(ivy->Point, (TMapPoint{30, 30}));
  EXPECT_EQ(ivy->Dir, 2);
  EXPECT_EQ(Listed(field->CList, ivy), 1u);
  EXPECT_EQ(Listed(town->CList, ivy), 0u);
}

TEST_F(ZoneTest, PathMoveKeepsTheBlockLists) {
  TChara* tc = NewChara("jack", 10, 10);
  TChara* kim = NewChara("kim", 12, 12);
  auto c = Enter(tc);
  auto k = Enter(kim);
  c->Clear();
  k->Clear();
  Send(*c, Body(cid::kPathMove).U16(17).U16(10).U8(1).U8(2).U8(1).U8(1).U16(18).U16(10).U8(1));
  EXPECT_EQ(tc->Point, (TMapPoint{17, 10}));
  EXPECT_EQ(tc->NextPoint, (TMapPoint{18, 10}));
  EXPECT_EQ(Listed(town->BlockAt(10, 10)->CList, tc), 0u);
  EXPECT_EQ(Listed(town->BlockAt(17, 10)->CList, tc), 1u);
  EXPECT_TRUE(c->Frames().empty());
  ASSERT_EQ(k->Ids(), (std::vector<sid>{sid::kPathMove}));
  EXPECT_EQ(k->Frames()[0].payload, PayloadOf(SPathMovePacket(*tc, {1, 1})));

  Send(*c, Body(cid::kPathMove).U16(500).U16(10).U8(1).U8(0).U16(501).U16(10).U8(1));
  EXPECT_EQ(tc->Point, (TMapPoint{17, 10}));
  EXPECT_EQ(Listed(town->BlockAt(17, 10)->CList, tc), 1u);
}

TEST_F(ZoneTest, ChatAndWhispers) {
  TChara* tc = NewChara("lena", 10, 10);
  NewChara("offline", 5, 5);
  auto c = Enter(tc);
  Send(*c, Body(cid::kChat).U8(0).Str(""));
  Send(*c, Body(cid::kChat).U8(0).Str("@"));
  Send(*c, Body(cid::kWhisper).U8(0).Str("!1").Str("hi"));
  EXPECT_TRUE(c->Frames().empty());
  Send(*c, Body(cid::kChat).U8(2).Str("hello"));
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kChat}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SChatPacket(2, *tc, "hello")));
  c->Clear();

  auto whisper = [&](const std::string& to) {
    c->Clear();
    Send(*c, Body(cid::kWhisper).U8(0).Str(to).Str("hi"));
    std::vector<std::string> texts;
    for (const Frame& f : c->Frames()) {
      Reader r(f.payload);
      EXPECT_EQ(r.U8(), 0);
      texts.push_back(r.Str16());
    }
    return texts;
  };
  EXPECT_EQ(whisper("ghost"), (std::vector<std::string>{"存在しないキャラクターです (hi)"}));
  EXPECT_EQ(whisper("OFFLINE"), (std::vector<std::string>{"ログインしていないキャラクターです (hi)"}));
  // Logged in on the Multi server only: not in the world yet, and its connection hears nothing.
  TChara* waiting = NewChara("waiting", 6, 6);
  auto multi_conn = std::make_shared<RecordingConnection>();
  waiting->Context.Reset(multi_conn.get());
  waiting->Login = TLoginState::kOnMulti;
  EXPECT_EQ(whisper("waiting"), (std::vector<std::string>{"ログインしていないキャラクターです (hi)"}));
  EXPECT_TRUE(multi_conn->Bytes().empty());
  EXPECT_EQ(whisper("lena"), (std::vector<std::string>{"lena> hi", "lena> hi"}));
}

TEST_F(ZoneTest, DisconnectLogsOutRevivesAndSaves) {
  TChara* tc = NewChara("mona", 10, 10);
  TChara* ned = NewChara("ned", 11, 11);
  auto c = Enter(tc);
  auto n = Enter(ned);
  n->Clear();
  tc->IsDead = true;
  tc->Mode = 4;
  test::CapturedLog([&] { server.DoDisconnect(*c); });
  EXPECT_EQ(c->Data, nullptr);
  EXPECT_FALSE(tc->LoggedIn());
  EXPECT_FALSE(tc->IsDead);
  EXPECT_EQ(tc->Conn(), nullptr);
  EXPECT_EQ(Listed(town->CList, tc), 0u);
  EXPECT_EQ(Listed(town->BlockAt(10, 10)->CList, tc), 0u);
  EXPECT_EQ(n->Ids(), (std::vector<sid>{sid::kRemoveObject}));
  EXPECT_TRUE(std::filesystem::exists(root_ + "/save/mona.json"));

  auto idle = Connect();
  std::string log = test::CapturedLog([&] { server.DoDisconnect(*idle); });
  EXPECT_NE(log.find("からの接続を終了"), std::string::npos);
  EXPECT_EQ(log.find("mona"), std::string::npos);
}

TEST_F(ZoneTest, RevivalDueThirtySecondsAfterDeath) {
  TChara& tc = *NewChara("sam", 10, 10);
  tc.Login = TLoginState::kInWorld;
  tc.IsDead = true;
  tc.DeadTime = 1000;
  EXPECT_FALSE(ReviveDue(tc, 31000));
  EXPECT_TRUE(ReviveDue(tc, 31001));
  tc.DeadTime = 0xFFFFF000u;  // died just before the clock wraps
  EXPECT_FALSE(ReviveDue(tc, 100));
  EXPECT_TRUE(ReviveDue(tc, 30000));
  tc.Login = TLoginState::kOffline;
  EXPECT_FALSE(ReviveDue(tc, 30000));
}

// A death that no packet caused (as a monster's attack on the tick would) is revived by the
// tick 30 s later, and the world's list of the dead is empty again afterwards.
TEST_F(ZoneTest, ADeathOutsideAnyPacketIsRevivedByTheTick) {
  TChara* tc = NewChara("tom", 10, 10);
  TChara* near = NewChara("nils", 11, 11);
  auto c = Enter(tc);
  auto n = Enter(near);
  server.Process(TickCount());  // a tick with nobody dead
  tc->MaxHP = 40;
  tc->DecHP(tc->HP + 5);
  tc->Die();
  ASSERT_TRUE(tc->IsDead);
  EXPECT_EQ(World.DeadCharas, std::vector<TChara*>{tc});
  c->Clear();
  n->Clear();

  const uint32_t died = tc->DeadTime;
  server.Process(died + kReviveDelay);
  EXPECT_TRUE(tc->IsDead) << "revived before its time";
  EXPECT_TRUE(c->Frames().empty());
  server.Process(died + kReviveDelay + 1);
  EXPECT_FALSE(tc->IsDead);
  EXPECT_EQ(tc->HP, 40u);
  EXPECT_TRUE(World.DeadCharas.empty());
  EXPECT_EQ(c->Ids(), (std::vector<sid>{sid::kCharaAppear, sid::kStatus}));
  EXPECT_EQ(n->Ids(), (std::vector<sid>{sid::kCharaAppear}));

  c->Clear();
  server.Process(died + 2 * kReviveDelay);
  EXPECT_TRUE(c->Frames().empty());
}

TEST_F(ZoneTest, TheListOfTheDeadHoldsEachOnceAndForgetsTheRevivedAndTheDeleted) {
  TChara* tc = NewChara("una", 10, 10);
  TChara* gone = NewChara("vera", 12, 12);
  tc->DecHP(tc->HP);
  tc->DecHP(1);  // hit again while dead
  gone->DecHP(gone->HP);
  EXPECT_EQ(World.DeadCharas, (std::vector<TChara*>{tc, gone}));
  delete World.CharaList.Extract(gone);
  EXPECT_EQ(World.DeadCharas, std::vector<TChara*>{tc});
  server.Process(TickCount());  // must not touch the deleted character
  tc->Revive();
  EXPECT_TRUE(World.DeadCharas.empty());
  tc->Revive();
  EXPECT_TRUE(World.DeadCharas.empty());
}

TEST_F(ZoneTest, UseAndChangeSlotVariants) {
  TChara* tc = NewChara("olga", 10, 10);
  auto c = Enter(tc);
  tc->Inventory().Add(World.ItemDB.Find("stick1"), 1, false);  // slot 1
  tc->Inventory().Add(World.ItemDB.Find("stick1"), 1, false);  // slot 2
  TSession& s = *c->Data;

  std::string log = LogOf(*c, Body(cid::kUse).U8(1).U8(2).U8(0).U8(3).U16(1).U16(2).U16(3).U16(65535));
  EXPECT_NE(log.find("CUsePacket: category 1 slot 2 invenType 0 type 3, 1, 2, 3, 65535\n"), std::string::npos) << log;
  EXPECT_EQ(s.ReadPosition(), s.RecvLength());
  EXPECT_NE(LogOf(*c, Body(cid::kUse).U8(1).U8(2).U8(0).U8(1).Str("メモ")).find("type 1, メモ\n"), std::string::npos);
  EXPECT_NE(LogOf(*c, Body(cid::kUse).U8(0).U8(1).U8(2).U8(8).U8(4).U8(5)).find("type 8, slotType 4 slot 5\n"), std::string::npos);
  EXPECT_TRUE(LogOf(*c, Body(cid::kUse).U8(1).U8(1).U8(0).U8(12)).empty());
  EXPECT_TRUE(LogOf(*c, Body(cid::kUse).U8(2).U8(1).U8(0).U8(5)).empty());
  EXPECT_EQ(tc->Equipments().Count(), 0);
  Send(*c, Body(cid::kUse).U8(1).U8(1).U8(0).U8(5));
  EXPECT_EQ(tc->Equipments().Count(), 1);
  EXPECT_TRUE(tc->Inventory().IsEmptySlot(1));

  log = LogOf(*c, Body(cid::kChangeSlot).U8(1).U8(1).U8(2).U8(6));
  EXPECT_NE(log.find("CChangeSlotPacket: type 1 category 1, slot1 2, slot2 6\n"), std::string::npos) << log;
  EXPECT_TRUE(tc->Inventory().IsEmptySlot(6));
  EXPECT_TRUE(LogOf(*c, Body(cid::kChangeSlot).U8(0).U8(1).U8(2).U8(6)).empty());
  EXPECT_FALSE(tc->Inventory().IsEmptySlot(6));
  EXPECT_NE(LogOf(*c, Body(cid::kChangeSlot).U8(2).U8(1).U8(3).U32(70000)).find("type 2 category 1, slot 3, elemAlloc 70000\n"), std::string::npos);
  EXPECT_NE(LogOf(*c, Body(cid::kChangeSlot).U8(7).U8(9)).find("type 7 WeaponAlloc 9\n"), std::string::npos);
  EXPECT_NE(LogOf(*c, Body(cid::kChangeSlot).U8(8).U8(0).U8(1).U8(2).U8(5)).find("type 8 category 0, slot1 1, slot2 2, number 5\n"), std::string::npos);
  EXPECT_NE(LogOf(*c, Body(cid::kChangeSlot).U8(200)).find("CChangeSlotPacket: type 200\n"), std::string::npos);

  tc->Inventory().Add(World.ItemDB.Find("potion"), 10, false);  // slot 1
  tc->Inventory().Add(World.ItemDB.Find("stick1"), 1, false);    // slot 2
  tc->Inventory().Insert(3, std::make_unique<TItem>(World.ItemDB.Find("potion"), 2));
  Send(*c, Body(cid::kChangeSlot).U8(8).U8(1).U8(1).U8(3).U8(5));
  const TInventory& inv = tc->Inventory();
  EXPECT_EQ(inv.GetItem(inv.IndexOfSlot(3))->Item()->Count(), 7);
  EXPECT_EQ(inv.GetItem(inv.IndexOfSlot(1))->Item()->Count(), 5);

  c->Clear();
  Send(*c, Body(cid::kDropItem).U8(0).U8(2).U8(1).U8(1));  // kind 2: nothing
  EXPECT_FALSE(inv.IsEmptySlot(1));
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_NE(LogOf(*c, Body(cid::kItemShop).U8(1).U32(3).U32(4)).find("CItemShopPacket: type 1 value1 3 value2 4\n"), std::string::npos);
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_NE(LogOf(*c, Body(cid::kItemShop).U8(2)).find("CItemShopPacket: type 2\n"), std::string::npos);
  EXPECT_EQ(c->Ids(), (std::vector<sid>{sid::kShopList}));
}

TEST_F(ZoneTest, NpcTalk) {
  TChara* tc = NewChara("pia", 10, 10);
  auto c = Enter(tc);
  std::string log = LogOf(*c, Body(cid::kObjectInfoRequest).U8(1).U32(guide->ObjectID).U16(3));
  EXPECT_NE(log.find("CObjectInfoRequestPacket: type 1 id " + std::to_string(guide->ObjectID) + " flags 3"), std::string::npos);
  TKeyValueList vars{{"UCOLOR", "16711935"}, {"MNAME", "ガイド"},      {"UBAL", "0"},
                     {"UAGOLD", "99998000"}, {"UABAL", "100000000"}, {"TILE", "16500"},
                     {"UGOLD", "2000"}};
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kScript}));
  EXPECT_EQ(c->Frames()[0].payload,
            PayloadOf(SScriptDialogPacket("VornhalTest", guide->ObjectID, ScriptCRCs, vars)));
  c->Clear();

  Send(*c, Body(cid::kObjectInfoRequest).U8(1).U32(statue->ObjectID).U16(0));
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kEffect}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SEffectPacket(*statue, 238, 100)));
  c->Clear();

  LogOf(*c, Body(cid::kObjectInfoRequest).U8(2).U32(guide->ObjectID).U16(0));
  EXPECT_TRUE(c->Frames().empty());
  log = LogOf(*c, Body(cid::kObjectInfoRequest).U8(1).U32(lost->ObjectID).U16(0));
  EXPECT_NE(log.find("\"NoSuchScript\""), std::string::npos) << log;
  EXPECT_TRUE(c->Frames().empty());
}

TEST_F(ZoneTest, MarketAndGuideScripts) {
  TChara* tc = NewChara("quin", 10, 10);
  tc->Glod = 4321;
  auto c = Enter(tc);
  std::string log = LogOf(*c, Body(cid::kScript).U8(1).Str("nMiAllMarket01").U32(77).U16(1).Str("TYPE").Str("BUY"));
  EXPECT_NE(log.find("CScriptPacket: code 1\n"), std::string::npos);
  EXPECT_NE(log.find("scriptName: nMiAllMarket01\n"), std::string::npos);
  EXPECT_NE(log.find("  TYPE=BUY\n"), std::string::npos);
  auto frames = c->Frames();
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kScript, sid::kScript}));
  EXPECT_EQ(frames[0].payload, PayloadOf(SScriptEndPacket("nMiAllMarket01", 77)));
  Reader dialog(frames[1].payload);
  EXPECT_EQ(dialog.U8(), 1);
  EXPECT_EQ(dialog.U8(), 0);
  std::string body = dialog.Raw(dialog.Remaining());
  EXPECT_NE(body.find("\x05UGOLD\x04" "4321"), std::string::npos);
  EXPECT_NE(body.find("\x02K0\x06stick1"), std::string::npos);
  EXPECT_NE(body.find("\x0BGUILDPOINT0\x01" "0"), std::string::npos);
  c->Clear();

  LogOf(*c, Body(cid::kScript).U8(1).Str("nMiAllMarket01").U32(77).U16(2).Str("U").Str("1").Str("I").Str("0"));
  EXPECT_EQ(tc->Inventory().Count(), 0);
  LogOf(*c, Body(cid::kScript).U8(1).Str("nMiAllMarket01").U32(77).U16(2).Str("I").Str("0").Str("U").Str("1"));
  LogOf(*c, Body(cid::kScript).U8(1).Str("nMiAllMarket01").U32(77).U16(2).Str("I").Str("0").Str("U").Str("1"));
  EXPECT_EQ(tc->Inventory().Count(), 2);  // one stick1 each time, never stacked
  EXPECT_EQ(tc->Glod, 4321u);
  c->Clear();

  LogOf(*c, Body(cid::kScript).U8(4).Str("ignored").U32(guide->ObjectID));
  frames = c->Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0].payload, PayloadOf(SScriptEndPacket("VornhalTest", guide->ObjectID)));
  EXPECT_EQ(tc->Map, field);
  EXPECT_EQ(tc->Point, (TMapPoint{65, 50}));
}

TEST_F(ZoneTest, BoardsStatPointsAndMotions) {
  TChara* tc = NewChara("rita", 10, 10);
  auto c = Enter(tc);
  TSession& s = *c->Data;
  EXPECT_NE(LogOf(*c, Body(cid::kBulletinBoard).U8(3)).find("CBulletinBoardPacket type 3\n"), std::string::npos);
  EXPECT_NE(LogOf(*c, Body(cid::kBulletinBoard).U8(4).U8(9)).find("CBulletinBoardPacket type 4 index 9\n"), std::string::npos);
  EXPECT_EQ(s.ReadPosition(), s.RecvLength());
  EXPECT_NE(LogOf(*c, Body(cid::kWebBoard).U8(6)).find("CWebBoardPacket: type 6\n"), std::string::npos);
  EXPECT_TRUE(c->Frames().empty());

  tc->StatPoint = 2;
  tc->STR = 255;
  Send(*c, Body(cid::kStatUp).U8(1));
  Send(*c, Body(cid::kStatUp).U8(3));
  EXPECT_EQ(tc->StatPoint, 2);
  EXPECT_TRUE(c->Frames().empty());
  uint8_t dex = tc->DEX;
  Send(*c, Body(cid::kStatUp).U8(2));
  EXPECT_EQ(tc->DEX, dex + 1);
  EXPECT_EQ(tc->StatPoint, 1);
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kStatus}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SStatusPacket(*tc, 0x0060)));
  tc->StatPoint = 0;
  c->Clear();
  Send(*c, Body(cid::kStatUp).U8(2));
  EXPECT_TRUE(c->Frames().empty());

  Send(*c, Body(cid::kMotion).U8(1).U8(10).U32(0));
  auto frames = c->Frames();
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kEffect, sid::kSound}));
  EXPECT_EQ(frames[0].payload, PayloadOf(SEffectPacket(*tc, 245, 100)));
  EXPECT_EQ(frames[1].payload, PayloadOf(SSoundPacket(57)));
  c->Clear();
  Send(*c, Body(cid::kMotion).U8(0).U8(7).U32(0));
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kMotion}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SMotionPacket(*tc, 7, 100)));
  c->Clear();
  Send(*c, Body(cid::kMotion).U8(2).U8(3).U32(0));  // any other kind shows nothing
  EXPECT_TRUE(c->Frames().empty());
}

TEST_F(ZoneTest, AttacksWithoutTargetOrOnAbsentCharacters) {
  TChara* tc = NewChara("tom", 10, 10);
  TChara* away = NewChara("away", 11, 10);
  away->HP = away->MaxHP = 50;
  auto c = Enter(tc);
  Send(*c, Body(cid::kAttack).U32(0));
  ASSERT_EQ(c->Ids(), (std::vector<sid>{sid::kMotion}));
  EXPECT_EQ(c->Frames()[0].payload, PayloadOf(SMotionPacket(*tc, 4, 80)));
  c->Clear();
  Send(*c, Body(cid::kAttack).U32(away->ObjectID));  // logged out: not in the world to be hit
  Send(*c, Body(cid::kAttack).U32(4999999));         // no such mob
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_EQ(away->HP, 50u);
  // Logged in on the Multi server only: still not on the map.
  away->Login = TLoginState::kOnMulti;
  Send(*c, Body(cid::kAttack).U32(away->ObjectID));
  EXPECT_TRUE(c->Frames().empty());
  EXPECT_EQ(away->HP, 50u);
}

}  // namespace
}  // namespace vornhal
