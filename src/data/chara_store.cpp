#include "data/chara_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <atomic>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <filesystem>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "data/database.h"
#include "platform/int_text.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"
#include "world/world.h"

namespace vornhal {
namespace {

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// A character file larger than this is refused at load without being read.
constexpr off_t kMaxCharaFileBytes = 1024 * 1024;
// The longest text the wire carries in one length-prefixed field, in code page 932 bytes.
constexpr size_t kMaxWireText = 255;

// Raised while reading a file that must be rejected; the reason goes to the log.
struct Rejected {
  std::string reason;
};

const json& Require(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) throw Rejected{std::string("missing key \"") + key + "\""};
  return *it;
}

// A number: a JSON integer or a string holding a whole decimal number, within [lo, hi].
int64_t ReadNumber(const json& v, int64_t lo, int64_t hi) {
  const Rejected out_of_range{"value out of range"};
  const Rejected not_whole{"not a whole number"};
  int64_t value = 0;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(hi)) throw out_of_range;
    value = static_cast<int64_t>(u);
  } else if (v.is_number_integer()) {
    value = v.get<int64_t>();
  } else if (v.is_string()) {
    TIntTextError error = TIntTextError::kNotANumber;
    auto parsed = ParseIntText(v.get_ref<const std::string&>(), {.min = lo, .max = hi}, &error);
    if (!parsed) throw error == TIntTextError::kNotANumber ? not_whole : out_of_range;
    value = *parsed;
  } else {
    throw not_whole;  // fractions, booleans, null, objects and arrays
  }
  if (value < lo || value > hi) throw out_of_range;
  return value;
}

int64_t ReadNumber(const json& obj, const char* key, int64_t lo, int64_t hi) {
  const json& v = Require(obj, key);
  try {
    return ReadNumber(v, lo, hi);
  } catch (Rejected& r) {
    r.reason += std::string(": \"") + key + "\"";
    throw;
  }
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
  throw Rejected{std::string("not a text: \"") + key + "\""};
}

// A text that is shown to clients: cut to the bytes one length-prefixed field carries in code
// page 932, never in the middle of a double-byte character.
std::string ReadWireText(const json& obj, const char* key) {
  std::string text = ReadString(obj, key);
  if (text.size() <= kMaxWireText) return text;  // never longer in code page 932
  std::string wire = ToCP932(text);
  if (wire.size() <= kMaxWireText) return text;
  size_t cut = 0;
  while (cut < wire.size()) {
    auto c = static_cast<unsigned char>(wire[cut]);
    size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
    if (cut + width > kMaxWireText) break;
    cut += width;
  }
  return FromCP932(std::string_view(wire).substr(0, cut));
}

const json& ReadArray(const json& obj, const char* key) {
  const json& v = Require(obj, key);
  if (!v.is_array()) throw Rejected{std::string("not an array: \"") + key + "\""};
  return v;
}

void FillChara(TChara& tc, const json& j) {
  tc.FName = ReadString(j, "Name");
  if (!IsUsableCharaFileName(tc.FName)) throw Rejected{"name not usable as a file name"};
  tc.Pass = ReadString(j, "Password");
  tc.RealName = ReadWireText(j, "RealName");
  tc.MailAddr = ReadWireText(j, "MailAddr");
  auto admin = j.find("AdminLv");
  if (admin == j.end() || admin->is_null()) {
    tc.AdminLv = 0;
  } else {
    try {
      tc.AdminLv = static_cast<uint8_t>(ReadNumber(*admin, 0, 255));
    } catch (Rejected& r) {
      r.reason += ": \"AdminLv\"";
      throw;
    }
  }
  tc.Sex = ReadU8(j, "Sex");
  tc.Job = std::min<uint8_t>(ReadU8(j, "Job"), 7);
  tc.Mark = ReadU8(j, "Mark");
  tc.HairType = ReadU8(j, "HairType");
  tc.HairColor =
      TAsColor::CreateFromValue(static_cast<uint32_t>(ReadNumber(j, "HairColor", 0, UINT32_MAX)));
  uint16_t map_id = ReadU16(j, "MapID");
  if (TMap* map = tc.World.MapList.FindMap(map_id)) {
    tc.Map = map;
    uint16_t x = ReadU16(j, "X");
    uint16_t y = ReadU16(j, "Y");
    tc.Point = TMapPoint{x, y};
    tc.Dir = ReadU8(j, "Dir");
  } else {
    TMap* fallback = tc.World.MapList.FindMap(1);
    if (!fallback) throw Rejected{"map " + std::to_string(map_id) + " and map 1 missing"};
    tc.Map = fallback;
    tc.Point = TMapPoint{65, 50};
    tc.Dir = 2;
  }
  tc.FSpeed = ReadU16(j, "Speed");
  // Written as the unsigned value, read as signed 32-bit and stored bit for bit; values
  // above 2^31 are accepted too, so every file the server writes can be read back.
  tc.Glod = static_cast<uint32_t>(ReadNumber(j, "Glod", INT32_MIN, UINT32_MAX));
  for (const json& e : ReadArray(j, "Equipments")) {
    if (!e.is_object()) throw Rejected{"not an object in \"Equipments\""};
    int32_t slot = ReadI32(e, "Slot");
    std::string key = ReadString(e, "MetaKey");
    TItemData* data = tc.World.ItemDB.Find(key);
    if (!data) continue;  // an item the database no longer knows is dropped
    auto item = std::make_unique<TItem>(data, 1);
    tc.Equipments().Add(slot, item);
  }
  for (const json& e : ReadArray(j, "Inventory")) {
    if (!e.is_object()) throw Rejected{"not an object in \"Inventory\""};
    int32_t slot = ReadI32(e, "Slot");
    std::string key = ReadString(e, "MetaKey");
    int32_t count = ReadI32(e, "Count");
    TItemData* data = tc.World.ItemDB.Find(key);
    if (!data) continue;
    tc.Inventory().Insert(slot, std::make_unique<TItem>(data, count));
  }
}

