// The statement grammar: dispatch on the first token, SELECT with its clauses, joins and UNION
// chains, INSERT, UPDATE, DELETE, the transaction statements and the data definition
// statements, each checked to end with ";" or the end of the text.
#include "sqlparser.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/common/expparser.h"
#include "engine/common/localetext.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/locales.h"

namespace mt {
namespace {

constexpr TPermissions kSelectItemPermissions =
    perm::kAggregates | perm::kAllColumns | perm::kPredicates;
constexpr TPermissions kWherePermissions =
    perm::kPredicates | perm::kParameters | perm::kSubSelects;
constexpr TPermissions kJoinPermissions = perm::kPredicates | perm::kParameters;

// Words that end a table's source entry instead of being read as its bare correlation name.
constexpr std::string_view kSourceStopWords[] = {
    "LEFT",  "RIGHT", "INNER",     "JOIN",     "WHERE",          "ORDER", "GROUP", "HAVING", "TOP",
    "RANGE", "WITH",  "ENCRYPTED", "LANGUAGE", "NOJOINOPTIMIZE", "UNION", "FULL",  "ON",
};
// In INSERT, UPDATE and DELETE statements the data-changing options follow the sources too.
constexpr std::string_view kChangeStopWords[] = {"NOAUTOINC", "COMMIT"};
// Words after the table of INSERT INTO and of UPDATE.
constexpr std::string_view kInsertStopWords[] = {"VALUES", "SELECT"};
constexpr std::string_view kUpdateStopWords[] = {"SET"};

// Keywords after CREATE that begin CREATE INDEX.
constexpr std::string_view kCreateIndexWords[] = {"INDEX", "UNIQUE",     "ASC",   "ASCENDING",
                                                  "DESC",  "DESCENDING", "NOCASE"};

// Keywords that begin a table option of CREATE and ALTER TABLE.
constexpr std::string_view kTableOptionWords[] = {"DESCRIPTION", "TEXT", "STOP",     "SPACE",
                                                  "INCLUDE",     "BLOB", "LANGUAGE", "ENCRYPTED",
                                                  "USER",        "LAST", "NOBACKUP"};

// A whole text read as a number of type T; false when it is none or does not fit.
template <typename T>
bool ReadNumber(const std::string& text, T& value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The parser's context name for the lifetime of the object, then the one before.
class TContextScope {
 public:
  TContextScope(TExpressionParser& parser, std::string_view context)
      : parser_(parser), saved_(parser.ContextName()) {
    parser_.SetContextName(context);
  }
  ~TContextScope() { parser_.SetContextName(saved_); }
  TContextScope(const TContextScope&) = delete;
  TContextScope& operator=(const TContextScope&) = delete;

 private:
  TExpressionParser& parser_;
  std::string saved_;
};

// Where a SELECT is read.
enum class TSelectRole { Master, UnionMember, SubQuery, InsertSource };

// True when any node of the tree is an aggregate.
bool ContainsAggregate(const TExpToken* n) {
  if (n == nullptr) return false;
  if (n->kind == TNodeKind::Function && AggregateKindOf(n->op) != TAggregateKind::None) return true;
  if (ContainsAggregate(n->left.get()) || ContainsAggregate(n->right.get())) return true;
  return std::any_of(n->arguments.begin(), n->arguments.end(),
                     [](const TExpTokenPtr& a) { return ContainsAggregate(a.get()); });
}

// The column a target or definition primary names: a column reference, or the text of a
// string constant; anything else keeps its source text, which names no column.
struct TNamedColumn {
  std::string name;
  std::string correlation;
};

TNamedColumn ColumnOf(const TExpToken& e, std::string sourceText) {
  if (e.kind == TNodeKind::Column) return {e.columnName, e.correlationName};
  if (e.kind == TNodeKind::Constant && !e.isNull && !e.isParameter && e.type == ftype::kString)
    return {e.StringValue(), {}};
  return {std::move(sourceText), {}};
}

class TStatementParser {
 public:
  explicit TStatementParser(TQueryStatement& statement) : st_(statement), p_(statement.Parser()) {}

  void Statement(TDataQuery& q);
  void Select(TDataQuery& q, TSelectRole role);

 private:
  // ---- Token helpers.
  [[noreturn]] void Fail(const std::string& message) const { p_.Raise(message); }
  // prefix (ending in "instead found '") + the current token + "'".
  [[noreturn]] void Expected(std::string_view prefix) const {
    Fail(std::string(prefix) + p_.TokenText() + "'");
  }
  bool Take(std::string_view keyword) {
    if (!p_.IsKeyword(keyword)) return false;
    p_.NextToken();
    return true;
  }
  bool TakeClass(int cls) {
    if (!p_.IsClass(cls)) return false;
    p_.NextToken();
    return true;
  }
  void Require(std::string_view keyword, std::string_view prefix) {
    if (!Take(keyword)) Expected(prefix);
  }
  bool IsAnyKeyword(std::span<const std::string_view> words) const {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return p_.IsKeyword(w); });
  }
  // A symbol, bracketed name or quoted string with some text.
  bool IsName() const {
    return p_.IsClass(tokclass::kSymbol) || (p_.IsNameOrString() && !p_.TokenText().empty());
  }
  std::string TakeName() {
    std::string name = p_.TokenText();
    p_.NextToken();
    return name;
  }
  // An integer literal that fits 32 bits, else the message.
  int32_t TakeInteger(std::string_view prefix);
  bool AtStatementEnd() const { return p_.AtEnd() || p_.IsClass(';'); }

