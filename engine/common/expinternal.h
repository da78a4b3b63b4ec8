// Inside the expression machinery: the type classes and value access of expression nodes,
// and the type checker and evaluator as classes. expeval.cpp walks trees with them (operators,
// predicates, conversion, filter preparation); expfunctions.cpp gives the built-in functions
// their type rules and evaluations through them. Other code uses expeval.h.
//
// A checker or an evaluator serves one walk on one thread; the helpers are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/expeval.h"
#include "engine/common/exptoken.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"

namespace mt::expdetail {

// ---- Type classes

inline bool IsIntegral(uint16_t t) {
  return t == ftype::kSmallInt || t == ftype::kInteger || t == ftype::kWord ||
         t == ftype::kLargeInt;
}
inline bool IsNumeric(uint16_t t) {
  return IsIntegral(t) || t == ftype::kFloat || t == ftype::kBcd;
}
inline bool IsTemporal(uint16_t t) {
  return t == ftype::kDate || t == ftype::kTime || t == ftype::kTimestamp;
}
inline bool IsDateOrStamp(uint16_t t) {
  return t == ftype::kDate || t == ftype::kTimestamp;
}
inline bool IsString(const TExpToken& n) {
  return n.type == ftype::kString || (n.type == ftype::kBlob && n.subtype == fsubtype::kMemo);
}
// A string, a memo or a value of unknown type (NULL, a parameter).
inline bool IsStringOrUnknown(const TExpToken& n) {
  return IsString(n) || n.type == exptype::kUnknown;
}
inline bool IsOtherBlob(const TExpToken& n) {
  return n.type == ftype::kBlob && n.subtype != fsubtype::kMemo;
}

// The value size of the types whose size is fixed; 0 for the others.
int32_t FixedSize(uint16_t t);

inline void SetType(TExpToken& n, uint16_t type, uint16_t subtype = fsubtype::kNone,
                    int32_t scale = 0) {
  n.type = type;
  n.subtype = subtype;
  n.size = FixedSize(type);
  n.scale = scale;
}
// Takes over the type, subtype, size and scale of another node.
inline void CopyType(TExpToken& n, const TExpToken& from) {
  n.type = from.type;
  n.subtype = from.subtype;
  n.size = from.size;
  n.scale = from.scale;
}

inline bool IsTextConstant(const TExpToken& n) {
  return n.kind == TNodeKind::Constant && !n.isNull && !n.isParameter && n.type == ftype::kString;
}
inline bool IsIntegerConstant(const TExpToken& n) {
  return n.kind == TNodeKind::Constant && !n.isNull && !n.isParameter && IsIntegral(n.type);
}

// Whether `r` may stand on the right of `=` / `<>` with `l` on the left.
bool EqualityAccepts(const TExpToken& l, const TExpToken& r);

// A string constant read as a value of the type (literals.h) in place; false, leaving the
// node as it was, when its text is no such value.
bool ReadConstant(TExpToken& n, uint16_t type);

// How messages name a node ("column", "constant", "function", "expression") and quote it.
std::string Kind(const TExpToken& n);
std::string NodeText(const TExpToken& n);

// ---- Value access

template <typename T>
void Put(TExpToken& n, T v) {
  std::memcpy(n.value.Data(), &v, sizeof v);
  n.isNull = false;
}

inline TBcd GetBcd(const TExpToken& n) {
  TBcd b{};
  std::memcpy(b.data(), n.value.Data(), kBcdSize);
  return b;
}
inline void PutBcd(TExpToken& n, const TBcd& b) {
  std::memcpy(n.value.Data(), b.data(), kBcdSize);
  n.isNull = false;
}

// Any integral, BOOLEAN, DATE, TIME or number as a 64-bit integer (floats truncated toward
// zero, 0 when out of range).
int64_t AsInt64(const TExpToken& n);
double AsDouble(const TExpToken& n);
// A DATE or TIMESTAMP as milliseconds since the start of day 0.
inline double AsTimestamp(const TExpToken& n) {
  if (n.type == ftype::kDate) return static_cast<double>(n.Int32Value()) * kMsPerDay;
  return n.DoubleValue();
}
// Stores an integer in the node's own integer type (the type is already set).
void PutInteger(TExpToken& n, int64_t v);
// Strings and memos as text; an empty string is NULL.
void PutText(TExpToken& n, std::string_view s);

// ---- GBK characters: byte offsets of each character start, and the character at one.
std::vector<std::size_t> CharStarts(std::string_view s);
std::string_view CharAt(std::string_view s, const std::vector<std::size_t>& starts, std::size_t i);

// ---- The type checker

class TChecker {
 public:
  TChecker(const TTypeCheckOptions& o, TExpressionResolver& r) : o_(o), r_(r) {}