std::string SaveDir() { return DataDir + "save/"; }

[[noreturn]] void ThrowErrno(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
}

}  // namespace

bool IsUsableCharaFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxCharaNameBytes) return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

namespace {

// Appends a JSON string exactly as nlohmann's dump (no ASCII escaping, invalid UTF-8 replaced)
// writes it. Plain printable ASCII is copied; anything else goes through the library itself,
// so the bytes are the same in every case.
void AppendJsonString(std::string& out, const std::string& s) {
  bool plain = std::all_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F && c != '"' && c != '\\';
  });
  if (plain) {
    out.push_back('"');
    out.append(s);
    out.push_back('"');
  } else {
    out.append(ojson(s).dump(-1, ' ', false, ojson::error_handler_t::replace));
  }
}

void AppendNumber(std::string& out, int64_t value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, end);
}

// One "key": value line of an object at the given indentation (without the line end).
void AppendKey(std::string& out, std::string_view indent, std::string_view key) {
  out.append(indent);
  out.push_back('"');
  out.append(key);
  out.append("\": ");
}

}  // namespace

// The text is written directly rather than built as a JSON document and dumped: the periodic
// save encodes every character while the world waits, and this is several times faster. The
// layout is that of an ordered_json dump with an indent of two blanks, CR LF line ends.
namespace {

// One of the two slot arrays of a character file: every element holds "Slot" and "MetaKey",
// inventory elements also "Count"; `last` ends the array without a comma.
void AppendSlotArray(std::string& out, const char* key,
                     const std::vector<std::unique_ptr<TItemSlot>>& slots, bool with_count,
                     bool last) {
  AppendKey(out, "  ", key);
  if (slots.empty()) {
    out.append(last ? "[]\r\n" : "[],\r\n");
    return;
  }
  out.append("[\r\n");
  for (size_t i = 0; i < slots.size(); ++i) {
    const auto& slot = slots[i];
    out.append("    {\r\n");
    AppendKey(out, "      ", "Slot");
    AppendNumber(out, int32_t{slot->FSlotIndex});
    out.append(",\r\n");
    AppendKey(out, "      ", "MetaKey");
    AppendJsonString(out, slot->FItem ? slot->FItem->Data()->MetaKey : std::string());
    if (with_count) {
      out.append(",\r\n");
      AppendKey(out, "      ", "Count");
      AppendNumber(out, int32_t{slot->FItem ? slot->FItem->Count() : uint16_t{0}});
    }
    out.append(i + 1 < slots.size() ? "\r\n    },\r\n" : "\r\n    }\r\n");
  }
  out.append(last ? "  ]\r\n" : "  ],\r\n");
}

}  // namespace

