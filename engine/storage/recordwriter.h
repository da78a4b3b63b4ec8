// TRecordWriter: inserting, changing and deleting one record of a table with everything that
// goes with it: the record slot (the head of the deleted chain or the end of the file), the
// auto-increment value, the keys of the primary and secondary indexes and of the
// record-identifier index, the text index, the blob values and the end-of-change writes.
// Every TDataTable owns one (TDataTable::Writer()); cursors call it for their inserts, changes
// and deletes and keep their own position, order, ranges and filters.
//
// Each change:
//  - checks everything that can refuse it (the record's values, every unique key, the record
//    lock, the caller's view of the record) before it changes anything, so a refused change
//    consumes nothing (no slot, no auto-increment value);
//  - runs under the table's write lock (taken here; nesting makes that free for a caller that
//    holds it already, as a cursor does to bring its view up to date first) and holds the
//    record's lock for its duration unless the caller's edit holds it;
//  - changes records, pages and blocks in memory only and writes them at its end
//    (TTableLocks' change bracket, tablelocks.h): a change that fails before its end is
//    dropped, one whose writing fails is finished by the table's next operation or its close.
//
// Thread-safety: as its table (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_RECORDWRITER_H
#define MT_STORAGE_RECORDWRITER_H

#include <cstdint>
#include <vector>

namespace mt {

class TBlobBuffers;
class TDataTable;

// The caller's part of a change.
struct TRecordWriteOptions {
  // Who the record lock is taken for (the cursor); the caller's edit may hold it already.
  const void* owner = nullptr;
  // Blob values the caller holds open for the image (blobbuffer.h), written with the record;
  // null when it holds none.
  TBlobBuffers* blobs = nullptr;
  // Keep the image's auto-increment value instead of giving the record the next one.
  bool keepSuppliedValues = false;
};

class TRecordWriter {
 public:
  explicit TRecordWriter(TDataTable& table);
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  // Adds a record from an image (its first 9 bytes are ignored) and returns its number.
  // 9732, 9730, 9731 for values the fields refuse; 9729 for a key a unique index holds.
  int32_t Insert(const uint8_t* image, const TRecordWriteOptions& options);
  // Changes record n (0: the caller stands on no record, 8709) to the image. expected, when
  // given, is the image the caller's edit started from: 8708 when the record no longer looks
  // like it, or is no longer active. The auto-increment value stays unless keeping supplied
  // values. 9732, 9730, 9731 and 9729 as for inserts.
  void Modify(int32_t n, const uint8_t* image, const uint8_t* expected,
              const TRecordWriteOptions& options);
  // The stored image the last successful Modify replaced; valid until the writer's next
  // change.
  const uint8_t* ReplacedImage() const { return oldImage_.data(); }
  // Deletes record n (0: 8709); lastRead is the image the caller read (8708 when the record
  // changed since; 10258 when another owner of the process holds its lock). Frees its blob
  // values and puts its slot at the head of the deleted chain.
  void Delete(int32_t n, const uint8_t* lastRead, const void* owner);

  // True for a scratch table (a query's result) with nothing kept per record beyond the
  // record-identifier index: no primary, secondary or text index, no blob fields, no
  // transaction. Such a table takes whole runs of records through AppendInBulk.
  bool CanAppendInBulk() const;
  // Adds `count` images (RecordSize bytes each, their first 9 bytes ignored and filled here)
  // as new records after the last one, each with the next auto-increment value, in one change
  // and one write past the record cache. Values are checked as for inserts, all before any is
  // added. Only where CanAppendInBulk holds.
  void AppendInBulk(uint8_t* images, int32_t count);

 private:
  // Fills slots_ with the indexes kept for every active record: the primary (when in use) and
  // the secondaries.
  void CollectMaintainedSlots();
  // Room in keys_ for `count` keys of up to kMaxKeyLength bytes; key i at KeyAt(i).
  void ReserveKeys(std::size_t count);
  uint8_t* KeyAt(std::size_t i);
  [[noreturn]] void Raise(int32_t code) const;

  TDataTable& table_;
  // Buffers reused from one change to the next, so that a change allocates nothing for its
  // images and keys (the writer is used on its table's thread only).
  std::vector<int> slots_;
  std::vector<uint8_t> oldImage_;
  std::vector<uint8_t> newImage_;
  std::vector<uint8_t> keys_;
};

}  // namespace mt

#endif  // MT_STORAGE_RECORDWRITER_H
