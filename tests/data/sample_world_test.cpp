// Loads the bundled sample world the server runs on by default.
#include <gtest/gtest.h>

#include <set>

#include "data/chara_store.h"
#include "data/zlib_data.h"
#include "data_fixture.h"
#include "world/map.h"
#include "world/npc.h"

namespace vornhal::test {
namespace {

const char* const kDialogs[] = {
    "MultiHelpDialog", "HelpDialog", "QuestSelDialog", "MerchantSellDialog",
    "MerchantIdentifyDialog", "QuestDialog2", "ItemsDialog", "MerchantBankWIDialog",
    "QuestDialog", "MerchantBankDIDialog", "MerchantBuyDialog", "BarberShopDialog",
    "MerchantBankWGDialog", "MerchantRepairDialog", "MerchantDialog", "MerchantBankDialog",
    "PassWordDialog", "QuestSelDialog2", "MerchantBankDGDialog", "Merchant"};

class SampleWorldTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ResetProcessState();
    DataDir = std::string(VORNHAL_SAMPLE_DIR) + "/";
    world_ = new TTestWorld();
    ::testing::internal::CaptureStdout();
    LoadDatabase(*world_);
    LoadRuleText();
    LoadTempData();
    CreateScriptDataList();
    log_ = new std::string(::testing::internal::GetCapturedStdout());
  }
  static void TearDownTestSuite() {
    delete world_;
    ResetProcessState();
    delete log_;
  }
  static TTestWorld* world_;  // loaded once for the suite
  static std::string* log_;
};
TTestWorld* SampleWorldTest::world_ = nullptr;
std::string* SampleWorldTest::log_ = nullptr;

TEST_F(SampleWorldTest, EveryLoaderReportsAndNothingFails) {
  for (const char* line : {"のアイテムをロードしました", "のマップをロードしました",
                           "のポータルをロードしました", "のNPCデータをロードしました",
                           "のMobデータをロードしました", "0 のキャラをロードしました"}) {
    EXPECT_NE(log_->find(line), std::string::npos) << line << "\n" << *log_;
  }
  EXPECT_EQ(log_->find("Error"), std::string::npos) << *log_;
  EXPECT_EQ(log_->find("Rule.txt"), std::string::npos) << "the sample has its own rules text";
  EXPECT_GE(world_->MapList.Count(), 4);
  EXPECT_GE(world_->PortalList.Count(), 6);
  EXPECT_GE(world_->NpcList.Count(), 4);
  EXPECT_GE(world_->MobDB.Count(), 3);
  EXPECT_GT(TempCRCs.size(), 0u);
}

TEST_F(SampleWorldTest, StartMapsPortalsAndGridsFitTogether) {
  TMap* start = world_->MapList.FindMap(10055);
  TMap* field = world_->MapList.FindMap(1);
  ASSERT_NE(start, nullptr);
  ASSERT_NE(field, nullptr);
  for (const auto& m : world_->MapList) EXPECT_TRUE(m->Usedat) << m->ID;
  EXPECT_FALSE(start->CanMove(10, 10));  // a house
  EXPECT_TRUE(start->CanMove(17, 35));
  EXPECT_TRUE(start->CanMove(30, 34));
  EXPECT_TRUE(field->CanMove(65, 50));
  EXPECT_LT(30, start->Width);
  EXPECT_LT(50, field->Height);

  std::set<std::pair<int, int>> links;
  for (const auto& p : world_->PortalList) {
    ASSERT_NE(p->SrcMap, nullptr);
    ASSERT_NE(p->DestMap, nullptr);
    links.insert({p->SrcMap->ID, p->DestMap->ID});
    EXPECT_TRUE(p->DestMap->CanMove(p->DestPoint.X, p->DestPoint.Y)) << p->DestMap->ID;
    for (int x = p->SrcMinPoint.X; x <= p->SrcMaxPoint.X; ++x) {
      for (int y = p->SrcMinPoint.Y; y <= p->SrcMaxPoint.Y; ++y) {
        EXPECT_TRUE(p->SrcMap->CanMove(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
      }
    }
    // Arriving must not drop a character straight into another portal.
    for (const auto& q : world_->PortalList) {
      if (q->SrcMap != p->DestMap) continue;
      bool inside = p->DestPoint.X >= q->SrcMinPoint.X && p->DestPoint.X <= q->SrcMaxPoint.X &&
                    p->DestPoint.Y >= q->SrcMinPoint.Y && p->DestPoint.Y <= q->SrcMaxPoint.Y;
      EXPECT_FALSE(inside);
    }
  }
  for (const auto& [from, to] : links) {
    EXPECT_TRUE(links.count({to, from})) << from << " -> " << to << " has no way back";
  }
  int npcs_near_start = 0;
  for (TNpc* npc : world_->NpcList) {
    ASSERT_NE(world_->MapList.FindMap(npc->MapID), nullptr) << npc->FName;
    if (npc->MapID == 10055 && npc->ScriptName.empty()) ++npcs_near_start;
  }
  EXPECT_GE(npcs_near_start, 2);
}

TEST_F(SampleWorldTest, ItemsAndMobsTheServerNames) {
  for (const char* key : {"money1", "money2", "money3", "money4", "stick1", "helixir"}) {
    EXPECT_NE(world_->ItemDB.Find(key), nullptr) << key;
  }
  EXPECT_TRUE(world_->ItemDB.Find("helixir")->IsStackable());
  bool consumable = false;
  std::set<int> parts;
  for (const char* key : {"helixir", "bread1", "herb1", "stick1", "sword1", "cloth1", "robe1",
                          "buckler1", "shield1", "cap1", "helm1"}) {
    TItemData* d = world_->ItemDB.Find(key);
    ASSERT_NE(d, nullptr) << key;
    consumable |= d->IsConsumable();
    if (d->IsEquipable()) parts.insert(d->EquipPart);
  }
  EXPECT_TRUE(consumable);
  EXPECT_EQ(parts, (std::set<int>{1, 2, 3, 4, 17, 18, 19, 20}));
  TMobData* beat = nullptr;
  EXPECT_TRUE(world_->MobDB.TryGetValue("ビートミー", beat));
}

TEST_F(SampleWorldTest, EveryScriptTheServerNeedsIsPresent) {
  for (const char* name : kDialogs) EXPECT_EQ(ScriptCRCs.count(name), 1u) << name;
  EXPECT_EQ(ScriptCRCs.count("VornhalTest"), 1u);
  EXPECT_EQ(ScriptCRCs.count("nMiAllMarket01"), 1u);
  for (TNpc* npc : world_->NpcList) {
    if (!npc->ScriptName.empty()) {
      EXPECT_EQ(ScriptCRCs.count(npc->ScriptName), 1u) << npc->ScriptName;
    }
  }
  // Scripts are stored without a byte-order mark, so the text starts with the markup.
  EXPECT_EQ(ZDecompress(ScriptFiles.at("HelpDialog")).substr(0, 7), "<script");
}

TEST_F(SampleWorldTest, NewCharactersStartOnTheSampleWorld) {
  TChara* tc = nullptr;
  ASSERT_TRUE(world_->CharaList.CreateChara("newcomer", "p", tc));
  auto back = CharaFromJson(*world_, CharaToJson(*tc));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Map->ID, 10055);
  EXPECT_EQ(back->Point, (TMapPoint{17, 35}));
}

}  // namespace
}  // namespace vornhal::test
