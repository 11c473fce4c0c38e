#include "data/chara_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "data/database.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"
#include "world/globals.h"

namespace vornhal {
namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The swap file next to each character file ("<name>.json.tmp"): new text is written there
// and then swapped in, so the character file is always whole. It never ends in ".json", so
// loading never reads it.
constexpr std::string_view kTempSuffix = ".tmp";

// Raised while reading a file that must be rejected.
struct Rejected {};

const json& Require(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) throw Rejected{};
  return *it;
}

// A number: a JSON integer or a string holding a whole decimal number, within [lo, hi].
int64_t ReadNumber(const json& v, int64_t lo, int64_t hi) {
  int64_t value = 0;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(hi)) throw Rejected{};
    value = static_cast<int64_t>(u);
  } else if (v.is_number_integer()) {
    value = v.get<int64_t>();
  } else if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    std::string_view digits = s;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
      negative = digits.front() == '-';
      digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                       [](char c) { return c >= '0' && c <= '9'; })) {
      throw Rejected{};
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (ec != std::errc() || end != digits.data() + digits.size() ||
        magnitude > (uint64_t{1} << 62)) {
      throw Rejected{};
    }
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  } else {
    throw Rejected{};  // fractions, booleans, null, objects and arrays
  }
  if (value < lo || value > hi) throw Rejected{};
  return value;
}

int64_t ReadNumber(const json& obj, const char* key, int64_t lo, int64_t hi) {
  return ReadNumber(Require(obj, key), lo, hi);
}

uint8_t ReadU8(const json& obj, const char* key) {
  return static_cast<uint8_t>(ReadNumber(obj, key, 0, 255));
}
uint16_t ReadU16(const json& obj, const char* key) {
  return static_cast<uint16_t>(ReadNumber(obj, key, 0, 65535));
}
int32_t ReadI32(const json& obj, const char* key) {
  return static_cast<int32_t>(ReadNumber(obj, key, INT32_MIN, INT32_MAX));
}

// A text: a JSON string, null as the empty text, a number as its digits.
std::string ReadString(const json& obj, const char* key) {
  const json& v = Require(obj, key);
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return std::string();
  if (v.is_number()) return v.dump();
  throw Rejected{};
}

const json& ReadArray(const json& obj, const char* key) {
  const json& v = Require(obj, key);
  if (!v.is_array()) throw Rejected{};
  return v;
}

void FillChara(TChara& tc, const json& j) {
  tc.FName = ReadString(j, "Name");
  if (!IsUsableCharaFileName(tc.FName)) throw Rejected{};
  tc.Pass = ReadString(j, "Password");
  tc.RealName = ReadString(j, "RealName");
  tc.MailAddr = ReadString(j, "MailAddr");
  auto admin = j.find("AdminLv");
  tc.AdminLv = (admin == j.end() || admin->is_null())
                   ? 0
                   : static_cast<uint8_t>(ReadNumber(*admin, 0, 255));
  tc.Sex = ReadU8(j, "Sex");
  tc.Job = std::min<uint8_t>(ReadU8(j, "Job"), 7);
  tc.Mark = ReadU8(j, "Mark");
  tc.HairType = ReadU8(j, "HairType");
  tc.HairColor =
      TAsColor::CreateFromValue(static_cast<uint32_t>(ReadNumber(j, "HairColor", 0, UINT32_MAX)));
  uint16_t map_id = ReadU16(j, "MapID");
  if (TMap* map = MapList->FindMap(map_id)) {
    tc.Map = map;
    uint16_t x = ReadU16(j, "X");
    uint16_t y = ReadU16(j, "Y");
    tc.Point = TMapPoint{x, y};
    tc.Dir = ReadU8(j, "Dir");
  } else {
    TMap* fallback = MapList->FindMap(1);
    if (!fallback) throw Rejected{};
    tc.Map = fallback;
    tc.Point = TMapPoint{65, 50};
    tc.Dir = 2;
  }
  tc.FSpeed = ReadU16(j, "Speed");
  // Written as the unsigned value, read as signed 32-bit and stored bit for bit; values
  // above 2^31 are accepted too, so every file the server writes can be read back.
  tc.Glod = static_cast<uint32_t>(ReadNumber(j, "Glod", INT32_MIN, UINT32_MAX));
  for (const json& e : ReadArray(j, "Equipments")) {
    if (!e.is_object()) throw Rejected{};
    int32_t slot = ReadI32(e, "Slot");
    std::string key = ReadString(e, "MetaKey");
    TItemData* data = ItemDB->Find(key);
    if (!data) continue;  // an item the database no longer knows is dropped
    auto item = std::make_unique<TItem>(data, 1);
    tc.Equipments().Add(slot, item);
  }
  for (const json& e : ReadArray(j, "Inventory")) {
    if (!e.is_object()) throw Rejected{};
    int32_t slot = ReadI32(e, "Slot");
    std::string key = ReadString(e, "MetaKey");
    int32_t count = ReadI32(e, "Count");
    TItemData* data = ItemDB->Find(key);
    if (!data) continue;
    tc.Inventory().Insert(slot, std::make_unique<TItem>(data, count));
  }
}

