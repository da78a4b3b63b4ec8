// TEngineQuery: a dataset over the result of one SQL statement, or a runner for a statement
// without a result (ExecSQL); its parameters (TParam, TParams).
//
// Text and parameters. SetSQL replaces the text; a changed text closes and unprepares the
// query. With ParamCheck on (the default) the text is scanned for named parameters, a colon
// directly followed by a name (":name", outside quotes, brackets and comments), which become
// Params in order of first appearance, one per name (letter case ignored); values already
// given to a name that stays are kept. A parameter's value is a value: text put into one is
// never read as a column name or as statement text, whatever it holds.
//
// Life. Unprepared -> Prepare (binds the database, makes the statement and parses the text)
// -> prepared -> Open or ExecSQL (parameters bound, statement executed) -> open on the
// result, or, for a statement without a result, back to prepared with RowsAffected set.
// Close releases the result (temporary result tables deleted) and the database reference;
// the statement stays prepared until the text, the database or the session changes. A failed
// run (an SQL fault 11949, a table fault part-way) unprepares the query before it propagates.
//
// Results are read-only unless RequestLive is set, the engine could give a live result (a
// single table with `*`) and ReadOnly is off; a live result's changes go to the table.
//
// Thread-safety: used by one thread at a time, like every dataset.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset.h"
#include "engine/common/exptoken.h"
#include "field.h"

namespace mt {

class TQueryStatement;

// One named parameter and its value (unbound until a value is given).
class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  bool Bound() const { return value_ != nullptr; }
  // Forgets the value: the parameter is unbound again.
  void Clear() { value_.reset(); }

  void SetNull();
  void SetAsString(std::string_view text);
  void SetAsBoolean(bool value);
  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  // The day of the value (its time of day is dropped); "'%s' is not a valid date" when the
  // value lies outside the calendar.
  void SetAsDate(TDateTime value);
  void SetAsDateTime(TDateTime value);
  // A variant's own kind: null, boolean, integer, float or text.
  void SetValue(const TVariant& value);

  // The value as a constant node; nullptr while unbound.
  const TExpToken* Value() const { return value_.get(); }

 private:
  friend class TParams;
  TExpToken& Fresh();

  std::string name_;
  TExpTokenPtr value_;
};

class TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TParam& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  // Letter case ignored; nullptr when absent.
  TParam* FindParam(std::string_view name) const;
  // "Parameter '%s' not found" when absent.
  TParam& ParamByName(std::string_view name) const;
  // Adds a parameter of that name unless one exists; the parameter either way.
  TParam& Add(std::string_view name);
  void Clear() { items_.clear(); }
  // The parameters of these names in this order: a name already present keeps its value.
  void Rebuild(const std::vector<std::string>& names);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

// The names of the ":name" parameters of a statement text, in order of first appearance,
// each once (letter case ignored).
std::vector<std::string> ScanParameterNames(std::string_view sql);

class TEngineQuery : public TEngineDBDataSet {
 public:
  explicit TEngineQuery(TComponent* owner = nullptr);
  ~TEngineQuery() override;

  // ---- the statement
  const std::string& SQL() const { return sql_; }
  // Replaces the whole text; a different text closes and unprepares the query.
  void SetSQL(std::string_view text);
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool check) { paramCheck_ = check; }
  TParams& Params() { return params_; }
  const TParams& Params() const { return params_; }
  TParam& ParamByName(std::string_view name) { return params_.ParamByName(name); }

  // ---- settings (a change unprepares)
  bool RequestLive() const { return requestLive_; }
  void SetRequestLive(bool live);
  int32_t MaxRowCount() const { return maxRowCount_; }
  void SetMaxRowCount(int32_t rows);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);

  // ---- running
  bool Prepared() const { return statement_ != nullptr; }
  // "No SQL statement available" for an empty text; engine errors as the parser gives them.
  void Prepare();
  // Closes the query and drops the statement.
  void Unprepare();
  // Runs the statement: a statement with a result leaves the query open on it; any other
  // leaves it closed, with RowsAffected telling what it changed.
  void ExecSQL();
  // Rows changed by the last ExecSQL or Open (0 for a SELECT).
  int64_t RowsAffected() const { return rowsAffected_; }
  // Whether the open result is the table itself.
  bool LiveResult() const;

 protected:
  TCursorLease OpenCursor() override;
  void CursorClosed() override;
  bool CanModify() const override;
  int ShownFieldCount(const TDataCursor& cursor) const override;
  void DatabaseChanged() override;

 private:
  // Puts every parameter's value into the statement ("No value for parameter '%s'").
  void BindParameters();
  // Lets the statement close its results and tables; the next run parses it again.
  void ReleaseStatement();
  // Runs the prepared statement; its result cursor or nullptr.
  TDataCursor* Run();

  std::string sql_;
  bool paramCheck_ = true;
  TParams params_;
  bool requestLive_ = false;
  int32_t maxRowCount_ = -1;
  bool readOnly_ = false;
  int64_t rowsAffected_ = 0;

  std::shared_ptr<TDataDirectory> statementDirectory_;  // kept alive for the statement
  std::unique_ptr<TQueryStatement> statement_;
  bool statementReleased_ = false;
  TDataCursor* executed_ = nullptr;  // a result ExecSQL produced, handed to the following Open
};

}  // namespace mt
