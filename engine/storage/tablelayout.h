// The data file's on-disk layouts: the 127-byte table header and the 768-byte field
// descriptors, with their byte offsets, and their encoding to and from byte buffers.
//
// Data file: header at 0; field descriptor i (from 1) at 127 + 768 x (i - 1); record n (from
// 1) at 127 + 768 x field count + (n - 1) x record size. The file always ends right after the
// last physical record.
//
// Encoding copies the description and password bytes as they are. On disk an encrypted table
// keeps them scrambled; TDataFile scrambles them on the way out and back, so every header it
// hands out holds them clear.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mt {

inline constexpr uint8_t kFormatVersion = 5;
inline constexpr int64_t kEngineVersion = 32400;  // 3.24 with four decimals
inline constexpr int kMaxFields = 1024;
inline constexpr int kMaxFieldNameLength = 30;
inline constexpr int kMaxRecordSize = 65536;
inline constexpr int kRecordOverhead = 9;  // state byte, record number, auto-increment value
inline constexpr int kMaxBlobFields = 128;
inline constexpr int kMinBlobBlockSize = 64;
inline constexpr int kDefaultBlobBlockSize = 512;  // a stored block size of 0 reads as this
inline constexpr int kMaxPasswordLength = 15;
inline constexpr int kMaxDescriptionLength = 50;
inline constexpr int32_t kMaxRecordNumber = 200000000;
inline constexpr int64_t kMaxFileSize = 4000000000;

namespace dfh {  // DataFileHeader, 127 bytes
inline constexpr std::size_t kSize = 127;
inline constexpr std::size_t kChangeCounter = 0;    // int32
inline constexpr std::size_t kBlobBlockSize = 4;    // int32
inline constexpr std::size_t kVersion = 8;          // byte
inline constexpr std::size_t kDeletedHead = 9;      // int32
inline constexpr std::size_t kNextRecord = 13;      // int32
inline constexpr std::size_t kLastAutoInc = 17;     // int32
inline constexpr std::size_t kRecordSize = 21;      // uint16
inline constexpr std::size_t kFieldCount = 23;      // uint16
inline constexpr std::size_t kBlobFieldCount = 25;  // uint16
inline constexpr std::size_t kLastWrite = 27;       // double
inline constexpr std::size_t kDescription = 35;     // length-prefixed, 50 characters
inline constexpr std::size_t kEncrypted = 86;       // byte
inline constexpr std::size_t kPassword = 87;        // length-prefixed, 15 characters
inline constexpr std::size_t kLanguageId = 103;     // uint16
inline constexpr std::size_t kSortOrderId = 105;    // uint16
inline constexpr std::size_t kUserMajor = 107;      // uint16
inline constexpr std::size_t kUserMinor = 109;      // uint16
inline constexpr std::size_t kPending = 111;        // byte: change mark, see below
inline constexpr std::size_t kLastBlobStamp = 112;  // int32
inline constexpr std::size_t kEngineVersion = 116;  // int64
inline constexpr std::size_t kUnused = 124;         // 3 bytes
// The change mark: 1 while a change of records is being written, 0 otherwise. Header values
// never depend on it (decoding ignores it); the write path sets it on its own before the first
// record of a change reaches the file and the header write that ends the change clears it.
inline constexpr uint8_t kChangeMarkSet = 1;
}  // namespace dfh

namespace fdl {  // FieldDescriptor, 768 bytes
inline constexpr std::size_t kSize = 768;
inline constexpr std::size_t kNumber = 0;          // uint16
inline constexpr std::size_t kName = 2;            // length-prefixed, 30 characters
inline constexpr std::size_t kDescription = 33;    // length-prefixed, 50 characters
inline constexpr std::size_t kType = 84;           // byte
inline constexpr std::size_t kSubtype = 85;        // byte
inline constexpr std::size_t kSize_ = 86;          // byte, declared size
inline constexpr std::size_t kScale = 87;          // byte, declared scale
inline constexpr std::size_t kPhysicalSize = 88;   // byte
inline constexpr std::size_t kPhysicalScale = 89;  // byte
inline constexpr std::size_t kOffset = 90;         // uint16, offset of the null-flag byte
inline constexpr std::size_t kRequired = 92;       // byte
inline constexpr std::size_t kCase = 93;           // byte: 0 as given, 1 lower, 2 upper
inline constexpr std::size_t kMinimum = 94;        // length-prefixed, 50 characters
inline constexpr std::size_t kMaximum = 145;       // length-prefixed, 50 characters
inline constexpr std::size_t kDefault = 196;       // length-prefixed, 50 characters
inline constexpr std::size_t kVirtual = 247;       // byte
inline constexpr std::size_t kUnused = 248;        // 520 bytes
inline constexpr std::size_t kTextCapacity = 50;   // characters of min, max, default texts
}  // namespace fdl

struct TDataFileHeader {
  int32_t changeCounter = 0;
  int32_t blobBlockSize = 0;
  uint8_t version = kFormatVersion;
  int32_t deletedHead = 0;
  int32_t nextRecord = 1;
  int32_t lastAutoInc = 0;
  uint16_t recordSize = 0;
  uint16_t fieldCount = 0;
  uint16_t blobFieldCount = 0;
  double lastWrite = 0;
  std::string description;  // clear (scrambled on disk when encrypted)
  uint8_t encrypted = 0;
  std::string password;  // clear (scrambled on disk); empty when not encrypted
  uint16_t languageId = 0;
  uint16_t sortOrderId = 0;
  uint16_t userMajor = 0;
  uint16_t userMinor = 0;
  uint8_t pending = 0;  // the change mark as written; decoding gives 0
  int32_t lastBlobStamp = 0;
  int64_t engineVersion = 0;
  std::array<uint8_t, 3> unused{};

  // The blob block size in effect: a stored 0 means 512.
  int EffectiveBlobBlockSize() const {
    return blobBlockSize == 0 ? kDefaultBlobBlockSize : blobBlockSize;
  }
};

// Case of stored string values.
inline constexpr uint8_t kCaseAsGiven = 0;
inline constexpr uint8_t kCaseLower = 1;
inline constexpr uint8_t kCaseUpper = 2;

struct TFieldDescriptor {
  uint16_t number = 0;
  std::string name;
  std::string description;
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint8_t size = 0;
  uint8_t scale = 0;
  uint8_t physicalSize = 0;
  uint8_t physicalScale = 0;
  uint16_t offset = 0;
  bool required = false;
  uint8_t caseMode = kCaseAsGiven;
  std::string minText;
  std::string maxText;
  std::string defaultText;
  bool isVirtual = false;
  // In memory only: the descriptor's position in the table, from 1, and whether a stored
  // text length was beyond its field (a damaged descriptor; validation refuses it).
  int position = 0;
  bool textLengthDamaged = false;
};

void EncodeDataFileHeader(const TDataFileHeader& h, uint8_t* out /* dfh::kSize bytes */);
TDataFileHeader DecodeDataFileHeader(const uint8_t* in /* dfh::kSize bytes */);
void EncodeFieldDescriptor(const TFieldDescriptor& d, uint8_t* out /* fdl::kSize bytes */);
TFieldDescriptor DecodeFieldDescriptor(const uint8_t* in /* fdl::kSize bytes */);

// File offset of the first record of a table with this many fields.
inline int64_t RecordsOffset(int fieldCount) {
  return static_cast<int64_t>(dfh::kSize) + static_cast<int64_t>(fdl::kSize) * fieldCount;
}

}  // namespace mt
