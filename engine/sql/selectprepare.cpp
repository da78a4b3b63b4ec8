// TSelectQuery: preparation. The select list becomes the result columns (types, names),
// grouping and ordering are resolved against them, the WHERE and HAVING trees are checked, the
// scan is planned and the result table created.
#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/common/engineerror.h"
#include "engine/common/expfunctions.h"
#include "engine/common/expparser.h"
#include "engine/common/localetext.h"
#include "engine/sql/aggregates.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/privatedirectory.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/rowscan.h"
#include "engine/sql/selectinternal.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/record.h"
#include "engine/storage/tablenames.h"

namespace mt {
namespace {

constexpr int kMaxColumns = 1024;
constexpr std::size_t kMaxNameLength = 30;

[[noreturn]] void Fault(const std::string& message) {
  RaiseEngineError(err::kSqlError, {.extra = message});
}

std::string MaxColumnsMessage(std::string_view where) {
  return "Maximum number of columns (" + std::to_string(kMaxColumns) + ") in " +
         std::string(where) + "exceeded";
}

template <class F>
void WalkSlots(TExpTokenPtr& slot, F&& fn) {
  if (!slot) return;
  fn(slot);
  if (!slot) return;
  WalkSlots(slot->left, fn);
  WalkSlots(slot->right, fn);
  for (auto& a : slot->arguments)
    WalkSlots(a, fn);
}

bool ReferencesColumns(const TExpToken* n) {
  if (n == nullptr) return false;
  if (n->kind == TNodeKind::SubSelect) return true;
  if (n->kind == TNodeKind::Column && n->columnName != "*") return true;
  if (ReferencesColumns(n->left.get()) || ReferencesColumns(n->right.get())) return true;
  return std::any_of(n->arguments.begin(), n->arguments.end(),
                     [](const TExpTokenPtr& a) { return ReferencesColumns(a.get()); });
}

bool IsIntegral(uint8_t t) {
  return t == ftype::kSmallInt || t == ftype::kInteger || t == ftype::kWord ||
         t == ftype::kLargeInt;
}
bool IsNumeric(uint8_t t) {
  return IsIntegral(t) || t == ftype::kFloat || t == ftype::kBcd;
}
bool IsStringColumn(const TResultColumn& c) {
  return c.type == ftype::kString || (c.type == ftype::kBlob && c.subtype == fsubtype::kMemo);
}

// Whether a select item (already checked) and an aggregate of HAVING (not checked) are the
// same expression.
bool SameExpression(const TExpToken& item, const TExpToken& having) {
  if (item.kind == TNodeKind::Column && item.wasConstant && having.kind == TNodeKind::Constant)
    return !having.isNull && SameName(item.columnName, having.StringValue());
  if (item.kind != having.kind || item.op != having.op) return false;
  switch (item.kind) {
    case TNodeKind::Column:
      return SameName(item.columnName, having.columnName) &&
             (item.correlationName.empty() || having.correlationName.empty() ||
              SameName(item.correlationName, having.correlationName));
    case TNodeKind::Constant:
      return item.text == having.text && item.isNull == having.isNull &&
             item.isParameter == having.isParameter;
    default:
      break;
  }
  if (static_cast<bool>(item.left) != static_cast<bool>(having.left) ||
      static_cast<bool>(item.right) != static_cast<bool>(having.right) ||
      item.arguments.size() != having.arguments.size())
    return false;
  if (item.left && !SameExpression(*item.left, *having.left)) return false;
  if (item.right && !SameExpression(*item.right, *having.right)) return false;
  for (std::size_t i = 0; i < item.arguments.size(); ++i) {
    const TExpToken* a = item.arguments[i].get();
    const TExpToken* b = having.arguments[i].get();
    if ((a == nullptr) != (b == nullptr)) return false;
    if (a != nullptr && !SameExpression(*a, *b)) return false;
  }
  if (IsTypedCall(item))
    return item.type == having.type && item.size == having.size && item.scale == having.scale;
  return true;
}

std::string AggregatePrefix(TAggregateKind kind) {
  switch (kind) {
    case TAggregateKind::Sum:
      return "Sum Of ";
    case TAggregateKind::RunSum:
      return "Running Sum Of ";
    case TAggregateKind::Min:
      return "Min Of ";
    case TAggregateKind::Max:
      return "Max Of ";
    case TAggregateKind::Avg:
      return "Average Of ";
    case TAggregateKind::Count:
      return "Count Of ";
    case TAggregateKind::None:
      break;
  }
  return {};
}

std::string CutName(std::string_view name, std::size_t max) {
  return std::string(CutGbk(name, max));
}

// A plain column's name as its table defines it.
std::string SourceFieldName(const TResultColumn& c) {
  return c.source->cursor->Format().Field(c.sourceField).name;
}

}  // namespace

// ---- The HAVING resolver

bool TSelectQuery::THavingResolver::ResolveColumn(TExpToken& node) {
  int column = -1;
  if (node.columnSource == &bound_ && node.columnNumber > 0) {
    column = node.columnNumber - 1;
  } else {
    column = query_.FindColumn(node.columnName, node.correlationName);
    if (column < 0) return false;
  }
  const TResultColumn& c = query_.columns_[static_cast<std::size_t>(column)];
  node.columnNumber = static_cast<uint16_t>(c.number);
  node.columnSource = &bound_;
  node.type = c.type;
  node.subtype = c.subtype;
  node.size = FieldPhysicalSize(c.type, c.subtype, c.size);
  node.scale = c.scale;
  return true;
}

// ---- Preparation

TSelectQuery::TSelectQuery(TQueryStatement& statement, TDataQuery& query)
    : statement_(statement), query_(query) {}

TSelectQuery::~TSelectQuery() {
  try {
    Release();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close; the files go with the process at the latest.
  }
}

void TSelectQuery::Prepare() {
  sources_ = std::make_unique<TQuerySources>(statement_, query_);
  const bool mayBeLive = statement_.RequestLive() && &query_ == statement_.Master() &&
                         statement_.Queries().size() == 1;
  sources_->Open(!mayBeLive);
  locale_ = query_.locale.given ? MakeLocaleId(query_.locale.languageId, query_.locale.sortOrderId)
                                : sources_->FirstLocale();
  ExpandStars();
  CheckItems();
  NameColumns();
  CheckGrouping();
  ResolveGroupAndOrder();
  CheckWhere();
  CheckHaving();
  std::vector<const TExpToken*> trees{query_.where.get(), query_.having.get()};
  for (const TResultField& f : query_.resultFields)
    trees.push_back(f.expression.get());
  sources_->OpenNamedTables(trees);
  CheckUnionMembers();
  scan_ = std::make_unique<TRowScan>(query_, *sources_, locale_);
  scan_->ReadFirstInRuns();
  scan_->Plan();
  DecideLive();
  if (live_) return;
  FindOrderIndex();
  CreateResultTable();
  PlanRows();
}

void TSelectQuery::ExpandStars() {
  std::vector<TResultField> expanded;
  for (TResultField& f : query_.resultFields) {
    const bool star = f.aggregate == TAggregateKind::None && !f.computed && f.columnName == "*";
    if (!star) {
      expanded.push_back(std::move(f));
      continue;
    }
    if (!f.alias.empty())
      Fault("Invalid use of column correlation name '" + f.alias +
            "' for '*' specified in source columns");
    std::vector<TSourceTable*> tables;
    if (!f.correlationName.empty()) {
      TSourceTable* t = sources_->FindCorrelation(f.correlationName);
      if (t == nullptr)
        Fault("Invalid column name '*' or table correlation name '" + f.correlationName +
              "' specified in source columns");
      tables.push_back(t);
    } else {
      for (const auto& t : query_.sourceTables)
        tables.push_back(t.get());
    }
    for (TSourceTable* t : tables) {
      const TRecordFormat& format = t->cursor->Format();
      for (const TFieldDescriptor& d : format.Fields()) {
        if (d.isVirtual) continue;
        TResultField item;
        item.expression = NewExpToken();
        item.expression->kind = TNodeKind::Column;
        item.expression->text = d.name;
        item.expression->columnName = d.name;
        item.expression->correlationName = t->correlationName;
        item.columnName = d.name;
        item.correlationName = t->correlationName;
        expanded.push_back(std::move(item));
        if (static_cast<int>(expanded.size()) > kMaxColumns)
          Fault(MaxColumnsMessage("result set "));
      }
    }
  }
  if (static_cast<int>(expanded.size()) > kMaxColumns) Fault(MaxColumnsMessage("result set "));
  query_.resultFields = std::move(expanded);
}

namespace {

// The type, size and scale of a result column from a checked node's; the item's text for the
// size message.
void TypeFromNode(TResultColumn& c, const TExpToken& n, const std::string& text) {
  c.type = static_cast<uint8_t>(n.type);
  c.subtype = n.subtype == fsubtype::kAutoInc ? fsubtype::kNone : static_cast<uint8_t>(n.subtype);
  c.scale = c.type == ftype::kBcd ? n.scale : 0;
  c.size = 0;
  switch (c.type) {
    case exptype::kUnknown:  // NULL: a one-character string column holding NULL
      c.type = ftype::kString;
      c.size = 1;
      break;
    case ftype::kString:
      if (n.size >= 252)
        Fault("Column expression '" + text + "' exceeds the maximum allowable field size");
      c.size = std::max(n.size - 1, 1);
      break;
    case ftype::kBytes:
    case ftype::kVarBytes:
      if (n.size > 250)
        Fault("Column expression '" + text + "' exceeds the maximum allowable field size");
      c.size = std::max(n.size, 1);
      break;
    default:
      break;
  }
}

// The result type of an aggregate over an argument of this type.
void TypeOfAggregate(TResultColumn& c, const TExpToken& argument, const std::string& text) {
  if (c.aggregate == TAggregateKind::Count || c.countStar) {
    c.type = ftype::kInteger;
    c.subtype = fsubtype::kNone;
    c.size = c.scale = 0;
    return;
  }
  TypeFromNode(c, argument, text);
  const uint8_t t = static_cast<uint8_t>(argument.type);
  if (t == exptype::kUnknown) {
    c.type = ftype::kFloat;
    c.size = 0;
    return;
  }
  switch (c.aggregate) {
    case TAggregateKind::Sum:
    case TAggregateKind::RunSum:
      if (t == ftype::kSmallInt || t == ftype::kWord) c.type = ftype::kInteger;
      if (t == ftype::kInteger) c.type = ftype::kLargeInt;
      break;
    case TAggregateKind::Avg:
      if (IsIntegral(t)) {
        c.type = ftype::kFloat;
        c.subtype = fsubtype::kNone;
      }
      break;
    default:
      break;
  }
}

}  // namespace

void TSelectQuery::CheckItems() {
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = "source columns";
  options.literalNamesColumns = true;
  columns_.clear();
  for (TResultField& item : query_.resultFields) {
    TypeCheck(item.expression, options, *sources_);
    TResultColumn c;
    c.item = &item;
    c.number = static_cast<int>(columns_.size()) + 1;
    c.aggregate = item.aggregate;
    TExpToken& e = *item.expression;
    const auto column = [&](const TExpToken& n) {
      c.source = SourceTableOf(n);
      c.sourceField = n.columnNumber;
      item.computed = false;
      item.columnName = n.columnName;
      item.correlationName = n.correlationName;
    };
    const std::string text =
        item.computed && !item.sourceText.empty()
            ? item.sourceText
            : (item.correlationName.empty() ? item.columnName
                                            : item.correlationName + "." + item.columnName);
    if (c.aggregate != TAggregateKind::None) {
      const TExpToken& argument = *e.arguments.front();
      c.countStar = e.op == TOperator::Count && argument.kind == TNodeKind::Column &&
                    argument.columnName == "*";
      c.value = c.countStar ? nullptr : &argument;
      if (!c.countStar && argument.kind == TNodeKind::Column) column(argument);
      c.computed = !c.countStar && argument.kind != TNodeKind::Column;
      TypeOfAggregate(c, argument, text);
      // The aggregate node carries the result's type (HAVING reads it through its column).
      e.type = c.type;
      e.subtype = c.subtype;
      e.size = FieldPhysicalSize(c.type, c.subtype, c.size);
      e.scale = c.scale;
    } else {
      c.value = &e;
      if (e.kind == TNodeKind::Column)
        column(e);
      else
        c.computed = true;
      TypeFromNode(c, e, text);
    }
    if (c.type == ftype::kBlob) hasBlobColumns_ = true;
    columns_.push_back(c);
  }
  visibleCount_ = static_cast<int>(columns_.size());
  // One hidden count column per AVG, after the visible ones.
  for (int i = 0; i < visibleCount_; ++i) {
    if (columns_[i].aggregate != TAggregateKind::Avg) continue;
    TResultColumn h;
    h.number = static_cast<int>(columns_.size()) + 1;
    h.name = "Sys__Avg__Count" + std::to_string(h.number);
    h.type = ftype::kInteger;
    h.hidden = true;
    h.countsFor = columns_[i].number;
    h.value = columns_[i].value;
    h.source = columns_[i].source;
    h.sourceField = columns_[i].sourceField;
    columns_[i].avgCountColumn = h.number;
    columns_.push_back(h);
  }
}

void TSelectQuery::NameColumns() {
  std::vector<std::string> names;
  for (int i = 0; i < visibleCount_; ++i) {
    const TResultColumn& c = columns_[i];
    const TResultField& item = *c.item;
    std::string name;
    if (!item.alias.empty()) {
      name = item.alias;
    } else if (c.aggregate == TAggregateKind::None) {
      name = c.computed ? "Expression" : SourceFieldName(c);
    } else if (c.countStar) {
      name = "Count Of *";
    } else {
      name = AggregatePrefix(c.aggregate) + (c.computed ? "Expr" : SourceFieldName(c));
    }
    names.push_back(CutName(name, kMaxNameLength));
  }
  // A name that another item also has gets "_" and the smallest number that makes it unique.
  auto usedElsewhere = [&](const std::string& name, std::size_t self) {
    for (std::size_t j = 0; j < names.size(); ++j)
      if (j != self && SameName(names[j], name)) return true;
    return false;
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!usedElsewhere(names[i], i)) continue;
    for (int n = 1;; ++n) {
      const std::string suffix = "_" + std::to_string(n);
      const std::string candidate =
          CutName(names[i], kMaxNameLength - std::min(suffix.size(), kMaxNameLength)) + suffix;
      if (!usedElsewhere(candidate, i)) {
        names[i] = candidate;
        break;
      }
    }
  }
  for (int i = 0; i < visibleCount_; ++i)
    columns_[i].name = names[i];
}

