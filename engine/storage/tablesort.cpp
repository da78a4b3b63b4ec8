// Sorting a table in place: sort keys, sorted runs in memory and in temporary files, their
// merge, the kept rows in a new data file, and the swap of the data files.
#include "tablesort.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_set>

#include "byteio.h"
#include "datacursor.h"
#include "datatable.h"
#include "engine/common/engineerror.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"
#include "indexbuild.h"
#include "indexkey.h"
#include "record.h"
#include "tablenames.h"

namespace mt {
namespace {

// ---- sort keys ----------------------------------------------------------------------------

// Builds the sort key of a record image: the key fields one after another, each a flag byte
// (0 null, 1 value) and the value's bytes, all inverted for a descending field. Strings carry
// their locale sort key (variable length, ending in its only zero byte); other fields their
// index key bytes (fixed length). So unsigned byte order of whole keys is the sort order, and
// equal keys are equal rows.
class TSortKeyBuilder {
 public:
  TSortKeyBuilder(const TRecordFormat& format, const std::vector<TSortKey>& keys, uint32_t localeId)
      : localeId_(localeId) {
    for (const TSortKey& k : keys) {
      if (k.fieldNo < 1 || k.fieldNo > format.FieldCount()) {
        RaiseEngineError(err::kInvalidField,
                         {.table = format.TableName(), .field = std::to_string(k.fieldNo)});
      }
      const TFieldDescriptor& f = format.Field(k.fieldNo);
      if (IsBlobField(f.type)) {
        RaiseEngineError(err::kInvalidBlobField, {.table = format.TableName(), .field = f.name});
      }
      if (f.isVirtual || FieldKeySize(f.type, f.subtype, f.size) == kKeySizeNotIndexable) {
        RaiseEngineError(err::kInvalidField, {.table = format.TableName(), .field = f.name});
      }
      TPart part;
      part.descending = k.descending;
      part.ignoreCase = k.caseInsensitive;
      part.isString = f.type == ftype::kString;
      part.offset = f.offset;
      part.physicalSize = f.physicalSize;
      if (!part.isString) {
        TIndexDescriptor d;
        d.fields = {static_cast<uint16_t>(k.fieldNo)};
        part.def = TKeyDef::ForIndex(d, format.Fields(), 0, true);
      }
      parts_.push_back(std::move(part));
    }
  }

  void Build(const uint8_t* image, std::vector<uint8_t>& key) const {
    key.clear();
    for (const TPart& p : parts_) {
      const std::size_t start = key.size();
      if (p.isString) {
        if (image[p.offset] == 0) {
          key.push_back(0);
        } else {
          key.push_back(1);
          const auto* text = reinterpret_cast<const char*>(image + p.offset + 1);
          AppendLocaleSortKey(localeId_, std::string_view(text, p.physicalSize), p.ignoreCase, key);
        }
      } else {
        key.resize(start + static_cast<std::size_t>(p.def.Length()));
        p.def.Build(image, key.data() + start);
      }
      if (p.descending) {
        for (std::size_t i = start; i < key.size(); ++i)
          key[i] = static_cast<uint8_t>(~key[i]);
      }
    }
  }

 private:
  struct TPart {
    bool descending = false;
    bool ignoreCase = false;
    bool isString = false;
    int offset = 0;
    int physicalSize = 0;
    TKeyDef def;  // the one-field key of a non-string field
  };

