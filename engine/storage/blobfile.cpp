// TBlobFile: blob file header, block cache, value chains and the free chain.
#include "blobfile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>

#include "byteio.h"
#include "engine/common/engineerror.h"
#include "scrambler.h"
#include "tablelayout.h"

namespace mt {
namespace {

constexpr int kReadWindowBytes = 16384;
constexpr std::size_t kCacheGrowth = 16;

void ScrambleBlockUnits(uint8_t* bytes, std::size_t blockSize) {
  ScrambleBlock(bytes, bbl::kHeaderSize);
  ScrambleBlock(bytes + bbl::kHeaderSize, blockSize - bbl::kHeaderSize);
}

}  // namespace

void EncodeBlobFileHeader(const TBlobFileHeader& h, uint8_t* out) {
  std::memset(out, 0, bfh::kSize);
  le::PutI32(out, bfh::kChangeCounter, h.changeCounter);
  le::PutU8(out, bfh::kVersion, h.version);
  le::PutI32(out, bfh::kFreeHead, h.freeHead);
  le::PutI32(out, bfh::kNextBlock, h.nextBlock);
  le::PutU8(out, bfh::kPending, h.pending ? 1 : 0);
}

TBlobFileHeader DecodeBlobFileHeader(const uint8_t* in) {
  TBlobFileHeader h;
  h.changeCounter = le::GetI32(in, bfh::kChangeCounter);
  h.version = le::GetU8(in, bfh::kVersion);
  h.freeHead = le::GetI32(in, bfh::kFreeHead);
  h.nextBlock = le::GetI32(in, bfh::kNextBlock);
  h.pending = false;  // the stored byte means nothing
  return h;
}

int32_t TBlock::Prev() const {
  return le::GetI32(bytes_.data(), bbl::kPrev);
}
int32_t TBlock::Next() const {
  return le::GetI32(bytes_.data(), bbl::kNext);
}
int TBlock::Used() const {
  return le::GetU16(bytes_.data(), bbl::kUsed);
}
int32_t TBlock::Stamp() const {
  return le::GetI32(bytes_.data(), bbl::kStamp);
}
int32_t TBlock::Total() const {
  return le::GetI32(bytes_.data(), bbl::kTotal);
}

std::unique_ptr<TBlock> TBlockStack::Take() {
  if (spare_.empty()) return std::make_unique<TBlock>();
  std::unique_ptr<TBlock> b = std::move(spare_.back());
  spare_.pop_back();
  return b;
}

void TBlockStack::Give(std::unique_ptr<TBlock> block) {
  if (spare_.size() >= kMaxSpare) return;
  block->number_ = 0;
  block->dirty_ = false;
  block->newer_ = block->older_ = nullptr;
  spare_.push_back(std::move(block));
}

TBlobFile::TBlobFile(std::string fileName, bool inMemory, std::string tableName)
    : TTableFile(std::move(fileName), inMemory), tableName_(std::move(tableName)) {
  ApplySizing();
}

TBlobFile::~TBlobFile() {
  // A destructor cannot report a failed write; callers close explicitly to see errors.
  try {
    TBlobFile::Close();
  } catch (const std::exception&) {
    TFileHandler::Close();
  }
}

void TBlobFile::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = tableName_});
}

void TBlobFile::RaiseHeaderCorrupt() const {
  Raise(err::kHeaderCorrupt);
}

uint64_t TBlobFile::BlockOffset(int32_t n) const {
  return bfh::kSize + static_cast<uint64_t>(n - 1) * static_cast<uint64_t>(blockSize_);
}

int64_t TBlobFile::BlocksFor(int64_t length) const {
  return length <= 0 ? 0 : (length + dataPerBlock_ - 1) / dataPerBlock_;
}

void TBlobFile::ApplySizing() {
  const std::size_t byBytes = static_cast<std::size_t>(std::max(cacheBytes_, 0)) / blockSize_;
  const std::size_t byCount = static_cast<std::size_t>(std::max(cacheBlocks_, 1));
  targetSize_ = std::max<std::size_t>(1, std::min(byBytes, byCount));
  windowBlocks_ = std::max(1, kReadWindowBytes / blockSize_);
  capacity_ = std::max(targetSize_, cache_.Size());
}

