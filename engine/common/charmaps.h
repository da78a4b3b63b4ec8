// TLanguageCharMapsList: the process-wide list of character orders, one per table locale.
//
// A character order is the 256 byte values sorted by the locale's single-character comparison
// (CompareLocaleText: ignoring non-spacing marks, string sort); bytes the locale sorts equal
// keep their byte order. Without a locale (0) the order is the byte values 0 to 255. Cursors
// use the first character of the order to build the lowest possible string key of a field and
// the last one to build the highest.
//
// Thread-safety: the list is guarded by a mutex; an order, once computed, is immutable and
// lives as long as the process, so the references handed out stay valid.
#pragma once

#include <array>
#include <cstdint>

namespace mt {

struct TCharOrder {
  uint32_t localeId = 0;
  std::array<uint8_t, 256> order{};  // byte values from lowest to highest
  // The position of each byte value in the order.
  std::array<uint8_t, 256> rank{};

  uint8_t Lowest() const { return order.front(); }
  uint8_t Highest() const { return order.back(); }
};

class TLanguageCharMapsList {
 public:
  // The order of a locale, computed on first use.
  static const TCharOrder& Get(uint32_t localeId);
  // Orders computed so far (for tests and diagnostics).
  static std::size_t Count();
};

}  // namespace mt
