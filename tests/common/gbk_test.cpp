// GBK conversion below app/: UTF-8 round trips and bytes that are not valid GBK.
#include "engine/common/gbk.h"

#include <gtest/gtest.h>

namespace mt {
namespace {

TEST(GbkTest, Utf8RoundTrips) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"收入", "\xca\xd5\xc8\xeb"},
      {"支出", "\xd6\xa7\xb3\xf6"},
      {"szzb", "szzb"},
      {"", ""},
  };
  for (const auto& [utf8, gbk] : cases) {
    EXPECT_EQ(Utf8ToGbk(utf8), gbk);
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
  }
}

TEST(GbkTest, BadBytesBecomeReplacementAndUnencodableBecomesQuestionMark) {
  // A lead byte without a valid trail byte becomes one U+FFFD; the byte after it, when it
  // stands for a character of its own, is kept.
  const std::string replacement = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"ab\x81", "ab" + replacement},         {"\x81\x7f", replacement + "\x7f"},
      {"\x81\x7fz", replacement + "\x7fz"},   {"\x81 ", replacement + " "},
      {"\x81 \xca\xd5", replacement + " 收"},
  };
  for (const auto& [gbk, utf8] : bad)
    EXPECT_EQ(GbkToUtf8(gbk), utf8) << testing::PrintToString(gbk);
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");
  // A long text takes the slow path through the buffer sizing.
  std::string many;
  for (int i = 0; i < 5000; ++i)
    many += "账";
  EXPECT_EQ(GbkToUtf8(Utf8ToGbk(many)), many);
}

}  // namespace
}  // namespace mt
