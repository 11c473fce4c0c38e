#include "net/connection.h"

#include "net/session.h"

namespace vornhal {

TConnection::TConnection() = default;

TConnection::~TConnection() = default;

}  // namespace vornhal
