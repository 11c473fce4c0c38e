// A listening TCP server with a name and a port. Every accepted connection gets one session
// of the class the server creates; its bytes are cut into frames, unscrambled and handed to
// the session's ParsePacket under the world lock, strictly in arrival order.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/connection.h"
#include "net/session.h"

namespace vornhal {

class TServer {
 public:
  // Stores name and port; Open() starts listening.
  TServer(std::string name, uint16_t port);
  virtual ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // Starts listening; throws std::runtime_error naming the port when it cannot be opened.
  void Open();
  // Stops listening, closes every connection and returns once each connection's disconnect
  // handling has finished. Called by the owner before destruction (the destructor calls it
  // too, but by then the derived handlers no longer run). Must be called without the world
  // lock: the disconnect handlers it waits for take it.
  void Close();

  const std::string& Name() const { return FName; }
  uint16_t Port() const { return FPort; }
  // Open connections, including ones not logged in.
  int UserCount() const;
  // Sessions of this server that hold a character (on the Zone server: characters in the
  // world). Kept by TSession::SetChara; any thread.
  int SessionsWithChara() const { return FSessionsWithChara.load(std::memory_order_relaxed); }
  void CountSessionWithChara(int delta) { FSessionsWithChara.fetch_add(delta, std::memory_order_relaxed); }

  // Walks the connection list in list order while holding the list lock. Callers hold the
  // world lock (lock order: world lock, then list lock). A connection that was just accepted
  // may not have its session yet (Data null); one whose disconnect handling has freed its
  // session is no longer listed.
  void ForEachConnection(const std::function<void(TConnection&)>& fn);

  // Virtual operations in slot order.
  virtual std::unique_ptr<TSession> CreateSession() = 0;  // the session class per connection
  // The three handlers are called without the world lock and take it themselves.
  virtual void DoConnect(TConnection& context);
  virtual void DoDisconnect(TConnection& context);
  virtual void DoException(TConnection& context, const std::string& message);
  // Per-tick hook, called by the main tick with the world lock held.
  virtual void Process(uint32_t tick);

  struct Impl;

 private:
  std::string FName;
  uint16_t FPort;
  std::shared_ptr<Impl> FImpl;
  std::atomic<int> FSessionsWithChara{0};
};

// The two listening servers, set by start-up (null before and after).
extern TServer* MultiServer;
extern TServer* ZoneServer;

}  // namespace vornhal
