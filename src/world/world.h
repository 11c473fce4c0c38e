// The world: the game data containers, the object id counters, the zone login tickets and the
// world's settings, owned by one object. Whoever needs the world is handed it (a server and
// its sessions, a map, a character, the loaders, the operator's commands); nothing reaches it
// through a global. Every change happens under the world lock.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/settings.h"
#include "world/chara.h"
#include "world/item.h"
#include "world/map.h"
#include "world/mob.h"
#include "world/npc.h"

namespace vornhal {

using TNpcList = TMapObjectList<TNpc>;

// An owning list of portals (no id dictionary: every portal has id 0).
class TPortalList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TPortal* operator[](int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  void Add(std::unique_ptr<TPortal> portal) { FItems.push_back(std::move(portal)); }
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TPortal>> FItems;
};

// A successful Multi login entitles the character to one zone login from the same peer
// address within kZoneTicketLifetime ms.
inline constexpr uint32_t kZoneTicketLifetime = 60000;

class TZoneTickets {
 public:
  // A ticket for the name (any case) from that address; replaces an earlier one.
  void Issue(std::string_view chara_name, std::string_view peer_ip, uint32_t tick);
  // True (and the ticket used up) when a valid ticket exists for that name and address. A
  // ticket of another address stays for its own client; a stale one is dropped.
  bool Consume(std::string_view chara_name, std::string_view peer_ip, uint32_t tick);
  void Clear() { FTickets.clear(); }

 private:
  struct TTicket {
    std::string ip;
    uint32_t issued;
  };
  std::unordered_map<std::string, TTicket> FTickets;
};

class TWorld {
 public:
  // An empty world with the given settings; the loaders fill it.
  explicit TWorld(const TWorldSettings& settings = TWorldSettings());
  // Takes the maps' contents apart before the containers go, so nothing freed later refers to
  // anything freed earlier.
  ~TWorld();
  TWorld(const TWorld&) = delete;
  TWorld& operator=(const TWorld&) = delete;

  TWorldSettings Settings;

  // Destroyed in reverse order: characters, NPCs, portals, maps (with their mobs), mob
  // definitions, items.
  TItemDB ItemDB;
  TMobDB MobDB;
  TMapList MapList;
  TPortalList PortalList;
  TNpcList NpcList{true};
  // The characters whose hit points ran out and who have not been revived since, in the
  // order they died: TChara::DecHP lists a character as it dies, Revive and the character's
  // destruction take it off. Whatever kills a character (a handler, the tick) lists it.
  std::vector<TChara*> DeadCharas;
  TCharaList CharaList{*this};

  // The object id counters. Only characters have ids at or above kFirstCharaID.
  uint32_t NextNpcID = kFirstNpcID;
  uint32_t NextMobID = kFirstMobID;
  uint32_t NextItemID = kFirstItemID;
  uint32_t NextCharaID = kFirstCharaID;

  TZoneTickets ZoneTickets;
  // Lower-cased names of save files that failed to load: taken, and never written.
  std::set<std::string> ReservedCharaNames;
  // Lower-cased names of accounts made in memory whose first file is not yet on disk: they
  // cannot log in until it is, and are removed again if it fails.
  std::set<std::string> CreatingCharaNames;
};

}  // namespace vornhal
