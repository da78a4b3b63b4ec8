// Index keys: building and comparing.
#include "indexkey.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "byteio.h"
#include "engine/common/gbk.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"
#include "record.h"

namespace mt {
namespace {

// The text of a zero-terminated string field inside a key, at most `size` bytes.
std::string_view KeyText(const uint8_t* p, std::size_t size) {
  const auto* s = reinterpret_cast<const char*>(p);
  const void* zero = std::memchr(s, 0, size);
  return {s, zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - s) : size};
}

}  // namespace

// ---- primitive encoders -------------------------------------------------------------------

void PutKeyUnsigned(uint64_t value, int bytes, uint8_t* out) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

void PutKeyInt(int64_t value, int bytes, uint8_t* out) {
  PutKeyUnsigned(static_cast<uint64_t>(value), bytes, out);
  out[0] ^= 0x80;
}

void PutKeyDouble(double value, uint8_t* out) {
  if (value == 0) value = 0;  // -0 keys like 0
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutKeyUnsigned(bits, 8, out);
  if ((out[0] & 0x80) == 0) {
    out[0] |= 0x80;
  } else {
    for (int i = 0; i < 8; ++i)
      out[i] = static_cast<uint8_t>(~out[i]);
  }
}

int64_t BcdToKeyFixed(const TBcd& value) {
  if (!IsValidBcd(value)) return 0;
  const int precision = value[0];
  const int places = value[1] & 0x3F;
  const bool negative = (value[1] & 0x80) != 0;
  constexpr int kKeyPlaces = 4;
  constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  // Digits beyond the fourth decimal are dropped, rounding half away from zero.
  const int kept = precision - places + std::min(places, kKeyPlaces);
  uint64_t magnitude = 0;
  bool saturated = false;
  auto digit = [&](int i) {
    const uint8_t b = value[2 + i / 2];
    return (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
  };
  for (int i = 0; i < kept; ++i) {
    if (magnitude > (kLimit - 9) / 10) {
      saturated = true;
      break;
    }
    magnitude = magnitude * 10 + digit(i);
  }
  if (!saturated && kept < precision && digit(kept) >= 5) ++magnitude;
  for (int p = places; !saturated && p < kKeyPlaces; ++p) {
    if (magnitude > kLimit / 10) {
      saturated = true;
      break;
    }
    magnitude *= 10;
  }
  if (saturated || magnitude > kLimit) magnitude = kLimit;
  const auto v = static_cast<int64_t>(magnitude);
  return negative ? -v : v;
}

void BuildRecordIdKey(uint8_t state, int32_t identifier, uint8_t* key) {
  key[0] = state;
  PutKeyInt(identifier, 4, key + 1);
}

void BuildTextKey(uint16_t fieldNo, std::string_view word, int32_t recordNumber, uint8_t* key) {
  std::memset(key, 0, kTextKeyLength);
  PutKeyUnsigned(fieldNo, 2, key + tkey::kField);
  const std::string_view cut = CutGbk(word, tkey::kMaxWordLength);
  if (!cut.empty()) std::memcpy(key + tkey::kWord, cut.data(), cut.size());
  PutKeyUnsigned(static_cast<uint32_t>(recordNumber), 4, key + tkey::kRecord);
}

int32_t TextKeyRecord(const uint8_t* key) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v = (v << 8) | key[tkey::kRecord + i];
  return static_cast<int32_t>(v);
}

uint16_t TextKeyField(const uint8_t* key) {
  return static_cast<uint16_t>((key[tkey::kField] << 8) | key[tkey::kField + 1]);
}

std::string TextKeyWord(const uint8_t* key) {
  return std::string(KeyText(key + tkey::kWord, tkey::kMaxWordLength));
}

// ---- key definitions ----------------------------------------------------------------------

