// The ban list: addresses (or CIDR ranges) and character names the server refuses, read from
// the file "bans.txt" beside the INI file. One ban a line:
//
//   ip <address or CIDR> <until> <reason...>
//   name <character> <until> <reason...>
//
// <until> is a local time "YYYY-MM-DDTHH:MM" or "-" for no end; a line whose first non-blank
// character is "#" is a comment. A ban whose end has passed no longer applies.
//
// The list in force is an immutable snapshot swapped whole, so the accept path and the
// handlers read it from any thread without the world lock.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornhal {

enum class TBanKind { Address, Name };

struct TBan {
  TBanKind kind = TBanKind::Address;
  std::string target;    // as written: the address, CIDR or name
  uint32_t network = 0;  // Address: the network in host order
  uint32_t mask = 0;     // Address: the prefix as a mask
  std::time_t until = 0; // 0: no end
  std::string reason;

  bool ActiveAt(std::time_t now) const { return until == 0 || now < until; }
};

// "a.b.c.d" or "a.b.c.d/n" (n 0..32); the host bits of a CIDR need not be zero.
bool ParseBanAddress(std::string_view text, uint32_t& network, uint32_t& mask);
// A name a ban line can hold: not empty, no blank or control character, not starting "#".
bool IsBannableName(std::string_view name);
// "YYYY-MM-DDTHH:MM" as local time; nullopt when malformed.
std::optional<std::time_t> ParseBanTime(std::string_view text);
std::string FormatBanTime(std::time_t t);

// One line of the file: nullopt with error empty for a blank or comment line, nullopt with the
// error text for a bad line.
std::optional<TBan> ParseBanLine(std::string_view line, std::string& error);
// The line that stores a ban (without line end).
std::string BanLine(const TBan& ban);

class TBanList {
 public:
  // Parses a whole file; each bad line is reported through on_error(line number, error).
  static TBanList Parse(std::string_view text,
                        const std::function<void(int, const std::string&)>& on_error = nullptr);
  // The active ban of that address (dotted IPv4), or null.
  const TBan* FindAddress(std::string_view ip, std::time_t now) const;
  // The active ban of that character name (A-Z ignoring case), or null.
  const TBan* FindName(std::string_view name, std::time_t now) const;
  const std::vector<TBan>& Bans() const { return FBans; }

 private:
  std::vector<TBan> FBans;
};

// --- the list in force ---
std::shared_ptr<const TBanList> CurrentBans();
void SetCurrentBans(TBanList list);

// The file the server uses, its (re)reading, and the watcher that re-reads it within about a
// second of a change. LoadBanFile sets the path, reads the file (a missing file is an empty
// list), logs each bad line, and starts the watcher; StopBanWatcher ends it.
void LoadBanFile(const std::string& path);
void StopBanWatcher();
const std::string& BanFilePath();
// Re-reads the file now (as the watcher does after a change). Returns false when it could not
// be read (the list in force stays).
bool ReloadBanFile();
// Set after every change of the list in force; the world applies it and clears it.
bool TakeBansChanged();

// Edits of the file (with the file lock held, written beside it and renamed over it) followed
// by a re-read. Empty on success, otherwise the error text.
std::string AppendBanLine(const TBan& ban);
// Removes every line of that kind and target (names ignoring the case of A-Z); count is the
// number of lines removed.
std::string RemoveBanLines(TBanKind kind, const std::string& target, int& count);

// For the accept path: true when the address is banned now. Logs the refusal at most once a
// minute per address, naming the server.
bool RefuseBannedAddress(const std::string& server_name, const std::string& ip);

}  // namespace vornhal
