// Bounds on what the data files can make the server hold or send: character texts cut to what
// the wire carries, and data blocks too big for one frame reported at start-up.
#include <gtest/gtest.h>

#include <random>

#include "data/chara_store.h"
#include "data_fixture.h"
#include "platform/files.h"

namespace vornhal::test {
namespace {

class StoreBoundsTest : public DataFolderTest {};

TEST_F(StoreBoundsTest, TextsFromAFileAreCutToOneWireFieldWithoutSplittingACharacter) {
  WriteBasicMaps();
  Captured([&] { LoadMapData(World); });
  // 200 two-byte characters (400 bytes in code page 932) and 300 ASCII letters.
  std::string japanese;
  for (int i = 0; i < 200; ++i) japanese += "あ";
  const std::string text = "\xEF\xBB\xBF{\"Name\":\"Cut\",\"Password\":\"p\",\"RealName\":\"" +
                           japanese + "\",\"MailAddr\":\"" + std::string(300, 'm') +
                           "\",\"Sex\":0,\"Job\":0,\"Mark\":0,\"HairType\":0,\"HairColor\":0,"
                           "\"MapID\":10055,\"X\":1,\"Y\":1,\"Dir\":0,\"Speed\":80,\"Glod\":0,"
                           "\"Equipments\":[],\"Inventory\":[]}";
  auto tc = CharaFromJson(World, text);
  ASSERT_NE(tc, nullptr);
  EXPECT_EQ(ToCP932(tc->RealName).size(), 254u);  // 127 whole characters
  EXPECT_EQ(tc->RealName, japanese.substr(0, 127 * 3));
  EXPECT_EQ(tc->MailAddr, std::string(255, 'm'));
  // A name that cannot be a save file (with its temporary name) is refused.
  std::string long_name = text;
  long_name.replace(long_name.find("\"Cut\""), 5, "\"" + std::string(kMaxCharaNameBytes + 1, 'n') + "\"");
  EXPECT_EQ(CharaFromJson(World, long_name), nullptr);
}

// A number may be stored as a string of decimal digits with a sign; nothing else in the
// string is allowed, and the value must fit its field.
TEST_F(StoreBoundsTest, NumbersWrittenAsTextAreWholeDecimalNumbersWithinTheirField) {
  WriteBasicMaps();
  Captured([&] { LoadMapData(World); });
  auto with = [](const std::string& glod, const std::string& job) {
    return "{\"Name\":\"Num\",\"Password\":\"p\",\"RealName\":\"r\",\"MailAddr\":\"m\","
           "\"Sex\":0,\"Job\":" + job + ",\"Mark\":0,\"HairType\":0,\"HairColor\":0,"
           "\"MapID\":10055,\"X\":1,\"Y\":1,\"Dir\":0,\"Speed\":80,\"Glod\":" + glod +
           ",\"Equipments\":[],\"Inventory\":[]}";
  };
  for (auto [text, glod] : {std::pair{"\"+5\"", 5u}, {"\"007\"", 7u}, {"\"-0\"", 0u},
                            {"\"4294967295\"", 4294967295u}}) {
    auto tc = CharaFromJson(World, with(text, "0"));
    ASSERT_NE(tc, nullptr) << text;
    EXPECT_EQ(tc->Glod, glod) << text;
  }
  auto job = CharaFromJson(World, with("0", "\"255\""));
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->Job, 7);  // read as a byte, then capped at the last job
  for (const char* bad : {"\" 5\"", "\"5 \"", "\"0x10\"", "\"$10\"", "\"1e3\"", "\"+-5\"", "\"\"",
                          "\"-\"", "\"4294967296\"", "\"99999999999999999999999\""}) {
    EXPECT_EQ(CharaFromJson(World, with(bad, "0")), nullptr) << bad;
  }
  EXPECT_EQ(CharaFromJson(World, with("0", "\"256\"")), nullptr);
  EXPECT_EQ(CharaFromJson(World, with("0", "\"-1\"")), nullptr);
}

TEST_F(StoreBoundsTest, AFileThatFailedToLoadReservesItsNameAndIsNeverWritten) {
  WriteBasicMaps();
  Captured([&] { LoadMapData(World); });
  WriteBytes("save/Victim.json", "{\"Name\": \"Vic");
  WriteBytes("save/Big.json", std::string(1024 * 1024 + 1, ' '));
  std::string out = Captured([&] { LoadCharaList(World); });
  EXPECT_NE(out.find("\"Victim.json\" を読み込みません (invalid JSON)"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Big.json\" を読み込みません (too large"), std::string::npos) << out;
  EXPECT_TRUE(IsReservedCharaName(World, "VICTIM"));
  EXPECT_TRUE(IsReservedCharaName(World, "big"));
  EXPECT_FALSE(IsReservedCharaName(World, "Other"));
  // Were a character of that name made anyway, its saves fail, with the writer or without.
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.CreateChara("Victim", "p", tc));
  EXPECT_NE(QueueSaveChara(tc).get(), "");
  StartSaveWriter();
  std::string created = "unset";
  QueueCreateChara(tc, [&created](const std::string& error) { created = error; });
  EXPECT_NE(QueueSaveChara(tc).get(), "");
  StopSaveWriter();
  EXPECT_NE(created, "unset");
  EXPECT_NE(created, "");
  EXPECT_EQ(ReadFile(Path("save/Victim.json")).value_or(""), "{\"Name\": \"Vic");
}

TEST_F(StoreBoundsTest, BlocksTooBigForOneFrameAreReportedNamingTheFile) {
  // Random bytes do not compress: 100 KiB stay about 100 KiB.
  std::mt19937 rng(7);
  std::string noise(100 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  WriteBytes("db/Rule.txt", noise);
  std::string out = Captured([&] { LoadRuleText(); });
  EXPECT_NE(out.find("Rule.txt\" のデータ"), std::string::npos) << out;
  EXPECT_NE(out.find("1 フレーム"), std::string::npos) << out;

  WriteBytes("db/Rule.txt", "short rules");
  out = Captured([&] { LoadRuleText(); });
  EXPECT_EQ(out.find("1 フレーム"), std::string::npos) << out;
}

}  // namespace
}  // namespace vornhal::test
