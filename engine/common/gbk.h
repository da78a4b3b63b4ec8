// GBK (code page 936) text conversion for everything below app/: the engine's locale-aware
// comparisons, mtdb's terminal side and the archive's entry names. Bytes that are not valid
// GBK become U+FFFD; characters GBK cannot hold become "?". Never throws on bad input.
// Thread-safety: each thread uses its own converters.
#pragma once

#include <string>
#include <string_view>

namespace mt {

std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view text);
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// True when byte b starts a two-byte GBK character (0x81-0xFE).
inline bool IsGbkLeadByte(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}

}  // namespace mt
