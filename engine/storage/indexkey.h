// Index keys: how a key is built from a record image and how two keys of one index compare.
//
// A key is a byte string of the index's key length. For each field of the index, in order:
// one flag byte (1 value, 0 null) and the field's key bytes (all zero when null). A
// non-unique index appends the record identifier (offset 5 of the image) as 4 more bytes.
// Key bytes by type, chosen so that unsigned byte order is value order:
//   string                 characters, terminator, zero padding to the physical size;
//                          upper-cased (ASCII letters only, GBK two-byte characters kept)
//                          in a case-insensitive index
//   integer, date, time,   big-endian with the sign bit inverted (BCD first becomes a
//   smallint, largeint,    64-bit fixed-point number with four decimals)
//   BCD, record identifier
//   word, boolean,         big-endian
//   unsigned integer
//   float, money,          IEEE double big-endian; sign bit set for values >= 0, all bytes
//   timestamp, extended    inverted for negative values (extended: its 10 bytes likewise)
//   bytes, varbytes        unchanged
//
// Descending order. A field sorts descending when the field or the whole index is marked
// descending. Without a table locale a descending index reverses the comparison of whole
// keys, and a field marked descending in an ascending index has its flag and key bytes
// inverted, so plain byte order stays the index order. With a locale the key bytes are never
// inverted: the comparison reverses each descending field (and the identifier suffix of a
// descending index).
//
// Hidden indexes: "Sys Deleted" keys are the state byte (0 active, 1 deleted) and the record
// identifier (5 bytes); "Sys Text" keys are the text field's number (uint16 big-endian), a zero
// byte, a 61-byte zero-padded upper-cased word (at most 60 bytes) and the record number
// (big-endian), 68 bytes.
//
// Comparison: "Sys Deleted" by unsigned bytes; "Sys Text" by the 3 leading bytes, then the
// word (by the locale's collation when the table has one), then the record number; other
// indexes by unsigned bytes without a locale, field by field with one (strings by the
// locale's collation over their text, every other field by its flag and key bytes).
//
// TKeyDef is immutable once built and may be shared by threads.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_INDEXKEY_H
#define MT_STORAGE_INDEXKEY_H

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/numeric.h"
#include "indexlayout.h"
#include "tablelayout.h"

namespace mt {

enum class TIndexKind : uint8_t { Regular, RecordId, Text };

// How the fields after the given ones are filled in a search key: so that the key sorts
// before (First) or after (Last) every key that starts with the given fields.
enum class TKeyFill : uint8_t { First, Last };

// Text index key layout.
namespace tkey {
inline constexpr std::size_t kField = 0;     // uint16 big-endian: field number
inline constexpr std::size_t kReserved = 2;  // byte, zero
inline constexpr std::size_t kWord = 3;      // 61 bytes
inline constexpr std::size_t kWordBytes = 61;
inline constexpr std::size_t kMaxWordLength = 60;  // bytes of a word; the rest is zero
inline constexpr std::size_t kRecord = 64;         // uint32 big-endian: record number
}  // namespace tkey

struct TKeyField {
  uint16_t fieldNo = 0;
  uint8_t type = 0;
  uint8_t subtype = 0;
  int recordOffset = 0;  // null flag in the image; auto-increment: the value at offset 5
  int physicalSize = 0;
  int keyOffset = 0;  // the flag byte in the key
  int keySize = 0;    // key bytes after the flag
  bool isString = false;
  bool autoInc = false;
  bool descending = false;  // sorts descending (field or index flag)
  bool inverted = false;    // flag and key bytes stored inverted (no locale only)
};

// -1, 0 or 1 as the first n bytes of a and b compare as unsigned bytes. Inline and by whole
// words for the short keys most indexes have: searching a page compares keys a few dozen
// times per step.
inline int CompareKeyBytes(const uint8_t* a, const uint8_t* b, std::size_t n) {
  if (n > 32) {
    const int c = std::memcmp(a, b, n);
    return (c > 0) - (c < 0);
  }
  auto order = [](auto x, auto y) {
    if constexpr (std::endian::native == std::endian::little) {
      if constexpr (sizeof x == 8) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      } else {
        x = __builtin_bswap32(x);
        y = __builtin_bswap32(y);
      }
    }
    return x < y ? -1 : 1;
  };
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return order(x, y);
  }
  if (n >= 4) {
    uint32_t x;
    uint32_t y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    if (x != y) return order(x, y);
    a += 4;
    b += 4;
    n -= 4;
  }
  for (; n > 0; ++a, ++b, --n) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

