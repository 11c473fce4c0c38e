// Client text in log lines.
#include <gtest/gtest.h>

#include "platform/log.h"

namespace vornhal {
namespace {

TEST(EscapeLogText, ControlCharactersAndBackslashesCannotForgeALine) {
  EXPECT_EQ(EscapeLogText("plain 名前"), "plain 名前");
  EXPECT_EQ(EscapeLogText("a\nb\r\tc"), "a\\x0Ab\\x0D\\x09c");
  EXPECT_EQ(EscapeLogText(std::string("x\0y\x7f", 4)), "x\\x00y\\x7F");
  // A backslash is doubled, so "\x0A" typed by a client stays distinguishable from an escape.
  EXPECT_EQ(EscapeLogText("\\x0A"), "\\\\x0A");
}

TEST(EscapeLogText, LongTextIsCutOnACharacterBoundary) {
  EXPECT_EQ(EscapeLogText("abcdef", 4), "abcd...");
  EXPECT_EQ(EscapeLogText("abcd", 4), "abcd");
  // "あ" is three bytes: a cut inside the second one drops it whole.
  std::string cut = EscapeLogText("ああ", 4);
  EXPECT_EQ(cut, "あ...");
}

}  // namespace
}  // namespace vornhal
