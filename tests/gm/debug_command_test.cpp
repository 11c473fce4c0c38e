// The GM commands run against a small world: two maps, one character with a recording
// connection, and a few item and mob definitions.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gm/debug_command.h"
#include "net/session.h"
#include "platform/text.h"
#include "support/recording_connection.h"
#include "support/test_world.h"
#include "world/world.h"
#include "world/packets.h"

namespace vornhal {
namespace {

using test::Frame;
using sid = TServerPacketId;
using test::MessageText;
using test::Messages;
using test::RecordingConnection;

class NullSession : public TSession {
 public:
  NullSession() : TSession(nullptr) {}
  void ParsePacket(TConnection&, uint8_t) override {}
};

// The payload a client would read from a freshly built packet.
std::vector<uint8_t> Payload(TPacket packet) { return test::Unscrambled(packet).payload; }

class DebugCommandTest : public test::FreshWorld {
 protected:
  void SetUp() override {
    FreshWorld::SetUp();
    World.AddMap(10055, "はじまりの町", 40, 40);
    World.AddMap(1, "草原", 100, 80);
    World.AddMap(34463, "遠い島", 30, 30);
    // Map 1 has a cell file: (20, 20) is a wall.
    TMap* grass = World.MapList.FindMap(1);
    grass->Usedat = true;
    grass->DatWidth = 101;
    grass->DatHeight = 81;
    grass->dat.assign(static_cast<size_t>(101 * 81), 0);
    grass->dat[20 * 81 + 20] = 1;
    World.MapList.MapSort();
    for (const char* key : {"money1", "money2", "money3", "money4", "helixir"}) {
      World.AddItemData(key, key, 0);
    }
    World.AddItemData("sword", "sword", 1);
    auto beat = std::make_unique<TMobData>();
    beat->Name = "ビートミー";
    beat->MaxHP = 10;
    World.MobDB.Add(std::move(beat));

    home = World.MapList.FindMap(10055);
    tc = World.AddPlayingChara("gm", home, 10, 10);
    conn = &test::Rec(tc);
  }
  void TearDown() override {
    for (const auto& map : World.MapList) {
      if (tc->Map == map.get()) map->DeleteChara(tc);
    }
    FreshWorld::TearDown();
  }

  void Run(const std::string& text) {
    conn->Clear();
    DoDebugCommand(session, *conn, tc, text);
  }
  std::vector<Frame> Frames() const { return conn->Frames(); }

  NullSession session;
  RecordingConnection* conn = nullptr;
  TChara* tc = nullptr;
  TMap* home = nullptr;
};

TEST_F(DebugCommandTest, HelpListsNineLinesInAnyLetterCase) {
  const std::vector<std::string> expected = {
      "【接続人数表示】@count", "【現在地表示】@where", "【髪色変更】@haircolor [R] [G] [B]",
      "【アイテム入手】@item [MetaKey]", "【お金入手】@glod [Amount]",
      "【マップ移動】@goto [MapID] [X] [Y]", "【マップ内移動】@move [X] [Y]",
      "【GMシャウト】@shout [Message]", "【NPC再読み込み】@reload"};
  Run("help");
  EXPECT_EQ(Messages(*conn), expected);
  EXPECT_EQ(Frames().size(), 9u);
  Run("HELP");
  EXPECT_EQ(Messages(*conn), expected);
}

TEST_F(DebugCommandTest, EmptyOrUnknownCommandsAnswerNothing) {
  for (const char* text : {" help", " ", "helpme", "hel", "wherever 1", "ヘルプ"}) {
    Run(text);
    EXPECT_TRUE(conn->Bytes().empty()) << "'" << text << "'";
  }
}

TEST_F(DebugCommandTest, WhereNamesMapAndPosition) {
  Run("where");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[10055] はじまりの町 (10, 10)"});
}

TEST_F(DebugCommandTest, HairColorClampsAndDefaultsEachComponent) {
  Run("haircolor 300 -5 x");
  EXPECT_EQ(tc->HairColor, (TAsColor{255, 0, 255}));
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].id, TServerPacketId::kCharaAppear);  // the new look, to the area that includes the caller
  EXPECT_EQ(frames[0].payload, Payload(SCharaAppearPacket(*tc)));
  EXPECT_EQ(MessageText(frames[1]), "HairColorを変更しました");

