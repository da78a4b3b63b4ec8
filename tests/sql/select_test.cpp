// SELECT execution on small fixture tables: result columns (types, names), the faults of
// preparation, implicit grouping and aggregates, row limits, WHERE over indexed and unindexed
// columns, joins, sub-selects, parameters, progress, result tables and live results.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/sql/selectquery.h"
#include "sqltest.h"

namespace mt {
namespace {

using namespace sqltest;
using std::nullopt;

class SelectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new TScratch();
    const std::string& dir = scratch_->Path();
    MakeTable(dir,
              {.name = "t",
               .columns = {"a INTEGER", "b CHAR(10)", "x FLOAT", "d DATE", "s SMALLINT", "m MEMO",
                           "big CHAR(200)"},
               .secondaries = {Index("ia", {1}), Index("id", {4})}},
              {{"1", "one", "1.5", "2004-01-05", "1", "memo one", nullopt},
               {"2", "two", nullopt, "2004-02-10", "2", nullopt, nullopt},
               {"3", "three", "-5", "2005-03-01", nullopt, "memo three", nullopt},
               {"4", nullopt, "-3", nullopt, "4", nullopt, nullopt},
               {"5", "five", "10", "2006-12-31", "5", nullopt, nullopt}});
    MakeTable(
        dir,
        {.name = "u", .columns = {"a INTEGER", "name CHAR(10)"}, .secondaries = {Index("ua", {1})}},
        {{"1", "u1"}, {"1", "u1b"}, {"3", "u3"}, {"7", "u7"}});
    MakeTable(dir, {.name = "v", .columns = {"name CHAR(10)", "w INTEGER"}},
              {{"u1", "10"}, {"u3", "30"}, {"u9", "90"}});
    MakeTable(dir, {.name = "e", .columns = {"id INTEGER", "x FLOAT"}}, {});
    MakeTable(dir, {.name = "ai", .columns = {"id AUTOINC", "v INTEGER"}},
              {{nullopt, "7"}, {nullopt, "8"}, {nullopt, "9"}});
    MakeTable(dir, {.name = "mx", .columns = {"v INTEGER"}}, {{nullopt}, {"-5"}, {"-3"}});
    MakeTable(dir, {.name = "cs", .columns = {"name CHAR(5)"}}, {{"b"}, {"A"}, {"a"}, {"B"}});
    // Indexed columns with NULLs: MIN and MAX over them are read from the index ends.
    MakeTable(dir,
              {.name = "ix",
               .columns = {"v INTEGER", "f FLOAT", "d DATE"},
               .secondaries = {Index("iv", {1}), Index("if", {2}), Index("idt", {3})}},
              {{nullopt, "2.5", nullopt},
               {"-5", "-0.5", "2001-02-03"},
               {"7", nullopt, "1999-12-31"},
               {"-3", "10", nullopt},
               {nullopt, nullopt, nullopt}});
    MakeTable(dir, {.name = "ie", .columns = {"v INTEGER"}, .secondaries = {Index("iev", {1})}},
              {});
    std::vector<TRow> many;
    for (int n = 1; n <= 300; ++n)
      many.push_back({std::to_string(n), std::to_string(n % 7)});
    MakeTable(dir, {.name = "many", .columns = {"n INTEGER", "g INTEGER"}}, many);
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  TDataDirectory& Database() {
    if (!database_) database_ = std::make_unique<TDataDirectory>(scratch_->Path());
    return *database_;
  }
  TResult Run(const std::string& sql, int32_t maxRows = -1, std::size_t groupMemory = 0) {
    return Select(Database(), sql, maxRows, groupMemory);
  }
  std::vector<TRow> Rows(const std::string& sql) { return Run(sql).rows; }