  uint32_t localeId_;
  std::vector<TPart> parts_;
};

// ---- items --------------------------------------------------------------------------------

// An item is a row on its way through the sort: uint32 key length (host order), the key, the
// record image. Items in a run file follow each other in this form.
constexpr std::size_t kItemHeader = 4;

uint32_t ItemKeyLength(const uint8_t* item) {
  uint32_t n;
  std::memcpy(&n, item, sizeof n);
  return n;
}

const uint8_t* ItemKey(const uint8_t* item) {
  return item + kItemHeader;
}

const uint8_t* ItemImage(const uint8_t* item) {
  return item + kItemHeader + ItemKeyLength(item);
}

// An empty key (a sort without key fields) may come with a null pointer, which memcmp must
// not be given even for zero bytes.
int CompareKeys(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
  const uint32_t common = std::min(aLength, bLength);
  const int c = common == 0 ? 0 : std::memcmp(a, b, common);
  if (c != 0) return c;
  return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

int CompareItems(const uint8_t* a, const uint8_t* b) {
  return CompareKeys(ItemKey(a), ItemKeyLength(a), ItemKey(b), ItemKeyLength(b));
}

// The first eight key bytes as a big-endian number (zeros after a shorter key): comparing
// prefixes first settles most comparisons without touching the items.
uint64_t KeyPrefix(const uint8_t* key, uint32_t length) {
  uint64_t v = 0;
  const uint32_t n = std::min<uint32_t>(length, 8);
  for (uint32_t i = 0; i < n; ++i)
    v |= static_cast<uint64_t>(key[i]) << (56 - 8 * i);
  return v;
}

// Records moved between the data files in one transfer: about a megabyte.
int32_t ChunkRows(std::size_t imageSize) {
  return static_cast<int32_t>(std::max<std::size_t>(1, (std::size_t{1} << 20) / imageSize));
}

// ---- temporary run files ------------------------------------------------------------------

std::string UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  return "." + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// One sorted run in a temporary file (deleted when closed), written once, then read once.
class TRunFile {
 public:
  TRunFile(const std::string& name, std::size_t bufferBytes) : file_(name) {
    file_.SetTemporary(true);
    file_.Create(true);
    buffer_.reserve(bufferBytes);
  }

  void Append(const uint8_t* bytes, std::size_t count) {
    if (buffer_.size() + count > buffer_.capacity()) FlushBuffer();
    if (count > buffer_.capacity()) {
      file_.WriteAt(written_, bytes, count);
      written_ += count;
      return;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
  }

  void FinishWriting() {
    FlushBuffer();
    std::vector<uint8_t>().swap(buffer_);
  }

  // Starts reading with a buffer of this many bytes (grown when an item is larger).
  void StartReading(std::size_t bufferBytes) {
    buffer_.assign(bufferBytes, 0);
    begin_ = end_ = 0;
    readAt_ = 0;
  }

  // The next item, valid until the next call; nullptr at the end.
  const uint8_t* Next(std::size_t imageSize) {
    if (!Have(kItemHeader)) return nullptr;
    const std::size_t size = kItemHeader + ItemKeyLength(buffer_.data() + begin_) + imageSize;
    if (!Have(size)) RaiseEngineError(err::kReadError, {.table = file_.Name()});
    const uint8_t* item = buffer_.data() + begin_;
    begin_ += size;
    return item;
  }

 private:
  void FlushBuffer() {
    if (buffer_.empty()) return;
    file_.WriteAt(written_, buffer_.data(), buffer_.size());
    written_ += buffer_.size();
    buffer_.clear();
  }

  // Makes `count` bytes from begin_ on available in the buffer; false at the end of the file.
  bool Have(std::size_t count) {
    if (end_ - begin_ >= count) return true;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() < count) buffer_.resize(count);
    while (end_ < count && readAt_ < written_) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<uint64_t>(buffer_.size() - end_, written_ - readAt_));
      const std::size_t got = file_.ReadAt(readAt_, buffer_.data() + end_, want);
      readAt_ += got;
      end_ += got;
    }
    return end_ >= count;
  }

  TFileHandler file_;
  std::vector<uint8_t> buffer_;
  uint64_t written_ = 0;
  uint64_t readAt_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// ---- the sorter ---------------------------------------------------------------------------

// Collects items in memory up to the limit, sorts them (stable: equal keys stay in the order
// they came) and writes full batches as runs; then hands out every item in order, merging the
// runs when there are any (equal keys from an earlier run first, so the whole sort is stable).
// At most kMergeWidth runs are merged at once; more are first merged into longer runs.
class TSorter {
 public:
  using TVisit = std::function<bool(const uint8_t* item)>;

  TSorter(std::size_t memoryLimit, std::string runPrefix, std::size_t imageSize)
      : limit_(memoryLimit),
        blockSize_(std::clamp(memoryLimit / 16, kMinBlock, kMaxBlock)),
        ioBuffer_(std::clamp(memoryLimit / (kMergeWidth + 1), kMinIoBuffer, kMaxIoBuffer)),
        runPrefix_(std::move(runPrefix)),
        imageSize_(imageSize) {}

