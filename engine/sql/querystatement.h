// TQueryStatement: one prepared SQL text, which may hold several statements separated by ";".
//
// The statement owns the expression parser that reads the whole text, the queries of the
// statement being worked on (master first, then union members, the SELECT of INSERT ...
// SELECT and sub-selects, in creation order) and the list of its parameter nodes.
//
// Use (the query dataset's sequence):
//   TQueryStatement s(&database);        // the database directory the tables are found in
//   s.SetMaxRowCount(-1); s.SetRequestLive(false); s.SetProgressCallback(...); ...
//   s.Prepare(text);                     // parses and prepares the first statement
//   s.SetParameter(i, value);            // for each parameter node (`?`, `:name`)
//   TDataCursor* rows = s.Execute();     // every statement of the text in turn
//   ... read `rows` (the last statement's result; nullptr when it is no SELECT),
//       s.RowsAffected(), s.ExecutionTime() ...
//   s.Release();                         // or destroy: result tables closed, temporary ones
//                                        // deleted
// Execute may be called again, with new parameter values or the same; each run starts from
// empty results, and a text of several statements runs again from its first statement.
// A tool that wants each statement's own result runs them one at a time: ExecuteStatement,
// then NextStatement until it returns false.
//
// Without a database the statement only parses (Prepare, ParseNextStatement); that is how the
// parser is tested. Every fault raises an engine error (11949 for SQL faults, the storage
// engine's codes for table faults) and leaves the statement unusable; the caller discards it.
//
// Thread-safety: a statement is used by the one thread that runs its dataset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/expparser.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/selectquery.h"
#include "engine/storage/datatable.h"
#include "engine/storage/sessionsettings.h"

namespace mt {

class TDataCursor;
class TDataDirectory;

class TQueryStatement : public TExpressionOwner {
 public:
  // Called while statements run with the percentage of source records read; answering Stop
  // ends the reading, and the result holds the rows built so far (a changing statement ends
  // normally with the rows changed so far).
  using TProgressCallback = std::function<TProgressAnswer(int percent)>;
  // Called after each intermediate commit of a changing statement with the rows it has
  // changed so far.
  using TCommitCallback = std::function<void(int64_t rows)>;

  // database may be null for a statement that is only parsed.
  explicit TQueryStatement(TDataDirectory* database = nullptr);
  ~TQueryStatement() override;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  TDataDirectory* Database() const { return database_; }
  // The name the transaction messages give the database; by default the directory's path.
  void SetDatabaseName(std::string name) { databaseName_ = std::move(name); }
  std::string DatabaseName() const;

  // ---- Settings the dataset makes before Prepare.
  void SetRequestLive(bool live) { requestLive_ = live; }
  bool RequestLive() const { return requestLive_; }
  void SetMaxRowCount(int32_t rows) { maxRowCount_ = rows; }  // -1: no limit
  int32_t MaxRowCount() const { return maxRowCount_; }
  // Bytes of GROUP BY groups held in memory while rows are read; beyond them, groups go to the
  // result table partly folded. 0: the default (32 MiB).
  void SetGroupMemory(std::size_t bytes) { groupMemory_ = bytes; }
  std::size_t GroupMemory() const { return groupMemory_ > 0 ? groupMemory_ : kDefaultGroupMemory; }
  static constexpr std::size_t kDefaultGroupMemory = std::size_t{32} << 20;
  // The session's private directory for result tables; empty (the default) uses the
  // process's own folder (privatedirectory.h).
  void SetPrivateDirectory(std::string directory) { privateDirectory_ = std::move(directory); }
  const std::string& PrivateDirectory() const;
  // Progress is reported each time the percentage grew by 100 / steps (0 counts as 1 step);
  // values above 100 are ignored. Default 20.
  void SetProgressSteps(int steps);
  int ProgressSteps() const { return progressSteps_; }
  void SetProgressCallback(TProgressCallback callback) { progress_ = std::move(callback); }
  void SetCommitCallback(TCommitCallback callback) { commitCallback_ = std::move(callback); }
  // The session's locking and caching settings and passwords, handed to every cursor.
  void SetSessionSettings(const TSessionSettings& settings);
  const TSessionSettings* SessionSettings() const { return haveSettings_ ? &settings_ : nullptr; }
  void SetPasswords(TPasswordSource passwords) { passwords_ = std::move(passwords); }
  const TPasswordSource& Passwords() const { return passwords_; }

  // ---- Preparing.
  // Loads the text, parses its first statement into a new master query and, with a database,
  // prepares it.
  void Prepare(std::string_view sql);
  // When the text holds a further statement, discards the current queries (their results
  // released) and parameters, parses that statement into a new master query and returns
  // true; at the end of the text returns false and changes nothing. Parses only.
  bool ParseNextStatement();
  // ParseNextStatement and, with a database, the preparation of the statement parsed.
  bool NextStatement();
  // True when nothing but blanks and comments follows the current statement.
  bool AtEndOfText() const { return parser_.AtEnd(); }

