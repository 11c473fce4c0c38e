// The Multi server: version check, server list, rules text, cached data, accounts and login.
#pragma once
#include <memory>

#include "data/zlib_data.h"
#include "net/server.h"

namespace vornhal {

class TMultiServer : public TServer {
 public:
  TMultiServer(std::string name, uint16_t port) : TServer(std::move(name), port) {}
  std::unique_ptr<TSession> CreateSession() override;
  void DoConnect(TConnection& context) override;     // base log line, then SGreetingPacket
  void DoDisconnect(TConnection& context) override;  // detach and save the character, then base
};

class TMultiSession : public TSession {
 public:
  using TSession::TSession;
  void ParsePacket(TConnection& context, uint8_t packet_id) override;
};

// The three server lists, built once at start-up after the addresses are known.
extern TZLibData ServerListGlobal;
extern TZLibData ServerListLocal;
extern TZLibData ServerListLoopback;
void BuildServerLists();

}  // namespace vornhal
