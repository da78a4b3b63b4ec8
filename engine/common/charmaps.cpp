// TLanguageCharMapsList: character orders computed once per locale.
#include "charmaps.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>

#include "localetext.h"

namespace mt {
namespace {

std::mutex& ListMutex() {
  static std::mutex m;
  return m;
}

std::map<uint32_t, std::unique_ptr<TCharOrder>>& List() {
  static std::map<uint32_t, std::unique_ptr<TCharOrder>> list;
  return list;
}

std::unique_ptr<TCharOrder> ComputeOrder(uint32_t localeId) {
  auto result = std::make_unique<TCharOrder>();
  result->localeId = localeId;
  std::array<int, 256> bytes{};
  std::iota(bytes.begin(), bytes.end(), 0);
  if (localeId != 0) {
    // Byte 0 ends a key's text: it always sorts first. The others by the locale, ties by byte.
    std::stable_sort(bytes.begin() + 1, bytes.end(), [localeId](int a, int b) {
      const char ca = static_cast<char>(a);
      const char cb = static_cast<char>(b);
      return CompareLocaleText(localeId, std::string_view(&ca, 1), std::string_view(&cb, 1)) < 0;
    });
  }
  for (int i = 0; i < 256; ++i) {
    result->order[i] = static_cast<uint8_t>(bytes[i]);
    result->rank[bytes[i]] = static_cast<uint8_t>(i);
  }
  return result;
}

}  // namespace

const TCharOrder& TLanguageCharMapsList::Get(uint32_t localeId) {
  std::lock_guard<std::mutex> lock(ListMutex());
  auto& list = List();
  auto it = list.find(localeId);
  if (it == list.end()) it = list.emplace(localeId, ComputeOrder(localeId)).first;
  return *it->second;
}

std::size_t TLanguageCharMapsList::Count() {
  std::lock_guard<std::mutex> lock(ListMutex());
  return List().size();
}

}  // namespace mt
