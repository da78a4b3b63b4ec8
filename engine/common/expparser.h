// The lexer and expression parser: the one front end for SQL statement text and for table
// filter expressions.
//
// TExpressionParser keeps its own zero-terminated copy of the text (GBK bytes) and reads it
// token by token; the statement parser drives the same object through NextToken, the token
// tests and the grammar entry points. The parser checks syntax only: names and types are
// resolved later by the type checker. Every fault raises an engine error with the code the
// owner set (11949 for SQL, 10051 for filters); messages that end in " in " are completed
// with the context name.
//
// GBK: a lead byte 0x81-0xFE and its trail byte are read as one character everywhere (names,
// quoted strings, bracketed names, correlation names), so a trail byte such as `]` or `\`
// never ends or splits anything; texts handed to errors are cut on character boundaries.
//
// Thread-safety: a parser object is used by one thread at a time. Nodes come from the shared
// pool (exptoken.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/exptoken.h"

namespace mt {

class TExpressionParser;
struct TArgSyntax;
struct TFunctionInfo;

// A table name or correlation name reduced to its bare file name: no directory (up to the last
// "/" or backslash), no extension (from the last "."). Correlation names written before "." in an
// expression are reduced this way, and so are the default correlation names of tables.
std::string BareFileName(std::string_view name);

// Token classes NextToken returns. Any other value is a punctuation character's own code
// (`(` 40, `*` 42, `<` 60, `|` 124, ...).
namespace tokclass {
inline constexpr int kEnd = 0;
inline constexpr int kSymbol = 1;
inline constexpr int kBracketed = 2;
inline constexpr int kSingleQuoted = 3;
inline constexpr int kDoubleQuoted = 4;
inline constexpr int kCharCode = 5;
inline constexpr int kInteger = 6;
inline constexpr int kDecimal = 7;
}  // namespace tokclass

// What a caller allows in the expression it asks for (a bit set).
using TPermissions = unsigned;
namespace perm {
inline constexpr TPermissions kNone = 0;
inline constexpr TPermissions kAggregates = 1;   // SUM, RUNSUM, COUNT, MIN, MAX, AVG
inline constexpr TPermissions kAllColumns = 2;   // the `*` all-columns symbol
inline constexpr TPermissions kPredicates = 4;   // LIKE, BETWEEN, IN, IS NULL
inline constexpr TPermissions kParameters = 8;   // `?` parameters
inline constexpr TPermissions kSubSelects = 16;  // IN (SELECT ...)
}  // namespace perm

// The context names that complete messages ending in " in ".
namespace parsecontext {
inline constexpr std::string_view kSqlStatement = "SQL statement";
inline constexpr std::string_view kSourceColumn = "source column expression";
inline constexpr std::string_view kTableColumn = "table column";
inline constexpr std::string_view kValue = "value expression";
inline constexpr std::string_view kWhereOrJoin = "WHERE or JOIN clause";
inline constexpr std::string_view kHaving = "HAVING clause";
inline constexpr std::string_view kIndexColumn = "index column";
inline constexpr std::string_view kIndexName = "index name expression";
inline constexpr std::string_view kFilter = "filter expression";
}  // namespace parsecontext

// The object that owns a parser: a statement or a table cursor. The defaults suit a cursor.
class TExpressionOwner {
 public:
  virtual ~TExpressionOwner() = default;

  // Registers a parameter node, in order of appearance: `?`, or ":name" (the node's text is
  // then ":name"). The node stays owned by its tree.
  virtual void AddParameter(TExpToken& /*node*/) {}

  // Parses the SELECT of IN (SELECT ...): on entry the current token is SELECT, on return
  // the token after the sub-select. Fills node.subQuery and returns true, or returns false
  // when the owner has no sub-selects (the parser then reports them as not allowed).
  virtual bool ParseSubSelect(TExpressionParser& /*parser*/, TExpToken& /*node*/) { return false; }
};

class TExpressionParser {
 public:
  // Deepest nesting of parentheses, function calls and sub-selects, and the tallest tree the
  // parser builds; beyond either it raises "Expression is nested too deeply in " + context.
  static constexpr int kMaxNesting = 128;
  static constexpr uint32_t kMaxTreeHeight = 512;
  static constexpr std::size_t kMaxShortString = 255;

  explicit TExpressionParser(TExpressionOwner* owner = nullptr);
  virtual ~TExpressionParser();

  TExpressionParser(const TExpressionParser&) = delete;
  TExpressionParser& operator=(const TExpressionParser&) = delete;

  // ---- Settings made by the owner before parsing.
  void SetErrorCode(int32_t code) { errorCode_ = code; }
  int32_t ErrorCode() const { return errorCode_; }
  void SetTableName(std::string_view name);
  const std::string& TableName() const { return tableName_; }
  void SetIndexName(std::string_view name);
  const std::string& IndexName() const { return indexName_; }
  void SetContextName(std::string_view name);
  const std::string& ContextName() const { return contextName_; }
  // Filter settings in one step: code 10051, the table's name, context "filter expression".
  void SetFilterOwner(std::string_view tableName);

