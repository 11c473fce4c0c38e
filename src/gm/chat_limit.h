// How many chat lines (chat, whispers, shouts) one character may send: ChatLinesPer5s per five
// seconds. A line beyond it reaches no one; the sender is told, at most once per five seconds.
#pragma once
#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>

namespace vornhal {

class TConnection;
class TChara;

class TChatLimit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kWindow = std::chrono::seconds(5);

  // True when the character named may send one more line now (and counts it); false when the
  // line is over the limit. notify is set when the sender should be told now. 0 lines: no limit.
  bool Take(const std::string& name, int lines, Clock::time_point now, bool& notify);

 private:
  struct State {
    std::deque<Clock::time_point> sent;  // the lines of the last window, oldest first
    Clock::time_point told{};
    bool was_told = false;
  };
  std::unordered_map<std::string, State> states_;
  Clock::time_point last_sweep_{};
};

// The process-wide limit with the [Security] setting: true when tc may send one more chat line;
// otherwise sends the sender the notice (at most once per five seconds) and returns false.
// World lock held.
bool TakeChatLine(TChara& tc, TConnection* sender);

}  // namespace vornhal