  // ---- Tables.
  TTableName TableName(std::string_view prefix, std::string_view nextPrefix);
  std::string CorrelationName(std::span<const std::string_view> stops,
                              bool changeOptionsFollow = false);
  TSourceTable& AddSource(TDataQuery& q, const TTableName& table, const std::string& correlation,
                          bool atFront);
  void Sources(TDataQuery& q, std::string_view prefix, bool firstIsUpdateTarget);
  TSourceTable& Source(TDataQuery& q, std::string_view prefix, bool isUpdateTarget);
  TSourceTable& UpdateFromTable(TDataQuery& q, const TTableName& table,
                                const std::string& correlation);

  // ---- Conditions.
  TExpTokenPtr Condition(TPermissions permissions);
  void AndIntoWhere(TDataQuery& q, TExpTokenPtr condition);

  // ---- SELECT.
  void SelectBody(TDataQuery& q, TSelectRole role);
  void SelectItem(TDataQuery& q);
  void Into(TDataQuery& q, TSelectRole role);
  TGroupByField GroupItem(std::string_view prefix);
  void OrderBy(TDataQuery& q);
  void Language(TDataQuery& q);
  void Encrypted(TDataQuery& q);
  void CloseParenthesis(const TDataQuery& q);

  // ---- INSERT, UPDATE, DELETE and transactions.
  void Insert(TDataQuery& q);
  void Update(TDataQuery& q);
  void Delete(TDataQuery& q);
  void ChangeOptions(TDataQuery& q, bool noAutoInc, bool noJoinOptimize);
  TNamedColumn TargetColumn(std::string_view context, std::string* sourceText = nullptr);
  void UpdateTarget(TDataQuery& q);
  void UpdateValue(TDataQuery& q);

  // ---- Data definition.
  void Create(TDataQuery& q);
  void CreateTable(TDataQuery& q);
  void CreateIndex(TDataQuery& q);
  void Alter(TDataQuery& q);
  void Drop(TDataQuery& q);
  void IfNotExists(TDataQuery& q);
  void IfExists(TDataQuery& q);
  TCreateField* ColumnDefinition(TDataQuery& q);
  std::string ValueText();
  std::string OptionText(std::string_view keyword);
  std::string PrimaryKeyHead();
  TCreateIndex* PrimaryKey(TDataQuery& q);
  void IndexColumns(std::vector<TIndexColumn>& columns, std::string_view leftPrefix,
                    std::string_view rightPrefix);
  void Compression(TCreateIndex& index);
  void TableOptions(TDataQuery& q);

  void EndOfStatement(TStatementKind kind);

