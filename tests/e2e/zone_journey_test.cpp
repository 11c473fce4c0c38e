// The Zone server through the real binary: the entering sequence, seeing other players come
// into and leave view while they walk, portals, chat, whispers, leaving with the character
// saved, refused zone logins, and the automatic revival of a dead character.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "client/client.h"
#include "platform/text.h"
#include "support/server_process.h"

namespace vornhal::client {
namespace {

using test::ServerProcess;
using sid = TServerPacketId;

struct Player {
  std::string name;
  ZoneClient z;
  std::vector<Frame> entering;  // up to SEnterEndPacket
  std::vector<Frame> after;     // from there to the player's own login message
};

// Everything the server sent this client before answering a signal request sent now: the
// server handles one connection's packets in order and writes its frames in order.
std::vector<Frame> Settle(ZoneClient& z) {
  z.Send(CSignalRequestPacket());
  auto frames = z.conn().CollectUntil(sid::kSignal);
  EXPECT_FALSE(frames.empty()) << "no answer to the signal request";
  if (!frames.empty()) frames.pop_back();
  return frames;
}

std::vector<Frame> OfId(const std::vector<Frame>& frames, TServerPacketId id) {
  std::vector<Frame> out;
  for (const Frame& f : frames) {
    if (f.id == id) out.push_back(f);
  }
  return out;
}

std::vector<uint32_t> Removed(const std::vector<Frame>& frames) {
  std::vector<uint32_t> ids;
  for (const Frame& f : OfId(frames, sid::kRemoveObject)) ids.push_back(ParseRemoveObject(f));
  return ids;
}

std::vector<CharaAppear> Appeared(const std::vector<Frame>& frames) {
  std::vector<CharaAppear> out;
  for (const Frame& f : OfId(frames, sid::kCharaAppear)) out.push_back(ParseCharaAppear(f));
  return out;
}

bool Contains(const std::vector<uint32_t>& ids, uint32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool AppearsWithId(const std::vector<Frame>& frames, uint32_t id) {
  for (const CharaAppear& a : Appeared(frames)) {
    if (a.id == id) return true;
  }
  return false;
}

std::vector<std::string> MessageTexts(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : OfId(frames, sid::kMessage)) out.push_back(ParseMessage(f).text);
  return out;
}

std::string CharacterFile(const std::string& name, const std::string& digest, const std::string& extra) {
  return "\xEF\xBB\xBF{\r\n  \"Name\": \"" + name + "\",\r\n  \"Password\": \"" + digest +
         "\",\r\n  \"RealName\": \"r\",\r\n  \"MailAddr\": \"m\",\r\n  \"AdminLv\": 0,\r\n"
         "  \"Sex\": 0,\r\n  \"Job\": 0,\r\n  \"Mark\": 0,\r\n  \"HairType\": 1,\r\n"
         "  \"HairColor\": 0,\r\n  \"MapID\": 10055,\r\n  \"X\": 17,\r\n  \"Y\": 35,\r\n"
         "  \"Dir\": 2,\r\n  \"Speed\": 80,\r\n  \"Glod\": 0,\r\n" + extra + "\r\n}\r\n";
}

constexpr const char* kSecretDigest = "e5e9fa1ba31ecd1ae84f75caaa474f3a663f05f4";  // "secret"

class ZoneE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerProcess::Options o;
    o.data_dir = VORNHAL_SAMPLE_DIR;
    o.start = false;
    server = std::make_unique<ServerProcess>(o);
  }
  void TearDown() override {
    players.clear();
    if (server) {
      EXPECT_EQ(server->Stop(), 0) << server->Log();
    }
  }
  void Start() { ASSERT_TRUE(server->Start()) << server->Log(); }
  void WriteCharacter(const std::string& name, const std::string& extra) {
    std::filesystem::create_directories(server->DataPath() + "save");
    std::ofstream(server->DataPath() + "save/" + name + ".json", std::ios::binary)
        << CharacterFile(name, kSecretDigest, extra);
  }
  uint16_t MultiPort() const { return static_cast<uint16_t>(server->multi_port); }

