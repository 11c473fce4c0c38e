// Bans through the real binary: the file beside the INI read at start-up and after a change,
// addresses and CIDR ranges closed at accept, banned characters refused at both logins and
// disconnected from the world, and bans that end.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "client/client.h"
#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

using client::MultiClient;

const char kBanned[] = "このキャラクターは利用停止中です";

class Bans : public SampleWorld {
 protected:
  void SetUp() override {
    test::ServerProcess::Options options;
    options.data_dir = VORNHAL_SAMPLE_DIR;
    options.start = false;
    server = std::make_unique<test::ServerProcess>(options);
  }
  std::string BanPath() const { return server->root + "/bans.txt"; }
  void AppendBans(const std::string& lines) {
    std::ofstream(BanPath(), std::ios::app) << lines;
  }

  // A Multi client connected from the given local address; false when the server closed it
  // without a greeting.
  bool Greeted(const std::string& source) {
    client::Connection c;
    c.SetLocalAddress(source);
    c.Connect(static_cast<uint16_t>(server->multi_port));
    return c.WaitFor(sid::kGreeting, Millis(2000)).has_value();
  }

  std::optional<client::Result> LoginOnce(const std::string& name, const std::string& pass) {
    MultiClient m;
    m.Connect(static_cast<uint16_t>(server->multi_port));
    m.Version();
    return m.Login(name, pass).result;
  }

  void Create(const std::string& name, const std::string& pass) {
    MultiClient m;
    m.Connect(static_cast<uint16_t>(server->multi_port));
    m.Version();
    auto r = m.CreateAccount(name, pass, "real", "mail");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->code, 0) << r->text;
  }

  // Polls the Multi login until its answer's text starts as given (the file is re-read within
  // a few seconds of a change).
  bool LoginCodeBecomes(const std::string& name, const std::string& pass, uint8_t code) {
    for (int i = 0; i < 60; ++i) {
      auto r = LoginOnce(name, pass);
      if (r && r->code == code) return true;
      std::this_thread::sleep_for(Millis(100));
    }
    return false;
  }
  bool LoginTextBecomes(const std::string& name, const std::string& pass, const std::string& prefix) {
    for (int i = 0; i < 60; ++i) {
      auto r = LoginOnce(name, pass);
      if (r && r->text.rfind(prefix, 0) == 0) return true;
      std::this_thread::sleep_for(Millis(100));
    }
    return false;
  }
};

TEST_F(Bans, AddressesAndRangesAreClosedAtAcceptAndLoggedOnceAMinute) {
  AppendBans("# start-up bans\nip 127.0.0.2 - flooding\nip 127.0.1.0/24 - a range\nip bad - x\n");
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_FALSE(Greeted("127.0.0.2"));
  EXPECT_FALSE(Greeted("127.0.0.2"));
  EXPECT_FALSE(Greeted("127.0.1.200"));
  EXPECT_TRUE(Greeted("127.0.0.1"));
  EXPECT_TRUE(Greeted("127.0.2.1"));
  // The Zone server refuses them too.
  client::Connection zone;
  zone.SetLocalAddress("127.0.0.2");
  zone.Connect(static_cast<uint16_t>(server->zone_port));
  EXPECT_TRUE(zone.WaitClosed(Millis(2000)));

  ASSERT_TRUE(server->WaitForLog("利用停止中のアドレス 127.0.1.200", 2000)) << server->Log();
  const std::string log = server->Log();
  EXPECT_NE(log.find("利用停止リスト"), std::string::npos) << "the bad line is reported";
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("[Multi] 利用停止中のアドレス 127.0.0.2 からの接続を切断しました"), 1u) << log;
  EXPECT_EQ(count("利用停止中のアドレス 127.0.1.200"), 1u) << log;
}

TEST_F(Bans, AddressBanAddedWhileRunningClosesTheConnectionsOfThatAddress) {
  ASSERT_TRUE(server->Start()) << server->Log();
  client::Connection open;
  open.SetLocalAddress("127.0.0.3");
  open.Connect(static_cast<uint16_t>(server->multi_port));
  ASSERT_TRUE(open.WaitFor(sid::kGreeting));
  AppendBans("ip 127.0.0.0/30 - late\n");
  EXPECT_TRUE(open.WaitClosed(Millis(6000)));
  EXPECT_FALSE(Greeted("127.0.0.3"));
  EXPECT_TRUE(Greeted("127.0.0.4"));
}

