#include "net/connection.h"

#include "net/session.h"

namespace vornhal {

void TConnectionRef::Reset(TConnection* conn) {
  if (conn == FConn) return;
  Unlink();
  FConn = conn;
  if (conn == nullptr) return;
  FNext = conn->FRefs;
  if (FNext != nullptr) FNext->FPrev = this;
  conn->FRefs = this;
}

void TConnectionRef::Unlink() {
  if (FConn == nullptr) return;
  if (FPrev != nullptr) {
    FPrev->FNext = FNext;
  } else {
    FConn->FRefs = FNext;
  }
  if (FNext != nullptr) FNext->FPrev = FPrev;
  FConn = nullptr;
  FPrev = nullptr;
  FNext = nullptr;
}

TConnection::TConnection() = default;

TConnection::~TConnection() { DropRefs(); }

void TConnection::DropRefs() {
  while (FRefs != nullptr) {
    TConnectionRef* ref = FRefs;
    FRefs = ref->FNext;
    ref->FConn = nullptr;
    ref->FPrev = nullptr;
    ref->FNext = nullptr;
  }
}

}  // namespace vornhal
