// TEngineDataSet and TEngineDBDataSet: states, positions, record buffers, changes, filters and
// Locate over an engine cursor; database binding by name.
#include "dataset.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "database.h"
#include "dberrors.h"
#include "engine/common/engineerror.h"
#include "engine/common/literals.h"
#include "engine/common/localetext.h"
#include "engine/storage/fieldtypes.h"
#include "session.h"

namespace mt {
namespace {

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

TFilterOptions CursorOptions(TFilterOptionSet options) {
  TFilterOptions o;
  o.caseInsensitive = options.caseInsensitive;
  o.noPartialCompare = options.noPartialCompare;
  return o;
}

}  // namespace

// The values Locate looks for, stored into a record image as the fields would store them.
struct TEngineDataSet::TLocateKey {
  std::vector<TField*> fields;
  std::vector<uint8_t> image;
  std::vector<std::string> texts;  // text fields: the stored text, upper-cased when ignoring case
  TLocateOptions options;
  bool anyNull = false;
  bool anyText = false;
  // A text longer than its field: no row can hold it.
  bool impossible = false;
};

// ---- lifetime and state ------------------------------------------------------------------

TEngineDataSet::TEngineDataSet(TComponent* owner) : TComponent(owner) {}

TEngineDataSet::~TEngineDataSet() {
  CloseOnDestroy();
}

void TEngineDataSet::CloseOnDestroy() noexcept {
  BeforeClose = nullptr;
  AfterClose = nullptr;
  BeforeCancel = nullptr;
  AfterCancel = nullptr;
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close; the cursor gave its share back regardless.
  }
}

void TEngineDataSet::CheckInactive() const {
  if (Active()) RaiseDatabaseError(dbmsg::kDataSetOpen);
}

void TEngineDataSet::CheckActive() const {
  if (!Active()) RaiseDatabaseError(dbmsg::kDataSetClosed);
}

TDataCursor& TEngineDataSet::Cursor() const {
  if (!cursor_) RaiseDatabaseError(dbmsg::kDataSetClosed);
  return *cursor_;
}

bool TEngineDataSet::CanModify() const {
  return cursor_ && !cursor_->ReadOnly();
}

void TEngineDataSet::RequireModifiable() const {
  if (!CanModify()) RaiseDatabaseError(dbmsg::kDataSetReadOnly);
}

void TEngineDataSet::SetActive(bool active) {
  if (active) {
    Open();
  } else {
    Close();
  }
}

void TEngineDataSet::Open() {
  if (Active()) return;
  if (BeforeOpen) BeforeOpen(*this);
  try {
    cursor_ = OpenCursor();
    if (!cursor_) RaiseDatabaseError(dbmsg::kHandleError);
    ++cursorEpoch_;
    const std::size_t size = static_cast<std::size_t>(cursor_->RecordSize());
    current_.assign(size, 0);
    edit_.assign(size, 0);
    scratch_.assign(size, 0);
    BuildFields();
    InstallFilters();
    state_ = TDataSetState::Browse;
    modified_ = false;
    StandAtEnd(true);
  } catch (...) {
    state_ = TDataSetState::Inactive;
    try {
      ReleaseCursor();
    } catch (const std::exception&) {
      // The open's own failure is the one to report.
    }
    throw;
  }
  if (AfterOpen) AfterOpen(*this);
}

void TEngineDataSet::Close() {
  if (!Active()) return;
  if (BeforeClose) BeforeClose(*this);
  try {
    DropEdit();
  } catch (const std::exception&) {
    // Closing the cursor gives back whatever the edit held.
  }
  state_ = TDataSetState::Inactive;
  ReleaseCursor();
  if (AfterClose) AfterClose(*this);
}

int TEngineDataSet::ShownFieldCount(const TDataCursor& cursor) const {
  return cursor.Format().FieldCount();
}

void TEngineDataSet::BuildFields() {
  fields_.clear();
  const TRecordFormat& format = cursor_->Format();
  const int shown = std::min(ShownFieldCount(*cursor_), format.FieldCount());
  for (int no = 1; no <= shown; ++no)
    fields_.push_back(std::make_unique<TField>(*this, no, format.Field(no)));
}

