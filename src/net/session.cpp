#include "net/session.h"

#include <cstring>

#include "net/packet.h"
#include "platform/text.h"

namespace vornhal {

TSession::TSession(TServer* server)
    : FServer(server) {}

TSession::~TSession() = default;

uint8_t TSession::LoadBody(const uint8_t* body, size_t size) {
  if (size > kRecvBufSize) size = kRecvBufSize;
  FRecvBuf.assign(body, body + size);
  FRecvLength = size;
  FIndexRecvBuf = 0;
  uint8_t id = ReadByte();
  Decode(id);
  return id;
}

void TSession::Decode(uint8_t packet_id) {
  if (ClientIdWithoutSeed(packet_id)) return;
  if (FRecvLength <= 2) return;  // a body of id and seed only: nothing to unscramble
  Scramble(FRecvBuf.data() + 2, FRecvLength - 2, FRecvBuf[1]);
  FIndexRecvBuf = 2;
}

void TSession::Need(size_t count) const {
  if (FIndexRecvBuf + count > FRecvLength) {
    throw ReadPastEndError("read of " + std::to_string(count) + " bytes at position " +
                           std::to_string(FIndexRecvBuf) + " beyond a body of " +
                           std::to_string(FRecvLength) + " bytes");
  }
}

uint8_t TSession::ReadByte() {
  Need(1);
  return FRecvBuf[FIndexRecvBuf++];
}

uint16_t TSession::ReadWord() {
  Need(2);
  uint16_t v = static_cast<uint16_t>((FRecvBuf[FIndexRecvBuf] << 8) | FRecvBuf[FIndexRecvBuf + 1]);
  FIndexRecvBuf += 2;
  return v;
}

uint32_t TSession::ReadLong() {
  Need(4);
  const uint8_t* p = FRecvBuf.data() + FIndexRecvBuf;
  uint32_t v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  FIndexRecvBuf += 4;
  return v;
}

std::string TSession::ReadShortStr() {
  uint8_t n = ReadByte();
  Need(n);
  std::string raw(reinterpret_cast<const char*>(FRecvBuf.data() + FIndexRecvBuf), n);
  FIndexRecvBuf += n;
  return FromCP932(raw);
}

TAsColor TSession::ReadColor() {
  Need(3);
  TAsColor c{FRecvBuf[FIndexRecvBuf], FRecvBuf[FIndexRecvBuf + 1], FRecvBuf[FIndexRecvBuf + 2]};
  FIndexRecvBuf += 3;
  return c;
}

void TSession::ReadBuffer(void* buf, size_t count) {
  Need(count);
  if (count > 0) std::memcpy(buf, FRecvBuf.data() + FIndexRecvBuf, count);
  FIndexRecvBuf += count;
}

}  // namespace vornhal
