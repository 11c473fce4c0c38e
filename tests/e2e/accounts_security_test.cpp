// Accounts through the real binary: login throttling per address and per character, the
// account creation rate, password storage and its upgrade, durable account creation, and the
// order of a connection's answers while its password work is pending.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "client/client.h"
#include "support/server_process.h"

namespace vornhal::client {
namespace {

using test::ServerProcess;
namespace fs = std::filesystem;

const char kTooMany[] = "ログインの失敗が多すぎます。しばらくしてから再度お試しください";
const char kWrong[] = "パスワードが違います";
const char kCannotCreate[] = "現在アカウントを新規に作成できません。";

class Accounts : public ::testing::Test {
 protected:
  void TearDown() override {
    if (server && server->Running()) {
      EXPECT_EQ(server->Stop(), 0) << server->Log();
    }
  }
  void StartWith(const std::string& ini) {
    ServerProcess::Options o;
    o.data_dir = VORNHAL_SAMPLE_DIR;
    o.extra_ini = ini;
    server = std::make_unique<ServerProcess>(o);
  }
  std::unique_ptr<MultiClient> From(const std::string& source) {
    auto m = std::make_unique<MultiClient>();
    m->conn().SetLocalAddress(source);
    m->Connect(static_cast<uint16_t>(server->multi_port));
    EXPECT_TRUE(m->Version());
    return m;
  }
  std::optional<Result> Login(const std::string& source, const std::string& name, const std::string& pass) {
    return From(source)->Login(name, pass).result;
  }
  std::optional<Result> Create(const std::string& source, const std::string& name, const std::string& pass = "pw") {
    return From(source)->CreateAccount(name, pass, "real", "mail");
  }
  // The count of a log line once it has reached `expected` (lines arrive a moment after the
  // answers they precede), or what it is after 3 s.
  int CountSoon(const std::string& needle, int expected) {
    for (int i = 0; i < 300 && server->CountInLog(needle) < expected; ++i) std::this_thread::sleep_for(Millis(10));
    return server->CountInLog(needle);
  }
  std::string SaveFile(const std::string& name) const { return server->DataPath() + "save/" + name + ".json"; }

  std::unique_ptr<ServerProcess> server;
};

TEST_F(Accounts, WrongPasswordsLockAnUntrustedAddressButNotATrustedOne) {
  StartWith("[Security]\nLoginFailuresAllowed=3\nLoginLockSeconds=300\n");
  ASSERT_EQ(Create("127.0.0.1", "Lockee")->code, 0);
  for (int i = 0; i < 3; ++i) {
    auto r = Login("127.0.0.2", "Lockee", "guess" + std::to_string(i));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 17);
    EXPECT_EQ(r->text, kWrong);
  }
  // Locked: even the right password is refused, without being checked.
  auto locked = Login("127.0.0.2", "Lockee", "pw");
  ASSERT_TRUE(locked);
  EXPECT_EQ(locked->code, 17);
  EXPECT_EQ(locked->text, kTooMany);
  auto other_name = Login("127.0.0.2", "nobody-at-all", "pw");
  ASSERT_TRUE(other_name);
  EXPECT_EQ(other_name->text, kTooMany);
  // Another address, and the trusted one, still log in.
  EXPECT_EQ(Login("127.0.0.3", "Lockee", "pw")->code, 0);
  // The trusted address is exempt from the rule per address, however often it fails.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Login("127.0.0.1", "Lockee", "bad")->text, kWrong);
  std::optional<Result> trusted;
  for (int i = 0; i < 40; ++i) {  // until the previous login's connection has let go
    trusted = Login("127.0.0.1", "Lockee", "pw");
    if (trusted && trusted->code != 34) break;
    std::this_thread::sleep_for(Millis(50));
  }
  ASSERT_TRUE(trusted);
  EXPECT_EQ(trusted->code, 0) << trusted->text;

