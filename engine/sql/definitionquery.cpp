// TDefinitionQuery: CREATE TABLE, CREATE INDEX, ALTER TABLE, DROP TABLE and DROP INDEX.
#include "definitionquery.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <span>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/filehandler.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/fieldvalue.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/record.h"
#include "engine/storage/recordresolver.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/tablenames.h"
#include "engine/storage/tablerebuild.h"
#include "engine/storage/textindex.h"

namespace mt {
namespace {

[[noreturn]] void Fault(const std::string& message) {
  RaiseEngineError(err::kSqlError, {.extra = message});
}

uint8_t CaseModeOf(TCharCase c) {
  switch (c) {
    case TCharCase::Upper:
      return kCaseUpper;
    case TCharCase::Lower:
      return kCaseLower;
    case TCharCase::NoChange:
      break;
  }
  return kCaseAsGiven;
}

TFieldDescriptor FieldOf(const TCreateField& c) {
  TFieldDescriptor f;
  f.name = c.name;
  ApplyParsedType(f, c.type, c.subtype, c.size, c.scale);
  f.description = c.description;
  f.required = c.required;
  f.caseMode = CaseModeOf(c.charCase);
  f.defaultText = c.defaultText;
  f.minText = c.minText;
  f.maxText = c.maxText;
  return f;
}

// The descriptor of an index definition over a table's fields.
TIndexDescriptor IndexOf(const TCreateIndex& index, const std::vector<TFieldDescriptor>& fields) {
  TIndexDescriptor d;
  d.name = index.primary ? std::string() : index.name;
  d.unique = index.unique || index.primary;
  d.descending = index.descending;
  d.caseInsensitive = index.caseInsensitive;
  d.compression = static_cast<uint8_t>(index.compression);
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    const TIndexColumn& c = index.columns[i];
    const int position = FieldPosition(fields, c.name);
    if (position == 0)
      Fault("Invalid field name '" + c.name + "' specified for index '" + index.name + "'");
    d.fields.push_back(static_cast<uint16_t>(position));
    if (i < d.fieldDescending.size()) d.fieldDescending[i] = c.descending;
    if (c.noCase) d.caseInsensitive = true;
  }
  return d;
}

std::vector<uint16_t> TextFieldsOf(const std::vector<TIndexColumn>& columns,
                                   const std::vector<TFieldDescriptor>& fields) {
  std::vector<uint16_t> numbers;
  for (const TIndexColumn& c : columns) {
    const int position = FieldPosition(fields, c.name);
    if (position == 0) Fault("Invalid field name '" + c.name + "' specified for text index");
    numbers.push_back(static_cast<uint16_t>(position));
  }
  return numbers;
}

void SetCharacters(std::array<uint8_t, 32>& set, std::string_view characters) {
  set.fill(0);
  for (const char ch : characters) {
    const auto c = static_cast<uint8_t>(ch);
    set[c / 8] = static_cast<uint8_t>(set[c / 8] | (1u << (c % 8)));
  }
}

// The text index's word rules after the statement's STOP WORDS, SPACE CHARS and INCLUDE CHARS
// (each replaces its part); nullopt when none of them was given.
std::optional<TTextParameters> TextParametersOf(const TTableOptions& o,
                                                const TTextParameters& start) {
  if (!o.hasStopWords && !o.hasSpaceChars && !o.hasIncludeChars) return std::nullopt;
  TTextParameters p = start;
  if (o.hasStopWords) {
    p.stopWords.clear();
    std::string word;
    for (const char ch : o.stopWords + " ") {
      if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
        if (!word.empty()) p.stopWords.push_back(word);
        word.clear();
      } else {
        word += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch;
      }
    }
  }
  if (o.hasSpaceChars) SetCharacters(p.spaceChars, o.spaceChars);
  if (o.hasIncludeChars) SetCharacters(p.wordChars, o.includeChars);
  return p;
}

// The table a definition statement names: its directory, the name it is opened by, and the
// name its messages carry.
struct TTarget {
  std::string directory;
  std::string path;
  bool inMemory = false;

  std::string File(std::string_view extension) const {
    return TableFileName(directory, path, extension);
  }
  bool Exists() const { return TFileHandler(File(kDataExt), inMemory).Exists(); }
  std::string ErrorName() const { return File(""); }
};

// A column of the table being restructured: its new definition and the old field it takes
// its values from (0: none). `id` follows the column through renames and moves.
struct TPlannedColumn {
  TFieldDescriptor field;
  int source = 0;
  int id = 0;
};

