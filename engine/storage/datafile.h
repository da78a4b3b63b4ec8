// TDataFile: a table's data file (header, field descriptors, fixed-length records) with its
// record cache, record numbering, deleted-record chain and auto-increment values.
//
// Record cache. Records read from the file live as TRecord objects, held at once in a list
// sorted by record number (binary search) and in a recency list from newest to oldest; spare
// objects are recycled through a TRecordStack pool. Lookups check the four newest records
// before searching. A miss reads one record or, when the caller moves sequentially, a window of
// max(1, 8192 div record size) records in one read, cut at the end of the file. A record
// pinned by a caller is never evicted; a dirty record is only dropped after it was written.
// Write back joins each run of consecutive dirty, unpinned records into one write. The cache
// aims at min(16384 div record size, 8192) records (at least 1); when it is full and nothing
// can be evicted even after writing back, it grows by 64.
//
// Encrypted tables: record images, field descriptors and the header's password and
// description are scrambled on disk and clear in memory (Header() holds them clear).
//
// Thread-safety: a TDataFile is shared by every cursor of the process on the table, all on the
// thread that owns the table (datatable.h). Each seek-and-transfer is atomic in the file layer.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_DATAFILE_H
#define MT_STORAGE_DATAFILE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cachelist.h"
#include "record.h"
#include "tablefile.h"
#include "tablelayout.h"

namespace mt {

class TDataFile;

// One cached record.
class TRecord {
 public:
  TDataFile* Owner() const { return owner_; }
  int32_t Number() const { return number_; }
  bool Dirty() const { return dirty_; }
  int Pins() const { return pins_; }
  uint8_t* Image() { return image_.data(); }
  const uint8_t* Image() const { return image_.data(); }
  // Scratch space for a key built from the image; grows, never shrinks.
  std::vector<uint8_t>& KeyBuffer() { return keyBuffer_; }
  // The image differs from the file and must be written.
  void MarkDirty() { dirty_ = true; }

 private:
  friend class TDataFile;
  friend class TRecordStack;
  friend class TCacheList<TRecord>;

  TDataFile* owner_ = nullptr;
  bool detached_ = false;  // dropped from the cache while pinned; freed on its last release
  bool dirty_ = false;
  int pins_ = 0;
  int32_t number_ = 0;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> keyBuffer_;
  TRecord* newer_ = nullptr;
  TRecord* older_ = nullptr;
};

// A pool of spare TRecord objects (at most 64).
class TRecordStack {
 public:
  static constexpr std::size_t kMaxSpare = 64;
  std::unique_ptr<TRecord> Take();
  void Give(std::unique_ptr<TRecord> record);
  std::size_t Spare() const { return spare_.size(); }

 private:
  std::vector<std::unique_ptr<TRecord>> spare_;
};

// Direction of a sequential read: a miss then reads a window starting (forwards) or ending
// (backwards) at the wanted record.
enum class TReadAhead { None, Forward, Backward };

// Cache counters, for diagnostics only.
struct TRecordCacheStats {
  uint64_t hits = 0;
  uint64_t reads = 0;   // read calls on the file
  uint64_t writes = 0;  // write calls for records
  std::size_t cached = 0;
  std::size_t capacity = 0;
};

class TDataFile : public TTableFile<TDataFileHeader> {
 public:
  // Asked before records are read from disk on a cache miss; returns true when the table
  // changed (the caches were refreshed), and the read then returns no record so that the
  // caller re-synchronises. The table lock layer installs it.
  using TChangeCheck = std::function<bool()>;

  TDataFile(std::string fileName, bool inMemory, std::string tableName);
  ~TDataFile() override;

  // Writes a new data file from a header and prepared field descriptors.
  void CreateTable(const TDataFileHeader& header, const std::vector<TFieldDescriptor>& fields);
  // Reads the header and the descriptors of the open file and validates them with the file's
  // length (12035, 8961, 15878); sizes the cache. Clears any cached records.
  void Load();
  // Re-reads the header only (after another process changed it) and drops the cached records.
  void ReloadHeader();
  // Writes back the records and the header and descriptors when they have changes, then closes.
  void Close() override;