  EXPECT_EQ(CountSoon("[Multi] キャラクター \"Lockee\" のパスワードが違います (127.0.0.2)", 3), 3)
      << server->Log();
  EXPECT_EQ(CountSoon("[Multi] キャラクター \"Lockee\" のパスワードが違います (127.0.0.1)", 4), 4);
  EXPECT_EQ(CountSoon("[Multi] アドレス 127.0.0.2 からのログインを 300 秒間拒否します", 1), 1)
      << server->Log();
  EXPECT_EQ(server->CountInLog("アドレス 127.0.0.1 からのログイン"), 0);
}

TEST_F(Accounts, FourTimesTheFailuresLockTheCharacterFromEveryAddress) {
  // Per address 2 (trusted addresses exempt), per character 8.
  StartWith("[Main]\nPasswordHash=sha1\n[Security]\nLoginFailuresAllowed=2\n"
            "TrustedAddresses=127.0.0.1,127.0.0.5\n");
  ASSERT_EQ(Create("127.0.0.1", "Target")->code, 0);
  ASSERT_EQ(Create("127.0.0.1", "Neighbour")->code, 0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Login(i % 2 ? "127.0.0.1" : "127.0.0.5", "Target", "x")->text, kWrong);
  EXPECT_EQ(Login("127.0.0.1", "Target", "pw")->code, 0) << "seven failures do not lock it";
  EXPECT_EQ(Login("127.0.0.5", "Target", "x")->text, kWrong);
  for (const char* source : {"127.0.0.1", "127.0.0.5", "127.0.0.9"}) {
    auto r = Login(source, "Target", "pw");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 17) << source;
    EXPECT_EQ(r->text, kTooMany) << source;
  }
  std::optional<Result> neighbour;
  for (int i = 0; i < 40; ++i) {
    neighbour = Login("127.0.0.1", "Neighbour", "pw");
    if (neighbour && neighbour->code != 34) break;
    std::this_thread::sleep_for(Millis(50));
  }
  EXPECT_EQ(neighbour->code, 0);
  EXPECT_EQ(CountSoon("[Multi] キャラクター \"Target\" へのログインを 300 秒間拒否します "
                               "(パスワードの誤り 8 回, 最後は 127.0.0.5 から)", 1), 1)
      << server->Log();
}

TEST_F(Accounts, CreationRatePerAddressAndEveryCreationLogged) {
  StartWith("[Main]\nPasswordHash=sha1\n[Security]\nAccountsPerIPPerHour=2\n");
  EXPECT_EQ(Create("127.0.0.2", "first")->code, 0);
  EXPECT_EQ(Create("127.0.0.2", "second")->code, 0);
  auto third = Create("127.0.0.2", "third");
  ASSERT_TRUE(third);
  EXPECT_EQ(third->code, 4);
  EXPECT_EQ(third->text, kCannotCreate);
  EXPECT_FALSE(fs::exists(SaveFile("third")));
  EXPECT_EQ(Create("127.0.0.3", "third")->code, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Create("127.0.0.1", "trusted" + std::to_string(i))->code, 0);
  EXPECT_EQ(CountSoon("[Multi] キャラクター \"second\" を作成しました (127.0.0.2)", 1), 1) << server->Log();
  EXPECT_EQ(CountSoon("[Multi] キャラクター \"third\" を作成しました (127.0.0.3)", 1), 1);
  EXPECT_EQ(CountSoon("を作成しました (127.0.0.1)", 4), 4);
}

TEST_F(Accounts, Sha1CharacterIsUpgradedAtLoginAndStillLogsInAfterRestart) {
  StartWith("[Main]\nPasswordHash=sha1\n");
  ASSERT_EQ(Create("127.0.0.1", "Veteran", "secret")->code, 0);
  EXPECT_NE(ServerProcess::ReadText(SaveFile("Veteran")).find("\"Password\": \"e5e9fa1ba31ecd1ae84f75caaa474f3a663f05f4\""),
            std::string::npos);
  ASSERT_EQ(server->Stop(), 0);
  // The operator switches to Argon2id.
  std::string ini = ServerProcess::ReadText(server->IniPath());
  ini = std::regex_replace(ini, std::regex("PasswordHash=sha1"), "PasswordHash=argon2id");
  std::ofstream(server->IniPath(), std::ios::binary | std::ios::trunc) << ini;
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "wrong")->code, 17);
  EXPECT_NE(ServerProcess::ReadText(SaveFile("Veteran")).find("e5e9fa1ba31ecd1ae84f75caaa474f3a663f05f4"),
            std::string::npos) << "a failed login changes nothing";
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "secret")->code, 0);
  // The Multi connection's end saves the character with its new stored form.
  std::string file;
  for (int i = 0; i < 100 && file.find("$argon2id$") == std::string::npos; ++i) {
    std::this_thread::sleep_for(Millis(30));
    file = ServerProcess::ReadText(SaveFile("Veteran"));
  }
  EXPECT_NE(file.find("\"Password\": \"$argon2id$v=19$m=19456,t=2,p=1$"), std::string::npos) << file;
  EXPECT_EQ(file.find("e5e9fa1ba31ecd1ae84f75caaa474f3a663f05f4"), std::string::npos);

  ASSERT_EQ(server->Stop(), 0);
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "wrong")->code, 17);
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "secret")->code, 0);
  // A password change stores the new one as Argon2id too, at once.
  std::optional<Result> changed;
  for (int i = 0; i < 40; ++i) {
    changed = From("127.0.0.1")->ChangePassword("Veteran", "secret", "newer");
    if (changed) break;  // no answer while the login's connection still holds it
  }
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->code, 0);
  // Written without waiting for a periodic save or the shutdown: it survives a SIGKILL.
  const std::string before = ServerProcess::ReadText(SaveFile("Veteran"));
  for (int i = 0; i < 100 && ServerProcess::ReadText(SaveFile("Veteran")) == before; ++i) {
    std::this_thread::sleep_for(Millis(30));
  }
  server->Kill();
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "secret")->code, 17);
  EXPECT_EQ(Login("127.0.0.1", "Veteran", "newer")->code, 0);
}