  TQueryStatement& st_;
  TExpressionParser& p_;
  bool changeStatement_ = false;  // INSERT, UPDATE or DELETE: their options end source lists
  // The correlation names of each query's sources so far, as names compare.
  std::unordered_map<const TDataQuery*, std::unordered_set<std::string>> correlations_;
};

// ---- Token helpers

int32_t TStatementParser::TakeInteger(std::string_view prefix) {
  int32_t v = 0;
  if (!p_.IsClass(tokclass::kInteger) || !ReadNumber(p_.TokenText(), v)) Expected(prefix);
  p_.NextToken();
  return v;
}

// ---- Statements

void TStatementParser::Statement(TDataQuery& q) {
  if (p_.IsClass('(')) {
    p_.NextToken();
    if (!p_.IsKeyword("SELECT")) Expected("SELECT keyword expected, instead found '");
    q.kind = TStatementKind::Select;
    q.parenthesised = true;
    Select(q, TSelectRole::Master);
  } else if (p_.IsKeyword("SELECT")) {
    q.kind = TStatementKind::Select;
    Select(q, TSelectRole::Master);
  } else if (p_.IsKeyword("INSERT")) {
    Insert(q);
  } else if (p_.IsKeyword("UPDATE")) {
    Update(q);
  } else if (p_.IsKeyword("DELETE")) {
    Delete(q);
  } else if (Take("CREATE")) {
    Create(q);
  } else if (Take("ALTER")) {
    Alter(q);
  } else if (Take("DROP")) {
    Drop(q);
  } else if (Take("START")) {
    q.kind = TStatementKind::StartTransaction;
    Require("TRANSACTION", "TRANSACTION keyword expected, instead found '");
  } else if (Take("ROLLBACK")) {
    q.kind = TStatementKind::Rollback;
    Take("WORK");
  } else if (Take("COMMIT")) {
    q.kind = TStatementKind::Commit;
    Take("WORK");
    q.commitFlush = Take("FLUSH");
  } else {
    Expected(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '");
  }
  EndOfStatement(q.kind);
}

void TStatementParser::EndOfStatement(TStatementKind kind) {
  if (TakeClass(';') || p_.AtEnd()) return;
  Fail("End of " + std::string(StatementKindName(kind)) + " statement expected, instead found '" +
       p_.TokenText() + "'");
}

// ---- Tables

TTableName TStatementParser::TableName(std::string_view prefix, std::string_view nextPrefix) {
  TTableName t;
  t.inMemory = Take("MEMORY");
  if (!IsName()) Expected(t.inMemory ? nextPrefix : prefix);
  std::string path = TakeName();
  std::string last = path;
  while (TakeClass('\\')) {
    if (!IsName()) Expected(nextPrefix);
    last = TakeName();
    if (!path.ends_with('/')) path += '/';
    path += last;
  }
  const std::size_t slash = path.rfind('/');
  t.directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  t.fileName = path.substr(t.directory.size());
  // "dir/" names a directory, not a table.
  if (t.fileName.empty()) Fail(std::string(prefix) + last + "'");
  t.name = BareFileName(t.fileName);
  return t;
}

// AS name, or a bare name that is none of the words that may follow.
std::string TStatementParser::CorrelationName(std::span<const std::string_view> stops,
                                              bool changeOptionsFollow) {
  if (Take("AS")) {
    if (!IsName()) Expected("Symbol or string expected after AS keyword, instead found '");
    return TakeName();
  }
  if (!IsName() || IsAnyKeyword(stops) || (changeOptionsFollow && IsAnyKeyword(kChangeStopWords)))
    return {};
  return TakeName();
}

TSourceTable& TStatementParser::AddSource(TDataQuery& q, const TTableName& table,
                                          const std::string& correlation, bool atFront) {
  auto source = std::make_unique<TSourceTable>();
  source->table = table;
  source->correlationName = correlation.empty() ? table.name : BareFileName(correlation);
  if (!correlations_[&q].insert(NameKey(source->correlationName)).second)
    Fail("Duplicate table correlation name '" + source->correlationName +
         "' found in source tables");
  TSourceTable& added = *source;
  q.sourceTables.insert(atFront ? q.sourceTables.begin() : q.sourceTables.end(), std::move(source));
  for (std::size_t i = 0; i < q.sourceTables.size(); ++i)
    q.sourceTables[i]->position = static_cast<int>(i + 1);
  return added;
}

void TStatementParser::Sources(TDataQuery& q, std::string_view prefix, bool firstIsUpdateTarget) {
  Source(q, prefix, firstIsUpdateTarget);
  while (TakeClass(',')) {
    q.severalTables = true;
    Source(q, prefix, false);
  }
}

// One entry of a FROM list: any number of "(", a table with its correlation name, its joins,
// and the ")" that close the "(" before it, after the table or after any join's condition.
TSourceTable& TStatementParser::Source(TDataQuery& q, std::string_view prefix,
                                       bool isUpdateTarget) {
  int open = 0;
  while (TakeClass('('))
    ++open;
  auto close = [&] {
    while (open > 0 && TakeClass(')'))
      --open;
  };
  const TTableName table = TableName(prefix, prefix);
  const std::string correlation = CorrelationName(kSourceStopWords, changeStatement_);
  TSourceTable* left = isUpdateTarget ? &UpdateFromTable(q, table, correlation)
                                      : &AddSource(q, table, correlation, false);
  TSourceTable& first = *left;
  // The table UPDATE and DELETE change stays first, whatever RIGHT JOIN says.
  const bool changes = q.kind == TStatementKind::Update || q.kind == TStatementKind::Delete;
  close();
  while (true) {
    TJoinType type;
    if (p_.IsKeyword("FULL"))
      Fail("Full outer joins are currently not supported in SQL SELECT statements");
    if (Take("INNER")) {
      Require("JOIN", "JOIN keyword expected after INNER keyword, instead found '");
      type = TJoinType::Inner;
    } else if (Take("JOIN")) {
      type = TJoinType::Inner;
    } else if (Take("LEFT")) {
      Take("OUTER");
      Require("JOIN", "JOIN keyword expected after LEFT or OUTER keyword, instead found '");
      type = TJoinType::LeftOuter;
    } else if (Take("RIGHT")) {
      Take("OUTER");
      Require("JOIN", "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
      type = TJoinType::RightOuter;
    } else {
      break;
    }
    q.severalTables = true;
    const std::string_view joinPrefix = "Table name expected after JOIN keyword, instead found '";
    const TTableName joined = TableName(joinPrefix, joinPrefix);
    TSourceTable& right = AddSource(q, joined, CorrelationName(kSourceStopWords, changeStatement_),
                                    type == TJoinType::RightOuter && !changes);
    Require("ON", "ON keyword expected in JOIN clause, instead found '");
    TExpTokenPtr condition = Condition(kJoinPermissions);
    q.joins.push_back({.type = type, .left = left, .right = &right, .condition = condition.get()});
    AndIntoWhere(q, std::move(condition));
    close();
    left = &right;
  }
  if (open != 0) Fail("Mismatched join parentheses");
  return first;
}

// The first FROM table of UPDATE stands for the updated table itself.
TSourceTable& TStatementParser::UpdateFromTable(TDataQuery& q, const TTableName& table,
                                                const std::string& correlation) {
  TSourceTable& target = *q.sourceTables.front();
  const bool same =
      SameName(table.Path(), target.table.Path()) && (!table.inMemory || target.table.inMemory) &&
      (correlation.empty() || SameName(BareFileName(correlation), target.correlationName));
  if (!same)
    Fail(
        "The first source table specified in FROM clause must match the table being updated in "
        "the UPDATE statement");
  return target;
}

// ---- Conditions

TExpTokenPtr TStatementParser::Condition(TPermissions permissions) {
  TContextScope context(p_, parsecontext::kWhereOrJoin);
  if (AtStatementEnd() || p_.IsClass(')')) Fail("WHERE or JOIN clause is empty");
  return p_.ParseExpression(permissions);
}

void TStatementParser::AndIntoWhere(TDataQuery& q, TExpTokenPtr condition) {
  if (!q.where) {
    q.where = std::move(condition);
    return;
  }
  const uint32_t height = std::max(q.where->height, condition->height);
  if (height >= TExpressionParser::kMaxTreeHeight) {
    TContextScope context(p_, parsecontext::kWhereOrJoin);
    p_.RaiseIn("Expression is nested too deeply");
  }
  TExpTokenPtr both = NewExpToken();
  both->kind = TNodeKind::Binary;
  both->op = TOperator::And;
  both->text = "AND";
  both->height = height + 1;
  both->left = std::move(q.where);
  both->right = std::move(condition);
  q.where = std::move(both);
}

// ---- SELECT

void TStatementParser::Select(TDataQuery& q, TSelectRole role) {
  SelectBody(q, role);
  CloseParenthesis(q);
  TDataQuery* last = &q;
  while (true) {
    // The ORDER BY of a chain follows its last member and orders the whole result.
    if (last != &q && !q.hasOrderBy && p_.IsKeyword("ORDER")) {
      OrderBy(q);
      if (q.top < 0 && Take("TOP"))
        q.top = TakeInteger("Integer value expected after TOP keyword, instead found '");
    }
    if (!p_.IsKeyword("UNION")) break;
    if (q.hasOrderBy) Fail("You cannot use an ORDER BY clause within a UNIONed query");
    p_.NextToken();
    last->unionAll = Take("ALL");
    const bool parenthesised = TakeClass('(');
    if (!p_.IsKeyword("SELECT")) Expected("SELECT keyword expected, instead found '");
    TDataQuery& member = st_.NewQuery(TStatementKind::Select);
    member.inUnion = true;
    member.unionOwner = &q;
    member.parenthesised = parenthesised;
    last->nextUnion = &member;
    SelectBody(member, TSelectRole::UnionMember);
    CloseParenthesis(member);
    last = &member;
  }
}

void TStatementParser::CloseParenthesis(const TDataQuery& q) {
  if (q.parenthesised && !TakeClass(')'))
    Expected("Right parentheses expected after SELECT statement, instead found '");
}

void TStatementParser::SelectBody(TDataQuery& q, TSelectRole role) {
  p_.NextToken();  // SELECT
  Take("ALL");
  q.distinct = Take("DISTINCT");
  do {
    SelectItem(q);
  } while (TakeClass(','));
  if (p_.IsKeyword("INTO")) Into(q, role);
  Require("FROM", "FROM keyword expected, instead found '");
  Sources(q, "Table name expected after FROM keyword, instead found '", false);
  if (Take("WHERE")) {
    AndIntoWhere(q, Condition(kWherePermissions));
    q.hasWhere = true;
  }
  if (Take("GROUP")) {
    Require("BY", "BY keyword expected after GROUP keyword, instead found '");
    do {
      q.groupByFields.push_back(
          GroupItem("Column name or column number expected in GROUP BY clause, instead found '"));
    } while (TakeClass(','));
    q.hasGroupBy = true;
  }
  if (Take("HAVING")) {
    TContextScope context(p_, parsecontext::kHaving);
    q.having = p_.ParseExpression(perm::kAggregates);
    q.hasHaving = true;
  }
  if (role != TSelectRole::UnionMember && p_.IsKeyword("ORDER")) OrderBy(q);
  if (Take("TOP")) q.top = TakeInteger("Integer value expected after TOP keyword, instead found '");
  if (Take("WITH")) {
    Require("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    q.withLocks = true;
  }
  if (p_.IsKeyword("LANGUAGE")) Language(q);
  if (p_.IsKeyword("ENCRYPTED")) Encrypted(q);
  if (Take("NOJOINOPTIMIZE")) q.noJoinOptimize = true;
}

void TStatementParser::SelectItem(TDataQuery& q) {
  TResultField f;
  {
    TContextScope context(p_, parsecontext::kSourceColumn);
    if (AtStatementEnd() || p_.IsClass(',') || p_.IsClass(')') || p_.IsKeyword("FROM") ||
        p_.IsKeyword("INTO"))
      Fail("Source column expression is empty");
    p_.SetMark();
    f.expression = p_.ParseExpression(kSelectItemPermissions);
    f.sourceText = p_.TextSinceMark();
  }
  if (Take("AS")) {
    if (!IsName()) Expected("Symbol or string expected after AS keyword, instead found '");
    f.alias = TakeName();
  } else if (IsName() && !p_.IsKeyword("INTO") && !p_.IsKeyword("FROM")) {
    f.alias = TakeName();
  }
  if (!f.alias.empty() && TakeClass('.')) {
    if (!IsName())
      Expected("Symbol or string expected after table correlation name, instead found '");
    f.alias = TakeName();
  }
  f.automaticName = f.alias.empty();

  const TExpToken& e = *f.expression;
  const TExpToken* column = &e;
  f.aggregate = e.kind == TNodeKind::Function ? AggregateKindOf(e.op) : TAggregateKind::None;
  if (f.aggregate != TAggregateKind::None) {
    for (const auto& a : e.arguments)
      if (ContainsAggregate(a.get())) Fail("Aggregate functions cannot be nested");
    column = e.arguments.empty() ? nullptr : e.arguments.front().get();
  } else if (ContainsAggregate(&e)) {
    Fail("Aggregate functions cannot be used within expressions");
  }
  f.computed = column == nullptr || column->kind != TNodeKind::Column;
  if (f.computed) {
    f.sourceText.erase(std::remove_if(f.sourceText.begin(), f.sourceText.end(),
                                      [](char c) { return c == '\r' || c == '\n'; }),
                       f.sourceText.end());
  } else {
    f.sourceText.clear();
    f.columnName = column->columnName;
    f.correlationName = column->correlationName;
  }
  q.resultFields.push_back(std::move(f));
}

void TStatementParser::Into(TDataQuery& q, TSelectRole role) {
  p_.NextToken();  // INTO
  if (role != TSelectRole::Master) Fail("The INTO clause can only be used with the master query");
  q.hasInto = true;
  const std::string_view prefix = "Result table name expected in INTO clause, instead found '";
  if (p_.IsKeyword("MEMORY")) {
    p_.NextToken();
    // INTO MEMORY alone: an in-memory result whose name execution chooses.
    if (!IsName() || p_.IsKeyword("FROM")) {
      q.into.inMemory = true;
      return;
    }
    q.into = TableName(prefix, prefix);
    q.into.inMemory = true;
    return;
  }
  if (p_.IsKeyword("FROM")) Expected(prefix);
  q.into = TableName(prefix, prefix);
}

TGroupByField TStatementParser::GroupItem(std::string_view prefix) {
  TGroupByField f;
  if (p_.IsClass(tokclass::kInteger)) {
    if (!ReadNumber(p_.TokenText(), f.columnNumber)) Expected(prefix);
    f.byNumber = true;
    p_.NextToken();
    return f;
  }
  if (!IsName()) Expected(prefix);
  f.columnName = TakeName();
  if (TakeClass('.')) {
    if (!IsName()) Expected(prefix);
    f.correlationName = BareFileName(f.columnName);
    f.columnName = TakeName();
  }
  return f;
}

void TStatementParser::OrderBy(TDataQuery& q) {
  p_.NextToken();  // ORDER
  Require("BY", "BY keyword expected after ORDER keyword, instead found '");
  do {
    TOrderByField f{
        GroupItem("Column name or column number expected in ORDER BY clause, instead found '")};
    if (Take("DESC") || Take("DESCENDING")) {
      f.descending = true;
    } else if (!Take("ASC")) {
      Take("ASCENDING");
    }
    q.orderByFields.push_back(std::move(f));
  } while (TakeClass(','));
  q.orderByNoCase = Take("NOCASE");
  q.hasOrderBy = true;
}

void TStatementParser::Language(TDataQuery& q) {
  p_.NextToken();  // LANGUAGE
  std::optional<uint16_t> language;
  if (p_.IsNameOrString()) language = LanguageIdOfLocaleName(p_.TokenText());
  if (!language)
    Fail("Invalid language constant '" + p_.TokenText() + "' specified after LANGUAGE keyword");
  p_.NextToken();
  q.locale = {.given = true, .languageId = *language, .sortOrderId = 0};
  if (Take("SORT")) {
    std::optional<uint16_t> sort;
    if (p_.IsNameOrString()) sort = SortOrderIdOfName(*language, p_.TokenText());
    if (!sort) Fail("Invalid sort constant '" + p_.TokenText() + "' specified after SORT keyword");
    p_.NextToken();
    q.locale.sortOrderId = *sort;
  }
}

void TStatementParser::Encrypted(TDataQuery& q) {
  p_.NextToken();  // ENCRYPTED
  Require("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  // The next token is the password; none, or an empty one, means no encryption.
  std::string password;
  if (p_.IsNameOrString() || p_.IsClass(tokclass::kInteger) || p_.IsClass(tokclass::kDecimal))
    password = TakeName();
  q.encryptionGiven = true;
  q.encrypted = !password.empty();
  q.password = std::move(password);
}

// ---- INSERT, UPDATE, DELETE

TNamedColumn TStatementParser::TargetColumn(std::string_view context, std::string* sourceText) {
  TContextScope scope(p_, context);
  p_.SetMark();
  TExpTokenPtr e = p_.ParsePrimary(perm::kNone);
  std::string text = p_.TextSinceMark();
  if (sourceText) *sourceText = text;
  return ColumnOf(*e, std::move(text));
}

void TStatementParser::UpdateTarget(TDataQuery& q) {
  TUpdateField f;
  TNamedColumn c = TargetColumn(parsecontext::kTableColumn, &f.sourceText);
  f.columnName = std::move(c.name);
  f.correlationName = std::move(c.correlation);
  q.updateFields.push_back(std::move(f));
}

void TStatementParser::UpdateValue(TDataQuery& q) {
  TContextScope context(p_, parsecontext::kValue);
  q.updateValues.push_back({p_.ParseExpression(perm::kParameters)});
}

void TStatementParser::Insert(TDataQuery& q) {
  q.kind = TStatementKind::Insert;
  changeStatement_ = true;
  p_.NextToken();  // INSERT
  Require("INTO", "INTO keyword expected, instead found '");
  const TTableName table = TableName("Table name expected after INTO keyword, instead found '",
                                     "Table name expected after INTO clause, instead found '");
  AddSource(q, table, CorrelationName(kInsertStopWords), false);
  if (TakeClass('(')) {
    do {
      UpdateTarget(q);
    } while (TakeClass(','));
    if (!TakeClass(')'))
      Expected("Right parentheses expected after list of table columns, instead found '");
  }
  if (Take("VALUES")) {
    if (!TakeClass('('))
      Expected("Left parentheses expected after VALUES keyword, instead found '");
    do {
      UpdateValue(q);
    } while (TakeClass(','));
    if (!TakeClass(')'))
      Expected("Right parentheses expected after list of values, instead found '");
  } else if (p_.IsKeyword("SELECT")) {
    TDataQuery& source = st_.NewQuery(TStatementKind::Select);
    q.insertSource = &source;
    Select(source, TSelectRole::InsertSource);
  } else {
    Expected("VALUES or SELECT  keyword expected, instead found '");
  }
  ChangeOptions(q, true, false);
}

void TStatementParser::Update(TDataQuery& q) {
  q.kind = TStatementKind::Update;
  changeStatement_ = true;
  p_.NextToken();  // UPDATE
  const std::string_view prefix = "Table name expected, instead found '";
  const TTableName table = TableName(prefix, prefix);
  AddSource(q, table, CorrelationName(kUpdateStopWords), false);
  Require("SET", "SET keyword expected, instead found '");
  do {
    UpdateTarget(q);
    if (!TakeClass('='))
      Expected("Assignment (=) operator expected after column name, instead found '");
    UpdateValue(q);
  } while (TakeClass(','));
  if (Take("FROM")) Sources(q, "Table name expected after FROM keyword, instead found '", true);
  if (Take("WHERE")) {
    AndIntoWhere(q, Condition(kWherePermissions));
    q.hasWhere = true;
  }
  ChangeOptions(q, true, true);
}

void TStatementParser::Delete(TDataQuery& q) {
  q.kind = TStatementKind::Delete;
  changeStatement_ = true;
  p_.NextToken();  // DELETE
  Require("FROM", "FROM keyword expected, instead found '");
  Sources(q, "Table name expected after FROM keyword, instead found '", false);
  if (Take("WHERE")) {
    AndIntoWhere(q, Condition(kWherePermissions));
    q.hasWhere = true;
  }
  ChangeOptions(q, false, true);
}

void TStatementParser::ChangeOptions(TDataQuery& q, bool noAutoInc, bool noJoinOptimize) {
  if (noAutoInc && Take("NOAUTOINC")) q.noAutoInc = true;
  if (Take("COMMIT")) {
    bool given = false;
    if (Take("INTERVAL")) {
      q.commitInterval =
          TakeInteger("Integer value expected after INTERVAL keyword, instead found '");
      given = true;
    }
    if (Take("FLUSH")) {
      q.commitFlush = true;
      given = true;
    }
    if (!given)
      Expected("INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found '");
  }
  if (noJoinOptimize && Take("NOJOINOPTIMIZE")) q.noJoinOptimize = true;
}

// ---- Data definition

void TStatementParser::IfNotExists(TDataQuery& q) {
  if (!Take("IF")) return;
  Require("NOT", "NOT keyword expected after IF keyword, instead found '");
  Require("EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
  q.ifExistsClause = true;
}

void TStatementParser::IfExists(TDataQuery& q) {
  if (!Take("IF")) return;
  Require("EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
  q.ifExistsClause = true;
}

void TStatementParser::Create(TDataQuery& q) {
  if (Take("TABLE")) {
    CreateTable(q);
  } else if (IsAnyKeyword(kCreateIndexWords)) {
    CreateIndex(q);
  } else {
    Expected(
        "TABLE, INDEX, UNIQUE, ASC, ASCENDING, DESC, DESCENDING, or NOCASE keyword expected, "
        "instead found '");
  }
}

void TStatementParser::CreateTable(TDataQuery& q) {
  q.kind = TStatementKind::CreateTable;
  IfNotExists(q);
  const std::string_view prefix =
      "Table name expected after CREATE TABLE keywords, instead found '";
  AddSource(q, TableName(prefix, prefix), {}, false);
  if (!TakeClass('('))
    Expected("Left parentheses expected before list of table columns, instead found '");
  do {
    if (p_.IsKeyword("CONSTRAINT") || p_.IsKeyword("PRIMARY")) {
      PrimaryKey(q);
      break;
    }
    ColumnDefinition(q);
  } while (TakeClass(','));
  if (!TakeClass(')'))
    Expected("Right parentheses expected after CREATE TABLE statement, instead found '");
  TableOptions(q);
}

TCreateField* TStatementParser::ColumnDefinition(TDataQuery& q) {
  auto f = std::make_unique<TCreateField>();
  f->number = static_cast<int>(q.createFields.size() + 1);
  f->name = TargetColumn(parsecontext::kTableColumn).name;
  TExpTokenPtr type = NewExpToken();
  p_.ParseDataType(*type, perm::kNone, false);
  f->type = type->type;
  f->subtype = type->subtype;
  f->size = type->size;
  f->scale = type->scale;
  while (true) {
    if (Take("DESCRIPTION")) {
      f->description = OptionText("DESCRIPTION");
    } else if (Take("NULL")) {
      f->required = false;
    } else if (Take("NOT")) {
      Require("NULL", "NULL keyword expected after NOT keyword, instead found '");
      f->required = true;
    } else if (Take("DEFAULT")) {
      f->defaultText = ValueText();
    } else if (Take("MIN") || Take("MINIMUM")) {
      f->minText = ValueText();
    } else if (Take("MAX") || Take("MAXIMUM")) {
      f->maxText = ValueText();
    } else if (Take("CHARCASE")) {
      if (Take("UPPER")) {
        f->charCase = TCharCase::Upper;
      } else if (Take("LOWER")) {
        f->charCase = TCharCase::Lower;
      } else if (Take("NOCHANGE")) {
        f->charCase = TCharCase::NoChange;
      } else {
        Expected(
            "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
      }
    } else {
      break;
    }
  }
  q.createFields.push_back(std::move(f));
  return q.createFields.back().get();
}

// The text of a DEFAULT, MIN or MAX value as the storage engine reads it: a string constant's
// text, else the value as written ("-5", "CURRENT_DATE", "TRUE"); NULL and an empty literal
// give none.
std::string TStatementParser::ValueText() {
  p_.SetMark();
  TExpTokenPtr v = p_.ParseAdditive(perm::kNone);
  if (v->kind == TNodeKind::Constant && v->isNull) return {};
  if (v->kind == TNodeKind::Constant && v->type == ftype::kString) return v->StringValue();
  return p_.TextSinceMark();
}

// The text after DESCRIPTION, STOP WORDS, SPACE CHARS and INCLUDE CHARS: a string, a name or a
// number as written.
std::string TStatementParser::OptionText(std::string_view keyword) {
  if (!p_.IsNameOrString() && !p_.IsClass(tokclass::kInteger) && !p_.IsClass(tokclass::kDecimal))
    Expected("String constant expected after " + std::string(keyword) +
             " keyword, instead found '");
  return TakeName();
}

// [CONSTRAINT name] PRIMARY KEY; returns the constraint's name.
std::string TStatementParser::PrimaryKeyHead() {
  std::string name;
  if (Take("CONSTRAINT") && IsName() && !p_.IsKeyword("PRIMARY")) name = TakeName();
  Require("PRIMARY", "PRIMARY keyword expected, instead found '");
  Require("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  return name;
}

// [CONSTRAINT name] PRIMARY KEY (columns) [COMPRESS ...]
TCreateIndex* TStatementParser::PrimaryKey(TDataQuery& q) {
  auto index = std::make_unique<TCreateIndex>();
  index->primary = true;
  index->unique = true;
  index->name = PrimaryKeyHead();
  IndexColumns(index->columns, "Left parentheses expected, instead found '",
               "Right parentheses expected, instead found '");
  Compression(*index);
  q.createIndexes.push_back(std::move(index));
  return q.createIndexes.back().get();
}

void TStatementParser::IndexColumns(std::vector<TIndexColumn>& columns, std::string_view leftPrefix,
                                    std::string_view rightPrefix) {
  if (!TakeClass('(')) Expected(leftPrefix);
  do {
    TNamedColumn c = TargetColumn(parsecontext::kIndexColumn);
    if (!c.correlation.empty())
      Fail("Invalid use of table correlation name '" + c.correlation +
           "' specified in indexed columns");
    TIndexColumn column{.name = std::move(c.name)};
    while (true) {
      if (Take("ASC") || Take("ASCENDING")) {
        column.descending = false;
      } else if (Take("DESC") || Take("DESCENDING")) {
        column.descending = true;
      } else if (Take("NOCASE")) {
        column.noCase = true;
      } else {
        break;
      }
    }
    columns.push_back(std::move(column));
  } while (TakeClass(','));
  if (!TakeClass(')')) Expected(rightPrefix);
}

void TStatementParser::Compression(TCreateIndex& index) {
  if (!Take("COMPRESS")) return;
  if (Take("FULL")) {
    index.compression = TIndexCompression::Full;
  } else if (Take("DUPBYTE")) {
    index.compression = TIndexCompression::DupByte;
  } else if (Take("TRAILBYTE")) {
    index.compression = TIndexCompression::TrailByte;
  } else if (Take("NONE")) {
    index.compression = TIndexCompression::None;
  } else {
    Expected(
        "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead "
        "found '");
  }
}

void TStatementParser::TableOptions(TDataQuery& q) {
  TTableOptions& o = q.tableOptions;
  const std::string_view versionPrefix =
      "Integer value expected after VERSION keyword, instead found '";
  while (true) {
    if (Take("DESCRIPTION")) {
      o.description = OptionText("DESCRIPTION");
      o.hasDescription = true;
    } else if (Take("TEXT")) {
      Require("INDEX", "INDEX keyword expected after TEXT keyword, instead found '");
      o.textIndexColumns.clear();
      IndexColumns(o.textIndexColumns,
                   "Left parentheses expected after TEXTINDEX keyword, instead found '",
                   "Right parentheses expected after TEXT INDEX clause, instead found '");
      o.hasTextIndex = true;
    } else if (Take("STOP")) {
      Require("WORDS", "WORDS keyword expected after STOP keyword, instead found '");
      o.stopWords = OptionText("WORDS");
      o.hasStopWords = true;
    } else if (Take("SPACE")) {
      Require("CHARS", "CHARS keyword expected after SPACE keyword, instead found '");
      o.spaceChars = OptionText("CHARS");
      o.hasSpaceChars = true;
    } else if (Take("INCLUDE")) {
      Require("CHARS", "CHARS keyword expected after INCLUDE keyword, instead found '");
      o.includeChars = OptionText("CHARS");
      o.hasIncludeChars = true;
    } else if (Take("BLOB")) {
      Require("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
      Require("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
      o.blobBlockSize = TakeInteger("Integer value expected after SIZE keyword, instead found '");
      o.hasBlobBlockSize = true;
    } else if (p_.IsKeyword("LANGUAGE")) {
      Language(q);
    } else if (p_.IsKeyword("ENCRYPTED")) {
      Encrypted(q);
    } else if (Take("USER")) {
      if (Take("MAJOR")) {
        Require("VERSION", "VERSION keyword expected after MAJOR keyword, instead found '");
        o.userMajor = TakeInteger(versionPrefix);
        o.hasUserMajor = true;
      } else if (Take("MINOR")) {
        Require("VERSION", "VERSION keyword expected after MINOR keyword, instead found '");
        o.userMinor = TakeInteger(versionPrefix);
        o.hasUserMinor = true;
      } else {
        Expected("MAJOR or MINOR keyword expected after USER keyword, instead found '");
      }
    } else if (Take("LAST")) {
      Require("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
      o.lastAutoInc =
          TakeInteger("Integer constant expected after AUTOINC keyword, instead found '");
      o.hasLastAutoInc = true;
    } else if (Take("NOBACKUP")) {
      o.noBackup = true;
    } else {
      return;
    }
  }
}

void TStatementParser::CreateIndex(TDataQuery& q) {
  q.kind = TStatementKind::CreateIndex;
  auto index = std::make_unique<TCreateIndex>();
  while (true) {
    if (Take("UNIQUE")) {
      index->unique = true;
    } else if (Take("ASC") || Take("ASCENDING")) {
      index->descending = false;
    } else if (Take("DESC") || Take("DESCENDING")) {
      index->descending = true;
    } else if (Take("NOCASE")) {
      index->caseInsensitive = true;
    } else {
      break;
    }
  }
  Require("INDEX", "INDEX keyword expected, instead found '");
  IfNotExists(q);
  if (!IsName()) Expected("Index name expected after INDEX keyword, instead found '");
  index->name = TakeName();
  Require("ON", "ON keyword expected after index name, instead found '");
  const std::string_view prefix = "Table name expected after ON keyword, instead found '";
  AddSource(q, TableName(prefix, prefix), {}, false);
  IndexColumns(index->columns, "Left parentheses expected, instead found '",
               "Right parentheses expected, instead found '");
  Compression(*index);
  q.createIndexes.push_back(std::move(index));
}

void TStatementParser::Alter(TDataQuery& q) {
  q.kind = TStatementKind::AlterTable;
  Require("TABLE", "TABLE keyword expected, instead found '");
  const std::string_view prefix = "Table name expected after ALTER TABLE keywords, instead found '";
  AddSource(q, TableName(prefix, prefix), {}, false);
  // Table options alone change only the table's settings.
  if (!IsAnyKeyword(kTableOptionWords)) {
    do {
      TAlterAction a;
      const bool add = Take("ADD");
      const bool redefine = !add && Take("REDEFINE");
      const bool drop = !add && !redefine && Take("DROP");
      if (!add && !redefine && !drop)
        Expected("ADD, DROP, or REDEFINE keyword expected, instead found '");
      if (p_.IsKeyword("CONSTRAINT") || p_.IsKeyword("PRIMARY")) {
        a.kind = add        ? TAlterKind::AddPrimaryKey
                 : redefine ? TAlterKind::RedefinePrimaryKey
                            : TAlterKind::DropPrimaryKey;
        if (drop) {
          a.constraintName = PrimaryKeyHead();
        } else {
          a.index = PrimaryKey(q);
        }
      } else {
        Take("COLUMN");
        if (add) {
          a.kind = TAlterKind::AddColumn;
          a.field = ColumnDefinition(q);
          if (Take("AT")) {
            a.position = TakeInteger("Integer value expected after AT keyword, instead found '");
            a.hasPosition = true;
          }
        } else {
          a.kind = redefine ? TAlterKind::RedefineColumn : TAlterKind::DropColumn;
          a.columnName = TargetColumn(parsecontext::kTableColumn).name;
          if (redefine) a.field = ColumnDefinition(q);
        }
      }
      q.alterActions.push_back(std::move(a));
    } while (TakeClass(','));
  }
  TableOptions(q);
}

void TStatementParser::Drop(TDataQuery& q) {
  if (Take("TABLE")) {
    q.kind = TStatementKind::DropTable;
    IfExists(q);
    const std::string_view prefix =
        "Table name expected after DROP TABLE keywords, instead found '";
    AddSource(q, TableName(prefix, prefix), {}, false);
  } else if (Take("INDEX")) {
    q.kind = TStatementKind::DropIndex;
    IfExists(q);
    const std::string_view prefix =
        "Table name expected after DROP INDEX keywords, instead found '";
    AddSource(q, TableName(prefix, prefix), {}, false);
    // table.index: the index name is PRIMARY for the primary index.
    TContextScope context(p_, parsecontext::kIndexName);
    if (!TakeClass('.') || !IsName())
      Fail("Unknown or unexpected symbol '" + p_.TokenText() + "' found in " + p_.ContextName());
    q.dropIndexName = TakeName();
  } else {
    Expected("TABLE or INDEX keyword expected, instead found '");
  }
}

}  // namespace

void ParseSqlStatement(TQueryStatement& statement, TDataQuery& master) {
  TStatementParser(statement).Statement(master);
}

void ParseSqlSubSelect(TQueryStatement& statement, TDataQuery& query) {
  TExpressionParser& parser = statement.Parser();
  TContextScope context(parser, parsecontext::kSqlStatement);
  query.kind = TStatementKind::Select;
  query.isSubQuery = true;
  TStatementParser(statement).Select(query, TSelectRole::SubQuery);
}

}  // namespace mt
