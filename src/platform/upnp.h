// Router port mappings through UPnP: the Multi, Zone and HTTP ports forwarded to LocalIP.
// The outcome is only logged; it never stops start-up or shutdown.
#pragma once

namespace vornhal {

void AddPortMappings();
void RemovePortMappings();

}  // namespace vornhal