TEST_F(Accounts, RequestsSentWithoutWaitingAreAnsweredInOrder) {
  StartWith("");  // Argon2id: the creation takes a while on the password worker
  MultiClient m;
  m.Connect(static_cast<uint16_t>(server->multi_port));
  ASSERT_TRUE(m.Version());
  m.conn().Send(CCreateAccountPacket("Eager", "pw", "r", "m"));
  m.conn().Send(CAppearancePacket(1, 2, TAsColor{3, 4, 5}));
  m.conn().Send(CCreateAccountPacket("Eager", "pw", "r", "m"));
  m.conn().Send(CLoginPacket("Eager", "wrong", false));
  std::vector<std::pair<int, std::string>> answers;
  for (int i = 0; i < 4; ++i) {
    auto f = m.conn().WaitFor(server_id::kResult, Millis(10000));
    ASSERT_TRUE(f) << server->Log();
    Result r = ParseResult(*f);
    answers.emplace_back(r.code, r.text);
  }
  EXPECT_EQ(answers[0], std::make_pair(0, std::string()));
  EXPECT_EQ(answers[1].first, 0);
  EXPECT_EQ(answers[1].second.rfind("登録完了です。", 0), 0u) << answers[1].second;
  EXPECT_EQ(answers[2], std::make_pair(4, std::string("すでに登録されている名前です")));
  EXPECT_EQ(answers[3], std::make_pair(17, std::string(kWrong)));
  m.Close();
  std::string file;
  for (int i = 0; i < 100 && file.find("\"HairColor\": 197637") == std::string::npos; ++i) {
    std::this_thread::sleep_for(Millis(30));
    file = ServerProcess::ReadText(SaveFile("Eager"));
  }
  EXPECT_NE(file.find("\"HairColor\": 197637"), std::string::npos) << file;  // 3,4,5
}

TEST_F(Accounts, TheNameOfAFileThatFailedToLoadCannotBeTaken) {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  o.extra_ini = "[Main]\nPasswordHash=sha1\n";
  o.start = false;
  server = std::make_unique<ServerProcess>(o);
  fs::create_directories(server->DataPath() + "save");
  std::ofstream(SaveFile("Victim")) << "{ \"Name\": \"Vic";  // cut short
  ASSERT_TRUE(server->Start()) << server->Log();
  if (server->CountInLog("Victim.json") == 0) {
    GTEST_SKIP() << "this store does not report (nor keep the names of) files that fail to load";
  }
  auto taken = Create("127.0.0.1", "victim");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->code, 4);
  EXPECT_EQ(taken->text, "すでに登録されている名前です");
  EXPECT_EQ(ServerProcess::ReadText(SaveFile("Victim")), "{ \"Name\": \"Vic");
}

TEST_F(Accounts, NamesTooLongForTheSaveFilesAreRefused) {
  StartWith("[Main]\nPasswordHash=sha1\n");
  // "<name>.json.XXXXXX" must fit 255 bytes.
  auto too_long = Create("127.0.0.1", std::string(244, 'n'));
  ASSERT_TRUE(too_long);
  EXPECT_EQ(too_long->code, 4);
  EXPECT_EQ(too_long->text, "使用できない文字が含まれています");
  EXPECT_EQ(Create("127.0.0.1", std::string(243, 'n'))->code, 0);
  EXPECT_TRUE(fs::exists(SaveFile(std::string(243, 'n'))));
}

