// TTableLocks: byte-range locks, change detection, finishing changes and transactions of one
// table object.
#include "tablelocks.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "blobfile.h"
#include "datatable.h"
#include "engine/common/debugcheck.h"
#include "engine/common/engineerror.h"
#include "tablecheck.h"

namespace mt {
namespace {

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Runs every step, reports the first failure at the end.
class TFailures {
 public:
  template <typename F>
  void Run(F&& step) {
    try {
      step();
    } catch (...) {
      if (!first_) first_ = std::current_exception();
    }
  }
  void Rethrow() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  std::exception_ptr first_;
};

// Bytes of records a scratch table keeps unwritten in its cache.
constexpr std::size_t kScratchCacheBytes = std::size_t{4} << 20;

// A seed for each table's back-off generator: the process's random device is read once (it is
// a file to open), and each table after that takes the next value of a shared counter.
std::minstd_rand::result_type NextLockSeed() {
  static const unsigned base = std::random_device{}() ^ static_cast<unsigned>(getpid());
  static std::atomic<unsigned> tables{0};
  return static_cast<std::minstd_rand::result_type>((base + 2654435761u * ++tables) | 1u);
}

}  // namespace

TTableLocks::TTableLocks(TDataTable& table) : table_(table), random_(NextLockSeed()) {}

void TTableLocks::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = table_.ErrorName()});
}

bool TTableLocks::NoLocking() const {
  return table_.Exclusive() || table_.ReadOnly();
}

bool TTableLocks::HasBlobFile() const {
  return table_.BlobFile() != nullptr;
}

bool TTableLocks::StrictChangeDetection() const {
  return table_.Settings().strictChangeDetection;
}

void TTableLocks::SetTableLockRetry(int tries, int waitMs) {
  tableLockTries_ = std::max(1, tries);
  tableLockWaitMs_ = std::max(0, waitMs);
}

// ---- the file locks --------------------------------------------------------------------

// Unwritten rest of a change keeps the write lock: other processes must not see half-written
// files.
bool TTableLocks::NeedSemaphore() const {
  return !NoLocking() && (writeDepth_ > 0 || tableLockDepth_ > 0 || writesPending_);
}

bool TTableLocks::NeedWriteRanges() const {
  return !NoLocking() && (writeDepth_ > 0 || writesPending_);
}

bool TTableLocks::NeedReadBytes() const {
  return !NoLocking() && (readDepth_ > 0 || secondReadDepth_ > 0) && writeDepth_ == 0 &&
         tableLockDepth_ == 0 && !writesPending_;
}

bool TTableLocks::Retry(TLockWait what, const std::function<bool()>& attempt) {
  for (int i = 1; i <= tableLockTries_; ++i) {
    if (attempt()) return true;
    if (observer_) observer_(what, i);
    if (i < tableLockTries_) SleepMs(tableLockWaitMs_);
  }
  return false;
}

void TTableLocks::AcquireSemaphore() {
  TDataFile& data = table_.Data();
  if (!Retry(TLockWait::TableSemaphore,
             [&] { return data.LockRegion(lockofs::kTableSemaphore, 1); })) {
    Raise(err::kLockFailure);
  }
  semaphoreHeld_ = true;
}

void TTableLocks::ReleaseSemaphore() {
  semaphoreHeld_ = false;
  if (!table_.Data().UnlockRegion(lockofs::kTableSemaphore, 1)) Raise(err::kLockFailure);
}

void TTableLocks::AcquireWriteRanges() {
  TIndexFile& index = table_.Index();
  auto range = [](TFileHandler& f) {
    return f.LockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength);
  };
  if (!Retry(TLockWait::WriteRange, [&] { return range(index); })) Raise(err::kLockFailure);
  if (TBlobFile* blob = table_.BlobFile()) {
    if (!Retry(TLockWait::WriteRange, [&] { return range(*blob); })) {
      index.UnlockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength);
      Raise(err::kLockFailure);
    }
  }
  writeRangesHeld_ = true;
}

