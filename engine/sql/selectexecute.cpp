// TSelectQuery: execution. Rows from the scan become result rows; grouping, DISTINCT, UNION
// and ORDER BY finish the result table; sub-selects answer IN from their result.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/expfunctions.h"
#include "engine/common/expparser.h"
#include "engine/common/filelayer.h"
#include "engine/common/localetext.h"
#include "engine/common/numeric.h"
#include "engine/sql/aggregates.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/fieldvalue.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/rowscan.h"
#include "engine/sql/selectinternal.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/filterplan.h"
#include "engine/storage/record.h"
#include "engine/storage/tablesort.h"

namespace mt {
namespace {

// WITH LOCKS: each source table's second read lock for the execution.
class TScanLocks {
 public:
  explicit TScanLocks(TQuerySources& sources, bool take) {
    if (!take) return;
    for (std::size_t i = 0; i < sources.Count(); ++i) {
      TTableLocks& locks = sources.Row(i).Cursor().Table().Locks();
      locks.SecondReadLock();
      held_.push_back(&locks);
    }
  }
  ~TScanLocks() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
      try {
        (*it)->SecondReadUnlock();
      } catch (const std::exception&) {
        // The lock goes with the table's close at the latest.
      }
    }
  }
  TScanLocks(const TScanLocks&) = delete;
  TScanLocks& operator=(const TScanLocks&) = delete;

 private:
  std::vector<TTableLocks*> held_;
};

// Takes the scan's filters off the cursors when the rows are built, also on failure.
class TScanScope {
 public:
  explicit TScanScope(TRowScan& scan) : scan_(scan) {}
  ~TScanScope() {
    try {
      scan_.Finish();
    } catch (const std::exception&) {
      // Filters left behind are taken off by the next execution's start.
    }
  }
  TScanScope(const TScanScope&) = delete;
  TScanScope& operator=(const TScanScope&) = delete;

 private:
  TRowScan& scan_;
};

template <class T>
void PutValue(uint8_t* image, int offset, T v) {
  image[offset] = 1;
  std::memcpy(image + offset + 1, &v, sizeof v);
}

bool IsStringValue(const TExpToken& v) {
  return v.type == ftype::kString || (v.type == ftype::kBlob && v.subtype == fsubtype::kMemo);
}

}  // namespace

TDataCursor* TSelectQuery::ResultCursor() const {
  if (live_) return sources_ && sources_->Count() > 0 ? &sources_->Row(0).Cursor() : nullptr;
  return result_.get();
}

const TRecordFormat& TSelectQuery::ResultFormat() const {
  MT_ASSERT(result_ != nullptr);
  return result_->Format();
}

TDataCursor* TSelectQuery::Execute() {
  const auto started = std::chrono::steady_clock::now();
  lastProgress_ = 0;
  stopped_ = false;
  TDataCursor* cursor = live_ ? ExecuteLive() : (ExecuteCanned(), result_.get());
  if (statement_.HasProgressCallback()) statement_.ReportProgress(100);
  cursor->First();
  rows_ = cursor->RecordCount();
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return cursor;
}

TDataCursor* TSelectQuery::ExecuteLive() {
  TDataCursor& cursor = sources_->Row(0).Cursor();
  if (orderIndexSlot_ >= 0) {
    if (cursor.CurrentIndex() != orderIndexSlot_) cursor.ChooseIndexSlot(orderIndexSlot_);
  }
  scan_->FilterEverything();
  return &cursor;
}

TExpTokenPtr TSelectQuery::EvaluateLiveColumn(const TLiveColumn& column, const uint8_t* image) {
  TSourceRow& row = sources_->Row(0);
  std::memcpy(row.image.data(), image, row.image.size());
  row.inPlace = nullptr;
  row.onRow = true;
  return Evaluate(*column.expression, *sources_, locale_);
}

void TSelectQuery::Release() {
  if (scan_) scan_->Finish();
  resultReader_.reset();
  if (havingResolver_) havingResolver_->SetReader(nullptr);
  if (result_) {
    result_->Close();
    result_.reset();
  }
  if (resultCreated_ && temporaryResult_) {
    resultCreated_ = false;
    try {
      TDataTable(resultDirectory_, resultName_, resultInMemory_).Delete();
    } catch (const EEngineError&) {
      // A result table that cannot be deleted stays in the private directory, which the
      // process removes at its end.
    }
  }
  resultCreated_ = false;
  if (sources_) sources_->Close();
}