std::string SaveDir() { return DataDir + "save/"; }

std::string CharaPath(const std::string& name) { return SaveDir() + name + ".json"; }

[[noreturn]] void ThrowErrno(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
}

void EnsureSaveDir() {
  std::error_code ec;
  std::filesystem::create_directories(SaveDir(), ec);
  if (ec) throw std::runtime_error("\"" + SaveDir() + "\" を作成できません: " + ec.message());
}

// Writes the whole text into the character's swap file. The file is reused from save to
// save: it is overwritten from the start and cut to length, so steady-state saves allocate no
// new inodes (allocating many inodes next to recently freed ones is very slow on ext4).
void WriteTempFile(const std::string& path, const std::string& text, bool sync) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) ThrowErrno("\"" + path + "\" を作成できません", errno);
  auto fail = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    ThrowErrno("\"" + path + "\" " + what, err);
  };
  const char* p = text.data();
  size_t left = text.size();
  off_t offset = 0;
  while (left > 0) {
    ssize_t n = ::pwrite(fd, p, left, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("に書き込めません");
    }
    p += n;
    offset += n;
    left -= static_cast<size_t>(n);
  }
  if (::ftruncate(fd, offset) != 0) fail("の長さを変えられません");
  if (sync && ::fsync(fd) != 0) fail("を同期できません");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(path.c_str());
    ThrowErrno("\"" + path + "\" を閉じられません", err);
  }
}

// Puts the swap file in place of the character file in one atomic step. Where the folder
// allows it the two are exchanged, so the swap file keeps the previous save for the next
// round; otherwise the swap file is renamed over the old file.
void RenameOver(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) return;
  if (::rename(from.c_str(), to.c_str()) != 0) {
    int err = errno;
    ::unlink(from.c_str());
    ThrowErrno("\"" + to + "\" に置き換えられません", err);
  }
}

// Makes the renames in the save folder durable.
void SyncDir(int dir_fd) {
  if (dir_fd >= 0) ::fsync(dir_fd);
}

int OpenSaveDir() { return ::open(SaveDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

}  // namespace

bool IsUsableCharaFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string CharaToJson(const TChara& tc) {
  ojson j;
  j["Name"] = tc.FName;
  j["Password"] = tc.Pass;
  j["RealName"] = tc.RealName;
  j["MailAddr"] = tc.MailAddr;
  j["AdminLv"] = int32_t{tc.AdminLv};
  j["Sex"] = int32_t{tc.Sex};
  j["Job"] = int32_t{tc.Job};
  j["Mark"] = int32_t{tc.Mark};
  j["HairType"] = int32_t{tc.HairType};
  j["HairColor"] = uint64_t{tc.HairColor.ToValue()};
  j["MapID"] = int32_t{tc.Map ? tc.Map->ID : uint16_t{0}};
  j["X"] = int32_t{tc.Point.X};
  j["Y"] = int32_t{tc.Point.Y};
  j["Dir"] = int32_t{tc.Dir};
  j["Speed"] = int32_t{tc.FSpeed};
  j["Glod"] = uint64_t{tc.Glod};
  ojson equipments = ojson::array();
  for (const auto& slot : tc.Equipments().FItems) {
    ojson e;
    e["Slot"] = int32_t{slot->FSlotIndex};
    e["MetaKey"] = slot->FItem ? slot->FItem->Data()->MetaKey : std::string();
    equipments.push_back(std::move(e));
  }
  j["Equipments"] = std::move(equipments);
  ojson inventory = ojson::array();
  for (const auto& slot : tc.Inventory().FItems) {
    ojson e;
    e["Slot"] = int32_t{slot->FSlotIndex};
    e["MetaKey"] = slot->FItem ? slot->FItem->Data()->MetaKey : std::string();
    e["Count"] = int32_t{slot->FItem ? slot->FItem->Count() : uint16_t{0}};
    inventory.push_back(std::move(e));
  }
  j["Inventory"] = std::move(inventory);

  // Invalid UTF-8 in a text is replaced rather than losing the whole character.
  std::string body = j.dump(2, ' ', false, ojson::error_handler_t::replace);
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 8);
  out.append(kBom);
  for (char c : body) {
    if (c == '\n') out.push_back('\r');  // JSON strings never hold a raw line break
    out.push_back(c);
  }
  out.append("\r\n");
  return out;
}

