// TQuerySources: the cursors of a query's tables, their current rows, and column resolution
// and reading across them.
#include "querysources.h"

#include <cstring>
#include <functional>

#include "engine/common/engineerror.h"
#include "engine/common/expfunctions.h"
#include "engine/common/expparser.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/selectquery.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/recordresolver.h"

namespace mt {

TQuerySources::TQuerySources(TQueryStatement& statement, TDataQuery& query)
    : statement_(statement), query_(query) {}

TQuerySources::~TQuerySources() {
  Close();
}

void TQuerySources::OpenCursor(TSourceTable& source, bool readOnly) {
  if (source.cursor && source.cursor->IsOpen()) return;
  TDataDirectory* directory =
      source.table.inMemory ? &statement_.MemoryDirectory() : statement_.Database();
  if (directory == nullptr) RaiseEngineError(err::kTableNotFound, {.table = source.table.name});
  auto cursor = std::make_unique<TDataCursor>(*directory);
  cursor->SetTableName(source.table.Path());
  cursor->SetReadOnly(readOnly);
  cursor->SetInMemory(source.table.inMemory);
  cursor->SetPasswords(statement_.Passwords());
  if (const TSessionSettings* settings = statement_.SessionSettings())
    cursor->SetSettings(*settings);
  cursor->Open();
  source.cursor = std::move(cursor);
}

void TQuerySources::Open(bool readOnly) {
  if (!rows_.empty()) return;
  rows_.reserve(query_.sourceTables.size());
  try {
    for (const auto& source : query_.sourceTables) {
      OpenCursor(*source, readOnly);
      TSourceRow row;
      row.table = source.get();
      row.reader = std::make_unique<TRecordResolver>(source->cursor->Table());
      row.image.assign(static_cast<std::size_t>(source->cursor->RecordSize()), 0);
      rows_.push_back(std::move(row));
    }
  } catch (...) {
    Close();
    throw;
  }
}

void TQuerySources::Close() {
  rows_.clear();
  for (const auto& source : query_.sourceTables) {
    if (source->cursor) source->cursor->Close();
    source->cursor.reset();
  }
  namedTables_.clear();
}

TSourceTable* TQuerySources::FindCorrelation(std::string_view correlation) const {
  for (const auto& source : query_.sourceTables) {
    if (SameName(source->correlationName, correlation)) return source.get();
  }
  return nullptr;
}

TSourceTable* TQuerySources::FindOpenTable(std::string_view name) const {
  const std::string bare = BareFileName(name);
  for (const auto& source : query_.sourceTables) {
    if (SameName(source->table.name, bare) || SameName(source->correlationName, bare))
      return source.get();
  }
  for (const auto& named : namedTables_) {
    if (SameName(named->table.name, bare)) return named.get();
  }
  return nullptr;
}

uint32_t TQuerySources::FirstLocale() const {
  return rows_.empty() ? 0 : rows_.front().Cursor().LocaleId();
}

namespace {

// The slot of the tree holding `target`; nullptr when it is not in the tree.
TExpTokenPtr* FindSlot(TExpTokenPtr& slot, const TExpToken* target) {
  if (!slot) return nullptr;
  if (slot.get() == target) return &slot;
  if (TExpTokenPtr* s = FindSlot(slot->left, target)) return s;
  if (TExpTokenPtr* s = FindSlot(slot->right, target)) return s;
  for (auto& a : slot->arguments) {
    if (TExpTokenPtr* s = FindSlot(a, target)) return s;
  }
  return nullptr;
}

}  // namespace

void TQuerySources::OpenNamedTables(const std::vector<const TExpToken*>& trees) {
  for (const TExpToken* tree : trees) {
    ForEachNode(tree, [&](const TExpToken& n) {
      if (!CallsWithArguments(n, TArgumentUse::TableName)) return;
      const std::string name = n.arguments.empty() ? std::string() : n.arguments[0]->StringValue();
      if (FindOpenTable(name) != nullptr) return;
      auto table = std::make_unique<TSourceTable>();
      table->table.fileName = name;
      const std::size_t slash = name.rfind('/');
      if (slash != std::string::npos) {
        table->table.directory = name.substr(0, slash + 1);
        table->table.fileName = name.substr(slash + 1);
      }
      table->table.name = BareFileName(table->table.fileName);
      table->correlationName = table->table.name;
      auto illegal = [] {
        RaiseEngineError(err::kSqlError,
                         {.extra = "Illegal use of LASTAUTOINC() or IDENT_CURRENT() functions"});
      };
      if (table->table.name.empty()) illegal();
      try {
        OpenCursor(*table, true);
      } catch (const EEngineError&) {
        illegal();
      }
      namedTables_.push_back(std::move(table));
    });
  }
}

void TQuerySources::CheckWhere() {
  if (!query_.where) return;
  std::function<void(const TExpToken*)> checkNames = [&](const TExpToken* n) {
    if (n == nullptr) return;
    if (n->kind == TNodeKind::Column && !n->correlationName.empty() &&
        FindCorrelation(n->correlationName) == nullptr)
      RaiseEngineError(err::kSqlError, {.extra = "Table correlation name '" + n->correlationName +
                                                 "' referenced in WHERE clause is not defined "
                                                 "in the FROM clause"});
    checkNames(n->left.get());
    checkNames(n->right.get());
    for (const auto& a : n->arguments)
      checkNames(a.get());
  };
  checkNames(query_.where.get());
  // The ON conditions are parts of the tree; the checker may put a new node above one (a bare
  // BOOLEAN column becomes a comparison), so each join follows its condition's slot.
  std::vector<TExpTokenPtr*> slots;
  for (const TTableJoin& j : query_.joins)
    slots.push_back(FindSlot(query_.where, j.condition));
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = std::string(parsecontext::kWhereOrJoin);
  options.condition = true;
  options.literalNamesColumns = true;
  options.bareBooleanColumns = true;
  TypeCheck(query_.where, options, *this);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] != nullptr) query_.joins[i].condition = slots[i]->get();
  }
}

