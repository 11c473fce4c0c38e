// A connection context: one accepted TCP connection as the rest of the program sees it.
// The network layer implements it over sockets; tests implement it to record what is sent.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vornhal {

class TSession;
class TConnection;

// A reference to a connection that cannot dangle: the connection clears every reference to it
// when it ends (under the world lock, with its session) and when it is destroyed. It owns
// nothing. Reading it is a plain pointer load, so a send to a crowd pays nothing per receiver
// for it. Set, cleared and read under the world lock (or where no other thread can reach it).
class TConnectionRef {
 public:
  TConnectionRef() = default;
  ~TConnectionRef() { Reset(); }
  TConnectionRef(const TConnectionRef&) = delete;
  TConnectionRef& operator=(const TConnectionRef&) = delete;

  // The connection, or null once it has ended.
  TConnection* Get() const { return FConn; }
  explicit operator bool() const { return FConn != nullptr; }
  // Names conn from now on (null: nothing).
  void Reset(TConnection* conn = nullptr);

 private:
  friend class TConnection;
  void Unlink();

  TConnection* FConn = nullptr;
  // The other references to the same connection.
  TConnectionRef* FPrev = nullptr;
  TConnectionRef* FNext = nullptr;
};

class TConnection {
 public:
  TConnection();
  // Frees the session if it still has one and clears the references left.
  virtual ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  // The peer's IPv4 address as dotted text.
  virtual std::string PeerIP() const = 0;
  // False once the connection is closed or closing.
  virtual bool Connected() const = 0;
  // Queues bytes for sending; never blocks. Called with the world lock held.
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // Runs fn later on the connection's own worker, in order with its reads and events (for the
  // completion of work done elsewhere: a password hash, a file write). fn takes the world lock
  // itself when it needs it and checks Connected(): it also runs after the connection has
  // closed, as long as the connection object lives. Callable from any thread without the world
  // lock. This default (for connections without a worker) runs fn at once.
  virtual void Post(std::function<void()> fn) { fn(); }
  // Asks the connection to close; its disconnect handling runs later on its own worker.
  virtual void Close() = 0;

  // The connection's session, from creation to disconnect. The server frees it under the world
  // lock once the disconnect handling has run (a character's logout and save come first).
  std::unique_ptr<TSession> Data;

  // Clears every TConnectionRef naming this connection. The server calls it under the world
  // lock when the connection ends, with the session's end.
  void DropRefs();

 private:
  friend class TConnectionRef;
  TConnectionRef* FRefs = nullptr;
};

using TContextPtr = std::shared_ptr<TConnection>;

// While one of these lives on a thread, the writes it makes to connections other than the one
// being handled may wait for a longer coalescing window (up to a few tenths of a second under
// a heavy load) than other deliveries: for messages to everyone, which no player times,
// unlike a neighbour's step. Each connection still receives its bytes in the order written.
class TUnhurriedWrites {
 public:
  TUnhurriedWrites();
  ~TUnhurriedWrites();
  TUnhurriedWrites(const TUnhurriedWrites&) = delete;
  TUnhurriedWrites& operator=(const TUnhurriedWrites&) = delete;

 private:
  bool outer_;
};

}  // namespace vornhal