void TTableLocks::ReleaseWriteRanges() {
  writeRangesHeld_ = false;
  bool ok = true;
  if (TBlobFile* blob = table_.BlobFile()) {
    ok = blob->UnlockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength);
  }
  ok = table_.Index().UnlockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength) && ok;
  if (!ok) Raise(err::kLockFailure);
}

void TTableLocks::AcquireReadBytes() {
  std::uniform_int_distribution<int> slot(1, lockofs::kReadSlots);
  // Every attempt picks a new byte: a collision with another reader only costs a retry.
  auto byteOf = [&](TFileHandler& f, uint64_t& taken) {
    return Retry(TLockWait::ReadByte, [&] {
      const uint64_t offset = lockofs::kReadBase - static_cast<uint64_t>(slot(random_));
      if (!f.LockRegion(offset, 1)) return false;
      taken = offset;
      return true;
    });
  };
  if (!byteOf(table_.Index(), indexReadByte_)) Raise(err::kLockFailure);
  if (TBlobFile* blob = table_.BlobFile()) {
    if (!byteOf(*blob, blobReadByte_)) {
      table_.Index().UnlockRegion(indexReadByte_, 1);
      indexReadByte_ = 0;
      Raise(err::kLockFailure);
    }
  }
  readBytesHeld_ = true;
}

void TTableLocks::ReleaseReadBytes() {
  readBytesHeld_ = false;
  bool ok = true;
  if (blobReadByte_ != 0) {
    if (TBlobFile* blob = table_.BlobFile()) ok = blob->UnlockRegion(blobReadByte_, 1);
    blobReadByte_ = 0;
  }
  if (indexReadByte_ != 0) {
    ok = table_.Index().UnlockRegion(indexReadByte_, 1) && ok;
    indexReadByte_ = 0;
  }
  if (!ok) Raise(err::kCannotUnlock);
}

void TTableLocks::Sync() {
  // Releases first, blob and index before data; then acquisitions data, index, blob.
  if (readBytesHeld_ && !NeedReadBytes()) ReleaseReadBytes();
  if (writeRangesHeld_ && !NeedWriteRanges()) ReleaseWriteRanges();
  if (semaphoreHeld_ && !NeedSemaphore()) ReleaseSemaphore();
  if (!semaphoreHeld_ && NeedSemaphore()) AcquireSemaphore();
  if (!writeRangesHeld_ && NeedWriteRanges()) AcquireWriteRanges();
  if (!readBytesHeld_ && NeedReadBytes()) AcquireReadBytes();
  MT_ASSERT(semaphoreHeld_ == NeedSemaphore() && writeRangesHeld_ == NeedWriteRanges() &&
            readBytesHeld_ == NeedReadBytes());
  MT_ASSERT(!(readBytesHeld_ && writeRangesHeld_));
}

void TTableLocks::SyncRaised(int& depth) {
  try {
    Sync();
  } catch (...) {
    --depth;
    SyncNoThrow();
    throw;
  }
}

void TTableLocks::SyncNoThrow() noexcept {
  // Each failed step clears its flag, so a few rounds settle every lock.
  for (int round = 0; round < 4; ++round) {
    try {
      Sync();
      return;
    } catch (...) {
    }
  }
}

bool TTableLocks::CheckAfterLock(const std::function<void()>& undo) {
  try {
    return CheckForChanges();
  } catch (...) {
    undo();
    throw;
  }
}

// ---- table locks -----------------------------------------------------------------------

bool TTableLocks::ReadLock(bool checkChanges) {
  table_.CheckThread();
  Settle();
  const bool outermost = !HoldsAnyLock();
  ++readDepth_;
  if (!outermost) return false;
  SyncRaised(readDepth_);
  if (!checkChanges) return false;
  return CheckAfterLock([this] {
    --readDepth_;
    SyncNoThrow();
  });
}

void TTableLocks::ReadUnlock() {
  if (readDepth_ == 0) Raise(err::kCannotUnlock);
  --readDepth_;
  Sync();
}