  const std::string& TableName() const { return tableName_; }
  const TRecordFormat& Format() const { return format_; }
  int RecordSize() const { return header_.recordSize; }
  int FieldCount() const { return header_.fieldCount; }
  bool Encrypted() const { return header_.encrypted != 0; }
  int32_t NextRecordNumber() const { return header_.nextRecord; }
  int32_t DeletedHead() const { return header_.deletedHead; }
  // Physical records: next record number - 1.
  int32_t RecordCount() const { return header_.nextRecord - 1; }

  // ---- header information ----
  const std::string& Description() const { return header_.description; }
  // Empty when not encrypted.
  std::string Password() const;
  uint16_t LanguageId() const { return header_.languageId; }
  uint16_t SortOrderId() const { return header_.sortOrderId; }
  uint32_t LocaleId() const;
  uint16_t UserMajor() const { return header_.userMajor; }
  uint16_t UserMinor() const { return header_.userMinor; }
  int32_t LastAutoInc() const { return header_.lastAutoInc; }
  void SetDescription(std::string_view description);
  // The password of an encrypted table (1 to 15 characters after trimming, else 10015).
  void SetPassword(std::string_view password);
  // 15878 when the locale is not installed.
  void SetLocale(uint16_t languageId, uint16_t sortOrderId);
  void SetUserVersion(uint16_t major, uint16_t minor);
  void SetLastAutoInc(int32_t value);

  // ---- field descriptors ----
  // A copy of a descriptor by number (9985 when there is none) or name (case ignored; nullopt
  // when there is none); the copy carries the field's position.
  TFieldDescriptor FieldDescriptor(int fieldNo) const;
  std::optional<TFieldDescriptor> FieldDescriptor(std::string_view name) const;
  // Changes name, subtype, description, required flag, minimum, maximum and default of a field
  // in place (type, size and offset never change): 10038 for a bad or duplicate name, 10006
  // for texts that are no values of the type. Marks the descriptors for writing.
  void SetFieldAttributes(int fieldNo, const TFieldDescriptor& attributes);
  // Installs the SQL layer's evaluator of virtual fields.
  void SetVirtualEvaluator(TRecordFormat::TVirtualEvaluator evaluator);

  // ---- records ----
  // The record with number n, pinned; reads it on a miss. With newSlot and n equal to the next
  // record number, makes a new cleared record at the end (9479 past 200,000,000 records or
  // 4,000,000,000 bytes) and raises the next record number. nullptr when the change check
  // reported a change. 8962 for n <= 0 or a record that does not exist.
  TRecord* GetRecord(int32_t n, TReadAhead ahead = TReadAhead::None, bool newSlot = false);
  void ReleaseRecord(TRecord* record);
  // Copies record slots first, first + 1, ... (at most count, never past the last record) into
  // out, RecordSize bytes each, as GetRecord would hand them out: clear, an active record
  // carrying its own number. Slots the cache holds come from the cache; the others are read
  // in one read past the cache, so that a long scan does not push out what the cache holds.
  // The caller holds a lock of the table whose change check ran (tablelocks.h); no check runs
  // here. Returns the number of slots copied; 8962 when a slot is neither cached nor in the file.
  int32_t ReadSlots(int32_t first, int32_t count, uint8_t* out);
  // The number for a new record: the head of the deleted chain when the table has a primary
  // index and the chain is not empty (the head moves on), otherwise the next record number.
  // 8962 when the chain head is no deleted record.
  int32_t AllocateSlot(bool hasPrimaryIndex);
  // Marks the record deleted and makes it the head of the deleted chain.
  void DeleteRecord(TRecord* record);
  // Writes every dirty, unpinned record; with pinnedToo the pinned ones as well (the end of a
  // change, when the records a cursor still pins are complete).
  void WriteBack(bool pinnedToo = false);
  // Writes back, then evicts clean unpinned records down to the target size.
  void TrimCache();
  // Drops every cached record without writing (after another process changed the table, or a
  // rolled-back transaction). Pinned records stay but are refreshed on their next read.
  void ClearCache();

