// Putting the value of an expression into a field of a record image: the one conversion rule
// shared by the rows a SELECT builds and the rows INSERT and UPDATE write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/common/exptoken.h"

namespace mt {

class TDataCursor;
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

// PutFieldValue into a record image of the cursor's table, a blob value written through a blob
// buffer of the cursor. An empty blob value is written only with truncateBlob (it empties the
// value the record holds; a new record's field stays empty without it). False when the value
// does not convert.
bool PutCursorFieldValue(TDataCursor& cursor, int fieldNo, uint8_t* image, const TExpToken& value,
                         bool truncateBlob);

// Clears the image for a new record of the cursor's table, lets `fill` put its values, and
// inserts it. When filling or inserting fails, the blob values written for it are given back.
void InsertNewRecord(TDataCursor& cursor, uint8_t* image, const std::function<void()>& fill);

}  // namespace mt
