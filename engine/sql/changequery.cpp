// TChangeQuery: INSERT, UPDATE and DELETE, prepared and run.
#include "changequery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/fieldvalue.h"
#include "engine/sql/querysources.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/rowscan.h"
#include "engine/sql/selectquery.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/record.h"
#include "engine/storage/recordresolver.h"

namespace mt {
namespace {

constexpr std::string_view kTableColumns = "table columns";
constexpr std::string_view kUpdateValues = "update values";
constexpr std::string_view kInsertValues = "insert values";

[[noreturn]] void Fault(const std::string& message) {
  RaiseEngineError(err::kSqlError, {.extra = message});
}

bool IsChangingKind(TStatementKind kind) {
  return kind == TStatementKind::Insert || kind == TStatementKind::Update ||
         kind == TStatementKind::Delete;
}

// The expression type of a field, as a column node of it carries it.
bool SameType(const TExpToken& value, const TFieldDescriptor& f) {
  const uint16_t subtype = f.subtype == fsubtype::kAutoInc ? fsubtype::kNone : f.subtype;
  const uint16_t valueSubtype =
      value.subtype == fsubtype::kAutoInc ? fsubtype::kNone : value.subtype;
  return value.type == f.type && (f.type != ftype::kBlob || valueSubtype == subtype);
}

// Takes back an edit of the current row that failed: changed blob values dropped, the record
// lock given back. The edit's own failure is the one to report.
void CancelEdit(TDataCursor& cursor, uint8_t* image) {
  try {
    cursor.DiscardBlobs(image);
  } catch (const std::exception&) {
  }
  try {
    cursor.UnlockCurrentRecord();
  } catch (const std::exception&) {
  }
}

// The write lock a statement holds over the rows between two commits: taken and given back by
// hand, and given back on every way out.
class TBatchLock {
 public:
  explicit TBatchLock(TTableLocks& locks) : locks_(locks) {}
  ~TBatchLock() { Release(); }
  TBatchLock(const TBatchLock&) = delete;
  TBatchLock& operator=(const TBatchLock&) = delete;
  void Take() {
    locks_.WriteLock();
    held_ = true;
  }
  void Release() noexcept {
    if (!held_) return;
    held_ = false;
    try {
      locks_.WriteUnlock();
    } catch (...) {
      // As for a write lock's scope: the lock goes with the table's close at the latest.
    }
  }

 private:
  TTableLocks& locks_;
  bool held_ = false;
};

}  // namespace

// The values of INSERT ... VALUES see no columns; LASTAUTOINC and IDENT_CURRENT still read the
// tables they name.
class TChangeQuery::TValueResolver : public TExpressionResolver {
 public:
  explicit TValueResolver(TQuerySources& sources) : sources_(sources) {}
  bool ResolveColumn(TExpToken& /*node*/) override { return false; }
  bool ReadColumn(const TExpToken& /*column*/, TExpToken& /*into*/) override { return false; }
  int32_t LastAutoInc(std::string_view tableName) override {
    return sources_.LastAutoInc(tableName);
  }

