// The lexer and the expression parser: tokens and their texts, trees (compared through their
// compact text form), constants, SQL type names, and the exact messages of every fault with
// the owner's code and context name.
#include "engine/common/expparser.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "engine/common/engineerror.h"

namespace mt {
namespace {

// An owner in the role of a statement: it collects parameters and reads the sub-select of
// IN (SELECT expr FROM name [WHERE condition]) into trees of its own.
class TTestOwner : public TExpressionOwner {
 public:
  std::vector<TExpToken*> parameters;
  std::vector<TExpTokenPtr> subTrees;
  bool subSelects = true;

  void AddParameter(TExpToken& node) override { parameters.push_back(&node); }

  bool ParseSubSelect(TExpressionParser& parser, TExpToken& /*node*/) override {
    if (!subSelects) return false;
    parser.NextToken();
    subTrees.push_back(parser.ParseExpression(perm::kNone));
    if (!parser.IsKeyword("FROM"))
      parser.Raise("FROM keyword expected, instead found '" + parser.TokenText() + "'");
    parser.NextToken();
    parser.NextToken();
    if (parser.IsKeyword("WHERE")) {
      parser.NextToken();
      subTrees.push_back(parser.ParseExpression(perm::kPredicates | perm::kSubSelects));
    }
    return true;
  }
};

constexpr TPermissions kAll = perm::kAggregates | perm::kAllColumns | perm::kPredicates |
                              perm::kParameters | perm::kSubSelects;
constexpr TPermissions kWhere = perm::kPredicates | perm::kParameters | perm::kSubSelects;
constexpr TPermissions kSelectItem = perm::kAggregates | perm::kAllColumns | perm::kPredicates;

// Parses text as a whole expression and gives the tree's text, or the engine error's message.
std::string Parse(std::string_view text, TPermissions permissions = kAll,
                  std::string_view context = parsecontext::kSqlStatement) {
  TTestOwner owner;
  TExpressionParser parser(&owner);
  parser.SetContextName(context);
  parser.SetText(text);
  try {
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseWholeExpression(permissions);
    return ExpTreeToText(tree.get());
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kSqlError);
    return e.what();
  }
}

std::string ParseFilter(std::string_view text, std::string_view table = "diary") {
  TExpressionParser parser;
  parser.SetFilterOwner(table);
  parser.SetText(text);
  try {
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseWholeExpression(perm::kPredicates);
    return ExpTreeToText(tree.get());
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kFilterError);
    EXPECT_EQ(e.TableName(), table);
    return e.what();
  }
}

std::string Sql(std::string_view message) {
  return "Engine Error # 11949 SQL error - " + std::string(message);
}

// ---- Lexer

struct TToken {
  int cls;
  std::string text;
  bool operator==(const TToken&) const = default;
};

std::vector<TToken> Tokens(std::string_view text) {
  TExpressionParser parser;
  parser.SetText(text);
  std::vector<TToken> out;
  while (parser.NextToken() != tokclass::kEnd)
    out.push_back({parser.TokenClass(), parser.TokenText()});
  return out;
}

void PrintTo(const TToken& t, std::ostream* os) {
  *os << "{" << t.cls << ", \"" << t.text << "\"}";
}