std::string CharaToJson(const TChara& tc) {
  std::string out;
  out.reserve(512 + 96 * (tc.Equipments().FItems.size() + tc.Inventory().FItems.size()));
  out.append(kBom);
  out.append("{\r\n");
  auto text = [&out](std::string_view key, const std::string& value) {
    AppendKey(out, "  ", key);
    AppendJsonString(out, value);
    out.append(",\r\n");
  };
  auto number = [&out](std::string_view key, int64_t value) {
    AppendKey(out, "  ", key);
    AppendNumber(out, value);
    out.append(",\r\n");
  };
  text("Name", tc.FName);
  text("Password", tc.Pass);
  text("RealName", tc.RealName);
  text("MailAddr", tc.MailAddr);
  number("AdminLv", tc.AdminLv);
  number("Sex", tc.Sex);
  number("Job", tc.Job);
  number("Mark", tc.Mark);
  number("HairType", tc.HairType);
  number("HairColor", tc.HairColor.ToValue());
  number("MapID", tc.Map ? tc.Map->ID : 0);
  number("X", tc.Point.X);
  number("Y", tc.Point.Y);
  number("Dir", tc.Dir);
  number("Speed", tc.FSpeed);
  number("Glod", tc.Glod);

  AppendSlotArray(out, "Equipments", tc.Equipments().FItems, false, false);
  AppendSlotArray(out, "Inventory", tc.Inventory().FItems, true, true);
  out.append("}\r\n");
  return out;
}

namespace {

std::unique_ptr<TChara> CharaFromJsonWithReason(TWorld& world, const std::string& text,
                                                std::string& reason) {
  std::string_view body = text;
  if (body.starts_with(kBom)) body.remove_prefix(kBom.size());
  json j = json::parse(body, nullptr, false);
  if (j.is_discarded()) {
    reason = "invalid JSON";
    return nullptr;
  }
  if (!j.is_object()) {
    reason = "not a JSON object";
    return nullptr;
  }
  auto tc = std::make_unique<TChara>(world);  // needs map 10055; its error goes to the caller
  try {
    FillChara(*tc, j);
  } catch (const Rejected& r) {
    reason = r.reason;
    return nullptr;
  } catch (const json::exception& e) {
    reason = e.what();
    return nullptr;
  }
  tc->CalcStatus();
  return tc;
}

// Removes replaced character files on its own thread. Freeing an inode costs the file system
// far more than writing a small file (milliseconds each), so the writer only hands the old
// files over here and goes on; shutdown waits until all are gone.
class TRemover {
 public:
  static TRemover& Get() {
    static TRemover remover;
    return remover;
  }
  // Without a running thread the file is removed at once.
  void Add(std::string path) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (thread_.joinable() && !stopping_) {
        paths_.push_back(std::move(path));
        cv_.notify_all();
        return;
      }
    }
    Remove(path);
  }
  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
  }
  // Ends the thread after the file it is removing: shutdown never waits for the old files,
  // which the next start-up finds and removes.
  void Stop() {
    size_t left = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable()) return;
      stopping_ = true;
      left = paths_.size();
      paths_.clear();
    }
    cv_.notify_all();
    thread_.join();
    thread_ = std::thread();
    if (left > 0) LogFmt("置き換えた古いキャラファイル %d 件は次の起動時に削除します", static_cast<int>(left));
  }
  ~TRemover() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    paths_.clear();
    cv_.notify_all();
    mutex_.unlock();
    thread_.join();
    mutex_.lock();
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_.size();
  }

 private:
  static void Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      LogFmt("Error: \"%s\" を削除できません: %s", EscapeLogText(path, 600), std::strerror(errno));
    }
  }
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stopping_ || !paths_.empty(); });
      if (stopping_ || paths_.empty()) break;
      std::string path = std::move(paths_.front());
      paths_.pop_front();
      lock.unlock();
      Remove(path);
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::string> paths_;
  std::thread thread_;
  bool stopping_ = false;
};

void RemoveLater(const std::string& path) { TRemover::Get().Add(path); }


// A temporary file of a save that never finished: "<name>.json.XXXXXX" (six letters or
// digits) or the older "<name>.json.tmp".
bool IsTemporaryName(std::string_view file) {
  if (file.ends_with(".json.tmp")) return true;
  if (file.size() < 12) return false;
  std::string_view tail = file.substr(file.size() - 12);
  if (!tail.starts_with(".json.")) return false;
  return std::all_of(tail.begin() + 6, tail.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// Reads one character file without following a symlink and without reading more than the
// size limit. nullopt with the reason when the file is refused.
std::optional<std::string> ReadCharaFile(const std::string& path, std::string& reason) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = errno == ELOOP ? std::string("symlink") : std::string(std::strerror(errno));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = "not a regular file";
    return std::nullopt;
  }
  if (st.st_size > kMaxCharaFileBytes) {
    ::close(fd);
    reason = "too large (" + std::to_string(st.st_size) + " bytes, at most " +
             std::to_string(kMaxCharaFileBytes) + ")";
    return std::nullopt;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  // One byte beyond the size seen: a file that grows meanwhile is refused as well.
  text.resize(static_cast<size_t>(kMaxCharaFileBytes) + 1);
  for (;;) {
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got > static_cast<size_t>(kMaxCharaFileBytes)) {
      ::close(fd);
      reason = "too large (more than " + std::to_string(kMaxCharaFileBytes) + " bytes)";
      return std::nullopt;
    }
  }
  ::close(fd);
  text.resize(got);
  return text;
}

