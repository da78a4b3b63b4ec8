// TDataDirectory: a database directory, the place cursors get their tables from.
//
// Every table of the process is one shared TDataTable, whichever directory object asks for
// it: the tables live in a process-wide registry keyed by the table's data file (the
// directory as given, the table's file name without regard to letter case, and whether the
// table is in memory). The first opener creates the table object and opens its files; later
// openers share it; the last closer closes the files and drops the object. Exclusive openers
// are refused while others hold the table, and every opener while an exclusive one holds it
// (11013, by TDataTable::Open).
//
// A directory object also remembers the tables opened through it, so that operations that
// cover a whole database reach them: the database's transaction covers every table open
// through the directory, and a table opened while it is active joins it. A table whose last
// share is given back during the transaction stays open (its share held by the directory)
// until the transaction ends, so that its changes are committed or rolled back with the rest.
//
// Thread-safety: one thread per table. The registry and each directory's list are guarded by
// mutexes, but a table object, its cursors and the transaction over it are used only on the
// thread that owns the table (datatable.h): a thread may open a table that another thread of
// the process has open only after that thread closed it. Debug builds stop a thread that
// reaches into a table another thread owns.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "datatable.h"
#include "transaction.h"

namespace mt {

class TDataDirectory {
 public:
  explicit TDataDirectory(std::string path);
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  // The directory, trimmed, with a trailing "/" (empty for the working directory).
  const std::string& Path() const { return path_; }

  // One more opener of the shared table. firstOpener tells whether this open created the
  // table object and opened its files. A failed open leaves the registry as it was.
  TDataTable& OpenTable(const std::string& tableName, bool inMemory,
                        const TTableOpenOptions& options, bool* firstOpener = nullptr);
  // Gives back one share; the last share closes the table's files.
  void CloseTable(TDataTable& table);

  // The tables opened through this directory that are still open.
  std::vector<TDataTable*> OpenTables() const;

  // Tables of the process that are open (all directories), for tests and diagnostics.
  static std::size_t ProcessTableCount();

  // ---- The database's transaction (transaction.h), used by the thread that owns the tables.
  bool InTransaction() const { return transaction_.Active(); }
  // Starts it over the tables open now; 10249 when one is active already.
  void StartTransaction();
  // Commits; with flushToDisk the operating system then writes the tables' files to disk.
  // Nothing when no transaction is active.
  void Commit(bool flushToDisk = false);
  // Rolls back; nothing when no transaction is active.
  void Rollback();

 private:
  // Gives the registry's share back (the last one closes the table).
  void ReleaseShare(TDataTable& table);
  // The shares kept for the transaction go back once it has ended.
  void ReleaseDeferred();

  std::string path_;
  mutable std::mutex mutex_;
  std::vector<TDataTable*> tables_;  // one entry per share taken through this object
  TTransaction transaction_;
  std::vector<TDataTable*> deferred_;  // shares given back during the transaction
};

}  // namespace mt
