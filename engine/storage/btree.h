// TBTree: one index of a table as a B+tree of index-file pages, with its own page cache.
//
// Tree shape. Leaves (type 2, or 3 for a root that is a leaf) hold the keys in index order
// with their record numbers; internal pages (type 1, or 0 for the root) hold one entry per
// child: a separator key, the child page and, unless the index carries no counts, the number
// of leaf entries below the child. Pages of one level are linked both ways. An empty index has
// root 0. Keys in one index are distinct under its comparison (non-unique indexes end their
// keys in the record identifier), and the tree refuses an equal key with 9729.
//
// Separators. The first entry of an internal page routes every key below the second entry's
// key, whatever its own key says; for every later entry i, each key below child i is >= its
// separator and each key below the children before i is < it. Search goes down by "last entry
// whose key is <= the search key, else the first entry".
//
// Rebalancing. A leaf or internal page that overflows splits: the old page keeps the first
// n - n div 2 entries (compressed leaves then shift entries until both halves fit), the new
// page after it gets the rest; a root that splits grows a new root. After a delete, a non-root
// internal page or uncompressed leaf holding fewer than half of its capacity joins its left
// sibling (the right one for a first child) when both fit in one page, otherwise the two share
// their entries evenly, the left page taking the larger half. A compressed leaf is removed only
// when empty. A root internal page with one entry gives way to its child.
//
// Free pages go on the index's own chain (descriptor's free-chain head, linked through the
// page's next link) and are reused before the file grows.
//
// Page cache. Pages read from disk are kept decoded as TPage objects, in a list sorted by page
// number and in a recency list; spare objects are recycled through a TPageStack. Lookups check
// the four newest pages before the binary search. Pinned pages (held by an operation) are never
// evicted; dirty pages are written before they are dropped; write back joins runs of
// consecutive page numbers into one write. The cache aims at a target size (512 pages by
// default) and grows by 64 pages when nothing can be evicted.
//
// Positions. A leaf position is a page and a slot (from 0). Ordinals count from 1 in index
// order; they come from the internal counts, or from a walk of the leaves when the index has no
// counts.
//
// Thread-safety: a tree belongs to its table's index file and is used on the thread that owns
// the table (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_BTREE_H
#define MT_STORAGE_BTREE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cachelist.h"
#include "engine/common/debugcheck.h"
#include "indexkey.h"
#include "indexlayout.h"
#include "indexpage.h"

namespace mt {

// Where the pages of a tree live: the index file (or a temporary page file).
class TIndexPageStore {
 public:
  virtual ~TIndexPageStore() = default;
  // Reads page n clear (4096 bytes); false when the file holds no such page.
  virtual bool ReadPage(int32_t n, uint8_t* page) = 0;
  // Writes `count` consecutive pages from page `first`; the buffer may be scrambled in place.
  virtual void WritePages(int32_t first, uint8_t* pages, std::size_t count) = 0;
  // The header with the descriptors and the next page number.
  virtual TIndexFileHeader& StoreHeader() = 0;
  virtual void StoreHeaderChanged() = 0;
  virtual const std::string& StoreTableName() const = 0;
};

// A pool of spare TPage objects (at most 64).
class TPageStack {
 public:
  static constexpr std::size_t kMaxSpare = 64;
  std::unique_ptr<TPage> Take();
  void Give(std::unique_ptr<TPage> page);
  std::size_t Spare() const { return spare_.size(); }

 private:
  std::vector<std::unique_ptr<TPage>> spare_;
};

// Pins a cached page for a scope.
class TPageRef {
 public:
  TPageRef() = default;
  explicit TPageRef(TPage* page) : page_(page) {
    if (page_ != nullptr) ++page_->pins_;
  }
  ~TPageRef() { Reset(); }
  TPageRef(TPageRef&& other) noexcept : page_(other.page_) { other.page_ = nullptr; }
  TPageRef& operator=(TPageRef&& other) noexcept {
    if (this != &other) {
      Reset();
      page_ = other.page_;
      other.page_ = nullptr;
    }
    return *this;
  }
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;

