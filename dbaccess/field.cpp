// TField: typed reads and writes of one column in the dataset's record buffers.
#include "field.h"

#include <cmath>
#include <limits>

#include "blobstream.h"
#include "dataset.h"
#include "dberrors.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "engine/storage/fieldtypes.h"

namespace mt {
namespace {

TFieldKind KindOf(const TFieldDescriptor& d) {
  switch (d.type) {
    case ftype::kString:
      return TFieldKind::String;
    case ftype::kDate:
      return TFieldKind::Date;
    case ftype::kTime:
      return TFieldKind::Time;
    case ftype::kTimestamp:
      return TFieldKind::Timestamp;
    case ftype::kBlob:
      return d.subtype == fsubtype::kMemo || d.subtype == fsubtype::kFormattedMemo
                 ? TFieldKind::Memo
                 : TFieldKind::Blob;
    case ftype::kBoolean:
      return TFieldKind::Boolean;
    case ftype::kInteger:
      return IsAutoIncField(d.type, d.subtype) ? TFieldKind::AutoInc : TFieldKind::Integer;
    case ftype::kSmallInt:
    case ftype::kWord:
    case ftype::kUInt32:
    case ftype::kLargeInt:
      return TFieldKind::Integer;
    case ftype::kFloat:
    case ftype::kExtended:
      return TFieldKind::Float;
    case ftype::kBcd:
      return TFieldKind::Bcd;
    default:
      return TFieldKind::Bytes;
  }
}

// A value read from a field's text by a literal reader: the type's zero for empty text, the
// message for text the reader refuses.
template <class T, class Reader>
T FromText(const std::string& text, Reader read, std::string_view message) {
  T out{};
  if (!text.empty() && !read(text, out)) RaiseDatabaseError(message, {text});
  return out;
}

bool TextToDateTime(std::string_view text, TDateTime& value) {
  double ms = 0;
  int32_t day = 0, time = 0;
  if (!TextToTimestamp(text, ms) || !SplitTimestamp(ms, day, time)) return false;
  value = DateTimeFromParts(day, time);
  return true;
}

// The date and time text of a TDateTime: the date alone at midnight.
std::string DateTimeText(int32_t day, int32_t ms) {
  return ms == 0 ? DateToText(day) : TimestampToText(static_cast<double>(day) * kMsPerDay + ms);
}

}  // namespace

// ---- TDateTime -------------------------------------------------------------------------------

TDateTime DateTimeFromParts(int32_t dayNumber, int32_t milliseconds) {
  const double whole = static_cast<double>(dayNumber) - kDayOf18991230;
  const double fraction = static_cast<double>(milliseconds) / kMsPerDay;
  return whole >= 0 ? whole + fraction : whole - fraction;
}

bool DateTimeToParts(TDateTime value, int32_t& dayNumber, int32_t& milliseconds) {
  if (!std::isfinite(value) || std::fabs(value) > 4.0e6) return false;
  const double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  int64_t day = static_cast<int64_t>(whole) + kDayOf18991230;
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++day;
  }
  if (day < kMinDay || day > kMaxDay) return false;
  dayNumber = static_cast<int32_t>(day);
  milliseconds = static_cast<int32_t>(ms);
  return true;
}

// ---- TField ------------------------------------------------------------------------------

TField::TField(TEngineDataSet& dataSet, int fieldNo, const TFieldDescriptor& descriptor)
    : dataSet_(dataSet), fieldNo_(fieldNo), descriptor_(descriptor), kind_(KindOf(descriptor)) {}

const TRecordFormat& TField::Format() const {
  return dataSet_.Cursor().Format();
}

const uint8_t* TField::Buffer() const {
  return dataSet_.ActiveBuffer();
}

bool TField::CanModify() const {
  return !readOnly_ && kind_ != TFieldKind::AutoInc && !descriptor_.isVirtual &&
         dataSet_.CanModify();
}

uint8_t* TField::WriteBuffer() {
  if (!CanModify()) RaiseDatabaseError(dbmsg::kFieldReadOnly, {FieldName()});
  if (!dataSet_.Editing()) RaiseDatabaseError(dbmsg::kNotEditing);
  return dataSet_.edit_.data();
}

void TField::Written() {
  dataSet_.modified_ = true;
}

void TField::AccessError(std::string_view typeName) const {
  RaiseDatabaseError(dbmsg::kFieldAccess, {FieldName(), typeName});
}

// ---- reads -------------------------------------------------------------------------------

