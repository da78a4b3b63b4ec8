// CRC-32 through ISA-L when present, else zlib.
#include "crc32.h"

#include <zlib.h>

#ifdef MT_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace mt {

uint32_t Crc32(uint32_t crc, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
#ifdef MT_HAVE_ISAL
  // Its length is a 64-bit count; it continues from a finished CRC as zlib does.
  return length == 0 ? crc : crc32_gzip_refl(crc, bytes, length);
#else
  return static_cast<uint32_t>(crc32_z(crc, bytes, length));
#endif
}

uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength) {
  static_assert(sizeof(z_off_t) >= sizeof(int64_t), "zlib takes lengths as 64-bit offsets here");
  return static_cast<uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}

}  // namespace mt
