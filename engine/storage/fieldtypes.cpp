// Field data types: sizes in records and keys.
#include "fieldtypes.h"

namespace mt {

bool IsKnownFieldType(uint8_t type) {
  return (type >= ftype::kString && type <= ftype::kVarBytes) || type == ftype::kLargeInt;
}

bool IsSizedFieldType(uint8_t type) {
  return type == ftype::kString || type == ftype::kBytes || type == ftype::kVarBytes;
}

int FieldPhysicalSize(uint8_t type, uint8_t subtype, int declaredSize) {
  switch (type) {
    case ftype::kString:
      return declaredSize + 1;
    case ftype::kBytes:
    case ftype::kVarBytes:
      return declaredSize;
    case ftype::kDate:
    case ftype::kTime:
    case ftype::kUInt32:
      return 4;
    case ftype::kInteger:
      return subtype == fsubtype::kAutoInc ? 0 : 4;
    case ftype::kBlob:
    case ftype::kFloat:
    case ftype::kTimestamp:
    case ftype::kLargeInt:
      return 8;
    case ftype::kBoolean:
    case ftype::kSmallInt:
    case ftype::kWord:
      return 2;
    case ftype::kBcd:
      return 34;
    case ftype::kExtended:
      return 10;
    default:
      return 0;
  }
}

int FieldKeySize(uint8_t type, uint8_t subtype, int declaredSize) {
  switch (type) {
    case ftype::kBlob:
      return kKeySizeNotIndexable;
    case ftype::kInteger:
      return 4;  // auto-increment values are keyed like integers
    case ftype::kBcd:
      return 8;  // indexed as a fixed-point number with four decimals
    default:
      if (!IsKnownFieldType(type)) return kKeySizeNotIndexable;
      return FieldPhysicalSize(type, subtype, declaredSize);
  }
}

}  // namespace mt