bool TTableLocks::SecondReadLock() {
  table_.CheckThread();
  Settle();
  const bool outermost = !HoldsAnyLock();
  ++secondReadDepth_;
  if (!outermost) return false;
  SyncRaised(secondReadDepth_);
  return CheckAfterLock([this] {
    --secondReadDepth_;
    SyncNoThrow();
  });
}

void TTableLocks::SecondReadUnlock() {
  if (secondReadDepth_ == 0) Raise(err::kCannotUnlock);
  --secondReadDepth_;
  Sync();
}

bool TTableLocks::WriteLock() {
  table_.CheckThread();
  Settle();
  if (++writeDepth_ > 1) return false;
  SyncRaised(writeDepth_);
  return CheckAfterLock([this] {
    --writeDepth_;
    SyncNoThrow();
  });
}

void TTableLocks::WriteUnlock() {
  if (writeDepth_ == 0) Raise(err::kLockFailure);
  --writeDepth_;
  Sync();
}

bool TTableLocks::LockTable() {
  table_.CheckThread();
  Settle();
  if (++tableLockDepth_ > 1) return false;
  SyncRaised(tableLockDepth_);
  return CheckAfterLock([this] {
    --tableLockDepth_;
    SyncNoThrow();
  });
}

void TTableLocks::UnlockTable() {
  // The transaction's own hold ends only with the transaction.
  if (tableLockDepth_ == 0 || (inTransaction_ && tableLockDepth_ == 1)) {
    Raise(err::kLockFailure);
  }
  if (--tableLockDepth_ > 0) return;
  TFailures failures;
  failures.Run([&] { Sync(); });
  if (allRecordsLocked_) {
    allRecordsLocked_ = false;
    failures.Run([&] {
      if (!table_.Data().UnlockRegion(lockofs::kAllRecords, lockofs::kAllRecordsLength)) {
        Raise(err::kLockFailure);
      }
    });
    // Records cursors locked meanwhile keep their locks: take their bytes back.
    for (const auto& [n, owner] : lockedBy_) {
      if (held_.count(n) == 0 && table_.Data().LockRegion(RecordLockOffset(n), 1)) {
        held_.insert(n);
      }
    }
  }
  failures.Run([&] { ReleaseDeferred(); });
  failures.Rethrow();
}

void TTableLocks::ReleaseDeferred() {
  // Consecutive record numbers have adjacent lock bytes (record n at kRecordBase - n): a run of
  // deferred records goes in one call. Every byte of a run is this table's and no cursor's.
  bool ok = true;
  for (auto it = deferred_.begin(); it != deferred_.end();) {
    const int32_t first = *it;
    int32_t last = first;
    for (++it; it != deferred_.end() && *it == last + 1; ++it)
      ++last;
    ok = table_.Data().UnlockAdjacentRegions(RecordLockOffset(last),
                                             static_cast<uint64_t>(last - first) + 1) &&
         ok;
    held_.erase(held_.lower_bound(first), held_.upper_bound(last));
  }
  deferred_.clear();
  if (!ok) Raise(err::kCannotUnlock);
}

// ---- record locks ----------------------------------------------------------------------

const void* TTableLocks::RecordLockOwner(int32_t n) const {
  const auto it = lockedBy_.find(n);
  return it == lockedBy_.end() ? nullptr : it->second;
}

