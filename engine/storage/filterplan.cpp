// Index answers for filter conditions.
#include "filterplan.h"

#include <cstring>
#include <string>
#include <utility>

#include "btree.h"
#include "datatable.h"
#include "engine/common/expeval.h"
#include "indexfile.h"
#include "indexkey.h"
#include "record.h"

namespace mt {

namespace {

// Reads every column as NULL: asks a comparison whether it holds for a NULL column.
class TNullRow : public TExpressionResolver {
 public:
  bool ResolveColumn(TExpToken&) override { return false; }
  bool ReadColumn(const TExpToken&, TExpToken& into) override {
    into.isNull = true;
    return true;
  }
};

bool IsColumn(const TExpToken* n) {
  return n != nullptr && n->kind == TNodeKind::Column && n->columnNumber != 0;
}

// A constant, or a statement parameter: filters are built from a statement's conditions when it
// runs, after its parameters got their values, and hold a copy of those values.
bool IsPlainConstant(const TExpToken* n) {
  return n != nullptr && n->kind == TNodeKind::Constant;
}

// The operator with its operands swapped: 5 < x is x > 5.
TOperator Mirror(TOperator op) {
  switch (op) {
    case TOperator::Greater:
      return TOperator::Less;
    case TOperator::Less:
      return TOperator::Greater;
    case TOperator::GreaterEqual:
      return TOperator::LessEqual;
    case TOperator::LessEqual:
      return TOperator::GreaterEqual;
    default:
      return op;
  }
}

// Types whose key order is the evaluator's value order.
bool KeyOrderedType(uint16_t type) {
  switch (type) {
    case ftype::kString:
    case ftype::kDate:
    case ftype::kBoolean:
    case ftype::kSmallInt:
    case ftype::kInteger:
    case ftype::kFloat:
    case ftype::kTime:
    case ftype::kTimestamp:
    case ftype::kWord:
    case ftype::kLargeInt:
      return true;
    default:
      return false;
  }
}

bool AsciiOnly(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

TFilterPlanner::TFilterPlanner(TDataTable& table, uint32_t locale)
    : table_(table), locale_(locale) {}

bool TFilterPlanner::Answerable(const TExpToken& condition) {
  const TAnswer a = Plan(condition, nullptr);
  return a.answered && a.exact;
}

TFilterPlanner::TAnswer TFilterPlanner::Answer(const TExpToken& condition, TRecordsBitmap& bits) {
  haveAll_ = false;
  return Plan(condition, &bits);
}

bool TFilterPlanner::KeyableConstant(const TExpToken& column, const TExpToken& constant) const {
  if (!IsPlainConstant(&constant) || constant.isNull || constant.type != column.type ||
      !KeyOrderedType(column.type))
    return false;
  // A string must fit the field with its terminator, or its key would be cut.
  if (column.type == ftype::kString)
    return static_cast<int32_t>(constant.StringValue().size()) < column.size;
  return true;
}

namespace {

// Whether the index's keys begin with the field in the field's ascending order.
bool LeadsAscending(const TKeyDef& def, int fieldNo) {
  if (def.Kind() != TIndexKind::Regular || def.Fields().empty()) return false;
  const TKeyField& first = def.Fields().front();
  return first.fieldNo == fieldNo && !first.descending && !first.inverted;
}

}  // namespace

int ValueOrderIndexSlot(TIndexFile& index, int fieldNo, uint16_t type) {
  if (type == ftype::kString || !KeyOrderedType(type)) return -1;
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (index.SlotInUse(slot) && LeadsAscending(index.Tree(slot).KeyDef(), fieldNo)) return slot;
  }
  return -1;
}

TBTree* TFilterPlanner::FindIndex(const TExpToken& column, bool ignoreCase, bool stringRange) {
  const bool isString = column.type == ftype::kString;
  if (isString && locale_ != 0 && ignoreCase) return nullptr;
  TIndexFile& index = table_.Index();
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (!index.SlotInUse(slot)) continue;
    TBTree& tree = index.Tree(slot);
    const TKeyDef& def = tree.KeyDef();
    if (!LeadsAscending(def, column.columnNumber)) continue;
    if (isString && def.CaseInsensitive() != (ignoreCase && !stringRange)) continue;
    return &tree;
  }
  return nullptr;
}

bool TFilterPlanner::MatchLeaf(const TExpToken& node, TLeaf& leaf) {
  leaf = TLeaf{};
  leaf.node = &node;
  switch (node.kind) {
    case TNodeKind::Binary: {
      if (!IsComparison(node.op)) return false;
      const TExpToken* column = node.left.get();
      const TExpToken* constant = node.right.get();
      TOperator op = node.op;
      if (!IsColumn(column)) {
        std::swap(column, constant);
        op = Mirror(op);
      }
      if (!IsColumn(column) || !IsPlainConstant(constant)) return false;
      const bool equality = op == TOperator::Equal || op == TOperator::NotEqual;
      if (constant->isNull) {
        // x = NULL holds exactly for the NULL entries (decided by the NULL probe below).
        if (!equality) return false;
        leaf.kind = TLeafKind::List;
      } else {
        if (!KeyableConstant(*column, *constant)) return false;
        leaf.kind = TLeafKind::Range;
        switch (op) {
          case TOperator::Greater:
            leaf.low = constant;
            leaf.lowIncluded = false;
            break;
          case TOperator::GreaterEqual:
            leaf.low = constant;
            break;
          case TOperator::Less:
            leaf.high = constant;
            leaf.highIncluded = false;
            break;
          case TOperator::LessEqual:
            leaf.high = constant;
            break;
          default:
            leaf.low = leaf.high = constant;
            break;
        }
      }
      leaf.negate = op == TOperator::NotEqual;
      leaf.tree = FindIndex(*column, equality && node.ignoreCase, !equality);
      return leaf.tree != nullptr;
    }
    case TNodeKind::PartialCompare: {
      const TExpToken* column = node.left.get();
      const TExpToken* prefix = node.right.get();
      if (locale_ != 0 || !IsColumn(column) || column->type != ftype::kString) return false;
      if (!KeyableConstant(*column, *prefix) || prefix->StringValue().empty()) return false;
      leaf.kind = TLeafKind::Prefix;
      leaf.low = prefix;
      leaf.negate = node.op == TOperator::NotEqual;
      // Bytes match bytes; with two-byte characters a byte prefix may end inside a
      // character of the value, so the set is then only a superset.
      leaf.exact = AsciiOnly(prefix->StringValue());
      if (leaf.negate && !leaf.exact) return false;
      leaf.tree = FindIndex(*column, node.ignoreCase, false);
      return leaf.tree != nullptr;
    }
    case TNodeKind::Predicate: {
      if (node.arguments.empty() || !IsColumn(node.arguments[0].get())) return false;
      const TExpToken& column = *node.arguments[0];
      if (node.op == TOperator::Between || node.op == TOperator::NotBetween) {
        if (node.arguments.size() != 3 || !KeyableConstant(column, *node.arguments[1]) ||
            !KeyableConstant(column, *node.arguments[2]))
          return false;
        leaf.kind = TLeafKind::Range;
        leaf.low = node.arguments[1].get();
        leaf.high = node.arguments[2].get();
        leaf.negate = node.op == TOperator::NotBetween;
      } else if (node.op == TOperator::InList || node.op == TOperator::NotInList) {
        leaf.kind = TLeafKind::List;
        for (std::size_t i = 1; i < node.arguments.size(); ++i) {
          const TExpToken* v = node.arguments[i].get();
          if (!IsPlainConstant(v)) return false;
          if (v->isNull) continue;  // equals no value; the NULL probe covers NULL entries
          if (!KeyableConstant(column, *v)) return false;
          leaf.values.push_back(v);
        }
        leaf.negate = node.op == TOperator::NotInList;
      } else {
        return false;
      }
      leaf.tree = FindIndex(column, false, true);
      return leaf.tree != nullptr;
    }
    default:
      return false;
  }
}

TFilterPlanner::TAnswer TFilterPlanner::Plan(const TExpToken& node, TRecordsBitmap* bits) {
  if (node.kind == TNodeKind::Binary && (node.op == TOperator::And || node.op == TOperator::Or)) {
    const TAnswer a = Plan(*node.left, nullptr);
    const TAnswer b = Plan(*node.right, nullptr);
    if (node.op == TOperator::Or) {
      if (!a.answered || !b.answered) return {};
      if (bits != nullptr) {
        TRecordsBitmap other(bits->Size());
        Plan(*node.left, bits);
        Plan(*node.right, &other);
        bits->Or(other);
      }
      return {true, a.exact && b.exact};
    }
    if (!a.answered && !b.answered) return {};
    // A lower and an upper bound on one index (a date range) are one key range.
    TLeaf range;
    if (a.exact && b.exact && MergeRange(node, range)) {
      if (bits != nullptr) ReadLeaf(range, *bits);
      return {true, true};
    }
    if (bits != nullptr) {
      if (a.answered && b.answered) {
        TRecordsBitmap other(bits->Size());
        Plan(*node.left, bits);
        Plan(*node.right, &other);
        bits->And(other);
      } else {
        Plan(a.answered ? *node.left : *node.right, bits);
      }
    }
    return {true, a.answered && b.answered && a.exact && b.exact};
  }
  if (node.kind == TNodeKind::Unary && node.op == TOperator::Not) {
    const TAnswer a = Plan(*node.left, nullptr);
    // The complement of a superset says nothing.
    if (!a.answered || !a.exact) return {};
    if (bits != nullptr) {
      Plan(*node.left, bits);
      bits->InvertAll();
      bits->And(AllRecords(bits->Size()));
    }
    return {true, true};
  }
  TLeaf leaf;
  if (!MatchLeaf(node, leaf)) return {};
  if (bits != nullptr) ReadLeaf(leaf, *bits);
  return {true, leaf.exact};
}

bool TFilterPlanner::MergeRange(const TExpToken& conjunction, TLeaf& range) {
  TLeaf a, b;
  if (!MatchLeaf(*conjunction.left, a) || !MatchLeaf(*conjunction.right, b)) return false;
  if (a.kind != TLeafKind::Range || b.kind != TLeafKind::Range || a.negate || b.negate ||
      a.tree != b.tree)
    return false;
  if (a.low == nullptr) std::swap(a, b);
  if (a.low == nullptr || a.high != nullptr || b.low != nullptr || b.high == nullptr) return false;
  range = a;
  range.high = b.high;
  range.highIncluded = b.highIncluded;
  // NULL entries belong when the whole conjunction holds for a NULL column.
  range.node = &conjunction;
  return true;
}

void TFilterPlanner::ReadLeaf(const TLeaf& leaf, TRecordsBitmap& bits) {
  TBTree& tree = *leaf.tree;
  bits.ClearAll();
  TRecordsBitmap positive(bits.Size());
  TRecordsBitmap& target = leaf.negate ? positive : bits;
  switch (leaf.kind) {
    case TLeafKind::Range:
      ScanRange(tree, leaf.low, leaf.lowIncluded, leaf.high, leaf.highIncluded, target);
      break;
    case TLeafKind::Prefix:
      ScanPrefix(tree, *leaf.low, target);
      break;
    case TLeafKind::List:
      for (const TExpToken* v : leaf.values)
        ScanRange(tree, v, true, v, true, target);
      break;
  }
  if (leaf.negate) {
    // Among the entries with a value, those the positive form does not hold for.
    ScanRange(tree, nullptr, true, nullptr, true, bits);
    positive.InvertAll();
    bits.And(positive);
  }
  // The NULL entries belong exactly when the comparison holds for a NULL column.
  const TKeyField& first = tree.KeyDef().Fields().front();
  if (!first.autoInc) {
    TNullRow nullRow;
    if (EvaluateCondition(*leaf.node, nullRow, locale_)) ScanNulls(tree, bits);
  }
}

void TFilterPlanner::BuildKey(TBTree& tree, const TExpToken* value, std::vector<uint8_t>& key) {
  const TRecordFormat& format = table_.Data().Format();
  image_.assign(static_cast<std::size_t>(format.RecordSize()), 0);
  const TKeyField& f = tree.KeyDef().Fields().front();
  if (value != nullptr) {
    if (f.autoInc) {
      const int32_t v = value->Int32Value();
      std::memcpy(image_.data() + rec::kAutoInc, &v, 4);
    } else {
      uint8_t* at = image_.data() + f.recordOffset;
      at[0] = 1;
      if (f.isString) {
        const std::string s = value->StringValue();
        std::memcpy(at + 1, s.data(), s.size());
      } else {
        std::memcpy(at + 1, value->value.Data(), static_cast<std::size_t>(f.physicalSize));
      }
    }
  }
  key.assign(static_cast<std::size_t>(tree.KeyLength()), 0);
  tree.KeyDef().BuildPartial(image_.data(), 1, TKeyFill::First, key.data());
}

void TFilterPlanner::ScanRange(TBTree& tree, const TExpToken* low, bool lowIncluded,
                               const TExpToken* high, bool highIncluded, TRecordsBitmap& bits) {
  const TKeyDef& def = tree.KeyDef();
  std::vector<uint8_t> start, stop;
  // Without a low bound the range starts after the NULL entries, which sort first. The
  // entries equal to an excluded bound are passed over (a key of a unique index has no
  // suffix that could place a search key after them).
  BuildKey(tree, low, start);
  bool skipEqual = low == nullptr || !lowIncluded;
  if (high != nullptr) BuildKey(tree, high, stop);
  entry_.resize(static_cast<std::size_t>(tree.KeyLength()));
  for (TLeafPos p = tree.Find(start.data()).pos; p.Valid(); p = tree.Next(p)) {
    const int32_t record = tree.ReadEntry(p, entry_.data());
    if (skipEqual) {
      if (def.CompareLeading(entry_.data(), start.data(), 1) == 0) continue;
      skipEqual = false;
    }
    if (high != nullptr) {
      const int c = def.CompareLeading(entry_.data(), stop.data(), 1);
      if (c > 0 || (c == 0 && !highIncluded)) break;
    }
    if (record > 0 && static_cast<uint32_t>(record) <= bits.Size())
      bits.Set(static_cast<uint32_t>(record));
  }
}

void TFilterPlanner::ScanPrefix(TBTree& tree, const TExpToken& prefix, TRecordsBitmap& bits) {
  const TKeyField& f = tree.KeyDef().Fields().front();
  std::vector<uint8_t> start;
  BuildKey(tree, &prefix, start);
  // The prefix as the key holds it (upper-cased in a case-insensitive index).
  const std::size_t length = prefix.StringValue().size();
  const uint8_t* wanted = start.data() + f.keyOffset + 1;
  entry_.resize(static_cast<std::size_t>(tree.KeyLength()));
  for (TLeafPos p = tree.Find(start.data()).pos; p.Valid(); p = tree.Next(p)) {
    const int32_t record = tree.ReadEntry(p, entry_.data());
    const uint8_t* e = entry_.data() + f.keyOffset;
    if (e[0] == 0 || std::memcmp(e + 1, wanted, length) != 0) break;
    if (record > 0 && static_cast<uint32_t>(record) <= bits.Size())
      bits.Set(static_cast<uint32_t>(record));
  }
}

void TFilterPlanner::ScanNulls(TBTree& tree, TRecordsBitmap& bits) {
  const TKeyDef& def = tree.KeyDef();
  std::vector<uint8_t> start;
  BuildKey(tree, nullptr, start);
  entry_.resize(static_cast<std::size_t>(tree.KeyLength()));
  for (TLeafPos p = tree.Find(start.data()).pos; p.Valid(); p = tree.Next(p)) {
    const int32_t record = tree.ReadEntry(p, entry_.data());
    if (def.CompareLeading(entry_.data(), start.data(), 1) != 0) break;
    if (record > 0 && static_cast<uint32_t>(record) <= bits.Size())
      bits.Set(static_cast<uint32_t>(record));
  }
}

const TRecordsBitmap& TFilterPlanner::AllRecords(uint32_t size) {
  if (haveAll_ && all_.Size() == size) return all_;
  all_.SetSize(size);
  all_.ClearAll();
  TIndexFile& index = table_.Index();
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (!index.SlotInUse(slot)) continue;
    TBTree& tree = index.Tree(slot);
    if (tree.KeyDef().Kind() != TIndexKind::Regular) continue;
    entry_.resize(static_cast<std::size_t>(tree.KeyLength()));
    for (TLeafPos p = tree.First(); p.Valid(); p = tree.Next(p)) {
      const int32_t record = tree.ReadEntry(p, entry_.data());
      if (record > 0 && static_cast<uint32_t>(record) <= size)
        all_.Set(static_cast<uint32_t>(record));
    }
    break;
  }
  haveAll_ = true;
  return all_;
}

}  // namespace mt
