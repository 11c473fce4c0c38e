// Directions, attack rates, the damage formula and the attack sequence.
#include "platform/random.h"
#include "world/exp_table.h"
#include "packets_test_world.h"

namespace vornhal::test {
namespace {

using sid = TServerPacketId;
using Ids = std::vector<TServerPacketId>;

// A seed whose first Random(100) draw is (or is not) 0, so an attack hits or misses for sure.
uint64_t SeedWhereFirstDrawIsZero(bool zero) {
  for (uint64_t seed = 1; seed < 100000; ++seed) {
    SeedRandom(seed);
    if ((Random(100) == 0) == zero) return seed;
  }
  ADD_FAILURE() << "no seed found";
  return 0;
}

class CombatTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    slime_.Name = "Slime";
    slime_.MaxHP = 3;
    slime_.AC = 100;
  }

  TMob* Summon(uint16_t x, uint16_t y, bool free_on_die = false) {
    auto* mob = new TMob(town_, &slime_, free_on_die, x, y, 0, 0);
    town_->RegistMob(mob);
    return mob;
  }

  TMobData slime_;
};

TEST_F(CombatTest, DirectionTowardsACell) {
  TMob* mob = Summon(10, 10);
  mob->Dir = 3;
  EXPECT_EQ(mob->GetDir({10, 9}), 0);
  EXPECT_EQ(mob->GetDir({10, 30}), 2);
  EXPECT_EQ(mob->GetDir({11, 10}), 1);
  EXPECT_EQ(mob->GetDir({0, 10}), 3);
  EXPECT_EQ(mob->GetDir({30, 9}), 4);
  EXPECT_EQ(mob->GetDir({13, 11}), 5);
  EXPECT_EQ(mob->GetDir({9, 30}), 6);
  EXPECT_EQ(mob->GetDir({0, 0}), 7);
  EXPECT_EQ(mob->GetDir({10, 10}), 3);  // same cell: keeps facing
  mob->Dir = 6;
  EXPECT_EQ(mob->GetDir({10, 10}), 6);
}

TEST_F(CombatTest, RatesAndDamage) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  TMob* target = Summon(11, 10);
  a->Dir = 1;
  target->Dir = 3;
  EXPECT_EQ(a->GetAttackDirRate(*target), 1.0L);
  target->Dir = 1;
  EXPECT_EQ(a->GetAttackDirRate(*target), 1.35L);
  target->Dir = 0;
  EXPECT_EQ(a->GetAttackDirRate(*target), 1.1L);

  a->STR = 3;
  target->AC = 100;
  target->Dir = 1;                          // from behind
  EXPECT_EQ(a->GetNormalDamage(*target), 11u);  // 1.35 x (1200 / 200 + 2) = 10.8
  target->Dir = 3;                          // face to face
  EXPECT_EQ(a->GetNormalDamage(*target), 8u);
  a->STR = 1;
  target->AC = -50;                         // 1 x (100 / 200 + 2) = 2.5: half goes up
  EXPECT_EQ(a->GetNormalDamage(*target), 3u);
  a->STR = 255;
  target->AC = -128;                        // negative product: no damage, not a wrap
  EXPECT_EQ(a->GetNormalDamage(*target), 0u);
}

TEST_F(CombatTest, HitOnAMob) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  TChara* watcher = World.AddPlayingChara("W", town_, 12, 12);
  TMob* mob = Summon(11, 10);
  a->Dir = 1;
  mob->Dir = 0;
  Rec(a).Clear();
  Rec(watcher).Clear();
  SeedRandom(SeedWhereFirstDrawIsZero(false));

  a->AttackTo(mob);

  EXPECT_EQ(mob->HP, 2u);
  EXPECT_EQ(mob->Dir, 3);  // turned towards the attacker
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kDirection, sid::kAttack}));
  EXPECT_EQ(Rec(watcher).Ids(), Ids({sid::kDirection, sid::kAttack}));
  std::vector<Frame> got = Rec(a).Frames();
  EXPECT_EQ(got[0].payload, B({0x00, 0x4C, 0x4B, 0x40, 0x03}));
  EXPECT_EQ(Bytes(got[1].payload.begin() + 15, got[1].payload.end()),
            B({0x00, 0x45, 0x00, 0x00, 0x9F, 0x00, 0x46, 0x00, 0x01, 0x00, 66, 0x00, 0x00, 0x00,
               0x01, 0x00, 0x00, 0x00, 0x03, 0x00}));
  EXPECT_EQ(a->Glod, 0u);
}