bool TTableLocks::LockRecord(int32_t n, const void* owner) {
  table_.CheckThread();
  if (n < 1 || n > kMaxRecordNumber) Raise(err::kRecordBuffersCorrupt);
  if (NoLocking()) return false;
  const auto it = lockedBy_.find(n);
  if (it != lockedBy_.end()) {
    if (it->second == owner) return false;
    Raise(err::kRecordInUse);
  }
  // All records locked, or a byte still held for an unlock deferred to the end of the table
  // lock: the record is this process's already.
  if (allRecordsLocked_ || deferred_.erase(n) > 0) {
    lockedBy_[n] = owner;
    return false;
  }
  const TSessionSettings& settings = table_.Settings();
  // With strict detection the cursor's operation holds the read lock and checked already.
  const bool check = !settings.strictChangeDetection;
  TDataFile& data = table_.Data();
  // The lock-ahead span, n to last, stops before a record this process holds already.
  int32_t last = n;
  if (lockAhead_ > 1 && tableLockDepth_ > 0 && n > lockAheadPausedTo_) {
    last = static_cast<int32_t>(std::min<int64_t>(int64_t{n} + lockAhead_ - 1, kMaxRecordNumber));
    const auto next = held_.upper_bound(n);
    if (next != held_.end() && *next <= last) last = *next - 1;
  }
  const auto tryLock = [&] {
    if (last > n) {
      if (data.LockAdjacentRegions(RecordLockOffset(last), static_cast<uint64_t>(last - n) + 1))
        return true;
      lockAheadPausedTo_ = last;
      last = n;
    }
    return data.LockRegion(RecordLockOffset(n), 1);
  };
  bool changed = false;
  for (int attempt = 1;; ++attempt) {
    bool locked = false;
    if (check) {
      TReadLockScope read(*this);
      changed = read.Changed() || changed;
      locked = tryLock();
    } else {
      locked = tryLock();
    }
    if (locked) break;
    if (observer_) observer_(TLockWait::Record, attempt);
    if (attempt > settings.lockRetryCount) Raise(err::kRecordInUse);
    SleepMs(settings.lockWaitTime);
  }
  held_.insert(n);
  lockedBy_[n] = owner;
  for (int32_t ahead = n + 1; ahead <= last; ++ahead) {
    held_.insert(ahead);
    deferred_.insert(ahead);
  }
  return changed;
}

void TTableLocks::SetRecordLockAhead(int32_t records) {
  lockAhead_ = std::max(records, 1);
  lockAheadPausedTo_ = 0;
}

void TTableLocks::UnlockRecord(int32_t n, const void* owner) {
  table_.CheckThread();
  if (NoLocking()) return;
  const auto it = lockedBy_.find(n);
  if (it == lockedBy_.end() || it->second != owner) Raise(err::kCannotUnlock);
  lockedBy_.erase(it);
  if (held_.count(n) == 0) return;  // covered by the all-records range
  if (tableLockDepth_ > 0) {
    deferred_.insert(n);
    return;
  }
  held_.erase(n);
  if (!table_.Data().UnlockRegion(RecordLockOffset(n), 1)) Raise(err::kCannotUnlock);
}

void TTableLocks::UnlockRecords(const void* owner) {
  std::vector<int32_t> mine;
  for (const auto& [n, o] : lockedBy_) {
    if (o == owner) mine.push_back(n);
  }
  TFailures failures;
  for (int32_t n : mine)
    failures.Run([&] { UnlockRecord(n, owner); });
  failures.Rethrow();
}

void TTableLocks::LockAllRecords() {
  if (NoLocking() || allRecordsLocked_) return;
  if (tableLockDepth_ == 0) Raise(err::kLockFailure);
  // Bytes of cursors' record locks would overlap the range.
  for (const auto& [n, owner] : lockedBy_) {
    if (held_.count(n) != 0) Raise(err::kRecordInUse);
  }
  ReleaseDeferred();  // logically free already; the range covers them
  const TSessionSettings& settings = table_.Settings();
  TDataFile& data = table_.Data();
  for (int attempt = 1;; ++attempt) {
    if (data.LockRegion(lockofs::kAllRecords, lockofs::kAllRecordsLength)) break;
    if (observer_) observer_(TLockWait::AllRecords, attempt);
    if (attempt > settings.lockRetryCount) Raise(err::kRecordInUse);
    SleepMs(settings.lockWaitTime);
  }
  allRecordsLocked_ = true;
}

// ---- change detection ------------------------------------------------------------------

