// TIndexFile: a table's index file. This part keeps the 4096-byte header page with the index
// descriptors: creating a new index file, reading and validating the header, writing it with
// its change counter, and emptying the file down to the header. The B-tree pages that follow
// the header are the index engine's.
//
// Encrypted tables: the header page is scrambled on disk as one 4096-byte block.
//
// Thread-safety: shared by the cursors of the process on the table, which serialise their
// operations on it.
#pragma once

#include <string>
#include <vector>

#include "engine/common/filehandler.h"
#include "indexlayout.h"

namespace mt {

class TIndexFile : public TFileHandler {
 public:
  TIndexFile(std::string fileName, bool inMemory, std::string tableName);
  ~TIndexFile() override;

  // Creates the file holding only the header page.
  void CreateIndexFile(const TIndexFileHeader& header, bool encrypted);
  // Reads the header page of the open file (12035 for a wrong version tag, 8961 when it is
  // shorter than a page).
  void Load(bool encrypted);
  // The descriptors against the table's fields (8961).
  void Validate(const std::vector<TFieldDescriptor>& fields) const;
  // Writes the header when it has changes, then closes.
  void Close() override;

  const TIndexFileHeader& Header() const { return header_; }
  // For the index engine: changes to the header must be followed by MarkHeaderDirty.
  TIndexFileHeader& MutableHeader() { return header_; }
  int32_t ChangeCounter() const { return header_.changeCounter; }
  bool HasPrimaryIndex() const { return !header_.noPrimary; }
  const TIndexDescriptor& Descriptor(int slot) const { return header_.slots.at(slot); }

  void MarkHeaderDirty() { headerDirty_ = true; }
  bool HeaderDirty() const { return headerDirty_; }
  // When the header has changes or force: raises the change counter and writes the page.
  bool FlushHeader(bool force = false);
  // Cuts the file after the header page and clears every index's pages and the active record
  // count.
  void Empty();
  void SetForceFlush(bool force) { forceFlush_ = force; }
  // Inside a transaction: raises the change counter in memory only and marks the header for
  // writing at the commit.
  void RaiseChangeCounterInMemory();

  // ---- page cache hooks called by table locking and transactions ----
  // The B-tree page cache fills these in. WriteBackPages writes every dirty page (with trim,
  // also evicts down to the target sizes); ClearCache drops every cached page without writing
  // (another process changed the file, or a transaction was rolled back); while writes are
  // deferred (a transaction) full page caches grow instead of writing back.
  void WriteBackPages(bool trim = false) { (void)trim; }
  void ClearCache() {}
  void SetDeferWrites(bool defer) { (void)defer; }

 private:
  void WriteHeaderPage(const TIndexFileHeader& h);

  std::string tableName_;
  TIndexFileHeader header_;
  bool encrypted_ = false;
  bool headerDirty_ = false;
  bool forceFlush_ = false;
};

}  // namespace mt
