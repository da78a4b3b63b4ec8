// TRecordsBitmap: a set of record numbers 1..N as bits in 32-bit words (record n is bit
// (n - 1) mod 32 of word (n - 1) div 32), used by cursor filters and the SQL executor to hold
// the visible records. Storage is whole words and grows in steps of 256 bytes. Bits above N
// never count: every operation masks them.
//
// TRecordsBitmapStack: the process-wide pool of spare bitmaps (at most 64 kept), so filter
// evaluation does not allocate per sub-expression. Take() hands out a cleared bitmap that goes
// back to the pool when its handle is dropped.
//
// Thread-safety: a bitmap is used by one thread at a time; the pool is guarded by a mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace mt {

class TRecordsBitmap {
 public:
  static constexpr std::size_t kGrowthBytes = 256;

  explicit TRecordsBitmap(uint32_t size = 0) { SetSize(size); }

  // Sets N. Bits of records that become part of the set by growing are clear.
  void SetSize(uint32_t size);
  uint32_t Size() const noexcept { return size_; }

  // Record numbers outside 1..N test false and are ignored by Set and Clear.
  bool Test(uint32_t record) const noexcept;
  void Set(uint32_t record) noexcept;
  void Clear(uint32_t record) noexcept;

  void ClearAll() noexcept;
  void SetAll() noexcept;
  void InvertAll() noexcept;

  // Both need a bitmap of the same size (std::invalid_argument otherwise).
  void And(const TRecordsBitmap& other);
  void Or(const TRecordsBitmap& other);
  // Takes over size and bits of another bitmap.
  void CopyFrom(const TRecordsBitmap& other);

  // Set bits of records 1..N.
  uint32_t Count() const noexcept;
  // Set bits of records below `record`: the rank of a visible record among the visible ones.
  uint32_t CountBelow(uint32_t record) const noexcept;

  // The next set record after `from` (0: from the start), passing over `skip` further set
  // records first; 0 when there is none. `steps`, when given, receives how many set records
  // were passed or reached (skip + 1 on success, fewer when the end came first).
  uint32_t FindNext(uint32_t from, uint32_t skip = 0, uint32_t* steps = nullptr) const noexcept;
  // The same towards record 1, starting before `from` (N + 1 or more: from the end).
  uint32_t FindPrior(uint32_t from, uint32_t skip = 0, uint32_t* steps = nullptr) const noexcept;

  // The set records a run of at most `length` records (length >= 1) starting at the next set
  // record after `after` reaches: {that record, the last set record within the run}; {0, 0}
  // when no record after `after` is set. Readers of set records use it to read a few
  // neighbouring records with one transfer.
  std::pair<uint32_t, uint32_t> NextSpan(uint32_t after, uint32_t length) const noexcept;

  std::size_t CapacityBytes() const noexcept { return words_.capacity() * sizeof(uint32_t); }

 private:
  uint32_t WordCount() const noexcept { return (size_ + 31) / 32; }
  // Clears the bits above N in the last word.
  void MaskTail() noexcept;

  std::vector<uint32_t> words_;
  uint32_t size_ = 0;
};

class TRecordsBitmapStack {
 public:
  static constexpr std::size_t kMaxSpare = 64;

  struct TReturn {
    void operator()(TRecordsBitmap* bitmap) const noexcept;
  };
  using TPooledBitmap = std::unique_ptr<TRecordsBitmap, TReturn>;

  // A cleared bitmap of the given size, from the pool when one is spare.
  static TPooledBitmap Take(uint32_t size);
  // Spare bitmaps currently kept (for tests and diagnostics).
  static std::size_t SpareCount();
};

}  // namespace mt