TEST_F(Bans, NameBanRefusesBothLoginsAndRemovingItRestoresThem) {
  ASSERT_TRUE(server->Start()) << server->Log();
  Create("Villain", "pw");
  Create("Bystander", "pw");
  // A Multi login before the ban leaves a zone ticket; the Zone login after it is refused.
  auto before = LoginOnce("Villain", "pw");
  ASSERT_TRUE(before && before->code == 0);
  AppendBans("name villain - 暴言の繰り返し\n");
  ASSERT_TRUE(LoginTextBecomes("Villain", "pw", kBanned)) << server->Log();
  auto refused = LoginOnce("Villain", "pw");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, 17);
  EXPECT_EQ(refused->text, std::string(kBanned) + " 暴言の繰り返し");
  // A wrong password gets the same answer, and other characters are not affected.
  auto guess = LoginOnce("Villain", "wrong");
  ASSERT_TRUE(guess);
  EXPECT_EQ(guess->text, refused->text);
  auto other = LoginOnce("Bystander", "pw");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->code, 0);

  client::Connection zone;
  zone.Connect(static_cast<uint16_t>(server->zone_port));
  zone.Send(client::CZoneLoginPacket("Villain"));
  EXPECT_TRUE(server->WaitForLog("\"Villain\" (127.0.0.1) のゾーンログインを拒否しました: 利用停止中です", 3000))
      << server->Log();

  std::ofstream(BanPath(), std::ios::trunc) << "# lifted\n";
  EXPECT_TRUE(LoginCodeBecomes("Villain", "pw", 0)) << server->Log();
}

TEST_F(Bans, ACharacterInTheWorldIsDisconnectedAndSavedWhenTheBanArrives) {
  ASSERT_TRUE(server->Start()) << server->Log();
  Player& target = Enter("Target");
  Player& other = Enter("Other");
  target.Command("@glod 777");
  AppendBans("name Target - bye\n");
  EXPECT_TRUE(target.zone.WaitClosed(Millis(6000)));
  EXPECT_TRUE(server->WaitForLog("利用停止のためキャラクター \"Target\" を切断します (bye)", 3000));
  // The other player stays.
  EXPECT_NO_THROW(other.Settle());
  // The character was saved on the way out (before any shutdown save).
  std::string file;
  for (int i = 0; i < 50 && file.find("\"Glod\": 777,") == std::string::npos; ++i) {
    std::this_thread::sleep_for(Millis(100));
    std::ifstream in(server->root + "/VornhalData/save/Target.json");
    file.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(file.find("\"Glod\": 777,"), std::string::npos) << file;
}

TEST_F(Bans, EndedBansDoNotApplyAndARunningBanEndsOnTime) {
  ASSERT_TRUE(server->Start()) << server->Log();
  Create("Served", "pw");
  Create("Brief", "pw");
  // The end is a whole local minute: the next one that is at least 3 s away.
  std::time_t now = std::time(nullptr);
  std::time_t end = (now / 60 + 1) * 60;
  if (end - now < 3) end += 60;
  std::tm tm{};
  localtime_r(&end, &tm);
  char until[32];
  std::strftime(until, sizeof until, "%Y-%m-%dT%H:%M", &tm);
  AppendBans("name Served 2001-02-03T04:05 long ago\nname Brief " + std::string(until) + " short\n");
  ASSERT_TRUE(LoginTextBecomes("Brief", "pw", kBanned)) << server->Log();
  auto served = LoginOnce("Served", "pw");
  ASSERT_TRUE(served);
  EXPECT_EQ(served->code, 0);
  std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(end) + Millis(500));
  auto brief = LoginOnce("Brief", "pw");
  ASSERT_TRUE(brief);
  EXPECT_EQ(brief->code, 0) << brief->text;
}

}  // namespace
}  // namespace vornhal::e2e
