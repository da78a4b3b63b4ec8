// Record images and the encoding of field values in them.
#include "record.h"

#include <cstring>

#include "byteio.h"
#include "engine/common/debugcheck.h"
#include "engine/common/engineerror.h"
#include "engine/common/gbk.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"

namespace mt {
namespace {

void PutInt(std::vector<uint8_t>& v, int64_t x, std::size_t width) {
  v.assign(width, 0);
  for (std::size_t i = 0; i < width; ++i)
    v[i] = static_cast<uint8_t>(static_cast<uint64_t>(x) >> (8 * i));
}

// Signed or unsigned value of an integer-like field from its value bytes.
int64_t IntegerOf(uint8_t type, const uint8_t* p) {
  switch (type) {
    case ftype::kSmallInt:
      return le::GetI16(p, 0);
    case ftype::kBoolean:
    case ftype::kWord:
      return le::GetU16(p, 0);
    case ftype::kUInt32:
      return le::GetU32(p, 0);
    case ftype::kLargeInt:
      return le::GetI64(p, 0);
    default:  // integer, auto-increment, date, time
      return le::GetI32(p, 0);
  }
}

bool IsIntegerLike(uint8_t type) {
  switch (type) {
    case ftype::kSmallInt:
    case ftype::kInteger:
    case ftype::kWord:
    case ftype::kUInt32:
    case ftype::kLargeInt:
    case ftype::kDate:
    case ftype::kTime:
    case ftype::kBoolean:
      return true;
    default:
      return false;
  }
}

bool IsFloatLike(uint8_t type) {
  return type == ftype::kFloat || type == ftype::kTimestamp || type == ftype::kExtended;
}

double FloatOf(uint8_t type, const uint8_t* p) {
  if (type == ftype::kExtended) {
    TExtended e;
    std::memcpy(e.data(), p, e.size());
    return ExtendedToDouble(e);
  }
  return le::GetF64(p, 0);
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

std::string_view CutGbk(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t i = 0;
  while (i < maxBytes) {
    const std::size_t width =
        IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    if (i + width > maxBytes) break;
    i += width;
  }
  return text.substr(0, i);
}

bool FieldValueFromText(const TFieldDescriptor& field, std::string_view text,
                        const TLocalMoment& now, std::vector<uint8_t>& value) {
  if (field.type == ftype::kString) {
    value.assign(text.begin(), text.end());
    return true;
  }
  TLiteralValue literal;
  if (!ReadLiteral(text, field.type, field.scale, literal, &now)) return false;
  value.assign(literal.Bytes().begin(), literal.Bytes().end());
  return true;
}

bool IsValidFieldText(const TFieldDescriptor& field, std::string_view text) {
  return text.empty() || IsValidText(text, field.type, field.scale);
}

TRecordFormat::TRecordFormat(std::vector<TFieldDescriptor> fields, int recordSize,
                             uint32_t localeId, std::string tableName)
    : fields_(std::move(fields)),
      recordSize_(recordSize),
      localeId_(localeId),
      tableName_(std::move(tableName)) {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    fields_[i].position = static_cast<int>(i + 1);
}

void TRecordFormat::RaiseInvalidField(const TFieldDescriptor* field) const {
  RaiseEngineError(err::kInvalidField,
                   {.table = tableName_, .field = field != nullptr ? field->name : std::string()});
}

void TRecordFormat::RaiseInvalidField(int fieldNo) const {
  RaiseEngineError(err::kInvalidField, {.table = tableName_, .field = std::to_string(fieldNo)});
}

int TRecordFormat::FindField(std::string_view name) const {
  std::string wanted(name);
  UpperCaseGbk(wanted);
  for (const TFieldDescriptor& f : fields_) {
    std::string n = f.name;
    UpperCaseGbk(n);
    if (n == wanted) return f.position;
  }
  return 0;
}

int TRecordFormat::ValueSize(int fieldNo) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.isVirtual) return 0;
  if (IsAutoIncField(f.type, f.subtype) || IsBlobField(f.type)) return 4;
  return f.physicalSize;
}

bool TRecordFormat::GetField(int fieldNo, const uint8_t* image, uint8_t* value) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.isVirtual) return true;
  if (IsAutoIncField(f.type, f.subtype)) {
    if (value != nullptr) std::memcpy(value, image + rec::kAutoInc, 4);
    return false;
  }
  const bool isNull = image[f.offset] == 0;
  if (value != nullptr) std::memcpy(value, image + f.offset + 1, ValueSize(fieldNo));
  return isNull;
}