void LogRefused(const std::string& file, const std::string& reason) {
  LogFmt("Error: キャラファイル \"%s\" を読み込みません (%s)。この名前は使えないままです",
         EscapeLogText(file, 300), reason);
}

}  // namespace

std::unique_ptr<TChara> CharaFromJson(TWorld& world, const std::string& text) {
  std::string reason;
  return CharaFromJsonWithReason(world, text, reason);
}

void LoadCharaList(TWorld& world) {
  const std::string dir = SaveDir();
  std::set<std::string>& reserved = world.ReservedCharaNames;
  reserved.clear();
  auto Reserve = [&reserved](std::string_view name) { reserved.insert(LowerAscii(name)); };
  TRemover::Get().Start();  // removes leftovers while the server starts
  if (DirectoryExists(dir)) {
    std::vector<std::string> names;
    std::vector<std::string> temporaries;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      std::string file = entry.path().filename().string();
      std::error_code type_ec;
      auto status = entry.symlink_status(type_ec);
      if (file.ends_with(".json")) {
        std::string stem = file.substr(0, file.size() - 5);
        if (std::filesystem::is_symlink(status)) {
          LogRefused(file, "symlink");
          Reserve(stem);
        } else if (!std::filesystem::is_regular_file(status)) {
          LogRefused(file, "not a regular file");
          Reserve(stem);
        } else {
          names.push_back(file);
        }
      } else if (IsTemporaryName(file)) {
        temporaries.push_back(file);
      }
    }
    std::sort(temporaries.begin(), temporaries.end());
    // Saves that never got renamed into place, and replaced files not yet removed: the
    // character files still hold the last whole saves. They are removed in the background
    // (unlink removes a symlink itself, never what it names).
    constexpr size_t kNamedLines = 20;
    for (size_t i = 0; i < temporaries.size(); ++i) {
      if (i < kNamedLines) {
        LogFmt("保存の途中で残った一時ファイル \"%s\" を削除しました",
               EscapeLogText(temporaries[i], 300));
      }
      RemoveLater(dir + temporaries[i]);
    }
    if (temporaries.size() > kNamedLines) {
      LogFmt("保存の途中で残った一時ファイルを全部で %d 件削除しました",
             static_cast<int>(temporaries.size()));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& file : names) {
      const std::string stem = file.substr(0, file.size() - 5);
      std::string reason;
      auto text = ReadCharaFile(dir + file, reason);
      std::unique_ptr<TChara> tc;
      if (text) {
        try {
          tc = CharaFromJsonWithReason(world, *text, reason);
        } catch (const std::exception& e) {
          throw FatalDataError("\"" + dir + file + "\" のキャラを作成できません: " + e.what());
        }
      }
      if (tc) {
        TChara* existing = nullptr;
        if (world.CharaList.TryGetValue(tc->FName, existing)) {
          reason = "duplicate name \"" + EscapeLogText(tc->FName, 300) + "\" (already loaded from \"" +
                   EscapeLogText(existing->FName, 300) + ".json\")";
          tc.reset();
        }
      }
      if (!tc) {
        LogRefused(file, reason);
        Reserve(stem);
        continue;
      }
      // A file under another name than the character's own is never written again either.
      if (tc->FName != stem) Reserve(stem);
      try {
        world.CharaList.Add(tc.get());
        tc.release();
      } catch (const DuplicateKeyError&) {
        LogRefused(file, "duplicate name");
        Reserve(stem);
      }
    }
  }
  LogFmt("%d のキャラをロードしました", world.CharaList.Count());
}

bool IsReservedCharaName(const TWorld& world, std::string_view name) {
  return world.ReservedCharaNames.count(LowerAscii(name)) > 0;
}

