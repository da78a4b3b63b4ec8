// CRC-32 as zip archives and zlib define it (reflected polynomial 0xEDB88320, initial and final
// inversion), for the change journal and the archive code. Uses ISA-L's carry-less multiply
// routine when the build found it (many times zlib's speed on large buffers), zlib's otherwise;
// both give the same values.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mt {

// The CRC of `length` bytes continued from `crc`, the CRC of the bytes before them (0 for none).
uint32_t Crc32(uint32_t crc, const void* data, std::size_t length);

// The CRC of two byte runs one after the other, from the CRC of each and the second's length.
uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength);

}  // namespace mt
