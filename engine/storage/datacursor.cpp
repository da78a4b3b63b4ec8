// TDataCursor: opening, positions, moving in record-number order, reading, counts and
// ordinals, and callback filters over the visible-records bitmap.
#include "datacursor.h"

#include <algorithm>
#include <cstring>

#include "engine/common/engineerror.h"

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
}

void TDataCursor::SetTableName(std::string name) {
  RequireClosed();
  tableName_ = std::move(name);
}
void TDataCursor::SetExclusive(bool exclusive) {
  RequireClosed();
  exclusive_ = exclusive;
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
  options.passwords = passwords_;
  // The shared table checks the exclusive rules and the password and, as the process's first
  // opener, validates the files.
  TDataTable& table = directory_.OpenTable(tableName_, inMemory_, options);
  try {
    tableReadOnly_ = table.ReadOnly();
    localeId_ = table.Data().LocaleId();
    charOrder_ = &TLanguageCharMapsList::Get(localeId_);
    scratch_.assign(table.Data().RecordSize(), 0);
  } catch (...) {
    directory_.CloseTable(table);
    throw;
  }
  table_ = &table;
  // Indexes are walked by the index engine; until a cursor chooses one it reads in
  // record-number order.
  currentIndex_ = kNoIndex;
  synced_ = false;
  try {
    Sync();
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
  filters_.clear();
  visible_.SetSize(0);
  TDataTable* t = table_;
  table_ = nullptr;
  charOrder_ = nullptr;
  current_ = 0;
  beforeFirst_ = afterLast_ = true;
  tableReadOnly_ = false;
  directory_.CloseTable(*t);
}

// ---- order -------------------------------------------------------------------------------

int TDataCursor::IndexSlotOf(std::string_view indexName) const {
  RequireOpen();
  const TIndexFile& index = table_->Index();
  auto sameName = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
      if (x != y) return false;
    }
    return true;
  };
  if (indexName.empty() && index.HasPrimaryIndex()) return kPrimarySlot;
  if (!indexName.empty()) {
    for (int slot = 1; slot <= kMaxSecondaryIndexes; ++slot) {
      const TIndexDescriptor& d = index.Descriptor(slot);
      if (!d.name.empty() && d.keyLength > 0 && sameName(d.name, indexName)) return slot;
    }
  }
  RaiseEngineError(err::kInvalidIndexName,
                   {.table = table_->ErrorName(), .index = std::string(indexName)});
}

void TDataCursor::ChooseBitmapOrder() {
  RequireOpen();
  currentIndex_ = kNoIndex;
  Sync();
}

// ---- change detection --------------------------------------------------------------------

void TDataCursor::SaveCounters() {
  savedDataCounter_ = table_->Data().ChangeCounter();
  savedIndexCounter_ = table_->Index().ChangeCounter();
  synced_ = true;
}

void TDataCursor::Sync() {
  if (!synced_ || savedDataCounter_ != table_->Data().ChangeCounter() ||
      savedIndexCounter_ != table_->Index().ChangeCounter()) {
    Resync();
  }
}

void TDataCursor::Resync() {
  SaveCounters();
  BuildVisible();
  if (visible_.Count() == 0) {
    StandNowhere();
    return;
  }
  if (beforeFirst_ && afterLast_) {
    // There were no records; there are now: stand before the first.
    beforeFirst_ = true;
    afterLast_ = false;
    current_ = 0;
    return;
  }
  if (!OnRecord()) return;
  if (visible_.Test(static_cast<uint32_t>(current_))) return;
  // The current record is gone: stand on the one that now follows it.
  const uint32_t next = visible_.FindNext(static_cast<uint32_t>(current_));
  if (next != 0) {
    current_ = static_cast<int32_t>(next);
  } else {
    afterLast_ = true;
  }
}

bool TDataCursor::PassesFilters(const uint8_t* image) const {
  for (const TFilter& f : filters_) {
    if (f.active && !f.callback(image)) return false;
  }
  return true;
}

void TDataCursor::BuildVisible() {
  TDataFile& data = table_->Data();
  for (int attempt = 0;; ++attempt) {
    const int32_t count = data.RecordCount();
    visible_.SetSize(static_cast<uint32_t>(std::max(count, 0)));
    visible_.ClearAll();
    bool changed = false;
    for (int32_t n = 1; n <= count; ++n) {
      TPinnedRecord r(data.GetRecord(n, TReadAhead::Forward));
      if (!r) {
        changed = true;
        break;
      }
      const uint8_t* image = r->Image();
      if (image[rec::kState] != rec::kActive) continue;
      if (PassesFilters(image)) visible_.Set(static_cast<uint32_t>(n));
    }
    if (!changed) return;
    // The table changed while it was read: start over with the new state.
    SaveCounters();
    if (attempt > 100) Raise(err::kRecordBuffersCorrupt);
  }
}

// ---- positions ---------------------------------------------------------------------------

void TDataCursor::StandOn(int32_t n) {
  current_ = n;
  beforeFirst_ = afterLast_ = false;
}

void TDataCursor::StandNowhere() {
  current_ = 0;
  beforeFirst_ = afterLast_ = true;
}

void TDataCursor::First() {
  RequireOpen();
  Sync();
  if (visible_.Count() == 0) {
    StandNowhere();
    return;
  }
  current_ = 0;
  beforeFirst_ = true;
  afterLast_ = false;
}

