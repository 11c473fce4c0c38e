#include "shell/shell.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "admin/admin_server.h"
#include "admin/operations.h"
#include "data/chara_store.h"
#include "data/common.h"
#include "data/database.h"
#include "login/multi.h"
#include "login/password.h"
#include "net/packet.h"
#include "net/server.h"
#include "platform/address.h"
#include "platform/ban_list.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/http.h"
#include "platform/log.h"
#include "platform/priority.h"
#include "platform/random.h"
#include "platform/settings.h"
#include "platform/signals.h"
#include "platform/upnp.h"
#include "shell/console_commands.h"
#include "shell/main_loop.h"
#include "shell/settings_file.h"
#include "world/exp_table.h"
#include "world/map_object.h"
#include "world/world.h"
#include "zone/zone.h"

namespace vornhal {

std::string Banner() {
  return "                 _,,..,,,_\n"
         "            ,.‐'\"        `'‐.,      ＿＿\n"
         "          ／  ,ｨ''\"\"\"''ｰ-､   ＼  ／    ＼\n"
         "         /   /  ◆    ◆  ＼    Ｖ  ∧  ∧ |\n"
         "        |   |    ＿＿     | -------------------------\n"
         "rヶﾊl　ｃ⌒r─+⌒ｃﾊヽ〉　Vornhal Ver.0.2.5\n"
         "        ＼  ヽ、 ￣￣  ノ  / -------------------------\n"
         "          ＼  `'ｰ--‐''  ／\n"
         "            ＼ ＿＿＿ ／    stand-alone world server\n"
         "             ｜     ｜\n"
         "            ／       ＼     Multi / Zone / Http\n"
         "           (＿＿＿＿＿)\n"
         "        ~~~~~~~~~~~~~~~~~~~~~~\n";
}

namespace {

std::string ExecutablePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("vornhal") : path.string();
}

// Frees the two listening servers: closing each waits for its connections' disconnect
// handling, so connected characters are logged out and saved there.
void FreeServers() {
  for (TServer** server : {&MultiServer, &ZoneServer}) {
    if (*server == nullptr) continue;
    (*server)->Close();
    delete *server;
    *server = nullptr;
  }
}

// Times each tick for the status and the metrics: from the end of one tick to the end of the
// next is the tick's period; without the sleep in it, its duration.
struct TTickTimer {
  using Clock = std::chrono::steady_clock;
  Clock::time_point last_end = Clock::now();
  double slept_ms = 0;

