// What the operator can see and do, shared by the console commands and the admin API: the
// state of the world copied under the world lock (held only as long as the copy takes), and
// the actions (kick, announce, save, GM level), each on the world it is given. None of these
// may be called with the world lock held; each takes it itself.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vornhal {
class TWorld;
}

namespace vornhal::admin {

using TJson = nlohmann::ordered_json;

// The version text reported by the status and the start of the uptime.
void MarkServerStart(const std::string& version);

// Main-loop bookkeeping, called on the main thread. A tick's duration is its whole time from
// start to end without the sleep that pads it to its period; lateness is how far its start
// lies past the end of the period before.
void RecordTick(double duration_ms, double late_ms);
// Called by the tick with the world lock held; counts the characters in the world at most
// once a second for the history.
void SamplePlayersOnline();
// A finished save of every character: how many were queued, how long the world lock was held
// while they were encoded, and the time until the last file was on disk.
void RecordSave(int characters, double lock_ms, double duration_ms);

// The periodic save, run by the tick with the world lock held: Begin queues every character
// (returns how many); Poll, on later ticks, records the save once its files are written.
int BeginPeriodicSave(TWorld& world);
void PollPeriodicSave();

struct TPlayerInfo {
  std::string name;
  uint16_t map = 0;
  uint16_t x = 0;
  uint16_t y = 0;
  int level = 0;
  std::string address;
  int gm_level = 0;
};
// Every character in the world (on a Zone connection), in connection order.
std::vector<TPlayerInfo> ListPlayers();

TJson StatusJson(const TWorld& world);
TJson PlayersJson(const std::vector<TPlayerInfo>& players);
// The map's size, its walkable cells and what stands on it; nullopt for an unknown id.
std::optional<TJson> MapJson(const TWorld& world, uint16_t map_id);
// One sample a second over the last minutes: time, longest tick, characters in the world.
TJson HistoryJson();

// Closes the connection of the named character; its disconnect handling logs it out and
// saves it as when the client closes. False when no such character is connected.
bool KickChara(const TWorld& world, const std::string& name);
// A system message to everyone in the world.
void Broadcast(const std::string& text);

struct TSaveOutcome {
  int characters = 0;
  int failures = 0;
  double lock_ms = 0;
};
// Saves every character now and waits until the files are written (the world lock is held
// only while the characters are encoded).
TSaveOutcome SaveAllNow(TWorld& world);

enum class TGMResult { Ok, UnknownChara, SaveFailed };
// Sets the character's AdminLv (online or not) and saves it; waits for the file.
TGMResult SetGMLevel(TWorld& world, const std::string& name, uint8_t level,
                     std::string* error = nullptr);

// Counts for the metrics: characters in the world, characters known, open connections.
struct TCounts {
  int players = 0;
  int characters = 0;
  int multi = 0;
  int zone = 0;
};
TCounts ReadCounts(const TWorld& world);

// A ban or unban asked for by the operator.
struct TBanRequest {
  bool address = false;  // an address ("ip") or a character name ("name")
  std::string target;
  int minutes = 0;  // 0: no end
  std::string reason;
};
// Reads {"kind","target"[,"minutes","reason"]}; false with the reason in *error.
bool ParseBanRequest(const TJson& body, bool with_time, TBanRequest* ban, std::string* error);
// True when a ban by name names no character the server knows.
bool UnknownBanName(const TWorld& world, const TBanRequest& ban);
// Adds the ban to the ban list, which applies it at once; empty on success, else the error.
std::string AddBanNow(TWorld& world, const TBanRequest& ban);
// False when there was no such ban.
bool RemoveBanNow(TWorld& world, const TBanRequest& ban);
// One log line's text describing the ban (client text escaped).
std::string DescribeBan(const TBanRequest& ban, bool add);

// Base64 (standard alphabet, with padding).
std::string Base64(const std::vector<uint8_t>& bytes);

}  // namespace vornhal::admin
