#include "admin/operations.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <deque>
#include <future>
#include <mutex>

#include "admin/metrics.h"
#include "data/chara_store.h"
#include "net/server.h"
#include "net/session.h"
#include "platform/world_lock.h"
#include "world/world.h"
#include "world/packets.h"

namespace vornhal::admin {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds to the microsecond, so the JSON carries no binary noise.
double Round3(double ms) { return std::round(ms * 1000.0) / 1000.0; }

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string UtcText(std::chrono::system_clock::time_point t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

int64_t UnixSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

// One second of the history.
struct TSecond {
  int64_t time = 0;  // Unix seconds
  double tick_max_ms = 0;
  double late_max_ms = 0;
  int players = 0;
};

constexpr size_t kHistorySeconds = 600;

struct TStats {
  std::mutex mutex;
  std::string version;
  Clock::time_point start = Clock::now();
  double last_tick_ms = 0;
  double last_late_ms = 0;
  TSecond current;  // the second being filled
  std::deque<TSecond> history;
  int players_online = 0;
  Clock::time_point players_sampled{};
  bool have_save = false;
  std::string save_time;
  int save_characters = 0;
  double save_lock_ms = 0;
  double save_duration_ms = 0;
};

TStats& Stats() {
  static TStats* stats = new TStats();
  return *stats;
}

// The periodic save in flight (main thread only).
struct TPendingSave {
  bool active = false;
  std::shared_future<int> done;
  Clock::time_point start;
  int characters = 0;
  double lock_ms = 0;
};
TPendingSave pending_save;

// Calls fn for every character on a Zone connection. World lock held.
template <typename Fn>
void ForEachCharaInWorld(Fn&& fn) {
  if (ZoneServer == nullptr) return;
  ZoneServer->ForEachConnection([&](TConnection& context) {
    const TSession* session = context.Data.get();
    if (session == nullptr) return;
    TChara* tc = session->Chara();
    if (tc == nullptr || !tc->InWorld()) return;
    fn(*tc, context);
  });
}

// Kept by the Zone server's sessions, so the per-second sample walks nothing.
int CountCharaInWorld() { return ZoneServer != nullptr ? ZoneServer->SessionsWithChara() : 0; }

// Pushes finished seconds into the history. Stats mutex held.
void RollSecond(TStats& s, int64_t now) {
  if (s.current.time == 0) s.current.time = now;
  while (s.current.time < now) {
    s.current.players = s.players_online;
    s.history.push_back(s.current);
    if (s.history.size() > kHistorySeconds) s.history.pop_front();
    int64_t next = s.current.time + 1;
    // A long gap (a stopped clock, a suspended machine) is not filled second by second.
    if (now - next > static_cast<int64_t>(kHistorySeconds)) next = now;
    s.current = TSecond{next, 0, 0, s.players_online};
  }
}

}  // namespace

void MarkServerStart(const std::string& version) {
  TStats& s = Stats();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.version = version;
  s.start = Clock::now();
}

void RecordTick(double duration_ms, double late_ms) {
  metrics::ObserveTick(duration_ms / 1000.0);
  TStats& s = Stats();
  std::lock_guard<std::mutex> lock(s.mutex);
  RollSecond(s, UnixSeconds(std::chrono::system_clock::now()));
  s.last_tick_ms = duration_ms;
  s.last_late_ms = late_ms;
  s.current.tick_max_ms = std::max(s.current.tick_max_ms, duration_ms);
  s.current.late_max_ms = std::max(s.current.late_max_ms, late_ms);
}

void SamplePlayersOnline() {
  TStats& s = Stats();
  Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (now - s.players_sampled < std::chrono::seconds(1)) return;
    s.players_sampled = now;
  }
  int n = CountCharaInWorld();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.players_online = n;
}

void RecordSave(int characters, double lock_ms, double duration_ms) {
  metrics::ObserveSaveLock(lock_ms / 1000.0);
  metrics::ObserveSave(duration_ms / 1000.0);
  TStats& s = Stats();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.have_save = true;
  s.save_time = UtcText(std::chrono::system_clock::now());
  s.save_characters = characters;
  s.save_lock_ms = lock_ms;
  s.save_duration_ms = duration_ms;
}

int BeginPeriodicSave(TWorld& world) {
  Clock::time_point start = Clock::now();
  int count = 0;
  std::shared_future<int> done = QueueSaveCharaList(world, &count);
  double lock_ms = MsSince(start);
  // A save still being written when the next one is due is recorded no more: the new one
  // follows it through the same writer.
  pending_save = TPendingSave{true, done, start, count, lock_ms};
  return count;
}

void PollPeriodicSave() {
  if (!pending_save.active) return;
  if (pending_save.done.valid() &&
      pending_save.done.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return;
  }
  pending_save.active = false;
  RecordSave(pending_save.characters, pending_save.lock_ms, MsSince(pending_save.start));
}

