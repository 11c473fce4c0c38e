// The Multi server through the real binary: version check, the address and server list for a
// loopback client, account names and limits, the password digest, logins already connected,
// password changes, and which client packets arrive in clear.
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "client/client.h"
#include "support/server_process.h"

namespace vornhal::client {
namespace {

using test::ServerProcess;

constexpr Millis kQuiet{300};

std::unique_ptr<ServerProcess> StartServer(const std::string& extra_ini = "") {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.extra_ini = extra_ini;
  return std::make_unique<ServerProcess>(o);
}

// A connected, version-checked Multi client.
std::unique_ptr<MultiClient> Ready(ServerProcess& server) {
  auto m = std::make_unique<MultiClient>();
  m->Connect(static_cast<uint16_t>(server.multi_port));
  auto v = m->Version();
  EXPECT_TRUE(v && v->kind == 0);
  return m;
}

// Login answers arrive only once the server has seen the Multi connection of a previous login
// close; retries a refused "already connected" for a short while.
MultiClient::LoginAnswer LoginWhenFree(ServerProcess& server, const std::string& name, const std::string& pass) {
  MultiClient::LoginAnswer a;
  for (int i = 0; i < 40; ++i) {
    auto m = Ready(server);
    a = m->Login(name, pass);
    if (!a.result || a.result->code != 34) return a;
    std::this_thread::sleep_for(Millis(50));
  }
  return a;
}

class MultiE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    if (server) {
      EXPECT_EQ(server->Stop(), 0) << server->Log();
    }
  }
  std::unique_ptr<ServerProcess> server;
};

TEST_F(MultiE2E, GreetingVersionCheckAndTheLoopbackAddressAndList) {
  server = StartServer();
  MultiClient m;
  Greeting g = m.Connect(static_cast<uint16_t>(server->multi_port));
  EXPECT_EQ(g.lead, 27);
  EXPECT_EQ(g.text, "CONNECTED SERVER\n");

  auto old = m.Version(2849);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->kind, 2);
  EXPECT_EQ(old->required_version, 2850);
  EXPECT_EQ(old->address, "127.0.0.1");

  auto ok = m.Version(2850);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->kind, 0);
  EXPECT_EQ(ok->key, kDefaultKey);
  EXPECT_EQ(ok->address, "127.0.0.1");

  auto list = m.ServerListFor();
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 1u);
  EXPECT_EQ(list->entries[0].address, "127.0.0.1") << "a loopback client gets the loopback list";
  EXPECT_EQ(list->entries[0].port, server->multi_port);
  EXPECT_EQ(list->entries[0].caption, "テストサーバー");
  EXPECT_EQ(list->entries[0].server_id, "1ST_SERVER");
  EXPECT_EQ(list->crc32, ok->list_checksum) << "the version answer carries the checksum of that list";

  auto own = m.OwnServerInfo();
  ASSERT_TRUE(own);
  EXPECT_EQ(own->address, "127.0.0.1");
  EXPECT_EQ(own->port, server->multi_port);
  EXPECT_EQ(own->key, kDefaultKey);
  EXPECT_FALSE(own->name);

  auto web = m.WebAddress(1);
  ASSERT_TRUE(web);
  EXPECT_EQ(web->kind, 3);
  EXPECT_EQ(web->text, "http://127.0.0.1:" + std::to_string(server->http_port) +
                           "/?id=%s&pw=%s&mainCode=10&subCode=20");
}

TEST_F(MultiE2E, RuleCheckGoesInClearAndMatchesTheRulesText) {
  server = StartServer();
  auto m = Ready(*server);
  // Id 16 travels without seed byte; a client that scrambled it would not be understood.
  auto check = m->RuleCheck();
  ASSERT_TRUE(check);
  EXPECT_EQ(check->kind, 0);
  auto rules = m->RuleRequest();
  ASSERT_TRUE(rules);
  EXPECT_EQ(rules->kind, 1);
  std::vector<uint8_t> text(1 << 20);
  uLongf len = text.size();
  ASSERT_EQ(uncompress(text.data(), &len, rules->compressed.data(), rules->compressed.size()), Z_OK);
  EXPECT_GT(len, 0u);
  EXPECT_EQ(crc32(0, text.data(), static_cast<uInt>(len)), check->crc32);
}

