// TRecordWriter: a record's insert, change and delete with its indexes, text index, blob
// values and auto-increment value.
#include "recordwriter.h"

#include <cstring>

#include "blobbuffer.h"
#include "blobfile.h"
#include "byteio.h"
#include "datatable.h"
#include "engine/common/debugcheck.h"
#include "engine/common/engineerror.h"
#include "fieldtypes.h"
#include "indexbuild.h"
#include "indexkey.h"

namespace mt {
namespace {

// Holds a record lock a change took for itself until the change ends, also when it fails. A
// record whose lock the owner holds already (its edit's) is left to the owner.
class TRecordLockGuard {
 public:
  TRecordLockGuard(TTableLocks& locks, const void* owner) : locks_(locks), owner_(owner) {
    MT_ASSERT(owner != nullptr);
  }
  ~TRecordLockGuard() {
    if (n_ == 0) return;
    try {
      locks_.UnlockRecord(n_, owner_);
    } catch (const std::exception&) {
      // The owner's close gives back every lock it holds.
    }
  }
  TRecordLockGuard(const TRecordLockGuard&) = delete;
  TRecordLockGuard& operator=(const TRecordLockGuard&) = delete;
  void Lock(int32_t n) {
    if (locks_.RecordLockOwner(n) == owner_) return;
    locks_.LockRecord(n, owner_);
    n_ = n;
  }

 private:
  TTableLocks& locks_;
  const void* owner_;
  int32_t n_ = 0;
};

bool HasTextIndex(const TIndexFile& index) {
  return !index.Header().slots[kTextSlot].fields.empty();
}

// A record's identifier is its auto-increment value; only a table with an auto-increment
// field lets the caller supply it.
bool HasAutoIncField(const TRecordFormat& format) {
  for (int no = 1; no <= format.FieldCount(); ++no) {
    const TFieldDescriptor& f = format.Field(no);
    if (IsAutoIncField(f.type, f.subtype)) return true;
  }
  return false;
}

}  // namespace

TRecordWriter::TRecordWriter(TDataTable& table) : table_(table) {}

void TRecordWriter::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = table_.ErrorName()});
}

void TRecordWriter::CollectMaintainedSlots() {
  table_.Index().MaintainedSlots(slots_);
}

void TRecordWriter::ReserveKeys(std::size_t count) {
  const std::size_t bytes = count * kMaxKeyLength;
  if (keys_.size() < bytes) keys_.resize(bytes);
}

uint8_t* TRecordWriter::KeyAt(std::size_t i) {
  return keys_.data() + i * kMaxKeyLength;
}

int32_t TRecordWriter::Insert(const uint8_t* image, const TRecordWriteOptions& options) {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TRecordFormat& format = data.Format();
  format.CheckRecord(image);
  TWriteLockScope writeLock(table_.Locks());
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  newImage_.assign(image, image + size);
  uint8_t* work = newImage_.data();
  // Without an auto-increment field the image carries no value to keep: every record still
  // gets an identifier of its own.
  const bool keepIdentifier = options.keepSuppliedValues && HasAutoIncField(format);
  int32_t identifier;
  if (keepIdentifier) {
    identifier = le::GetI32(work, rec::kAutoInc);
  } else {
    // Known before a slot is taken, so that the keys can be built and checked first.
    identifier = data.FollowingAutoInc();
    le::PutI32(work, rec::kAutoInc, identifier);
  }

  // Every key is built and checked before any index changes.
  CollectMaintainedSlots();
  ReserveKeys(slots_.size());
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    TBTree& tree = index.Tree(slots_[i]);
    tree.KeyDef().Build(work, KeyAt(i));
    if (tree.KeyDef().Unique() && tree.KeyExists(KeyAt(i))) {
      RaiseEngineError(err::kDuplicateKey,
                       {.table = table_.ErrorName(), .index = tree.IndexName()});
    }
  }
  TBTree& recordIds = index.Tree(kRecordIdSlot);
  uint8_t idKey[kRecordIdKeyLength];
  BuildRecordIdKey(rec::kActive, identifier, idKey);
  if (keepIdentifier && recordIds.KeyExists(idKey)) {
    RaiseEngineError(err::kDuplicateKey,
                     {.table = table_.ErrorName(), .index = std::string(kRecordIdIndexName)});
  }

  TRecordLockGuard recordLock(table_.Locks(), options.owner);
  int32_t n = 0;
  table_.Locks().Change([&] {
    // Blob values the caller holds open for this image are written now.
    TBlobFile* blobFile = table_.BlobFile();
    if (blobFile != nullptr && options.blobs != nullptr) {
      options.blobs->Store(*blobFile, data, format, work);
    }
    n = data.AllocateSlot(table_.HasPrimaryIndex());
    const bool atEnd = n == data.NextRecordNumber();
    // A slot past the table's end is seen by nobody before this change ends (the write lock
    // keeps other processes out, and the end of the change is where its record count grows):
    // there is nobody to keep out of it, so only a reused slot takes the record lock.
    if (!atEnd) recordLock.Lock(n);
    TPinnedRecord r(data.GetRecord(n, TReadAhead::None, atEnd));
    if (!r) Raise(err::kRecordChanged);
    const int32_t oldIdentifier = le::GetI32(r->Image(), rec::kAutoInc);
    for (std::size_t i = 0; i < slots_.size(); ++i)
      index.Tree(slots_[i]).Insert(KeyAt(i), n);
    if (atEnd) {
      recordIds.Insert(idKey, n);
    } else {
      uint8_t oldKey[kRecordIdKeyLength];
      BuildRecordIdKey(rec::kDeleted, oldIdentifier, oldKey);
      recordIds.Replace(oldKey, idKey, n);
    }
    uint8_t* target = r->Image();
    std::memset(target, 0, size);
    if (keepIdentifier) {
      data.KeepAutoInc(identifier);
    } else {
      identifier = data.NextAutoInc();
    }
    std::memcpy(target + rec::kFirstField, work + rec::kFirstField, size - rec::kFirstField);
    target[rec::kState] = rec::kActive;
    le::PutI32(target, rec::kNumber, n);
    le::PutI32(target, rec::kAutoInc, identifier);
    if (HasTextIndex(index)) AddRecordText(index, format, target, n);
    r->MarkDirty();
    r.Reset();
    ++index.MutableHeader().activeRecords;
  });
  return n;
}

