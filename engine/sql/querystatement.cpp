// TQueryStatement: loading the text, parsing statement after statement, and the parameter and
// sub-select hooks of the expression parser.
#include "querystatement.h"

#include "engine/sql/sqlparser.h"

namespace mt {

TQueryStatement::TQueryStatement(TDataDirectory* database) : database_(database), parser_(this) {}

TQueryStatement::~TQueryStatement() = default;

void TQueryStatement::Prepare(std::string_view sql) {
  parser_.SetText(sql);
  parser_.SetContextName(parsecontext::kSqlStatement);
  parser_.NextToken();
  ParseStatement();
}

bool TQueryStatement::ParseNextStatement() {
  if (parser_.AtEnd()) return false;
  ParseStatement();
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

}  // namespace mt