  // Logs in on the Multi server (creating the account unless `existing`) and enters the world.
  Player& Enter(const std::string& name, bool existing = false) {
    std::optional<ServerInfo> info;
    if (existing) {
      info = LoginOnly(MultiPort(), name, "secret");
    } else {
      NewAccount account;
      account.name = name;
      account.pass = "secret";
      info = CreateAndLogin(MultiPort(), account);
    }
    if (!info) throw std::runtime_error("Multi login of " + name + " failed:\n" + server->Log());
    auto p = std::make_unique<Player>();
    p->name = name;
    p->z.conn().SetKey(info->key);
    p->z.Connect(info->port);
    p->entering = p->z.EnterWorld(name);
    if (p->entering.empty()) throw std::runtime_error(name + " did not enter:\n" + server->Log());
    const std::string welcome = "[" + name + "]さんがログインしました";
    for (;;) {
      auto f = p->z.conn().Next();
      if (!f) throw std::runtime_error(name + ": no login message");
      p->after.push_back(*f);
      if (f->id == sid::kMessage && ParseMessage(*f).text == welcome) break;
    }
    players.push_back(std::move(p));
    return *players.back();
  }

  std::unique_ptr<ServerProcess> server;
  std::vector<std::unique_ptr<Player>> players;
};

TEST_F(ZoneE2E, EnteringSequenceOfAnEquippedCharacter) {
  WriteCharacter("Knight",
                 "  \"Equipments\": [{\"Slot\": 18, \"MetaKey\": \"sword1\"}, {\"Slot\": 2, \"MetaKey\": \"cloth1\"}],\r\n"
                 "  \"Inventory\": [{\"Slot\": 1, \"MetaKey\": \"herb1\", \"Count\": 5},"
                 " {\"Slot\": 2, \"MetaKey\": \"bread1\", \"Count\": 3}]");
  Start();
  Player& k = Enter("Knight", true);
  const auto& f = k.entering;
  ASSERT_GE(f.size(), 14u);
  for (int i = 0; i < 14; ++i) {
    ASSERT_EQ(f[i].id, sid::kSkill) << "frame " << i;
    Skill s = ParseSkill(f[i]);
    EXPECT_EQ(s.kind, i < 10 ? 1 : 6) << "frame " << i;
    EXPECT_EQ(s.number, i < 10 ? i + 1 : i - 9) << "frame " << i;
  }
  std::vector<sid> rest;
  for (size_t i = 14; i < f.size(); ++i) rest.push_back(f[i].id);
  const std::vector<sid> expected{sid::kEquipItem, sid::kEquipItem, sid::kStatus, sid::kEnterValues,
                                      sid::kInventoryItem, sid::kInventoryItem, sid::kEnterSetup,
                                      sid::kPlayerInfo, sid::kMapInfo, sid::kSound, sid::kSignal,
                                      sid::kPlayerPosition, sid::kWeather, sid::kStatus,
                                      sid::kCharaAppear, sid::kEnterEnd};
  ASSERT_EQ(rest, expected);
  EXPECT_EQ(ParseEquipItem(f[14]).key, "sword1");
  EXPECT_EQ(ParseEquipItem(f[15]).key, "cloth1");
  EXPECT_EQ(ParseStatus(f[16]).sections, 0x0278);
  InventoryItem herb = ParseInventoryItem(f[18]);
  EXPECT_EQ(herb.slot, 1);
  EXPECT_EQ(herb.key, "herb1");
  EXPECT_EQ(herb.count, 5);
  EXPECT_EQ(ParseMapInfo(f[22]).id, 10055);
  PlayerPosition pos = ParsePlayerPosition(f[25]);
  EXPECT_EQ(pos.x, 17);
  EXPECT_EQ(pos.y, 35);
  EXPECT_EQ(ParseStatus(f[27]).sections, 0x0060);
  CharaAppear self = ParseCharaAppear(f[28]);
  EXPECT_EQ(self.name, "Knight");
  EXPECT_EQ(self.id, k.z.ObjectID());
  EXPECT_GE(self.id, 0x3000000u);

  // Then the greeting, before the surroundings, and the login message last.
  ASSERT_GE(k.after.size(), 3u);
  ASSERT_EQ(k.after[0].id, sid::kMessage);
  Message greeting = ParseMessage(k.after[0]);
  EXPECT_EQ(greeting.type, 3);
  EXPECT_EQ(greeting.text, "[Vornhal Ver.0.2.5]");
  ASSERT_EQ(k.after[1].id, sid::kCharaAppear) << "the surroundings start by showing the character itself";
  EXPECT_EQ(ParseCharaAppear(k.after[1]).id, self.id);
  EXPECT_TRUE(server->WaitForLog("[Zone] キャラクター \"Knight\" がログイン", 2000));
}