  // ---- counters ----
  // Next auto-increment value (last + 1; after 2147483647 comes 1); raises the header's.
  int32_t NextAutoInc();
  // The value NextAutoInc would give, without raising the header's.
  int32_t FollowingAutoInc() const;
  // Keep-supplied-values mode: the header's last value becomes the larger of the two.
  void KeepAutoInc(int32_t value);
  // Next blob stamp (last + 1; after 2147483647 comes 1).
  int32_t NextBlobStamp();

  // ---- writing ----
  // Writes changed field descriptors in one write.
  bool FlushDescriptors();
  // Write back, header, descriptors; then trims the cache when asked.
  void FlushAll(bool trimCache = false);
  // Cuts the records and resets the counters (the caller checked exclusive access).
  void EmptyRecords();

  // ---- the change mark (tablelayout.h) and the change journal (changejournal.h) ----
  // The header's change counter and change mark as the file holds them now.
  struct TStoredState {
    int32_t changeCounter = 0;
    bool changeMark = false;
  };
  TStoredState ReadStoredState();
  // The change counter of the header as last read or written by this object.
  int32_t StoredCounter() const { return storedCounter_; }
  // Sets the mark in the file (one byte; flushed when forced flushes are on). The next header
  // write clears it, unless the mark is kept (a repair in progress).
  void WriteChangeMark();
  void KeepChangeMark(bool keep) { keepChangeMark_ = keep; }
  bool HasDirtyRecords() const;
  // Calls fn(offset, bytes, length) for each run of dirty records as WriteBack(true) will
  // write it (scrambled for encrypted tables), then for the header as the next FlushHeader
  // writes it, with the mark set and the stored counter (the journal replays these bytes).
  void ForEachPendingWrite(
      const std::function<void(uint64_t offset, const uint8_t* bytes, std::size_t length)>& fn);

  // ---- repair (tablecheck.h): the open file taken as it is ----
  // Reads the header, checking only its start (12035, 8961): its counts may disagree with
  // the file's length, which the repair puts right. Nothing is cached.
  void LoadHeaderForRepair();
  // Record slot n straight from or to the file, past the cache; images are clear in memory.
  void ReadSlot(int32_t n, uint8_t* image) { ReadFileSlots(n, 1, image); }
  void WriteSlot(int32_t n, const uint8_t* image) { WriteSlots(n, 1, image); }

  // ---- whole-table transfers past the cache (the table sort, under the write lock) ----
  // `count` record slots from slot `first` on (RecordSize() bytes each, clear in memory), as
  // the file holds them: the caller writes back dirty records first. 9217 past the file's end.
  // (ReadSlots above is the scanning reader that lays the cache over the file.)
  void ReadFileSlots(int32_t first, int32_t count, uint8_t* images);
  // Writes `count` images as new records after the last one and raises the next record number
  // (9479 past 200,000,000 records or 4,000,000,000 bytes); the caller fills their state,
  // number and auto-increment bytes.
  void AppendSlots(const uint8_t* images, int32_t count);
  // The repaired counts; the header is written with them by the next FlushHeader.
  void SetRepairedCounts(int32_t nextRecord, int32_t deletedHead, int32_t lastAutoInc);

  // ---- settings and hooks ----
  // While set (inside a transaction), a full cache grows instead of writing back.
  void SetDeferWrites(bool defer) { deferWrites_ = defer; }
  void SetChangeCheck(TChangeCheck check) { changeCheck_ = std::move(check); }

