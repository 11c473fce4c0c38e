// The GM command line (the chat text after "@", as it arrives in code page 932) for a
// logged-in character on the sample world, with a second character nearby.
#include <memory>
#include <string>
#include <tuple>

#include "fuzz_support.h"
#include "gm/debug_command.h"
#include "platform/text.h"

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
  auto conn = std::make_shared<RecordingConnection>();
  auto other_conn = std::make_shared<RecordingConnection>();
  conn->Data = ZoneServer->CreateSession();
  other_conn->Data = ZoneServer->CreateSession();
  TSession* session = conn->Data.get();
  TSession* other_session = other_conn->Data.get();

  TChara* tc = fuzz::NewChara(World, "gm", 30, 30);
  TChara* other = fuzz::NewChara(World, "other", 32, 30);
  for (auto [c, co, s] : {std::tuple{tc, conn.get(), session}, std::tuple{other, other_conn.get(), other_session}}) {
    c->Map = World.MapList.FindMap(10055);
    c->Context.Reset(co);
    c->Login = TLoginState::kInWorld;
    s->SetChara(c);
    if (!c->Map->AddChara(c)) std::abort();
  }

  // Lines are read one per input line, so one input can run several commands in a row.
  std::string text = FromCP932(std::string(reinterpret_cast<const char*>(data), size));
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    try {
      DoDebugCommand(*session, *conn, tc, text.substr(start, end - start));
    } catch (const std::exception&) {
    }
    start = end + 1;
  }

  conn->Data.reset();
  other_conn->Data.reset();
  tc->Context.Reset();
  other->Context.Reset();
  fuzz::FreeWorld();
  return 0;
}
