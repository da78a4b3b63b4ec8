// TTransaction: one transaction over a set of tables, normally all tables open in a database
// directory (TDataDirectory::OpenTables()). Its owner (a database directory, which holds the
// database's transaction, or a test) starts it over those tables, lets tables opened meanwhile
// join, and commits or rolls it back; each table's part is TTableLocks' (tablelocks.h).
//
// While active, the tables' changes stay in their caches, record unlocks are deferred and
// every table holds its semaphore, so other processes can read the last committed state but
// cannot write. Rolling back leaves the tables' files exactly as they were at the start.
//
// The table objects must outlive the transaction: a table whose last opener closes meanwhile
// stays open until the transaction ends (TDataTable::Close defers it).
//
// Thread-safety: used by the thread that owns its tables (datatable.h).
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
  // Commits every table. A change that failed part-way inside the transaction rolls the whole
  // transaction back and its error is passed on, before anything is written. When a table's
  // writing fails, that table keeps the rest to write it later (part of it is on disk, see
  // tablelocks.h), the tables not yet committed are rolled back, and the error is passed on.
  void Commit();
  // Rolls back every table; the first failure is passed on after all were rolled back.
  void Rollback();
  const std::vector<TDataTable*>& Tables() const { return tables_; }

 private:
  bool active_ = false;
  std::vector<TDataTable*> tables_;
};

}  // namespace mt