  static TScratch* scratch_;
  std::unique_ptr<TDataDirectory> database_;
};

TScratch* SelectTest::scratch_ = nullptr;

// ---- Result columns

TEST_F(SelectTest, ResultColumnsHaveTheirTypesAndNames) {
  struct TCase {
    std::string sql;
    std::vector<std::string> names;
    std::vector<uint8_t> types;
  };
  const std::vector<TCase> cases = {
      {"select a, a from t", {"a_1", "a"}, {ftype::kInteger, ftype::kInteger}},
      {"select a, A, a from t", {"a_1", "a_2", "a"}, {6, 6, 6}},
      {"select * from u", {"a", "name"}, {ftype::kInteger, ftype::kString}},
      {"select u.*, t.b from t, u", {"a", "name", "b"}, {6, 1, 1}},
      {"select sum(a), avg(a), min(s), sum(s), count(*), count(b), max(x) from t",
       {"Sum Of a", "Average Of a", "Min Of s", "Sum Of s", "Count Of *", "Count Of b", "Max Of x"},
       {ftype::kLargeInt, ftype::kFloat, ftype::kSmallInt, ftype::kInteger, ftype::kInteger,
        ftype::kInteger, ftype::kFloat}},
      {"select a + 1, sum(a * 2), runsum(x), avg(d) from t group by 1",
       {"Expression", "Sum Of Expr", "Running Sum Of x", "Average Of d"},
       {ftype::kInteger, ftype::kLargeInt, ftype::kFloat, ftype::kDate}},
      {"select max(id) as id from ai", {"id"}, {ftype::kInteger}},
      {"select 'b' from t", {"b"}, {ftype::kString}},
      {"select a as aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa, b as AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA "
       "from t",
       {"aaaaaaaaaaaaaaaaaaaaaaaaaaaa_1", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
       {ftype::kInteger, ftype::kString}},
  };
  for (const TCase& c : cases) {
    TQueryStatement statement(&Database());
    statement.Prepare(c.sql);
    std::vector<std::string> names;
    std::vector<uint8_t> types;
    const TSelectQuery& select = *statement.Master()->select;
    for (int i = 0; i < select.VisibleColumnCount(); ++i) {
      names.push_back(select.Columns()[i].name);
      types.push_back(select.Columns()[i].type);
    }
    EXPECT_EQ(names, c.names) << c.sql;
    EXPECT_EQ(types, c.types) << c.sql;
  }
}

TEST_F(SelectTest, AnAverageKeepsAHiddenCountColumnAfterTheVisibleOnes) {
  TQueryStatement statement(&Database());
  statement.Prepare("select b, avg(x), avg(s) from t group by b");
  const std::vector<TResultColumn>& columns = statement.Master()->select->Columns();
  ASSERT_EQ(columns.size(), 5u);
  EXPECT_EQ(statement.ResultColumnCount(), 3);
  EXPECT_EQ(columns[3].name, "Sys__Avg__Count4");
  EXPECT_EQ(columns[4].name, "Sys__Avg__Count5");
  EXPECT_EQ(columns[1].avgCountColumn, 4);
  EXPECT_EQ(columns[2].avgCountColumn, 5);
}

TEST_F(SelectTest, PreparationFaults) {
  struct TCase {
    std::string sql;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {"select a, sum(x) from t",
       "Invalid use of aggregate function(s), the necessary GROUP BY clause is missing"},
      {"select count(*) from t having count(*) > 1",
       "A GROUP BY clause must exist in order to use the HAVING clause"},
      {"select * from t order by zz",
       "Invalid column name 'zz' or table correlation name '' specified in ORDER BY clause"},
      {"select a from t order by q.a",
       "Invalid column name 'a' or table correlation name 'q' specified in ORDER BY clause"},
      {"select a from t group by 2", "Invalid column number '2' specified in GROUP BY clause"},
      {"select a, m from t order by 2", "Invalid column number '2' specified in ORDER BY clause"},
      {"select m from t group by m", "Invalid BLOB column 'm' specified in GROUP BY clause"},
      {"select distinct a, m from t", "Invalid BLOB column 'm' specified in DISTINCT clause"},
      {"select a, sum(x) from t group by a having sum(a) > 1",
       "Expression in HAVING clause not found in source columns"},
      {"select a, sum(x) from t group by a having sum(x)",
       "HAVING clause must be a boolean expression"},
      {"select * x from t",
       "Invalid use of column correlation name 'x' for '*' specified in "
       "source columns"},
      {"select q.* from t",
       "Invalid column name '*' or table correlation name 'q' specified in source columns"},
      {"select zz from t",
       "Invalid column name 'zz' or table correlation name '' specified in source columns"},
      {"select big || big from t",
       "Column expression 'big || big' exceeds the maximum allowable field size"},
      {"select a from t where q.a = 1",
       "Table correlation name 'q' referenced in WHERE clause is not defined in the FROM clause"},
      {"select a from t where a", "WHERE or JOIN clause must be a boolean expression"},
      {"select a from t where d >= 'yesterday'",
       "Date, time, or timestamp expression expected, instead found 'yesterday' in WHERE or "
       "JOIN clause"},
      {"select t.a from t, u where t.a + u.a = 1",
       "The join condition cannot contain multiple table correlation names in either the left "
       "or right operand in WHERE or JOIN clause"},
      {"select a from t where a in (select a, name from u)",
       "More than 1 column for sub-select  specified in WHERE or JOIN clause"},
      {"select a from t union select a, name from u",
       "The number of columns  in the UNION query must match the  number of columns in the "
       "master query"},
      {"select a from t union all select name from u",
       "Type mismatch between column expression 'a' in the UNION ALL query and column "
       "expression 'name' in the master query"},
      {"select lastautoinc('nosuch') from t",
       "Illegal use of LASTAUTOINC() or IDENT_CURRENT() functions"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(FaultOf(Database(), c.sql), SqlFault(c.message)) << c.sql;
  try {
    TQueryStatement statement(&Database());
    statement.Prepare("select * from nosuch");
    FAIL();
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kTableNotFound);
  }
}

// ---- Implicit grouping and aggregates

TEST_F(SelectTest, ImplicitGroupingGivesOneRowAlsoWithoutInput) {
  struct TCase {
    std::string sql;
    std::vector<TRow> rows;
  };
  const std::vector<TCase> cases = {
      {"select sum(x) as allinput from t where d >= '2099-01-01'", {{nullopt}}},
      {"select max(id) as id from e", {{nullopt}}},
      {"select count(*) from e", {{"0"}}},
      {"select count(*), sum(x) from e", {{"0", nullopt}}},
      {"select avg(x), count(x), min(x) from e", {{"0", "0", nullopt}}},
      {"select max(v) from mx", {{"-3"}}},
      {"select min(v), count(v), count(*) from mx", {{"-5", "2", "3"}}},
      {"select sum(a), sum(s), avg(a), avg(x) from t", {{"15", "12", "3", "0.875"}}},
      {"select count(*) from t where b like 't%'", {{"2"}}},
      {"select count(*) from t where a > 1 and x < 0", {{"2"}}},
      {"select avg(d) from t where a <= 2", {{"2004-01-23"}}},
      {"select max(id) as id from ai", {{"3"}}},
      {"select max(v), min(v), min(f), max(f), min(d), max(d) from ix",
       {{"7", "-5", "-0.5", "10", "1999-12-31", "2001-02-03"}}},
      {"select min(v), max(v) from ie", {{nullopt, nullopt}}},
      {"select max(v) from ix where v < 0", {{"-3"}}},
      {"select max(a), min(d) from t", {{"5", "2004-01-05"}}},
      {"select sum(a) + 0 from t", {}},  // no aggregate inside expressions: parse fault
  };
  for (const TCase& c : cases) {
    if (c.rows.empty()) {
      EXPECT_NE(FaultOf(Database(), c.sql), "") << c.sql;
      continue;
    }
    EXPECT_EQ(Rows(c.sql), c.rows) << c.sql;
  }
}

TEST_F(SelectTest, RowLimits) {
  EXPECT_EQ(Run("select n from many", 255).rows.size(), 255u);
  EXPECT_EQ(Run("select count(*) from many where g >= 0", 255).rows, (std::vector<TRow>{{"300"}}));
  EXPECT_EQ(Run("select sum(n) from many", 255).rows, (std::vector<TRow>{{"45150"}}));
  EXPECT_EQ(Rows("select n from many top 5"),
            (std::vector<TRow>{{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}));
  EXPECT_EQ(Run("select n from many top 5", 3).rows.size(), 3u);
}

// ---- Grouping, DISTINCT, ORDER BY and UNION (the result table sorted in place)

TEST_F(SelectTest, SortedResultsGroupOrderAndRemoveDuplicates) {
  struct TCase {
    std::string sql;
    std::vector<TRow> rows;
    int32_t maxRows = -1;
  };
  const std::vector<TCase> cases = {
      // Groups in ascending key order; HAVING keeps the groups for which it holds.
      {"select g, count(*), sum(n), min(n), max(n) from many group by g having count(*) > 42",
       {{"1", "43", "6364", "1", "295"},
        {"2", "43", "6407", "2", "296"},
        {"3", "43", "6450", "3", "297"},
        {"4", "43", "6493", "4", "298"},
        {"5", "43", "6536", "5", "299"},
        {"6", "43", "6579", "6", "300"}}},
      // RUNSUM carries its total from one group to the next.
      {"select g, runsum(n) from many where n <= 14 group by g",
       {{"0", "21"},
        {"1", "30"},
        {"2", "41"},
        {"3", "54"},
        {"4", "69"},
        {"5", "86"},
        {"6", "105"}}},
      // The NULL key is a group of its own, first; an average over only NULLs is 0, and a
      // count whose group begins with a NULL starts at 0.
      {"select s, avg(x), count(x), max(d) from t group by s",
       {{nullopt, "-5", "1", "2005-03-01"},
        {"1", "1.5", "1", "2004-01-05"},
        {"2", "0", "0", "2004-02-10"},
        {"4", "-3", "1", nullopt},
        {"5", "10", "1", "2006-12-31"}}},
      // With a max row count only the rows read up to it are grouped.
      {"select g, count(*) from many group by g",
       {{"0", "36"}, {"1", "37"}, {"2", "37"}, {"3", "37"}, {"4", "36"}, {"5", "36"}, {"6", "36"}},
       255},
      // TOP after grouping counts groups; ORDER BY another way sorts the groups again.
      {"select g, count(*) from many group by g top 2", {{"0", "42"}, {"1", "43"}}},
      {"select g, sum(n) from many where n <= 14 group by g order by 2 desc",
       {{"0", "21"}, {"6", "19"}, {"5", "17"}, {"4", "15"}, {"3", "13"}, {"2", "11"}, {"1", "9"}}},
      {"select g, sum(n) as total from many where n <= 14 group by g order by g desc top 3",
       {{"6", "19"}, {"5", "17"}, {"4", "15"}}},
      // NULL comes last descending; TOP with ORDER BY keeps the first rows of the order.
      {"select a, b from t order by b desc",
       {{"2", "two"}, {"3", "three"}, {"1", "one"}, {"5", "five"}, {"4", nullopt}}},
      {"select a, x from t order by x desc top 2", {{"5", "10"}, {"1", "1.5"}}},
      {"select a, d from t order by d, a desc",
       {{"4", nullopt},
        {"1", "2004-01-05"},
        {"2", "2004-02-10"},
        {"3", "2005-03-01"},
        {"5", "2006-12-31"}}},
      // Letter case: bytes without NOCASE; with it equal names keep their reading order.
      {"select name from cs order by name", {{"A"}, {"B"}, {"a"}, {"b"}}},
      {"select name from cs order by name nocase", {{"A"}, {"a"}, {"b"}, {"B"}}},
      {"select name from cs order by name desc nocase", {{"b"}, {"B"}, {"A"}, {"a"}}},
      // DISTINCT sorts and drops repeats; TOP then counts distinct rows.
      {"select distinct g from many where n > 290",
       {{"0"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"6"}}},
      {"select distinct g from many where n > 290 top 3", {{"0"}, {"1"}, {"2"}}},
      {"select distinct a from u order by a desc", {{"7"}, {"3"}, {"1"}}},
      {"select distinct g, n / n from many where n > 290 order by g, 2",
       {{"0", "1"}, {"1", "1"}, {"2", "1"}, {"3", "1"}, {"4", "1"}, {"5", "1"}, {"6", "1"}}},
      // UNION removes repeats over both sides; UNION ALL keeps every row; ORDER BY and TOP
      // apply to the whole.
      {"select a from u union select a from t", {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"7"}}},
      {"select a from u union all select a from t where a > 3",
       {{"1"}, {"1"}, {"3"}, {"7"}, {"4"}, {"5"}}},
      // A chain joins from its last member back: each UNION without ALL removes the repeats
      // of what stands after it.
      {"select a from u union all select a from t union select a from u",
       {{"1"}, {"1"}, {"3"}, {"7"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}, {"7"}}},
      {"select a from t where a > 3 union select a from u union all select a from u",
       {{"1"}, {"3"}, {"4"}, {"5"}, {"7"}}},
      {"select a from u union all select a from t order by 1 desc top 4",
       {{"7"}, {"5"}, {"4"}, {"3"}}},
  };
  for (const TCase& c : cases) {
    try {
      EXPECT_EQ(Run(c.sql, c.maxRows).rows, c.rows) << c.sql;
      // With room for one group only, every new group sends the ones held to the result table
      // partly folded; the sort must fold them into the same groups.
      EXPECT_EQ(Run(c.sql, c.maxRows, 1).rows, c.rows) << c.sql << " (one group held)";
    } catch (const EEngineError& e) {
      ADD_FAILURE() << c.sql << ": " << e.what();
    }
  }
}

// ---- WHERE

TEST_F(SelectTest, WhereConditionsOverIndexedAndPlainColumns) {
  struct TCase {
    std::string sql;
    std::vector<TRow> rows;
  };
  const std::vector<TCase> cases = {
      {"select a from t where a = 3", {{"3"}}},
      {"select a from t where d >= '2004-02-01' and d < \"2006-01-01\"", {{"2"}, {"3"}}},
      {"select a from t where d >= '2004-2-1' and b <> 'two'", {{"3"}, {"5"}}},
      {"select a from t where not (a between 2 and 4)", {{"1"}, {"5"}}},
      {"select a from t where a in (1, 5, 9) or x is null", {{"1"}, {"2"}, {"5"}}},
      {"select a from t where b = ''", {{"4"}}},
      {"select a from t where 1 = 0", {}},
      {"select a from t where x > 0 and (b like '%e' or s = 2)", {{"1"}, {"5"}}},
      {"select a from t where 'b' = 'one'", {{"1"}}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Rows(c.sql), c.rows) << c.sql;
}

// ---- Joins

TEST_F(SelectTest, JoinsProduceTheMatchingRows) {
  struct TCase {
    std::string sql;
    std::vector<TRow> rows;
  };
  const std::vector<TCase> cases = {
      {"select t.a, u.name from t inner join u on t.a = u.a",
       {{"1", "u1"}, {"1", "u1b"}, {"3", "u3"}}},
      {"select t.a, u.name from t, u where u.a = t.a and t.a > 1", {{"3", "u3"}}},
      {"select t.a, u.name from t left join u on t.a = u.a",
       {{"1", "u1"}, {"1", "u1b"}, {"2", nullopt}, {"3", "u3"}, {"4", nullopt}, {"5", nullopt}}},
      {"select t.a, u.name from t left outer join u on t.a = u.a where u.name is null",
       {{"2", nullopt}, {"4", nullopt}, {"5", nullopt}}},
      {"select t.a, u.name from t left join u on t.a = u.a and u.name = 'u1b'",
       {{"1", "u1b"}, {"2", nullopt}, {"3", nullopt}, {"4", nullopt}, {"5", nullopt}}},
      {"select u.name, t.b from t right join u on t.a = u.a",
       {{"u1", "one"}, {"u1b", "one"}, {"u3", "three"}, {"u7", nullopt}}},
      {"select t.a, u.name, v.w from t, u, v where t.a = u.a and u.name = v.name",
       {{"1", "u1", "10"}, {"3", "u3", "30"}}},
      {"select t.a, u.name, v.w from v, t, u where t.a = u.a and u.name = v.name nojoinoptimize",
       {{"1", "u1", "10"}, {"3", "u3", "30"}}},
      {"select x.a, y.a from u x, u y where x.name < y.name and x.a = y.a", {{"1", "1"}}},
      {"select count(*) from t, u", {{"20"}}},
      {"select u.name, v.w from u left join v on u.name = v.name where v.w > 20 or v.w is null",
       {{"u1b", nullopt}, {"u3", "30"}, {"u7", nullopt}}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Rows(c.sql), c.rows) << c.sql;
}

// ---- Sub-selects, LASTAUTOINC, parameters

TEST_F(SelectTest, SubSelectsAndFunctionsOfTables) {
  EXPECT_EQ(Rows("select a from t where a in (select a from u)"),
            (std::vector<TRow>{{"1"}, {"3"}}));
  EXPECT_EQ(Rows("select a from t where a not in (select a from u where name > 'u1b')"),
            (std::vector<TRow>{{"1"}, {"2"}, {"4"}, {"5"}}));
  EXPECT_EQ(
      Rows("select name from u where name in (select name from v) and a in (select a from t)"),
      (std::vector<TRow>{{"u1"}, {"u3"}}));
  EXPECT_EQ(Rows("select count(*) from t where x in (select x from t where x < 0)"),
            (std::vector<TRow>{{"2"}}));
  EXPECT_EQ(Rows("select lastautoinc('ai'), ident_current(\"ai\") from u where a = 3"),
            (std::vector<TRow>{{"3", "3"}}));
}

TEST_F(SelectTest, ParametersTakeTheirValuesFromTheCaller) {
  TQueryStatement statement(&Database());
  statement.Prepare("select a from t where d >= ? and b <> :name");
  ASSERT_EQ(statement.ParameterCount(), 2u);
  EXPECT_EQ(statement.Parameters()[1]->text, ":name");
  TExpTokenPtr date = NewExpToken();
  date->SetString("2004-02-01");
  TExpTokenPtr name = NewExpToken();
  name->SetString("three");
  statement.SetParameter(0, *date);
  statement.SetParameter(1, *name);
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows, (std::vector<TRow>{{"2"}, {"5"}}));
  name->SetString("two");
  statement.SetParameter(1, *name);
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows, (std::vector<TRow>{{"3"}, {"5"}}));
  date->SetString("not a date");
  EXPECT_THROW(statement.SetParameter(0, *date), EEngineError);
}

// ---- Progress

TEST_F(SelectTest, ProgressIsReportedInStepsAndCanStopTheScan) {
  std::vector<int> reported;
  TQueryStatement statement(&Database());
  statement.SetProgressCallback([&](int percent) {
    reported.push_back(percent);
    return TProgressAnswer::Continue;
  });
  statement.Prepare("select n from many");
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows.size(), 300u);
  ASSERT_EQ(reported.size(), 21u);
  for (std::size_t i = 0; i < 20; ++i)
    EXPECT_EQ(reported[i], static_cast<int>(i + 1) * 5) << i;
  EXPECT_EQ(reported.back(), 100);

  reported.clear();
  statement.SetProgressSteps(0);
  statement.SetProgressCallback([&](int percent) {
    reported.push_back(percent);
    return percent >= 50 ? TProgressAnswer::Stop : TProgressAnswer::Continue;
  });
  statement.Execute();
  EXPECT_EQ(reported, (std::vector<int>{100, 100}));

  reported.clear();
  statement.SetProgressSteps(4);
  const std::size_t rows = ReadResult(*statement.Execute(), 1).rows.size();
  EXPECT_EQ(reported, (std::vector<int>{25, 50, 100}));
  EXPECT_EQ(rows, 149u);  // the row that reached 50 percent ended the scan
}

// ---- Result tables

TEST_F(SelectTest, TemporaryResultsLiveInThePrivateDirectoryUntilReleased) {
  TScratch privateDir;
  TQueryStatement statement(&Database());
  statement.SetPrivateDirectory(privateDir.Path());
  statement.Prepare("select a, b from t where a > 2");
  const std::string name = statement.Master()->select->ResultTableName();
  // The result table's data and index files (its change journal, written with the first rows,
  // comes and goes with them).
  const auto files = [&] {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(privateDir.Path())) {
      if (entry.path().extension() != ".JNL") ++n;
    }
    return n;
  };
  EXPECT_EQ(files(), 2u);  // data and index file
  EXPECT_EQ(ReadResult(*statement.Execute(), 2).rows.size(), 3u);
  // A second run starts from an empty result.
  EXPECT_EQ(ReadResult(*statement.Execute(), 2).rows.size(), 3u);
  statement.Release();
  EXPECT_EQ(files(), 0u);
  // Run again after the release: prepared anew from the text.
  EXPECT_EQ(ReadResult(*statement.Execute(), 2).rows.size(), 3u);
  EXPECT_EQ(files(), 2u);
  statement.Release();

  // A single row of totals is held in memory: no files, and each run starts afresh.
  TQueryStatement totals(&Database());
  totals.SetPrivateDirectory(privateDir.Path());
  totals.Prepare("select count(*), sum(a) from t where a > 2");
  for (int run = 0; run < 2; ++run)
    EXPECT_EQ(ReadResult(*totals.Execute(), 2).rows, (std::vector<TRow>{{"3", "12"}}));
  EXPECT_EQ(files(), 0u);
}

TEST_F(SelectTest, IntoTablesStayAfterTheStatement) {
  {
    TQueryStatement statement(&Database());
    statement.Prepare("select a, m into kept from t where m is not null");
  }
  EXPECT_EQ(FaultOf(Database(), "select a, m into kept from t where m is not null"), "");
  EXPECT_EQ(Rows("select * from kept"),
            (std::vector<TRow>{{"1", "memo one"}, {"3", "memo three"}}));
}

TEST_F(SelectTest, MemoColumnsAreCopiedIntoTheResult) {
  EXPECT_EQ(Rows("select a, m, m + '!' from t where a <= 2"),
            (std::vector<TRow>{{"1", "memo one", "memo one!"}, {"2", nullopt, "!"}}));
}

TEST_F(SelectTest, ALiveResultIsTheFilteredSourceCursor) {
  TQueryStatement statement(&Database());
  statement.SetRequestLive(true);
  statement.Prepare("select a, b, a * 10 as ten from t where x < 2 order by a");
  ASSERT_TRUE(statement.ResultIsLive());
  TDataCursor* cursor = statement.Execute();
  EXPECT_EQ(cursor->RecordCount(), 3u);
  EXPECT_EQ(cursor->CurrentIndexName(), "ia");
  const TSelectQuery& select = *statement.Master()->select;
  ASSERT_EQ(select.LiveColumns().size(), 3u);
  EXPECT_EQ(select.LiveColumns()[2].sourceField, 0);
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor->RecordSize()));
  cursor->First();
  ASSERT_EQ(cursor->Next(image.data()), TDataCursor::kRecordRead);
  EXPECT_EQ(ValueToText(*statement.Master()->select->EvaluateLiveColumn(select.LiveColumns()[2],
                                                                        image.data())),
            "10");
  // Several tables, grouping, or an order no index gives: canned.
  for (const std::string sql : {"select a from t, u", "select count(*) from t",
                                "select a, b from t order by b", "select a from t top 2"}) {
    TQueryStatement canned(&Database());
    canned.SetRequestLive(true);
    canned.Prepare(sql);
    EXPECT_FALSE(canned.ResultIsLive()) << sql;
  }
}

TEST_F(SelectTest, WithLocksAndScriptsRun) {
  EXPECT_EQ(Rows("select count(*) from t with locks"), (std::vector<TRow>{{"5"}}));
  TQueryStatement statement(&Database());
  statement.Prepare("select a from t where a = 1; select name from u where a = 3");
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows, (std::vector<TRow>{{"u3"}}));
  // Run again: both statements from the first.
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows, (std::vector<TRow>{{"u3"}}));
  // A changing statement in the script runs too.
  statement.Prepare("delete from t where a = 1; select count(*) from t");
  EXPECT_EQ(ReadResult(*statement.Execute(), 1).rows, (std::vector<TRow>{{"4"}}));
  EXPECT_EQ(statement.RowsAffected(), 1);
}

}  // namespace
}  // namespace mt