 private:
  TQuerySources& sources_;
};

TChangeQuery::TChangeQuery(TQueryStatement& statement, TDataQuery& query)
    : statement_(statement), query_(query) {}

TChangeQuery::~TChangeQuery() {
  try {
    Release();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close.
  }
}

TDataCursor& TChangeQuery::Target() const {
  return sources_->Row(0).Cursor();
}

TDataDirectory& TChangeQuery::TargetDirectory() const {
  const TSourceTable* target = query_.Target();
  return target->table.inMemory ? statement_.MemoryDirectory() : *statement_.Database();
}

// ---- Preparation

void TChangeQuery::Prepare() {
  if (!IsChangingKind(query_.kind) || query_.Target() == nullptr)
    Fault("The statement changes no table");
  sources_ = std::make_unique<TQuerySources>(statement_, query_);
  sources_->Open(false);
  noColumns_ = std::make_unique<TValueResolver>(*sources_);
  locale_ = sources_->FirstLocale();
  record_.assign(static_cast<std::size_t>(Target().RecordSize()), 0);
  if (query_.kind != TStatementKind::Delete) {
    ResolveFields();
    CheckValues();
  }
  if (query_.kind != TStatementKind::Insert) {
    sources_->CheckWhere();
    scan_ = std::make_unique<TRowScan>(query_, *sources_, locale_);
  }
  std::vector<const TExpToken*> trees{query_.where.get()};
  for (const TUpdateValue& v : query_.updateValues)
    trees.push_back(v.expression.get());
  sources_->OpenNamedTables(trees);
  if (scan_) scan_->Plan();
}

void TChangeQuery::ResolveFields() {
  const TRecordFormat& format = Target().Format();
  fields_.clear();
  if (query_.updateFields.empty()) {
    // INSERT without a column list: every field in table order.
    for (int no = 1; no <= format.FieldCount(); ++no)
      fields_.push_back({no, format.Field(no).name});
    return;
  }
  const TSourceTable* target = query_.Target();
  for (const TUpdateField& f : query_.updateFields) {
    TExpTokenPtr node = NewExpToken();
    node->kind = TNodeKind::Column;
    node->columnName = f.columnName;
    node->correlationName = f.correlationName;
    const bool found = f.columnName != "*" && sources_->ResolveColumn(*node) &&
                       node->columnSource == target && node->columnNumber > 0;
    if (!found)
      Fault("Invalid column name '" + f.columnName + "' or table correlation name '" +
            f.correlationName + "' specified in " + std::string(kTableColumns));
    fields_.push_back({node->columnNumber, format.Field(node->columnNumber).name});
  }
}

void TChangeQuery::CheckValues() {
  const std::size_t values =
      query_.insertSource != nullptr
          ? static_cast<std::size_t>(query_.insertSource->select->VisibleColumnCount())
          : query_.updateValues.size();
  if (values != fields_.size())
    Fault("The number of values must match the number of table columns");
  if (query_.insertSource != nullptr) return;
  const bool update = query_.kind == TStatementKind::Update;
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = std::string(update ? kUpdateValues : kInsertValues);
  options.literalNamesColumns = update;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TExpTokenPtr& value = query_.updateValues[i].expression;
    if (update)
      TypeCheck(value, options, *sources_);
    else
      TypeCheck(value, options, *noColumns_);
    CheckConstant(value, fields_[i]);
  }
}

void TChangeQuery::CheckConstant(TExpTokenPtr& value, const TTargetField& field) {
  const TFieldDescriptor& f = Target().Format().Field(field.fieldNo);
  if (value->kind != TNodeKind::Constant || value->isNull || value->isParameter ||
      value->type == exptype::kUnknown || SameType(*value, f))
    return;
  // `field = value` under the checker gives the comparison's message and reads a string as a
  // date, time or timestamp where the field is one.
  TExpTokenPtr column = NewExpToken();
  column->kind = TNodeKind::Column;
  column->columnName = field.name;
  TExpTokenPtr comparison = NewExpToken();
  comparison->kind = TNodeKind::Binary;
  comparison->op = TOperator::Equal;
  comparison->text = "=";
  TExpToken* parent = value->parent;
  comparison->left = std::move(column);
  comparison->right = std::move(value);
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = std::string(kUpdateValues);
  try {
    TypeCheck(comparison, options, *sources_->Row(0).reader);
  } catch (...) {
    value = std::move(comparison->right);
    value->parent = parent;
    throw;
  }
  value = std::move(comparison->right);
  value->parent = parent;
}

// ---- Execution

void TChangeQuery::Release() {
  if (scan_) scan_->Finish();
  sourceRows_ = nullptr;
  if (sources_) sources_->Close();
}

