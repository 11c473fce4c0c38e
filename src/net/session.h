// A session: the per-connection state of a listening server, its receive buffer, the readers
// a packet handler takes a body apart with, and the handler itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/connection.h"
#include "net/types.h"

namespace vornhal {

class TServer;
class TChara;

// Raised when a handler reads beyond the received body.
class ReadPastEndError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSession {
 public:
  static constexpr size_t kRecvBufSize = 65536;

  explicit TSession(TServer* server);
  virtual ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // The packet handler: called with the world lock held, once per received body, after the
  // id has been read and the payload unscrambled. The read position stands on the payload.
  virtual void ParsePacket(TConnection& context, uint8_t packet_id) = 0;

  // Whether this connection's purpose is to enter the world (then it must do so in time), and
  // whether it is in the world now (then silence never ends it). World lock held.
  virtual bool EntersWorld() const { return false; }
  virtual bool InWorld() const { return false; }

  TServer* Server() const { return FServer; }
  TChara* Chara() const { return FChara; }
  void SetChara(TChara* chara) { FChara = chara; }

  // Copies a received body into the receive buffer and prepares it for the handler: reads the
  // id, unscrambles the payload and positions the reader on it. Returns the packet id.
  uint8_t LoadBody(const uint8_t* body, size_t size);

  // Readers; each throws ReadPastEndError rather than read beyond the body.
  uint8_t ReadByte();
  uint16_t ReadWord();
  uint32_t ReadLong();
  std::string ReadShortStr();  // code page 932 on the wire, UTF-8 returned
  TAsColor ReadColor();
  void ReadBuffer(void* buf, size_t count);

  size_t RecvLength() const { return FRecvLength; }
  size_t ReadPosition() const { return FIndexRecvBuf; }

 private:
  void Decode(uint8_t packet_id);
  void Need(size_t count) const;

  TServer* FServer;
  // The body being read. It grows to the biggest body the session has had (client packets are
  // small), so a session costs a few hundred bytes, not the biggest frame there can be.
  std::vector<uint8_t> FRecvBuf;
  size_t FRecvLength = 0;
  size_t FIndexRecvBuf = 0;
  TChara* FChara = nullptr;
};

}  // namespace vornhal
