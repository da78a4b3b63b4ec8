// TDataCursor: opening, positions, moving in record-number order, reading, counts and
// ordinals, and callback filters over the visible-records bitmap.
#include "datacursor.h"

#include <algorithm>
#include <cstring>

#include "blobfile.h"
#include "byteio.h"
#include "engine/common/debugcheck.h"
#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"
#include "filterplan.h"
#include "recordresolver.h"

namespace mt {

TDataCursor::TDataCursor(TDataDirectory& directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report a failed write; the share is given back regardless.
  }
}

void TDataCursor::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = table_ != nullptr ? table_->ErrorName() : tableName_});
}

void TDataCursor::RequireClosed() const {
  if (table_ != nullptr) Raise(err::kTableInUse);
}

void TDataCursor::RequireOpen() const {
  if (table_ == nullptr) RaiseEngineError(err::kTableNotFound, {.table = tableName_});
  table_->CheckThread();
}

void TDataCursor::SetTableName(std::string name) {
  RequireClosed();
  tableName_ = std::move(name);
}
void TDataCursor::SetExclusive(bool exclusive) {
  RequireClosed();
  exclusive_ = exclusive;
}
void TDataCursor::SetScratch(bool scratch) {
  RequireClosed();
  scratchTable_ = scratch;
}
void TDataCursor::SetReadOnly(bool readOnly) {
  RequireClosed();
  readOnly_ = readOnly;
}
void TDataCursor::SetInMemory(bool inMemory) {
  RequireClosed();
  inMemory_ = inMemory;
}
void TDataCursor::SetPasswords(TPasswordSource passwords) {
  RequireClosed();
  passwords_ = std::move(passwords);
}
void TDataCursor::SetOpenInBitmapOrder(bool bitmapOrder) {
  RequireClosed();
  openInBitmapOrder_ = bitmapOrder;
}

void TDataCursor::SetSettings(const TSessionSettings& settings) {
  settings_ = settings;
  haveSettings_ = true;
  if (table_ != nullptr) table_->SetSettings(settings);
}

TDataTable& TDataCursor::Table() {
  RequireOpen();
  return *table_;
}

const TRecordFormat& TDataCursor::Format() const {
  RequireOpen();
  return table_->Data().Format();
}

int TDataCursor::RecordSize() const {
  return Format().RecordSize();
}

// ---- open and close ----------------------------------------------------------------------

void TDataCursor::Open() {
  RequireClosed();
  TTableOpenOptions options;
  options.exclusive = exclusive_;
  options.scratch = scratchTable_;
  options.passwords = passwords_;
  // The shared table checks the exclusive rules and the password and, as the process's first
  // opener, validates the files.
  TDataTable& table = directory_.OpenTable(tableName_, inMemory_, options);
  try {
    if (haveSettings_) table.SetSettings(settings_);
    tableReadOnly_ = table.ReadOnly();
    blobs_ = std::make_unique<TBlobBuffers>(table.ErrorName());
    localeId_ = table.Data().LocaleId();
    charOrder_ = &TLanguageCharMapsList::Get(localeId_);
    scratch_.assign(table.Data().RecordSize(), 0);
  } catch (...) {
    directory_.CloseTable(table);
    throw;
  }
  table_ = &table;
  currentIndex_ = kNoIndex;
  rangeActive_ = false;
  synced_ = false;
  try {
    resolver_ = std::make_unique<TRecordResolver>(table);
    // A table whose index file had to be made anew gets every index back from its records.
    if (table.NeedsIndexRebuild() && !table.ReadOnly()) table.RebuildIndexes();
    StandNowhere();
    if (!openInBitmapOrder_ && table.HasPrimaryIndex()) {
      ChooseIndexSlot(kPrimarySlot);
    } else {
      // The visible records are built under one read lock, not against changes that other
      // processes make between the record reads.
      TReadLockScope op(table.Locks());
      Sync(op.Changed());
    }
    First();
  } catch (...) {
    TDataTable* t = table_;
    table_ = nullptr;
    directory_.CloseTable(*t);
    throw;
  }
}

void TDataCursor::Close() {
  if (table_ == nullptr) return;
  if (blobs_) blobs_->CloseAll();
  lockedRecord_ = 0;
  editRecord_ = 0;
  try {
    table_->Locks().UnlockRecords(this);
  } catch (const EEngineError&) {
    // The table's close releases every lock of the process on it at the latest.
  }
  filters_.clear();
  resolver_.reset();
  visible_.SetSize(0);
  TDataTable* t = table_;
  table_ = nullptr;
  pos_ = {};
  rangeActive_ = false;
  currentIndex_ = kNoIndex;
  charOrder_ = nullptr;
  StandNowhere();
  tableReadOnly_ = false;
  directory_.CloseTable(*t);
}

// ---- order -------------------------------------------------------------------------------

int TDataCursor::IndexSlotOf(std::string_view indexName) const {
  RequireOpen();
  const TIndexFile& index = table_->Index();
  if (indexName.empty() && index.HasPrimaryIndex()) return kPrimarySlot;
  if (!indexName.empty()) {
    for (int slot = 1; slot <= kMaxSecondaryIndexes; ++slot) {
      const TIndexDescriptor& d = index.Descriptor(slot);
      if (!d.name.empty() && d.keyLength > 0 && EqualsKeyword(d.name, indexName)) return slot;
    }
  }
  RaiseEngineError(err::kInvalidIndexName,
                   {.table = table_->ErrorName(), .index = std::string(indexName)});
}