void TRecordWriter::Modify(int32_t n, const uint8_t* image, const uint8_t* expected,
                           const TRecordWriteOptions& options) {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TRecordFormat& format = data.Format();
  format.CheckRecord(image);
  if (n == 0) Raise(err::kNoCurrentRecord);
  TWriteLockScope writeLock(table_.Locks());
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  TPinnedRecord r(data.GetRecord(n));
  if (!r || r->Image()[rec::kState] != rec::kActive) Raise(err::kRecordChanged);
  // The record must still be what the edit started from.
  if (expected != nullptr && std::memcmp(r->Image(), expected, size) != 0) {
    Raise(err::kRecordChanged);
  }
  TRecordLockGuard recordLock(table_.Locks(), options.owner);
  recordLock.Lock(n);
  oldImage_.assign(r->Image(), r->Image() + size);
  newImage_.assign(image, image + size);
  const uint8_t* old = oldImage_.data();
  uint8_t* work = newImage_.data();
  work[rec::kState] = rec::kActive;
  le::PutI32(work, rec::kNumber, n);
  const int32_t oldIdentifier = le::GetI32(old, rec::kAutoInc);
  int32_t identifier = oldIdentifier;
  if (options.keepSuppliedValues) {
    identifier = le::GetI32(work, rec::kAutoInc);
  } else {
    le::PutI32(work, rec::kAutoInc, oldIdentifier);
  }

  // Keys that change, all checked before any index is touched. The first `changes` entries of
  // slots_ become the indexes whose key changes, with the old key at KeyAt(2i) and the new one
  // at KeyAt(2i + 1). An index none of whose fields changed keeps its key unbuilt.
  CollectMaintainedSlots();
  ReserveKeys(2 * slots_.size());
  std::size_t changes = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    TBTree& tree = index.Tree(slots_[i]);
    const TKeyDef& def = tree.KeyDef();
    if (def.SameSource(old, work)) continue;
    uint8_t* oldKey = KeyAt(2 * changes);
    uint8_t* newKey = KeyAt(2 * changes + 1);
    def.Build(old, oldKey);
    def.Build(work, newKey);
    if (def.Compare(oldKey, newKey) == 0) continue;
    if (def.Unique() && tree.KeyExists(newKey)) {
      RaiseEngineError(err::kDuplicateKey,
                       {.table = table_.ErrorName(), .index = tree.IndexName()});
    }
    slots_[changes++] = slots_[i];
  }
  TBTree& recordIds = index.Tree(kRecordIdSlot);
  uint8_t oldIdKey[kRecordIdKeyLength];
  uint8_t newIdKey[kRecordIdKeyLength];
  BuildRecordIdKey(rec::kActive, oldIdentifier, oldIdKey);
  BuildRecordIdKey(rec::kActive, identifier, newIdKey);
  const bool idChanges = identifier != oldIdentifier;
  if (idChanges && recordIds.KeyExists(newIdKey)) {
    RaiseEngineError(err::kDuplicateKey,
                     {.table = table_.ErrorName(), .index = std::string(kRecordIdIndexName)});
  }

  table_.Locks().Change([&] {
    if (TBlobFile* blobFile = table_.BlobFile()) {
      if (options.blobs != nullptr) options.blobs->Store(*blobFile, data, format, work);
      // The values the record no longer refers to are freed with the change.
      FreeBlobValues(*blobFile, format, old, work);
    }
    for (std::size_t i = 0; i < changes; ++i)
      index.Tree(slots_[i]).Replace(KeyAt(2 * i), KeyAt(2 * i + 1), n);
    if (idChanges) {
      recordIds.Replace(oldIdKey, newIdKey, n);
      data.KeepAutoInc(identifier);
    }
    const bool text = HasTextIndex(index);
    if (text) RemoveRecordText(index, format, old, n);
    std::memcpy(r->Image(), work, size);
    if (text) AddRecordText(index, format, r->Image(), n);
    r->MarkDirty();
    r.Reset();
  });
}

