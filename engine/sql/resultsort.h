// The storage engine's in-place table sort as SELECT uses it (DISTINCT, GROUP BY, ORDER BY).
#pragma once

#if __has_include("engine/storage/tablesort.h")
#include "engine/storage/tablesort.h"
#else
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/common/engineerror.h"

namespace mt {

class TDataCursor;

struct TSortKey {
  int fieldNo;
  bool descending = false;
  bool caseInsensitive = false;
};
struct TSortGrouping {
  std::function<void(uint8_t* accumulator, const uint8_t* row)> fold;
  std::function<bool(uint8_t* accumulator)> finish;
};
struct TSortOptions {
  std::vector<TSortKey> keys;
  bool removeDuplicates = false;
  int64_t maxRows = -1;
  const TSortGrouping* grouping = nullptr;
};

inline void SortTable(TDataCursor&, const TSortOptions&) {
  RaiseEngineError(err::kSqlError, {.extra = "Sorting of result tables is not available yet"});
}

}  // namespace mt
#endif
