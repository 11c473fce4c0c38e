// The operator's ban commands: what they refuse, what they write, and who they disconnect.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>

#include "data/common.h"
#include "data/database.h"
#include "login/bans.h"
#include "platform/files.h"
#include "support/recording_connection.h"
#include "support/test_world.h"
#include "world/chara.h"
#include "world/world.h"
#include "world/map.h"
#include "world/map_object.h"

namespace vornhal {
namespace {

class BanCommands : public test::FreshWorldWithFolder {
 protected:
  BanCommands() : FreshWorldWithFolder("vornhal-bancmd"), dir(folder_.Path()) {}
  void SetUp() override {
    FreshWorldWithFolder::SetUp();
    LoadBanFile(dir + "/bans.txt");
    World.AddMap(10055, "town", 40, 40);
  }
  void TearDown() override {
    for (TChara* tc : World.CharaList) tc->Context.Reset();
    FreshWorldWithFolder::TearDown();
    StopBanWatcher();
    SetCurrentBans(TBanList());
  }
  TChara* Playing(const std::string& name, std::shared_ptr<test::RecordingConnection>& conn) {
    TChara* tc = nullptr;
    EXPECT_TRUE(World.CharaList.CreateChara(name, "digest", tc));
    conn = std::make_shared<test::RecordingConnection>("192.0.2.10");
    tc->Context.Reset(conn.get());
    tc->Login = TLoginState::kInWorld;
    return tc;
  }
  const std::string dir;
};

TEST_F(BanCommands, BadTargetsAreRefusedAndNothingIsWritten) {
  EXPECT_NE(AddBan(World, TBanKind::Address, "300.1.1.1", 0, "x"), "");
  EXPECT_NE(AddBan(World, TBanKind::Address, "10.0.0.0/40", 0, "x"), "");
  EXPECT_NE(AddBan(World, TBanKind::Name, "two words", 0, "x"), "");
  EXPECT_NE(AddBan(World, TBanKind::Name, "", 0, "x"), "");
  EXPECT_NE(AddBan(World, TBanKind::Name, "ok", -1, "x"), "");
  EXPECT_FALSE(FileExists(dir + "/bans.txt"));
  EXPECT_FALSE(RemoveBan(World, TBanKind::Name, "nobody"));
}

TEST_F(BanCommands, ANameBanDisconnectsThatCharacterOnlyAndEndsInWholeMinutes) {
  std::shared_ptr<test::RecordingConnection> bob_conn, amy_conn;
  Playing("Bob", bob_conn);
  Playing("Amy", amy_conn);
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(AddBan(World, TBanKind::Name, "bob", 5, "spam\nmore"), "");
  EXPECT_TRUE(bob_conn->WasClosed());
  EXPECT_FALSE(amy_conn->WasClosed());
  const TBan* ban = CurrentBans()->FindName("Bob", before);
  ASSERT_NE(ban, nullptr);
  EXPECT_EQ(ban->reason, "spam more");
  EXPECT_EQ(ban->until % 60, 0);
  EXPECT_GE(ban->until, before + 300);
  EXPECT_LT(ban->until, before + 360 + 60);
  EXPECT_EQ(*ReadFile(dir + "/bans.txt"), "name bob " + FormatBanTime(ban->until) + " spam more\n");

  EXPECT_TRUE(RemoveBan(World, TBanKind::Name, "BOB"));
  EXPECT_EQ(CurrentBans()->FindName("Bob", before), nullptr);
  EXPECT_FALSE(RemoveBan(World, TBanKind::Name, "bob"));
}

TEST_F(BanCommands, AnAddressBanWithoutEndAppliesToTheRange) {
  EXPECT_EQ(AddBan(World, TBanKind::Address, "198.51.100.0/24", 0, ""), "");
  EXPECT_EQ(*ReadFile(dir + "/bans.txt"), "ip 198.51.100.0/24 -\n");
  EXPECT_NE(CurrentBans()->FindAddress("198.51.100.77", std::time(nullptr) + 10 * 365 * 86400), nullptr);
  EXPECT_FALSE(RemoveBan(World, TBanKind::Address, "198.51.100.77"));
  EXPECT_TRUE(RemoveBan(World, TBanKind::Address, "198.51.100.0/24"));
  EXPECT_EQ(CurrentBans()->FindAddress("198.51.100.77", std::time(nullptr)), nullptr);
}

}  // namespace
}  // namespace vornhal
