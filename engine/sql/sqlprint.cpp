// The one-line text of parse results.
#include "sqlprint.h"

#include <string_view>

#include "engine/sql/querystatement.h"

namespace mt {
namespace {

class TPrinter {
 public:
  std::string Take() { return std::move(out_); }

  void Query(const TDataQuery& q);

 private:
  TPrinter& Add(std::string_view s) {
    out_ += s;
    return *this;
  }
  TPrinter& Add(int64_t n) {
    out_ += std::to_string(n);
    return *this;
  }
  // " WORD" when on.
  void Flag(bool on, std::string_view word) {
    if (on) Add(" ").Add(word);
  }
  TPrinter& Quoted(std::string_view s) { return Add("'").Add(s).Add("'"); }
  void Tree(const TExpToken* tree) { Add(ExpTreeToText(tree)); }

  void Table(const TTableName& t);
  void Source(const TSourceTable& s);
  void Sources(const TDataQuery& q, std::size_t from);
  void Joins(const TDataQuery& q);
  void Where(const TDataQuery& q);
  void Column(std::string_view correlation, std::string_view name);
  void GroupItem(const TGroupByField& f);
  void Locale(const TDataQuery& q);
  void Encryption(const TDataQuery& q);
  void ChangeOptions(const TDataQuery& q);
  void Field(const TCreateField& f);
  void IndexColumns(const std::vector<TIndexColumn>& columns);
  void Compression(TIndexCompression c);
  void PrimaryKey(const TCreateIndex& index);
  void TableOptions(const TDataQuery& q);

  void Select(const TDataQuery& q);
  void SelectBody(const TDataQuery& q, bool orderAndTop);
  void OrderAndTop(const TDataQuery& q);
  void Insert(const TDataQuery& q);
  void Update(const TDataQuery& q);
  void CreateTable(const TDataQuery& q);
  void CreateIndex(const TDataQuery& q);
  void Alter(const TDataQuery& q);

