// The records of a ZIP archive as the archive component writes and reads them: local file
// header, central directory header and end-of-central-directory record, each with its field
// offsets in this one place; the directory entry kept in memory; MS-DOS time stamps, entry
// names and attributes; and the component's error classes. All numbers are little-endian.
//
// Entry names are stored in GBK. On disk (the host side) names are UTF-8 and "/" separates
// folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mt {

// ---------------------------------------------------------------------------------------------
// Errors. Every failure of the archive component arrives as an EZipError.

class EZipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The directory cannot be read, not even rebuilt from the local headers.
class EBadZipFile : public EZipError {
 public:
  EBadZipFile() : EZipError("Not a valid zip file!") {}
};

// The file has no end-of-central-directory record.
class EIncompleteZip : public EZipError {
 public:
  EIncompleteZip() : EZipError("Incomplete Zip File") {}
};

// A write to the archive wrote fewer bytes than asked.
class ENotEnoughRoom : public EZipError {
 public:
  ENotEnoughRoom() : EZipError("Not enough room to write archive") {}
};

// Decoding an entry produced more bytes than its stated uncompressed size.
class EEntryTooLarge : public EZipError {
 public:
  EEntryTooLarge() : EZipError("File is larger than uncompressed size!") {}
};

// The archive would pass the format's 32-bit sizes and offsets or 16-bit entry count.
class EArchiveLimit : public EZipError {
 public:
  using EZipError::EZipError;
};

// A file could not be opened or created: "Cannot open file "NAME". REASON".
class EFileError : public EZipError {
 public:
  EFileError(const std::string& message, int osError) : EZipError(message), osError_(osError) {}
  int OsError() const noexcept { return osError_; }
  static EFileError Open(const std::string& path, int osError);
  static EFileError Create(const std::string& path, int osError);

 private:
  int osError_;
};

namespace zip {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kEndRecordSignature = 0x06054b50;

// Version 2.0 (deflate); upper byte of "version made by" 0 = MS-DOS attributes and names.
inline constexpr uint16_t kVersion20 = 20;
inline constexpr uint16_t kHostMsDos = 0;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;
// What follows an entry's data when kFlagDataDescriptor is set (signature, CRC, two sizes).
inline constexpr std::size_t kDataDescriptorSize = 16;

// MS-DOS file attributes in the low byte of the external attributes.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// Internal attributes: bit 0 set when the data was judged to be text.
inline constexpr uint16_t kInternalText = 0x0001;

// Largest comment an end record can carry, and so how far from the end the record may start.
inline constexpr std::size_t kMaxComment = 65535;

}  // namespace zip

// Little-endian field access on raw record bytes.
inline uint16_t GetLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// The same chosen by the field's type, for the field lists of the records below.
inline void PutLe(uint8_t* p, uint16_t v) {
  PutLe16(p, v);
}
inline void PutLe(uint8_t* p, uint32_t v) {
  PutLe32(p, v);
}
inline void GetLe(const uint8_t* p, uint16_t& v) {
  v = GetLe16(p);
}
inline void GetLe(const uint8_t* p, uint32_t& v) {
  v = GetLe32(p);
}

// Encode and Decode of a record with a signature and a field list: R::kOffSignature, and
// R::ForEachField(record, f) calling f(offset, member) for every field after the signature.
template <class R>
void EncodeRecord(const R& r, uint32_t signature, uint8_t* out) {
  PutLe32(out + R::kOffSignature, signature);
  R::ForEachField(r, [out](std::size_t offset, auto value) { PutLe(out + offset, value); });
}
template <class R>
bool DecodeRecord(R& r, uint32_t signature, const uint8_t* in) {
  if (GetLe32(in + R::kOffSignature) != signature) return false;
  R::ForEachField(r, [in](std::size_t offset, auto& value) { GetLe(in + offset, value); });
  return true;
}

