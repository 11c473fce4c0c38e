// Limits on password guessing and account creation, per address and per character. All
// operations are called with the world lock held; times are steady milliseconds.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

namespace vornhal {

class TLoginThrottle {
 public:
  // Whether logins from the address, or to the character, are refused for now. Trusted
  // addresses are never locked.
  bool AddressLocked(const std::string& ip, int64_t now);
  bool CharaLocked(const std::string& name, int64_t now);
  // A wrong password: counts it for the address (unless trusted) and the character, and locks
  // either once it reaches its limit within LoginLockSeconds. Logs the failure and any lock;
  // server names the server in the lines.
  void RecordFailure(const std::string& server, const std::string& name, const std::string& ip,
                     int64_t now);

  // Whether the address may create one more account within the hour (trusted: always).
  bool CreationAllowed(const std::string& ip, int64_t now);
  void RecordCreation(const std::string& ip, int64_t now);

  void Clear();

 private:
  struct TCounter {
    std::deque<int64_t> times;  // the latest failures (or creations), oldest first
    int64_t locked_until = 0;
  };
  // Adds a failure; true when that locks the key.
  static bool Count(TCounter& counter, size_t limit, int64_t now, int64_t window);
  void Prune(int64_t now);

  std::unordered_map<std::string, TCounter> FAddresses;
  std::unordered_map<std::string, TCounter> FCharas;  // lower-cased A-Z
  std::unordered_map<std::string, TCounter> FCreations;
  uint32_t FSincePrune = 0;
};

TLoginThrottle& LoginThrottle();
// The steady clock in milliseconds.
int64_t SteadyMs();

}  // namespace vornhal