void TEngineDataSet::ReleaseCursor() {
  fields_.clear();
  filterHandle_ = 0;
  recordFilterHandle_ = 0;
  editBlobs_.clear();
  ++cursorEpoch_;
  ++editEpoch_;
  std::exception_ptr failure;
  if (cursor_) {
    try {
      cursor_->Close();
    } catch (...) {
      failure = std::current_exception();
    }
    cursor_.reset();
  }
  try {
    CursorClosed();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  current_.clear();
  edit_.clear();
  scratch_.clear();
  bof_ = eof_ = true;
  modified_ = false;
  if (failure) std::rethrow_exception(failure);
}

const uint8_t* TEngineDataSet::ActiveBuffer() const {
  if (filterImage_ != nullptr) return filterImage_;
  if (!cursor_) RaiseDatabaseError(dbmsg::kDataSetClosed);
  return Editing() ? edit_.data() : current_.data();
}

// ---- fields --------------------------------------------------------------------------------

TField& TEngineDataSet::Fields(int index) const {
  return *fields_.at(static_cast<std::size_t>(index));
}

TField* TEngineDataSet::FindField(std::string_view name) const {
  for (const auto& f : fields_) {
    if (EqualsKeyword(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TEngineDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) RaiseDatabaseError(dbmsg::kFieldNotFound, {name});
  return *f;
}

// ---- positions -------------------------------------------------------------------------------

void TEngineDataSet::RaiseCursorCode(int code) const {
  RaiseEngineError(code, {.table = cursor_->Table().ErrorName()});
}

void TEngineDataSet::Accept() {
  std::swap(current_, scratch_);
  ++stats_.recordsFetched;
}

void TEngineDataSet::SetEmpty() {
  std::fill(current_.begin(), current_.end(), 0);
  bof_ = eof_ = true;
}

void TEngineDataSet::StandAtEnd(bool start) {
  if (start) {
    cursor_->First();
  } else {
    cursor_->Last();
  }
  const int code = start ? cursor_->Next(scratch_.data()) : cursor_->Prior(scratch_.data());
  if (code == TDataCursor::kRecordRead) {
    Accept();
    bof_ = start;
    eof_ = !start;
    return;
  }
  if (code != err::kEndOfTable && code != err::kBeginningOfTable && code != err::kNoCurrentRecord) {
    RaiseCursorCode(code);
  }
  SetEmpty();
}

void TEngineDataSet::Settle() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int code = cursor_->GetCurrentRecord(scratch_.data());
    if (code == err::kEndOfTable) {
      code = cursor_->Prior(scratch_.data());
    } else if (code == err::kBeginningOfTable) {
      code = cursor_->Next(scratch_.data());
    }
    if (code == TDataCursor::kRecordRead) {
      Accept();
      bof_ = eof_ = false;
      return;
    }
    if (code != err::kEndOfTable && code != err::kBeginningOfTable &&
        code != err::kNoCurrentRecord) {
      RaiseCursorCode(code);
    }
    // 8709 also means the record went away and the cursor now stands on the one that
    // followed it: look once more.
    if (code != err::kNoCurrentRecord) break;
  }
  SetEmpty();
}

template <class F>
void TEngineDataSet::Scroll(F move) {
  if (BeforeScroll) BeforeScroll(*this);
  move();
  if (AfterScroll) AfterScroll(*this);
}

void TEngineDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  Scroll([&] { StandAtEnd(true); });
}

void TEngineDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  Scroll([&] { StandAtEnd(false); });
}

void TEngineDataSet::Next() {
  Step(true);
}

void TEngineDataSet::Prior() {
  Step(false);
}

void TEngineDataSet::Step(bool forward) {
  CheckActive();
  CheckBrowseMode();
  if (forward ? eof_ : bof_) return;
  Scroll([&] {
    const int code = forward ? cursor_->Next(scratch_.data()) : cursor_->Prior(scratch_.data());
    if (code == TDataCursor::kRecordRead) {
      Accept();
      (forward ? bof_ : eof_) = false;
      return;
    }
    if (code != (forward ? err::kEndOfTable : err::kBeginningOfTable)) RaiseCursorCode(code);
    (forward ? eof_ : bof_) = true;
    // The cursor steps back onto the row at that end, which stays the current row.
    if (forward) {
      cursor_->Prior(nullptr);
    } else {
      cursor_->Next(nullptr);
    }
  });
}

int TEngineDataSet::MoveBy(int count) {
  int moved = 0;
  while (count > 0 && !Eof()) {
    Next();
    if (Eof()) break;
    ++moved;
    --count;
  }
  while (count < 0 && !Bof()) {
    Prior();
    if (Bof()) break;
    ++moved;
    ++count;
  }
  return moved;
}

