// Object ids, the neighbourhood test, hit points and the id-indexed object lists.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "world_fixture.h"

namespace vornhal::test {
namespace {

// Sets a flag when destroyed, to observe which list owns it.
class WatchedNpc : public TNpc {
 public:
  WatchedNpc(TWorld& world, bool* destroyed) : TNpc(world), destroyed_(destroyed) {}
  ~WatchedNpc() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

using ObjectTest = WorldFixture;

TEST_F(ObjectTest, FirstIdsOfEveryKindAndPortalsZero) {
  TNpc npc1(World), npc2(World);
  TDroppedItem item(World, std::make_unique<TItem>(potion_, 1), 1, 1);
  TChara* tc = Chara("A", 5, 5);
  TPortal portal;
  EXPECT_EQ(npc1.ObjectID, 50000u);
  EXPECT_EQ(npc2.ObjectID, 50001u);
  EXPECT_EQ(item.ObjectID, 10000000u);
  EXPECT_EQ(tc->ObjectID, 0x3000000u);
  EXPECT_EQ(portal.ObjectID, 0u);
  TTestWorld other;  // another world counts from the start
  EXPECT_EQ(TNpc(other).ObjectID, 50000u);
  EXPECT_EQ(TNpc(World).ObjectID, 50002u);
}

TEST_F(ObjectTest, IsNearIsASquareNeighbourhood) {
  TNpc a(World), b(World);
  a.Point = {10, 10};
  b.Point = {13, 7};
  EXPECT_TRUE(a.IsNear(b, 3));
  EXPECT_FALSE(a.IsNear(b, 2));
  EXPECT_FALSE(a.IsNear(a, -1));
  EXPECT_TRUE(a.IsNear(a, 0));
  b.Point = {10, 11};
  EXPECT_FALSE(a.IsNear(b, 0));
  // Unsigned coordinates far apart still compare as plain differences.
  b.Point = {0, 10};
  a.Point = {65535, 10};
  EXPECT_FALSE(a.IsNear(b, 100));
}

TEST_F(ObjectTest, HitPointsPercentDeathAndRevival) {
  TChara* tc = Chara("A", 5, 5);
  tc->MaxHP = 3;
  tc->HP = 1;
  EXPECT_EQ(tc->HPPercent(), 33);
  tc->HP = 3;
  EXPECT_EQ(tc->HPPercent(), 100);
  tc->MaxHP = 0;
  EXPECT_EQ(tc->HPPercent(), 0);

  tc->MaxHP = 16;
  tc->HP = 10;
  tc->DecHP(9);
  EXPECT_EQ(tc->HP, 1u);
  EXPECT_FALSE(tc->IsDead);
  tc->DecHP(1);
  EXPECT_EQ(tc->HP, 0u);
  EXPECT_TRUE(tc->IsDead);
  EXPECT_EQ(Rec(tc).Ids(), (std::vector<sid>{sid::kStatus, sid::kStatus}));

  SetTickOverride(true, 123456);
  Rec(tc).Clear();
  tc->Die();
  SetTickOverride(false);
  EXPECT_EQ(tc->DeadTime, 123456u);
  EXPECT_EQ(tc->Mode & 4, 4u);
  EXPECT_EQ(Rec(tc).Ids(), (std::vector<sid>{sid::kCharaAppear}));

  Rec(tc).Clear();
  tc->Revive();
  EXPECT_FALSE(tc->IsDead);
  EXPECT_EQ(tc->HP, 16u);
  EXPECT_EQ(tc->Mode, 0u);
  EXPECT_EQ(Rec(tc).Ids(), (std::vector<sid>{sid::kCharaAppear, sid::kStatus}));
}

TEST_F(ObjectTest, PortalsAreListedButNeverInTheIdDictionary) {
  TMapObjectList<TMapObject> list(false);
  TPortal p1, p2;
  TNpc npc{World};
  list.Add(&p1);
  list.Add(&p2);  // a second id 0 is no duplicate for portals
  list.Add(&npc);
  EXPECT_EQ(list.Count(), 3);
  TMapObject* found = nullptr;
  EXPECT_FALSE(list.TryGetValue(0, found));
  list.DeleteByID(0);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.TryGetValue(npc.ObjectID, found));
  EXPECT_EQ(found, &npc);
  list.Remove(&p1);
  EXPECT_EQ(list.IndexOf(&p1), -1);
  EXPECT_EQ(list.IndexOf(&p2), 0);
}

TEST_F(ObjectTest, DuplicateIdIsRefusedAndNotAppended) {
  TMapObjectList<TMapObject> list(false);
  TNpc a(World), b(World);
  b.ObjectID = a.ObjectID;
  list.Add(&a);
  try {
    list.Add(&b);
    FAIL() << "duplicate id accepted";
  } catch (const DuplicateKeyError& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(a.ObjectID)), std::string::npos);
  }
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(ObjectTest, OwningListsDestroyReferringListsDoNot) {
  bool gone1 = false, gone2 = false, gone3 = false;
  auto* owned = new TMapObjectList<TNpc>(true);
  auto* n1 = new WatchedNpc(World, &gone1);
  auto* n2 = new WatchedNpc(World, &gone2);
  auto* n3 = new WatchedNpc(World, &gone3);
  owned->Add(n1);
  owned->Add(n2);
  owned->Add(n3);

  {
    TMapObjectList<TMapObject> block(false);
    block.Add(n1);
    block.DeleteByID(n1->ObjectID);
    EXPECT_EQ(block.Count(), 0);
    block.Add(n2);
  }  // the referring list goes without its members
  EXPECT_FALSE(gone1);
  EXPECT_FALSE(gone2);
  TNpc* found = nullptr;
  EXPECT_TRUE(owned->TryGetValue(n1->ObjectID, found));

  const uint32_t id1 = n1->ObjectID;
  owned->DeleteByID(id1);
  EXPECT_TRUE(gone1);
  EXPECT_FALSE(owned->TryGetValue(id1, found));

  TNpc* extracted = owned->Extract(n2);
  EXPECT_EQ(extracted, n2);
  EXPECT_FALSE(gone2);
  EXPECT_FALSE(owned->TryGetValue(n2->ObjectID, found));

  delete owned;
  EXPECT_TRUE(gone3);
  EXPECT_FALSE(gone2);
  delete extracted;
}

TEST_F(ObjectTest, CharacterListKeepsNamesInStepWithTheList) {
  TChara* alice = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("Alice", "pw", alice));
  TChara* found = nullptr;
  EXPECT_TRUE(World.CharaList.TryGetValue("ALICE", found));
  EXPECT_EQ(found, alice);
  EXPECT_TRUE(World.CharaList.TryGetValue(alice->ObjectID, found));

