// TBlobBuffer and TBlobBuffers: open blob values of a cursor.
#include "blobbuffer.h"

#include <cstring>
#include <limits>

#include "blobfile.h"
#include "byteio.h"
#include "datafile.h"
#include "engine/common/engineerror.h"
#include "fieldtypes.h"
#include "record.h"

namespace mt {
namespace {

constexpr uint64_t kMaxBlobLength = std::numeric_limits<int32_t>::max();

// The reference of a blob field: null flag, first block, stamp.
int32_t RefFirst(const uint8_t* image, std::size_t offset) {
  return image[offset] == 0 ? 0 : le::GetI32(image, offset + 1);
}
int32_t RefStamp(const uint8_t* image, std::size_t offset) {
  return image[offset] == 0 ? 0 : le::GetI32(image, offset + 5);
}
void PutRef(uint8_t* image, std::size_t offset, int32_t first, int32_t stamp) {
  image[offset] = first != 0 ? 1 : 0;
  le::PutI32(image, offset + 1, first);
  le::PutI32(image, offset + 5, stamp);
}

}  // namespace

// ---- TBlobBuffer -----------------------------------------------------------------------

TBlobBuffer::TBlobBuffer(std::string tableName, int fieldNo, std::size_t refOffset,
                         int32_t recordNumber, int32_t firstBlock, int32_t stamp,
                         std::vector<uint8_t> data, TBlobOpenMode mode)
    : tableName_(std::move(tableName)),
      fieldNo_(fieldNo),
      refOffset_(refOffset),
      recordNumber_(recordNumber),
      firstBlock_(firstBlock),
      stamp_(stamp),
      data_(std::move(data)),
      mode_(mode) {}

void TBlobBuffer::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = tableName_});
}

void TBlobBuffer::RequireWritable() const {
  if (mode_ != TBlobOpenMode::ReadWrite) Raise(err::kInvalidBlobHandle);
}

std::size_t TBlobBuffer::Read(uint64_t offset, std::size_t count, void* out) const {
  if (offset > data_.size()) Raise(err::kInvalidBlobOffset);
  const std::size_t n = std::min<uint64_t>(count, data_.size() - offset);
  if (n != 0) std::memcpy(out, data_.data() + offset, n);
  return n;
}

void TBlobBuffer::Write(uint64_t offset, std::span<const uint8_t> bytes) {
  RequireWritable();
  if (offset > data_.size()) Raise(err::kInvalidBlobOffset);
  const uint64_t end = offset + bytes.size();
  if (end > kMaxBlobLength) Raise(err::kInvalidBlobLength);
  if (end > data_.size()) {
    // Grow geometrically so that piecewise writes stay linear overall.
    if (end > data_.capacity()) data_.reserve(std::max<uint64_t>(end, data_.capacity() * 2));
    data_.resize(end);
  }
  if (!bytes.empty()) std::memcpy(data_.data() + offset, bytes.data(), bytes.size());
  modified_ = true;
}

void TBlobBuffer::Truncate(uint64_t length) {
  RequireWritable();
  if (length > data_.size()) Raise(err::kInvalidBlobLength);
  data_.resize(length);
  modified_ = true;
}

void TBlobBuffer::Stored(int32_t firstBlock, int32_t stamp) {
  firstBlock_ = firstBlock;
  stamp_ = stamp;
  modified_ = false;
}

// ---- TBlobBuffers ----------------------------------------------------------------------

TBlobBuffers::TBlobBuffers(std::string tableName) : tableName_(std::move(tableName)) {}

void TBlobBuffers::Raise(int32_t code, std::string field) const {
  RaiseEngineError(code, {.table = tableName_, .field = std::move(field)});
}

TBlobBuffers::TSlot* TBlobBuffers::SlotOf(int handle) {
  if (handle < 1 || handle > static_cast<int>(slots_.size())) return nullptr;
  TSlot& s = slots_[handle - 1];
  return s.buffer ? &s : nullptr;
}

const TBlobBuffers::TSlot* TBlobBuffers::SlotOf(int handle) const {
  return const_cast<TBlobBuffers*>(this)->SlotOf(handle);
}

int TBlobBuffers::HandleIn(const TRecordFormat& format, int fieldNo, const uint8_t* image) const {
  const TFieldDescriptor& f = format.Field(fieldNo);
  const int32_t first = RefFirst(image, f.offset);
  if (first >= 0) return 0;
  const int handle = -static_cast<int64_t>(first) > std::numeric_limits<int>::max()
                         ? 0
                         : static_cast<int>(-static_cast<int64_t>(first));
  const TSlot* s = SlotOf(handle);
  // A handle of no value of this cursor: nothing to store it as.
  if (s == nullptr || s->buffer->FieldNo() != fieldNo) Raise(err::kInvalidBlobHandle);
  return handle;
}

int TBlobBuffers::OpenCount() const {
  int n = 0;
  for (const TSlot& s : slots_) {
    if (s.buffer) ++n;
  }
  return n;
}