bool TEngineDataSet::IsEmpty() const {
  CheckActive();
  return state_ == TDataSetState::Browse && bof_ && eof_;
}

uint32_t TEngineDataSet::RecordCount() {
  CheckActive();
  return cursor_->RecordCount();
}

void TEngineDataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(*this);
  Settle();
  if (AfterRefresh) AfterRefresh(*this);
}

void TEngineDataSet::CursorOrderChanged() {
  if (bof_ && eof_) {
    StandAtEnd(true);
  } else {
    Settle();
  }
}

// ---- changes -------------------------------------------------------------------------------

void TEngineDataSet::CheckBrowseMode() {
  if (!Editing()) return;
  if (modified_) {
    Post();
  } else {
    Cancel();
  }
}

void TEngineDataSet::Append() {
  Insert();
}

void TEngineDataSet::Insert() {
  CheckActive();
  CheckBrowseMode();
  RequireModifiable();
  if (BeforeInsert) BeforeInsert(*this);
  cursor_->InitRecord(edit_.data());
  state_ = TDataSetState::Insert;
  ++editEpoch_;
  if (OnNewRecord) {
    try {
      OnNewRecord(*this);
    } catch (...) {
      DropEdit();
      state_ = TDataSetState::Browse;
      throw;
    }
  }
  modified_ = false;
  if (AfterInsert) AfterInsert(*this);
}

void TEngineDataSet::Edit() {
  CheckActive();
  if (Editing()) return;
  if (bof_ && eof_) {
    Insert();
    return;
  }
  RequireModifiable();
  if (BeforeEdit) BeforeEdit(*this);
  edit_ = current_;
  int code = 0;
  try {
    // The engine compares the row with what the dataset read and locks it.
    code = cursor_->GetCurrentRecord(edit_.data(), true);
  } catch (const EEngineError& e) {
    if (e.ErrorCode() == err::kRecordChanged) {
      // Show the row as it is now; the next Edit starts from there.
      try {
        Settle();
      } catch (const std::exception&) {
        // The change error is the one to report.
      }
    }
    throw;
  }
  if (code != TDataCursor::kRecordRead) {
    // The row is gone.
    Settle();
    RaiseCursorCode(err::kRecordChanged);
  }
  state_ = TDataSetState::Edit;
  modified_ = false;
  ++editEpoch_;
  if (AfterEdit) AfterEdit(*this);
}

void TEngineDataSet::Post() {
  CheckActive();
  if (!Editing()) return;
  if (BeforePost) BeforePost(*this);
  // A failure leaves the state, the pending values and the table as they were.
  if (state_ == TDataSetState::Insert) {
    cursor_->InsertRecord(edit_.data(), true);
  } else {
    cursor_->ModifyRecord(edit_.data(), true);
  }
  CloseEditBlobs();
  state_ = TDataSetState::Browse;
  modified_ = false;
  ++editEpoch_;
  Settle();
  if (AfterPost) AfterPost(*this);
}

void TEngineDataSet::Cancel() {
  CheckActive();
  if (!Editing()) return;
  if (BeforeCancel) BeforeCancel(*this);
  const bool wasEmpty = bof_ && eof_;
  DropEdit();
  state_ = TDataSetState::Browse;
  if (wasEmpty) {
    StandAtEnd(true);
  } else {
    Settle();
  }
  if (AfterCancel) AfterCancel(*this);
}

void TEngineDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::Insert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::Edit) {
    DropEdit();
    state_ = TDataSetState::Browse;
  }
  RequireModifiable();
  if (BeforeDelete) BeforeDelete(*this);
  if (BeforeScroll) BeforeScroll(*this);
  cursor_->DeleteRecord(current_.data());
  Settle();
  if (AfterDelete) AfterDelete(*this);
  if (AfterScroll) AfterScroll(*this);
}

void TEngineDataSet::DropEdit() {
  if (cursor_ && Editing()) {
    try {
      cursor_->DiscardBlobs(edit_.data());
    } catch (const EEngineError&) {
      // The values are closed below in any case.
    }
    CloseEditBlobs();
    if (state_ == TDataSetState::Edit) cursor_->UnlockCurrentRecord();
  }
  modified_ = false;
  ++editEpoch_;
}

void TEngineDataSet::AddEditBlob(int handle) {
  if (std::find(editBlobs_.begin(), editBlobs_.end(), handle) == editBlobs_.end())
    editBlobs_.push_back(handle);
}