TChangeCounters TTableLocks::Counters() const {
  TChangeCounters c;
  c.data = table_.Data().ChangeCounter();
  c.index = table_.Index().ChangeCounter();
  if (const TBlobFile* blob = table_.BlobFile()) c.blob = blob->ChangeCounter();
  return c;
}

bool TTableLocks::InStep(const TChangeCounters& saved) const {
  const TChangeCounters now = Counters();
  return saved == now || (committed_ && saved == committedFrom_ && now == committedTo_);
}

bool TTableLocks::CheckForChanges() {
  // While a failed change's rest is unwritten, this process holds the write lock and its
  // caches are the table.
  if (table_.Exclusive() || inTransaction_ || writesPending_) return false;
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TDataFile::TStoredState stored = data.ReadStoredState();
  // The lock just taken keeps writers out: a change mark was left by a writer that died.
  // (Read-only files take no locks, so a live writer may have set it: left alone.)
  if (stored.changeMark && !table_.InMemory() && !table_.ReadOnly()) {
    MendCutOffChange();
    if (TBlobFile* blob = table_.BlobFile()) blob->ReloadHeader();
    return true;
  }
  bool changed = false;
  if (index.StoredChangeCounter() != index.ChangeCounter()) {
    index.ClearCache();
    index.Load(data.Encrypted());
    data.ReloadHeader();
    changed = true;
  } else if (stored.changeCounter != data.ChangeCounter()) {
    data.ReloadHeader();
    changed = true;
  }
  if (TBlobFile* blob = table_.BlobFile()) {
    if (blob->StoredChangeCounter() != blob->ChangeCounter()) {
      blob->ReloadHeader();
      changed = true;
    }
  }
  return changed;
}

void TTableLocks::MendCutOffChange() {
  if (table_.ReadOnly()) RaiseEngineError(err::kAccessDenied, {.table = table_.ErrorName()});
  // Mending writes: a read or table lock is raised to the write lock for it. Whoever gets the
  // write lock first mends; the others find the mark gone.
  const bool raise = !WriteLocked() && !NoLocking();
  if (raise) {
    ++writeDepth_;
    SyncRaised(writeDepth_);
  }
  try {
    if (table_.Data().ReadStoredState().changeMark) {
      mt::MendCutOffChange(table_);
    } else {
      // Mended by another process meanwhile: take its state.
      TIndexFile& index = table_.Index();
      index.ClearCache();
      index.Load(table_.Data().Encrypted());
      table_.Data().ReloadHeader();
    }
  } catch (...) {
    if (raise) {
      --writeDepth_;
      SyncNoThrow();
    }
    throw;
  }
  if (raise) {
    --writeDepth_;
    Sync();
  }
}

bool TTableLocks::CheckBeforeDiskRead() {
  if (table_.Exclusive() || inTransaction_ || writesPending_) return false;
  // Read-only files take no locks, so nothing keeps writers out: always look.
  if (table_.ReadOnly()) return CheckForChanges();
  if (HoldsAnyLock()) return false;
  TReadLockScope read(*this);
  return read.Changed();
}

// ---- changes and writing ---------------------------------------------------------------

void TTableLocks::WriteChanges() {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  TBlobFile* blob = table_.BlobFile();
  // The order makes every moment of a kill recoverable from the files (tablecheck.h): the
  // change mark goes first; new blob values before the journal and the records that refer to
  // them; the journal before the records, so that records cut off in the middle are written
  // again; freed blob blocks only after the records that referred to them; the indexes after
  // the records; the data header last, clearing the mark. Without records to write (a header
  // only) the files are never out of step and no mark is needed.
  const bool guarded = !table_.InMemory() && !table_.Scratch() && data.HasDirtyRecords();
  const bool force = data.ForceFlush();
  if (guarded) data.WriteChangeMark();
  if (blob != nullptr) {
    blob->WriteBack();
    blob->FlushHeader();
  }
  if (guarded) table_.Journal().Record(data, force);
  data.WriteBack(true);
  data.FlushDescriptors();
  if (guarded && force) data.Flush();
  if (blob != nullptr && blob->ApplyFrees()) {
    blob->WriteBack();
    blob->FlushHeader();
  }
  index.WriteBackPages();
  index.FlushHeader();
  data.FlushHeader(guarded);
}

