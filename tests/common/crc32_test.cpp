// CRC-32 against zlib's, the reference the journal and archives were written with: whole
// buffers of lengths around the fast routine's block sizes, continued CRCs and combined ones.
#include "engine/common/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace mt {
namespace {

uint32_t ZlibCrc(uint32_t crc, const uint8_t* data, std::size_t length) {
  return static_cast<uint32_t>(crc32_z(crc, data, length));
}

TEST(Crc32Test, AgreesWithZlib) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32(0, check, 9), 0xCBF43926u);
  std::vector<uint8_t> bytes((1u << 20) + 37);
  uint32_t x = 12345;
  for (uint8_t& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  const std::size_t lengths[] = {0,  1,  3,   15,  16,   17,    63,
                                 64, 65, 255, 256, 4096, 32671, bytes.size()};
  for (std::size_t length : lengths) {
    for (uint32_t start : {0u, 0xCBF43926u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::to_string(length) + " from " + std::to_string(start));
      EXPECT_EQ(Crc32(start, bytes.data(), length), ZlibCrc(start, bytes.data(), length));
    }
  }
  // Continued over two parts, and combined from the parts' own CRCs.
  const std::size_t split = 100003;
  const uint32_t whole = ZlibCrc(0, bytes.data(), bytes.size());
  const uint32_t first = Crc32(0, bytes.data(), split);
  const uint32_t second = Crc32(0, bytes.data() + split, bytes.size() - split);
  EXPECT_EQ(Crc32(first, bytes.data() + split, bytes.size() - split), whole);
  EXPECT_EQ(Crc32Combine(first, second, bytes.size() - split), whole);
}

}  // namespace
}  // namespace mt