void TDataCursor::ChooseIndex(std::string_view indexName) {
  const int slot = IndexSlotOf(indexName);
  ChooseIndexSlot(slot);
  currentIndexName_ = std::string(indexName);
}

void TDataCursor::ChooseIndexSlot(int slot) {
  RequireOpen();
  table_->Index().Tree(slot);  // 10022 for a slot without an index
  // Under the read lock like every other operation: catching up in the old order may build its
  // visible records, which must not race other processes' changes record by record. A cursor
  // that stands on no record and has not looked at the table yet (the open) has nothing to
  // carry over, and does not read the records in the old order at all.
  TReadLockScope op(table_->Locks());
  if (synced_ || OnRecord()) Sync(op.Changed());
  const int32_t current = OnRecord() ? current_ : 0;
  currentIndex_ = slot;
  currentIndexName_ = slot == kPrimarySlot ? std::string() : table_->Index().Descriptor(slot).name;
  rangeActive_ = false;
  pos_ = {};
  curKey_.assign(static_cast<std::size_t>(Tree()->KeyLength()), 0);
  entryKey_.assign(curKey_.size(), 0);
  boundKey_.assign(curKey_.size(), 0);
  searchKey_.assign(curKey_.size(), 0);
  if (current != 0) {
    StandOnRecord(current);
  } else if (position_ != TPosition::Empty) {
    StandAt(TPosition::BeforeFirst);
  }
}

void TDataCursor::ChooseBitmapOrder() {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  currentIndex_ = kNoIndex;
  currentIndexName_.clear();
  rangeActive_ = false;
  pos_ = {};
  // The visible records are built by the next operation, which may first add a filter that
  // narrows them (a query sets its order, then its filters), or may never come.
  synced_ = false;
}

void TDataCursor::StandOnRecord(int32_t n) {
  if (currentIndex_ == kNoIndex) {
    StandOn(n);
    return;
  }
  TPinnedRecord r(table_->Data().GetRecord(n));
  if (!r || r->Image()[rec::kState] != rec::kActive) {
    synced_ = false;
    Sync();
    return;
  }
  if (currentIndex_ == kRecordIdSlot) {
    BuildRecordIdKey(rec::kActive, le::GetI32(r->Image(), rec::kAutoInc), curKey_.data());
  } else {
    Tree()->KeyDef().Build(r->Image(), curKey_.data());
  }
  const TFindResult found = Tree()->Find(curKey_.data());
  if (found.found) {
    pos_ = found.pos;
    StandOn(n);
  } else if (RangeStart().Valid()) {
    StandAt(TPosition::BeforeFirst);
  } else {
    StandNowhere();
  }
}

// ---- change detection --------------------------------------------------------------------

void TDataCursor::SaveCounters() {
  savedCounters_ = table_->Locks().Counters();
  synced_ = true;
}

void TDataCursor::Sync(bool changed) {
  if (changed || !synced_ || !table_->Locks().InStep(savedCounters_)) {
    Resync();
  } else if (!(savedCounters_ == table_->Locks().Counters())) {
    // A commit wrote what this cursor saw already.
    SaveCounters();
  }
  CheckPosition();
}

void TDataCursor::Resync() {
  resynced_ = true;
  SaveCounters();
  if (UseBitmap()) {
    BuildVisible();
  } else {
    visible_.SetSize(0);
  }
  if (currentIndex_ != kNoIndex) {
    RefindPosition();
    return;
  }
  if (visible_.Count() == 0) {
    StandNowhere();
    return;
  }
  if (position_ == TPosition::Empty) {
    // There were no records; there are now: stand before the first.
    StandAt(TPosition::BeforeFirst);
    return;
  }
  if (OnRecord() && !visible_.Test(static_cast<uint32_t>(current_))) StandOnFollowing();
}

void TDataCursor::RefindPosition() {
  const TLeafPos start = RangeStart();
  if (!start.Valid()) {
    StandNowhere();
    return;
  }
  if (position_ == TPosition::Empty) {
    StandAt(TPosition::BeforeFirst);
    return;
  }
  if (!OnRecord()) return;
  // Look for the remembered key: the record stays current when it is still there (and
  // visible), otherwise the cursor stands on the entry that now follows the key.
  const TFindResult found = Tree()->Find(curKey_.data());
  TLeafPos p = found.pos;
  std::vector<uint8_t>& key = entryKey_;
  while (p.Valid()) {
    const int32_t n = Tree()->ReadEntry(p, key.data());
    if (PastRange(key.data(), true)) break;
    if (!UseBitmap() || visible_.Test(static_cast<uint32_t>(n))) {
      TPinnedRecord r(table_->Data().GetRecord(n));
      if (r && r->Image()[rec::kState] == rec::kActive) {
        pos_ = p;
        curKey_ = key;
        StandOn(n);
        return;
      }
    }
    p = Tree()->Next(p);
  }
  StandAt(TPosition::AfterLast);
}

bool TDataCursor::PassesFilters(const uint8_t* image, bool expressions) {
  if (expressions) {
    resolver_->SetImage(image);
    for (const TFilter& f : filters_) {
      if (f.active && f.condition && !EvaluateCondition(*f.condition, *resolver_, localeId_))
        return false;
    }
  }
  for (const TFilter& f : filters_) {
    if (f.active && f.callback && !f.callback(image)) return false;
  }
  return true;
}

namespace {
// Bytes of record slots one read of FillVisible covers at most.
constexpr std::size_t kVisibleRunBytes = 256 * 1024;
}  // namespace

