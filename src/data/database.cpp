#include "data/database.h"

#include <algorithm>
#include <memory>

#include "data/chara_store.h"
#include "data/common.h"
#include "data/text_rules.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"
#include "world/world.h"

namespace vornhal {

std::string DataDir;

namespace {

// Reads a db text file as UTF-8 lines; logs the missing-file error and answers nullopt.
std::optional<std::vector<std::string>> ReadDbLines(const std::string& path) {
  if (!FileExists(path)) {
    LogFmt("Error: \"%s\" が見つかりません", path);
    return std::nullopt;
  }
  auto bytes = ReadFile(path);
  if (!bytes) {
    LogFmt("Error: \"%s\" が見つかりません", path);
    return std::nullopt;
  }
  return SplitLines(FromCP932(*bytes));
}

// The lines of a comma-separated db file that survive trimming and comments, split.
template <typename Fn>
bool ForEachRecord(const std::string& path, Fn&& fn) {
  auto lines = ReadDbLines(path);
  if (!lines) return false;
  for (const std::string& raw : *lines) {
    std::string_view line = TrimLine(raw);
    if (IsSkippedLine(line)) continue;
    if (!fn(SplitCommas(line))) break;
  }
  return true;
}

// Parses fields [first, last] as integers; false when any is invalid.
bool ParseInts(const std::vector<std::string>& f, size_t first, size_t last, int32_t* out) {
  for (size_t i = first; i <= last; ++i) {
    auto v = ParseInt(f[i]);
    if (!v) return false;
    out[i] = *v;
  }
  return true;
}

void LoadGrid(TMap& map, const std::string& path) {
  auto bytes = ReadFile(path);
  if (!bytes) throw FatalDataError("\"" + path + "\" を読み込めません");
  const std::string& b = *bytes;
  if (b.size() < 2) throw FatalDataError("\"" + path + "\" が短すぎます (グリッドの大きさがありません)");
  int w = static_cast<unsigned char>(b[0]);
  int h = static_cast<unsigned char>(b[1]);
  size_t need = 2 + static_cast<size_t>(w) * static_cast<size_t>(h);
  if (b.size() < need) {
    throw FatalDataError(Format("\"%s\" が短すぎます (%d x %d のグリッドに %d バイト必要, %d バイトしかありません)",
                                path, w, h, static_cast<int64_t>(need), static_cast<int64_t>(b.size())));
  }
  map.DatWidth = w;
  map.DatHeight = h;
  map.dat.assign(static_cast<size_t>(w) * h, 0);
  size_t pos = 2;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      map.dat[static_cast<size_t>(x) * h + y] = static_cast<uint8_t>(b[pos++]);
    }
  }
  map.Usedat = true;
}

}  // namespace

void LoadDatabase(TWorld& world) {
  LoadItemData(world);
  LoadMapData(world);
  // Every new character starts on that map; without it no account could be created or loaded.
  if (world.MapList.FindMap(kStartMapID) == nullptr) {
    throw FatalDataError(Format(
        "マップ %d (新しいキャラの開始マップ) が \"%sdb/MapDB.txt\" にありません", kStartMapID,
        DataDir));
  }
  LoadPortalData(world);
  LoadNpcData(world);
  LoadMobData(world);
  LoadCharaList(world);
}

void LoadItemData(TWorld& world) {
  const std::string path = DataDir + "db/ItemDB.txt";
  bool found = ForEachRecord(path, [&world](const std::vector<std::string>& f) {
    if (f.size() < 11) return true;
    int32_t v[11];
    if (!ParseInts(f, 2, 10, v)) return true;
    if (v[3] == -1) return true;  // a disabled line
    auto data = std::make_unique<TItemData>();
    data->MetaKey = f[0];
    data->Name = f[1];
    data->ColorType = static_cast<uint8_t>(v[2]);
    data->ItemType = static_cast<uint8_t>(v[3]);
    data->ActionType = static_cast<uint8_t>(v[4]);
    data->IconTile = static_cast<uint16_t>(v[5]);
    data->Color = TAsColor::CreateFromValue(static_cast<uint32_t>(v[6]));
    data->IsEnchantable = v[7] != 0;
    data->EquipPart = static_cast<uint8_t>(v[8]);
    data->EquipTile = static_cast<uint16_t>(v[9]);
    data->DropTile = static_cast<uint16_t>(v[10]);
    world.ItemDB.Add(std::move(data));  // the first definition of a key wins
    return true;
  });
  if (found) LogFmt("%d のアイテムをロードしました", world.ItemDB.Count());
}

