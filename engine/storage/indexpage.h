// B-tree pages of the index file: the 4096-byte page layout, the three leaf compressions, and
// TPage, the decoded form a page takes in the page cache.
//
// Page layout (page n at file offset n x 4096; scrambled as one block in an encrypted table):
//   0   byte    type: 0 root internal, 1 internal, 2 leaf, 3 root leaf, 4 parameter page
//   1   uint16  number of entries; 0 for a free page
//   3   int32   previous page on the same level, 0 at the left end
//   7   int32   next page on the same level, 0 at the right end; free page: next free page;
//               parameter page: next page of the parameter data
//   11  uint16  bytes used by the entries of a compressed leaf (0 on other pages)
//   13  4083    entries, packed; the rest zero
// Internal entry: key, int32 child page, int32 records below the child (left out when the
// index's internal pages carry no counts). Leaf entry: key, int32 record number; in a
// compressed leaf the key is stored as:
//   1 leading duplicates: byte d (key bytes equal to the previous entry's, 0 in the first
//     entry, at most 255), then key bytes d..L-1
//   2 trailing zeros: byte t (zero bytes dropped from the end, at most 255), then the key
//     without them; in a key with an identifier suffix the zeros are counted before the
//     4-byte suffix, which is always stored
//   3 both: byte d, byte t, then key bytes d.. without the t zeros; with an identifier
//     suffix the zeros are counted before it when at least 5 bytes remain after the
//     duplicates, otherwise at the end of the remaining bytes
// Decoding restores dropped leading bytes from the previous entry and trailing bytes as zeros.
//
// In memory every entry takes key length + 8 bytes: the key, the int32 child page or record
// number, and the int32 count (0 in leaves).
//
// Thread-safety: pages belong to one index's cache, used on its table's thread (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_INDEXPAGE_H
#define MT_STORAGE_INDEXPAGE_H

#include <cstdint>
#include <vector>

#include "cachelist.h"
#include "indexlayout.h"

namespace mt {

namespace ipl {                           // index page layout
inline constexpr std::size_t kType = 0;   // byte
inline constexpr std::size_t kCount = 1;  // uint16
inline constexpr std::size_t kPrev = 3;   // int32
inline constexpr std::size_t kNext = 7;   // int32
inline constexpr std::size_t kUsed = 11;  // uint16
inline constexpr std::size_t kEntries = 13;
inline constexpr int kDataBytes = 4083;
}  // namespace ipl

namespace ptype {
inline constexpr uint8_t kRootInternal = 0;
inline constexpr uint8_t kInternal = 1;
inline constexpr uint8_t kLeaf = 2;
inline constexpr uint8_t kRootLeaf = 3;
inline constexpr uint8_t kParameter = 4;
}  // namespace ptype

// The largest page number and the file size limit of an index file.
inline constexpr int32_t kMaxIndexPage = 2000000000;

// What the pages of one index look like.
struct TPageFormat {
  int keyLength = 0;
  uint8_t compression = 0;  // 0 none, 1 leading duplicates, 2 trailing zeros, 3 both
  bool counts = true;       // internal entries carry record counts
  bool idSuffix = false;    // keys end in a 4-byte identifier kept whole by compression

  int MemoryEntrySize() const { return keyLength + 8; }
  int InternalEntrySize() const { return keyLength + (counts ? 8 : 4); }
  int LeafEntrySize() const { return keyLength + 4; }
  int InternalCapacity() const { return ipl::kDataBytes / InternalEntrySize(); }
  // Entries of an uncompressed leaf.
  int LeafCapacity() const { return ipl::kDataBytes / LeafEntrySize(); }
  bool Compressed() const { return compression != 0; }
  // Bytes a compressed leaf entry takes after `previous` (nullptr for the first entry).
  int PackedEntrySize(const uint8_t* previous, const uint8_t* key) const;
};

class TPage {
 public:
  explicit TPage(const TPageFormat* format = nullptr) : format_(format) {}

  int32_t Number() const { return number_; }
  uint8_t Type() const { return type_; }
  void SetType(uint8_t type) { type_ = type; }
  bool IsLeaf() const { return type_ == ptype::kLeaf || type_ == ptype::kRootLeaf; }
  bool IsRoot() const { return type_ == ptype::kRootInternal || type_ == ptype::kRootLeaf; }
  int Count() const { return count_; }
  int32_t Prev() const { return prev_; }
  int32_t Next() const { return next_; }
  void SetPrev(int32_t page) { prev_ = page; }
  void SetNext(int32_t page) { next_ = page; }
  const TPageFormat& Format() const { return *format_; }

  const uint8_t* Key(int i) const { return Entry(i); }
  // Child page (internal) or record number (leaf).
  int32_t Value(int i) const;
  void SetValue(int i, int32_t value);
  // Records below the child of an internal entry.
  int32_t Below(int i) const;
  void SetBelow(int i, int32_t count);
  void SetKey(int i, const uint8_t* key);

  void Insert(int i, const uint8_t* key, int32_t value, int32_t below = 0);
  void Remove(int i);
  void Clear();
  // Moves entries [from, Count()) to the front of `to` / the first n entries of `from` to
  // the end of this page.
  void MoveTailTo(int from, TPage& to);
  void TakeHeadFrom(TPage& from, int n);

  // Bytes the entries take on disk: packed bytes of a compressed leaf, else count x size.
  int UsedBytes() const;
  // The page holds more than fits on disk.
  bool Overfull() const;
  // The records below this page: its entries for a leaf, the sum of the counts otherwise.
  int64_t RecordsBelow() const;

  // Disk form. Decode returns false for a page that is not a valid page of this index
  // (its number of entries, links, compressed bytes or child pages out of range).
  void Encode(uint8_t* out) const;
  bool Decode(const uint8_t* in, int32_t nextPage);

 private:
  friend class TBTree;
  friend class TPageStack;
  friend class TCacheList<TPage>;
  friend class TPageRef;

  uint8_t* Entry(int i) {
    return data_.data() + head_ + static_cast<std::size_t>(i) * format_->MemoryEntrySize();
  }
  const uint8_t* Entry(int i) const {
    return data_.data() + head_ + static_cast<std::size_t>(i) * format_->MemoryEntrySize();
  }
  void RecomputePacked();
  // Drops the unused head, moving the entries to the front of data_, once it has grown past
  // the entries.
  void TrimHead();

  const TPageFormat* format_ = nullptr;
  int32_t number_ = 0;
  uint8_t type_ = ptype::kLeaf;
  int count_ = 0;
  int32_t prev_ = 0;
  int32_t next_ = 0;
  int packed_ = 0;  // compressed leaves: bytes the entries take on disk
  // The entries, in memory form, from data_[head_] to data_'s end. The unused head lets an
  // entry near the front be removed (or added) by moving the entries before it instead of
  // all after it, as removing records in key order does page after page. It never exceeds
  // the bytes of the entries (plus one entry), so a page holds at most twice its entries.
  std::vector<uint8_t> data_;
  std::size_t head_ = 0;

  // Cache bookkeeping (TBTree).
  bool dirty_ = false;
  int pins_ = 0;
  TPage* newer_ = nullptr;
  TPage* older_ = nullptr;
};

}  // namespace mt

#endif  // MT_STORAGE_INDEXPAGE_H
