// B-tree pages: decoded entries, leaf compression and the disk form.
#include "indexpage.h"

#include <algorithm>
#include <cstring>

#include "byteio.h"

namespace mt {
namespace {

constexpr int kMaxCompressCount = 255;

// How one compressed leaf entry is stored.
struct TPacking {
  int d = 0;                 // leading bytes taken from the previous key
  int t = 0;                 // zero bytes dropped
  int headEnd = 0;           // stored key bytes are [d, headEnd) ...
  bool suffixApart = false;  // ... followed by the 4-byte suffix
};

// Where the zeros are counted: before the suffix or at the end of the bytes after d.
bool SuffixApart(const TPageFormat& f, int d) {
  if (!f.idSuffix) return false;
  if (f.compression == 2) return true;
  return f.compression == 3 && f.keyLength - d >= 5;
}

TPacking Pack(const TPageFormat& f, const uint8_t* previous, const uint8_t* key) {
  TPacking p;
  const int length = f.keyLength;
  if ((f.compression & 1) != 0 && previous != nullptr) {
    const int limit = std::min(length, kMaxCompressCount);
    while (p.d < limit && previous[p.d] == key[p.d])
      ++p.d;
  }
  p.suffixApart = SuffixApart(f, p.d);
  const int end = p.suffixApart ? length - 4 : length;
  if ((f.compression & 2) != 0) {
    while (p.t < kMaxCompressCount && end - p.t > p.d && key[end - p.t - 1] == 0)
      ++p.t;
  }
  p.headEnd = end - p.t;
  return p;
}

bool IsLeafType(uint8_t type) {
  return type == ptype::kLeaf || type == ptype::kRootLeaf;
}

int HeaderBytes(const TPageFormat& f) {
  return ((f.compression & 1) != 0 ? 1 : 0) + ((f.compression & 2) != 0 ? 1 : 0);
}

int PackedSize(const TPageFormat& f, const TPacking& p) {
  return HeaderBytes(f) + (p.headEnd - p.d) + (p.suffixApart ? 4 : 0) + 4;
}

}  // namespace

int TPageFormat::PackedEntrySize(const uint8_t* previous, const uint8_t* key) const {
  return PackedSize(*this, Pack(*this, previous, key));
}

// ---- entries ------------------------------------------------------------------------------

int32_t TPage::Value(int i) const {
  return le::GetI32(Entry(i), static_cast<std::size_t>(format_->keyLength));
}

void TPage::SetValue(int i, int32_t value) {
  le::PutI32(Entry(i), static_cast<std::size_t>(format_->keyLength), value);
}

int32_t TPage::Below(int i) const {
  return le::GetI32(Entry(i), static_cast<std::size_t>(format_->keyLength) + 4);
}

void TPage::SetBelow(int i, int32_t count) {
  le::PutI32(Entry(i), static_cast<std::size_t>(format_->keyLength) + 4, count);
}

void TPage::SetKey(int i, const uint8_t* key) {
  std::memmove(Entry(i), key, static_cast<std::size_t>(format_->keyLength));
  if (IsLeaf() && format_->Compressed()) RecomputePacked();
}

void TPage::Insert(int i, const uint8_t* key, int32_t value, int32_t below) {
  const std::size_t size = static_cast<std::size_t>(format_->MemoryEntrySize());
  if (IsLeaf() && format_->Compressed()) {
    const uint8_t* previous = i > 0 ? Key(i - 1) : nullptr;
    int delta = format_->PackedEntrySize(previous, key);
    if (i < count_) {
      delta += format_->PackedEntrySize(key, Key(i)) - format_->PackedEntrySize(previous, Key(i));
    }
    packed_ += delta;
  }
  const std::size_t before = static_cast<std::size_t>(i) * size;
  if (head_ >= size && i < count_ / 2) {
    // Into the unused head: the entries before i move one place to the front.
    std::memmove(data_.data() + head_ - size, data_.data() + head_, before);
    head_ -= size;
  } else {
    data_.insert(data_.begin() + static_cast<std::ptrdiff_t>(head_ + before), size, 0);
  }
  uint8_t* e = data_.data() + head_ + before;
  std::memcpy(e, key, static_cast<std::size_t>(format_->keyLength));
  ++count_;
  SetValue(i, value);
  SetBelow(i, below);
}

void TPage::Remove(int i) {
  const std::size_t size = static_cast<std::size_t>(format_->MemoryEntrySize());
  if (IsLeaf() && format_->Compressed()) {
    const uint8_t* previous = i > 0 ? Key(i - 1) : nullptr;
    int delta = -format_->PackedEntrySize(previous, Key(i));
    if (i + 1 < count_) {
      delta += format_->PackedEntrySize(previous, Key(i + 1)) -
               format_->PackedEntrySize(Key(i), Key(i + 1));
    }
    packed_ += delta;
  }
  const std::size_t at = head_ + static_cast<std::size_t>(i) * size;
  --count_;
  if (i < count_ / 2) {
    // The entries before i move one place to the back, into the removed one's place.
    std::memmove(data_.data() + head_ + size, data_.data() + head_, at - head_);
    head_ += size;
    TrimHead();
  } else {
    data_.erase(data_.begin() + static_cast<std::ptrdiff_t>(at),
                data_.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
}

void TPage::TrimHead() {
  const std::size_t size = static_cast<std::size_t>(format_->MemoryEntrySize());
  if (head_ <= static_cast<std::size_t>(count_) * size + size) return;
  data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
  head_ = 0;
}

void TPage::Clear() {
  data_.clear();
  head_ = 0;
  count_ = 0;
  packed_ = 0;
  prev_ = next_ = 0;
}

void TPage::MoveTailTo(int from, TPage& to) {
  const std::size_t size = static_cast<std::size_t>(format_->MemoryEntrySize());
  const auto begin =
      data_.begin() + static_cast<std::ptrdiff_t>(head_ + static_cast<std::size_t>(from) * size);
  to.data_.insert(to.data_.begin() + static_cast<std::ptrdiff_t>(to.head_), begin, data_.end());
  to.count_ += count_ - from;
  data_.erase(begin, data_.end());
  count_ = from;
  TrimHead();
  RecomputePacked();
  to.RecomputePacked();
}

void TPage::TakeHeadFrom(TPage& from, int n) {
  const std::size_t size = static_cast<std::size_t>(format_->MemoryEntrySize());
  const auto begin = from.data_.begin() + static_cast<std::ptrdiff_t>(from.head_);
  const auto end = begin + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(n) * size);
  data_.insert(data_.end(), begin, end);
  count_ += n;
  from.data_.erase(begin, end);
  from.count_ -= n;
  from.TrimHead();
  RecomputePacked();
  from.RecomputePacked();
}

void TPage::RecomputePacked() {
  packed_ = 0;
  if (!(IsLeaf() && format_->Compressed())) return;
  for (int i = 0; i < count_; ++i)
    packed_ += format_->PackedEntrySize(i > 0 ? Key(i - 1) : nullptr, Key(i));
}

int TPage::UsedBytes() const {
  if (IsLeaf()) {
    return format_->Compressed() ? packed_ : count_ * format_->LeafEntrySize();
  }
  return count_ * format_->InternalEntrySize();
}

bool TPage::Overfull() const {
  return UsedBytes() > ipl::kDataBytes;
}

int64_t TPage::RecordsBelow() const {
  if (IsLeaf()) return count_;
  int64_t sum = 0;
  for (int i = 0; i < count_; ++i)
    sum += Below(i);
  return sum;
}

// ---- disk form ----------------------------------------------------------------------------

void TPage::Encode(uint8_t* out) const {
  const TPageFormat& f = *format_;
  const std::size_t keyLength = static_cast<std::size_t>(f.keyLength);
  std::memset(out, 0, kIndexPageSize);
  le::PutU8(out, ipl::kType, type_);
  le::PutU16(out, ipl::kCount, static_cast<uint16_t>(count_));
  le::PutI32(out, ipl::kPrev, prev_);
  le::PutI32(out, ipl::kNext, next_);
  uint8_t* p = out + ipl::kEntries;
  // In memory an entry is already its disk form (key, little-endian value, count) followed
  // by what the disk leaves out.
  const std::size_t stored =
      static_cast<std::size_t>(IsLeaf() ? f.LeafEntrySize() : f.InternalEntrySize());
  if (!IsLeaf() || !f.Compressed()) {
    if (stored == static_cast<std::size_t>(f.MemoryEntrySize())) {
      std::memcpy(p, Entry(0), stored * static_cast<std::size_t>(count_));
      return;
    }
    for (int i = 0; i < count_; ++i) {
      std::memcpy(p, Entry(i), stored);
      p += stored;
    }
    return;
  }
  le::PutU16(out, ipl::kUsed, static_cast<uint16_t>(packed_));
  for (int i = 0; i < count_; ++i) {
    const uint8_t* key = Key(i);
    const TPacking pk = Pack(f, i > 0 ? Key(i - 1) : nullptr, key);
    if ((f.compression & 1) != 0) *p++ = static_cast<uint8_t>(pk.d);
    if ((f.compression & 2) != 0) *p++ = static_cast<uint8_t>(pk.t);
    const std::size_t head = static_cast<std::size_t>(pk.headEnd - pk.d);
    if (head != 0) std::memcpy(p, key + pk.d, head);
    p += head;
    if (pk.suffixApart) {
      std::memcpy(p, key + keyLength - 4, 4);
      p += 4;
    }
    le::PutI32(p, 0, Value(i));
    p += 4;
  }
}

bool TPage::Decode(const uint8_t* in, int32_t nextPage) {
  const TPageFormat& f = *format_;
  const int keyLength = f.keyLength;
  const uint8_t type = le::GetU8(in, ipl::kType);
  const int count = le::GetU16(in, ipl::kCount);
  const int32_t prev = le::GetI32(in, ipl::kPrev);
  const int32_t next = le::GetI32(in, ipl::kNext);
  if (type > ptype::kRootLeaf) return false;
  if (prev < 0 || prev >= nextPage || next < 0 || next >= nextPage) return false;
  // No more entries than the smallest entries could fill.
  const int smallest = IsLeafType(type) ? (f.Compressed() ? HeaderBytes(f) + 4 : f.LeafEntrySize())
                                        : f.InternalEntrySize();
  if (count > ipl::kDataBytes / smallest) return false;
  type_ = type;
  prev_ = prev;
  next_ = next;
  count_ = 0;
  packed_ = 0;
  data_.assign(static_cast<std::size_t>(count) * f.MemoryEntrySize(), 0);
  head_ = 0;
  const uint8_t* p = in + ipl::kEntries;
  const uint8_t* end = p + ipl::kDataBytes;

  if (!IsLeaf()) {
    if (count > f.InternalCapacity()) return false;
    for (int i = 0; i < count; ++i) {
      uint8_t* e = Entry(i);
      std::memcpy(e, p, static_cast<std::size_t>(keyLength));
      const int32_t child = le::GetI32(p, static_cast<std::size_t>(keyLength));
      const int32_t below = f.counts ? le::GetI32(p, static_cast<std::size_t>(keyLength) + 4) : 0;
      if (child < 1 || child >= nextPage || below < 0) return false;
      le::PutI32(e, static_cast<std::size_t>(keyLength), child);
      le::PutI32(e, static_cast<std::size_t>(keyLength) + 4, below);
      p += f.InternalEntrySize();
    }
    count_ = count;
    return true;
  }
  if (!f.Compressed()) {
    if (count > f.LeafCapacity()) return false;
    for (int i = 0; i < count; ++i) {
      uint8_t* e = Entry(i);
      std::memcpy(e, p, static_cast<std::size_t>(keyLength) + 4);
      p += f.LeafEntrySize();
    }
    count_ = count;
    return true;
  }
  const int used = le::GetU16(in, ipl::kUsed);
  if (used > ipl::kDataBytes) return false;
  end = p + used;
  const int header = HeaderBytes(f);
  for (int i = 0; i < count; ++i) {
    uint8_t* e = Entry(i);
    if (end - p < header) return false;
    const int d = (f.compression & 1) != 0 ? *p++ : 0;
    const int t = (f.compression & 2) != 0 ? *p++ : 0;
    if (d > keyLength || (i == 0 && d != 0)) return false;
    const bool apart = SuffixApart(f, d);
    const int headEnd = (apart ? keyLength - 4 : keyLength) - t;
    if (headEnd < d) return false;
    const int stored = headEnd - d;
    if (end - p < stored + (apart ? 4 : 0) + 4) return false;
    if (d != 0) std::memcpy(e, Entry(i - 1), static_cast<std::size_t>(d));
    if (stored != 0) std::memcpy(e + d, p, static_cast<std::size_t>(stored));
    p += stored;
    // The dropped zeros are already zero in the fresh entry.
    if (apart) {
      std::memcpy(e + keyLength - 4, p, 4);
      p += 4;
    }
    std::memcpy(e + keyLength, p, 4);
    p += 4;
  }
  if (p != end) return false;
  count_ = count;
  RecomputePacked();
  // Entries are re-packed as tightly as possible, never larger than stored.
  return packed_ <= used;
}

}  // namespace mt