TEST_F(ZoneE2E, TwoPlayersSeeEachOtherChatWhisperAndLeave) {
  Start();
  {
    MultiClient m;
    m.Connect(MultiPort());
    m.Version();
    ASSERT_EQ(m.CreateAccount("Sleeper", "secret", "r", "m")->code, 0);
  }
  Player& a = Enter("Alice");
  Player& b = Enter("Bob");
  const uint32_t aid = a.z.ObjectID(), bid = b.z.ObjectID();
  ASSERT_NE(aid, bid);
  EXPECT_TRUE(AppearsWithId(b.after, aid)) << "Bob's surroundings show Alice";
  std::vector<Frame> seen = Settle(a.z);
  ASSERT_TRUE(AppearsWithId(seen, bid)) << "Alice is shown Bob when he enters";
  EXPECT_EQ(Appeared(seen)[0].name, "Bob");
  EXPECT_EQ(MessageTexts(seen), std::vector<std::string>{"[Bob]さんがログインしました"});

  // Bob walks east along row 35. Blocks are 4 cells wide and the view reaches 2 blocks, so
  // Alice (block column 4) leaves Bob's view when he enters block column 7 at x = 28.
  uint8_t seq = 0;
  for (int x = 18; x <= 28; ++x) {
    auto ack = b.z.Step(1, seq++);
    ASSERT_TRUE(ack);
    ASSERT_EQ(ack->x, x);
    ASSERT_EQ(ack->y, 35);
    EXPECT_EQ(ack->seq, static_cast<uint8_t>(seq - 1 + 128));
    std::vector<Frame> at_a = Settle(a.z);
    std::vector<Frame> at_b = Settle(b.z);
    if (x < 28) {
      ASSERT_FALSE(Contains(Removed(at_a), bid)) << "removed too early at x = " << x;
      auto moves = OfId(at_a, sid::kCharaMove);
      ASSERT_EQ(moves.size(), 1u) << "x = " << x;
      CharaMove m = ParseCharaMove(moves[0]);
      EXPECT_EQ(m.id, bid);
      EXPECT_EQ(m.x, x);
    } else {
      EXPECT_TRUE(Contains(Removed(at_a), bid)) << "Bob leaves Alice's view";
      // The mover is not told: it forgets what it no longer sees by itself.
      EXPECT_FALSE(Contains(Removed(at_b), aid));
      EXPECT_TRUE(OfId(at_a, sid::kCharaMove).empty()) << "a step out of view is not shown";
    }
  }
  // A step back west brings them into view again.
  ASSERT_TRUE(b.z.Step(3, seq++));
  EXPECT_TRUE(AppearsWithId(Settle(a.z), bid)) << "Bob comes back into Alice's view";
  EXPECT_TRUE(AppearsWithId(Settle(b.z), aid)) << "Alice comes back into Bob's view";

  // Chat reaches the area, the speaker included; a lone "@" is not chat.
  a.z.Chat("hello there");
  a.z.Chat("@");
  for (Player* p : {&a, &b}) {
    auto chats = OfId(Settle(p->z), sid::kChat);
    ASSERT_EQ(chats.size(), 1u) << p->name;
    Chat c = ParseChat(chats[0]);
    EXPECT_EQ(c.line, "Alice: hello there");
    EXPECT_EQ(c.speaker_id, aid);
  }

  // Whispers: to oneself twice, to an offline or unknown character answered, "!1" ignored.
  a.z.Whisper("alice", "note");
  a.z.Whisper("Sleeper", "wake up");
  a.z.Whisper("Ghost", "boo");
  a.z.Whisper("!1", "x");
  std::vector<std::string> texts = MessageTexts(Settle(a.z));
  EXPECT_EQ(texts, (std::vector<std::string>{"Alice> note", "Alice> note", "ログインしていないキャラクターです (wake up)",
                                             "存在しないキャラクターです (boo)"}));
  EXPECT_TRUE(MessageTexts(Settle(b.z)).empty()) << "whispers go to sender and target only";

  // Alice leaves: Bob sees her go, and her character is saved where she stood.
  a.z.Close();
  auto gone = b.z.WaitForMessage("[Alice]さんがログアウトしました");
  ASSERT_TRUE(gone);
  // The removal went out before the message and is still kept by the client.
  EXPECT_TRUE(Contains(Removed(Settle(b.z)), aid)) << "Bob stops seeing Alice";
  const std::string file = server->DataPath() + "save/Alice.json";
  std::string saved;
  for (int i = 0; i < 100; ++i) {
    saved = ServerProcess::ReadText(file);
    if (!saved.empty()) break;
    std::this_thread::sleep_for(Millis(20));
  }
  ASSERT_FALSE(saved.empty()) << "no save file for Alice";
  EXPECT_NE(saved.find("\"X\": 17"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"Y\": 35"), std::string::npos) << saved;
}