std::vector<TPlayerInfo> ListPlayers() {
  std::vector<TPlayerInfo> out;
  TWorldGuard lock;
  ForEachCharaInWorld([&](TChara& tc, TConnection& context) {
    TPlayerInfo p;
    p.name = tc.FName;
    p.map = tc.Map != nullptr ? tc.Map->ID : 0;
    p.x = tc.Point.X;
    p.y = tc.Point.Y;
    p.level = tc.Level;
    p.address = context.PeerIP();
    p.gm_level = tc.AdminLv;
    out.push_back(std::move(p));
  });
  return out;
}

TJson PlayersJson(const std::vector<TPlayerInfo>& players) {
  TJson list = TJson::array();
  for (const TPlayerInfo& p : players) {
    list.push_back(TJson{{"name", p.name}, {"map", p.map}, {"x", p.x}, {"y", p.y},
                         {"level", p.level}, {"address", p.address}, {"gm_level", p.gm_level}});
  }
  return list;
}

namespace {

struct TMapCount {
  uint16_t id = 0;
  std::string name;
  int players = 0;
  int mobs = 0;
  int items = 0;
};

// Dropped items lying on a loaded map. World lock held.
template <typename Fn>
void ForEachDroppedItem(const TMap& map, Fn&& fn) {
  if (!map.Loaded()) return;
  for (int bx = 0; bx < map.BlockWidth; ++bx) {
    for (int by = 0; by < map.BlockHeight; ++by) {
      const TMapBlock* block = map.Block(bx, by);
      if (block == nullptr) continue;
      for (TMapObject* object : block->MapObjects) {
        if (object->ObjectKind() == kKindDroppedItem) fn(*object);
      }
    }
  }
}

int LiveMobs(const TMap& map) {
  int n = 0;
  for (const TMob* mob : map.MList) {
    if (!mob->IsDead) ++n;
  }
  return n;
}

}  // namespace

namespace {

// World lock held.
TCounts CountsLocked(const TWorld& world) {
  TCounts c;
  c.players = CountCharaInWorld();
  c.multi = MultiServer != nullptr ? MultiServer->UserCount() : 0;
  c.zone = ZoneServer != nullptr ? ZoneServer->UserCount() : 0;
  c.characters = world.CharaList.Count();
  return c;
}

}  // namespace

TCounts ReadCounts(const TWorld& world) {
  TWorldGuard lock;
  return CountsLocked(world);
}

TJson StatusJson(const TWorld& world) {
  TCounts counts;
  std::vector<TMapCount> maps;
  {
    TWorldGuard lock;
    counts = CountsLocked(world);
    maps.reserve(static_cast<size_t>(world.MapList.Count()));
    for (const auto& map : world.MapList) {
      TMapCount c;
      c.id = map->ID;
      c.name = map->Name;
      c.players = static_cast<int>(map->CList.size());
      c.mobs = LiveMobs(*map);
      ForEachDroppedItem(*map, [&](const TMapObject&) { ++c.items; });
      maps.push_back(std::move(c));
    }
  }
  TStats& s = Stats();
  TJson out;
  std::lock_guard<std::mutex> lock(s.mutex);
  RollSecond(s, UnixSeconds(std::chrono::system_clock::now()));
  double max_ms = s.current.tick_max_ms;
  double max_late_ms = s.current.late_max_ms;
  const int64_t since = s.current.time - 60;
  for (auto it = s.history.rbegin(); it != s.history.rend() && it->time > since; ++it) {
    max_ms = std::max(max_ms, it->tick_max_ms);
    max_late_ms = std::max(max_late_ms, it->late_max_ms);
  }
  out["version"] = s.version;
  out["uptime_s"] = static_cast<int64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - s.start).count());
  out["players_online"] = counts.players;
  out["connections"] = TJson{{"Multi", counts.multi}, {"Zone", counts.zone}};
  out["characters"] = counts.characters;
  TJson map_list = TJson::array();
  for (const TMapCount& c : maps) {
    map_list.push_back(TJson{{"id", c.id}, {"name", c.name}, {"players", c.players},
                             {"mobs", c.mobs}, {"items", c.items}});
  }
  out["maps"] = std::move(map_list);
  out["tick"] = TJson{{"last_ms", Round3(s.last_tick_ms)},
                     {"max_ms", Round3(max_ms)},
                     {"late_ms", Round3(s.last_late_ms)},
                     {"max_late_ms", Round3(max_late_ms)}};
  if (s.have_save) {
    out["last_save"] = TJson{{"time", s.save_time},
                             {"characters", s.save_characters},
                             {"lock_ms", Round3(s.save_lock_ms)},
                             {"duration_ms", Round3(s.save_duration_ms)}};
  } else {
    out["last_save"] = nullptr;
  }
  return out;
}

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint32_t{bytes[i]} << 16;
    if (i + 1 < bytes.size()) v |= uint32_t{bytes[i + 1]} << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

