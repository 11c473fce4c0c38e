// Shared set-up of the fuzz targets: quiet output, a private copy of the sample world, a fresh
// world per input, and connections that record what the server sends.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/common.h"
#include "data/database.h"
#include "login/multi.h"
#include "net/packet.h"
#include "net/server.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "support/recording_connection.h"
#include "world/world.h"
#include "zone/zone.h"

#ifndef VORNHAL_SAMPLE_DIR
#error "VORNHAL_SAMPLE_DIR must name the sample world"
#endif

namespace vornhal::fuzz {

namespace fs = std::filesystem;

// The console log would dominate the run time; libFuzzer reports on standard error.
inline void SilenceStdout() {
  int null_fd = ::open("/dev/null", O_WRONLY);
  if (null_fd >= 0) {
    ::dup2(null_fd, STDOUT_FILENO);
    ::close(null_fd);
  }
}

// A temporary folder removed at exit.
inline const std::string& TempRoot() {
  // Never destroyed, so the exit handler can still read it.
  static const std::string* root = [] {
    auto* tmpl = new std::string((fs::temp_directory_path() / "vornhal-fuzz-XXXXXX").string());
    if (::mkdtemp(tmpl->data()) == nullptr) std::abort();
    std::atexit([] { std::error_code ec; fs::remove_all(TempRoot(), ec); });
    return tmpl;
  }();
  return *root;
}

// Writes text to DataDir + relative path, creating the folders.
inline void WriteDataFile(const std::string& relative, const std::string& bytes) {
  fs::path path = fs::path(DataDir) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

// Points DataDir at a private copy of the sample world and loads the data blocks that no
// handler changes (rules text, temp data, scripts). Called once.
inline void PrepareSampleData() {
  SilenceStdout();
  const std::string dir = TempRoot() + "/VornhalData/";
  fs::copy(VORNHAL_SAMPLE_DIR, dir, fs::copy_options::recursive);
  DataDir = dir;
  ResetSettingsToDefaults();
  LocalIP = "192.168.0.2";
  GlobalIP = "203.0.113.7";
  ClearDataBlocks();
  LoadRuleText();
  LoadTempData();
  CreateScriptDataList();
  BuildServerLists();
}

// The world of the current input.
inline std::unique_ptr<TWorld>& CurrentWorld() {
  static std::unique_ptr<TWorld> world;
  return world;
}

// A fresh world loaded from the sample (characters added by the caller), with the two servers
// on it. The servers are never opened: sends to everyone walk an empty connection list.
inline TWorld& LoadSampleWorld() {
  CurrentWorld() = std::make_unique<TWorld>();
  TWorld& world = *CurrentWorld();
  AccountLimit = false;
  AccountLimitValue = 0;
  LoadItemData(world);
  LoadMapData(world);
  LoadPortalData(world);
  LoadNpcData(world);
  LoadMobData(world);
  ZoneServer = new TZoneServer(world, "Zone", 11010);
  MultiServer = new TMultiServer(world, "Multi", 1510);
  return world;
}

// Takes every character off the map lists it is on, then frees the servers and the world.
inline void FreeWorld() {
  for (auto& map : CurrentWorld()->MapList) {
    for (auto* tc : std::vector<TChara*>(map->CList.begin(), map->CList.end())) map->DeleteChara(tc);
  }
  delete ZoneServer;
  ZoneServer = nullptr;
  delete MultiServer;
  MultiServer = nullptr;
  CurrentWorld().reset();
}

// A character of the sample world standing in the town.
inline TChara* NewChara(TWorld& world, const std::string& name, uint16_t x, uint16_t y) {
  TChara* tc = nullptr;
  if (!world.CharaList.CreateChara(name, PasswordDigest("pw"), tc)) std::abort();
  tc->Point = TMapPoint{x, y};
  return tc;
}

// A client body: the id, the seed byte where the id has one, and the payload scrambled with it.
inline std::vector<uint8_t> ClientBody(uint8_t id, const uint8_t* payload, size_t size, uint8_t seed) {
  std::vector<uint8_t> body{id};
  if (ClientIdWithoutSeed(id)) {
    body.insert(body.end(), payload, payload + size);
    return body;
  }
  body.push_back(seed);
  size_t start = body.size();
  body.insert(body.end(), payload, payload + size);
  Scramble(body.data() + start, size, seed);
  return body;
}

// Loads a body into the session and runs its handler, as the connection's reader does.
// Handlers raise for malformed bodies by design (the session logs them).
inline void Deliver(TSession& session, TConnection& conn, const std::vector<uint8_t>& body) {
  try {
    uint8_t id = session.LoadBody(body.data(), body.size());
    session.ParsePacket(conn, id);
  } catch (const std::exception&) {
  }
}

}  // namespace vornhal::fuzz
