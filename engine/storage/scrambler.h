// The byte scrambler of encrypted tables.
//
// Two byte counters a and b run along the buffer: each byte becomes byte XOR a XOR b, then a
// goes up by 1 and b down by 1 (modulo 256). Scrambling and descrambling are the same
// operation. Record images, field descriptors, index pages and blob blocks start from one
// fixed pair of start bytes; the table's password and description from another. The start
// bytes are constants of the file format: changing them makes every encrypted table
// unreadable. Each pair differs by an odd number, so a XOR b is never zero and no byte of a
// scrambled buffer is ever left as it was.
//
// The user's password is not part of the key; it only guards the open.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_SCRAMBLER_H
#define MT_STORAGE_SCRAMBLER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace mt {

inline constexpr uint8_t kBlockScrambleA = 0x5A;
inline constexpr uint8_t kBlockScrambleB = 0xC3;
inline constexpr uint8_t kTextScrambleA = 0x39;
inline constexpr uint8_t kTextScrambleB = 0x8E;

void Scramble(uint8_t* data, std::size_t length, uint8_t startA, uint8_t startB);

// Records, descriptors, index pages and blob blocks.
inline void ScrambleBlock(uint8_t* data, std::size_t length) {
  Scramble(data, length, kBlockScrambleA, kBlockScrambleB);
}

// The password and description texts.
inline std::string ScrambleText(std::string text) {
  Scramble(reinterpret_cast<uint8_t*>(text.data()), text.size(), kTextScrambleA, kTextScrambleB);
  return text;
}

}  // namespace mt

#endif  // MT_STORAGE_SCRAMBLER_H
