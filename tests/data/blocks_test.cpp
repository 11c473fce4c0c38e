#include <gtest/gtest.h>

#include "data/zlib_data.h"
#include "data_fixture.h"

namespace vornhal::test {
namespace {

std::string U16(uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)) + U16(static_cast<uint16_t>(v)); }
std::string Str8(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
std::string Utf16LE(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

TEST(ZLibDataTest, RoundTripsAndChecksums) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the standard check value
  EXPECT_EQ(Crc32(""), 0u);
  std::string big(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 5);
  TZLibData z = MakeZLibData(big);
  EXPECT_EQ(z.CRC32, Crc32(big));
  EXPECT_EQ(z.Size, static_cast<int32_t>(z.CompressedData.size()));
  EXPECT_EQ(static_cast<unsigned char>(z.CompressedData[0]), 0x78);  // zlib header
  EXPECT_EQ(ZDecompress(z.CompressedData), big);
  EXPECT_EQ(ZDecompress(ZCompress("")), "");
  EXPECT_THROW(ZDecompress("not zlib"), std::runtime_error);
  EXPECT_THROW(ZDecompress(z.CompressedData.substr(0, z.CompressedData.size() / 2)),
               std::runtime_error);
}

using DataBlockTest = DataFolderTest;

TEST_F(DataBlockTest, RuleTextBuiltInWhenMissing) {
  std::string out = Captured([&] { LoadRuleText(); });
  EXPECT_NE(out.find("\"Rule.txt\" が見つからないため、規約文を生成しました。"), std::string::npos);
  const std::string builtin("\x28\x81\x4C\x81\x45\x83\xD6\x81\x45\x81\x4D\x29", 12);
  EXPECT_EQ(FromCP932(builtin), "(´・ω・｀)");
  EXPECT_EQ(RuleData.CRC32, Crc32(builtin));
  EXPECT_EQ(ZDecompress(RuleData.CompressedData), builtin);
  EXPECT_EQ(RuleData.Size, static_cast<int32_t>(RuleData.CompressedData.size()));
}

TEST_F(DataBlockTest, RuleTextFromFileAsStored) {
  const std::string bytes = ToCP932("規約\r\n第一条\r\n");
  WriteBytes("db/Rule.txt", bytes);
  std::string out = Captured([&] { LoadRuleText(); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(ZDecompress(RuleData.CompressedData), bytes);
  EXPECT_EQ(RuleData.CRC32, Crc32(bytes));
}

TEST_F(DataBlockTest, ScriptsConvertedListedAndCompressed) {
  const std::string a_text = "<a>案内</a>";
  WriteBytes("script/Alpha.xml", Utf16LE(u"<a>案内</a>"));
  WriteBytes("script/b.xml", Utf16LE(u"\uFEFF<b/>"));  // a byte-order mark is converted too
  WriteBytes("script/notes.txt", "ignored");
  CreateScriptDataList();
  const std::string a_cp932 = ToCP932(a_text);
  const std::string b_cp932 = ToCP932("\uFEFF<b/>");
  EXPECT_EQ(b_cp932, "?<b/>");
  ASSERT_EQ(ScriptCRCs.size(), 2u);
  EXPECT_EQ(ScriptCRCs.at("Alpha"), Crc32(a_cp932));
  EXPECT_EQ(ScriptCRCs.at("b"), Crc32(b_cp932));
  EXPECT_EQ(ScriptCRCs.count("alpha"), 0u);  // names keep their letter case
  EXPECT_EQ(ZDecompress(ScriptFiles.at("Alpha")), a_cp932);
  EXPECT_EQ(ScriptList, U16(2) + Str8("Alpha") + U32(Crc32(a_cp932)) + Str8("b") +
                            U32(Crc32(b_cp932)));
}

TEST_F(DataBlockTest, NoScriptFolderGivesAnEmptyList) {
  CreateScriptDataList();
  EXPECT_EQ(ScriptList, U16(0));
  EXPECT_TRUE(ScriptCRCs.empty());
}

TEST_F(DataBlockTest, TempIndexWithAMissingFile) {
  const std::string one = "first file", three = "third file";
  std::string index = U16(3) + Str8("One") + Str8("one.tmp") + Str8("Two") + Str8("missing.tmp") +
                      Str8(ToCP932("三")) + Str8("three.tmp");
  WriteBytes("temp/temp02281004", "HEAD" + ZCompress(index));
  WriteBytes("temp/one.tmp", ZCompress(one));
  WriteBytes("temp/three.tmp", ZCompress(three));
  LoadTempData();
  EXPECT_EQ(TempList, U16(2) + Str8("One") + U32(Crc32(one)) + Str8(ToCP932("三")) +
                          U32(Crc32(three)));
  EXPECT_EQ(TempCRCs.size(), 2u);
  EXPECT_EQ(TempCRCs.at("三"), Crc32(three));
  EXPECT_EQ(TempFiles.at("One"), ZCompress(one));  // kept as stored
  EXPECT_EQ(TempFiles.count("Two"), 0u);
}

TEST_F(DataBlockTest, NoTempIndexLeavesTheListEmpty) {
  LoadTempData();
  EXPECT_EQ(TempList, U16(0));
  EXPECT_TRUE(TempFiles.empty());
}

TEST_F(DataBlockTest, CorruptTempDataStopsStartUp) {
  struct Case {
    const char* what;
    std::string index;
    std::string bad_file;  // the file named by the index
  };
  const Case cases[] = {
      {"shorter than 4 bytes", "abc", ""},
      {"index not zlib", "HEADgarbage", ""},
      {"index shorter than its count", "HEAD" + ZCompress(U16(2) + Str8("a") + Str8("a.tmp")), ""},
      {"temp file not zlib", "HEAD" + ZCompress(U16(1) + Str8("a") + Str8("a.tmp")), "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes("temp/temp02281004", c.index);
    WriteBytes("temp/a.tmp", c.bad_file.empty() ? ZCompress("ok") : c.bad_file);
    try {
      LoadTempData();
      ADD_FAILURE() << "must stop start-up";
    } catch (const FatalDataError& e) {
      EXPECT_NE(std::string(e.what()).find("temp"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace vornhal::test
