// The byte scrambler of encrypted tables.
#include "scrambler.h"

namespace mt {

void Scramble(uint8_t* data, std::size_t length, uint8_t startA, uint8_t startB) {
  uint8_t a = startA;
  uint8_t b = startB;
  for (std::size_t i = 0; i < length; ++i) {
    data[i] = static_cast<uint8_t>(data[i] ^ a ^ b);
    ++a;
    --b;
  }
}

}  // namespace mt