struct TObjectInfo {
  const char* kind;
  uint32_t id;
  std::string name;
  uint16_t x, y;
  int to = -1;  // a portal's destination map
};

}  // namespace

std::optional<TJson> MapJson(const TWorld& world, uint16_t map_id) {
  uint16_t width = 0, height = 0;
  std::string name;
  std::vector<uint8_t> walkable;
  std::vector<TObjectInfo> objects;
  {
    TWorldGuard lock;
    const TMap* map = world.MapList.FindMap(map_id);
    if (map == nullptr) return std::nullopt;
    width = map->Width;
    height = map->Height;
    name = map->Name;
    const size_t cells = size_t{width} * height;
    walkable.assign((cells + 7) / 8, 0);
    // Row by row from the top left; the first cell is the high bit of the first byte.
    for (size_t y = 0; y < height; ++y) {
      for (size_t x = 0; x < width; ++x) {
        if (map->CanMove(static_cast<uint16_t>(x), static_cast<uint16_t>(y))) {
          size_t i = y * width + x;
          walkable[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
      }
    }
    for (const TChara* tc : map->CList) {
      objects.push_back({"chara", tc->ObjectID, tc->FName, tc->Point.X, tc->Point.Y});
    }
    for (const TNpc* tn : world.NpcList) {
      if (tn->MapID == map_id) objects.push_back({"npc", tn->ObjectID, tn->FName, tn->Point.X, tn->Point.Y});
    }
    for (const TMob* mob : map->MList) {
      if (!mob->IsDead) objects.push_back({"mob", mob->ObjectID, mob->Name(), mob->Point.X, mob->Point.Y});
    }
    ForEachDroppedItem(*map, [&](const TMapObject& item) {
      objects.push_back({"item", item.ObjectID, item.Name(), item.Point.X, item.Point.Y});
    });
    for (const auto& tp : world.PortalList) {
      if (tp->SrcMap != map) continue;
      TObjectInfo info{"portal", tp->ObjectID, tp->Name(), tp->Point.X, tp->Point.Y};
      info.to = tp->DestMap != nullptr ? tp->DestMap->ID : -1;
      objects.push_back(std::move(info));
    }
  }
  TJson out;
  out["id"] = map_id;
  out["name"] = name;
  out["width"] = width;
  out["height"] = height;
  out["walkable"] = Base64(walkable);
  TJson list = TJson::array();
  for (const TObjectInfo& o : objects) {
    TJson j{{"kind", o.kind}, {"id", o.id}, {"name", o.name}, {"x", o.x}, {"y", o.y}};
    if (o.to >= 0) j["to"] = o.to;
    list.push_back(std::move(j));
  }
  out["objects"] = std::move(list);
  return out;
}

TJson HistoryJson() {
  TStats& s = Stats();
  std::lock_guard<std::mutex> lock(s.mutex);
  RollSecond(s, UnixSeconds(std::chrono::system_clock::now()));
  TJson samples = TJson::array();
  for (const TSecond& sec : s.history) {
    samples.push_back(TJson{{"t", sec.time}, {"tick_max_ms", Round3(sec.tick_max_ms)},
                            {"late_max_ms", Round3(sec.late_max_ms)}, {"players", sec.players}});
  }
  return TJson{{"interval_s", 1}, {"samples", std::move(samples)}};
}

bool KickChara(const TWorld& world, const std::string& name) {
  TWorldGuard lock;
  TChara* tc = nullptr;
  if (!world.CharaList.TryGetValue(name, tc)) return false;
  if (!tc->LoggedIn() || tc->Conn() == nullptr) return false;
  tc->Conn()->Close();
  return true;
}

void Broadcast(const std::string& text) {
  TWorldGuard lock;
  SendSystemMessage(nullptr, 3, text, true);
}

TSaveOutcome SaveAllNow(TWorld& world) {
  TSaveOutcome outcome;
  Clock::time_point start;
  std::shared_future<int> done;
  {
    TWorldGuard lock;
    start = Clock::now();
    done = QueueSaveCharaList(world, &outcome.characters);
    outcome.lock_ms = MsSince(start);
  }
  outcome.failures = done.valid() ? done.get() : 0;
  RecordSave(outcome.characters, outcome.lock_ms, MsSince(start));
  return outcome;
}

TGMResult SetGMLevel(TWorld& world, const std::string& name, uint8_t level, std::string* error) {
  std::shared_future<std::string> saved;
  {
    TWorldGuard lock;
    TChara* tc = nullptr;
    if (!world.CharaList.TryGetValue(name, tc)) return TGMResult::UnknownChara;
    tc->AdminLv = level;
    saved = QueueSaveChara(tc);
  }
  std::string failure = saved.valid() ? saved.get() : std::string();
  if (!failure.empty()) {
    if (error != nullptr) *error = failure;
    return TGMResult::SaveFailed;
  }
  return TGMResult::Ok;
}

}  // namespace vornhal::admin
