// Table and record locks between processes, their offsets, change detection, the end of a
// change and transactions. "Other processes" are storage_probe processes (probe.h), each with
// its own table object and file handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/datacursor.h"
#include "engine/storage/transaction.h"
#include "locktest.h"
#include "probe.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::TProbe;

class TableLocksTest : public test::LockTest {
 protected:
  std::string OpenCommand(const std::string& table = "ledger") const {
    return "open " + dir_ + " " + table;
  }
};

TEST_F(TableLocksTest, ReadersShareAndAWriterWaitsForEveryReadByte) {
  CreateTable();
  TProbe r1, r2, r3, w;
  for (TProbe* p : {&r1, &r2, &r3, &w})
    ASSERT_EQ(p->Ask(OpenCommand()), "ok");

  EXPECT_EQ(r1.Ask("read"), "ok 0");
  EXPECT_EQ(r2.Ask("read"), "ok 0");
  w.Send("write");
  EXPECT_EQ(w.Line(), "waiting write");  // it holds the semaphore, not the range
  EXPECT_EQ(r1.Ask("readunlock"), "ok");
  // r2 still holds its byte, so the writer cannot hold the range: a new reader gets in.
  EXPECT_EQ(r3.Ask("read"), "ok 0");
  EXPECT_EQ(r3.Ask("readunlock"), "ok");
  EXPECT_EQ(r2.Ask("readunlock"), "ok");
  EXPECT_EQ(w.Line(), "ok 0");

  // While the writer holds the range new readers wait.
  r1.Send("read");
  EXPECT_EQ(r1.Line(), "waiting read");
  EXPECT_EQ(w.Ask("writeunlock"), "ok");
  EXPECT_EQ(r1.Line(), "ok 0");
  EXPECT_EQ(r1.Ask("readunlock"), "ok");

  // A second writer waits for the semaphore.
  EXPECT_EQ(w.Ask("write"), "ok 0");
  r2.Send("write");
  EXPECT_EQ(r2.Line(), "waiting semaphore");
  EXPECT_EQ(w.Ask("writeunlock"), "ok");
  EXPECT_EQ(r2.Line(), "ok 0");
  EXPECT_EQ(r2.Ask("writeunlock"), "ok");

  // Attempts run out: 10249, and nothing of the failed lock stays held.
  EXPECT_EQ(r1.Ask("read"), "ok 0");
  EXPECT_EQ(w.Ask("tableretry 3 1"), "ok");
  w.Send("write");
  EXPECT_EQ(w.Line(), "waiting write");
  EXPECT_EQ(w.Line(), "err 10249 attempts 3");
  EXPECT_EQ(r3.Ask("tableretry 1 0"), "ok");
  EXPECT_EQ(r3.Ask("locktable"), "ok 0");  // the semaphore was given back
  EXPECT_EQ(r3.Ask("unlocktable"), "ok");
  EXPECT_EQ(r1.Ask("readunlock"), "ok");
  EXPECT_EQ(w.Ask("write"), "ok 0");
  EXPECT_EQ(w.Ask("writeunlock"), "ok");
}

TEST_F(TableLocksTest, ALockedRecordIsRetriedLockRetryCountTimesThenInUse) {
  CreateTable();
  TProbe a, b;
  ASSERT_EQ(a.Ask(OpenCommand()), "ok");
  ASSERT_EQ(a.Ask("insert 1"), "ok 1");
  ASSERT_EQ(a.Ask("lockrec 1"), "ok 0");
  ASSERT_EQ(b.Ask(OpenCommand()), "ok");
  struct Case {
    int retries;
    int waitMs;
    const char* failure;
  };
  const std::vector<Case> cases = {
      {15, 100, "err 10258 attempts 16"},  // the session defaults: about 1.5 seconds
      {3, 1, "err 10258 attempts 4"},
      {0, 0, "err 10258 attempts 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.retries);
    ASSERT_EQ(b.Ask("settings 0 " + std::to_string(c.retries) + " " + std::to_string(c.waitMs)),
              "ok");
    b.Send("lockrec 1");
    EXPECT_EQ(b.Line(), "waiting record");
    EXPECT_EQ(b.Line(), c.failure);
  }
  EXPECT_EQ(a.Ask("unlockrec 1"), "ok");
  EXPECT_EQ(b.Ask("lockrec 1"), "ok 0");
  EXPECT_EQ(a.Ask("settings 0 0 0"), "ok");
  a.Send("lockrec 1");
  EXPECT_EQ(a.Line(), "waiting record");
  EXPECT_EQ(a.Line(), "err 10258 attempts 1");
}

TEST_F(TableLocksTest, CursorsOfOneProcessExcludeEachOtherWithoutRetrying) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  Insert(t, 1);
  int retries = 0;
  t.Locks().SetRetryObserver([&](TLockWait, int) { ++retries; });
  const int cursorA = 0, cursorB = 0;
  EXPECT_FALSE(t.Locks().LockRecord(1, &cursorA));
  EXPECT_FALSE(t.Locks().LockRecord(1, &cursorA));  // its own lock again: nothing more
  EXPECT_EQ(ErrorCodeOf([&] { t.Locks().LockRecord(1, &cursorB); }), err::kRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { t.Locks().UnlockRecord(1, &cursorB); }), err::kCannotUnlock);
  EXPECT_EQ(retries, 0);
  t.Locks().UnlockRecord(1, &cursorA);
  EXPECT_EQ(ErrorCodeOf([&] { t.Locks().UnlockRecord(1, &cursorA); }), err::kCannotUnlock);
  t.Close();
}

