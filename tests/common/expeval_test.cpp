// Tests of expression type checking, conversion and evaluation over a fixture row that holds
// every type, NULLs and GBK text.
#include "engine/common/expeval.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"

namespace mt {
namespace {

// A resolver over one in-memory row.
class TFixtureRow : public TExpressionResolver {
 public:
  TFixtureRow() {
    Add("name", ftype::kString).SetString("Smith");
    Add("gbk", ftype::kString)
        .SetString(
            "\xd6\xd0\xce\xc4"
            "abc");  // two GBK characters + abc
    Add("empty", ftype::kString, 21).SetNull();
    Add("notes", ftype::kBlob, 0, fsubtype::kMemo).SetString("memo text");
    Add("photo", ftype::kBlob, 0, fsubtype::kGraphic).SetNull();
    int32_t day = 0;
    EncodeDay(2004, 1, 5, day);
    Add("day", ftype::kDate).SetDate(day);
    Add("noday", ftype::kDate).SetNull();
    Add("at", ftype::kTime).SetTime(((13 * 60 + 30) * 60 + 15) * 1000);
    Add("stamp", ftype::kTimestamp)
        .SetTimestamp(static_cast<double>(day) * kMsPerDay + 12 * 3600000.0);
    Add("flag", ftype::kBoolean).SetBoolean(true);
    Add("off", ftype::kBoolean).SetBoolean(false);
    Add("noflag", ftype::kBoolean).SetNull();
    TExpToken& small = Add("small", ftype::kSmallInt);
    small.SetInteger(0);
    const int16_t s = -7;
    std::memcpy(small.value.Data(), &s, 2);
    TExpToken& word = Add("word", ftype::kWord);
    word.SetInteger(0);
    const uint16_t w = 65000;
    std::memcpy(word.value.Data(), &w, 2);
    Add("qty", ftype::kInteger).SetInteger(12);
    Add("noqty", ftype::kInteger).SetNull();
    Add("big", ftype::kLargeInt).SetLargeInt(5000000000LL);
    Add("price", ftype::kFloat).SetFloat(2.5);
    Add("money", ftype::kFloat, 0, fsubtype::kMoney).SetFloat(10.25);
    TBcd bcd{};
    TextToBcd("123.45", 2, bcd);
    TExpToken& amount = Add("amount", ftype::kBcd, 0, 0, 2);
    std::memcpy(amount.value.Data(), bcd.data(), kBcdSize);
    TExpToken& bytes = Add("raw", ftype::kBytes, 4);
    std::memcpy(bytes.value.Data(), "\x01\x02\x03\x04", 4);
    Add("admin", ftype::kString).SetString("root");
  }

  bool ResolveColumn(TExpToken& node) override {
    std::string key = node.columnName;
    for (char& c : key)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = columns_.find(key);
    if (it == columns_.end()) return false;
    const TExpToken& c = *it->second.value;
    node.columnNumber = static_cast<uint16_t>(it->second.number);
    node.type = it->second.type;
    node.subtype = it->second.subtype;
    node.size = it->second.size;
    node.scale = it->second.scale;
    (void)c;
    return true;
  }

  bool ReadColumn(const TExpToken& column, TExpToken& into) override {
    ++reads;
    std::string key = column.columnName;
    for (char& c : key)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = columns_.find(key);
    if (it == columns_.end()) return false;
    const TExpToken& v = *it->second.value;
    std::memcpy(into.value.Data(), v.value.Data(), v.value.Capacity());
    into.isNull = v.isNull;
    return true;
  }

  int32_t LastAutoInc(std::string_view table) override { return table == "orders" ? 41 : 0; }

  int reads = 0;

 private:
  struct TColumn {
    TExpTokenPtr value;
    int number;
    uint16_t type, subtype;
    int32_t size, scale;
  };

  TExpToken& Add(const std::string& name, uint16_t type, int32_t size = 0, uint16_t sub = 0,
                 int32_t scale = 0) {
    TColumn c{NewExpToken(), static_cast<int>(columns_.size() + 1), type, sub, size, scale};
    if (c.size == 0) {
      switch (type) {
        case ftype::kString:
          c.size = 31;
          break;
        case ftype::kDate:
        case ftype::kTime:
        case ftype::kInteger:
          c.size = 4;
          break;
        case ftype::kBoolean:
        case ftype::kSmallInt:
        case ftype::kWord:
          c.size = 2;
          break;
        case ftype::kBcd:
          c.size = 34;
          break;
        case ftype::kBlob:
          c.size = 0;
          break;
        default:
          c.size = 8;
      }
    }
    TExpToken& ref = *c.value;
    columns_[name] = std::move(c);
    return ref;
  }

