// The INI editor and the settings file rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/settings.h"
#include "shell/ini_file.h"
#include "shell/settings_file.h"
#include "support/temp_folder.h"

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
  // Tabs are trimmed too; hexadecimal up to FFFFFFFF spells the 32 bits, decimal does not.
  EXPECT_EQ(ParseIniInteger("\t-7\t"), -7);
  EXPECT_EQ(ParseIniInteger("$80000000"), -2147483647 - 1);
  EXPECT_EQ(ParseIniInteger("-$80000000"), -2147483647 - 1);
  EXPECT_EQ(ParseIniInteger("0X7fffffff"), 2147483647);
  for (const char* bad : {"", " ", "abc", "12abc", "1.5", "2147483648", "99999999999999", "-", "0x",
                          "x10", "$100000000", "-$FFFFFFFF", "4294967295", "+-5", "1 2"}) {
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

// What every file gets after the designed sections: the added settings with their defaults.
const char kAddedSections[] =
    "[Security]\nTrustedAddresses=127.0.0.1\nMaxConnectionsPerIP=16\nMaxConnections=10000\n"
    "LoginTimeout=30\nIdleTimeout=600\nMaxPacketsPerSecond=100\nMaxUnsentBytesTotal=268435456\n"
    "ChatLinesPer5s=10\nMaxLogLinesPerConnection=100\nMaxMobsPerMap=1000\nMaxItemsPerBlock=200\n"
    "LoginFailuresAllowed=5\nLoginLockSeconds=300\nAccountsPerIPPerHour=5\n"
    "[AdminServer]\nPort=8081\nBind=127.0.0.1\nToken=\nMetricsToken=1\n";
const char kMainAdded[] = "PasswordHash=argon2id\nPasswordHashMemoryKiB=19456\nPasswordHashPasses=2\n";

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettingsToDefaults(); }
  void TearDown() override { ResetSettingsToDefaults(); }
};

TEST_F(SettingsTest, AnEmptyFileGetsEverySettingInOrderWithDefaults) {
  ReadSettingsText("");
  EXPECT_EQ(WriteSettingsText(""),
            std::string("[Main]\nAccountLimit=0\nAccountLimitValue=0\nPriority=3\n") + kMainAdded +
                "[MultiServer]\nPort=1510\n"
                "[ZoneServer]\nForcePK=0\nPort=11010\nGMLevel=0\n"
                "[HttpServer]\nPort=8080\n" +
                kAddedSections);
}

