// The shared big-endian reader and writer.
#include "net/wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornhal {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Wire, WriterAndReaderAgreeOnEveryField) {
  TWireWriter w;
  w.U8(0x01).U16(0x0203).U32(0x04050607).U64(0x08090A0B0C0D0E0F).Color({0x10, 0x11, 0x12});
  w.Str8("あ").Str16("xy").RawStr8("\x82\xA0").Bytes(Bytes{0xFE});
  EXPECT_EQ(w.Data(), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                             0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x02, 0x82, 0xA0, 0x00,
                             0x02, 'x', 'y', 0x02, 0x82, 0xA0, 0xFE}));

  TWireReader r(w.Data());
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.U16(), 0x0203);
  EXPECT_EQ(r.U32(), 0x04050607u);
  EXPECT_EQ(r.U64(), 0x08090A0B0C0D0E0Fu);
  EXPECT_EQ(r.Color(), (TAsColor{0x10, 0x11, 0x12}));
  EXPECT_EQ(r.Str8(), "あ");
  EXPECT_EQ(r.Str16(), "xy");
  EXPECT_EQ(r.RawStr8(), "\x82\xA0");
  EXPECT_EQ(r.Rest(), Bytes{0xFE});
  EXPECT_TRUE(r.AtEnd());
  EXPECT_NO_THROW(r.ExpectEnd("all"));

  const Bytes rgb{0xAB, 0xCD, 0xEF};
  TWireReader colour(rgb);
  EXPECT_EQ(colour.U24(), 0xABCDEFu);
}

TEST(Wire, TextsAreCutToTheirCountField) {
  TWireWriter w;
  w.RawStr8(std::string(300, 'a'));
  EXPECT_EQ(w.Size(), 256u);
  EXPECT_EQ(w.Data()[0], 255);
  TWireWriter empty;
  empty.Str8("").Bytes(nullptr, 0);
  EXPECT_EQ(empty.Data(), Bytes{0});
}

TEST(Wire, SetU16OverwritesAWrittenCountAndRefusesAPlaceNotWritten) {
  TWireWriter w;
  w.U16(0).U8(7);
  w.SetU16(0, 0x1234);
  EXPECT_EQ(w.Data(), (Bytes{0x12, 0x34, 7}));
  EXPECT_THROW(w.SetU16(2, 1), std::out_of_range);
  EXPECT_EQ(w.Data(), (Bytes{0x12, 0x34, 7}));
}

TEST(Wire, AReadPastTheEndRaisesAndReadsNothing) {
  const Bytes bytes{0x00, 0x05, 'a', 'b'};
  TWireReader r(bytes);
  EXPECT_EQ(r.U8(), 0);
  try {
    r.Str8();  // a count of 5 with 2 bytes left
    FAIL() << "no error";
  } catch (const ReadPastEndError& e) {
    EXPECT_STREQ(e.what(), "read of 5 bytes at position 2 beyond a body of 4 bytes");
  }
  EXPECT_EQ(r.Position(), 2u) << "the count byte was read, the text was not";
  EXPECT_THROW(r.U32(), ReadPastEndError);
  EXPECT_THROW(r.Skip(3), ReadPastEndError);
  EXPECT_EQ(r.Bytes(2), (Bytes{'a', 'b'}));
  EXPECT_THROW(r.U8(), WireError) << "a read past the end is a wire error";
  uint8_t out[1] = {0x77};
  EXPECT_THROW(r.Bytes(out, 1), ReadPastEndError);
  EXPECT_EQ(out[0], 0x77);

  TWireReader nothing;
  EXPECT_THROW(nothing.U8(), ReadPastEndError);
  EXPECT_NO_THROW(nothing.Skip(0));
}

TEST(Wire, ExpectEndNamesTheLeftoverBytes) {
  TWireReader r(std::string_view("abc"));
  r.U8();
  try {
    r.ExpectEnd("layout");
    FAIL() << "no error";
  } catch (const WireError& e) {
    EXPECT_STREQ(e.what(), "layout: 2 unexpected bytes after offset 1");
  }
}

}  // namespace
}  // namespace vornhal