  void Add(const std::vector<uint8_t>& key, const uint8_t* image) {
    const auto keyLength = static_cast<uint32_t>(key.size());
    const std::size_t size = kItemHeader + key.size() + imageSize_;
    if (!entries_.empty() && MemoryUsed() + size + kEntryCost > limit_) WriteRun();
    uint8_t* item = Allocate(size);
    std::memcpy(item, &keyLength, sizeof keyLength);
    if (!key.empty()) std::memcpy(item + kItemHeader, key.data(), key.size());
    std::memcpy(item + kItemHeader + key.size(), image, imageSize_);
    entries_.push_back({KeyPrefix(key.data(), keyLength), item});
    longKeys_ = longKeys_ || keyLength > sizeof(uint64_t);
  }

  int Runs() const { return runsWritten_; }

  // Calls visit for every item in sorted order until it returns false.
  void Drain(const TVisit& visit) {
    if (runs_.empty()) {
      SortEntries();
      for (std::size_t i = 0; i < entries_.size(); ++i) {
        Prefetch(i + kPrefetchDistance);
        if (!visit(entries_[i].item)) return;
      }
      return;
    }
    if (!entries_.empty()) WriteRun();
    ReleaseMemory();
    while (runs_.size() > kMergeWidth) {
      // Consecutive runs become one, so earlier rows stay in earlier runs.
      std::vector<std::unique_ptr<TRunFile>> longer;
      for (std::size_t first = 0; first < runs_.size(); first += kMergeWidth) {
        const std::size_t last = std::min(first + kMergeWidth, runs_.size());
        std::vector<std::unique_ptr<TRunFile>> group;
        for (std::size_t i = first; i < last; ++i)
          group.push_back(std::move(runs_[i]));
        longer.push_back(NewRun());
        TRunFile& target = *longer.back();
        Merge(group, [&](const uint8_t* item) {
          target.Append(item, ItemSize(item));
          return true;
        });
        target.FinishWriting();
      }
      runs_ = std::move(longer);
    }
    Merge(runs_, visit);
  }

 private:
  struct TEntry {
    uint64_t prefix;
    const uint8_t* item;
  };
  // The entry and its twin in the radix sort's second array.
  static constexpr std::size_t kEntryCost = 2 * sizeof(TEntry);
  static constexpr std::size_t kRadixThreshold = 64;
  static constexpr std::size_t kPrefetchDistance = 8;
  static constexpr std::size_t kMinBlock = 512;
  static constexpr std::size_t kMaxBlock = std::size_t{1} << 20;
  static constexpr std::size_t kMergeWidth = 64;
  static constexpr std::size_t kMinIoBuffer = 16 * 1024;
  static constexpr std::size_t kMaxIoBuffer = std::size_t{1} << 20;

  std::size_t ItemSize(const uint8_t* item) const {
    return kItemHeader + ItemKeyLength(item) + imageSize_;
  }

  std::size_t MemoryUsed() const { return blockBytes_ + entries_.size() * kEntryCost; }

  uint8_t* Allocate(std::size_t size) {
    if (current_ == kNone || used_ + size > blockSizes_[current_]) {
      const std::size_t next = current_ == kNone ? 0 : current_ + 1;
      if (next == blocks_.size() || blockSizes_[next] < size) {
        const std::size_t capacity = std::max(blockSize_, size);
        const auto at = static_cast<std::ptrdiff_t>(next);
        blocks_.insert(blocks_.begin() + at, std::make_unique_for_overwrite<uint8_t[]>(capacity));
        blockSizes_.insert(blockSizes_.begin() + at, capacity);
      }
      current_ = next;
      used_ = 0;
      blockBytes_ += blockSizes_[current_];
    }
    uint8_t* p = blocks_[current_].get() + used_;
    used_ += size;
    return p;
  }

  // The items lie all over memory: asking for them a few entries ahead hides the misses.
  void Prefetch(std::size_t i) const {
    if (i >= entries_.size()) return;
    __builtin_prefetch(entries_[i].item);
    __builtin_prefetch(entries_[i].item + 64);
  }

