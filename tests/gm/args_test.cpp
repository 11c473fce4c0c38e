// Command-line splitting and the number readers of the GM commands.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gm/debug_command.h"

namespace vornhal {
namespace {

using Words = std::vector<std::string>;

TEST(TArgsSplit, CutsAtEveryBlankAndLowerCasesOnlyTheCommand) {
  TArgs a("GoTo 10055 AbC");
  EXPECT_EQ(a.FCommand, "goto");
  EXPECT_EQ(a.FArgs, (Words{"10055", "AbC"}));
  EXPECT_EQ(a.Count(), 2);

  TArgs single("HELP");
  EXPECT_EQ(single.FCommand, "help");
  EXPECT_EQ(single.Count(), 0);
}

TEST(TArgsSplit, EmptyWordsFromDoubleLeadingAndTrailingBlanks) {
  TArgs twice("say  x");
  EXPECT_EQ(twice.FCommand, "say");
  EXPECT_EQ(twice.FArgs, (Words{"", "x"}));

  TArgs trailing("shout hi ");
  EXPECT_EQ(trailing.FArgs, (Words{"hi", ""}));

  TArgs leading(" help");
  EXPECT_EQ(leading.FCommand, "");
  EXPECT_EQ(leading.FArgs, (Words{"help"}));
}

TEST(TArgsSplit, OnlyTheAsciiBlankSeparatesAndOnlyAToZIsLowered) {
  // Tabs and the ideographic space stay inside the word; non-ASCII letters keep their case.
  TArgs a("ÄB\tC\xE3\x80\x80" "D x");
  EXPECT_EQ(a.FCommand, "Äb\tc\xE3\x80\x80" "d");
  EXPECT_EQ(a.FArgs, (Words{"x"}));
}

TEST(TArgsNumbers, DecimalAndHexForms) {
  TArgs a("c 42 -5 +7 $FF 0x1f x10 0X1F $ff");
  EXPECT_EQ(a.GetValueAsInt(0, 0), 42);
  EXPECT_EQ(a.GetValueAsInt(1, 0), -5);
  EXPECT_EQ(a.GetValueAsInt(2, 0), 7);
  EXPECT_EQ(a.GetValueAsInt(3, 0), 255);
  EXPECT_EQ(a.GetValueAsInt(4, 0), 31);
  EXPECT_EQ(a.GetValueAsInt(5, 0), 16);
  EXPECT_EQ(a.GetValueAsInt(6, 0), 31);
  EXPECT_EQ(a.GetValueAsUInt(7, 0), 255u);
  TArgs b("c -x5 -$10");
  EXPECT_EQ(b.GetValueAsInt(0, 0), -5);
  EXPECT_EQ(b.GetValueAsInt(1, 0), -16);
}

TEST(TArgsNumbers, RejectsGarbageAroundOrInsteadOfDigits) {
  TArgs a("c 12a a12 x $ 0x - + 1.5 \xEF\xBC\x91 $G 1_0 --5 $-5 0x0x1 1e3");
  for (int i = 0; i < a.Count(); ++i) {
    int32_t v = 77;
    EXPECT_FALSE(a.TryGetValue(i, v)) << "word " << i << " '" << a.FArgs[i] << "'";
    EXPECT_EQ(v, 77) << "a failed read must leave the value alone";
    EXPECT_EQ(a.GetValueAsInt(i, -9), -9);
  }
  TArgs empty("c  1");  // first argument is the empty word
  EXPECT_EQ(empty.GetValueAsInt(0, 3), 3);
  EXPECT_EQ(empty.GetValueAsInt(1, 3), 1);
}

TEST(TArgsNumbers, SignedRangeLimits) {
  TArgs a("c 2147483647 -2147483648 2147483648 -2147483649 $7FFFFFFF $80000000 99999999999999999999");
  int32_t v = 0;
  ASSERT_TRUE(a.TryGetValue(0, v));
  EXPECT_EQ(v, INT32_MAX);
  ASSERT_TRUE(a.TryGetValue(1, v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_FALSE(a.TryGetValue(2, v));
  EXPECT_FALSE(a.TryGetValue(3, v));
  ASSERT_TRUE(a.TryGetValue(4, v));
  EXPECT_EQ(v, INT32_MAX);
  EXPECT_FALSE(a.TryGetValue(5, v));
  EXPECT_FALSE(a.TryGetValue(6, v));
}

TEST(TArgsNumbers, UnsignedRangeLimits) {
  TArgs a("c 4294967295 4294967296 -1 -0 $FFFFFFFF 0x100000000 0");
  uint32_t v = 0;
  ASSERT_TRUE(a.TryGetValue(0, v));
  EXPECT_EQ(v, UINT32_MAX);
  EXPECT_FALSE(a.TryGetValue(1, v));
  EXPECT_FALSE(a.TryGetValue(2, v));
  ASSERT_TRUE(a.TryGetValue(3, v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(a.TryGetValue(4, v));
  EXPECT_EQ(v, UINT32_MAX);
  EXPECT_FALSE(a.TryGetValue(5, v));
  EXPECT_EQ(a.GetValueAsUInt(2, 12u), 12u);
  EXPECT_EQ(a.GetValueAsUInt(6, 12u), 0u);
  // The same word read signed: 4294967295 is beyond the signed range.
  EXPECT_EQ(a.GetValueAsInt(0, -3), -3);
}

TEST(TArgsAccess, IndexOutOfRange) {
  TArgs a("c one");
  int32_t i = 5;
  uint32_t u = 5;
  std::string s = "keep";
  EXPECT_FALSE(a.TryGetValue(1, i));
  EXPECT_FALSE(a.TryGetValue(-1, u));
  EXPECT_FALSE(a.TryGetValue(1, s));
  EXPECT_EQ(s, "") << "the string form empties the value before failing";
  EXPECT_TRUE(a.TryGetValue(0, s));
  EXPECT_EQ(s, "one");
  EXPECT_EQ(a.GetValueAsStr(0, "d"), "one");
  EXPECT_EQ(a.GetValueAsStr(1, "d"), "d");
  EXPECT_EQ(a.GetValueAsStr(-1, "d"), "d");
  EXPECT_EQ(a.GetValueAsInt(3, 8), 8);
}

}  // namespace
}  // namespace vornhal
