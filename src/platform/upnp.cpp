#include "platform/upnp.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/settings.h"

namespace vornhal {

namespace {

constexpr int kDiscoverDelayMs = 2000;

// The router's port-mapping service; empty when no UPnP gateway answered.
class Gateway {
 public:
  Gateway() {
    int error = 0;
    UPNPDev* devices = upnpDiscover(kDiscoverDelayMs, nullptr, nullptr, 0, 0, 2, &error);
    if (devices == nullptr) return;
    char lan[64] = {0};
    int r = UPNP_GetValidIGD(devices, &urls_, &data_, lan, sizeof lan);
    freeUPNPDevlist(devices);
    // 1: connected gateway, 2: gateway not connected upstream; 3: some other UPnP device.
    if (r == 1 || r == 2) {
      valid_ = true;
    } else if (r != 0) {
      FreeUPNPUrls(&urls_);
    }
  }
  ~Gateway() {
    if (valid_) FreeUPNPUrls(&urls_);
  }
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  bool Valid() const { return valid_; }

  bool Add(uint16_t port, const char* description) {
    std::string p = std::to_string(port);
    return UPNP_AddPortMapping(urls_.controlURL, data_.first.servicetype, p.c_str(), p.c_str(),
                               LocalIP.c_str(), description, "TCP", nullptr, "0") == UPNPCOMMAND_SUCCESS;
  }

  bool Remove(uint16_t port) {
    std::string p = std::to_string(port);
    return UPNP_DeletePortMapping(urls_.controlURL, data_.first.servicetype, p.c_str(), "TCP",
                                  nullptr) == UPNPCOMMAND_SUCCESS;
  }

 private:
  UPNPUrls urls_{};
  IGDdatas data_{};
  bool valid_ = false;
};

}  // namespace

void AddPortMappings() {
  if (LocalIP.empty()) return;
  Gateway gateway;
  if (!gateway.Valid()) {
    Log("UPnPの設定に失敗 (1)");
    return;
  }
  // Mappings already added stay when a later one fails.
  if (gateway.Add(MultiPort, "Vornhal Multi Server") &&
      gateway.Add(ZonePort, "Vornhal Zone Server") &&
      gateway.Add(HttpPort, "Vornhal Http Server")) {
    Log("UPnPの設定に成功");
  } else {
    Log("UPnPの設定に失敗 (2)");
  }
}

void RemovePortMappings() {
  if (LocalIP.empty()) return;
  Gateway gateway;
  if (!gateway.Valid()) {
    Log("UPnPの設定解除に失敗 (1)");
    return;
  }
  if (gateway.Remove(MultiPort) && gateway.Remove(ZonePort) && gateway.Remove(HttpPort)) {
    Log("UPnPの設定解除に成功");
  } else {
    Log("UPnPの設定解除に失敗 (2)");
  }
}

}  // namespace vornhal
