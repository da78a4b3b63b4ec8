// Record images and the encoding of field values in them.
//
// A record image is record-size bytes:
//   0  byte   state: 0 active, 1 deleted
//   1  int32  active: its own record number; deleted: the next deleted record, 0 at the end
//   5  int32  the record's auto-increment value (also the value of an auto-increment field)
//   9  ...    the fields, each at its descriptor's offset: one null-flag byte (1 value
//             present, 0 null) followed by physical-size value bytes, all zero when null.
// Auto-increment fields have no bytes of their own (offset 5, never null); virtual fields
// have no bytes in the image at all (their values live with the SQL layer's result rows).
//
// Value encodings (little-endian): string = zero-terminated GBK text padded with zeros; date
// = int32 day number (1 January 0001 is day 1); time = int32 ms since midnight; timestamp =
// double ms (day number x 86400000 + time); boolean = uint16 0/1; smallint int16; integer
// int32; word uint16; unsigned integer uint32; largeint int64; float and money double; BCD 34
// bytes (engine/common/numeric.h); extended 80-bit float; bytes and varbytes the declared
// number of raw bytes; blob an int32 first block number and an int32 stamp.
//
// TRecordFormat is immutable once built and may be shared by threads; the images it works on
// belong to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "tablelayout.h"

namespace mt {

namespace rec {
inline constexpr std::size_t kState = 0;
inline constexpr std::size_t kNumber = 1;
inline constexpr std::size_t kAutoInc = 5;
inline constexpr std::size_t kFirstField = 9;
inline constexpr uint8_t kActive = 0;
inline constexpr uint8_t kDeleted = 1;
}  // namespace rec

// Builds the value bytes (physical size) of a field from a default, minimum or maximum text:
// a string field takes the text itself, every other type reads it with ReadLiteral
// (literals.h), `now` standing in for the CURRENT_ keywords. False when the text is no value
// of the type (bytes, varbytes and blob fields have no text form).
bool FieldValueFromText(const TFieldDescriptor& field, std::string_view text,
                        const TLocalMoment& now, std::vector<uint8_t>& value);
// True when the text is empty or a value of the field's type (IsValidText, with the field's
// scale).
bool IsValidFieldText(const TFieldDescriptor& field, std::string_view text);

// Whether two fields store their values alike, so that a value's bytes (null flag included) can
// go from a record of one into a record of the other unchanged: the same type, subtype, size,
// scale and letter-case rule, both virtual or neither, and no blob (its bytes name blocks of
// its own table's blob file).
bool SameStoredForm(const TFieldDescriptor& a, const TFieldDescriptor& b);

// Cuts GBK text to at most maxBytes bytes without splitting a two-byte character.
std::string_view CutGbk(std::string_view text, std::size_t maxBytes);

class TRecordFormat {
 public:
  // Recomputes the virtual fields of an image after a non-virtual field changed. Supplied by
  // the SQL layer for result tables.
  using TVirtualEvaluator = std::function<void(uint8_t* image)>;

  TRecordFormat() = default;
  // fields in position order with offsets and physical sizes already set (validated).
  TRecordFormat(std::vector<TFieldDescriptor> fields, int recordSize, uint32_t localeId,
                std::string tableName);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  int RecordSize() const { return recordSize_; }
  uint32_t LocaleId() const { return localeId_; }
  const std::string& TableName() const { return tableName_; }
  const std::vector<TFieldDescriptor>& Fields() const { return fields_; }
  // Field by number, from 1; 9985 for a number out of range.
  const TFieldDescriptor& Field(int fieldNo) const {
    if (fieldNo < 1 || fieldNo > FieldCount()) [[unlikely]]
      RaiseInvalidField(fieldNo);
    return fields_[static_cast<std::size_t>(fieldNo - 1)];
  }
  // Field number by name without regard to letter case; 0 when there is none.
  int FindField(std::string_view name) const;
  // Bytes GetField hands out for a field: 4 for blobs and auto-increment fields, 0 for
  // virtual fields, else the physical size.
  int ValueSize(int fieldNo) const;

  void SetVirtualEvaluator(TVirtualEvaluator evaluator) {
    virtualEvaluator_ = std::move(evaluator);
  }