  // A stable sort of the batch: least-significant-digit radix passes over the key prefixes
  // (passes over a byte every prefix shares are skipped), then, for keys longer than their
  // prefix, a stable comparison sort of each run of equal prefixes.
  void SortEntries() {
    const std::size_t n = entries_.size();
    auto byItem = [](const TEntry& a, const TEntry& b) { return CompareItems(a.item, b.item) < 0; };
    if (n < kRadixThreshold) {
      std::stable_sort(entries_.begin(), entries_.end(), [&](const TEntry& a, const TEntry& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : byItem(a, b);
      });
      return;
    }
    std::vector<std::array<std::size_t, 256>> counts(sizeof(uint64_t));
    for (const TEntry& e : entries_) {
      for (std::size_t b = 0; b < sizeof(uint64_t); ++b)
        ++counts[b][(e.prefix >> (8 * b)) & 0xFF];
    }
    scratch_.resize(n);
    for (std::size_t b = 0; b < sizeof(uint64_t); ++b) {
      std::array<std::size_t, 256>& c = counts[b];
      if (std::any_of(c.begin(), c.end(), [n](std::size_t k) { return k == n; })) continue;
      std::size_t at = 0;
      for (std::size_t& k : c) {
        const std::size_t here = k;
        k = at;
        at += here;
      }
      for (const TEntry& e : entries_)
        scratch_[c[(e.prefix >> (8 * b)) & 0xFF]++] = e;
      entries_.swap(scratch_);
    }
    if (!longKeys_) return;
    for (std::size_t first = 0; first < n;) {
      std::size_t last = first + 1;
      while (last < n && entries_[last].prefix == entries_[first].prefix)
        ++last;
      if (last - first > 1) {
        std::stable_sort(entries_.begin() + static_cast<std::ptrdiff_t>(first),
                         entries_.begin() + static_cast<std::ptrdiff_t>(last), byItem);
      }
      first = last;
    }
  }

  std::unique_ptr<TRunFile> NewRun() {
    ++runsWritten_;
    return std::make_unique<TRunFile>(runPrefix_ + UniqueSuffix() + ".run", ioBuffer_);
  }

  void WriteRun() {
    SortEntries();
    runs_.push_back(NewRun());
    TRunFile& run = *runs_.back();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      Prefetch(i + kPrefetchDistance);
      run.Append(entries_[i].item, ItemSize(entries_[i].item));
    }
    run.FinishWriting();
    // The blocks are kept for the next batch.
    entries_.clear();
    longKeys_ = false;
    current_ = kNone;
    used_ = 0;
    blockBytes_ = 0;
  }

  void ReleaseMemory() {
    std::vector<TEntry>().swap(entries_);
    std::vector<TEntry>().swap(scratch_);
    blocks_.clear();
    blockSizes_.clear();
    current_ = kNone;
    used_ = 0;
    blockBytes_ = 0;
  }

  // Merges the runs (closing them as they are read out) until visit returns false.
  void Merge(std::vector<std::unique_ptr<TRunFile>>& runs, const TVisit& visit) {
    std::vector<const uint8_t*> current(runs.size());
    std::vector<std::size_t> heap;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      runs[i]->StartReading(ioBuffer_);
      current[i] = runs[i]->Next(imageSize_);
      if (current[i] != nullptr) heap.push_back(i);
    }
    // A min-heap by item, then by run (earlier runs hold earlier rows).
    auto after = [&](std::size_t a, std::size_t b) {
      const int c = CompareItems(current[a], current[b]);
      return c != 0 ? c > 0 : a > b;
    };
    std::make_heap(heap.begin(), heap.end(), after);
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), after);
      const std::size_t run = heap.back();
      if (!visit(current[run])) break;
      current[run] = runs[run]->Next(imageSize_);
      if (current[run] == nullptr) {
        heap.pop_back();
        runs[run].reset();
      } else {
        std::push_heap(heap.begin(), heap.end(), after);
      }
    }
    runs.clear();
  }

  std::size_t limit_;
  std::size_t blockSize_;
  std::size_t ioBuffer_;
  std::string runPrefix_;
  std::size_t imageSize_;
  std::vector<TEntry> entries_;
  std::vector<TEntry> scratch_;
  bool longKeys_ = false;  // some key of the batch is longer than its prefix
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::vector<std::size_t> blockSizes_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current_ = kNone;  // the block being filled
  std::size_t used_ = 0;         // bytes used in it
  std::size_t blockBytes_ = 0;   // bytes of the blocks taken by this batch
  std::vector<std::unique_ptr<TRunFile>> runs_;
  int runsWritten_ = 0;
};