namespace {

// The result of one save for whoever asked for it: empty text when written.
using TSaveDone = std::function<void(const std::string& error)>;

// One character file to write.
struct TSaveItem {
  std::string dir;  // the save folder, ending in "/"
  std::string name;
  std::string text;
  std::vector<TSaveDone> waiters;
  std::string temp;   // the temporary file once written
  std::string error;  // empty while all is well
  // A newer save of the same file was written meanwhile (see TSaveWriter::Yield): this
  // one's temporary file is dropped, and its waiters went to the newer one.
  bool superseded = false;
};

// Called by a long group write between its temporary files, so faster lanes need not wait
// for the whole group.
using TYield = std::function<void()>;

std::string EntryPath(const std::string& dir, const std::string& name) {
  return dir + name + ".json";
}

// Writes the text into a new temporary file "<name>.json.XXXXXX" next to the character file.
// The name is unique and the file is created exclusively, so no symlink or other file there is
// ever followed or written into. Flushed to disk when sync is set.
std::string WriteNewTempFile(const std::string& path, const std::string& text, bool sync) {
  std::string name = path + ".XXXXXX";
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) ThrowErrno("\"" + name + "\" を作成できません", errno);
  auto fail = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(name.c_str());
    ThrowErrno("\"" + name + "\" " + what, err);
  };
  if (::fchmod(fd, 0644) != 0) fail("の権限を設定できません");
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("に書き込めません");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (sync && ::fsync(fd) != 0) fail("を同期できません");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(name.c_str());
    ThrowErrno("\"" + name + "\" を閉じられません", err);
  }
  return name;
}

void FsyncPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) ThrowErrno("\"" + path + "\" を開けません", errno);
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0) ThrowErrno("\"" + path + "\" を同期できません", err);
}


// Puts the new file (temp) in place of the character file (path) in one atomic step and hands
// the replaced file to the remover. Where the folder allows it the two names are exchanged and
// the old file, now under the temporary name, is removed later: replacing a file by rename
// makes the file system free the old one at once, which is very slow when thousands are
// saved. The old file is never written to. Anything but a regular file at path (a folder, a
// device) is never moved; a symlink there is replaced itself, never followed.
void PutInPlace(const std::string& temp, const std::string& path) {
  struct stat st {};
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    ::unlink(temp.c_str());
    throw std::runtime_error("\"" + path + "\" は通常のファイルではないため置き換えません");
  }
  if (exists && S_ISREG(st.st_mode) &&
      ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    // Something else may have taken the file's place since the check: put it back.
    struct stat moved {};
    if (::lstat(temp.c_str(), &moved) == 0 && !S_ISREG(moved.st_mode)) {
      ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
      ::unlink(temp.c_str());
      throw std::runtime_error("\"" + path + "\" は通常のファイルではないため置き換えません");
    }
    RemoveLater(temp);
    return;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw std::runtime_error("\"" + path + "\" に置き換えられません: " + std::strerror(err));
  }
}

// Writes a group of character files. Each gets a new temporary file; all are flushed (one
// file: fsync; several: one flush of the file system, far cheaper than one per file), then
// each is renamed over its character file and the folder is flushed. A file once visible
// under a character's name is never written again, and a crash leaves the old or the new
// file. rename never follows a symlink at the target, and never replaces a folder.
void WriteGroup(std::vector<TSaveItem*>& items, const TYield& yield = nullptr) {
  const bool single = items.size() == 1;
  std::vector<std::string> dirs;
  size_t written = 0;
  for (TSaveItem* item : items) {
    if (yield && ++written % 256 == 0) yield();
    if (!item->error.empty()) continue;  // refused when it was queued
    try {
      if (!IsUsableCharaFileName(item->name)) {
        throw std::runtime_error("ファイル名に使えないキャラ名です");
      }
      if (std::find(dirs.begin(), dirs.end(), item->dir) == dirs.end()) {
        std::error_code ec;
        std::filesystem::create_directories(item->dir, ec);
        if (ec) {
          throw std::runtime_error("\"" + item->dir + "\" を作成できません: " + ec.message());
        }
        dirs.push_back(item->dir);
      }
      item->temp = WriteNewTempFile(EntryPath(item->dir, item->name), item->text, single);
    } catch (const std::exception& e) {
      item->error = e.what();
    }
  }
  if (!single) {
    for (const std::string& dir : dirs) {
      int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      bool synced = dir_fd >= 0 && ::syncfs(dir_fd) == 0;
      if (dir_fd >= 0) ::close(dir_fd);
      if (synced) continue;
      for (TSaveItem* item : items) {
        if (item->dir != dir || !item->error.empty()) continue;
        try {
          FsyncPath(item->temp);
        } catch (const std::exception& e) {
          item->error = e.what();
          ::unlink(item->temp.c_str());
        }
      }
    }
  }
  if (yield) yield();
  for (TSaveItem* item : items) {
    if (!item->error.empty()) continue;
    if (item->superseded) {
      RemoveLater(item->temp);
      continue;
    }
    const std::string path = EntryPath(item->dir, item->name);
    try {
      PutInPlace(item->temp, path);
    } catch (const std::exception& e) {
      item->error = e.what();
    }
  }
  for (const std::string& dir : dirs) {
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int err = dir_fd < 0 ? errno : 0;
    if (dir_fd >= 0 && ::fsync(dir_fd) != 0) err = errno;
    if (dir_fd >= 0) ::close(dir_fd);
    // Some file systems cannot flush a folder at all; the rename is then as durable as
    // they make it.
    if (err == 0 || err == EINVAL) continue;
    for (TSaveItem* item : items) {
      if (item->dir == dir && item->error.empty()) {
        item->error = "\"" + dir + "\" を同期できません: " + std::strerror(err);
      }
    }
  }
}