  // Copies the value bytes (ValueSize bytes) into `value` when it is not null and returns
  // whether the field is null. value may be null to ask only for the null state.
  bool GetField(int fieldNo, const uint8_t* image, uint8_t* value) const;
  // Stores a value (nullopt: null). Strings: the text up to its first zero byte, cut to the
  // physical size - 1 bytes without splitting a GBK character, trailing blanks removed,
  // case-converted by the descriptor; empty is null. Booleans: any non-zero value is 1.
  // Blobs: the 4-byte reference, null when 0. Other types: the value bytes as given (fewer
  // bytes are padded with zeros). Auto-increment fields go to offset 5 and ignore null.
  // Virtual fields are only touched with allowVirtual. Then recomputes virtual fields.
  void SetField(int fieldNo, uint8_t* image, std::optional<std::span<const uint8_t>> value,
                bool allowVirtual = false) const;
  // Where field fieldNo's stored value lies in an image: its null flag and value bytes; for an
  // auto-increment field, the record's auto-increment value; nothing for a virtual field.
  struct TStoredBytes {
    std::size_t offset = 0;
    std::size_t length = 0;
  };
  TStoredBytes StoredBytes(int fieldNo) const;
  // Copies field fromNo of `source`, an image of `from`, into field fieldNo of `image` as it is
  // stored, null flag and all; the two fields must store their values alike (SameStoredForm).
  // Then recomputes virtual fields, as SetField does.
  void CopyStoredField(int fieldNo, uint8_t* image, const TRecordFormat& from, int fromNo,
                       const uint8_t* source) const;
  // Clears the image and applies the defaults.
  void InitRecord(uint8_t* image, const TLocalMoment& now) const;
  void InitRecord(uint8_t* image) const { InitRecord(image, CurrentLocalMoment()); }
  // Required, minimum and maximum checks in field order: 9732, 9730, 9731.
  void CheckRecord(const uint8_t* image, const TLocalMoment& now) const;
  void CheckRecord(const uint8_t* image) const { CheckRecord(image, CurrentLocalMoment()); }

  // Typed access. Setters raise 9985 when the field's type does not take the value; getters
  // return nullopt for null.
  void SetNull(int fieldNo, uint8_t* image) const { SetField(fieldNo, image, std::nullopt); }
  void SetString(int fieldNo, uint8_t* image, std::string_view text) const;
  // Integer types (smallint, integer, auto-increment, word, unsigned, largeint) and dates
  // and times (day numbers, ms); the value must fit the field (9985 otherwise).
  void SetInteger(int fieldNo, uint8_t* image, int64_t value) const;
  void SetBoolean(int fieldNo, uint8_t* image, bool value) const;
  // Float, money, timestamp and extended fields.
  void SetFloat(int fieldNo, uint8_t* image, double value) const;
  void SetBcd(int fieldNo, uint8_t* image, const TBcd& value) const;
  void SetBytes(int fieldNo, uint8_t* image, std::span<const uint8_t> bytes) const;
  void SetBlobRef(int fieldNo, uint8_t* image, int32_t firstBlock) const;

  std::optional<std::string> GetString(int fieldNo, const uint8_t* image) const;
  std::optional<int64_t> GetInteger(int fieldNo, const uint8_t* image) const;
  std::optional<bool> GetBoolean(int fieldNo, const uint8_t* image) const;
  std::optional<double> GetFloat(int fieldNo, const uint8_t* image) const;
  std::optional<TBcd> GetBcd(int fieldNo, const uint8_t* image) const;
  std::optional<std::vector<uint8_t>> GetBytes(int fieldNo, const uint8_t* image) const;
  // Both halves of a blob reference: first block and stamp (null: nullopt).
  std::optional<std::pair<int32_t, int32_t>> GetBlobRef(int fieldNo, const uint8_t* image) const;
  // The value in its text form (literals.h: dates, times, timestamps, floats, BCD values,
  // booleans and integers); strings and bytes as stored. nullopt for null and for blob and
  // virtual fields.
  std::optional<std::string> GetText(int fieldNo, const uint8_t* image) const;

 private:
  [[noreturn]] void RaiseInvalidField(int fieldNo) const;
  [[noreturn]] void RaiseInvalidField(const TFieldDescriptor* field) const;
  int CompareWithText(const TFieldDescriptor& field, const uint8_t* valueBytes,
                      const std::vector<uint8_t>& bound) const;

  std::vector<TFieldDescriptor> fields_;
  int recordSize_ = kRecordOverhead;
  uint32_t localeId_ = 0;
  std::string tableName_;
  TVirtualEvaluator virtualEvaluator_;
};

}  // namespace mt
