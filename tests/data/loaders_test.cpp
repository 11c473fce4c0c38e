#include <gtest/gtest.h>

#include "data_fixture.h"
#include "world/map.h"
#include "world/mob.h"
#include "world/npc.h"

namespace vornhal::test {
namespace {

using LoaderTest = DataFolderTest;

TEST_F(LoaderTest, ItemLinesCommentsKeysAndNumbers) {
  WriteText("db/ItemDB.txt",
            "; comment\r\n"
            "// another comment\r\n"
            "\r\n"
            "   \t  \r\n"
            "Stick1,木の棒,2,1,0,100,16711680,1,18,7,100\r\n"
            "STICK1,二本目,0,0,0,0,0,0,0,0,0\r\n"          // same key in other case: ignored
            "short,十個,0,0,0,0,0,0,0,0\r\n"               // only 10 fields
            "off,無効,0,-1,0,0,0,0,0,0,0\r\n"              // item type -1: disabled
            "lead, 前の空白, 1,0, 5,$FF,0,0,0,0,0\r\n"     // leading blanks are fine
            "trail,後ろの空白,1 ,0,5,1,0,0,0,0,0\r\n"      // a trailing blank is not
            "hex,十六進,0,$FF,0x10,x20,$00FF00,0,300,65537,-1,extra\n");
  std::string out = Captured([&] { LoadItemData(World); });
  EXPECT_NE(out.find("3 のアイテムをロードしました"), std::string::npos) << out;
  ASSERT_EQ(World.ItemDB.Count(), 3);

  TItemData* stick = World.ItemDB.Find("stick1");
  ASSERT_NE(stick, nullptr);
  EXPECT_EQ(stick->MetaKey, "Stick1");
  EXPECT_EQ(stick->Name, "木の棒");
  EXPECT_EQ(stick->Color, (TAsColor{255, 0, 0}));
  EXPECT_TRUE(stick->IsEnchantable);
  EXPECT_EQ(stick->EquipPart, 18);
  EXPECT_EQ(stick->EquipTile, 7);

  TItemData* lead = World.ItemDB.Find("lead");
  ASSERT_NE(lead, nullptr);
  EXPECT_EQ(lead->Name, " 前の空白");  // text fields are not trimmed
  EXPECT_EQ(lead->ActionType, 5);
  EXPECT_EQ(lead->IconTile, 255);

  TItemData* hex = World.ItemDB.Find("HEX");
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex->ItemType, 255);
  EXPECT_EQ(hex->ActionType, 16);
  EXPECT_EQ(hex->IconTile, 32);
  EXPECT_EQ(hex->Color, (TAsColor{0, 255, 0}));
  EXPECT_EQ(hex->EquipPart, 300 % 256);      // low-order bits kept
  EXPECT_EQ(hex->EquipTile, 65537 % 65536);
  EXPECT_EQ(hex->DropTile, 65535);