void TSelectQuery::ResetResultTable() {
  if (!executedBefore_) {
    executedBefore_ = true;
    return;
  }
  // Every execution starts from an empty result: the table is made anew.
  result_->Close();
  TDataTable(resultDirectory_, resultName_, resultInMemory_).Create(ResultTableParams());
  result_->Open();
  resultReader_ = std::make_unique<TRecordResolver>(result_->Table());
  if (havingResolver_) havingResolver_->SetReader(resultReader_.get());
}

void TSelectQuery::ExecuteCanned() {
  ResetResultTable();
  gathered_.clear();
  gatherRows_ = result_->CanAppendInBulk();  // refuses tables with blob fields
  // While rows are appended the cursor walks the record-identifier index: in record-number
  // order it would rebuild its visible records after every append.
  if (result_->CurrentIndex() != kRecordIdSlot) result_->ChooseIndexSlot(kRecordIdSlot);
  appended_ = 0;
  SetRowLimit();
  {
    TScanLocks locks(*sources_, query_.withLocks);
    if (!singleCountStar_ || !BuildSingleCount()) BuildRows();
    FlushGatheredRows();
  }
  const bool topAfterGrouping = query_.top >= 0 && (!query_.hasOrderBy || orderSatisfied_) &&
                                query_.nextUnion == nullptr && !query_.inUnion;
  if (!groupColumns_.empty())
    GroupResult();
  else if (distinct_)
    DistinctResult(topAfterGrouping ? query_.top : -1);
  if (query_.nextUnion != nullptr && !query_.inUnion) AppendUnionMembers();
  if (query_.hasOrderBy && !orderSatisfied_ && !query_.inUnion) OrderResult();
  // The result reads in record-number order, which is its order.
  result_->ChooseBitmapOrder();
  // The last rows appended are still in the cache, unwritten and so not evictable: reading
  // from the first row would insert every record read in front of them in the cache's sorted
  // list. They go to the file now, as they would at the close.
  result_->Table().FlushBuffers(true);
}

void TSelectQuery::SetRowLimit() {
  rowLimit_ = -1;
  if (!query_.isSubQuery && statement_.MaxRowCount() >= 0) rowLimit_ = statement_.MaxRowCount();
  // TOP without a later sort stops the scan itself.
  const bool sortedLater = query_.hasGroupBy || implicitGrouping_ || distinct_ ||
                           (query_.hasOrderBy && orderIndexSlot_ < 0) ||
                           query_.nextUnion != nullptr || query_.inUnion;
  if (query_.top >= 0 && !sortedLater)
    rowLimit_ = rowLimit_ < 0 ? query_.top : std::min(rowLimit_, query_.top);
}

bool TSelectQuery::CanStreamInto(const TTableName& target) const {
  if (live_ || !sources_ || !scan_ || !result_ || implicitGrouping_ || !groupColumns_.empty() ||
      distinct_ || hasBlobColumns_ || query_.hasInto || query_.withLocks ||
      query_.nextUnion != nullptr || query_.inUnion || (query_.hasOrderBy && !orderSatisfied_))
    return false;
  // A table of the same file name anywhere counts as the target: the names are compared the
  // way the file layer finds files, and a false match only costs the result table.
  for (const auto& source : query_.sourceTables) {
    if (source->table.inMemory == target.inMemory && SameFileName(source->table.name, target.name))
      return false;
  }
  // Sub-selects and the functions that read a table's auto-increment value could read the
  // target while rows go into it.
  bool readsTables = false;
  const auto look = [&](const TExpToken& n) {
    if (n.kind == TNodeKind::SubSelect || CallsWithArguments(n, TArgumentUse::TableName))
      readsTables = true;
  };
  ForEachNode(query_.where.get(), look);
  for (const TResultColumn& c : columns_)
    ForEachNode(c.value, look);
  return !readsTables;
}

uint32_t TSelectQuery::Stream(const std::function<void(const uint8_t* row)>& onRow) {
  const auto started = std::chrono::steady_clock::now();
  lastProgress_ = 0;
  stopped_ = false;
  appended_ = 0;
  SetRowLimit();
  {
    TScanLocks locks(*sources_, query_.withLocks);
    BuildRows(&onRow);
  }
  if (statement_.HasProgressCallback()) statement_.ReportProgress(100);
  rows_ = appended_;
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return appended_;
}

bool TSelectQuery::RowLimitReached() const {
  return rowLimit_ >= 0 && appended_ >= static_cast<uint32_t>(rowLimit_);
}