  std::map<std::string, TColumn> columns_;
};

struct TOptions {
  bool condition = false;
  bool names = false;
  bool bare = false;
  uint32_t locale = 0;
};

TExpTokenPtr ParseChecked(TFixtureRow& row, std::string_view text, const TOptions& o = {}) {
  TExpressionParser parser;
  parser.SetErrorCode(err::kSqlError);
  parser.SetContextName(parsecontext::kWhereOrJoin);
  parser.SetText(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseWholeExpression(perm::kPredicates | perm::kAggregates);
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = std::string(parsecontext::kWhereOrJoin);
  options.condition = o.condition;
  options.literalNamesColumns = o.names;
  options.bareBooleanColumns = o.bare;
  TypeCheck(tree, options, row);
  return tree;
}

// The value of an expression as text: "NULL" or "<type>:<text>".
std::string Eval(std::string_view text, const TOptions& o = {}) {
  TFixtureRow row;
  try {
    TExpTokenPtr tree = ParseChecked(row, text, o);
    TExpTokenPtr v = Evaluate(*tree, row, o.locale);
    if (v->isNull) return std::to_string(v->type) + ":NULL";
    return std::to_string(v->type) + ":" + ValueToText(*v);
  } catch (const EEngineError& e) {
    return "error " + std::to_string(e.ErrorCode()) + ": " + e.ExtraText();
  }
}

std::string B(bool b) {
  return std::string("4:") + (b ? "True" : "False");
}

struct TCase {
  const char* text;
  std::string expected;
};

void RunCases(const std::vector<TCase>& cases, const TOptions& o = {}) {
  for (const TCase& c : cases)
    EXPECT_EQ(Eval(c.text, o), c.expected) << c.text;
}

TEST(ExpEvalTest, ComparisonsAndNullRules) {
  RunCases({
      {"qty = 12", B(true)},
      {"qty = NULL", B(false)},
      {"noqty = NULL", B(true)},
      {"noqty IS NULL", B(true)},
      {"noqty <> NULL", B(false)},
      {"qty <> NULL", B(true)},
      {"empty = ''", B(true)},
      {"noqty > 1", B(false)},
      {"noqty < 1", B(false)},
      {"noday >= noday", B(true)},
      {"empty < 'a'", B(true)},  // a NULL string compares as the empty string
      {"name > 'Smit'", B(true)},
      {"name < 'smith'", B(true)},  // locale 0: bytes, case-sensitive
      {"small < word", B(true)},
      {"big > qty", B(true)},
      {"amount > 123.4", B(true)},
      {"amount = 123.45", B(true)},
      {"price = 2.5", B(true)},
      {"flag = TRUE", B(true)},
      {"flag <> off", B(true)},
      {"day = stamp", B(false)},
      {"day < stamp", B(true)},
      {"day = '2004-1-5'", B(true)},
      {"day = '2004-01-05'", B(true)},
      {"day >= '2004-01-06'", B(false)},
      {"'2004-01-05' <= day", B(true)},
      {"at = '13:30:15'", B(true)},
      {"at > '1:30 PM'", B(true)},
      {"stamp = '2004-01-05 12:00'", B(true)},
      {"notes = 'memo text'", B(true)},
      {"photo = NULL", B(true)},
      {"raw = raw", B(true)},
  });
}

TEST(ExpEvalTest, LogicAndShortCuts) {
  RunCases({
      {"flag AND off", B(false)},
      {"flag OR off", B(true)},
      {"noflag OR flag", B(true)},
      {"NOT noflag", B(true)},  // conditions are never NULL
      {"NOT (noflag AND flag)", B(true)},
      {"qty = 12 AND name = 'Smith'", B(true)},
  });
  // The right operand is evaluated first; a deciding right operand skips the left.
  for (const char* text : {"qty = 12 AND 1 = 2", "qty = 12 OR 1 = 1"}) {
    TFixtureRow row;
    TExpTokenPtr tree = ParseChecked(row, text);
    EXPECT_EQ(Evaluate(*tree, row, 0)->isNull, false);
    EXPECT_EQ(row.reads, 0) << text;
  }
}

TEST(ExpEvalTest, Arithmetic) {
  RunCases({
      {"1/0", "7:NULL"},
      {"qty / 0", "7:NULL"},
      {"5 + NULL", "6:NULL"},
      {"'a' + NULL", "1:a"},
      {"name + '!'", "1:Smith!"},
      {"name || gbk",
       "1:Smith\xd6\xd0\xce\xc4"
       "abc"},
      {"qty + small", "6:5"},
      {"qty * big", "18:60000000000"},
      {"qty / 5", "7:2.4"},
      {"price * 2", "7:5"},
      {"amount + 1", "8:124.45"},
      {"amount * 2", "8:246.90"},
      {"-amount", "8:-123.45"},
      {"-qty", "6:-12"},
      {"day + 30", "2:2004-02-04"},
      {"day - 5", "2:2003-12-31"},
      {"day - '2004-01-01'", "6:4"},
      {"at + 1000", "10:13:30:16"},
      {"at - '13:00'", "6:1815000"},
      {"stamp + 1", "11:2004-01-06 12:00"},
      {"stamp - day", "6:0"},
      {"stamp - at", "6:-5415000"},
      {"stamp - stamp", "7:0"},
      {"noqty * 2", "6:NULL"},
      {"-(-9223372036854775807 - 1)", "18:-9223372036854775808"},  // wraps, no overflow trap
      {"ABS(-9223372036854775807 - 1)", "18:-9223372036854775808"},
  });
}

// Timestamps pushed far outside the calendar by arithmetic give defined results: no text, the
// conversion default, or NULL where a day or time would have to be taken from them.
TEST(ExpEvalTest, TimestampsOutsideTheCalendar) {
  RunCases({
      {"stamp + 9223372036854775807", "11:"},
      {"stamp - 9223372036854775807 - day", "6:NULL"},
      {"stamp + 9223372036854775807 - at", "6:NULL"},
      {"CAST(stamp + 9223372036854775807 AS DATE)", "2:1899-12-30"},
      {"CAST(stamp - 9223372036854775807 AS TIME)", "10:00:00"},
      {"CAST(stamp + 9223372036854775807 AS CHAR(30))", "1:NULL"},
      {"EXTRACT(YEAR FROM stamp + 9223372036854775807)", "6:NULL"},
      {"CAST(1e300 AS INTEGER)", "6:0"},
  });
}

TEST(ExpEvalTest, MoneySubtype) {
  TFixtureRow row;
  auto subtype = [&](const char* text) { return ParseChecked(row, text)->subtype; };
  EXPECT_EQ(subtype("money + 1"), fsubtype::kMoney);
  EXPECT_EQ(subtype("2 * money"), fsubtype::kMoney);
  EXPECT_EQ(subtype("money - 1"), fsubtype::kMoney);
  EXPECT_EQ(subtype("1 - money"), fsubtype::kNone);
  EXPECT_EQ(subtype("1 / money"), fsubtype::kNone);
  EXPECT_EQ(ParseChecked(row, "name + name")->size, 61);
}

TEST(ExpEvalTest, Predicates) {
  RunCases({
      {"'abc' LIKE 'a_c'", B(true)},
      {"'abc' LIKE 'a%'", B(true)},
      {"'abc' LIKE 'a_c%'", B(true)},
      {"name LIKE 'sm%'", B(true)},  // locale 0 upper-cases both characters
      {"name NOT LIKE 'x%'", B(true)},
      {"empty LIKE '%'", B(false)},
      {"empty NOT LIKE '%'", B(true)},
      {"gbk LIKE '_\xce\xc4%'", B(true)},  // `_` takes a whole GBK character
      {"gbk LIKE '\xd6_abc'", B(false)},
      {"qty IN (1, 12, 3)", B(true)},
      {"qty NOT IN (1, 2)", B(true)},
      {"noqty IN (1, NULL)", B(true)},
      {"day IN ('2004-1-5')", B(true)},
      {"qty BETWEEN 10 AND 12", B(true)},
      {"qty BETWEEN 13 AND 20", B(false)},
      {"qty NOT BETWEEN 13 AND 20", B(true)},
      {"day BETWEEN '2004-01-01' AND '2004-12-31'", B(true)},
      {"name BETWEEN 'A' AND 'Z'", B(true)},
  });
}

TEST(ExpEvalTest, LikePatterns) {
  const std::string longText(5000, 'a');
  const std::string longB = std::string(3000, 'a') + "b" + std::string(3000, 'a');
  struct TLike {
    std::string text, pattern;
    bool match;
  };
  const std::vector<TLike> cases = {
      {"abc", "abc", true},
      {"abc", "ABC", true},
      {"abc", "ab", false},
      {"abc", "%", true},
      {"", "%", true},
      {"", "_", false},
      {"abc", "%%%c", true},
      {"abcabc", "%a%b%c", true},
      {"xaybzc", "%a%b%c", true},
      {"xaybzcq", "%a%b%c", false},
      {"aaab", "%aab", true},
      {"mississippi", "m%iss%ppi", true},
      {"mississippi", "m%iss%pi%x", false},
      {"a%b", "a%b", true},  // no escape: `%` in the text is just a character
      {longText, "%a%b%c", false},
      {longText + "bc", "%a%b%c", true},
      {longText, "%aa%aa%aa%ab", false},
      {longB, "%b%b%", false},
      {longB, "%" + std::string(50, '_') + "b%", true},
  };
  for (const TLike& c : cases)
    EXPECT_EQ(LikeMatch(c.text, c.pattern, 0), c.match) << c.text.substr(0, 20) << " " << c.pattern;
}

TEST(ExpEvalTest, StringFunctions) {
  RunCases({
      {"SUBSTRING('abcdef' FROM 3 FOR 2)", "1:cd"},
      {"SUBSTRING('abcdef' FROM 0 FOR 2)", "1:ab"},
      {"SUBSTRING('abcdef' FROM 5)", "1:ef"},
      {"SUBSTRING('abcdef' FROM 7)", "1:NULL"},
      {"SUBSTRING('abcdef' FROM 2 FOR -1)", "1:NULL"},
      {"SUBSTRING(gbk FROM 2 FOR 2)",
       "1:\xce\xc4"
       "a"},
      {"TRIM(BOTH 'x' FROM 'xxaxx')", "1:a"},
      {"TRIM(LEADING 'x' FROM 'xxaxx')", "1:axx"},
      {"TRIM(TRAILING 'x' FROM 'xxaxx')", "1:xxa"},
      {"TRIM(BOTH 'x' FROM 'xxx')", "1:NULL"},
      {"POS('b' IN 'abc')", "6:2"},
      {"POS('z' IN 'abc')", "6:0"},
      {"POS('a' IN empty)", "6:NULL"},
      {"POS('abc' IN gbk)", "6:3"},
      {"OCCURS('aa' IN 'aaaaa')", "6:2"},
      {"REPLACE('aa' WITH 'b' IN 'aaaaa')", "1:bba"},
      {"REPLACE('a' WITH 'a' IN 'banana')", "1:banana"},
      {"REPLACE('a' WITH '' IN 'aaa')", "1:NULL"},
      {"LENGTH(gbk)", "6:5"},
      {"LENGTH(empty)", "6:NULL"},
      {"UPPER(gbk)",
       "1:\xd6\xd0\xce\xc4"
       "ABC"},
      {"LOWER(name)", "1:smith"},
      {"UPPER(notes)", "3:MEMO TEXT"},
  });
}

TEST(ExpEvalTest, OtherFunctions) {
  RunCases({
      {"CAST('2004-02-30' AS DATE)", "2:1899-12-30"},
      {"CAST('12x' AS INTEGER)", "6:0"},
      {"CAST('12' AS INTEGER) + 1", "6:13"},
      {"CAST(price AS CHAR(10))", "1:2.5"},
      {"CAST(name AS CHAR(3))", "1:Smi"},
      {"CAST(amount AS INTEGER)", "6:123"},
      {"CAST(-2.7 AS INTEGER)", "6:-2"},
      {"CAST(1.23456 AS DECIMAL(10,2))", "8:1.23"},
      {"CAST(stamp AS DATE)", "2:2004-01-05"},
      {"CAST(stamp AS TIME)", "10:12:00"},
      {"CAST(day AS TIMESTAMP)", "11:2004-01-05 00:00"},
      {"CAST(flag AS CHAR(5))", "1:True"},
      {"CAST('true' AS BOOLEAN)", B(true)},
      {"CAST(noqty AS CHAR(5))", "1:NULL"},
      {"EXTRACT(YEAR FROM day)", "6:2004"},
      {"EXTRACT(MONTH FROM stamp)", "6:1"},
      {"EXTRACT(HOUR FROM at)", "6:13"},
      {"EXTRACT(SECOND FROM at)", "6:15"},
      {"EXTRACT(YEAR FROM at)", "6:0"},
      {"EXTRACT(HOUR FROM day)", "6:0"},
      {"EXTRACT(DAYOFWEEK FROM day)", "6:1"},  // 5 January 2004 was a Monday
      {"EXTRACT(DAYOFWEEK FROM at)", "6:6"},   // 30 December 1899 was a Saturday
      {"EXTRACT(DAYOFYEAR FROM '2004-12-31')", "6:366"},
      {"EXTRACT(WEEK FROM '2005-01-01')", "6:53"},
      {"EXTRACT(WEEK FROM '2008-12-29')", "6:1"},
      {"EXTRACT(WEEK FROM '2004-01-05')", "6:2"},
      {"EXTRACT(DAY FROM noday)", "6:NULL"},
      {"IF(flag, 'yes', 'no')", "1:yes"},
      {"IF(noflag, 1, 2.5)", "7:2.5"},
      {"IFNULL(noqty, 0, noqty)", "6:0"},
      {"IFNULL(qty, 0, qty)", "6:12"},
      {"COALESCE(noqty, NULL, qty)", "6:12"},
      {"COALESCE(noday, stamp)", "11:2004-01-05 12:00"},
      {"COALESCE(noday, day)", "2:2004-01-05"},
      {"ABS(small)", "5:7"},
      {"ABS(word)", "12:65000"},
      {"ABS(-amount)", "8:123.45"},
      {"ABS(noqty)", "6:NULL"},
      {"ROUND(2.5)", "7:3"},
      {"ROUND(-2.5)", "7:-3"},
      {"ROUND(1.2345 TO 2)", "7:1.23"},
      {"ROUND(amount TO 1)", "8:123.50"},
      {"ROUND(amount TO 9)", "8:123.45"},
      {"LASTAUTOINC('orders')", "6:41"},
      {"IDENT_CURRENT('other')", "6:0"},
  });
}

TEST(ExpEvalTest, TypeCheckMessages) {
  const std::string in = " in WHERE or JOIN clause";
  RunCases({
      {"day >= 'yesterday'",
       "error 11949: Date, time, or timestamp expression expected, instead found 'yesterday'" + in},
      {"qty = 'x'", "error 11949: Type mismatch between column 'qty' and constant 'x'" + in},
      {"flag < off", "error 11949: Type mismatch between column 'flag' and column 'off'" + in},
      {"photo = photo",
       "error 11949: Type mismatch between column 'photo' and column 'photo'" + in},
      {"name + 1", "error 11949: Type mismatch between column 'name' and constant '1'" + in},
      {"day + price", "error 11949: Type mismatch between column 'day' and column 'price'" + in},
      {"-name", "error 11949: Type mismatch between '-' operator and 'name'" + in},
      {"+word", "12:65000"},
      {"NOT qty", "error 11949: Type mismatch between 'NOT' operator and 'qty'" + in},
      {"nosuch = 1",
       "error 11949: Invalid column name 'nosuch' or table correlation name '' specified" + in},
      {"t.nosuch = 1",
       "error 11949: Invalid column name 'nosuch' or table correlation name 't' specified" + in},
      {"SUM(name)",
       "error 11949: SUM aggregate function must contain a numeric, date, time, or timestamp "
       "expression" +
           in},
      {"COUNT(name)", "6:0"},  // any type; the statement keeps the count
      {"UPPER(qty)",
       "error 11949: Type mismatch between UPPER function and function argument" + in},
      {"LENGTH(day)",
       "error 11949: Type mismatch between LENGTH function and function argument" + in},
      {"SUBSTRING(qty FROM 1)",
       "error 11949: Expression argument of SUBSTRING function must be a string or memo" + in},
      {"SUBSTRING(name FROM 'a')",
       "error 11949: FROM argument of SUBSTRING function must be an integer value" + in},
      {"SUBSTRING(name FROM 1 FOR 1.5)",
       "error 11949: FOR argument of SUBSTRING function must be an integer value" + in},
      {"REPLACE('a' WITH 'b' IN qty)",
       "error 11949: IN argument of REPLACE function must be a string or memo" + in},
      {"REPLACE(1 WITH 'b' IN name)",
       "error 11949: Type mismatch between REPLACE function and search string argument" + in},
      {"REPLACE('a' WITH 1 IN name)",
       "error 11949: Type mismatch between OCCURS function and WITH argument" + in},
      {"POS('a' IN qty)", "error 11949: Type mismatch between POS function and IN argument" + in},
      {"OCCURS(1 IN name)",
       "error 11949: Type mismatch between OCCURS function and search string argument" + in},
      {"TRIM(BOTH 'x' FROM qty)",
       "error 11949: FROM argument of TRIM function must be a string or memo" + in},
      {"TRIM(BOTH 'xy' FROM name)",
       "error 11949: Trim character argument of TRIM function must be a single character "
       "constant" +
           in},
      {"CAST(day AS INTEGER)",
       "error 11949: Type mismatch between column 'day' and AS argument" + in},
      {"CAST(name AS CHAR(0))",
       "error 11949: Length argument must be an integer greater than 0 and less than or equal "
       "to 250" +
           in},
      {"CAST(name AS CHAR(qty))", "error 11949: Length argument must be an integer" + in},
      {"CAST(qty AS DECIMAL(10, 5))",
       "error 11949: Scale argument must be an integer less than or equal to 4 but greater than "
       "or equal to 0 for the BCD data type WHERE or JOIN clause"},
      {"CAST(name AS BLOB(1, 4))",
       "error 11949: BLOB type argument must be an integer with a value of 1,2,3,5, or 7" + in},
      {"EXTRACT(YEAR FROM qty)",
       "error 11949: FROM argument of EXTRACT function must be a date, time, or timestamp" + in},
      {"EXTRACT(YEAR FROM 'soon')",
       "error 11949: Date, time, or timestamp expression expected, instead found 'soon'" + in},
      {"IF(qty, 1, 2)",
       "error 11949: First expression argument of IF function must be a boolean type" + in},
      {"IF(flag, NULL, NULL)",
       "error 11949: At least one of the IF expression arguments in WHERE or JOIN clause must "
       "be a non-NULL value"},
      {"IF(flag, 1, 'a')",
       "error 11949: Type mismatch between IF expression arguments in WHERE or JOIN clause"},
      {"COALESCE(NULL, NULL)",
       "error 11949: At least one of the COALESCE expression arguments in WHERE or JOIN clause "
       "must be a non-NULL value"},
      {"ABS(name)",
       "error 11949: Expression argument of ABS function must be an integer, floating-point, or "
       "BCD type" +
           in},
      {"ROUND(qty)",
       "error 11949: Expression argument of ROUND function must be a floating-point or BCD "
       "type" +
           in},
      {"ROUND(price TO qty)",
       "error 11949: Decimal places argument of ROUND function must be an integer constant" + in},
      {"ROUND(price TO 33)",
       "error 11949: Decimal places argument of ROUND function must be an integer constant "
       "between 0 and 32" +
           in},
      {"LASTAUTOINC(1)",
       "error 11949: Type mismatch between LASTAUTOINC function and table name function "
       "argument" +
           in},
      {"IDENT_CURRENT(name)",
       "error 11949: IDENT_CURRENT table name function argument must be a string constant" + in},
      {"qty LIKE 'a'",
       "error 11949: Type mismatch between LIKE operator and expression 'qty'" + in},
      {"name NOT LIKE 1",
       "error 11949: Type mismatch between NOT LIKE operator and expression '1'" + in},
      {"qty IN (1, 'a')", "error 11949: Type mismatch between IN operator and expression 'a'" + in},
      {"qty NOT BETWEEN 1 AND 'z'",
       "error 11949: Type mismatch between NOT BETWEEN operator and expression 'z'" + in},
  });
  TOptions condition;
  condition.condition = true;
  EXPECT_EQ(Eval("qty + 1", condition),
            "error 11949: WHERE or JOIN clause must be a boolean expression");
}

TEST(ExpEvalTest, LiteralNamesAndBareBooleans) {
  TOptions names;
  names.names = true;
  names.condition = true;
  RunCases(
      {
          {"name = 'admin'", B(false)},  // 'admin' names the column holding "root"
          {"'admin' = 'root'", B(true)},
          {"name = 'Smith'", B(true)},
          {"name LIKE 'admin'", B(false)},  // patterns stay literals
          {"name IN ('admin')", B(false)},
      },
      names);
  TOptions bare;
  bare.bare = true;
  bare.condition = true;
  RunCases({{"flag", B(true)}, {"off OR flag", B(true)}, {"NOT flag", B(false)}}, bare);
  EXPECT_EQ(Eval("flag AND qty", bare),
            "error 11949: Type mismatch between expression 'flag = TRUE' and column 'qty' in "
            "WHERE or JOIN clause");
}

TEST(ExpEvalTest, ConvertAndTextForms) {
  auto convert = [](auto set, uint16_t type, int32_t size, int32_t scale, bool& ok) {
    TExpTokenPtr from = NewExpToken();
    set(*from);
    TExpTokenPtr to = NewExpToken();
    to->type = type;
    to->size = size;
    to->scale = scale;
    ok = Convert(*from, *to);
    return to->isNull ? std::string("NULL") : ValueToText(*to);
  };
  bool ok = false;
  EXPECT_EQ(convert([](TExpToken& t) { t.SetString("1.5"); }, ftype::kFloat, 8, 0, ok), "1.5");
  EXPECT_TRUE(ok);
  EXPECT_EQ(convert([](TExpToken& t) { t.SetString("1,5"); }, ftype::kFloat, 8, 0, ok), "0");
  EXPECT_FALSE(ok);
  EXPECT_EQ(convert([](TExpToken& t) { t.SetString("70000"); }, ftype::kSmallInt, 2, 0, ok), "0");
  EXPECT_FALSE(ok);
  EXPECT_EQ(convert([](TExpToken& t) { t.SetString("nope"); }, ftype::kTimestamp, 8, 0, ok),
            "1899-12-30 00:00");
  EXPECT_FALSE(ok);
  EXPECT_EQ(convert([](TExpToken& t) { t.SetFloat(0.1 + 0.2); }, ftype::kString, 31, 0, ok), "0.3");
  EXPECT_EQ(convert([](TExpToken& t) { t.SetFloat(2.00005); }, ftype::kBcd, 34, 2, ok), "2.00");
  EXPECT_EQ(convert([](TExpToken& t) { t.SetNull(); }, ftype::kInteger, 4, 0, ok), "NULL");
  EXPECT_TRUE(ok);

  EXPECT_TRUE(IsValidText("current_date", ftype::kDate));
  EXPECT_TRUE(IsValidText("Current_Time", ftype::kTimestamp));
  EXPECT_FALSE(IsValidText("CURRENT_TIME", ftype::kDate));
  EXPECT_TRUE(IsValidText("12.25", ftype::kBcd));
  EXPECT_FALSE(IsValidText("12,25", ftype::kFloat));
  EXPECT_FALSE(IsValidText("65536", ftype::kWord));
  EXPECT_TRUE(IsValidText("fAlSe", ftype::kBoolean));
}

// A number converted to a whole-number type and the same number read from text meet the
// same limits: the ends of each type's range are taken, one past them refused, both ways.
TEST(ExpEvalTest, ConversionsAndTheLiteralReaderShareTheIntegerLimits) {
  for (const uint16_t type : {ftype::kSmallInt, ftype::kWord, ftype::kInteger, ftype::kLargeInt}) {
    int64_t low = 0, high = 0;
    ASSERT_TRUE(IntegerFieldRange(type, low, high)) << int(type);
    std::vector<std::pair<int64_t, bool>> values = {{low, true}, {high, true}};
    if (low > std::numeric_limits<int64_t>::min()) values.emplace_back(low - 1, false);
    if (high < std::numeric_limits<int64_t>::max()) values.emplace_back(high + 1, false);
    for (const auto& [v, inRange] : values) {
      TExpTokenPtr from = NewExpToken();
      from->SetLargeInt(v);
      TExpTokenPtr to = NewExpToken();
      to->type = type;
      EXPECT_EQ(Convert(*from, *to), inRange) << int(type) << " " << v;
      const int64_t back = type == ftype::kSmallInt  ? to->Int16Value()
                           : type == ftype::kWord    ? to->UInt16Value()
                           : type == ftype::kInteger ? to->Int32Value()
                                                     : to->Int64Value();
      if (inRange) {
        EXPECT_EQ(back, v) << int(type);
      }
      TLiteralValue literal;
      EXPECT_EQ(ReadLiteral(std::to_string(v), type, 0, literal), inRange) << int(type) << " " << v;
    }
  }
}

bool Truth(const TExpToken& v);

// A row whose sub-selects have one INTEGER column holding 3 and 12, or two columns.
class TSubSelectRow : public TFixtureRow {
 public:
  bool twoColumns = false;
  std::vector<int32_t> asked;

  bool CheckSubSelect(TExpToken& sub) override {
    sub.type = ftype::kInteger;
    sub.size = 4;
    return !twoColumns;
  }
  bool SubSelectContains(const TExpToken& /*sub*/, const TExpToken& value) override {
    // The tested value arrives in its own type.
    const int32_t v = value.type == ftype::kSmallInt ? value.Int16Value() : value.Int32Value();
    asked.push_back(v);
    return v == 3 || v == 12;
  }
};

std::string InSelect(TSubSelectRow& row, const char* column, TOperator op) {
  TExpTokenPtr tree = NewExpToken();
  tree->kind = TNodeKind::Predicate;
  tree->op = op;
  tree->arguments.push_back(NewExpToken());
  tree->arguments[0]->kind = TNodeKind::Column;
  tree->arguments[0]->columnName = column;
  tree->arguments.push_back(NewExpToken());
  tree->arguments[1]->kind = TNodeKind::SubSelect;
  TTypeCheckOptions options;
  options.errorCode = err::kSqlError;
  options.context = "WHERE or JOIN clause";
  options.condition = true;
  try {
    TypeCheck(tree, options, row);
    return ValueToText(*Evaluate(*tree, row, 0));
  } catch (const EEngineError& e) {
    return e.ExtraText();
  }
}

TEST(ExpEvalTest, SubSelectHooks) {
  TSubSelectRow row;
  EXPECT_EQ(InSelect(row, "qty", TOperator::InSelect), "True");
  EXPECT_EQ(InSelect(row, "small", TOperator::NotInSelect), "True");
  EXPECT_EQ(row.asked, (std::vector<int32_t>{12, -7}));
  EXPECT_EQ(InSelect(row, "name", TOperator::InSelect),
            "Type mismatch between IN operator and expression 'SELECT' in WHERE or JOIN clause");
  row.twoColumns = true;
  EXPECT_EQ(InSelect(row, "qty", TOperator::InSelect),
            "More than 1 column for sub-select  specified in WHERE or JOIN clause");
}

// A prepared filter as text: the tree, "prefix" for a prefix comparison at the root, "nocase"
// when it ignores letter case, and its value for the fixture row.
std::string Prepared(std::string_view text, bool partial, bool ignoreCase, uint32_t locale = 0) {
  TFixtureRow row;
  TOptions o;
  o.condition = true;
  TExpTokenPtr tree = ParseChecked(row, text, o);
  const std::string before = ExpTreeToText(tree.get());
  TExpTokenPtr p = PrepareFilter(*tree, row, partial, ignoreCase, locale);
  EXPECT_EQ(ExpTreeToText(tree.get()), before) << text;  // preparation works on a copy
  std::string out = ExpTreeToText(p.get());
  if (p->kind == TNodeKind::PartialCompare) out += " prefix";
  if (p->ignoreCase) out += " nocase";
  out += Truth(*Evaluate(*p, row, locale)) ? " -> T" : " -> F";
  return out;
}

bool Truth(const TExpToken& v) {
  return !v.isNull && v.Int16Value() != 0;
}

TEST(ExpEvalTest, FilterPreparation) {
  struct TPrep {
    const char* text;
    bool partial, ignoreCase;
    std::string expected;
  };
  const std::vector<TPrep> cases = {
      {"qty = 10 + 2", false, false, "(= qty int:12) -> T"},
      {"qty = 12.0", false, false, "(= qty int:12) -> T"},
      {"qty = 12.5", false, false, "(= qty float:12.5) -> F"},  // kept: no exact INTEGER
      {"big > 1", false, false, "(> big large:1) -> T"},
      {"stamp > day", false, false, "(> stamp day) -> T"},
      {"qty IN (6 * 2, 1)", false, false, "(IN qty int:12 int:1) -> T"},
      {"name = 'smith'", false, false, "(= name str:'smith') -> F"},
      {"name = 'smith'", false, true, "(= name str:'smith') nocase -> T"},
      {"'SMITH' <> name", false, true, "(<> name str:'SMITH') nocase -> F"},
      {"name = 'Sm*'", true, false, "(= name str:'Sm') prefix -> T"},
      {"name = 'sm**'", true, true, "(= name str:'sm') prefix nocase -> T"},
      {"name <> 'Sm*'", true, false, "(<> name str:'Sm') prefix -> F"},
      {"name = 'Sm*'", false, false, "(= name str:'Sm*') -> F"},  // whole literal, `*` included
      {"name = 'S*m*'", true, false, "(= name str:'S*m*') -> F"},
      {"name LIKE 'Sm%'", false, false, "(= name str:'Sm') prefix nocase -> T"},
      {"name LIKE 'sm%%'", false, false, "(= name str:'sm') prefix nocase -> T"},
      {"name NOT LIKE 'Sm%'", false, false, "(<> name str:'Sm') prefix nocase -> F"},
      {"name LIKE 'S_i%'", false, false, "(LIKE name str:'S_i%') -> T"},
      {"name LIKE 'S%h%'", false, false, "(LIKE name str:'S%h%') -> T"},
      {"name LIKE 'sm%'", false, false, "(= name str:'sm') prefix nocase -> T"},
      // A function's constant arguments are folded; the call itself reads the row.
      {"SUBSTRING(name FROM 1 + 1) = 'mith'", false, false,
       "(= (SUBSTRING name int:2) str:'mith') -> T"},
  };
  for (const TPrep& c : cases)
    EXPECT_EQ(Prepared(c.text, c.partial, c.ignoreCase), c.expected) << c.text;
  // Under another locale the prefix from LIKE compares with letter case.
  EXPECT_EQ(Prepared("name LIKE 'Sm%'", false, false, 1033), "(= name str:'Sm') prefix -> T");
}

TEST(ExpEvalTest, FunctionNodesWithTheWrongNumberOfArgumentsAreRefused) {
  // Trees that did not come from the parser: the checker refuses a function node whose
  // arguments do not fit the function instead of reading past them.
  struct TWrong {
    const char* text;
    int change;  // arguments taken away (negative) or added
    const char* name;
  };
  const TWrong cases[] = {
      {"UPPER(name)", -1, "UPPER"},
      {"SUBSTRING(name FROM 2)", -1, "SUBSTRING"},
      {"IF(flag, 1, 2)", -1, "IF"},
      {"COALESCE(qty)", -1, "COALESCE"},
      {"SUM(qty)", -1, "SUM"},
      {"ABS(qty)", 1, "ABS"},
      {"TRIM(LEADING 'x' FROM name)", 1, "TRIM LEADING"},
  };
  for (const TWrong& c : cases) {
    TExpressionParser parser;
    parser.SetText(c.text);
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseWholeExpression(perm::kAggregates);
    if (c.change < 0) {
      tree->arguments.pop_back();
    } else {
      TExpTokenPtr extra = NewExpToken();
      extra->kind = TNodeKind::Constant;
      extra->SetInteger(1);
      tree->arguments.push_back(std::move(extra));
    }
    TFixtureRow row;
    TTypeCheckOptions options;
    options.errorCode = err::kSqlError;
    options.context = "source columns";
    try {
      TypeCheck(tree, options, row);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const EEngineError& e) {
      EXPECT_EQ(e.ExtraText(), "Internal error: wrong number of arguments for " +
                                   std::string(c.name) + " function")
          << c.text;
    }
  }
}

}  // namespace
}  // namespace mt