int TBlobBuffers::Open(TBlobFile* file, const TRecordFormat& format, int fieldNo, uint8_t* image,
                       int32_t recordNumber, TBlobOpenMode mode) {
  if (fieldNo < 1 || fieldNo > format.FieldCount()) Raise(err::kInvalidBlobField);
  const TFieldDescriptor& f = format.Field(fieldNo);
  if (!IsBlobField(f.type) || f.isVirtual) Raise(err::kInvalidBlobField, f.name);
  if (RefFirst(image, f.offset) < 0) {
    const int handle = HandleIn(format, fieldNo, image);
    if (!slots_[handle - 1].closed) return handle;
    Raise(err::kInvalidBlobHandle);
  }
  if (OpenCount() >= kMaxOpen) Raise(err::kTooManyBlobs);
  const int32_t first = RefFirst(image, f.offset);
  const int32_t stamp = RefStamp(image, f.offset);
  std::vector<uint8_t> data;
  if (first != 0) {
    if (file == nullptr || !file->IsOpen()) Raise(err::kBlobBuffersCorrupt);
    data = file->ReadValue(first, stamp);
  }
  std::size_t at = 0;
  while (at < slots_.size() && slots_[at].buffer)
    ++at;
  if (at == slots_.size()) slots_.emplace_back();
  slots_[at].buffer = std::make_unique<TBlobBuffer>(tableName_, fieldNo, f.offset, recordNumber,
                                                    first, stamp, std::move(data), mode);
  slots_[at].closed = false;
  const int handle = static_cast<int>(at + 1);
  PutRef(image, f.offset, -handle, stamp);
  return handle;
}

TBlobBuffer& TBlobBuffers::Get(int handle) {
  TSlot* s = SlotOf(handle);
  if (s == nullptr || s->closed) Raise(err::kInvalidBlobHandle);
  return *s->buffer;
}

void TBlobBuffers::Close(int handle, bool keepChanges, uint8_t* image) {
  TSlot* s = SlotOf(handle);
  if (s == nullptr || s->closed) Raise(err::kInvalidBlobHandle);
  if (keepChanges && s->buffer->Modified()) {
    s->closed = true;
    return;
  }
  const TBlobBuffer& b = *s->buffer;
  if (image != nullptr && RefFirst(image, b.RefOffset()) == -handle) {
    PutRef(image, b.RefOffset(), b.FirstBlock(), b.Stamp());
  }
  s->buffer.reset();
  s->closed = false;
}

template <class F>
void TBlobBuffers::ForEachHeld(const TRecordFormat& format, const uint8_t* image, F fn) const {
  for (int no = 1; no <= format.FieldCount(); ++no) {
    const TFieldDescriptor& f = format.Field(no);
    if (!IsBlobField(f.type) || f.isVirtual) continue;
    const int handle = HandleIn(format, no, image);
    if (handle != 0) fn(f, handle);
  }
}

void TBlobBuffers::DropIfClosed(TSlot& s) {
  if (!s.closed) return;
  s.buffer.reset();
  s.closed = false;
}

bool TBlobBuffers::Store(TBlobFile& file, TDataFile& data, const TRecordFormat& format,
                         uint8_t* image) {
  bool wrote = false;
  ForEachHeld(format, image, [&](const TFieldDescriptor& f, int handle) {
    TSlot& s = slots_[handle - 1];
    TBlobBuffer& b = *s.buffer;
    if (b.Modified()) {
      const int32_t stamp = data.NextBlobStamp();
      const int32_t first = file.WriteValue(b.FirstBlock(), b.Stamp(), stamp, b.Data());
      b.Stored(first, stamp);
      wrote = true;
    }
    PutRef(image, f.offset, b.FirstBlock(), b.Stamp());
    DropIfClosed(s);
  });
  return wrote;
}

void TBlobBuffers::RestoreReferences(const TRecordFormat& format, uint8_t* image) const {
  ForEachHeld(format, image, [&](const TFieldDescriptor& f, int handle) {
    const TBlobBuffer& b = *slots_[handle - 1].buffer;
    PutRef(image, f.offset, b.FirstBlock(), b.Stamp());
  });
}

void TBlobBuffers::Discard(const TRecordFormat& format, uint8_t* image) {
  ForEachHeld(format, image, [&](const TFieldDescriptor& f, int handle) {
    TSlot& s = slots_[handle - 1];
    PutRef(image, f.offset, s.buffer->FirstBlock(), s.buffer->Stamp());
    DropIfClosed(s);
  });
}

void TBlobBuffers::CloseAll() {
  slots_.clear();
}

void FreeBlobValues(TBlobFile& file, const TRecordFormat& format, const uint8_t* image,
                    const uint8_t* kept) {
  for (int no = 1; no <= format.FieldCount(); ++no) {
    const TFieldDescriptor& f = format.Field(no);
    if (!IsBlobField(f.type) || f.isVirtual) continue;
    const int32_t first = RefFirst(image, f.offset);
    const int32_t stamp = RefStamp(image, f.offset);
    if (first <= 0) continue;
    if (kept != nullptr && RefFirst(kept, f.offset) == first && RefStamp(kept, f.offset) == stamp)
      continue;
    file.FreeValue(first, stamp);
  }
}

}  // namespace mt
