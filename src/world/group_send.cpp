// The group sends of TPacket: the area around an action object, one block, and everyone
// logged in on a server. Each receiver gets the same bytes, encoded once.
#include "net/packet.h"
#include "net/server.h"
#include "net/session.h"
#include "world/chara.h"
#include "world/map.h"

namespace vornhal {

void TPacket::SendToBlock(const TActionObject* tao, bool ToSelf) {
  if (tao == nullptr || tao->Map == nullptr || !tao->Map->Loaded()) return;
  const TMap& map = *tao->Map;
  const int bx = tao->Point.X / 4, by = tao->Point.Y / 4;
  for (int c = bx - 2; c <= bx + 2; ++c) {
    for (int r = by - 2; r <= by + 2; ++r) {
      const TMapBlock* block = map.Block(c, r);
      if (block == nullptr) continue;
      for (const TChara* tc : block->CList) {
        if (!ToSelf && static_cast<const TActionObject*>(tc) == tao) continue;
        SendTo(tc->Conn());
      }
    }
  }
}

void TPacket::SendToOneBlock(const TMapBlock* block) {
  if (block == nullptr) return;
  for (const TChara* tc : block->CList) SendTo(tc->Conn());
}

void TPacket::SendToServer(TServer* server, const TChara* tc1) {
  if (server == nullptr) return;
  // Messages to everyone may wait a little longer than a neighbour's step.
  TUnhurriedWrites unhurried;
  // ForEachConnection holds the list lock for the walk and releases it on every exit.
  server->ForEachConnection([&](TConnection& context) {
    const TSession* session = context.Data.get();
    if (session == nullptr) return;
    const TChara* tc = session->Chara();
    if (tc == nullptr || !tc->LoggedIn() || tc == tc1) return;
    SendTo(tc->Conn());
  });
}

}  // namespace vornhal