void TSelectQuery::CheckGrouping() {
  bool aggregates = false;
  bool plainWithColumns = false;
  for (int i = 0; i < visibleCount_; ++i) {
    if (columns_[i].aggregate != TAggregateKind::None)
      aggregates = true;
    else if (ReferencesColumns(columns_[i].value))
      plainWithColumns = true;
  }
  if (aggregates && plainWithColumns && !query_.hasGroupBy)
    Fault("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  if (query_.hasHaving && !query_.hasGroupBy)
    Fault("A GROUP BY clause must exist in order to use the HAVING clause");
  implicitGrouping_ = !query_.hasGroupBy && aggregates;
  distinct_ = query_.distinct && !query_.hasGroupBy && !implicitGrouping_;
  singleCountStar_ = implicitGrouping_ && query_.sourceTables.size() == 1 && visibleCount_ == 1 &&
                     columns_.front().countStar;
  if (distinct_) {
    for (int i = 0; i < visibleCount_; ++i) {
      if (columns_[i].type == ftype::kBlob)
        Fault("Invalid BLOB column '" + columns_[i].name + "' specified in DISTINCT clause");
    }
  }
}

int TSelectQuery::FindColumn(std::string_view name, std::string_view correlation) const {
  for (int i = 0; i < visibleCount_; ++i) {
    const TResultColumn& c = columns_[i];
    if (c.aggregate == TAggregateKind::None && !c.computed && c.source != nullptr &&
        SameName(c.value->columnName, name) &&
        (correlation.empty() || SameName(c.source->correlationName, correlation)))
      return i;
    if (correlation.empty() && SameName(c.name, name)) return i;
  }
  return -1;
}

int TSelectQuery::ColumnOfReference(const TGroupByField& f, std::string_view clause,
                                    bool orderBy) const {
  const std::string where = " specified in " + std::string(clause) + " clause";
  if (f.byNumber) {
    if (f.columnNumber < 1 || f.columnNumber > visibleCount_ ||
        (orderBy && columns_[f.columnNumber - 1].type == ftype::kBlob))
      Fault("Invalid column number '" + std::to_string(f.columnNumber) + "'" + where);
    return static_cast<int>(f.columnNumber - 1);
  }
  const int i = FindColumn(f.columnName, f.correlationName);
  if (i < 0)
    Fault("Invalid column name '" + f.columnName + "' or table correlation name '" +
          f.correlationName + "'" + where);
  return i;
}

void TSelectQuery::ResolveGroupAndOrder() {
  if (query_.groupByFields.size() > static_cast<std::size_t>(kMaxColumns))
    Fault(MaxColumnsMessage("GROUP BY clause "));
  for (const TGroupByField& g : query_.groupByFields) {
    const int i = ColumnOfReference(g, "GROUP BY", false);
    if (columns_[i].type == ftype::kBlob)
      Fault("Invalid BLOB column '" + columns_[i].name + "' specified in GROUP BY clause");
    groupColumns_.push_back(i);
  }
  if (query_.orderByFields.size() > static_cast<std::size_t>(kMaxColumns))
    Fault(MaxColumnsMessage("ORDER BY clause "));
  bool ascending = true;
  for (const TOrderByField& o : query_.orderByFields) {
    const int i = ColumnOfReference(o, "ORDER BY", true);
    if (columns_[i].type == ftype::kBlob)
      Fault("Invalid BLOB column '" + columns_[i].name + "' specified in ORDER BY clause");
    orderColumns_.push_back({i, o.descending});
    ascending = ascending && !o.descending;
  }
  // The grouping's sort gives the order when ORDER BY asks for exactly its columns, ascending.
  if (orderColumns_.empty() || !ascending || query_.orderByNoCase) return;
  std::vector<int> ordered;
  for (const TOrderColumn& o : orderColumns_)
    ordered.push_back(o.column);
  if (!groupColumns_.empty() && ordered == groupColumns_) orderSatisfied_ = true;
  if (distinct_ && static_cast<int>(ordered.size()) == visibleCount_) {
    bool all = true;
    for (int i = 0; i < visibleCount_; ++i)
      all = all && ordered[i] == i;
    orderSatisfied_ = all;
  }
}

void TSelectQuery::CheckWhere() {
  sources_->CheckWhere();
}

void TSelectQuery::CheckHaving() {
  if (!query_.having) return;
  havingResolver_ = std::make_unique<THavingResolver>(*this);
  // Each aggregate must be one of the select list's and reads that column of the group.
  WalkSlots(query_.having, [&](TExpTokenPtr& slot) {
    TExpToken& n = *slot;
    if (n.kind != TNodeKind::Function || AggregateKindOf(n.op) == TAggregateKind::None) return;
    for (int i = 0; i < visibleCount_; ++i) {
      if (columns_[i].aggregate != TAggregateKind::None &&
          SameExpression(*columns_[i].item->expression, n)) {
        havingResolver_->Bind(n, i);
        return;
      }
    }
    Fault("Expression in HAVING clause not found in source columns");
  });
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = std::string(parsecontext::kHaving);
  options.condition = true;
  options.literalNamesColumns = true;
  options.bareBooleanColumns = true;
  TypeCheck(query_.having, options, *havingResolver_);
}

void TSelectQuery::CheckUnionMembers() {
  if (query_.inUnion || query_.nextUnion == nullptr) return;
  auto textOf = [](const TResultColumn& c) {
    const TResultField& f = *c.item;
    if (f.computed && !f.sourceText.empty()) return f.sourceText;
    return f.correlationName.empty() ? f.columnName : f.correlationName + "." + f.columnName;
  };
  const TDataQuery* before = &query_;
  for (const TDataQuery* m = query_.nextUnion; m != nullptr; before = m, m = m->nextUnion) {
    const TSelectQuery& member = *m->select;
    const std::string word = before->unionAll ? "UNION ALL" : "UNION";
    if (member.visibleCount_ != visibleCount_)
      Fault("The number of columns  in the " + word +
            " query must match the  number of columns in the master query");
    for (int i = 0; i < visibleCount_; ++i) {
      TResultColumn& a = columns_[i];
      const TResultColumn& b = member.columns_[i];
      const bool dates = (a.type == ftype::kDate || a.type == ftype::kTimestamp) &&
                         (b.type == ftype::kDate || b.type == ftype::kTimestamp);
      const bool same = IsStringColumn(a)   ? IsStringColumn(b)
                        : IsNumeric(a.type) ? IsNumeric(b.type)
                        : dates             ? true
                                            : a.type == b.type && a.subtype == b.subtype;
      if (!same)
        Fault("Type mismatch between column expression '" + textOf(a) + "' in the " + word +
              " query and column expression '" + textOf(b) + "' in the master query");
      // The master's column holds every member's values.
      if (IsStringColumn(a)) {
        if (b.type == ftype::kBlob) {
          a.type = ftype::kBlob;
          a.subtype = fsubtype::kMemo;
          a.size = 0;
          hasBlobColumns_ = true;
        } else if (a.type == ftype::kString) {
          a.size = std::max(a.size, b.size);
        }
      } else if (IsNumeric(a.type) && a.type != b.type) {
        if (a.type == ftype::kFloat || b.type == ftype::kFloat)
          a.type = ftype::kFloat;
        else if (a.type == ftype::kBcd || b.type == ftype::kBcd)
          a.type = ftype::kBcd;
        else if (a.type == ftype::kLargeInt || b.type == ftype::kLargeInt)
          a.type = ftype::kLargeInt;
        else
          a.type = ftype::kInteger;
        if (a.type != ftype::kFloat || b.subtype != fsubtype::kMoney) a.subtype = fsubtype::kNone;
        a.scale = a.type == ftype::kBcd ? std::max(a.scale, b.scale) : 0;
      } else if (IsNumeric(a.type)) {
        a.scale = std::max(a.scale, b.scale);
      } else if (dates && a.type != b.type) {
        a.type = ftype::kTimestamp;
      }
    }
  }
}

void TSelectQuery::DecideLive() {
  live_ = false;
  if (!statement_.RequestLive() || &query_ != statement_.Master() ||
      statement_.Queries().size() != 1 || query_.hasInto || query_.distinct ||
      query_.sourceTables.size() != 1 || query_.severalTables || query_.hasGroupBy ||
      implicitGrouping_ || query_.hasHaving || query_.top >= 0 || query_.nextUnion != nullptr ||
      !scan_->EveryConjunctFilterable())
    return;
  for (int i = 0; i < visibleCount_; ++i) {
    if (columns_[i].computed && columns_[i].type == ftype::kBlob) return;
  }
  FindOrderIndex();
  if (!orderColumns_.empty() && orderIndexSlot_ < 0) return;
  live_ = true;
  TDataCursor& cursor = sources_->Row(0).Cursor();
  if (cursor.ReadOnly()) {
    live_ = false;
    return;
  }
  for (int i = 0; i < visibleCount_; ++i) {
    const TResultColumn& c = columns_[i];
    liveColumns_.push_back({c.name, c.computed ? 0 : c.sourceField, c.value});
  }
}

void TSelectQuery::FindOrderIndex() {
  if (orderIndexSlot_ >= 0 || orderColumns_.empty() || orderSatisfied_ || !groupColumns_.empty() ||
      implicitGrouping_ || distinct_ || query_.nextUnion != nullptr || query_.inUnion)
    return;
  const TSourceTable* first = query_.sourceTables.front().get();
  TDataCursor& cursor = *first->cursor;
  std::vector<uint16_t> fields;
  bool strings = false;
  for (const TOrderColumn& o : orderColumns_) {
    const TResultColumn& c = columns_[o.column];
    if (c.aggregate != TAggregateKind::None || c.computed || c.source != first) return;
    fields.push_back(static_cast<uint16_t>(c.sourceField));
    strings = strings || IsStringColumn(c);
  }
  if (strings && cursor.LocaleId() != locale_) return;
  const TIndexFile& index = cursor.Table().Index();
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (!index.SlotInUse(slot)) continue;
    const TIndexDescriptor& d = index.Descriptor(slot);
    if (d.fields.size() < fields.size()) continue;
    if (strings && d.caseInsensitive != query_.orderByNoCase) continue;
    bool matches = true;
    for (std::size_t i = 0; i < fields.size() && matches; ++i) {
      const bool descending = d.descending || d.fieldDescending[i];
      matches = d.fields[i] == fields[i] && descending == orderColumns_[i].descending;
    }
    if (matches) {
      orderIndexSlot_ = slot;
      orderSatisfied_ = true;
      return;
    }
  }
}

