// The real server binary: banner and start-up, the settings file, the connection layer as a
// client sees it, the HTTP check and the shutdown.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "support/server_process.h"

namespace vornhal {
namespace {

using test::ServerProcess;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A plain loopback socket for looking at the exact bytes.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool Connected() const { return connected_; }
  Bytes Read(size_t n, int timeout_ms = 5000) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buf[1024];
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }

 private:
  int fd_;
  bool connected_ = false;
};

ServerProcess::Options Sample() {
  ServerProcess::Options o;
  o.data_dir = VORNHAL_SAMPLE_DIR;
  return o;
}

TEST(ShellE2E, BannerStartupLinesAndCleanShutdownOnSigint) {
  ServerProcess server(Sample());
  std::vector<std::string> lines = Lines(server.Log());
  ASSERT_GE(lines.size(), 15u);
  EXPECT_EQ(lines[5], "rヶﾊl　ｃ⌒r─+⌒ｃﾊヽ〉　Vornhal Ver.0.2.5");
  const std::string hyphens(25, '-');
  for (int i : {4, 6}) {
    ASSERT_GE(lines[i].size(), 26u);
    EXPECT_EQ(lines[i].substr(lines[i].size() - 25), hyphens) << lines[i];
    EXPECT_NE(lines[i][lines[i].size() - 26], '-') << lines[i];
  }
  // "[hh:nn:ss] " at pos (checked by hand: std::regex trips false warnings in sanitizer builds).
  auto stamp_at = [](const std::string& line, size_t pos) {
    const char* shape = "[00:00:00] ";
    if (line.size() < pos + 11) return false;
    for (size_t k = 0; k < 11; ++k) {
      char c = line[pos + k];
      if (shape[k] == '0' ? (c < '0' || c > '9') : c != shape[k]) return false;
    }
    return true;
  };
  for (int i = 0; i < 13; ++i) EXPECT_FALSE(stamp_at(lines[i], 0) && lines[i].size() > 11) << lines[i];
  EXPECT_TRUE(stamp_at(lines[13], 0) && lines[13].substr(11) == "Vornhal起動中...") << lines[13];
  for (size_t i = 13; i < lines.size(); ++i) {
    if (lines[i].find("をロード") != std::string::npos && lines[i].find(']') == std::string::npos) {
      continue;  // the map loader's progress text
    }
    bool stamped = false;
    for (size_t pos = 0; pos < lines[i].size() && !stamped; ++pos) stamped = stamp_at(lines[i], pos);
    EXPECT_TRUE(stamped) << lines[i];
  }
  std::string log = server.Log();
  size_t upnp = log.find("UPnPによるポートの転送は行いません");
  size_t started = log.find("サーバー起動 [Vornhal (127.0.0.1)]");
  ASSERT_NE(upnp, std::string::npos) << log;
  ASSERT_NE(started, std::string::npos) << log;
  EXPECT_LT(upnp, started);
  EXPECT_EQ(server.CountInLog("UPnP"), 1) << log;

  EXPECT_EQ(server.Stop(SIGINT), 0);
  log = server.Log();
  const std::string last = "] Vornhalを終了しました\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
}

TEST(ShellE2E, SigtermAndSighupStopCleanlyToo) {
  for (int sig : {SIGTERM, SIGHUP}) {
    ServerProcess server(Sample());
    EXPECT_EQ(server.Stop(sig), 0) << sig;
    EXPECT_EQ(server.CountInLog("Vornhalを終了しました"), 1) << server.Log();
  }
}

TEST(ShellE2E, TheSettingsFileIsCreatedWithDefaults) {
  ServerProcess server(Sample());
  std::string ini = ServerProcess::ReadText(server.IniPath());
  // The harness writes an [AdminServer] section of its own (its API off); leave it out.
  if (size_t admin = ini.find("[AdminServer]\n"); admin != std::string::npos) {
    ini.erase(admin, ini.find("\n[", admin) + 1 - admin);
  }
  const std::string expected =
      "[MultiServer]\nPort=" + std::to_string(server.multi_port) + "\n[ZoneServer]\nPort=" +
      std::to_string(server.zone_port) + "\nForcePK=0\nGMLevel=0\n[HttpServer]\nPort=" +
      std::to_string(server.http_port) +
      "\n[Main]\nAccountLimit=0\nAccountLimitValue=0\nPriority=3\nPasswordHash=argon2id\n"
      "PasswordHashMemoryKiB=19456\nPasswordHashPasses=2\n";
  // The designed sections come first, then the added ones with their defaults.
  EXPECT_EQ(ini.substr(0, expected.size()), expected);
  EXPECT_NE(ini.find("\n[Security]\nTrustedAddresses=127.0.0.1\nMaxConnectionsPerIP=16\n",
                     expected.size() - 1),
            std::string::npos)
      << ini;
}