int64_t TChangeQuery::CommitInterval() const {
  if (query_.commitInterval >= 0) return query_.commitInterval;
  const TSessionSettings defaults;
  const TSessionSettings& s =
      statement_.SessionSettings() != nullptr ? *statement_.SessionSettings() : defaults;
  const int64_t recordSize = std::max(Target().RecordSize(), 1);
  const int64_t byBytes = 2 * static_cast<int64_t>(s.recordCacheBytes) / recordSize;
  // At least one row, so that a record larger than the cache still commits as it goes.
  return std::max<int64_t>(std::min<int64_t>(byBytes, s.recordCacheRecords), 1);
}

int64_t TChangeQuery::Execute() {
  const auto started = std::chrono::steady_clock::now();
  lastProgress_ = 0;
  int64_t rows = 0;
  if (query_.kind == TStatementKind::Insert && query_.insertSource == nullptr)
    rows = InsertValues();
  else
    rows = ChangeRows();
  if (statement_.HasProgressCallback()) statement_.ReportProgress(100);
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return rows;
}

void TChangeQuery::PutValue(const TTargetField& field, uint8_t* image, const TExpToken& value,
                            bool truncateBlob) {
  if (PutCursorFieldValue(Target(), field.fieldNo, image, value, truncateBlob)) return;
  Fault("Type mismatch between column " + field.name + " and constant value " + ValueToText(value) +
        " in " + std::string(StatementKindName(query_.kind)) + " statement");
}

void TChangeQuery::AppendRecord(const std::function<TExpTokenPtr(std::size_t)>& valueOf) {
  InsertNewRecord(Target(), record_.data(), [&] {
    for (std::size_t i = 0; i < fields_.size(); ++i)
      PutValue(fields_[i], record_.data(), *valueOf(i), false);
  });
}

int64_t TChangeQuery::InsertValues() {
  Target().SetKeepSuppliedValues(query_.noAutoInc);
  AppendRecord([this](std::size_t i) {
    return Evaluate(*query_.updateValues[i].expression, *noColumns_, locale_);
  });
  return 1;
}

bool TChangeQuery::NextRow() {
  if (scan_) return scan_->Next();
  if (sourceRows_->Next(sourceImage_.data()) != TDataCursor::kRecordRead) return false;
  return true;
}

void TChangeQuery::ChangeRow() {
  TDataCursor& cursor = Target();
  if (query_.kind == TStatementKind::Insert) {
    InsertSourceRow(sourceImage_.data());
    return;
  }
  TSourceRow& row = sources_->Row(0);
  uint8_t* image = row.image.data();
  if (query_.kind == TStatementKind::Delete) {
    cursor.DeleteRecord(image);
    scan_->LeaveFirstRow(true);
    return;
  }
  // The row buffer is the row the values read: each value sees the assignments before it.
  cursor.GetCurrentRecord(image, true);
  try {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      TExpTokenPtr v = Evaluate(*query_.updateValues[i].expression, *sources_, locale_);
      PutValue(fields_[i], image, *v, true);
    }
    cursor.ModifyRecord(image, true);
  } catch (...) {
    CancelEdit(cursor, image);
    throw;
  }
  scan_->LeaveFirstRow(false);
}

void TChangeQuery::PlanSourceColumns() {
  TSelectQuery& source = *query_.insertSource->select;
  const TRecordFormat& result = source.ResultFormat();
  const TRecordFormat& target = Target().Format();
  sourceColumns_.clear();
  storedCopies_.clear();
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    sourceColumns_.push_back(source.ResultColumnNode(static_cast<int>(i)));
    const int from = source.Columns()[i].number;
    storedCopies_.push_back(
        SameStoredForm(result.Field(from), target.Field(fields_[i].fieldNo)) ? from : 0);
  }
}