  std::string out_;
};

void TPrinter::Table(const TTableName& t) {
  if (t.inMemory) Add("MEMORY");
  if (t.inMemory && !t.fileName.empty()) Add(" ");
  Add(t.Path());
}

void TPrinter::Source(const TSourceTable& s) {
  Table(s.table);
  if (s.correlationName != s.table.name) Add(" ").Add(s.correlationName);
}

void TPrinter::Sources(const TDataQuery& q, std::size_t from) {
  for (std::size_t i = from; i < q.sourceTables.size(); ++i) {
    if (i > from) Add(", ");
    Source(*q.sourceTables[i]);
  }
}

void TPrinter::Joins(const TDataQuery& q) {
  static constexpr std::string_view kNames[] = {"", "INNER", "LEFT", "RIGHT"};
  for (const TTableJoin& j : q.joins) {
    Add(" JOIN ").Add(kNames[static_cast<int>(j.type)]).Add(" ");
    Add(j.left->correlationName).Add("-").Add(j.right->correlationName).Add(" ON ");
    Tree(j.condition);
  }
}

void TPrinter::Where(const TDataQuery& q) {
  if (q.where) {
    Add(" WHERE ");
    Tree(q.where.get());
  }
}

void TPrinter::Column(std::string_view correlation, std::string_view name) {
  if (!correlation.empty()) Add(correlation).Add(".");
  Add(name);
}

void TPrinter::GroupItem(const TGroupByField& f) {
  if (f.byNumber) {
    Add("#").Add(f.columnNumber);
  } else {
    Column(f.correlationName, f.columnName);
  }
}

void TPrinter::Locale(const TDataQuery& q) {
  if (!q.locale.given) return;
  Add(" LANGUAGE ").Add(q.locale.languageId).Add(" SORT ").Add(q.locale.sortOrderId);
}

void TPrinter::Encryption(const TDataQuery& q) {
  if (!q.encryptionGiven) return;
  Add(" ENCRYPTED ");
  if (q.encrypted) {
    Quoted(q.password);
  } else {
    Add("NONE");
  }
}

void TPrinter::ChangeOptions(const TDataQuery& q) {
  Flag(q.noAutoInc, "NOAUTOINC");
  if (q.commitInterval >= 0 || q.commitFlush) Add(" COMMIT");
  if (q.commitInterval >= 0) Add(" INTERVAL ").Add(q.commitInterval);
  Flag(q.commitFlush, "FLUSH");
  Flag(q.noJoinOptimize, "NOJOINOPTIMIZE");
}

void TPrinter::Query(const TDataQuery& q) {
  switch (q.kind) {
    case TStatementKind::Select:
      Select(q);
      return;
    case TStatementKind::Insert:
      Insert(q);
      return;
    case TStatementKind::Update:
      Update(q);
      return;
    case TStatementKind::Delete:
      Add("DELETE FROM ");
      Sources(q, 0);
      Joins(q);
      Where(q);
      ChangeOptions(q);
      return;
    case TStatementKind::CreateTable:
      CreateTable(q);
      return;
    case TStatementKind::CreateIndex:
      CreateIndex(q);
      return;
    case TStatementKind::AlterTable:
      Alter(q);
      return;
    case TStatementKind::DropTable:
      Add("DROP TABLE");
      Flag(q.ifExistsClause, "IF EXISTS");
      Add(" ");
      Source(*q.Target());
      return;
    case TStatementKind::DropIndex:
      Add("DROP INDEX");
      Flag(q.ifExistsClause, "IF EXISTS");
      Add(" ");
      Source(*q.Target());
      Add(".").Add(q.dropIndexName);
      return;
    case TStatementKind::Commit:
      Add("COMMIT");
      Flag(q.commitFlush, "FLUSH");
      return;
    case TStatementKind::StartTransaction:
    case TStatementKind::Rollback:
    case TStatementKind::Unknown:
      Add(StatementKindName(q.kind));
      return;
  }
}

// A UNION chain shows its first query's ORDER BY and TOP after the last member, where they
// apply to the whole result.
void TPrinter::Select(const TDataQuery& q) {
  const bool chain = q.nextUnion != nullptr;
  SelectBody(q, !chain);
  for (const TDataQuery* m = &q; m->nextUnion != nullptr; m = m->nextUnion) {
    Add(m->unionAll ? " UNION ALL " : " UNION ");
    SelectBody(*m->nextUnion, true);  // a member has no ORDER BY; its TOP is its own
  }
  if (chain) OrderAndTop(q);
}

void TPrinter::OrderAndTop(const TDataQuery& q) {
  if (q.hasOrderBy) {
    Add(" ORDER BY ");
    for (std::size_t i = 0; i < q.orderByFields.size(); ++i) {
      if (i > 0) Add(", ");
      GroupItem(q.orderByFields[i]);
      Flag(q.orderByFields[i].descending, "DESC");
    }
    Flag(q.orderByNoCase, "NOCASE");
  }
  if (q.top >= 0) Add(" TOP ").Add(q.top);
}

void TPrinter::SelectBody(const TDataQuery& q, bool orderAndTop) {
  if (q.parenthesised) Add("(");
  Add("SELECT");
  Flag(q.distinct, "DISTINCT");
  for (std::size_t i = 0; i < q.resultFields.size(); ++i) {
    const TResultField& f = q.resultFields[i];
    Add(i == 0 ? " " : ", ");
    Tree(f.expression.get());
    if (!f.alias.empty()) Add(" AS ").Add(f.alias);
    if (f.computed) Add(" {").Add(f.sourceText).Add("}");
  }
  if (q.hasInto) {
    Add(" INTO ");
    Table(q.into);
  }
  Add(" FROM ");
  Sources(q, 0);
  Joins(q);
  Where(q);
  if (q.hasGroupBy) {
    Add(" GROUP BY ");
    for (std::size_t i = 0; i < q.groupByFields.size(); ++i) {
      if (i > 0) Add(", ");
      GroupItem(q.groupByFields[i]);
    }
  }
  if (q.having) {
    Add(" HAVING ");
    Tree(q.having.get());
  }
  if (orderAndTop) OrderAndTop(q);
  Flag(q.withLocks, "WITH LOCKS");
  Locale(q);
  Encryption(q);
  Flag(q.noJoinOptimize, "NOJOINOPTIMIZE");
  if (q.parenthesised) Add(")");
}

void TPrinter::Insert(const TDataQuery& q) {
  Add("INSERT INTO ");
  Source(*q.Target());
  if (!q.updateFields.empty()) {
    Add(" (");
    for (std::size_t i = 0; i < q.updateFields.size(); ++i) {
      if (i > 0) Add(", ");
      Column(q.updateFields[i].correlationName, q.updateFields[i].columnName);
    }
    Add(")");
  }
  if (q.insertSource) {
    Add(" ");
    Select(*q.insertSource);
  } else {
    Add(" VALUES (");
    for (std::size_t i = 0; i < q.updateValues.size(); ++i) {
      if (i > 0) Add(", ");
      Tree(q.updateValues[i].expression.get());
    }
    Add(")");
  }
  ChangeOptions(q);
}

void TPrinter::Update(const TDataQuery& q) {
  Add("UPDATE ");
  Source(*q.Target());
  Add(" SET ");
  for (std::size_t i = 0; i < q.updateFields.size(); ++i) {
    if (i > 0) Add(", ");
    Column(q.updateFields[i].correlationName, q.updateFields[i].columnName);
    Add(" = ");
    Tree(i < q.updateValues.size() ? q.updateValues[i].expression.get() : nullptr);
  }
  if (q.sourceTables.size() > 1) {
    Add(" FROM ");
    Sources(q, 1);
  }
  Joins(q);
  Where(q);
  ChangeOptions(q);
}

void TPrinter::Field(const TCreateField& f) {
  Add(f.name).Add(" ").Add(f.type).Add("/").Add(f.subtype).Add("/").Add(f.size).Add("/");
  Add(f.scale);
  Flag(f.required, "NOT NULL");
  if (!f.description.empty()) Add(" DESCRIPTION ").Quoted(f.description);
  if (!f.defaultText.empty()) Add(" DEFAULT ").Quoted(f.defaultText);
  if (!f.minText.empty()) Add(" MIN ").Quoted(f.minText);
  if (!f.maxText.empty()) Add(" MAX ").Quoted(f.maxText);
  Flag(f.charCase == TCharCase::Upper, "CHARCASE UPPER");
  Flag(f.charCase == TCharCase::Lower, "CHARCASE LOWER");
}

void TPrinter::IndexColumns(const std::vector<TIndexColumn>& columns) {
  Add("(");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) Add(", ");
    Add(columns[i].name);
    Flag(columns[i].descending, "DESC");
    Flag(columns[i].noCase, "NOCASE");
  }
  Add(")");
}