// Lock-ahead under a table lock: one record lock takes the following records' bytes too, unless
// another process holds one of them; what no cursor asked for goes back with the table lock.
TEST_F(TableLocksTest, LockAheadTakesTheFollowingRecordsUnlessAnotherProcessHoldsOne) {
  CreateTable();
  TProbe b;
  ASSERT_EQ(b.Ask(OpenCommand()), "ok");
  ASSERT_EQ(b.Ask("settings 0 0 0"), "ok");
  ASSERT_EQ(b.Ask("lockrec 9"), "ok 0");
  TDataTable t(dir_, "ledger");
  t.Open();
  TSessionSettings settings;
  settings.lockRetryCount = 0;
  t.SetSettings(settings);
  TTableLocks& locks = t.Locks();
  const int cursor = 0;
  const auto held = [&] {
    return std::vector<int32_t>(locks.HeldRecordLocks().begin(), locks.HeldRecordLocks().end());
  };
  // Outside a table lock, or without lock-ahead, a record lock takes its own byte only.
  locks.SetRecordLockAhead(5);
  locks.LockRecord(1, &cursor);
  EXPECT_EQ(held(), (std::vector<int32_t>{1}));
  locks.UnlockRecord(1, &cursor);

  locks.LockTable();
  locks.LockRecord(1, &cursor);
  EXPECT_EQ(held(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(b.Ask("lockrec 3"), "err 10258 attempts 1");
  locks.LockRecord(3, &cursor);  // already this process's
  // 6 to 10 would take b's 9: record 6 alone, and 7 and 8 alone after it.
  locks.LockRecord(6, &cursor);
  locks.LockRecord(7, &cursor);
  EXPECT_EQ(held(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(ErrorCodeOf([&] { locks.LockRecord(9, &cursor); }), err::kRecordInUse);
  for (int32_t n : {1, 3, 6, 7})
    locks.UnlockRecord(n, &cursor);
  locks.UnlockTable();
  EXPECT_TRUE(held().empty());
  EXPECT_EQ(b.Ask("lockrec 3"), "ok 0");
  EXPECT_EQ(b.Ask("lockrec 8"), "ok 0");
  t.Close();
}

// A filter switched on or off reads the records under the read lock, after the change check:
// it waits while another process writes, and then sees what that process inserted.
TEST_F(TableLocksTest, FiltersWaitForAnotherProcesssWriteAndSeeIt) {
  CreateTable();
  TDataDirectory directory(dir_);
  TDataCursor c(directory);
  c.SetTableName("ledger");
  c.Open();
  TProbe other;
  ASSERT_EQ(other.Ask(OpenCommand()), "ok");
  ASSERT_EQ(other.Ask("insert 5"), "ok 1");
  ASSERT_EQ(other.Ask("insert 7"), "ok 2");
  ASSERT_EQ(other.Ask("write"), "ok 0");
  int waits = 0;
  c.Table().Locks().SetRetryObserver([&](TLockWait, int) {
    if (++waits == 1) {
      EXPECT_EQ(other.Ask("writeunlock"), "ok");
    }
  });
  const auto filter = c.AddFilter(std::string_view("id > 6"));
  EXPECT_GE(waits, 1);
  EXPECT_EQ(c.RecordCount(), 1u);
  ASSERT_EQ(other.Ask("insert 9"), "ok 3");
  c.DeactivateFilter(filter);
  EXPECT_EQ(c.RecordCount(), 3u);
}

// With StrictChangeDetection off a cursor's move (its operation bracket) sees nothing of
// another process's change; the next lock-taking operation or cache miss does. With it on,
// the next move does.
TEST_F(TableLocksTest, ChangesAreSeenAtTheNextMoveOrLockByStrictness) {
  CreateTable();
  TProbe a, b;
  ASSERT_EQ(a.Ask(OpenCommand()), "ok");
  ASSERT_EQ(b.Ask(OpenCommand()), "ok");
  ASSERT_EQ(a.Ask("insert 5"), "ok 1");
  ASSERT_EQ(b.Ask("get 1"), "changed");  // a cache miss: b's check sees the insert first
  ASSERT_EQ(b.Ask("get 1"), "ok 5");
  ASSERT_EQ(b.Ask("count"), "ok 1");

  // Strict off.
  ASSERT_EQ(a.Ask("insert 6"), "ok 2");
  EXPECT_EQ(b.Ask("op"), "ok 0");
  EXPECT_EQ(b.Ask("count"), "ok 1");
  EXPECT_EQ(b.Ask("get 1"), "ok 5");     // cached: no file access, no check
  EXPECT_EQ(b.Ask("get 2"), "changed");  // a miss checks first and reports the change
  EXPECT_EQ(b.Ask("count"), "ok 2");
  EXPECT_EQ(b.Ask("get 2"), "ok 6");
  ASSERT_EQ(a.Ask("insert 7"), "ok 3");
  EXPECT_EQ(b.Ask("op"), "ok 0");
  EXPECT_EQ(b.Ask("lockrec 1"), "ok 1");  // the record lock's check sees it
  EXPECT_EQ(b.Ask("count"), "ok 3");
  EXPECT_EQ(b.Ask("unlockrec 1"), "ok");
  ASSERT_EQ(a.Ask("insert 8"), "ok 4");
  EXPECT_EQ(b.Ask("write"), "ok 1");  // and so does the write lock
  EXPECT_EQ(b.Ask("writeunlock"), "ok");

  // Strict on: the move itself checks.
  ASSERT_EQ(b.Ask("settings 1 15 100"), "ok");
  ASSERT_EQ(a.Ask("insert 9"), "ok 5");
  EXPECT_EQ(b.Ask("op"), "ok 1");
  EXPECT_EQ(b.Ask("count"), "ok 5");
  EXPECT_EQ(b.Ask("op"), "ok 0");
  // A change of only the blob file is seen too.
  ASSERT_EQ(a.Ask("blobset 1 10 x"), "ok 1 1");
  EXPECT_EQ(b.Ask("op"), "ok 1");
}

TEST_F(TableLocksTest, TheLocksLieAtTheirOffsets) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  Insert(t, 1);
  TProbe other;
  ASSERT_EQ(other.Ask(OpenCommand()), "ok");
  auto lockable = [&](const std::string& ext, uint64_t start, uint64_t length) {
    EXPECT_EQ(other.Ask("rawopen " + ext), "ok");
    const std::string range = std::to_string(start) + " " + std::to_string(length);
    const bool free = other.Ask("rawlock " + range) == "1";
    if (free) {
      EXPECT_EQ(other.Ask("rawunlock " + range), "1");
    }
    return free;
  };
  const int cursor = 0;

  // Record 1 at 4294967293, record 2 at 4294967292.
  t.Locks().LockRecord(1, &cursor);
  EXPECT_FALSE(lockable(".DAT", 4294967293, 1));
  EXPECT_TRUE(lockable(".DAT", 4294967292, 1));
  EXPECT_TRUE(lockable(".DAT", 4294967294, 1));
  EXPECT_TRUE(lockable(".DAT", lockofs::kTableSemaphore, 1));

  // A table lock holds the semaphore and keeps an unlocked record's byte until it ends.
  t.Locks().LockTable();
  EXPECT_FALSE(lockable(".DAT", 4294967295, 1));
  t.Locks().UnlockRecord(1, &cursor);
  EXPECT_FALSE(lockable(".DAT", 4294967293, 1));
  t.Locks().UnlockTable();
  EXPECT_TRUE(lockable(".DAT", 4294967293, 1));
  EXPECT_TRUE(lockable(".DAT", 4294967295, 1));

  // Unlocks deferred to the end of a table lock are given back there, adjacent bytes together,
  // without taking the byte of a record a cursor still holds in between.
  t.Locks().LockTable();
  for (int32_t n : {3, 4, 5, 6, 7, 9})
    t.Locks().LockRecord(n, &cursor);
  for (int32_t n : {3, 4, 5, 7, 9})
    t.Locks().UnlockRecord(n, &cursor);
  t.Locks().UnlockTable();
  for (int32_t n = 2; n <= 10; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(lockable(".DAT", RecordLockOffset(n), 1), n != 6);
  }
  t.Locks().UnlockRecord(6, &cursor);
  EXPECT_TRUE(lockable(".DAT", RecordLockOffset(6), 1));

  // The all-records range, under a table lock, until it ends.
  t.Locks().LockTable();
  t.Locks().LockAllRecords();
  EXPECT_FALSE(lockable(".DAT", 4094967293, 1));
  EXPECT_FALSE(lockable(".DAT", 4294967293, 1));
  EXPECT_TRUE(lockable(".DAT", 4094967292, 1));
  EXPECT_FALSE(t.Locks().LockRecord(7, &cursor));  // covered: nothing to take
  t.Locks().UnlockRecord(7, &cursor);
  t.Locks().UnlockTable();
  EXPECT_TRUE(lockable(".DAT", 4094967293, 200000001));

  // A read lock: one byte of the index's and the blob's write ranges, none of the data file.
  t.Locks().ReadLock();
  for (const char* ext : {".IDX", ".BLB"}) {
    SCOPED_TRACE(ext);
    EXPECT_FALSE(lockable(ext, lockofs::kWriteRange, lockofs::kWriteRangeLength));
    EXPECT_TRUE(lockable(ext, lockofs::kWriteRange - 1, 1));
    EXPECT_TRUE(lockable(ext, 4294967295, 1));
  }
  EXPECT_TRUE(lockable(".DAT", 4294967295, 1));
  t.Locks().ReadUnlock();

  // A write lock: the semaphore and both whole ranges.
  t.Locks().WriteLock();
  EXPECT_FALSE(lockable(".DAT", 4294967295, 1));
  EXPECT_FALSE(lockable(".IDX", 4294967294, 1));
  EXPECT_FALSE(lockable(".BLB", 4294901759, 1));
  t.Locks().WriteUnlock();
  EXPECT_TRUE(lockable(".IDX", lockofs::kWriteRange, lockofs::kWriteRangeLength));
  EXPECT_TRUE(lockable(".BLB", lockofs::kWriteRange, lockofs::kWriteRangeLength));
  EXPECT_TRUE(lockable(".DAT", 4294967295, 1));
  t.Close();
}

TEST_F(TableLocksTest, LocksNestAndUnbalancedUnlocksFail) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  TTableLocks& locks = t.Locks();
  locks.SetTableLockRetry(2, 0);  // a lock that cannot be had fails at once
  // A write lock inside a read lock gives up the read bytes and takes them back.
  locks.ReadLock();
  locks.ReadLock();
  EXPECT_TRUE(locks.ReadLocked());
  locks.WriteLock();
  locks.WriteLock();
  locks.WriteUnlock();
  EXPECT_TRUE(locks.WriteLocked());
  locks.WriteUnlock();
  locks.ReadUnlock();
  EXPECT_TRUE(locks.ReadLocked());
  locks.ReadUnlock();
  EXPECT_FALSE(locks.HoldsAnyLock());
  EXPECT_EQ(ErrorCodeOf([&] { locks.ReadUnlock(); }), err::kCannotUnlock);
  EXPECT_EQ(ErrorCodeOf([&] { locks.WriteUnlock(); }), err::kLockFailure);
  EXPECT_EQ(ErrorCodeOf([&] { locks.UnlockTable(); }), err::kLockFailure);
  // Closing releases what is still held.
  locks.LockTable();
  locks.ReadLock();
  t.Close();
  TProbe other;
  ASSERT_EQ(other.Ask(OpenCommand()), "ok");
  EXPECT_EQ(other.Ask("tableretry 1 0"), "ok");
  EXPECT_EQ(other.Ask("write"), "ok 0");
}

TEST_F(TableLocksTest, ExclusiveAndReadOnlyTablesTakeNoLocks) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open(Options(true));
  Insert(t, 1);
  const int a = 0, b = 0;
  EXPECT_FALSE(t.Locks().LockRecord(1, &a));
  EXPECT_FALSE(t.Locks().LockRecord(1, &b));  // no lock was taken to conflict with
  t.Locks().WriteLock();
  t.Locks().WriteUnlock();
  t.Close();
  // Read-only files: no locks either, and every cache miss checks the files.
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    std::filesystem::permissions(Path(std::string("ledger") + ext),
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
  t.Open();
  EXPECT_TRUE(t.ReadOnly());
  EXPECT_FALSE(t.Locks().ReadLock());
  t.Locks().ReadUnlock();
  t.Close();
}

TEST_F(TableLocksTest, FinishChangeRaisesTheCountersOfWhatItWrote) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  auto onDisk = [&] {
    const auto files = TableBytes();
    return TChangeCounters{le::GetI32(files[0].data(), 0), le::GetI32(files[1].data(), 0),
                           le::GetI32(files[2].data(), 0)};
  };
  const TChangeCounters start = onDisk();
  Insert(t, 1);
  TChangeCounters after = onDisk();
  EXPECT_EQ(after.data, start.data + 1);
  EXPECT_EQ(after.index, start.index + 1);
  EXPECT_EQ(after.blob, start.blob);  // no blob value changed
  EXPECT_EQ(t.Locks().Counters(), after);
  SetMemo(t, 1, std::vector<uint8_t>(10, 'm'));
  const TChangeCounters memo = onDisk();
  EXPECT_EQ(memo.data, after.data + 1);
  EXPECT_EQ(memo.blob, after.blob + 1);
  // Inside a transaction nothing reaches the files; the counters rise in memory only.
  TTransaction tx;
  tx.Start({&t});
  Insert(t, 2);
  EXPECT_EQ(onDisk(), memo);
  EXPECT_EQ(t.Locks().Counters().data, memo.data + 1);
  EXPECT_EQ(t.Locks().Counters().index, memo.index + 1);
  tx.Commit();
  EXPECT_NE(onDisk().data, memo.data);
  EXPECT_EQ(t.Locks().Counters(), onDisk());
  t.Close();
}

// A rolled-back transaction leaves every byte of the files as it was; other processes never
// see its rows and cannot write meanwhile; a transaction far larger than the record cache
// keeps everything in memory until it commits.
TEST_F(TableLocksTest, TransactionsKeepEverythingUntilCommitAndRollBackWithoutATrace) {
  CreateTable();
  TProbe a, b;
  ASSERT_EQ(a.Ask(OpenCommand()), "ok");
  ASSERT_EQ(a.Ask("insert 1 3"), "ok 3");
  ASSERT_EQ(a.Ask("blobset 1 600 a"), "ok 1 2");
  ASSERT_EQ(b.Ask(OpenCommand()), "ok");
  ASSERT_EQ(b.Ask("get 1"), "ok 1");
  const auto before = TableBytes();

  ASSERT_EQ(a.Ask("begin"), "ok");
  ASSERT_EQ(a.Ask("insert 9 3000"), "ok 3003");  // the record cache holds about 700
  ASSERT_EQ(a.Ask("blobset 2 2000 b"), "ok 3 7");
  // A new block: blocks 1 and 2 are freed when the commit has written the records.
  ASSERT_EQ(a.Ask("blobset 1 10 c"), "ok 8 8");
  ASSERT_EQ(a.Ask("count"), "ok 3003");
  EXPECT_EQ(TableBytes(), before);
  EXPECT_EQ(b.Ask("read"), "ok 0");
  EXPECT_EQ(b.Ask("count"), "ok 3");
  EXPECT_EQ(b.Ask("image 1"), "ok");
  EXPECT_EQ(b.Ask("blobget"), "ok 600 97");
  EXPECT_EQ(b.Ask("readunlock"), "ok");
  EXPECT_EQ(b.Ask("tableretry 3 1"), "ok");
  b.Send("write");
  EXPECT_EQ(b.Line(), "waiting semaphore");
  EXPECT_EQ(b.Line(), "err 10249 attempts 3");

  ASSERT_EQ(a.Ask("rollback"), "ok");
  EXPECT_EQ(TableBytes(), before);
  EXPECT_EQ(a.Ask("count"), "ok 3");
  EXPECT_EQ(a.Ask("image 1"), "ok");
  EXPECT_EQ(a.Ask("blobget"), "ok 600 97");
  EXPECT_EQ(b.Ask("write"), "ok 0");  // the semaphore is free again
  EXPECT_EQ(b.Ask("writeunlock"), "ok");

  ASSERT_EQ(a.Ask("begin"), "ok");
  ASSERT_EQ(a.Ask("insert 9 3000"), "ok 3003");
  ASSERT_EQ(a.Ask("blobset 3003 2000 b"), "ok 3 7");
  EXPECT_EQ(TableBytes(), before);
  ASSERT_EQ(a.Ask("commit"), "ok");
  EXPECT_NE(TableBytes(), before);
  EXPECT_EQ(b.Ask("read"), "ok 1");
  EXPECT_EQ(b.Ask("count"), "ok 3003");
  EXPECT_EQ(b.Ask("get 3003"), "ok 9");
  EXPECT_EQ(b.Ask("image 3003"), "ok");
  EXPECT_EQ(b.Ask("blobget"), "ok 2000 98");
  EXPECT_EQ(b.Ask("readunlock"), "ok");
  EXPECT_EQ(b.Ask("write"), "ok 0");
  EXPECT_EQ(b.Ask("writeunlock"), "ok");
}

TEST_F(TableLocksTest, ATransactionSpansTablesAndStartsOnAllOrNone) {
  CreateTable("one");
  CreateTable("two");
  TDataTable one(dir_, "one");
  TDataTable two(dir_, "two");
  one.Open();
  two.Open();
  TProbe other;
  ASSERT_EQ(other.Ask(OpenCommand("two")), "ok");
  ASSERT_EQ(other.Ask("locktable"), "ok 0");
  two.Locks().SetTableLockRetry(2, 0);
  TTransaction tx;
  EXPECT_EQ(ErrorCodeOf([&] { tx.Start({&one, &two}); }), err::kLockFailure);
  EXPECT_FALSE(tx.Active());
  EXPECT_FALSE(one.Locks().InTransaction());
  EXPECT_FALSE(one.Locks().TableLocked());
  ASSERT_EQ(other.Ask("unlocktable"), "ok");

  // Both tables change together, and a table's record unlocks wait for the end.
  const auto before = TableBytes("one");
  tx.Start({&one, &two});
  EXPECT_TRUE(one.Locks().InTransaction());
  EXPECT_TRUE(two.Locks().InTransaction());
  Insert(one, 1);
  Insert(two, 2);
  EXPECT_EQ(one.Locks().HeldRecordLocks().count(1), 1u);
  tx.Rollback();
  EXPECT_TRUE(one.Locks().HeldRecordLocks().empty());
  EXPECT_EQ(TableBytes("one"), before);
  EXPECT_EQ(two.Data().RecordCount(), 0);
  tx.Start({&one, &two});
  Insert(one, 1);
  Insert(two, 2);
  tx.Commit();
  EXPECT_EQ(other.Ask("read"), "ok 1");
  EXPECT_EQ(other.Ask("get 1"), "ok 2");
  EXPECT_EQ(other.Ask("readunlock"), "ok");
  one.Close();
  two.Close();
}

TEST_F(TableLocksTest, ATableClosedDuringATransactionClosesAtItsEnd) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  const auto before = TableBytes();
  TTransaction tx;
  tx.Start({&t});
  Insert(t, 1);
  t.Close();
  EXPECT_FALSE(t.IsOpen());
  EXPECT_TRUE(t.ClosePending());
  EXPECT_TRUE(t.Data().IsOpen());
  // Opened again meanwhile, it is still the transaction's.
  t.Open();
  EXPECT_EQ(t.Data().RecordCount(), 1);
  t.Close();
  tx.Rollback();
  EXPECT_FALSE(t.ClosePending());
  EXPECT_FALSE(t.Data().IsOpen());
  EXPECT_EQ(TableBytes(), before);

  // A table that is neither committed nor rolled back drops its changes when destroyed.
  {
    TDataTable u(dir_, "ledger");
    u.Open();
    u.Locks().StartTransaction();
    Insert(u, 1);
  }
  EXPECT_EQ(TableBytes(), before);
}

}  // namespace
}  // namespace mt
