#include "data/text_rules.h"

#include <gtest/gtest.h>

namespace vornhal {
namespace {

TEST(ParseIntTest, AcceptsTheStrictSyntax) {
  EXPECT_EQ(ParseInt("42"), 42);
  EXPECT_EQ(ParseInt("  7"), 7);
  EXPECT_EQ(ParseInt("-5"), -5);
  EXPECT_EQ(ParseInt("+5"), 5);
  EXPECT_EQ(ParseInt("$FF"), 255);
  EXPECT_EQ(ParseInt("$ff"), 255);
  EXPECT_EQ(ParseInt("x10"), 16);
  EXPECT_EQ(ParseInt("X10"), 16);
  EXPECT_EQ(ParseInt("0x1F"), 31);
  EXPECT_EQ(ParseInt("0X1f"), 31);
  EXPECT_EQ(ParseInt("-$10"), -16);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt("007"), 7);
  EXPECT_EQ(ParseInt("-x5"), -5);
  EXPECT_EQ(ParseInt("+$10"), 16);
  EXPECT_EQ(ParseInt("$7FFFFFFF"), INT32_MAX);
  EXPECT_EQ(ParseInt("-$80000000"), INT32_MIN);
}

TEST(ParseIntTest, RejectsEverythingElse) {
  for (const char* bad : {"", " ", "7 ", "1a", "abc", "$", "0x", "x", "-", "+-1", "1.5", "2147483648",
                          "-2147483649", "$100000000", "99999999999999999999", "１",
                          "\t7", " 7 ", "$80000000", "$FFFFFFFF", "4294967295", "$-5", "0x0x1"}) {
    EXPECT_FALSE(ParseInt(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(TextRulesTest, LinesFieldsAndComments) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(TrimLine(" \t a, b \x01"), "a, b");
  EXPECT_TRUE(IsSkippedLine(""));
  EXPECT_TRUE(IsSkippedLine("; note"));
  EXPECT_TRUE(IsSkippedLine("// note"));
  EXPECT_FALSE(IsSkippedLine("/ x"));
  EXPECT_EQ(SplitCommas("a,,b ,"), (std::vector<std::string>{"a", "", "b ", ""}));
  EXPECT_EQ(SplitCommas("\"a,b\""), (std::vector<std::string>{"\"a", "b\""}));
}

TEST(MobFieldsTest, BlanksAndCommasSeparateAndQuotesGroup) {
  EXPECT_EQ(SplitMobFields("  a b,c ,  d"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitMobFields("a,,b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitMobFields("a,"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitMobFields("\"x y\",\"say \"\"hi\"\"\" z"),
            (std::vector<std::string>{"x y", "say \"hi\"", "z"}));
  EXPECT_EQ(SplitMobFields("\"open"), (std::vector<std::string>{"open"}));
  EXPECT_TRUE(SplitMobFields("   \t ").empty());
}

TEST(ParseBoolTest, WordsNumbersAndFractions) {
  for (const char* t : {"True", "true", "TRUE", "1", "-1", "$10", "0.5", "2e3"}) {
    EXPECT_EQ(ParseBool(t), true) << t;
  }
  for (const char* f : {"False", "false", "0", "0.0"}) EXPECT_EQ(ParseBool(f), false) << f;
  for (const char* bad : {"yes", "", "T", "1x", "nan", "inf", "+"}) {
    EXPECT_FALSE(ParseBool(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace vornhal