void TDataCursor::Last() {
  RequireOpen();
  Sync();
  if (visible_.Count() == 0) {
    StandNowhere();
    return;
  }
  current_ = static_cast<int32_t>(visible_.Size()) + 1;
  beforeFirst_ = false;
  afterLast_ = true;
}

bool TDataCursor::ReadRecord(int32_t n, uint8_t* buffer, TReadAhead ahead) {
  TDataFile& data = table_->Data();
  for (;;) {
    TPinnedRecord r(data.GetRecord(n, ahead));
    if (!r) {
      // The table changed underneath: re-synchronise and look again.
      Resync();
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
  if (beforeFirst_ && afterLast_) return forward ? err::kEndOfTable : err::kBeginningOfTable;
  for (;;) {
    uint32_t n;
    if (forward) {
      if (afterLast_) return err::kEndOfTable;
      n = visible_.FindNext(beforeFirst_ ? 0 : static_cast<uint32_t>(current_));
    } else {
      if (beforeFirst_) return err::kBeginningOfTable;
      n = visible_.FindPrior(afterLast_ ? visible_.Size() + 1 : static_cast<uint32_t>(current_));
    }
    if (n == 0) {
      // The position stays on the last visible record passed.
      if (forward) {
        afterLast_ = true;
        beforeFirst_ = false;
        return err::kEndOfTable;
      }
      beforeFirst_ = true;
      afterLast_ = false;
      return err::kBeginningOfTable;
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
  return Step(true, buffer);
}

int TDataCursor::Prior(uint8_t* buffer) {
  RequireOpen();
  return Step(false, buffer);
}

int TDataCursor::MoveBy(int n, uint8_t* buffer) {
  RequireOpen();
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
  Sync();
  if (beforeFirst_ && afterLast_) return err::kNoCurrentRecord;
  if (beforeFirst_) return err::kBeginningOfTable;
  if (afterLast_) return err::kEndOfTable;
  TDataFile& data = table_->Data();
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  if (lockForChange) {
    // The caller's buffer holds what it read before; the record must still look like that.
    TPinnedRecord r(data.GetRecord(current_));
    if (!r) {
      Resync();
      Raise(err::kRecordChanged);
    }
    if (std::memcmp(r->Image(), buffer, size) != 0) Raise(err::kRecordChanged);
    return kRecordRead;
  }
  if (!ReadRecord(current_, buffer, TReadAhead::None)) {
    // Deleted since the cursor stood on it: stand on the record that follows.
    Resync();
    return err::kNoCurrentRecord;
  }
  return kRecordRead;
}

bool TDataCursor::GoToOrdinal(uint32_t n) {
  RequireOpen();
  Sync();
  if (n == 0) return false;
  for (;;) {
    const uint32_t number = visible_.FindNext(0, n - 1);
    if (number == 0) return false;
    if (ReadRecord(static_cast<int32_t>(number), nullptr, TReadAhead::None)) {
      StandOn(static_cast<int32_t>(number));
      return true;
    }
  }
}

uint32_t TDataCursor::CurrentOrdinal() {
  RequireOpen();
  Sync();
  if (!OnRecord()) return 0;
  return visible_.CountBelow(static_cast<uint32_t>(current_)) + 1;
}

uint32_t TDataCursor::RecordCount() {
  RequireOpen();
  Sync();
  return visible_.Count();
}

void TDataCursor::InitRecord(uint8_t* buffer) const {
  Format().InitRecord(buffer);
}

// ---- filters -----------------------------------------------------------------------------

TDataCursor::TFilter& TDataCursor::FindFilter(TFilterHandle handle) {
  for (TFilter& f : filters_) {
    if (f.handle == handle) return f;
  }
  Raise(err::kInvalidFilterHandle);
}

TDataCursor::TFilterHandle TDataCursor::AddFilter(TFilterCallback callback, bool activate) {
  RequireOpen();
  if (static_cast<int>(filters_.size()) >= kMaxFilters) Raise(err::kTooManyFilters);
  if (!callback) {
    RaiseEngineError(err::kFilterError,
                     {.table = table_->ErrorName(), .extra = "the filter has no condition"});
  }
  TFilter f;
  f.handle = nextHandle_++;
  f.callback = std::move(callback);
  f.active = false;
  filters_.push_back(std::move(f));
  if (activate) ActivateFilter(filters_.back().handle);
  return filters_.back().handle;
}

void TDataCursor::RemoveFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  const bool wasActive = f.active;
  filters_.erase(filters_.begin() + (&f - filters_.data()));
  if (wasActive) RefreshFilters();
}

void TDataCursor::ActivateFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  if (f.active) return;
  f.active = true;
  RefreshFilters();
}

void TDataCursor::DeactivateFilter(TFilterHandle handle) {
  RequireOpen();
  TFilter& f = FindFilter(handle);
  if (!f.active) return;
  f.active = false;
  RefreshFilters();
}

bool TDataCursor::FiltersActive() const {
  return std::any_of(filters_.begin(), filters_.end(), [](const TFilter& f) { return f.active; });
}

void TDataCursor::RefreshFilters() {
  RequireOpen();
  // The visible records change; the current record stays when it is still visible.
  synced_ = false;
  Resync();
}

}  // namespace mt