void TEngineDataSet::RemoveEditBlob(int handle) {
  editBlobs_.erase(std::remove(editBlobs_.begin(), editBlobs_.end(), handle), editBlobs_.end());
}

void TEngineDataSet::CloseEditBlobs() {
  for (int handle : editBlobs_) {
    try {
      cursor_->CloseBlob(handle, false);
    } catch (const EEngineError&) {
      // Already given up with the record it belonged to.
    }
  }
  editBlobs_.clear();
}

uint64_t TEngineDataSet::OpenBlobLength(int handle) const {
  try {
    return cursor_->Blob(handle).Length();
  } catch (const EEngineError&) {
    return 0;
  }
}

// ---- filters -------------------------------------------------------------------------------

TDataCursor::TFilterCallback TEngineDataSet::RecordFilterCallback() {
  return [this](const uint8_t* image) {
    ++stats_.filterRecordsTested;
    struct TRestore {
      const uint8_t*& slot;
      const uint8_t* saved;
      ~TRestore() { slot = saved; }
    } restore{filterImage_, filterImage_};
    filterImage_ = image;
    return OnFilterRecord && OnFilterRecord(*this);
  };
}

void TEngineDataSet::InstallFilters() {
  if (!IsBlank(filter_)) {
    filterHandle_ = cursor_->AddFilter(filter_, CursorOptions(filterOptions_), filtered_);
  }
  if (OnFilterRecord && filtered_) {
    recordFilterHandle_ = cursor_->AddFilter(RecordFilterCallback(), true);
  }
}

void TEngineDataSet::RemoveFilterHandle(TDataCursor::TFilterHandle& handle) {
  if (handle == 0) return;
  const TDataCursor::TFilterHandle h = handle;
  handle = 0;
  cursor_->RemoveFilter(h);
}

void TEngineDataSet::ReplaceFilter(const std::string& text, TFilterOptionSet options) {
  CheckBrowseMode();
  // The new text is compiled first: a faulty one leaves the old filter in place.
  TDataCursor::TFilterHandle added = 0;
  if (!IsBlank(text)) added = cursor_->AddFilter(text, CursorOptions(options), false);
  RemoveFilterHandle(filterHandle_);
  filterHandle_ = added;
  filter_ = text;
  filterOptions_ = options;
  if (!filtered_) return;
  if (added != 0) cursor_->ActivateFilter(added);
  First();
}

void TEngineDataSet::SetFilter(std::string filter) {
  if (filter == filter_) return;
  if (!Active()) {
    filter_ = std::move(filter);
    return;
  }
  ReplaceFilter(filter, filterOptions_);
}

void TEngineDataSet::SetFilterOptions(TFilterOptionSet options) {
  if (options.caseInsensitive == filterOptions_.caseInsensitive &&
      options.noPartialCompare == filterOptions_.noPartialCompare) {
    return;
  }
  if (!Active()) {
    filterOptions_ = options;
    return;
  }
  ReplaceFilter(filter_, options);
}

void TEngineDataSet::SetFiltered(bool filtered) {
  if (filtered == filtered_) return;
  if (!Active()) {
    filtered_ = filtered;
    return;
  }
  CheckBrowseMode();
  filtered_ = filtered;
  if (filterHandle_ != 0) {
    if (filtered) {
      cursor_->ActivateFilter(filterHandle_);
    } else {
      cursor_->DeactivateFilter(filterHandle_);
    }
  }
  if (filtered && OnFilterRecord && recordFilterHandle_ == 0) {
    recordFilterHandle_ = cursor_->AddFilter(RecordFilterCallback(), true);
  } else if (!filtered) {
    RemoveFilterHandle(recordFilterHandle_);
  }
  First();
}

// ---- Locate --------------------------------------------------------------------------------

std::vector<std::string> SplitFieldNames(std::string_view names) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = names.find(';', from);
    std::string_view name = names.substr(from, at == std::string_view::npos ? at : at - from);
    const std::size_t first = name.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos) {
      name = name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
      out.emplace_back(name);
    }
    if (at == std::string_view::npos) return out;
    from = at + 1;
  }
}

std::vector<TField*> TEngineDataSet::LocateFields(std::string_view keyFields) const {
  std::vector<TField*> fields;
  for (const std::string& name : SplitFieldNames(keyFields))
    fields.push_back(&FieldByName(name));
  return fields;
}