std::unique_ptr<TChara> CharaFromJson(const std::string& text) {
  std::string_view body = text;
  if (body.starts_with(kBom)) body.remove_prefix(kBom.size());
  json j = json::parse(body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return nullptr;
  auto tc = std::make_unique<TChara>();  // needs map 10055; its error goes to the caller
  try {
    FillChara(*tc, j);
  } catch (const Rejected&) {
    return nullptr;
  } catch (const json::exception&) {
    return nullptr;
  }
  tc->CalcStatus();
  return tc;
}

void LoadCharaList() {
  const std::string dir = SaveDir();
  if (DirectoryExists(dir)) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      std::string file = entry.path().filename().string();
      if (file.ends_with(".json") && entry.is_regular_file(ec)) names.push_back(file);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& file : names) {
      auto text = ReadFile(dir + file);
      if (!text) continue;
      std::unique_ptr<TChara> tc;
      try {
        tc = CharaFromJson(*text);
      } catch (const std::exception& e) {
        throw FatalDataError("\"" + dir + file + "\" のキャラを作成できません: " + e.what());
      }
      if (!tc) continue;
      TChara* existing = nullptr;
      if (CharaList->TryGetValue(tc->FName, existing)) continue;
      try {
        CharaList->Add(tc.get());
        tc.release();
      } catch (const DuplicateKeyError&) {
      }
    }
  }
  LogFmt("%d のキャラをロードしました", CharaList->Count());
}

void SaveChara(TChara* tc) {
  if (!tc) return;
  if (!IsUsableCharaFileName(tc->FName)) {
    throw std::runtime_error("ファイル名に使えないキャラ名です");
  }
  EnsureSaveDir();
  const std::string path = CharaPath(tc->FName);
  const std::string temp = path + std::string(kTempSuffix);
  WriteTempFile(temp, CharaToJson(*tc), true);
  RenameOver(temp, path);
  int dir_fd = OpenSaveDir();
  SyncDir(dir_fd);
  if (dir_fd >= 0) ::close(dir_fd);
}

int SaveCharaList() {
  if (CharaList->Count() == 0) return 0;
  int failures = 0;
  auto report = [&failures](const TChara* tc, const char* what) {
    ++failures;
    LogFmt("Error: キャラ \"%s\" の保存に失敗しました (%s)", tc->FName, what);
  };
  std::error_code dir_ec;
  std::filesystem::create_directories(SaveDir(), dir_ec);

  // Every file is written in two steps so a crash leaves the old or the new file: first all
  // temporary files, then one flush of the file system (far cheaper than one per file), then
  // the renames over the old files.
  std::vector<TChara*> written;
  written.reserve(static_cast<size_t>(CharaList->Count()));
  for (TChara* tc : *CharaList) {
    try {
      if (!IsUsableCharaFileName(tc->FName)) {
        throw std::runtime_error("ファイル名に使えないキャラ名です");
      }
      if (dir_ec) throw std::runtime_error("\"" + SaveDir() + "\" を作成できません: " + dir_ec.message());
      WriteTempFile(CharaPath(tc->FName) + std::string(kTempSuffix), CharaToJson(*tc), false);
      written.push_back(tc);
    } catch (const std::exception& e) {
      report(tc, e.what());
    }
  }
  int dir_fd = OpenSaveDir();
  bool synced = dir_fd >= 0 && ::syncfs(dir_fd) == 0;
  int saved = 0;
  for (TChara* tc : written) {
    const std::string path = CharaPath(tc->FName);
    const std::string temp = path + std::string(kTempSuffix);
    try {
      if (!synced) {
        // Fall back to flushing this file on its own.
        int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) ThrowErrno("\"" + temp + "\" を開けません", errno);
        int rc = ::fsync(fd);
        int err = errno;
        ::close(fd);
        if (rc != 0) {
          ::unlink(temp.c_str());
          ThrowErrno("\"" + temp + "\" を同期できません", err);
        }
      }
      RenameOver(temp, path);
      ++saved;
    } catch (const std::exception& e) {
      report(tc, e.what());
    }
  }
  SyncDir(dir_fd);
  if (dir_fd >= 0) ::close(dir_fd);
  if (saved > 0) Log("キャラデータを保存しました");
  return failures;
}

}  // namespace vornhal