  void Root(TExpTokenPtr& tree);

  // What the type rules of the built-in functions use.
  // Checks argument i of a function: as a condition (bare BOOLEAN columns become
  // comparisons), and with string literals taken as column names where `names` is set.
  void Argument(TExpToken& function, std::size_t i, bool condition, bool names) {
    Child(function, function.arguments[i], condition, names);
  }
  // Raises with the owner's code and table; the text is cut to 255 bytes.
  [[noreturn]] void Fail(const std::string& message) const;
  // message + context.
  [[noreturn]] void FailIn(const std::string& message) const { Fail(message + o_.context); }
  const std::string& Context() const { return o_.context; }
  // A string constant the resolver knows as a column name becomes that column.
  void NameColumn(TExpToken& n);
  void CheckColumn(TExpToken& n);

 private:
  void ParseTemporal(TExpToken& n, uint16_t type);
  void MeetTemporal(TExpToken& tested, TExpToken& value);
  void WrapBareBoolean(TExpTokenPtr& slot);
  void Child(TExpToken& parent, TExpTokenPtr& slot, bool condition, bool names);
  void Check(TExpTokenPtr& slot, bool condition, bool names);
  void CheckUnary(TExpToken& n);
  void CheckBinary(TExpToken& n);
  [[noreturn]] void PredicateMismatch(const TExpToken& n, const TExpToken& operand) const;
  void CheckPredicate(TExpToken& n);
  void CheckFunction(TExpToken& n);

  const TTypeCheckOptions& o_;
  TExpressionResolver& r_;
};

// ---- The evaluator

class TEvaluator {
 public:
  TEvaluator(TExpressionResolver& r, uint32_t locale) : r_(r), locale_(locale) {}

  // The value of a node for the current row, as a new node.
  TExpTokenPtr Eval(const TExpToken& n);
  // Whether a condition holds, computed without value nodes where the node is a condition
  // operator, comparison or predicate.
  bool Condition(const TExpToken& n);

  // New value nodes: of the node's type with no value yet, NULL of the node's type, a
  // BOOLEAN, and a copy of the value the node holds (constants, aggregates).
  TExpTokenPtr Typed(const TExpToken& n);
  TExpTokenPtr Null(const TExpToken& n);
  TExpTokenPtr Bool(bool b);
  TExpTokenPtr Held(const TExpToken& n);

  TExpressionResolver& Resolver() { return r_; }

  // Whether comparison node n holds for these operand values.
  bool Compared(const TExpToken& n, const TExpToken& l, const TExpToken& r);

 private:
  // An operand's value: a constant is read in place, anything else is evaluated into `owned`.
  const TExpToken& Operand(const TExpToken& n, TExpTokenPtr& owned) {
    if (n.kind == TNodeKind::Constant) return n;
    owned = Eval(n);
    return *owned;
  }

  int Compare(const TExpToken& a, const TExpToken& b, bool ignoreCase = false);
  bool Equal(const TExpToken& a, const TExpToken& b, bool ignoreCase = false);
  bool Prefix(const TExpToken& n);
  bool Comparison(const TExpToken& n);
  bool Ordered(TOperator op, const TExpToken& a, const TExpToken& b);
  TExpTokenPtr Binary(const TExpToken& n);
  TExpTokenPtr Arithmetic(const TExpToken& n, const TExpToken& l, const TExpToken& r);
  bool Predicate(const TExpToken& n);
  TExpTokenPtr Function(const TExpToken& n);

  TExpressionResolver& r_;
  uint32_t locale_;
};

}  // namespace mt::expdetail