bool TDataCursor::FillVisible(int32_t count) {
  TDataFile& data = table_->Data();
  const uint32_t size = static_cast<uint32_t>(std::max(count, 0));
  visible_.SetSize(size);
  // Expression filters the indexes answer give the candidates (or the answer itself); the
  // rest are evaluated for each candidate record.
  bool narrowed = false;
  bool evaluate = false;
  bool callbacks = false;
  TRecordsBitmap answer;
  for (const TFilter& f : filters_) {
    if (!f.active) continue;
    if (!f.condition) {
      callbacks = true;
      continue;
    }
    TFilterPlanner planner(*table_, localeId_);
    answer.SetSize(size);
    const TFilterPlanner::TAnswer a = planner.Answer(*f.condition, answer);
    if (!a.answered || !a.exact) evaluate = true;
    if (!a.answered) continue;
    if (narrowed) {
      visible_.And(answer);
    } else {
      visible_.CopyFrom(answer);
      narrowed = true;
    }
  }
  if (narrowed && !evaluate && !callbacks) return true;
  if (!narrowed) visible_.SetAll();
  // Walk the candidates; a record that is not active or fails a filter drops out. The
  // candidates are read in runs of slots past the cache (the caller holds the read lock whose
  // change check ran): each run reaches from a candidate to the last candidate within a window
  // of slots, so dense candidates take one read per window and sparse ones one short read each.
  const std::size_t recordSize = static_cast<std::size_t>(data.RecordSize());
  const uint32_t window = static_cast<uint32_t>(
      std::clamp<std::size_t>(kVisibleRunBytes / std::max<std::size_t>(recordSize, 1), 16, 8192));
  std::vector<uint8_t> run;
  for (auto span = visible_.NextSpan(0, window); span.first != 0;
       span = visible_.NextSpan(span.second, window)) {
    const auto [n, last] = span;
    const int32_t slots = static_cast<int32_t>(last - n + 1);
    run.resize(static_cast<std::size_t>(slots) * recordSize);
    if (data.ReadSlots(static_cast<int32_t>(n), slots, run.data()) != slots) return false;
    for (uint32_t m = n; m != 0 && m <= last; m = visible_.FindNext(m)) {
      const uint8_t* image = run.data() + static_cast<std::size_t>(m - n) * recordSize;
      if (image[rec::kState] != rec::kActive || !PassesFilters(image, evaluate)) visible_.Clear(m);
    }
  }
  return true;
}

void TDataCursor::BuildVisible() {
  for (int attempt = 0;; ++attempt) {
    if (FillVisible(table_->Data().RecordCount())) return;
    // The table changed while it was read: start over with the new state.
    SaveCounters();
    if (attempt > 100) Raise(err::kRecordBuffersCorrupt);
  }
}

// ---- positions ---------------------------------------------------------------------------

void TDataCursor::StandOn(int32_t n) {
  MT_ASSERT(n > 0);
  // In index order the current entry is known whenever the cursor stands on a record.
  MT_ASSERT(currentIndex_ == kNoIndex || pos_.Valid());
  current_ = n;
  position_ = TPosition::OnRecord;
}

void TDataCursor::StandAt(TPosition position) {
  MT_ASSERT(position != TPosition::OnRecord);
  current_ = 0;
  position_ = position;
}

void TDataCursor::StandNowhere() {
  StandAt(TPosition::Empty);
}

void TDataCursor::StandOnFollowing() {
  MT_ASSERT(OnRecord() && currentIndex_ == kNoIndex);
  const uint32_t next = visible_.FindNext(static_cast<uint32_t>(current_));
  if (next != 0) {
    StandOn(static_cast<int32_t>(next));
  } else if (visible_.Count() == 0) {
    StandNowhere();
  } else {
    StandAt(TPosition::AfterLast);
  }
}

void TDataCursor::CheckPosition() const {
  MT_ASSERT((position_ == TPosition::OnRecord) == (current_ > 0));
  MT_ASSERT(position_ != TPosition::OnRecord || currentIndex_ == kNoIndex || pos_.Valid());
  MT_ASSERT(position_ != TPosition::OnRecord || !UseBitmap() ||
            current_ <= static_cast<int32_t>(visible_.Size()));
}

void TDataCursor::First() {
  StandAtEnd(true);
}

void TDataCursor::Last() {
  StandAtEnd(false);
}

void TDataCursor::StandAtEnd(bool start) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  const bool indexOrder = currentIndex_ != kNoIndex;
  const bool any = indexOrder ? (start ? RangeStart() : RangeEnd()).Valid() : visible_.Count() != 0;
  if (!any) {
    StandNowhere();
    return;
  }
  StandAt(start ? TPosition::BeforeFirst : TPosition::AfterLast);
}

bool TDataCursor::ReadRecord(int32_t n, uint8_t* buffer, TReadAhead ahead) {
  TDataFile& data = table_->Data();
  for (;;) {
    TPinnedRecord r(data.GetRecord(n, ahead));
    if (!r) {
      // The table changed underneath: re-synchronise and look again. In index order the
      // caller starts its step again from the re-found position.
      Resync();
      if (currentIndex_ != kNoIndex) return false;
      if (!visible_.Test(static_cast<uint32_t>(n))) return false;
      continue;
    }
    const uint8_t* image = r->Image();
    if (image[rec::kState] != rec::kActive) {
      visible_.Clear(static_cast<uint32_t>(n));
      return false;
    }
    if (buffer != nullptr) std::memcpy(buffer, image, static_cast<std::size_t>(data.RecordSize()));
    return true;
  }
}

