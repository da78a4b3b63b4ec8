// TTableLocks: how one table object shares its files with other processes. It takes and
// releases the table's byte-range locks, detects other processes' changes through the change
// counters of the three file headers, writes the end of every change, and carries the table's
// part of a transaction. Every TDataTable owns one (TDataTable::Locks()).
//
// Locks (all non-blocking OFD byte-range locks on the table's own files, far beyond any data):
//
//   file         lock                offset                        length     taken by
//   data         table semaphore     0xFFFFFFFF                    1          write lock (unless
//                                                                             the table is locked
//                                                                             as a whole), table
//                                                                             lock
//   data         record n            0xFFFFFFFE - n                1          record lock
//   data         all records         4094967293                    200000001  LockAllRecords
//   index, blob  write range         0xFFFEFFFF                    65536      write lock
//   index, blob  read byte           0xFFFFFFFF - s, s in 1-65535  1          read lock
//
// A reader holds one random byte of the write range, so readers never block each other, a
// writer waits until no reader holds a byte, and new readers wait while a writer holds the
// range. Table locks (semaphore, write ranges, read bytes) are tried 32767 times 3 ms apart and
// then fail with 10249; order data, index, blob, released in reverse. Record locks are tried
// 1 + LockRetryCount times LockWaitTime apart and then fail with 10258.
//
// No lock is taken when the table is open exclusively or its files are read-only. A read
// lock takes nothing while the table holds any other of its locks (the check already ran when
// that lock was taken, and no other process can write meanwhile). Read and write locks nest:
// only the outermost takes and releases the file locks. Taking the write lock while holding a
// read lock gives up the read bytes (the write range covers them) and takes them back when the
// write lock ends.
//
// The cursor's use, one operation at a time:
//
//   move / read / find / count:
//     TOperationScope op(table.Locks());        // StrictChangeDetection: read lock + check
//     if (op.Changed() || savedCounters != table.Locks().Counters()) resynchronise;
//     ... records and pages are read through the caches; a cache miss runs the change check
//     (under a momentary read lock) when no lock is held, and a read that reports a change
//     returns no record so that the cursor resynchronises.
//   edit (pessimistic): changed = table.Locks().LockRecord(n, this);   // 10258 after retries
//     then compare the cached image with the caller's (8708 when they differ).
//   insert / modify / delete (TRecordWriter, recordwriter.h):
//     TWriteLockScope w(table.Locks());         // semaphore, write ranges, change check
//     ... check values and keys, LockRecord ...
//     table.Locks().Change([&] {                // nothing is written before its end
//       ... pick the slot, keys, record, blob values (TBlobBuffers::Store) ...
//     });                                       // FinishChange: records, pages, blocks, headers
//     table.Locks().UnlockRecord(n, this);
//   close: table.Locks().UnlockRecords(this).
//
// Change check (CheckForChanges): the index header's counter on disk differs from the cached
// one: drop the index pages, reload the index header and the data file header and drop the
// cached records. Otherwise the data header's counter differs: reload it and drop the cached
// records. Then, for a table with blob fields, the blob header's counter differs: drop the
// blocks and reload the blob header. (The blob counter is checked whatever the other two say:
// a rewritten value would otherwise be read from stale blocks.) Skipped while the table is
// exclusive or in a transaction (nobody else can write then, and the in-memory counters run
// ahead of the files).
//
// Finish change (WriteChanges): the change mark in the data header, the blob file's new
// values and header, the change journal, the records and changed descriptors, the blocks of
// freed values and the blob header again, the index pages and header, and last the data header
// with a raised counter, which clears the mark; each file flushed to disk when ForceBufferFlush
// is on. A change without records to write (a header only) needs neither mark nor journal.
// Why this order, and how the next opener mends a table whose writer died in between: see
// tablecheck.h. The change check above also looks at the mark: found under a lock that keeps
// writers out, it can only be a dead writer's, and the table is mended before anything is read
// (MendCutOffChange). Inside a transaction nothing is written: the in-memory counters are
// raised (so other cursors of the process see the change) and the caches keep everything,
// growing when full.
//
// Failed changes. A change (Change, or BeginChange to FinishChange) writes nothing before its
// end: the caches grow instead of writing back. So a change that fails before its end has
// touched only memory, and outside a transaction it is dropped: the caches are emptied and
// the headers read again, as if it had never begun. Inside a transaction the transaction's
// own changes share those caches, so it is marked instead, and its commit fails with the same
// error (TTransaction then rolls it back). A failure while the end of a change (or a commit)
// writes leaves part of it on disk, which cannot be taken back without a journal: the change
// is complete in memory, so the table keeps the rest and the write lock, which keeps other
// processes from reading or writing the half-written files, and writes the rest at the start
// of its next operation (whose failure is that operation's), flush or close. A failure that
// persists until the close leaves the files for `mtdb repair` (tablecheck.h).
//
// Transactions (TTransaction drives them over tables of one database directory):
// StartTransaction writes pending changes, locks the table as a whole and defers writes and
// record unlocks; CommitTransaction takes the write lock, writes everything, carries out the
// deferred unlocks and unlocks the table; RollbackTransaction drops the caches without writing,
// reloads the three headers, carries out the deferred unlocks and unlocks the table. A table
// whose last opener closed during the transaction is closed at its end.
//
// Thread-safety: as its table: used only by the thread that owns the table (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_TABLELOCKS_H
#define MT_STORAGE_TABLELOCKS_H

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace mt {

class TDataTable;

namespace lockofs {
inline constexpr uint64_t kTableSemaphore = 0xFFFFFFFF;
inline constexpr uint64_t kRecordBase = 0xFFFFFFFE;  // record n at kRecordBase - n
inline constexpr uint64_t kAllRecords = 4094967293;
inline constexpr uint64_t kAllRecordsLength = 200000001;
inline constexpr uint64_t kWriteRange = 0xFFFEFFFF;
inline constexpr uint64_t kWriteRangeLength = 65536;
inline constexpr uint64_t kReadBase = 0xFFFFFFFF;  // read byte at kReadBase - s
inline constexpr int kReadSlots = 65535;           // s from 1 to 65535
}  // namespace lockofs

inline constexpr uint64_t RecordLockOffset(int32_t n) {
  return lockofs::kRecordBase - static_cast<uint64_t>(n);
}

inline constexpr int kTableLockTries = 32767;
inline constexpr int kTableLockWaitMs = 3;

// The three header change counters as the table object last saw them (blob 0 without blobs).
struct TChangeCounters {
  int32_t data = 0;
  int32_t index = 0;
  int32_t blob = 0;
  bool operator==(const TChangeCounters&) const = default;
};

// What a failed attempt was waiting for (diagnostics).
enum class TLockWait { TableSemaphore, WriteRange, ReadByte, Record, AllRecords };

class TTableLocks {
 public:
  // Called after each failed attempt with the attempt's number (from 1), before waiting.
  using TRetryObserver = std::function<void(TLockWait what, int attempt)>;

  explicit TTableLocks(TDataTable& table);
  TTableLocks(const TTableLocks&) = delete;
  TTableLocks& operator=(const TTableLocks&) = delete;

  // ---- table locks; each returns whether the change check found a change ----
  // checkChanges false: only the lock (the first open, before the headers are known).
  bool ReadLock(bool checkChanges = true);
  // 10242 when the read bytes cannot be released.
  void ReadUnlock();
  // The read lock a long scan holds across many operations; nests like ReadLock.
  bool SecondReadLock();
  void SecondReadUnlock();
  bool WriteLock();
  // 10249 when the locks cannot be released.
  void WriteUnlock();
  // The whole-table lock: the semaphore for as long as the user wants; nests.
  bool LockTable();
  // Releases the semaphore when the outermost table lock ends (and no write lock needs it),
  // then carries out the record unlocks deferred meanwhile, or releases the all-records range.
  void UnlockTable();

  // ---- record locks (n from 1); owner identifies the cursor ----
  // Returns whether the table changed. Nothing is taken for an exclusive or read-only table or
  // while all records are locked; a record this owner already holds is no change. A record
  // another cursor of the process holds, or another process holds after the retries, is 10258.
  bool LockRecord(int32_t n, const void* owner);
  // During a transaction or a table lock the byte is kept until its end. 10242 when the owner
  // holds no lock on n or the byte cannot be released.
  void UnlockRecord(int32_t n, const void* owner);
  // Every record lock the owner holds (closing a cursor).
  void UnlockRecords(const void* owner);
  // Lock-ahead for a statement that changes many records in record-number order: with
  // records > 1, a record lock taken under a table lock (a transaction) also takes the bytes of
  // up to records - 1 records after it, in the same call, when no other process holds any of
  // them. They are this process's then, kept like deferred unlocks: a later LockRecord of one
  // takes nothing, and those left are given back when the table lock ends. When another process
  // holds one, the record alone is locked, and no lock-ahead reaches past that span again.
  // 1 (the default) ends it.
  void SetRecordLockAhead(int32_t records);
  // Under a table lock: the all-records range, released when the table lock ends; record
  // locks then take nothing. 10258 when a record is locked (after the record retries).
  void LockAllRecords();

  // ---- change detection ----
  // Also mends a table whose writer died in the middle of a change (see above).
  bool CheckForChanges();
  // Under a lock that keeps writers out, with the data file carrying the change mark: takes
  // the write lock for the time (unless held, or no locks are taken) and mends the table
  // (tablecheck.h), unless another process did so meanwhile; the table's headers are then
  // those of the files. 11013 when the files cannot be written.
  void MendCutOffChange();
  TChangeCounters Counters() const;
  // Whether what a cursor saw at `saved` counters is still the table: the counters are the
  // present ones, or the last commit moved them from `saved` to the present ones only by
  // writing what the caches held (nothing in the table changed, so nothing needs reading).
  bool InStep(const TChangeCounters& saved) const;

  // ---- changes and writing ----
  // Runs work() as one change under the write lock (the caller holds it): BeginChange, the
  // work, FinishChange; a failure of the work abandons the change (see above).
  template <class TWork>
  void Change(TWork&& work) {
    BeginChange();
    try {
      work();
    } catch (...) {
      AbandonChange(std::current_exception());
      throw;
    }
    FinishChange();
  }
  // Defers every write of the table's files until FinishChange.
  void BeginChange();
  // The end of an insert, change or delete (see above). Nothing for a read-only table.
  void FinishChange();
  // Drops what a change that failed did (inside a transaction: marks the transaction). Never
  // fails; what it cannot do now it leaves to the next operation.
  void AbandonChange(std::exception_ptr failure) noexcept;
  // Pending records, pages, blocks and headers (close, explicit flush); nothing inside a
  // transaction. Trims the caches when asked.
  void FlushBuffers(bool trimCaches = false);
  // Writes what a failed end of a change left unwritten (the table's close, before its locks
  // go); nothing when nothing is left.
  void WritePending();
  // Writes what a scratch table (TTableOpenOptions::scratch) kept in its caches.
  void WriteScratch();
  bool WritesPending() const { return writesPending_; }

  // ---- transactions (one table's part) ----
  // Read-only tables and tables already in a transaction are left alone. A failure leaves the
  // table outside the transaction with nothing held.
  void StartTransaction();
  // A change that failed part-way inside the transaction fails the commit with its error,
  // before anything is written (the transaction is to be rolled back). A failed write leaves
  // the transaction with the rest still in memory, written later (see above).
  void CommitTransaction();
  void RollbackTransaction();
  // Raises the error of a change that failed part-way inside the transaction, if any.
  void RequireIntactTransaction() const;

  // ---- state ----
  bool InTransaction() const { return inTransaction_; }
  bool ReadLocked() const { return readDepth_ > 0 || secondReadDepth_ > 0; }
  bool WriteLocked() const { return writeDepth_ > 0; }
  bool TableLocked() const { return tableLockDepth_ > 0; }
  bool AllRecordsLocked() const { return allRecordsLocked_; }
  bool HoldsAnyLock() const { return ReadLocked() || WriteLocked() || TableLocked(); }
  // The owner of this process's lock on n, nullptr when none.
  const void* RecordLockOwner(int32_t n) const;
  // Record bytes held on the data file (including unlocks deferred to the end of a transaction
  // or table lock).
  const std::set<int32_t>& HeldRecordLocks() const { return held_; }

  // Releases every lock and leaves any transaction state (the table is closing).
  void ReleaseAll();

  // ---- diagnostics and tests ----
  void SetRetryObserver(TRetryObserver observer) { observer_ = std::move(observer); }
  // The attempts and wait of the table locks (defaults 32767 and 3 ms).
  void SetTableLockRetry(int tries, int waitMs);

  // The session's StrictChangeDetection, as the table has it.
  bool StrictChangeDetection() const;

  // Installed by the table as the data and blob files' check before a cache miss reads the
  // disk: runs the change check under a momentary read lock when the table holds no lock.
  bool CheckBeforeDiskRead();

 private:
  bool NoLocking() const;
  bool HasBlobFile() const;
  // Before a lock is taken: finishes what a failed change left (pending writes, headers to
  // read again).
  void Settle();
  // Writes every dirty record, page and block and the changed headers and descriptors.
  void WriteChanges();
  // Empties the caches without writing and reads the three headers again.
  void DropCachedChanges();
  // Brings the file locks in line with the depths (releases first, then acquisitions in
  // order data, index, blob). Raises 10249 / 10242.
  void Sync();
  void SyncNoThrow() noexcept;
  // Sync after `depth` was raised; when that fails the raise is undone and the locks settle
  // back before the failure propagates.
  void SyncRaised(int& depth);
  bool NeedReadBytes() const;
  bool NeedWriteRanges() const;
  bool NeedSemaphore() const;
  void AcquireSemaphore();
  void AcquireWriteRanges();
  void AcquireReadBytes();
  void ReleaseSemaphore();
  void ReleaseWriteRanges();
  void ReleaseReadBytes();
  // Retries one lock attempt per the table lock rules; false when all attempts failed.
  bool Retry(TLockWait what, const std::function<bool()>& attempt);
  // Runs the change check after a lock was taken; undoes the lock when the check fails.
  bool CheckAfterLock(const std::function<void()>& undo);
  void ReleaseDeferred();
  void SetDeferWrites(bool defer);
  [[noreturn]] void Raise(int32_t code) const;

  TDataTable& table_;
  int readDepth_ = 0;
  int secondReadDepth_ = 0;
  int writeDepth_ = 0;
  int tableLockDepth_ = 0;
  bool inTransaction_ = false;
  bool allRecordsLocked_ = false;
  bool changeOpen_ = false;        // between BeginChange and FinishChange
  bool writesPending_ = false;     // a failed end of a change left writes to do
  bool scratchUnwritten_ = false;  // a scratch table's changes wait in the caches
  bool reloadPending_ = false;     // an abandoned change could not read the headers again
  std::exception_ptr broken_;      // a change that failed part-way inside the transaction
  // The counters before and after the last commit's writing (InStep).
  TChangeCounters committedFrom_;
  TChangeCounters committedTo_;
  bool committed_ = false;
  // What is actually held on the files.
  bool semaphoreHeld_ = false;
  bool writeRangesHeld_ = false;
  bool readBytesHeld_ = false;
  uint64_t indexReadByte_ = 0;
  uint64_t blobReadByte_ = 0;
  // Records locked by cursors of this process, the bytes held, and bytes whose release waits
  // for the end of the transaction or table lock.
  std::map<int32_t, const void*> lockedBy_;
  std::set<int32_t> held_;
  std::set<int32_t> deferred_;
  int32_t lockAhead_ = 1;
  int32_t lockAheadPausedTo_ = 0;  // a lock-ahead span up to here met another process's lock

  int tableLockTries_ = kTableLockTries;
  int tableLockWaitMs_ = kTableLockWaitMs;
  TRetryObserver observer_;
  std::minstd_rand random_;
};

// A read lock for a scope; Changed() tells whether the check found a change.
class TReadLockScope {
 public:
  explicit TReadLockScope(TTableLocks& locks, bool checkChanges = true)
      : locks_(locks), changed_(locks.ReadLock(checkChanges)) {}
  ~TReadLockScope() {
    try {
      locks_.ReadUnlock();
    } catch (...) {
      // A destructor cannot report it; the lock goes with the table's close at the latest.
    }
  }
  TReadLockScope(const TReadLockScope&) = delete;
  TReadLockScope& operator=(const TReadLockScope&) = delete;
  bool Changed() const { return changed_; }

 private:
  TTableLocks& locks_;
  bool changed_;
};

// A write lock for a scope.
class TWriteLockScope {
 public:
  explicit TWriteLockScope(TTableLocks& locks) : locks_(locks), changed_(locks.WriteLock()) {}
  ~TWriteLockScope() {
    try {
      locks_.WriteUnlock();
    } catch (...) {
      // As for the read lock.
    }
  }
  TWriteLockScope(const TWriteLockScope&) = delete;
  TWriteLockScope& operator=(const TWriteLockScope&) = delete;
  bool Changed() const { return changed_; }

 private:
  TTableLocks& locks_;
  bool changed_;
};

// One cursor operation: with StrictChangeDetection the read lock and the change check for the
// operation's duration; without, nothing (the cursor compares its saved counters).
class TOperationScope {
 public:
  explicit TOperationScope(TTableLocks& locks);
  ~TOperationScope();
  TOperationScope(const TOperationScope&) = delete;
  TOperationScope& operator=(const TOperationScope&) = delete;
  bool Changed() const { return changed_; }

 private:
  TTableLocks& locks_;
  bool locked_;
  bool changed_ = false;
};

}  // namespace mt

#endif  // MT_STORAGE_TABLELOCKS_H
