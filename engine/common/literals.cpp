// Text forms of the engine's scalar values and the calendar arithmetic behind them.
#include "literals.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

#include "engine/common/fieldtypecodes.h"

namespace mt {
namespace {

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Reads one unsigned decimal part (at least one digit, any number of them) from the front of
// s; values beyond int32 range fail.
bool ReadPart(std::string_view& s, int64_t& value) {
  std::size_t i = 0;
  value = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    value = value * 10 + (s[i] - '0');
    if (value > std::numeric_limits<int32_t>::max()) return false;
    ++i;
  }
  if (i == 0) return false;
  s.remove_prefix(i);
  return true;
}

bool Expect(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

// Stores an integer as `width` little-endian bytes.
void StoreInteger(TLiteralValue& out, int64_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out.bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  out.size = width;
}

void StoreDouble(TLiteralValue& out, double v) {
  StoreInteger(out, std::bit_cast<int64_t>(v), 8);
}

// A decimal integer within the range of an integer type, as `width` bytes.
bool ReadInteger(std::string_view text, uint16_t type, std::size_t width, TLiteralValue& out) {
  int64_t v = 0, low = 0, high = 0;
  if (!TextToInt64(text, v) || !IntegerFieldRange(type, low, high) || v < low || v > high)
    return false;
  StoreInteger(out, v, width);
  return true;
}

std::string Pad(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

bool EncodeDay(int year, int month, int day, int32_t& dayNumber) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  const int32_t y = year - 1;
  dayNumber = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[IsLeapYear(year)][month] + day;
  return true;
}

bool DecodeDay(int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < kMinDay || dayNumber > kMaxDay) return false;
  // Days since 1 January 0001, counted from 0, split into 400-, 100-, 4- and 1-year cycles.
  int32_t n = dayNumber - 1;
  const int32_t n400 = n / 146097;
  n %= 146097;
  int32_t n100 = n / 36524;
  if (n100 == 4) n100 = 3;  // the last day of a 400-year cycle
  n -= n100 * 36524;
  const int32_t n4 = n / 1461;
  n %= 1461;
  int32_t n1 = n / 365;
  if (n1 == 4) n1 = 3;  // the last day of a 4-year cycle
  n -= n1 * 365;
  year = n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1;
  const bool leap = IsLeapYear(year);
  month = 1;
  while (month < 12 && n >= kDaysBeforeMonth[leap][month + 1])
    ++month;
  day = n - kDaysBeforeMonth[leap][month] + 1;
  return true;
}

bool EncodeTimeOfDay(int hour, int minute, int second, int millisecond, int32_t& ms) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return true;
}

void DecodeTimeOfDay(int32_t ms, int& hour, int& minute, int& second, int& millisecond) {
  ms %= kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  millisecond = ms % 1000;
  second = ms / 1000 % 60;
  minute = ms / 60000 % 60;
  hour = ms / 3600000;
}

TLocalMoment CurrentLocalMoment() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // The local calendar moment of a second is worked out once (localtime_r is what costs, and
  // writers ask for every record and header): offsets change only between whole seconds.
  thread_local time_t cachedSecond = -1;
  thread_local TLocalMoment secondStart;
  if (ts.tv_sec != cachedSecond) {
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    EncodeDay(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, secondStart.day);
    // A leap second (tm_sec 60) is folded into the last regular second.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    EncodeTimeOfDay(local.tm_hour, local.tm_min, second, 0, secondStart.timeMs);
    cachedSecond = ts.tv_sec;
  }
  TLocalMoment m = secondStart;
  m.timeMs += static_cast<int32_t>(ts.tv_nsec / 1000000);
  return m;
}

bool TextToDate(std::string_view text, int32_t& dayNumber) {
  std::string_view s = TrimBlanks(text);
  int64_t y = 0, m = 0, d = 0;
  if (!ReadPart(s, y) || !Expect(s, '-') || !ReadPart(s, m) || !Expect(s, '-') || !ReadPart(s, d) ||
      !s.empty()) {
    return false;
  }
  if (y > 9999 || m > 12 || d > 31) return false;
  return EncodeDay(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), dayNumber);
}