int TDataCursor::Step(bool forward, uint8_t* buffer) {
  Sync();
  if (position_ == TPosition::Empty) return forward ? err::kEndOfTable : err::kBeginningOfTable;
  if (currentIndex_ != kNoIndex) return IndexStep(forward, buffer);
  for (;;) {
    uint32_t n;
    if (forward) {
      if (position_ == TPosition::AfterLast) return err::kEndOfTable;
      n = visible_.FindNext(position_ == TPosition::BeforeFirst ? 0
                                                                : static_cast<uint32_t>(current_));
    } else {
      if (position_ == TPosition::BeforeFirst) return err::kBeginningOfTable;
      n = visible_.FindPrior(position_ == TPosition::AfterLast ? visible_.Size() + 1
                                                               : static_cast<uint32_t>(current_));
    }
    if (n == 0) {
      StandAt(forward ? TPosition::AfterLast : TPosition::BeforeFirst);
      return forward ? err::kEndOfTable : err::kBeginningOfTable;
    }
    const int32_t number = static_cast<int32_t>(n);
    if (!ReadRecord(number, buffer, forward ? TReadAhead::Forward : TReadAhead::Backward)) {
      if (visible_.Count() == 0) {
        StandNowhere();
        return forward ? err::kEndOfTable : err::kBeginningOfTable;
      }
      continue;
    }
    StandOn(number);
    return kRecordRead;
  }
}

int TDataCursor::Next(uint8_t* buffer) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  return Step(true, buffer);
}

int TDataCursor::Prior(uint8_t* buffer) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  return Step(false, buffer);
}

int TDataCursor::MoveBy(int n, uint8_t* buffer) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  int code = kRecordRead;
  const bool forward = n > 0;
  for (int i = 0; i < (forward ? n : -n); ++i) {
    code = Step(forward, buffer);
    if (code != kRecordRead) break;
  }
  return code;
}

int TDataCursor::GetCurrentRecord(uint8_t* buffer, bool lockForChange) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  switch (position_) {
    case TPosition::Empty:
      return err::kNoCurrentRecord;
    case TPosition::BeforeFirst:
      return err::kBeginningOfTable;
    case TPosition::AfterLast:
      return err::kEndOfTable;
    case TPosition::OnRecord:
      break;
  }
  TDataFile& data = table_->Data();
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  if (lockForChange) {
    // The caller's buffer holds what it read before; the record must still look like that.
    const int32_t n = current_;
    const bool pessimistic = table_->Settings().lockProtocol == TLockProtocol::Pessimistic;
    bool tookLock = false;
    if (pessimistic && lockedRecord_ != n) {
      if (table_->Locks().LockRecord(n, this)) {
        // The lock's change check refreshed the caches: look at the record anew.
        Resync();
      }
      tookLock = true;
    }
    auto giveBack = [&] {
      if (tookLock) table_->Locks().UnlockRecord(n, this);
    };
    TPinnedRecord r(data.GetRecord(n));
    if (!r || std::memcmp(r->Image(), buffer, size) != 0) {
      r.Reset();
      giveBack();
      if (!r) Resync();
      Raise(err::kRecordChanged);
    }
    if (tookLock) {
      if (lockedRecord_ != 0 && lockedRecord_ != n)
        table_->Locks().UnlockRecord(lockedRecord_, this);
      lockedRecord_ = n;
    }
    editRecord_ = n;
    editImage_.assign(buffer, buffer + size);
    return kRecordRead;
  }
  // In record-number order the records after this one are the likely next reads (a scan that
  // deletes stands on the following record and reads it here): a miss reads them with it.
  if (!ReadRecord(current_, buffer, UseBitmap() ? TReadAhead::Forward : TReadAhead::None)) {
    // Deleted since the cursor stood on it: stand on the record that follows.
    Resync();
    return err::kNoCurrentRecord;
  }
  return kRecordRead;
}

void TDataCursor::UnlockCurrentRecord() {
  RequireOpen();
  editRecord_ = 0;
  if (lockedRecord_ == 0) return;
  const int32_t n = lockedRecord_;
  lockedRecord_ = 0;
  table_->Locks().UnlockRecord(n, this);
}

bool TDataCursor::GoToOrdinal(uint32_t n) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  if (n == 0) return false;
  if (currentIndex_ != kNoIndex) {
    if (!UseBitmap() && Tree()->HasOrdinals()) {
      const int64_t first = RangeFirstOrdinal();
      const int64_t last = RangeLastOrdinal();
      if (first == 0 || last == 0 || first + n - 1 > last) return false;
      const TLeafPos p = Tree()->PositionOf(first + n - 1);
      if (!p.Valid()) return false;
      const int32_t number = Tree()->ReadEntry(p, curKey_.data());
      pos_ = p;
      StandOn(number);
      return true;
    }
    // Count the visible entries from the start of the range.
    std::vector<uint8_t> key(curKey_.size());
    uint32_t seen = 0;
    for (TLeafPos p = RangeStart(); p.Valid(); p = Tree()->Next(p)) {
      const int32_t number = Tree()->ReadEntry(p, key.data());
      if (PastRange(key.data(), true)) break;
      if (UseBitmap() && !visible_.Test(static_cast<uint32_t>(number))) continue;
      if (currentIndex_ == kRecordIdSlot && key[0] != rec::kActive) continue;
      if (++seen == n) {
        pos_ = p;
        curKey_ = key;
        StandOn(number);
        return true;
      }
    }
    return false;
  }
  for (;;) {
    const uint32_t number = visible_.FindNext(0, n - 1);
    if (number == 0) return false;
    if (ReadRecord(static_cast<int32_t>(number), nullptr, TReadAhead::None)) {
      StandOn(static_cast<int32_t>(number));
      return true;
    }
  }
}