// ---- the kept rows ------------------------------------------------------------------------

// A blob value a record refers to: first block and stamp.
struct TBlobRef {
  int32_t first = 0;
  int32_t stamp = 0;
  uint64_t Packed() const {
    return (static_cast<uint64_t>(static_cast<uint32_t>(first)) << 32) |
           static_cast<uint32_t>(stamp);
  }
};

// Takes the sorted rows, applies duplicate removal, grouping and the row limit, and appends
// the kept rows to the new data file. Notes the blob values of the rows it drops.
class TRowSink {
 public:
  TRowSink(TDataFile& out, const TSortOptions& options, const TRecordFormat& format,
           const std::vector<int32_t>& identifiers, bool keepIdentifiers)
      : out_(out),
        options_(options),
        format_(format),
        identifiers_(identifiers),
        keepIdentifiers_(keepIdentifiers),
        imageSize_(static_cast<std::size_t>(format.RecordSize())),
        chunkRows_(ChunkRows(imageSize_)),
        pending_(std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(chunkRows_) *
                                                           imageSize_)) {
    for (const TFieldDescriptor& f : format.Fields()) {
      if (IsBlobField(f.type)) blobFields_.push_back(f.position);
    }
  }

  // False once no further row can be kept and dropped rows need no look.
  bool Take(const uint8_t* item) {
    const uint8_t* key = ItemKey(item);
    const uint32_t keyLength = ItemKeyLength(item);
    const uint8_t* image = ItemImage(item);
    if (Full()) {
      NoteDropped(image);
      return !blobFields_.empty();
    }
    const bool sameKey = haveLast_ && CompareKeys(key, keyLength, lastKey_.data(),
                                                  static_cast<uint32_t>(lastKey_.size())) == 0;
    if (options_.grouping != nullptr) {
      if (sameKey) {
        options_.grouping->fold(accumulator_.data(), image);
        NoteDropped(image);
        return true;
      }
      if (haveLast_) CloseGroup();
      if (Full()) {
        NoteDropped(image);
        return !blobFields_.empty();
      }
      accumulator_.assign(image, image + imageSize_);
    } else if (sameKey && options_.removeDuplicates) {
      NoteDropped(image);
      return true;
    } else {
      Keep(image);
    }
    lastKey_.assign(key, key + keyLength);
    haveLast_ = true;
    return !Full() || !blobFields_.empty();
  }

  void Finish() {
    if (options_.grouping != nullptr && haveLast_ && !Full()) CloseGroup();
    haveLast_ = false;
    WritePending();
  }

  int64_t Rows() const { return rows_; }

  // Blob values of dropped rows that no kept row refers to.
  std::vector<TBlobRef> UnreferencedBlobs() const {
    std::vector<TBlobRef> out;
    for (const TBlobRef& r : dropped_) {
      if (kept_.count(r.Packed()) == 0) out.push_back(r);
    }
    return out;
  }

 private:
  bool Full() const { return options_.maxRows >= 0 && rows_ >= options_.maxRows; }

  void CloseGroup() {
    if (options_.grouping->finish(accumulator_.data())) {
      Keep(accumulator_.data());
    } else {
      NoteDropped(accumulator_.data());
    }
  }

  void Keep(const uint8_t* image) {
    if (pendingRows_ == chunkRows_) WritePending();
    uint8_t* target = pending_.get() + static_cast<std::size_t>(pendingRows_) * imageSize_;
    std::memcpy(target, image, imageSize_);
    target[rec::kState] = rec::kActive;
    le::PutI32(target, rec::kNumber, out_.NextRecordNumber() + pendingRows_);
    if (!keepIdentifiers_) le::PutI32(target, rec::kAutoInc, identifiers_[rows_]);
    ++pendingRows_;
    ++rows_;
    for (int fieldNo : blobFields_) {
      if (auto ref = format_.GetBlobRef(fieldNo, image)) {
        kept_.insert(TBlobRef{ref->first, ref->second}.Packed());
      }
    }
  }

  void WritePending() {
    out_.AppendSlots(pending_.get(), pendingRows_);
    pendingRows_ = 0;
  }

  void NoteDropped(const uint8_t* image) {
    for (int fieldNo : blobFields_) {
      if (auto ref = format_.GetBlobRef(fieldNo, image)) {
        dropped_.push_back({ref->first, ref->second});
      }
    }
  }

  TDataFile& out_;
  const TSortOptions& options_;
  const TRecordFormat& format_;
  const std::vector<int32_t>& identifiers_;
  bool keepIdentifiers_;
  std::size_t imageSize_;
  const int32_t chunkRows_;
  // Kept rows not yet written; left uncleared, as each row is copied in whole: a sort of a few
  // rows touches no more of it than they take.
  std::unique_ptr<uint8_t[]> pending_;
  int32_t pendingRows_ = 0;
  std::vector<int> blobFields_;
  int64_t rows_ = 0;
  bool haveLast_ = false;
  std::vector<uint8_t> lastKey_;
  std::vector<uint8_t> accumulator_;
  std::vector<TBlobRef> dropped_;
  std::unordered_set<uint64_t> kept_;
};

