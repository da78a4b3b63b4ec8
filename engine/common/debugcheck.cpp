// The failure path of MT_ASSERT.
#include "debugcheck.h"

#include <cstdio>
#include <cstdlib>

namespace mt {

void DebugCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: engine invariant does not hold: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace mt
