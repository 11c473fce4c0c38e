// The Multi server's packet handler with arbitrary bodies from three clients (loopback,
// private and public addresses) on the sample world with two characters, one of them
// logged in on a fourth connection.
#include <memory>

#include "packet_records.h"

namespace {

using namespace vornhal;
using vornhal::test::RecordingConnection;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::PrepareSampleData();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TWorld& World = fuzz::LoadSampleWorld();
  TChara* alice = fuzz::NewChara(World, "alice", 30, 30);
  TChara* bob = fuzz::NewChara(World, "bob", 31, 30);
  (void)alice;

  std::shared_ptr<RecordingConnection> conns[4] = {
      std::make_shared<RecordingConnection>("127.0.0.1"),
      std::make_shared<RecordingConnection>("192.168.1.5"),
      std::make_shared<RecordingConnection>("203.0.113.9"),
      std::make_shared<RecordingConnection>("127.0.0.1")};
  TSession* sessions[4];
  for (int i = 0; i < 4; ++i) {
    conns[i]->Data = MultiServer->CreateSession();
    sessions[i] = conns[i]->Data.get();
  }
  // bob's earlier login, still open.
  sessions[3]->SetChara(bob);
  bob->Context.Reset(conns[3].get());
  bob->Login = TLoginState::kOnMulti;

  fuzz::ForEachRecord(data, size, [&](uint8_t selector, const std::vector<uint8_t>& body) {
    int k = selector % 3;
    fuzz::Deliver(*sessions[k], *conns[k], body);
  });

  for (auto& c : conns) c->Data.reset();
  fuzz::FreeWorld();
  return 0;
}