// An index of the table being restructured: kept from the table (columns by id) or defined
// by the statement (columns by name, resolved against the final columns).
struct TPlannedIndex {
  TIndexDescriptor descriptor;
  std::vector<int> columnIds;
  const TCreateIndex* definition = nullptr;
};

class TRunner {
 public:
  TRunner(TQueryStatement& statement, TDataQuery& query)
      : statement_(statement),
        query_(query),
        directory_(query.Target()->table.inMemory ? std::string() : statement.Database()->Path()) {
    const TTableName& name = query.Target()->table;
    target_.directory = directory_.Path();
    target_.path = name.Path();
    target_.inMemory = name.inMemory;
  }

  void CreateTable();
  void CreateIndex();
  void AlterTable();
  void DropTable();
  void DropIndex();

 private:
  std::unique_ptr<TDataCursor> OpenExclusive(const std::string& path,
                                             const std::vector<std::string>& extraPasswords = {});
  // Writes the new table under the work name, copies every record into it and swaps it in.
  // `sources`: for each new field, the old field it is copied from (0: none).
  void Rebuild(std::unique_ptr<TDataCursor>& table, const TTableCreateParams& params,
               const std::vector<int>& sources, int32_t lastAutoInc,
               const std::optional<TTextParameters>& text, bool keepBackup);
  void CopyRecords(TDataCursor& from, TDataCursor& to, const std::vector<int>& sources);
  // The parameters that recreate the open table as it is.
  TTableCreateParams CurrentParams(TDataCursor& table) const;

  TQueryStatement& statement_;
  TDataQuery& query_;
  // A directory object of the statement's own: the definition statements take no part in the
  // database's transaction.
  TDataDirectory directory_;
  TTarget target_;
};

std::unique_ptr<TDataCursor> TRunner::OpenExclusive(
    const std::string& path, const std::vector<std::string>& extraPasswords) {
  auto cursor = std::make_unique<TDataCursor>(directory_);
  cursor->SetTableName(path);
  cursor->SetExclusive(true);
  cursor->SetInMemory(target_.inMemory);
  TPasswordSource passwords = statement_.Passwords();
  passwords.known.insert(passwords.known.end(), extraPasswords.begin(), extraPasswords.end());
  cursor->SetPasswords(std::move(passwords));
  cursor->SetOpenInBitmapOrder(true);
  if (const TSessionSettings* settings = statement_.SessionSettings())
    cursor->SetSettings(*settings);
  cursor->Open();
  return cursor;
}

void TRunner::CreateTable() {
  if (target_.Exists()) {
    if (query_.ifExistsClause) return;
    RaiseEngineError(err::kTableExists, {.table = target_.ErrorName()});
  }
  const TTableOptions& o = query_.tableOptions;
  TTableCreateParams p;
  if (query_.locale.given) {
    p.languageId = query_.locale.languageId;
    p.sortOrderId = query_.locale.sortOrderId;
  }
  for (const auto& c : query_.createFields)
    p.fields.push_back(FieldOf(*c));
  for (const auto& index : query_.createIndexes) {
    if (index->primary) p.indexes.primary = IndexOf(*index, p.fields);
  }
  if (o.hasTextIndex) p.indexes.textFields = TextFieldsOf(o.textIndexColumns, p.fields);
  if (o.hasDescription) p.description = o.description;
  if (o.hasBlobBlockSize) p.blobBlockSize = o.blobBlockSize;
  if (query_.encryptionGiven && query_.encrypted) {
    p.encrypted = true;
    p.password = query_.password;
  }
  p.userMajor = static_cast<uint16_t>(o.hasUserMajor ? o.userMajor : 1);
  p.userMinor = static_cast<uint16_t>(o.hasUserMinor ? o.userMinor : 0);
  TDataTable(target_.directory, target_.path, target_.inMemory).Create(p);

  const std::optional<TTextParameters> text = TextParametersOf(o, TTextParameters::Defaults());
  if (!o.hasLastAutoInc && !text) return;
  try {
    std::unique_ptr<TDataCursor> table = OpenExclusive(target_.path, {p.password});
    if (o.hasLastAutoInc) table->Table().Data().SetLastAutoInc(o.lastAutoInc);
    if (text) table->Table().Index().Text().SetParameters(*text);
    table->Close();
  } catch (...) {
    // The statement failed: the table it made goes again.
    try {
      TDataTable(target_.directory, target_.path, target_.inMemory).Delete();
    } catch (const std::exception&) {
    }
    throw;
  }
}

