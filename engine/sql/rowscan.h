// TRowScan: the qualifying combined rows of a query's source tables, one after another, as
// the WHERE tree (with every ON condition in it) selects them. SELECT builds its result rows
// from them; the changing statements find their rows the same way.
//
// Conjuncts. The checked WHERE tree is split at its AND operators into conjuncts; each knows
// the tables it reads and whether it came from the ON condition of an outer join. Where a
// conjunct is evaluated:
//   - without tables: once per execution, before any row is read; FALSE means no row;
//   - from the ON of an outer join: at the join's inner table, deciding which of its rows
//     match (a row of the outer table without any match gets the inner table's NULL row);
//   - a WHERE conjunct reading the inner table of an outer join: on each row that table
//     produces, its NULL row included, after the matching;
//   - one table only: as a filter on that table's cursor when the table's indexes answer it
//     (all such conjuncts of a table form one filter, so that a lower and an upper bound make
//     one key range), else row by row at that table (the first table), or as a filter
//     evaluated once per execution (a joined table read for every outer row);
//   - several tables: row by row at the table joined last among them. An equality between a
//     column of the joined table and an expression over tables joined before it, with an
//     index whose first field is that column, limits the joined table to that key for each
//     outer row (the conjunct is still checked on each row).
// A filter never serves a conjunct that holds a sub-select or LASTAUTOINC, or one comparing
// strings when the table's locale is not the query's.
//
// Joins. Rows come from nested loops: for each row of the first table, the rows of the table
// joined next that match, and so on; the deepest table advances first. The first table is the
// first source table; unless NOJOINOPTIMIZE was given the others follow in an order that
// joins, at each step, a table reachable through an index key from the ones before (then one
// linked by any condition, then FROM order); the inner table of an outer join always comes
// after its outer table and the tables its ON condition reads.
//
// Thread-safety: used by the one thread that runs the statement.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/common/exptoken.h"

namespace mt {

class TDataQuery;
class TQuerySources;
struct TSourceRow;

class TRowScan {
 public:
  // Called for every row of the first table read, with the rows read so far and the rows the
  // first table offers; false stops the scan (Next then returns false).
  using TVisitCallback = std::function<bool(uint64_t visited, uint64_t total)>;

  TRowScan(TDataQuery& query, TQuerySources& sources, uint32_t locale);
  ~TRowScan();
  TRowScan(const TRowScan&) = delete;
  TRowScan& operator=(const TRowScan&) = delete;

  // At preparation, after the WHERE tree was checked and the cursors opened: the conjuncts,
  // the join-condition rules and the order in which the tables are joined.
  void Plan();

  // Whether every conjunct could be a filter on the query's only table (live results and the
  // single COUNT(*) shape need that).
  bool EveryConjunctFilterable() const;
  // Puts every conjunct (one table) on the cursor as one filter; false when a conjunct without
  // tables is FALSE (no row qualifies). The filter stays until Finish.
  bool FilterEverything();

  // Begins an execution: conjuncts without tables are evaluated, filters put on the cursors,
  // and the first table stands before its first row. False when no row can qualify.
  bool Start(TVisitCallback visit = {});
  // The next qualifying combined row: each source row's image holds its table's record (or
  // the table has no row: the NULL row of an outer join). False at the end.
  bool Next();
  // Takes the filters and key ranges off the cursors.
  void Finish();
  // The first table's rows are read in runs, each run under one read lock (TRecordScan), in
  // the cursor's order. Only for statements that do not act on the first table's current row
  // (SELECT): the cursor does not stand on the row handed out.
  void ReadFirstInRuns() { readFirstInRuns_ = true; }
  // The changing statements change each row of the first table once: the next Next moves the
  // first table on, skipping the other tables' rows for the current one. With currentIsNext
  // the first table's cursor already stands on the row to read next (the current row was
  // deleted), and Next reads that row instead of moving past it.
  void LeaveFirstRow(bool currentIsNext);

  // The first table's source row.
  TSourceRow& FirstRow();

 private:
  struct TConjunct;
  struct TLevel;

  void Split(TExpToken* node, int onJoin);
  void CheckJoinOperands(const TConjunct& c) const;
  void OrderTables();
  // Lookup: an equality of a column of table t with an expression over the placed tables.
  bool FindLookup(const TConjunct& c, int table, const std::vector<bool>& placed, int& field,
                  const TExpToken** outer, int& slot) const;
  void PlaceConjuncts();
  bool Filterable(const TConjunct& c, int table) const;
  bool InstallFilter(TLevel& level, const std::vector<TConjunct*>& conjuncts);
  bool Passes(const std::vector<TConjunct*>& conjuncts);
  void OpenLevel(std::size_t k);
  void DropRuns(TLevel& level);
  bool Advance(std::size_t k);

  TDataQuery& query_;
  TQuerySources& sources_;
  uint32_t locale_;
  std::vector<std::unique_ptr<TConjunct>> conjuncts_;
  std::vector<int> optionalJoin_;  // by FROM index: the outer join whose inner table it is, -1
  std::vector<int> order_;         // FROM indexes in join order
  std::vector<std::unique_ptr<TLevel>> levels_;
  std::vector<TConjunct*> constants_;
  TVisitCallback visit_;
  uint64_t visited_ = 0;
  uint64_t total_ = 0;
  bool started_ = false;
  bool done_ = false;
  bool leaveFirst_ = false;
  bool rereadFirst_ = false;
  bool filteredEverything_ = false;
  bool readFirstInRuns_ = false;
  int everythingFilter_ = 0;
};

}  // namespace mt
