// The Zone server: the game world's protocol.
#pragma once
#include <memory>

#include "net/server.h"

namespace vornhal {

class TZoneServer : public TServer {
 public:
  TZoneServer(std::string name, uint16_t port) : TServer(std::move(name), port) {}
  std::unique_ptr<TSession> CreateSession() override;
  void DoDisconnect(TConnection& context) override;  // logout handling, then base
  void Process(uint32_t tick) override;              // automatic revival
};

class TZoneSession : public TSession {
 public:
  using TSession::TSession;
  void ParsePacket(TConnection& context, uint8_t packet_id) override;
};

}  // namespace vornhal
