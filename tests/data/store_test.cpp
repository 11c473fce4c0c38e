#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "data/chara_store.h"
#include "data_fixture.h"
#include "platform/files.h"

namespace vornhal::test {
namespace {

class StoreTest : public DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    LoadStoreWorld();
  }

  // A complete file body; `extra` replaces or adds keys (as raw JSON text after the others).
  static std::string File(const std::string& name, const std::string& overrides = "") {
    std::string s = "{\"Name\":\"" + name +
                    "\",\"Password\":\"pw\",\"RealName\":\"r\",\"MailAddr\":\"m\",\"AdminLv\":1,"
                    "\"Sex\":1,\"Job\":2,\"Mark\":3,\"HairType\":4,\"HairColor\":16711680,"
                    "\"MapID\":1,\"X\":10,\"Y\":11,\"Dir\":3,\"Speed\":90,\"Glod\":500,"
                    "\"Equipments\":[],\"Inventory\":[]";
    if (!overrides.empty()) s += "," + overrides;  // a later duplicate key wins
    return s + "}";
  }

  std::unique_ptr<TChara> Load(const std::string& text) { return CharaFromJson(World, text); }
};

TEST_F(StoreTest, SavedCharacterReadsBackTheSame) {
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("Alice", "digest", tc));
  tc->RealName = "有栖";
  tc->MailAddr = "alice@example.invalid";
  tc->AdminLv = 3;
  tc->Sex = 1;
  tc->Job = 5;
  tc->Mark = 9;
  tc->HairType = 12;
  tc->HairColor = TAsColor{1, 2, 3};
  tc->Map = World.MapList.FindMap(1);
  tc->Point = TMapPoint{70, 80};
  tc->Dir = 6;
  tc->FSpeed = 120;
  tc->Glod = 4000000000u;
  tc->Level = 50;  // not persisted
  tc->Exp = 999;   // not persisted
  auto stick = std::make_unique<TItem>(World.ItemDB.Find("stick1"), 1);
  ASSERT_GE(tc->Equipments().Add(1, stick), 0);
  tc->Inventory().Insert(7, std::make_unique<TItem>(World.ItemDB.Find("helixir"), 250));
  tc->Inventory().Insert(2, std::make_unique<TItem>(World.ItemDB.Find("cap1"), 1));

  SaveChara(tc);
  auto text = ReadFile(Path("save/Alice.json"));
  ASSERT_TRUE(text);
  auto back = Load(*text);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->FName, "Alice");
  EXPECT_EQ(back->Pass, "digest");
  EXPECT_EQ(back->RealName, "有栖");
  EXPECT_EQ(back->MailAddr, "alice@example.invalid");
  EXPECT_EQ(back->AdminLv, 3);
  EXPECT_EQ(back->Sex, 1);
  EXPECT_EQ(back->Job, 5);
  EXPECT_EQ(back->Mark, 9);
  EXPECT_EQ(back->HairType, 12);
  EXPECT_EQ(back->HairColor, (TAsColor{1, 2, 3}));
  ASSERT_NE(back->Map, nullptr);
  EXPECT_EQ(back->Map->ID, 1);
  EXPECT_EQ(back->Point, (TMapPoint{70, 80}));
  EXPECT_EQ(back->Dir, 6);
  EXPECT_EQ(back->FSpeed, 120);
  EXPECT_EQ(back->Glod, 4000000000u);
  EXPECT_EQ(back->Level, 1);
  EXPECT_EQ(back->Exp, 0u);
  EXPECT_EQ(back->MaxWeight, 78);
  ASSERT_EQ(back->Equipments().Count(), 1);
  EXPECT_EQ(back->Equipments().GetItem(0)->SlotIndex(), 1);
  EXPECT_EQ(back->Equipments().GetItem(0)->Item()->Data()->MetaKey, "Stick1");
  ASSERT_EQ(back->Inventory().Count(), 2);
  EXPECT_EQ(back->Inventory().GetItem(0)->SlotIndex(), 7);
  EXPECT_EQ(back->Inventory().GetItem(0)->Item()->Count(), 250);
  EXPECT_EQ(back->Inventory().GetItem(1)->SlotIndex(), 2);
  EXPECT_NE(back->ObjectID, tc->ObjectID);
  // Saving again gives the same bytes.
  EXPECT_EQ(CharaToJson(*back), *text);
}

