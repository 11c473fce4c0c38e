// The machine's addresses: the LAN address of the first adapter with a default gateway, and
// the classic dotted-text address parser.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vornhal {

// Dotted IPv4 text to the 32-bit address whose bytes in memory are a, b, c, d (network byte
// order), with the classic parser's rules (shorter forms, octal and hex parts are accepted).
// Text it cannot parse gives 0xFFFFFFFF.
uint32_t IPToAddr(const std::string& text);

// True for plain dotted-quad IPv4 text ("a.b.c.d", each 0..255).
bool IsDottedQuad(const std::string& text);

// The interface names that carry a default route with a gateway, from the text of
// /proc/net/route.
std::set<std::string> DefaultRouteInterfaces(const std::string& route_table);

// From the adapters' IPv4 addresses in system order (interface name, dotted address): the
// first address of the first adapter that has a default gateway; empty when none has.
std::string ChooseLocalIP(const std::vector<std::pair<std::string, std::string>>& adapters,
                          const std::set<std::string>& gateway_interfaces);

// The LAN address of this machine; empty when no adapter has a default gateway.
std::string FindLocalIP();

}  // namespace vornhal
