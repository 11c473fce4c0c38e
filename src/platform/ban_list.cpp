#include "platform/ban_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/files.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/text.h"

namespace vornhal {

namespace {

// A bans file larger than this is not read (the list in force stays).
constexpr off_t kMaxBanFileBytes = 4 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits off the next blank-separated word.
std::string_view NextWord(std::string_view& rest) {
  size_t i = 0;
  while (i < rest.size() && IsBlank(rest[i])) ++i;
  size_t start = i;
  while (i < rest.size() && !IsBlank(rest[i])) ++i;
  std::string_view word = rest.substr(start, i - start);
  rest.remove_prefix(i);
  return word;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool ParseUInt(std::string_view text, size_t max_digits, unsigned& value) {
  if (text.empty() || text.size() > max_digits) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

// Reasons and names are written on one line: control characters become blanks.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return std::string(Trim(out));
}

struct TBanState {
  std::mutex snapshot_mutex;
  std::shared_ptr<const TBanList> snapshot = std::make_shared<TBanList>();
  std::atomic<bool> changed{false};

  std::mutex file_mutex;  // edits and reads of the file
  std::string path;

  std::mutex watcher_mutex;
  std::condition_variable watcher_cv;
  std::thread watcher;
  bool stop = false;

  std::mutex refusal_mutex;
  std::unordered_map<std::string, std::chrono::steady_clock::time_point> last_refusal_log;

  ~TBanState() { StopWatcher(); }

  void StopWatcher() {
    {
      std::lock_guard<std::mutex> lock(watcher_mutex);
      stop = true;
    }
    watcher_cv.notify_all();
    if (watcher.joinable()) watcher.join();
  }
};

TBanState& State() {
  static TBanState state;
  return state;
}

// Identity of the file as last read, to notice a change.
struct TFileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const TFileStamp&) const = default;
};

TFileStamp Stamp(const std::string& path) {
  TFileStamp s;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

// Reads and parses the file; the file lock is held by the caller. False when unreadable.
bool ReloadLocked(TBanState& state) {
  const std::string& path = state.path;
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      LogFmt("利用停止リスト %s を読み込めません: %s", path, std::strerror(errno));
      return false;
    }
    SetCurrentBans(TBanList());  // no file: no bans
    return true;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxBanFileBytes) {
    LogFmt("利用停止リスト %s を読み込めません: 通常のファイルでないか大きすぎます", path);
    return false;
  }
  std::optional<std::string> text = ReadFile(path);
  if (!text) {
    LogFmt("利用停止リスト %s を読み込めません", path);
    return false;
  }
  int errors = 0;
  TBanList list = TBanList::Parse(*text, [&](int line, const std::string& error) {
    // A broken file must not flood the log.
    if (++errors <= 20) LogFmt("利用停止リスト %s の %d 行目を無視します: %s", path, line, error);
  });
  if (errors > 20) LogFmt("利用停止リスト %s: ほかに %d 行を無視しました", path, errors - 20);
  SetCurrentBans(std::move(list));
  return true;
}

// Writes the text beside the file, flushes it and renames it over the file.
std::string WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Format("%s を書き込めません: %s", path, std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return Format("%s を書き込めません: %s", path, std::strerror(e));
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    return Format("%s を書き込めません: %s", path, std::strerror(e));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    return Format("%s を書き込めません: %s", path, std::strerror(e));
  }
  return {};
}

void WatchLoop(TBanState& state, TFileStamp seen) {
  std::unique_lock<std::mutex> lock(state.watcher_mutex);
  while (!state.stop) {
    state.watcher_cv.wait_for(lock, std::chrono::seconds(1));
    if (state.stop) break;
    lock.unlock();
    {
      std::lock_guard<std::mutex> file_lock(state.file_mutex);
      TFileStamp now = Stamp(state.path);
      if (!(now == seen)) {
        seen = now;
        ReloadLocked(state);
      }
    }
    lock.lock();
  }
}

}  // namespace

bool ParseBanAddress(std::string_view text, uint32_t& network, uint32_t& mask) {
  std::string_view address = text;
  unsigned prefix = 32;
  if (size_t slash = text.find('/'); slash != std::string_view::npos) {
    address = text.substr(0, slash);
    if (!ParseUInt(text.substr(slash + 1), 2, prefix) || prefix > 32) return false;
  }
  uint32_t value = 0;
  std::string_view rest = address;
  for (int i = 0; i < 4; ++i) {
    size_t dot = rest.find('.');
    std::string_view part = i < 3 ? rest.substr(0, dot) : rest;
    if (i < 3 && dot == std::string_view::npos) return false;
    unsigned octet = 0;
    if (!ParseUInt(part, 3, octet) || octet > 255) return false;
    value = (value << 8) | octet;
    if (i < 3) rest.remove_prefix(dot + 1);
  }
  mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
  network = value & mask;
  return true;
}

