// The Zone server's packet handler with arbitrary bodies on the sample world: two sessions
// with logged-in characters and one that has not logged in (but holds zone tickets, so it may
// enter as a third character or take over the first).
#include <memory>
#include <string>

#include "packet_records.h"

namespace {

using namespace vornhal;
using vornhal::test::RecordingConnection;

std::vector<uint8_t> ZoneLoginBody(const std::string& name) {
  std::string cp = ToCP932(name);
  std::vector<uint8_t> payload{0, 0, static_cast<uint8_t>(cp.size())};
  payload.insert(payload.end(), cp.begin(), cp.end());
  return fuzz::ClientBody(IdByte(TZoneClientPacketId::kZoneLogin), payload.data(), payload.size(), 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrepareSampleData();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TWorld& World = fuzz::LoadSampleWorld();
  TChara* alice = fuzz::NewChara(World, "alice", 30, 30);
  TChara* bob = fuzz::NewChara(World, "bob", 31, 31);
  fuzz::NewChara(World, "carol", 25, 30);
  alice->Map = bob->Map = World.MapList.FindMap(10055);

  std::shared_ptr<RecordingConnection> conns[3] = {
      std::make_shared<RecordingConnection>("127.0.0.1"),
      std::make_shared<RecordingConnection>("127.0.0.1"),
      std::make_shared<RecordingConnection>("10.0.0.9")};
  TSession* sessions[3];
  for (int i = 0; i < 3; ++i) {
    conns[i]->Data = ZoneServer->CreateSession();
    sessions[i] = conns[i]->Data.get();
  }
  const uint32_t now = TickCount();
  World.ZoneTickets.Issue("alice", "127.0.0.1", now);
  World.ZoneTickets.Issue("bob", "127.0.0.1", now);
  fuzz::Deliver(*sessions[0], *conns[0], ZoneLoginBody("alice"));
  fuzz::Deliver(*sessions[1], *conns[1], ZoneLoginBody("bob"));
  if (!alice->InWorld() || !bob->InWorld()) std::abort();
  World.ZoneTickets.Issue("carol", "10.0.0.9", now);
  World.ZoneTickets.Issue("alice", "10.0.0.9", now);

  fuzz::ForEachRecord(data, size, [&](uint8_t selector, const std::vector<uint8_t>& body) {
    int k = selector % 3;
    fuzz::Deliver(*sessions[k], *conns[k], body);
  });

  for (auto& c : conns) c->Data.reset();
  fuzz::FreeWorld();
  return 0;
}
