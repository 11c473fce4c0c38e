// The dashboard in a real browser: headless Chromium driven by tests/browser/dashboard_check.py
// against the real server with a player in the world. The screenshot is kept in the build
// folder (artifacts/dashboard.png).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "e2e/admin_support.h"

namespace vornhal::e2e {
namespace {

class AdminBrowser : public AdminWorld {};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

TEST_F(AdminBrowser, ThePlayerAppearsInTheListAndOnTheMap) {
  namespace fs = std::filesystem;
  const fs::path source = fs::path(VORNHAL_SAMPLE_DIR).parent_path().parent_path();
  const fs::path script = source / "tests" / "browser" / "dashboard_check.py";
  const fs::path shot = fs::path(VORNHAL_BINARY).parent_path() / "artifacts" / "dashboard.png";
  ASSERT_TRUE(fs::exists(script)) << script;
  fs::remove(shot);
  // Selenium comes from a Debian package: the system interpreter, not one a user put first.
  const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";

  Player& alice = Enter("alice");
  alice.Request(client::CMovePacket(1, 0));
  Enter("bob");

  const std::string command = python + " " + Quote(script.string()) + " --url " +
                              Quote("http://127.0.0.1:" + std::to_string(server->admin_port) + "/") +
                              " --token " + Quote(Token()) + " --player alice --screenshot " +
                              Quote(shot.string()) + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
  int status = ::pclose(pipe);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 77) GTEST_SKIP() << output;
  EXPECT_EQ(code, 0) << output << "\n" << server->Log();
  EXPECT_NE(output.find("player row: ['alice', '10055', '18, 35'"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(shot) && fs::file_size(shot) > 1000) << shot;
}

}  // namespace
}  // namespace vornhal::e2e