TTableCreateParams TSelectQuery::ResultTableParams() const {
  TTableCreateParams p;
  p.languageId = static_cast<uint16_t>(locale_ & 0xFFFF);
  p.sortOrderId = static_cast<uint16_t>(locale_ >> 16);
  for (const TResultColumn& c : columns_) {
    TFieldDescriptor f;
    f.name = c.name;
    f.type = c.type;
    f.subtype = c.subtype;
    f.size = static_cast<uint8_t>(c.size);
    f.scale = static_cast<uint8_t>(c.scale);
    p.fields.push_back(std::move(f));
  }
  if (query_.encrypted) {
    p.encrypted = true;
    p.password = query_.password;
  }
  return p;
}

void TSelectQuery::CreateResultTable() {
  if (query_.hasInto) {
    temporaryResult_ = false;
    resultInMemory_ = query_.into.inMemory;
    if (resultInMemory_) {
      resultDirectoryObject_ = &statement_.MemoryDirectory();
      resultName_ = query_.into.fileName.empty() ? UniqueTemporaryTableName(std::string(), true)
                                                 : query_.into.Path();
    } else {
      resultDirectoryObject_ = statement_.Database();
      resultName_ = query_.into.Path();
    }
  } else if (implicitGrouping_ && !hasBlobColumns_ && query_.nextUnion == nullptr &&
             !query_.inUnion) {
    // A single row of totals is held in memory: no files are made and deleted for each run,
    // which is most of the cost of the short aggregate queries run one after another.
    resultInMemory_ = true;
    resultDirectoryObject_ = &statement_.MemoryDirectory();
    resultName_ = UniqueTemporaryTableName(std::string(), true);
  } else {
    ownDirectory_ = std::make_unique<TDataDirectory>(statement_.PrivateDirectory());
    resultDirectoryObject_ = ownDirectory_.get();
    resultName_ = UniqueTemporaryTableName(ownDirectory_->Path());
  }
  resultDirectory_ = resultDirectoryObject_->Path();
  TDataTable(resultDirectory_, resultName_, resultInMemory_).Create(ResultTableParams());
  resultCreated_ = true;
  result_ = std::make_unique<TDataCursor>(*resultDirectoryObject_);
  result_->SetTableName(resultName_);
  result_->SetInMemory(resultInMemory_);
  result_->SetExclusive(true);
  // A temporary result is this statement's own and deleted on release.
  result_->SetScratch(temporaryResult_);
  if (query_.encrypted) result_->SetPasswords({{query_.password}, {}});
  result_->Open();
  resultReader_ = std::make_unique<TRecordResolver>(result_->Table());
  if (havingResolver_) havingResolver_->SetReader(resultReader_.get());
  aggregator_ = std::make_unique<TAggregator>(result_->Format(), columns_);
  row_.assign(static_cast<std::size_t>(result_->RecordSize()), 0);
  group_.assign(row_.size(), 0);
}

