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
  fuzz::LoadSampleWorld();
  auto conn = std::make_shared<RecordingConnection>();
  auto other_conn = std::make_shared<RecordingConnection>();
  std::unique_ptr<TSession> session = ZoneServer->CreateSession();
  std::unique_ptr<TSession> other_session = ZoneServer->CreateSession();
  conn->Data = session.get();
  other_conn->Data = other_session.get();

  TChara* tc = fuzz::NewChara("gm", 30, 30);
  TChara* other = fuzz::NewChara("other", 32, 30);
  for (auto [c, co, s] : {std::tuple{tc, conn, session.get()}, std::tuple{other, other_conn, other_session.get()}}) {
    c->Map = MapList->FindMap(10055);
    c->Context = co;
    c->Login = true;
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

  conn->Data = other_conn->Data = nullptr;
  tc->Context.reset();
  other->Context.reset();
  fuzz::FreeWorld();
  return 0;
}
