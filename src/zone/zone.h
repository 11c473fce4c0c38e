// The Zone server: the game world's protocol.
#pragma once
#include <future>
#include <memory>
#include <string>

#include "net/server.h"

namespace vornhal {

class TChara;
class TWorld;

class TZoneServer : public TServer {
 public:
  // A Zone server for that world; the world outlives it.
  TZoneServer(TWorld& world, std::string name, uint16_t port)
      : TServer(std::move(name), port), World(world) {}
  std::unique_ptr<TSession> CreateSession() override;
  void DoDisconnect(TConnection& context) override;  // logout handling, then base
  void Process(uint32_t tick) override;              // revives the dead that are due

  TWorld& World;
};

// A dead character is revived once the clock has passed its DeadTime by this many ms.
inline constexpr uint32_t kReviveDelay = 30000;
// True when a logged-in dead character is due for revival at tick (modulo 2^32).
bool ReviveDue(const TChara& tc, uint32_t tick);

class TZoneSession : public TSession {
 public:
  TZoneSession(TServer* server, TWorld& world) : TSession(server), World(world) {}
  void ParsePacket(TConnection& context, uint8_t packet_id) override;
  bool EntersWorld() const override { return true; }
  bool InWorld() const override { return Chara() != nullptr; }

  // Takes the session's character out of the world: off its map, out of view, logged out,
  // revived if dead, and queues its save. Does nothing without a character. World lock held.
  // The result is the queued save's (empty once written, else the error text); the caller
  // waits for it without the world lock.
  std::shared_future<std::string> Logout(TConnection& context);

  TWorld& World;

 private:
  // The session's character; raises an error (a parse error for the session) before a zone
  // login, so such a handler never touches the world.
  TChara& RequireChara() const;
  std::string ServerName() const;

  // Entering, moving, talking.
  void ZoneLogin(TConnection& context);
  void Step(TConnection& context);
  void Turn();
  void PathMove();
  void Chat(TConnection& context);
  void Whisper(TConnection& context);

  // Items, slots and shop.
  void DropItem();
  void UseItem();
  void Unequip();
  void ItemShop(TConnection& context);
  void ChangeSlot();

  // Dialogs, boards and queries.
  void ObjectInfo(TConnection& context);
  void ScriptReply(TConnection& context);
  void BulletinBoard();
  void HPInfo(TConnection& context);
  void Attack();
  void Motion();
  void StatUp(TConnection& context);
};

}  // namespace vornhal