void TPrinter::Compression(TIndexCompression c) {
  static constexpr std::string_view kNames[] = {"NONE", "DUPBYTE", "TRAILBYTE", "FULL"};
  if (c != TIndexCompression::None) Add(" COMPRESS ").Add(kNames[static_cast<int>(c)]);
}

void TPrinter::PrimaryKey(const TCreateIndex& index) {
  Add("PRIMARY KEY");
  if (!index.name.empty()) Add(" ").Add(index.name);
  Add(" ");
  IndexColumns(index.columns);
  Compression(index.compression);
}

void TPrinter::TableOptions(const TDataQuery& q) {
  const TTableOptions& o = q.tableOptions;
  if (o.hasDescription) Add(" DESCRIPTION ").Quoted(o.description);
  if (o.hasTextIndex) {
    Add(" TEXT INDEX ");
    IndexColumns(o.textIndexColumns);
  }
  if (o.hasStopWords) Add(" STOP WORDS ").Quoted(o.stopWords);
  if (o.hasSpaceChars) Add(" SPACE CHARS ").Quoted(o.spaceChars);
  if (o.hasIncludeChars) Add(" INCLUDE CHARS ").Quoted(o.includeChars);
  if (o.hasBlobBlockSize) Add(" BLOB BLOCK SIZE ").Add(o.blobBlockSize);
  Locale(q);
  Encryption(q);
  if (o.hasUserMajor) Add(" USER MAJOR VERSION ").Add(o.userMajor);
  if (o.hasUserMinor) Add(" USER MINOR VERSION ").Add(o.userMinor);
  if (o.hasLastAutoInc) Add(" LAST AUTOINC ").Add(o.lastAutoInc);
  Flag(o.noBackup, "NOBACKUP");
}