void TBlobFile::SetCacheLimits(int32_t bytes, int32_t blocks) {
  cacheBytes_ = bytes;
  cacheBlocks_ = blocks;
  ApplySizing();
}

// ---- header ----------------------------------------------------------------------------

void TBlobFile::WriteHeader(const TBlobFileHeader& h) {
  uint8_t bytes[bfh::kSize];
  EncodeBlobFileHeader(h, bytes);
  if (encrypted_) ScrambleBlock(bytes, sizeof bytes);
  WriteAt(0, bytes, sizeof bytes);
}

void TBlobFile::Configure(int blockSize, bool encrypted) {
  if (blockSize < kMinBlobBlockSize) Raise(err::kBlobFieldsOrBlockSize);
  blockSize_ = blockSize;
  dataPerBlock_ = std::min(blockSize - static_cast<int>(bbl::kHeaderSize), kMaxBlobBlockData);
  encrypted_ = encrypted;
  ClearCache();
  ApplySizing();
}

void TBlobFile::CreateBlobFile(int blockSize, bool encrypted) {
  Configure(blockSize, encrypted);
  header_ = TBlobFileHeader{};
  Create();
  WriteHeader(header_);
  headerDirty_ = false;
}

void TBlobFile::Load(int blockSize, bool encrypted) {
  Configure(blockSize, encrypted);
  uint8_t bytes[bfh::kSize];
  if (ReadAt(0, bytes, sizeof bytes, true) != sizeof bytes) Raise(err::kHeaderCorrupt);
  if (encrypted_) ScrambleBlock(bytes, sizeof bytes);
  const TBlobFileHeader h = DecodeBlobFileHeader(bytes);
  if (h.version != kFormatVersion) Raise(err::kWrongVersion);
  if (h.nextBlock < 1 || h.nextBlock > kMaxBlobBlockNumber + 1) Raise(err::kHeaderCorrupt);
  if (h.freeHead < 0 || h.freeHead >= h.nextBlock) Raise(err::kHeaderCorrupt);
  header_ = h;
  headerDirty_ = false;
}

void TBlobFile::ReloadHeader() {
  uint8_t bytes[bfh::kSize];
  if (ReadAt(0, bytes, sizeof bytes, true) != sizeof bytes) Raise(err::kHeaderCorrupt);
  if (encrypted_) ScrambleBlock(bytes, sizeof bytes);
  const TBlobFileHeader h = DecodeBlobFileHeader(bytes);
  if (h.version != kFormatVersion) Raise(err::kWrongVersion);
  ClearCache();
  header_ = h;
  headerDirty_ = false;
}

void TBlobFile::Close() {
  CloseAfterWriting(
      [this] {
        WriteBack();
        FlushHeader();
      },
      [this] { ClearCache(); });
}

void TBlobFile::WriteCountedHeader(TBlobFileHeader& h) {
  h.pending = false;
  WriteHeader(h);
}

// ---- the block cache -------------------------------------------------------------------

TBlock* TBlobFile::FindCached(int32_t n) {
  return cache_.Find(n);
}

void TBlobFile::MakeRoom() {
  cache_.MakeRoom(
      capacity_, kCacheGrowth, deferWrites_,
      [this](std::unique_ptr<TBlock> b) { pool_.Give(std::move(b)); }, [this] { WriteBack(); });
}

TBlock* TBlobFile::AddBlock(int32_t n) {
  MakeRoom();
  std::unique_ptr<TBlock> owned = pool_.Take();
  TBlock* b = owned.get();
  b->number_ = n;
  b->dirty_ = false;
  b->bytes_.assign(blockSize_, 0);
  cache_.Insert(std::move(owned));
  return b;
}

