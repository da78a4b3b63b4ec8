// TEngineQuery: statement text and parameters, preparation, execution and the result cursor
// lent to the dataset.
#include "enginequery.h"

#include <algorithm>
#include <climits>

#include "database.h"
#include "dberrors.h"
#include "engine/common/engineerror.h"
#include "engine/common/literals.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/sqlitems.h"
#include "session.h"

namespace mt {
namespace {

bool NameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool NameChar(unsigned char c) {
  return NameStart(c) || (c >= '0' && c <= '9') || c == '!' || c == '$' || c == '@';
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

// ---- TParam

TExpToken& TParam::Fresh() {
  value_ = NewExpToken();
  return *value_;
}

void TParam::SetNull() {
  Fresh().SetNull();
}

void TParam::SetAsString(std::string_view text) {
  Fresh().SetString(text);
}

void TParam::SetAsBoolean(bool value) {
  Fresh().SetBoolean(value);
}

void TParam::SetAsInteger(int64_t value) {
  if (value >= INT32_MIN && value <= INT32_MAX) {
    Fresh().SetInteger(static_cast<int32_t>(value));
  } else {
    Fresh().SetLargeInt(value);
  }
}

void TParam::SetAsFloat(double value) {
  Fresh().SetFloat(value);
}

void TParam::SetAsDate(TDateTime value) {
  int32_t day = 0;
  int32_t ms = 0;
  if (!DateTimeToParts(value, day, ms) || day < 1)
    RaiseDatabaseError(dbmsg::kInvalidDate, {FloatToText(value)});
  Fresh().SetDate(day);
}

void TParam::SetAsDateTime(TDateTime value) {
  int32_t day = 0;
  int32_t ms = 0;
  if (!DateTimeToParts(value, day, ms) || day < 1)
    RaiseDatabaseError(dbmsg::kInvalidTimestamp, {FloatToText(value)});
  Fresh().SetTimestamp(static_cast<double>(day) * kMsPerDay + ms);
}

void TParam::SetValue(const TVariant& value) {
  switch (value.Kind()) {
    case TVariant::TKind::Null:
      SetNull();
      break;
    case TVariant::TKind::Boolean:
      SetAsBoolean(value.Boolean());
      break;
    case TVariant::TKind::Integer:
      SetAsInteger(value.Integer());
      break;
    case TVariant::TKind::Float:
      SetAsFloat(value.Float());
      break;
    case TVariant::TKind::Text:
      SetAsString(value.Text());
      break;
  }
}

// ---- TParams

TParam* TParams::FindParam(std::string_view name) const {
  for (const auto& p : items_) {
    if (SameName(p->Name(), name)) return p.get();
  }
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) RaiseDatabaseError(dbmsg::kParameterNotFound, {name});
  return *p;
}

TParam& TParams::Add(std::string_view name) {
  if (TParam* p = FindParam(name)) return *p;
  items_.push_back(std::make_unique<TParam>(std::string(name)));
  return *items_.back();
}

void TParams::Rebuild(const std::vector<std::string>& names) {
  std::vector<std::unique_ptr<TParam>> next;
  for (const std::string& name : names) {
    auto old = std::find_if(items_.begin(), items_.end(), [&](const auto& p) {
      return p != nullptr && SameName(p->Name(), name);
    });
    if (old != items_.end()) {
      (*old)->name_ = name;
      next.push_back(std::move(*old));
    } else {
      next.push_back(std::make_unique<TParam>(name));
    }
  }
  items_ = std::move(next);
}

std::vector<std::string> ScanParameterNames(std::string_view sql) {
  std::vector<std::string> names;
  auto add = [&](std::string_view name) {
    for (const std::string& n : names) {
      if (SameName(n, name)) return;
    }
    names.emplace_back(name);
  };
  std::size_t i = 0;
  const std::size_t n = sql.size();
  auto at = [&](std::size_t k) { return k < n ? static_cast<unsigned char>(sql[k]) : 0u; };
  while (i < n) {
    const unsigned char c = at(i);
    if (c == '\'' || c == '"') {
      // A quoted text or name; a doubled quote stands for one and does not end it.
      ++i;
      while (i < n) {
        if (at(i) == c) {
          if (at(i + 1) == c) {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (c == '[') {
      const std::size_t close = sql.find(']', i + 1);
      i = close == std::string_view::npos ? n : close + 1;
    } else if (c == '/' && at(i + 1) == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? n : close + 2;
    } else if (c == ':' && NameStart(at(i + 1))) {
      std::size_t end = i + 1;
      while (end < n && NameChar(at(end)))
        ++end;
      add(sql.substr(i + 1, end - i - 1));
      i = end;
    } else if (c >= 0x81 && c <= 0xFE) {
      // A two-byte GBK character: its second byte may look like an ASCII sign.
      i += 2;
    } else {
      ++i;
    }
  }
  return names;
}

// ---- TEngineQuery

TEngineQuery::TEngineQuery(TComponent* owner) : TEngineDBDataSet(owner) {}

TEngineQuery::~TEngineQuery() {
  CloseOnDestroy();
}

void TEngineQuery::SetSQL(std::string_view text) {
  if (text == sql_) return;
  Unprepare();
  sql_ = std::string(text);
  if (paramCheck_) params_.Rebuild(ScanParameterNames(sql_));
}

void TEngineQuery::SetRequestLive(bool live) {
  if (live == requestLive_) return;
  Unprepare();
  requestLive_ = live;
}

void TEngineQuery::SetMaxRowCount(int32_t rows) {
  if (rows == maxRowCount_) return;
  Unprepare();
  maxRowCount_ = rows;
}

void TEngineQuery::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_) return;
  CheckInactive();
  readOnly_ = readOnly;
}

void TEngineQuery::DatabaseChanged() {
  Unprepare();
}

void TEngineQuery::Prepare() {
  if (sql_.size() < 2 || IsBlank(sql_)) RaiseDatabaseError(dbmsg::kNoSqlStatement);
  const bool wasBound = Database() != nullptr;
  TEngineDatabase& db = BindDatabase();
  // A database that was closed and opened again gives a new directory object.
  if (statement_ && statementDirectory_ == DirectoryObject()) {
    // A released statement has forgotten its parse (and the parameter nodes in it).
    if (statementReleased_) {
      statementReleased_ = false;
      statement_->Prepare(sql_);
    }
    return;
  }
  statement_.reset();
  statementReleased_ = false;
  TEngineSession& session = db.Session();
  statementDirectory_ = DirectoryObject();
  auto statement = std::make_unique<TQueryStatement>(statementDirectory_.get());
  statement->SetRequestLive(requestLive_);
  statement->SetMaxRowCount(maxRowCount_);
  statement->SetPasswords(session.PasswordSource());
  statement->SetSessionSettings(session.EngineSettings());
  if (!session.PrivateDir().empty()) statement->SetPrivateDirectory(session.PrivateDir());
  try {
    statement->Prepare(sql_);
  } catch (...) {
    statementDirectory_.reset();
    if (!wasBound && !Active()) ReleaseDatabase();
    throw;
  }
  statement_ = std::move(statement);
}

void TEngineQuery::Unprepare() {
  Close();
  executed_ = nullptr;
  statement_.reset();
  statementDirectory_.reset();
  ReleaseDatabase();
}

void TEngineQuery::BindParameters() {
  const std::vector<TExpToken*>& nodes = statement_->Parameters();
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::string& text = nodes[i]->text;
    const bool named = text.size() > 1 && text[0] == ':';
    const TParam* p = nullptr;
    if (named) {
      p = params_.FindParam(std::string_view(text).substr(1));
    } else if (i < static_cast<std::size_t>(params_.Count())) {
      p = &params_.Items(static_cast<int>(i));
    }
    if (p == nullptr || !p->Bound()) {
      RaiseDatabaseError(dbmsg::kNoParameterValue,
                         {named ? std::string_view(text).substr(1) : std::string_view(text)});
    }
    statement_->SetParameter(i, *p->Value());
  }
}

TDataCursor* TEngineQuery::Run() {
  try {
    Prepare();
    BindParameters();
    rowsAffected_ = 0;
    TDataCursor* cursor = statement_->Execute();
    rowsAffected_ = statement_->RowsAffected();
    return cursor;
  } catch (const std::exception&) {
    // A failed statement is unusable (an SQL fault, a table fault part-way): the next run
    // prepares the text anew.
    try {
      Unprepare();
    } catch (const std::exception&) {
      // The run's own failure is the one to report.
    }
    throw;
  }
}

TCursorLease TEngineQuery::OpenCursor() {
  TDataCursor* cursor = executed_;
  executed_ = nullptr;
  if (cursor == nullptr) cursor = Run();
  if (cursor == nullptr) {
    ReleaseStatement();
    return {};
  }
  return TCursorLease::Lent(*cursor);
}

void TEngineQuery::ExecSQL() {
  Close();
  TDataCursor* cursor = Run();
  if (cursor != nullptr) {
    executed_ = cursor;
    Open();
    return;
  }
  // Nothing stays open: the statement lets go of its tables, the database reference goes.
  ReleaseStatement();
  ReleaseDatabase();
}

void TEngineQuery::ReleaseStatement() {
  if (!statement_) return;
  statementReleased_ = true;
  statement_->Release();
}

void TEngineQuery::CursorClosed() {
  executed_ = nullptr;
  ReleaseStatement();
  TEngineDBDataSet::CursorClosed();
}

bool TEngineQuery::LiveResult() const {
  return Active() && statement_ && statement_->ResultIsLive();
}

bool TEngineQuery::CanModify() const {
  return !readOnly_ && requestLive_ && LiveResult() && TEngineDBDataSet::CanModify();
}

int TEngineQuery::ShownFieldCount(const TDataCursor& cursor) const {
  if (statement_ && statement_->ResultColumnCount() > 0) return statement_->ResultColumnCount();
  return TEngineDBDataSet::ShownFieldCount(cursor);
}

}  // namespace mt