// The server generates the admin token into a file that had none: the file then holds a secret
// and only its owner may read it.
TEST(ShellE2E, AGeneratedAdminTokenMakesTheSettingsFilePrivate) {
  ServerProcess::Options o = Sample();
  o.start = false;
  ServerProcess server(o);  // its settings file holds no token
  ASSERT_EQ(::chmod(server.IniPath().c_str(), 0644), 0);
  ASSERT_TRUE(server.Start()) << server.Log();
  EXPECT_TRUE(server.WaitForLog("管理APIのトークンを生成しました", 5000)) << server.Log();
  struct stat st {};
  ASSERT_EQ(::stat(server.IniPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ServerProcess::ReadText(server.IniPath()).find("Token="), std::string::npos);
}

TEST(ShellE2E, PriorityOutOfRangeIsRewrittenAndObsoleteKeysGo) {
  ServerProcess::Options o = Sample();
  o.extra_ini = "[Main]\nPriority=9\nClientPath=C:\\game\\client.exe\nKeepMe=yes\n";
  ServerProcess server(o);
  std::string ini = ServerProcess::ReadText(server.IniPath());
  EXPECT_NE(ini.find("\nPriority=3\n"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("Priority=9"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("ClientPath"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\nKeepMe=yes\n"), std::string::npos) << ini;
  EXPECT_EQ(server.Log().find("優先度"), std::string::npos) << server.Log();
}

TEST(ShellE2E, MultiConnectionsAreGreetedAndFramesDispatchedOnce) {
  ServerProcess server(Sample());
  {
    RawClient raw(server.multi_port);
    ASSERT_TRUE(raw.Connected());
    Bytes greeting = {0xAA, 0x00, 0x13, 0x7E, 0x1B};
    for (char c : std::string("CONNECTED SERVER\n")) greeting.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(raw.Read(greeting.size()), greeting);
    EXPECT_TRUE(raw.Read(1, 200).empty());  // nothing else comes unasked
  }
  EXPECT_TRUE(server.WaitForLog("[Multi] \"127.0.0.1\" からの接続を開始", 5000));
  EXPECT_TRUE(server.WaitForLog("[Multi] \"127.0.0.1\" からの接続を終了", 5000));

  client::Connection c;
  c.Connect(static_cast<uint16_t>(server.multi_port));
  ASSERT_TRUE(c.WaitFor(TServerPacketId::kGreeting));
  // Two version checks in one segment: two answers.
  const Bytes version = {0xAA, 0x00, 0x03, 0x00, 0xFF, 0xFF};
  c.SendRaw({0xAA, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0xAA, 0x00, 0x03, 0x00, 0xFF, 0xFF});
  // One version check in many segments: one answer.
  for (uint8_t b : version) {
    c.SendRaw({b});
    std::this_thread::sleep_for(20ms);
  }
  std::vector<client::Frame> frames = c.Drain(500ms);
  int answers = 0;
  for (const auto& f : frames) answers += f.id == TServerPacketId::kVersionResult ? 1 : 0;
  EXPECT_EQ(answers, 3);
  EXPECT_EQ(server.CountInLog("不明なパケット"), 0) << server.Log();
}

TEST(ShellE2E, StrayBytesAreDiscardedWithALogLine) {
  ServerProcess server(Sample());
  client::Connection c;
  c.Connect(static_cast<uint16_t>(server.multi_port));
  ASSERT_TRUE(c.WaitFor(TServerPacketId::kGreeting));
  c.SendRaw({0x01, 0xAA, 0x00, 0x02, 0x00, 0x00});
  EXPECT_TRUE(server.WaitForLog("[Multi] 不明なパケット5バイトを破棄", 5000)) << server.Log();
  EXPECT_TRUE(c.Drain(300ms).empty());
  // The connection stays usable.
  c.SendRaw({0xAA, 0x00, 0x03, 0x00, 0xFF, 0xFF});
  EXPECT_TRUE(c.WaitFor(TServerPacketId::kVersionResult));
}

TEST(ShellE2E, TheHttpCheckAnswersOne) {
  ServerProcess server(Sample());
  httplib::Client http("127.0.0.1", server.http_port);
  auto res = http.Get("/?id=a&pw=b&mainCode=10&subCode=20");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "1");
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain");
}

TEST(ShellE2E, APortInUseEndsStartUpNamingThePort) {
  ServerProcess::Options o = Sample();
  o.start = false;
  ServerProcess server(o);
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(server.zone_port));
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  EXPECT_FALSE(server.Start());
  int status = server.WaitForExit(10000);
  ::close(blocker);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  EXPECT_LT(status, 128) << "ended by a signal";
  std::string log = server.Log();
  EXPECT_NE(log.find("ポート" + std::to_string(server.zone_port)), std::string::npos) << log;
  EXPECT_EQ(log.find("サーバー起動"), std::string::npos) << log;
}

int RunBinary(const std::string& args, std::string* output) {
  std::string command = std::string(VORNHAL_BINARY) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output->append(buf, n);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ShellE2E, TheCommandLineIsChecked) {
  std::string out;
  EXPECT_EQ(RunBinary("--bogus", &out), 2);
  EXPECT_NE(out.find("--bogus"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunBinary("--local-ip 1.2.3.999", &out), 2);
  EXPECT_NE(out.find("1.2.3.999"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunBinary("--version", &out), 0);
  EXPECT_EQ(out, "Vornhal Ver.0.2.5\n");
}

}  // namespace
}  // namespace vornhal
