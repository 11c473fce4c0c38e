// The operator's HTTP API through the real server: the token, the views of the world and the
// actions, on the sample world with players who entered it as game clients do.
#include <gtest/gtest.h>

#include <regex>

#include "client/client.h"
#include "e2e/admin_support.h"

namespace vornhal::e2e {
namespace {

using Strings = std::vector<std::string>;

class AdminApi : public AdminWorld {};

// Cell (x, y) of a map's walkable bitmap: row by row, the first cell in the high bit.
bool WalkableBit(const std::string& base64, int width, int x, int y) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : base64) {
    if (c == '=') break;
    acc = (acc << 6) | static_cast<uint32_t>(kAlphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  size_t i = static_cast<size_t>(y) * width + x;
  return (bytes.at(i / 8) >> (7 - i % 8)) & 1;
}

TEST_F(AdminApi, TheTokenIsGeneratedWrittenBackAndRequired) {
  const std::string token = Token();
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{32,}"))) << token;
  EXPECT_TRUE(server->WaitForLog(server->IniPath(), 1000)) << server->Log();
  EXPECT_EQ(server->Log().find(token), std::string::npos) << "the token itself is not logged";

  const std::string none;
  for (const std::string& auth : {none, std::string("Bearer wrong"), std::string("Bearer ") + token + "x",
                                  std::string("Basic ") + token, std::string("Bearer")}) {
    HttpAnswer a = GetWith("/api/status", auth);
    EXPECT_EQ(a.status, 401) << auth;
    EXPECT_TRUE(a.json().contains("error")) << a.body;
    EXPECT_EQ(GetWith("/metrics", auth).status, 401) << auth;
    EXPECT_EQ(PostWith("/api/kick", R"({"name":"x"})", auth).status, 401) << auth;
    EXPECT_EQ(GetWith("/api/nosuchthing", auth).status, 401) << auth;
  }
  EXPECT_EQ(GetWith("/api/status", "bearer " + token).status, 200);
  EXPECT_EQ(Get("/api/nosuchthing").status, 404);

  // The dashboard page itself needs no token: it asks for one.
  HttpAnswer page = GetWith("/", none);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.content_type.find("text/html"), std::string::npos);
  EXPECT_NE(page.body.find("sessionStorage"), std::string::npos);
  // Self-contained: nothing is loaded from another address.
  EXPECT_EQ(page.body.find("src=\"http"), std::string::npos);
  EXPECT_EQ(page.body.find("href=\"http"), std::string::npos);

  // A second start keeps the token that is now in the INI file.
  ASSERT_EQ(server->Stop(), 0);
  ASSERT_TRUE(server->Start()) << server->Log();
  EXPECT_EQ(Token(), token);
  EXPECT_EQ(server->Log().find("トークンを生成"), std::string::npos);
  EXPECT_EQ(Get("/api/status").status, 200);
}

TEST_F(AdminApi, MetricsWithoutTokenWhenSoConfiguredButTheApiStillNeedsIt) {
  server->Stop();
  StartServer("[AdminServer]\nToken=operator-secret-0123456789abcdef\nMetricsToken=0\n");
  EXPECT_EQ(Token(), "operator-secret-0123456789abcdef");
  const std::string none;
  EXPECT_EQ(GetWith("/metrics", none).status, 200);
  EXPECT_EQ(GetWith("/api/status", none).status, 401);
  EXPECT_EQ(GetWith("/api/status", "Bearer operator-secret-0123456789abcdef").status, 200);
}

TEST_F(AdminApi, StatusPlayersAndMapShowTheWorld) {
  Player& alice = Enter("alice");
  // The client has closed its Multi connection; the server notices that a moment later.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Get("/api/status").json()["connections"]["Multi"] != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  HttpAnswer st = Get("/api/status");
  ASSERT_EQ(st.status, 200);
  EXPECT_NE(st.content_type.find("application/json"), std::string::npos);
  Json status = st.json();
  EXPECT_EQ(status["version"], "0.2.5");
  EXPECT_GE(status["uptime_s"].get<int>(), 0);
  EXPECT_EQ(status["players_online"], 1);
  EXPECT_EQ(status["connections"]["Zone"], 1);
  EXPECT_EQ(status["connections"]["Multi"], 0);
  EXPECT_EQ(status["characters"], 1);
  ASSERT_EQ(status["maps"].size(), 4u);
  for (const Json& m : status["maps"]) {
    EXPECT_EQ(m["players"], m["id"] == 10055 ? 1 : 0) << m;
    EXPECT_TRUE(m["name"].is_string() && m["mobs"].is_number() && m["items"].is_number()) << m;
  }
  EXPECT_TRUE(status["tick"]["last_ms"].is_number());
  EXPECT_GE(status["tick"]["max_ms"].get<double>(), status["tick"]["last_ms"].get<double>());
  EXPECT_TRUE(status["last_save"].is_null());

  Json players = Get("/api/players").json();
  ASSERT_EQ(players.size(), 1u) << players;
  EXPECT_EQ(players[0], (Json{{"name", "alice"}, {"map", 10055}, {"x", 17}, {"y", 35}, {"level", 1},
                              {"address", "127.0.0.1"}, {"gm_level", 0}}));
  // A step shows at once.
  alice.Request(client::CMovePacket(1, 0));
  EXPECT_EQ(Get("/api/players").json()[0]["x"], 18);

  HttpAnswer m = Get("/api/maps/10055");
  ASSERT_EQ(m.status, 200);
  Json map = m.json();
  EXPECT_EQ(map["id"], 10055);
  EXPECT_EQ(map["width"], 80);
  EXPECT_EQ(map["height"], 60);
  const std::string walkable = map["walkable"];
  EXPECT_EQ(walkable.size(), (80u * 60 / 8 + 2) / 3 * 4);
  EXPECT_TRUE(WalkableBit(walkable, 80, 18, 35));  // where alice stands
  EXPECT_FALSE(WalkableBit(walkable, 80, 0, 0));   // cell 0 never is
  bool chara = false, npc = false, portal = false;
  for (const Json& o : map["objects"]) {
    if (o["kind"] == "chara") chara = o["name"] == "alice" && o["x"] == 18 && o["y"] == 35;
    if (o["kind"] == "npc" && o["x"] == 30 && o["y"] == 34) npc = true;
    if (o["kind"] == "portal") portal = true;
  }
  EXPECT_TRUE(chara && npc && portal) << map["objects"];

  EXPECT_EQ(Get("/api/maps/4242").status, 404);
  EXPECT_EQ(Get("/api/maps/99999999").status, 404);
  EXPECT_EQ(Get("/api/maps/abc").status, 404);
  Json history = Get("/api/history").json();
  EXPECT_TRUE(history["samples"].is_array());
}

TEST_F(AdminApi, BroadcastKickGmAndSaveAct) {
  Player& alice = Enter("alice");
  Player& bob = Enter("bob");
  alice.zone.Drain(kQuiet);
  bob.zone.Drain(kQuiet);

  EXPECT_EQ(Post("/api/broadcast", R"({"text":"再起動します 5分後"})").json(), (Json{{"ok", true}}));
  for (Player* p : {&alice, &bob}) EXPECT_EQ(Messages(p->Settle()), Strings{"再起動します 5分後"});

  HttpAnswer gm = Post("/api/gm", R"({"name":"BOB","level":7})");
  EXPECT_EQ(gm.status, 200) << gm.body;
  EXPECT_NE(SaveFile("bob").find("\"AdminLv\": 7"), std::string::npos) << SaveFile("bob");
  EXPECT_EQ(Get("/api/players").json()[1]["gm_level"], 7);

  // A kick is a client closing: logged out, everyone told, the character saved where it stood.
  alice.Request(client::CMovePacket(1, 0));
  EXPECT_EQ(Post("/api/kick", R"({"name":"alice"})").status, 200);
  EXPECT_TRUE(alice.zone.WaitClosed(Millis(5000)));
  EXPECT_TRUE(server->WaitForLog("キャラクター \"alice\" を切断しました", 1000)) << server->Log();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Get("/api/players").json().size() != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Json players = Get("/api/players").json();
  ASSERT_EQ(players.size(), 1u);
  EXPECT_EQ(players[0]["name"], "bob");
  EXPECT_EQ(Messages(bob.Settle()), Strings{"[alice]さんがログアウトしました"});
  while (SaveFile("alice").find("\"X\": 18") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(SaveFile("alice").find("\"X\": 18"), std::string::npos) << SaveFile("alice");

  HttpAnswer save = Post("/api/save", "");
  EXPECT_EQ(save.status, 200) << save.body;
  EXPECT_EQ(save.json()["characters"], 2);
  Json last = Get("/api/status").json()["last_save"];
  ASSERT_TRUE(last.is_object()) << last;
  EXPECT_EQ(last["characters"], 2);
  EXPECT_TRUE(last["time"].is_string() && last["lock_ms"].is_number());
  EXPECT_TRUE(server->WaitForLog("[Admin] 127.0.0.1: 保存: 2 キャラ", 1000)) << server->Log();
}

TEST_F(AdminApi, UnknownNamesAre404AndMalformedBodies400) {
  Enter("alice");
  for (const char* body : {R"({"name":"nobody"})", R"({"name":"alic"})"}) {
    HttpAnswer a = Post("/api/kick", body);
    EXPECT_EQ(a.status, 404) << body;
    EXPECT_TRUE(a.json()["error"].is_string()) << a.body;
  }
  EXPECT_EQ(Post("/api/gm", R"({"name":"nobody","level":1})").status, 404);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"/api/kick", "not json"},          {"/api/kick", "[\"alice\"]"},
      {"/api/kick", R"({"name":5})"},     {"/api/kick", R"({"name":""})"},
      {"/api/kick", ""},                  {"/api/broadcast", R"({"text":""})"},
      {"/api/broadcast", R"({"txt":"x"})"}, {"/api/gm", R"({"name":"alice"})"},
      {"/api/gm", R"({"name":"alice","level":256})"}, {"/api/gm", R"({"name":"alice","level":-1})"},
      {"/api/gm", R"({"name":"alice","level":"3"})"}, {"/api/gm", R"({"name":"alice","level":1.5})"},
      {"/api/ban", R"({"kind":"planet","target":"x"})"}, {"/api/ban", R"({"kind":"ip"})"},
      {"/api/ban", R"({"kind":"ip","target":"10.0.0.1","minutes":-5})"},
      {"/api/unban", R"({"target":"10.0.0.1"})"},
  };
  for (const auto& [path, body] : bad) {
    HttpAnswer a = Post(path, body);
    EXPECT_EQ(a.status, 400) << path << " " << body;
    EXPECT_TRUE(a.json()["error"].is_string()) << a.body;
  }
  // Nothing happened: alice is still there with her level.
  Json players = Get("/api/players").json();
  ASSERT_EQ(players.size(), 1u);
  EXPECT_EQ(players[0]["gm_level"], 0);
}

}  // namespace
}  // namespace vornhal::e2e