bool TSelectQuery::OnVisit(uint64_t visited, uint64_t total) {
  if (!statement_.ReportScanProgress(visited, total, lastProgress_)) stopped_ = true;
  return !stopped_;
}

void TSelectQuery::ChooseScanOrder() {
  TDataCursor& cursor = sources_->Row(0).Cursor();
  int slot = TDataCursor::kNoIndex;
  if (orderIndexSlot_ >= 0) {
    slot = orderIndexSlot_;
  } else if (!implicitGrouping_ && groupColumns_.empty() && !distinct_ && !query_.hasOrderBy &&
             !query_.isSubQuery && cursor.Table().HasPrimaryIndex()) {
    // Rows in the table's natural order: its primary index.
    slot = kPrimarySlot;
  }
  if (cursor.CurrentIndex() == slot) return;
  if (slot == TDataCursor::kNoIndex)
    cursor.ChooseBitmapOrder();
  else
    cursor.ChooseIndexSlot(slot);
}

void TSelectQuery::BuildRows(const std::function<void(const uint8_t* row)>* onRow) {
  if (implicitGrouping_ && BuildFromIndexEnds()) return;
  ChooseScanOrder();
  TScanScope scope(*scan_);
  TRowScan::TVisitCallback visit;
  if (statement_.HasProgressCallback())
    visit = [this](uint64_t v, uint64_t t) { return OnVisit(v, t); };
  const bool any = scan_->Start(std::move(visit));
  if (implicitGrouping_) {
    aggregator_->Reset();
    bool first = true;
    while (any && scan_->Next()) {
      if (first) {
        BuildRow(group_.data());
        first = false;
      } else {
        BuildRow(row_.data());
        aggregator_->Fold(group_.data(), row_.data());
      }
    }
    if (first)
      aggregator_->EmptyGroup(group_.data());
    else
      aggregator_->Finish(group_.data());
    pendingBlobs_.clear();
    AppendRow(group_.data());
    return;
  }
  if (!groupColumns_.empty() && rowLimit_ < 0 && !hasBlobColumns_) {
    BuildGroupedRows(any);
    return;
  }
  while (any && !RowLimitReached() && scan_->Next()) {
    BuildRow(row_.data());
    if (onRow == nullptr) {
      AppendRow(row_.data());
    } else {
      (*onRow)(row_.data());
      ++appended_;
    }
  }
}

// The rows of a GROUP BY are folded into their groups in memory as they come, so that the
// result table takes a row per group rather than one per source row. The sort that follows
// still folds rows of equal keys: groups are told apart here by their key bytes, while the sort
// compares values, and when more groups come than memory is given for, the groups held so far
// go to the table as partial groups (folding a partial group adds it up like its rows).
// Groups go to the table in the order their first rows came.
void TSelectQuery::BuildGroupedRows(bool any) {
  struct TKeyPart {
    int offset;
    std::size_t length;  // the null flag and the value
  };
  std::vector<TKeyPart> parts;
  for (int c : groupColumns_) {
    const TFieldDescriptor& f = result_->Format().Field(columns_[c].number);
    parts.push_back({f.offset, static_cast<std::size_t>(f.physicalSize) + 1});
  }
  const std::size_t maxGroups = std::max<std::size_t>(1, statement_.GroupMemory() / row_.size());
  std::unordered_map<std::string, std::size_t> groupOf;
  std::vector<std::vector<uint8_t>> groups;
  auto flush = [&] {
    for (std::vector<uint8_t>& g : groups)
      AppendRow(g.data());
    groups.clear();
    groupOf.clear();
  };
  std::string key;
  while (any && scan_->Next()) {
    BuildRow(row_.data());
    key.clear();
    for (const TKeyPart& p : parts)
      key.append(reinterpret_cast<const char*>(row_.data() + p.offset), p.length);
    const auto found = groupOf.find(key);
    if (found != groupOf.end()) {
      aggregator_->Fold(groups[found->second].data(), row_.data());
      continue;
    }
    if (groups.size() == maxGroups) flush();
    groupOf.emplace(key, groups.size());
    groups.emplace_back(row_.begin(), row_.end());
  }
  flush();
}