// ---- the swap -----------------------------------------------------------------------------

// Removes a file unless released (the new data file of a sort that did not finish).
class TFileRemover {
 public:
  TFileRemover(std::string name, bool inMemory) : name_(std::move(name)), inMemory_(inMemory) {}
  ~TFileRemover() {
    if (name_.empty()) return;
    try {
      TFileHandler file(name_, inMemory_);
      if (file.Exists()) file.Delete();
    } catch (const std::exception&) {
      // Only a stray file is left; the sort's own error is the one reported.
    }
  }
  TFileRemover(const TFileRemover&) = delete;
  TFileRemover& operator=(const TFileRemover&) = delete;
  void Release() { name_.clear(); }

 private:
  std::string name_;
  bool inMemory_;
};

void RenameFile(const std::string& from, const std::string& to, bool inMemory) {
  TFileHandler(from, inMemory).Rename(to);
}

// Opens the table's data file again and reads its header and descriptors.
void ReopenData(TDataTable& table) {
  table.Data().Open(table.Exclusive());
  try {
    table.Data().Load();
  } catch (...) {
    table.Data().TFileHandler::Close();
    throw;
  }
}

// Puts the finished data file `replacement` in the place of the table's data file, which it
// closes and opens again. On failure the table's own file is back in place and open.
void SwapDataFile(TDataTable& table, const std::string& replacement) {
  TDataFile& data = table.Data();
  const bool inMemory = table.InMemory();
  const std::string live =
      inMemory ? data.Name() : ResolveFileName(data.Name(), table.ErrorName()).path;
  const std::string old = live + UniqueSuffix() + ".old";
  bool moved = false;
  bool installed = false;
  try {
    data.Close();
    RenameFile(live, old, inMemory);
    moved = true;
    RenameFile(replacement, live, inMemory);
    installed = true;
    ReopenData(table);
  } catch (...) {
    try {
      if (installed) RenameFile(live, replacement, inMemory);
      if (moved) RenameFile(old, live, inMemory);
      ReopenData(table);
    } catch (const std::exception&) {
      // The first error is the one reported; the rows are in the two files either way.
    }
    throw;
  }
  try {
    TFileHandler(old, inMemory).Delete();
  } catch (const std::exception&) {
    // A leftover copy of the old rows takes room but harms nothing.
  }
}

bool HasUserIndexes(const TIndexFile& index) {
  std::vector<int> slots;
  index.MaintainedSlots(slots);
  return !slots.empty() || !index.Header().slots[kTextSlot].fields.empty();
}

bool HasAutoIncField(const TRecordFormat& format) {
  return std::any_of(format.Fields().begin(), format.Fields().end(),
                     [](const TFieldDescriptor& f) { return IsAutoIncField(f.type, f.subtype); });
}

// Where the runs go: beside the table on disk, the system's temporary directory otherwise.
std::string RunPrefix(const TDataTable& table) {
  if (!table.InMemory()) return TableFileName(table.Directory(), table.TableName(), ".sort");
  return (std::filesystem::temp_directory_path() / "mintora-sort").string();
}

}  // namespace

