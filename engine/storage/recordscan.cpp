// TRecordScan: runs of records under one read lock each.
#include "recordscan.h"

#include <algorithm>

#include "datacursor.h"
#include "datatable.h"
#include "record.h"

namespace mt {
namespace {

// A run is read in one call and copied out of the file cache once: large enough that the lock
// and change check of each run cost little beside the copy, small enough to stay in the CPU cache.
constexpr int kRunBytes = 262144;
constexpr int kMinRunRecords = 16;
constexpr int kMaxRunRecords = 4096;
// How many records pass between looks at the clock.
constexpr std::size_t kClockEvery = 64;

}  // namespace

TRecordScan::TRecordScan(TDataCursor& cursor, TOrder order, TScanLimits limits)
    : table_(cursor.Table()), cursor_(&cursor), limits_(limits) {
  inOrder_ = cursor.RangeActive() ||
             (order == TOrder::Cursor && cursor.CurrentIndex() != TDataCursor::kNoIndex);
  recordSize_ = static_cast<std::size_t>(cursor.RecordSize());
  if (inOrder_) cursor.First();
}

TRecordScan::TRecordScan(TDataTable& table, TScanLimits limits) : table_(table), limits_(limits) {
  recordSize_ = static_cast<std::size_t>(table.Data().RecordSize());
}

bool TRecordScan::OverTime(std::chrono::steady_clock::time_point start, std::size_t done) const {
  return done > 0 && done % kClockEvery == 0 &&
         std::chrono::steady_clock::now() - start >= limits_.maxHold;
}

const uint8_t* TRecordScan::Next() {
  while (at_ >= kept_.size()) {
    if (done_) return nullptr;
    FillRun();
  }
  const TKept& k = kept_[at_++];
  number_ = k.number;
  return images_.data() + k.offset;
}

void TRecordScan::FillRun() {
  if (cursor_ != nullptr) cursor_->RequireOpen();
  if (runRecords_ == 0) {
    runRecords_ =
        limits_.maxRecords > 0
            ? limits_.maxRecords
            : std::clamp(kRunBytes / static_cast<int>(std::max<std::size_t>(recordSize_, 1)),
                         kMinRunRecords, kMaxRunRecords);
    images_.resize(static_cast<std::size_t>(runRecords_) * recordSize_);
    kept_.reserve(static_cast<std::size_t>(runRecords_));
  }
  kept_.clear();
  at_ = 0;
  TReadLockScope lock(table_.Locks());
  ++runs_;
  changed_ = changed_ || lock.Changed();
  const auto start = std::chrono::steady_clock::now();
  if (inOrder_) {
    cursor_->Sync(lock.Changed());
    FillInOrder(start);
  } else {
    FillSlots(start);
  }
}

void TRecordScan::FillSlots(std::chrono::steady_clock::time_point start) {
  TDataFile& data = table_.Data();
  const bool filters = cursor_ != nullptr && cursor_->FiltersActive();
  // The cursor's visible records answer the filters while they belong to the table as it is
  // now; after a change they would have to be built anew from every record, so each record is
  // evaluated instead.
  const bool bitmapCurrent =
      filters && cursor_->synced_ && table_.Locks().InStep(cursor_->savedCounters_);
  int32_t want = runRecords_;
  if (bitmapCurrent) {
    // Only the visible records are read: the run starts at the next one and ends at the last
    // one within its length.
    const auto [first, last] =
        cursor_->visible_.NextSpan(static_cast<uint32_t>(next_ - 1), static_cast<uint32_t>(want));
    if (first == 0) {
      done_ = true;
      return;
    }
    next_ = static_cast<int32_t>(first);
    want = static_cast<int32_t>(last - first + 1);
  }
  const int32_t count = data.ReadSlots(next_, want, images_.data());
  int32_t examined = 0;
  for (; examined < count; ++examined) {
    if (OverTime(start, static_cast<std::size_t>(examined))) break;
    const int32_t n = next_ + examined;
    const std::size_t offset = static_cast<std::size_t>(examined) * recordSize_;
    const uint8_t* image = images_.data() + offset;
    if (cursor_ != nullptr) {
      if (image[rec::kState] != rec::kActive) continue;
      if (filters) {
        const uint32_t u = static_cast<uint32_t>(n);
        const bool visible = bitmapCurrent
                                 ? u <= cursor_->visible_.Size() && cursor_->visible_.Test(u)
                                 : cursor_->PassesFilters(image);
        if (!visible) continue;
      }
    }
    kept_.push_back({n, static_cast<uint32_t>(offset)});
  }
  next_ += examined;
  // The records added after this run's look at the table are not waited for.
  if (next_ > data.RecordCount()) done_ = true;
}

void TRecordScan::FillInOrder(std::chrono::steady_clock::time_point start) {
  TDataCursor& c = *cursor_;
  std::size_t filled = 0;
  for (std::size_t steps = 0; filled < static_cast<std::size_t>(runRecords_); ++steps) {
    if (OverTime(start, steps)) break;
    const std::size_t offset = filled * recordSize_;
    if (c.Step(true, images_.data() + offset) != TDataCursor::kRecordRead) {
      done_ = true;
      break;
    }
    const uint32_t n = static_cast<uint32_t>(c.current_);
    if (n <= seen_.Size() && seen_.Test(n)) continue;
    if (n > seen_.Size()) seen_.SetSize(std::max(n, seen_.Size() * 2));
    seen_.Set(n);
    kept_.push_back({static_cast<int32_t>(n), static_cast<uint32_t>(offset)});
    ++filled;
  }
}

}  // namespace mt