void Finish(std::vector<TSaveItem*>& items) {
  for (TSaveItem* item : items) {
    if (item->error.empty() && item->temp.empty()) item->error = "保存に失敗しました";
    for (TSaveDone& done : item->waiters) {
      try {
        done(item->error);
      } catch (const std::exception& e) {
        LogFmt("Error: 保存の完了処理に失敗しました: %s", e.what());
      }
    }
  }
}

// The writer's lanes, fastest first.
enum class TLane { kLogout = 0, kCreate = 1, kPeriodic = 2 };
constexpr int kLanes = 3;

void WriteNow(std::vector<TSaveItem*> items, const TYield& yield = nullptr) {
  WriteGroup(items, yield);
  Finish(items);
}

// One save asked for, before it is queued.
struct TSaveRequest {
  std::string name;
  std::string text;
  TSaveDone done;
  std::string error;  // set: refused, never written
};

// The one writer thread. It holds at most one pending save per character file: a newer save
// replaces the text of a pending one and inherits its waiters. Saves of one file are written
// in the order asked for (a save asked for while its file is being written waits for the next
// round). Three lanes, taken in turn one group at a time: players leaving the world, the
// login server (new characters and characters it lets go) and the periodic pass; so a logout
// waits for at most one group of each other lane, never for a whole pass or a flood of new
// accounts. A big periodic group lets logouts through while it writes (Yield).
class TSaveWriter {
 public:
  // Saves written with one flush of the file system. The periodic pass goes in far bigger
  // groups (a flush costs about as much for one file as for thousands), and lets logout
  // saves through while it writes.
  static constexpr size_t kGroup = 256;
  static constexpr size_t kPeriodicGroup = 16384;