bool TEngineDataSet::RowMatches(const TLocateKey& key, const uint8_t* image) const {
  const TRecordFormat& format = cursor_->Format();
  std::vector<uint8_t> a(16), b(16);
  for (std::size_t i = 0; i < key.fields.size(); ++i) {
    const TField& field = *key.fields[i];
    const int no = field.FieldNo();
    const bool rowNull = format.GetField(no, image, nullptr);
    const bool keyNull = format.GetField(no, key.image.data(), nullptr);
    if (rowNull || keyNull) {
      if (rowNull != keyNull) return false;
      continue;
    }
    switch (field.Kind()) {
      case TFieldKind::String: {
        std::string text = *format.GetString(no, image);
        if (key.options.caseInsensitive) UpperCaseGbk(text);
        const std::string& wanted = key.texts[i];
        if (key.options.partialKey ? !text.starts_with(wanted) : text != wanted) return false;
        break;
      }
      case TFieldKind::Float:
      case TFieldKind::Timestamp:
        if (*format.GetFloat(no, image) != *format.GetFloat(no, key.image.data())) return false;
        break;
      default: {
        const std::size_t size = static_cast<std::size_t>(format.ValueSize(no));
        a.resize(size);
        b.resize(size);
        format.GetField(no, image, a.data());
        format.GetField(no, key.image.data(), b.data());
        if (a != b) return false;
      }
    }
  }
  return true;
}

bool TEngineDataSet::Locate(std::string_view keyFields, const std::vector<TVariant>& values,
                            TLocateOptions options) {
  CheckActive();
  CheckBrowseMode();
  TLocateKey key;
  key.fields = LocateFields(keyFields);
  key.options = options;
  if (key.fields.empty() || key.fields.size() != values.size()) {
    RaiseDatabaseError(dbmsg::kLocateValueCount, {keyFields});
  }
  if (bof_ && eof_) return false;
  const TRecordFormat& format = cursor_->Format();
  key.image.assign(static_cast<std::size_t>(format.RecordSize()), 0);
  key.texts.resize(key.fields.size());
  for (std::size_t i = 0; i < key.fields.size(); ++i) {
    TField& field = *key.fields[i];
    if (field.IsBlob()) field.AccessError("Locate");
    field.StoreValue(key.image.data(), values[i]);
    const int no = field.FieldNo();
    if (format.GetField(no, key.image.data(), nullptr)) {
      key.anyNull = true;
      continue;
    }
    if (field.Kind() != TFieldKind::String) continue;
    key.anyText = true;
    std::string stored = *format.GetString(no, key.image.data());
    if (values[i].Kind() == TVariant::TKind::Text) {
      std::string_view given = values[i].Text();
      while (!given.empty() && given.back() == ' ')
        given.remove_suffix(1);
      // The field would have cut the text: no row holds it.
      if (given.size() > stored.size()) key.impossible = true;
    }
    if (options.caseInsensitive) UpperCaseGbk(stored);
    key.texts[i] = std::move(stored);
  }
  if (key.impossible) return false;
  bool found = false;
  if (!LocateByIndex(key, found)) found = LocateByFilter(key);
  if (found) Scroll([&] { Settle(); });
  return found;
}

