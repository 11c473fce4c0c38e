#include "platform/address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <sstream>

#include "platform/files.h"

namespace vornhal {

uint32_t IPToAddr(const std::string& text) {
  // inet_addr is the classic parser; it yields INADDR_NONE (all bits set) for bad text.
  return static_cast<uint32_t>(::inet_addr(text.c_str()));
}

bool IsDottedQuad(const std::string& text) {
  in_addr addr{};
  return ::inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

std::set<std::string> DefaultRouteInterfaces(const std::string& route_table) {
  // Columns: Iface Destination Gateway Flags ... with addresses in hexadecimal.
  std::set<std::string> out;
  std::istringstream in(route_table);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway;
    if (!(fields >> iface >> destination >> gateway)) continue;
    if (destination == "00000000" && gateway != "00000000") out.insert(iface);
  }
  return out;
}

std::string ChooseLocalIP(const std::vector<std::pair<std::string, std::string>>& adapters,
                          const std::set<std::string>& gateway_interfaces) {
  for (const auto& [name, address] : adapters) {
    if (gateway_interfaces.count(name) != 0) return address;
  }
  return "";
}

std::string FindLocalIP() {
  auto routes = ReadFile("/proc/net/route");
  if (!routes) return "";
  std::set<std::string> gateways = DefaultRouteInterfaces(*routes);
  if (gateways.empty()) return "";
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return "";
  // One entry per adapter: its first IPv4 address, in the system's order.
  std::vector<std::pair<std::string, std::string>> adapters;
  std::set<std::string> seen;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!seen.insert(it->ifa_name).second) continue;
    char text[INET_ADDRSTRLEN] = {0};
    auto* sin = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
    if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) continue;
    adapters.emplace_back(it->ifa_name, text);
  }
  ::freeifaddrs(list);
  return ChooseLocalIP(adapters, gateways);
}

}  // namespace vornhal