  static TSaveWriter& Get() {
    static TSaveWriter writer;
    return writer;
  }

  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable()) return;
      stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
    thread_ = std::thread();
  }

  // Queues the save; false when no writer runs (the caller then writes it itself).
  // A save queued with an error is not written; its waiters get the error from the writer.
  bool Queue(const std::string& dir, const std::string& name, std::string& text, TLane lane,
             TSaveDone& done, const std::string& error = std::string()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable() || stopping_) return false;
      QueueLocked(dir, name, text, lane, done, error);
    }
    cv_.notify_all();
    return true;
  }

  // The same for a whole pass under one lock (the world waits while the pass is queued).
  bool QueueMany(const std::string& dir, std::vector<TSaveRequest>& requests, TLane lane) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable() || stopping_) return false;
      pending_.reserve(pending_.size() + requests.size());
      for (TSaveRequest& r : requests) QueueLocked(dir, r.name, r.text, lane, r.done, r.error);
    }
    cv_.notify_all();
    return true;
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_cv_.wait(lock, [this] { return pending_.empty() && !busy_; });
  }

  size_t PendingCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size() + (busy_ ? busy_count_ : 0);
  }

 private:
  struct TPending {
    std::unique_ptr<TSaveItem> item;
    TLane lane = TLane::kPeriodic;
  };

  // mutex_ held.
  void QueueLocked(const std::string& dir, const std::string& name, std::string& text, TLane lane,
                   TSaveDone& done, const std::string& error) {
    std::string key = EntryPath(dir, name);
    auto [it, added] = pending_.try_emplace(key);
    TPending& p = it->second;
    if (added) {
      p.item = std::make_unique<TSaveItem>();
      p.item->dir = dir;
      p.item->name = name;
      p.lane = lane;
      lanes_[static_cast<int>(lane)].push_back(std::move(key));
    } else if (lane < p.lane) {
      // Moves up to the faster lane; the key left in the slower one is skipped there.
      p.lane = lane;
      lanes_[static_cast<int>(lane)].push_back(std::move(key));
    }
    p.item->text = std::move(text);
    p.item->error = error;
    if (done) p.item->waiters.push_back(std::move(done));
  }

  // Takes up to kGroup pending saves of one lane; mutex_ held.
  void Take(TLane lane, std::vector<std::unique_ptr<TSaveItem>>& out) {
    std::deque<std::string>& keys = lanes_[static_cast<int>(lane)];
    const size_t limit = lane == TLane::kPeriodic ? kPeriodicGroup : kGroup;
    while (!keys.empty() && out.size() < limit) {
      std::string key = std::move(keys.front());
      keys.pop_front();
      auto it = pending_.find(key);
      if (it == pending_.end() || it->second.lane != lane) continue;  // written or moved up
      out.push_back(std::move(it->second.item));
      pending_.erase(it);
    }
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (pending_.empty()) {
        // stopping, and everything queued is written
        for (auto& keys : lanes_) keys.clear();
        break;
      }
      // The next lane in turn that has a pending save.
      std::vector<std::unique_ptr<TSaveItem>> group;
      for (int tries = 0; tries < kLanes && group.empty(); ++tries) {
        Take(static_cast<TLane>(next_lane_), group);
        next_lane_ = (next_lane_ + 1) % kLanes;
      }
      if (group.empty()) {
        // Only stale keys were left in the lanes; queue what is pending again.
        for (auto& [key, p] : pending_) lanes_[static_cast<int>(p.lane)].push_back(key);
        continue;
      }
      busy_ = true;
      busy_count_ = group.size();
      lock.unlock();
      std::vector<TSaveItem*> items;
      items.reserve(group.size());
      for (auto& item : group) items.push_back(item.get());
      if (group.size() > kGroup) {
        in_flight_.clear();
        for (TSaveItem* item : items) in_flight_[EntryPath(item->dir, item->name)] = item;
        WriteNow(std::move(items), [this] { Yield(); });
        in_flight_.clear();
      } else {
        WriteNow(std::move(items));
      }
      group.clear();
      lock.lock();
      busy_ = false;
      busy_count_ = 0;
      if (pending_.empty()) idle_cv_.notify_all();
    }
    idle_cv_.notify_all();
  }

  // Writes the pending logout saves in the middle of a big group. A logout save of a file the
  // group also holds supersedes the group's older text: the group then never renames it in
  // place, and whoever waited for it is answered with the newer save.
  void Yield() {
    std::vector<std::unique_ptr<TSaveItem>> logouts;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Take(TLane::kLogout, logouts);
    }
    if (logouts.empty()) return;
    std::vector<TSaveItem*> items;
    for (auto& item : logouts) {
      auto it = in_flight_.find(EntryPath(item->dir, item->name));
      if (it != in_flight_.end() && !it->second->superseded) {
        it->second->superseded = true;
        for (TSaveDone& done : it->second->waiters) item->waiters.push_back(std::move(done));
        it->second->waiters.clear();
      }
      items.push_back(item.get());
    }
    WriteNow(std::move(items));
  }

  std::unordered_map<std::string, TSaveItem*> in_flight_;  // the big group being written
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable idle_cv_;
  std::unordered_map<std::string, TPending> pending_;  // by file path
  std::deque<std::string> lanes_[kLanes];
  int next_lane_ = 0;
  std::thread thread_;
  bool stopping_ = false;
  bool busy_ = false;
  size_t busy_count_ = 0;
};

const char kReservedError[] = "読み込めなかったファイルと同じ名前のため書き込みません";

// Queues one save, or writes it at once without a writer. done may be empty.
void Submit(const TChara& tc, TLane lane, TSaveDone done) {
  if (IsReservedCharaName(tc.World, tc.FName)) {
    // Answered like any save (from the writer thread when one runs), never written.
    std::string none;
    if (TSaveWriter::Get().Queue(SaveDir(), tc.FName, none, lane, done, kReservedError)) return;
    if (done) done(kReservedError);
    return;
  }
  std::string text = CharaToJson(tc);
  const std::string dir = SaveDir();
  if (TSaveWriter::Get().Queue(dir, tc.FName, text, lane, done)) return;
  TSaveItem item;
  item.dir = dir;
  item.name = tc.FName;
  item.text = std::move(text);
  if (done) item.waiters.push_back(std::move(done));
  WriteNow({&item});
}

}  // namespace

void StartSaveWriter() {
  TRemover::Get().Start();
  TSaveWriter::Get().Start();
}

