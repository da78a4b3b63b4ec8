// The items a parsed SQL statement is made of: statement kinds, table names, source tables and
// their joins, select-list items, GROUP BY and ORDER BY items, INSERT/UPDATE targets and
// values, and the column and index definitions of data definition statements.
//
// These are plain parse results with public fields; TDataQuery (dataquery.h) holds them. The
// statement parser fills them and execution reads them (and adds what it resolves, such as a
// source table's cursor). Expression trees are owned through TExpTokenPtr; every other link
// between items (a join's tables, a join's condition) is a plain pointer into the same query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/debugcheck.h"
#include "engine/common/exptoken.h"

namespace mt {

class TDataCursor;

// A name as names compare (tables, correlation names, columns): letter case ignored, two-byte
// characters unchanged.
std::string NameKey(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// Statement kinds with their codes.
enum class TStatementKind : uint8_t {
  Unknown = 0,
  Select = 1,
  Insert = 2,
  Update = 3,
  Delete = 4,
  CreateTable = 5,
  AlterTable = 6,
  DropTable = 7,
  CreateIndex = 8,
  DropIndex = 9,
  StartTransaction = 10,
  Rollback = 11,
  Commit = 12,
};

// "SELECT", "CREATE TABLE", ... as the end-of-statement message names the kind; "UNKNOWN"
// for any other code.
std::string_view StatementKindName(TStatementKind kind);

// A table as a statement names it: [MEMORY] name [\ name ...]. The parts written with a
// backslash between them form a path ("data\szzb" is "data/szzb"), and so does a quoted name
// holding "/".
struct TTableName {
  bool inMemory = false;  // MEMORY: the table lives in the in-memory database
  std::string directory;  // the path up to and including its last "/"; empty: the database's
  std::string fileName;   // the last part as written (an extension such as ".dat" kept)
  std::string name;       // fileName without extension: the table name, default correlation

  // directory + fileName: what the table is opened by.
  std::string Path() const { return directory + fileName; }
};

// One table of a FROM list (or the target of INSERT, UPDATE, DELETE and the data definition
// statements). Expression nodes that refer to its columns point at it (columnSource).
class TSourceTable : public TExpColumnSource {
 public:
  TSourceTable();
  ~TSourceTable() override;

  TTableName table;
  std::string correlationName;  // as written after AS or bare, else table.name
  int position = 0;             // place in the FROM list, 1, 2, ... (after RIGHT JOIN moves)
  // The open cursor on the table while the statement is prepared (execution opens it).
  std::unique_ptr<TDataCursor> cursor;
};

// The source table a column node was resolved to; nullptr when none. Every column source the
// statement's source tables resolve is one of them; debug builds check it (HAVING binds its
// columns to the result instead, and those nodes must never reach here).
inline const TSourceTable* SourceTableOf(const TExpToken& column) {
  MT_ASSERT(column.columnSource == nullptr ||
            dynamic_cast<const TSourceTable*>(column.columnSource) != nullptr);
  return static_cast<const TSourceTable*>(column.columnSource);
}

enum class TJoinType : uint8_t { Inner = 1, LeftOuter = 2, RightOuter = 3 };

// A JOIN ... ON written after a source table. For RIGHT OUTER the joined table is the one
// whose rows are all kept; in a SELECT the parser has moved it to the front of the source
// list. In UPDATE and DELETE the changed table stays first and a RIGHT OUTER table stays where
// it was written: only rows of the changed table can be changed.
struct TTableJoin {
  TJoinType type = TJoinType::Inner;
  TSourceTable* left = nullptr;   // the table written before JOIN (the last one of its chain)
  TSourceTable* right = nullptr;  // the table written after JOIN
  // The ON condition. Not owned: the condition is ANDed into the query's WHERE tree, which
  // owns it; the pointer stays valid while that tree is not rebuilt.
  const TExpToken* condition = nullptr;
};

// Aggregate kinds of select-list items.
enum class TAggregateKind : uint8_t {
  None = 0,
  Sum = 1,
  RunSum = 2,
  Min = 3,
  Max = 4,
  Avg = 5,
  Count = 6,
};

// The aggregate kind of an operator code; None for anything that is no aggregate.
TAggregateKind AggregateKindOf(TOperator op);

// One item of a select list.
struct TResultField {
  TExpTokenPtr expression;
  std::string alias;          // AS alias or bare alias; empty when none was written
  bool automaticName = true;  // no alias: execution names the column
  TAggregateKind aggregate = TAggregateKind::None;  // the item is this aggregate
  // Neither a plain column nor an aggregate over a plain column. Such an item keeps its
  // source text (CR and LF removed) for naming.
  bool computed = false;
  std::string sourceText;
  // A plain column, or the plain column an aggregate is taken over ("*" for `*`, `t.*` and
  // COUNT(*)): its name and correlation name. Empty for computed items.
  std::string columnName;
  std::string correlationName;
};

// A GROUP BY item: a column name (with an optional correlation name) or a column number.
struct TGroupByField {
  std::string columnName;
  std::string correlationName;
  bool byNumber = false;
  int64_t columnNumber = 0;  // 1-based as written when byNumber
};

// An ORDER BY item: as a GROUP BY item, and its direction.
struct TOrderByField : TGroupByField {
  bool descending = false;
};

// A target column of INSERT or UPDATE.
struct TUpdateField {
  std::string columnName;
  std::string correlationName;
  std::string sourceText;  // the target as written
};

// The value of one INSERT or UPDATE target, in the same order as the targets.
struct TUpdateValue {
  TExpTokenPtr expression;
};

// Case conversion of stored strings, CHARCASE: the storage engine's case modes.
enum class TCharCase : uint8_t { NoChange = 0, Lower = 1, Upper = 2 };

// One column definition of CREATE TABLE, or of ADD and REDEFINE in ALTER TABLE.
struct TCreateField {
  int number = 0;  // position among the query's column definitions, 1-based
  std::string name;
  uint16_t type = 0;  // field type, subtype, size and scale from the SQL type name
  uint16_t subtype = 0;
  int32_t size = 0;
  int32_t scale = 0;
  std::string description;
  bool required = false;  // NOT NULL
  // The texts of DEFAULT, MIN/MINIMUM and MAX/MAXIMUM as the storage engine reads them
  // (quotes removed, a sign kept); empty when not given.
  std::string defaultText;
  std::string minText;
  std::string maxText;
  TCharCase charCase = TCharCase::NoChange;
};

// Index key compression, as the index file stores it.
enum class TIndexCompression : uint8_t { None = 0, DupByte = 1, TrailByte = 2, Full = 3 };

struct TIndexColumn {
  std::string name;
  bool descending = false;  // DESC after the column
  bool noCase = false;      // NOCASE after the column
};

// An index definition: PRIMARY KEY, CREATE INDEX, or a primary key clause of ALTER TABLE.
struct TCreateIndex {
  bool primary = false;
  std::string name;  // the index name; the constraint name of a primary key
  std::vector<TIndexColumn> columns;
  bool unique = false;
  bool descending = false;       // DESC/DESCENDING before INDEX: every column descending
  bool caseInsensitive = false;  // NOCASE before INDEX
  TIndexCompression compression = TIndexCompression::None;
};

// One change of ALTER TABLE, in statement order.
enum class TAlterKind : uint8_t {
  AddColumn,
  RedefineColumn,
  DropColumn,
  AddPrimaryKey,
  RedefinePrimaryKey,
  DropPrimaryKey,
};

struct TAlterAction {
  TAlterKind kind = TAlterKind::AddColumn;
  std::string columnName;         // REDEFINE and DROP: the existing column
  TCreateField* field = nullptr;  // ADD and REDEFINE: the new definition (the query owns it)
  int32_t position = 0;           // ADD ... AT n; 0 when not given
  bool hasPosition = false;
  TCreateIndex* index = nullptr;  // ADD and REDEFINE PRIMARY KEY (the query owns it)
  std::string constraintName;     // DROP [CONSTRAINT name] PRIMARY KEY
};

// LANGUAGE ... SORT ...: a locale of the storage engine's list and one of its sort orders.
struct TLocaleChoice {
  bool given = false;
  uint16_t languageId = 0;
  uint16_t sortOrderId = 0;
};

// The table options of CREATE TABLE and ALTER TABLE. Options not written keep "not given", so
// that ALTER TABLE can keep the table's own values.
struct TTableOptions {
  bool hasDescription = false;
  std::string description;
  std::vector<TIndexColumn> textIndexColumns;  // TEXT INDEX (columns)
  bool hasTextIndex = false;
  bool hasStopWords = false;
  std::string stopWords;
  bool hasSpaceChars = false;
  std::string spaceChars;
  bool hasIncludeChars = false;
  std::string includeChars;
  bool hasBlobBlockSize = false;
  int32_t blobBlockSize = 0;
  bool hasUserMajor = false;
  int32_t userMajor = 0;
  bool hasUserMinor = false;
  int32_t userMinor = 0;
  bool hasLastAutoInc = false;
  int32_t lastAutoInc = 0;
  bool noBackup = false;
};

}  // namespace mt