TEST_F(StoreTest, ExactFileLayout) {
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("ボブ", "p\"w", tc));
  tc->HairColor = TAsColor{255, 0, 0};
  tc->Inventory().Insert(1, std::make_unique<TItem>(World.ItemDB.Find("helixir"), 3));
  const std::string expected =
      "\xEF\xBB\xBF{\r\n"
      "  \"Name\": \"ボブ\",\r\n"
      "  \"Password\": \"p\\\"w\",\r\n"
      "  \"RealName\": \"\",\r\n"
      "  \"MailAddr\": \"\",\r\n"
      "  \"AdminLv\": 0,\r\n"
      "  \"Sex\": 0,\r\n"
      "  \"Job\": 0,\r\n"
      "  \"Mark\": 0,\r\n"
      "  \"HairType\": 0,\r\n"
      "  \"HairColor\": 16711680,\r\n"
      "  \"MapID\": 10055,\r\n"
      "  \"X\": 17,\r\n"
      "  \"Y\": 35,\r\n"
      "  \"Dir\": 2,\r\n"
      "  \"Speed\": 80,\r\n"
      "  \"Glod\": 0,\r\n"
      "  \"Equipments\": [],\r\n"
      "  \"Inventory\": [\r\n"
      "    {\r\n"
      "      \"Slot\": 1,\r\n"
      "      \"MetaKey\": \"helixir\",\r\n"
      "      \"Count\": 3\r\n"
      "    }\r\n"
      "  ]\r\n"
      "}\r\n";
  EXPECT_EQ(CharaToJson(*tc), expected);
  SaveChara(tc);
  EXPECT_EQ(ReadFile(Path("save/ボブ.json")).value_or(""), expected);
}

TEST_F(StoreTest, ValueRulesDecideWhichFilesAreRejected) {
  ASSERT_NE(Load(File("a")), nullptr);
  ASSERT_NE(Load("\xEF\xBB\xBF" + File("a")), nullptr);  // with or without the mark

  EXPECT_EQ(Load(File("a", "\"Job\":9"))->Job, 7);
  EXPECT_EQ(Load(File("a", "\"Job\":300")), nullptr);
  EXPECT_EQ(Load(File("a", "\"Sex\":\"12\""))->Sex, 12);          // numeric strings
  EXPECT_EQ(Load(File("a", "\"Glod\":\"-1\""))->Glod, 0xFFFFFFFFu);  // stored bit for bit
  EXPECT_EQ(Load(File("a", "\"HairColor\":4294967295"))->HairColor, (TAsColor{255, 255, 255}));
  EXPECT_EQ(Load(File("a", "\"Password\":null"))->Pass, "");
  EXPECT_EQ(Load(File("a", "\"RealName\":123"))->RealName, "123");

  const char* rejected[] = {
      "\"Sex\":256",        "\"Sex\":-1",          "\"Sex\":1.5",         "\"Sex\":1e2",
      "\"Sex\":true",       "\"Sex\":null",        "\"Sex\":\"1.0\"",     "\"Sex\":\" 1\"",
      "\"Sex\":[1]",        "\"Sex\":{}",          "\"X\":65536",         "\"Glod\":4294967296",
      "\"HairColor\":-1",   "\"HairColor\":4294967296", "\"Name\":true",  "\"MailAddr\":[]",
      "\"Equipments\":{}",  "\"Inventory\":null",  "\"Inventory\":[1]",
      "\"Inventory\":[{\"Slot\":1,\"MetaKey\":\"helixir\"}]",
      "\"Equipments\":[{\"MetaKey\":\"stick1\"}]",
      "\"Inventory\":[{\"Slot\":1,\"MetaKey\":\"nothing\",\"Count\":1.5}]",
  };
  for (const char* r : rejected) EXPECT_EQ(Load(File("a", r)), nullptr) << r;

  // A required key missing.
  std::string no_speed = File("a");
  no_speed.replace(no_speed.find("\"Speed\":90,"), 11, "");
  EXPECT_EQ(Load(no_speed), nullptr);
  // Torn writes and other non-JSON text.
  std::string whole = File("a");
  EXPECT_EQ(Load(whole.substr(0, whole.size() / 2)), nullptr);
  EXPECT_EQ(Load(""), nullptr);
  EXPECT_EQ(Load("[]"), nullptr);
}

TEST_F(StoreTest, AdminLevelIsOptional) {
  std::string no_admin = File("a");
  no_admin.replace(no_admin.find("\"AdminLv\":1,"), 12, "");
  auto tc = Load(no_admin);
  ASSERT_NE(tc, nullptr);
  EXPECT_EQ(tc->AdminLv, 0);
  EXPECT_EQ(Load(File("a", "\"AdminLv\":null"))->AdminLv, 0);
  EXPECT_EQ(Load(File("a", "\"AdminLv\":\"x\"")), nullptr);
}

TEST_F(StoreTest, UnknownMapPutsTheCharacterOnMapOne) {
  std::string text = File("a", "\"MapID\":777");
  for (const char* key : {"\"X\":10,", "\"Y\":11,", "\"Dir\":3,"}) {
    text.replace(text.find(key), std::strlen(key), "");
  }
  auto tc = Load(text);
  ASSERT_NE(tc, nullptr);
  EXPECT_EQ(tc->Map->ID, 1);
  EXPECT_EQ(tc->Point, (TMapPoint{65, 50}));
  EXPECT_EQ(tc->Dir, 2);
  // A known map needs its position.
  std::string known = File("a");
  known.replace(known.find("\"X\":10,"), 7, "");
  EXPECT_EQ(Load(known), nullptr);
}