namespace vornhal::e2e {
namespace {

TEST_F(AdminApi, BanAndUnbanEditTheBanListAndApplyAtOnce) {
  Player& alice = Enter("alice");
  const std::string bans = server->root + "/bans.txt";

  HttpAnswer ban = Post("/api/ban", R"({"kind":"name","target":"alice","minutes":0,"reason":"spam bot"})");
  EXPECT_EQ(ban.status, 200) << ban.body;
  EXPECT_EQ(ban.json(), (Json{{"ok", true}}));
  EXPECT_NE(test::ServerProcess::ReadText(bans).find("name alice - spam bot"), std::string::npos)
      << test::ServerProcess::ReadText(bans);
  EXPECT_TRUE(alice.zone.WaitClosed(Millis(5000)));

  EXPECT_EQ(Post("/api/ban", R"({"kind":"name","target":"nobody"})").status, 404);
  HttpAnswer bad = Post("/api/ban", R"({"kind":"ip","target":"300.1.2.3"})");
  EXPECT_EQ(bad.status, 400) << bad.body;
  EXPECT_TRUE(bad.json()["error"].is_string());
  EXPECT_EQ(Post("/api/ban", R"({"kind":"ip","target":"10.9.8.0/24","minutes":30,"reason":"x"})").status, 200);
  EXPECT_NE(test::ServerProcess::ReadText(bans).find("ip 10.9.8.0/24 "), std::string::npos);

  EXPECT_EQ(Post("/api/unban", R"({"kind":"name","target":"alice"})").status, 200);
  EXPECT_EQ(test::ServerProcess::ReadText(bans).find("name alice"), std::string::npos);
  HttpAnswer again = Post("/api/unban", R"({"kind":"name","target":"alice"})");
  EXPECT_EQ(again.status, 404);
  EXPECT_TRUE(again.json()["error"].is_string());
  EXPECT_EQ(Post("/api/unban", R"({"kind":"ip","target":"10.9.8.0/24"})").status, 200);
  // alice may come back.
  Enter("carol");
  EXPECT_TRUE(client::LoginOnly(static_cast<uint16_t>(server->multi_port), "alice", "pw-alice").has_value());
}

}  // namespace
}  // namespace vornhal::e2e