void TTableLocks::BeginChange() {
  MT_ASSERT(WriteLocked());
  MT_ASSERT(!changeOpen_);
  // The rest of an earlier change whose writing failed goes first.
  WritePending();
  changeOpen_ = true;
  if (!inTransaction_) SetDeferWrites(true);
}

void TTableLocks::FinishChange() {
  MT_ASSERT(WriteLocked());
  if (changeOpen_) {
    changeOpen_ = false;
    if (!inTransaction_) SetDeferWrites(false);
  }
  if (table_.ReadOnly()) return;
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  TBlobFile* blob = table_.BlobFile();
  if (inTransaction_) {
    data.RaiseChangeCounterInMemory();
    index.RaiseChangeCounterInMemory();
    if (blob != nullptr && blob->HeaderDirty()) blob->RaiseChangeCounterInMemory();
    return;
  }
  if (table_.Scratch()) {
    // Nobody else reads it: the caches are the table until they need room or it closes.
    // Other cursors of this process see the change by the raised counters.
    data.RaiseChangeCounterInMemory();
    index.RaiseChangeCounterInMemory();
    if (blob != nullptr && blob->HeaderDirty()) blob->RaiseChangeCounterInMemory();
    data.MarkHeaderDirty();
    index.MarkHeaderDirty();
    scratchUnwritten_ = true;
    // Nothing is written while a change runs, so the caches only grow from change to change:
    // past a budget the records and pages go to the files (still without mark or journal).
    if (data.CachedRecords() * static_cast<std::size_t>(data.RecordSize()) >= kScratchCacheBytes)
      FlushBuffers(true);
    return;
  }
  // Both headers are written with raised counters after every change.
  data.MarkHeaderDirty();
  index.MarkHeaderDirty();
  try {
    WriteChanges();
  } catch (...) {
    writesPending_ = true;
    throw;
  }
  // A large blob value may have grown the block cache while writes waited.
  if (blob != nullptr) blob->TrimCache();
}

void TTableLocks::AbandonChange(std::exception_ptr failure) noexcept {
  changeOpen_ = false;
  if (inTransaction_) {
    if (!broken_) broken_ = std::move(failure);
    return;
  }
  SetDeferWrites(false);
  try {
    DropCachedChanges();
  } catch (...) {
    reloadPending_ = true;
  }
}

void TTableLocks::DropCachedChanges() {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  TBlobFile* blob = table_.BlobFile();
  TFailures failures;
  data.ClearCache();
  index.ClearCache();
  if (blob != nullptr) blob->ClearCache();
  failures.Run([&] { data.ReloadHeader(); });
  failures.Run([&] { index.Load(data.Encrypted()); });
  if (blob != nullptr) failures.Run([&] { blob->ReloadHeader(); });
  failures.Rethrow();
}

void TTableLocks::WritePending() {
  if (!writesPending_) return;
  WriteChanges();
  writesPending_ = false;
}

void TTableLocks::WriteScratch() {
  if (!scratchUnwritten_) return;
  WriteChanges();
  scratchUnwritten_ = false;
}

void TTableLocks::Settle() {
  WritePending();
  if (reloadPending_) {
    DropCachedChanges();
    reloadPending_ = false;
  }
}

void TTableLocks::FlushBuffers(bool trimCaches) {
  if (table_.ReadOnly() || inTransaction_) return;
  // A failure leaves what is unwritten as it was (a failed change's rest keeps its lock).
  WriteChanges();
  scratchUnwritten_ = false;
  if (writesPending_) {
    // Everything is written: the write lock held for the rest can go.
    writesPending_ = false;
    Sync();
  }
  if (trimCaches) {
    table_.Data().TrimCache();
    table_.Index().WriteBackPages(true);
    if (TBlobFile* blob = table_.BlobFile()) blob->TrimCache();
  }
}