TEST_F(SettingsTest, ValuesAreReadWithTheRangeRuleAndPortTruncation) {
  ReadSettingsText(
      "[Main]\nAccountLimit=5\nAccountLimitValue=2\nPriority=9\n"
      "[MultiServer]\nPort=70000\n[ZoneServer]\nForcePK=1\nPort=-1\n[HttpServer]\nPort=http\n");
  EXPECT_TRUE(AccountLimit);
  EXPECT_EQ(AccountLimitValue, 2);
  EXPECT_EQ(Priority, 3);
  EXPECT_EQ(MultiPort, 70000 - 65536);
  EXPECT_TRUE(WorldSettings.ForcePK);
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

TEST_F(SettingsTest, AddedSettingsAreReadCorrectedAndWrittenBack) {
  std::string text =
      "[Main]\nPasswordHash=SHA1\nPasswordHashMemoryKiB=1024\nPasswordHashPasses=3\n"
      "[ZoneServer]\nGMLevel=-4\n[GMCommands]\nGlod=2\n@reload=3\nsummon=high\nglod=9\n"
      "[Security]\nMaxConnectionsPerIP=0\nLoginTimeout=-5\nChatLinesPer5s=x\n"
      "TrustedAddresses= 127.0.0.1 , 127.0.0.3\n"
      "[AdminServer]\nPort=9090\nBind=\nToken=abc\nMetricsToken=0\n";
  ReadSettingsText(text);
  EXPECT_EQ(PasswordHash, "sha1");
  EXPECT_EQ(PasswordHashMemoryKiB, 19456);  // raised to the floor
  EXPECT_EQ(PasswordHashPasses, 3);
  EXPECT_EQ(WorldSettings.GMLevel, 0);
  EXPECT_EQ(WorldSettings.GMCommandLevels, (std::map<std::string, int32_t>{{"glod", 2}, {"reload", 3}}));
  EXPECT_EQ(Security.MaxConnectionsPerIP, 0);  // 0 turns the limit off
  EXPECT_EQ(Security.LoginTimeout, 30);
  EXPECT_EQ(Security.ChatLinesPer5s, 10);
  EXPECT_TRUE(IsTrustedAddress("127.0.0.3"));
  EXPECT_TRUE(IsTrustedAddress("127.0.0.1"));
  EXPECT_FALSE(IsTrustedAddress("127.0.0.2"));
  EXPECT_FALSE(IsTrustedAddress(""));
  EXPECT_EQ(AdminServerSettings.Port, 9090);
  EXPECT_EQ(AdminServerSettings.Bind, "127.0.0.1");
  EXPECT_EQ(AdminServerSettings.Token, "abc");
  EXPECT_FALSE(AdminServerSettings.MetricsToken);

  std::string saved = WriteSettingsText(text);
  EXPECT_NE(saved.find("[GMCommands]\nGlod=2\n@reload=3\nglod=9\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("summon"), std::string::npos) << saved;
  EXPECT_NE(saved.find("LoginTimeout=30\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("PasswordHash=sha1\n"), std::string::npos) << saved;
  ReadSettingsText(saved);
  EXPECT_EQ(WriteSettingsText(saved), saved);
}

TEST_F(SettingsTest, SavingDropsObsoleteKeysAndKeepsUnknownOnes) {
  std::string text =
      "[Main]\nPIPtoPIP=1\nClientPath=C:\\game\nPriority=9\nConnectLimit=1\nConnectLimitValue=3\n"
      "Custom=keep\n[MultiServer]\nAddr=1.2.3.4\nPort=1600\n[Extra]\nA=b\n";
  ReadSettingsText(text);
  std::string saved = WriteSettingsText(text);
  EXPECT_EQ(saved,
            std::string("[Main]\nPriority=3\nCustom=keep\nAccountLimit=0\nAccountLimitValue=0\n") +
                kMainAdded + "[MultiServer]\nPort=1600\n[Extra]\nA=b\n"
                "[ZoneServer]\nForcePK=0\nPort=11010\nGMLevel=0\n[HttpServer]\nPort=8080\n" +
                kAddedSections);
  // Reading the saved file gives the same settings.
  ReadSettingsText(saved);
  EXPECT_EQ(WriteSettingsText(saved), saved);
}

TEST_F(SettingsTest, LoadCreatesOrRewritesTheFile) {
  test::TempFolder folder("vornhal-settings");
  const std::string dir = folder.Path();
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
}

// The file may hold the admin token: a rewrite never makes it readable by more users than
// before, and a new file with a token is its owner's alone.
TEST_F(SettingsTest, RewritesKeepPermissionsAndANewFileWithATokenIsPrivate) {
  std::string dir = std::filesystem::temp_directory_path() / "vornhal-settings-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  auto mode_of = [](const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 0777;
  };
  const std::string kept = dir + "/kept.ini";
  std::ofstream(kept) << "[AdminServer]\nToken=secret-token-value\n";
  ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
  LoadSettings(kept);
  EXPECT_EQ(AdminServerSettings.Token, "secret-token-value");
  EXPECT_EQ(mode_of(kept), 0640u);
  EXPECT_NE(ReadFile(kept).value_or("").find("Token=secret-token-value"), std::string::npos);

  const std::string fresh = dir + "/fresh.ini";
  SaveSettings(fresh);  // the token read above is still set
  EXPECT_EQ(mode_of(fresh), 0600u);
  AdminServerSettings.Token.clear();
  const std::string plain = dir + "/plain.ini";
  SaveSettings(plain);
  EXPECT_EQ(mode_of(plain) & 0600, 0600u);
  // A token generated for a file that had none: the file becomes private.
  ASSERT_EQ(::chmod(plain.c_str(), 0664), 0);
  AdminServerSettings.Token = "generated";
  SaveSettings(plain, true);
  EXPECT_EQ(mode_of(plain), 0600u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vornhal
