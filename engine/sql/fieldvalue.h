// Putting the value of an expression into a field of a record image: the one conversion rule
// shared by the rows a SELECT builds and the rows INSERT and UPDATE write.
#pragma once

#include <cstdint>
#include <string>

#include "engine/common/exptoken.h"

namespace mt {

class TRecordFormat;

enum class TPutResult {
  Stored,  // the field holds the value (or NULL)
  Blob,    // a blob field: the caller writes `blobBytes` through its cursor
  Failed,  // the value does not convert to the field's type; the field holds the type's zero
};

// Puts `value` into field fieldNo of the image, converted to the field's type. NULL (and a
// value of unknown type) makes the field NULL. A string field takes a string or memo value as
// it is and any other value as its literal text. A blob field is left alone and its bytes are
// handed back: a string or memo value without its terminating zero, another blob value's
// bytes, any other value as its literal text.
TPutResult PutFieldValue(const TRecordFormat& format, int fieldNo, uint8_t* image,
                         const TExpToken& value, std::string& blobBytes);

}  // namespace mt
