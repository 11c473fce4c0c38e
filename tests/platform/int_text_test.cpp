// The integer-text reader and each of its rules.
#include "platform/int_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace vornhal {
namespace {

using Blanks = TIntTextRules::Blanks;

// The error of a text that is refused, or nothing when it is read.
std::optional<TIntTextError> Refusal(std::string_view text, const TIntTextRules& rules) {
  TIntTextError error = TIntTextError::kNotANumber;
  if (ParseIntText(text, rules, &error)) return std::nullopt;
  return error;
}

TEST(IntText, DecimalBySignAndDigitsOnly) {
  const TIntTextRules plain;
  EXPECT_EQ(ParseIntText("42", plain), 42);
  EXPECT_EQ(ParseIntText("-7", plain), -7);
  EXPECT_EQ(ParseIntText("+7", plain), 7);
  EXPECT_EQ(ParseIntText("-0", plain), 0);
  EXPECT_EQ(ParseIntText("0042", plain), 42);
  for (const char* bad : {"", "+", "-", "+-1", "--1", " 1", "1 ", "1.0", "1e3", "$10", "0x10", "x10",
                          "12a", "\xEF\xBC\x91"}) {
    EXPECT_EQ(Refusal(bad, plain), TIntTextError::kNotANumber) << '"' << bad << '"';
  }
  const TIntTextRules no_plus{.plus_sign = false};
  EXPECT_EQ(Refusal("+7", no_plus), TIntTextError::kNotANumber);
  EXPECT_EQ(ParseIntText("-7", no_plus), -7);
}

TEST(IntText, TheRangeIsInclusiveAndHugeNumbersAreOutOfItNotMalformed) {
  const TIntTextRules byte{.min = 0, .max = 255};
  EXPECT_EQ(ParseIntText("0", byte), 0);
  EXPECT_EQ(ParseIntText("255", byte), 255);
  EXPECT_EQ(Refusal("256", byte), TIntTextError::kOutOfRange);
  EXPECT_EQ(Refusal("-1", byte), TIntTextError::kOutOfRange);
  const TIntTextRules wide{.min = INT64_MIN, .max = INT64_MAX};
  EXPECT_EQ(ParseIntText("4611686018427387904", wide), int64_t{1} << 62);
  EXPECT_EQ(ParseIntText("-4611686018427387904", wide), -(int64_t{1} << 62));
  for (const char* huge : {"4611686018427387905", "18446744073709551616", "999999999999999999999999"}) {
    EXPECT_EQ(Refusal(huge, wide), TIntTextError::kOutOfRange) << huge;
  }
  // Digits decide first: a huge run of digits followed by a letter is no number at all.
  EXPECT_EQ(Refusal("999999999999999999999999x", wide), TIntTextError::kNotANumber);
  // The default range is that of a signed 32-bit number.
  EXPECT_EQ(ParseIntText("-2147483648", {}), INT32_MIN);
  EXPECT_EQ(Refusal("2147483648", {}), TIntTextError::kOutOfRange);
}

TEST(IntText, HexadecimalPrefixes) {
  const TIntTextRules hex{.hex = true};
  EXPECT_EQ(ParseIntText("$1f", hex), 31);
  EXPECT_EQ(ParseIntText("0X1F", hex), 31);
  EXPECT_EQ(ParseIntText("-$10", hex), -16);
  EXPECT_EQ(ParseIntText("+0x10", hex), 16);
  EXPECT_EQ(Refusal("x10", hex), TIntTextError::kNotANumber);
  EXPECT_EQ(Refusal("1F", hex), TIntTextError::kNotANumber) << "no prefix: decimal";
  for (const char* bad : {"$", "0x", "$-1", "$$1", "0x0x1", "$G"}) {
    EXPECT_EQ(Refusal(bad, hex), TIntTextError::kNotANumber) << bad;
  }
  EXPECT_EQ(Refusal("$80000000", hex), TIntTextError::kOutOfRange);
  const TIntTextRules with_x{.hex = true, .hex_x = true};
  EXPECT_EQ(ParseIntText("x10", with_x), 16);
  EXPECT_EQ(ParseIntText("-X10", with_x), -16);
  EXPECT_EQ(Refusal("x", with_x), TIntTextError::kNotANumber);
  EXPECT_EQ(Refusal("x10", TIntTextRules{.hex_x = true}), TIntTextError::kNotANumber)
      << "x alone does not turn hexadecimal on";
}

TEST(IntText, ThirtyTwoBitHexadecimal) {
  const TIntTextRules bits{.hex = true, .hex_is_32_bits = true};
  EXPECT_EQ(ParseIntText("$FFFFFFFF", bits), -1);
  EXPECT_EQ(ParseIntText("$80000000", bits), INT32_MIN);
  EXPECT_EQ(ParseIntText("$7FFFFFFF", bits), INT32_MAX);
  EXPECT_EQ(ParseIntText("-$80000000", bits), INT32_MIN);
  EXPECT_EQ(Refusal("-$FFFFFFFF", bits), TIntTextError::kOutOfRange) << "a '-' leaves the bits";
  EXPECT_EQ(Refusal("$100000000", bits), TIntTextError::kOutOfRange);
  EXPECT_EQ(Refusal("4294967295", bits), TIntTextError::kOutOfRange) << "decimal is no bit pattern";
}

TEST(IntText, Blanks) {
  const TIntTextRules leading{.blanks = Blanks::kLeadingSpaces};
  EXPECT_EQ(ParseIntText("   7", leading), 7);
  for (const char* bad : {"7 ", "\t7", " ", "- 7"}) {
    EXPECT_EQ(Refusal(bad, leading), TIntTextError::kNotANumber) << '"' << bad << '"';
  }
  const TIntTextRules around{.blanks = Blanks::kSpacesAndTabs};
  EXPECT_EQ(ParseIntText(" \t-7\t ", around), -7);
  for (const char* bad : {"1 2", " \t ", "\n7", "- 7"}) {
    EXPECT_EQ(Refusal(bad, around), TIntTextError::kNotANumber) << '"' << bad << '"';
  }
}

TEST(IntText, WithoutAnErrorPlaceAFailureIsJustNothing) {
  EXPECT_FALSE(ParseIntText("abc", {}).has_value());
  EXPECT_FALSE(ParseIntText("99999999999", {}).has_value());
}

}  // namespace
}  // namespace vornhal