bool SameStoredForm(const TFieldDescriptor& a, const TFieldDescriptor& b) {
  return a.type == b.type && a.subtype == b.subtype && a.size == b.size && a.scale == b.scale &&
         a.caseMode == b.caseMode && a.isVirtual == b.isVirtual && !IsBlobField(a.type);
}

TRecordFormat::TStoredBytes TRecordFormat::StoredBytes(int fieldNo) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.isVirtual) return {};
  if (IsAutoIncField(f.type, f.subtype)) return {rec::kAutoInc, 4};
  return {f.offset, 1u + f.physicalSize};
}

void TRecordFormat::CopyStoredField(int fieldNo, uint8_t* image, const TRecordFormat& from,
                                    int fromNo, const uint8_t* source) const {
  MT_ASSERT(SameStoredForm(Field(fieldNo), from.Field(fromNo)));
  const TStoredBytes to = StoredBytes(fieldNo);
  const TStoredBytes at = from.StoredBytes(fromNo);
  if (to.length == 0) return;
  std::memcpy(image + to.offset, source + at.offset, to.length);
  if (virtualEvaluator_) virtualEvaluator_(image);
}

void TRecordFormat::SetField(int fieldNo, uint8_t* image,
                             std::optional<std::span<const uint8_t>> value,
                             bool allowVirtual) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.isVirtual) {
    // Virtual values have no bytes in the image; the SQL layer keeps them with its rows.
    (void)allowVirtual;
    return;
  }
  if (IsAutoIncField(f.type, f.subtype)) {
    if (value) {
      uint8_t bytes[4] = {};
      std::memcpy(bytes, value->data(), std::min<std::size_t>(value->size(), 4));
      std::memcpy(image + rec::kAutoInc, bytes, 4);
    }
  } else {
    uint8_t* flag = image + f.offset;
    uint8_t* bytes = flag + 1;
    const std::size_t size = IsBlobField(f.type) ? 4 : f.physicalSize;
    std::memset(bytes, 0, size);
    *flag = 0;
    if (value) {
      if (f.type == ftype::kString) {
        std::string_view text(reinterpret_cast<const char*>(value->data()), value->size());
        text = text.substr(0, text.find('\0'));
        text = CutGbk(text, f.physicalSize - 1u);
        while (!text.empty() && text.back() == ' ')
          text.remove_suffix(1);
        std::string stored(text);
        if (f.caseMode == kCaseLower) LowerCaseGbk(stored);
        if (f.caseMode == kCaseUpper) UpperCaseGbk(stored);
        std::memcpy(bytes, stored.data(), stored.size());
        *flag = stored.empty() ? 0 : 1;
      } else if (f.type == ftype::kBoolean) {
        bool any = false;
        for (uint8_t b : *value)
          any = any || b != 0;
        le::PutU16(bytes, 0, any ? 1 : 0);
        *flag = 1;
      } else {
        std::memcpy(bytes, value->data(), std::min(size, value->size()));
        *flag = IsBlobField(f.type) ? (le::GetI32(bytes, 0) != 0 ? 1 : 0) : 1;
      }
    }
  }
  if (virtualEvaluator_) virtualEvaluator_(image);
}

void TRecordFormat::InitRecord(uint8_t* image, const TLocalMoment& now) const {
  std::memset(image, 0, recordSize_);
  std::vector<uint8_t> value;
  for (const TFieldDescriptor& f : fields_) {
    if (f.defaultText.empty() || f.isVirtual || IsAutoIncField(f.type, f.subtype)) continue;
    if (FieldValueFromText(f, f.defaultText, now, value)) {
      SetField(f.position, image, std::span<const uint8_t>(value));
    }
  }
}