bool TDataCursor::GoToRecord(int32_t n) {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  if (n <= 0 || n >= table_->Data().NextRecordNumber()) return false;
  if (UseBitmap() && !visible_.Test(static_cast<uint32_t>(n))) return false;
  if (currentIndex_ != kNoIndex && rangeActive_) {
    TPinnedRecord r(table_->Data().GetRecord(n));
    if (!r || r->Image()[rec::kState] != rec::kActive) return false;
    std::vector<uint8_t> key(curKey_.size());
    if (currentIndex_ == kRecordIdSlot) {
      BuildRecordIdKey(rec::kActive, le::GetI32(r->Image(), rec::kAutoInc), key.data());
    } else {
      Tree()->KeyDef().Build(r->Image(), key.data());
    }
    if (PastRange(key.data(), true) || PastRange(key.data(), false)) return false;
  }
  if (!ReadRecord(n, nullptr, TReadAhead::None)) return false;
  StandOnRecord(n);
  return OnRecord() && current_ == n;
}

uint32_t TDataCursor::CurrentOrdinal() {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  if (!OnRecord()) return 0;
  if (currentIndex_ != kNoIndex) {
    if (!UseBitmap() && Tree()->HasOrdinals() && currentIndex_ != kRecordIdSlot) {
      const int64_t first = RangeFirstOrdinal();
      if (first == 0) return 0;
      return static_cast<uint32_t>(Tree()->OrdinalOf(pos_) - first + 1);
    }
    std::vector<uint8_t> key(curKey_.size());
    uint32_t seen = 0;
    for (TLeafPos p = RangeStart(); p.Valid(); p = Tree()->Next(p)) {
      const int32_t number = Tree()->ReadEntry(p, key.data());
      if (UseBitmap() && !visible_.Test(static_cast<uint32_t>(number))) continue;
      if (currentIndex_ == kRecordIdSlot && key[0] != rec::kActive) continue;
      ++seen;
      if (p == pos_) return seen;
    }
    return 0;
  }
  return visible_.CountBelow(static_cast<uint32_t>(current_)) + 1;
}

uint32_t TDataCursor::RecordCount() {
  RequireOpen();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  if (currentIndex_ != kNoIndex && currentIndex_ != kRecordIdSlot) {
    if (!UseBitmap() && Tree()->HasOrdinals()) {
      const int64_t first = RangeFirstOrdinal();
      const int64_t last = RangeLastOrdinal();
      return first == 0 || last == 0 || last < first ? 0 : static_cast<uint32_t>(last - first + 1);
    }
    if (!rangeActive_ && UseBitmap()) return visible_.Count();
    std::vector<uint8_t> key(curKey_.size());
    uint32_t seen = 0;
    for (TLeafPos p = RangeStart(); p.Valid(); p = Tree()->Next(p)) {
      const int32_t number = Tree()->ReadEntry(p, key.data());
      if (PastRange(key.data(), true)) break;
      if (!UseBitmap() || visible_.Test(static_cast<uint32_t>(number))) ++seen;
    }
    return seen;
  }
  if (currentIndex_ != kNoIndex) {
    // The record-identifier index also holds the deleted slots.
    return UseBitmap() ? visible_.Count()
                       : static_cast<uint32_t>(table_->Index().Header().activeRecords);
  }
  return visible_.Count();
}

void TDataCursor::InitRecord(uint8_t* buffer) const {
  Format().InitRecord(buffer);
}

// ---- index order ---------------------------------------------------------------------------

void TDataCursor::RequireIndexOrder() const {
  RequireOpen();
  if (currentIndex_ == kNoIndex) {
    RaiseEngineError(err::kInvalidIndexName, {.table = table_->ErrorName(), .index = ""});
  }
}

TLeafPos TDataCursor::RangeStart() {
  if (!rangeActive_) return Tree()->First();
  const TFindResult found = Tree()->Find(rangeLow_.data());
  if (!found.pos.Valid()) return {};
  std::vector<uint8_t>& key = boundKey_;
  Tree()->ReadEntry(found.pos, key.data());
  if (PastRange(key.data(), true)) return {};
  return found.pos;
}

TLeafPos TDataCursor::RangeEnd() {
  if (!rangeActive_) return Tree()->Last();
  const TFindResult found = Tree()->Find(rangeHigh_.data());
  TLeafPos p = found.pos.Valid() ? found.pos : Tree()->Last();
  std::vector<uint8_t>& key = boundKey_;
  while (p.Valid()) {
    Tree()->ReadEntry(p, key.data());
    if (!PastRange(key.data(), true)) break;
    p = Tree()->Prior(p);
  }
  if (!p.Valid()) return {};
  if (PastRange(key.data(), false)) return {};
  return p;
}

bool TDataCursor::PastRange(const uint8_t* key, bool forward) const {
  if (!rangeActive_) return false;
  const TKeyDef& def = Tree()->KeyDef();
  if (forward) return def.CompareLeading(key, rangeHigh_.data(), rangeHighFields_) > 0;
  return def.CompareLeading(key, rangeLow_.data(), rangeLowFields_) < 0;
}

int64_t TDataCursor::RangeFirstOrdinal() {
  const TLeafPos p = RangeStart();
  return p.Valid() ? Tree()->OrdinalOf(p) : 0;
}

int64_t TDataCursor::RangeLastOrdinal() {
  const TLeafPos p = RangeEnd();
  return p.Valid() ? Tree()->OrdinalOf(p) : 0;
}

