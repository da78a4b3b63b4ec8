// Type checking, conversion and evaluation of expression trees (TExpToken, exptoken.h).
//
// TypeCheck walks a parsed tree once, bottom-up: it resolves column names through the
// owner, checks operand types, fixes every node's result type and size and turns string
// constants that meet DATE, TIME or TIMESTAMP values into values of that type. Evaluate then
// computes a node's value for the owner's current row as a new pool node; it never changes
// the tree, so several threads may evaluate different trees at once.
//
// NULL rules: `=` and `<>` treat NULL as a value (NULL = NULL is TRUE), conditions never
// yield NULL (a NULL condition counts as FALSE), arithmetic with a NULL operand and division
// by zero give NULL. AND and OR evaluate their right operand first and skip the left one when
// the right already decides.
//
// String comparison and case mapping follow the query locale (localetext.h): locale 0 by
// unsigned bytes with ASCII upper-casing for the case-insensitive form, other locales by ICU
// collation. Letter case only changes for ASCII letters; GBK characters are never split.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/exptoken.h"
#include "engine/common/literals.h"  // the literal formats of ValueToText and Convert

namespace mt {

// What the owner of a tree (a statement or a cursor) provides to the checker and evaluator.
class TExpressionResolver {
 public:
  virtual ~TExpressionResolver() = default;

  // Finds the column of a column node (node.correlationName, node.columnName, letter case
  // ignored) and fills in columnNumber, type, subtype, size, scale and columnSource; false
  // when there is no such column.
  virtual bool ResolveColumn(TExpToken& node) = 0;

  // Puts the current value of a resolved column into `into` (value bytes, isNull; type,
  // size and scale are already copied from the column node). False when no row can be read:
  // the evaluator then raises the illegal-column message.
  virtual bool ReadColumn(const TExpToken& column, TExpToken& into) = 0;

  // IN (SELECT ...): during type checking, the type, size and scale of the sub-select's
  // single column are put into the sub-select node; false when it has more than one column.
  virtual bool CheckSubSelect(TExpToken& /*subSelect*/) { return false; }
  // During evaluation: whether the sub-select returns a row whose column equals the value.
  virtual bool SubSelectContains(const TExpToken& /*subSelect*/, const TExpToken& /*value*/) {
    return false;
  }

  // Full-text search of the current row's column; FALSE / 0 when it belongs to no open table.
  virtual bool TextSearch(const TExpToken& /*column*/, std::string_view /*words*/) { return false; }
  virtual int32_t TextOccurs(const TExpToken& /*column*/, std::string_view /*words*/) { return 0; }
  // The last auto-increment value of the named open table; 0 when it is not open.
  virtual int32_t LastAutoInc(std::string_view /*tableName*/) { return 0; }
};

struct TTypeCheckOptions {
  int32_t errorCode = 0;   // 11949 for SQL clauses, 10051 for table filters
  std::string tableName;   // named in the raised error
  std::string context;     // "WHERE or JOIN clause", "filter expression", ...
  bool condition = false;  // the tree must be a boolean expression
  bool literalNamesColumns = false;
  bool bareBooleanColumns = false;
};

// Checks and types the tree in place; raises on the first fault. The root pointer may be
// replaced (a bare BOOLEAN column becomes `column = TRUE`).
void TypeCheck(TExpTokenPtr& tree, const TTypeCheckOptions& options, TExpressionResolver& resolver);

// The value of a checked tree for the resolver's current row, as a new node from the pool.
TExpTokenPtr Evaluate(const TExpToken& tree, TExpressionResolver& resolver, uint32_t locale);

// Whether a checked condition holds for the resolver's current row (NULL counts as FALSE).
bool EvaluateCondition(const TExpToken& tree, TExpressionResolver& resolver, uint32_t locale);

// A checked condition tested on row after row. A comparison of a column with a constant reads
// the column into a value node kept between rows (no node per row); any other condition is
// evaluated as EvaluateCondition does. The tree must outlive this object; a constant's value
// (a bound parameter) is read at each test. Not thread-safe: one scan at a time.
class TRowCondition {
 public:
  explicit TRowCondition(const TExpToken& tree);
  bool Holds(TExpressionResolver& resolver, uint32_t locale);

 private:
  const TExpToken& tree_;
  const TExpToken* column_ = nullptr;  // the column operand of `column op constant`
  bool columnLeft_ = true;
  TExpTokenPtr scratch_;  // the column's value for the current row
};

// A copy of a checked filter tree ready for the storage engine: constant operands of
// comparisons, function arguments, IN values and LIKE patterns are evaluated once (and
// converted to the other side's type where that is exact); with caseInsensitive, `=` and
// `<>` between a string column and a string constant ignore letter case; with
// partialCompare, such a comparison whose constant ends in `*` characters (and has no other
// `*`) becomes a prefix comparison (kind PartialCompare, op `=` or `<>`, left the column,
// right the prefix). `column LIKE 'text%'` with no other wildcard becomes a prefix
// comparison too (ignoring letter case under locale 0, as the LIKE matcher does).
TExpTokenPtr PrepareFilter(const TExpToken& tree, TExpressionResolver& owner, bool partialCompare,
                           bool caseInsensitive, uint32_t locale);

// Converts a value to the type, size and scale given in `to` (its value bytes and null mark
// are overwritten). Strings become dates, times, timestamps, booleans and numbers through
// ReadLiteral (literals.h), without the CURRENT_ keywords. A value that does not convert
// leaves the target type's zero value (0, FALSE, 30 December 1899 for DATE and TIMESTAMP)
// and gives false; NULL stays NULL.
bool Convert(const TExpToken& from, TExpToken& to);

// LIKE matching: `%` any run of characters, `_` one character, no escape. Characters are GBK
// characters; under locale 0 letters compare upper-cased, other locales by their collation.
bool LikeMatch(std::string_view text, std::string_view pattern, uint32_t locale);

// The value as text in the literal formats (24-hour times, `.` decimal separator).
std::string ValueToText(const TExpToken& value);

}  // namespace mt