void TRecordWriter::Delete(int32_t n, const uint8_t* lastRead, const void* owner) {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TRecordFormat& format = data.Format();
  if (n == 0) Raise(err::kNoCurrentRecord);
  TWriteLockScope writeLock(table_.Locks());
  const void* holder = table_.Locks().RecordLockOwner(n);
  if (holder != nullptr && holder != owner) Raise(err::kRecordInUse);
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  TPinnedRecord r(data.GetRecord(n));
  if (!r || r->Image()[rec::kState] != rec::kActive ||
      std::memcmp(r->Image(), lastRead, size) != 0) {
    Raise(err::kRecordChanged);
  }
  TRecordLockGuard recordLock(table_.Locks(), owner);
  recordLock.Lock(n);
  oldImage_.assign(r->Image(), r->Image() + size);
  const uint8_t* old = oldImage_.data();

  table_.Locks().Change([&] {
    CollectMaintainedSlots();
    ReserveKeys(1);
    uint8_t* key = KeyAt(0);
    for (int slot : slots_) {
      TBTree& tree = index.Tree(slot);
      tree.KeyDef().Build(old, key);
      tree.Delete(key, n);
    }
    const int32_t identifier = le::GetI32(old, rec::kAutoInc);
    uint8_t oldIdKey[kRecordIdKeyLength];
    uint8_t newIdKey[kRecordIdKeyLength];
    BuildRecordIdKey(rec::kActive, identifier, oldIdKey);
    BuildRecordIdKey(rec::kDeleted, identifier, newIdKey);
    index.Tree(kRecordIdSlot).Replace(oldIdKey, newIdKey, n);
    if (HasTextIndex(index)) RemoveRecordText(index, format, old, n);
    if (TBlobFile* blobFile = table_.BlobFile()) FreeBlobValues(*blobFile, format, old);
    data.DeleteRecord(r.Get());
    r.Reset();
    --index.MutableHeader().activeRecords;
  });
}

bool TRecordWriter::CanAppendInBulk() const {
  const TIndexFile& index = table_.Index();
  if (!table_.Scratch() || table_.ReadOnly() || table_.Locks().InTransaction() ||
      HasTextIndex(index))
    return false;
  std::vector<int> slots;
  index.MaintainedSlots(slots);
  if (!slots.empty()) return false;
  const TRecordFormat& format = table_.Data().Format();
  for (int no = 1; no <= format.FieldCount(); ++no)
    if (IsBlobField(format.Field(no).type)) return false;
  return true;
}

void TRecordWriter::AppendInBulk(uint8_t* images, int32_t count) {
  MT_ASSERT(CanAppendInBulk());
  if (count <= 0) return;
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TRecordFormat& format = data.Format();
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  const TLocalMoment now = CurrentLocalMoment();
  for (int32_t i = 0; i < count; ++i)
    format.CheckRecord(images + static_cast<std::size_t>(i) * size, now);
  TWriteLockScope writeLock(table_.Locks());
  // Records added one by one before wait in the cache, possibly past the file's end: they go
  // first, so that the run lands after them.
  if (data.HasDirtyRecords()) table_.Locks().FlushBuffers();
  table_.Locks().Change([&] {
    const int32_t first = data.NextRecordNumber();
    TBTree& recordIds = index.Tree(kRecordIdSlot);
    uint8_t idKey[kRecordIdKeyLength];
    for (int32_t i = 0; i < count; ++i) {
      uint8_t* image = images + static_cast<std::size_t>(i) * size;
      const int32_t identifier = data.NextAutoInc();
      std::memset(image, 0, rec::kFirstField);
      image[rec::kState] = rec::kActive;
      le::PutI32(image, rec::kNumber, first + i);
      le::PutI32(image, rec::kAutoInc, identifier);
      BuildRecordIdKey(rec::kActive, identifier, idKey);
      recordIds.Insert(idKey, first + i);
    }
    data.AppendSlots(images, count);
    index.MutableHeader().activeRecords += count;
  });
  // The change wrote no records through the cache, so nothing else bounds the pages the
  // record-identifier index keeps: they go to the file now, with the headers.
  table_.Locks().FlushBuffers(true);
}

}  // namespace mt