  void Sleep(uint32_t ms) {
    Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    slept_ms += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  void End() {
    Clock::time_point now = Clock::now();
    double period = std::chrono::duration<double, std::milli>(now - last_end).count();
    double late = period > TickPeriod ? period - TickPeriod : 0;
    admin::RecordTick(period - slept_ms > 0 ? period - slept_ms : 0, late);
    last_end = now;
    slept_ms = 0;
  }
};

// An empty admin token is replaced by a random one, written into the settings file, so the
// operator finds it there.
void EnsureAdminToken(const std::string& settings_path) {
  if (!AdminServerSettings.Token.empty()) return;
  AdminServerSettings.Token = NewAdminToken();
  // The file now holds the key to the operator's API: only its owner may read it.
  SaveSettings(settings_path, true);
  LogFmt("[Admin] 管理APIのトークンを生成しました: %s の [AdminServer] Token", settings_path);
}

template <typename T>
void OpenServer(TServer*& global, TWorld& world, const char* name, uint16_t port) {
  // The global is set before listening, so the first connection already finds it.
  global = new T(world, name, port);
  try {
    global->Open();
  } catch (...) {
    delete global;
    global = nullptr;
    throw;
  }
}

}  // namespace

std::string BaseFolder(const TShellOptions& options) {
  std::string base = options.root.empty()
                         ? std::filesystem::path(ExecutablePath()).parent_path().string()
                         : options.root;
  if (base.empty()) return "./";
  if (base.back() != '/') base.push_back('/');
  return base;
}

std::string SettingsPath(const TShellOptions& options) {
  return BaseFolder(options) + std::filesystem::path(ExecutablePath()).stem().string() + ".ini";
}

int RunServer(const TShellOptions& options) {
  if (!InstallStopHandlers()) return 1;
  SetConsoleTitle(kVersionText);
  ConsoleWrite(Banner());
  Log("Vornhal起動中...");
  SeedRandomFromClock();
  // Sleeps here are already millisecond-accurate; there is no timer resolution to request.

  DataDir = BaseFolder(options) + "VornhalData/";
  admin::MarkServerStart(std::string(kVersionText).substr(sizeof("Vornhal Ver.") - 1));
  try {
    LoadSettings(SettingsPath(options));
    EnsureAdminToken(SettingsPath(options));
  } catch (const std::exception& e) {
    Log(e.what());
    return 1;
  }
  LoadBanFile(BaseFolder(options) + "bans.txt");
  if (!SetProcessPriority(Priority)) {
    LogFmt("プロセスの優先度を変更できません (Priority=%d)", Priority);
  }

  LocalIP = options.local_ip.empty() ? FindLocalIP() : options.local_ip;
  if (LocalIP.empty()) {
    Log("ローカルIPアドレスの取得に失敗");
    return 1;
  }
  GlobalIP = options.global_ip.empty() ? FindGlobalIP() : options.global_ip;
  if (GlobalIP.empty()) {
    Log("グローバルIPアドレスの取得に失敗");
    return 1;
  }
  const bool upnp = !options.no_upnp;
  if (upnp) {
    AddPortMappings();
  } else {
    Log("UPnPによるポートの転送は行いません");
  }

  // The world outlives everything that reaches it: the servers, the API, the console.
  auto world = std::make_unique<TWorld>(WorldSettings);
  std::unique_ptr<THttpCheckServer> http;
  try {
    ClearDataBlocks();
    AnnounceExpTable();
    LoadDatabase(*world);
    LoadRuleText();
    LoadTempData();
    CreateScriptDataList();
    StopRequested = false;  // a stop asked for while loading is forgotten
    // Character files are written by the save writer from here on, outside the world lock.
    StartSaveWriter();
    StartPasswordWorkers();
    OpenServer<TMultiServer>(MultiServer, *world, "Multi", MultiPort);
    OpenServer<TZoneServer>(ZoneServer, *world, "Zone", ZonePort);
    http = std::make_unique<THttpCheckServer>();
    http->Open(HttpPort);
    BuildServerLists();
  } catch (const std::exception& e) {
    if (dynamic_cast<const FatalDataError*>(&e) != nullptr) {
      LogFmt("データの読み込みに失敗したため起動を中止します: %s", e.what());
    } else {
      LogFmt("起動を中止します: %s", e.what());
    }
    http.reset();
    FreeServers();
    StopPasswordWorkers();
    StopSaveWriter();
    world.reset();
    ClearDataBlocks();
    if (upnp) RemovePortMappings();
    return 1;
  }
  // The operator's API is an extra: a port it cannot have is reported, the game runs on.
  std::unique_ptr<TAdminServer> admin_server;
  if (AdminServerSettings.Port != 0) {
    admin_server = std::make_unique<TAdminServer>(*world);
    TAdminServer::TOptions admin_options{AdminServerSettings.Bind, AdminServerSettings.Port,
                                         AdminServerSettings.Token, AdminServerSettings.MetricsToken};
    std::string error;
    if (admin_server->Open(admin_options, &error)) {
      LogFmt("[Admin] 管理APIとダッシュボード: http://%s:%d/", AdminServerSettings.Bind,
             AdminServerSettings.Port);
    } else {
      LogFmt("[Admin] 管理APIを開始できません (%s)", error);
      admin_server.reset();
    }
  }
  LogFmt("サーバー起動 [%s (%s)]", "Vornhal", GlobalIP);
  TConsoleReader console(*world);
  console.Start(STDIN_FILENO);

  int status = 0;
  TMainLoopHooks hooks;
  hooks.clock = [] { return TickCount(); };
  TTickTimer tick_timer;
  hooks.sleep = [&tick_timer](uint32_t ms) { tick_timer.Sleep(ms); };
  hooks.process = [](uint32_t tick) {
    MultiServer->Process(tick);
    ZoneServer->Process(tick);
    admin::SamplePlayersOnline();
    admin::PollPeriodicSave();
  };
  // The periodic save encodes every character under the world lock and leaves the writing to
  // the save writer; the line after it tells the operator how long the world waited.
  static int saved_count = 0;
  hooks.save = [&world] { saved_count = admin::BeginPeriodicSave(*world); };
  hooks.saved = [](const TSaveReport& r) {
    LogFmt("保存: %d キャラ, ロック %u ms, 遅れ %u ms (最大 %u ms)", saved_count, r.lock_ms,
           r.late_ms, r.max_late_ms);
  };
  hooks.stop = [&tick_timer] {
    tick_timer.End();
    return StopRequested.load();
  };
  try {
    RunMainLoop(hooks);
  } catch (const std::exception& e) {
    LogFmt("メインループでエラーが発生しました: %s", e.what());
    status = 1;
  }

  // Both read the servers and the world: they end before the servers go.
  console.Stop();
  if (admin_server) admin_server->Close();
  admin_server.reset();
  FreeServers();
  StopPasswordWorkers();
  http->Close();
  http.reset();
  try {
    SaveCharaList(*world);  // waits for its own writes and everything queued before them
  } catch (const std::exception& e) {
    LogFmt("キャラクターの保存に失敗: %s", e.what());
    status = 1;
  }
  StopSaveWriter();
  StopBanWatcher();
  world.reset();
  ClearDataBlocks();
  if (upnp) RemovePortMappings();
  Log("Vornhalを終了しました");
  return status;
}

}  // namespace vornhal