  EXPECT_EQ(World.ItemDB.Find("off"), nullptr);
  EXPECT_EQ(World.ItemDB.Find("trail"), nullptr);
  EXPECT_EQ(World.ItemDB.Find("short"), nullptr);
}

TEST_F(LoaderTest, MissingFilesLogAndLeaveContainersEmpty) {
  std::string out = Captured([&] {
    LoadItemData(World);
    LoadMapData(World);
    LoadPortalData(World);
    LoadNpcData(World);
    LoadMobData(World);
  });
  for (const char* file : {"ItemDB.txt", "MapDB.txt", "PortalList.txt", "NpcList.txt", "MobDB.txt"}) {
    EXPECT_NE(out.find("Error: \"" + Path("db/") + file + "\" が見つかりません"), std::string::npos)
        << file << "\n" << out;
  }
  EXPECT_EQ(out.find("ロードしました"), std::string::npos);
  EXPECT_EQ(World.NpcList.Count(), 0);  // no guide without the file
}

TEST_F(LoaderTest, MapsGridsAndSorting) {
  WriteText("db/MapDB.txt",
            "; id,w,h,f1,f2,name,bgm\r\n"
            "20,100,60,2,1,二十,7\r\n"
            "5,10,10,0,0,五,音楽\r\n"     // BGM not a number gives 0
            "bad,10,10,0,0,x,1\r\n"
            "6,10,10,0,0,六\r\n"          // only 6 fields
            "5,12,12,0,0,二つ目の五,2\r\n");  // a duplicate id is its own map
  WriteBytes("map/00005.dat", std::string("\x03\x02\x00\x01\x00\x00\x00\x01trailing", 16));
  WriteBytes("map/00020.dat", std::string("\x01\x01\x00", 3));
  std::string out = Captured([&] { LoadMapData(World); });
  EXPECT_NE(out.find("3 のマップをロードしました"), std::string::npos) << out;
  EXPECT_NE(out.find("\"00005.dat\"をロード"), std::string::npos);
  EXPECT_NE(out.find("\"00020.dat\"をロード"), std::string::npos);

  ASSERT_EQ(World.MapList.Count(), 3);
  EXPECT_EQ(World.MapList[0]->ID, 5);
  EXPECT_EQ(World.MapList[1]->ID, 5);
  EXPECT_EQ(World.MapList[2]->ID, 20);
  TMap* m20 = World.MapList[2];
  EXPECT_EQ(m20->Width, 100);
  EXPECT_EQ(m20->Height, 60);
  EXPECT_EQ(m20->Flag1, 2);
  EXPECT_EQ(m20->Flag2, 1);
  EXPECT_EQ(m20->Name, "二十");
  EXPECT_EQ(m20->BGM, 7);

  // Both maps with id 5 read the same grid file.
  for (int i = 0; i < 2; ++i) {
    TMap* m = World.MapList[i];
    if (m->Name == "五") {
      EXPECT_EQ(m->BGM, 0);
    }
    ASSERT_TRUE(m->Usedat);
    ASSERT_EQ(m->DatWidth, 3);
    ASSERT_EQ(m->DatHeight, 2);
    for (int x = 0; x < 3; ++x) {
      for (int y = 0; y < 2; ++y) {
        bool blocked = (x == 1 && y == 0) || (x == 2 && y == 1);
        EXPECT_EQ(m->Dat(x, y), blocked ? 1 : 0) << x << "," << y;
      }
    }
  }
}

TEST_F(LoaderTest, MapWithoutGridFileHasNoGrid) {
  WriteText("db/MapDB.txt", "7,10,10,0,0,七,1\r\n");
  Captured([&] { LoadMapData(World); });
  ASSERT_EQ(World.MapList.Count(), 1);
  EXPECT_FALSE(World.MapList[0]->Usedat);
}

TEST_F(LoaderTest, ShortGridFileStopsStartUp) {
  WriteText("db/MapDB.txt", "9,10,10,0,0,九,1\r\n");
  WriteBytes("map/00009.dat", std::string("\x03\x02\x00\x01\x00", 5));
  try {
    Captured([&] { LoadMapData(World); });
    FAIL() << "a short grid file must stop the load";
  } catch (const FatalDataError& e) {
    EXPECT_NE(std::string(e.what()).find("00009.dat"), std::string::npos) << e.what();
  }
}

TEST_F(LoaderTest, PortalAreasAndStopOnUnknownMap) {
  WriteBasicMaps();
  WriteText("db/PortalList.txt",
            "10055,10,5,8,7,1,60,6,2\r\n"
            "1,58,1,62,2,10055,40,54,0\r\n"
            "1,1,1,2,2,999,5,5,0\r\n"        // names a map that does not exist
            "10055,1,1,2,2,1,5,5,0\r\n");
  std::string out = Captured([&] {
    LoadMapData(World);
    LoadPortalData(World);
  });
  EXPECT_NE(out.find("Error: MapID \"999\" は存在しません"), std::string::npos) << out;
  EXPECT_EQ(out.find("のポータルをロードしました"), std::string::npos) << out;
  ASSERT_EQ(World.PortalList.Count(), 2);
  TPortal* p = World.PortalList[0];
  EXPECT_EQ(p->SrcMap->ID, 10055);
  EXPECT_EQ(p->DestMap->ID, 1);
  EXPECT_EQ(p->SrcMinPoint, (TMapPoint{8, 5}));
  EXPECT_EQ(p->SrcMaxPoint, (TMapPoint{10, 7}));
  EXPECT_EQ(p->Point, (TMapPoint{9, 6}));
  EXPECT_EQ(p->DestPoint, (TMapPoint{60, 6}));
  EXPECT_EQ(p->Dir, 2);
}

TEST_F(LoaderTest, PortalLinesWithBadNumbersAreSkipped) {
  WriteBasicMaps();
  WriteText("db/PortalList.txt",
            "abc,1,1,2,2,1,5,5,0\r\n"         // bad source id: skipped, reading goes on
            "10055,1,1,2,2,1,5,5\r\n"         // 8 fields
            "10055,1,1,2,2,1,5,y,0\r\n"       // bad destination Y
            "10055,1,1,2,2,1,5,5,0\r\n");
  std::string out = Captured([&] {
    LoadMapData(World);
    LoadPortalData(World);
  });
  EXPECT_NE(out.find("1 のポータルをロードしました"), std::string::npos) << out;
  EXPECT_EQ(World.PortalList.Count(), 1);
}

TEST_F(LoaderTest, NpcDirectionsGraphicsAndTheGuide) {
  WriteText("db/NpcList.txt",
            "10055,道具屋,22,30,2,16400\r\n"
            "10055,北向き,1,2,9,16401\r\n"     // direction 9 is clamped to 7
            "10055,向き不明,1,2,北,16402\r\n"  // not a number: 2
            "10055,画像不明,1,2,1,絵\r\n"      // graphic not a number: 16384
            "1,低い桁,1,2,$101,$10001\r\n"     // low-order bits: 1 and 1
            "1,座標不正,x,2,1,1\r\n"           // skipped
            "1,五つ,1,2,1\r\n");               // skipped
  std::string out = Captured([&] { LoadNpcData(World); });
  EXPECT_NE(out.find("5 のNPCデータをロードしました"), std::string::npos) << out;
  ASSERT_EQ(World.NpcList.Count(), 6);
  EXPECT_EQ(World.NpcList[0]->FName, "道具屋");
  EXPECT_EQ(World.NpcList[0]->Point, (TMapPoint{22, 30}));
  EXPECT_EQ(World.NpcList[0]->ScriptName, "");
  EXPECT_EQ(World.NpcList[1]->Dir, 7);
  EXPECT_EQ(World.NpcList[2]->Dir, 2);
  EXPECT_EQ(World.NpcList[3]->GraphicID, 16384);
  EXPECT_EQ(World.NpcList[4]->Dir, 1);
  EXPECT_EQ(World.NpcList[4]->GraphicID, 1);
  EXPECT_EQ(World.NpcList[0]->ObjectID, kFirstNpcID);
  TNpc* guide = World.NpcList[5];
  EXPECT_EQ(guide->FName, "エミュ鯖ガイド");
  EXPECT_EQ(guide->ScriptName, "VornhalTest");
  EXPECT_EQ(guide->GraphicID, 16425);
  EXPECT_EQ(guide->MapID, 10055);
  EXPECT_EQ(guide->Point, (TMapPoint{30, 34}));
  EXPECT_EQ(guide->Dir, 2);
}

TEST_F(LoaderTest, MobLinesWithMixedSeparators) {
  WriteText("db/MobDB.txt",
            "; comment\r\n"
            "// comment\r\n"
            "\r\n"
            "ビートミー 1001,255 128, 64 80 1 30 0 0 3 5 0 0 3 3 3 3 3 -5 $FF True False\r\n"
            "\"Big Bat\",1004,1,2,3,50,8,-1,10,40,12,16,0,0,7,4,4,6,12,3,5,true,1,ignored\r\n"
            "Slime,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,0.5,0\r\n");
  std::string out = Captured([&] { LoadMobData(World); });
  EXPECT_NE(out.find("3 のMobデータをロードしました"), std::string::npos) << out;
  ASSERT_EQ(World.MobDB.Count(), 3);
  TMobData* beat = World.MobDB[0];
  EXPECT_EQ(beat->Name, "ビートミー");
  EXPECT_EQ(beat->GraphicID, 1001);
  EXPECT_EQ(beat->Color, (TAsColor{255, 128, 64}));
  EXPECT_EQ(beat->Speed, 80);
  EXPECT_EQ(beat->MaxHP, 30u);
  EXPECT_EQ(beat->AC, -5);
  EXPECT_EQ(beat->MC, -1);  // $FF in a signed byte
  EXPECT_TRUE(beat->IsActive);
  EXPECT_FALSE(beat->IsMove);
  EXPECT_EQ(beat->MDAM, 0);

  TMobData* bat = nullptr;
  ASSERT_TRUE(World.MobDB.TryGetValue("BIG BAT", bat));
  EXPECT_EQ(bat->MaxHP, 0xFFFFFFFFu);
  EXPECT_TRUE(bat->IsActive);
  EXPECT_TRUE(bat->IsMove);
  EXPECT_TRUE(World.MobDB[2]->IsActive);  // a fraction counts as a number
}

TEST_F(LoaderTest, MobLinesThatStopStartUp) {
  const std::string good = "a,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True,True";
  struct Case {
    const char* what;
    std::string line;
  };
  const Case cases[] = {
      {"22 fields", "b,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True"},
      {"only blanks", "    "},
      {"a comment after blanks", "  ; note"},
      {"a bad number", "b,1,1,1,1,x,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True,True"},
      {"a trailing blank inside quotes", "b,\"1 \",1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True,True"},
      {"a bad boolean", "b,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,Yes,True"},
      {"a duplicate name", "A,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True,True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World.MobDB.Clear();
    WriteText("db/MobDB.txt", good + "\r\n; fine\r\n" + c.line + "\r\n");
    try {
      Captured([&] { LoadMobData(World); });
      ADD_FAILURE() << "the line must stop the load";
    } catch (const FatalDataError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find("MobDB.txt"), std::string::npos) << what;
      EXPECT_NE(what.find("3 行目"), std::string::npos) << what;
    }
  }
}

TEST_F(LoaderTest, LoadDatabaseRunsEveryLoaderInOrder) {
  WriteText("db/ItemDB.txt", "stick1,棒,0,1,0,1,0,0,1,1,1\r\n");
  WriteBasicMaps();
  WriteText("db/PortalList.txt", "10055,1,1,2,2,1,5,5,0\r\n");
  WriteText("db/NpcList.txt", "1,商人,3,3,2,1\r\n");
  WriteText("db/MobDB.txt", "a,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,True,True\r\n");
  std::string out = Captured([&] { LoadDatabase(World); });
  const char* lines[] = {"1 のアイテムをロードしました", "2 のマップをロードしました",
                         "1 のポータルをロードしました", "1 のNPCデータをロードしました",
                         "1 のMobデータをロードしました", "0 のキャラをロードしました"};
  size_t at = 0;
  for (const char* line : lines) {
    size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << out;
    at = found;
  }
}

}  // namespace
}  // namespace vornhal::test