// Local file header: 30 bytes, then the name and the extra field, then the entry's data.
struct TLocalHeader {
  static constexpr std::size_t kSize = 30;
  static constexpr std::size_t kOffSignature = 0;          // 4: 0x04034b50
  static constexpr std::size_t kOffVersionNeeded = 4;      // 2
  static constexpr std::size_t kOffFlags = 6;              // 2
  static constexpr std::size_t kOffMethod = 8;             // 2
  static constexpr std::size_t kOffTime = 10;              // 2: MS-DOS time
  static constexpr std::size_t kOffDate = 12;              // 2: MS-DOS date
  static constexpr std::size_t kOffCrc32 = 14;             // 4
  static constexpr std::size_t kOffCompressedSize = 18;    // 4
  static constexpr std::size_t kOffUncompressedSize = 22;  // 4
  static constexpr std::size_t kOffNameLength = 26;        // 2
  static constexpr std::size_t kOffExtraLength = 28;       // 2

  uint16_t versionNeeded = zip::kVersion20;
  uint16_t flags = 0;
  uint16_t method = zip::kMethodDeflated;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;

  // Writes kSize bytes (signature included) to out.
  // Every field after the signature with its offset: f(offset, member).
  template <class TSelf, class F>
  static void ForEachField(TSelf& r, F f) {
    f(kOffVersionNeeded, r.versionNeeded);
    f(kOffFlags, r.flags);
    f(kOffMethod, r.method);
    f(kOffTime, r.time);
    f(kOffDate, r.date);
    f(kOffCrc32, r.crc32);
    f(kOffCompressedSize, r.compressedSize);
    f(kOffUncompressedSize, r.uncompressedSize);
    f(kOffNameLength, r.nameLength);
    f(kOffExtraLength, r.extraLength);
  }

  void Encode(uint8_t* out) const;
  // Reads kSize bytes; false when the signature is not the local header's.
  bool Decode(const uint8_t* in);
};

// Central directory header: 46 bytes, then the name, the extra field and the comment.
struct TCentralHeader {
  static constexpr std::size_t kSize = 46;
  static constexpr std::size_t kOffSignature = 0;            // 4: 0x02014b50
  static constexpr std::size_t kOffVersionMadeBy = 4;        // 2: upper byte = host system
  static constexpr std::size_t kOffVersionNeeded = 6;        // 2
  static constexpr std::size_t kOffFlags = 8;                // 2
  static constexpr std::size_t kOffMethod = 10;              // 2
  static constexpr std::size_t kOffTime = 12;                // 2
  static constexpr std::size_t kOffDate = 14;                // 2
  static constexpr std::size_t kOffCrc32 = 16;               // 4
  static constexpr std::size_t kOffCompressedSize = 20;      // 4
  static constexpr std::size_t kOffUncompressedSize = 24;    // 4
  static constexpr std::size_t kOffNameLength = 28;          // 2
  static constexpr std::size_t kOffExtraLength = 30;         // 2
  static constexpr std::size_t kOffCommentLength = 32;       // 2
  static constexpr std::size_t kOffDiskNumberStart = 34;     // 2
  static constexpr std::size_t kOffInternalAttributes = 36;  // 2
  static constexpr std::size_t kOffExternalAttributes = 38;  // 4
  static constexpr std::size_t kOffLocalHeaderOffset = 42;   // 4

  uint16_t versionMadeBy = zip::kVersion20;
  uint16_t versionNeeded = zip::kVersion20;
  uint16_t flags = 0;
  uint16_t method = zip::kMethodDeflated;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;

  // Every field after the signature with its offset: f(offset, member).
  template <class TSelf, class F>
  static void ForEachField(TSelf& r, F f) {
    f(kOffVersionMadeBy, r.versionMadeBy);
    f(kOffVersionNeeded, r.versionNeeded);
    f(kOffFlags, r.flags);
    f(kOffMethod, r.method);
    f(kOffTime, r.time);
    f(kOffDate, r.date);
    f(kOffCrc32, r.crc32);
    f(kOffCompressedSize, r.compressedSize);
    f(kOffUncompressedSize, r.uncompressedSize);
    f(kOffNameLength, r.nameLength);
    f(kOffExtraLength, r.extraLength);
    f(kOffCommentLength, r.commentLength);
    f(kOffDiskNumberStart, r.diskNumberStart);
    f(kOffInternalAttributes, r.internalAttributes);
    f(kOffExternalAttributes, r.externalAttributes);
    f(kOffLocalHeaderOffset, r.localHeaderOffset);
  }