int TDataCursor::IndexStep(bool forward, uint8_t* buffer) {
  TLeafPos p;
  if (forward) {
    if (position_ == TPosition::AfterLast) return err::kEndOfTable;
    p = position_ == TPosition::BeforeFirst ? RangeStart() : Tree()->Next(pos_);
  } else {
    if (position_ == TPosition::BeforeFirst) return err::kBeginningOfTable;
    p = position_ == TPosition::AfterLast ? RangeEnd() : Tree()->Prior(pos_);
  }
  std::vector<uint8_t>& key = entryKey_;
  while (p.Valid()) {
    const int32_t number = Tree()->ReadEntry(p, key.data());
    if (PastRange(key.data(), forward)) break;
    const bool candidate = (!UseBitmap() || visible_.Test(static_cast<uint32_t>(number))) &&
                           !(currentIndex_ == kRecordIdSlot && key[0] != rec::kActive);
    resynced_ = false;
    // Records often lie in the file in the order of an index too (rows added in key order): a
    // step to the record beside the current one reads ahead as a walk in record order would.
    TReadAhead ahead = TReadAhead::None;
    if (position_ == TPosition::OnRecord && number == current_ + (forward ? 1 : -1))
      ahead = forward ? TReadAhead::Forward : TReadAhead::Backward;
    if (candidate && ReadRecord(number, buffer, ahead)) {
      pos_ = p;
      curKey_ = key;
      StandOn(number);
      return kRecordRead;
    }
    if (resynced_) {
      if (position_ == TPosition::Empty) {
        return forward ? err::kEndOfTable : err::kBeginningOfTable;
      }
      return IndexStep(forward, buffer);
    }
    p = forward ? Tree()->Next(p) : Tree()->Prior(p);
  }
  StandAt(forward ? TPosition::AfterLast : TPosition::BeforeFirst);
  return forward ? err::kEndOfTable : err::kBeginningOfTable;
}

void TDataCursor::FillHighStrings(const TKeyDef& def, int givenFields, uint8_t* key) const {
  if (localeId_ == 0) return;
  const std::vector<TKeyField>& fields = def.Fields();
  for (std::size_t i = static_cast<std::size_t>(std::max(givenFields, 0)); i < fields.size(); ++i) {
    const TKeyField& f = fields[i];
    if (!f.isString || f.keySize < 1) continue;
    uint8_t* at = key + f.keyOffset;
    at[0] = 1;  // a value, not null
    std::memset(at + 1, charOrder_->Highest(), static_cast<std::size_t>(f.keySize) - 1);
    at[f.keySize] = 0;
  }
}

bool TDataCursor::FindKey(const uint8_t* image, int fieldCount, bool exact, uint8_t* record) {
  RequireIndexOrder();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  const TKeyDef& def = Tree()->KeyDef();
  const int given = std::clamp(fieldCount, 0, static_cast<int>(def.Fields().size()));
  std::vector<uint8_t>& search = searchKey_;
  def.BuildPartial(image, given, TKeyFill::First, search.data());
  const TFindResult found = Tree()->Find(search.data());
  std::vector<uint8_t>& key = entryKey_;
  resynced_ = false;
  for (TLeafPos p = found.pos; p.Valid(); p = Tree()->Next(p)) {
    const int32_t number = Tree()->ReadEntry(p, key.data());
    const bool match = Tree()->KeyDef().CompareLeading(key.data(), search.data(), given) == 0;
    if (exact && !match) return false;
    if (PastRange(key.data(), true)) break;
    if (rangeActive_ && PastRange(key.data(), false)) continue;
    if (UseBitmap() && !visible_.Test(static_cast<uint32_t>(number))) continue;
    if (!ReadRecord(number, record, TReadAhead::None)) {
      // Another process changed the table meanwhile: search again in its new state.
      if (resynced_) return FindKey(image, fieldCount, exact, record);
      continue;
    }
    pos_ = p;
    curKey_ = key;
    StandOn(number);
    return match;
  }
  if (exact) return false;
  if (!RangeStart().Valid()) {
    StandNowhere();
  } else {
    StandAt(TPosition::AfterLast);
  }
  return false;
}

void TDataCursor::SetRange(const uint8_t* lowImage, int lowFields, const uint8_t* highImage,
                           int highFields) {
  RequireIndexOrder();
  TReadLockScope op(table_->Locks());
  Sync(op.Changed());
  const TKeyDef& def = Tree()->KeyDef();
  const int count = static_cast<int>(def.Fields().size());
  rangeLowFields_ = std::clamp(lowFields, 0, count);
  rangeHighFields_ = std::clamp(highFields, 0, count);
  rangeLow_.assign(curKey_.size(), 0);
  rangeHigh_.assign(curKey_.size(), 0);
  def.BuildPartial(lowImage, rangeLowFields_, TKeyFill::First, rangeLow_.data());
  def.BuildPartial(highImage, rangeHighFields_, TKeyFill::Last, rangeHigh_.data());
  FillHighStrings(def, rangeHighFields_, rangeHigh_.data());
  rangeActive_ = true;
  if (RangeStart().Valid()) {
    StandAt(TPosition::BeforeFirst);
  } else {
    StandNowhere();
  }
}

void TDataCursor::CancelRange() {
  RequireIndexOrder();
  rangeActive_ = false;
  Sync();
  if (RangeStart().Valid()) {
    if (position_ == TPosition::Empty) StandAt(TPosition::BeforeFirst);
  } else {
    StandNowhere();
  }
}

// ---- changes ---------------------------------------------------------------------------------

void TDataCursor::RequireWritable() const {
  RequireOpen();
  if (ReadOnly()) Raise(err::kAccessDenied);
}

