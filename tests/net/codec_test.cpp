// The wire codec: scrambling, frames built by TPacket, and the session readers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/packet.h"
#include "net/session.h"
#include "support/recording_connection.h"

namespace vornhal {
namespace {

using Bytes = std::vector<uint8_t>;

uint8_t Key(size_t i) { return static_cast<uint8_t>(PacketKey[i % PacketKey.size()]); }

TEST(Scramble, ServerSeedComplementsFirstPassThenXorsWithPassNumber) {
  ASSERT_EQ(PacketKeyLength, 10);
  Bytes p(40, 0x5C);
  Scramble(p.data(), p.size(), 0);
  EXPECT_EQ(p[0], static_cast<uint8_t>(~(0x5C ^ Key(0))));
  EXPECT_EQ(p[9], static_cast<uint8_t>(~(0x5C ^ Key(9))));
  EXPECT_EQ(p[10], static_cast<uint8_t>(0x5C ^ Key(10) ^ 1));
  EXPECT_EQ(p[25], static_cast<uint8_t>(0x5C ^ Key(25) ^ 2));
  EXPECT_EQ(p[39], static_cast<uint8_t>(0x5C ^ Key(39) ^ 3));
}

TEST(Scramble, ClientSeedSwapsItsPassWithTheComplement) {
  Bytes p(45, 0x11);
  Scramble(p.data(), p.size(), 3);
  // Pass 0 is XORed with 0; pass 3 (bytes 30..39) is complemented; pass 4 XORed with 4.
  EXPECT_EQ(p[0], static_cast<uint8_t>(0x11 ^ 3 ^ Key(0)));
  EXPECT_EQ(p[15], static_cast<uint8_t>(0x11 ^ 3 ^ Key(15) ^ 1));
  EXPECT_EQ(p[30], static_cast<uint8_t>(~(0x11 ^ 3 ^ Key(30))));
  EXPECT_EQ(p[39], static_cast<uint8_t>(~(0x11 ^ 3 ^ Key(39))));
  EXPECT_EQ(p[40], static_cast<uint8_t>(0x11 ^ 3 ^ Key(40) ^ 4));
}

TEST(Scramble, TheComplementComesBackAfter256Passes) {
  Bytes p(2571, 0);
  Scramble(p.data(), p.size(), 0);
  EXPECT_EQ(p[2559], static_cast<uint8_t>(Key(2559) ^ 255));
  EXPECT_EQ(p[2560], static_cast<uint8_t>(~Key(2560)));
  EXPECT_EQ(p[2570], static_cast<uint8_t>(Key(2570) ^ 1));
}

TEST(Scramble, IsItsOwnInverseForEverySeedAndLength) {
  Bytes original(3000);
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 37 + 11);
  for (int seed = 0; seed < 256; ++seed) {
    for (size_t len : {0, 1, 2, 9, 10, 11, 99, 100, 101, 2559, 2560, 2561, 3000}) {
      Bytes p(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(len));
      Scramble(p.data(), p.size(), static_cast<uint8_t>(seed));
      if (len >= 10) {
        EXPECT_NE(p, Bytes(original.begin(), original.begin() + len)) << seed;
      }
      Scramble(p.data(), p.size(), static_cast<uint8_t>(seed));
      ASSERT_EQ(p, Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(len)))
          << "seed " << seed << " length " << len;
    }
  }
}

TEST(Packet, SeededIdCarriesLengthSeedAndScrambledPayload) {
  TPacket p(TServerPacketId::kResult);
  p.WriteByte(5);
  EXPECT_EQ(p.Frame(), (Bytes{0xAA, 0x00, 0x03, 0x02, 0x00, static_cast<uint8_t>(~(5 ^ Key(0)))}));

  TPacket empty(TServerPacketId::kMapObjects);
  EXPECT_EQ(empty.Frame(), (Bytes{0xAA, 0x00, 0x02, 0x07, 0x00}));
}