TEST_F(Accounts, ACreationThatCannotBeWrittenIsRefusedAndTheNameStaysFree) {
  StartWith("[Main]\nPasswordHash=sha1\nAccountLimit=1\nAccountLimitValue=1\n");
  // No save folder can be made: a plain file stands where it belongs (a read-only folder does
  // not stop a test run as root).
  const std::string save = server->DataPath() + "save";
  fs::remove_all(save);
  std::ofstream(save) << "not a folder";
  auto refused = Create("127.0.0.1", "Unlucky");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, 4);
  EXPECT_EQ(refused->text, kCannotCreate);
  EXPECT_TRUE(server->WaitForLog("[Multi] キャラクター \"Unlucky\" (127.0.0.1) を作成できませんでした: ", 2000))
      << server->Log();
  EXPECT_EQ(Login("127.0.0.1", "Unlucky", "pw")->code, 16) << "the account does not exist";

  fs::remove(save);
  fs::create_directory(save);
  // The failed creation used up neither the name nor the one account allowed.
  EXPECT_EQ(Create("127.0.0.1", "Unlucky")->code, 0);
  EXPECT_TRUE(fs::exists(SaveFile("Unlucky")));
  EXPECT_EQ(Create("127.0.0.1", "Another")->code, 4);
}

TEST_F(Accounts, EveryAccountAnsweredCodeZeroSurvivesASigkillDuringAFlood) {
  StartWith("[Main]\nPasswordHash=sha1\n");
  std::mutex mutex;
  std::vector<std::string> created;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      try {
        MultiClient m;
        m.Connect(static_cast<uint16_t>(server->multi_port));
        m.Version();
        for (int i = 0; !stop; ++i) {
          std::string name = "flood" + std::to_string(t) + "_" + std::to_string(i);
          auto r = m.CreateAccount(name, "pw", "r", "m", Millis(2000));
          if (!r) return;  // the server is gone
          if (r->code == 0) {
            std::lock_guard<std::mutex> lock(mutex);
            created.push_back(name);
          }
        }
      } catch (const std::exception&) {
        // the connection broke when the server was killed
      }
    });
  }
  std::this_thread::sleep_for(Millis(1500));
  server->Kill();
  stop = true;
  for (auto& t : threads) t.join();
  ASSERT_GT(created.size(), 20u);
  ASSERT_TRUE(server->Start()) << server->Log();
  size_t missing = 0;
  for (const std::string& name : created) {
    auto r = Login("127.0.0.1", name, "pw");
    if (!r || r->code != 0) ++missing;
  }
  EXPECT_EQ(missing, 0u) << "of " << created.size();
}

TEST_F(Accounts, AStormOfLoginsReportsTheTickLatenessWhileItLasts) {
  StartWith("");  // Argon2id at its default cost
  const int kLogins = 50;
  for (int i = 0; i < kLogins; ++i) ASSERT_EQ(Create("127.0.0.1", "storm" + std::to_string(i))->code, 0);
  const int before = server->CountInLog("パスワード処理: ");
  std::vector<std::unique_ptr<MultiClient>> clients;
  for (int i = 0; i < kLogins; ++i) clients.push_back(From("127.0.0.1"));
  for (int i = 0; i < kLogins; ++i) clients[i]->conn().Send(CLoginPacket("storm" + std::to_string(i), "pw", false));
  int ok = 0;
  for (auto& c : clients) {
    auto f = c->conn().WaitFor(server_id::kResult, Millis(30000));
    if (f && ParseResult(*f).code == 0) ++ok;
  }
  EXPECT_EQ(ok, kLogins);
  // The password work may be logged as one burst or several (a slow build splits it): the
  // lines after the storm together cover every login.
  std::regex line("パスワード処理: ([0-9]+) 件 ([0-9]+) ms \\(毎秒 ([0-9]+) 件, argon2id\\), ティックの遅れ 最大 ([0-9]+) ms \\(直前 10 秒は最大 ([0-9]+) ms\\)");
  std::vector<std::string> bursts;
  int jobs = 0;
  for (int i = 0; i < 200 && jobs < kLogins; ++i) {
    if (i > 0) std::this_thread::sleep_for(Millis(50));
    std::string log = server->Log();
    bursts.clear();
    jobs = 0;
    int seen = 0;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it) {
      if (seen++ < before) continue;
      bursts.push_back((*it)[0]);
      jobs += std::stoi((*it)[1]);
    }
  }
  ASSERT_FALSE(bursts.empty()) << server->Log();
  EXPECT_GE(jobs, kLogins) << server->Log();
  // The figures go to the report (the bench measures them); the test shows they are logged.
  for (const std::string& b : bursts) std::cout << "login storm: " << b << "\n";
}

}  // namespace
}  // namespace vornhal::client