bool TextToTime(std::string_view text, int32_t& ms) {
  // Take out one AM or PM marker, wherever it stands.
  std::string work(text);
  int meridiem = 0;  // 0 none, 1 AM, 2 PM
  for (std::size_t i = 0; i + 1 < work.size(); ++i) {
    const char a = AsciiUpper(work[i]);
    if ((a == 'A' || a == 'P') && AsciiUpper(work[i + 1]) == 'M') {
      meridiem = a == 'A' ? 1 : 2;
      work.erase(i, 2);
      break;
    }
  }
  std::string_view s = TrimBlanks(work);
  int64_t h = 0, m = 0, sec = 0, milli = 0;
  if (!ReadPart(s, h) || !Expect(s, ':') || !ReadPart(s, m)) return false;
  if (Expect(s, ':')) {
    if (!ReadPart(s, sec)) return false;
    if (Expect(s, '.') && !ReadPart(s, milli)) return false;
  }
  if (!s.empty()) return false;
  if (meridiem != 0) {
    if (h > 12) return false;
    if (meridiem == 1 && h == 12) h = 0;
    if (meridiem == 2 && h != 12) h += 12;
  }
  if (h > 23 || m > 59 || sec > 59 || milli > 999) return false;
  return EncodeTimeOfDay(static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec),
                         static_cast<int>(milli), ms);
}

bool TextToTimestamp(std::string_view text, double& ms) {
  const std::string_view s = TrimBlanks(text);
  const std::size_t blank = s.find(' ');
  int32_t day = 0;
  int32_t time = 0;
  if (blank != std::string_view::npos) {
    if (!TextToDate(s.substr(0, blank), day) || !TextToTime(s.substr(blank + 1), time)) {
      return false;
    }
  } else if (s.find(':') != std::string_view::npos) {
    if (!TextToTime(s, time)) return false;
  } else if (!TextToDate(s, day)) {
    return false;
  }
  ms = static_cast<double>(day) * kMsPerDay + time;
  return true;
}

bool TextToBoolean(std::string_view text, bool& value) {
  const std::string_view s = TrimBlanks(text);
  if (EqualsKeyword(s, "TRUE")) {
    value = true;
    return true;
  }
  if (EqualsKeyword(s, "FALSE")) {
    value = false;
    return true;
  }
  return false;
}

bool TextToInt64(std::string_view text, int64_t& value) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  return ec == std::errc() && end == s.data() + s.size();
}