void TBlobFile::ReadRun(int32_t n, int32_t count) {
  const int64_t onDisk = BlocksOnDisk();
  // A run longer than the cache's target would evict its own first blocks.
  const int limit = std::max(1, std::min(windowBlocks_, static_cast<int>(targetSize_)));
  int64_t last = static_cast<int64_t>(n) + std::clamp(count, 1, limit) - 1;
  last = std::min<int64_t>({last, onDisk, BlockCount()});
  if (n > last) return;
  const std::size_t bs = static_cast<std::size_t>(blockSize_);
  ioBuffer_.resize(static_cast<std::size_t>(last - n + 1) * bs);
  const std::size_t got = ReadAt(BlockOffset(n), ioBuffer_.data(), ioBuffer_.size(), true);
  ++reads_;
  const int32_t complete = static_cast<int32_t>(got / bs);
  auto take = [&](int32_t m) {
    TBlock* b = cache_.Lookup(m);
    if (b != nullptr && b->dirty_) return;
    if (b == nullptr) b = AddBlock(m);
    std::memcpy(b->bytes_.data(), ioBuffer_.data() + static_cast<std::size_t>(m - n) * bs, bs);
    if (encrypted_) ScrambleBlockUnits(b->bytes_.data(), bs);
  };
  // The wanted block comes last, so that making room for the others never evicts it.
  for (int32_t i = 1; i < complete; ++i)
    take(n + i);
  if (complete > 0) take(n);
}

int64_t TBlobFile::BlocksOnDisk() const {
  const uint64_t size = Size();
  return size > bfh::kSize ? static_cast<int64_t>((size - bfh::kSize) / blockSize_) : 0;
}

TBlock* TBlobFile::GetBlock(int32_t n, int32_t ahead) {
  if (n < 1 || n > BlockCount()) Raise(err::kBlobBuffersCorrupt);
  if (TBlock* b = FindCached(n)) {
    ++hits_;
    return b;
  }
  // Another process may have changed the file: the check drops the cache and re-reads the
  // header, so the block is looked up again against the new header.
  if (changeCheck_ && changeCheck_() && (n > BlockCount())) Raise(err::kBlobBuffersCorrupt);
  ReadRun(n, ahead);
  TBlock* b = FindCached(n);
  if (b == nullptr) Raise(err::kBlobBuffersCorrupt);
  return b;
}

void TBlobFile::ClearCache() {
  for (std::unique_ptr<TBlock>& b : cache_.TakeAll())
    pool_.Give(std::move(b));
  freed_.clear();
  capacity_ = targetSize_;
}

void TBlobFile::WriteBack() {
  const std::size_t bs = static_cast<std::size_t>(blockSize_);
  cache_.ForEachRun([](const TBlock& b) { return b.dirty_; },
                    [&](TBlock* const* run, std::size_t count) {
                      ioBuffer_.resize(count * bs);
                      for (std::size_t k = 0; k < count; ++k) {
                        uint8_t* dst = ioBuffer_.data() + k * bs;
                        std::memcpy(dst, run[k]->bytes_.data(), bs);
                        if (encrypted_) ScrambleBlockUnits(dst, bs);
                      }
                      WriteAt(BlockOffset(run[0]->number_), ioBuffer_.data(), ioBuffer_.size());
                      ++writes_;
                      for (std::size_t k = 0; k < count; ++k)
                        run[k]->dirty_ = false;
                    });
}

void TBlobFile::TrimCache() {
  WriteBack();
  cache_.TrimTo(targetSize_, [this](std::unique_ptr<TBlock> p) { pool_.Give(std::move(p)); });
  capacity_ = std::max(targetSize_, cache_.Size());
}

void TBlobFile::Empty() {
  ClearCache();
  Truncate(bfh::kSize);
  header_.freeHead = 0;
  header_.nextBlock = 1;
  headerDirty_ = true;
}

TBlockCacheStats TBlobFile::CacheStats() const {
  return {hits_, reads_, writes_, cache_.Size()};
}

// ---- values --------------------------------------------------------------------------