// The first portal of the sample world whose source is the start map.
struct PortalLine {
  uint16_t x1, y1, x2, y2, dest_map, dest_x, dest_y;
  uint8_t dir;
};
std::optional<PortalLine> FirstPortalFrom(uint16_t map) {
  std::ifstream in(std::string(VORNHAL_SAMPLE_DIR) + "/db/PortalList.txt", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    line = FromCP932(line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] == ';' || line.rfind("//", 0) == 0) continue;
    std::vector<long> v;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, ',')) v.push_back(std::stol(field));
    if (v.size() >= 9 && v[0] == map) {
      return PortalLine{static_cast<uint16_t>(std::min(v[1], v[3])), static_cast<uint16_t>(std::min(v[2], v[4])),
                        static_cast<uint16_t>(std::max(v[1], v[3])), static_cast<uint16_t>(std::max(v[2], v[4])),
                        static_cast<uint16_t>(v[5]), static_cast<uint16_t>(v[6]), static_cast<uint16_t>(v[7]),
                        static_cast<uint8_t>(v[8])};
    }
  }
  return std::nullopt;
}

TEST_F(ZoneE2E, PortalStepEndsOnTheDestinationFacingThePortalsDirection) {
  auto portal = FirstPortalFrom(10055);
  ASSERT_TRUE(portal) << "the sample world has no portal on the start map";
  Start();
  Player& p = Enter("Walker");
  TMapPoint pos = p.z.Position();
  ASSERT_EQ(pos, (TMapPoint{17, 35}));
  auto inside = [&](TMapPoint q) {
    return q.X >= portal->x1 && q.X <= portal->x2 && q.Y >= portal->y1 && q.Y <= portal->y2;
  };
  uint8_t seq = 0;
  std::vector<Frame> last;
  for (int steps = 0; !inside(pos); ++steps) {
    ASSERT_LT(steps, 200);
    const int dx = (portal->x1 > pos.X) - (portal->x1 < pos.X);
    const int dy = (portal->y1 > pos.Y) - (portal->y1 < pos.Y);
    static const uint8_t dirs[3][3] = {{7, 3, 6}, {0, 255, 2}, {4, 1, 5}};  // [dx + 1][dy + 1]
    const uint8_t dir = dirs[dx + 1][dy + 1];
    p.z.Send(CMovePacket(dir, seq++));
    last = Settle(p.z);
    auto acks = OfId(last, sid::kMoveAck);
    ASSERT_EQ(acks.size(), 1u);
    MoveAck ack = ParseMoveAck(acks[0]);
    ASSERT_EQ((TMapPoint{ack.x, ack.y}), StepFrom(pos, dir));
    pos = TMapPoint{ack.x, ack.y};
  }
  // The last step: acknowledgement, then the arrival on the destination map.
  ASSERT_GE(last.size(), 6u);
  std::vector<TServerPacketId> ids;
  for (size_t i = 0; i < 6; ++i) ids.push_back(last[i].id);
  ASSERT_EQ(ids, (std::vector<sid>{sid::kMoveAck, sid::kMapInfo, sid::kSound, sid::kPlayerPosition,
                                       sid::kWeather, sid::kCharaAppear}));
  EXPECT_EQ(ParseMapInfo(last[1]).id, portal->dest_map);
  PlayerPosition arrived = ParsePlayerPosition(last[3]);
  EXPECT_EQ(arrived.x, portal->dest_x);
  EXPECT_EQ(arrived.y, portal->dest_y);
  CharaAppear self = ParseCharaAppear(last[5]);
  EXPECT_EQ(self.id, p.z.ObjectID());
  EXPECT_EQ(self.x, portal->dest_x);
  EXPECT_EQ(self.y, portal->dest_y);
  EXPECT_EQ(self.dir, portal->dir) << "the character faces the portal's direction";

  // Walking on continues from the destination.
  auto ack = p.z.Step(2, seq++);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->x, portal->dest_x);
  EXPECT_EQ(ack->y, portal->dest_y + 1);
}