bool TEngineDataSet::LocateByIndex(const TLocateKey& key, bool& found) {
  if (key.anyNull) return false;
  const int count = static_cast<int>(key.fields.size());
  const bool partialText = key.options.partialKey && key.anyText;
  const TIndexFile& index = cursor_->Table().Index();
  auto usable = [&](int slot) {
    if (!index.SlotInUse(slot) || slot == kRecordIdSlot || slot == kTextSlot) return false;
    const TIndexDescriptor& d = index.Descriptor(slot);
    if (static_cast<int>(d.fields.size()) < count) return false;
    for (int i = 0; i < count; ++i) {
      const bool located = std::any_of(key.fields.begin(), key.fields.end(), [&](TField* f) {
        return f->FieldNo() == d.fields[static_cast<std::size_t>(i)];
      });
      if (!located) return false;
    }
    // Text keys must compare as asked; a prefix is found as the first key at or after it,
    // which holds only in ascending byte order.
    if (key.anyText && d.caseInsensitive != key.options.caseInsensitive) return false;
    if (partialText &&
        (count != 1 || cursor_->LocaleId() != 0 || d.descending || d.fieldDescending[0])) {
      return false;
    }
    return true;
  };
  const int current = cursor_->CurrentIndex();
  int slot = -1;
  if (current != TDataCursor::kNoIndex && usable(current)) {
    slot = current;
  } else {
    for (int s = 0; s <= kMaxSecondaryIndexes && slot < 0; ++s) {
      if (s != current && usable(s)) slot = s;
    }
  }
  if (slot < 0) return false;

  if (slot == current) {
    ++stats_.locateIndexSearches;
    const int32_t was = cursor_->CurrentRecordNumber();
    const bool hit = cursor_->FindKey(key.image.data(), count, !partialText);
    if (!hit && !partialText) {
      found = false;  // an exact search that finds nothing leaves the position
      return true;
    }
    bool match = false;
    if (cursor_->GetCurrentRecord(scratch_.data()) == TDataCursor::kRecordRead) {
      ++stats_.recordsFetched;
      match = RowMatches(key, scratch_.data());
    }
    if (match) {
      found = true;
      return true;
    }
    cursor_->GoToRecord(was);
    // The first key at or after a prefix that does not start with it: none does. Keys that
    // are equal under the table's collation without being equal: look record by record.
    found = false;
    return partialText;
  }

  // Another index: searched on a cursor of its own; the dataset's cursor then goes to the
  // record, keeping its order.
  std::unique_ptr<TDataCursor> search = OpenSearchCursor();
  if (!search) return false;
  ++stats_.locateIndexSearches;
  search->ChooseIndexSlot(slot);
  const bool hit = search->FindKey(key.image.data(), count, !partialText);
  found = false;
  if (!hit && !partialText) return true;
  if (search->GetCurrentRecord(scratch_.data()) != TDataCursor::kRecordRead) return partialText;
  ++stats_.recordsFetched;
  if (!RowMatches(key, scratch_.data())) return partialText;
  const int32_t number = search->CurrentRecordNumber();
  search.reset();
  // A record the dataset's filter hides: another row may still match.
  if (!cursor_->GoToRecord(number)) return false;
  found = true;
  return true;
}

bool TEngineDataSet::LocateByFilter(const TLocateKey& key) {
  ++stats_.locateFilterScans;
  const int32_t was = cursor_->CurrentRecordNumber();
  const TDataCursor::TFilterHandle handle = cursor_->AddFilter(
      [this, &key](const uint8_t* image) {
        ++stats_.filterRecordsTested;
        return RowMatches(key, image);
      },
      true);
  bool found = false;
  try {
    cursor_->First();
    found = cursor_->Next(scratch_.data()) == TDataCursor::kRecordRead;
    if (found) ++stats_.recordsFetched;
  } catch (...) {
    try {
      cursor_->RemoveFilter(handle);
    } catch (const std::exception&) {
      // The search's own failure is the one to report.
    }
    throw;
  }
  // Without the filter the cursor keeps standing on the found record.
  cursor_->RemoveFilter(handle);
  if (!found && was != 0) cursor_->GoToRecord(was);
  return found;
}

// ---- TEngineDBDataSet ------------------------------------------------------------------------

TEngineDBDataSet::TEngineDBDataSet(TComponent* owner) : TEngineDataSet(owner) {}

TEngineDBDataSet::~TEngineDBDataSet() {
  CloseOnDestroy();
}

void TEngineDBDataSet::SetDatabaseName(std::string_view name) {
  std::string normalized = NormalizeDatabaseName(name);
  if (normalized == databaseName_) return;
  CheckInactive();
  databaseName_ = std::move(normalized);
  DatabaseChanged();
}

void TEngineDBDataSet::SetSessionName(std::string_view name) {
  if (name == sessionName_) return;
  CheckInactive();
  sessionName_ = std::string(name);
  DatabaseChanged();
}

TEngineSession& TEngineDBDataSet::DBSession() const {
  return Sessions().Session(sessionName_);
}

TEngineDatabase& TEngineDBDataSet::BindDatabase() {
  if (database_ != nullptr) return *database_;
  TEngineDatabase& db = DBSession().OpenDatabase(databaseName_, Owner());
  database_ = &db;
  directory_ = db.Handle();
  db.AddDataSet(this);
  return db;
}

void TEngineDBDataSet::ReleaseDatabase() {
  if (database_ == nullptr) return;
  TEngineDatabase* db = database_;
  database_ = nullptr;
  directory_.reset();
  db->RemoveDataSet(this);
  TEngineSession* session = db->connectedSession_;
  if (session == nullptr) session = &db->Session();
  session->CloseDatabase(*db);
}

void TEngineDBDataSet::CursorClosed() {
  ReleaseDatabase();
}

}  // namespace mt
