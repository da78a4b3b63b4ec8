// TBlobFile: a table's blob file (".BLB"), holding the values of the table's blob fields as
// doubly linked chains of fixed-size blocks, with its block cache, its free-block chain and
// its header with the change counter.
//
// Layout: a 512-byte header at offset 0; block n (n >= 1) at 512 + (n - 1) x block size. The
// block size is the data file header's blob block size (512 when stored as 0, at least 64).
//
//   header (bfh)                            block (bbl)
//   0   int32  change counter               0   int32   previous block of the chain, 0 first
//   4   byte   version tag, 5               4   int32   next block, 0 last; free: next free
//   5   int32  head of the free chain, 0    8   uint16  data bytes used in this block
//   9   int32  next block number (count+1)  10  int32   stamp of the value
//   13  byte   pending (in memory only)     14  int32   total length (first block), else 0
//   14  498 bytes unused, zero              18  ...     data, block size - 18 bytes
//
// A record refers to a value by its first block number (0: empty value) and a stamp; every
// block of the chain carries the same stamp, so a reader holding an old reference notices that
// the value was rewritten (8708). Encrypted tables scramble the header as one 512-byte unit and
// each block as two units: its 18-byte block header and its data bytes.
//
// Block cache: blocks read from the file are kept as TBlock objects by block number with a
// recency list and a pool of spare objects. The cache aims at min(cache bytes div block size,
// cache blocks) blocks (32768 and 8192 by default); a miss reads one block, or a run of blocks
// the caller says it will need, at most max(1, 16384 div block size) and never more than the
// target, cut at the end of the file. Dirty blocks stay until written (WriteBack joins runs of
// consecutive blocks into one write); while writes are deferred (a transaction) a full cache grows
// instead of writing.
//
// Blocks are only touched inside one call: no block pointer is handed out, so dropping the
// cache (after another process changed the file) can happen at any cache miss.
//
// Thread-safety: shared by the cursors of the process on the table, all on the thread that
// owns the table (datatable.h); each seek-and-transfer is atomic in the file layer.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_BLOBFILE_H
#define MT_STORAGE_BLOBFILE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cachelist.h"
#include "tablefile.h"

namespace mt {

namespace bfh {  // BlobFileHeader, 512 bytes
inline constexpr std::size_t kSize = 512;
inline constexpr std::size_t kChangeCounter = 0;  // int32
inline constexpr std::size_t kVersion = 4;        // byte
inline constexpr std::size_t kFreeHead = 5;       // int32
inline constexpr std::size_t kNextBlock = 9;      // int32
inline constexpr std::size_t kPending = 13;       // byte, meaningful in memory only
}  // namespace bfh

namespace bbl {                            // BlobBlock header, 18 bytes before the data
inline constexpr std::size_t kPrev = 0;    // int32
inline constexpr std::size_t kNext = 4;    // int32
inline constexpr std::size_t kUsed = 8;    // uint16
inline constexpr std::size_t kStamp = 10;  // int32
inline constexpr std::size_t kTotal = 14;  // int32
inline constexpr std::size_t kHeaderSize = 18;
}  // namespace bbl

inline constexpr int32_t kMaxBlobBlockNumber = 2000000000;
// A block's used count is 16 bits wide: larger blocks carry at most this many data bytes.
inline constexpr int kMaxBlobBlockData = 65535;

struct TBlobFileHeader {
  int32_t changeCounter = 0;
  uint8_t version = 5;
  int32_t freeHead = 0;
  int32_t nextBlock = 1;
  bool pending = false;  // in memory only
};

void EncodeBlobFileHeader(const TBlobFileHeader& h, uint8_t* out /* bfh::kSize bytes */);
TBlobFileHeader DecodeBlobFileHeader(const uint8_t* in /* bfh::kSize bytes */);

// One cached block: its bytes as on disk, descrambled.
class TBlock {
 public:
  int32_t Number() const { return number_; }
  bool Dirty() const { return dirty_; }
  uint8_t* Bytes() { return bytes_.data(); }
  const uint8_t* Bytes() const { return bytes_.data(); }
  int32_t Prev() const;
  int32_t Next() const;
  int Used() const;
  int32_t Stamp() const;
  int32_t Total() const;
  uint8_t* Data() { return bytes_.data() + bbl::kHeaderSize; }
  const uint8_t* Data() const { return bytes_.data() + bbl::kHeaderSize; }

 private:
  friend class TBlobFile;
  friend class TBlockStack;
  friend class TCacheList<TBlock>;

  int32_t number_ = 0;
  bool dirty_ = false;
  int pins_ = 0;  // blocks are never pinned; the shared cache bookkeeping reads it
  std::vector<uint8_t> bytes_;
  TBlock* newer_ = nullptr;
  TBlock* older_ = nullptr;
};

// A pool of spare TBlock objects (at most 64).
class TBlockStack {
 public:
  static constexpr std::size_t kMaxSpare = 64;
  std::unique_ptr<TBlock> Take();
  void Give(std::unique_ptr<TBlock> block);

 private:
  std::vector<std::unique_ptr<TBlock>> spare_;
};

struct TBlockCacheStats {
  uint64_t hits = 0;
  uint64_t reads = 0;   // read calls on the file
  uint64_t writes = 0;  // write calls for blocks
  std::size_t cached = 0;
};

class TBlobFile : public TTableFile<TBlobFileHeader> {
 public:
  // Asked before blocks are read from disk; returns true when the table changed (the blob
  // cache was then dropped). The table lock layer installs it.
  using TChangeCheck = std::function<bool()>;

  TBlobFile(std::string fileName, bool inMemory, std::string tableName);
  ~TBlobFile() override;

