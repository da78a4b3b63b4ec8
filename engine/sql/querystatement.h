// TQueryStatement: one prepared SQL text, which may hold several statements separated by ";".
//
// The statement owns the expression parser that reads the whole text, the queries of the
// statement being worked on (master first, then union members, the SELECT of INSERT ...
// SELECT and sub-selects, in creation order) and the list of its parameter nodes. Prepare
// parses the first statement; ParseNextStatement moves to the next one, discarding the queries
// of the one before. Every fault raises engine error 11949 and leaves the statement unusable;
// the caller discards it.
//
// Thread-safety: a statement is used by the one thread that runs its dataset.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/common/expparser.h"
#include "engine/sql/dataquery.h"

namespace mt {

class TDataDirectory;

class TQueryStatement : public TExpressionOwner {
 public:
  // database may be null for a statement that is only parsed.
  explicit TQueryStatement(TDataDirectory* database = nullptr);
  ~TQueryStatement() override;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  TDataDirectory* Database() const { return database_; }

  // ---- Settings the dataset makes before Prepare.
  void SetRequestLive(bool live) { requestLive_ = live; }
  bool RequestLive() const { return requestLive_; }
  void SetMaxRowCount(int32_t rows) { maxRowCount_ = rows; }  // -1: no limit
  int32_t MaxRowCount() const { return maxRowCount_; }

  // Loads the text and parses its first statement into a new master query.
  void Prepare(std::string_view sql);
  // When the text holds a further statement, discards the current queries and parameters,
  // parses that statement into a new master query and returns true; at the end of the text
  // returns false and changes nothing.
  bool ParseNextStatement();
  // True when nothing but blanks and comments follows the current statement.
  bool AtEndOfText() const { return parser_.AtEnd(); }

  // ---- The current statement.
  TStatementKind Kind() const { return master_ ? master_->kind : TStatementKind::Unknown; }
  TDataQuery* Master() const { return master_; }
  const std::vector<std::unique_ptr<TDataQuery>>& Queries() const { return queries_; }
  // Parameter nodes in order of appearance: `?` (text "?") and ":name" (text ":name"). The
  // nodes belong to the queries' trees.
  const std::vector<TExpToken*>& Parameters() const { return parameters_; }
  std::size_t ParameterCount() const { return parameters_.size(); }

  // ---- Used by the statement parser.
  TExpressionParser& Parser() { return parser_; }
  // A new query owned by the statement, after the ones made so far.
  TDataQuery& NewQuery(TStatementKind kind);

  // TExpressionOwner
  void AddParameter(TExpToken& node) override;
  bool ParseSubSelect(TExpressionParser& parser, TExpToken& node) override;

 private:
  void ParseStatement();

  TDataDirectory* database_;
  TExpressionParser parser_;
  std::vector<std::unique_ptr<TDataQuery>> queries_;
  TDataQuery* master_ = nullptr;
  std::vector<TExpToken*> parameters_;
  bool requestLive_ = false;
  int32_t maxRowCount_ = -1;
};

}  // namespace mt
