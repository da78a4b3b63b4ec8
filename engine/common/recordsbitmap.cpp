// Record-number bitmaps and their pool.
#include "recordsbitmap.h"

#include <bit>
#include <mutex>
#include <stdexcept>

namespace mt {

void TRecordsBitmap::SetSize(uint32_t size) {
  size_ = size;
  const uint32_t newWords = WordCount();
  if (newWords > words_.capacity()) {
    const std::size_t wordsPerStep = kGrowthBytes / sizeof(uint32_t);
    words_.reserve((newWords + wordsPerStep - 1) / wordsPerStep * wordsPerStep);
  }
  words_.resize(newWords, 0);
  // Every operation keeps the bits above N clear, so records exposed by growing start clear.
  MaskTail();
}

void TRecordsBitmap::MaskTail() noexcept {
  if (size_ % 32 != 0 && !words_.empty()) words_.back() &= (uint32_t{1} << (size_ % 32)) - 1;
}

bool TRecordsBitmap::Test(uint32_t record) const noexcept {
  if (record == 0 || record > size_) return false;
  return (words_[(record - 1) / 32] >> ((record - 1) % 32)) & 1u;
}

void TRecordsBitmap::Set(uint32_t record) noexcept {
  if (record == 0 || record > size_) return;
  words_[(record - 1) / 32] |= uint32_t{1} << ((record - 1) % 32);
}

void TRecordsBitmap::Clear(uint32_t record) noexcept {
  if (record == 0 || record > size_) return;
  words_[(record - 1) / 32] &= ~(uint32_t{1} << ((record - 1) % 32));
}

void TRecordsBitmap::ClearAll() noexcept {
  std::fill(words_.begin(), words_.end(), 0u);
}

void TRecordsBitmap::SetAll() noexcept {
  std::fill(words_.begin(), words_.end(), ~0u);
  MaskTail();
}

void TRecordsBitmap::InvertAll() noexcept {
  for (auto& w : words_)
    w = ~w;
  MaskTail();
}

void TRecordsBitmap::And(const TRecordsBitmap& other) {
  if (other.size_ != size_) throw std::invalid_argument("record bitmaps of different sizes");
  for (std::size_t i = 0; i < words_.size(); ++i)
    words_[i] &= other.words_[i];
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) {
  if (other.size_ != size_) throw std::invalid_argument("record bitmaps of different sizes");
  for (std::size_t i = 0; i < words_.size(); ++i)
    words_[i] |= other.words_[i];
}

void TRecordsBitmap::CopyFrom(const TRecordsBitmap& other) {
  SetSize(other.size_);
  std::copy(other.words_.begin(), other.words_.end(), words_.begin());
}

uint32_t TRecordsBitmap::Count() const noexcept {
  uint32_t n = 0;
  for (uint32_t w : words_)
    if (w != 0) n += static_cast<uint32_t>(std::popcount(w));
  return n;
}

uint32_t TRecordsBitmap::CountBelow(uint32_t record) const noexcept {
  if (record <= 1) return 0;
  if (record > size_) return Count();
  const uint32_t bits = record - 1;  // records 1..record-1 are bits 0..bits-1
  uint32_t n = 0;
  for (uint32_t i = 0; i < bits / 32; ++i)
    if (words_[i] != 0) n += static_cast<uint32_t>(std::popcount(words_[i]));
  if (bits % 32) {
    n += static_cast<uint32_t>(
        std::popcount(words_[bits / 32] & ((uint32_t{1} << (bits % 32)) - 1)));
  }
  return n;
}

uint32_t TRecordsBitmap::FindNext(uint32_t from, uint32_t skip, uint32_t* steps) const noexcept {
  uint32_t passed = 0;
  // Bit index of the first candidate: record from + 1 is bit `from`.
  uint64_t bit = from;
  while (bit < size_) {
    const uint32_t wi = static_cast<uint32_t>(bit / 32);
    uint32_t w = words_[wi] & (~0u << (bit % 32));
    if (w == 0) {
      bit = (uint64_t{wi} + 1) * 32;
      continue;
    }
    const uint32_t inWord = static_cast<uint32_t>(std::popcount(w));
    if (passed + inWord <= skip) {
      passed += inWord;
      bit = (uint64_t{wi} + 1) * 32;
      continue;
    }
    // The answer is in this word: drop the (skip - passed) lowest set bits.
    for (uint32_t k = skip - passed; k > 0; --k)
      w &= w - 1;
    if (steps) *steps = skip + 1;
    return wi * 32 + static_cast<uint32_t>(std::countr_zero(w)) + 1;
  }
  if (steps) *steps = passed;
  return 0;
}

std::pair<uint32_t, uint32_t> TRecordsBitmap::NextSpan(uint32_t after,
                                                       uint32_t length) const noexcept {
  const uint32_t first = FindNext(after);
  if (first == 0) return {0, 0};
  const uint64_t end =
      std::min<uint64_t>(uint64_t{first} + std::max<uint32_t>(length, 1), uint64_t{size_} + 1);
  return {first, FindPrior(static_cast<uint32_t>(end))};
}

uint32_t TRecordsBitmap::FindPrior(uint32_t from, uint32_t skip, uint32_t* steps) const noexcept {
  uint32_t passed = 0;
  // Candidates are records below `from`, i.e. bits below min(from - 1, N).
  int64_t limit = std::min<int64_t>(int64_t{from} - 1, size_);  // bits [0, limit)
  while (limit > 0) {
    const uint32_t wi = static_cast<uint32_t>((limit - 1) / 32);
    const uint32_t used = static_cast<uint32_t>(limit - int64_t{wi} * 32);  // 1..32 bits
    uint32_t w = words_[wi] & (used == 32 ? ~0u : ((uint32_t{1} << used) - 1));
    if (w == 0) {
      limit = int64_t{wi} * 32;
      continue;
    }
    const uint32_t inWord = static_cast<uint32_t>(std::popcount(w));
    if (passed + inWord <= skip) {
      passed += inWord;
      limit = int64_t{wi} * 32;
      continue;
    }
    for (uint32_t k = skip - passed; k > 0; --k)
      w &= ~(uint32_t{1} << (31 - std::countl_zero(w)));
    if (steps) *steps = skip + 1;
    return wi * 32 + static_cast<uint32_t>(31 - std::countl_zero(w)) + 1;
  }
  if (steps) *steps = passed;
  return 0;
}

namespace {

struct TPool {
  std::mutex lock;
  std::vector<std::unique_ptr<TRecordsBitmap>> spare;
};

TPool& Pool() {
  static TPool* pool = new TPool;  // lives to the very end of the process
  return *pool;
}

}  // namespace

void TRecordsBitmapStack::TReturn::operator()(TRecordsBitmap* bitmap) const noexcept {
  std::unique_ptr<TRecordsBitmap> owned(bitmap);
  TPool& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  if (pool.spare.size() < kMaxSpare) pool.spare.push_back(std::move(owned));
}

TRecordsBitmapStack::TPooledBitmap TRecordsBitmapStack::Take(uint32_t size) {
  std::unique_ptr<TRecordsBitmap> bitmap;
  {
    TPool& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    if (!pool.spare.empty()) {
      bitmap = std::move(pool.spare.back());
      pool.spare.pop_back();
    }
  }
  if (!bitmap) bitmap = std::make_unique<TRecordsBitmap>();
  bitmap->SetSize(size);
  bitmap->ClearAll();
  return TPooledBitmap(bitmap.release());
}

std::size_t TRecordsBitmapStack::SpareCount() {
  TPool& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.lock);
  return pool.spare.size();
}

}  // namespace mt