void LoadMapData(TWorld& world) {
  const std::string path = DataDir + "db/MapDB.txt";
  bool found = ForEachRecord(path, [&world](const std::vector<std::string>& f) {
    if (f.size() < 7) return true;
    int32_t v[7];
    if (!ParseInts(f, 0, 4, v)) return true;
    // A bigger map would take gigabytes of blocks when the first player enters it.
    if (v[1] < 0 || v[2] < 0 || v[1] > kMaxMapSide || v[2] > kMaxMapSide) {
      LogFmt("Error: マップ %d \"%s\" の大きさ %d x %d は上限 %d x %d を超えるため読み込みません",
             v[0], EscapeLogText(f[5], 100), v[1], v[2], kMaxMapSide, kMaxMapSide);
      return true;
    }
    auto map = std::make_unique<TMap>(world);
    map->ID = static_cast<uint16_t>(v[0]);
    map->Width = static_cast<uint16_t>(v[1]);
    map->Height = static_cast<uint16_t>(v[2]);
    map->Flag1 = static_cast<uint8_t>(v[3]);
    map->Flag2 = static_cast<uint8_t>(v[4]);
    map->Name = f[5];
    map->BGM = static_cast<uint16_t>(ParseInt(f[6]).value_or(0));
    world.MapList.Add(std::move(map));
    return true;
  });
  if (!found) return;
  if (DirectoryExists(DataDir + "map")) {
    for (const auto& map : world.MapList) {
      std::string grid = DataDir + "map/" + Format("%.5d", map->ID) + ".dat";
      if (!FileExists(grid)) continue;
      LoadGrid(*map, grid);
      ConsoleStatus(Format("\"%.5d.dat\"をロード", map->ID));
    }
  }
  world.MapList.MapSort();
  LogFmt("%d のマップをロードしました", world.MapList.Count());
}

void LoadPortalData(TWorld& world) {
  const std::string path = DataDir + "db/PortalList.txt";
  bool stopped = false;
  bool found = ForEachRecord(path, [&world, &stopped](const std::vector<std::string>& f) {
    if (f.size() < 9) return true;
    auto src_id = ParseInt(f[0]);
    if (!src_id) return true;
    int src = world.MapList.IndexOfMapID(static_cast<uint16_t>(*src_id));
    if (src < 0) {
      LogFmt("Error: MapID \"%u\" は存在しません", static_cast<uint16_t>(*src_id));
      stopped = true;
      return false;
    }
    auto dest_id = ParseInt(f[5]);
    if (!dest_id) return true;
    int dest = world.MapList.IndexOfMapID(static_cast<uint16_t>(*dest_id));
    if (dest < 0) {
      LogFmt("Error: MapID \"%u\" は存在しません", static_cast<uint16_t>(*dest_id));
      stopped = true;
      return false;
    }
    int32_t v[9];
    if (!ParseInts(f, 1, 4, v) || !ParseInts(f, 6, 8, v)) return true;
    auto portal = std::make_unique<TPortal>();
    portal->SrcMap = world.MapList[src];
    portal->DestMap = world.MapList[dest];
    uint16_t x1 = static_cast<uint16_t>(v[1]), y1 = static_cast<uint16_t>(v[2]);
    uint16_t x2 = static_cast<uint16_t>(v[3]), y2 = static_cast<uint16_t>(v[4]);
    portal->SrcMinPoint = TMapPoint{std::min(x1, x2), std::min(y1, y2)};
    portal->SrcMaxPoint = TMapPoint{std::max(x1, x2), std::max(y1, y2)};
    portal->Point = TMapPoint{
        static_cast<uint16_t>((portal->SrcMinPoint.X + portal->SrcMaxPoint.X) / 2),
        static_cast<uint16_t>((portal->SrcMinPoint.Y + portal->SrcMaxPoint.Y) / 2)};
    portal->DestPoint = TMapPoint{static_cast<uint16_t>(v[6]), static_cast<uint16_t>(v[7])};
    portal->Dir = static_cast<uint8_t>(v[8]);
    world.PortalList.Add(std::move(portal));
    return true;
  });
  if (found && !stopped) LogFmt("%d のポータルをロードしました", world.PortalList.Count());
}

