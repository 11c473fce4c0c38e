// The process priority classes of the configuration, mapped to nice values.
#pragma once

namespace vornhal {

// The nice value for a priority class 0..5; anything else counts as normal (0).
//   0 realtime     -> -20   (the strongest the scheduler offers without real-time policies)
//   1 high         -> -10
//   2 above normal ->  -5
//   3 normal       ->   0
//   4 below normal ->   5
//   5 idle         ->  19
// Raising the priority above normal needs the privilege to do so; without it the process
// stays where it is.
int NiceForPriority(int priority_class);

// Applies the class to this process; false when the system refused.
bool SetProcessPriority(int priority_class);

}  // namespace vornhal
