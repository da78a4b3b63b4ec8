// Expression tree nodes, their value buffer, the node pool and the compact tree text.
// Functions and aggregates are named by their row of the function table (expfunctions.h).
#include "exptoken.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

#include "engine/common/expfunctions.h"

namespace mt {

static_assert(std::endian::native == std::endian::little,
              "node values are stored in the engine's little-endian field encoding");

std::string_view OperatorName(TOperator op) {
  if (const TFunctionInfo* f = FunctionOf(op)) return f->printedName;
  switch (op) {
    case TOperator::Equal:
      return "=";
    case TOperator::NotEqual:
      return "<>";
    case TOperator::Greater:
      return ">";
    case TOperator::Less:
      return "<";
    case TOperator::GreaterEqual:
      return ">=";
    case TOperator::LessEqual:
      return "<=";
    case TOperator::Not:
      return "NOT";
    case TOperator::And:
      return "AND";
    case TOperator::Or:
      return "OR";
    case TOperator::Negate:
    case TOperator::Subtract:
      return "-";
    case TOperator::Plus:
    case TOperator::Add:
      return "+";
    case TOperator::Multiply:
      return "*";
    case TOperator::Divide:
      return "/";
    case TOperator::Like:
      return "LIKE";
    case TOperator::NotLike:
      return "NOT LIKE";
    case TOperator::InList:
    case TOperator::InSelect:
      return "IN";
    case TOperator::NotInList:
    case TOperator::NotInSelect:
      return "NOT IN";
    case TOperator::Between:
      return "BETWEEN";
    case TOperator::NotBetween:
      return "NOT BETWEEN";
    default:  // None
      return {};
  }
}

// ---- TValueBuffer

void TValueBuffer::Reserve(std::size_t n) {
  if (n <= bytes_.size()) return;
  const std::size_t blocks = (n + kBlock - 1) / kBlock;
  bytes_.resize(blocks * kBlock, 0);
}

void TValueBuffer::Reset() {
  if (bytes_.size() > kMinSize) {
    std::vector<uint8_t>(kMinSize, 0).swap(bytes_);
  } else {
    std::memset(bytes_.data(), 0, bytes_.size());
  }
}

// ---- TExpToken

void TExpToken::Clear() {
  text.clear();
  kind = TNodeKind::None;
  op = TOperator::None;
  columnName.clear();
  columnNumber = 0;
  correlationName.clear();
  columnSource = nullptr;
  subQuery = nullptr;
  value.Reset();
  isNull = false;
  isParameter = false;
  type = exptype::kUnknown;
  subtype = fsubtype::kNone;
  size = 0;
  scale = 0;
  savedType = 0;
  savedSubtype = 0;
  savedSize = 0;
  savedScale = 0;
  wasConstant = false;
  ignoreCase = false;
  left.reset();
  right.reset();
  arguments.clear();
  parent = nullptr;
  height = 1;
}

namespace {

template <typename T>
void StoreValue(TExpToken& node, uint16_t type, T v) {
  std::memcpy(node.value.Data(), &v, sizeof v);
  std::memset(node.value.Data() + sizeof v, 0, node.value.Capacity() - sizeof v);
  node.type = type;
  node.subtype = fsubtype::kNone;
  node.size = static_cast<int32_t>(sizeof v);
  node.scale = 0;
  node.isNull = false;
}

template <typename T>
T LoadValue(const TExpToken& node) {
  T v;
  std::memcpy(&v, node.value.Data(), sizeof v);
  return v;
}

}  // namespace

void TExpToken::SetNull() {
  value.Reset();
  type = exptype::kUnknown;
  subtype = fsubtype::kNone;
  size = 0;
  scale = 0;
  isNull = true;
}

void TExpToken::SetString(std::string_view s) {
  value.Reserve(s.size() + 1);
  std::memcpy(value.Data(), s.data(), s.size());
  std::memset(value.Data() + s.size(), 0, value.Capacity() - s.size());
  type = ftype::kString;
  subtype = fsubtype::kNone;
  size = static_cast<int32_t>(s.size() + 1);
  scale = 0;
  isNull = false;
}

void TExpToken::SetBoolean(bool b) {
  StoreValue<uint16_t>(*this, ftype::kBoolean, b ? 1 : 0);
}
void TExpToken::SetInteger(int32_t v) {
  StoreValue(*this, ftype::kInteger, v);
}
void TExpToken::SetLargeInt(int64_t v) {
  StoreValue(*this, ftype::kLargeInt, v);
}
void TExpToken::SetFloat(double v) {
  StoreValue(*this, ftype::kFloat, v);
}
void TExpToken::SetDate(int32_t dayNumber) {
  StoreValue(*this, ftype::kDate, dayNumber);
}
void TExpToken::SetTime(int32_t ms) {
  StoreValue(*this, ftype::kTime, ms);
}
void TExpToken::SetTimestamp(double ms) {
  StoreValue(*this, ftype::kTimestamp, ms);
}

std::string TExpToken::StringValue() const {
  return std::string(StringView());
}
std::string_view TExpToken::StringView() const {
  const auto* p = reinterpret_cast<const char*>(value.Data());
  return std::string_view(p, strnlen(p, value.Capacity()));
}
int16_t TExpToken::Int16Value() const {
  return LoadValue<int16_t>(*this);
}
uint16_t TExpToken::UInt16Value() const {
  return LoadValue<uint16_t>(*this);
}
int32_t TExpToken::Int32Value() const {
  return LoadValue<int32_t>(*this);
}
int64_t TExpToken::Int64Value() const {
  return LoadValue<int64_t>(*this);
}
double TExpToken::DoubleValue() const {
  return LoadValue<double>(*this);
}

// ---- TExpTokenStack

namespace {

// Set when the thread's pool is destroyed: trees released later in the thread's exit (by
// objects destroyed after the pool) are destroyed instead of pooled.
thread_local bool poolGone = false;

// Takes a tree apart without recursion: every node under root and root itself, each after
// everything below it, with its links cleared.
std::vector<TExpToken*> TreeNodes(TExpToken* root) {
  struct TPending {
    TExpToken* node;
    bool expanded;
  };
  std::vector<TPending> pending;
  std::vector<TExpToken*> order;
  pending.push_back({root, false});
  while (!pending.empty()) {
    TPending item = pending.back();
    pending.pop_back();
    if (item.expanded) {
      item.node->parent = nullptr;
      order.push_back(item.node);
      continue;
    }
    TExpToken* n = item.node;
    pending.push_back({n, true});
    for (auto it = n->arguments.rbegin(); it != n->arguments.rend(); ++it)
      if (*it) pending.push_back({it->release(), false});
    n->arguments.clear();
    if (n->right) pending.push_back({n->right.release(), false});
    if (n->left) pending.push_back({n->left.release(), false});
  }
  return order;
}

}  // namespace

void TExpTokenRelease::operator()(TExpToken* node) const noexcept {
  if (TExpTokenStack::Available()) {
    TExpTokenStack::Instance().ReleaseTree(node);
    return;
  }
  if (node == nullptr) return;
  for (TExpToken* n : TreeNodes(node))
    delete n;
}

TExpTokenPtr NewExpToken() {
  if (TExpTokenStack::Available()) return TExpTokenStack::Instance().Take();
  return TExpTokenPtr(new TExpToken);
}

TExpTokenStack& TExpTokenStack::Instance() {
  thread_local TExpTokenStack pool;
  return pool;
}

bool TExpTokenStack::Available() {
  return !poolGone;
}

TExpTokenStack::~TExpTokenStack() {
  poolGone = true;
}

TExpTokenPtr TExpTokenStack::Take() {
  if (released_.empty()) return TExpTokenPtr(new TExpToken);
  std::unique_ptr<TExpToken> node = std::move(released_.back());
  released_.pop_back();
  node->Clear();
  return TExpTokenPtr(node.release());
}

void TExpTokenStack::ReleaseTree(TExpToken* root) noexcept {
  if (!root) return;
  // Into the pool while it has room (reserved: no allocation), else destroyed.
  const auto keep = [this](TExpToken* n) {
    if (released_.size() < kCapacity) {
      released_.emplace_back(n);
    } else {
      delete n;
    }
  };
  if (!root->left && !root->right && root->arguments.empty()) {
    // A lone node, the common case of a value given back after each row: no walk needed.
    root->parent = nullptr;
    keep(root);
    return;
  }
  for (TExpToken* n : TreeNodes(root))
    keep(n);
}

std::size_t TExpTokenStack::PooledCount() const {
  return released_.size();
}

// ---- Tree text

namespace {

void AppendName(std::string& out, TOperator op) {
  for (char c : OperatorName(op))
    out += c == ' ' ? '_' : c;
}

template <typename T>
void AppendNumber(std::string& out, T v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendConstant(std::string& out, const TExpToken& n) {
  if (n.isParameter) {
    out += n.text.starts_with(':') ? std::string_view(n.text) : std::string_view("?");
    return;
  }
  if (n.isNull) {
    out += "NULL";
    return;
  }
  switch (n.type) {
    case ftype::kString:
      out += "str:'";
      out += n.StringValue();
      out += '\'';
      return;
    case ftype::kInteger:
      out += "int:";
      AppendNumber(out, n.Int32Value());
      return;
    case ftype::kLargeInt:
      out += "large:";
      AppendNumber(out, n.Int64Value());
      return;
    case ftype::kFloat:
      out += "float:";
      AppendNumber(out, n.DoubleValue());
      return;
    case ftype::kBoolean:
      out += "bool:";
      AppendNumber(out, n.UInt16Value());
      return;
    case ftype::kDate:
      out += "date:";
      AppendNumber(out, n.Int32Value());
      return;
    case ftype::kTime:
      out += "time:";
      AppendNumber(out, n.Int32Value());
      return;
    case ftype::kTimestamp:
      out += "ts:";
      AppendNumber(out, n.DoubleValue());
      return;
  }
  out += "const:";
  out += n.text;
}

void AppendTree(std::string& out, const TExpToken* n) {
  if (!n) {
    out += "<none>";
    return;
  }
  switch (n->kind) {
    case TNodeKind::Column:
      if (!n->correlationName.empty()) {
        out += n->correlationName;
        out += '.';
      }
      out += n->columnName;
      return;
    case TNodeKind::Constant:
      AppendConstant(out, *n);
      return;
    case TNodeKind::SubSelect:
      out += "<select>";
      return;
    default:
      break;
  }
  out += '(';
  AppendName(out, n->op);
  if (n->left) {
    out += ' ';
    AppendTree(out, n->left.get());
  }
  if (n->right) {
    out += ' ';
    AppendTree(out, n->right.get());
  }
  for (const auto& a : n->arguments) {
    out += ' ';
    AppendTree(out, a.get());
  }
  if (IsTypedCall(*n)) {
    out += " :";
    AppendNumber(out, n->type);
    out += '/';
    AppendNumber(out, n->subtype);
    out += '/';
    AppendNumber(out, n->size);
    out += '/';
    AppendNumber(out, n->scale);
  }
  out += ')';
}

}  // namespace

namespace {

TExpTokenPtr CopyNode(const TExpToken& n, TExpToken* parent) {
  TExpTokenPtr c = NewExpToken();
  c->text = n.text;
  c->kind = n.kind;
  c->op = n.op;
  c->columnName = n.columnName;
  c->columnNumber = n.columnNumber;
  c->correlationName = n.correlationName;
  c->columnSource = n.columnSource;
  c->subQuery = n.subQuery;
  c->value.Reserve(n.value.Capacity());
  std::memcpy(c->value.Data(), n.value.Data(), n.value.Capacity());
  c->isNull = n.isNull;
  c->isParameter = n.isParameter;
  c->type = n.type;
  c->subtype = n.subtype;
  c->size = n.size;
  c->scale = n.scale;
  c->savedType = n.savedType;
  c->savedSubtype = n.savedSubtype;
  c->savedSize = n.savedSize;
  c->savedScale = n.savedScale;
  c->wasConstant = n.wasConstant;
  c->ignoreCase = n.ignoreCase;
  c->parent = parent;
  c->height = n.height;
  if (n.left) c->left = CopyNode(*n.left, c.get());
  if (n.right) c->right = CopyNode(*n.right, c.get());
  for (const auto& a : n.arguments)
    c->arguments.push_back(a ? CopyNode(*a, c.get()) : nullptr);
  return c;
}

}  // namespace

TExpTokenPtr CopyExpTree(const TExpToken& root) {
  return CopyNode(root, nullptr);
}

std::string ExpTreeToText(const TExpToken* node) {
  std::string out;
  AppendTree(out, node);
  return out;
}

}  // namespace mt