void LoadNpcData(TWorld& world) {
  const std::string path = DataDir + "db/NpcList.txt";
  bool found = ForEachRecord(path, [&world](const std::vector<std::string>& f) {
    if (f.size() < 6) return true;
    int32_t v[6];
    if (!ParseInts(f, 2, 3, v)) return true;
    auto map_id = ParseInt(f[0]);
    if (!map_id) return true;
    auto npc = std::make_unique<TNpc>(world);
    npc->MapID = static_cast<uint16_t>(*map_id);
    npc->FName = f[1];
    npc->Point = TMapPoint{static_cast<uint16_t>(v[2]), static_cast<uint16_t>(v[3])};
    uint8_t dir = static_cast<uint8_t>(ParseInt(f[4]).value_or(2));
    npc->Dir = std::min<uint8_t>(dir, 7);
    npc->GraphicID = static_cast<uint16_t>(ParseInt(f[5]).value_or(16384));
    world.NpcList.Add(npc.get());
    npc.release();
    return true;
  });
  if (!found) return;
  LogFmt("%d のNPCデータをロードしました", world.NpcList.Count());
  auto guide = std::make_unique<TNpc>(world);
  guide->ScriptName = "VornhalTest";
  guide->GraphicID = 16425;
  guide->FName = "エミュ鯖ガイド";
  guide->MapID = 10055;
  guide->Point = TMapPoint{30, 34};
  guide->Dir = 2;
  world.NpcList.Add(guide.get());
  guide.release();
}

void LoadMobData(TWorld& world) {
  const std::string path = DataDir + "db/MobDB.txt";
  auto lines = ReadDbLines(path);
  if (!lines) return;
  int line_no = 0;
  for (const std::string& line : *lines) {
    ++line_no;
    if (line.empty() || line.front() == ';' || line.starts_with("//")) continue;
    auto fail = [&](const std::string& why) {
      return FatalDataError(Format("\"%s\" %d 行目: %s", path, line_no, why));
    };
    std::vector<std::string> f = SplitMobFields(line);
    if (f.size() < 23) {
      throw fail(Format("フィールドが %d 個しかありません (23 個必要)", static_cast<int64_t>(f.size())));
    }
    int32_t v[21];
    for (size_t i = 1; i <= 20; ++i) {
      auto n = ParseInt(f[i]);
      if (!n) throw fail(Format("フィールド %d \"%s\" は整数ではありません", static_cast<int64_t>(i), f[i]));
      v[i] = *n;
    }
    auto active = ParseBool(f[21]);
    if (!active) throw fail(Format("フィールド 21 \"%s\" は真偽値ではありません", f[21]));
    auto move = ParseBool(f[22]);
    if (!move) throw fail(Format("フィールド 22 \"%s\" は真偽値ではありません", f[22]));
    auto tmd = std::make_unique<TMobData>();
    tmd->Name = f[0];
    tmd->GraphicID = static_cast<uint16_t>(v[1]);
    tmd->Color = TAsColor{static_cast<uint8_t>(v[2]), static_cast<uint8_t>(v[3]), static_cast<uint8_t>(v[4])};
    tmd->Speed = static_cast<uint16_t>(v[5]);
    tmd->Level = static_cast<uint8_t>(v[6]);
    tmd->MaxHP = static_cast<uint32_t>(v[7]);
    tmd->MaxMP = static_cast<uint32_t>(v[8]);
    tmd->MaxSP = static_cast<uint32_t>(v[9]);
    tmd->DAM = static_cast<uint16_t>(v[10]);
    tmd->HIT = static_cast<uint16_t>(v[11]);
    tmd->SAR = static_cast<uint8_t>(v[12]);
    tmd->AAR = static_cast<uint8_t>(v[13]);
    tmd->STR = static_cast<uint8_t>(v[14]);
    tmd->INT = static_cast<uint8_t>(v[15]);
    tmd->WIS = static_cast<uint8_t>(v[16]);
    tmd->CON = static_cast<uint8_t>(v[17]);
    tmd->DEX = static_cast<uint8_t>(v[18]);
    tmd->AC = static_cast<int8_t>(v[19]);
    tmd->MC = static_cast<int8_t>(v[20]);
    tmd->IsActive = *active;
    tmd->IsMove = *move;
    TMobData* existing = nullptr;
    if (world.MobDB.TryGetValue(tmd->Name, existing)) {
      throw fail(Format("Mob \"%s\" は既に定義されています", tmd->Name));
    }
    try {
      world.MobDB.Add(std::move(tmd));
    } catch (const DuplicateKeyError& e) {
      throw fail(e.what());
    }
  }
  LogFmt("%d のMobデータをロードしました", world.MobDB.Count());
}

}  // namespace vornhal
