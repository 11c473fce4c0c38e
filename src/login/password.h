// Password storage and the workers that hash and verify passwords away from the world lock.
//
// Stored forms: an Argon2id string from libsodium ("$argon2id$v=19$m=...,t=...,p=1$salt$hash",
// which names its own algorithm, cost and salt) or the older 40-digit SHA-1 digest. Both are
// verified; [Main] PasswordHash picks the form of new passwords.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vornhal {

// The stored form of a new password under the current settings: an Argon2id string
// ("argon2id") or the SHA-1 digest ("sha1"). Empty when hashing failed (out of memory).
// Slow on purpose: never call it with the world lock held.
std::string HashPassword(std::string_view password);
// True when the password matches the stored form (either kind). Slow for Argon2id.
bool VerifyPassword(std::string_view password, const std::string& stored);
// True when the stored form should be replaced at the next successful login: a SHA-1 digest
// while Argon2id is chosen, or an Argon2id string of another cost.
bool PasswordNeedsRehash(const std::string& stored);
bool IsArgon2idString(std::string_view stored);

// The password workers: a few low-priority threads that run jobs in order of arrival. Until
// StartPasswordWorkers has run (and after StopPasswordWorkers) a job runs at once on the
// caller's thread.
void StartPasswordWorkers();
// Runs every job already queued, then ends the threads.
void StopPasswordWorkers();
void RunPasswordJob(std::function<void()> job);
// Jobs queued or running.
int PendingPasswordJobs();

// A burst of password work and how late the ticks were while it lasted, beside how late they
// were in the 10 s before it: the Multi server's tick feeds it, and it logs one line when a
// burst of at least kBurstReportJobs ends.
class TPasswordBurstMonitor {
 public:
  static constexpr int kBurstReportJobs = 10;
  static constexpr uint32_t kBaselineSeconds = 10;
  // Called on every tick with the tick's start (world lock held).
  void OnTick(uint32_t tick);

 private:
  // The latest lateness of each of the last 16 seconds (by tick / 1000).
  struct TSecond {
    uint32_t second = 0;
    uint32_t max_late = 0;
  };
  TSecond FSeconds[16];
  uint32_t FBaseline = 0;

  bool FActive = false;
  bool FHaveLast = false;
  uint32_t FLastTick = 0;
  uint32_t FStart = 0;
  uint64_t FDoneAtStart = 0;
  uint32_t FMaxLate = 0;
};

}  // namespace vornhal
