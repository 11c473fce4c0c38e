#include "world/world.h"

#include "platform/clock.h"
#include "platform/text.h"

namespace vornhal {

void TZoneTickets::Issue(std::string_view chara_name, std::string_view peer_ip, uint32_t tick) {
  FTickets[LowerAscii(chara_name)] = TTicket{std::string(peer_ip), tick};
}

bool TZoneTickets::Consume(std::string_view chara_name, std::string_view peer_ip, uint32_t tick) {
  auto it = FTickets.find(LowerAscii(chara_name));
  if (it == FTickets.end()) return false;
  const uint32_t age = Elapsed(it->second.issued, tick);
  const bool valid = it->second.ip == peer_ip && age <= kZoneTicketLifetime;
  if (valid || age > kZoneTicketLifetime) FTickets.erase(it);
  return valid;
}

TWorld::TWorld(const TWorldSettings& settings) : Settings(settings) {}

TWorld::~TWorld() {
  // Unload every map first: its blocks refer to characters, NPCs, portals and mobs, and the
  // dropped items lying in them (owned by the map) refer to item definitions.
  for (const auto& map : MapList) {
    map->Unload(true);
    map->CList.clear();
  }
  for (TChara* tc : CharaList) tc->Map = nullptr;
  CharaList.Clear();
}

}  // namespace vornhal