  // ---- Lexer.
  // Copies the text (up to its first zero byte), puts position and mark at its start and
  // clears the token class; call NextToken to read the first token.
  void SetText(std::string_view text);
  // Reads the next token and returns its class. At the end of the text it keeps returning
  // the end class.
  int NextToken();
  int TokenClass() const { return tokenClass_; }
  // The current token's text: delimiters of bracketed and quoted tokens removed, doubled
  // quote characters turned into one (only apostrophes in single-quoted strings, only
  // double quotes in double-quoted strings, both kinds in bracketed names).
  std::string TokenText() const;
  // True when the current token is a bare symbol equal to word, letter case ignored.
  bool IsKeyword(std::string_view word) const;
  bool IsClass(int tokenClass) const { return tokenClass_ == tokenClass; }
  bool IsNameOrString() const { return tokenClass_ >= 1 && tokenClass_ <= 4; }
  bool AtEnd() const { return tokenClass_ == tokclass::kEnd; }
  std::size_t TokenStart() const { return tokenStart_; }
  std::size_t TokenEnd() const { return tokenEnd_; }
  std::size_t Position() const { return position_; }
  // Remembers the current token's start; TextSinceMark gives the raw source from there to
  // the end of the previous token, CR and LF removed (names computed result columns).
  void SetMark() { mark_ = tokenStart_; }
  std::string TextSinceMark() const;

  // ---- Grammar. Each entry starts at the current token and leaves the parser on the first
  // token after what it read. The caller owns the returned tree.
  TExpTokenPtr ParseExpression(TPermissions permissions);  // the OR level
  TExpTokenPtr ParseAdditive(TPermissions permissions);
  TExpTokenPtr ParsePrimary(TPermissions permissions);
  // A whole text as one expression: ParseExpression, then anything but the end of the text
  // raises "Unknown or unexpected symbol '" + token + "' found in " + context. Table filters
  // are read this way.
  TExpTokenPtr ParseWholeExpression(TPermissions permissions);

  // Reads an SQL type name into node's type and subtype. size is the byte size for types of
  // fixed size (BCD 34, FLOAT 8, BLOB 0), the declared length for CHAR and BYTES types;
  // scale the given scale of DECIMAL and FLOAT. Arguments written in parentheses are
  // appended to node.arguments as parsed (integer constants also fill size, scale and the
  // BLOB subtype), so that type checking can report malformed ones. With optional set, a
  // token that names no type leaves everything untouched and gives false.
  bool ParseDataType(TExpToken& node, TPermissions permissions, bool optional);

  // ---- Raising faults with the owner's code and names. The text is cut to 255 bytes.
  [[noreturn]] void Raise(std::string_view message) const;
  // message + " in " + context.
  [[noreturn]] void RaiseIn(std::string_view message) const;
  // prefix + TokenText() + "'" + " in " + context (prefix ends in "instead found '").
  [[noreturn]] void RaiseExpected(std::string_view prefix) const;

 private:
  // RAII nesting counter for the recursive grammar entries.
  class TNestingGuard;

  char At(std::size_t i) const { return i < source_.size() ? source_[i] : '\0'; }
  unsigned char UAt(std::size_t i) const { return static_cast<unsigned char>(At(i)); }
  std::size_t CharLength(std::size_t i) const;  // 2 for a GBK pair, else 1
  void SkipBlanksAndComments();
  [[noreturn]] void RaiseUnterminated(std::string_view what, std::size_t from) const;

  TExpTokenPtr NewNode(TNodeKind kind, TOperator op, std::string_view text) const;
  void Adopt(TExpToken& parent, TExpTokenPtr& slot, TExpTokenPtr child) const;
  void AddArgument(TExpToken& parent, TExpTokenPtr child) const;
  TExpTokenPtr Binary(TOperator op, std::string_view text, TExpTokenPtr l, TExpTokenPtr r) const;
  TExpTokenPtr Unary(TOperator op, std::string_view text, TExpTokenPtr operand) const;

  TExpTokenPtr ParseOr(TPermissions p);
  TExpTokenPtr ParseAnd(TPermissions p);
  TExpTokenPtr ParseNot(TPermissions p);
  TExpTokenPtr ParsePredicate(TPermissions p);
  TExpTokenPtr ParseMultiplicative(TPermissions p);
  TExpTokenPtr ParseUnary(TPermissions p);
  TExpTokenPtr ParseInList(TExpTokenPtr tested, bool negated, TPermissions p);

  TExpTokenPtr ParseSymbolPrimary(TPermissions p);
  TExpTokenPtr ParseColumn(std::string name, TPermissions p);
  // Functions and aggregates as their row of the function table (expfunctions.h) says.
  TExpTokenPtr ParseAggregate(const TFunctionInfo& f, TPermissions p);
  TExpTokenPtr ParseFunction(const TFunctionInfo& f, TPermissions p);
  TOperator ParseFunctionMode(const TFunctionInfo& f, const TArgSyntax& a);
  TExpTokenPtr ParseNumber();
  TExpTokenPtr ParseCharCode();
  TExpTokenPtr ParseCurrent(std::string_view name);
  TExpTokenPtr ParseTypeArgument(TPermissions p);

  TExpressionOwner* owner_;
  int32_t errorCode_;
  std::string tableName_;
  std::string indexName_;
  std::string contextName_;

  std::string source_;
  std::size_t position_ = 0;
  std::size_t tokenStart_ = 0;
  std::size_t tokenEnd_ = 0;
  std::size_t previousEnd_ = 0;
  std::size_t mark_ = 0;
  int tokenClass_ = tokclass::kEnd;
  int nesting_ = 0;
};

}  // namespace mt
