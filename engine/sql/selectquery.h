// TSelectQuery: the preparation and execution of one SELECT (a master query, a member of a
// UNION chain or an IN (SELECT ...) sub-select). Its TDataQuery owns it (TDataQuery::select).
//
// Preparation opens the source tables (TQuerySources), expands `*`, type-checks and names the
// select items, checks the grouping rules, resolves GROUP BY and ORDER BY against the result
// columns, matches HAVING's aggregates to the select list, checks the WHERE tree and plans the
// scan (TRowScan), decides between a live result (the source cursor itself, filtered) and a
// canned one, and for a canned result creates the result table: a temporary table with a
// unique name in the session's private directory, or the INTO table.
//
// Execution of a canned result: each qualifying combined row of the sources becomes a result
// row (plain columns copied, computed columns evaluated) appended to the result table, or is
// folded into the one group of an implicitly grouped query (TAggregator). DISTINCT, GROUP BY
// (with HAVING) and ORDER BY then sort the result table in place; the members of a UNION chain
// are appended to the master's result. The result cursor reads the result table in record
// order, which is the result's order.
//
// Thread-safety: a query is used by the one thread that runs its statement.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/common/exptoken.h"
#include "engine/sql/sqlitems.h"
#include "engine/storage/tabledef.h"

namespace mt {

class TAggregator;
class TDataCursor;
class TDataDirectory;
class TDataQuery;
class TQuerySources;
class TQueryStatement;
class TRecordFormat;
class TRecordResolver;
class TRowScan;

// One column of a result after preparation.
struct TResultColumn {
  int number = 0;  // 1-based place in the result table
  std::string name;
  uint8_t type = 0;
  uint8_t subtype = 0;
  int size = 0;  // the declared size of strings and bytes, else 0
  int scale = 0;
  TAggregateKind aggregate = TAggregateKind::None;
  bool computed = false;   // evaluated per row (neither a plain column nor an aggregate of one)
  bool countStar = false;  // COUNT(*)
  bool hidden = false;     // the count column of an AVG
  int avgCountColumn = 0;  // AVG: the number of its hidden count column
  int countsFor = 0;       // hidden: the number of the AVG column it counts for
  // What a row stores: the item's expression, or for an aggregate its argument (null for
  // COUNT(*)). Nodes of the query's trees.
  const TExpToken* value = nullptr;
  // A plain column, or the plain column an aggregate is taken over.
  const TSourceTable* source = nullptr;
  int sourceField = 0;
  TResultField* item = nullptr;  // the select-list item; null for hidden columns
};

// A live result's column over the source cursor: a plain column reads the source field; a
// computed column (sourceField 0) is its expression, evaluated by EvaluateLiveColumn.
struct TLiveColumn {
  std::string name;
  int sourceField = 0;
  const TExpToken* expression = nullptr;
};

// Answers to the progress callback.
enum class TProgressAnswer { Continue, Stop };

class TSelectQuery {
 public:
  TSelectQuery(TQueryStatement& statement, TDataQuery& query);
  ~TSelectQuery();
  TSelectQuery(const TSelectQuery&) = delete;
  TSelectQuery& operator=(const TSelectQuery&) = delete;

  // Opens the sources, checks the query and, for a canned result, creates the empty result
  // table. The queries of a statement are prepared last created first, so sub-selects and
  // union members are ready when the query that uses them is prepared.
  void Prepare();
  // Runs the query and returns the result cursor standing before its first row. May be
  // called again; every execution starts from an empty result.
  TDataCursor* Execute();
  // Closes the cursors; a temporary result table is deleted, an INTO table kept.
  void Release();

  // ---- Rows handed over as they are built, for INSERT ... SELECT.
  // Whether the result rows can go straight to a consumer that writes table `target`, in
  // place of the result table: no sorting, grouping, DISTINCT, UNION, INTO or blob columns
  // come after the scan, and nothing the query reads (its source tables, sub-selects,
  // LASTAUTOINC and IDENT_CURRENT) can see rows written to the target while it runs.
  bool CanStreamInto(const TTableName& target) const;
  // Runs the query and hands each result row (an image in the result table's format, valid
  // during the call) to `onRow`, in the order a canned result would hold them; TOP, the
  // statement's row limit and the progress callback's stop end it as they end a canned run.
  // Returns the rows handed over.
  uint32_t Stream(const std::function<void(const uint8_t* row)>& onRow);

  // ---- Facts after preparation.
  bool Live() const { return live_; }
  TDataQuery& Query() const { return query_; }
  // Every result column, the hidden AVG count columns last.
  const std::vector<TResultColumn>& Columns() const { return columns_; }
  int VisibleColumnCount() const { return visibleCount_; }
  uint32_t QueryLocale() const { return locale_; }
  // A live result's columns over the source cursor.
  const std::vector<TLiveColumn>& LiveColumns() const { return liveColumns_; }
  // The value of a computed live column for a record image of the live cursor.
  TExpTokenPtr EvaluateLiveColumn(const TLiveColumn& column, const uint8_t* image);
  // The canned result table's directory and name.
  const std::string& ResultDirectory() const { return resultDirectory_; }
  const std::string& ResultTableName() const { return resultName_; }

  // The record format of a canned result's table (its rows' images).
  const TRecordFormat& ResultFormat() const;