TRecordWriteOptions TDataCursor::WriteOptions() {
  return {.owner = this, .blobs = blobs_.get(), .keepSuppliedValues = keepSuppliedValues_};
}

int32_t TDataCursor::InsertRecord(const uint8_t* image, bool standOn) {
  RequireWritable();
  // The write lock first, so that the cursor's view is in step with the table before the
  // change and can follow it afterwards without reading everything again.
  TWriteLockScope writeLock(table_->Locks());
  Sync(writeLock.Changed());
  int32_t n;
  try {
    n = table_->Writer().Insert(image, WriteOptions());
  } catch (...) {
    synced_ = false;
    throw;
  }
  TDataFile& data = table_->Data();
  if (UseBitmap()) {
    visible_.SetSize(static_cast<uint32_t>(data.RecordCount()));
    TPinnedRecord added(data.GetRecord(n));
    if (added && PassesFilters(added->Image())) visible_.Set(static_cast<uint32_t>(n));
  }
  SaveCounters();
  if (standOn) {
    StandOnRecord(n);
  } else if (currentIndex_ == kNoIndex && position_ != TPosition::Empty) {
    // Record-number order: the visible records are up to date and the position stands as it
    // was (reading them all again would make a run of inserts quadratic).
  } else {
    synced_ = false;
    Sync();
  }
  return n;
}

bool TDataCursor::CanAppendInBulk() const {
  return table_ != nullptr && !ReadOnly() && table_->Writer().CanAppendInBulk();
}

void TDataCursor::AppendInBulk(uint8_t* images, int32_t count) {
  RequireWritable();
  TWriteLockScope writeLock(table_->Locks());
  Sync(writeLock.Changed());
  try {
    table_->Writer().AppendInBulk(images, count);
  } catch (...) {
    synced_ = false;
    throw;
  }
  TDataFile& data = table_->Data();
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  if (UseBitmap()) {
    visible_.SetSize(static_cast<uint32_t>(data.RecordCount()));
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* image = images + static_cast<std::size_t>(i) * size;
      if (PassesFilters(image))
        visible_.Set(static_cast<uint32_t>(le::GetI32(image, rec::kNumber)));
    }
  }
  SaveCounters();
  // As after InsertRecord without standing on the record.
  if (currentIndex_ != kNoIndex || position_ == TPosition::Empty) {
    synced_ = false;
    Sync();
  }
}

void TDataCursor::ModifyRecord(const uint8_t* image, bool standOn) {
  RequireWritable();
  const int32_t n = current_;
  TWriteLockScope writeLock(table_->Locks());
  Sync(writeLock.Changed());
  try {
    // An edit that began on this record must find it as it was then.
    const uint8_t* expected = n != 0 && editRecord_ == n ? editImage_.data() : nullptr;
    table_->Writer().Modify(n, image, expected, WriteOptions());
  } catch (...) {
    synced_ = false;
    throw;
  }
  FinishEdit(n);
  if (UseBitmap()) {
    TPinnedRecord changed(table_->Data().GetRecord(n));
    // A change that leaves every field the filters read as it was cannot change the record's
    // place among the visible records (the bitmap is current: synchronised above).
    const bool judgedAgain =
        !changed || !FiltersActive() ||
        FilteredFieldsDiffer(table_->Writer().ReplacedImage(), changed->Image());
    if (judgedAgain) {
      if (changed && PassesFilters(changed->Image())) {
        visible_.Set(static_cast<uint32_t>(n));
      } else {
        visible_.Clear(static_cast<uint32_t>(n));
      }
    }
  }
  SaveCounters();
  if (standOn) {
    StandOnRecord(n);
  } else {
    RefreshPosition();
  }
}

void TDataCursor::DeleteRecord(const uint8_t* lastRead) {
  RequireWritable();
  const int32_t n = current_;
  TWriteLockScope writeLock(table_->Locks());
  Sync(writeLock.Changed());
  try {
    table_->Writer().Delete(n, lastRead, this);
  } catch (...) {
    synced_ = false;
    throw;
  }
  FinishEdit(n);
  if (UseBitmap()) visible_.Clear(static_cast<uint32_t>(n));
  SaveCounters();
  RefreshPosition();
}

void TDataCursor::FinishEdit(int32_t n) {
  editRecord_ = 0;
  if (lockedRecord_ == n) {
    lockedRecord_ = 0;
    table_->Locks().UnlockRecord(n, this);
  }
}

// ---- blob values ---------------------------------------------------------------------------

int TDataCursor::OpenBlob(int fieldNo, uint8_t* image, TBlobOpenMode mode) {
  RequireOpen();
  if (mode == TBlobOpenMode::ReadWrite && ReadOnly()) Raise(err::kAccessDenied);
  TReadLockScope op(table_->Locks());
  const int32_t record = OnRecord() && le::GetI32(image, rec::kNumber) == current_ ? current_ : 0;
  return blobs_->Open(table_->BlobFile(), Format(), fieldNo, image, record, mode);
}

TBlobBuffer& TDataCursor::Blob(int handle) {
  RequireOpen();
  return blobs_->Get(handle);
}

void TDataCursor::CloseBlob(int handle, bool keepChanges, uint8_t* image) {
  RequireOpen();
  blobs_->Close(handle, keepChanges, image);
}

void TDataCursor::DiscardBlobs(uint8_t* image) {
  RequireOpen();
  blobs_->Discard(Format(), image);
}

