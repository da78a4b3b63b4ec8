// TEngineBlobStream: a stream over the value of a blob or memo field of a dataset's current
// record, through the dataset's cursor.
//
// Opening for reading works in any state, on a private copy of the record image, so moving the
// dataset does not disturb the stream; when the value changed since the dataset read the row
// (8708) a browsing dataset re-reads its row once and the open is tried again. Opening for
// writing needs edit or insert state and a field that can be modified; a stream opened for
// writing only first cuts the value to length 0. Written values stay open in the cursor until
// the record is posted (they are written with it) or cancelled (they are dropped); reading the
// field meanwhile reads the written value.
//
// Reads at the end of the value, or beyond it, return 0 bytes. Engine failures are raised as
// engine errors carrying the field's name.
//
// A stream must not outlive its dataset. After the dataset closed, or after the edit a writing
// stream belongs to ended, the stream's operations fail with 10030 (invalid blob handle).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/common/filelayer.h"  // TSeekOrigin

namespace mt {

class TEngineDataSet;
class TField;

enum class TBlobStreamMode { Read, Write, ReadWrite };

class TEngineBlobStream {
 public:
  TEngineBlobStream(TField& field, TBlobStreamMode mode);
  ~TEngineBlobStream();
  TEngineBlobStream(const TEngineBlobStream&) = delete;
  TEngineBlobStream& operator=(const TEngineBlobStream&) = delete;

  // Copies up to count bytes from the position on and advances the position.
  std::size_t Read(void* buffer, std::size_t count);
  // Writes at the position (extending the value) and advances the position.
  std::size_t Write(const void* buffer, std::size_t count);
  // The new position; a position before the start becomes 0.
  uint64_t Seek(int64_t offset, TSeekOrigin origin);
  uint64_t Position() const { return position_; }
  // The value's length.
  uint64_t Size() const;
  // Cuts the value at the position.
  void Truncate();
  // Everything from the position to the end.
  std::string ReadAll();
  void Close();

 private:
  void Open();
  void RequireUsable() const;
  template <class F>
  decltype(auto) WithFieldName(F call) const;

  TEngineDataSet& dataSet_;
  // The field's number and name, not the field: the field object goes when the dataset
  // closes, the stream may still be asked (and then fails).
  int fieldNo_;
  std::string fieldName_;
  TBlobStreamMode mode_;
  int handle_ = 0;
  bool ownsHandle_ = false;     // opened here, not a written value the edit already holds
  std::vector<uint8_t> image_;  // read streams: their own copy of the record image
  uint64_t cursorEpoch_ = 0;
  uint64_t editEpoch_ = 0;
  uint64_t position_ = 0;
  bool written_ = false;
  bool open_ = false;
};

}  // namespace mt
