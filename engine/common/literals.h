// Text forms of the engine's scalar values and the calendar arithmetic behind them.
//
// One place for the literal formats that table definitions (default, minimum and maximum
// texts), the SQL constant readers, conversions and the command-line tools share:
//   dates       year-month-day, each part an integer of any number of digits ("2004-1-5")
//   times       hours:minutes[:seconds[.milliseconds]], an AM or PM anywhere turns the hours
//               into 12-hour clock values; surrounding blanks are ignored
//   timestamps  a date and a time separated by one blank; a text without a blank but with
//               ':' is a time on day 0, any other text a date at midnight
//   booleans    TRUE or FALSE in any letter case
//   numbers     decimal integers; floats with '.' as the decimal separator whatever the
//               system setting
//
// Day numbers count days from 1 January of year 1, that day being day 1 (proleptic Gregorian
// calendar), so 30 December 1899 is day 693594. Times are milliseconds since midnight.
// Timestamps are milliseconds since the start of day 0: day number x 86400000 + time.
//
// ReadLiteral is the one reader of such a text as a value of a field type: records read
// their default, minimum and maximum texts with it, the expression evaluator its string
// constants and conversions, mtdb the cells it inserts. IsValidText asks it whether a text
// is a value of a type.
//
// All functions are pure (except the clock readers) and thread-safe. The readers never
// throw: they report failure by returning false.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/common/numeric.h"

namespace mt {

inline constexpr int32_t kMsPerDay = 86400000;
// Day number of 30 December 1899, the origin of the day-fraction date format.
inline constexpr int32_t kDayOf18991230 = 693594;
inline constexpr int32_t kMinDay = 1;        // 1 January 0001
inline constexpr int32_t kMaxDay = 3652059;  // 31 December 9999

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// The day number of a calendar date; false when the date does not exist (years 1 to 9999).
bool EncodeDay(int year, int month, int day, int32_t& dayNumber);
// The calendar date of a day number from kMinDay to kMaxDay; false outside that range.
bool DecodeDay(int32_t dayNumber, int& year, int& month, int& day);
// Milliseconds since midnight; false when a part is out of range.
bool EncodeTimeOfDay(int hour, int minute, int second, int millisecond, int32_t& ms);
void DecodeTimeOfDay(int32_t ms, int& hour, int& minute, int& second, int& millisecond);

// The local clock: today's day number, the milliseconds since local midnight, and both as a
// timestamp.
struct TLocalMoment {
  int32_t day = 0;
  int32_t timeMs = 0;
  double Timestamp() const { return static_cast<double>(day) * kMsPerDay + timeMs; }
};
TLocalMoment CurrentLocalMoment();

bool TextToDate(std::string_view text, int32_t& dayNumber);
bool TextToTime(std::string_view text, int32_t& ms);
bool TextToTimestamp(std::string_view text, double& ms);
bool TextToBoolean(std::string_view text, bool& value);
// Decimal integers with an optional sign; surrounding blanks are ignored; out of range fails.
bool TextToInt64(std::string_view text, int64_t& value);
bool TextToInt32(std::string_view text, int32_t& value);
bool TextToUInt32(std::string_view text, uint32_t& value);
// Decimal numbers with '.', an optional sign and an optional exponent; blanks around are
// ignored; infinities and NaN are refused.
bool TextToFloat(std::string_view text, double& value);

// The values a field type holding a whole number takes: SMALLINT, WORD, INTEGER, unsigned
// INTEGER and LARGEINT by their width, DATE as day numbers (kMinDay to kMaxDay), TIME as
// milliseconds within one day; false for every other type. The literal reader, the
// evaluator's conversions and the record stores all check whole numbers against it.
bool IntegerFieldRange(uint16_t type, int64_t& low, int64_t& high);

// yyyy-mm-dd, zero-padded.
std::string DateToText(int32_t dayNumber);
// hh:mm, then :ss when the seconds are not zero, then .z (unpadded milliseconds) when the
// seconds and the milliseconds are not zero.
std::string TimeToText(int32_t ms);
// Date, one blank, time; empty when the timestamp cannot be split (see SplitTimestamp).
std::string TimestampToText(double ms);

// The whole part of a number as a 64-bit integer, truncated toward zero; false when the number
// is not finite or its whole part lies outside the range of int64_t. Every conversion of a
// double to an integer goes through here: a plain cast of an out-of-range double is undefined.
bool TruncToInt64(double value, int64_t& out);
// The day number and the milliseconds within that day (0 to kMsPerDay - 1) of a timestamp;
// false when the timestamp is not finite or its day number does not fit in 32 bits. The day
// is not checked against the calendar: DecodeDay and DateToText do that.
bool SplitTimestamp(double ms, int32_t& day, int32_t& time);
// The shortest form that keeps 15 significant digits, '.' as the separator.
std::string FloatToText(double value);
std::string BooleanToText(bool value);  // "True" / "False"

// True when the text, ignoring ASCII letter case, equals the keyword (or the other name).
bool EqualsKeyword(std::string_view text, std::string_view keyword);

// The keywords that stand for the current moment in date, time and timestamp texts.
inline constexpr std::string_view kCurrentDate = "CURRENT_DATE";
inline constexpr std::string_view kCurrentTime = "CURRENT_TIME";
inline constexpr std::string_view kCurrentTimestamp = "CURRENT_TIMESTAMP";

// A value read from text, in the engine's field encoding (little-endian, the bytes a record
// and an expression node hold): DATE and TIME int32, TIMESTAMP, FLOAT and money double,
// BOOLEAN uint16 0 or 1, SMALLINT int16, WORD uint16, INTEGER int32, unsigned integer uint32,
// LARGEINT int64, extended the 80-bit form, BCD the 34-byte form (numeric.h).
struct TLiteralValue {
  std::array<uint8_t, kBcdSize> bytes{};
  std::size_t size = 0;
  std::span<const uint8_t> Bytes() const { return {bytes.data(), size}; }
};

// Reads a text as a value of a field type (ftype codes of fieldtypecodes.h); scale is the
// number of places a BCD value is rounded to (half away from zero). Integers must fit their
// type, dates lie within the years 1 to 9999. With `now`, the keywords stand for that moment
// where the type takes them: CURRENT_DATE for DATE and TIMESTAMP (midnight), CURRENT_TIME for
// TIME and TIMESTAMP (on day 0), CURRENT_TIMESTAMP for TIMESTAMP; letter case and surrounding
// blanks are ignored as in every other form. Strings, bytes and blobs have no literal form:
// false, like any text that is no value of the type.
bool ReadLiteral(std::string_view text, uint16_t type, int scale, TLiteralValue& value,
                 const TLocalMoment* now = nullptr);

// Whether the text is a value of the type in the literal formats, the CURRENT_ keywords
// included: any text for strings, none for bytes and blobs.
bool IsValidText(std::string_view text, uint16_t type, int scale = kBcdMaxScale);

}  // namespace mt