  TPage* operator->() const { return page_; }
  TPage& operator*() const { return *page_; }
  TPage* Get() const { return page_; }
  explicit operator bool() const { return page_ != nullptr; }
  void Reset() {
    if (page_ != nullptr) {
      MT_ASSERT(page_->pins_ > 0);
      --page_->pins_;
    }
    page_ = nullptr;
  }

 private:
  TPage* page_ = nullptr;
};

struct TLeafPos {
  int32_t page = 0;  // 0: no position
  int slot = 0;
  bool Valid() const { return page != 0; }
  bool operator==(const TLeafPos&) const = default;
};

struct TFindResult {
  TLeafPos pos;  // the first entry >= the key; invalid when every key is below it
  bool found = false;
};

struct TPageCacheStats {
  uint64_t hits = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;  // write calls
  std::size_t cached = 0;
  std::size_t capacity = 0;
};

class TBTree {
 public:
  static constexpr std::size_t kDefaultCacheTarget = 512;

  TBTree(TIndexPageStore& store, int slot, TKeyDef keyDef, std::string indexName);
  ~TBTree();
  TBTree(const TBTree&) = delete;
  TBTree& operator=(const TBTree&) = delete;

  int Slot() const { return slot_; }
  const std::string& IndexName() const { return indexName_; }
  const TKeyDef& KeyDef() const { return keyDef_; }
  const TPageFormat& PageFormat() const { return format_; }
  int KeyLength() const { return format_.keyLength; }
  int32_t RootPage() { return Descriptor().rootPage; }
  bool IsEmpty() { return RootPage() == 0; }
  bool HasOrdinals() const { return format_.counts; }

  // ---- search and change ----
  TFindResult Find(const uint8_t* key);
  // Whether an equal key is present; a non-unique index ignores the identifier suffix.
  bool KeyExists(const uint8_t* key);
  // Adds an entry; 9729 when an equal key is present.
  void Insert(const uint8_t* key, int32_t record);
  // Removes the entry with this key and record number; false when there is none.
  bool Delete(const uint8_t* key, int32_t record);
  // Moves the record's entry from the old key to the new one. An equal new key fails with
  // 9729 before anything changes; a missing old entry is 8965.
  void Replace(const uint8_t* oldKey, const uint8_t* newKey, int32_t record);

  // ---- walking ----
  TLeafPos First();
  TLeafPos Last();
  // The neighbouring entry, invalid past either end.
  TLeafPos Next(TLeafPos pos);
  TLeafPos Prior(TLeafPos pos);
  // The key (KeyLength() bytes) and the record number at a position (8965 when there is no
  // such entry).
  int32_t ReadEntry(TLeafPos pos, uint8_t* key);
  int32_t RecordAt(TLeafPos pos);

  // ---- ordinals ----
  // Entries in the index.
  int64_t EntryCount();
  // Levels of the tree: 0 when empty, 1 for a root leaf.
  int Height();
  // The ordinal (from 1) of a position.
  int64_t OrdinalOf(TLeafPos pos);
  // The position of an ordinal; invalid when out of 1..EntryCount().
  TLeafPos PositionOf(int64_t ordinal);

  // ---- pages for the text index's parameter data ----
  // A page number from the free chain or the end of the file, for the caller's own use.
  int32_t TakePage();
  void ReadRawPage(int32_t n, uint8_t* page);
  void WriteRawPage(int32_t n, const uint8_t* page);
  // Puts a page the caller took with TakePage on the free chain.
  void ReleasePage(int32_t n);

  // ---- cache ----
  // Writes every dirty, unpinned page; true when it wrote.
  bool WriteBack();
  // Drops every cached page without writing (the file changed elsewhere, or a transaction was
  // rolled back).
  void ClearCache();
  // Writes back, then evicts down to the target size.
  void TrimCache();
  void SetCacheTarget(std::size_t pages);
  // While set (inside a transaction), a full cache grows instead of writing back.
  void SetDeferWrites(bool defer) { deferWrites_ = defer; }
  bool HasDirtyPages() const;
  TPageCacheStats CacheStats() const;