  // ---- Facts after execution.
  TDataCursor* ResultCursor() const;
  // A column node for visible result column i (0-based), and its value in a record image of
  // the canned result cursor.
  TExpTokenPtr ResultColumnNode(int i) const;
  TExpTokenPtr ReadResultValue(const TExpToken& column, const uint8_t* image);
  uint32_t Rows() const { return rows_; }
  double Seconds() const { return seconds_; }

  // ---- This query as the sub-select of IN (SELECT ...).
  // Forgets the values of the last run: the outer query starts a new execution.
  void ForgetSubSelectValues() { subValuesReady_ = false; }
  // Whether the single result column holds a value equal to `value` under the `=` rule (NULL
  // equals NULL). The query runs once per execution of the outer query.
  bool SubSelectContains(const TExpToken& value);

 private:
  class THavingResolver;
  struct TRowPlan;

  // ---- Preparation (selectprepare.cpp).
  void ExpandStars();
  void CheckItems();
  void NameColumns();
  void CheckGrouping();
  // The visible column a name refers to: a plain column of that name (and correlation name,
  // when given) or a column whose final name it is; -1 when none.
  int FindColumn(std::string_view name, std::string_view correlation) const;
  // The result column a GROUP BY or ORDER BY item names (index into columns_).
  int ColumnOfReference(const TGroupByField& f, std::string_view clause, bool orderBy) const;
  void ResolveGroupAndOrder();
  void CheckHaving();
  void CheckWhere();
  void CheckUnionMembers();
  void DecideLive();
  void FindOrderIndex();
  void PlanRows();
  void CreateResultTable();
  TTableCreateParams ResultTableParams() const;

  // ---- Execution (selectexecute.cpp).
  TDataCursor* ExecuteLive();
  void ExecuteCanned();
  // The rows appended before the scan stops (-1: no limit): the statement's row limit, and TOP
  // when nothing sorts or folds the rows after the scan.
  void SetRowLimit();
  void ResetResultTable();
  void ChooseScanOrder();
  // The result rows of the scan, appended to the result table, or handed to `onRow` when given.
  void BuildRows(const std::function<void(const uint8_t* row)>* onRow = nullptr);
  void BuildGroupedRows(bool any);
  bool BuildFromIndexEnds();
  bool BuildSingleCount();
  // One result row from the sources' current rows.
  void BuildRow(uint8_t* row);
  void StoreValue(int fieldNo, uint8_t* row, const TExpToken& value);
  void AppendRow(uint8_t* row);
  // Adds the rows AppendRow gathered for a bulk append to the result table.
  void FlushGatheredRows();
  bool RowLimitReached() const;
  bool OnVisit(uint64_t visited, uint64_t total);
  void GroupResult();
  void DistinctResult(int32_t maxRows);
  void OrderResult();
  void AppendUnionMembers();
  void AppendRowsOf(TSelectQuery& member);
  void FillSubSelectValues();
  std::string SubSelectKey(const TExpToken& value) const;

  TQueryStatement& statement_;
  TDataQuery& query_;
  std::unique_ptr<TQuerySources> sources_;
  std::unique_ptr<TRowScan> scan_;
  uint32_t locale_ = 0;

  std::vector<TResultColumn> columns_;
  int visibleCount_ = 0;
  bool implicitGrouping_ = false;
  bool singleCountStar_ = false;
  bool distinct_ = false;
  bool hasBlobColumns_ = false;
  std::vector<int> groupColumns_;  // indexes into columns_
  struct TOrderColumn {
    int column = 0;  // index into columns_
    bool descending = false;
  };
  std::vector<TOrderColumn> orderColumns_;
  bool orderSatisfied_ = false;
  int orderIndexSlot_ = -1;  // an index of the first table whose order is the ORDER BY
  std::unique_ptr<THavingResolver> havingResolver_;

  bool live_ = false;
  std::vector<TLiveColumn> liveColumns_;

  // Canned result.
  std::unique_ptr<TDataDirectory> ownDirectory_;  // the private directory's object
  TDataDirectory* resultDirectoryObject_ = nullptr;
  std::string resultDirectory_;
  std::string resultName_;
  bool resultInMemory_ = false;
  bool temporaryResult_ = true;
  bool resultCreated_ = false;
  bool executedBefore_ = false;
  std::unique_ptr<TDataCursor> result_;
  std::unique_ptr<TRecordResolver> resultReader_;
  std::unique_ptr<TAggregator> aggregator_;
  std::vector<TRowPlan> plans_;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> group_;
  struct TPendingBlob {
    int fieldNo = 0;
    std::vector<uint8_t> bytes;
  };
  std::vector<TPendingBlob> pendingBlobs_;
  uint32_t appended_ = 0;
  // A temporary result without blobs takes its rows in runs (TDataCursor::AppendInBulk):
  // AppendRow gathers them here until the run is full or the rows are complete.
  bool gatherRows_ = false;
  std::vector<uint8_t> gathered_;
  int32_t rowLimit_ = -1;  // rows appended before the scan stops; -1: none

  uint32_t rows_ = 0;
  double seconds_ = 0;
  int lastProgress_ = 0;
  bool stopped_ = false;

  // Sub-select values of the current outer execution.
  bool subValuesReady_ = false;
  std::unordered_set<std::string> subKeys_;
  std::vector<std::string> subTexts_;  // strings under a locale, compared one by one
};

}  // namespace mt
