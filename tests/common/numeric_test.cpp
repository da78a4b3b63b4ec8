// BCD and extended-float encodings: rounding, byte layout, ordering and exact round trips.
#include "engine/common/numeric.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace mt {
namespace {

TEST(BcdTest, TextRoundsToTheScale) {
  struct Case {
    const char* text;
    int scale;
    const char* expected;  // nullptr: refused
  };
  const std::vector<Case> cases = {
      {"12.345", 2, "12.35"},
      {"12.344", 2, "12.34"},
      {"-12.345", 2, "-12.35"},
      {"99.995", 2, "100.00"},
      {"-0.001", 2, "0.00"},
      {"0", 4, "0.0000"},
      {"-1.5", 0, "-2"},
      {" 007.1 ", 1, "7.1"},
      {".5", 1, "0.5"},
      {"5.", 0, "5"},
      {"+3", 2, "3.00"},
      {"1e5", 2, nullptr},
      {"abc", 0, nullptr},
      {"", 0, nullptr},
      {"-", 0, nullptr},
      {"1.2.3", 0, nullptr},
      {"1234567890123456789012345678901234567890123456789012345678901234", 0,
       "1234567890123456789012345678901234567890123456789012345678901234"},
      {"12345678901234567890123456789012345678901234567890123456789012345", 0, nullptr},
  };
  for (const Case& c : cases) {
    TBcd b{};
    const bool ok = TextToBcd(c.text, c.scale, b);
    EXPECT_EQ(ok, c.expected != nullptr) << c.text;
    if (ok && c.expected) {
      EXPECT_EQ(BcdToText(b), c.expected) << c.text;
    }
  }
}

TEST(BcdTest, ByteLayout) {
  TBcd b{};
  ASSERT_TRUE(TextToBcd("-12.5", 2, b));
  EXPECT_EQ(b[0], 4);     // digits 1 2 5 0
  EXPECT_EQ(b[1], 0x82);  // negative, 2 places
  EXPECT_EQ(b[2], 0x12);
  EXPECT_EQ(b[3], 0x50);
  for (std::size_t i = 4; i < kBcdSize; ++i)
    EXPECT_EQ(b[i], 0) << i;
  EXPECT_DOUBLE_EQ(BcdToDouble(b), -12.5);

  TBcd damaged = b;
  damaged[2] = 0xA1;  // a nibble above 9
  EXPECT_FALSE(IsValidBcd(damaged));
  EXPECT_EQ(BcdToText(damaged), "0");
  damaged = b;
  damaged[0] = 65;
  EXPECT_FALSE(IsValidBcd(damaged));
}

TEST(BcdTest, CompareOrdersByValue) {
  const std::vector<std::pair<const char*, int>> ordered = {
      {"-1000", 0}, {"-2.5", 1}, {"-0.0001", 4}, {"0", 0},    {"0.0001", 4},
      {"0.01", 2},  {"1", 3},    {"1.0001", 4},  {"9.99", 2}, {"10", 0},
  };
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    for (std::size_t j = 0; j < ordered.size(); ++j) {
      TBcd a{}, b{};
      ASSERT_TRUE(TextToBcd(ordered[i].first, ordered[i].second, a));
      ASSERT_TRUE(TextToBcd(ordered[j].first, ordered[j].second, b));
      const int expected = i < j ? -1 : (i > j ? 1 : 0);
      EXPECT_EQ(CompareBcd(a, b), expected) << ordered[i].first << " vs " << ordered[j].first;
    }
  }
  TBcd x{}, y{};
  ASSERT_TRUE(TextToBcd("1.50", 2, x));
  ASSERT_TRUE(TextToBcd("1.5", 1, y));
  EXPECT_EQ(CompareBcd(x, y), 0);
}

TEST(BcdTest, FromDouble) {
  TBcd b{};
  ASSERT_TRUE(DoubleToBcd(-0.5, 4, b));
  EXPECT_EQ(BcdToText(b), "-0.5000");
  ASSERT_TRUE(DoubleToBcd(1234.5678, 2, b));
  EXPECT_EQ(BcdToText(b), "1234.57");
  EXPECT_FALSE(DoubleToBcd(INFINITY, 2, b));
  EXPECT_FALSE(DoubleToBcd(1e80, 0, b));
}

TEST(ExtendedTest, DoublesRoundTripExactly) {
  const std::vector<double> values = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.5,
                                      0.1,
                                      -123456.789,
                                      std::numeric_limits<double>::max(),
                                      -std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::min(),
                                      std::numeric_limits<double>::denorm_min(),
                                      -1e-310,
                                      INFINITY,
                                      -INFINITY};
  for (double v : values) {
    const TExtended e = DoubleToExtended(v);
    const double back = ExtendedToDouble(e);
    EXPECT_EQ(back, v) << v;
    EXPECT_EQ(std::signbit(back), std::signbit(v)) << v;
#if defined(__x86_64__) || defined(__i386__)
    // The host's long double is the same 80-bit format: the bytes must agree.
    static_assert(LDBL_MANT_DIG == 64);
    const long double native = v;
    EXPECT_EQ(std::memcmp(&native, e.data(), kExtendedSize), 0) << v;
#endif
  }
  EXPECT_TRUE(std::isnan(ExtendedToDouble(DoubleToExtended(NAN))));

  const TExtended one = DoubleToExtended(1.0);
  const TExtended expected = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(one, expected);
}

}  // namespace
}  // namespace mt
