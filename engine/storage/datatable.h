// TDataTable: the table object shared by every cursor of the process that opens one table
// name in one database directory. It owns the table's data file, index file and, for tables
// with blob fields, blob file, counts its openers, and carries the table-level operations:
// create, open (validate, password check), close, delete, rename, empty, flush. Its locks,
// change detection, end-of-change writes and transaction part are TTableLocks' (Locks(),
// tablelocks.h); inserting, changing and deleting records is TRecordWriter's (Writer(),
// recordwriter.h).
//
// Files: <directory>/<name>.DAT, .IDX and, with blob fields, .BLB (tablenames.h); .JNL, the
// journal of the change being written, appears with the first change (changejournal.h). The
// name used in error messages is the table's path without extension.
//
// A table whose writer died in the middle of a change (the data file carries the change mark
// and no live process holds the write lock) is mended by the first process that opens or locks
// it, before anything of it is read (TTableLocks::MendCutOffChange, tablecheck.h).
//
// The first opener validates the files under the table's read lock. The data and blob files'
// cache misses run the change check (TTableLocks::CheckBeforeDiskRead). A table whose last
// opener closes during a transaction stays open until the transaction ends.
//
// Thread-safety: one thread per table. A table object belongs to the thread that made it (for a
// shared table, the thread of its first opener) and is used only there: its files, caches,
// locks, writer and every cursor on it share state without locking of their own, and the
// byte-range locks between processes do not tell this process's threads apart. Debug builds
// check the owner at every open, lock, settings change and cursor operation (CheckThread).
// Another thread may use the table once the owner closed it (a new table object is then made).
// The process-wide parts are guarded by mutexes: the file list and each open file
// (filelayer.h), the table registry (datadirectory.h), the error context, the character orders
// and the node and bitmap pools. (The program itself runs the engine on its one GUI thread.)
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The storage engine's private types these declarations are made of.
#pragma push_macro("MT_STORAGE_THROUGH_PUBLIC")
#define MT_STORAGE_THROUGH_PUBLIC 1
#include "blobfile.h"
#include "changejournal.h"
#include "datafile.h"
#include "indexfile.h"
#include "recordwriter.h"
#include "tablelocks.h"
#pragma pop_macro("MT_STORAGE_THROUGH_PUBLIC")
#include "engine/common/debugcheck.h"
#include "sessionsettings.h"
#include "tabledef.h"

namespace mt {

// The passwords a session knows, and a way to ask for more.
struct TPasswordSource {
  std::vector<std::string> known;
  // Appends further passwords to the list and returns true to try again; false gives up.
  std::function<bool(std::vector<std::string>& known)> askMore;
};

struct TTableOpenOptions {
  bool exclusive = false;
  TPasswordSource passwords;
  // Flush the operating system's buffers after every header write.
  bool forceFlush = false;
  // With exclusive: a private working table (a query's result) that is thrown away after use.
  // Its changes stay in the caches until they need room, the table is flushed or closes, and
  // they are written without change mark or journal: nothing is recovered from it after a
  // crash, and no other opener can look at it meanwhile.
  bool scratch = false;
};

class TDataTable {
 public:
  TDataTable(std::string directory, std::string tableName, bool inMemory = false);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // Debug builds: the calling thread owns the table (see above).
  void CheckThread() const { MT_ASSERT(std::this_thread::get_id() == owner_); }

  const std::string& Directory() const { return directory_; }
  const std::string& TableName() const { return tableName_; }
  bool InMemory() const { return inMemory_; }
  // The file of the table with an extension (kDataExt, kIndexExt, ...).
  std::string FileName(std::string_view extension) const;
  // The name errors carry: the table's path without extension.
  const std::string& ErrorName() const { return errorName_; }

  // Checks the parameters (tabledef.h) and writes the data and index files; the table must not
  // be open through this object (10031). Existing files of the name are replaced.
  void Create(TTableCreateParams params);

