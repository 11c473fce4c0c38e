// Received bytes as a hostile client may send them: cut into reads of a size the input picks,
// framed by TFrameReader, and each body loaded, unscrambled and read by a session.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "net/frame_reader.h"
#include "net/session.h"

namespace {

using vornhal::TSession;

class ProbeSession : public TSession {
 public:
  ProbeSession() : TSession(nullptr) {}
  void ParsePacket(vornhal::TConnection&, uint8_t) override {}

  // Reads the body with every reader in turn until it runs out, as a handler might.
  void ReadAll() {
    for (int step = 0;; ++step) {
      try {
        switch (step % 6) {
          case 0: ReadShortStr(); break;
          case 1: ReadByte(); break;
          case 2: ReadWord(); break;
          case 3: ReadLong(); break;
          case 4: ReadColor(); break;
          case 5: {
            uint8_t buf[7];
            ReadBuffer(buf, sizeof buf);
            break;
          }
        }
      } catch (const vornhal::ReadPastEndError&) {
        if (step % 6 == 0 || ReadPosition() >= RecvLength()) return;
      }
      // A reader never moves beyond the body.
      if (ReadPosition() > RecvLength()) std::abort();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] == 0 ? size : data[0];
  ++data;
  --size;
  ProbeSession session;
  size_t bodies = 0;
  vornhal::TFrameReader reader(
      [](size_t) { return true; },
      [&](const uint8_t* body, size_t length) {
        if (length > 65535) std::abort();
        ++bodies;
        try {
          session.LoadBody(body, length);
        } catch (const vornhal::ReadPastEndError&) {
          if (length != 0) std::abort();  // only an empty body has no id to read
          return true;
        }
        session.ReadAll();
        return true;
      });
  for (size_t i = 0; i < size; i += chunk) {
    size_t n = size - i < chunk ? size - i : chunk;
    reader.Feed(data + i, n);
  }
  (void)bodies;
  return 0;
}