TEST_F(MultiE2E, AccountNamesAppearanceAndTheSavedFile) {
  server = StartServer("[Main]\nPasswordHash=sha1\n");
  {
    auto m = Ready(*server);
    auto bad = m->CreateAccount("who?", "p", "r", "m");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->code, 4);
    EXPECT_EQ(bad->text, "使用できない文字が含まれています");

    auto jp = m->CreateAccount("勇者テスト", "パス", "本名", "mail@example.invalid");
    ASSERT_TRUE(jp);
    EXPECT_EQ(jp->code, 0);
    EXPECT_EQ(jp->text, "");
    auto look = m->SetAppearance(1, 3, TAsColor{200, 100, 50});
    ASSERT_TRUE(look);
    EXPECT_EQ(look->code, 0);
    EXPECT_EQ(look->text,
              "登録完了です。[CONNECT]を押してキャラクターの名前とパスワードを入力すると、ゲームを開始する事ができます");

    auto again = m->CreateAccount("勇者テスト", "x", "r", "m");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, 4);
    EXPECT_EQ(again->text, "すでに登録されている名前です");
  }
  // The connection that created the account saves it when it closes.
  const std::string file = server->DataPath() + "save/勇者テスト.json";
  // (The account's first file, without the appearance, was written at its creation.)
  std::string saved;
  for (int i = 0; i < 100 && saved.find("\"HairColor\": 13132850") == std::string::npos; ++i) {
    std::this_thread::sleep_for(Millis(20));
    saved = ServerProcess::ReadText(file);
  }
  ASSERT_FALSE(saved.empty()) << "no save file " << file;
  EXPECT_NE(saved.find("\"Password\": \"3b14402093fce56aa36cde3fa39b3c9e088fca4c\""), std::string::npos)
      << "the SHA-1 of the UTF-8 password is stored, never the password\n" << saved;
  EXPECT_NE(saved.find("\"HairColor\": 13132850"), std::string::npos) << saved;  // 200,100,50
  EXPECT_NE(saved.find("\"RealName\": \"本名\""), std::string::npos) << saved;

  auto a = LoginWhenFree(*server, "勇者テスト", "パス");
  ASSERT_TRUE(a.result);
  EXPECT_EQ(a.result->code, 0);
  ASSERT_TRUE(a.info);
  EXPECT_EQ(a.info->port, server->zone_port);
  EXPECT_EQ(a.info->address, "127.0.0.1");
  ASSERT_TRUE(a.info->name);
  EXPECT_EQ(*a.info->name, "勇者テスト");
}

TEST_F(MultiE2E, AccountLimitAllowsOnlyTheConfiguredNumber) {
  server = StartServer("[Main]\nAccountLimit=1\nAccountLimitValue=1\n");
  auto m = Ready(*server);
  auto first = m->CreateAccount("limited1", "p", "r", "m");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->code, 0);
  auto other = Ready(*server);
  auto second = other->CreateAccount("limited2", "p", "r", "m");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->code, 4);
  EXPECT_EQ(second->text, "現在アカウントを新規に作成できません。");
}

TEST_F(MultiE2E, StoredUpperCaseDigestMatchesAndWrongLoginsAreRefused) {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.start = false;
  server = std::make_unique<ServerProcess>(o);
  std::filesystem::create_directories(server->DataPath() + "save");
  std::ofstream(server->DataPath() + "save/Stored.json", std::ios::binary)
      << "\xEF\xBB\xBF{\r\n"
         "  \"Name\": \"Stored\",\r\n"
         "  \"Password\": \"E5E9FA1BA31ECD1AE84F75CAAA474F3A663F05F4\",\r\n"
         "  \"RealName\": \"r\",\r\n  \"MailAddr\": \"m\",\r\n  \"AdminLv\": 0,\r\n"
         "  \"Sex\": 0,\r\n  \"Job\": 0,\r\n  \"Mark\": 0,\r\n  \"HairType\": 1,\r\n"
         "  \"HairColor\": 0,\r\n  \"MapID\": 10055,\r\n  \"X\": 17,\r\n  \"Y\": 35,\r\n"
         "  \"Dir\": 2,\r\n  \"Speed\": 80,\r\n  \"Glod\": 0,\r\n"
         "  \"Equipments\": [],\r\n  \"Inventory\": []\r\n}\r\n";
  ASSERT_TRUE(server->Start()) << server->Log();

  auto m = Ready(*server);
  auto unknown = m->Login("Nobody", "secret");
  ASSERT_TRUE(unknown.result);
  EXPECT_EQ(unknown.result->code, 16);
  EXPECT_EQ(unknown.result->text, "存在しない名前です。再確認してください");
  auto wrong = m->Login("Stored", "Secret");
  ASSERT_TRUE(wrong.result);
  EXPECT_EQ(wrong.result->code, 17);
  EXPECT_EQ(wrong.result->text, "パスワードが違います");
  EXPECT_FALSE(wrong.info);

  // CLoginPacket is scrambled with whatever seed the client picks; 3 also makes pass 3 the
  // complemented one.
  m->conn().SetSeed(3);
  auto right = m->Login("stored", "secret");
  ASSERT_TRUE(right.result);
  EXPECT_EQ(right.result->code, 0) << "the stored digest is in upper case";
  ASSERT_TRUE(right.info);
  EXPECT_EQ(*right.info->name, "Stored");
  EXPECT_TRUE(server->WaitForLog("キャラクター \"Stored\" がログインしました。", 2000)) << server->Log();
}