TSortResult SortTable(TDataCursor& cursor, const TSortOptions& options) {
  if (!cursor.IsOpen()) RaiseEngineError(err::kTableNotFound, {.table = cursor.TableName()});
  TDataTable& table = cursor.Table();
  if (cursor.ReadOnly()) RaiseEngineError(err::kAccessDenied, {.table = table.ErrorName()});
  TTableLocks& locks = table.Locks();
  if (locks.InTransaction() || locks.HoldsAnyLock() || !locks.HeldRecordLocks().empty()) {
    RaiseEngineError(err::kTableInUse, {.table = table.ErrorName()});
  }
  TDataFile& data = table.Data();
  const TSortKeyBuilder keys(data.Format(), options.keys, data.LocaleId());
  const std::size_t limit = options.memoryLimit > 0 ? options.memoryLimit : kDefaultSortMemory;
  const auto imageSize = static_cast<std::size_t>(data.RecordSize());
  const bool keepIdentifiers = HasAutoIncField(data.Format());
  const bool userIndexes = HasUserIndexes(table.Index());

  // Everything pending reaches the files first: the swap closes the data file.
  table.FlushBuffers();

  TSortResult result;
  const std::string replacement = data.Name() + UniqueSuffix() + ".new";
  TFileRemover removeReplacement(replacement, table.InMemory());
  bool deletedSlots = false;
  std::vector<TBlobRef> unreferenced;
  {
    // No other process changes the table while its rows are read and the new file is built.
    TWriteLockScope lock(locks);
    TSorter sorter(limit, RunPrefix(table), imageSize);
    std::vector<int32_t> identifiers;  // of the active records in slot order
    std::vector<uint8_t> key;
    data.WriteBack(true);
    const int32_t count = data.RecordCount();
    // A small table takes a buffer of its own size.
    const int32_t chunk = std::min(ChunkRows(imageSize), std::max(count, 1));
    std::vector<uint8_t> images(static_cast<std::size_t>(chunk) * imageSize);
    for (int32_t first = 1; first <= count; first += chunk) {
      const int32_t n = std::min(chunk, count - first + 1);
      data.ReadFileSlots(first, n, images.data());
      for (int32_t i = 0; i < n; ++i) {
        const uint8_t* image = images.data() + static_cast<std::size_t>(i) * imageSize;
        if (image[rec::kState] != rec::kActive) {
          deletedSlots = true;
          continue;
        }
        identifiers.push_back(le::GetI32(image, rec::kAutoInc));
        keys.Build(image, key);
        sorter.Add(key, image);
      }
    }
    result.inputRows = static_cast<int64_t>(identifiers.size());
    if (result.inputRows > 0) {
      TDataFileHeader header = data.Header();
      header.nextRecord = 1;
      header.deletedHead = 0;
      TDataFile out(replacement, table.InMemory(), table.ErrorName());
      out.CreateTable(header, data.Format().Fields());
      TRowSink sink(out, options, data.Format(), identifiers, keepIdentifiers);
      sorter.Drain([&](const uint8_t* item) { return sink.Take(item); });
      sink.Finish();
      out.Close();
      result.rows = sink.Rows();
      result.runs = sorter.Runs();
      unreferenced = sink.UnreferencedBlobs();
    }
  }
  if (result.inputRows == 0) return result;

  SwapDataFile(table, replacement);
  removeReplacement.Release();

  {
    // Without an auto-increment field each slot kept its identifier, so when every slot is
    // still there the record-identifier index holds exactly the right entries.
    const bool sameSlots = !deletedSlots && result.rows == result.inputRows;
    const bool rebuild = userIndexes || keepIdentifiers || !sameSlots;
    TWriteLockScope lock(locks);
    locks.Change([&] {
      if (rebuild) RebuildIndexes(data, table.Index());
      if (TBlobFile* blob = table.BlobFile()) {
        for (const TBlobRef& r : unreferenced)
          blob->FreeValue(r.first, r.stamp);
      }
    });
    // The index pages grew in memory while their writes waited for the end of the change:
    // back to the cache's target size.
    table.Index().WriteBackPages(true);
  }
  return result;
}

}  // namespace mt