std::vector<uint8_t> TBlobFile::ReadValue(int32_t first, int32_t stamp) {
  if (first == 0) return {};
  if (first < 0 || first > BlockCount()) Raise(err::kBlobBuffersCorrupt);
  const TBlock* b = GetBlock(first, 1);
  if (b->Stamp() != stamp) Raise(err::kRecordChanged);
  const int32_t total = b->Total();
  if (total < 0) Raise(err::kInvalidBlobLength);
  // No chain in this file can hold more: refuse before allocating.
  if (BlocksFor(total) > BlockCount()) Raise(err::kEndOfBlob);
  // The header's block count may lie (a damaged or hostile file): the value grows only as
  // blocks really read supply it, and the first allocation is bounded by the blocks that
  // exist on disk or in the cache.
  const std::size_t want = static_cast<std::size_t>(total);
  const int64_t present = BlocksOnDisk() + static_cast<int64_t>(cache_.Size());
  std::vector<uint8_t> value;
  value.reserve(static_cast<std::size_t>(
      std::min<int64_t>(total, present * static_cast<int64_t>(dataPerBlock_))));
  int32_t visited = 1;
  for (;;) {
    if (b->Used() > dataPerBlock_) Raise(err::kBlobBuffersCorrupt);
    const std::size_t take = std::min<std::size_t>(b->Used(), want - value.size());
    value.insert(value.end(), b->Data(), b->Data() + take);
    if (value.size() == want) break;
    const int32_t next = b->Next();
    if (next == 0) Raise(err::kEndOfBlob);
    if (next < 0 || next > BlockCount() || ++visited > BlockCount()) {
      Raise(err::kBlobBuffersCorrupt);
    }
    const int64_t needed = BlocksFor(static_cast<int64_t>(want - value.size()));
    b = GetBlock(next, static_cast<int32_t>(std::min<int64_t>(needed, windowBlocks_)));
    if (b->Stamp() != stamp) Raise(err::kRecordChanged);
  }
  return value;
}

std::vector<int32_t> TBlobFile::CollectChain(int32_t first, int32_t stamp) {
  std::vector<int32_t> chain;
  // Stamp 0 is never given out; freed blocks carry it.
  if (first <= 0 || stamp == 0) return chain;
  std::set<int32_t> seen;
  int32_t n = first;
  while (n >= 1 && n <= BlockCount() && seen.insert(n).second) {
    const int32_t ahead = chain.empty() ? 1 : windowBlocks_;
    const TBlock* b = GetBlock(n, ahead);
    if (b->Stamp() != stamp) break;
    chain.push_back(n);
    n = b->Next();
  }
  return chain;
}

int32_t TBlobFile::AllocateBlock() {
  int32_t n = header_.freeHead;
  TBlock* b = nullptr;
  if (n != 0) {
    b = GetBlock(n, 1);
    const int32_t next = b->Next();
    if (next < 0 || next > BlockCount() || next == n) Raise(err::kBlobBuffersCorrupt);
    header_.freeHead = next;
  } else {
    n = header_.nextBlock;
    if (n > kMaxBlobBlockNumber ||
        BlockOffset(n) + static_cast<uint64_t>(blockSize_) > static_cast<uint64_t>(kMaxFileSize)) {
      Raise(err::kTableFull);
    }
    ++header_.nextBlock;
    b = FindCached(n);
    if (b == nullptr) b = AddBlock(n);
  }
  std::fill(b->bytes_.begin(), b->bytes_.end(), 0);
  b->dirty_ = true;
  headerDirty_ = true;
  return n;
}

void TBlobFile::FreeBlock(int32_t n) {
  TBlock* b = GetBlock(n, 1);
  // A freed block keeps nothing of its value: stamp 0 matches no reference.
  std::fill(b->bytes_.begin(), b->bytes_.end(), 0);
  le::PutI32(b->bytes_.data(), bbl::kNext, header_.freeHead);
  b->dirty_ = true;
  header_.freeHead = n;
  headerDirty_ = true;
}