bool TField::IsNull() const {
  const uint8_t* b = Buffer();
  if (IsBlob()) {
    const auto ref = Format().GetBlobRef(fieldNo_, b);
    if (!ref) return true;
    // A value written in this edit is held open until the post: null when it is empty.
    if (ref->first < 0) return dataSet_.OpenBlobLength(-ref->first) == 0;
    return false;
  }
  return Format().GetField(fieldNo_, b, nullptr);
}

std::string TField::AsString() const {
  if (IsBlob()) return BlobText();
  return Format().GetText(fieldNo_, Buffer()).value_or(std::string());
}

int64_t TField::AsInteger() const {
  const TRecordFormat& f = Format();
  const uint8_t* b = Buffer();
  switch (kind_) {
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return f.GetInteger(fieldNo_, b).value_or(0);
    case TFieldKind::Boolean:
      return f.GetBoolean(fieldNo_, b).value_or(false) ? 1 : 0;
    case TFieldKind::Float:
    case TFieldKind::Bcd: {
      const double v = AsFloat();
      int64_t out = 0;
      if (!TruncToInt64(std::round(v), out)) {
        RaiseDatabaseError(dbmsg::kInvalidInteger, {FloatToText(v)});
      }
      return out;
    }
    case TFieldKind::String:
    case TFieldKind::Memo:
      return FromText<int64_t>(AsString(), TextToInt64, dbmsg::kInvalidInteger);
    default:
      AccessError("Integer");
  }
}

double TField::AsFloat() const {
  const TRecordFormat& f = Format();
  const uint8_t* b = Buffer();
  switch (kind_) {
    case TFieldKind::Float:
      return f.GetFloat(fieldNo_, b).value_or(0.0);
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return static_cast<double>(f.GetInteger(fieldNo_, b).value_or(0));
    case TFieldKind::Bcd: {
      const auto v = f.GetBcd(fieldNo_, b);
      return v ? BcdToDouble(*v) : 0.0;
    }
    case TFieldKind::Date:
    case TFieldKind::Time:
    case TFieldKind::Timestamp:
      return AsDateTime();
    case TFieldKind::String:
    case TFieldKind::Memo:
      return FromText<double>(AsString(), TextToFloat, dbmsg::kInvalidFloat);
    default:
      AccessError("Float");
  }
}

TDateTime TField::AsDateTime() const {
  const TRecordFormat& f = Format();
  const uint8_t* b = Buffer();
  switch (kind_) {
    case TFieldKind::Date: {
      const auto day = f.GetInteger(fieldNo_, b);
      return day ? DateTimeFromParts(static_cast<int32_t>(*day), 0) : 0.0;
    }
    case TFieldKind::Time: {
      const auto ms = f.GetInteger(fieldNo_, b);
      return ms ? DateTimeFromParts(kDayOf18991230, static_cast<int32_t>(*ms)) : 0.0;
    }
    case TFieldKind::Timestamp: {
      const auto ms = f.GetFloat(fieldNo_, b);
      int32_t day = 0, time = 0;
      if (!ms || !SplitTimestamp(*ms, day, time)) return 0.0;
      return DateTimeFromParts(day, time);
    }
    case TFieldKind::Float:
      return f.GetFloat(fieldNo_, b).value_or(0.0);
    case TFieldKind::String:
    case TFieldKind::Memo:
      return FromText<TDateTime>(AsString(), TextToDateTime, dbmsg::kInvalidTimestamp);
    default:
      AccessError("DateTime");
  }
}

bool TField::AsBoolean() const {
  const TRecordFormat& f = Format();
  const uint8_t* b = Buffer();
  switch (kind_) {
    case TFieldKind::Boolean:
      return f.GetBoolean(fieldNo_, b).value_or(false);
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return f.GetInteger(fieldNo_, b).value_or(0) != 0;
    case TFieldKind::String:
    case TFieldKind::Memo:
      return FromText<bool>(AsString(), TextToBoolean, dbmsg::kInvalidBoolean);
    default:
      AccessError("Boolean");
  }
}

TVariant TField::Value() const {
  if (IsNull()) return {};
  switch (kind_) {
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return TVariant(static_cast<long long>(AsInteger()));
    case TFieldKind::Float:
    case TFieldKind::Bcd:
      return TVariant(AsFloat());
    case TFieldKind::Boolean:
      return TVariant(AsBoolean());
    case TFieldKind::Date:
    case TFieldKind::Time:
    case TFieldKind::Timestamp:
      return TVariant(AsDateTime());
    default:
      return TVariant(AsString());
  }
}

