// /metrics read by a strict text-format parser and checked against what the test did.
#include <gtest/gtest.h>

#include "e2e/admin_support.h"
#include "e2e/prometheus_text.h"

namespace vornhal::e2e {
namespace {

class AdminMetrics : public AdminWorld {
 protected:
  PromText Scrape() {
    HttpAnswer a = Get("/metrics");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.content_type.find("text/plain"), std::string::npos) << a.content_type;
    return PromText(a.body);
  }
};

TEST(PromTextParser, RejectsWhatIsNotTheFormat) {
  const char* bad[] = {
      "x 1\n",                                              // no TYPE
      "# TYPE x gauge\nx 1",                                // no final line end
      "# TYPE x gauge\nx{a=\"1\"} 1\nx{a=\"1\"} 2\n",       // repeated series
      "# TYPE x gauge\nx{a=1} 1\n",                         // unquoted label
      "# TYPE x gauge\nx one\n",                            // not a number
      "# TYPE x counter\nx -1\n",                           // negative counter
      "# TYPE x gauge\n# TYPE x gauge\nx 1\n",              // TYPE twice
      "# TYPE h histogram\nh_bucket{le=\"1\"} 2\nh_bucket{le=\"+Inf\"} 1\nh_sum 1\nh_count 1\n",
      "# TYPE h histogram\nh_bucket{le=\"1\"} 1\nh_sum 1\nh_count 1\n",  // no +Inf
      "# TYPE h histogram\nh_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 1\n",
  };
  for (const char* text : bad) EXPECT_ANY_THROW(PromText{text}) << text;
  PromText ok("# HELP x a \\\\ help\n# TYPE x gauge\nx{a=\"q\\\"\\n\"} 1.5e3\n");
  EXPECT_EQ(ok.Value("x", {{"a", "q\"\n"}}), 1500);
}

TEST_F(AdminMetrics, CountersFollowWhatHappened) {
  PromText before = Scrape();
  for (const char* family :
       {"vornhal_players_online", "vornhal_characters", "vornhal_connections", "vornhal_packets_received_total",
        "vornhal_bytes_sent_total", "vornhal_tick_duration_seconds", "vornhal_save_duration_seconds",
        "vornhal_save_lock_seconds", "vornhal_unsent_bytes", "vornhal_logins_total", "vornhal_gm_commands_total"}) {
    EXPECT_TRUE(before.Has(family)) << family;
  }
  EXPECT_EQ(before.Family("vornhal_tick_duration_seconds").type, "histogram");
  EXPECT_EQ(before.Family("vornhal_packets_received_total").type, "counter");
  EXPECT_EQ(before.Family("vornhal_unsent_bytes").type, "gauge");
  EXPECT_EQ(before.Value("vornhal_players_online"), 0);
  EXPECT_EQ(before.Value("vornhal_packets_received_total", {{"server", "Multi"}}), 0);
  EXPECT_EQ(before.Value("vornhal_gm_commands_total"), 0);
  EXPECT_EQ(before.Value("vornhal_save_duration_seconds_count"), 0);

  // Two players: each sends version, account creation and login on the Multi server, then the
  // zone login; alice then runs three GM commands and one unknown one (a chat line and a
  // signal request each).
  Player& alice = Enter("alice");
  Enter("bob");
  alice.Command("@count");
  alice.Command("@where");
  alice.Command("@count");
  alice.Command("@nosuchcommand");
  // A wrong password on the Multi server.
  {
    client::Connection multi;
    multi.Connect(server->multi_port);
    ASSERT_TRUE(multi.WaitFor(sid::kGreeting));
    multi.Send(client::CVersionPacket(kClientVersion));
    auto version = multi.WaitFor(sid::kVersionResult);
    ASSERT_TRUE(version);
    std::string key = client::ParseVersionResult(*version).key;
    if (!key.empty()) multi.SetKey(key);
    multi.Send(client::CLoginPacket("alice", "not-her-password", false));
    ASSERT_TRUE(multi.WaitFor(sid::kResult));
  }
  ASSERT_EQ(Post("/api/save", "").status, 200);

  PromText after = Scrape();
  EXPECT_EQ(after.Value("vornhal_players_online"), 2);
  EXPECT_EQ(after.Value("vornhal_characters"), 2);
  EXPECT_EQ(after.Value("vornhal_connections", {{"server", "Zone"}}), 2);
  EXPECT_EQ(after.Value("vornhal_logins_total", {{"result", "ok"}}), 2);
  EXPECT_EQ(after.Value("vornhal_logins_total", {{"result", "wrong_password"}}), 1);
  EXPECT_EQ(after.Value("vornhal_packets_received_total", {{"server", "Multi"}}), 2 * 3 + 2);
  EXPECT_EQ(after.Value("vornhal_packets_received_total", {{"server", "Zone"}}), 2 + 4 * 2);
  EXPECT_EQ(after.Value("vornhal_gm_commands_total"), 3);
  EXPECT_GT(after.Value("vornhal_bytes_sent_total", {{"server", "Multi"}}), 0);
  EXPECT_GT(after.Value("vornhal_bytes_sent_total", {{"server", "Zone"}}),
            before.Value("vornhal_bytes_sent_total", {{"server", "Zone"}}));
  EXPECT_GE(after.Value("vornhal_unsent_bytes"), 0);
  EXPECT_EQ(after.Value("vornhal_save_duration_seconds_count"), 1);
  EXPECT_EQ(after.Value("vornhal_save_lock_seconds_count"), 1);
  // The main loop ticks on its own schedule (a loaded machine may hold it back): wait for one.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  double ticks = after.Value("vornhal_tick_duration_seconds_count");
  while (ticks <= before.Value("vornhal_tick_duration_seconds_count") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ticks = Scrape().Value("vornhal_tick_duration_seconds_count");
  }
  EXPECT_GT(ticks, before.Value("vornhal_tick_duration_seconds_count"));

  // Every byte queued is written or dropped with its connection: nothing stays counted.
  players.clear();
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    PromText now = Scrape();
    bool settled = now.Value("vornhal_unsent_bytes") == 0 && now.Value("vornhal_players_online") == 0;
    if (settled || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  PromText idle = Scrape();
  EXPECT_EQ(idle.Value("vornhal_unsent_bytes"), 0);
  EXPECT_EQ(idle.Value("vornhal_players_online"), 0);
}

}  // namespace
}  // namespace vornhal::e2e
