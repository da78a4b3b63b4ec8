// Field data types of the engine: type and subtype codes, and the sizes each type takes in a
// record and in an index key.
//
// | type | subtypes                                  | physical size      | key size      |
// |  1   | 0 string, 31 fixed-width, 32 wide         | declared size + 1  | physical size |
// |  2   | date (int32 day number)                   | 4                  | 4             |
// |  3   | blob: 0, 22 memo, 23 binary, 24 formatted | 8 (reference)      | not indexable |
// |      | memo, 26 graphic, 28 typed binary         |                    |               |
// |  4   | boolean (uint16)                          | 2                  | 2             |
// |  5   | smallint (int16)                          | 2                  | 2             |
// |  6   | integer (int32), 29 auto-increment        | 4; auto-inc 0      | 4             |
// |  7   | float (double), 21 money                  | 8                  | 8             |
// |  8   | BCD                                       | 34                 | 8             |
// |  9   | fixed bytes                               | declared size      | declared size |
// | 10   | time (int32 ms)                           | 4                  | 4             |
// | 11   | timestamp (double ms)                     | 8                  | 8             |
// | 12   | word (uint16)                             | 2                  | 2             |
// | 13   | unsigned integer (uint32)                 | 4                  | 4             |
// | 14   | extended float (80-bit)                   | 10                 | 10            |
// | 15   | variable bytes                            | declared size      | declared size |
// | 18   | largeint (int64)                          | 8                  | 8             |
// Strings, bytes and varbytes declare 1 to 250; every other type declares size 0.
#pragma once

#include <cstdint>

#include "engine/common/fieldtypecodes.h"

namespace mt {

// ftype and fsubtype: engine/common/fieldtypecodes.h

inline constexpr int kMaxSizedFieldSize = 250;  // strings, bytes, varbytes
inline constexpr int kKeySizeNotIndexable = -1;

// True for the type codes the engine knows (1 to 15 and 18).
bool IsKnownFieldType(uint8_t type);
// Strings, bytes and varbytes carry a declared size.
bool IsSizedFieldType(uint8_t type);
inline bool IsAutoIncField(uint8_t type, uint8_t subtype) {
  return type == ftype::kInteger && subtype == fsubtype::kAutoInc;
}
inline bool IsBlobField(uint8_t type) {
  return type == ftype::kBlob;
}

// Bytes of the value in a record (the null-flag byte not counted); 0 for an unknown type and
// for auto-increment fields, which live in the record's bookkeeping bytes.
int FieldPhysicalSize(uint8_t type, uint8_t subtype, int declaredSize);
// Bytes of the value in an index key; kKeySizeNotIndexable for blobs and unknown types.
int FieldKeySize(uint8_t type, uint8_t subtype, int declaredSize);

}  // namespace mt
