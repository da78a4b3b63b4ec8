// TRowScan: conjuncts, join order, filters and the nested loops over the source tables.
#include "rowscan.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/expfunctions.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/querysources.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/recordscan.h"

namespace mt {

struct TRowScan::TConjunct {
  TExpToken* tree = nullptr;
  std::unique_ptr<TRowCondition> check;  // tests `tree` per row
  std::vector<int> tables;               // FROM indexes, ascending
  int onJoin = -1;                       // the outer join whose ON condition it belongs to
  bool subSelect = false;                // holds IN (SELECT ...)
  bool autoInc = false;                  // holds LASTAUTOINC or IDENT_CURRENT
  bool strings = false;                  // holds a string or memo value
};

struct TRowScan::TLevel {
  int source = 0;
  TSourceRow* row = nullptr;
  bool optional = false;
  std::vector<TConjunct*> single;  // one-table conjuncts: a filter or checked per row
  std::vector<TConjunct*> match;   // checked per row; decide whether a row matches
  std::vector<TConjunct*> after;   // checked on every row produced (the NULL row too)
  // The key lookup of this table for each outer row.
  bool hasLookup = false;
  int lookupSlot = -1;
  int lookupField = 0;
  const TExpToken* lookupColumn = nullptr;
  const TExpToken* lookupOuter = nullptr;
  // Run time.
  std::vector<int> filters;
  std::unique_ptr<TRecordScan> runs;  // the first table read in runs (ReadFirstInRuns)
  std::vector<uint8_t> key;
  bool exhausted = false;
  bool matched = false;
  bool nullDone = false;
};

namespace {

bool IsStringType(const TExpToken& n) {
  return n.type == ftype::kString || (n.type == ftype::kBlob && n.subtype == fsubtype::kMemo);
}

// FROM indexes of the source tables a tree reads, ascending.
std::vector<int> TablesOf(const TExpToken* tree, const TDataQuery& query) {
  std::vector<int> tables;
  ForEachNode(tree, [&](const TExpToken& n) {
    if (n.kind != TNodeKind::Column || n.columnSource == nullptr) return;
    for (std::size_t i = 0; i < query.sourceTables.size(); ++i) {
      if (query.sourceTables[i].get() == n.columnSource) {
        tables.push_back(static_cast<int>(i));
        break;
      }
    }
  });
  std::sort(tables.begin(), tables.end());
  tables.erase(std::unique(tables.begin(), tables.end()), tables.end());
  return tables;
}

bool Contains(const std::vector<int>& v, int x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

TExpTokenPtr AndOf(TExpTokenPtr left, TExpTokenPtr right) {
  TExpTokenPtr node = NewExpToken();
  node->kind = TNodeKind::Binary;
  node->op = TOperator::And;
  node->text = "AND";
  node->type = ftype::kBoolean;
  node->size = 2;
  node->height = std::max(left->height, right->height) + 1;
  left->parent = node.get();
  right->parent = node.get();
  node->left = std::move(left);
  node->right = std::move(right);
  return node;
}

// One tree ANDing copies of the conjuncts' trees, in their order.
TExpTokenPtr Conjunction(const std::vector<const TExpToken*>& trees) {
  TExpTokenPtr tree;
  for (const TExpToken* t : trees)
    tree = tree ? AndOf(std::move(tree), CopyExpTree(*t)) : CopyExpTree(*t);
  return tree;
}

[[noreturn]] void JoinFault(const std::string& message) {
  RaiseEngineError(err::kSqlError, {.extra = message});
}

}  // namespace

TRowScan::TRowScan(TDataQuery& query, TQuerySources& sources, uint32_t locale)
    : query_(query), sources_(sources), locale_(locale) {}

TRowScan::~TRowScan() {
  try {
    Finish();
  } catch (const std::exception&) {
    // The cursors go with their query; nothing else is held.
  }
}

TSourceRow& TRowScan::FirstRow() {
  return sources_.Row(0);
}

// ---- Planning

void TRowScan::Split(TExpToken* node, int onJoin) {
  if (onJoin < 0) {
    for (std::size_t j = 0; j < query_.joins.size(); ++j) {
      if (query_.joins[j].type != TJoinType::Inner && query_.joins[j].condition == node) {
        onJoin = static_cast<int>(j);
        break;
      }
    }
  }
  if (node->kind == TNodeKind::Binary && node->op == TOperator::And) {
    Split(node->left.get(), onJoin);
    Split(node->right.get(), onJoin);
    return;
  }
  auto c = std::make_unique<TConjunct>();
  c->tree = node;
  c->check = std::make_unique<TRowCondition>(*node);
  c->tables = TablesOf(node, query_);
  c->onJoin = onJoin;
  ForEachNode(node, [&](const TExpToken& n) {
    if (n.kind == TNodeKind::SubSelect) c->subSelect = true;
    if (CallsWithArguments(n, TArgumentUse::TableName)) c->autoInc = true;
    if (IsStringType(n)) c->strings = true;
  });
  CheckJoinOperands(*c);
  conjuncts_.push_back(std::move(c));
}

void TRowScan::CheckJoinOperands(const TConjunct& c) const {
  if (c.tables.size() < 2 || c.tree->kind != TNodeKind::Binary || !IsComparison(c.tree->op)) return;
  if (TablesOf(c.tree->left.get(), query_).size() > 1 ||
      TablesOf(c.tree->right.get(), query_).size() > 1)
    JoinFault(
        "The join condition cannot contain multiple table correlation names in either the left "
        "or right operand in WHERE or JOIN clause");
}

void TRowScan::Plan() {
  conjuncts_.clear();
  levels_.clear();
  constants_.clear();
  const std::size_t n = query_.sourceTables.size();
  // The inner table of each outer join; a table may be the inner table of one join only.
  optionalJoin_.assign(n, -1);
  for (std::size_t j = 0; j < query_.joins.size(); ++j) {
    const TTableJoin& join = query_.joins[j];
    if (join.type == TJoinType::Inner) continue;
    const TSourceTable* inner = join.type == TJoinType::LeftOuter ? join.right : join.left;
    const int t = inner->position - 1;
    if (optionalJoin_[t] >= 0)
      JoinFault("Internal join error - table correlation name \"" + inner->correlationName +
                "\" is target of multiple join conditions in WHERE or JOIN clause");
    optionalJoin_[t] = static_cast<int>(j);
  }
  if (n > 0 && optionalJoin_[0] >= 0) JoinFault("Internal join optimization error");
  if (query_.where) Split(query_.where.get(), -1);
  OrderTables();
  PlaceConjuncts();
}

bool TRowScan::FindLookup(const TConjunct& c, int table, const std::vector<bool>& placed,
                          int& field, const TExpToken** outer, int& slot) const {
  const TExpToken& t = *c.tree;
  if (c.subSelect || c.autoInc || t.kind != TNodeKind::Binary || t.op != TOperator::Equal)
    return false;
  for (int side = 0; side < 2; ++side) {
    const TExpToken& column = side == 0 ? *t.left : *t.right;
    const TExpToken& other = side == 0 ? *t.right : *t.left;
    if (column.kind != TNodeKind::Column || column.columnSource == nullptr ||
        column.columnSource != query_.sourceTables[table].get())
      continue;
    const std::vector<int> otherTables = TablesOf(&other, query_);
    if (otherTables.empty() || Contains(otherTables, table)) continue;
    if (!std::all_of(otherTables.begin(), otherTables.end(), [&](int x) { return placed[x]; }))
      continue;
    TDataCursor& cursor = *query_.sourceTables[table]->cursor;
    if (IsStringType(column) && cursor.LocaleId() != locale_) continue;
    if (column.type == ftype::kBlob || column.type == ftype::kBcd) continue;
    const TIndexFile& index = cursor.Table().Index();
    int best = -1;
    for (int s = 0; s <= kMaxSecondaryIndexes; ++s) {
      if (!index.SlotInUse(s)) continue;
      const TIndexDescriptor& d = index.Descriptor(s);
      if (d.fields.empty() || d.fields[0] != column.columnNumber) continue;
      if (best < 0 || (d.unique && !index.Descriptor(best).unique)) best = s;
    }
    if (best < 0) continue;
    field = column.columnNumber;
    *outer = &other;
    slot = best;
    return true;
  }
  return false;
}

void TRowScan::OrderTables() {
  const int n = static_cast<int>(query_.sourceTables.size());
  order_.clear();
  if (n == 0) return;
  std::vector<bool> placed(static_cast<std::size_t>(n), false);
  order_.push_back(0);
  placed[0] = true;
  // The tables an outer join's inner table waits for: its outer table and every table its ON
  // condition reads.
  auto eligible = [&](int t) {
    const int j = optionalJoin_[t];
    if (j < 0) return true;
    const TTableJoin& join = query_.joins[j];
    const TSourceTable* outer = join.type == TJoinType::LeftOuter ? join.left : join.right;
    if (!placed[outer->position - 1]) return false;
    for (const auto& c : conjuncts_) {
      if (c->onJoin != j) continue;
      for (int x : c->tables)
        if (x != t && !placed[x]) return false;
    }
    return true;
  };
  while (static_cast<int>(order_.size()) < n) {
    int chosen = -1;
    int bestScore = -1;
    for (int t = 1; t < n; ++t) {
      if (placed[t] || !eligible(t)) continue;
      if (query_.noJoinOptimize) {
        chosen = t;
        break;
      }
      int score = 0;
      for (const auto& c : conjuncts_) {
        if (!Contains(c->tables, t) || c->tables.size() < 2) continue;
        bool linked = true;
        for (int x : c->tables)
          if (x != t && !placed[x]) linked = false;
        if (!linked) continue;
        int field = 0, slot = -1;
        const TExpToken* outer = nullptr;
        score = std::max(score, FindLookup(*c, t, placed, field, &outer, slot) ? 2 : 1);
      }
      if (score > bestScore) {
        bestScore = score;
        chosen = t;
      }
    }
    if (chosen < 0) JoinFault("Internal join optimization error");
    placed[chosen] = true;
    order_.push_back(chosen);
  }
}

void TRowScan::PlaceConjuncts() {
  std::vector<int> levelOf(query_.sourceTables.size(), 0);
  for (std::size_t k = 0; k < order_.size(); ++k) {
    auto level = std::make_unique<TLevel>();
    level->source = order_[k];
    level->row = &sources_.Row(static_cast<std::size_t>(order_[k]));
    level->optional = optionalJoin_[order_[k]] >= 0;
    levelOf[order_[k]] = static_cast<int>(k);
    levels_.push_back(std::move(level));
  }
  for (const auto& owned : conjuncts_) {
    TConjunct* c = owned.get();
    if (c->tables.empty()) {
      constants_.push_back(c);
      continue;
    }
    int deepest = 0;
    bool readsInner = false;
    for (int t : c->tables) {
      deepest = std::max(deepest, levelOf[t]);
      // A WHERE conjunct reading the inner table of an outer join is checked on the rows
      // that join produces; an ON condition always decides its own join's matching.
      if (optionalJoin_[t] >= 0 && c->onJoin < 0) readsInner = true;
    }
    if (c->onJoin >= 0) {
      // An ON condition decides the matching rows of its join's inner table.
      const TTableJoin& join = query_.joins[c->onJoin];
      const TSourceTable* inner = join.type == TJoinType::LeftOuter ? join.right : join.left;
      deepest = std::max(deepest, levelOf[inner->position - 1]);
    }
    TLevel& level = *levels_[deepest];
    if (readsInner) {
      level.after.push_back(c);
    } else if (c->tables.size() == 1 && c->tables[0] == level.source) {
      level.single.push_back(c);
    } else {
      level.match.push_back(c);
    }
  }
  // One key lookup per joined table, from an equality with the tables before it.
  std::vector<bool> placed(query_.sourceTables.size(), false);
  for (auto& level : levels_) {
    if (level.get() != levels_.front().get()) {
      for (TConjunct* c : level->match) {
        int field = 0, slot = -1;
        const TExpToken* outer = nullptr;
        if (!FindLookup(*c, level->source, placed, field, &outer, slot)) continue;
        const TExpToken& t = *c->tree;
        level->hasLookup = true;
        level->lookupSlot = slot;
        level->lookupField = field;
        level->lookupOuter = outer;
        level->lookupColumn = outer == t.right.get() ? t.left.get() : t.right.get();
        break;
      }
    }
    placed[level->source] = true;
  }
}

bool TRowScan::Filterable(const TConjunct& c, int table) const {
  if (c.subSelect || c.autoInc) return false;
  const TDataCursor& cursor = *query_.sourceTables[table]->cursor;
  return !c.strings || cursor.LocaleId() == locale_;
}

bool TRowScan::EveryConjunctFilterable() const {
  if (query_.sourceTables.size() != 1) return false;
  return std::all_of(conjuncts_.begin(), conjuncts_.end(), [this](const auto& c) {
    return c->tables.empty() ? !c->subSelect : Filterable(*c, 0);
  });
}

// ---- Running

bool TRowScan::Passes(const std::vector<TConjunct*>& conjuncts) {
  for (TConjunct* c : conjuncts) {
    if (!c->check->Holds(sources_, locale_)) return false;
  }
  return true;
}

bool TRowScan::InstallFilter(TLevel& level, const std::vector<TConjunct*>& conjuncts) {
  if (conjuncts.empty()) return true;
  std::vector<const TExpToken*> trees;
  for (const TConjunct* c : conjuncts)
    trees.push_back(c->tree);
  TExpTokenPtr tree = Conjunction(trees);
  level.filters.push_back(level.row->Cursor().AddFilter(*tree));
  return true;
}

bool TRowScan::FilterEverything() {
  Finish();
  if (!Passes(constants_)) return false;
  std::vector<const TExpToken*> trees;
  for (const auto& c : conjuncts_) {
    if (!c->tables.empty()) trees.push_back(c->tree);
  }
  if (!trees.empty()) {
    TExpTokenPtr tree = Conjunction(trees);
    everythingFilter_ = sources_.Row(0).Cursor().AddFilter(*tree);
    filteredEverything_ = true;
  }
  return true;
}

bool TRowScan::Start(TVisitCallback visit) {
  Finish();
  visit_ = std::move(visit);
  visited_ = 0;
  total_ = 0;
  started_ = false;
  done_ = false;
  leaveFirst_ = false;
  rereadFirst_ = false;
  if (!Passes(constants_)) {
    done_ = true;
    return false;
  }
  for (std::size_t k = 0; k < levels_.size(); ++k) {
    TLevel& level = *levels_[k];
    TDataCursor& cursor = level.row->Cursor();
    level.match.erase(std::remove_if(level.match.begin(), level.match.end(),
                                     [&](TConjunct* c) {
                                       return std::find(level.single.begin(), level.single.end(),
                                                        c) != level.single.end();
                                     }),
                      level.match.end());
    // Which one-table conjuncts become filters: those the indexes answer; on a joined table
    // read again for every outer row without a key, the others too (evaluated once).
    std::vector<TConjunct*> filtered;
    std::vector<TConjunct*> perRow;
    for (TConjunct* c : level.single) {
      const bool usable = Filterable(*c, level.source);
      if (usable && (cursor.CanAnswerFromIndexes(*c->tree) || (k > 0 && !level.hasLookup)))
        filtered.push_back(c);
      else
        perRow.push_back(c);
    }
    // Answered conjuncts first, so that the cheap ones run first among the per-row checks.
    level.match.insert(level.match.begin(), perRow.begin(), perRow.end());
    if (k > 0) {
      if (level.hasLookup && cursor.Table().Index().SlotInUse(level.lookupSlot)) {
        if (cursor.CurrentIndex() != level.lookupSlot) cursor.ChooseIndexSlot(level.lookupSlot);
      } else {
        // The index went away since the query was prepared: every row is read.
        level.hasLookup = false;
        if (cursor.CurrentIndex() != TDataCursor::kNoIndex) cursor.ChooseBitmapOrder();
      }
    }
    InstallFilter(level, filtered);
  }
  TDataCursor& first = FirstRow().Cursor();
  if (readFirstInRuns_) {
    // Only a progress report needs the count of the first table's rows.
    if (visit_) total_ = first.RecordCount();
  } else {
    first.First();
    total_ = first.RecordCount();
  }
  return true;
}

void TRowScan::DropRuns(TLevel& level) {
  // A row read in place moves into the row's own buffer before the run's buffer goes.
  if (level.row != nullptr && level.row->inPlace != nullptr) {
    std::memcpy(level.row->image.data(), level.row->inPlace, level.row->image.size());
    level.row->inPlace = nullptr;
  }
  level.runs.reset();
}

void TRowScan::Finish() {
  // Conjuncts moved to the per-row list by the last Start go back to the one-table list.
  for (auto& level : levels_) {
    DropRuns(*level);
    level->match.erase(std::remove_if(level->match.begin(), level->match.end(),
                                      [&](TConjunct* c) {
                                        return std::find(level->single.begin(), level->single.end(),
                                                         c) != level->single.end();
                                      }),
                       level->match.end());
    TSourceTable* table = level->row != nullptr ? level->row->table : nullptr;
    if (table == nullptr || !table->cursor || !table->cursor->IsOpen()) {
      level->filters.clear();
      continue;
    }
    for (int handle : level->filters)
      table->cursor->RemoveFilter(handle);
    level->filters.clear();
    if (level->hasLookup && table->cursor->RangeActive()) table->cursor->CancelRange();
  }
  if (filteredEverything_) {
    filteredEverything_ = false;
    TSourceTable* table = query_.sourceTables.empty() ? nullptr : query_.sourceTables[0].get();
    if (table != nullptr && table->cursor && table->cursor->IsOpen())
      table->cursor->RemoveFilter(everythingFilter_);
  }
}

void TRowScan::OpenLevel(std::size_t k) {
  TLevel& level = *levels_[k];
  level.exhausted = false;
  level.matched = false;
  level.nullDone = false;
  level.row->onRow = false;
  TDataCursor& cursor = level.row->Cursor();
  DropRuns(level);
  if (k == 0 || !level.hasLookup) {
    if (k == 0 && readFirstInRuns_) {
      // The scan starts from the first record itself, without the cursor's visible records
      // where it reads in record order.
      level.runs = std::make_unique<TRecordScan>(cursor, TRecordScan::TOrder::Cursor);
    } else {
      cursor.First();
    }
    return;
  }
  // The key of this outer row: the outer side's value in the column's own type, when it
  // converts exactly; otherwise no row of the table can be equal.
  TExpTokenPtr value = Evaluate(*level.lookupOuter, sources_, locale_);
  if (value->isNull) {
    // `column = NULL` holds for NULL columns; read every row and let the check decide.
    if (cursor.RangeActive()) cursor.CancelRange();
    cursor.First();
    return;
  }
  const TExpToken& column = *level.lookupColumn;
  TExpTokenPtr key = NewExpToken();
  key->kind = TNodeKind::Constant;
  key->type = column.type;
  key->subtype = column.subtype == fsubtype::kAutoInc ? fsubtype::kNone : column.subtype;
  key->size = column.size;
  key->scale = column.scale;
  bool exact = Convert(*value, *key);
  if (exact && IsStringType(column)) {
    exact = !key->isNull && value->StringValue() == key->StringValue();
  } else if (exact && value->type != key->type) {
    TExpTokenPtr back = NewExpToken();
    back->type = value->type;
    back->subtype = value->subtype;
    back->size = value->size;
    back->scale = value->scale;
    exact = Convert(*key, *back) &&
            std::memcmp(back->value.Data(), value->value.Data(),
                        static_cast<std::size_t>(std::max(value->size, 0))) == 0;
  }
  if (!exact || key->isNull) {
    level.exhausted = true;
    return;
  }
  const TRecordFormat& format = cursor.Format();
  level.key.assign(static_cast<std::size_t>(cursor.RecordSize()), 0);
  if (key->type == ftype::kString) {
    format.SetString(level.lookupField, level.key.data(), key->StringValue());
  } else {
    const int size = format.ValueSize(level.lookupField);
    format.SetField(level.lookupField, level.key.data(),
                    std::span<const uint8_t>(key->value.Data(), static_cast<std::size_t>(size)));
  }
  cursor.SetRange(level.key.data(), 1, level.key.data(), 1);
}

bool TRowScan::Advance(std::size_t k) {
  TLevel& level = *levels_[k];
  TSourceRow& row = *level.row;
  while (!level.exhausted) {
    // Every row of every table is read here.
    int read;
    if (k == 0 && rereadFirst_) {
      rereadFirst_ = false;
      TDataCursor& cursor = row.Cursor();
      row.inPlace = nullptr;
      read = cursor.Position() == TDataCursor::TPosition::OnRecord
                 ? cursor.GetCurrentRecord(row.image.data())
                 : static_cast<int>(err::kEndOfTable);
    } else if (level.runs) {
      // The record is read where the run holds it.
      row.inPlace = level.runs->Next();
      read = row.inPlace != nullptr ? TDataCursor::kRecordRead : static_cast<int>(err::kEndOfTable);
    } else {
      row.inPlace = nullptr;
      read = row.Cursor().Next(row.image.data());
    }
    if (read != TDataCursor::kRecordRead) {
      level.exhausted = true;
      break;
    }
    row.onRow = true;
    if (k == 0) {
      ++visited_;
      if (visit_ && !visit_(visited_, total_)) {
        done_ = true;
        row.onRow = false;
        return false;
      }
    }
    if (!Passes(level.match)) continue;
    level.matched = true;
    if (!Passes(level.after)) continue;
    return true;
  }
  row.onRow = false;
  if (level.optional && !level.matched && !level.nullDone) {
    level.nullDone = true;
    return Passes(level.after);
  }
  return false;
}

void TRowScan::LeaveFirstRow(bool currentIsNext) {
  leaveFirst_ = true;
  rereadFirst_ = currentIsNext;
}

bool TRowScan::Next() {
  if (done_ || levels_.empty()) return false;
  std::size_t k;
  if (!started_) {
    started_ = true;
    OpenLevel(0);
    k = 0;
  } else if (leaveFirst_) {
    k = 0;
  } else {
    k = levels_.size() - 1;
  }
  leaveFirst_ = false;
  for (;;) {
    if (Advance(k)) {
      if (k + 1 == levels_.size()) return true;
      ++k;
      OpenLevel(k);
      continue;
    }
    if (done_ || k == 0) break;
    --k;
  }
  done_ = true;
  return false;
}

}  // namespace mt
