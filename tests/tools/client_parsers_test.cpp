// Server packets written with the server's own codec (seed 0, scrambled, code page 932) must
// come back through the client's frame reader and parsers with every field in place.
#include <gtest/gtest.h>

#include <zlib.h>

#include "client/parsers.h"
#include "net/packet.h"

namespace vornhal::client {
namespace {

Frame Received(TPacket& p) {
  std::vector<uint8_t> bytes = p.Frame();
  auto frames = TakeServerFrames(bytes);
  EXPECT_EQ(frames.size(), 1u);
  return frames.empty() ? Frame{} : frames[0];
}

void WriteLook(TPacket& p) {
  p.WriteWord(11);
  p.WriteWord(12);
  p.WriteColor({1, 2, 3});
  p.WriteWord(13);
  p.WriteColor({4, 5, 6});
  p.WriteWord(14);
  p.WriteColor({7, 8, 9});
  p.WriteColor({10, 11, 12});
  p.WriteByte(0);
}

TPacket CharaAppearPacket(uint32_t mode, const std::string& name) {
  TPacket p(TServerPacketId::kCharaAppear);
  p.WriteWord(17);
  p.WriteWord(35);
  p.WriteByte(2);
  p.WriteLong(0x3000001);
  p.WriteByte(1);
  p.WriteByte(3);
  p.WriteByte(0);
  p.WriteLong(mode);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteWord(0);
  p.WriteWord(0);
  if (mode & 0x800) {
    p.WriteByte(0);
  } else {
    WriteLook(p);
  }
  if (mode & 1) p.WriteColor({});
  if (mode & 0x10) p.WriteWord(0);
  if (mode & 2) p.WriteByte(0);
  p.WriteByte(0);
  p.WriteByte(7);
  p.WriteShortStr(name);
  p.WriteByte(0);
  p.WriteWord(0);
  if (mode & 0x2000) {
    p.WriteByte(0);
    p.WriteShortStr("");
  }
  if (mode & 0x40000000) {
    p.WriteByte(0);
    p.WriteLongStr("");
  }
  p.WriteByte(3);
  p.WriteWord(0);
  p.WriteWord(80);
  p.WriteByte(0);
  p.WriteByte(100);
  p.WriteByte(0);
  p.WriteWord(0);
  p.WriteByte(0);
  p.WriteShortStr("");
  p.WriteByte(0);
  p.WriteByte(0);
  return p;
}

TEST(ClientParsers, CharaAppearWithAndWithoutTheLookBlock) {
  TPacket full = CharaAppearPacket(0, "勇者Abc");
  CharaAppear a = ParseCharaAppear(Received(full));
  EXPECT_EQ(a.x, 17);
  EXPECT_EQ(a.y, 35);
  EXPECT_EQ(a.dir, 2);
  EXPECT_EQ(a.id, 0x3000001u);
  EXPECT_EQ(a.job, 3);
  EXPECT_TRUE(a.has_look);
  EXPECT_EQ(a.head_type, 12);
  EXPECT_EQ(a.wear_color, (TAsColor{10, 11, 12}));
  EXPECT_EQ(a.name, "勇者Abc");
  EXPECT_EQ(a.speed, 80);

  TPacket bare = CharaAppearPacket(0x800 | 0x1 | 0x10 | 0x2 | 0x2000 | 0x40000000, "x");
  a = ParseCharaAppear(Received(bare));
  EXPECT_FALSE(a.has_look);
  EXPECT_EQ(a.name, "x");
  EXPECT_EQ(a.speed, 80);

  // A packet one byte short, or one byte long, is a layout error rather than a silent misread.
  TPacket longer = CharaAppearPacket(0, "x");
  longer.WriteByte(0);
  EXPECT_THROW(ParseCharaAppear(Received(longer)), ProtocolError);
  Frame shorter = Received(full);
  shorter.payload.pop_back();
  EXPECT_THROW(ParseCharaAppear(shorter), ProtocolError);
}

TEST(ClientParsers, ServerInfoInBothFormsAndVersionResults) {
  TPacket own(TServerPacketId::kServerInfo);
  own.WriteBuffer("\x01\x00\x00\x7F", 4);  // 127.0.0.1 reversed
  own.WriteWord(1510);
  own.WriteByte(static_cast<uint8_t>(PacketKeyLength + 3));
  own.WriteByte(2);
  own.WriteShortStr(PacketKey);
  own.WriteByte(0);
  ServerInfo s = ParseServerInfo(Received(own));
  EXPECT_EQ(s.address, "127.0.0.1");
  EXPECT_EQ(s.port, 1510);
  EXPECT_EQ(s.key, PacketKey);
  EXPECT_FALSE(s.name);

  TPacket login(TServerPacketId::kServerInfo);
  login.WriteBuffer("\x05\x01\xA8\xC0", 4);  // 192.168.1.5
  login.WriteWord(11010);
  login.WriteByte(static_cast<uint8_t>(PacketKeyLength + 4 + 4));  // "名前" is 4 bytes in CP932
  login.WriteByte(2);
  login.WriteShortStr(PacketKey);
  login.WriteShortStr("名前");
  login.WriteByte(0);
  s = ParseServerInfo(Received(login));
  EXPECT_EQ(s.address, "192.168.1.5");
  EXPECT_EQ(s.port, 11010);
  ASSERT_TRUE(s.name);
  EXPECT_EQ(*s.name, "名前");

  TPacket wrong_length(TServerPacketId::kServerInfo);
  wrong_length.WriteLong(0);
  wrong_length.WriteWord(1);
  wrong_length.WriteByte(99);
  wrong_length.WriteByte(2);
  wrong_length.WriteShortStr(PacketKey);
  wrong_length.WriteByte(0);
  EXPECT_THROW(ParseServerInfo(Received(wrong_length)), ProtocolError);

  TPacket ok(TServerPacketId::kVersionResult);
  ok.WriteByte(0);
  ok.WriteLong(0xDEADBEEF);
  ok.WriteByte(2);
  ok.WriteShortStr(PacketKey);
  ok.WriteByte(1);
  ok.WriteShortStr("127.0.0.1");
  VersionResult v = ParseVersionResult(Received(ok));
  EXPECT_EQ(v.kind, 0);
  EXPECT_EQ(v.list_checksum, 0xDEADBEEFu);
  EXPECT_EQ(v.key, PacketKey);
  EXPECT_EQ(v.address, "127.0.0.1");

  TPacket old(TServerPacketId::kVersionResult);
  old.WriteByte(2);
  old.WriteWord(2850);
  old.WriteByte(0);
  old.WriteByte(1);
  old.WriteShortStr("127.0.0.1");
  v = ParseVersionResult(Received(old));
  EXPECT_EQ(v.kind, 2);
  EXPECT_EQ(v.required_version, 2850);
}

TEST(ClientParsers, MessagesAndChatTrailers) {
  TPacket sys(TServerPacketId::kMessage);
  sys.WriteByte(3);
  sys.WriteByte(0);
  sys.WriteLongStr("[a]さんがログインしました");
  EXPECT_EQ(ParseMessage(Received(sys)).text, "[a]さんがログインしました");
  TPacket whisper(TServerPacketId::kMessage);
  whisper.WriteByte(0);
  whisper.WriteLongStr("a> hi");
  Message m = ParseMessage(Received(whisper));
  EXPECT_EQ(m.type, 0);
  EXPECT_EQ(m.text, "a> hi");

  TPacket chat(TServerPacketId::kChat);
  chat.WriteByte(16);
  chat.WriteLong(0x3000002);
  chat.WriteColor({255, 255, 255});
  chat.WriteShortStr("a:\thi");
  chat.WriteLong(200);
  Chat c = ParseChat(Received(chat));
  EXPECT_EQ(c.type, 16);
  EXPECT_EQ(c.speaker_id, 0x3000002u);
  EXPECT_EQ(c.line, "a:\thi");
  EXPECT_EQ(c.trailer_value, 200u);
  TPacket chat4(TServerPacketId::kChat);
  chat4.WriteByte(4);
  chat4.WriteLong(1);
  chat4.WriteColor({});
  chat4.WriteShortStr("t");
  chat4.WriteShortStr("アイエエエ");
  chat4.WriteLong(12);
  c = ParseChat(Received(chat4));
  EXPECT_EQ(c.trailer_text, "アイエエエ");
  EXPECT_EQ(c.trailer_value, 12u);
}

TEST(ClientParsers, MapObjectsOfEveryKind) {
  TPacket p(TServerPacketId::kMapObjects);
  p.WriteWord(4);
  // NPC
  p.WriteWord(30);
  p.WriteWord(34);
  p.WriteByte(1);
  p.WriteLong(50000);
  p.WriteShortStr("");
  p.WriteWord(16425);
  p.WriteWord(0);
  p.WriteByte(0);
  p.WriteColor({1, 2, 3});
  p.WriteByte(2);
  p.WriteByte(100);
  p.WriteWord(80);
  p.WriteLong(0);
  p.WriteShortStr("ガイド");
  // mob
  p.WriteWord(1);
  p.WriteWord(2);
  p.WriteByte(2);
  p.WriteLong(5000000);
  p.WriteShortStr("");
  p.WriteWord(7);
  p.WriteWord(0);
  p.WriteByte(0);
  p.WriteColor({});
  p.WriteByte(1);
  p.WriteByte(50);
  p.WriteWord(90);
  p.WriteLong(0);
  for (int i = 0; i < 6; ++i) p.WriteByte(0);
  p.WriteShortStr("ビートミー");
  // dropped item
  p.WriteWord(3);
  p.WriteWord(4);
  p.WriteByte(3);
  p.WriteLong(10000000);
  p.WriteWord(99);
  p.WriteWord(5);
  p.WriteColor({9, 9, 9});
  p.WriteShortStr("木刀");
  p.WriteLong(0);
  // portal
  p.WriteWord(5);
  p.WriteWord(6);
  p.WriteByte(13);
  p.WriteLong(0);
  p.WriteWord(0);
  p.WriteShortStr("町");
  auto objects = ParseMapObjects(Received(p));
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[0].name, "ガイド");
  EXPECT_EQ(objects[0].tile, 16425);
  EXPECT_EQ(objects[0].dir, 2);
  EXPECT_EQ(objects[1].name, "ビートミー");
  EXPECT_EQ(objects[1].hp_percent, 50);
  EXPECT_EQ(objects[2].color_type, 5);
  EXPECT_EQ(objects[2].name, "木刀");
  EXPECT_EQ(objects[3].kind, 13);
  EXPECT_EQ(objects[3].name, "町");
}

TEST(ClientParsers, StatusWithTheEnteringSections) {
  TPacket p(TServerPacketId::kStatus);
  p.WriteByte(0);
  p.WriteWord(0x0278);
  // 0x0040
  p.WriteByte(0);
  p.WriteByte(1);
  for (uint32_t v : {16u, 15u, 28u, 10u, 0u}) p.WriteLong(v);
  p.WriteWord(60);
  p.WriteWord(70);
  for (int i = 0; i < 8; ++i) p.WriteWord(static_cast<uint16_t>(i));
  for (int i = 0; i < 5; ++i) p.WriteWord(3);
  p.WriteByte(0);
  p.WriteInt64(0);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteLong(0);
  for (int i = 0; i < 3; ++i) p.WriteByte(0);
  p.WriteByte(4);  // stat points
  p.WriteByte(0);
  p.WriteWord(0xFFFD);
  p.WriteWord(100);
  p.WriteWord(1000);
  for (int i = 0; i < 3; ++i) p.WriteByte(0);
  p.WriteByte(1);
  p.WriteByte(0);
  // 0x0020
  for (uint32_t v : {16u, 15u, 28u, 10u, 0u, 300u}) p.WriteLong(v);
  // 0x0010
  p.WriteInt64(123);
  for (int i = 0; i < 4; ++i) p.WriteWord(0);
  p.WriteLong(777);
  for (int i = 0; i < 3; ++i) p.WriteLong(0);
  // 0x0008
  for (uint8_t v : {10, 20, 30, 40, 50}) p.WriteByte(v);
  p.WriteShortStr("");
  p.WriteByte(60);
  // 0x0200
  p.WriteWord(0);
  Status s = ParseStatus(Received(p));
  EXPECT_EQ(s.level, 1);
  EXPECT_EQ(s.max_hp, 16u);
  EXPECT_EQ(s.stat_point, 4);
  EXPECT_EQ(s.ac, 0xFFFD);
  EXPECT_EQ(s.hp, 16u);
  EXPECT_EQ(s.exp, 123u);
  EXPECT_EQ(s.glod, 777u);
}

TEST(ClientParsers, ItemsEffectsAttacksAndHitPoints) {
  TPacket inv(TServerPacketId::kInventoryItem);
  inv.WriteByte(1);
  inv.WriteByte(3);
  inv.WriteWord(100);
  inv.WriteColor({1, 2, 3});
  inv.WriteByte(4);
  inv.WriteByte(5);
  inv.WriteByte(0);
  inv.WriteShortStr("0");
  inv.WriteShortStr("薬草");
  inv.WriteShortStr("herb");
  inv.WriteByte(1);
  inv.WriteByte(0);
  inv.WriteLong(0);
  inv.WriteByte(0);
  inv.WriteLong(0);
  inv.WriteByte(0);
  inv.WriteWord(0);
  inv.WriteWord(7);
  inv.WriteByte(0);
  inv.WriteByte(0);
  InventoryItem it = ParseInventoryItem(Received(inv));
  EXPECT_EQ(it.slot, 3);
  EXPECT_EQ(it.name, "薬草");
  EXPECT_EQ(it.key, "herb");
  EXPECT_EQ(it.count, 7);

  TPacket obj(TServerPacketId::kEffect);
  obj.WriteByte(0);
  obj.WriteLong(50000);
  obj.WriteLong(0);
  obj.WriteWord(238);
  obj.WriteWord(100);
  obj.WriteByte(0);
  Effect e = ParseEffect(Received(obj));
  EXPECT_FALSE(e.at_position);
  EXPECT_EQ(e.object_id, 50000u);
  EXPECT_EQ(e.effect, 238);
  TPacket pos(TServerPacketId::kEffect);
  pos.WriteByte(0);
  pos.WriteWord(19);
  pos.WriteWord(35);
  pos.WriteLong(0);
  pos.WriteWord(118);
  pos.WriteWord(0);
  pos.WriteByte(1);
  e = ParseEffect(Received(pos));
  EXPECT_TRUE(e.at_position);
  EXPECT_EQ(e.x, 19);
  EXPECT_EQ(e.y, 35);
  EXPECT_EQ(e.effect, 118);

  TPacket hit(TServerPacketId::kAttack);
  hit.WriteLong(0x3000001);
  hit.WriteLong(5000000);
  hit.WriteByte(4);
  hit.WriteWord(0);
  hit.WriteWord(70);
  hit.WriteByte(0);
  hit.WriteByte(0);
  hit.WriteWord(69);
  hit.WriteByte(0);
  hit.WriteWord(159);
  hit.WriteWord(70);
  hit.WriteWord(1);
  hit.WriteByte(0);
  hit.WriteByte(40);
  hit.WriteLong(6);
  hit.WriteLong(10);
  hit.WriteByte(0);
  Attack a = ParseAttack(Received(hit));
  EXPECT_TRUE(a.hit);
  EXPECT_EQ(a.target_hp_percent, 40);
  EXPECT_EQ(a.damage, 6u);
  EXPECT_EQ(a.target_max_hp, 10u);

  TPacket hp0(TServerPacketId::kHPInfo);
  hp0.WriteLong(5);
  hp0.WriteByte(0);
  hp0.WriteByte(0);
  hp0.WriteByte(100);
  hp0.WriteByte(0);
  HPInfo h = ParseHPInfo(Received(hp0));
  EXPECT_EQ(h.kind, 0);
  EXPECT_EQ(h.percent, 100);
  TPacket hp1(TServerPacketId::kHPInfo);
  hp1.WriteLong(0x3000001);
  hp1.WriteByte(1);
  hp1.WriteByte(0);
  hp1.WriteByte(50);
  hp1.WriteByte(6);
  hp1.WriteByte(0);
  h = ParseHPInfo(Received(hp1));
  EXPECT_EQ(h.kind, 1);
  EXPECT_EQ(h.percent, 50);
}

TEST(ClientParsers, ServerListIsInflatedAndItsEntryRead) {
  const std::string raw = TWireWriter()
                              .U8(1)
                              .U8(0)
                              .U32(0x0100007F)
                              .U16(1510)
                              .U8(0)
                              .U8(0)
                              .Str8("テストサーバー")
                              .Str8("1ST_SERVER")
                              .Str8("2024年1月9日")
                              .Text();
  std::vector<uint8_t> packed(compressBound(raw.size()));
  uLongf packed_len = packed.size();
  ASSERT_EQ(compress2(packed.data(), &packed_len, reinterpret_cast<const Bytef*>(raw.data()), raw.size(),
                      Z_DEFAULT_COMPRESSION),
            Z_OK);
  TPacket p(TServerPacketId::kServerList);
  p.WriteWord(static_cast<uint16_t>(packed_len));
  p.WriteBuffer(packed.data(), static_cast<int>(packed_len));
  ServerList l = ParseServerList(Received(p));
  ASSERT_EQ(l.entries.size(), 1u);
  EXPECT_EQ(l.entries[0].address, "127.0.0.1");
  EXPECT_EQ(l.entries[0].port, 1510);
  EXPECT_EQ(l.entries[0].caption, "テストサーバー");
  EXPECT_EQ(l.entries[0].server_id, "1ST_SERVER");
  EXPECT_EQ(l.entries[0].date, "2024年1月9日");
  EXPECT_EQ(l.crc32, crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size())));
}

}  // namespace
}  // namespace vornhal::client