void TChangeQuery::InsertSourceRow(const uint8_t* row) {
  TSelectQuery& source = *query_.insertSource->select;
  const TRecordFormat& result = source.ResultFormat();
  const TRecordFormat& target = Target().Format();
  InsertNewRecord(Target(), record_.data(), [&] {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (storedCopies_[i] > 0)
        target.CopyStoredField(fields_[i].fieldNo, record_.data(), result, storedCopies_[i], row);
      else
        PutValue(fields_[i], record_.data(), *source.ReadResultValue(*sourceColumns_[i], row),
                 false);
    }
  });
}

int64_t TChangeQuery::ChangeRows() {
  TDataCursor& cursor = Target();
  if (query_.kind != TStatementKind::Delete) cursor.SetKeepSuppliedValues(query_.noAutoInc);
  TDataDirectory& database = TargetDirectory();
  const bool ownTransaction = !database.InTransaction();
  const int64_t interval = CommitInterval();
  // Inside a caller's transaction only an interval the statement gives commits.
  const bool intermediate = interval > 0 && (ownTransaction || query_.commitInterval >= 0);
  bool stopped = false;
  // INSERT ... SELECT whose source rows need no sorting or folding, and cannot see the rows
  // going into the target, takes them as the source builds them, without a result table.
  TSelectQuery* streamed = nullptr;
  if (scan_) {
    // Rows are visited in record-number order: a changed row keeps its place, so no row is
    // met twice, and the row after a deleted one is the next to read.
    cursor.ChooseBitmapOrder();
  } else {
    TSelectQuery& source = *query_.insertSource->select;
    if (source.CanStreamInto(query_.Target()->table)) {
      streamed = &source;
    } else {
      sourceRows_ = source.Execute();
      sourceImage_.assign(static_cast<std::size_t>(sourceRows_->RecordSize()), 0);
      sourceRows_->First();
    }
    PlanSourceColumns();
  }
  if (ownTransaction) database.StartTransaction();
  // Between two commits the target's write lock is held once for all rows, instead of being
  // taken and given back around each row: other processes wait at most one commit interval.
  TTableLocks& targetLocks = cursor.Table().Locks();
  // UPDATE and DELETE lock their rows in record-number order: in the statement's own
  // transaction, which gives the bytes back at every commit, the records of an interval are
  // locked ahead in one call instead of one at a time.
  struct TLockAhead {
    TTableLocks& locks;
    ~TLockAhead() { locks.SetRecordLockAhead(1); }
  };
  const TLockAhead lockAhead{targetLocks};
  if (scan_ && ownTransaction && intermediate)
    targetLocks.SetRecordLockAhead(static_cast<int32_t>(std::min<int64_t>(interval, 8192)));
  TBatchLock batch(targetLocks);
  int64_t count = 0;
  const auto rowDone = [&] {
    ++count;
    if (intermediate && count % interval == 0) {
      // The commit's own write lock nests in the batch's; other processes get their turn
      // between this commit and the next transaction.
      database.Commit(query_.commitFlush);
      batch.Release();
      statement_.ReportCommit(count);
      database.StartTransaction();
      batch.Take();
    }
  };
  try {
    batch.Take();
    if (streamed != nullptr) {
      streamed->Stream([&](const uint8_t* row) {
        InsertSourceRow(row);
        rowDone();
      });
    } else {
      bool any = true;
      if (scan_) {
        any = scan_->Start([this, &stopped](uint64_t visited, uint64_t total) {
          if (!statement_.ReportScanProgress(visited, total, lastProgress_)) stopped = true;
          return !stopped;
        });
      }
      while (any && NextRow()) {
        ChangeRow();
        rowDone();
      }
    }
    if (scan_) scan_->Finish();
    sourceRows_ = nullptr;
    if (ownTransaction) database.Commit(query_.commitFlush);
    batch.Release();
  } catch (...) {
    batch.Release();
    sourceRows_ = nullptr;
    try {
      if (scan_) scan_->Finish();
    } catch (const std::exception&) {
    }
    if (ownTransaction) {
      try {
        database.Rollback();
      } catch (const std::exception&) {
        // The statement's failure is the one to report.
      }
    }
    throw;
  }
  return count;
}

}  // namespace mt
