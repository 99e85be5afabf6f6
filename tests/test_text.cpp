// The settings readers' text helpers, where a byte's class decides what a reader takes.
#include "text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace wininet::preconfig;
using namespace std::string_view_literals;

TEST(Text, TrimTakesOnlyTheGivenSpaceFromTheEnds) {
  const struct {
    std::string_view text;
    std::string_view space;
    std::string_view trimmed;
  } cases[] = {
      {" \t proxy 3128\r\n", kSpace, "proxy 3128"},
      {"\r\n\t ", kSpace, ""},
      {"", kSpace, ""},
      // A NUL is data, never padding: dropping it would make "::1\0" pass for "::1".
      {"\0::1\0"sv, kSpace, "\0::1\0"sv},
      {" value\\n\n", " \t\r", "value\\n\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(Trim(c.text, c.space), c.trimmed);
  }
  EXPECT_FALSE(IsSpace('\0'));
  EXPECT_FALSE(IsSpace('\v'));
}

TEST(Text, DigitsAndCase) {
  const struct {
    char c;
    int hex;
  } digits[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'F', 15}, {'/', -1},   {':', -1},
                {'@', -1}, {'G', -1}, {'`', -1}, {'g', -1}, {'\xe1', -1}};
  for (const auto &d : digits) {
    SCOPED_TRACE(d.c);
    EXPECT_EQ(HexDigit(d.c), d.hex);
  }
  EXPECT_TRUE(IsDigits("065535"));
  EXPECT_FALSE(IsDigits("8o"));
  EXPECT_FALSE(IsDigits("-1"));
  EXPECT_EQ(Lower("Proxy.ZELVA.example:8080"), "proxy.zelva.example:8080");
}

} // namespace