void TSelectQuery::PlanRows() {
  plans_.clear();
  const TRecordFormat& format = result_->Format();
  for (const TResultColumn& c : columns_) {
    TRowPlan p;
    p.fieldNo = c.number;
    p.dstOffset = format.Field(c.number).offset;
    p.expression = c.value;
    TSourceRow* source = c.source != nullptr ? &sources_->RowOf(*c.source) : nullptr;
    const TFieldDescriptor* from =
        source != nullptr ? &source->Cursor().Format().Field(c.sourceField) : nullptr;
    const TFieldDescriptor& to = format.Field(c.number);
    if (c.countStar) {
      p.step = TRowStep::CountStar;
    } else if (c.hidden || c.aggregate == TAggregateKind::Count) {
      p.step = TRowStep::CountNotNull;
      if (from != nullptr && !IsAutoIncField(from->type, from->subtype)) {
        p.source = source;
        p.srcOffset = from->offset;
      }
    } else if (from != nullptr && IsAutoIncField(from->type, from->subtype) &&
               to.type == ftype::kInteger) {
      p.step = TRowStep::CopyAutoInc;
      p.source = source;
    } else if (from != nullptr && from->type == to.type && from->subtype == to.subtype &&
               from->physicalSize == to.physicalSize && from->scale == to.scale &&
               !IsBlobField(to.type)) {
      p.step = TRowStep::CopyField;
      p.source = source;
      p.srcOffset = from->offset;
      p.length = from->physicalSize + 1;
    } else {
      p.step = TRowStep::Evaluate;
    }
    plans_.push_back(p);
  }
}

}  // namespace mt
