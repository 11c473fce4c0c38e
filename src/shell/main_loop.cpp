#include "shell/main_loop.h"

#include <optional>

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
  bool first = true;
  uint32_t due = 0;  // end of the previous tick's period
  uint32_t max_late = 0;
  std::optional<uint32_t> report_lock;  // lock hold of a save still to be reported
  do {
    uint32_t t0 = hooks.clock();
    uint32_t late = first ? 0 : (SaveDue(t0, due) ? t0 - due : 0);
    first = false;
    due = t0 + TickPeriod;
    if (late > max_late) max_late = late;
    if (report_lock && hooks.saved) {
      hooks.saved(TSaveReport{*report_lock, late, max_late});
      max_late = 0;
    }
    report_lock.reset();
    {
      TWorldGuard lock;
      uint32_t locked = hooks.clock();
      hooks.process(t0);
      if (SaveDue(t0, next_save)) {
        hooks.save();
        uint32_t now = hooks.clock();
        next_save = now + SaveInterval;
        report_lock = now - locked;
      }
    }
    uint32_t t1 = hooks.clock();
    if (uint32_t ms = TickSleep(t0, t1); ms > 0) hooks.sleep(ms);
  } while (!hooks.stop());
}

}  // namespace vornhal