bool IsBannableName(std::string_view name) {
  if (name.empty() || name[0] == '#') return false;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::optional<std::time_t> ParseBanTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM
  if (text.size() != 16 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':') {
    return std::nullopt;
  }
  unsigned year, month, day, hour, minute;
  if (!ParseUInt(text.substr(0, 4), 4, year) || !ParseUInt(text.substr(5, 2), 2, month) ||
      !ParseUInt(text.substr(8, 2), 2, day) || !ParseUInt(text.substr(11, 2), 2, hour) ||
      !ParseUInt(text.substr(14, 2), 2, minute)) {
    return std::nullopt;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
    return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = static_cast<int>(year) - 1900;
  tm.tm_mon = static_cast<int>(month) - 1;
  tm.tm_mday = static_cast<int>(day);
  tm.tm_hour = static_cast<int>(hour);
  tm.tm_min = static_cast<int>(minute);
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  // mktime normalises 2024-02-31 into March: such a date is refused.
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != static_cast<int>(day) ||
      tm.tm_mon != static_cast<int>(month) - 1) {
    return std::nullopt;
  }
  return t;
}

std::string FormatBanTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return Format("%04d-%02d-%02dT%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min);
}

std::optional<TBan> ParseBanLine(std::string_view line, std::string& error) {
  error.clear();
  std::string_view rest = Trim(line);
  if (rest.empty() || rest[0] == '#') return std::nullopt;
  std::string_view kind = NextWord(rest);
  std::string_view target = NextWord(rest);
  std::string_view until = NextWord(rest);
  TBan ban;
  if (kind == "ip") {
    ban.kind = TBanKind::Address;
    if (!ParseBanAddress(target, ban.network, ban.mask)) {
      error = "アドレスが不正です";
      return std::nullopt;
    }
  } else if (kind == "name") {
    ban.kind = TBanKind::Name;
    if (!IsBannableName(target)) {
      error = "名前が不正です";
      return std::nullopt;
    }
  } else {
    error = "種類は ip か name です";
    return std::nullopt;
  }
  ban.target = std::string(target);
  if (until.empty()) {
    error = "期限がありません";
    return std::nullopt;
  }
  if (until != "-") {
    auto t = ParseBanTime(until);
    if (!t) {
      error = "期限は YYYY-MM-DDTHH:MM か - です";
      return std::nullopt;
    }
    ban.until = *t;
  }
  ban.reason = std::string(Trim(rest));
  return ban;
}

std::string BanLine(const TBan& ban) {
  std::string line = ban.kind == TBanKind::Address ? "ip " : "name ";
  line += ban.target;
  line += ' ';
  line += ban.until == 0 ? std::string("-") : FormatBanTime(ban.until);
  if (!ban.reason.empty()) {
    line += ' ';
    line += OneLine(ban.reason);
  }
  return line;
}

TBanList TBanList::Parse(std::string_view text,
                         const std::function<void(int, const std::string&)>& on_error) {
  TBanList list;
  // A byte order mark from an editor is not part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    std::string error;
    if (auto ban = ParseBanLine(line, error)) {
      list.FBans.push_back(std::move(*ban));
    } else if (!error.empty() && on_error) {
      on_error(number, error);
    }
  }
  return list;
}

const TBan* TBanList::FindAddress(std::string_view ip, std::time_t now) const {
  uint32_t address = 0;
  uint32_t mask = 0;
  if (ip.find('/') != std::string_view::npos || !ParseBanAddress(ip, address, mask)) return nullptr;
  for (const TBan& ban : FBans) {
    if (ban.kind == TBanKind::Address && (address & ban.mask) == ban.network && ban.ActiveAt(now)) {
      return &ban;
    }
  }
  return nullptr;
}

const TBan* TBanList::FindName(std::string_view name, std::time_t now) const {
  for (const TBan& ban : FBans) {
    if (ban.kind == TBanKind::Name && EqualsIgnoreAsciiCase(ban.target, name) && ban.ActiveAt(now)) {
      return &ban;
    }
  }
  return nullptr;
}

