// Table definitions: the parameters a table is created from, their checks, and the checks of
// a data file's header and field descriptors when a table is opened.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "indexlayout.h"
#include "tablelayout.h"

namespace mt {

struct TTableCreateParams {
  uint16_t languageId = 0;  // 0: no locale
  uint16_t sortOrderId = 0;
  // Field definitions in field order. number 0 means "its position"; type, subtype, size,
  // scale, name, description, required, caseMode, minText, maxText, defaultText and
  // isVirtual are the caller's; physical sizes and offsets are filled in.
  std::vector<TFieldDescriptor> fields;
  int32_t blobBlockSize = kDefaultBlobBlockSize;
  std::string description;
  std::string password;
  bool encrypted = false;
  uint16_t userMajor = 0;
  uint16_t userMinor = 0;
  TIndexDefinitions indexes;
  bool allowVirtualFields = false;
};

// Checks the parameters in order and completes them, raising the first fault:
//  1. encryption: the trimmed password 1 to 15 characters (10015)
//  2. a non-zero locale must be installed (15878)
//  3. at most 1024 fields (9492), 30 secondary indexes (9487), a blob block size >= 64 (9498)
//  4. each field: name trimmed and cut to 30, non-empty, valid first character, unique
//     without regard to case (10038); number equal to its position (10000); known type, sizes
//     1-250 for strings, bytes and varbytes (10000), BCD scale 0-4 (10000); default, minimum
//     and maximum texts of the type (10006); virtual only when allowed (10000). Sizes of other
//     types are forced to 0, scales of non-BCD types to 0; physical sizes and offsets set.
//  5. the index definitions (indexlayout.h)
//  6. at most 128 blob fields (9498), a record size of at most 65535 bytes (9477)
// Returns the record size.
int PrepareTableCreation(TTableCreateParams& params, const std::string& tableName);

// The header of a new data file from prepared parameters.
TDataFileHeader BuildDataFileHeader(const TTableCreateParams& params, int recordSize);

// Checks a data file header before its descriptors are read: 12035 for a version tag other
// than 5, 8961 for more than 1024 fields.
void ValidateDataFileHeaderStart(const TDataFileHeader& h, const std::string& tableName);

// Checks the whole data file: the version (12035), the locale (15878), every descriptor, the
// record size, the file length against the next record number and the deleted-chain head
// (8961). Recomputes each descriptor's physical size and scale from its type and sets its
// position.
void ValidateDataFile(const TDataFileHeader& h, std::vector<TFieldDescriptor>& fields,
                      int64_t fileLength, const std::string& tableName);

// The trimmed password, empty when it is not 1 to 15 characters.
std::string TrimPassword(std::string_view password);

// Turns an SQL type name of the dialect ("CHAR(20)", "FLOAT", "AUTOINC", ...) into a field
// definition's type, subtype, size and scale; raises the SQL engine's error (11949) for a
// malformed or unknown name.
void ApplyTypeName(TFieldDescriptor& field, std::string_view typeName);
// The same from a type name the expression parser has read (its node's type, subtype, size
// and scale); sizes beyond a descriptor's range stay out of range, so that creation refuses
// them.
void ApplyParsedType(TFieldDescriptor& field, int type, int subtype, int32_t size, int32_t scale);

// The SQL type name a field is created from ("CHAR(20)", "INTEGER", "MEMO", ...): what
// ApplyTypeName reads back into the same type, subtype, size and scale.
std::string SqlTypeName(const TFieldDescriptor& field);

// The position (from 1) of the field of that name, letter case ignored; 0 when there is none.
int FieldPosition(const std::vector<TFieldDescriptor>& fields, std::string_view name);

}  // namespace mt