TEST(ExpLexerTest, ClassifiesAndDelimitsTokens) {
  using namespace tokclass;
  struct Case {
    std::string text;
    std::vector<TToken> tokens;
  };
  const std::vector<Case> cases = {
      {" \t\r\n\x01 ", {}},
      {"/* a */ x /**/y/* * / */", {{kSymbol, "x"}, {kSymbol, "y"}}},
      {"/* /* */ z */", {{kSymbol, "z"}, {'*', "*"}, {'/', "/"}}},
      {"a_1!$@b _x", {{kSymbol, "a_1!$@b"}, {kSymbol, "_x"}}},
      {"[a]]", {{kBracketed, "a"}, {']', "]"}}},
      {"[it''s \"q\"\"\"]", {{kBracketed, "it's \"q\"\""}}},
      {"'it''s' \"say \"\"hi\"\"\"", {{kSingleQuoted, "it's"}, {kDoubleQuoted, "say \"hi\""}}},
      {"'a\"\"b' \"a''b\"", {{kSingleQuoted, "a\"\"b"}, {kDoubleQuoted, "a''b"}}},
      {"'' \"\" ''''", {{kSingleQuoted, ""}, {kDoubleQuoted, ""}, {kSingleQuoted, "'"}}},
      {"#65 # #x", {{kCharCode, "#65"}, {kCharCode, "#"}, {kCharCode, "#"}, {kSymbol, "x"}}},
      {"12 1.5 1e3 2E+4 3e-2 .5 1..2 5.",
       {{kInteger, "12"},
        {kDecimal, "1.5"},
        {kDecimal, "1e3"},
        {kDecimal, "2E+4"},
        {kDecimal, "3e-2"},
        {kDecimal, ".5"},
        {kDecimal, "1..2"},
        {kDecimal, "5."}}},
      {"1-2 12ab",
       {{kInteger, "1"}, {'-', "-"}, {kInteger, "2"}, {kInteger, "12"}, {kSymbol, "ab"}}},
      {"a.b t.5", {{kSymbol, "a"}, {'.', "."}, {kSymbol, "b"}, {kSymbol, "t"}, {kDecimal, ".5"}}},
      {"<>=|!?;\\,\xff",
       {{'<', "<"},
        {'>', ">"},
        {'=', "="},
        {'|', "|"},
        {'!', "!"},
        {'?', "?"},
        {';', ";"},
        {'\\', "\\"},
        {',', ","},
        {0xff, "\xff"}}},
      // A GBK character is never split: its trail byte may look like `\`, `]` or `|`.
      {"\xb1\xed\x81\x5c"
       "a \x81\x5d",
       {{kSymbol,
         "\xb1\xed\x81\x5c"
         "a"},
        {kSymbol, "\x81\x5d"}}},
      {"[\x81\x5d]x]", {{kBracketed, "\x81\x5d"}, {kSymbol, "x"}, {']', "]"}}},
      {"'\x81\x7c'", {{kSingleQuoted, "\x81\x7c"}}},
      // The text ends at its first zero byte.
      {std::string("a\0b", 3), {{kSymbol, "a"}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(ExpLexerTest, EndOfTextRepeatsAndKeepsPosition) {
  TExpressionParser parser;
  parser.SetText("x ");
  EXPECT_EQ(parser.NextToken(), tokclass::kSymbol);
  EXPECT_EQ(parser.NextToken(), tokclass::kEnd);
  const std::size_t at = parser.Position();
  EXPECT_EQ(parser.NextToken(), tokclass::kEnd);
  EXPECT_EQ(parser.Position(), at);
  EXPECT_EQ(parser.TokenText(), "");
  EXPECT_TRUE(parser.AtEnd());
}

TEST(ExpLexerTest, KeywordsAreBareSymbolsOnly) {
  TExpressionParser parser;
  parser.SetText("select [select] 'select' \"select\" selectx");
  parser.NextToken();
  EXPECT_TRUE(parser.IsKeyword("SELECT"));
  EXPECT_TRUE(parser.IsKeyword("select"));
  for (int i = 0; i < 4; ++i) {
    parser.NextToken();
    EXPECT_FALSE(parser.IsKeyword("SELECT")) << parser.TokenText();
    EXPECT_EQ(parser.IsNameOrString(), true);
  }
}

TEST(ExpLexerTest, TextSinceMarkDropsLineBreaks) {
  TExpressionParser parser;
  parser.SetText("select a +\r\n  b*2 , c");
  parser.NextToken();
  parser.NextToken();
  parser.SetMark();
  TExpTokenPtr tree = parser.ParseExpression(kAll);
  EXPECT_TRUE(parser.IsClass(','));
  EXPECT_EQ(parser.TextSinceMark(), "a +  b*2");
}

// ---- Trees

struct TTreeCase {
  std::string text;
  std::string tree;
};

void ExpectTrees(const std::vector<TTreeCase>& cases, TPermissions permissions = kAll) {
  for (const auto& c : cases)
    EXPECT_EQ(Parse(c.text, permissions), c.tree) << c.text;
}

TEST(ExpParserTest, PrecedenceAndAssociativity) {
  ExpectTrees({
      {"a + b * c", "(+ a (* b c))"},
      {"a * b + c", "(+ (* a b) c)"},
      {"a - b - c", "(- (- a b) c)"},
      {"a / b * c", "(* (/ a b) c)"},
      {"(a + b) * c", "(* (+ a b) c)"},
      {"-a * b", "(* (- a) b)"},
      {"a * -b", "(* a (- b))"},
      {"+a - -1", "(- (+ a) (- int:1))"},
      {"a || b + c", "(+ (+ a b) c)"},
      {"a | | b", "(+ a b)"},
      {"a + b = c * d", "(= (+ a b) (* c d))"},
      {"NOT a = 1 AND b = 2", "(AND (NOT (= a int:1)) (= b int:2))"},
      {"a = 1 OR b = 2 AND c = 3", "(OR (= a int:1) (AND (= b int:2) (= c int:3)))"},
      {"a OR b OR c", "(OR (OR a b) c)"},
      {"a and b Or not c", "(OR (AND a b) (NOT c))"},
      {"NOT (a OR b)", "(NOT (OR a b))"},
      {"(((a)))", "a"},
  });
}

TEST(ExpParserTest, ComparisonsJoinFromSeparateCharacters) {
  ExpectTrees({
      {"a<>b", "(<> a b)"},
      {"a < > b", "(<> a b)"},
      {"a</* c */>b", "(<> a b)"},
      {"a <= b", "(<= a b)"},
      {"a < = b", "(<= a b)"},
      {"a >= b", "(>= a b)"},
      {"a > = b", "(>= a b)"},
      {"a < b", "(< a b)"},
      {"a > b", "(> a b)"},
      {"a = b", "(= a b)"},
  });
}

TEST(ExpParserTest, Predicates) {
  ExpectTrees({
      {"x LIKE 'a%'", "(LIKE x str:'a%')"},
      {"x not like 'a' || y", "(NOT_LIKE x (+ str:'a' y))"},
      {"x BETWEEN 1 AND 2 + 3", "(BETWEEN x int:1 (+ int:2 int:3))"},
      {"x NOT BETWEEN 1 AND 2 AND y = 1", "(AND (NOT_BETWEEN x int:1 int:2) (= y int:1))"},
      {"x IN (1, 2 * 3, 'z')", "(IN x int:1 (* int:2 int:3) str:'z')"},
      {"x NOT IN ('a')", "(NOT_IN x str:'a')"},
      {"x IN (SELECT a FROM t)", "(IN x <select>)"},
      {"x NOT IN (SELECT a FROM t WHERE b IN (SELECT c FROM u))", "(NOT_IN x <select>)"},
      {"x IS NULL", "(= x NULL)"},
      {"x is not null", "(<> x NULL)"},
      {"x <> NULL", "(<> x NULL)"},
      {"NOT x LIKE 'a'", "(NOT (LIKE x str:'a'))"},
  });
}

TEST(ExpParserTest, PredicateNodesCarryTheirCodes) {
  struct Case {
    std::string text;
    TOperator op;
    std::size_t arguments;
  };
  const std::vector<Case> cases = {
      {"x LIKE 'a'", TOperator::Like, 2},
      {"x NOT LIKE 'a'", TOperator::NotLike, 2},
      {"x BETWEEN 1 AND 2", TOperator::Between, 3},
      {"x NOT BETWEEN 1 AND 2", TOperator::NotBetween, 3},
      {"x IN (1, 2)", TOperator::InList, 3},
      {"x NOT IN (1)", TOperator::NotInList, 2},
      {"x IN (SELECT a FROM t)", TOperator::InSelect, 2},
      {"x NOT IN (SELECT a FROM t)", TOperator::NotInSelect, 2},
  };
  for (const auto& c : cases) {
    TTestOwner owner;
    TExpressionParser parser(&owner);
    parser.SetText(c.text);
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseWholeExpression(kAll);
    EXPECT_EQ(tree->kind, TNodeKind::Predicate) << c.text;
    EXPECT_EQ(tree->op, c.op) << c.text;
    ASSERT_EQ(tree->arguments.size(), c.arguments) << c.text;
    if (c.op == TOperator::InSelect || c.op == TOperator::NotInSelect) {
      EXPECT_EQ(tree->arguments[1]->kind, TNodeKind::SubSelect);
    }
  }
}

TEST(ExpParserTest, ColumnsAndCorrelationNames) {
  ExpectTrees({
      {"amount", "amount"},
      {"t.a = [u].[b]", "(= t.a u.b)"},
      {"[my col] + [t].\"x\"", "(+ my col t.x)"},
      {"\"c:\\data\\szzb.dat\".amount", "szzb.amount"},
      {"'/home/me/data/szzb.DAT'.'date'", "szzb.date"},
      {"\"\xb1\xed\\\x81\x5c.dat\".x", "\x81\x5c.x"},  // `\` as a trail byte is no separator
      {"t.*", "t.*"},
      {"*", "*"},
      // Function and type names are names where the grammar wants a name.
      {"[count] + [pos] + \"sum\".x", "(+ (+ count pos) sum.x)"},
      {"date", "date"},
  });
}

TEST(ExpParserTest, FunctionsAndAggregates) {
  ExpectTrees({
      {"COUNT(*)", "(COUNT *)"},
      {"count(a)", "(COUNT a)"},
      {"Sum(a + 1)", "(SUM (+ a int:1))"},
      {"RUNSUM(a) + AVG(b) + MIN(c) + MAX(d)", "(+ (+ (+ (RUNSUM a) (AVG b)) (MIN c)) (MAX d))"},
      {"UPPER(a) || lower(b)", "(+ (UPPER a) (LOWER b))"},
      {"LENGTH(a || 'x')", "(LENGTH (+ a str:'x'))"},
      {"SUBSTRING(a FROM 2 FOR 3)", "(SUBSTRING a int:2 int:3)"},
      {"substring(a from 2)", "(SUBSTRING a int:2)"},
      {"REPLACE('a' WITH 'b' IN c)", "(REPLACE str:'a' str:'b' c)"},
      {"POS('b' IN c)", "(POS str:'b' c)"},
      {"OCCURS('b' IN c)", "(OCCURS str:'b' c)"},
      {"CAST(a AS CHAR(10))", "(CAST a int:10 :1/0/10/0)"},
      {"CAST(a AS INTEGER)", "(CAST a :6/0/4/0)"},
      {"TRIM(LEADING 'x' FROM a)", "(TRIM_LEADING str:'x' a)"},
      {"TRIM(trailing #32 FROM a)", "(TRIM_TRAILING str:' ' a)"},
      {"TRIM(BOTH 'x' FROM 'xxaxx')", "(TRIM_BOTH str:'x' str:'xxaxx')"},
      {"EXTRACT(YEAR FROM d)", "(EXTRACT_YEAR d)"},
      {"EXTRACT(month FROM d) + EXTRACT(WEEK FROM d) + EXTRACT(DAY FROM d)",
       "(+ (+ (EXTRACT_MONTH d) (EXTRACT_WEEK d)) (EXTRACT_DAY d))"},
      {"EXTRACT(DAYOFWEEK FROM d) + EXTRACT(DAYOFYEAR FROM d)",
       "(+ (EXTRACT_DAYOFWEEK d) (EXTRACT_DAYOFYEAR d))"},
      {"EXTRACT(HOUR FROM t) + EXTRACT(MINUTE FROM t) + EXTRACT(SECOND FROM t)",
       "(+ (+ (EXTRACT_HOUR t) (EXTRACT_MINUTE t)) (EXTRACT_SECOND t))"},
      {"ABS(-a)", "(ABS (- a))"},
      {"ROUND(a)", "(ROUND a)"},
      {"ROUND(a * 2 TO 2)", "(ROUND (* a int:2) int:2)"},
      {"IF(a = 1 THEN 'x' ELSE 'y')", "(IF (= a int:1) str:'x' str:'y')"},
      {"IF(a OR b, 1, 2)", "(IF (OR a b) int:1 int:2)"},
      {"IFNULL(a THEN 0 ELSE a)", "(IFNULL a int:0 a)"},
      {"IFNULL(a, 0, 1)", "(IFNULL a int:0 int:1)"},
      {"COALESCE(a)", "(COALESCE a)"},
      {"COALESCE(a, b, 0)", "(COALESCE a b int:0)"},
      {"TEXTSEARCH('w' IN memo)", "(TEXTSEARCH str:'w' memo)"},
      {"TEXTOCCURS('w' IN t.memo)", "(TEXTOCCURS str:'w' t.memo)"},
      {"LASTAUTOINC('szzb')", "(LASTAUTOINC str:'szzb')"},
      {"IDENT_CURRENT(szzb)", "(IDENT_CURRENT szzb)"},
      {"upper(upper(a))", "(UPPER (UPPER a))"},
  });
}

TEST(ExpParserTest, FunctionArgumentsAreAdditiveSoKeywordsEndThem) {
  // IN inside POS and AND inside BETWEEN are not taken as predicates or conjunctions.
  ExpectTrees({
      {"POS(a + 'b' IN c) = 1", "(= (POS (+ a str:'b') c) int:1)"},
      {"x BETWEEN a AND b AND c", "(AND (BETWEEN x a b) c)"},
  });
  // IF takes predicates in its condition even where the caller allows none.
  EXPECT_EQ(Parse("IF(a LIKE 'x%', 1, 2)", perm::kNone), "(IF (LIKE a str:'x%') int:1 int:2)");
}

TEST(ExpParserTest, Constants) {
  ExpectTrees({
      {"TRUE", "bool:1"},
      {"false", "bool:0"},
      {"NULL", "NULL"},
      {"''", "NULL"},
      {"\"\"", "NULL"},
      {"'it''s'", "str:'it's'"},
      {"\"say \"\"hi\"\"\"", "str:'say \"hi\"'"},
      {"#65", "str:'A'"},
      {"#0065", "str:'A'"},
      {"2147483647", "int:2147483647"},
      {"2147483648", "large:2147483648"},
      {"9223372036854775807", "large:9223372036854775807"},
      {"9223372036854775808", "float:9223372036854775808"},
      {"1e3", "float:1000"},
      {".5", "float:0.5"},
      {"2.", "float:2"},
      {"1.25E-2", "float:0.0125"},
      {"a = ?", "(= a ?)"},
  });
}

TEST(ExpParserTest, ConstantsHaveTheirTypesAndSizes) {
  struct Case {
    std::string text;
    uint16_t type;
    int32_t size;
    bool isNull;
  };
  const std::vector<Case> cases = {
      {"'abc'", ftype::kString, 4, false},
      {"#0", ftype::kString, 2, false},
      {"TRUE", ftype::kBoolean, 2, false},
      {"1", ftype::kInteger, 4, false},
      {"4294967296", ftype::kLargeInt, 8, false},
      {"0.5", ftype::kFloat, 8, false},
      {"NULL", exptype::kUnknown, 0, true},
      {"''", exptype::kUnknown, 0, true},
      {"CURRENT_DATE", ftype::kDate, 4, false},
      {"CURRENT_TIME()", ftype::kTime, 4, false},
      {"current_timestamp", ftype::kTimestamp, 8, false},
  };
  for (const auto& c : cases) {
    TExpressionParser parser;
    parser.SetText(c.text);
    parser.NextToken();
    TExpTokenPtr n = parser.ParseWholeExpression(perm::kNone);
    EXPECT_EQ(n->kind, TNodeKind::Constant) << c.text;
    EXPECT_EQ(n->type, c.type) << c.text;
    EXPECT_EQ(n->size, c.size) << c.text;
    EXPECT_EQ(n->isNull, c.isNull) << c.text;
  }
}

// The day number of today by another route: 1970-01-01 is day 719163 when 1 January of year
// 1 is day 1 (so 30 December 1899 is day 693594).
int32_t TodayByEpoch() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 12;
  return static_cast<int32_t>(timegm(&local) / 86400 + 719163);
}

TEST(ExpParserTest, CurrentDateTimeAndTimestampAreTakenAtParseTime) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int32_t before = TodayByEpoch();
    TExpressionParser parser;
    parser.SetText("CURRENT_DATE CURRENT_TIME CURRENT_TIMESTAMP()");
    parser.NextToken();
    TExpTokenPtr date = parser.ParsePrimary(perm::kNone);
    TExpTokenPtr time = parser.ParsePrimary(perm::kNone);
    TExpTokenPtr stamp = parser.ParsePrimary(perm::kNone);
    const int32_t after = TodayByEpoch();
    if (before != after) continue;  // midnight passed meanwhile
    EXPECT_EQ(date->Int32Value(), before);
    EXPECT_GE(time->Int32Value(), 0);
    EXPECT_LT(time->Int32Value(), 86400000);
    const double ms = stamp->DoubleValue();
    EXPECT_EQ(static_cast<int32_t>(ms / 86400000), before);
    EXPECT_GE(ms - before * 86400000.0, time->Int32Value());
    return;
  }
}

TEST(ExpParserTest, ParametersAreRegisteredInOrder) {
  TTestOwner owner;
  TExpressionParser parser(&owner);
  parser.SetText("a = ? AND b IN (:first, 1) OR UPPER(?) = :Last_2");
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseWholeExpression(kWhere);
  EXPECT_EQ(ExpTreeToText(tree.get()),
            "(OR (AND (= a ?) (IN b :first int:1)) (= (UPPER ?) :Last_2))");
  ASSERT_EQ(owner.parameters.size(), 4u);
  EXPECT_EQ(owner.parameters[0], tree->left->left->right.get());
  EXPECT_EQ(owner.parameters[1], tree->left->right->arguments[1].get());
  EXPECT_EQ(owner.parameters[2], tree->right->left->arguments[0].get());
  EXPECT_EQ(owner.parameters[3], tree->right->right.get());
  const std::vector<std::string> texts = {"?", ":first", "?", ":Last_2"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_TRUE(owner.parameters[i]->isParameter);
    EXPECT_EQ(owner.parameters[i]->type, exptype::kUnknown);
    EXPECT_EQ(owner.parameters[i]->text, texts[i]);
  }
}

TEST(ExpParserTest, EntryPointsStopAtTheirLevel) {
  struct Case {
    std::string text;
    int level;  // 0 expression, 1 additive, 2 primary
    std::string tree;
    std::string rest;
  };
  const std::vector<Case> cases = {
      {"a = 1 , b", 0, "(= a int:1)", ","},
      {"a + 1 = b", 1, "(+ a int:1)", "="},
      {"a + 1", 2, "a", "+"},
      {"-1", 1, "(- int:1)", ""},
      {"t.c AS x", 2, "t.c", "AS"},
  };
  for (const auto& c : cases) {
    TExpressionParser parser;
    parser.SetText(c.text);
    parser.NextToken();
    TExpTokenPtr tree = c.level == 0   ? parser.ParseExpression(kAll)
                        : c.level == 1 ? parser.ParseAdditive(kAll)
                                       : parser.ParsePrimary(kAll);
    EXPECT_EQ(ExpTreeToText(tree.get()), c.tree) << c.text;
    EXPECT_EQ(parser.TokenText(), c.rest) << c.text;
  }
}

// ---- SQL type names

TEST(ExpParserTest, DataTypeNames) {
  struct Case {
    std::string text;
    uint16_t type, subtype;
    int32_t size, scale;
    std::size_t arguments;
  };
  using namespace ftype;
  using namespace fsubtype;
  const std::vector<Case> cases = {
      {"SMALLINT", kSmallInt, 0, 2, 0, 0},
      {"word", kWord, 0, 2, 0, 0},
      {"INTEGER", kInteger, 0, 4, 0, 0},
      {"Int", kInteger, 0, 4, 0, 0},
      {"LARGEINT", kLargeInt, 0, 8, 0, 0},
      {"AUTOINC", kInteger, kAutoInc, 4, 0, 0},
      {"DECIMAL", kBcd, 0, 34, 0, 0},
      {"NUMERIC(10)", kBcd, 0, 34, 0, 1},
      {"DECIMAL(10, 2)", kBcd, 0, 34, 2, 2},
      {"FLOAT", kFloat, 0, 8, 0, 0},
      {"FLOAT(15, 4)", kFloat, 0, 8, 4, 2},
      {"MONEY", kFloat, kMoney, 8, 0, 0},
      {"CHARACTER(5)", kString, 0, 5, 0, 1},
      {"CHAR(20)", kString, 0, 20, 0, 1},
      {"varchar(250)", kString, 0, 250, 0, 1},
      {"CHAR(x)", kString, 0, 0, 0, 1},
      {"BYTES(4)", kBytes, 0, 4, 0, 1},
      {"VARBYTES(4)", kBytes, 0, 4, 0, 1},
      {"BINARY(8)", kBytes, 0, 8, 0, 1},
      {"VARBINARY(8)", kBytes, 0, 8, 0, 1},
      {"DATE", kDate, 0, 4, 0, 0},
      {"TIME", kTime, 0, 4, 0, 0},
      {"TIMESTAMP", kTimestamp, 0, 8, 0, 0},
      {"BOOLEAN", kBoolean, 0, 2, 0, 0},
      {"BOOL", kBoolean, 0, 2, 0, 0},
      {"BIT", kBoolean, 0, 2, 0, 0},
      {"BLOB", kBlob, kBinary, 0, 0, 0},
      {"BLOB(512, 1)", kBlob, kBinary, 0, 0, 2},
      {"BLOB(512, 2)", kBlob, kMemo, 0, 0, 2},
      {"BLOB(512, 3)", kBlob, kFormattedMemo, 0, 0, 2},
      {"BLOB(512, 5)", kBlob, kGraphic, 0, 0, 2},
      {"BLOB(512, 7)", kBlob, kTypedBinary, 0, 0, 2},
      {"BLOB(512, 4)", kBlob, kBinary, 0, 0, 2},
      {"LONGVARBINARY", kBlob, kBinary, 0, 0, 0},
      {"LONGVARCHAR", kBlob, kMemo, 0, 0, 0},
      {"MEMO", kBlob, kMemo, 0, 0, 0},
      {"GRAPHIC", kBlob, kGraphic, 0, 0, 0},
  };
  for (const auto& c : cases) {
    TExpressionParser parser;
    parser.SetText(c.text + " ,");
    parser.NextToken();
    TExpTokenPtr node = NewExpToken();
    ASSERT_TRUE(parser.ParseDataType(*node, perm::kNone, false)) << c.text;
    EXPECT_EQ(node->type, c.type) << c.text;
    EXPECT_EQ(node->subtype, c.subtype) << c.text;
    EXPECT_EQ(node->size, c.size) << c.text;
    EXPECT_EQ(node->scale, c.scale) << c.text;
    EXPECT_EQ(node->arguments.size(), c.arguments) << c.text;
    EXPECT_TRUE(parser.IsClass(',')) << c.text;
  }
}

TEST(ExpParserTest, OptionalDataTypeLeavesOtherWordsAlone) {
  TExpressionParser parser;
  parser.SetText("DESCRIPTION 'x'");
  parser.NextToken();
  TExpTokenPtr node = NewExpToken();
  EXPECT_FALSE(parser.ParseDataType(*node, perm::kNone, true));
  EXPECT_TRUE(parser.IsKeyword("DESCRIPTION"));
  EXPECT_EQ(node->type, exptype::kUnknown);
}

// ---- Faults

struct TErrorCase {
  std::string text;
  std::string message;  // the part after "SQL error - "
};

void ExpectErrors(const std::vector<TErrorCase>& cases, TPermissions permissions = kAll,
                  std::string_view context = parsecontext::kSqlStatement) {
  for (const auto& c : cases)
    EXPECT_EQ(Parse(c.text, permissions, context), Sql(c.message)) << c.text;
}

TEST(ExpParserErrorTest, LexicalFaults) {
  ExpectErrors({
      {"a /* no end", "Missing ending comment slash and asterisk in SQL statement"},
      {"a /* x */ /*/", "Missing ending comment slash and asterisk in SQL statement"},
      {"'abc", "Missing single quote after 'abc' in SQL statement"},
      {"'it''s", "Missing single quote after 'it''s' in SQL statement"},
      {"\"abc", "Missing double quote after 'abc' in SQL statement"},
      {"[abc", "Missing right bracket after 'abc' in SQL statement"},
      {"#256", "Character constants (#) must be within the range of 0 to 255 in SQL statement"},
      {"#", "Character constants (#) must be within the range of 0 to 255 in SQL statement"},
      {"#99999999999999999999999",
       "Character constants (#) must be within the range of 0 to 255 in SQL statement"},
      {"1..2", "Constant '1..2' is not a valid number  in SQL statement"},
      {"1e", "Constant '1e' is not a valid number  in SQL statement"},
      {"1e+", "Constant '1e+' is not a valid number  in SQL statement"},
      {"1e999", "Constant '1e999' is not a valid number  in SQL statement"},
  });
}

TEST(ExpParserErrorTest, GrammarFaults) {
  ExpectErrors({
      {"a | b",
       "Second concatenation symbol '|' expected after first concatentation symbol, instead "
       "found 'b' in SQL statement"},
      {"foo(1)", "Unknown or unexpected function 'foo' found in SQL statement"},
      {"(a + 1", "Right parentheses expected, instead found '' in SQL statement"},
      {"(a b)", "Right parentheses expected, instead found 'b' in SQL statement"},
      {")", "Unknown or unexpected symbol ')' found in SQL statement"},
      {"a = ", "Unknown or unexpected symbol '' found in SQL statement"},
      {"a != b", "Unknown or unexpected symbol '!' found in SQL statement"},
      {"a = 1 = 2", "Unknown or unexpected symbol '=' found in SQL statement"},
      {"--a", "Unknown or unexpected symbol '-' found in SQL statement"},
      {"t.5", "Unknown or unexpected symbol '.5' found in SQL statement"},
      {"t.(a)", "Unknown or unexpected symbol '(' found in SQL statement"},
      {"a is 1", "Unknown or unexpected symbol '1' found in SQL statement"},
      {"a is not 1", "Unknown or unexpected symbol '1' found in SQL statement"},
      {"a not b", "Unknown or unexpected symbol 'b' found in SQL statement"},
      {"a in 1", "Expected left parentheses for IN operator, instead found '1' in SQL statement"},
      {"a in (1, 2",
       "Expected right parentheses after IN operator, instead found '' in SQL statement"},
      {"a in ()",
       "You must provide at least one value as an operand of the IN operator  in SQL statement"},
      {"a in (select b from t x",
       "Expected right parentheses for IN operator, instead found 'x' in SQL statement"},
      {"a not in 1",
       "Expected left parentheses for NOT IN operator, instead found '1' in SQL statement"},
      {"a not in (1 2)",
       "Expected right parentheses after NOT IN operator, instead found '2' in SQL statement"},
      {"a not in ()",
       "You must provide at least one value as an operand of the NOT IN operator  in SQL "
       "statement"},
      {"a not in (select b from t x",
       "Expected right parentheses for NOT IN operator, instead found 'x' in SQL statement"},
      {"a between 1 or 2",
       "Expected AND operator in BETWEEN operator, instead found 'or' in SQL statement"},
      {"a not between 1",
       "Expected AND operator in NOT BETWEEN operator, instead found '' in SQL statement"},
  });
}

TEST(ExpParserErrorTest, FunctionFaults) {
  ExpectErrors({
      {"sum a",
       "Left parentheses expected after aggregate function 'SUM', instead found 'a' in SQL "
       "statement"},
      {"count(a b)",
       "Right parentheses expected after aggregate COUNT function argument, instead found 'b' in "
       "SQL statement"},
      {"max(", "Unknown or unexpected symbol '' found in SQL statement"},
      {"upper a",
       "Left parentheses expected after UPPER keyword, instead found 'a' in SQL statement"},
      {"idEnt_current",
       "Left parentheses expected after IDENT_CURRENT keyword, instead found '' in SQL statement"},
      {"upper(a b)",
       "Right parentheses expected after UPPER function argument, instead found 'b' in SQL "
       "statement"},
      {"lower(a",
       "Right parentheses expected after LOWER function argument, instead found '' in SQL "
       "statement"},
      {"length(a,",
       "Right parentheses expected after LENGTH function argument, instead found ',' in SQL "
       "statement"},
      {"substring(a, 1)",
       "FROM keyword expected after first SUBSTRING function argument, instead found ',' in SQL "
       "statement"},
      {"substring(a from 1, 2)",
       "Right parentheses expected after SUBSTRING function arguments, instead found ',' in SQL "
       "statement"},
      {"replace(a b)",
       "WITH keyword expected after first REPLACE function argument, instead found 'b' in SQL "
       "statement"},
      {"replace(a with b c)",
       "IN keyword expected after second REPLACE function argument, instead found 'c' in SQL "
       "statement"},
      {"replace(a with b in c d)",
       "Right parentheses expected after REPLACE function arguments, instead found 'd' in SQL "
       "statement"},
      {"pos(a, b)",
       "IN keyword expected after first POS function argument, instead found ',' in SQL statement"},
      {"pos(a in b c)",
       "Right parentheses expected after POS function arguments, instead found 'c' in SQL "
       "statement"},
      {"occurs(a b)",
       "IN keyword expected after first OCCURS function argument, instead found 'b' in SQL "
       "statement"},
      {"occurs(a in b",
       "Right parentheses expected after OCCURS function arguments, instead found '' in SQL "
       "statement"},
      {"cast(a to integer)",
       "AS keyword expected after first CAST function argument, instead found 'to' in SQL "
       "statement"},
      {"cast(a as integer x)",
       "Right parentheses expected after CAST function arguments, instead found 'x' in SQL "
       "statement"},
      {"trim('x' from a)",
       "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found 'x' in SQL "
       "statement"},
      {"trim(both 'x' in a)",
       "FROM keyword expected after second TRIM function argument, instead found 'in' in SQL "
       "statement"},
      {"trim(both 'x' from a b)",
       "Right parentheses expected after TRIM function arguments, instead found 'b' in SQL "
       "statement"},
      {"extract(decade from d)",
       "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected "
       "after EXTRACT keyword, instead found 'decade' in SQL statement"},
      {"extract(year of d)",
       "FROM keyword expected after second EXTRACT function argument, instead found 'of' in SQL "
       "statement"},
      {"extract(year from d",
       "Right parentheses expected after EXTRACT function arguments, instead found '' in SQL "
       "statement"},
      {"abs(a b)",
       "Right parentheses expected after ABS function argument, instead found 'b' in SQL "
       "statement"},
      {"round(a, 2)",
       "Right parentheses expected after ROUND function arguments, instead found ',' in SQL "
       "statement"},
      {"if(a 1, 2)",
       "THEN keyword or comma expected after first IF function argument, instead found '1' in SQL "
       "statement"},
      {"if(a, 1 2)",
       "ELSE keyword or comma expected after second IF function argument, instead found '2' in SQL "
       "statement"},
      {"if(a, 1, 2, 3)",
       "Right parentheses expected after IF function arguments, instead found ',' in SQL "
       "statement"},
      {"ifnull(a else 1, 2)",
       "THEN keyword or comma expected after first IFNULL function argument, instead found 'else' "
       "in SQL statement"},
      {"ifnull(a then 1 then 2)",
       "ELSE keyword or comma expected after second IFNULL function argument, instead found 'then' "
       "in SQL statement"},
      {"ifnull(a, 1, 2",
       "Right parentheses expected after IFNULL function arguments, instead found '' in SQL "
       "statement"},
      {"coalesce()",
       "You must provide at least one value as an argument of the COALESCE operator  in SQL "
       "statement"},
      {"coalesce(a b)",
       "Expected right parentheses after COALESCE expression arguments, instead found 'b' in SQL "
       "statement"},
      {"textsearch('w' m)",
       "IN keyword expected after first TEXTSEARCH function argument, instead found 'm' in SQL "
       "statement"},
      {"textsearch('w' in m n)",
       "Right parentheses expected after TEXTSEARCH function argument, instead found 'n' in SQL "
       "statement"},
      {"textoccurs('w', m)",
       "IN keyword expected after first TEXTOCCURS function argument, instead found ',' in SQL "
       "statement"},
      {"textoccurs('w' in m",
       "Right parentheses expected after TEXTOCCURS function argument, instead found '' in SQL "
       "statement"},
      {"lastautoinc('t' 'u')",
       "Right parentheses expected after LASTAUTOINC function argument, instead found 'u' in SQL "
       "statement"},
      {"ident_current(t, u)",
       "Right parentheses expected after IDENT_CURRENT function argument, instead found ',' in SQL "
       "statement"},
      {"current_date(1)",
       "Right parentheses expected after first CURRENT_DATE function parentheses, instead found "
       "'1' in SQL statement"},
      {"current_time(",
       "Right parentheses expected after first CURRENT_TIME function parentheses, instead found '' "
       "in SQL statement"},
      {"current_timestamp( x",
       "Right parentheses expected after first CURRENT_TIMESTAMP function parentheses, instead "
       "found 'x' in SQL statement"},
  });
}

TEST(ExpParserErrorTest, DataTypeFaults) {
  ExpectErrors({
      {"cast(a as text)", "SQL data type keyword expected, instead found 'text' in SQL statement"},
      {"cast(a as 'char')",
       "SQL data type keyword expected, instead found 'char' in SQL statement"},
      {"cast(a as char)",
       "Left parentheses expected after CHAR data type, instead found ')' in SQL statement"},
      {"cast(a as varchar(10 x",
       "Right parentheses expected after VARCHAR data type arguments, instead found 'x' in SQL "
       "statement"},
      {"cast(a as bytes 4)",
       "Left parentheses expected after BYTES data type, instead found '4' in SQL statement"},
      {"cast(a as decimal(10 2))",
       "Comma expected after first DECIMAL argument, instead found '2' in SQL statement"},
      {"cast(a as numeric(10, 2 3))",
       "Right parentheses expected after NUMERIC data type arguments, instead found '3' in SQL "
       "statement"},
      {"cast(a as float(10 2))",
       "Comma expected after first FLOAT argument, instead found '2' in SQL statement"},
      {"cast(a as float(10, 2",
       "Right parentheses expected after FLOAT data type arguments, instead found '' in SQL "
       "statement"},
      {"cast(a as blob(512))",
       "Comma expected after first BLOB argument, instead found ')' in SQL statement"},
      {"cast(a as blob(512, 1 x))",
       "Right parentheses expected after BLOB data type arguments, instead found 'x' in SQL "
       "statement"},
  });
}

TEST(ExpParserErrorTest, AColonIsANamedParameterOnlyDirectlyBeforeASymbol) {
  const std::vector<TErrorCase> cases = {
      {"a = : b", "Unknown or unexpected symbol ':' found in SQL statement"},
      {"a = :1", "Unknown or unexpected symbol ':' found in SQL statement"},
      {"a = :'b'", "Unknown or unexpected symbol ':' found in SQL statement"},
      {"a = :", "Unknown or unexpected symbol ':' found in SQL statement"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Parse(c.text), Sql(c.message)) << c.text;
  EXPECT_EQ(Parse("a = :b", kSelectItem, parsecontext::kSourceColumn),
            Sql("Parameters are not allowed in source column expression"));
  EXPECT_EQ(ParseFilter("a = :b"),
            "Engine Error # 10051 Filter error for the table 'diary' - "
            "Parameters are not allowed in filter expression");
}

TEST(ExpParserErrorTest, PermissionsNameTheContext) {
  struct Case {
    std::string text;
    TPermissions permissions;
    std::string context;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"sum(a)", kWhere, "WHERE or JOIN clause",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"count", kWhere, "WHERE or JOIN clause",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"*", kWhere, "WHERE or JOIN clause",
       "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"t.*", kWhere, "WHERE or JOIN clause",
       "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"[*]", kWhere, "WHERE or JOIN clause",
       "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"a = ?", kSelectItem, "source column expression",
       "Parameters are not allowed in source column expression"},
      {"a like 'x'", perm::kAggregates, "HAVING clause",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING "
       "clause"},
      {"a not between 1 and 2", perm::kAggregates, "HAVING clause",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING "
       "clause"},
      {"a is null", perm::kParameters, "value expression",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in value "
       "expression"},
      {"a not in (1)", perm::kNone, "table column",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in table column"},
      {"a in (select b from t)", kSelectItem, "source column expression",
       "Sub-select queries are not allowed in source column expression"},
      {"a", perm::kNone, "index column", "a"},
      {"(((((a)))", perm::kNone, "index name expression",
       "Right parentheses expected, instead found '' in index name expression"},
  };
  for (const auto& c : cases) {
    const std::string expected = c.message == "a" ? "a" : Sql(c.message);
    EXPECT_EQ(Parse(c.text, c.permissions, c.context), expected) << c.text;
  }
  // HAVING COUNT(*) counts rows although HAVING allows no `*` of its own.
  EXPECT_EQ(Parse("count(*) > 1", perm::kAggregates, parsecontext::kHaving), "(> (COUNT *) int:1)");
}

TEST(ExpParserErrorTest, SubSelectsNeedAnOwnerThatReadsThem) {
  TTestOwner owner;
  owner.subSelects = false;
  TExpressionParser parser(&owner);
  parser.SetText("a in (select b from t)");
  parser.NextToken();
  try {
    parser.ParseWholeExpression(kAll);
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), Sql("Sub-select queries are not allowed in SQL statement").c_str());
  }
}