TEST_F(StoreTest, UnknownItemsAreDropped) {
  auto tc = Load(File("a",
                      "\"Equipments\":[{\"Slot\":4,\"MetaKey\":\"gone\"},{\"Slot\":4,\"MetaKey\":\"CAP1\"}],"
                      "\"Inventory\":[{\"Slot\":1,\"MetaKey\":\"gone\",\"Count\":1},"
                      "{\"Slot\":\"2\",\"MetaKey\":\"HELIXIR\",\"Count\":\"5\"}]"));
  ASSERT_NE(tc, nullptr);
  ASSERT_EQ(tc->Equipments().Count(), 1);
  EXPECT_EQ(tc->Equipments().GetItem(0)->Item()->Data()->MetaKey, "cap1");
  ASSERT_EQ(tc->Inventory().Count(), 1);
  EXPECT_EQ(tc->Inventory().GetItem(0)->SlotIndex(), 2);
  EXPECT_EQ(tc->Inventory().GetItem(0)->Item()->Count(), 5);
  // The next save writes the character without the unknown item.
  EXPECT_EQ(CharaToJson(*tc).find("gone"), std::string::npos);
}

TEST_F(StoreTest, LoadCharaListSkipsRejectedDuplicateAndTornFiles) {
  WriteBytes("save/a.json", File("Alice"));
  WriteBytes("save/b.json", File("ALICE"));  // same name in other letter case
  WriteBytes("save/c.json", File("Carol").substr(0, 60));  // torn write
  WriteBytes("save/d.json", File("Dave", "\"Job\":300"));
  WriteBytes("save/e.json", File("Eve"));
  WriteBytes("save/f.json.tmp", File("Frank").substr(0, 30));  // a swap file: never read
  WriteBytes("save/g.txt", File("Gina"));
  WriteBytes("save/h.json", File("../escape"));  // not usable as a file name
  std::string out = Captured([&] { LoadCharaList(World); });
  EXPECT_NE(out.find("2 のキャラをロードしました"), std::string::npos) << out;
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("alice", tc));
  EXPECT_EQ(tc->FName, "Alice");
  EXPECT_TRUE(World.CharaList.TryGetValue("Eve", tc));
}

TEST_F(StoreTest, NoSaveFolderLoadsNothing) {
  std::string out = Captured([&] { LoadCharaList(World); });
  EXPECT_NE(out.find("0 のキャラをロードしました"), std::string::npos) << out;
}

TEST_F(StoreTest, SaveCharaListSavesEveryoneItCan) {
  std::string out = Captured([&] { EXPECT_EQ(SaveCharaList(World), 0); });
  EXPECT_EQ(out, "");  // nothing to save: no file, no line
  EXPECT_FALSE(DirectoryExists(Path("save")));

  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("one", "p", tc));
  ASSERT_TRUE(World.CharaList.CreateChara("two", "p", tc));
  ASSERT_TRUE(World.CharaList.CreateChara("three", "p", tc));
  // A folder in place of "two"'s file makes that one save fail; the folder stays as it is.
  std::filesystem::create_directories(Path("save/two.json/inside"));
  out = Captured([&] { EXPECT_EQ(SaveCharaList(World), 1); });
  EXPECT_NE(out.find("\"two\""), std::string::npos) << out;
  EXPECT_NE(out.find("キャラデータを保存しました"), std::string::npos) << out;
  EXPECT_TRUE(FileExists(Path("save/one.json")));
  EXPECT_TRUE(FileExists(Path("save/three.json")));
  EXPECT_TRUE(DirectoryExists(Path("save/two.json/inside")));
  TChara* two = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("two", two));
  EXPECT_THROW(SaveChara(two), std::runtime_error);
}

TEST_F(StoreTest, EverySaveLeavesExactlyTheNewText) {
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("zed", "p", tc));
  // Long and short texts in turn: a reused swap file must never keep a tail of older text.
  int round = 0;
  for (size_t length : {5000u, 10u, 3000u, 1u, 6000u, 20u}) {
    SCOPED_TRACE(length);
    tc->MailAddr = std::string(length, 'm');
    if (round++ % 2 == 0) {
      SaveChara(tc);
    } else {
      Captured([&] { EXPECT_EQ(SaveCharaList(World), 0); });
    }
    EXPECT_EQ(ReadFile(Path("save/zed.json")).value_or(""), CharaToJson(*tc));
  }
  SaveChara(nullptr);  // nothing happens
}

}  // namespace
}  // namespace vornhal::test