  // ---- diagnostics ----
  TRecordCacheStats CacheStats() const;
  int WindowRecords() const { return windowRecords_; }
  std::size_t TargetCacheSize() const { return targetSize_; }
  std::size_t CachedRecords() const { return cache_.Size(); }

 protected:
  // Stores the engine version and the moment in the copy and the header, writes the 127 bytes.
  void WriteCountedHeader(TDataFileHeader& h) override;
  // The data file header is stored clear apart from its password and description.
  bool HeaderScrambled() const override { return false; }
  [[noreturn]] void RaiseHeaderCorrupt() const override;

 private:
  [[noreturn]] void Raise(int32_t code) const;
  int64_t RecordOffset(int32_t n) const;
  // Writes `count` images (scrambled on the way for an encrypted table) from slot `first` on.
  void WriteSlots(int32_t first, int32_t count, const uint8_t* images);
  // The header's bytes on disk and back, with the texts scrambled there for encrypted tables.
  static void EncodeHeader(const TDataFileHeader& h, uint8_t* out /* dfh::kSize */);
  static TDataFileHeader DecodeHeader(const uint8_t* in /* dfh::kSize */);
  // Reads the header at offset 0 (8961 when the file is shorter).
  TDataFileHeader ReadHeader();
  // Cache plumbing.
  // A fresh record object for slot n, inserted into the sorted list (room made first).
  TRecord* AddRecord(int32_t n);
  void MakeRoom();
  void ReadWindow(int32_t n, TReadAhead ahead);
  // The run's records as the file takes them (scrambled for encrypted tables) in writeBuffer_.
  void FillWriteBuffer(TRecord* const* run, std::size_t count);
  // Records per write: a long run of dirty records (a large transaction) is written in pieces
  // of about kWriteRunBytes, so the write buffer stays small.
  static constexpr std::size_t kWriteRunBytes = std::size_t{1} << 20;
  std::size_t WriteRunRecords() const;
  void RebuildFormat();
  void ApplyCacheSizing();

  std::string tableName_;
  std::vector<TFieldDescriptor> fields_;
  TRecordFormat format_;
  TRecordFormat::TVirtualEvaluator virtualEvaluator_;
  bool descriptorsDirty_ = false;
  bool deferWrites_ = false;
  TChangeCheck changeCheck_;

  TCacheList<TRecord> cache_;
  TRecordStack pool_;
  std::size_t targetSize_ = 1;
  std::size_t capacity_ = 1;
  int windowRecords_ = 1;
  std::vector<std::unique_ptr<TRecord>> detachedRecords_;  // dropped from the cache while pinned
  std::vector<uint8_t> readBuffer_;
  std::vector<uint8_t> writeBuffer_;
  int32_t storedCounter_ = 0;
  bool keepChangeMark_ = false;
  uint64_t hits_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
};

// Pins a record for a scope.
class TPinnedRecord {
 public:
  TPinnedRecord() = default;
  explicit TPinnedRecord(TRecord* record) : record_(record) {}
  ~TPinnedRecord() { Reset(); }
  TPinnedRecord(TPinnedRecord&& other) noexcept : record_(other.record_) {
    other.record_ = nullptr;
  }
  TPinnedRecord& operator=(TPinnedRecord&& other) noexcept {
    if (this != &other) {
      Reset();
      record_ = other.record_;
      other.record_ = nullptr;
    }
    return *this;
  }
  TPinnedRecord(const TPinnedRecord&) = delete;
  TPinnedRecord& operator=(const TPinnedRecord&) = delete;

  TRecord* operator->() const { return record_; }
  TRecord* Get() const { return record_; }
  explicit operator bool() const { return record_ != nullptr; }
  void Reset() {
    if (record_ != nullptr) record_->Owner()->ReleaseRecord(record_);
    record_ = nullptr;
  }

 private:
  TRecord* record_ = nullptr;
};

}  // namespace mt

#endif  // MT_STORAGE_DATAFILE_H