TEST_F(MultiE2E, AlreadyConnectedCharacterNeedsTheForceFlag) {
  server = StartServer();
  {
    auto c = Ready(*server);
    ASSERT_EQ(c->CreateAccount("Twice", "pw", "r", "m")->code, 0);
  }
  auto first = std::make_unique<MultiClient>();
  MultiClient::LoginAnswer a = LoginWhenFree(*server, "Twice", "pw");
  ASSERT_TRUE(a.result);
  ASSERT_EQ(a.result->code, 0);
  // That helper closed its connection; log in again and keep this one open.
  for (int i = 0; i < 40; ++i) {
    first = Ready(*server);
    a = first->Login("Twice", "pw");
    if (a.result && a.result->code == 0) break;
    std::this_thread::sleep_for(Millis(50));
  }
  ASSERT_TRUE(a.result && a.result->code == 0);

  auto second = Ready(*server);
  auto busy = second->Login("Twice", "pw", false);
  ASSERT_TRUE(busy.result);
  EXPECT_EQ(busy.result->code, 34);
  EXPECT_EQ(busy.result->text, "もう接続されています。強制的に接続しますか？");

  auto forced = second->Login("Twice", "pw", true, kQuiet);
  EXPECT_FALSE(forced.result) << "a forced login is not answered";
  EXPECT_TRUE(first->conn().WaitClosed()) << "the other connection is closed";

  MultiClient::LoginAnswer after;
  for (int i = 0; i < 40; ++i) {
    after = second->Login("Twice", "pw", false);
    if (after.result && after.result->code != 34) break;
    std::this_thread::sleep_for(Millis(50));
  }
  ASSERT_TRUE(after.result);
  EXPECT_EQ(after.result->code, 0) << "the client logs in again after the takeover";
}

TEST_F(MultiE2E, PasswordChangeOfALoggedInCharacterIsIgnored) {
  // Quick digests: the retries below give each answer 200 ms.
  server = StartServer("[Main]\nPasswordHash=sha1\n");
  {
    auto c = Ready(*server);
    ASSERT_EQ(c->CreateAccount("Changer", "old", "r", "m")->code, 0);
  }
  MultiClient holder;
  MultiClient::LoginAnswer a;
  for (int i = 0; i < 40; ++i) {
    holder.Connect(static_cast<uint16_t>(server->multi_port));
    holder.Version();
    a = holder.Login("Changer", "old");
    if (a.result && a.result->code == 0) break;
    std::this_thread::sleep_for(Millis(50));
  }
  ASSERT_TRUE(a.result && a.result->code == 0);

  auto other = Ready(*server);
  auto wrong_old = other->ChangePassword("Changer", "bad", "new");
  ASSERT_TRUE(wrong_old);
  EXPECT_EQ(wrong_old->code, 17);
  EXPECT_FALSE(other->ChangePassword("Changer", "old", "new", kQuiet))
      << "no answer while the character is logged in";
  holder.Close();

  auto login = LoginWhenFree(*server, "Changer", "old");
  ASSERT_TRUE(login.result);
  EXPECT_EQ(login.result->code, 0) << "the old password still holds";

  // Once that login's connection has closed, a change goes through.
  std::optional<Result> changed;
  for (int i = 0; i < 40 && !changed; ++i) {
    auto c = Ready(*server);
    changed = c->ChangePassword("Changer", "old", "new", Millis(200));
  }
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->code, 0);
  EXPECT_EQ(changed->text, "変更に成功しました");
  auto with_new = LoginWhenFree(*server, "Changer", "new");
  ASSERT_TRUE(with_new.result);
  EXPECT_EQ(with_new.result->code, 0);
}

}  // namespace
}  // namespace vornhal::client
