// The built-in functions and aggregates of the expression language as one table: the word
// that calls each function, how the parser reads its arguments, how many arguments its node
// holds, its type rule, its evaluation, and the name messages and tree texts print. The
// parser (expparser.cpp), the type checker and the evaluator (expeval.cpp) and the tree
// printer (exptoken.cpp) all read this table; the type rules and evaluations live beside it
// in expfunctions.cpp.
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
};

// Every row, the rows of one call word next to each other.
std::span<const TFunctionInfo> FunctionTable();
// The row of a function or aggregate code; nullptr for operators and predicates.
const TFunctionInfo* FunctionOf(TOperator op);

}  // namespace mt