// ---- stores --------------------------------------------------------------------------------

void TField::StoreRangeChecked(uint8_t* image, int64_t value) const {
  int64_t lo = 0, hi = 0;
  IntegerFieldRange(descriptor_.type, lo, hi);
  if (value < lo || value > hi) {
    RaiseDatabaseError(dbmsg::kFieldRange, {std::to_string(value), FieldName(), std::to_string(lo),
                                            std::to_string(hi)});
  }
  Format().SetInteger(fieldNo_, image, value);
}

void TField::StoreText(uint8_t* image, std::string_view text) const {
  const TRecordFormat& f = Format();
  if (text.empty()) {
    f.SetNull(fieldNo_, image);
    return;
  }
  const std::string owned(text);
  std::string_view invalid;
  switch (kind_) {
    case TFieldKind::String:
      f.SetString(fieldNo_, image, text);
      return;
    case TFieldKind::Bytes:
      f.SetBytes(
          fieldNo_, image,
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
      return;
    case TFieldKind::Float: {
      double v = 0;
      if (!TextToFloat(text, v)) RaiseDatabaseError(dbmsg::kInvalidFloat, {owned});
      StoreFloat(image, v);
      return;
    }
    case TFieldKind::Memo:
    case TFieldKind::Blob:
      AccessError("String");
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      invalid = dbmsg::kInvalidInteger;
      break;
    case TFieldKind::Bcd:
      invalid = dbmsg::kInvalidFloat;
      break;
    case TFieldKind::Boolean:
      invalid = dbmsg::kInvalidBoolean;
      break;
    case TFieldKind::Date:
      invalid = dbmsg::kInvalidDate;
      break;
    case TFieldKind::Time:
      invalid = dbmsg::kInvalidTime;
      break;
    case TFieldKind::Timestamp:
      invalid = dbmsg::kInvalidTimestamp;
      break;
  }
  std::vector<uint8_t> value;
  if (!FieldValueFromText(descriptor_, text, CurrentLocalMoment(), value)) {
    int64_t number = 0;
    if (invalid == dbmsg::kInvalidInteger && TextToInt64(text, number)) {
      StoreRangeChecked(image, number);  // out of the type's range: says so
    }
    RaiseDatabaseError(invalid, {owned});
  }
  f.SetField(fieldNo_, image, std::span<const uint8_t>(value));
}

void TField::StoreInteger(uint8_t* image, int64_t value) const {
  switch (kind_) {
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      StoreRangeChecked(image, value);
      return;
    case TFieldKind::Float:
      StoreFloat(image, static_cast<double>(value));
      return;
    case TFieldKind::Boolean:
      StoreBoolean(image, value != 0);
      return;
    case TFieldKind::String:
    case TFieldKind::Bcd:
      StoreText(image, std::to_string(value));
      return;
    default:
      AccessError("Integer");
  }
}

void TField::StoreFloat(uint8_t* image, double value) const {
  if (!std::isfinite(value)) RaiseDatabaseError(dbmsg::kInvalidFloat, {std::to_string(value)});
  if (value == 0) value = 0.0;  // no negative zero: it would not find 0 in an index
  const TRecordFormat& f = Format();
  switch (kind_) {
    case TFieldKind::Float:
      f.SetFloat(fieldNo_, image, value);
      return;
    case TFieldKind::Integer:
    case TFieldKind::AutoInc: {
      int64_t v = 0;
      if (!TruncToInt64(std::round(value), v)) {
        RaiseDatabaseError(dbmsg::kInvalidInteger, {FloatToText(value)});
      }
      StoreRangeChecked(image, v);
      return;
    }
    case TFieldKind::Bcd: {
      TBcd v{};
      if (!DoubleToBcd(value, descriptor_.scale, v)) {
        RaiseDatabaseError(dbmsg::kInvalidFloat, {FloatToText(value)});
      }
      f.SetBcd(fieldNo_, image, v);
      return;
    }
    case TFieldKind::String:
      StoreText(image, FloatToText(value));
      return;
    case TFieldKind::Date:
    case TFieldKind::Time:
    case TFieldKind::Timestamp:
      StoreDateTime(image, value);
      return;
    default:
      AccessError("Float");
  }
}

void TField::StoreDateTime(uint8_t* image, TDateTime value) const {
  const TRecordFormat& f = Format();
  if (kind_ == TFieldKind::Float) {
    StoreFloat(image, value);
    return;
  }
  int32_t day = 0, ms = 0;
  const bool valid = DateTimeToParts(value, day, ms);
  switch (kind_) {
    case TFieldKind::Date:
      if (!valid) RaiseDatabaseError(dbmsg::kInvalidDate, {FloatToText(value)});
      f.SetInteger(fieldNo_, image, day);
      return;
    case TFieldKind::Time:
      if (!valid) RaiseDatabaseError(dbmsg::kInvalidTime, {FloatToText(value)});
      f.SetInteger(fieldNo_, image, ms);
      return;
    case TFieldKind::Timestamp:
      if (!valid) RaiseDatabaseError(dbmsg::kInvalidTimestamp, {FloatToText(value)});
      f.SetFloat(fieldNo_, image, static_cast<double>(day) * kMsPerDay + ms);
      return;
    case TFieldKind::String:
      if (!valid) RaiseDatabaseError(dbmsg::kInvalidTimestamp, {FloatToText(value)});
      StoreText(image, DateTimeText(day, ms));
      return;
    default:
      AccessError("DateTime");
  }
}

void TField::StoreBoolean(uint8_t* image, bool value) const {
  switch (kind_) {
    case TFieldKind::Boolean:
      Format().SetBoolean(fieldNo_, image, value);
      return;
    case TFieldKind::Integer:
      StoreRangeChecked(image, value ? 1 : 0);
      return;
    case TFieldKind::String:
      StoreText(image, BooleanToText(value));
      return;
    default:
      AccessError("Boolean");
  }
}

void TField::StoreValue(uint8_t* image, const TVariant& value) const {
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      if (IsBlob()) AccessError("Variant");
      Format().SetNull(fieldNo_, image);
      return;
    case TVariant::TKind::Boolean:
      StoreBoolean(image, value.Boolean());
      return;
    case TVariant::TKind::Integer:
      StoreInteger(image, value.Integer());
      return;
    case TVariant::TKind::Float:
      StoreFloat(image, value.Float());
      return;
    case TVariant::TKind::Text:
      StoreText(image, value.Text());
      return;
  }
}

