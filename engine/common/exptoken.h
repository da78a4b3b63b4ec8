// Expression tree nodes (TExpToken) and the process-wide node pool (TExpTokenStack).
//
// Every expression the engine reads, a whole SQL clause or a table filter, becomes a tree of
// TExpToken nodes. A tree owns its operands through TExpTokenPtr, a unique_ptr whose deleter
// hands the whole tree back to the pool; nothing else frees nodes. Links that do not own
// (parent, the resolved source table, the sub-query of an IN (SELECT ...)) are plain pointers
// to objects whose lifetime the statement or cursor manages.
//
// Thread-safety: the pool is guarded by a mutex held only while nodes are taken or returned.
// A tree itself is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/fieldtypecodes.h"

namespace mt {

class TExpToken;

// What the owner of a tree hangs on its nodes. The expression layer only carries these
// pointers and never looks behind them; the SQL engine derives its own classes from them
// (a SELECT's source table, a parsed sub-select) and casts back where it reads them.
class TExpColumnSource {
 public:
  virtual ~TExpColumnSource() = default;
};
class TExpSubQuery {
 public:
  virtual ~TExpSubQuery() = default;
};

// Returns a node and everything below it to the pool.
struct TExpTokenRelease {
  void operator()(TExpToken* node) const noexcept;
};
using TExpTokenPtr = std::unique_ptr<TExpToken, TExpTokenRelease>;

// Node kinds.
enum class TNodeKind : uint8_t {
  None = 0,
  Unary = 1,
  Binary = 2,
  PartialCompare = 3,  // made only when a filter is prepared
  Column = 4,          // a column reference, or `*`
  Constant = 5,        // a constant, NULL or a `?` parameter
  SubSelect = 6,       // the query of IN (SELECT ...)
  Function = 10,       // a function or an aggregate
  Predicate = 12,      // LIKE, BETWEEN, IN
};

// Operator, function, aggregate and predicate codes.
enum class TOperator : uint8_t {
  None = 0,
  Equal = 3,     // also IS NULL
  NotEqual = 4,  // also IS NOT NULL
  Greater = 5,
  Less = 6,
  GreaterEqual = 7,
  LessEqual = 8,
  Not = 9,
  And = 10,
  Or = 11,
  Negate = 15,  // unary -
  Plus = 16,    // unary +
  Add = 17,     // + and ||
  Subtract = 18,
  Multiply = 19,
  Divide = 20,
  Sum = 23,
  RunSum = 24,
  Count = 25,
  Min = 26,
  Max = 27,
  Avg = 28,
  Like = 32,
  InList = 33,
  InSelect = 34,
  Upper = 36,
  Lower = 37,
  Between = 41,
  NotBetween = 42,
  NotLike = 43,
  NotInList = 44,
  NotInSelect = 45,
  Substring = 46,
  Replace = 47,
  Pos = 48,
  Occurs = 49,
  TrimLeading = 50,
  TrimTrailing = 51,
  TrimBoth = 52,
  Length = 53,
  Cast = 54,
  ExtractYear = 55,
  ExtractMonth = 56,
  ExtractWeek = 57,
  ExtractDay = 58,
  ExtractDayOfWeek = 59,
  ExtractDayOfYear = 60,
  ExtractHour = 61,
  ExtractMinute = 62,
  ExtractSecond = 63,
  If = 64,
  Coalesce = 65,
  IfNull = 66,
  Abs = 67,
  Round = 68,
  TextSearch = 69,
  TextOccurs = 70,
  LastAutoInc = 71,
  IdentCurrent = 72,
};

// `=`, `<>`, `>`, `<`, `>=` and `<=`.
inline bool IsComparison(TOperator op) {
  return op >= TOperator::Equal && op <= TOperator::LessEqual;
}

// The canonical name of an operator as messages write it: "=", "<>", "NOT", "+", "NOT LIKE";
// for functions and aggregates the printed name of their row of the function table
// (expfunctions.h): "SUM", "TRIM LEADING", "EXTRACT YEAR", ...; empty for None.
std::string_view OperatorName(TOperator op);

// Engine field type and subtype codes as expression nodes carry them.
namespace exptype {
// The type of a node whose type is not known yet: NULL and unbound parameters. Every other
// type is a field type code (ftype, fsubtype in fieldtypecodes.h).
inline constexpr uint16_t kUnknown = 0;
}  // namespace exptype

// The value bytes of a node in the engine's field encoding (little-endian). The buffer is at
// least kMinSize bytes, always a multiple of kBlock bytes, and zero-filled when it grows.
class TValueBuffer {
 public:
  static constexpr std::size_t kBlock = 256;
  static constexpr std::size_t kMinSize = kBlock;

  TValueBuffer() : bytes_(kMinSize, 0) {}

  uint8_t* Data() noexcept { return bytes_.data(); }
  const uint8_t* Data() const noexcept { return bytes_.data(); }
  std::size_t Capacity() const noexcept { return bytes_.size(); }

  // Makes room for n bytes; bytes already there keep their values.
  void Reserve(std::size_t n);
  // Back to kMinSize zero bytes; a grown buffer is given up and allocated anew.
  void Reset();

 private:
  std::vector<uint8_t> bytes_;
};

// One node of an expression tree. The fields are public: the parser, the type checker, the
// evaluator and the statement executor all fill and read them.
class TExpToken {
 public:
  TExpToken() = default;
  TExpToken(const TExpToken&) = delete;
  TExpToken& operator=(const TExpToken&) = delete;
  ~TExpToken() = default;

