// TVariant: a field value of any kind, as datasets take and give them by field name: null, a
// boolean, an integer, a float (also dates and times, as TDateTime day numbers) or text (GBK
// bytes; also the raw bytes of byte and blob fields).
//
// Setting a field from a variant is the typed write of the value's kind (TField::SetValue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace mt {

class TVariant {
 public:
  enum class TKind { Null, Boolean, Integer, Float, Text };

  TVariant() = default;
  TVariant(std::nullptr_t) {}
  TVariant(bool value) : value_(value) {}
  TVariant(int value) : value_(static_cast<int64_t>(value)) {}
  TVariant(long value) : value_(static_cast<int64_t>(value)) {}
  TVariant(long long value) : value_(static_cast<int64_t>(value)) {}
  TVariant(unsigned value) : value_(static_cast<int64_t>(value)) {}
  TVariant(double value) : value_(value) {}
  TVariant(const char* text) : value_(std::string(text)) {}
  TVariant(std::string text) : value_(std::move(text)) {}
  TVariant(std::string_view text) : value_(std::string(text)) {}

  TKind Kind() const { return static_cast<TKind>(value_.index()); }
  bool IsNull() const { return Kind() == TKind::Null; }
  // The value of its own kind (the kind must match).
  bool Boolean() const { return std::get<bool>(value_); }
  int64_t Integer() const { return std::get<int64_t>(value_); }
  double Float() const { return std::get<double>(value_); }
  const std::string& Text() const { return std::get<std::string>(value_); }

  bool operator==(const TVariant& other) const = default;

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string> value_;
};

}  // namespace mt