int32_t TBlobFile::WriteValue(int32_t oldFirst, int32_t oldStamp, int32_t newStamp,
                              std::span<const uint8_t> value) {
  if (value.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    Raise(err::kInvalidBlobLength);
  }
  const std::vector<int32_t> old = CollectChain(oldFirst, oldStamp);
  const int64_t need = BlocksFor(static_cast<int64_t>(value.size()));

  // Refuse a value the file cannot take before anything is changed.
  int64_t fresh = need;
  if (fresh > 0) {
    std::set<int32_t> seen;
    for (int32_t f = header_.freeHead; f >= 1 && f <= BlockCount() && fresh > 0;) {
      if (!seen.insert(f).second) break;
      --fresh;
      f = GetBlock(f, 1)->Next();
    }
    const int64_t last = static_cast<int64_t>(header_.nextBlock) - 1 + fresh;
    if (fresh > 0 && (last > kMaxBlobBlockNumber ||
                      static_cast<int64_t>(BlockOffset(1)) + last * blockSize_ > kMaxFileSize)) {
      Raise(err::kTableFull);
    }
  }

  std::vector<int32_t> numbers;
  while (static_cast<int64_t>(numbers.size()) < need)
    numbers.push_back(AllocateBlock());

  std::size_t offset = 0;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    TBlock* b = GetBlock(numbers[i], 1);
    uint8_t* bytes = b->bytes_.data();
    std::fill(b->bytes_.begin(), b->bytes_.end(), 0);
    const std::size_t chunk = std::min<std::size_t>(dataPerBlock_, value.size() - offset);
    le::PutI32(bytes, bbl::kPrev, i == 0 ? 0 : numbers[i - 1]);
    le::PutI32(bytes, bbl::kNext, i + 1 < numbers.size() ? numbers[i + 1] : 0);
    le::PutU16(bytes, bbl::kUsed, static_cast<uint16_t>(chunk));
    le::PutI32(bytes, bbl::kStamp, newStamp);
    le::PutI32(bytes, bbl::kTotal, i == 0 ? static_cast<int32_t>(value.size()) : 0);
    std::memcpy(bytes + bbl::kHeaderSize, value.data() + offset, chunk);
    b->dirty_ = true;
    offset += chunk;
  }
  freed_.insert(freed_.end(), old.begin(), old.end());
  if (!numbers.empty() || !old.empty()) headerDirty_ = true;
  return numbers.empty() ? 0 : numbers.front();
}

TBlobFile::TBlockHead TBlobFile::BlockHead(int32_t n) {
  const uint64_t size = Size();
  if (n < 1 || n > BlockCount() || BlockOffset(n) + static_cast<uint64_t>(blockSize_) > size) {
    Raise(err::kBlobBuffersCorrupt);
  }
  const TBlock* b = GetBlock(n, windowBlocks_);
  return {b->Prev(), b->Next(), b->Used(), b->Stamp(), b->Total()};
}

int32_t TBlobFile::RebuildFreeChain(const std::vector<bool>& used) {
  freed_.clear();
  int32_t next = 0;
  int32_t count = 0;
  // From the highest block down, so that the chain runs from the lowest upwards.
  for (int32_t n = BlockCount(); n >= 1; --n) {
    if (static_cast<std::size_t>(n) < used.size() && used[static_cast<std::size_t>(n)]) continue;
    TBlock* b = GetBlock(n, 1);
    std::fill(b->bytes_.begin(), b->bytes_.end(), 0);
    le::PutI32(b->bytes_.data(), bbl::kNext, next);
    b->dirty_ = true;
    next = n;
    ++count;
  }
  header_.freeHead = next;
  headerDirty_ = true;
  return count;
}

void TBlobFile::FreeValue(int32_t first, int32_t stamp) {
  const std::vector<int32_t> chain = CollectChain(first, stamp);
  freed_.insert(freed_.end(), chain.begin(), chain.end());
  if (!chain.empty()) headerDirty_ = true;
}

bool TBlobFile::ApplyFrees() {
  if (freed_.empty()) return false;
  std::vector<int32_t> blocks;
  blocks.swap(freed_);
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  for (int32_t n : blocks)
    FreeBlock(n);
  return true;
}

}  // namespace mt