  std::string text;  // operator symbol, function or keyword name, constant text, column name
  TNodeKind kind = TNodeKind::None;
  TOperator op = TOperator::None;
  std::string columnName;                    // kind Column: the referenced column, or "*"
  uint16_t columnNumber = 0;                 // field number, set by the type checker
  std::string correlationName;               // table correlation name, bare file name only
  TExpColumnSource* columnSource = nullptr;  // kind Column: set by the resolver, not owned
  TExpSubQuery* subQuery = nullptr;          // kind SubSelect: owned by the statement

  TValueBuffer value;
  bool isNull = false;
  bool isParameter = false;
  uint16_t type = exptype::kUnknown;
  uint16_t subtype = fsubtype::kNone;
  int32_t size = 0;  // value size in bytes (strings: length + 1)
  int32_t scale = 0;

  // A constant's own typing, kept when a string constant is taken as a column name.
  uint16_t savedType = 0;
  uint16_t savedSubtype = 0;
  int32_t savedSize = 0;
  int32_t savedScale = 0;
  bool wasConstant = false;

  // Set by filter preparation on `=`, `<>` and prefix comparisons of strings that compare
  // without regard to letter case.
  bool ignoreCase = false;

  TExpTokenPtr left;                    // operand of unary operators, left operand of binary ones
  TExpTokenPtr right;                   // right operand of binary operators
  std::vector<TExpTokenPtr> arguments;  // operands of functions and predicates, in order
  TExpToken* parent = nullptr;          // set during type checking

  // Height of the tree below and including this node (1 for a leaf), kept by the parser so
  // that trees stay shallow enough for the recursive walks over them.
  uint32_t height = 1;

  // Puts every field back to its initial state.
  void Clear();

  // Typed value access. Each setter stores the value bytes, type and size and clears the
  // null mark; the getters read the bytes whatever the type says.
  void SetNull();                      // NULL constant: null mark, no type
  void SetString(std::string_view s);  // type string, size length + 1
  void SetBoolean(bool b);
  void SetInteger(int32_t v);
  void SetLargeInt(int64_t v);
  void SetFloat(double v);
  void SetDate(int32_t dayNumber);
  void SetTime(int32_t millisecondsOfDay);
  void SetTimestamp(double milliseconds);

  std::string StringValue() const;  // the bytes up to the first zero
  // The same bytes in place; valid until the value changes.
  std::string_view StringView() const;
  int16_t Int16Value() const;
  uint16_t UInt16Value() const;
  int32_t Int32Value() const;
  int64_t Int64Value() const;
  double DoubleValue() const;
};

// Each thread's pool of released nodes. Expression trees are built and evaluated row after
// row, so nodes come and go all the time; a pool of the thread's own needs no lock. A node may
// be released on another thread than the one that took it: it joins the releasing thread's
// pool. Once a thread's pool is gone (the thread is ending), its releases destroy the nodes.
class TExpTokenStack {
 public:
  static constexpr std::size_t kCapacity = 256;

  // The calling thread's pool.
  static TExpTokenStack& Instance();

  // The most recently released node, cleared, or a new node when the pool is empty.
  TExpTokenPtr Take();
  // Releases a tree: its operands and arguments first, depth first, then the node. Each node
  // goes back to the pool, or is destroyed when the pool already holds kCapacity nodes.
  // Works without recursion, so tree depth does not matter.
  void ReleaseTree(TExpToken* root) noexcept;

  std::size_t PooledCount() const;

  TExpTokenStack(const TExpTokenStack&) = delete;
  TExpTokenStack& operator=(const TExpTokenStack&) = delete;
  ~TExpTokenStack();

 private:
  friend struct TExpTokenRelease;
  friend TExpTokenPtr NewExpToken();

  // Room for a full pool from the start, so that a release never allocates.
  TExpTokenStack() { released_.reserve(kCapacity); }
  // False once the calling thread's pool has been destroyed.
  static bool Available();

  std::vector<std::unique_ptr<TExpToken>> released_;
};

// A fresh node from the calling thread's pool.
TExpTokenPtr NewExpToken();

// Calls fn(node) for every node of the tree under `node`: the node itself first, then its left
// operand, its right operand and its arguments, each with everything under it. Nothing for
// nullptr.
template <class F>
void ForEachNode(const TExpToken* node, F&& fn) {
  if (node == nullptr) return;
  fn(*node);
  ForEachNode(node->left.get(), fn);
  ForEachNode(node->right.get(), fn);
  for (const auto& a : node->arguments)
    ForEachNode(a.get(), fn);
}

// A copy of a tree from fresh pool nodes: every field, the non-owning links (column source,
// sub-query) pointing where the original's do; the copy's root has no parent.
TExpTokenPtr CopyExpTree(const TExpToken& root);

// A compact one-line form of a tree, for tests and diagnostics:
//   binary and unary operators, functions and predicates: "(NAME operand ...)" with the
//     canonical operator name ("NOT LIKE" written "NOT_LIKE"); CAST adds
//     ":type/subtype/size/scale";
//   columns: "name", "corr.name", "*"; sub-selects: "<select>";
//   constants: "NULL", "?", ":name", "str:'text'", "int:5", "large:5", "float:0.5", "bool:1",
//     "date:n", "time:n", "ts:n".
std::string ExpTreeToText(const TExpToken* node);

}  // namespace mt