// MIN and MAX of columns over a whole table, each read from the end of an index that orders
// its column (the first record with a value from that end) instead of from every row. Only a
// select list of nothing else, over one table without conditions or limits.
bool TSelectQuery::BuildFromIndexEnds() {
  if (query_.sourceTables.size() != 1 || query_.where || query_.having || query_.top >= 0 ||
      rowLimit_ >= 0 || !sources_)
    return false;
  TSourceRow& source = sources_->Row(0);
  TDataCursor& cursor = source.Cursor();
  struct TEnd {
    int slot;
    bool highest;
    int offset;          // of the column in the result row
    std::size_t length;  // its null flag and value
  };
  std::vector<TEnd> ends;
  for (const TResultColumn& c : columns_) {
    if (c.hidden || c.computed || c.source == nullptr || c.sourceField <= 0 ||
        (c.aggregate != TAggregateKind::Min && c.aggregate != TAggregateKind::Max))
      return false;
    const int slot = ValueOrderIndexSlot(cursor.Table().Index(), c.sourceField,
                                         cursor.Format().Field(c.sourceField).type);
    if (slot < 0) return false;
    const TFieldDescriptor& f = result_->Format().Field(c.number);
    ends.push_back({slot, c.aggregate == TAggregateKind::Max, f.offset,
                    static_cast<std::size_t>(f.physicalSize) + 1});
  }
  std::memset(group_.data(), 0, group_.size());
  for (const TEnd& e : ends) {
    if (cursor.CurrentIndex() != e.slot) cursor.ChooseIndexSlot(e.slot);
    if (e.highest)
      cursor.Last();
    else
      cursor.First();
    source.inPlace = nullptr;
    // NULLs have their place at one end of the index: the first record with a value counts.
    while ((e.highest ? cursor.Prior(source.image.data()) : cursor.Next(source.image.data())) ==
           TDataCursor::kRecordRead) {
      source.onRow = true;
      BuildRow(row_.data());
      if (row_[static_cast<std::size_t>(e.offset)] != 0) {
        std::memcpy(group_.data() + e.offset, row_.data() + e.offset, e.length);
        break;
      }
    }
    source.onRow = false;
  }
  aggregator_->Finish(group_.data());
  pendingBlobs_.clear();
  AppendRow(group_.data());
  return true;
}

bool TSelectQuery::BuildSingleCount() {
  if (!scan_->EveryConjunctFilterable()) return false;
  TScanScope scope(*scan_);
  TDataCursor& cursor = sources_->Row(0).Cursor();
  const uint32_t count = scan_->FilterEverything() ? cursor.RecordCount() : 0;
  std::memset(row_.data(), 0, row_.size());
  PutValue(row_.data(), plans_.front().dstOffset, static_cast<int32_t>(count));
  pendingBlobs_.clear();
  AppendRow(row_.data());
  return true;
}

void TSelectQuery::BuildRow(uint8_t* row) {
  std::memset(row, 0, row_.size());
  pendingBlobs_.clear();
  for (const TRowPlan& p : plans_) {
    switch (p.step) {
      case TRowStep::CopyField:
        if (p.source->onRow)
          std::memcpy(row + p.dstOffset, p.source->Current() + p.srcOffset,
                      static_cast<std::size_t>(p.length));
        break;
      case TRowStep::CopyAutoInc:
        if (p.source->onRow) {
          row[p.dstOffset] = 1;
          std::memcpy(row + p.dstOffset + 1, p.source->Current() + rec::kAutoInc, 4);
        }
        break;
      case TRowStep::CountStar:
        PutValue(row, p.dstOffset, int32_t{1});
        break;
      case TRowStep::CountNotNull: {
        bool present;
        if (p.source != nullptr)
          present = p.source->onRow && p.source->Current()[p.srcOffset] != 0;
        else
          present = !Evaluate(*p.expression, *sources_, locale_)->isNull;
        PutValue(row, p.dstOffset, int32_t{present ? 1 : 0});
        break;
      }
      case TRowStep::Evaluate: {
        TExpTokenPtr v = Evaluate(*p.expression, *sources_, locale_);
        StoreValue(p.fieldNo, row, *v);
        break;
      }
    }
  }
}

void TSelectQuery::StoreValue(int fieldNo, uint8_t* row, const TExpToken& value) {
  // Blob values are written through the cursor when the row is appended; a value that does not
  // convert keeps the type's zero value.
  std::string bytes;
  if (PutFieldValue(result_->Format(), fieldNo, row, value, bytes) == TPutResult::Blob &&
      !bytes.empty())
    pendingBlobs_.push_back({fieldNo, {bytes.begin(), bytes.end()}});
}

