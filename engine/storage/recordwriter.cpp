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

std::vector<int> TRecordWriter::MaintainedSlots() const {
  std::vector<int> slots;
  const TIndexFile& index = table_.Index();
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (index.SlotInUse(slot)) slots.push_back(slot);
  }
  return slots;
}

int32_t TRecordWriter::Insert(const uint8_t* image, const TRecordWriteOptions& options) {
  TDataFile& data = table_.Data();
  TIndexFile& index = table_.Index();
  const TRecordFormat& format = data.Format();
  format.CheckRecord(image);
  TWriteLockScope writeLock(table_.Locks());
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  std::vector<uint8_t> work(image, image + size);
  // Without an auto-increment field the image carries no value to keep: every record still
  // gets an identifier of its own.
  const bool keepIdentifier = options.keepSuppliedValues && HasAutoIncField(format);
  int32_t identifier;
  if (keepIdentifier) {
    identifier = le::GetI32(work.data(), rec::kAutoInc);
  } else {
    // Known before a slot is taken, so that the keys can be built and checked first.
    identifier = data.FollowingAutoInc();
    le::PutI32(work.data(), rec::kAutoInc, identifier);
  }

  // Every key is built and checked before any index changes.
  const std::vector<int> slots = MaintainedSlots();
  std::vector<std::vector<uint8_t>> keys;
  for (int slot : slots) {
    TBTree& tree = index.Tree(slot);
    keys.emplace_back(static_cast<std::size_t>(tree.KeyLength()));
    tree.KeyDef().Build(work.data(), keys.back().data());
    if (tree.KeyDef().Unique() && tree.KeyExists(keys.back().data())) {
      RaiseEngineError(err::kDuplicateKey,
                       {.table = table_.ErrorName(), .index = tree.IndexName()});
    }
  }
  TBTree& recordIds = index.Tree(kRecordIdSlot);
  std::vector<uint8_t> idKey(kRecordIdKeyLength);
  BuildRecordIdKey(rec::kActive, identifier, idKey.data());
  if (keepIdentifier && recordIds.KeyExists(idKey.data())) {
    RaiseEngineError(err::kDuplicateKey,
                     {.table = table_.ErrorName(), .index = std::string(kRecordIdIndexName)});
  }

  TRecordLockGuard recordLock(table_.Locks(), options.owner);
  int32_t n = 0;
  table_.Locks().Change([&] {
    // Blob values the caller holds open for this image are written now.
    TBlobFile* blobFile = table_.BlobFile();
    if (blobFile != nullptr && options.blobs != nullptr) {
      options.blobs->Store(*blobFile, data, format, work.data());
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
    for (std::size_t i = 0; i < slots.size(); ++i)
      index.Tree(slots[i]).Insert(keys[i].data(), n);
    if (atEnd) {
      recordIds.Insert(idKey.data(), n);
    } else {
      std::vector<uint8_t> oldKey(kRecordIdKeyLength);
      BuildRecordIdKey(rec::kDeleted, oldIdentifier, oldKey.data());
      recordIds.Replace(oldKey.data(), idKey.data(), n);
    }
    uint8_t* target = r->Image();
    std::memset(target, 0, size);
    if (keepIdentifier) {
      data.KeepAutoInc(identifier);
    } else {
      identifier = data.NextAutoInc();
    }
    std::memcpy(target + rec::kFirstField, work.data() + rec::kFirstField, size - rec::kFirstField);
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
  const std::vector<uint8_t> old(r->Image(), r->Image() + size);
  std::vector<uint8_t> work(image, image + size);
  work[rec::kState] = rec::kActive;
  le::PutI32(work.data(), rec::kNumber, n);
  const int32_t oldIdentifier = le::GetI32(old.data(), rec::kAutoInc);
  int32_t identifier = oldIdentifier;
  if (options.keepSuppliedValues) {
    identifier = le::GetI32(work.data(), rec::kAutoInc);
  } else {
    le::PutI32(work.data(), rec::kAutoInc, oldIdentifier);
  }

  // Keys that change, all checked before any index is touched.
  struct TChange {
    int slot;
    std::vector<uint8_t> oldKey;
    std::vector<uint8_t> newKey;
  };
  std::vector<TChange> changes;
  for (int slot : MaintainedSlots()) {
    TBTree& tree = index.Tree(slot);
    TChange c{slot, std::vector<uint8_t>(static_cast<std::size_t>(tree.KeyLength())),
              std::vector<uint8_t>(static_cast<std::size_t>(tree.KeyLength()))};
    tree.KeyDef().Build(old.data(), c.oldKey.data());
    tree.KeyDef().Build(work.data(), c.newKey.data());
    if (tree.KeyDef().Compare(c.oldKey.data(), c.newKey.data()) == 0) continue;
    if (tree.KeyDef().Unique() && tree.KeyExists(c.newKey.data())) {
      RaiseEngineError(err::kDuplicateKey,
                       {.table = table_.ErrorName(), .index = tree.IndexName()});
    }
    changes.push_back(std::move(c));
  }
  TBTree& recordIds = index.Tree(kRecordIdSlot);
  std::vector<uint8_t> oldIdKey(kRecordIdKeyLength);
  std::vector<uint8_t> newIdKey(kRecordIdKeyLength);
  BuildRecordIdKey(rec::kActive, oldIdentifier, oldIdKey.data());
  BuildRecordIdKey(rec::kActive, identifier, newIdKey.data());
  const bool idChanges = identifier != oldIdentifier;
  if (idChanges && recordIds.KeyExists(newIdKey.data())) {
    RaiseEngineError(err::kDuplicateKey,
                     {.table = table_.ErrorName(), .index = std::string(kRecordIdIndexName)});
  }

  table_.Locks().Change([&] {
    if (TBlobFile* blobFile = table_.BlobFile()) {
      if (options.blobs != nullptr) options.blobs->Store(*blobFile, data, format, work.data());
      // The values the record no longer refers to are freed with the change.
      FreeBlobValues(*blobFile, format, old.data(), work.data());
    }
    for (const TChange& c : changes)
      index.Tree(c.slot).Replace(c.oldKey.data(), c.newKey.data(), n);
    if (idChanges) {
      recordIds.Replace(oldIdKey.data(), newIdKey.data(), n);
      data.KeepAutoInc(identifier);
    }
    const bool text = HasTextIndex(index);
    if (text) RemoveRecordText(index, format, old.data(), n);
    std::memcpy(r->Image(), work.data(), size);
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
  const std::vector<uint8_t> old(r->Image(), r->Image() + size);

  table_.Locks().Change([&] {
    std::vector<uint8_t> key(kMaxKeyLength);
    for (int slot : MaintainedSlots()) {
      TBTree& tree = index.Tree(slot);
      tree.KeyDef().Build(old.data(), key.data());
      tree.Delete(key.data(), n);
    }
    const int32_t identifier = le::GetI32(old.data(), rec::kAutoInc);
    std::vector<uint8_t> oldIdKey(kRecordIdKeyLength);
    std::vector<uint8_t> newIdKey(kRecordIdKeyLength);
    BuildRecordIdKey(rec::kActive, identifier, oldIdKey.data());
    BuildRecordIdKey(rec::kDeleted, identifier, newIdKey.data());
    index.Tree(kRecordIdSlot).Replace(oldIdKey.data(), newIdKey.data(), n);
    if (HasTextIndex(index)) RemoveRecordText(index, format, old.data(), n);
    if (TBlobFile* blobFile = table_.BlobFile()) FreeBlobValues(*blobFile, format, old.data());
    data.DeleteRecord(r.Get());
    r.Reset();
    --index.MutableHeader().activeRecords;
  });
}

bool TRecordWriter::CanAppendInBulk() const {
  if (!table_.Scratch() || table_.ReadOnly() || table_.Locks().InTransaction() ||
      !MaintainedSlots().empty() || HasTextIndex(table_.Index()))
    return false;
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
