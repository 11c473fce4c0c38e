#include "net/session.h"

#include <cstring>

#include "net/packet.h"
#include "net/server.h"

namespace vornhal {

TSession::TSession(TServer* server)
    : FServer(server) {}

TSession::~TSession() { SetChara(nullptr); }

void TSession::SetChara(TChara* chara) {
  const int delta = int(chara != nullptr) - int(FChara != nullptr);
  FChara = chara;
  if (delta != 0 && FServer != nullptr) FServer->CountSessionWithChara(delta);
}

uint8_t TSession::LoadBody(const uint8_t* body, size_t size) {
  if (size > kRecvBufSize) size = kRecvBufSize;
  FRecvBuf.assign(body, body + size);
  FReader = TWireReader(FRecvBuf.data(), size);
  uint8_t id = FReader.U8();
  Decode(id, size);
  return id;
}

void TSession::Decode(uint8_t packet_id, size_t size) {
  if (ClientIdWithoutSeed(packet_id)) return;
  if (size <= 2) return;  // a body of id and seed only: nothing to unscramble
  Scramble(FRecvBuf.data() + 2, size - 2, FRecvBuf[1]);
  FReader.Skip(1);  // the seed
}

}  // namespace vornhal
