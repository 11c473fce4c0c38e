#include "net/session.h"

#include <cstring>

#include "net/packet.h"

namespace vornhal {

TSession::TSession(TServer* server)
    : FServer(server), FRecvBuf(new uint8_t[kRecvBufSize]) {}

TSession::~TSession() = default;

uint8_t TSession::LoadBody(const uint8_t* body, size_t size) {
  if (size > kRecvBufSize) size = kRecvBufSize;
  if (size > 0) std::memcpy(FRecvBuf.get(), body, size);
  FReader = TWireReader(FRecvBuf.get(), size);
  uint8_t id = FReader.U8();
  Decode(id, size);
  return id;
}

void TSession::Decode(uint8_t packet_id, size_t size) {
  if (ClientIdWithoutSeed(packet_id)) return;
  if (size <= 2) return;  // a body of id and seed only: nothing to unscramble
  Scramble(FRecvBuf.get() + 2, size - 2, FRecvBuf[1]);
  FReader.Skip(1);  // the seed
}

}  // namespace vornhal