void TRunner::CreateIndex() {
  std::unique_ptr<TDataCursor> table = OpenExclusive(target_.path);
  const TCreateIndex& index = *query_.createIndexes.at(0);
  const TIndexFileHeader& h = table->Table().Index().Header();
  if (query_.ifExistsClause) {
    for (int slot = 1; slot <= h.secondaryCount; ++slot) {
      if (SameName(h.slots[slot].name, index.name)) return;
    }
  }
  table->Table().AddIndex(IndexOf(index, table->Format().Fields()), false);
  table->Close();
}

void TRunner::DropTable() {
  if (!target_.Exists()) {
    if (query_.ifExistsClause) return;
    RaiseEngineError(err::kTableNotFound, {.table = target_.ErrorName()});
  }
  // Opening exclusively refuses while anyone has the table open, asks for its password and
  // mends a cut-off rebuild; deleting checks the files are free again.
  OpenExclusive(target_.path)->Close();
  TDataTable(target_.directory, target_.path, target_.inMemory).Delete();
}

TTableCreateParams TRunner::CurrentParams(TDataCursor& table) const {
  const TDataFile& data = table.Table().Data();
  const TIndexFileHeader& h = table.Table().Index().Header();
  TTableCreateParams p;
  p.languageId = data.LanguageId();
  p.sortOrderId = data.SortOrderId();
  p.fields = table.Format().Fields();
  p.blobBlockSize = data.Header().EffectiveBlobBlockSize();
  p.description = data.Description();
  p.encrypted = data.Encrypted();
  p.password = data.Password();
  p.userMajor = data.UserMajor();
  p.userMinor = data.UserMinor();
  // The definitions only: the new index file gets pages of its own.
  const auto definition = [](TIndexDescriptor d) {
    d.rootPage = 0;
    d.freeChain = 0;
    d.parameterPage = 0;
    return d;
  };
  if (table.Table().HasPrimaryIndex()) p.indexes.primary = definition(h.slots[kPrimarySlot]);
  for (int slot = 1; slot <= h.secondaryCount; ++slot)
    p.indexes.secondaries.push_back(definition(h.slots[slot]));
  p.indexes.textFields = h.slots[kTextSlot].fields;
  return p;
}

void TRunner::DropIndex() {
  std::unique_ptr<TDataCursor> table = OpenExclusive(target_.path);
  TTableCreateParams p = CurrentParams(*table);
  const std::string& name = query_.dropIndexName;
  bool found = false;
  if (SameName(name, "PRIMARY")) {
    found = p.indexes.primary.has_value();
    p.indexes.primary.reset();
  } else {
    auto& s = p.indexes.secondaries;
    const auto it = std::find_if(s.begin(), s.end(),
                                 [&](const TIndexDescriptor& d) { return SameName(d.name, name); });
    found = it != s.end();
    if (found) s.erase(it);
  }
  if (!found) {
    if (query_.ifExistsClause) return;
    table->IndexSlotOf(name);  // raises the storage's error for an unknown index
    Fault("Index " + name + " not found");
  }
  std::vector<int> sources(p.fields.size());
  for (std::size_t i = 0; i < sources.size(); ++i)
    sources[i] = static_cast<int>(i + 1);
  const int32_t lastAutoInc = table->Table().Data().LastAutoInc();
  std::optional<TTextParameters> text = table->Table().Index().Text().Parameters();
  if (text == TTextParameters::Defaults()) text.reset();
  Rebuild(table, p, sources, lastAutoInc, text, false);
}

