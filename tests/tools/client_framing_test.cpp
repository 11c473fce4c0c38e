// The client's frames must be what the server's codec reads, for every seed; the client's
// builders must write exactly the fields the server's handlers read.
#include <gtest/gtest.h>

#include "client/builders.h"
#include "client/wire.h"
#include "net/packet.h"
#include "net/session.h"

namespace vornhal::client {
namespace {

class ReadingSession : public TSession {
 public:
  ReadingSession() : TSession(nullptr) {}
  void ParsePacket(TConnection&, uint8_t) override {}
  // Loads a whole client frame (marker and length included) as the server's reader would.
  uint8_t LoadFrame(const std::vector<uint8_t>& frame) {
    EXPECT_GE(frame.size(), 4u);
    EXPECT_EQ(frame[0], 0xAA);
    const size_t len = TWireReader(frame.data() + 1, 2).U16();
    EXPECT_EQ(len, frame.size() - 3) << "length field must count the body";
    return LoadBody(frame.data() + 3, frame.size() - 3);
  }
  bool AtEnd() const { return ReadPosition() == RecvLength(); }
};

TEST(ClientFraming, ScrambledPacketsDecodeOnTheServerForEverySeed) {
  for (int seed = 0; seed < 256; ++seed) {
    // Long enough to span several passes over the key (each pass is 10 bytes).
    const std::string pass(37, 'p');
    auto frame = EncodeClientFrame(CLoginPacket("名前abc", pass, true), static_cast<uint8_t>(seed));
    ASSERT_EQ(frame[3], IdByte(TMultiClientPacketId::kLogin));
    ASSERT_EQ(frame[4], seed) << "the seed byte follows the id in clear";
    ReadingSession s;
    ASSERT_EQ(s.LoadFrame(frame), IdByte(TMultiClientPacketId::kLogin));
    EXPECT_EQ(s.ReadShortStr(), "名前abc") << "seed " << seed;
    EXPECT_EQ(s.ReadShortStr(), pass) << "seed " << seed;
    EXPECT_EQ(s.ReadByte(), 1);
    EXPECT_TRUE(s.AtEnd());
  }
}

TEST(ClientFraming, ExemptIdsGoInClearWithoutSeed) {
  // CRuleCheckPacket: u8 and an empty str8, no seed byte.
  EXPECT_EQ(EncodeClientFrame(CRuleCheckPacket(), 77), (std::vector<uint8_t>{0xAA, 0, 3, 16, 0, 0}));
  EXPECT_EQ(EncodeClientFrame(CVersionPacket(2850), 77), (std::vector<uint8_t>{0xAA, 0, 3, 0, 0x0B, 0x22}));
  EXPECT_EQ(EncodeClientFrame(CServerInfoRequestPacket(), 77), (std::vector<uint8_t>{0xAA, 0, 1, 11}));
  auto login = EncodeClientFrame(CZoneLoginPacket("Abc"), 77);
  EXPECT_EQ(login, (std::vector<uint8_t>{0xAA, 0, 7, 16, 0, 0, 3, 'A', 'b', 'c'}));
  ReadingSession s;
  ASSERT_EQ(s.LoadFrame(login), 16);
  EXPECT_EQ(s.ReadByte(), 0);
  EXPECT_EQ(s.ReadShortStr(), "");
  EXPECT_EQ(s.ReadShortStr(), "Abc");
  EXPECT_TRUE(s.AtEnd());
}

TEST(ClientFraming, KeyedScrambleMatchesTheServersAndHonoursAnotherKey) {
  std::vector<uint8_t> a(300), b;
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 7);
  b = a;
  ScrambleWithKey(a.data(), a.size(), 3, kDefaultKey);
  Scramble(b.data(), b.size(), 3);
  EXPECT_EQ(a, b);
  // A frame scrambled with another key only reads back with that key.
  auto frame = EncodeClientFrame(CChatPacket(0, "hello there"), 9, "xyz");
  std::vector<uint8_t> body(frame.begin() + 5, frame.end());
  ScrambleWithKey(body.data(), body.size(), 9, "xyz");
  EXPECT_EQ(body, CChatPacket(0, "hello there").payload);
}

// The server handlers read these fields in this order; the builders must match.
TEST(ClientBuilders, TypeDependentFieldsAreWrittenAsTheServerReadsThem) {
  ReadingSession s;
  UseExtra extra;
  extra.words = {1, 2, 3, 4};
  ASSERT_EQ(s.LoadFrame(EncodeClientFrame(CUsePacket(1, 2, 0, 3, extra), 5)), IdByte(TZoneClientPacketId::kUse));
  EXPECT_EQ(s.ReadByte(), 1);
  EXPECT_EQ(s.ReadByte(), 2);
  EXPECT_EQ(s.ReadByte(), 0);
  EXPECT_EQ(s.ReadByte(), 3);
  for (uint16_t w : {1, 2, 3, 4}) EXPECT_EQ(s.ReadWord(), w);
  EXPECT_TRUE(s.AtEnd());

  extra.words = {9};
  ASSERT_EQ(s.LoadFrame(EncodeClientFrame(CUsePacket(1, 2, 0, 4, extra), 6)), IdByte(TZoneClientPacketId::kUse));
  s.ReadLong();
  EXPECT_EQ(s.ReadWord(), 9);
  EXPECT_EQ(s.ReadWord(), 0) << "missing words are written as 0";
  EXPECT_EQ(s.ReadWord(), 0);
  EXPECT_TRUE(s.AtEnd());

  extra.text = "テキスト";
  s.LoadFrame(EncodeClientFrame(CUsePacket(1, 2, 0, 1, extra), 7));
  s.ReadLong();
  EXPECT_EQ(s.ReadShortStr(), "テキスト");
  EXPECT_TRUE(s.AtEnd());

  s.LoadFrame(EncodeClientFrame(CUsePacket(1, 2, 0, 12, extra), 7));
  s.ReadLong();
  EXPECT_TRUE(s.AtEnd()) << "type 12 has no extra fields";

  ChangeSlotFields f;
  f.slot1 = 4;
  f.elem_alloc = 0x01020304;
  s.LoadFrame(EncodeClientFrame(CChangeSlotPacket(2, f), 8));
  EXPECT_EQ(s.ReadByte(), 2);
  EXPECT_EQ(s.ReadByte(), 1);
  EXPECT_EQ(s.ReadByte(), 4);
  EXPECT_EQ(s.ReadLong(), 0x01020304u);
  EXPECT_TRUE(s.AtEnd());

  s.LoadFrame(EncodeClientFrame(CMergeSlotsPacket(3, 6, 5), 8));
  for (uint8_t b : {8, 1, 3, 6, 5}) EXPECT_EQ(s.ReadByte(), b);
  EXPECT_TRUE(s.AtEnd());

  s.LoadFrame(EncodeClientFrame(CBulletinBoardPacket(3, 9), 1));
  EXPECT_EQ(s.ReadByte(), 3);
  EXPECT_TRUE(s.AtEnd()) << "type 3 carries no index";
  s.LoadFrame(EncodeClientFrame(CBulletinBoardPacket(4, 9), 1));
  EXPECT_EQ(s.ReadByte(), 4);
  EXPECT_EQ(s.ReadByte(), 9);
  EXPECT_TRUE(s.AtEnd());

  s.LoadFrame(EncodeClientFrame(CItemShopPacket(2, 5, 6), 1));
  EXPECT_EQ(s.ReadByte(), 2);
  EXPECT_TRUE(s.AtEnd()) << "only type 1 carries the two values";
}

TEST(ClientBuilders, PathMoveAndScriptVariables) {
  ReadingSession s;
  s.LoadFrame(EncodeClientFrame(CPathMovePacket({300, 2}, 5, {1, 2, 3}, {301, 3}, 6), 200));
  EXPECT_EQ(s.ReadWord(), 300);
  EXPECT_EQ(s.ReadWord(), 2);
  EXPECT_EQ(s.ReadByte(), 5);
  EXPECT_EQ(s.ReadByte(), 3);
  for (uint8_t b : {1, 2, 3}) EXPECT_EQ(s.ReadByte(), b);
  EXPECT_EQ(s.ReadWord(), 301);
  EXPECT_EQ(s.ReadWord(), 3);
  EXPECT_EQ(s.ReadByte(), 6);
  EXPECT_TRUE(s.AtEnd());

  s.LoadFrame(EncodeClientFrame(CScriptVariablesPacket("nMiAllMarket01", 50001, {{"I", "0"}, {"U", "1"}}), 0));
  EXPECT_EQ(s.ReadByte(), 1);
  EXPECT_EQ(s.ReadShortStr(), "nMiAllMarket01");
  EXPECT_EQ(s.ReadLong(), 50001u);
  EXPECT_EQ(s.ReadWord(), 2);
  EXPECT_EQ(s.ReadShortStr(), "I");
  EXPECT_EQ(s.ReadShortStr(), "0");
  EXPECT_EQ(s.ReadShortStr(), "U");
  EXPECT_EQ(s.ReadShortStr(), "1");
  EXPECT_TRUE(s.AtEnd());
}

TEST(ClientWire, ServerFramesAreCutAtAnySplitAndBadMarkersRefused) {
  TPacket a(TServerPacketId::kMoveAck);
  a.WriteWord(17);
  a.WriteWord(35);
  a.WriteByte(200);
  TPacket b(TServerPacketId::kServerInfo);  // no seed byte
  b.WriteLong(0x0100007F);
  std::vector<uint8_t> all = a.Frame();
  all.insert(all.end(), b.Frame().begin(), b.Frame().end());
  for (size_t cut = 0; cut <= all.size(); ++cut) {
    std::vector<uint8_t> buf(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut));
    auto first = TakeServerFrames(buf);
    buf.insert(buf.end(), all.begin() + static_cast<std::ptrdiff_t>(cut), all.end());
    auto second = TakeServerFrames(buf);
    first.insert(first.end(), second.begin(), second.end());
    ASSERT_EQ(first.size(), 2u) << "cut at " << cut;
    EXPECT_TRUE(buf.empty());
    EXPECT_EQ(first[0].id, TServerPacketId::kMoveAck);
    EXPECT_EQ(first[0].payload, (std::vector<uint8_t>{0, 17, 0, 35, 200}));
    EXPECT_EQ(first[1].id, TServerPacketId::kServerInfo);
    EXPECT_EQ(first[1].payload, (std::vector<uint8_t>{1, 0, 0, 0x7F}));
  }
  std::vector<uint8_t> bad{0x01, 0xAA, 0, 2, 5, 0};
  EXPECT_THROW(TakeServerFrames(bad), ProtocolError);
}

TEST(ClientWire, ReaderChecksBounds) {
  std::vector<uint8_t> p{0, 1, 5, 'a', 'b'};
  TWireReader r(p);
  EXPECT_EQ(r.U16(), 1);
  EXPECT_THROW(r.Str8(), ProtocolError) << "a count of 5 with 2 bytes left";
  TWireReader r2(p);
  EXPECT_THROW(r2.U64(), ProtocolError);
  r2.Skip(5);
  EXPECT_TRUE(r2.AtEnd());
  EXPECT_THROW(r2.U8(), ProtocolError);
}

}  // namespace
}  // namespace vornhal::client
