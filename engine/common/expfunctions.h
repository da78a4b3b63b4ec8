// The built-in functions and aggregates of the expression language as one table: the word
// that calls each function, how the parser reads its arguments, how many arguments its node
// holds, its type rule, its evaluation, the name messages and tree texts print, and what
// the statement does with its arguments besides evaluating them. The parser (expparser.cpp),
// the type checker, the evaluator and the filter preparation (expeval.cpp), the tree printer
// (exptoken.cpp) and the SQL engine (tables named by a call, calls that carry their own type)
// all read this table; the type rules and evaluations live beside it in expfunctions.cpp.
//
// Function codes whose call word is shared (TRIM LEADING, TRAILING and BOTH; the EXTRACT
// parts) have one row each; a keyword inside the parentheses chooses among them.
//
// The table is constant: reading it is thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/common/exptoken.h"

namespace mt {

namespace expdetail {
class TChecker;
class TEvaluator;
}  // namespace expdetail

// How the parser reads one argument.
enum class TArgForm : uint8_t {
  Additive,    // an additive-level expression
  Primary,     // a primary
  Expression,  // a full expression
  Condition,   // a full expression with the extended predicates allowed whatever the caller says
  DataType,    // an SQL type name, read into the function node itself (CAST)
  Mode,        // a keyword choosing the function code among the rows of the same word
  List,        // one or more additive expressions separated by commas
};

struct TArgSyntax {
  TArgForm form;
  std::string_view keyword;       // the word before the argument; empty for none
  bool commaForKeyword = false;   // a comma may stand for the keyword
  bool optional = false;          // without its keyword the argument is left out
  std::string_view missing = {};  // the message when the keyword, the mode or the list is
                                  // missing (a list's ends in " " and is completed with " in ")
};

// The message when the closing parenthesis is missing.
enum class TClosing : uint8_t {
  Argument,             // "Right parentheses expected after NAME function argument, ..."
  Arguments,            // "Right parentheses expected after NAME function arguments, ..."
  ExpressionArguments,  // "Expected right parentheses after NAME expression arguments, ..."
};

inline constexpr uint8_t kAnyNumberOfArguments = UINT8_MAX;

// What the statement does with a function's arguments besides evaluating them.
enum class TArgumentUse : uint8_t {
  Values,     // plain values: constant arguments are folded when a filter is prepared
  TextIndex,  // a search text and a column searched through its text index: left as written
  TableName,  // the name of a table the statement opens to read its last auto-increment value
};

struct TFunctionInfo {
  TOperator op;
  std::string_view name;         // the word that calls the function
  std::string_view mode;         // the keyword inside the parentheses choosing this row
  std::string_view printedName;  // messages and tree texts: "UPPER", "TRIM LEADING"
  bool aggregate;                // SUM, RUNSUM, COUNT, MIN, MAX, AVG: a grammar of their own
  std::span<const TArgSyntax> syntax;
  TClosing closing;
  uint8_t minArguments;  // the node's arguments after parsing (CAST: the value and up to two
  uint8_t maxArguments;  // type arguments)
  // Checks the arguments (through the checker) and fixes the node's type, size and scale.
  void (*typeRule)(expdetail::TChecker& checker, TExpToken& node);
  // The value for the evaluator's current row, as a new node.
  TExpTokenPtr (*evaluate)(expdetail::TEvaluator& evaluator, const TExpToken& node);
  TArgumentUse use;

  // Whether the parser reads a type name into the node itself (CAST): its type, size and
  // scale are then part of what the call says, not only the result of checking it.
  bool TypedByCall() const;
};

// Every row, the rows of one call word next to each other.
std::span<const TFunctionInfo> FunctionTable();
// The row of a function or aggregate code; nullptr for operators and predicates.
const TFunctionInfo* FunctionOf(TOperator op);
// Whether the node calls a function whose arguments are used that way.
bool CallsWithArguments(const TExpToken& node, TArgumentUse use);
// Whether the node calls a function that reads a type name into itself (TypedByCall).
bool IsTypedCall(const TExpToken& node);

}  // namespace mt
