#include "platform/priority.h"

#include <sys/resource.h>

namespace vornhal {

int NiceForPriority(int priority_class) {
  switch (priority_class) {
    case 0: return -20;
    case 1: return -10;
    case 2: return -5;
    case 4: return 5;
    case 5: return 19;
    default: return 0;
  }
}

bool SetProcessPriority(int priority_class) {
  int nice = NiceForPriority(priority_class);
  if (getpriority(PRIO_PROCESS, 0) == nice) return true;
  return setpriority(PRIO_PROCESS, 0, nice) == 0;
}

}  // namespace vornhal