TEST(Packet, ServerExemptIdsGoWithoutSeedAndInClear) {
  using S = TServerPacketId;
  for (S id : {S::kVersionResult, S::kServerInfo, S::kGreeting}) {
    TPacket p(id);
    p.WriteByte(0x41);
    p.WriteWord(0x4243);
    EXPECT_EQ(p.Frame(), (Bytes{0xAA, 0x00, 0x04, IdByte(id), 0x41, 0x42, 0x43})) << id;
  }
  // Ids 11 and 16 are exempt only from client to server.
  for (S id : {S::kMoveAck, S::kInventoryClear}) {
    TPacket p(id);
    p.WriteByte(0x41);
    EXPECT_EQ(p.Frame().size(), 6u) << id;
    EXPECT_EQ(p.Frame()[4], 0);
  }
}

TEST(Packet, WritersUseBigEndianAndColourOrder) {
  TPacket p(TServerPacketId::kVersionResult);
  p.WriteByte(0x01);
  p.WriteWord(0x0203);
  p.WriteLong(0x04050607);
  p.WriteInt64(0x08090A0B0C0D0E0FULL);
  p.WriteColor(TAsColor{0x10, 0x11, 0x12});
  p.WriteShortStr("ab");
  p.WriteLongStr("cd");
  p.WriteKeyValue("k", "v");
  int zero = 0;
  p.WriteBuffer(&zero, 0);
  p.WriteBuffer(&zero, -3);
  Bytes expect = {0xAA, 0, 0, 0,    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                  0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 2, 'a', 'b', 0, 2, 'c', 'd',
                  1,    'k',  1,    'v'};
  expect[2] = static_cast<uint8_t>(expect.size() - 3);
  EXPECT_EQ(p.Frame(), expect);
}

TEST(Packet, StringsAreCodePage932AndCutOnTheConvertedBytes) {
  TPacket p(TServerPacketId::kVersionResult);
  p.WriteShortStr("");
  p.WriteShortStr("あ");  // 82 A0
  EXPECT_EQ(p.Frame(), (Bytes{0xAA, 0, 5, 0, 0, 2, 0x82, 0xA0}));

  std::string text;
  for (int i = 0; i < 150; ++i) text += "あ";  // 300 bytes in code page 932
  TPacket s(TServerPacketId::kVersionResult);
  s.WriteShortStr(text);
  const Bytes& f = s.Frame();
  ASSERT_EQ(f.size(), 4u + 1 + 255);
  EXPECT_EQ(f[4], 255);
  EXPECT_EQ(f[5 + 254], 0x82);  // the cut splits the 128th character

  std::string longer;
  for (int i = 0; i < 33000; ++i) longer += "あ";  // 66000 bytes
  TPacket l(TServerPacketId::kVersionResult);
  l.WriteLongStr(longer);
  const Bytes& g = l.Buffer();
  ASSERT_EQ(g.size(), 4u + 2 + 65535);
  EXPECT_EQ(g[4], 0xFF);
  EXPECT_EQ(g[5], 0xFF);
  EXPECT_EQ(g.back(), 0x82);

  TWireWriter stream;
  stream.Str8(text);
  EXPECT_EQ(stream.Size(), 256u);
  EXPECT_EQ(stream.Data()[0], 255);
}

TEST(Packet, BlockWriterMatchesThePacketWriters) {
  TWireWriter w;
  w.U8(0x01).U16(0x0203).U32(0x04050607).Str8("xy");
  EXPECT_EQ(w.Text(), std::string("\x01\x02\x03\x04\x05\x06\x07\x02xy", 10));
}

TEST(Packet, EncodesOnceForEveryReceiverAndRefusesLaterWrites) {
  TPacket p(TServerPacketId::kMessage);
  p.WriteLong(0xDEADBEEF);
  test::RecordingConnection a, b, c;
  p.SendTo(&a);
  p.SendTo(&b, &c);
  EXPECT_TRUE(p.IsEncoded());
  EXPECT_EQ(a.Bytes(), b.Bytes());
  EXPECT_EQ(a.Bytes(), c.Bytes());
  ASSERT_EQ(a.Frames().size(), 1u);
  EXPECT_EQ(a.Frames()[0].payload, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));

  Bytes before = p.Buffer();
  EXPECT_THROW(p.WriteByte(1), PacketError);
  try {
    p.WriteShortStr("");
  } catch (const PacketError& e) {
    EXPECT_STREQ(e.what(), "これ以上書き込めません");
  }
  EXPECT_NO_THROW(p.WriteBuffer(nullptr, 0));
  EXPECT_EQ(p.Buffer(), before);
  p.SendTo(&a);
  EXPECT_EQ(a.Frames().size(), 2u);
  EXPECT_EQ(a.Frames()[1].payload, a.Frames()[0].payload);
}

