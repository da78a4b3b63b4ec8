// TEngineBlobStream: reading and writing a blob field's value through the dataset's cursor.
#include "blobstream.h"

#include <algorithm>
#include <span>

#include "dataset.h"
#include "dberrors.h"
#include "engine/common/engineerror.h"
#include "field.h"

namespace mt {
namespace {

// The reference of a blob field in an image holds a handle (a negative first block) while its
// value is open in the cursor.
bool HoldsHandle(const TRecordFormat& format, int fieldNo, const uint8_t* image) {
  const auto ref = format.GetBlobRef(fieldNo, image);
  return ref && ref->first < 0;
}

}  // namespace

template <class F>
decltype(auto) TEngineBlobStream::WithFieldName(F call) const {
  try {
    return call();
  } catch (const EEngineError& e) {
    if (!e.FieldName().empty()) throw;
    TErrorNames names = e.Context().names;
    names.field = fieldName_;
    RaiseEngineErrorOs(e.ErrorCode(), e.OsError(), names);
  }
}

TEngineBlobStream::TEngineBlobStream(TField& field, TBlobStreamMode mode)
    : dataSet_(field.DataSet()),
      fieldNo_(field.FieldNo()),
      fieldName_(field.FieldName()),
      mode_(mode) {
  dataSet_.CheckActive();
  if (mode_ != TBlobStreamMode::Read) {
    if (!field.CanModify()) RaiseDatabaseError(dbmsg::kFieldReadOnly, {fieldName_});
    if (!dataSet_.Editing()) RaiseDatabaseError(dbmsg::kNotEditing);
  }
  try {
    Open();
  } catch (const EEngineError& e) {
    // The value changed since the row was read: read the row again and retry once.
    if (e.ErrorCode() != err::kRecordChanged || mode_ != TBlobStreamMode::Read ||
        dataSet_.Editing()) {
      throw;
    }
    dataSet_.Settle();
    Open();
  }
}

TEngineBlobStream::~TEngineBlobStream() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close; the dataset's close releases the value.
  }
}

void TEngineBlobStream::Open() {
  TDataCursor& cursor = dataSet_.Cursor();
  const TRecordFormat& format = cursor.Format();
  const int no = fieldNo_;
  uint8_t* image = nullptr;
  if (mode_ == TBlobStreamMode::Read) {
    const uint8_t* active = dataSet_.ActiveBuffer();
    image_.assign(active, active + format.RecordSize());
    image = image_.data();
  } else {
    image = dataSet_.edit_.data();
  }
  const bool held = HoldsHandle(format, no, image);
  handle_ = WithFieldName([&] {
    return cursor.OpenBlob(
        no, image, mode_ == TBlobStreamMode::Read ? TBlobOpenMode::Read : TBlobOpenMode::ReadWrite);
  });
  ownsHandle_ = !held;
  cursorEpoch_ = dataSet_.cursorEpoch_;
  editEpoch_ = dataSet_.editEpoch_;
  open_ = true;
  position_ = 0;
  if (mode_ != TBlobStreamMode::Read) {
    dataSet_.AddEditBlob(handle_);
    if (mode_ == TBlobStreamMode::Write) {
      WithFieldName([&] { cursor.Blob(handle_).Truncate(0); });
      written_ = true;
      dataSet_.modified_ = true;
    }
  }
}

void TEngineBlobStream::RequireUsable() const {
  const bool gone = !open_ || dataSet_.cursorEpoch_ != cursorEpoch_ ||
                    (mode_ != TBlobStreamMode::Read && dataSet_.editEpoch_ != editEpoch_);
  if (gone) {
    RaiseEngineError(err::kInvalidBlobHandle,
                     {.table = dataSet_.cursor_ ? dataSet_.cursor_->Table().ErrorName() : "",
                      .field = fieldName_});
  }
}

std::size_t TEngineBlobStream::Read(void* buffer, std::size_t count) {
  RequireUsable();
  TBlobBuffer& blob =
      WithFieldName([&]() -> TBlobBuffer& { return dataSet_.Cursor().Blob(handle_); });
  if (position_ > blob.Length()) return 0;  // an offset past the end reads nothing
  const std::size_t n = WithFieldName([&] { return blob.Read(position_, count, buffer); });
  position_ += n;
  return n;
}

std::size_t TEngineBlobStream::Write(const void* buffer, std::size_t count) {
  RequireUsable();
  if (mode_ == TBlobStreamMode::Read) {
    RaiseEngineError(err::kInvalidBlobHandle,
                     {.table = dataSet_.Cursor().Table().ErrorName(), .field = fieldName_});
  }
  WithFieldName([&] {
    dataSet_.Cursor().Blob(handle_).Write(
        position_, std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), count));
  });
  position_ += count;
  written_ = true;
  dataSet_.modified_ = true;
  return count;
}

uint64_t TEngineBlobStream::Size() const {
  RequireUsable();
  return WithFieldName([&] { return dataSet_.Cursor().Blob(handle_).Length(); });
}

uint64_t TEngineBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = static_cast<int64_t>(position_);
  if (origin == TSeekOrigin::End) base = static_cast<int64_t>(Size());
  const int64_t target = base + offset;
  position_ = target < 0 ? 0 : static_cast<uint64_t>(target);
  return position_;
}

void TEngineBlobStream::Truncate() {
  RequireUsable();
  if (mode_ == TBlobStreamMode::Read) {
    RaiseEngineError(err::kInvalidBlobHandle,
                     {.table = dataSet_.Cursor().Table().ErrorName(), .field = fieldName_});
  }
  WithFieldName([&] {
    TBlobBuffer& blob = dataSet_.Cursor().Blob(handle_);
    blob.Truncate(std::min<uint64_t>(position_, blob.Length()));
  });
  written_ = true;
  dataSet_.modified_ = true;
}

std::string TEngineBlobStream::ReadAll() {
  std::string out;
  const uint64_t size = Size();
  if (position_ >= size) return out;
  out.resize(static_cast<std::size_t>(size - position_));
  out.resize(Read(out.data(), out.size()));
  return out;
}

void TEngineBlobStream::Close() {
  if (!open_) return;
  open_ = false;
  // The value went with the cursor, or with the edit it was written for.
  if (dataSet_.cursorEpoch_ != cursorEpoch_) return;
  if (mode_ != TBlobStreamMode::Read && dataSet_.editEpoch_ != editEpoch_) return;
  if (!ownsHandle_) return;
  TDataCursor& cursor = dataSet_.Cursor();
  if (mode_ == TBlobStreamMode::Read) {
    cursor.CloseBlob(handle_, false);
    return;
  }
  // A written value stays open until the post; an unwritten one gives its reference back.
  if (written_) return;
  dataSet_.RemoveEditBlob(handle_);
  cursor.CloseBlob(handle_, false, dataSet_.edit_.data());
}

}  // namespace mt