TKeyDef TKeyDef::ForIndex(const TIndexDescriptor& d, const std::vector<TFieldDescriptor>& fields,
                          uint32_t localeId, bool isPrimary) {
  TKeyDef k;
  k.kind_ = TIndexKind::Regular;
  k.unique_ = isPrimary || d.unique;
  k.idSuffix_ = !k.unique_;
  k.descending_ = d.descending;
  k.caseInsensitive_ = d.caseInsensitive;
  k.localeId_ = localeId;
  k.byteOrder_ = localeId == 0;
  int at = 0;
  for (std::size_t i = 0; i < d.fields.size(); ++i) {
    const TFieldDescriptor& fd = fields.at(d.fields[i] - 1);
    TKeyField f;
    f.fieldNo = d.fields[i];
    f.type = fd.type;
    f.subtype = fd.subtype;
    f.autoInc = IsAutoIncField(fd.type, fd.subtype);
    f.recordOffset = f.autoInc ? static_cast<int>(rec::kAutoInc) : fd.offset;
    f.physicalSize = f.autoInc ? 4 : FieldPhysicalSize(fd.type, fd.subtype, fd.size);
    f.keySize = FieldKeySize(fd.type, fd.subtype, fd.size);
    f.keyOffset = at;
    f.isString = fd.type == ftype::kString;
    const bool fieldDesc = i < d.fieldDescending.size() && d.fieldDescending[i];
    f.descending = fieldDesc || d.descending;
    f.inverted = localeId == 0 && fieldDesc && !d.descending;
    at += f.keySize + 1;
    k.fields_.push_back(f);
  }
  k.length_ = at + (k.idSuffix_ ? 4 : 0);
  return k;
}

TKeyDef TKeyDef::ForRecordId() {
  TKeyDef k;
  k.kind_ = TIndexKind::RecordId;
  k.length_ = kRecordIdKeyLength;
  k.unique_ = true;
  k.byteOrder_ = true;
  return k;
}

TKeyDef TKeyDef::ForText(uint32_t localeId) {
  TKeyDef k;
  k.kind_ = TIndexKind::Text;
  k.length_ = kTextKeyLength;
  k.unique_ = false;
  k.idSuffix_ = true;
  k.localeId_ = localeId;
  k.byteOrder_ = localeId == 0;
  return k;
}

// ---- building -----------------------------------------------------------------------------

void TKeyDef::EncodeField(const TKeyField& f, const uint8_t* image, uint8_t* key) const {
  uint8_t* flag = key + f.keyOffset;
  uint8_t* out = flag + 1;
  std::memset(flag, 0, static_cast<std::size_t>(f.keySize) + 1);
  if (f.autoInc) {
    *flag = 1;
    PutKeyInt(le::GetI32(image, rec::kAutoInc), 4, out);
  } else if (image[f.recordOffset] != 0) {
    *flag = 1;
    const uint8_t* v = image + f.recordOffset + 1;
    switch (f.type) {
      case ftype::kString: {
        std::string text(KeyText(v, static_cast<std::size_t>(f.physicalSize)));
        if (text.size() >= static_cast<std::size_t>(f.keySize)) {
          text.resize(static_cast<std::size_t>(f.keySize) - 1);  // keep the terminator
        }
        if (caseInsensitive_) UpperCaseGbk(text);
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        break;
      }
      case ftype::kInteger:
      case ftype::kDate:
      case ftype::kTime:
        PutKeyInt(le::GetI32(v, 0), 4, out);
        break;
      case ftype::kSmallInt:
        PutKeyInt(le::GetI16(v, 0), 2, out);
        break;
      case ftype::kLargeInt:
        PutKeyInt(le::GetI64(v, 0), 8, out);
        break;
      case ftype::kBcd: {
        TBcd bcd;
        std::memcpy(bcd.data(), v, kBcdSize);
        PutKeyInt(BcdToKeyFixed(bcd), 8, out);
        break;
      }
      case ftype::kWord:
      case ftype::kBoolean:
        PutKeyUnsigned(le::GetU16(v, 0), 2, out);
        break;
      case ftype::kUInt32:
        PutKeyUnsigned(le::GetU32(v, 0), 4, out);
        break;
      case ftype::kFloat:
      case ftype::kTimestamp:
        PutKeyDouble(le::GetF64(v, 0), out);
        break;
      case ftype::kExtended: {
        // Sign and exponent first, then the significand, each big-endian.
        out[0] = v[9];
        out[1] = v[8];
        for (int i = 0; i < 8; ++i)
          out[2 + i] = v[7 - i];
        if ((out[0] & 0x80) == 0) {
          out[0] |= 0x80;
        } else {
          for (int i = 0; i < 10; ++i)
            out[i] = static_cast<uint8_t>(~out[i]);
        }
        break;
      }
      default:  // bytes, varbytes
        std::memcpy(out, v, static_cast<std::size_t>(std::min(f.keySize, f.physicalSize)));
        break;
    }
  }
  if (f.inverted) {
    for (int i = 0; i <= f.keySize; ++i)
      flag[i] = static_cast<uint8_t>(~flag[i]);
  }
}

void TKeyDef::Build(const uint8_t* image, uint8_t* key) const {
  BuildPartial(image, static_cast<int>(fields_.size()), TKeyFill::First, key);
  if (idSuffix_ && kind_ == TIndexKind::Regular) {
    PutKeyInt(le::GetI32(image, rec::kAutoInc), 4, key + length_ - 4);
  }
}

