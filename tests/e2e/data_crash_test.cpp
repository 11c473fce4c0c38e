// Killing the server while it writes character files never costs a character: each file is
// written to a temporary file, flushed and renamed over the old one.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/server_process.h"

namespace vornhal::test {
namespace {

constexpr int kCharacters = 3000;

std::string CharaName(int i) { return "crash" + std::to_string(i); }

// Compact JSON, unlike the server's own layout, so every save rewrites every file.
std::string CharaFile(int i) {
  return "{\"Name\":\"" + CharaName(i) +
         "\",\"Password\":\"pw\",\"RealName\":\"試験\",\"MailAddr\":\"m\",\"Sex\":0,\"Job\":" +
         std::to_string(i % 8) +
         ",\"Mark\":0,\"HairType\":1,\"HairColor\":255,\"MapID\":10055,\"X\":17,\"Y\":35,"
         "\"Dir\":2,\"Speed\":80,\"Glod\":" + std::to_string(i) +
         ",\"Equipments\":[{\"Slot\":1,\"MetaKey\":\"stick1\"}],"
         "\"Inventory\":[{\"Slot\":1,\"MetaKey\":\"helixir\",\"Count\":20},"
         "{\"Slot\":2,\"MetaKey\":\"money1\",\"Count\":300}]}";
}

TEST(DataCrashTest, KillDuringShutdownSavesLeavesEveryFileLoadable) {
  ServerProcess server({.data_dir = VORNHAL_SAMPLE_DIR, .extra_ini = "", .start = false});
  const std::string save = server.DataPath() + "save/";
  std::filesystem::create_directories(save);
  for (int i = 0; i < kCharacters; ++i) std::ofstream(save + CharaName(i) + ".json") << CharaFile(i);
  const std::string loaded = std::to_string(kCharacters) + " のキャラをロードしました";

  // Two clean runs measure how long the shutdown save takes; the first also creates each
  // character's swap file, so the second gives the usual span.
  int64_t span_us = 0;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_TRUE(server.WaitForLog(loaded, 30000)) << server.Log();
    auto t0 = std::chrono::steady_clock::now();
    ::kill(server.Pid(), SIGINT);
    ASSERT_TRUE(server.WaitForLog("キャラデータを保存しました", 60000)) << server.Log();
    span_us = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - t0)
                  .count();
    ASSERT_EQ(server.Stop(SIGINT), 0) << server.Log();
  }

  // Then SIGINT followed by SIGKILL at points spread over that span.
  constexpr int kCycles = 12;
  int killed_mid_save = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_TRUE(server.WaitForLog(loaded, 30000)) << server.Log();
    ::kill(server.Pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::microseconds(span_us * cycle / (kCycles - 2)));
    server.Kill();
    if (server.Log().find("キャラデータを保存しました") == std::string::npos) ++killed_mid_save;
  }
  std::cout << "[ data ] SIGINT to saved took " << span_us / 1000 << " ms; " << killed_mid_save
            << " of " << kCycles << " runs were killed before their save finished\n";

  // Every character still loads.
  ASSERT_TRUE(server.Start()) << server.Log();
  EXPECT_TRUE(server.WaitForLog(loaded, 1000)) << server.Log();
  EXPECT_EQ(server.Stop(SIGINT), 0);
  // Every character file is whole (the swap files beside them are never read).
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(save)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    std::string text = ServerProcess::ReadText(entry.path());
    EXPECT_TRUE(text.ends_with("  ]\r\n}\r\n")) << entry.path();
  }
  EXPECT_EQ(files, kCharacters);
  // The files now carry the server's own layout.
  std::string text = ServerProcess::ReadText(save + CharaName(7) + ".json");
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("\"Glod\": 7,\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace vornhal::test