  // Creates the file holding only a new header.
  void CreateBlobFile(int blockSize, bool encrypted);
  // Reads and validates the header of the open file: version 5 (12035), a header of 512 bytes,
  // a next block number of at least 1 and a free-chain head of 0 or an existing block (8961).
  // A block size below 64 is 9498. Clears the cache.
  void Load(int blockSize, bool encrypted);
  // Re-reads the header (after another process changed it) and drops every cached block.
  void ReloadHeader();
  // Writes back dirty blocks and a changed header, then closes.
  void Close() override;

  int BlockSize() const { return blockSize_; }
  // Data bytes one block carries.
  int DataPerBlock() const { return dataPerBlock_; }
  int32_t BlockCount() const { return header_.nextBlock - 1; }
  // Blocks a value of this many bytes takes (0 for an empty value).
  int64_t BlocksFor(int64_t length) const;

  // ---- values ----
  // Loads a whole value. first 0 is the empty value. The first block's stamp must be `stamp`
  // (8708); a chain that leaves the file or loops is 8963, a later block with another stamp
  // 8708, a chain shorter than the stored length 8711, a stored length below 0 10029.
  std::vector<uint8_t> ReadValue(int32_t first, int32_t stamp);
  // Writes a value in place of the old one (oldFirst 0: none) and returns its first block (0
  // for an empty value). The value gets new blocks from the free chain or the end of the file
  // and the old chain is freed (FreeValue): the old value stays whole on disk until the record
  // that refers to it has its new reference. Only blocks that still carry oldStamp count as
  // the old chain. 9479 when the file would grow past its limits.
  int32_t WriteValue(int32_t oldFirst, int32_t oldStamp, int32_t newStamp,
                     std::span<const uint8_t> value);
  // Frees a value's chain (the blocks that carry its stamp). The blocks keep their value until
  // ApplyFrees: a record on disk may still refer to it until the change's records are written.
  void FreeValue(int32_t first, int32_t stamp);
  // Puts the blocks freed since the last call on the free chain (in memory); returns whether
  // there were any. The end of a change calls it once the change's records are written.
  bool ApplyFrees();

  // ---- checks and repair (tablecheck.h) ----
  struct TBlockHead {
    int32_t prev = 0;
    int32_t next = 0;
    int used = 0;
    int32_t stamp = 0;
    int32_t total = 0;
  };
  // The 18-byte header of block n (8963 when n is no block of the file or cannot be read).
  TBlockHead BlockHead(int32_t n);
  // Makes every block whose entry in `used` (by block number) is false free, lowest first,
  // and marks those blocks and the header for writing. Returns the free block count.
  int32_t RebuildFreeChain(const std::vector<bool>& used);

  // ---- writing ----
  // Writes every dirty block.
  void WriteBack();
  // Writes back, then evicts clean blocks down to the target size.
  void TrimCache();
  // Drops every cached block and the frees waiting for ApplyFrees without writing them.
  void ClearCache();
  // Cuts the file after its header and resets the free chain and the block numbering.
  void Empty();

  // ---- settings and hooks ----
  void SetDeferWrites(bool defer) { deferWrites_ = defer; }
  void SetChangeCheck(TChangeCheck check) { changeCheck_ = std::move(check); }
  // Cache limits in bytes and blocks (applied at the next Load and now).
  void SetCacheLimits(int32_t bytes, int32_t blocks);

  // ---- diagnostics ----
  TBlockCacheStats CacheStats() const;
  std::size_t TargetCacheSize() const { return targetSize_; }
  int WindowBlocks() const { return windowBlocks_; }

 protected:
  // Writes the header (a value was written or freed: the header is marked dirty and written
  // with a raised counter at the end of the change).
  void WriteCountedHeader(TBlobFileHeader& h) override;
  bool HeaderScrambled() const override { return encrypted_; }
  [[noreturn]] void RaiseHeaderCorrupt() const override;

 private:
  [[noreturn]] void Raise(int32_t code) const;
  uint64_t BlockOffset(int32_t n) const;
  void ApplySizing();
  // The block size (9498 below the minimum) and encryption of the file being created or
  // loaded; empties the cache.
  void Configure(int blockSize, bool encrypted);
  void WriteHeader(const TBlobFileHeader& h);
  // Cache plumbing. GetBlock reads on a miss, `ahead` blocks from n on (within the window).
  TBlock* GetBlock(int32_t n, int32_t ahead = 1);
  TBlock* FindCached(int32_t n);
  TBlock* AddBlock(int32_t n);
  void MakeRoom();
  void ReadRun(int32_t n, int32_t count);
  // Whole blocks the file holds on disk past its header.
  int64_t BlocksOnDisk() const;
  // The old chain of a value: the blocks from first on that carry the stamp, in order.
  std::vector<int32_t> CollectChain(int32_t first, int32_t stamp);
  int32_t AllocateBlock();
  void FreeBlock(int32_t n);

  std::string tableName_;
  int blockSize_ = 512;
  int dataPerBlock_ = 512 - static_cast<int>(bbl::kHeaderSize);
  bool encrypted_ = false;
  bool deferWrites_ = false;
  TChangeCheck changeCheck_;
  int32_t cacheBytes_ = 32768;
  int32_t cacheBlocks_ = 8192;

  TCacheList<TBlock> cache_;
  TBlockStack pool_;
  std::size_t targetSize_ = 64;
  std::size_t capacity_ = 64;
  int windowBlocks_ = 32;
  std::vector<uint8_t> ioBuffer_;
  std::vector<int32_t> freed_;  // freed, waiting for ApplyFrees
  uint64_t hits_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
};

}  // namespace mt

#endif  // MT_STORAGE_BLOBFILE_H