// ---- Columns

bool TQuerySources::ResolveColumn(TExpToken& node) {
  auto resolveIn = [&node](TSourceRow& row) {
    // The table's own resolver knows its fields under the table's name only.
    const std::string correlation = std::move(node.correlationName);
    node.correlationName.clear();
    const bool found = row.reader->ResolveColumn(node);
    node.correlationName = correlation;
    if (found) node.columnSource = row.table;
    return found;
  };
  if (!node.correlationName.empty()) {
    TSourceTable* table = FindCorrelation(node.correlationName);
    return table != nullptr && !rows_.empty() && resolveIn(RowOf(*table));
  }
  for (TSourceRow& row : rows_) {
    if (resolveIn(row)) return true;
  }
  return false;
}

TSourceRow* TQuerySources::RowOfColumn(const TExpToken& column) {
  const TSourceTable* table = SourceTableOf(column);
  if (table == nullptr || table->position < 1 ||
      static_cast<std::size_t>(table->position) > rows_.size())
    return nullptr;
  TSourceRow& row = rows_[static_cast<std::size_t>(table->position) - 1];
  return row.table == table ? &row : nullptr;
}

bool TQuerySources::ReadColumn(const TExpToken& column, TExpToken& into) {
  TSourceRow* row = RowOfColumn(column);
  if (row == nullptr) return false;
  if (!row->onRow) {
    std::memset(into.value.Data(), 0, into.value.Capacity());
    into.isNull = true;
    return true;
  }
  row->reader->SetImage(row->Current());
  return row->reader->ReadColumn(column, into);
}

bool TQuerySources::TextSearch(const TExpToken& column, std::string_view words) {
  TSourceRow* row = RowOfColumn(column);
  if (row == nullptr || !row->onRow) return false;
  row->reader->SetImage(row->Current());
  return row->reader->TextSearch(column, words);
}

int32_t TQuerySources::TextOccurs(const TExpToken& column, std::string_view words) {
  TSourceRow* row = RowOfColumn(column);
  if (row == nullptr || !row->onRow) return 0;
  row->reader->SetImage(row->Current());
  return row->reader->TextOccurs(column, words);
}

int32_t TQuerySources::LastAutoInc(std::string_view tableName) {
  TSourceTable* table = FindOpenTable(tableName);
  if (table == nullptr || !table->cursor) return 0;
  return table->cursor->Table().Data().LastAutoInc();
}

// ---- Sub-selects

bool TQuerySources::CheckSubSelect(TExpToken& subSelect) {
  TDataQuery* sub = SubQueryOf(subSelect);
  if (sub == nullptr || !sub->select || sub->select->VisibleColumnCount() != 1) return false;
  const TResultColumn& c = sub->select->Columns().front();
  subSelect.type = c.type;
  subSelect.subtype = c.subtype;
  subSelect.size = FieldPhysicalSize(c.type, c.subtype, c.size);
  subSelect.scale = c.scale;
  return true;
}

bool TQuerySources::SubSelectContains(const TExpToken& subSelect, const TExpToken& value) {
  TDataQuery* sub = SubQueryOf(subSelect);
  return sub != nullptr && sub->select && sub->select->SubSelectContains(value);
}

}  // namespace mt