std::shared_ptr<const TBanList> CurrentBans() {
  TBanState& state = State();
  std::lock_guard<std::mutex> lock(state.snapshot_mutex);
  return state.snapshot;
}

void SetCurrentBans(TBanList list) {
  auto snapshot = std::make_shared<const TBanList>(std::move(list));
  TBanState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.snapshot_mutex);
    state.snapshot = std::move(snapshot);
  }
  state.changed = true;
}

bool TakeBansChanged() { return State().changed.exchange(false); }

void LoadBanFile(const std::string& path) {
  TBanState& state = State();
  state.StopWatcher();
  TFileStamp seen;
  {
    std::lock_guard<std::mutex> lock(state.file_mutex);
    state.path = path;
    seen = Stamp(path);
    ReloadLocked(state);
    size_t count = CurrentBans()->Bans().size();
    if (count > 0) LogFmt("利用停止リストを読み込みました (%d 件)", count);
  }
  {
    std::lock_guard<std::mutex> lock(state.watcher_mutex);
    state.stop = false;
  }
  state.watcher = std::thread([&state, seen] { WatchLoop(state, seen); });
}

void StopBanWatcher() { State().StopWatcher(); }

const std::string& BanFilePath() { return State().path; }

bool ReloadBanFile() {
  TBanState& state = State();
  std::lock_guard<std::mutex> lock(state.file_mutex);
  return ReloadLocked(state);
}

std::string AppendBanLine(const TBan& ban) {
  TBanState& state = State();
  std::lock_guard<std::mutex> lock(state.file_mutex);
  if (state.path.empty()) return "利用停止リストのファイルが決まっていません";
  std::string text;
  if (FileExists(state.path)) {
    std::optional<std::string> old = ReadFile(state.path);
    if (!old) return Format("%s を読み込めません", state.path);
    text = std::move(*old);
    if (!text.empty() && text.back() != '\n') text.push_back('\n');
  }
  text += BanLine(ban);
  text.push_back('\n');
  std::string error = WriteFileAtomically(state.path, text);
  if (!error.empty()) return error;
  ReloadLocked(state);
  return {};
}

std::string RemoveBanLines(TBanKind kind, const std::string& target, int& count) {
  count = 0;
  TBanState& state = State();
  std::lock_guard<std::mutex> lock(state.file_mutex);
  if (state.path.empty() || !FileExists(state.path)) return {};
  std::optional<std::string> old = ReadFile(state.path);
  if (!old) return Format("%s を読み込めません", state.path);
  uint32_t want_network = 0;
  uint32_t want_mask = 0;
  bool address = kind == TBanKind::Address && ParseBanAddress(target, want_network, want_mask);
  std::string text;
  std::string_view rest = *old;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
    rest.remove_prefix(line.size());
    std::string error;
    std::optional<TBan> ban = ParseBanLine(line.substr(0, line.find('\n')), error);
    bool match = false;
    if (ban && ban->kind == kind) {
      match = address ? (ban->network == want_network && ban->mask == want_mask)
                      : EqualsIgnoreAsciiCase(ban->target, target);
    }
    if (match) {
      ++count;
    } else {
      text += line;
    }
  }
  if (count == 0) return {};
  std::string error = WriteFileAtomically(state.path, text);
  if (!error.empty()) {
    count = 0;
    return error;
  }
  ReloadLocked(state);
  return {};
}

bool RefuseBannedAddress(const std::string& server_name, const std::string& ip) {
  std::time_t now = std::time(nullptr);
  std::shared_ptr<const TBanList> bans = CurrentBans();
  const TBan* ban = bans->FindAddress(ip, now);
  if (ban == nullptr) return false;
  TBanState& state = State();
  auto clock = std::chrono::steady_clock::now();
  bool log = false;
  {
    std::lock_guard<std::mutex> lock(state.refusal_mutex);
    auto& logs = state.last_refusal_log;
    // Forget addresses not refused for a minute, so the table stays small.
    if (logs.size() > 4096) {
      for (auto it = logs.begin(); it != logs.end();) {
        it = clock - it->second >= std::chrono::minutes(1) ? logs.erase(it) : std::next(it);
      }
    }
    auto it = logs.find(ip);
    if (it == logs.end() || clock - it->second >= std::chrono::minutes(1)) {
      logs[ip] = clock;
      log = true;
    }
  }
  if (log) {
    LogFmt("[%s] 利用停止中のアドレス %s からの接続を切断しました (%s)", server_name, ip,
           EscapeLogText(ban->reason, 200));
  }
  return true;
}

}  // namespace vornhal