void TDataCursor::RefreshPosition() {
  // The current key or record may be gone: stand on what now follows it.
  if (currentIndex_ != kNoIndex) {
    RefindPosition();
    return;
  }
  if (OnRecord() && !visible_.Test(static_cast<uint32_t>(current_))) StandOnFollowing();
}

// ---- filters -----------------------------------------------------------------------------

TDataCursor::TFilter& TDataCursor::FindFilter(TFilterHandle handle) {
  for (TFilter& f : filters_) {
    if (f.handle == handle) return f;
  }
  Raise(err::kInvalidFilterHandle);
}

namespace {

[[noreturn]] void RaiseNoCondition(const std::string& table) {
  RaiseEngineError(err::kFilterError, {.table = table, .extra = "the filter has no condition"});
}

}  // namespace

TDataCursor::TFilterHandle TDataCursor::AddFilter(TFilterCallback callback, bool activate) {
  RequireOpen();
  if (static_cast<int>(filters_.size()) >= kMaxFilters) Raise(err::kTooManyFilters);
  if (!callback) RaiseNoCondition(table_->ErrorName());
  TFilter f;
  f.callback = std::move(callback);
  return AddFilterEntry(std::move(f), activate);
}

TDataCursor::TFilterHandle TDataCursor::AddFilter(std::string_view text, TFilterOptions options,
                                                  bool activate) {
  RequireOpen();
  if (static_cast<int>(filters_.size()) >= kMaxFilters) Raise(err::kTooManyFilters);
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    RaiseNoCondition(table_->ErrorName());
  TExpressionParser parser;
  parser.SetFilterOwner(table_->ErrorName());
  parser.SetText(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseWholeExpression(perm::kPredicates);
  TTypeCheckOptions check;
  check.errorCode = err::kFilterError;
  check.tableName = table_->ErrorName();
  check.context = std::string(parsecontext::kFilter);
  check.condition = true;
  check.literalNamesColumns = true;
  check.bareBooleanColumns = true;
  TypeCheck(tree, check, *resolver_);
  return AddPrepared(PrepareFilter(*tree, *resolver_, !options.noPartialCompare,
                                   options.caseInsensitive, localeId_),
                     activate);
}

TDataCursor::TFilterHandle TDataCursor::AddFilter(const TExpToken& condition, bool activate) {
  RequireOpen();
  if (static_cast<int>(filters_.size()) >= kMaxFilters) Raise(err::kTooManyFilters);
  return AddPrepared(PrepareFilter(condition, *resolver_, false, false, localeId_), activate);
}

TDataCursor::TFilterHandle TDataCursor::AddPrepared(TExpTokenPtr condition, bool activate) {
  TFilter f;
  ForEachNode(condition.get(), [&f](const TExpToken& node) {
    if (node.kind == TNodeKind::Column) f.fields.push_back(node.columnNumber);
  });
  f.condition = std::move(condition);
  return AddFilterEntry(std::move(f), activate);
}

bool TDataCursor::FilteredFieldsDiffer(const uint8_t* before, const uint8_t* after) const {
  const TRecordFormat& format = table_->Data().Format();
  for (const TFilter& f : filters_) {
    if (!f.active) continue;
    if (!f.condition) return true;
    for (int no : f.fields) {
      if (no < 1 || no > format.FieldCount()) return true;
      const TRecordFormat::TStoredBytes b = format.StoredBytes(no);
      if (std::memcmp(before + b.offset, after + b.offset, b.length) != 0) return true;
    }
  }
  return false;
}

TDataCursor::TFilterHandle TDataCursor::AddFilterEntry(TFilter filter, bool activate) {
  filter.handle = nextHandle_++;
  filters_.push_back(std::move(filter));
  const TFilterHandle handle = filters_.back().handle;
  if (activate) {
    try {
      ActivateFilter(handle);
    } catch (...) {
      // The caller gets no handle to remove it with: a filter that could not be switched on
      // is not added at all.
      filters_.pop_back();
      synced_ = false;
      throw;
    }
  }
  return handle;
}

bool TDataCursor::CanAnswerFromIndexes(const TExpToken& condition) {
  RequireOpen();
  // The table's indexes as they are now; the cursor's own records are not needed.
  TReadLockScope op(table_->Locks());
  if (op.Changed()) synced_ = false;
  TExpTokenPtr prepared = PrepareFilter(condition, *resolver_, false, false, localeId_);
  return TFilterPlanner(*table_, localeId_).Answerable(*prepared);
}

TExpressionResolver& TDataCursor::Resolver() {
  RequireOpen();
  return *resolver_;
}

void TDataCursor::RemoveFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  const bool wasActive = f.active;
  filters_.erase(filters_.begin() + (&f - filters_.data()));
  // The visible records are built anew by the next operation (none when the cursor closes).
  if (wasActive) synced_ = false;
}

void TDataCursor::ActivateFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  if (f.active) return;
  f.active = true;
  try {
    RefreshFilters();
  } catch (...) {
    // Left off when the visible records could not be built with it; they are built anew by
    // the next operation.
    f.active = false;
    synced_ = false;
    throw;
  }
}

void TDataCursor::DeactivateFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  if (!f.active) return;
  f.active = false;
  synced_ = false;
}

bool TDataCursor::FiltersActive() const {
  return std::any_of(filters_.begin(), filters_.end(), [](const TFilter& f) { return f.active; });
}

void TDataCursor::RefreshFilters() {
  RequireOpen();
  // The visible records change; the current record stays when it is still visible. They are
  // read under the table's read lock, after its change check, like every other operation.
  TReadLockScope op(table_->Locks());
  synced_ = false;
  Sync(op.Changed());
}

}  // namespace mt
