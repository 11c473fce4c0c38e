// The Multi server's answers, driven through its packet handler with recording connections.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>

#include "data/chara_store.h"
#include "data/common.h"
#include "data/database.h"
#include "login/client_body.h"
#include "login/multi.h"
#include "login/password.h"
#include "platform/clock.h"
#include "platform/format.h"
#include "platform/settings.h"
#include "support/test_world.h"
#include "world/world.h"

namespace vornhal {
namespace {

using test::Body;
using cid = TMultiClientPacketId;
using test::Feed;
using test::Reader;
using test::RecordingConnection;

TEST(AddressRule, LoopbackPrivateAndPublicPeers) {
  LocalIP = "192.168.1.2";
  GlobalIP = "203.0.113.7";
  EXPECT_EQ(ServerAddressFor("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ServerAddressFor("192.168.1.5"), "192.168.1.2");
  EXPECT_EQ(ServerAddressFor("10.1.2.3"), "192.168.1.2");
  EXPECT_EQ(ServerAddressFor("172.16.0.1"), "192.168.1.2");
  EXPECT_EQ(ServerAddressFor("172.31.255.255"), "192.168.1.2");
  EXPECT_EQ(ServerAddressFor("172.32.0.1"), "203.0.113.7");
  EXPECT_EQ(ServerAddressFor("127.0.0.2"), "203.0.113.7");
  for (const char* junk : {"", "localhost", "192.168.1", "192.168.1.5.6", "192.168.256.1",
                           "192.168.1.-5", "192.168..1", " 10.0.0.1", "10.0.0.1x"}) {
    EXPECT_FALSE(IsPrivateAddress(junk)) << junk;
    EXPECT_EQ(ServerAddressFor(junk), "203.0.113.7") << junk;
  }
  EXPECT_EQ(&ServerListFor("127.0.0.1"), &ServerListLoopback);
  EXPECT_EQ(&ServerListFor("192.168.1.5"), &ServerListLocal);
  EXPECT_EQ(&ServerListFor("172.32.0.1"), &ServerListGlobal);
}

TEST(AddressRule, AddressAsReversedOctets) {
  EXPECT_EQ(IPToAddr("1.2.3.4"), 0x04030201u);
  EXPECT_EQ(IPToAddr("192.168.1.5"), 0x0501A8C0u);
  EXPECT_EQ(IPToAddr("not an address"), 0xFFFFFFFFu);
  EXPECT_EQ(IPToAddr("1.2.3.400"), 0xFFFFFFFFu);
}

TEST(Password, DigestIsLowercaseSha1OfUtf8) {
  EXPECT_EQ(PasswordDigest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(PasswordDigest("パスワード"), "a9694dc2e83bf1d3dd839259eaeb984fbbd86b31");
  EXPECT_TRUE(SameDigest("A9993E364706816ABA3E25717850C26C9CD0D89D", PasswordDigest("abc")));
  EXPECT_FALSE(SameDigest(PasswordDigest("abd"), PasswordDigest("abc")));
}

TEST(AccountName, FileNameRules) {
  EXPECT_TRUE(IsUsableAccountName("勇者"));
  for (const char* bad : {"a?b", "a/b", "a\\b", "a:b", "a*b", "a<b", "a>b", "a|b", "a\"b", "a\tb",
                          ".", ".."}) {
    EXPECT_FALSE(IsUsableAccountName(bad)) << bad;
  }
  // "<name>.json" and the temporary "<name>.json.XXXXXX" must both fit 255 bytes.
  EXPECT_TRUE(IsUsableAccountName(std::string(243, 'a')));
  EXPECT_FALSE(IsUsableAccountName(std::string(244, 'a')));
  EXPECT_FALSE(IsUsableAccountName(std::string(250, 'a')));
  // 84 kana fit a str8 in code page 932 (168 bytes) but take 252 bytes in UTF-8.
  std::string kana;
  for (int i = 0; i < 84; ++i) kana += "あ";
  EXPECT_FALSE(IsUsableAccountName(kana));
}

TEST(ServerLists, BytesAndThreeCompressedLists) {
  std::string bytes = ServerListBytes("1.2.3.4", 1510, "2017年11月9日");
  std::string expected("\x01\x00\x04\x03\x02\x01\x05\xE6\x00\x00", 10);
  expected += std::string(1, static_cast<char>(ToCP932("テストサーバー").size())) + ToCP932("テストサーバー");
  expected += "\x0A" "1ST_SERVER";
  expected += std::string(1, static_cast<char>(ToCP932("2017年11月9日").size())) + ToCP932("2017年11月9日");
  EXPECT_EQ(bytes, expected);

  // Four-digit year, then month and day without leading zeros.
  const std::string today = ServerListDate();
  int year = 0, month = 0, day = 0;
  char tail[32] = {};
  ASSERT_EQ(std::sscanf(today.c_str(), "%4d年%d月%d%31s", &year, &month, &day, tail), 4) << today;
  EXPECT_EQ(today, Format("%d年%d月%d日", year, month, day));
  EXPECT_GE(year, 2000);
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << today;

  LocalIP = "192.168.1.2";
  GlobalIP = "203.0.113.7";
  MultiPort = 1600;
  BuildServerLists();
  const std::string date = ServerListDate();
  EXPECT_EQ(ZDecompress(ServerListLoopback.CompressedData), ServerListBytes("127.0.0.1", 1600, date));
  EXPECT_EQ(ZDecompress(ServerListLocal.CompressedData), ServerListBytes("192.168.1.2", 1600, date));
  EXPECT_EQ(ZDecompress(ServerListGlobal.CompressedData), ServerListBytes("203.0.113.7", 1600, date));
  EXPECT_EQ(ServerListGlobal.CRC32, Crc32(ServerListBytes("203.0.113.7", 1600, date)));
  EXPECT_EQ(ServerListGlobal.Size, static_cast<int32_t>(ServerListGlobal.CompressedData.size()));
  ResetSettingsToDefaults();
}

class MultiTest : public test::FreshWorldWithFolder {
 protected:
  MultiTest() : FreshWorldWithFolder("vornhal-multi"), root_(folder_.Path()) {}
  void SetUp() override {
    FreshWorldWithFolder::SetUp();
    World.AddMap(10055, "town", 40, 40);
    LocalIP = "192.168.1.2";
    GlobalIP = "203.0.113.7";
    BuildServerLists();
    conn = Connect("127.0.0.1");
  }
  void TearDown() override {
    for (auto& c : conns_) {
      c->Data.reset();
    }
    FreshWorldWithFolder::TearDown();
  }

  std::shared_ptr<RecordingConnection> Connect(const std::string& ip) {
    auto c = std::make_shared<RecordingConnection>(ip);
    c->Data = std::make_unique<TMultiSession>(&server, World);
    conns_.push_back(c);
    return c;
  }
  void Send(RecordingConnection& c, const Body& body) { Feed(*c.Data, c, body); }
  // The single answer of the last request.
  test::Frame Only(RecordingConnection& c) {
    auto frames = c.Frames();
    EXPECT_EQ(frames.size(), 1u);
    c.Clear();
    return frames.empty() ? test::Frame{} : frames[0];
  }
  std::pair<int, std::string> Result(RecordingConnection& c) {
    test::Frame f = Only(c);
    EXPECT_EQ(f.id, TServerPacketId::kResult);
    if (f.id != TServerPacketId::kResult) return {-1, ""};
    Reader r(f.payload);
    int code = r.U8();
    return {code, r.Str8()};
  }
  TChara* Create(const std::string& name, const std::string& pw, RecordingConnection& c) {
    Send(c, Body(cid::kCreateAccount).Str(name).Str(pw).Str("real").Str("mail@example"));
    Result(c);
    TChara* tc = nullptr;
    World.CharaList.TryGetValue(name, tc);
    return tc;
  }
  Body LoginBody(const std::string& name, const std::string& pw, uint8_t force = 0) {
    Body b(cid::kLogin);
    b.Str(name).Str(pw).U8(force);
    return b;
  }

  const std::string root_;
  TMultiServer server{World, "Multi", 1510};
  std::vector<std::shared_ptr<RecordingConnection>> conns_;
  std::shared_ptr<RecordingConnection> conn;
};

TEST_F(MultiTest, GreetingComesFirst) {
  server.DoConnect(*conn);
  test::Frame f = Only(*conn);
  EXPECT_EQ(f.id, TServerPacketId::kGreeting);
  std::vector<uint8_t> expected{27};
  for (char ch : std::string("CONNECTED SERVER\n")) expected.push_back(static_cast<uint8_t>(ch));
  EXPECT_EQ(f.payload, expected);
}

TEST_F(MultiTest, VersionCheck) {
  Send(*conn, Body(cid::kVersion).U16(2849));
  test::Frame f = Only(*conn);
  ASSERT_EQ(f.id, TServerPacketId::kVersionResult);
  Reader old(f.payload);
  EXPECT_EQ(old.U8(), 2);
  EXPECT_EQ(old.U16(), 2850);
  EXPECT_EQ(old.U8(), 0);
  EXPECT_EQ(old.U8(), 1);
  EXPECT_EQ(old.Str8(), "127.0.0.1");
  EXPECT_TRUE(old.AtEnd());

  auto lan = Connect("192.168.1.5");
  Send(*lan, Body(cid::kVersion).U16(2850));
  f = Only(*lan);
  Reader ok(f.payload);
  EXPECT_EQ(ok.U8(), 0);
  EXPECT_EQ(ok.U32(), ServerListLocal.CRC32);
  EXPECT_EQ(ok.U8(), 2);
  EXPECT_EQ(ok.Str8(), PacketKey);
  EXPECT_EQ(ok.U8(), 1);
  EXPECT_EQ(ok.Str8(), "192.168.1.2");
  EXPECT_TRUE(ok.AtEnd());
}

TEST_F(MultiTest, AccountCreationRefusals) {
  Send(*conn, Body(cid::kCreateAccount).Str("a?b").Str("pw").Str("").Str(""));
  EXPECT_EQ(Result(*conn), std::make_pair(4, std::string("使用できない文字が含まれています")));
  Send(*conn, Body(cid::kCreateAccount).Str(std::string(251, 'n')).Str("pw").Str("").Str(""));
  EXPECT_EQ(Result(*conn).second, "使用できない文字が含まれています");

  TChara* tc = Create("勇者", "pw", *conn);
  ASSERT_NE(tc, nullptr);
  EXPECT_TRUE(IsArgon2idString(tc->Pass)) << tc->Pass;
  EXPECT_TRUE(VerifyPassword("pw", tc->Pass));
  EXPECT_FALSE(VerifyPassword("pW", tc->Pass));
  EXPECT_EQ(tc->RealName, "real");
  EXPECT_EQ(tc->MailAddr, "mail@example");
  EXPECT_EQ(conn->Data->Chara(), tc);
  EXPECT_EQ(tc->Conn(), conn.get());
  EXPECT_FALSE(tc->LoggedIn());

  Send(*conn, Body(cid::kCreateAccount).Str("勇者").Str("pw").Str("").Str(""));
  EXPECT_EQ(Result(*conn), std::make_pair(4, std::string("すでに登録されている名前です")));

  AccountLimit = true;
  AccountLimitValue = 1;
  Send(*conn, Body(cid::kCreateAccount).Str("first").Str("pw").Str("").Str(""));
  EXPECT_EQ(Result(*conn).first, 0);
  EXPECT_EQ(AccountLimitValue, 0);
  Send(*conn, Body(cid::kCreateAccount).Str("second").Str("pw").Str("").Str(""));
  EXPECT_EQ(Result(*conn), std::make_pair(4, std::string("現在アカウントを新規に作成できません。")));
  // The account created first on this connection was released when the next was attached.
  EXPECT_EQ(tc->Conn(), nullptr);
}

TEST_F(MultiTest, AppearanceNeedsAnAccount) {
  Send(*conn, Body(cid::kAppearance).U8(1).U8(3).Color(1, 2, 3));
  EXPECT_TRUE(conn->Frames().empty());
  TChara* tc = Create("alice", "pw", *conn);
  Send(*conn, Body(cid::kAppearance).U8(1).U8(3).Color(1, 2, 3));
  EXPECT_EQ(Result(*conn).first, 0);
  EXPECT_EQ(tc->Sex, 1);
  EXPECT_EQ(tc->HairType, 3);
  EXPECT_EQ(tc->HairColor, (TAsColor{1, 2, 3}));
}

TEST_F(MultiTest, LoginAnswersAndTicket) {
  TChara* tc = Create("a%sb", "pw", *conn);
  ASSERT_NE(tc, nullptr);
  tc->Pass = "1A91D62F7CA67399625A4368A6AB5D4A3BAA6073";  // stored in upper case
  auto client = Connect("127.0.0.1");
  Send(*client, LoginBody("nobody", "pw"));
  EXPECT_EQ(Result(*client), std::make_pair(16, std::string("存在しない名前です。再確認してください")));
  Send(*client, LoginBody("A%SB", "wrong"));
  EXPECT_EQ(Result(*client), std::make_pair(17, std::string("パスワードが違います")));

  std::string log = test::CapturedLog([&] { Send(*client, LoginBody("A%SB", "pw")); });
  EXPECT_NE(log.find("[Multi] キャラクター \"a%sb\" がログインしました。"), std::string::npos) << log;
  auto frames = client->Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].id, TServerPacketId::kResult);
  EXPECT_EQ(frames[0].payload, (std::vector<uint8_t>{0, 0}));
  ASSERT_EQ(frames[1].id, TServerPacketId::kServerInfo);
  Reader info(frames[1].payload);
  EXPECT_EQ(info.U32(), IPToAddr("127.0.0.1"));
  EXPECT_EQ(info.U16(), ZonePort);
  EXPECT_EQ(info.U8(), PacketKeyLength + 4 + 4);
  EXPECT_EQ(info.Remaining(), static_cast<size_t>(PacketKeyLength + 4 + 4));
  EXPECT_EQ(info.U8(), 2);
  EXPECT_EQ(info.Str8(), PacketKey);
  EXPECT_EQ(info.Str8(), "a%sb");
  EXPECT_EQ(info.U8(), 0);
  EXPECT_TRUE(info.AtEnd());
  EXPECT_EQ(tc->Login, TLoginState::kOnMulti);
  EXPECT_EQ(tc->Conn(), client.get());
  client->Clear();

  // One ticket, for this address only.
  EXPECT_FALSE(World.ZoneTickets.Consume("a%sb", "10.0.0.9", TickCount()));
  EXPECT_TRUE(World.ZoneTickets.Consume("A%SB", "127.0.0.1", TickCount()));
  EXPECT_FALSE(World.ZoneTickets.Consume("a%sb", "127.0.0.1", TickCount()));

  auto third = Connect("127.0.0.1");
  Send(*third, LoginBody("a%sb", "pw"));
  EXPECT_EQ(Result(*third).first, 34);
  Send(*third, LoginBody("a%sb", "pw", 1));
  EXPECT_TRUE(third->Frames().empty());
  EXPECT_TRUE(client->WasClosed());
}

TEST(ZoneTickets, ExpireAfterSixtySeconds) {
  TWorld World;
  World.ZoneTickets.Issue("bob", "127.0.0.1", 1000);
  EXPECT_TRUE(World.ZoneTickets.Consume("bob", "127.0.0.1", 61000));
  World.ZoneTickets.Issue("bob", "127.0.0.1", 0xFFFFFF00u);  // across the clock's wrap
  EXPECT_FALSE(World.ZoneTickets.Consume("bob", "127.0.0.1", 0xFFFFFF00u + 60001));
  EXPECT_FALSE(World.ZoneTickets.Consume("bob", "127.0.0.1", 0xFFFFFF00u + 10));  // dropped when stale
}

TEST_F(MultiTest, PasswordChange) {
  TChara* tc = Create("carol", "old", *conn);
  Send(*conn, Body(cid::kChangePassword).Str("carol").Str("bad").Str("new"));
  EXPECT_EQ(Result(*conn).first, 17);
  tc->Login = TLoginState::kOnMulti;
  Send(*conn, Body(cid::kChangePassword).Str("carol").Str("old").Str("new"));
  EXPECT_TRUE(conn->Frames().empty());
  EXPECT_TRUE(VerifyPassword("old", tc->Pass));
  tc->Login = TLoginState::kOffline;
  Send(*conn, Body(cid::kChangePassword).Str("CAROL").Str("old").Str("new"));
  EXPECT_EQ(Result(*conn), std::make_pair(0, std::string("変更に成功しました")));
  EXPECT_TRUE(VerifyPassword("new", tc->Pass));
  EXPECT_FALSE(VerifyPassword("old", tc->Pass));
}

TEST_F(MultiTest, DisconnectSavesOnlyItsOwnCharacter) {
  TChara* tc = Create("dave", "pw", *conn);
  // The new account's file is written at creation; what matters here is who writes it next.
  ASSERT_TRUE(std::filesystem::remove(root_ + "/save/dave.json"));
  auto client = Connect("127.0.0.1");
  Send(*client, LoginBody("dave", "pw"));
  // The zone has taken the character over meanwhile.
  auto zone = std::make_shared<RecordingConnection>();
  tc->Context.Reset(zone.get());
  server.DoDisconnect(*client);
  EXPECT_EQ(client->Data, nullptr);
  EXPECT_TRUE(tc->LoggedIn());
  EXPECT_FALSE(std::filesystem::exists(root_ + "/save/dave.json"));

  auto again = Connect("127.0.0.1");
  tc->Login = TLoginState::kOffline;
  Send(*again, LoginBody("dave", "pw"));
  server.DoDisconnect(*again);
  EXPECT_FALSE(tc->LoggedIn());
  EXPECT_EQ(tc->Conn(), nullptr);
  EXPECT_TRUE(std::filesystem::exists(root_ + "/save/dave.json"));
}

// The connection that asked for an account may be gone before its file is written: the
// account is finished without its session (whose memory is freed by then).
TEST_F(MultiTest, AccountWrittenAfterItsConnectionLeftStaysAndFreesItsName) {
  StartSaveWriter();
  // Holds the writer thread: a save that fails (a reserved name) calls back on it.
  TChara* blocker = World.AddChara("held");
  World.ReservedCharaNames.insert("held");
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::promise<void> holding;
  QueueSaveChara(blocker, [&holding, open](const std::string&) {
    holding.set_value();
    open.wait();
  });
  holding.get_future().wait();

  Send(*conn, Body(cid::kCreateAccount).Str("erin").Str("pw").Str("real").Str("mail@example"));
  EXPECT_TRUE(conn->Frames().empty());  // the answer waits for the file
  EXPECT_EQ(World.CreatingCharaNames.count("erin"), 1u);
  server.DoDisconnect(*conn);
  ASSERT_EQ(conn->Data, nullptr);

  gate.set_value();
  StopSaveWriter();
  TChara* tc = nullptr;
  ASSERT_TRUE(World.CharaList.TryGetValue("erin", tc));
  EXPECT_EQ(World.CreatingCharaNames.count("erin"), 0u);  // no longer being created: it can log in
  EXPECT_FALSE(tc->LoggedIn());
  EXPECT_TRUE(std::filesystem::exists(root_ + "/save/erin.json"));
  EXPECT_TRUE(conn->Frames().empty());
}

TEST_F(MultiTest, DataBlocksAndAddresses) {
  RuleData = MakeZLibData("rules text");
  ScriptFiles["Guide"] = "compressed";
  ScriptList = std::string("\x00\x01", 2);

  // CRuleCheckPacket travels unscrambled.
  Send(*conn, Body(cid::kRuleCheck).U8(0).Str("ignored"));
  Reader rule(Only(*conn).payload);
  EXPECT_EQ(rule.U8(), 0);
  EXPECT_EQ(rule.U32(), RuleData.CRC32);
  Send(*conn, Body(cid::kRuleRequest));
  Reader rules(Only(*conn).payload);
  EXPECT_EQ(rules.U8(), 1);
  EXPECT_EQ(rules.U16(), RuleData.Size);
  EXPECT_EQ(rules.Raw(static_cast<size_t>(RuleData.Size)), RuleData.CompressedData);

  Send(*conn, Body(cid::kTempData).U8(2).U8(0).Str("missing"));
  Reader temp(Only(*conn).payload);
  EXPECT_EQ(temp.U8(), 1);
  EXPECT_EQ(temp.U8(), 1);
  EXPECT_EQ(temp.Str8(), "missing");
  EXPECT_EQ(temp.U32(), 0u);
  EXPECT_EQ(temp.U16(), 0);
  EXPECT_TRUE(temp.AtEnd());

  Send(*conn, Body(cid::kScript).U8(0).Str("Guide"));
  Reader script(Only(*conn).payload);
  EXPECT_EQ(script.U8(), 1);
  EXPECT_EQ(script.U8(), 1);
  EXPECT_EQ(script.Str8(), "Guide");
  EXPECT_EQ(script.U16(), 10);
  EXPECT_EQ(script.Raw(10), "compressed");

  auto lan = Connect("192.168.1.5");
  Send(*lan, Body(cid::kWebRequest).U8(1));
  Reader web(Only(*lan).payload);
  EXPECT_EQ(web.U8(), 3);
  EXPECT_EQ(web.Str8(), "http://192.168.1.2:8080/?id=%s&pw=%s&mainCode=10&subCode=20");
  Send(*lan, Body(cid::kWebRequest).U8(2));
  EXPECT_TRUE(lan->Frames().empty());

  Send(*lan, Body(cid::kServerList).U8(0).U8(0));
  Reader own(Only(*lan).payload);
  EXPECT_EQ(own.U32(), IPToAddr("192.168.1.2"));
  EXPECT_EQ(own.U16(), MultiPort);
  EXPECT_EQ(own.U8(), PacketKeyLength + 3);
  EXPECT_EQ(own.Remaining(), static_cast<size_t>(PacketKeyLength + 3));
  Send(*lan, Body(cid::kServerList).U8(1));
  Reader list(Only(*lan).payload);
  EXPECT_EQ(list.U16(), ServerListLocal.Size);
  EXPECT_EQ(list.Raw(static_cast<size_t>(ServerListLocal.Size)), ServerListLocal.CompressedData);
}

}  // namespace
}  // namespace vornhal
