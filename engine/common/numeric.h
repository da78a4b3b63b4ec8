// Packed decimal (BCD) values and 80-bit extended floats as the engine stores them.
//
// A BCD value is 34 bytes: byte 0 the precision (number of digits, at most 64), byte 1 the
// sign in bit 7 (1 negative) and the number of decimal places in bits 0 to 5, bytes 2 to 33
// the digits as packed decimal, two per byte, high nibble first; the first `precision`
// nibbles are the digits, the last `places` of them after the decimal point. The engine writes
// values in one canonical form: at least one integer digit, no leading zeros beyond it, exactly
// the field's scale as places, and zero never negative.
//
// An extended float is the x87 80-bit format, little-endian: 64-bit significand with an
// explicit integer bit, then 15 exponent bits (bias 16383) and the sign bit.
//
// Everything here is pure and thread-safe; nothing throws.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mt {

inline constexpr std::size_t kBcdSize = 34;
inline constexpr int kBcdMaxDigits = 64;
inline constexpr int kBcdMaxScale = 4;  // the largest scale a BCD field may declare

using TBcd = std::array<uint8_t, kBcdSize>;

// Reads a decimal number with '.' (optional sign, no exponent, blanks around ignored) and
// rounds it half away from zero to `scale` places. False on bad text or more than 64 digits.
bool TextToBcd(std::string_view text, int scale, TBcd& value);
// Converts a double, rounded to `scale` places. False for infinities, NaN or too many digits.
bool DoubleToBcd(double number, int scale, TBcd& value);
// False when the bytes are no BCD value (precision, places or a digit out of range).
bool IsValidBcd(const TBcd& value);
// Decimal text with '.', places as stored ("-12.50"); "0" for an invalid value.
std::string BcdToText(const TBcd& value);
double BcdToDouble(const TBcd& value);
// -1, 0 or 1 by numeric value; invalid values count as zero.
int CompareBcd(const TBcd& a, const TBcd& b);

inline constexpr std::size_t kExtendedSize = 10;
using TExtended = std::array<uint8_t, kExtendedSize>;

// Exact: every double is an extended value.
TExtended DoubleToExtended(double number);
// Rounds to the nearest double; out-of-range values become infinities or zeros.
double ExtendedToDouble(const TExtended& value);

}  // namespace mt