void StopSaveWriter() {
  TSaveWriter::Get().Stop();
  TRemover::Get().Stop();
}

void DrainSaveWriter() { TSaveWriter::Get().Drain(); }

size_t PendingSaveCount() { return TSaveWriter::Get().PendingCount(); }

namespace {
// A save in the given lane whose result is both returned and passed to on_failure.
std::shared_future<std::string> QueueInLane(TChara* tc, TLane lane,
                                            std::function<void(const std::string&)> on_failure) {
  auto promise = std::make_shared<std::promise<std::string>>();
  std::shared_future<std::string> result = promise->get_future().share();
  if (!tc) {
    promise->set_value(std::string());
    return result;
  }
  Submit(*tc, lane, [promise, on_failure = std::move(on_failure)](const std::string& error) {
    if (!error.empty() && on_failure) on_failure(error);
    promise->set_value(error);
  });
  return result;
}
}  // namespace

std::shared_future<std::string> QueueSaveChara(
    TChara* tc, std::function<void(const std::string&)> on_failure) {
  return QueueInLane(tc, TLane::kLogout, std::move(on_failure));
}

std::shared_future<std::string> QueueReleaseChara(
    TChara* tc, std::function<void(const std::string&)> on_failure) {
  return QueueInLane(tc, TLane::kCreate, std::move(on_failure));
}

void QueueCreateChara(TChara* tc, std::function<void(const std::string& error)> done) {
  Submit(*tc, TLane::kCreate, std::move(done));
}

void SaveChara(TChara* tc) {
  if (!tc) return;
  std::string error = QueueSaveChara(tc).get();
  if (!error.empty()) throw std::runtime_error(error);
}

namespace {

// The progress of one save-all pass; the last result completes it.
struct TPass {
  std::atomic<size_t> left{0};
  std::atomic<int> failures{0};
  std::atomic<int> saved{0};
  std::promise<int> done;
};

}  // namespace

std::shared_future<int> QueueSaveCharaList(TWorld& world, int* count) {
  auto pass = std::make_shared<TPass>();
  std::shared_future<int> result = pass->done.get_future().share();
  const int total = world.CharaList.Count();
  if (count) *count = total;
  if (total == 0) {
    pass->done.set_value(0);  // nothing to save: no file, no line
    return result;
  }
  pass->left = static_cast<size_t>(total);
  std::vector<TSaveRequest> requests;
  requests.reserve(static_cast<size_t>(total));
  for (TChara* tc : world.CharaList) {
    TSaveRequest r;
    r.name = tc->FName;
    if (IsReservedCharaName(world, tc->FName)) {
      r.error = kReservedError;
    } else {
      r.text = CharaToJson(*tc);
    }
    r.done = [pass, name = tc->FName](const std::string& error) {
      if (error.empty()) {
        ++pass->saved;
      } else {
        ++pass->failures;
        LogFmt("Error: キャラ \"%s\" の保存に失敗しました (%s)", EscapeLogText(name, 300), error);
      }
      if (--pass->left == 0) {
        if (pass->saved > 0) Log("キャラデータを保存しました");
        pass->done.set_value(pass->failures);
      }
    };
    requests.push_back(std::move(r));
  }
  const std::string dir = SaveDir();
  if (TSaveWriter::Get().QueueMany(dir, requests, TLane::kPeriodic)) return result;
  // No writer: written here, as one group.
  std::vector<TSaveItem> items(requests.size());
  std::vector<TSaveItem*> group;
  group.reserve(items.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    items[i].dir = dir;
    items[i].name = std::move(requests[i].name);
    items[i].text = std::move(requests[i].text);
    items[i].error = std::move(requests[i].error);
    items[i].waiters.push_back(std::move(requests[i].done));
    group.push_back(&items[i]);
  }
  WriteNow(std::move(group));
  return result;
}

int SaveCharaList(TWorld& world) {
  std::shared_future<int> done = QueueSaveCharaList(world, nullptr);
  // At shutdown a long queue can take a while: tell the operator how far it is.
  auto started = std::chrono::steady_clock::now();
  auto next_report = started + std::chrono::seconds(3);
  while (done.wait_until(next_report) != std::future_status::ready) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::steady_clock::now() - started)
                       .count();
    LogFmt("キャラデータを保存しています (残り %d 件, %d 秒経過)", static_cast<int>(PendingSaveCount()),
           static_cast<int>(seconds));
    next_report += std::chrono::seconds(3);
  }
  return done.get();
}

}  // namespace vornhal