  // ---- consistency ----
  // Walks the whole tree and its free chain and describes every fault found: page types and
  // levels, key order within and across pages, separators, counts, sibling links both ways,
  // pages reached twice, the free chain. Empty when the index is sound. `entries` receives
  // the number of leaf entries.
  std::vector<std::string> CheckStructure(int64_t* entries = nullptr);

 private:
  struct TPathStep {
    int32_t page;
    int slot;  // the child's entry in that page
  };

  TIndexDescriptor& Descriptor();
  [[noreturn]] void Corrupt() const;
  [[noreturn]] void Raise(int32_t code) const;

  // Cache plumbing.
  void MakeRoom();
  void Evict(TPage* p);
  TPage* AddPage(int32_t n);
  TPageRef Fetch(int32_t n);
  // A tree page: a valid page number whose page has entries (8965 otherwise).
  TPageRef FetchTree(int32_t n);
  TPageRef NewPage(uint8_t type);
  void FreePage(TPageRef page);
  void MarkDirty(TPage& p) { p.dirty_ = true; }

  // Tree plumbing.
  int SearchInternal(const TPage& p, const uint8_t* key) const;
  // The first slot of the leaf whose key is not below the search key (Count() when none).
  int SearchLeaf(const TPage& p, const uint8_t* key) const;
  // Goes down to the leaf for `key`, recording the path.
  TPageRef Descend(const uint8_t* key, std::vector<TPathStep>* path);
  void AdjustCounts(const std::vector<TPathStep>& path, int delta);
  void SplitUp(TPageRef page, std::vector<TPathStep>& path);
  int SplitPoint(const TPage& p) const;
  void Rebalance(TPageRef page, std::vector<TPathStep>& path);
  void CollapseRoot();
  void Unchain(TPage& p);
  int32_t BelowOf(const TPage& p) const;
  TLeafPos Normalize(TLeafPos pos);

  TIndexPageStore& store_;
  int slot_;
  TKeyDef keyDef_;
  TPageFormat format_;
  std::string indexName_;

  // The leaves the last two full descents reached and their paths, the latest first. A key
  // within such a leaf's keys (or beyond them at either end of the tree) goes down to the
  // same leaf by the separators' rule, so the descent starts there: changes in key order
  // (appends, removals of the lowest keys) then search one page instead of one per level, and
  // so do changes that go back and forth between two places in key order (a record's
  // identifier key leaving the active keys for the deleted ones). Valid while shape_ and the
  // root are what they were; shape_ rises with every new or freed page, every join or share
  // of two pages and every drop of the cache, which are all the ways a path's pages and slots
  // can change.
  struct TDescentHint {
    int32_t leaf = 0;
    int32_t root = 0;
    uint64_t shape = 0;
    std::vector<TPathStep> path;
  };
  std::array<TDescentHint, 2> hints_;
  // Whether the last leaf search ended at a leaf's front or back. Changes in key order meet
  // their leaves at an end again and again (and changes going back and forth between two
  // places at the one end or the other), so after such a search the ends are tried before
  // the halving search; searches for keys anywhere else leave it None and pay nothing.
  enum class TLeafEnd : uint8_t { None, Front, Back };
  mutable TLeafEnd leafEnd_ = TLeafEnd::None;
  uint64_t shape_ = 1;
  // The path of the insert or delete under way, kept to reuse its room.
  std::vector<TPathStep> path_;

  TCacheList<TPage> cache_;
  TPageStack pool_;
  std::size_t target_ = kDefaultCacheTarget;
  std::size_t capacity_ = kDefaultCacheTarget;
  bool deferWrites_ = false;
  std::vector<uint8_t> readBuffer_;
  std::vector<uint8_t> writeBuffer_;
  uint64_t hits_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
};

}  // namespace mt

#endif  // MT_STORAGE_BTREE_H
