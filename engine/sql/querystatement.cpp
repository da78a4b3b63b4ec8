// TQueryStatement: loading the text, parsing and preparing statement after statement, binding
// parameter values, running statements and releasing their results.
#include "querystatement.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/sql/changequery.h"
#include "engine/sql/definitionquery.h"
#include "engine/sql/privatedirectory.h"
#include "engine/sql/selectquery.h"
#include "engine/sql/sqlparser.h"
#include "engine/storage/datadirectory.h"

namespace mt {

TQueryStatement::TQueryStatement(TDataDirectory* database) : database_(database), parser_(this) {}

TQueryStatement::~TQueryStatement() {
  // Results and cursors go before the directories they were opened through.
  queries_.clear();
}

const std::string& TQueryStatement::PrivateDirectory() const {
  return privateDirectory_.empty() ? DefaultPrivateDirectory() : privateDirectory_;
}

void TQueryStatement::SetProgressSteps(int steps) {
  if (steps >= 0 && steps <= 100) progressSteps_ = steps;
}

void TQueryStatement::SetSessionSettings(const TSessionSettings& settings) {
  settings_ = settings;
  haveSettings_ = true;
}

TDataDirectory& TQueryStatement::MemoryDirectory() {
  if (!memoryDirectory_) memoryDirectory_ = std::make_unique<TDataDirectory>(std::string());
  return *memoryDirectory_;
}

TProgressAnswer TQueryStatement::ReportProgress(int percent) {
  return progress_ ? progress_(percent) : TProgressAnswer::Continue;
}

bool TQueryStatement::ReportScanProgress(uint64_t visited, uint64_t total, int& lastPercent) {
  if (!progress_) return true;
  const double step = progressSteps_ <= 0 ? 100.0 : 100.0 / progressSteps_;
  const int percent =
      total == 0 ? 100 : static_cast<int>(std::min<uint64_t>(visited * 100 / total, 100));
  if (percent - lastPercent < step) return true;
  lastPercent = percent;
  return ReportProgress(percent) != TProgressAnswer::Stop;
}

std::string TQueryStatement::DatabaseName() const {
  if (!databaseName_.empty() || database_ == nullptr) return databaseName_;
  std::string name = database_->Path();
  if (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

// ---- Preparing

void TQueryStatement::Load() {
  parser_.SetText(text_);
  parser_.SetContextName(parsecontext::kSqlStatement);
  parser_.NextToken();
  atFirstStatement_ = true;
  released_ = false;
  ParseStatement();
  if (database_ != nullptr) PrepareStatement();
}

void TQueryStatement::Prepare(std::string_view sql) {
  text_ = std::string(sql);
  parameterValues_.clear();
  Load();
}

bool TQueryStatement::ParseNextStatement() {
  if (parser_.AtEnd()) return false;
  atFirstStatement_ = false;
  ParseStatement();
  return true;
}

bool TQueryStatement::NextStatement() {
  if (!ParseNextStatement()) return false;
  if (database_ != nullptr) PrepareStatement();
  return true;
}

void TQueryStatement::ParseStatement() {
  // Parameter nodes belong to the queries' trees: both lists go together.
  parameters_.clear();
  master_ = nullptr;
  queries_.clear();
  master_ = &NewQuery(TStatementKind::Unknown);
  ParseSqlStatement(*this, *master_);
}

void TQueryStatement::PrepareStatement() {
  const TStatementKind kind = Kind();
  const bool changing = kind == TStatementKind::Insert || kind == TStatementKind::Update ||
                        kind == TStatementKind::Delete;
  // The data definition statements are prepared by their own executors.
  if (kind != TStatementKind::Select && !changing) return;
  // The SELECTs a changing statement reads (INSERT's source, sub-selects) are canned SELECTs,
  // ready before the statement itself.
  for (auto it = queries_.rbegin(); it != queries_.rend(); ++it) {
    TDataQuery& q = **it;
    if (changing && &q == master_) continue;
    q.select = std::make_unique<TSelectQuery>(*this, q);
    q.select->Prepare();
  }
  if (changing) {
    master_->change = std::make_unique<TChangeQuery>(*this, *master_);
    master_->change->Prepare();
  }
}

bool TQueryStatement::ResultIsLive() const {
  return master_ != nullptr && master_->select && master_->select->Live();
}

TDataQuery& TQueryStatement::NewQuery(TStatementKind kind) {
  queries_.push_back(std::make_unique<TDataQuery>(this, kind));
  return *queries_.back();
}

void TQueryStatement::AddParameter(TExpToken& node) {
  parameters_.push_back(&node);
}

bool TQueryStatement::ParseSubSelect(TExpressionParser& /*parser*/, TExpToken& node) {
  TDataQuery& query = NewQuery(TStatementKind::Select);
  node.subQuery = &query;
  ParseSqlSubSelect(*this, query);
  return true;
}

// ---- Parameters

namespace {

bool IsTemporal(uint16_t t) {
  return t == ftype::kDate || t == ftype::kTime || t == ftype::kTimestamp;
}
bool IsText(uint16_t t, uint16_t subtype) {
  return t == ftype::kString || (t == ftype::kBlob && subtype == fsubtype::kMemo);
}

// The operand a parameter is compared with or tested against, when it has a known type.
const TExpToken* CounterpartOf(const TExpToken& node) {
  const TExpToken* parent = node.parent;
  if (parent == nullptr) return nullptr;
  const TExpToken* other = nullptr;
  if (parent->kind == TNodeKind::Binary) {
    other = parent->left.get() == &node ? parent->right.get() : parent->left.get();
  } else if (parent->kind == TNodeKind::Predicate && !parent->arguments.empty()) {
    other = parent->arguments[0].get() == &node ? nullptr : parent->arguments[0].get();
  }
  return other != nullptr && other->type != exptype::kUnknown ? other : nullptr;
}

// Puts a value into a parameter node and reads it the way a literal in its place would be
// read where it meets a value of another type.
void Bind(TExpToken& node, const TExpToken& value) {
  node.type = value.type;
  node.subtype = value.subtype;
  node.size = value.size;
  node.scale = value.scale;
  node.value.Reserve(value.value.Capacity());
  std::memset(node.value.Data(), 0, node.value.Capacity());
  std::memcpy(node.value.Data(), value.value.Data(), value.value.Capacity());
  node.isNull = value.isNull;
  const TExpToken* other = CounterpartOf(node);
  if (other == nullptr || node.isNull || node.type == exptype::kUnknown) return;
  const auto fault = [&](const std::string& message) {
    RaiseEngineError(err::kSqlError, {.extra = message + " in WHERE or JOIN clause"});
  };
  uint16_t target = node.type;
  if (IsTemporal(other->type) && IsText(node.type, node.subtype)) {
    target = other->type;
  } else if (IsText(other->type, other->subtype) && !IsText(node.type, node.subtype)) {
    target = ftype::kString;
  } else if (!IsText(other->type, other->subtype) && IsText(node.type, node.subtype)) {
    target = other->type;
  }
  if (target == node.type) return;
  TExpTokenPtr converted = NewExpToken();
  converted->type = target;
  converted->size = target == ftype::kString ? 252 : other->size;
  converted->scale = other->scale;
  if (!Convert(node, *converted)) {
    const std::string text = ValueToText(node);
    if (IsTemporal(target))
      fault("Date, time, or timestamp expression expected, instead found '" + text + "'");
    fault("Type mismatch between parameter '" + node.text + "' and value '" + text + "'");
  }
  node.type = converted->type;
  node.subtype = converted->subtype;
  node.size = target == ftype::kString ? static_cast<int32_t>(converted->StringValue().size()) + 1
                                       : converted->size;
  node.scale = converted->scale;
  node.value.Reserve(converted->value.Capacity());
  std::memcpy(node.value.Data(), converted->value.Data(), converted->value.Capacity());
  node.isNull = converted->isNull;
}

}  // namespace

void TQueryStatement::SetParameter(std::size_t index, const TExpToken& value) {
  if (!atFirstStatement_ || released_) Load();
  if (index >= parameters_.size())
    RaiseEngineError(err::kSqlError,
                     {.extra = "Invalid parameter number " + std::to_string(index + 1)});
  if (parameterValues_.size() < parameters_.size()) parameterValues_.resize(parameters_.size());
  parameterValues_[index] = CopyExpTree(value);
  Bind(*parameters_[index], value);
}

void TQueryStatement::ApplyParameters() {
  for (std::size_t i = 0; i < parameterValues_.size() && i < parameters_.size(); ++i) {
    if (parameterValues_[i]) Bind(*parameters_[i], *parameterValues_[i]);
  }
}

// ---- Executing

TDataCursor* TQueryStatement::Execute() {
  if (database_ == nullptr)
    RaiseEngineError(err::kSqlError, {.extra = "The statement has no database to run against"});
  if (!atFirstStatement_ || released_) {
    Load();
    ApplyParameters();
  }
  rowsAffected_ = 0;
  rowsAtTransactionStart_ = 0;
  executionTime_ = 0;
  TDataCursor* cursor = ExecuteStatement();
  while (NextStatement())
    cursor = ExecuteStatement();
  return cursor;
}

TDataCursor* TQueryStatement::ExecuteStatement() {
  if (database_ == nullptr || released_ || master_ == nullptr)
    RaiseEngineError(err::kSqlError, {.extra = "The statement is not prepared"});
  // A new run of the statement: sub-selects read their tables anew.
  for (const auto& q : queries_) {
    if (q->select && q->isSubQuery) q->select->ForgetSubSelectValues();
  }
  statementRows_ = 0;
  switch (Kind()) {
    case TStatementKind::Select: {
      TDataCursor* cursor = master_->select->Execute();
      executionTime_ += master_->select->Seconds();
      return cursor;
    }
    case TStatementKind::Insert:
    case TStatementKind::Update:
    case TStatementKind::Delete: {
      statementRows_ = master_->change->Execute();
      rowsAffected_ += statementRows_;
      executionTime_ += master_->change->Seconds();
      return nullptr;
    }
    case TStatementKind::CreateTable:
    case TStatementKind::CreateIndex:
    case TStatementKind::AlterTable:
    case TStatementKind::DropTable:
    case TStatementKind::DropIndex: {
      TDefinitionQuery definition(*this, *master_);
      definition.Execute();
      executionTime_ += definition.Seconds();
      return nullptr;
    }
    case TStatementKind::StartTransaction:
    case TStatementKind::Commit:
    case TStatementKind::Rollback:
      ExecuteTransactionStatement();
      return nullptr;
    default:
      RaiseEngineError(err::kSqlError,
                       {.extra = "Running " + std::string(StatementKindName(Kind())) +
                                 " statements is not supported"});
  }
}

void TQueryStatement::ExecuteTransactionStatement() {
  const auto fault = [this](std::string_view state) {
    RaiseEngineError(err::kSqlError, {.extra = "Transaction " + std::string(state) +
                                               " for database '" + DatabaseName() + "'"});
  };
  const auto started = std::chrono::steady_clock::now();
  switch (Kind()) {
    case TStatementKind::StartTransaction:
      if (database_->InTransaction()) fault("already in progress");
      database_->StartTransaction();
      rowsAtTransactionStart_ = rowsAffected_;
      break;
    case TStatementKind::Commit:
      if (!database_->InTransaction()) fault("not in progress");
      database_->Commit(master_->commitFlush);
      break;
    default:
      if (!database_->InTransaction()) fault("not in progress");
      database_->Rollback();
      rowsAffected_ = rowsAtTransactionStart_;
      break;
  }
  executionTime_ +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

TDataCursor* TQueryStatement::ResultCursor() const {
  return master_ != nullptr && master_->select ? master_->select->ResultCursor() : nullptr;
}

int TQueryStatement::ResultColumnCount() const {
  if (master_ == nullptr || !master_->select || master_->select->ResultCursor() == nullptr)
    return 0;
  const TSelectQuery& s = *master_->select;
  return s.Live() ? static_cast<int>(s.LiveColumns().size()) : s.VisibleColumnCount();
}

void TQueryStatement::Release() {
  parameters_.clear();
  master_ = nullptr;
  queries_.clear();
  released_ = true;
}

}  // namespace mt