  Run("haircolor 1 2");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 引数の数が不正です"});
  EXPECT_EQ(tc->HairColor, (TAsColor{255, 0, 255}));
  Run("haircolor 1 2 3 4");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 引数の数が不正です"});
  Run("haircolor $10 0x20 48");
  EXPECT_EQ(tc->HairColor, (TAsColor{16, 32, 48}));
}

TEST_F(DebugCommandTest, GotoTakesTheMapNumberAsSixteenBits) {
  Run("goto 99999 5 6");  // 99999 & 0xFFFF = 34463
  ASSERT_NE(tc->Map, nullptr);
  EXPECT_EQ(tc->Map->ID, 34463);
  EXPECT_EQ(tc->Point, (TMapPoint{5, 6}));
  EXPECT_TRUE(Messages(*conn).empty());
  EXPECT_FALSE(conn->Bytes().empty());  // the arrival sequence
}

TEST_F(DebugCommandTest, GotoRefusalsAndSilences) {
  Run("goto 1");  // existing map, no X: nothing at all
  EXPECT_TRUE(conn->Bytes().empty());
  Run("goto 1 5 y");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("goto map 5 5");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("goto 7 5 5");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 存在しないMapIDです"});
  Run("goto 7");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 存在しないMapIDです"});
  Run("goto 1 20 20");  // a wall
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 移動できない座標です"});
  Run("goto 1 0 5");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 移動できない座標です"});
  EXPECT_EQ(tc->Map, home);
  EXPECT_EQ(tc->Point, (TMapPoint{10, 10}));
}

TEST_F(DebugCommandTest, GotoAndMoveNeverLeaveTheBlockGrid) {
  // Map 34463 has no cell file, so every cell counts as walkable, even far outside the map.
  Run("goto 34463 500 500");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 移動できない座標です"});
  EXPECT_EQ(tc->Map, home);
  Run("move 60000 3");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 移動できない座標です"});
  Run("move -1 3");  // taken as 65535
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 移動できない座標です"});
  EXPECT_EQ(tc->Point, (TMapPoint{10, 10}));
  EXPECT_EQ(home->BlockAt(10, 10)->CList.size(), 1u);
}

TEST_F(DebugCommandTest, MoveWithinTheMapFollowsTheBlocks) {
  Run("move 30 31");
  EXPECT_EQ(tc->Point, (TMapPoint{30, 31}));
  EXPECT_TRUE(home->BlockAt(10, 10)->CList.empty());
  ASSERT_EQ(home->BlockAt(30, 31)->CList.size(), 1u);
  Run("move 5");
  EXPECT_TRUE(conn->Bytes().empty());
  EXPECT_EQ(tc->Point, (TMapPoint{30, 31}));
}

TEST_F(DebugCommandTest, ShoutAloneOrEmptySendsNothing) {
  // Without a Zone server nobody is "everyone"; what matters here is that nothing reaches the
  // caller directly and nothing fails.
  Run("shout");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("shout  second");
  EXPECT_TRUE(conn->Bytes().empty());
}

TEST_F(DebugCommandTest, PacketSendsRawBytesToTheCaller) {
  Run("packet 0D0102");
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id, sid::kChat);
  EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{1, 2}));

  Run("packet 0a");
  frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id, sid::kMessage);
  EXPECT_TRUE(frames[0].payload.empty());

  Run("packet 0D0");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 引数が不正です"});
  Run("packet");
  EXPECT_TRUE(conn->Bytes().empty());
}

TEST_F(DebugCommandTest, PacketWithBadHexFailsBeforeSendingAnything) {
  conn->Clear();
  EXPECT_THROW(DoDebugCommand(session, *conn, tc, "packet 0D01ZZ"), std::invalid_argument);
  EXPECT_TRUE(conn->Bytes().empty());
  EXPECT_THROW(DoDebugCommand(session, *conn, tc, "packet G0"), std::invalid_argument);
  EXPECT_THROW(DoDebugCommand(session, *conn, tc, "packet "), std::invalid_argument);
  EXPECT_TRUE(conn->Bytes().empty());
}

