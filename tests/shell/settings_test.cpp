// The INI editor and the settings file rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/settings.h"
#include "shell/ini_file.h"
#include "shell/settings_file.h"

namespace vornhal {
namespace {

TEST(IniFile, ReadsValuesIgnoringCaseBlanksAndLineEnds) {
  TIniFile ini("; comment\r\n[Main]\r\n  Priority = 4 \r\nname=a=b\r\n[other]\nX=1\n");
  EXPECT_EQ(ini.ReadString("main", "PRIORITY"), "4");
  EXPECT_EQ(ini.ReadInteger("Main", "Priority", 3), 4);
  EXPECT_EQ(ini.ReadString("Main", "name"), "a=b");
  EXPECT_EQ(ini.ReadString("Other", "x"), "1");
  EXPECT_FALSE(ini.ReadString("Main", "X").has_value());
  EXPECT_FALSE(ini.ReadString("Missing", "X").has_value());
}

TEST(IniFile, IntegersFallBackToTheDefaultWhenUnreadable) {
  EXPECT_EQ(ParseIniInteger("42"), 42);
  EXPECT_EQ(ParseIniInteger(" -7 "), -7);
  EXPECT_EQ(ParseIniInteger("+5"), 5);
  EXPECT_EQ(ParseIniInteger("0x10"), 16);
  EXPECT_EQ(ParseIniInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseIniInteger("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", " ", "abc", "12abc", "1.5", "2147483648", "99999999999999", "-", "0x"}) {
    EXPECT_FALSE(ParseIniInteger(bad).has_value()) << bad;
  }
  TIniFile ini("[A]\nN=ten\nB=2\nZ=0\n");
  EXPECT_EQ(ini.ReadInteger("A", "N", 9), 9);
  EXPECT_TRUE(ini.ReadBool("A", "B", false));
  EXPECT_FALSE(ini.ReadBool("A", "Z", true));
  EXPECT_TRUE(ini.ReadBool("A", "Missing", true));
}

TEST(IniFile, RepeatedSectionsMergeAndTheFirstKeyCounts) {
  TIniFile ini("[A]\nK=1\n[B]\nK=2\n[a]\nK=3\nL=4\n");
  EXPECT_EQ(ini.ReadString("A", "K"), "1");
  EXPECT_EQ(ini.ReadString("A", "L"), "4");
  ini.WriteString("A", "K", "9");
  EXPECT_EQ(ini.Text(), "[A]\nK=9\n[B]\nK=2\n[a]\nK=3\nL=4\n");
  ini.DeleteKey("a", "k");
  EXPECT_EQ(ini.Text(), "[A]\n[B]\nK=2\n[a]\nL=4\n");
}

TEST(IniFile, WritesReplaceInPlaceOrAppendToTheSection) {
  TIniFile ini("# top\n[A]\nK=1\n\n; note\nJ=2\n\n[B]\nX=1\n");
  ini.WriteString("A", "K", "5");
  ini.WriteString("A", "New", "6");
  ini.WriteString("C", "Y", "7");
  ini.WriteBool("B", "On", true);
  EXPECT_EQ(ini.Text(), "# top\n[A]\nK=5\n\n; note\nJ=2\nNew=6\n\n[B]\nX=1\nOn=1\n[C]\nY=7\n");
  EXPECT_TRUE(ini.SectionExists("c"));
  EXPECT_EQ(TIniFile("").Text(), "");
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettingsToDefaults(); }
  void TearDown() override { ResetSettingsToDefaults(); }
};

TEST_F(SettingsTest, AnEmptyFileGetsEverySettingInOrderWithDefaults) {
  ReadSettingsText("");
  EXPECT_EQ(WriteSettingsText(""),
            "[Main]\nAccountLimit=0\nAccountLimitValue=0\nPriority=3\n"
            "[MultiServer]\nPort=1510\n"
            "[ZoneServer]\nForcePK=0\nPort=11010\n"
            "[HttpServer]\nPort=8080\n");
}

TEST_F(SettingsTest, ValuesAreReadWithTheRangeRuleAndPortTruncation) {
  ReadSettingsText(
      "[Main]\nAccountLimit=5\nAccountLimitValue=2\nPriority=9\n"
      "[MultiServer]\nPort=70000\n[ZoneServer]\nForcePK=1\nPort=-1\n[HttpServer]\nPort=http\n");
  EXPECT_TRUE(AccountLimit);
  EXPECT_EQ(AccountLimitValue, 2);
  EXPECT_EQ(Priority, 3);
  EXPECT_EQ(MultiPort, 70000 - 65536);
  EXPECT_TRUE(ForcePK);
  EXPECT_EQ(ZonePort, 65535);
  EXPECT_EQ(HttpPort, 8080);

  for (int p : {-1, 6}) {
    ReadSettingsText("[Main]\nPriority=" + std::to_string(p) + "\n");
    EXPECT_EQ(Priority, 3) << p;
  }
  for (int p : {0, 5}) {
    ReadSettingsText("[Main]\nPriority=" + std::to_string(p) + "\n");
    EXPECT_EQ(Priority, p);
  }
}

TEST_F(SettingsTest, SavingDropsObsoleteKeysAndKeepsUnknownOnes) {
  std::string text =
      "[Main]\nPIPtoPIP=1\nClientPath=C:\\game\nPriority=9\nConnectLimit=1\nConnectLimitValue=3\n"
      "Custom=keep\n[MultiServer]\nAddr=1.2.3.4\nPort=1600\n[Extra]\nA=b\n";
  ReadSettingsText(text);
  std::string saved = WriteSettingsText(text);
  EXPECT_EQ(saved,
            "[Main]\nPriority=3\nCustom=keep\nAccountLimit=0\nAccountLimitValue=0\n"
            "[MultiServer]\nPort=1600\n[Extra]\nA=b\n"
            "[ZoneServer]\nForcePK=0\nPort=11010\n[HttpServer]\nPort=8080\n");
  // Reading the saved file gives the same settings.
  ReadSettingsText(saved);
  EXPECT_EQ(WriteSettingsText(saved), saved);
}

TEST_F(SettingsTest, LoadCreatesOrRewritesTheFile) {
  std::string dir = std::filesystem::temp_directory_path() / "vornhal-settings-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  std::string path = dir + "/vornhal.ini";
  LoadSettings(path);
  EXPECT_EQ(ReadFile(path).value_or(""), WriteSettingsText(""));

  std::ofstream(path) << "[Main]\nPriority=9\nClientPath=x\n[ZoneServer]\nPort=12000\n";
  LoadSettings(path);
  EXPECT_EQ(ZonePort, 12000);
  std::string after = ReadFile(path).value_or("");
  EXPECT_NE(after.find("Priority=3\n"), std::string::npos) << after;
  EXPECT_EQ(after.find("ClientPath"), std::string::npos) << after;
  EXPECT_FALSE(FileExists(path + ".tmp"));

  EXPECT_THROW(SaveSettings(dir + "/missing-folder/vornhal.ini"), std::runtime_error);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vornhal