TEST_F(CombatTest, OneAttackInAHundredMisses) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  TMob* mob = Summon(11, 10);
  Rec(a).Clear();
  SeedRandom(SeedWhereFirstDrawIsZero(true));
  a->AttackTo(mob);
  EXPECT_EQ(mob->HP, 3u);
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kAttack}));
  EXPECT_EQ(Rec(a).Frames()[0].payload.size(), 17u);  // flags 0, no hit block

  SeedRandom(12345);
  int misses = 0;
  for (int i = 0; i < 10000; ++i) misses += Random(100) == 0;
  EXPECT_GT(misses, 50);
  EXPECT_LT(misses, 160);
}

TEST_F(CombatTest, KillPaysAndSendsTheDeath) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  TMob* mob = Summon(11, 10, true);
  town_->DeleteMob(mob);  // move it to a known cell, keeping the block lists consistent
  mob->Point = TMapPoint{11, 10};
  town_->AddMob(mob);
  mob->HP = 1;
  Rec(a).Clear();
  SeedRandom(SeedWhereFirstDrawIsZero(false));

  a->AttackTo(mob);

  EXPECT_TRUE(mob->IsDead);
  EXPECT_EQ(a->Glod, 20u);
  EXPECT_EQ(a->Exp, 100u);
  // Turn, hit, money (status + message), experience (status + message), death.
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kDirection, sid::kAttack, sid::kStatus, sid::kMessage, sid::kStatus, sid::kMessage, sid::kDie}));
  std::vector<Frame> got = Rec(a).Frames();
  EXPECT_EQ(got[1].payload[25], 0);  // HP percent after the blow
  // "20グロッドを手に入れました"
  EXPECT_EQ(got[3].payload,
            B({0x03, 0x00, 0x00, 0x1A, '2', '0', 0x83, 0x4F, 0x83, 0x8D, 0x83, 0x62, 0x83, 0x68,
               0x82, 0xF0, 0x8E, 0xE8, 0x82, 0xC9, 0x93, 0xFC, 0x82, 0xEA, 0x82, 0xDC, 0x82, 0xB5,
               0x82, 0xBD}));
  // "経験値が 100 上がりました"
  EXPECT_EQ(Bytes(got[5].payload.begin(), got[5].payload.begin() + 17),
            B({0x03, 0x00, 0x00, 0x19, 0x8C, 0x6F, 0x8C, 0xB1, 0x92, 0x6C, 0x82, 0xAA, ' ', '1',
               '0', '0', ' '}));
  EXPECT_EQ(got[6].payload, B({0x00, 0x4C, 0x4B, 0x40}));
  // A mob that disappears on death leaves its block but stays registered.
  EXPECT_EQ(town_->BlockAt(11, 10)->MapObjects.IndexOf(mob), -1);
  TMob* listed = nullptr;
  EXPECT_TRUE(town_->MList.TryGetValue(mob->ObjectID, listed));
}

TEST_F(CombatTest, RefusedAttacksOnlyShowTheRefusalMotion) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  TChara* b = World.AddPlayingChara("B", town_, 11, 10);
  TMob* mob = Summon(11, 11);
  SeedRandom(SeedWhereFirstDrawIsZero(false));
  const Bytes refusal = B({0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x50, 0x00});

  auto expect_refused = [&](TActionObject* target, const char* what) {
    Rec(a).Clear();
    Rec(b).Clear();
    const uint32_t hp_b = b->HP, hp_mob = mob->HP;
    a->AttackTo(target);
    ASSERT_EQ(Rec(a).Ids(), Ids({sid::kMotion})) << what;
    EXPECT_EQ(Rec(a).Frames()[0].payload, refusal) << what;
    EXPECT_EQ(Rec(b).Ids(), Ids({sid::kMotion})) << what;
    EXPECT_EQ(b->HP, hp_b) << what;
    EXPECT_EQ(mob->HP, hp_mob) << what;
  };

  town_->Flag1 = 0xFD;  // every bit but the one that allows fights between players
  expect_refused(b, "player against player");
  expect_refused(nullptr, "no target");
  mob->IsDead = true;
  expect_refused(mob, "dead target");
  mob->IsDead = false;
  a->IsDead = true;
  expect_refused(mob, "dead attacker");
  a->IsDead = false;

  // With the flag bit players may fight; mobs may always be attacked.
  town_->Flag1 = 2;
  Rec(b).Clear();
  a->AttackTo(b);
  EXPECT_EQ(b->HP, 15u);
  EXPECT_EQ(Rec(b).Ids(), Ids({sid::kDirection, sid::kStatus, sid::kAttack}));  // turn, own status, hit
  town_->Flag1 = 0;
  SeedRandom(SeedWhereFirstDrawIsZero(false));
  a->AttackTo(mob);
  EXPECT_EQ(mob->HP, 2u);
}

}  // namespace
}  // namespace vornhal::test
