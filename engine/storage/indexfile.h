// TIndexFile: a table's index file. It keeps the 4096-byte header page with the index
// descriptors (creating a new index file, reading and validating the header, writing it with
// its change counter, emptying the file down to the header) and owns one TBTree per index in
// use, each with its own page cache, plus the text index's word services. The trees read and
// write their pages through this file (TIndexPageStore).
//
// Keys are built and compared by the table's fields and locale, which the table hands over
// with AttachTable after the data file is loaded.
//
// Encrypted tables: the header page and every B-tree page are scrambled on disk as whole
// 4096-byte blocks.
//
// Thread-safety: shared by the cursors of the process on the table, all on the thread that
// owns the table (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_INDEXFILE_H
#define MT_STORAGE_INDEXFILE_H

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "btree.h"
#include "indexlayout.h"
#include "tablefile.h"

namespace mt {

class TTextIndex;

class TIndexFile : public TTableFile<TIndexFileHeader>, public TIndexPageStore {
 public:
  TIndexFile(std::string fileName, bool inMemory, std::string tableName);
  ~TIndexFile() override;

  // Creates the file holding only the header page.
  void CreateIndexFile(const TIndexFileHeader& header, bool encrypted);
  // Reads the header page of the open file (12035 for a wrong version tag, 8961 when it is
  // shorter than a page). Drops every cached page; the trees of indexes whose definitions did
  // not change stay valid.
  void Load(bool encrypted);
  // The descriptors against the table's fields (8961).
  void Validate(const std::vector<TFieldDescriptor>& fields) const;
  // Writes back the pages and the header when they have changes, then closes.
  void Close() override;

  // For the index engine: changes to the header must be followed by MarkHeaderDirty.
  TIndexFileHeader& MutableHeader() { return header_; }
  bool HasPrimaryIndex() const { return !header_.noPrimary; }
  const TIndexDescriptor& Descriptor(int slot) const { return header_.slots.at(slot); }

  // Cuts the file after the header page and clears every index's pages and the active record
  // count.
  void Empty();
  bool Encrypted() const { return encrypted_; }

  // ---- the indexes ----
  // The table's fields and locale; the trees are made anew from them when next asked for.
  void AttachTable(std::vector<TFieldDescriptor> fields, uint32_t localeId);
  // Whether a descriptor slot holds an index: 0 with a primary index, 1 to the number of
  // secondaries, 31 and 32 always.
  bool SlotInUse(int slot) const;
  // The slots of the indexes kept for every active record, ascending: the primary (when the
  // table has one) and the secondaries in use.
  void MaintainedSlots(std::vector<int>& slots) const;
  // The tree of a slot in use (10022 for any other slot).
  TBTree& Tree(int slot);
  // The text index's parameters, word splitting and word entries.
  TTextIndex& Text();
  // Stores a descriptor in a free slot of an open file: the primary (slot 0; 9993 when the
  // table has one) or the next secondary slot (9487 past 30). The caller validated it against
  // the fields (PrepareIndexDefinitions). A primary with no fields leaves the table without
  // one. Returns the slot.
  int AddIndexDescriptor(const TIndexDescriptor& descriptor, bool primary);
  // Writes every dirty page of every index; with trim, also evicts down to the target sizes.
  void WriteBackPages(bool trim = false);
  // Drops every cached page without writing: another process changed the file, or a
  // transaction was rolled back. The header is not re-read (Load does that).
  void ClearCache();
  // Inside a transaction: full page caches grow instead of writing back.
  void SetDeferWrites(bool defer);

  // ---- TIndexPageStore ----
  bool ReadPage(int32_t n, uint8_t* page) override;
  void WritePages(int32_t first, uint8_t* pages, std::size_t count) override;
  TIndexFileHeader& StoreHeader() override { return header_; }
  void StoreHeaderChanged() override { headerDirty_ = true; }
  const std::string& StoreTableName() const override { return tableName_; }

 protected:
  // Writes the header page.
  void WriteCountedHeader(TIndexFileHeader& h) override;
  bool HeaderScrambled() const override { return encrypted_; }
  [[noreturn]] void RaiseHeaderCorrupt() const override;

 private:
  void WriteHeaderPage(const TIndexFileHeader& h);
  void ResetTrees();

  std::string tableName_;
  bool encrypted_ = false;
  bool deferWrites_ = false;
  std::vector<TFieldDescriptor> fields_;
  uint32_t localeId_ = 0;
  std::array<std::unique_ptr<TBTree>, kIndexSlots> trees_;
  std::unique_ptr<TTextIndex> text_;
};

}  // namespace mt

#endif  // MT_STORAGE_INDEXFILE_H