TEST_F(ZoneE2E, ZoneLoginWithoutMultiLoginIsRefusedSilently) {
  Start();
  {
    MultiClient m;
    m.Connect(MultiPort());
    m.Version();
    ASSERT_EQ(m.CreateAccount("Lurker", "secret", "r", "m")->code, 0);
  }
  ZoneClient z;
  z.Connect(static_cast<uint16_t>(server->zone_port));
  auto frames = z.EnterWorld("Lurker", Millis(500));
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(z.conn().Drain(Millis(100)).empty()) << "nothing is sent";
  EXPECT_TRUE(server->WaitForLog("キャラクター \"Lurker\" (127.0.0.1) のゾーンログインを拒否しました", 2000))
      << server->Log();

  // One Multi login admits one zone login.
  Player& p = Enter("Lurker", true);
  p.z.Close();
  // Wait until the server has let go of that connection, so the next refusal is the ticket's.
  const std::string closed = "[Zone] \"127.0.0.1\" からの接続を終了";
  for (int i = 0; i < 100 && server->CountInLog(closed) < 1; ++i) std::this_thread::sleep_for(Millis(20));
  ASSERT_EQ(server->CountInLog(closed), 1) << server->Log();
  ZoneClient again;
  again.Connect(static_cast<uint16_t>(server->zone_port));
  EXPECT_TRUE(again.EnterWorld("Lurker", Millis(500)).empty()) << "the login was used up";
  EXPECT_EQ(server->CountInLog("キャラクター \"Lurker\" (127.0.0.1) のゾーンログインを拒否しました"), 2)
      << server->Log();
}

TEST_F(ZoneE2E, DeadCharacterIsRevivedByTheTickAfterThirtySeconds) {
  Start();
  Player& a = Enter("Slayer");
  Player& b = Enter("Victim");
  // Map 3 lets characters attack characters (bit 2 of its first flag byte).
  a.z.Chat("@goto 3 24 34");
  b.z.Chat("@goto 3 25 34");
  std::vector<Frame> at_b = Settle(b.z);
  Settle(a.z);
  ASSERT_FALSE(OfId(at_b, sid::kMapInfo).empty()) << "the warp did not happen:\n" << server->Log();
  ASSERT_EQ(ParseMapInfo(OfId(at_b, sid::kMapInfo)[0]).flag1 & 2, 2);

  const uint32_t bid = b.z.ObjectID();
  auto died = [&](const std::vector<Frame>& frames) {
    for (const CharaAppear& c : Appeared(frames)) {
      if (c.id == bid && (c.mode & 4)) return true;
    }
    return false;
  };
  bool dead = false;
  int hits = 0;
  for (int i = 0; i < 100 && !dead; ++i) {
    a.z.Attack(bid);
    auto seen = Settle(a.z);
    for (const Frame& f : OfId(seen, sid::kAttack)) hits += ParseAttack(f).hit ? 1 : 0;
    dead = died(Settle(b.z));
  }
  ASSERT_TRUE(dead) << "Victim did not die after " << hits << " hits";
  const auto death_seen = std::chrono::steady_clock::now();

  // A dead character cannot be attacked further.
  a.z.Attack(bid);
  EXPECT_TRUE(OfId(Settle(a.z), sid::kAttack).empty());

  std::optional<CharaAppear> revived;
  while (!revived) {
    auto f = b.z.conn().WaitFor(sid::kCharaAppear, Millis(40000));
    ASSERT_TRUE(f) << "no revival within 40 s";
    CharaAppear c = ParseCharaAppear(*f);
    if (c.id == bid && !(c.mode & 4)) revived = c;
  }
  const auto waited = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - death_seen);
  EXPECT_GE(waited.count(), 29000) << "revived too early";
  auto status = b.z.Expect(sid::kStatus, ParseStatus);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->sections, 0x0020);
  EXPECT_GT(status->hp, 0u);
}

}  // namespace
}  // namespace vornhal::client
