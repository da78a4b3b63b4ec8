// Helpers shared by the storage tests: field definitions and engine-error expectations.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/common/engineerror.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/tablelayout.h"

namespace mt::test {

inline TFieldDescriptor Field(std::string name, uint8_t type, uint8_t size = 0,
                              uint8_t subtype = 0) {
  TFieldDescriptor f;
  f.name = std::move(name);
  f.type = type;
  f.size = size;
  f.subtype = subtype;
  return f;
}

// The engine error code raised by fn, or 0 when it raised none.
inline int32_t ErrorCodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace mt::test