  auto twin = std::make_unique<TChara>(World);
  twin->FName = "aLiCe";
  try {
    World.CharaList.Add(twin.get());
    FAIL() << "duplicate name accepted";
  } catch (const DuplicateKeyError& e) {
    EXPECT_NE(std::string(e.what()).find("aLiCe"), std::string::npos);
  }
  EXPECT_EQ(World.CharaList.Count(), 1);

  World.CharaList.DeleteByID(alice->ObjectID);
  EXPECT_EQ(World.CharaList.Count(), 0);
  EXPECT_FALSE(World.CharaList.TryGetValue("alice", found));
  // The name is free again.
  twin->FName = "Alice";
  World.CharaList.Add(twin.release());
  EXPECT_TRUE(World.CharaList.TryGetValue("alice", found));
}

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Every character of `listed` is found by its id and by its name in any case of A-Z, the list
// holds exactly these, and none of the names in `gone` is found.
void ExpectLookUpsMatch(const TCharaList& list, const std::vector<TChara*>& listed,
                        const std::vector<std::string>& gone) {
  EXPECT_EQ(list.Count(), static_cast<int>(listed.size()));
  EXPECT_EQ(std::vector<TChara*>(list.begin(), list.end()), listed);
  for (TChara* tc : listed) {
    TChara* found = nullptr;
    EXPECT_TRUE(list.TryGetValue(UpperAscii(tc->FName), found)) << tc->FName;
    EXPECT_EQ(found, tc) << tc->FName;
    found = nullptr;
    EXPECT_TRUE(list.TryGetValue(tc->ObjectID, found)) << tc->FName;
    EXPECT_EQ(found, tc) << tc->FName;
  }
  for (const std::string& name : gone) {
    TChara* found = nullptr;
    EXPECT_FALSE(list.TryGetValue(name, found)) << name;
  }
}