// ---- transactions ----------------------------------------------------------------------

void TTableLocks::SetDeferWrites(bool defer) {
  table_.Data().SetDeferWrites(defer);
  table_.Index().SetDeferWrites(defer);
  if (TBlobFile* blob = table_.BlobFile()) blob->SetDeferWrites(defer);
}

void TTableLocks::StartTransaction() {
  table_.CheckThread();
  if (table_.ReadOnly() || inTransaction_) return;
  // What was changed before the transaction is not part of it.
  FlushBuffers();
  LockTable();
  inTransaction_ = true;
  SetDeferWrites(true);
}

void TTableLocks::RequireIntactTransaction() const {
  if (inTransaction_ && broken_) std::rethrow_exception(broken_);
}

void TTableLocks::CommitTransaction() {
  table_.CheckThread();
  if (!inTransaction_) return;
  RequireIntactTransaction();
  WriteLock();  // the change check is skipped: nobody else could write meanwhile
  SetDeferWrites(false);
  const TChangeCounters before = Counters();
  committed_ = false;
  try {
    WriteChanges();
  } catch (...) {
    // Part of the transaction may be on disk now: it can only be finished, not taken back.
    // The table leaves the transaction keeping the rest and the write lock (see above).
    writesPending_ = true;
    inTransaction_ = false;
    TFailures ignored;
    ignored.Run([&] { WriteUnlock(); });
    ignored.Run([&] { UnlockTable(); });
    ignored.Run([&] { table_.CloseDeferred(); });
    throw;
  }
  // The headers were written with raised counters; the table is what the caches held.
  committedFrom_ = before;
  committedTo_ = Counters();
  committed_ = true;
  TFailures failures;
  failures.Run([&] { WriteUnlock(); });
  inTransaction_ = false;
  failures.Run([&] {
    // The caches grew to hold the transaction: back to their targets.
    table_.Data().TrimCache();
    table_.Index().WriteBackPages(true);
    if (TBlobFile* blob = table_.BlobFile()) blob->TrimCache();
  });
  failures.Run([&] { UnlockTable(); });
  failures.Run([&] { table_.CloseDeferred(); });
  failures.Rethrow();
}

void TTableLocks::RollbackTransaction() {
  table_.CheckThread();
  if (!inTransaction_) return;
  TFailures failures;
  // Nothing of the transaction was written: drop it all and take the files' state again.
  failures.Run([&] { DropCachedChanges(); });
  SetDeferWrites(false);
  inTransaction_ = false;
  broken_ = nullptr;
  failures.Run([&] { UnlockTable(); });
  failures.Run([&] { table_.CloseDeferred(); });
  failures.Rethrow();
}

// ---- closing ---------------------------------------------------------------------------

void TTableLocks::ReleaseAll() {
  if (inTransaction_ || changeOpen_) SetDeferWrites(false);
  inTransaction_ = false;
  changeOpen_ = false;
  writesPending_ = false;
  reloadPending_ = false;
  broken_ = nullptr;
  readDepth_ = secondReadDepth_ = writeDepth_ = tableLockDepth_ = 0;
  TDataFile& data = table_.Data();
  for (int32_t n : held_)
    data.UnlockRegion(RecordLockOffset(n), 1);
  held_.clear();
  deferred_.clear();
  lockedBy_.clear();
  if (allRecordsLocked_) data.UnlockRegion(lockofs::kAllRecords, lockofs::kAllRecordsLength);
  allRecordsLocked_ = false;
  SyncNoThrow();
}

// ---- operation scope -------------------------------------------------------------------

TOperationScope::TOperationScope(TTableLocks& locks)
    : locks_(locks), locked_(locks.StrictChangeDetection()) {
  if (locked_) changed_ = locks_.ReadLock();
}

TOperationScope::~TOperationScope() {
  if (!locked_) return;
  try {
    locks_.ReadUnlock();
  } catch (...) {
    // A destructor cannot report it; the lock goes with the table's close at the latest.
  }
}

}  // namespace mt
