#include "gm/chat_limit.h"

#include "platform/settings.h"
#include "world/chara.h"
#include "world/packets.h"

namespace vornhal {

namespace {
constexpr uint8_t kSystemMessage = 3;
constexpr const char* kTooManyLines = "発言が多すぎます。しばらくお待ちください";
}  // namespace

bool TChatLimit::Take(const std::string& name, int lines, Clock::time_point now, bool& notify) {
  notify = false;
  if (lines <= 0) return true;
  // Characters that have been quiet for a window have nothing left to count: forget them now
  // and then, so the table holds only who spoke lately.
  if (now - last_sweep_ >= std::chrono::minutes(1)) {
    last_sweep_ = now;
    for (auto it = states_.begin(); it != states_.end();) {
      bool quiet = it->second.sent.empty() || now - it->second.sent.back() >= kWindow;
      bool untold = !it->second.was_told || now - it->second.told >= kWindow;
      it = quiet && untold ? states_.erase(it) : std::next(it);
    }
  }
  State& state = states_[name];
  while (!state.sent.empty() && now - state.sent.front() >= kWindow) state.sent.pop_front();
  if (state.sent.size() < static_cast<size_t>(lines)) {
    state.sent.push_back(now);
    return true;
  }
  if (!state.was_told || now - state.told >= kWindow) {
    state.was_told = true;
    state.told = now;
    notify = true;
  }
  return false;
}

bool TakeChatLine(TChara& tc, TConnection* sender) {
  static TChatLimit limit;
  bool notify = false;
  if (limit.Take(tc.FName, Security.ChatLinesPer5s, TChatLimit::Clock::now(), notify)) return true;
  if (notify && sender != nullptr) SendSystemMessage(sender, kSystemMessage, kTooManyLines, false);
  return false;
}

}  // namespace vornhal
