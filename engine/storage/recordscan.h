// TRecordScan: reads many records a run at a time, for the engine's own readers (queries,
// filters, dumps, checks, index builds).
//
// A cursor's Next takes the table's read lock and runs the change check for every record. A
// scan instead reads a run of records under one read lock and one change check, copies them
// out, gives the lock back and hands the copies out one by one; the next run takes a fresh lock
// and check, so a change another process finished meanwhile is seen by the next run. A run
// ends after a bounded number of records or once its hold took a bounded time, whichever comes
// first, so that a writer waiting for the lock waits at most one run, never a whole scan.
//
// What a scan sees: every record it hands out is an image some writer had finished (records
// are only read under the read lock, which writers hold off while they write). Each record is
// handed out at most once: in record-number order the scan only moves forwards through the
// record numbers; in index order it remembers the records it handed out (a record whose key a
// writer moves past the scan's position would otherwise come again). A record added, changed
// or deleted during the scan shows in the scan or not, depending on whether its change came
// before the run that reaches it.
//
// Orders:
//   - a cursor's visible records in record-number order (Records): the fastest, used when the
//     order does not matter. The cursor's filters apply: its visible-records bitmap while it
//     is current, else each record is evaluated as it is read. A cursor with an active range
//     is read in its index order instead (the range is a range of keys).
//   - a cursor's visible records in its current order (Cursor): index order follows the
//     cursor's index, range and filters, and moves the cursor (it stands on the last record a
//     run read); record-number order is Records.
//   - every record slot of an open table, active or deleted (the table constructor), for the
//     checks and index builds that look at every slot.
//
// The cursor's own one-record-at-a-time operations are untouched: each still takes its lock.
//
// Thread-safety: as the table (datatable.h): used on the table's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "engine/common/recordsbitmap.h"

namespace mt {

class TDataCursor;
class TDataTable;

// How much one run of a scan covers.
struct TScanLimits {
  // Records (or, in record-number order, record slots) per run; 0 takes 256 KiB of records
  // (between 16 and 4096 of them).
  int maxRecords = 0;
  // A run stops once it held the lock this long.
  std::chrono::microseconds maxHold{2000};
};

class TRecordScan {
 public:
  enum class TOrder { Records, Cursor };

  // The cursor's visible records from the first on. The cursor must stay open while the scan
  // is used.
  explicit TRecordScan(TDataCursor& cursor, TOrder order = TOrder::Records,
                       TScanLimits limits = {});
  // Every record slot of the open table, active or deleted, in record-number order.
  explicit TRecordScan(TDataTable& table, TScanLimits limits = {});
  TRecordScan(const TRecordScan&) = delete;
  TRecordScan& operator=(const TRecordScan&) = delete;

  // The next record's image (RecordSize bytes, clear), valid until the next call; nullptr
  // after the last.
  const uint8_t* Next();
  // The record number of the image Next handed out last.
  int32_t RecordNumber() const { return number_; }
  // Whether the change check of some run found a change by another process.
  bool Changed() const { return changed_; }
  // The runs read so far (each one lock hold).
  int Runs() const { return runs_; }

 private:
  struct TKept {
    int32_t number;
    uint32_t offset;  // into images_
  };

  void FillRun();
  // Record-number order: the slots from next_ on.
  void FillSlots(std::chrono::steady_clock::time_point start);
  // The cursor's index order, by moving the cursor.
  void FillInOrder(std::chrono::steady_clock::time_point start);
  bool OverTime(std::chrono::steady_clock::time_point start, std::size_t done) const;

  TDataTable& table_;
  TDataCursor* cursor_ = nullptr;  // null: every slot of the table
  bool inOrder_ = false;
  TScanLimits limits_;
  std::size_t recordSize_ = 0;
  int runRecords_ = 0;

  int32_t next_ = 1;  // record-number order: the next slot to read
  bool done_ = false;
  bool changed_ = false;
  int runs_ = 0;
  TRecordsBitmap seen_;  // index order: the records handed out

  std::vector<uint8_t> images_;
  std::vector<TKept> kept_;
  std::size_t at_ = 0;
  int32_t number_ = 0;
};

}  // namespace mt