bool TextToInt32(std::string_view text, int32_t& value) {
  int64_t v = 0;
  if (!TextToInt64(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

bool TextToUInt32(std::string_view text, uint32_t& value) {
  int64_t v = 0;
  if (!TextToInt64(text, v) || v < 0 || v > std::numeric_limits<uint32_t>::max()) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool TextToFloat(std::string_view text, double& value) {
  std::string_view s = TrimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // from_chars would also take "inf" and "nan"; the literal format is digits only.
  if (s.empty() || !((s.front() >= '0' && s.front() <= '9') || s.front() == '.')) return false;
  double v = 0;
  const auto [end, ec] =
      std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

bool IntegerFieldRange(uint16_t type, int64_t& low, int64_t& high) {
  switch (type) {
    case ftype::kSmallInt:
      low = std::numeric_limits<int16_t>::min(), high = std::numeric_limits<int16_t>::max();
      return true;
    case ftype::kWord:
      low = 0, high = std::numeric_limits<uint16_t>::max();
      return true;
    case ftype::kInteger:
      low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
      return true;
    case ftype::kUInt32:
      low = 0, high = std::numeric_limits<uint32_t>::max();
      return true;
    case ftype::kLargeInt:
      low = std::numeric_limits<int64_t>::min(), high = std::numeric_limits<int64_t>::max();
      return true;
    case ftype::kDate:
      low = kMinDay, high = kMaxDay;
      return true;
    case ftype::kTime:
      low = 0, high = kMsPerDay - 1;
      return true;
    default:
      return false;
  }
}

bool ReadLiteral(std::string_view text, uint16_t type, int scale, TLiteralValue& value,
                 const TLocalMoment* now) {
  value = TLiteralValue{};
  // Which CURRENT_ keyword the text is, when keywords count at all.
  const std::string_view word = TrimBlanks(text);
  auto keyword = [&](std::string_view k) { return now != nullptr && EqualsKeyword(word, k); };
  switch (type) {
    case ftype::kDate: {
      int32_t day = 0;
      if (keyword(kCurrentDate)) {
        day = now->day;
      } else if (!TextToDate(text, day)) {
        return false;
      }
      StoreInteger(value, day, 4);
      return true;
    }
    case ftype::kTime: {
      int32_t ms = 0;
      if (keyword(kCurrentTime)) {
        ms = now->timeMs;
      } else if (!TextToTime(text, ms)) {
        return false;
      }
      StoreInteger(value, ms, 4);
      return true;
    }
    case ftype::kTimestamp: {
      double ms = 0;
      if (keyword(kCurrentTimestamp)) {
        ms = now->Timestamp();
      } else if (keyword(kCurrentDate)) {
        ms = static_cast<double>(now->day) * kMsPerDay;
      } else if (keyword(kCurrentTime)) {
        ms = now->timeMs;  // the current time on day 0
      } else if (!TextToTimestamp(text, ms)) {
        return false;
      }
      StoreDouble(value, ms);
      return true;
    }
    case ftype::kBoolean: {
      bool b = false;
      if (!TextToBoolean(text, b)) return false;
      StoreInteger(value, b ? 1 : 0, 2);
      return true;
    }
    case ftype::kSmallInt:
    case ftype::kWord:
      return ReadInteger(text, type, 2, value);
    case ftype::kInteger:
    case ftype::kUInt32:
      return ReadInteger(text, type, 4, value);
    case ftype::kLargeInt:
      return ReadInteger(text, type, 8, value);
    case ftype::kFloat: {
      double v = 0;
      if (!TextToFloat(text, v)) return false;
      StoreDouble(value, v);
      return true;
    }
    case ftype::kExtended: {
      double v = 0;
      if (!TextToFloat(text, v)) return false;
      const TExtended e = DoubleToExtended(v);
      std::copy(e.begin(), e.end(), value.bytes.begin());
      value.size = e.size();
      return true;
    }
    case ftype::kBcd: {
      TBcd b{};
      if (!TextToBcd(text, scale, b)) return false;
      std::copy(b.begin(), b.end(), value.bytes.begin());
      value.size = b.size();
      return true;
    }
    default:  // strings, bytes, blobs: no literal form
      return false;
  }
}

bool IsValidText(std::string_view text, uint16_t type, int scale) {
  if (type == ftype::kString) return true;
  // Any moment will do: only whether the keyword is taken matters.
  static constexpr TLocalMoment kAnyMoment{kMinDay, 0};
  TLiteralValue value;
  return ReadLiteral(text, type, scale, value, &kAnyMoment);
}

std::string DateToText(int32_t dayNumber) {
  int y = 0, m = 0, d = 0;
  if (!DecodeDay(dayNumber, y, m, d)) return {};
  return Pad(y, 4) + "-" + Pad(m, 2) + "-" + Pad(d, 2);
}

std::string TimeToText(int32_t ms) {
  int h = 0, m = 0, s = 0, z = 0;
  DecodeTimeOfDay(ms, h, m, s, z);
  std::string text = Pad(h, 2) + ":" + Pad(m, 2);
  if (s != 0) {
    text += ":" + Pad(s, 2);
    if (z != 0) text += "." + std::to_string(z);
  }
  return text;
}

std::string TimestampToText(double ms) {
  int32_t day = 0, time = 0;
  if (!SplitTimestamp(ms, day, time)) return {};
  return DateToText(day) + " " + TimeToText(time);
}

bool TruncToInt64(double value, int64_t& out) {
  // -2^63 is exact as a double; 2^63 is the first whole number above the range.
  constexpr double kLow = -9223372036854775808.0;
  constexpr double kHigh = 9223372036854775808.0;
  const double whole = std::trunc(value);
  if (!(whole >= kLow && whole < kHigh)) return false;  // also false for NaN
  out = static_cast<int64_t>(whole);
  return true;
}

bool SplitTimestamp(double ms, int32_t& day, int32_t& time) {
  const double dayPart = std::floor(ms / kMsPerDay);
  if (!(dayPart >= std::numeric_limits<int32_t>::min() &&
        dayPart <= std::numeric_limits<int32_t>::max())) {
    return false;  // also false for NaN and the infinities
  }
  day = static_cast<int32_t>(dayPart);
  // Rounding in the division can leave the remainder a little outside one day.
  const double rest = std::clamp(ms - dayPart * kMsPerDay, 0.0, double{kMsPerDay - 1});
  time = static_cast<int32_t>(rest);
  return true;
}

std::string FloatToText(double value) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (ec != std::errc()) return {};
  return std::string(buffer, end);
}

std::string BooleanToText(bool value) {
  return value ? "True" : "False";
}

bool EqualsKeyword(std::string_view text, std::string_view keyword) {
  if (text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiUpper(text[i]) != AsciiUpper(keyword[i])) return false;
  }
  return true;
}

}  // namespace mt