  void Encode(uint8_t* out) const;
  bool Decode(const uint8_t* in);
};

// End-of-central-directory record: 22 bytes, then the archive comment.
struct TEndRecord {
  static constexpr std::size_t kSize = 22;
  static constexpr std::size_t kOffSignature = 0;         // 4: 0x06054b50
  static constexpr std::size_t kOffThisDisk = 4;          // 2
  static constexpr std::size_t kOffDirectoryDisk = 6;     // 2
  static constexpr std::size_t kOffEntriesOnDisk = 8;     // 2
  static constexpr std::size_t kOffEntriesTotal = 10;     // 2
  static constexpr std::size_t kOffDirectorySize = 12;    // 4
  static constexpr std::size_t kOffDirectoryOffset = 16;  // 4
  static constexpr std::size_t kOffCommentLength = 20;    // 2

  uint16_t thisDisk = 0;
  uint16_t directoryDisk = 0;
  uint16_t entriesOnDisk = 0;
  uint16_t entriesTotal = 0;
  uint32_t directorySize = 0;
  uint32_t directoryOffset = 0;
  uint16_t commentLength = 0;

  // Every field after the signature with its offset: f(offset, member).
  template <class TSelf, class F>
  static void ForEachField(TSelf& r, F f) {
    f(kOffThisDisk, r.thisDisk);
    f(kOffDirectoryDisk, r.directoryDisk);
    f(kOffEntriesOnDisk, r.entriesOnDisk);
    f(kOffEntriesTotal, r.entriesTotal);
    f(kOffDirectorySize, r.directorySize);
    f(kOffDirectoryOffset, r.directoryOffset);
    f(kOffCommentLength, r.commentLength);
  }

  void Encode(uint8_t* out) const;
  bool Decode(const uint8_t* in);
};

// One entry of the archive's directory as the component keeps it in memory.
struct TZipEntry {
  TCentralHeader header;   // as read (time and date already clamped) or as written
  std::string storedName;  // the name's bytes as they stand in the archive
  std::string pathPart;    // folder part of the name, host form, without trailing "/"
  std::string fileName;    // file name part, host form; empty for a folder entry
};

// MS-DOS time stamp: time = hour<<11 | minute<<5 | second/2; date = (year-1980)<<9 | month<<5 |
// day.
struct TDosDateTime {
  uint16_t time = 0;
  uint16_t date = 0;
  friend bool operator==(const TDosDateTime&, const TDosDateTime&) = default;
};

// The local time of t; moments before 1980 become 1980-01-01 00:00:00 and moments after 2107
// become 2107-12-31 23:59:58, the range the format can hold.
TDosDateTime DosDateTimeFromUnix(std::time_t t);
// Field by field: seconds/2 above 29 -> 29, minutes above 59 -> 59, hours above 23 -> 23,
// day 0 -> 1, month 0 -> 1 and above 12 -> 12, year field 120 or more -> 119 (2099).
TDosDateTime ClampDosDateTime(TDosDateTime stamp);
// The moment a (clamped) stamp names, read as local time.
std::time_t UnixFromDosDateTime(TDosDateTime stamp);

// The entry name for a file on disk: its name without folders, converted from UTF-8 to GBK
// (characters GBK lacks become "?"; a name that is not UTF-8 is kept as it is).
std::string EntryNameFromPath(std::string_view hostPath);
// Fills pathPart and fileName from storedName: names made on MS-DOS hosts are GBK and may use
// "\" between folders (never inside a two-byte character); other names (and those flagged as
// UTF-8) are taken as they are.
void SplitEntryName(TZipEntry& entry);
// Entry names compared with ASCII letters folded, GBK two-byte characters left alone.
bool SameEntryName(std::string_view a, std::string_view b);

}  // namespace mt