class TKeyDef {
 public:
  TKeyDef() = default;
  // A primary (isPrimary) or secondary index over the table's fields. The descriptor must have
  // passed validation (every field exists and is indexable).
  static TKeyDef ForIndex(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                          uint32_t localeId, bool isPrimary);
  static TKeyDef ForRecordId();
  static TKeyDef ForText(uint32_t localeId);

  TIndexKind Kind() const { return kind_; }
  int Length() const { return length_; }
  bool Unique() const { return unique_; }
  // Keys end in a 4-byte record identifier (or record number) that makes them distinct.
  bool HasIdSuffix() const { return idSuffix_; }
  bool Descending() const { return descending_; }
  bool CaseInsensitive() const { return caseInsensitive_; }
  uint32_t LocaleId() const { return localeId_; }
  const std::vector<TKeyField>& Fields() const { return fields_; }

  // The key of a record image (Length() bytes).
  void Build(const uint8_t* image, uint8_t* key) const;
  // True when the two images hold the same bytes wherever Build reads (each field's null flag
  // and value, the identifier): their keys are then equal without being built. False may
  // still mean equal keys (a null field's stale value bytes, other index kinds).
  bool SameSource(const uint8_t* a, const uint8_t* b) const;
  // The key of the first `fieldCount` fields of the image; the remaining fields and the
  // identifier suffix are filled as `fill` says.
  void BuildPartial(const uint8_t* image, int fieldCount, TKeyFill fill, uint8_t* key) const;
  // Fills fields from index position `firstField` (from 0) on, and the suffix.
  void Fill(int firstField, TKeyFill fill, uint8_t* key) const;

  // <0, 0, >0 in index order.
  int Compare(const uint8_t* a, const uint8_t* b) const {
    if (byteOrder_ && kind_ != TIndexKind::Text) {
      const int c = CompareKeyBytes(a, b, static_cast<std::size_t>(length_));
      return descending_ ? -c : c;
    }
    return CompareByFields(a, b);
  }
  // The same without the identifier suffix (the fields only).
  int CompareFields(const uint8_t* a, const uint8_t* b) const;
  // The first `fieldCount` fields only.
  int CompareLeading(const uint8_t* a, const uint8_t* b, int fieldCount) const;

 private:
  int CompareByFields(const uint8_t* a, const uint8_t* b) const;
  int CompareFieldRange(const uint8_t* a, const uint8_t* b, int fieldCount) const;
  int CompareSuffix(const uint8_t* a, const uint8_t* b) const;
  void EncodeField(const TKeyField& f, const uint8_t* image, uint8_t* key) const;

  TIndexKind kind_ = TIndexKind::Regular;
  int length_ = 0;
  bool unique_ = true;
  bool idSuffix_ = false;
  bool descending_ = false;
  bool caseInsensitive_ = false;
  uint32_t localeId_ = 0;
  bool byteOrder_ = true;  // the whole key compares by unsigned bytes (then reversed if desc)
  std::vector<TKeyField> fields_;
};

// Primitive key encoders: `out` receives the key bytes (without the flag).
void PutKeyInt(int64_t value, int bytes, uint8_t* out);        // sign-inverted big-endian
void PutKeyUnsigned(uint64_t value, int bytes, uint8_t* out);  // big-endian
void PutKeyDouble(double value, uint8_t* out);                 // 8 bytes
// A BCD value as a fixed-point number with four decimals, saturated to the int64 range;
// invalid values count as zero.
int64_t BcdToKeyFixed(const TBcd& value);

// "Sys Deleted": state byte and record identifier.
void BuildRecordIdKey(uint8_t state, int32_t identifier, uint8_t* key);

// "Sys Text": the key of one word of a field of a record. The word is cut to 60 bytes without
// splitting a two-byte character; the caller passes it upper-cased.
void BuildTextKey(uint16_t fieldNo, std::string_view word, int32_t recordNumber, uint8_t* key);
int32_t TextKeyRecord(const uint8_t* key);
uint16_t TextKeyField(const uint8_t* key);
std::string TextKeyWord(const uint8_t* key);

}  // namespace mt

#endif  // MT_STORAGE_INDEXKEY_H
