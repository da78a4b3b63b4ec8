// GBK conversion below app/: UTF-8 round trips and bytes that are not valid GBK.
#include "engine/common/gbk.h"

#include <gtest/gtest.h>

#include "tests/gbkcases.h"

namespace mt {
namespace {

TEST(GbkTest, Utf8RoundTrips) {
  for (const test::TGbkRoundTrip& c : test::GbkRoundTrips()) {
    SCOPED_TRACE(c.name);
    const std::string gbk = Utf8ToGbk(c.utf8);
    if (c.gbk) {
      EXPECT_EQ(gbk, *c.gbk);
    }
    EXPECT_EQ(GbkToUtf8(gbk), c.utf8);
  }
}

TEST(GbkTest, BadBytesBecomeReplacementAndUnencodableBecomesQuestionMark) {
  for (const test::TGbkBadBytes& c : test::GbkBadBytes())
    EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << c.name;
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");
  // A long text takes the slow path through the buffer sizing.
  std::string many;
  for (int i = 0; i < 5000; ++i)
    many += "账";
  EXPECT_EQ(GbkToUtf8(Utf8ToGbk(many)), many);
}

}  // namespace
}  // namespace mt
