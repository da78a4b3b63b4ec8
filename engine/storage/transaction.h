// TTransaction: one transaction over all tables open in a database directory. The directory
// owns one, starts it over its open tables, lets tables opened meanwhile join, and commits or
// rolls it back; each table's part is TTableLocks' (tablelocks.h).
//
// While active, the tables' changes stay in their caches, record unlocks are deferred and
// every table holds its semaphore, so other processes can read the last committed state but
// cannot write. Rolling back leaves the tables' files exactly as they were at the start.
//
// The table objects must outlive the transaction: a table whose last opener closes meanwhile
// stays open until the transaction ends (TDataTable::Close defers it).
//
// Thread-safety: used by one thread at a time (the session serialises calls into the engine).
#pragma once

#include <vector>

namespace mt {

class TDataTable;

class TTransaction {
 public:
  TTransaction() = default;
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  // Rolls back a transaction still active.
  ~TTransaction();

  bool Active() const { return active_; }
  // Starts the transaction over these tables (read-only ones are left out). When a table
  // cannot start, the tables already started are rolled back and the error is passed on.
  // Raises 10249 when a transaction is active already.
  void Start(const std::vector<TDataTable*>& tables);
  // A table opened while the transaction is active joins it.
  void Join(TDataTable& table);
  // Commits every table. When one fails, the tables not yet committed (that one included)
  // are rolled back and the first error is passed on.
  void Commit();
  // Rolls back every table; the first failure is passed on after all were rolled back.
  void Rollback();
  const std::vector<TDataTable*>& Tables() const { return tables_; }

 private:
  bool active_ = false;
  std::vector<TDataTable*> tables_;
};

}  // namespace mt
