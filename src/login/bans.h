// Bans by address and by character name, kept in "bans.txt" beside the INI file (format in
// platform/ban_list.h): the operator's commands and the world's side of a change.
#pragma once
#include <string>

#include "platform/ban_list.h"

namespace vornhal {

class TWorld;

// Adds a line to bans.txt (minutes 0: no end) and applies it at once: a banned character in
// the world is disconnected (and saved), connections from a banned address are closed. Empty
// on success, otherwise the error text (bad address/CIDR, bad name, file not writable).
// Call WITHOUT the world lock: it writes the file first and then takes the lock itself.
std::string AddBan(TWorld& world, TBanKind kind, const std::string& target, int minutes,
                   const std::string& reason);

// Removes the bans of that kind and target from bans.txt and applies it at once; false when
// there was none (or the file could not be written, which is logged). Call WITHOUT the world
// lock.
bool RemoveBan(TWorld& world, TBanKind kind, const std::string& target);

// Disconnects every character in the world (or logged in on the Multi server) whose name is
// banned now, and closes every connection from a banned address. World lock held. The Multi
// server's tick runs it after each change of the list in force.
void ApplyBansToWorld(TWorld& world);

}  // namespace vornhal