void TRunner::AlterTable() {
  std::unique_ptr<TDataCursor> table = OpenExclusive(target_.path);
  TTableCreateParams p = CurrentParams(*table);

  std::vector<TPlannedColumn> columns;
  std::vector<std::string> namesById;  // the old names, for messages about dropped columns
  for (std::size_t i = 0; i < p.fields.size(); ++i) {
    columns.push_back({p.fields[i], static_cast<int>(i + 1), static_cast<int>(i)});
    namesById.push_back(p.fields[i].name);
  }
  const auto planned = [&](const TIndexDescriptor& d) {
    TPlannedIndex index{.descriptor = d};
    for (const uint16_t field : d.fields)
      index.columnIds.push_back(field - 1);
    return index;
  };
  std::optional<TPlannedIndex> primary;
  if (p.indexes.primary) primary = planned(*p.indexes.primary);
  std::vector<TPlannedIndex> secondaries;
  for (const TIndexDescriptor& d : p.indexes.secondaries)
    secondaries.push_back(planned(d));
  std::vector<int> textIds;
  for (const uint16_t field : p.indexes.textFields)
    textIds.push_back(field - 1);

  const auto find = [&](const std::string& name) {
    const auto it = std::find_if(columns.begin(), columns.end(), [&](const TPlannedColumn& c) {
      return SameName(c.field.name, name);
    });
    if (it == columns.end()) Fault("Column " + name + " not found");
    return it;
  };
  for (const TAlterAction& a : query_.alterActions) {
    switch (a.kind) {
      case TAlterKind::AddColumn: {
        if (a.hasPosition && a.position < 1)
          Fault("AT column position must be greater than or equal to 1");
        const std::size_t at =
            a.hasPosition
                ? std::min<std::size_t>(static_cast<std::size_t>(a.position) - 1, columns.size())
                : columns.size();
        namesById.push_back(a.field->name);
        columns.insert(columns.begin() + static_cast<std::ptrdiff_t>(at),
                       {FieldOf(*a.field), 0, static_cast<int>(namesById.size() - 1)});
        break;
      }
      case TAlterKind::RedefineColumn:
        find(a.columnName)->field = FieldOf(*a.field);
        break;
      case TAlterKind::DropColumn:
        columns.erase(find(a.columnName));
        break;
      case TAlterKind::AddPrimaryKey:
        if (primary) Fault("Cannot REDEFINE the primary key using the ADD keyword");
        primary = TPlannedIndex{.definition = a.index};
        break;
      case TAlterKind::RedefinePrimaryKey:
        primary = TPlannedIndex{.definition = a.index};
        break;
      case TAlterKind::DropPrimaryKey:
        primary.reset();
        break;
    }
  }

  // The new definition.
  TTableCreateParams n = p;
  n.fields.clear();
  std::vector<int> sources;
  for (const TPlannedColumn& c : columns) {
    TFieldDescriptor f = c.field;
    f.number = 0;
    f.offset = 0;
    n.fields.push_back(std::move(f));
    sources.push_back(c.source);
  }
  const auto positionOf = [&](int id, const std::string& indexName) -> uint16_t {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].id == id) return static_cast<uint16_t>(i + 1);
    }
    Fault("Column " + namesById[static_cast<std::size_t>(id)] +
          " cannot be dropped: it is used by the index " + indexName);
  };
  const auto resolve = [&](const TPlannedIndex& index, const std::string& label) {
    if (index.definition != nullptr) return IndexOf(*index.definition, n.fields);
    TIndexDescriptor d = index.descriptor;
    d.fields.clear();
    for (const int id : index.columnIds)
      d.fields.push_back(positionOf(id, label));
    return d;
  };
  n.indexes.primary.reset();
  if (primary) n.indexes.primary = resolve(*primary, "PRIMARY");
  n.indexes.secondaries.clear();
  for (const TPlannedIndex& index : secondaries)
    n.indexes.secondaries.push_back(resolve(index, "'" + index.descriptor.name + "'"));
  n.indexes.textFields.clear();
  const TTableOptions& o = query_.tableOptions;
  if (o.hasTextIndex) {
    n.indexes.textFields = TextFieldsOf(o.textIndexColumns, n.fields);
  } else {
    for (const int id : textIds)
      n.indexes.textFields.push_back(positionOf(id, "Sys Text"));
  }

  // The table options the statement gives; the others stay the table's.
  if (query_.locale.given) {
    n.languageId = query_.locale.languageId;
    n.sortOrderId = query_.locale.sortOrderId;
  }
  if (o.hasDescription) n.description = o.description;
  if (o.hasBlobBlockSize) n.blobBlockSize = o.blobBlockSize;
  if (query_.encryptionGiven) {
    n.encrypted = query_.encrypted;
    n.password = query_.encrypted ? query_.password : std::string();
  }
  if (o.hasUserMajor) n.userMajor = static_cast<uint16_t>(o.userMajor);
  if (o.hasUserMinor) n.userMinor = static_cast<uint16_t>(o.userMinor);
  const int32_t lastAutoInc =
      o.hasLastAutoInc ? o.lastAutoInc : table->Table().Data().LastAutoInc();
  std::optional<TTextParameters> text =
      TextParametersOf(o, table->Table().Index().Text().Parameters())
          .value_or(table->Table().Index().Text().Parameters());
  if (text == TTextParameters::Defaults()) text.reset();
  Rebuild(table, n, sources, lastAutoInc, text, !o.noBackup);
}