  // ---- The current statement.
  TStatementKind Kind() const { return master_ ? master_->kind : TStatementKind::Unknown; }
  TDataQuery* Master() const { return master_; }
  const std::vector<std::unique_ptr<TDataQuery>>& Queries() const { return queries_; }
  // Result facts after preparation: the master's result is the source cursor itself (live),
  // and its select list is `*` alone.
  bool ResultIsLive() const;
  bool SelectsAllColumnsOnly() const { return master_ && master_->SelectsAllColumnsOnly(); }

  // ---- Parameters.
  // Parameter nodes in order of appearance: `?` (text "?") and ":name" (text ":name"). The
  // nodes belong to the queries' trees.
  const std::vector<TExpToken*>& Parameters() const { return parameters_; }
  std::size_t ParameterCount() const { return parameters_.size(); }
  // Puts a value (a constant node: type, size, value bytes, null mark) into parameter i of the
  // first statement. Where the parameter meets a DATE, TIME or TIMESTAMP value a string value
  // is read as that type ("Date, time, or timestamp expression expected, instead found ..."
  // when it is none); a number meeting a string, or any other value the operand rules refuse,
  // raises the type-mismatch message of the clause.
  void SetParameter(std::size_t index, const TExpToken& value);

  // ---- Executing.
  // Runs every statement of the text from the first (the first statement with the parameter
  // values) and returns the last statement's result cursor, or nullptr when it is no SELECT.
  TDataCursor* Execute();
  // Runs the current statement only.
  TDataCursor* ExecuteStatement();
  // Rows affected by the changing statements of the last Execute (a SELECT adds nothing), or
  // of the statements run one at a time since. START TRANSACTION remembers the total and
  // ROLLBACK restores it (to 0 when the transaction began before this run).
  int64_t RowsAffected() const { return rowsAffected_; }
  // Rows affected by the statement that ran last (0 for any other than INSERT, UPDATE and
  // DELETE).
  int64_t StatementRowsAffected() const { return statementRows_; }
  // Seconds spent executing, summed over the statements of the last Execute.
  double ExecutionTime() const { return executionTime_; }
  // The result of the current statement when it is a SELECT that ran; else nullptr.
  TDataCursor* ResultCursor() const;
  // The result's visible columns (a canned result table also holds hidden AVG counters after
  // them); 0 when there is no result.
  int ResultColumnCount() const;
  // Closes every result and source cursor; temporary result tables are deleted. The text and
  // the parameter values stay: a later Execute parses and prepares the text again.
  void Release();

  // ---- Used by the queries.
  bool HasProgressCallback() const { return static_cast<bool>(progress_); }
  // Reports progress; Stop when the callee asked to stop.
  TProgressAnswer ReportProgress(int percent);
  // The progress of a scan that has read `visited` of `total` rows, reported when the
  // percentage grew by a step since lastPercent (which follows it); false when the callee
  // asked to stop. True without a callback.
  bool ReportScanProgress(uint64_t visited, uint64_t total, int& lastPercent);
  void ReportCommit(int64_t rows) {
    if (commitCallback_) commitCallback_(rows);
  }
  // The directory of in-memory tables (MEMORY and INTO MEMORY).
  TDataDirectory& MemoryDirectory();

  // ---- Used by the statement parser.
  TExpressionParser& Parser() { return parser_; }
  // A new query owned by the statement, after the ones made so far.
  TDataQuery& NewQuery(TStatementKind kind);

  // TExpressionOwner
  void AddParameter(TExpToken& node) override;
  bool ParseSubSelect(TExpressionParser& parser, TExpToken& node) override;

 private:
  // Parses the text's first statement and, with a database, prepares it.
  void Load();
  void ParseStatement();
  // Prepares the queries of the current statement, last created first.
  void PrepareStatement();
  // Puts the remembered parameter values into the nodes of the current statement.
  void ApplyParameters();
  // START TRANSACTION, COMMIT and ROLLBACK.
  void ExecuteTransactionStatement();

  TDataDirectory* database_;
  std::string databaseName_;
  std::unique_ptr<TDataDirectory> memoryDirectory_;
  TExpressionParser parser_;
  std::string text_;
  std::vector<std::unique_ptr<TDataQuery>> queries_;
  TDataQuery* master_ = nullptr;
  bool atFirstStatement_ = true;
  bool released_ = false;
  std::vector<TExpToken*> parameters_;
  std::vector<TExpTokenPtr> parameterValues_;  // by index; null when not given
  bool requestLive_ = false;
  int32_t maxRowCount_ = -1;
  std::size_t groupMemory_ = 0;
  std::string privateDirectory_;
  int progressSteps_ = 20;
  TProgressCallback progress_;
  TCommitCallback commitCallback_;
  bool haveSettings_ = false;
  TSessionSettings settings_;
  TPasswordSource passwords_;
  int64_t rowsAffected_ = 0;
  int64_t statementRows_ = 0;
  int64_t rowsAtTransactionStart_ = 0;
  double executionTime_ = 0;
};

}  // namespace mt
