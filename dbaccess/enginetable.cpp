// TEngineTable: opening a table's cursor and choosing its order.
#include "enginetable.h"

#include "database.h"
#include "dberrors.h"
#include "engine/common/literals.h"
#include "session.h"

namespace mt {
namespace {

// The slot of the first index whose leading fields are the named fields in that order.
int IndexSlotForFields(TDataCursor& cursor, const std::string& names) {
  std::vector<uint16_t> wanted;
  for (const std::string& name : SplitFieldNames(names)) {
    const int no = cursor.Format().FindField(name);
    if (no == 0) RaiseDatabaseError(dbmsg::kFieldNotFound, {name});
    wanted.push_back(static_cast<uint16_t>(no));
  }
  const TIndexFile& index = cursor.Table().Index();
  for (int slot = 0; slot <= kMaxSecondaryIndexes && !wanted.empty(); ++slot) {
    if (!index.SlotInUse(slot)) continue;
    const std::vector<uint16_t>& fields = index.Descriptor(slot).fields;
    if (fields.size() >= wanted.size() &&
        std::equal(wanted.begin(), wanted.end(), fields.begin())) {
      return slot;
    }
  }
  RaiseDatabaseError(dbmsg::kNoIndexForFields, {names});
}

}  // namespace

TEngineTable::TEngineTable(TComponent* owner) : TEngineDBDataSet(owner) {}

TEngineTable::~TEngineTable() {
  CloseOnDestroy();
}

void TEngineTable::SetTableName(std::string_view name) {
  if (name == tableName_) return;
  CheckInactive();
  tableName_ = std::string(name);
}

void TEngineTable::SetExclusive(bool exclusive) {
  if (exclusive == exclusive_) return;
  CheckInactive();
  exclusive_ = exclusive;
}

bool TEngineTable::ReadOnly() const {
  return readOnly_ || (Active() && Cursor().TableReadOnly());
}

void TEngineTable::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_) return;
  CheckInactive();
  readOnly_ = readOnly;
}

std::unique_ptr<TDataCursor> TEngineTable::MakeCursor(bool readOnly) {
  TEngineDatabase& db = *Database();
  TEngineSession& session = db.Session();
  auto cursor = std::make_unique<TDataCursor>(*DirectoryObject());
  cursor->SetTableName(tableName_);
  cursor->SetExclusive(exclusive_);
  cursor->SetReadOnly(readOnly);
  cursor->SetInMemory(db.IsMemory());
  cursor->SetPasswords(session.PasswordSource());
  cursor->SetSettings(session.EngineSettings());
  return cursor;
}

TCursorLease TEngineTable::OpenCursor() {
  if (tableName_.find_first_not_of(" \t\r\n") == std::string::npos) {
    RaiseDatabaseError(dbmsg::kTableNameMissing);
  }
  BindDatabase();
  std::unique_ptr<TDataCursor> cursor = MakeCursor(readOnly_);
  cursor->Open();
  ApplyOrder(*cursor, indexName_, indexFieldNames_);
  return cursor;
}

std::unique_ptr<TDataCursor> TEngineTable::OpenSearchCursor() {
  // An exclusive table admits no second cursor.
  if (exclusive_ || Database() == nullptr) return nullptr;
  std::unique_ptr<TDataCursor> cursor = MakeCursor(true);
  cursor->Open();
  return cursor;
}

void TEngineTable::ApplyOrder(TDataCursor& cursor, const std::string& indexName,
                              const std::string& fieldNames) const {
  if (!indexName.empty()) {
    cursor.ChooseIndex(indexName);
  } else if (!SplitFieldNames(fieldNames).empty()) {
    cursor.ChooseIndexSlot(IndexSlotForFields(cursor, fieldNames));
  } else if (cursor.Table().HasPrimaryIndex()) {
    cursor.ChooseIndexSlot(kPrimarySlot);
  } else if (cursor.CurrentIndex() != TDataCursor::kNoIndex) {
    cursor.ChooseBitmapOrder();
  }
}

void TEngineTable::ChangeOrder(std::string indexName, std::string fieldNames) {
  if (Active()) {
    CheckBrowseMode();
    ApplyOrder(Cursor(), indexName, fieldNames);
  }
  indexName_ = std::move(indexName);
  indexFieldNames_ = std::move(fieldNames);
  if (Active()) CursorOrderChanged();
}

void TEngineTable::SetIndexName(std::string_view name) {
  if (name == indexName_ && indexFieldNames_.empty()) return;
  ChangeOrder(std::string(name), {});
}

void TEngineTable::SetIndexFieldNames(std::string_view names) {
  if (names == indexFieldNames_ && indexName_.empty()) return;
  ChangeOrder({}, std::string(names));
}

}  // namespace mt
