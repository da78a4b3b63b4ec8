// Packed decimal (BCD) values and 80-bit extended floats as the engine stores them.
#include "numeric.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace mt {
namespace {

// A decimal number as digit texts: integer digits without leading zeros ("0" at least) and
// fraction digits.
struct TDecimal {
  bool negative = false;
  std::string intDigits = "0";
  std::string fracDigits;
};

bool IsZero(const TDecimal& d) {
  return d.intDigits.find_first_not_of('0') == std::string::npos &&
         d.fracDigits.find_first_not_of('0') == std::string::npos;
}

void StripLeadingZeros(std::string& digits) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    digits.assign(1, '0');
  } else {
    digits.erase(0, first);
  }
}

bool Pack(TDecimal d, int scale, TBcd& value) {
  StripLeadingZeros(d.intDigits);
  if (IsZero(d)) d.negative = false;
  const std::string digits = d.intDigits + d.fracDigits;
  if (digits.size() > static_cast<std::size_t>(kBcdMaxDigits)) return false;
  value.fill(0);
  value[0] = static_cast<uint8_t>(digits.size());
  value[1] = static_cast<uint8_t>((d.negative ? 0x80 : 0) | (scale & 0x3F));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto nibble = static_cast<uint8_t>(digits[i] - '0');
    value[2 + i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? nibble << 4 : nibble);
  }
  return true;
}

bool Unpack(const TBcd& value, TDecimal& d) {
  const int precision = value[0];
  const int places = value[1] & 0x3F;
  if (precision > kBcdMaxDigits || places > precision) return false;
  std::string digits;
  for (int i = 0; i < precision; ++i) {
    const uint8_t byte = value[2 + i / 2];
    const int nibble = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (nibble > 9) return false;
    digits.push_back(static_cast<char>('0' + nibble));
  }
  d.negative = (value[1] & 0x80) != 0;
  d.intDigits = digits.substr(0, precision - places);
  d.fracDigits = digits.substr(precision - places);
  StripLeadingZeros(d.intDigits);
  if (IsZero(d)) d.negative = false;
  return true;
}

}  // namespace

bool TextToBcd(std::string_view text, int scale, TBcd& value) {
  if (scale < 0 || scale > 63) return false;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  TDecimal d;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    d.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0;
  d.intDigits.clear();
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    d.intDigits.push_back(text[i++]);
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      d.fracDigits.push_back(text[i++]);
  }
  if (i != text.size() || (d.intDigits.empty() && d.fracDigits.empty())) return false;
  if (d.intDigits.empty()) d.intDigits.push_back('0');
  StripLeadingZeros(d.intDigits);

  if (d.fracDigits.size() > static_cast<std::size_t>(scale)) {
    const bool roundUp = d.fracDigits[scale] >= '5';
    d.fracDigits.resize(scale);
    if (roundUp) {
      std::string all = d.intDigits + d.fracDigits;
      int pos = static_cast<int>(all.size()) - 1;
      while (pos >= 0 && all[pos] == '9')
        all[pos--] = '0';
      if (pos < 0) {
        all.insert(all.begin(), '1');
      } else {
        ++all[pos];
      }
      d.intDigits = all.substr(0, all.size() - scale);
      d.fracDigits = all.substr(all.size() - scale);
    }
  }
  d.fracDigits.resize(scale, '0');
  return Pack(d, scale, value);
}

bool DoubleToBcd(double number, int scale, TBcd& value) {
  if (!std::isfinite(number) || scale < 0 || scale > 63) return false;
  char buffer[400];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, scale);
  if (ec != std::errc()) return false;
  return TextToBcd(std::string_view(buffer, end - buffer), scale, value);
}

bool IsValidBcd(const TBcd& value) {
  TDecimal d;
  return Unpack(value, d);
}

std::string BcdToText(const TBcd& value) {
  TDecimal d;
  if (!Unpack(value, d)) return "0";
  std::string text = d.negative ? "-" : "";
  text += d.intDigits;
  if (!d.fracDigits.empty()) text += "." + d.fracDigits;
  return text;
}

double BcdToDouble(const TBcd& value) {
  const std::string text = BcdToText(value);
  double number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

int CompareBcd(const TBcd& a, const TBcd& b) {
  TDecimal x, y;
  if (!Unpack(a, x)) x = TDecimal{};
  if (!Unpack(b, y)) y = TDecimal{};
  if (x.negative != y.negative) return x.negative ? -1 : 1;
  int magnitude = 0;
  if (x.intDigits.size() != y.intDigits.size()) {
    magnitude = x.intDigits.size() < y.intDigits.size() ? -1 : 1;
  } else if (int c = x.intDigits.compare(y.intDigits); c != 0) {
    magnitude = c < 0 ? -1 : 1;
  } else {
    const std::size_t n = std::max(x.fracDigits.size(), y.fracDigits.size());
    x.fracDigits.resize(n, '0');
    y.fracDigits.resize(n, '0');
    const int f = x.fracDigits.compare(y.fracDigits);
    magnitude = f < 0 ? -1 : (f > 0 ? 1 : 0);
  }
  return x.negative ? -magnitude : magnitude;
}

TExtended DoubleToExtended(double number) {
  uint64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  uint64_t significand = 0;
  int extExponent = 0;
  if (exponent == 0x7FF) {  // infinity or NaN
    extExponent = 0x7FFF;
    significand = (uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent == 0 && fraction == 0) {  // zero
    extExponent = 0;
    significand = 0;
  } else if (exponent == 0) {  // subnormal double: normalise, the extended range holds it
    int shift = 0;
    while ((fraction & (uint64_t{1} << 52)) == 0) {
      fraction <<= 1;
      ++shift;
    }
    extExponent = 1 - 1023 - shift + 16383;
    significand = fraction << 11;
  } else {
    extExponent = exponent - 1023 + 16383;
    significand = (uint64_t{1} << 63) | (fraction << 11);
  }
  TExtended out{};
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<uint8_t>(significand >> (8 * i));
  const auto top = static_cast<uint16_t>((negative ? 0x8000 : 0) | extExponent);
  out[8] = static_cast<uint8_t>(top);
  out[9] = static_cast<uint8_t>(top >> 8);
  return out;
}

double ExtendedToDouble(const TExtended& value) {
  uint64_t significand = 0;
  for (int i = 7; i >= 0; --i)
    significand = (significand << 8) | value[i];
  const uint16_t top = static_cast<uint16_t>(value[8] | (value[9] << 8));
  const bool negative = (top & 0x8000) != 0;
  const int exponent = top & 0x7FFF;
  double result = 0;
  if (exponent == 0x7FFF) {
    result = (significand << 1) == 0 ? INFINITY : NAN;
  } else if (significand != 0) {
    // The conversion rounds the significand to 53 bits; ldexp scales it exactly unless the
    // result falls into the subnormal range.
    result = std::ldexp(static_cast<double>(significand), exponent - 16383 - 63);
  }
  return negative ? -result : result;
}

}  // namespace mt