TEST_F(ObjectTest, CharacterListLookUpsFollowEveryWayInAndOut) {
  TCharaList list(World);
  auto make = [this](const std::string& name) {
    auto* tc = new TChara(World);
    tc->FName = name;
    return tc;
  };
  TChara* anna = make("Anna");
  TChara* ben = make("ben");
  TChara* cleo = nullptr;
  list.Add(anna);
  list.Add(ben);
  ASSERT_TRUE(list.CreateChara("Cleo", "pw", cleo));
  TChara* dora = make("DORA");
  list.Add(dora);
  ExpectLookUpsMatch(list, {anna, ben, cleo, dora}, {});

  // Refused additions leave both look-ups as they were.
  std::unique_ptr<TChara> same_name(make("ANNA"));
  EXPECT_THROW(list.Add(same_name.get()), DuplicateKeyError);
  auto same_id = std::make_unique<TChara>(World);
  same_id->FName = "Eve";
  same_id->ObjectID = ben->ObjectID;
  EXPECT_THROW(list.Add(same_id.get()), DuplicateKeyError);
  TChara* refused = nullptr;
  EXPECT_FALSE(list.CreateChara("cleo", "pw", refused));
  ExpectLookUpsMatch(list, {anna, ben, cleo, dora}, {"Eve"});

  // Out by extraction (handed back), by removal, by id; unknown ones change nothing.
  std::unique_ptr<TChara> extracted(list.Extract(ben));
  EXPECT_EQ(extracted.get(), ben);
  EXPECT_EQ(list.Extract(ben), nullptr);
  ExpectLookUpsMatch(list, {anna, cleo, dora}, {"ben"});
  EXPECT_EQ(list.Remove(cleo), 1);
  EXPECT_EQ(list.Remove(extracted.get()), -1);
  ExpectLookUpsMatch(list, {anna, dora}, {"ben", "cleo"});
  const uint32_t anna_id = anna->ObjectID;
  list.DeleteByID(anna_id);
  list.DeleteByID(anna_id);
  ExpectLookUpsMatch(list, {dora}, {"ben", "cleo", "anna"});

  // Freed names and ids are taken again.
  list.Add(extracted.release());
  TChara* again = nullptr;
  ASSERT_TRUE(list.CreateChara("CLEO", "pw", again));
  ExpectLookUpsMatch(list, {dora, ben, again}, {"anna"});

  list.Clear();
  ExpectLookUpsMatch(list, {}, {"ben", "cleo", "dora"});
  TChara* fresh = make("dora");
  list.Add(fresh);
  ExpectLookUpsMatch(list, {fresh}, {});
}

TEST_F(ObjectTest, CreateCharaRules) {
  TChara* tc = nullptr;
  EXPECT_FALSE(World.CharaList.CreateChara("", "pw", tc));
  EXPECT_FALSE(World.CharaList.CreateChara("Bob", "", tc));
  EXPECT_FALSE(World.CharaList.CreateChara("!a", "pw", tc));
  EXPECT_FALSE(World.CharaList.CreateChara("!!", "pw", tc));
  EXPECT_FALSE(World.CharaList.CreateChara("!あ", "pw", tc));  // two characters, four bytes
  EXPECT_TRUE(World.CharaList.CreateChara("a!", "pw", tc));
  EXPECT_TRUE(World.CharaList.CreateChara("!ab", "pw", tc));
  EXPECT_TRUE(World.CharaList.CreateChara("alice", "pw", tc));
  EXPECT_FALSE(World.CharaList.CreateChara("Alice", "pw", tc));
  EXPECT_EQ(World.CharaList.Count(), 3);

  ASSERT_TRUE(World.CharaList.CreateChara("Carol", "secret", tc));
  EXPECT_EQ(tc->FName, "Carol");
  EXPECT_EQ(tc->Pass, "secret");
  EXPECT_EQ(tc->Map, start_);
  EXPECT_EQ(tc->Point, (TMapPoint{17, 35}));
  EXPECT_EQ(tc->Dir, 2);
  EXPECT_EQ(tc->MaxHP, 16u);
  EXPECT_EQ(tc->MaxWeight, 78);
  EXPECT_FALSE(tc->LoggedIn());
}

TEST_F(ObjectTest, CharacterNeedsTheStartMap) {
  World.MapList.Clear();
  EXPECT_THROW(TChara{World}, std::runtime_error);
  TChara* tc = nullptr;
  EXPECT_THROW(World.CharaList.CreateChara("Dave", "pw", tc), std::runtime_error);
  EXPECT_EQ(World.CharaList.Count(), 0);
}

}  // namespace
}  // namespace vornhal::test