void TSelectQuery::AppendRow(uint8_t* row) {
  for (const TPendingBlob& b : pendingBlobs_) {
    const int handle = result_->OpenBlob(b.fieldNo, row, TBlobOpenMode::ReadWrite);
    result_->Blob(handle).Write(0, b.bytes);
    result_->CloseBlob(handle, true, row);
  }
  pendingBlobs_.clear();
  ++appended_;
  if (!gatherRows_) {
    result_->InsertRecord(row, false);
    return;
  }
  // Runs of about 1 MiB: few enough changes, and a buffer that stays in the cache. The buffer
  // grows with the rows, so that a result of a few rows costs no more than them.
  gathered_.insert(gathered_.end(), row, row + row_.size());
  if (gathered_.size() >= (std::size_t{1} << 20)) FlushGatheredRows();
}

void TSelectQuery::FlushGatheredRows() {
  if (gathered_.empty()) return;
  const int32_t count = static_cast<int32_t>(gathered_.size() / row_.size());
  try {
    result_->AppendInBulk(gathered_.data(), count);
  } catch (...) {
    gathered_.clear();
    throw;
  }
  gathered_.clear();
}

// ---- Sorting the result

void TSelectQuery::GroupResult() {
  TSortOptions options;
  for (int c : groupColumns_)
    options.keys.push_back({.fieldNo = columns_[c].number});
  TSortGrouping grouping;
  grouping.fold = [this](uint8_t* group, const uint8_t* row) { aggregator_->Fold(group, row); };
  grouping.finish = [this](uint8_t* group) {
    aggregator_->Finish(group);
    if (!query_.having) return true;
    havingResolver_->SetImage(group);
    return EvaluateCondition(*query_.having, *havingResolver_, locale_);
  };
  options.grouping = &grouping;
  if (query_.top >= 0 && (!query_.hasOrderBy || orderSatisfied_) && query_.nextUnion == nullptr &&
      !query_.inUnion)
    options.maxRows = query_.top;
  aggregator_->Reset();
  SortTable(*result_, options);
}

void TSelectQuery::DistinctResult(int32_t maxRows) {
  TSortOptions options;
  for (int i = 0; i < visibleCount_; ++i)
    options.keys.push_back({.fieldNo = columns_[i].number});
  options.removeDuplicates = true;
  options.maxRows = maxRows;
  SortTable(*result_, options);
}

void TSelectQuery::OrderResult() {
  TSortOptions options;
  for (const TOrderColumn& o : orderColumns_)
    options.keys.push_back({.fieldNo = columns_[o.column].number,
                            .descending = o.descending,
                            .caseInsensitive = query_.orderByNoCase});
  options.maxRows = query_.top;
  SortTable(*result_, options);
}

// ---- UNION

void TSelectQuery::AppendUnionMembers() {
  // Every member first fills its own result. Then, from the last member back to this one,
  // each member's rows join the result of the member before it, and a UNION written without
  // ALL between the two removes the duplicate rows of the combined result: `a UNION ALL b
  // UNION c` keeps every row of a beside the distinct rows of b and c.
  std::vector<const TDataQuery*> chain;
  for (const TDataQuery* m = &query_; m != nullptr; m = m->nextUnion)
    chain.push_back(m);
  bool allAll = true;
  for (std::size_t i = 0; i + 1 < chain.size(); ++i)
    allAll = allAll && chain[i]->unionAll;
  const bool topByScan = allAll && !query_.hasOrderBy && query_.top >= 0;
  if (topByScan) rowLimit_ = rowLimit_ < 0 ? query_.top : std::min(rowLimit_, query_.top);
  for (std::size_t i = 1; i < chain.size(); ++i)
    chain[i]->select->Execute();
  for (std::size_t i = chain.size() - 1; i >= 1; --i) {
    TSelectQuery& into = i == 1 ? *this : *chain[i - 1]->select;
    // Appending through the record-identifier index, as while the rows were built.
    if (into.result_->CurrentIndex() != kRecordIdSlot) into.result_->ChooseIndexSlot(kRecordIdSlot);
    into.AppendRowsOf(*chain[i]->select);
    if (!chain[i - 1]->unionAll)
      into.DistinctResult(i == 1 && !query_.hasOrderBy ? query_.top : -1);
    if (&into != this) into.result_->ChooseBitmapOrder();
  }
}

