// The ban file: its lines, address ranges, end times, and edits that keep the other lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ban_list.h"
#include "platform/files.h"
#include "support/temp_folder.h"

namespace vornhal {
namespace {

TEST(BanLine, KindsTargetsEndsAndReasons) {
  std::string error;
  auto ip = ParseBanLine("  ip 10.1.2.3 - flooding the login  ", error);
  ASSERT_TRUE(ip) << error;
  EXPECT_EQ(ip->kind, TBanKind::Address);
  EXPECT_EQ(ip->target, "10.1.2.3");
  EXPECT_EQ(ip->until, 0);
  EXPECT_EQ(ip->reason, "flooding the login");

  auto name = ParseBanLine("name 悪役 2030-05-06T07:08 暴言", error);
  ASSERT_TRUE(name) << error;
  EXPECT_EQ(name->kind, TBanKind::Name);
  EXPECT_EQ(name->target, "悪役");
  EXPECT_EQ(FormatBanTime(name->until), "2030-05-06T07:08");
  EXPECT_EQ(name->reason, "暴言");

  auto no_reason = ParseBanLine("name Quiet -\r", error);
  ASSERT_TRUE(no_reason) << error;
  EXPECT_EQ(no_reason->reason, "");

  // Comments and blank lines are no bans and no errors.
  EXPECT_FALSE(ParseBanLine("# ip 1.2.3.4 - not a ban", error));
  EXPECT_TRUE(error.empty());
  EXPECT_FALSE(ParseBanLine("   ", error));
  EXPECT_TRUE(error.empty());

  for (const char* bad : {"ip 1.2.3 - x", "ip 1.2.3.4/33 - x", "ip 256.1.1.1 - x", "ip 1.2.3.4",
                          "name #x - y", "user bob - x", "name bob 2030-13-01T00:00 x",
                          "name bob 2030-02-30T00:00 x", "name bob tomorrow x"}) {
    EXPECT_FALSE(ParseBanLine(bad, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(BanLine, WrittenLinesReadBackAndStayOneLine) {
  TBan ban;
  ban.kind = TBanKind::Name;
  ban.target = "Bob";
  ban.until = *ParseBanTime("2031-01-02T03:04");
  ban.reason = "line\nbreak";
  std::string line = BanLine(ban);
  EXPECT_EQ(line, "name Bob 2031-01-02T03:04 line break");
  std::string error;
  auto back = ParseBanLine(line, error);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->until, ban.until);
}

TEST(BanList, AddressesRangesNamesAndExpiry) {
  TBanList list = TBanList::Parse(
      "\xEF\xBB\xBFip 127.0.0.2 - one\n"
      "ip 10.20.0.0/16 - range\n"
      "ip 192.168.1.77/24 - host bits ignored\n"
      "name Villain - cheat\n"
      "name Gone 2001-01-01T00:00 served\n"
      "garbage line\n");
  ASSERT_EQ(list.Bans().size(), 5u);
  const std::time_t now = std::time(nullptr);
  ASSERT_NE(list.FindAddress("127.0.0.2", now), nullptr);
  EXPECT_EQ(list.FindAddress("127.0.0.2", now)->reason, "one");
  EXPECT_EQ(list.FindAddress("127.0.0.1", now), nullptr);
  EXPECT_NE(list.FindAddress("10.20.255.1", now), nullptr);
  EXPECT_EQ(list.FindAddress("10.21.0.1", now), nullptr);
  EXPECT_NE(list.FindAddress("192.168.1.5", now), nullptr);
  EXPECT_EQ(list.FindAddress("not an address", now), nullptr);
  EXPECT_NE(list.FindName("villain", now), nullptr);
  EXPECT_EQ(list.FindName("Villain2", now), nullptr);
  // Ended bans no longer apply; before their end they did.
  EXPECT_EQ(list.FindName("Gone", now), nullptr);
  EXPECT_NE(list.FindName("Gone", *ParseBanTime("2000-12-31T23:59")), nullptr);

  TBanList all = TBanList::Parse("ip 0.0.0.0/0 - everyone\n");
  EXPECT_NE(all.FindAddress("8.8.8.8", now), nullptr);
}

TEST(BanList, BadLinesAreReportedWithTheirNumber) {
  std::vector<int> lines;
  TBanList list = TBanList::Parse("ip 1.2.3.4 - ok\n\nip nope - x\n# c\nname - \n",
                                  [&](int line, const std::string&) { lines.push_back(line); });
  EXPECT_EQ(list.Bans().size(), 1u);
  EXPECT_EQ(lines, (std::vector<int>{3, 5}));
}

class BanFile : public ::testing::Test {
 protected:
  void TearDown() override {
    StopBanWatcher();
    SetCurrentBans(TBanList());
  }
  test::TempFolder folder{"vornhal-bans"};
  const std::string dir = folder.Path();
  const std::string path = dir + "/bans.txt";
};

TEST_F(BanFile, EditsKeepOtherLinesAndApplyAtOnce) {
  std::ofstream(path) << "# operator notes\nip 10.0.0.1 - keep\nname Bob - old";  // no line end
  LoadBanFile(path);
  EXPECT_EQ(CurrentBans()->Bans().size(), 2u);

  TBan ban;
  ban.kind = TBanKind::Name;
  ban.target = "Eve";
  ban.reason = "spam";
  EXPECT_EQ(AppendBanLine(ban), "");
  EXPECT_NE(CurrentBans()->FindName("eve", std::time(nullptr)), nullptr);
  EXPECT_EQ(*ReadFile(path), "# operator notes\nip 10.0.0.1 - keep\nname Bob - old\nname Eve - spam\n");

  int count = -1;
  EXPECT_EQ(RemoveBanLines(TBanKind::Name, "BOB", count), "");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(CurrentBans()->FindName("Bob", std::time(nullptr)), nullptr);
  EXPECT_EQ(*ReadFile(path), "# operator notes\nip 10.0.0.1 - keep\nname Eve - spam\n");
  // A name ban is not an address ban of the same text, and nothing left to remove is 0.
  EXPECT_EQ(RemoveBanLines(TBanKind::Address, "Eve", count), "");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(RemoveBanLines(TBanKind::Address, "10.0.0.1/32", count), "");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(*ReadFile(path), "# operator notes\nname Eve - spam\n");
}

TEST_F(BanFile, AChangedFileIsReadAgainByTheWatcher) {
  LoadBanFile(path);  // no file yet: no bans
  EXPECT_TRUE(CurrentBans()->Bans().empty());
  TakeBansChanged();
  std::ofstream(path) << "ip 127.0.0.9 - later\n";
  bool seen = false;
  for (int i = 0; i < 50 && !seen; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    seen = CurrentBans()->FindAddress("127.0.0.9", std::time(nullptr)) != nullptr;
  }
  EXPECT_TRUE(seen);
  EXPECT_TRUE(TakeBansChanged());
  std::filesystem::remove(path);
  bool gone = false;
  for (int i = 0; i < 50 && !gone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    gone = CurrentBans()->Bans().empty();
  }
  EXPECT_TRUE(gone);
}

TEST_F(BanFile, AnUnwritableFileIsAnError) {
  std::filesystem::create_directory(path);  // a folder where the file should be
  LoadBanFile(path);
  TBan ban;
  ban.target = "1.2.3.4";
  ParseBanAddress(ban.target, ban.network, ban.mask);
  EXPECT_NE(AppendBanLine(ban), "");
  EXPECT_TRUE(CurrentBans()->Bans().empty());
}

}  // namespace
}  // namespace vornhal