  // The first opener opens and validates the files; every opener of an encrypted table must
  // know its password (10498). An exclusive open while others have the table open, or any
  // open while an exclusive opener has it, fails with 11013. A failed open leaves nothing open.
  void Open(const TTableOpenOptions& options = {});
  // The last closer writes pending records and headers, releases the table's locks and
  // closes the files; during a transaction that waits for the transaction's end.
  void Close();
  // Completes a close that waited for the end of a transaction (called by TTableLocks).
  void CloseDeferred();
  bool ClosePending() const { return closePending_; }
  int Openers() const { return openers_; }
  bool IsOpen() const { return openers_ > 0; }
  bool Exclusive() const { return exclusive_; }
  bool Scratch() const { return scratch_; }
  // Some file of the table could only be opened for reading.
  bool ReadOnly() const { return readOnly_; }
  // The index file was missing and was made anew: every index must be rebuilt from the records.
  // The first opener rebuilds them at once (RebuildIndexes) unless the index file could only
  // be opened for reading.
  bool NeedsIndexRebuild() const { return needsIndexRebuild_; }
  void IndexesRebuilt() { needsIndexRebuild_ = false; }
  // Empties every index and fills them anew from the records, then writes them.
  void RebuildIndexes();
  // Adds an index to the open table and fills it from the records: the primary index (9993
  // when there is one) or a secondary one, checked as at creation. The table must be open
  // exclusively (10253) and writable (11013). A unique index over records with equal keys
  // fails with 9729 and leaves the table as it was.
  void AddIndex(const TIndexDescriptor& index, bool primary);

  // The table's files must be closed here (10031) and everywhere else (11013).
  void Delete();
  // Renames the files to another table name (a name with "/" is a path of its own).
  void Rename(const std::string& newTableName);
  // Renames the live files to the backup names (.DBK, .IBK, .BBK) or back.
  void RenameToBackup();
  void RestoreFromBackup();
  // Cuts the records, empties the indexes and resets the counters; the table must be open
  // exclusively (10253) and writable (11013).
  void Empty();

  // Writes pending records, index pages, blob blocks and headers (nothing inside a
  // transaction); trims the record and page caches when asked.
  void FlushBuffers(bool trimCache = false);
  // Asks the operating system to write the table's open files to disk (nothing for an
  // in-memory or read-only table).
  void FlushToDisk();

  // The session's settings (sessionsettings.h); they take effect at the next operation.
  const TSessionSettings& Settings() const { return settings_; }
  void SetSettings(const TSessionSettings& settings);

  TTableLocks& Locks() { return *locks_; }
  const TTableLocks& Locks() const { return *locks_; }
  TRecordWriter& Writer() { return writer_; }

  TDataFile& Data() { return *data_; }
  const TDataFile& Data() const { return *data_; }
  TIndexFile& Index() { return *index_; }
  const TIndexFile& Index() const { return *index_; }
  bool HasPrimaryIndex() const { return index_->HasPrimaryIndex(); }
  bool HasBlobFields() const { return data_->Header().blobFieldCount > 0; }
  // The open blob file; nullptr for a table without blob fields or while closed.
  TBlobFile* BlobFile() { return blob_->IsOpen() ? blob_.get() : nullptr; }
  const TBlobFile* BlobFile() const { return blob_->IsOpen() ? blob_.get() : nullptr; }
  // The journal of the change being written (opened on first use; unused in memory).
  TChangeJournal& Journal() { return *journal_; }

 private:
  void OpenFiles(const TTableOpenOptions& options);
  // Empties the change journal (its counters could match those of a table started anew).
  void DropJournal();
  void CloseFiles();
  void ApplyFlushSettings();
  void CheckPassword(const TPasswordSource& passwords) const;
  // The table's existing files by extension (data, index, blob), for delete and rename.
  std::vector<std::string_view> ExistingExtensions() const;
  void RequireNotOpen() const;
  void RequireFilesFree(const std::vector<std::string_view>& extensions) const;
  void RenameFiles(const std::string& newTableName,
                   const std::vector<std::pair<std::string_view, std::string_view>>& extensions);
  void SetNames(std::string tableName);

  const std::thread::id owner_ = std::this_thread::get_id();
  std::string directory_;
  std::string tableName_;
  std::string errorName_;
  bool inMemory_ = false;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  std::unique_ptr<TChangeJournal> journal_;
  std::unique_ptr<TTableLocks> locks_;
  TRecordWriter writer_{*this};
  TSessionSettings settings_;
  bool forceFlushOption_ = false;  // the open options' forceFlush
  bool closePending_ = false;
  int openers_ = 0;
  bool exclusive_ = false;
  bool scratch_ = false;
  bool readOnly_ = false;
  bool needsIndexRebuild_ = false;
};

}  // namespace mt