void TSelectQuery::AppendRowsOf(TSelectQuery& member) {
  TDataCursor& from = *member.result_;
  std::vector<uint8_t> image(static_cast<std::size_t>(from.RecordSize()));
  std::vector<TExpTokenPtr> columns;
  for (int i = 0; i < visibleCount_; ++i)
    columns.push_back(member.ResultColumnNode(i));
  from.First();
  while (!RowLimitReached() && from.Next(image.data()) == TDataCursor::kRecordRead) {
    std::memset(row_.data(), 0, row_.size());
    pendingBlobs_.clear();
    for (int i = 0; i < visibleCount_; ++i)
      StoreValue(columns_[i].number, row_.data(),
                 *member.ReadResultValue(*columns[i], image.data()));
    AppendRow(row_.data());
  }
  FlushGatheredRows();
}

TExpTokenPtr TSelectQuery::ResultColumnNode(int i) const {
  const TResultColumn& c = columns_[static_cast<std::size_t>(i)];
  TExpTokenPtr n = NewExpToken();
  n->kind = TNodeKind::Column;
  n->columnName = c.name;
  n->columnNumber = static_cast<uint16_t>(c.number);
  n->type = c.type;
  n->subtype = c.subtype;
  n->size = FieldPhysicalSize(c.type, c.subtype, c.size);
  n->scale = c.scale;
  return n;
}

TExpTokenPtr TSelectQuery::ReadResultValue(const TExpToken& column, const uint8_t* image) {
  TExpTokenPtr v = NewExpToken();
  v->type = column.type;
  v->subtype = column.subtype;
  v->size = column.size;
  v->scale = column.scale;
  resultReader_->SetImage(image);
  resultReader_->ReadColumn(column, *v);
  return v;
}

// ---- IN (SELECT ...)

std::string TSelectQuery::SubSelectKey(const TExpToken& v) const {
  if (v.isNull || v.type == exptype::kUnknown) return "null";
  auto number = [](double d) {
    int64_t whole = 0;
    if (std::trunc(d) == d && TruncToInt64(d, whole)) return "n:" + std::to_string(whole);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "f:%.17g", d);
    return std::string(buffer);
  };
  switch (v.type) {
    case ftype::kSmallInt:
      return "n:" + std::to_string(v.Int16Value());
    case ftype::kWord:
      return "n:" + std::to_string(v.UInt16Value());
    case ftype::kInteger:
      return "n:" + std::to_string(v.Int32Value());
    case ftype::kLargeInt:
      return "n:" + std::to_string(v.Int64Value());
    case ftype::kFloat:
      return number(v.DoubleValue());
    case ftype::kBcd: {
      TBcd b{};
      std::memcpy(b.data(), v.value.Data(), kBcdSize);
      return number(BcdToDouble(b));
    }
    case ftype::kDate:
      return "t" + number(static_cast<double>(v.Int32Value()) * kMsPerDay);
    case ftype::kTimestamp:
      return "t" + number(v.DoubleValue());
    case ftype::kTime:
      return "h:" + std::to_string(v.Int32Value());
    case ftype::kBoolean:
      return v.Int16Value() != 0 ? "b:1" : "b:0";
    case ftype::kString:
      return "s:" + v.StringValue();
    case ftype::kBlob:
      if (v.subtype == fsubtype::kMemo) return "s:" + v.StringValue();
      [[fallthrough]];
    default:
      return "y:" + std::string(reinterpret_cast<const char*>(v.value.Data()),
                                static_cast<std::size_t>(std::max(v.size, 0)));
  }
}

void TSelectQuery::FillSubSelectValues() {
  subKeys_.clear();
  subTexts_.clear();
  TDataCursor& cursor = *Execute();
  TExpTokenPtr column = ResultColumnNode(0);
  const bool collated = locale_ != 0 && IsStringValue(*column);
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  cursor.First();
  while (cursor.Next(image.data()) == TDataCursor::kRecordRead) {
    TExpTokenPtr v = ReadResultValue(*column, image.data());
    if (collated && !v->isNull)
      subTexts_.push_back(v->StringValue());
    else
      subKeys_.insert(SubSelectKey(*v));
  }
  subValuesReady_ = true;
}

bool TSelectQuery::SubSelectContains(const TExpToken& value) {
  if (!subValuesReady_) FillSubSelectValues();
  if (!subTexts_.empty() && IsStringValue(value) && !value.isNull) {
    const std::string text = value.StringValue();
    for (const std::string& s : subTexts_)
      if (CompareLocaleText(locale_, text, s) == 0) return true;
    return false;
  }
  return subKeys_.count(SubSelectKey(value)) > 0;
}

}  // namespace mt