TEST_F(DebugCommandTest, SummonMoveMobKeepsTheBlockListsRight) {
  tc->Point = TMapPoint{10, 10};
  uint32_t first = World.NextMobID;
  Run("summon");
  ASSERT_EQ(home->MList.Count(), 1);
  TMob* mob = home->MList[0];
  EXPECT_EQ(mob->ObjectID, first);
  EXPECT_EQ(mob->Data->Name, "ビートミー");
  EXPECT_TRUE(mob->FreeOnDie);
  auto frames = Frames();
  bool shown = false;
  for (const Frame& f : frames) shown = shown || f.id == TServerPacketId::kMapObjects;
  EXPECT_TRUE(shown) << "the area is shown the new mob";

  // Put the character at a block corner so that (X + 1, Y + 1) lies in another block.
  home->MoveChara(tc, 11, 11);
  home->MoveMob(mob, 11, 11);
  Run("movemob");
  EXPECT_EQ(mob->Point, (TMapPoint{12, 12}));
  EXPECT_EQ(mob->Dir, 5);
  TMapObject* found = nullptr;
  EXPECT_FALSE(home->BlockAt(11, 11)->MapObjects.TryGetValue(mob->ObjectID, found));
  EXPECT_TRUE(home->BlockAt(12, 12)->MapObjects.TryGetValue(mob->ObjectID, found));
  frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id, TServerPacketId::kMobMove);
}

TEST_F(DebugCommandTest, MoveMobStopsAtTheEdgeOfTheGrid) {
  Run("summon");
  ASSERT_EQ(home->MList.Count(), 1);
  TMob* mob = home->MList[0];
  TMapPoint before = mob->Point;
  // The far corner of the grid: one more cell would be outside it.
  uint16_t edge_x = static_cast<uint16_t>(home->BlockWidth * 4 - 1);
  uint16_t edge_y = static_cast<uint16_t>(home->BlockHeight * 4 - 1);
  ASSERT_TRUE(home->InGrid(edge_x, edge_y));
  home->MoveChara(tc, edge_x, edge_y);
  Run("movemob");
  EXPECT_EQ(mob->Point, before);
  EXPECT_TRUE(conn->Bytes().empty());
}

TEST_F(DebugCommandTest, SummonWithUnknownNameAndMoveMobWithoutMobDoNothing) {
  Run("summon だれか");
  EXPECT_EQ(home->MList.Count(), 0);
  EXPECT_TRUE(conn->Bytes().empty());
  Run("movemob");
  EXPECT_TRUE(conn->Bytes().empty());
  World.MobDB.Clear();
  Run("summon");
  EXPECT_EQ(home->MList.Count(), 0);
}

TEST_F(DebugCommandTest, ItemRefusesMoneyAndUnknownKeys) {
  Run("item money1");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("item MONEY3");
  EXPECT_TRUE(conn->Bytes().empty());
  EXPECT_EQ(tc->Inventory().Count(), 0);
  Run("item NoSuchKey");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] 存在しないMetaKeyです (NoSuchKey)"});
  Run("item");
  EXPECT_TRUE(conn->Bytes().empty());
  EXPECT_EQ(tc->Inventory().Count(), 0);
}

TEST_F(DebugCommandTest, ItemAddsOneAndReportsAFullInventory) {
  Run("item HELIXIR");
  ASSERT_EQ(tc->Inventory().Count(), 1);
  EXPECT_EQ(tc->Inventory().GetItem(0)->Item()->Count(), 1);
  EXPECT_EQ(tc->Inventory().GetItem(0)->Item()->Data()->MetaKey, "helixir");
  for (int i = 0; i < 63; ++i) Run("item sword");
  EXPECT_EQ(tc->Inventory().Count(), 64);
  Run("item sword");
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"[エラー] インベントリに空きがありません"});
  EXPECT_EQ(tc->Inventory().Count(), 64);
}

TEST_F(DebugCommandTest, RemoveItemOnlyForSlotsOneToSixtyFour) {
  Run("removeitem 0");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("removeitem 65");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("removeitem 64");
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].id, TServerPacketId::kInventoryClear);
  EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{1, 64, 0}));
  Run("removeitem $01");
  frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{1, 1, 0}));
}