// ---- writes --------------------------------------------------------------------------------

void TField::SetAsString(std::string_view text) {
  uint8_t* image = WriteBuffer();
  if (IsBlob()) {
    WriteBlobText(text);
  } else {
    StoreText(image, text);
  }
  Written();
}

void TField::SetAsInteger(int64_t value) {
  uint8_t* image = WriteBuffer();
  if (kind_ == TFieldKind::Memo) {
    WriteBlobText(std::to_string(value));
  } else {
    StoreInteger(image, value);
  }
  Written();
}

void TField::SetAsFloat(double value) {
  uint8_t* image = WriteBuffer();
  if (kind_ == TFieldKind::Memo) {
    if (!std::isfinite(value)) RaiseDatabaseError(dbmsg::kInvalidFloat, {std::to_string(value)});
    WriteBlobText(FloatToText(value));
  } else {
    StoreFloat(image, value);
  }
  Written();
}

void TField::SetAsDateTime(TDateTime value) {
  StoreDateTime(WriteBuffer(), value);
  Written();
}

void TField::SetAsBoolean(bool value) {
  uint8_t* image = WriteBuffer();
  if (kind_ == TFieldKind::Memo) {
    WriteBlobText(BooleanToText(value));
  } else {
    StoreBoolean(image, value);
  }
  Written();
}

void TField::SetValue(const TVariant& value) {
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      Clear();
      return;
    case TVariant::TKind::Boolean:
      SetAsBoolean(value.Boolean());
      return;
    case TVariant::TKind::Integer:
      SetAsInteger(value.Integer());
      return;
    case TVariant::TKind::Float:
      SetAsFloat(value.Float());
      return;
    case TVariant::TKind::Text:
      SetAsString(value.Text());
      return;
  }
}

void TField::Clear() {
  uint8_t* image = WriteBuffer();
  if (IsBlob()) {
    WriteBlobText({});
  } else {
    Format().SetNull(fieldNo_, image);
  }
  Written();
}

// ---- blob values -------------------------------------------------------------------------

std::string TField::BlobText() const {
  TEngineBlobStream stream(const_cast<TField&>(*this), TBlobStreamMode::Read);
  return stream.ReadAll();
}

void TField::WriteBlobText(std::string_view text) {
  TEngineBlobStream stream(*this, TBlobStreamMode::Write);
  stream.Write(text.data(), text.size());
}

}  // namespace mt
