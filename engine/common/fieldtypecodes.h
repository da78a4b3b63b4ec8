// Field data type and subtype codes of the engine, shared by the storage engine (records,
// keys) and the expression machinery (operand and result types).
#pragma once

#include <cstdint>

namespace mt {

namespace ftype {
inline constexpr uint8_t kString = 1;
inline constexpr uint8_t kDate = 2;
inline constexpr uint8_t kBlob = 3;
inline constexpr uint8_t kBoolean = 4;
inline constexpr uint8_t kSmallInt = 5;
inline constexpr uint8_t kInteger = 6;
inline constexpr uint8_t kFloat = 7;
inline constexpr uint8_t kBcd = 8;
inline constexpr uint8_t kBytes = 9;
inline constexpr uint8_t kTime = 10;
inline constexpr uint8_t kTimestamp = 11;
inline constexpr uint8_t kWord = 12;
inline constexpr uint8_t kUInt32 = 13;
inline constexpr uint8_t kExtended = 14;
inline constexpr uint8_t kVarBytes = 15;
inline constexpr uint8_t kLargeInt = 18;
}  // namespace ftype

namespace fsubtype {
inline constexpr uint8_t kNone = 0;
inline constexpr uint8_t kMoney = 21;
inline constexpr uint8_t kMemo = 22;
inline constexpr uint8_t kBinary = 23;
inline constexpr uint8_t kFormattedMemo = 24;
inline constexpr uint8_t kGraphic = 26;
inline constexpr uint8_t kTypedBinary = 28;
inline constexpr uint8_t kAutoInc = 29;
inline constexpr uint8_t kFixedString = 31;
inline constexpr uint8_t kWideString = 32;
}  // namespace fsubtype

}  // namespace mt
