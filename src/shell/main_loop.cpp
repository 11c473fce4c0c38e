#include "shell/main_loop.h"

#include "platform/world_lock.h"

namespace vornhal {

uint32_t TickSleep(uint32_t t0, uint32_t t1) {
  uint32_t spent = t1 - t0;
  return spent < TickPeriod ? TickPeriod - spent : 0;
}

bool SaveDue(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) > 0;
}

void RunMainLoop(const TMainLoopHooks& hooks) {
  uint32_t next_save = hooks.clock() + SaveInterval;
  do {
    uint32_t t0 = hooks.clock();
    {
      TWorldGuard lock;
      hooks.process(t0);
      if (SaveDue(t0, next_save)) {
        hooks.save();
        next_save = hooks.clock() + SaveInterval;
      }
    }
    uint32_t t1 = hooks.clock();
    if (uint32_t ms = TickSleep(t0, t1); ms > 0) hooks.sleep(ms);
  } while (!hooks.stop());
}

}  // namespace vornhal