void TRunner::Rebuild(std::unique_ptr<TDataCursor>& table, const TTableCreateParams& params,
                      const std::vector<int>& sources, int32_t lastAutoInc,
                      const std::optional<TTextParameters>& text, bool keepBackup) {
  TTableRebuild rebuild(target_.directory, target_.path, target_.inMemory, keepBackup);
  const std::string& workName = rebuild.WorkTableName();
  TDataTable(target_.directory, workName, target_.inMemory).Create(params);
  {
    std::unique_ptr<TDataCursor> work = OpenExclusive(workName, {params.password});
    work->SetKeepSuppliedValues(true);
    CopyRecords(*table, *work, sources);
    TDataTable& t = work->Table();
    t.Data().SetLastAutoInc(std::max(lastAutoInc, t.Data().LastAutoInc()));
    if (text) t.Index().Text().SetParameters(*text);
    t.FlushBuffers();
    t.FlushToDisk();
    work->Close();
  }
  table->Close();
  table.reset();
  rebuild.Commit();
}

void TRunner::CopyRecords(TDataCursor& from, TDataCursor& to, const std::vector<int>& sources) {
  const TRecordFormat& in = from.Format();
  const TRecordFormat& out = to.Format();
  TRecordResolver reader(from.Table());
  struct TCopy {
    int to = 0;
    int from = 0;
    bool raw = false;  // the same stored form: the bytes are copied
    TExpTokenPtr column;
  };
  std::vector<TCopy> copies;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (sources[i] == 0) continue;
    TCopy c{.to = static_cast<int>(i + 1), .from = sources[i]};
    const TFieldDescriptor& a = in.Field(c.from);
    const TFieldDescriptor& b = out.Field(c.to);
    c.raw = SameStoredForm(a, b);
    if (!c.raw) {
      c.column = NewExpToken();
      c.column->kind = TNodeKind::Column;
      c.column->columnName = a.name;
      if (!reader.ResolveColumn(*c.column)) Fault("Column " + a.name + " not found");
    }
    copies.push_back(std::move(c));
  }
  std::vector<uint8_t> source(static_cast<std::size_t>(from.RecordSize()));
  std::vector<uint8_t> record(static_cast<std::size_t>(to.RecordSize()));
  const uint64_t total = from.RecordCount();
  uint64_t visited = 0;
  int lastPercent = 0;
  from.ChooseBitmapOrder();
  from.First();
  while (from.Next(source.data()) == TDataCursor::kRecordRead) {
    reader.SetImage(source.data());
    InsertNewRecord(to, record.data(), [&] {
      // The record keeps its auto-increment value (its identifier in the record-id index).
      std::copy(source.begin() + rec::kAutoInc, source.begin() + rec::kFirstField,
                record.begin() + rec::kAutoInc);
      for (const TCopy& c : copies) {
        if (c.raw) {
          out.CopyStoredField(c.to, record.data(), in, c.from, source.data());
          continue;
        }
        TExpTokenPtr value = NewExpToken();
        value->type = c.column->type;
        value->subtype = c.column->subtype;
        value->size = c.column->size;
        value->scale = c.column->scale;
        reader.ReadColumn(*c.column, *value);
        if (!PutCursorFieldValue(to, c.to, record.data(), *value, false)) {
          Fault("The value " + ValueToText(*value) + " of column " + in.Field(c.from).name +
                " does not convert to the column's new type");
        }
      }
    });
    if (!statement_.ReportScanProgress(++visited, total, lastPercent))
      Fault("ALTER TABLE was stopped; the table is unchanged");
  }
}

}  // namespace

TDefinitionQuery::TDefinitionQuery(TQueryStatement& statement, TDataQuery& query)
    : statement_(statement), query_(query) {}

void TDefinitionQuery::Execute() {
  const auto started = std::chrono::steady_clock::now();
  if (query_.Target() == nullptr) Fault("The statement names no table");
  if (!query_.Target()->table.inMemory && statement_.Database() == nullptr)
    Fault("The statement has no database to run against");
  TRunner runner(statement_, query_);
  switch (query_.kind) {
    case TStatementKind::CreateTable:
      runner.CreateTable();
      break;
    case TStatementKind::CreateIndex:
      runner.CreateIndex();
      break;
    case TStatementKind::AlterTable:
      runner.AlterTable();
      break;
    case TStatementKind::DropTable:
      runner.DropTable();
      break;
    case TStatementKind::DropIndex:
      runner.DropIndex();
      break;
    default:
      Fault("Not a data definition statement");
  }
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace mt