void TPrinter::CreateTable(const TDataQuery& q) {
  Add("CREATE TABLE");
  Flag(q.ifExistsClause, "IF NOT EXISTS");
  Add(" ");
  Source(*q.Target());
  Add(" (");
  for (std::size_t i = 0; i < q.createFields.size(); ++i) {
    if (i > 0) Add(", ");
    Field(*q.createFields[i]);
  }
  for (const auto& index : q.createIndexes) {
    if (!q.createFields.empty()) Add(", ");
    PrimaryKey(*index);
  }
  Add(")");
  TableOptions(q);
}

void TPrinter::CreateIndex(const TDataQuery& q) {
  const TCreateIndex& index = *q.createIndexes.front();
  Add("CREATE");
  Flag(index.unique, "UNIQUE");
  Flag(index.descending, "DESC");
  Flag(index.caseInsensitive, "NOCASE");
  Add(" INDEX");
  Flag(q.ifExistsClause, "IF NOT EXISTS");
  Add(" ").Add(index.name).Add(" ON ");
  Source(*q.Target());
  Add(" ");
  IndexColumns(index.columns);
  Compression(index.compression);
}

void TPrinter::Alter(const TDataQuery& q) {
  Add("ALTER TABLE ");
  Source(*q.Target());
  for (std::size_t i = 0; i < q.alterActions.size(); ++i) {
    const TAlterAction& a = q.alterActions[i];
    Add(i == 0 ? " " : ", ");
    switch (a.kind) {
      case TAlterKind::AddColumn:
        Add("ADD ");
        Field(*a.field);
        if (a.hasPosition) Add(" AT ").Add(a.position);
        break;
      case TAlterKind::RedefineColumn:
        Add("REDEFINE ").Add(a.columnName).Add(" ");
        Field(*a.field);
        break;
      case TAlterKind::DropColumn:
        Add("DROP ").Add(a.columnName);
        break;
      case TAlterKind::AddPrimaryKey:
        Add("ADD ");
        PrimaryKey(*a.index);
        break;
      case TAlterKind::RedefinePrimaryKey:
        Add("REDEFINE ");
        PrimaryKey(*a.index);
        break;
      case TAlterKind::DropPrimaryKey:
        Add("DROP PRIMARY KEY");
        if (!a.constraintName.empty()) Add(" ").Add(a.constraintName);
        break;
    }
  }
  TableOptions(q);
}

}  // namespace

std::string QueryToText(const TDataQuery& query) {
  TPrinter p;
  p.Query(query);
  return p.Take();
}

std::string StatementToText(const TQueryStatement& statement) {
  if (statement.Master() == nullptr) return {};
  std::string out = QueryToText(*statement.Master());
  for (const auto& q : statement.Queries()) {
    if (!q->isSubQuery) continue;
    out += " | SUB ";
    out += QueryToText(*q);
  }
  return out;
}

}  // namespace mt
