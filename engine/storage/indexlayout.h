// The index file's header page: its layout, the index descriptors it holds, their key
// lengths, and the checks made when a table is created and when the index file is opened.
//
// Index file: one 4096-byte header page at offset 0, then 4096-byte B-tree pages; page n
// (n >= 1) at n x 4096. Descriptor slots: 0 the primary index (empty name), 1-30 the
// secondary indexes in creation order, 31 the record-identifier index "Sys Deleted", 32 the
// text index "Sys Text".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tablelayout.h"

namespace mt {

inline constexpr std::size_t kIndexPageSize = 4096;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kMaxIndexFields = 16;
inline constexpr int kMaxKeyLength = 522;
inline constexpr int kIndexSlots = 33;
inline constexpr int kPrimarySlot = 0;
inline constexpr int kRecordIdSlot = 31;
inline constexpr int kTextSlot = 32;
inline constexpr std::string_view kRecordIdIndexName = "Sys Deleted";
inline constexpr std::string_view kTextIndexName = "Sys Text";
inline constexpr uint16_t kRecordIdKeyLength = 5;
inline constexpr uint16_t kTextKeyLength = 68;
inline constexpr uint8_t kTextCompression = 3;

namespace ifh {                                      // IndexFileHeader, 4096 bytes
inline constexpr std::size_t kChangeCounter = 0;     // int32
inline constexpr std::size_t kVersion = 8;           // byte
inline constexpr std::size_t kNextPage = 9;          // int32
inline constexpr std::size_t kSecondaryCount = 13;   // byte
inline constexpr std::size_t kDescriptors = 14;      // 33 x 120 bytes (slots 0 to 32)
inline constexpr std::size_t kActiveRecords = 3974;  // int32
inline constexpr std::size_t kNoPrimary = 3978;      // byte
inline constexpr std::size_t kPending = 3979;        // byte, meaningful in memory only
}  // namespace ifh

namespace idl {  // IndexDescriptor, 120 bytes
inline constexpr std::size_t kSize = 120;
inline constexpr std::size_t kName = 0;              // length-prefixed, 30 characters
inline constexpr std::size_t kKeyLength = 31;        // uint16
inline constexpr std::size_t kDescending = 33;       // byte
inline constexpr std::size_t kCaseInsensitive = 34;  // byte
inline constexpr std::size_t kUnique = 35;           // byte
inline constexpr std::size_t kCompression = 36;      // byte: 0 none, 1 leading, 2 trailing, 3 both
inline constexpr std::size_t kFieldCount = 37;       // byte
inline constexpr std::size_t kFieldDescending = 38;  // 16 bytes
inline constexpr std::size_t kFields = 54;           // 16 x uint16
inline constexpr std::size_t kRootPage = 86;         // int32
inline constexpr std::size_t kFreeChain = 90;        // int32
inline constexpr std::size_t kParameterPage = 96;    // int32
inline constexpr std::size_t kNoCounts = 100;        // byte
inline constexpr std::size_t kTemporary = 101;       // byte, never written
}  // namespace idl

struct TIndexDescriptor {
  std::string name;
  uint16_t keyLength = 0;
  bool descending = false;
  bool caseInsensitive = false;
  bool unique = false;
  uint8_t compression = 0;
  std::vector<uint16_t> fields;  // field numbers in key order, at most 16
  std::array<bool, kMaxIndexFields> fieldDescending{};
  int32_t rootPage = 0;
  int32_t freeChain = 0;
  int32_t parameterPage = 0;
  bool noCounts = false;
  bool temporary = false;  // in memory only
};

struct TIndexFileHeader {
  int32_t changeCounter = 0;
  uint8_t version = kFormatVersion;
  int32_t nextPage = 1;
  uint8_t secondaryCount = 0;
  std::array<TIndexDescriptor, kIndexSlots> slots;
  int32_t activeRecords = 0;
  bool noPrimary = true;
  bool pending = false;  // in memory only
};

// Encodes the whole header page (4096 bytes). Temporary descriptors are written as zeros and
// not counted among the secondaries.
void EncodeIndexFileHeader(const TIndexFileHeader& h, uint8_t* out);
TIndexFileHeader DecodeIndexFileHeader(const uint8_t* in);

// The key length of an index over these fields: the sum of key size + 1 over its fields,
// plus 4 for a non-unique index; nullopt when a field is missing or not indexable.
std::optional<int> ComputeKeyLength(const std::vector<TFieldDescriptor>& fields,
                                    const TIndexDescriptor& index, bool isPrimary);

// The index definitions of a new table.
struct TIndexDefinitions {
  std::optional<TIndexDescriptor> primary;  // none, or with no fields: no primary index
  std::vector<TIndexDescriptor> secondaries;
  std::vector<uint16_t> textFields;  // string and memo fields of the text index
};

// Checks and completes the index definitions of a new table against its (already checked)
// fields: 9487, 10010, 10022, 10027, 10023, 12292, 10026. Names are trimmed and cut, key
// lengths computed, the primary made unique with no name.
void PrepareIndexDefinitions(TIndexDefinitions& defs, const std::vector<TFieldDescriptor>& fields,
                             const std::string& tableName);

// The header of a new index file for these definitions.
TIndexFileHeader BuildIndexFileHeader(const TIndexDefinitions& defs);

// The header of an index file made anew for a table whose index file is missing: no primary
// index, no secondaries, the two hidden indexes empty. Its indexes are rebuilt from the
// records by the cursor.
TIndexFileHeader EmptyIndexFileHeader();

// Checks an index file's header against the table's fields: 12035 for a wrong version tag,
// 8961 for any inconsistent descriptor.
void ValidateIndexFileHeader(const TIndexFileHeader& h, const std::vector<TFieldDescriptor>& fields,
                             const std::string& tableName);

// True when a name may name a field or an index: its first byte is a letter A-Z or a-z, "_" or
// a byte 128-254.
bool IsValidNameStart(std::string_view name);

}  // namespace mt