bool TKeyDef::SameSource(const uint8_t* a, const uint8_t* b) const {
  if (kind_ != TIndexKind::Regular) return false;
  auto same = [&](int offset, int length) {
    return std::memcmp(a + offset, b + offset, static_cast<std::size_t>(length)) == 0;
  };
  for (const TKeyField& f : fields_) {
    if (f.autoInc ? !same(rec::kAutoInc, 4) : !same(f.recordOffset, 1 + f.physicalSize)) {
      return false;
    }
  }
  return !idSuffix_ || same(rec::kAutoInc, 4);
}

void TKeyDef::BuildPartial(const uint8_t* image, int fieldCount, TKeyFill fill,
                           uint8_t* key) const {
  const int n = std::clamp(fieldCount, 0, static_cast<int>(fields_.size()));
  for (int i = 0; i < n; ++i)
    EncodeField(fields_[i], image, key);
  Fill(n, fill, key);
}

void TKeyDef::Fill(int firstField, TKeyFill fill, uint8_t* key) const {
  auto fillBytes = [&](bool descending) -> uint8_t {
    const bool low = (fill == TKeyFill::First) != descending;
    return low ? 0x00 : 0xFF;
  };
  for (std::size_t i = static_cast<std::size_t>(std::max(firstField, 0)); i < fields_.size(); ++i) {
    const TKeyField& f = fields_[i];
    // Without a locale the bytes are in index order already, except for a descending index.
    const bool desc = byteOrder_ ? descending_ : f.descending;
    std::memset(key + f.keyOffset, fillBytes(desc), static_cast<std::size_t>(f.keySize) + 1);
  }
  if (idSuffix_) std::memset(key + length_ - 4, fillBytes(descending_), 4);
}

// ---- comparing ----------------------------------------------------------------------------

int TKeyDef::CompareFieldRange(const uint8_t* a, const uint8_t* b, int fieldCount) const {
  if (kind_ == TIndexKind::RecordId)
    return CompareKeyBytes(a, b, static_cast<std::size_t>(length_));
  if (kind_ == TIndexKind::Text) {
    int c = CompareKeyBytes(a, b, tkey::kWord);
    if (c != 0 || fieldCount == 0) return c;
    if (localeId_ == 0) return CompareKeyBytes(a + tkey::kWord, b + tkey::kWord, tkey::kWordBytes);
    return CompareLocaleText(localeId_, KeyText(a + tkey::kWord, tkey::kWordBytes),
                             KeyText(b + tkey::kWord, tkey::kWordBytes));
  }
  const int n = std::min(fieldCount, static_cast<int>(fields_.size()));
  if (n <= 0) return 0;
  if (byteOrder_) {
    const TKeyField& last = fields_[n - 1];
    const int c =
        CompareKeyBytes(a, b, static_cast<std::size_t>(last.keyOffset) + last.keySize + 1);
    return descending_ ? -c : c;
  }
  for (int i = 0; i < n; ++i) {
    const TKeyField& f = fields_[i];
    const uint8_t* x = a + f.keyOffset;
    const uint8_t* y = b + f.keyOffset;
    int c;
    if (f.isString) {
      c = CompareKeyBytes(x, y, 1);
      if (c == 0 && x[0] != 0) {
        c = CompareLocaleText(localeId_, KeyText(x + 1, static_cast<std::size_t>(f.keySize)),
                              KeyText(y + 1, static_cast<std::size_t>(f.keySize)));
      }
    } else {
      c = CompareKeyBytes(x, y, static_cast<std::size_t>(f.keySize) + 1);
    }
    if (c != 0) return f.descending ? -c : c;
  }
  return 0;
}

int TKeyDef::CompareSuffix(const uint8_t* a, const uint8_t* b) const {
  if (!idSuffix_) return 0;
  const int c = CompareKeyBytes(a + length_ - 4, b + length_ - 4, 4);
  return descending_ ? -c : c;
}

int TKeyDef::CompareByFields(const uint8_t* a, const uint8_t* b) const {
  const int c = CompareFieldRange(a, b, static_cast<int>(fields_.size()) + 1);
  return c != 0 ? c : CompareSuffix(a, b);
}

int TKeyDef::CompareFields(const uint8_t* a, const uint8_t* b) const {
  return CompareFieldRange(a, b, static_cast<int>(fields_.size()) + 1);
}

int TKeyDef::CompareLeading(const uint8_t* a, const uint8_t* b, int fieldCount) const {
  return CompareFieldRange(a, b, fieldCount);
}

}  // namespace mt