TEST_F(DebugCommandTest, GlodReadsUnsignedAndStaysUnderTheCap) {
  tc->Glod = 1000;
  Run("glod -1");
  EXPECT_TRUE(conn->Bytes().empty());
  EXPECT_EQ(tc->Glod, 1000u);
  Run("glod 4294967295");
  EXPECT_EQ(tc->Glod, kMaxGlod);
  EXPECT_EQ(Messages(*conn), std::vector<std::string>{"4294967295グロッドを手に入れました"});
  Run("glod 4294967295");
  EXPECT_EQ(tc->Glod, kMaxGlod);
  tc->Glod = 0;
  Run("glod $10");
  EXPECT_EQ(tc->Glod, 16u);
}

TEST_F(DebugCommandTest, DropTestLaysFiftyStacksOfTwenty) {
  Run("droptest");
  TMapBlock* block = home->BlockAt(10, 10);
  ASSERT_EQ(block->MapObjects.Count(), 50);
  for (TMapObject* obj : block->MapObjects) {
    ASSERT_EQ(obj->ObjectKind(), kKindDroppedItem);
    const auto* dropped = static_cast<const TDroppedItem*>(obj);
    EXPECT_EQ(dropped->Item()->Count(), 20);
    EXPECT_EQ(dropped->Point, (TMapPoint{10, 10}));
  }
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 50u);
  for (const Frame& f : frames) EXPECT_EQ(f.id, TServerPacketId::kMapObjects);
  // The map's blocks do not own what lies on them; pick it all up again.
  while (block->MapObjects.Count() > 0) {
    auto* dropped = static_cast<TDroppedItem*>(block->MapObjects[0]);
    home->DeleteItem(dropped);
    delete dropped;
  }
}

TEST_F(DebugCommandTest, EffectBrowserAndShopGoWhereTheyShould) {
  Run("effect 70000");  // taken as u16: 4464
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, Payload(SEffectPacket(12, 10, 4464)));
  Run("effect");
  EXPECT_TRUE(conn->Bytes().empty());
  Run("browser");
  EXPECT_EQ(conn->Ids(), std::vector<sid>{sid::kWeb});
  Run("shop");
  EXPECT_EQ(conn->Ids(), std::vector<sid>{sid::kShopWindow});
}

TEST_F(DebugCommandTest, PortalShowsEffectOnEveryTileOfNearbyPortals) {
  auto portal = std::make_unique<TPortal>();
  portal->SrcMap = home;
  portal->DestMap = World.MapList.FindMap(1);
  portal->SrcMinPoint = TMapPoint{12, 8};
  portal->SrcMaxPoint = TMapPoint{13, 9};
  portal->Point = TMapPoint{12, 8};
  home->AddPortal(portal.get());
  World.PortalList.Add(std::move(portal));

  Run("portal");
  std::vector<std::vector<uint8_t>> expected;
  for (auto [x, y] : std::vector<std::pair<int, int>>{{12, 8}, {13, 8}, {12, 9}, {13, 9}}) {
    expected.push_back(
        Payload(SEffectPacket(static_cast<uint16_t>(x), static_cast<uint16_t>(y), 118)));
  }
  std::vector<std::vector<uint8_t>> got;
  for (const Frame& f : Frames()) got.push_back(f.payload);
  EXPECT_EQ(got, expected);

  Run("portal 7");
  ASSERT_EQ(Frames().size(), 4u);
  EXPECT_EQ(Frames()[0].payload, Payload(SEffectPacket(12, 8, 7)));

  // Far away (more than two blocks), the portal is not near.
  home->MoveChara(tc, 35, 35);
  Run("portal");
  EXPECT_TRUE(conn->Bytes().empty());
}

TEST_F(DebugCommandTest, ReloadRefusedWithoutExactlyOneConnection) {
  // No Zone server is running here, so the count of connections is not 1.
  size_t npcs = static_cast<size_t>(World.NpcList.Count());
  Run("reload");
  EXPECT_EQ(Messages(*conn),
            std::vector<std::string>{"[エラー] 他にログインしているプレイヤーがいる時は使用できません"});
  EXPECT_EQ(static_cast<size_t>(World.NpcList.Count()), npcs);
}

TEST_F(DebugCommandTest, ReviveBringsADeadCharacterBack) {
  tc->MaxHP = 50;
  tc->HP = 0;
  tc->IsDead = true;
  Run("revive");
  EXPECT_FALSE(tc->IsDead);
  EXPECT_GT(tc->HP, 0u);
}

}  // namespace
}  // namespace vornhal
