// Literal formats and calendar arithmetic: day numbers at the ends of the range and around
// the 1899 origin, the readers' accepted and refused texts, and the writers' forms.
#include "engine/common/literals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "engine/common/fieldtypecodes.h"
#include "engine/common/numeric.h"

namespace mt {
namespace {

TEST(CalendarTest, DayNumbersOfKnownDates) {
  struct Case {
    int y, m, d;
    int32_t day;
  };
  const std::vector<Case> cases = {
      {1, 1, 1, 1},           {1, 12, 31, 365},     {2, 1, 1, 366},       {1899, 12, 30, 693594},
      {1899, 12, 31, 693595}, {1900, 1, 1, 693596}, {2000, 3, 1, 730180}, {9999, 12, 31, 3652059},
  };
  for (const Case& c : cases) {
    int32_t day = 0;
    ASSERT_TRUE(EncodeDay(c.y, c.m, c.d, day)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_EQ(day, c.day) << c.y << "-" << c.m << "-" << c.d;
    int y = 0, m = 0, d = 0;
    ASSERT_TRUE(DecodeDay(c.day, y, m, d));
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
  }
}

TEST(CalendarTest, EveryDayDecodesToTheDateItCameFrom) {
  // Walk the calendar day by day over whole 400-year cycles' worth of leap rules.
  int y = 1, m = 1, d = 1;
  for (int32_t day = 1; day <= kMaxDay; day += (day < 800000 ? 1 : 97)) {
    int ry = 0, rm = 0, rd = 0;
    ASSERT_TRUE(DecodeDay(day, ry, rm, rd)) << day;
    int32_t back = 0;
    ASSERT_TRUE(EncodeDay(ry, rm, rd, back));
    ASSERT_EQ(back, day);
    if (day < 800000) {
      ASSERT_EQ(ry * 10000 + rm * 100 + rd, y * 10000 + m * 100 + d) << day;
      if (++d > DaysInMonth(y, m)) {
        d = 1;
        if (++m > 12) m = 1, ++y;
      }
    }
  }
  int ry = 0, rm = 0, rd = 0;
  EXPECT_FALSE(DecodeDay(0, ry, rm, rd));
  EXPECT_FALSE(DecodeDay(kMaxDay + 1, ry, rm, rd));
}

TEST(LiteralReadersTest, Dates) {
  struct Case {
    const char* text;
    std::optional<int32_t> day;
  };
  int32_t d20040105 = 0;
  ASSERT_TRUE(EncodeDay(2004, 1, 5, d20040105));
  const std::vector<Case> cases = {
      {"2004-01-05", d20040105},
      {"2004-1-5", d20040105},
      {" 2004-01-05 ", d20040105},
      {"0002004-001-05", d20040105},
      {"0001-01-01", 1},
      {"9999-12-31", kMaxDay},
      {"2000-02-29", 730179},
      {"1900-02-29", std::nullopt},
      {"2004-02-30", std::nullopt},
      {"0-1-1", std::nullopt},
      {"10000-01-01", std::nullopt},
      {"2004/01/05", std::nullopt},
      {"2004-01", std::nullopt},
      {"2004-01-05x", std::nullopt},
      {"", std::nullopt},
      {"-2004-01-05", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const Case& c : cases) {
    int32_t day = -1;
    const bool ok = TextToDate(c.text, day);
    EXPECT_EQ(ok, c.day.has_value()) << c.text;
    if (ok && c.day) {
      EXPECT_EQ(day, *c.day) << c.text;
    }
  }
}

TEST(LiteralReadersTest, Times) {
  struct Case {
    const char* text;
    std::optional<int32_t> ms;
  };
  const std::vector<Case> cases = {
      {"00:00", 0},
      {"1:02", 3720000},
      {"01:02:03", 3723000},
      {"01:02:03.4", 3723004},
      {"23:59:59.999", 86399999},
      {" 10:30 ", 37800000},
      {"12:00 AM", 0},
      {"12:30 am", 1800000},
      {"12:00 PM", 43200000},
      {"1:15pm", 47700000},
      {"pm 1:15", 47700000},
      {"24:00", std::nullopt},
      {"10:60", std::nullopt},
      {"10:00:60", std::nullopt},
      {"10:00:00.1000", std::nullopt},
      {"13:00 PM", std::nullopt},
      {"10", std::nullopt},
      {"10:", std::nullopt},
      {"10:00:", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    int32_t ms = -1;
    const bool ok = TextToTime(c.text, ms);
    EXPECT_EQ(ok, c.ms.has_value()) << c.text;
    if (ok && c.ms) {
      EXPECT_EQ(ms, *c.ms) << c.text;
    }
  }
}

TEST(LiteralReadersTest, Timestamps) {
  struct Case {
    const char* text;
    std::optional<double> ms;
  };
  const double origin = 693594.0 * 86400000.0;
  const std::vector<Case> cases = {
      {"1899-12-30 00:00", origin},
      {"1899-12-30", origin},
      {"1899-12-30 1:00 PM", origin + 13 * 3600000.0},
      {"10:30", 37800000.0},  // a time alone lies on day 0
      {"0001-01-01 00:00:00.001", 86400001.0},
      {"1899-12-30 25:00", std::nullopt},
      {"1899-13-30", std::nullopt},
  };
  for (const Case& c : cases) {
    double ms = -1;
    const bool ok = TextToTimestamp(c.text, ms);
    EXPECT_EQ(ok, c.ms.has_value()) << c.text;
    if (ok && c.ms) {
      EXPECT_EQ(ms, *c.ms) << c.text;
    }
  }
}

TEST(LiteralReadersTest, BooleansAndNumbers) {
  bool b = false;
  EXPECT_TRUE(TextToBoolean("true", b) && b);
  EXPECT_TRUE(TextToBoolean(" FALSE ", b) && !b);
  EXPECT_TRUE(TextToBoolean("True", b) && b);
  EXPECT_FALSE(TextToBoolean("yes", b));
  EXPECT_FALSE(TextToBoolean("1", b));

  struct IntCase {
    const char* text;
    std::optional<int64_t> value;
  };
  const std::vector<IntCase> ints = {
      {"0", 0},
      {"+5", 5},
      {" -17 ", -17},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"5x", std::nullopt},
      {"1.0", std::nullopt},
      {"+-5", std::nullopt},
      {"", std::nullopt},
  };
  for (const IntCase& c : ints) {
    int64_t v = 0;
    const bool ok = TextToInt64(c.text, v);
    EXPECT_EQ(ok, c.value.has_value()) << c.text;
    if (ok && c.value) {
      EXPECT_EQ(v, *c.value) << c.text;
    }
  }
  int32_t i32 = 0;
  EXPECT_TRUE(TextToInt32("-2147483648", i32));
  EXPECT_EQ(i32, INT32_MIN);
  EXPECT_FALSE(TextToInt32("2147483648", i32));
  uint32_t u32 = 0;
  EXPECT_TRUE(TextToUInt32("4294967295", u32));
  EXPECT_FALSE(TextToUInt32("-1", u32));

  struct FloatCase {
    const char* text;
    std::optional<double> value;
  };
  const std::vector<FloatCase> floats = {
      {"-1.5", -1.5},
      {"1e3", 1000.0},
      {".5", 0.5},
      {"+2.", 2.0},
      {"0", 0.0},
      {"1,5", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"1e999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
  };
  for (const FloatCase& c : floats) {
    double v = 0;
    const bool ok = TextToFloat(c.text, v);
    EXPECT_EQ(ok, c.value.has_value()) << c.text;
    if (ok && c.value) {
      EXPECT_EQ(v, *c.value) << c.text;
    }
  }
}

// A value ReadLiteral wrote, as a number: day numbers, milliseconds, 0 or 1 for booleans.
double NumberOf(uint16_t type, const TLiteralValue& v) {
  auto get = [&](auto x) {
    std::memcpy(&x, v.bytes.data(), sizeof x);
    return static_cast<double>(x);
  };
  switch (type) {
    case ftype::kSmallInt:
      return get(int16_t{});
    case ftype::kBoolean:
    case ftype::kWord:
      return get(uint16_t{});
    case ftype::kUInt32:
      return get(uint32_t{});
    case ftype::kLargeInt:
      return get(int64_t{});
    case ftype::kFloat:
    case ftype::kTimestamp:
      return get(double{});
    case ftype::kExtended: {
      TExtended e{};
      std::memcpy(e.data(), v.bytes.data(), e.size());
      return ExtendedToDouble(e);
    }
    case ftype::kBcd: {
      TBcd b{};
      std::memcpy(b.data(), v.bytes.data(), b.size());
      return BcdToDouble(b);
    }
    default:  // date, time, integer
      return get(int32_t{});
  }
}

// Records (field defaults, minimums, maximums), conversions of strings in expressions and
// mtdb's cells all read through ReadLiteral; keywords count only where a moment is given,
// which records do. The rows below include the cases where those three readers used to
// differ:
//  - CURRENT_ keywords are values of field definitions only, and blanks around them are
//    ignored as around every other literal;
//  - UNSIGNED and EXTENDED texts must be numbers, and bytes and blobs have no literal form
//    (the validity check took any text for them);
//  - a BCD text is rounded to the scale it is read with, the field's own.
TEST(LiteralReadersTest, OneReaderForEveryFieldType) {
  const TLocalMoment now{731000, 45000000};
  const double nowDay = 731000.0 * kMsPerDay;
  struct Case {
    uint16_t type;
    int scale;
    const char* text;
    bool keywords;  // read with `now`
    std::optional<double> value;
    std::size_t size = 0;
  };
  const std::vector<Case> cases = {
      {ftype::kDate, 0, "2004-1-5", false, 731585, 4},
      {ftype::kDate, 0, "CURRENT_DATE", true, 731000, 4},
      {ftype::kDate, 0, " current_date ", true, 731000, 4},
      {ftype::kDate, 0, "CURRENT_DATE", false, std::nullopt},
      {ftype::kDate, 0, "CURRENT_TIME", true, std::nullopt},
      {ftype::kTime, 0, "1:15 pm", false, 47700000, 4},
      {ftype::kTime, 0, "Current_Time", true, 45000000, 4},
      {ftype::kTime, 0, "CURRENT_TIMESTAMP", true, std::nullopt},
      {ftype::kTimestamp, 0, "CURRENT_TIMESTAMP", true, nowDay + 45000000, 8},
      {ftype::kTimestamp, 0, "CURRENT_DATE", true, nowDay, 8},
      {ftype::kTimestamp, 0, "CURRENT_TIME", true, 45000000, 8},
      {ftype::kTimestamp, 0, "CURRENT_TIME", false, std::nullopt},
      {ftype::kTimestamp, 0, "1899-12-30 00:00:01", false, 693594.0 * kMsPerDay + 1000, 8},
      {ftype::kBoolean, 0, " TRUE ", false, 1, 2},
      {ftype::kBoolean, 0, "1", false, std::nullopt},
      {ftype::kSmallInt, 0, "-32768", false, -32768, 2},
      {ftype::kSmallInt, 0, "32768", false, std::nullopt},
      {ftype::kWord, 0, "65535", false, 65535, 2},
      {ftype::kWord, 0, "-1", false, std::nullopt},
      {ftype::kInteger, 0, "+2147483647", false, 2147483647, 4},
      {ftype::kInteger, 0, "2147483648", false, std::nullopt},
      {ftype::kInteger, 0, "1.0", false, std::nullopt},
      {ftype::kUInt32, 0, "4294967295", false, 4294967295.0, 4},
      {ftype::kUInt32, 0, "4294967296", false, std::nullopt},
      {ftype::kUInt32, 0, "abc", true, std::nullopt},
      {ftype::kLargeInt, 0, "-9223372036854775808", false, -9223372036854775808.0, 8},
      {ftype::kFloat, 0, "-1.5e3", false, -1500, 8},
      {ftype::kFloat, 0, "1,5", false, std::nullopt},
      {ftype::kExtended, 0, "0.25", false, 0.25, 10},
      {ftype::kExtended, 0, "x", true, std::nullopt},
      {ftype::kBcd, 2, "1.235", false, 1.24, kBcdSize},
      {ftype::kBcd, 0, "-1.5", false, -2, kBcdSize},
      {ftype::kBcd, 2, "1e3", false, std::nullopt},
      {ftype::kString, 0, "text", true, std::nullopt},
      {ftype::kBytes, 0, "00", true, std::nullopt},
      {ftype::kBlob, 0, "x", true, std::nullopt},
  };
  for (const Case& c : cases) {
    TLiteralValue v;
    const bool ok = ReadLiteral(c.text, c.type, c.scale, v, c.keywords ? &now : nullptr);
    EXPECT_EQ(ok, c.value.has_value()) << int(c.type) << " '" << c.text << "'";
    if (ok && c.value) {
      EXPECT_EQ(v.size, c.size) << int(c.type) << " '" << c.text << "'";
      EXPECT_DOUBLE_EQ(NumberOf(c.type, v), *c.value) << int(c.type) << " '" << c.text << "'";
    }
    // The validity check of field texts reads the same way, keywords included; any text is a
    // string.
    if (c.keywords) {
      EXPECT_EQ(IsValidText(c.text, c.type, c.scale), ok || c.type == ftype::kString)
          << int(c.type) << " '" << c.text << "'";
    }
  }
}

TEST(LiteralWritersTest, FormsReadBackByTheReaders) {
  EXPECT_EQ(DateToText(1), "0001-01-01");
  EXPECT_EQ(DateToText(kMaxDay), "9999-12-31");
  EXPECT_EQ(TimeToText(0), "00:00");
  EXPECT_EQ(TimeToText(3720000), "01:02");
  EXPECT_EQ(TimeToText(3723000), "01:02:03");
  EXPECT_EQ(TimeToText(3723004), "01:02:03.4");
  EXPECT_EQ(TimeToText(3720004), "01:02");  // milliseconds only shown with seconds
  EXPECT_EQ(TimestampToText(693594.0 * 86400000.0 + 3723004), "1899-12-30 01:02:03.4");
  EXPECT_EQ(FloatToText(0.1), "0.1");
  EXPECT_EQ(FloatToText(-2.5), "-2.5");
  EXPECT_EQ(FloatToText(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(BooleanToText(true), "True");
  EXPECT_EQ(BooleanToText(false), "False");

  for (int32_t day : {1, 693594, 730180, kMaxDay}) {
    int32_t back = 0;
    ASSERT_TRUE(TextToDate(DateToText(day), back));
    EXPECT_EQ(back, day);
  }
  for (double v : {0.1, -123.456, 1e-7, 12345678.9}) {
    double back = 0;
    ASSERT_TRUE(TextToFloat(FloatToText(v), back));
    EXPECT_EQ(back, v);
  }
}

TEST(LiteralWritersTest, NumbersTooLargeForTheirIntegerForms) {
  struct TTrunc {
    double value;
    std::optional<int64_t> whole;
  };
  const TTrunc truncs[] = {
      {-2.7, -2},
      {9223372036854774784.0, 9223372036854774784},  // the largest double below 2^63
      {-9223372036854775808.0, std::numeric_limits<int64_t>::min()},
      {9223372036854775808.0, std::nullopt},
      {-9223372036854777856.0, std::nullopt},
      {1e300, std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
  };
  for (const TTrunc& c : truncs) {
    int64_t v = 0;
    EXPECT_EQ(TruncToInt64(c.value, v), c.whole.has_value()) << c.value;
    if (c.whole) {
      EXPECT_EQ(v, *c.whole) << c.value;
    }
  }

  struct TSplit {
    double ms;
    std::optional<std::pair<int32_t, int32_t>> dayAndTime;
    std::string text;
  };
  const TSplit splits[] = {
      {693594.0 * kMsPerDay + 3723004, std::pair{693594, 3723004}, "1899-12-30 01:02:03.4"},
      {-1, std::pair{-1, kMsPerDay - 1}, " 23:59:59.999"},
      {-4.6e18, std::nullopt, ""},
      {1e300, std::nullopt, ""},
      {std::numeric_limits<double>::infinity(), std::nullopt, ""},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt, ""},
  };
  for (const TSplit& c : splits) {
    int32_t day = 0, time = 0;
    EXPECT_EQ(SplitTimestamp(c.ms, day, time), c.dayAndTime.has_value()) << c.ms;
    if (c.dayAndTime) {
      EXPECT_EQ(std::pair(day, time), *c.dayAndTime) << c.ms;
    }
    EXPECT_EQ(TimestampToText(c.ms), c.text) << c.ms;
  }
}

}  // namespace
}  // namespace mt