TEST(Packet, ASendThatReachesNobodyLeavesThePacketOpen) {
  TPacket p(TServerPacketId::kMessage);
  p.WriteByte(1);
  test::RecordingConnection closed;
  closed.SetConnected(false);
  p.SendTo(static_cast<TConnection*>(nullptr));
  p.SendTo(&closed);
  EXPECT_FALSE(p.IsEncoded());
  EXPECT_TRUE(closed.Bytes().empty());
  p.WriteByte(2);
  test::RecordingConnection open;
  p.SendTo(&open);
  ASSERT_EQ(open.Frames().size(), 1u);
  EXPECT_EQ(open.Frames()[0].payload, (Bytes{1, 2}));
}

class PlainSession : public TSession {
 public:
  PlainSession() : TSession(nullptr) {}
  void ParsePacket(TConnection&, uint8_t) override {}
};

Bytes ClientBody(uint8_t id, uint8_t seed, Bytes payload) {
  Bytes body{id};
  if (!ClientIdWithoutSeed(id)) {
    body.push_back(seed);
    Scramble(payload.data(), payload.size(), seed);
  }
  body.insert(body.end(), payload.begin(), payload.end());
  return body;
}

TEST(SessionReaders, UnscrambleWithTheClientSeedAndReadEveryType) {
  for (int seed : {0, 1, 77, 255}) {
    Bytes payload = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 3, 0x82, 0xA0, 'z', 9, 8, 7, 0xEE};
    Bytes body = ClientBody(40, static_cast<uint8_t>(seed), payload);
    PlainSession s;
    EXPECT_EQ(s.LoadBody(body.data(), body.size()), 40);
    EXPECT_EQ(s.ReadPosition(), 2u);
    EXPECT_EQ(s.ReadByte(), 0x01);
    EXPECT_EQ(s.ReadWord(), 0x0203);
    EXPECT_EQ(s.ReadLong(), 0x04050607u);
    EXPECT_EQ(s.ReadShortStr(), "あz");
    EXPECT_EQ(s.ReadColor(), (TAsColor{9, 8, 7}));
    uint8_t last = 0;
    s.ReadBuffer(&last, 1);
    EXPECT_EQ(last, 0xEE);
    EXPECT_THROW(s.ReadByte(), ReadPastEndError);
  }
}

TEST(SessionReaders, ClientExemptIdsAreReadInClear) {
  for (uint8_t id : {0, 11, 16, 126}) {
    Bytes body = {id, 0x12, 0x34};
    PlainSession s;
    s.LoadBody(body.data(), body.size());
    EXPECT_EQ(s.ReadWord(), 0x1234) << int(id);
  }
  // 3 is exempt only from server to client: its second byte is a seed.
  Bytes body = ClientBody(3, 9, {0x55});
  PlainSession s;
  s.LoadBody(body.data(), body.size());
  EXPECT_EQ(s.ReadByte(), 0x55);
}

TEST(SessionReaders, ABodyOfIdAndSeedOnlyIsLeftAsItIs) {
  Bytes body = {40, 0x99};
  PlainSession s;
  s.LoadBody(body.data(), body.size());
  EXPECT_EQ(s.ReadByte(), 0x99);
}

TEST(SessionReaders, NeverReturnBytesOfAnEarlierBody) {
  PlainSession s;
  Bytes first = ClientBody(40, 5, {1, 2, 3, 4, 5, 6, 7, 8});
  s.LoadBody(first.data(), first.size());
  Bytes second = ClientBody(40, 5, {9});
  s.LoadBody(second.data(), second.size());
  EXPECT_EQ(s.ReadByte(), 9);
  EXPECT_THROW(s.ReadWord(), ReadPastEndError);
  EXPECT_THROW(s.ReadShortStr(), ReadPastEndError);
  uint8_t buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 4), ReadPastEndError);
  // A string count larger than what follows is refused too.
  Bytes third = ClientBody(40, 5, {10, 'a'});
  s.LoadBody(third.data(), third.size());
  EXPECT_THROW(s.ReadShortStr(), ReadPastEndError);
}

}  // namespace
}  // namespace vornhal