int TRecordFormat::CompareWithText(const TFieldDescriptor& f, const uint8_t* p,
                                   const std::vector<uint8_t>& bound) const {
  if (f.type == ftype::kString) {
    const auto* s = reinterpret_cast<const char*>(p);
    const std::string_view text(s, strnlen(s, f.physicalSize));
    const std::string_view limit(reinterpret_cast<const char*>(bound.data()), bound.size());
    return CompareLocaleText(localeId_, text, limit);
  }
  if (f.type == ftype::kBcd) {
    TBcd a{}, b{};
    std::memcpy(a.data(), p, a.size());
    std::memcpy(b.data(), bound.data(), b.size());
    return CompareBcd(a, b);
  }
  if (IsFloatLike(f.type)) return Sign(FloatOf(f.type, p), FloatOf(f.type, bound.data()));
  if (IsIntegerLike(f.type)) return Sign(IntegerOf(f.type, p), IntegerOf(f.type, bound.data()));
  return 0;
}

void TRecordFormat::CheckRecord(const uint8_t* image, const TLocalMoment& now) const {
  std::vector<uint8_t> bound;
  for (const TFieldDescriptor& f : fields_) {
    if (f.isVirtual) continue;
    const bool autoInc = IsAutoIncField(f.type, f.subtype);
    const bool isNull = !autoInc && image[f.offset] == 0;
    if (isNull) {
      if (f.required) RaiseEngineError(err::kValueRequired, {.table = tableName_, .field = f.name});
      continue;
    }
    const uint8_t* p = autoInc ? image + rec::kAutoInc : image + f.offset + 1;
    if (!f.minText.empty() && FieldValueFromText(f, f.minText, now, bound) &&
        CompareWithText(f, p, bound) < 0) {
      RaiseEngineError(err::kBelowMinimum, {.table = tableName_, .field = f.name});
    }
    if (!f.maxText.empty() && FieldValueFromText(f, f.maxText, now, bound) &&
        CompareWithText(f, p, bound) > 0) {
      RaiseEngineError(err::kAboveMaximum, {.table = tableName_, .field = f.name});
    }
  }
}

void TRecordFormat::SetString(int fieldNo, uint8_t* image, std::string_view text) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kString) RaiseInvalidField(&f);
  SetField(fieldNo, image,
           std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void TRecordFormat::SetInteger(int fieldNo, uint8_t* image, int64_t value) const {
  const TFieldDescriptor& f = Field(fieldNo);
  int64_t lo = 0, hi = 0;
  if (!IntegerFieldRange(f.type, lo, hi) || value < lo || value > hi) RaiseInvalidField(&f);
  // Auto-increment fields have no bytes of their own but take a 4-byte value.
  const std::size_t width = IsAutoIncField(f.type, f.subtype) ? 4 : f.physicalSize;
  std::vector<uint8_t> bytes;
  PutInt(bytes, value, width);
  SetField(fieldNo, image, std::span<const uint8_t>(bytes));
}

void TRecordFormat::SetBoolean(int fieldNo, uint8_t* image, bool value) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBoolean) RaiseInvalidField(&f);
  const uint8_t bytes[2] = {static_cast<uint8_t>(value ? 1 : 0), 0};
  SetField(fieldNo, image, std::span<const uint8_t>(bytes));
}

void TRecordFormat::SetFloat(int fieldNo, uint8_t* image, double value) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type == ftype::kExtended) {
    const TExtended e = DoubleToExtended(value);
    SetField(fieldNo, image, std::span<const uint8_t>(e));
    return;
  }
  if (f.type != ftype::kFloat && f.type != ftype::kTimestamp) RaiseInvalidField(&f);
  uint8_t bytes[8];
  le::PutF64(bytes, 0, value);
  SetField(fieldNo, image, std::span<const uint8_t>(bytes));
}

void TRecordFormat::SetBcd(int fieldNo, uint8_t* image, const TBcd& value) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBcd) RaiseInvalidField(&f);
  SetField(fieldNo, image, std::span<const uint8_t>(value));
}