TEST(ExpParserErrorTest, FilterFaultsCarryCode10051AndTheTableName) {
  const std::string prefix = "Engine Error # 10051 Filter error for the table 'diary' - ";
  const std::vector<TErrorCase> cases = {
      {"a = ?", "Parameters are not allowed in filter expression"},
      {"*", "* (all columns) symbol is not allowed in filter expression"},
      {"count(*) > 1", "Aggregate functions are not allowed in filter expression"},
      {"a != b", "Unknown or unexpected symbol '!' found in filter expression"},
      {"a in (select b from t)", "Sub-select queries are not allowed in filter expression"},
      {"name = 'x", "Missing single quote after 'x' in filter expression"},
      {"a = 1 b", "Unknown or unexpected symbol 'b' found in filter expression"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseFilter(c.text), prefix + c.message) << c.text;
  EXPECT_EQ(ParseFilter("name LIKE 'a%' AND date >= '2004-01-05'"),
            "(AND (LIKE name str:'a%') (>= date str:'2004-01-05'))");
}

TEST(ExpParserErrorTest, MessagesAreCutTo255BytesOnCharacterBoundaries) {
  // 120 GBK characters in a name: byte 255 of the message falls inside one of them.
  std::string name = "xy";
  for (int i = 0; i < 120; ++i)
    name += "\xb1\xed";
  TExpressionParser parser;
  parser.SetText(name + "(1)");
  parser.NextToken();
  try {
    parser.ParseWholeExpression(kAll);
    FAIL();
  } catch (const EEngineError& e) {
    const std::string& extra = e.ExtraText();
    const std::string full = "Unknown or unexpected function '" + name + "' found in SQL statement";
    EXPECT_EQ(extra.size(), 254u);  // 255 would split the character that starts at byte 254
    EXPECT_EQ(extra, full.substr(0, 254));
  }
}

TEST(ExpParserErrorTest, DeepNestingFailsCleanly) {
  const std::string tooDeep = std::string(5000, '(') + "a" + std::string(5000, ')');
  EXPECT_EQ(Parse(tooDeep), Sql("Expression is nested too deeply in SQL statement"));
  std::string longChain = "a";
  for (int i = 0; i < 5000; ++i)
    longChain += " + a";
  EXPECT_EQ(Parse(longChain), Sql("Expression is nested too deeply in SQL statement"));
  std::string calls;
  for (int i = 0; i < 1000; ++i)
    calls += "upper(";
  EXPECT_EQ(Parse(calls), Sql("Expression is nested too deeply in SQL statement"));
  // Width is not depth: a long IN list and moderate nesting are fine.
  std::string list = "x in (0";
  for (int i = 1; i < 20000; ++i)
    list += "," + std::to_string(i);
  EXPECT_EQ(Parse(list + ")").substr(0, 16), "(IN x int:0 int:");
  const std::string fine = std::string(100, '(') + "a" + std::string(100, ')');
  EXPECT_EQ(Parse(fine), "a");
}

TEST(ExpParserErrorTest, ParserIsReusableAfterAFault) {
  TExpressionParser parser;
  parser.SetText(std::string(200, '(') + "a");
  parser.NextToken();
  EXPECT_THROW(parser.ParseWholeExpression(kAll), EEngineError);
  const std::string fine = std::string(100, '(') + "a" + std::string(100, ')');
  parser.SetText(fine);
  parser.NextToken();
  EXPECT_EQ(ExpTreeToText(parser.ParseWholeExpression(kAll).get()), "a");
}

}  // namespace
}  // namespace mt
