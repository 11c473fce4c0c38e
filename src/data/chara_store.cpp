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

[[noreturn]] void ThrowErrno(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
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

}  // namespace

bool IsUsableCharaFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
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

namespace {

// One character's file text, encoded while the world lock was held.
struct TSaveEntry {
  std::string name;
  std::string text;
};

// A save waiting for the writer: one character (written on its own, flushed at once) or every
// character of a save-all pass (written as a batch with one flush of the file system).
struct TSaveJob {
  std::string dir;  // the save folder, ending in "/"
  bool batch = false;
  std::vector<TSaveEntry> entries;
  std::promise<std::string> single_done;  // empty text: written
  std::function<void(const std::string&)> on_failure;
  std::function<void(const std::string&)> on_done;  // called with the result, written or not
  std::promise<int> batch_done;           // number of failures
};

std::string EntryPath(const std::string& dir, const std::string& name) {
  return dir + name + ".json";
}

void EnsureDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("\"" + dir + "\" を作成できません: " + ec.message());
}

// Writes one character's file: swap file, flush, exchange, folder flush.
void WriteOne(const std::string& dir, const TSaveEntry& entry) {
  if (!IsUsableCharaFileName(entry.name)) {
    throw std::runtime_error("ファイル名に使えないキャラ名です");
  }
  EnsureDir(dir);
  const std::string path = EntryPath(dir, entry.name);
  const std::string temp = path + std::string(kTempSuffix);
  WriteTempFile(temp, entry.text, true);
  RenameOver(temp, path);
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  SyncDir(dir_fd);
  if (dir_fd >= 0) ::close(dir_fd);
}

// Writes a save-all pass. Every file is written in two steps so a crash leaves the old or the
// new file: first all swap files, then one flush of the file system (far cheaper than one per
// file), then the exchanges with the old files. A failure is logged with the character's name
// and the others are still written. Returns the number of failures.
int WriteBatch(const std::string& dir, const std::vector<TSaveEntry>& entries) {
  int failures = 0;
  auto report = [&failures](const TSaveEntry& e, const char* what) {
    ++failures;
    LogFmt("Error: キャラ \"%s\" の保存に失敗しました (%s)", EscapeLogText(e.name), what);
  };
  std::error_code dir_ec;
  std::filesystem::create_directories(dir, dir_ec);

  std::vector<const TSaveEntry*> written;
  written.reserve(entries.size());
  for (const TSaveEntry& e : entries) {
    try {
      if (!IsUsableCharaFileName(e.name)) {
        throw std::runtime_error("ファイル名に使えないキャラ名です");
      }
      if (dir_ec) throw std::runtime_error("\"" + dir + "\" を作成できません: " + dir_ec.message());
      WriteTempFile(EntryPath(dir, e.name) + std::string(kTempSuffix), e.text, false);
      written.push_back(&e);
    } catch (const std::exception& ex) {
      report(e, ex.what());
    }
  }
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool synced = dir_fd >= 0 && ::syncfs(dir_fd) == 0;
  int saved = 0;
  for (const TSaveEntry* e : written) {
    const std::string path = EntryPath(dir, e->name);
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
    } catch (const std::exception& ex) {
      report(*e, ex.what());
    }
  }
  SyncDir(dir_fd);
  if (dir_fd >= 0) ::close(dir_fd);
  if (saved > 0) Log("キャラデータを保存しました");
  return failures;
}

void RunJob(TSaveJob& job) {
  if (job.batch) {
    job.batch_done.set_value(WriteBatch(job.dir, job.entries));
    return;
  }
  std::string error;
  try {
    WriteOne(job.dir, job.entries.front());
  } catch (const std::exception& e) {
    error = e.what();
    if (error.empty()) error = "保存に失敗しました";
  }
  if (!error.empty() && job.on_failure) job.on_failure(error);
  if (job.on_done) job.on_done(error);
  job.single_done.set_value(error);
}

// The one writer thread: takes the jobs in the order they were queued, so a later save of a
// character is never overtaken by an earlier one.
class TSaveWriter {
 public:
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

  // Queues the job; false when no writer runs (the caller then writes it itself).
  bool Queue(std::unique_ptr<TSaveJob>& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!thread_.joinable() || stopping_) return false;
      jobs_.push_back(std::move(job));
    }
    cv_.notify_all();
    return true;
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_cv_.wait(lock, [this] { return jobs_.empty() && !busy_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) break;  // stopping, and everything queued is written
      std::unique_ptr<TSaveJob> job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      RunJob(*job);
      job.reset();
      lock.lock();
      busy_ = false;
      if (jobs_.empty()) idle_cv_.notify_all();
    }
    idle_cv_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable idle_cv_;
  std::deque<std::unique_ptr<TSaveJob>> jobs_;
  std::thread thread_;
  bool stopping_ = false;
  bool busy_ = false;
};

std::shared_future<std::string> Submit(std::unique_ptr<TSaveJob> job) {
  std::shared_future<std::string> done = job->single_done.get_future().share();
  if (!TSaveWriter::Get().Queue(job)) RunJob(*job);
  return done;
}

}  // namespace

void StartSaveWriter() { TSaveWriter::Get().Start(); }

void StopSaveWriter() { TSaveWriter::Get().Stop(); }

void DrainSaveWriter() { TSaveWriter::Get().Drain(); }

std::shared_future<std::string> QueueSaveChara(
    TChara* tc, std::function<void(const std::string&)> on_failure) {
  if (!tc) {
    std::promise<std::string> none;
    none.set_value(std::string());
    return none.get_future().share();
  }
  auto job = std::make_unique<TSaveJob>();
  job->dir = SaveDir();
  job->entries.push_back(TSaveEntry{tc->FName, CharaToJson(*tc)});
  job->on_failure = std::move(on_failure);
  return Submit(std::move(job));
}

namespace {
// Names of save files that failed to load (see IsReservedCharaName), lower-cased A-Z.
std::set<std::string>& ReservedNames() {
  static std::set<std::string> names;
  return names;
}
}  // namespace

bool IsReservedCharaName(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ReservedNames().count(key) > 0;
}

void QueueCreateChara(TChara* tc, std::function<void(const std::string& error)> done) {
  auto job = std::make_unique<TSaveJob>();
  job->dir = SaveDir();
  job->entries.push_back(TSaveEntry{tc->FName, CharaToJson(*tc)});
  job->on_done = std::move(done);
  Submit(std::move(job));
}

void SaveChara(TChara* tc) {
  if (!tc) return;
  std::string error = QueueSaveChara(tc).get();
  if (!error.empty()) throw std::runtime_error(error);
}

std::shared_future<int> QueueSaveCharaList(int* count) {
  auto job = std::make_unique<TSaveJob>();
  job->dir = SaveDir();
  job->batch = true;
  job->entries.reserve(static_cast<size_t>(CharaList->Count()));
  for (TChara* tc : *CharaList) job->entries.push_back(TSaveEntry{tc->FName, CharaToJson(*tc)});
  if (count) *count = static_cast<int>(job->entries.size());
  std::shared_future<int> done = job->batch_done.get_future().share();
  if (job->entries.empty()) {
    job->batch_done.set_value(0);  // nothing to save: no file, no line
  } else if (!TSaveWriter::Get().Queue(job)) {
    RunJob(*job);
  }
  return done;
}

int SaveCharaList() { return QueueSaveCharaList(nullptr).get(); }

}  // namespace vornhal
