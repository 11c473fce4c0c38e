// The chat limit per character, through the real server: chat lines, whispers, @shout and
// @say share one count per five seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/builders.h"
#include "client/parsers.h"
#include "gm_player.h"

namespace vornhal::e2e {
namespace {

using Clock = std::chrono::steady_clock;
const std::string kTooMany = "発言が多すぎます。しばらくお待ちください";

class LimitsChat : public SampleWorld {
 protected:
  std::string ExtraIni() const override { return "[Security]\nChatLinesPer5s=5\n"; }
};

int CountChats(const std::vector<Frame>& frames) { return static_cast<int>(OfId(frames, sid::kChat).size()); }

int CountText(const std::vector<std::string>& texts, const std::string& text) {
  int n = 0;
  for (const auto& t : texts) n += t == text;
  return n;
}

TEST_F(LimitsChat, AFloodReachesTheAreaAtTheConfiguredRate) {
  Player& talker = Enter(NewName("talker"));
  Player& listener = Enter(NewName("listener"));
  talker.Settle();
  listener.Settle();
  auto start = Clock::now();
  for (int i = 0; i < 30; ++i) talker.Chat("line " + std::to_string(i));
  // Shouts and whispers are lines of the same character: over the limit too.
  talker.Send(client::CChatPacket(0, "@shout loud"));
  talker.Send(client::CChatPacket(0, "@say 1 loud"));
  talker.Send(client::CWhisperPacket(listener.name, "psst"));
  auto own = talker.Settle();
  auto heard = listener.Settle();
  ASSERT_LT(Clock::now() - start, Millis(4500)) << "the flood must fit in one window";
  EXPECT_EQ(CountChats(heard), 5);
  EXPECT_EQ(CountChats(own), 5);  // the talker sees its own lines, also only five
  EXPECT_EQ(CountText(Messages(heard), talker.name + "> psst"), 0);
  // The talker is told once, not once per refused line.
  EXPECT_EQ(CountText(Messages(own), kTooMany), 1);
  EXPECT_EQ(CountText(Messages(heard), kTooMany), 0);

  // Once the window has passed, the character speaks again.
  std::this_thread::sleep_until(start + Millis(5200));
  talker.Chat("back again");
  talker.Send(client::CWhisperPacket(listener.name, "again"));
  talker.Settle();
  auto later = listener.Settle();
  EXPECT_EQ(CountChats(later), 1);
  EXPECT_EQ(CountText(Messages(later), talker.name + "> again"), 1);
}

}  // namespace
}  // namespace vornhal::e2e
