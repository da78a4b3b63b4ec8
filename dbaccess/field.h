// TField: one column of an open dataset, reading and writing its value in the dataset's active
// record buffer by field number.
//
// Reads. A null value reads as empty text, 0, 0.0, false and TDateTime 0 ("no date"). Every
// kind converts to text (dates yyyy-mm-dd, times hh:mm[:ss[.zzz]], timestamps both, floats
// the shortest form with 15 significant digits and ".", booleans True/False, memo and blob
// fields their contents, byte fields their raw bytes); text converts to the other kinds by the
// same literal formats; a conversion the kinds do not allow is "Cannot access field '%s' as
// type %s".
//
// Writes. Only in edit or insert state ("Table is not in edit or insert mode.") and only to a
// field that can be modified ("Field %s cannot be modified.": a read-only field, an
// auto-increment field, a read-only dataset). A value is converted to the column's type;
// empty text stores null in every column. Numbers outside the column's range are refused.
//
// Dates and times as numbers (TDateTime): days since 30 December 1899 with the time of day as
// the fraction; before that day the whole part counts back and the fraction still runs
// forward (-1.25 is 29 December 1899, 06:00).
//
// A field object lives while its dataset is open; Close destroys it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/record.h"
#include "variant.h"

namespace mt {

class TEngineDataSet;

using TDateTime = double;

// A TDateTime from a day number (1 January 0001 is day 1) and milliseconds since midnight.
TDateTime DateTimeFromParts(int32_t dayNumber, int32_t milliseconds);
// The day number and milliseconds of a TDateTime; false when it is not finite or its day lies
// outside 1 January 0001 to 31 December 9999.
bool DateTimeToParts(TDateTime value, int32_t& dayNumber, int32_t& milliseconds);

enum class TFieldKind {
  String,
  Integer,  // smallint, integer, word, unsigned integer, largeint
  AutoInc,
  Float,  // float, money, extended
  Bcd,
  Boolean,
  Date,
  Time,
  Timestamp,
  Bytes,  // bytes and varbytes
  Memo,   // blobs holding text
  Blob,   // other blobs
};

class TField {
 public:
  TField(TEngineDataSet& dataSet, int fieldNo, const TFieldDescriptor& descriptor);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TEngineDataSet& DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return descriptor_.name; }
  int FieldNo() const { return fieldNo_; }
  const TFieldDescriptor& Descriptor() const { return descriptor_; }
  TFieldKind Kind() const { return kind_; }
  bool IsBlob() const { return kind_ == TFieldKind::Memo || kind_ == TFieldKind::Blob; }
  // Declared size of strings and byte fields, 0 for other types.
  int Size() const { return descriptor_.size; }
  bool Required() const { return descriptor_.required; }

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  // Not read-only, not auto-increment, and the dataset can be modified.
  bool CanModify() const;

  // ---- reads ----
  bool IsNull() const;
  std::string AsString() const;
  int64_t AsInteger() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  bool AsBoolean() const;
  // Null, or the value as its natural kind: text, integer, float (BCD too), boolean,
  // TDateTime for dates and times, raw bytes as text for byte and blob fields.
  TVariant Value() const;

  // ---- writes ----
  void SetAsString(std::string_view text);
  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  void SetAsDateTime(TDateTime value);
  void SetAsBoolean(bool value);
  // The typed write of the value's kind; null clears.
  void SetValue(const TVariant& value);
  void Clear();

 private:
  friend class TEngineDataSet;

  const TRecordFormat& Format() const;
  const uint8_t* Buffer() const;
  // The edit buffer after the write checks.
  uint8_t* WriteBuffer();
  void Written();

  // Stores a value into an image as a write would (no state checks; blob fields refused).
  void StoreValue(uint8_t* image, const TVariant& value) const;
  void StoreText(uint8_t* image, std::string_view text) const;
  void StoreInteger(uint8_t* image, int64_t value) const;
  void StoreFloat(uint8_t* image, double value) const;
  void StoreDateTime(uint8_t* image, TDateTime value) const;
  void StoreBoolean(uint8_t* image, bool value) const;
  // An integer type's range check.
  void StoreRangeChecked(uint8_t* image, int64_t value) const;

  std::string BlobText() const;
  void WriteBlobText(std::string_view text);

  [[noreturn]] void AccessError(std::string_view typeName) const;

  TEngineDataSet& dataSet_;
  int fieldNo_;
  TFieldDescriptor descriptor_;
  TFieldKind kind_;
  bool readOnly_ = false;
};

}  // namespace mt