void TRecordFormat::SetBytes(int fieldNo, uint8_t* image, std::span<const uint8_t> bytes) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBytes && f.type != ftype::kVarBytes) RaiseInvalidField(&f);
  SetField(fieldNo, image, bytes);
}

void TRecordFormat::SetBlobRef(int fieldNo, uint8_t* image, int32_t firstBlock) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (!IsBlobField(f.type)) RaiseInvalidField(&f);
  uint8_t bytes[4];
  le::PutI32(bytes, 0, firstBlock);
  SetField(fieldNo, image, std::span<const uint8_t>(bytes));
}

std::optional<std::string> TRecordFormat::GetString(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kString) RaiseInvalidField(&f);
  if (GetField(fieldNo, image, nullptr)) return std::nullopt;
  const auto* s = reinterpret_cast<const char*>(image + f.offset + 1);
  return std::string(s, strnlen(s, f.physicalSize));
}

std::optional<int64_t> TRecordFormat::GetInteger(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (!IsIntegerLike(f.type) || f.type == ftype::kBoolean) RaiseInvalidField(&f);
  uint8_t bytes[8] = {};
  if (GetField(fieldNo, image, bytes)) return std::nullopt;
  return IntegerOf(f.type, bytes);
}

std::optional<bool> TRecordFormat::GetBoolean(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBoolean) RaiseInvalidField(&f);
  uint8_t bytes[2] = {};
  if (GetField(fieldNo, image, bytes)) return std::nullopt;
  return le::GetU16(bytes, 0) != 0;
}

std::optional<double> TRecordFormat::GetFloat(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (!IsFloatLike(f.type)) RaiseInvalidField(&f);
  uint8_t bytes[kExtendedSize] = {};
  if (GetField(fieldNo, image, bytes)) return std::nullopt;
  return FloatOf(f.type, bytes);
}

std::optional<TBcd> TRecordFormat::GetBcd(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBcd) RaiseInvalidField(&f);
  TBcd value{};
  if (GetField(fieldNo, image, value.data())) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> TRecordFormat::GetBytes(int fieldNo,
                                                            const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (f.type != ftype::kBytes && f.type != ftype::kVarBytes) RaiseInvalidField(&f);
  std::vector<uint8_t> value(f.physicalSize);
  if (GetField(fieldNo, image, value.data())) return std::nullopt;
  return value;
}

std::optional<std::pair<int32_t, int32_t>> TRecordFormat::GetBlobRef(int fieldNo,
                                                                     const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (!IsBlobField(f.type)) RaiseInvalidField(&f);
  if (image[f.offset] == 0) return std::nullopt;
  return std::make_pair(le::GetI32(image, f.offset + 1), le::GetI32(image, f.offset + 5));
}

std::optional<std::string> TRecordFormat::GetText(int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = Field(fieldNo);
  if (IsBlobField(f.type) || GetField(fieldNo, image, nullptr)) return std::nullopt;
  switch (f.type) {
    case ftype::kString:
      return GetString(fieldNo, image);
    case ftype::kDate:
      return DateToText(static_cast<int32_t>(*GetInteger(fieldNo, image)));
    case ftype::kTime:
      return TimeToText(static_cast<int32_t>(*GetInteger(fieldNo, image)));
    case ftype::kTimestamp:
      return TimestampToText(*GetFloat(fieldNo, image));
    case ftype::kBoolean:
      return BooleanToText(*GetBoolean(fieldNo, image));
    case ftype::kFloat:
    case ftype::kExtended:
      return FloatToText(*GetFloat(fieldNo, image));
    case ftype::kBcd:
      return BcdToText(*GetBcd(fieldNo, image));
    case ftype::kBytes:
    case ftype::kVarBytes: {
      const std::vector<uint8_t> bytes = *GetBytes(fieldNo, image);
      return std::string(bytes.begin(), bytes.end());
    }
    default:
      return std::to_string(*GetInteger(fieldNo, image));
  }
}

}  // namespace mt
