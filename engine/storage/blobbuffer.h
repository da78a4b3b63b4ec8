// TBlobBuffer: one blob value a cursor has open, held whole in memory; TBlobBuffers: the open
// values of one cursor (at most 128), with the steps that store them when the record is posted
// and free them when it is deleted.
//
// Protocol (the cursor drives it):
//   int h = blobs.Open(table.Blob(), fmt, fieldNo, image, recordNo, TBlobOpenMode::ReadWrite);
//   blobs.Get(h).Write(0, bytes);          // read, write, truncate in memory
//   ... under the table's write lock, when the record is posted:
//   blobs.Store(table.Blob(), table.Data(), fmt, image);   // writes modified values
//   table.Locks().FinishChange();                            // writes blocks and header
//   blobs.Close(h, true);
// While a value is open, the record image's reference holds -handle in place of the first
// block number (the stamp stays), so the dataset layer finds the open value from the image
// alone. Store and RestoreReferences put real references back.
//
// Closing a modified value with keepChanges keeps it, no longer usable through its handle,
// until the record is posted (Store writes it) or cancelled (Discard drops it); otherwise
// closing drops the value at once, and the image handed to Close gets its reference back. An
// image that still holds the handle of a dropped value is refused by Store (10030) rather than
// written with a reference to nothing.
//
// Thread-safety: a cursor's buffers are used on the thread that owns its table (datatable.h).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace mt {

class TBlobFile;
class TDataFile;
class TRecordFormat;

enum class TBlobOpenMode { Read, ReadWrite };

class TBlobBuffer {
 public:
  TBlobBuffer(std::string tableName, int fieldNo, std::size_t refOffset, int32_t recordNumber,
              int32_t firstBlock, int32_t stamp, std::vector<uint8_t> data, TBlobOpenMode mode);

  int FieldNo() const { return fieldNo_; }
  // Offset of the field's reference (its null-flag byte) in the record image.
  std::size_t RefOffset() const { return refOffset_; }
  int32_t RecordNumber() const { return recordNumber_; }
  int32_t FirstBlock() const { return firstBlock_; }
  int32_t Stamp() const { return stamp_; }
  TBlobOpenMode Mode() const { return mode_; }
  bool Modified() const { return modified_; }
  uint64_t Length() const { return data_.size(); }
  const std::vector<uint8_t>& Data() const { return data_; }

  // Copies at most count bytes from offset on and returns how many; an offset beyond the
  // value is 9998.
  std::size_t Read(uint64_t offset, std::size_t count, void* out) const;
  // Replaces or extends the value from offset on (9998 beyond the value's end; 10029 past
  // 2147483647 bytes) and marks it modified. A value opened for reading is 10030.
  void Write(uint64_t offset, std::span<const uint8_t> bytes);
  // Cuts the value (10029 when longer than it is) and marks it modified; 0 empties it.
  void Truncate(uint64_t length);
  // After the value was written: its new place, and no longer modified.
  void Stored(int32_t firstBlock, int32_t stamp);

 private:
  [[noreturn]] void Raise(int32_t code) const;
  void RequireWritable() const;

  std::string tableName_;
  int fieldNo_ = 0;
  std::size_t refOffset_ = 0;
  int32_t recordNumber_ = 0;
  int32_t firstBlock_ = 0;
  int32_t stamp_ = 0;
  std::vector<uint8_t> data_;
  TBlobOpenMode mode_ = TBlobOpenMode::Read;
  bool modified_ = false;
};

class TBlobBuffers {
 public:
  static constexpr int kMaxOpen = 128;

  explicit TBlobBuffers(std::string tableName);

  // Opens the value of a blob field of a record image and returns its handle (from 1): loads
  // the value (an empty reference gives an empty value without touching the file) and puts
  // -handle into the image's reference. An image already holding an open handle of this
  // cursor gives that handle. 10753 for a field that is no blob, 9494 for a 129th value, and
  // the load's errors (8708 when the value was rewritten since the image was read).
  int Open(TBlobFile* file, const TRecordFormat& format, int fieldNo, uint8_t* image,
           int32_t recordNumber, TBlobOpenMode mode);
  // An open value; 10030 for an invalid handle.
  TBlobBuffer& Get(int handle);
  // 10030 for an invalid handle. image: the record image whose reference holds the handle.
  void Close(int handle, bool keepChanges, uint8_t* image = nullptr);
  // Posting a record: for each blob field of the image holding a handle of this cursor, a
  // modified value is written with a new stamp (the data file's next blob stamp) in place of
  // its old chain and the image gets its new reference; an unmodified one gets its old
  // reference back. Values closed with keepChanges are dropped afterwards. Returns whether a
  // value was written.
  bool Store(TBlobFile& file, TDataFile& data, const TRecordFormat& format, uint8_t* image);
  // Puts the original references of the image's open values back, leaving the values open.
  void RestoreReferences(const TRecordFormat& format, uint8_t* image) const;
  // Cancelling a record's change: restores the references and drops the values closed with
  // keepChanges that belong to this image.
  void Discard(const TRecordFormat& format, uint8_t* image);
  void CloseAll();
  int OpenCount() const;

 private:
  struct TSlot {
    std::unique_ptr<TBlobBuffer> buffer;
    bool closed = false;  // closed with keepChanges, waiting for the post
  };
  [[noreturn]] void Raise(int32_t code, std::string field = {}) const;
  // The handle an image's reference of this field holds, 0 when none.
  int HandleIn(const TRecordFormat& format, int fieldNo, const uint8_t* image) const;
  // Calls fn(field, handle) for every blob field of the image whose reference holds a handle.
  template <class F>
  void ForEachHeld(const TRecordFormat& format, const uint8_t* image, F fn) const;
  // A slot whose value was closed keeping its changes is given up once they are stored.
  static void DropIfClosed(TSlot& s);
  TSlot* SlotOf(int handle);
  const TSlot* SlotOf(int handle) const;

  std::string tableName_;
  std::vector<TSlot> slots_;  // handle h is slots_[h - 1]
};

// Deleting a record frees the chains of all its blob fields.
// With `kept`, the new image of a changed record: only the values it no longer refers to (set
// to NULL or to another value by any path, buffered or not). A value replaced through a blob
// buffer is already queued by its write; queuing it again is harmless (ApplyFrees frees each
// block once).
void FreeBlobValues(TBlobFile& file, const TRecordFormat& format, const uint8_t* image,
                    const uint8_t* kept = nullptr);

}  // namespace mt
