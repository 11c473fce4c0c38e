#include "login/throttle.h"

#include <chrono>

#include "platform/log.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace vornhal {

namespace {
constexpr int64_t kHourMs = 3600 * 1000;
// The rule per character allows this many times the failures of the rule per address.
constexpr int kCharaFactor = 4;
}  // namespace

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TLoginThrottle& LoginThrottle() {
  static TLoginThrottle throttle;
  return throttle;
}

bool TLoginThrottle::AddressLocked(const std::string& ip, int64_t now) {
  if (IsTrustedAddress(ip)) return false;
  auto it = FAddresses.find(ip);
  return it != FAddresses.end() && now < it->second.locked_until;
}

bool TLoginThrottle::CharaLocked(const std::string& name, int64_t now) {
  auto it = FCharas.find(LowerAscii(name));
  return it != FCharas.end() && now < it->second.locked_until;
}

bool TLoginThrottle::Count(TCounter& counter, size_t limit, int64_t now, int64_t window) {
  counter.times.push_back(now);
  while (counter.times.size() > limit) counter.times.pop_front();
  while (!counter.times.empty() && now - counter.times.front() >= window) counter.times.pop_front();
  if (counter.times.size() < limit) return false;
  counter.times.clear();
  counter.locked_until = now + window;
  return true;
}

void TLoginThrottle::RecordFailure(const std::string& server, const std::string& name,
                                   const std::string& ip, int64_t now) {
  const std::string shown = EscapeLogText(name, 300);
  LogFmt("[%s] キャラクター \"%s\" のパスワードが違います (%s)", server, shown, ip);
  const int allowed = Security.LoginFailuresAllowed;
  const int seconds = Security.LoginLockSeconds;
  if (allowed <= 0 || seconds <= 0) return;
  const int64_t window = int64_t{seconds} * 1000;
  Prune(now);
  if (!IsTrustedAddress(ip) && Count(FAddresses[ip], static_cast<size_t>(allowed), now, window)) {
    LogFmt("[%s] アドレス %s からのログインを %d 秒間拒否します (パスワードの誤り %d 回)", server,
           ip, seconds, allowed);
  }
  const size_t chara_limit = static_cast<size_t>(allowed) * kCharaFactor;
  if (Count(FCharas[LowerAscii(name)], chara_limit, now, window)) {
    LogFmt("[%s] キャラクター \"%s\" へのログインを %d 秒間拒否します (パスワードの誤り %d 回, 最後は %s から)",
           server, shown, seconds, static_cast<int>(chara_limit), ip);
  }
}

bool TLoginThrottle::CreationAllowed(const std::string& ip, int64_t now) {
  const int limit = Security.AccountsPerIPPerHour;
  if (limit <= 0 || IsTrustedAddress(ip)) return true;
  auto it = FCreations.find(ip);
  if (it == FCreations.end()) return true;
  auto& times = it->second.times;
  while (!times.empty() && now - times.front() >= kHourMs) times.pop_front();
  return times.size() < static_cast<size_t>(limit);
}

void TLoginThrottle::RecordCreation(const std::string& ip, int64_t now) {
  const int limit = Security.AccountsPerIPPerHour;
  if (limit <= 0 || IsTrustedAddress(ip)) return;
  Prune(now);
  auto& times = FCreations[ip].times;
  times.push_back(now);
  while (times.size() > static_cast<size_t>(limit)) times.pop_front();
}

void TLoginThrottle::Clear() {
  FAddresses.clear();
  FCharas.clear();
  FCreations.clear();
}

void TLoginThrottle::Prune(int64_t now) {
  // Every so often, forget keys with no lock and nothing recent, so the tables stay small.
  if (++FSincePrune < 1024) return;
  FSincePrune = 0;
  const int64_t window = int64_t{Security.LoginLockSeconds} * 1000;
  auto prune = [now](std::unordered_map<std::string, TCounter>& table, int64_t keep) {
    for (auto it = table.begin(); it != table.end();) {
      const TCounter& c = it->second;
      bool idle = now >= c.locked_until && (c.times.empty() || now - c.times.back() >= keep);
      it = idle ? table.erase(it) : std::next(it);
    }
  };
  prune(FAddresses, window);
  prune(FCharas, window);
  prune(FCreations, kHourMs);
}

}  // namespace vornhal
