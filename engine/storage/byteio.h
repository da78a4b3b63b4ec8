// Little-endian field access for the engine's on-disk layouts, and length-prefixed strings.
//
// Every multi-byte integer in the table files is little-endian; these helpers read and write
// them at byte offsets of a buffer whatever the host's byte order. A length-prefixed string
// is one length byte followed by that many characters inside a field of fixed capacity; a
// stored length beyond the capacity (a damaged file) is cut to the capacity when read.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_BYTEIO_H
#define MT_STORAGE_BYTEIO_H

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace mt::le {

inline uint8_t GetU8(const uint8_t* p, std::size_t at) {
  return p[at];
}
inline uint16_t GetU16(const uint8_t* p, std::size_t at) {
  return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}
inline uint32_t GetU32(const uint8_t* p, std::size_t at) {
  return static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
         (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p, std::size_t at) {
  return static_cast<uint64_t>(GetU32(p, at)) | (static_cast<uint64_t>(GetU32(p, at + 4)) << 32);
}
inline int16_t GetI16(const uint8_t* p, std::size_t at) {
  return static_cast<int16_t>(GetU16(p, at));
}
inline int32_t GetI32(const uint8_t* p, std::size_t at) {
  return static_cast<int32_t>(GetU32(p, at));
}
inline int64_t GetI64(const uint8_t* p, std::size_t at) {
  return static_cast<int64_t>(GetU64(p, at));
}
inline double GetF64(const uint8_t* p, std::size_t at) {
  const uint64_t bits = GetU64(p, at);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline void PutU8(uint8_t* p, std::size_t at, uint8_t v) {
  p[at] = v;
}
inline void PutU16(uint8_t* p, std::size_t at, uint16_t v) {
  p[at] = static_cast<uint8_t>(v);
  p[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, std::size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i)
    p[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutI16(uint8_t* p, std::size_t at, int16_t v) {
  PutU16(p, at, static_cast<uint16_t>(v));
}
inline void PutI32(uint8_t* p, std::size_t at, int32_t v) {
  PutU32(p, at, static_cast<uint32_t>(v));
}
inline void PutI64(uint8_t* p, std::size_t at, int64_t v) {
  PutU64(p, at, static_cast<uint64_t>(v));
}
inline void PutF64(uint8_t* p, std::size_t at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU64(p, at, bits);
}

// A length-prefixed string of at most `capacity` characters (the field is capacity + 1 bytes).
inline std::string GetPString(const uint8_t* p, std::size_t at, std::size_t capacity) {
  std::size_t n = p[at];
  if (n > capacity) n = capacity;
  return std::string(reinterpret_cast<const char*>(p + at + 1), n);
}
// Stores text cut to `capacity` characters; the unused rest of the field is zeroed.
inline void PutPString(uint8_t* p, std::size_t at, std::size_t capacity, std::string_view text) {
  const std::size_t n = text.size() < capacity ? text.size() : capacity;
  std::memset(p + at, 0, capacity + 1);
  p[at] = static_cast<uint8_t>(n);
  if (n != 0) std::memcpy(p + at + 1, text.data(), n);
}

}  // namespace mt::le

namespace mt {

// The next value of a file header's change counter: raised by 1, wrapping past the int32 range
// instead of overflowing.
inline int32_t NextChangeCounter(int32_t counter) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + 1);
}

}  // namespace mt

#endif  // MT_STORAGE_BYTEIO_H
