// The statement parser: statement texts against the printed parse result, statement texts
// against the exact message of their fault, scripts of several statements, parameters, and the
// links and facts of the parse result that execution builds on.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/sqlprint.h"

namespace mt {
namespace {

std::string Sql(std::string_view message) {
  return "Engine Error # 11949 SQL error - " + std::string(message);
}

// Every statement of the text printed, one after the other; a fault ends the list with its
// full message.
std::vector<std::string> ParseScript(std::string_view text) {
  std::vector<std::string> out;
  TQueryStatement statement;
  try {
    statement.Prepare(text);
    out.push_back(StatementToText(statement));
    while (statement.ParseNextStatement())
      out.push_back(StatementToText(statement));
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kSqlError) << text;
    out.push_back(e.what());
  }
  return out;
}

// A text of one statement, printed, or its fault's full message.
std::string Parse(std::string_view text) {
  const std::vector<std::string> all = ParseScript(text);
  EXPECT_EQ(all.size(), 1u) << text;
  return all.empty() ? std::string() : all.front();
}

struct TCase {
  std::string text;
  std::string printed;  // or, for fault cases, the message after "SQL error - "
};

void ExpectPrinted(const std::vector<TCase>& cases) {
  for (const TCase& c : cases)
    EXPECT_EQ(Parse(c.text), c.printed) << c.text;
}

void ExpectMessages(const std::vector<TCase>& cases) {
  for (const TCase& c : cases)
    EXPECT_EQ(Parse(c.text), Sql(c.printed)) << c.text;
}

// ---- Printed parse results

// The statements the program runs, as it builds them, and in the form with parameters.
TEST(SqlParserTest, TheProgramsStatements) {
  const std::string report =
      "SELECT item, (SUM output) AS allinput FROM szzb WHERE (AND (AND (>= date "
      "str:'2004-01-01') (<= date str:'2004-01-31')) (= type str:'1')) GROUP BY item ORDER BY "
      "item";
  ExpectPrinted({
      {"select max(id) as id from szzb ", "SELECT (MAX id) AS id FROM szzb"},
      {"select sum(input) as allinput from szzb", "SELECT (SUM input) AS allinput FROM szzb"},
      {"select sum(input) as allinput from szzb where type='0'",
       "SELECT (SUM input) AS allinput FROM szzb WHERE (= type str:'0')"},
      {"select sum(output) as alloutput from szzb where date <'2004-01-01'",
       "SELECT (SUM output) AS alloutput FROM szzb WHERE (< date str:'2004-01-01')"},
      {"select sum(input) as allinput from szzb where date>=\"2004-01-01\" and "
       "date<\"2004-02-01\"",
       "SELECT (SUM input) AS allinput FROM szzb WHERE (AND (>= date str:'2004-01-01') (< date "
       "str:'2004-02-01'))"},
      {"select * from User", "SELECT * FROM User"},
      {"select * from system where name=\"pass_admin\"",
       "SELECT * FROM system WHERE (= name str:'pass_admin')"},
      {"select * from User where name='admin' and password='x'",
       "SELECT * FROM User WHERE (AND (= name str:'admin') (= password str:'x'))"},
      {"select * from User where name=? and password=?",
       "SELECT * FROM User WHERE (AND (= name ?) (= password ?))"},
      {"select * from User where name=:name and password=:password",
       "SELECT * FROM User WHERE (AND (= name :name) (= password :password))"},
      {"select * from szzb where date>='2004-01-01' order by date",
       "SELECT * FROM szzb WHERE (>= date str:'2004-01-01') ORDER BY date"},
      {"select * from szzb order by date", "SELECT * FROM szzb ORDER BY date"},
      {"select * from Items order by type,id", "SELECT * FROM Items ORDER BY type, id"},
      {"select * from Items order by id", "SELECT * FROM Items ORDER BY id"},
      {"select * from Items where parent =-1 order by type,id",
       "SELECT * FROM Items WHERE (= parent (- int:1)) ORDER BY type, id"},
      {"select item,sum(output) as allinput from szzb  where date>=\"2004-01-01\" and "
       "date<=\"2004-01-31\" and type=\"1\" group by item order by item",
       report},
      {"select item,sum(output) as allinput from szzb  where date>=? and date<=? and type=? "
       "group by item order by item",
       "SELECT item, (SUM output) AS allinput FROM szzb WHERE (AND (AND (>= date ?) (<= date ?)) "
       "(= type ?)) GROUP BY item ORDER BY item"},
      {"select date,sum(output) as alloutput from szzb  where date>=\"2004-01-01\" and "
       "date<=\"2004-01-31\" and type=\"1\" group by date order by date",
       "SELECT date, (SUM output) AS alloutput FROM szzb WHERE (AND (AND (>= date "
       "str:'2004-01-01') (<= date str:'2004-01-31')) (= type str:'1')) GROUP BY date ORDER BY "
       "date"},
      {"select * from diary order by date desc", "SELECT * FROM diary ORDER BY date DESC"},
      {"select * from diary where date=\"2004-01-05\"",
       "SELECT * FROM diary WHERE (= date str:'2004-01-05')"},
      {"delete from system where name ='pass_admin'",
       "DELETE FROM system WHERE (= name str:'pass_admin')"},
      {"delete from User where name='admin'", "DELETE FROM User WHERE (= name str:'admin')"},
      {"delete from szzb where id=17", "DELETE FROM szzb WHERE (= id int:17)"},
      {"delete from Items where id=5;", "DELETE FROM Items WHERE (= id int:5)"},
      {"delete from diary where date=\"2004-01-05\"",
       "DELETE FROM diary WHERE (= date str:'2004-01-05')"},
      {"delete from diary where date=:day", "DELETE FROM diary WHERE (= date :day)"},
      {"update Items set id=999999 where id=3",
       "UPDATE Items SET id = int:999999 WHERE (= id int:3)"},
      {"update Items set id=:a where id=:b", "UPDATE Items SET id = :a WHERE (= id :b)"},
  });
}

TEST(SqlParserTest, SelectLists) {
  ExpectPrinted({
      {"select a, b x, c as \"y z\", d as [w], e 'v' from t",
       "SELECT a, b AS x, c AS y z, d AS w, e AS v FROM t"},
      // An alias followed by "." and a name takes the name.
      {"select a as t.x from t", "SELECT a AS x FROM t"},
      {"select a+1, upper(b) || 'x' from t",
       "SELECT (+ a int:1) {a+1}, (+ (UPPER b) str:'x') {upper(b) || 'x'} FROM t"},
      {"select count(*), sum(a*2) s, avg(t.a), runsum(a), min(a) from t",
       "SELECT (COUNT *), (SUM (* a int:2)) AS s {sum(a*2)}, (AVG t.a), (RUNSUM a), (MIN a) FROM "
       "t"},
      {"select *, t.* from t", "SELECT *, t.* FROM t"},
      {"select a = 1 from t", "SELECT (= a int:1) {a = 1} FROM t"},
      {"select all a from t", "SELECT a FROM t"},
      {"select distinct a from t", "SELECT DISTINCT a FROM t"},
      {"select a into memory from t", "SELECT a INTO MEMORY FROM t"},
      {"select a into memory r from t", "SELECT a INTO MEMORY r FROM t"},
      {"select a into data\\r from t", "SELECT a INTO data/r FROM t"},
      // A computed item keeps its text without line breaks.
      {"select a\r\n+ 1 from t", "SELECT (+ a int:1) {a+ 1} FROM t"},
  });
}

TEST(SqlParserTest, SelectClauses) {
  ExpectPrinted({
      {"select a from t group by a, t.b, \"c\", [d e], 2 having count(*) > 1",
       "SELECT a FROM t GROUP BY a, t.b, c, d e, #2 HAVING (> (COUNT *) int:1)"},
      {"select a from t order by a asc, t.b descending, 2 desc, c ascending nocase",
       "SELECT a FROM t ORDER BY a, t.b DESC, #2 DESC, c NOCASE"},
      {"select a from t top 5 with locks nojoinoptimize",
       "SELECT a FROM t TOP 5 WITH LOCKS NOJOINOPTIMIZE"},
      {"select a from t language 'English (USA)' sort 'Default Order'",
       "SELECT a FROM t LANGUAGE 1033 SORT 0"},
      {"select a from t language \"German (Standard)\" sort \"German Phone Book Order\"",
       "SELECT a FROM t LANGUAGE 1031 SORT 1"},
      {"select a from t encrypted with 'secret'", "SELECT a FROM t ENCRYPTED 'secret'"},
      {"select a from t encrypted with ''", "SELECT a FROM t ENCRYPTED NONE"},
      {"select a from t where a in (select b from u where c = 1) and d like 'x%'",
       "SELECT a FROM t WHERE (AND (IN a <select>) (LIKE d str:'x%')) | SUB SELECT b FROM u "
       "WHERE (= c int:1)"},
      {"select a from t where a in (select b from u where b not in (select c from v)) or a "
       "not in (select d from w)",
       "SELECT a FROM t WHERE (OR (IN a <select>) (NOT_IN a <select>)) | SUB SELECT b FROM u "
       "WHERE (NOT_IN b <select>) | SUB SELECT c FROM v | SUB SELECT d FROM w"},
      // DATE is a type name, not a reserved word.
      {"select date from diary order by date desc", "SELECT date FROM diary ORDER BY date DESC"},
      // /* comments */ anywhere, and the last statement may end with ";".
      {"select /* all */ * from /* the */ t; ", "SELECT * FROM t"},
  });
}

TEST(SqlParserTest, SourceTablesAndJoins) {
  ExpectPrinted({
      {"select a from t x, u as y, \"v w\" z, [q]", "SELECT a FROM t x, u y, v w z, q"},
      {"select a from data\\sub\\t, '/abs/dir/x.dat' y, memory m",
       "SELECT a FROM data/sub/t, /abs/dir/x.dat y, MEMORY m"},
      {"select a from t join u on t.a=u.a",
       "SELECT a FROM t, u JOIN INNER t-u ON (= t.a u.a) WHERE (= t.a u.a)"},
      {"select a from t inner join u x on t.a=x.a where x.b=?",
       "SELECT a FROM t, u x JOIN INNER t-x ON (= t.a x.a) WHERE (AND (= t.a x.a) (= x.b ?))"},
      // RIGHT JOIN puts its table first.
      {"select a from t left outer join u on t.a=u.a right join v on v.b=u.b inner join w on "
       "w.c=v.c",
       "SELECT a FROM v, t, u, w JOIN LEFT t-u ON (= t.a u.a) JOIN RIGHT u-v ON (= v.b u.b) "
       "JOIN INNER v-w ON (= w.c v.c) WHERE (AND (AND (= t.a u.a) (= v.b u.b)) (= w.c v.c))"},
      {"select a from ((t join u on t.a=u.a) left join v on (v.a=u.a)), (w)",
       "SELECT a FROM t, u, v, w JOIN INNER t-u ON (= t.a u.a) JOIN LEFT u-v ON (= v.a u.a) "
       "WHERE (AND (= t.a u.a) (= v.a u.a))"},
      {"(select a from (t))", "(SELECT a FROM t)"},
      // Words that begin the next clause are no correlation names; quoted they are.
      {"select a from t where a=1", "SELECT a FROM t WHERE (= a int:1)"},
      {"select a from t 'where'", "SELECT a FROM t where"},
      {"select a from t top 1", "SELECT a FROM t TOP 1"},
  });
}

TEST(SqlParserTest, UnionChains) {
  ExpectPrinted({
      {"select a from t union select b from u union all (select c from v) order by 1 desc "
       "nocase top 3",
       "SELECT a FROM t UNION SELECT b FROM u UNION ALL (SELECT c FROM v) ORDER BY #1 DESC "
       "NOCASE TOP 3"},
      {"(select a from t) union all (select b from u top 2)",
       "(SELECT a FROM t) UNION ALL (SELECT b FROM u TOP 2)"},
      {"select a from t where a in (select b from u union select c from v)",
       "SELECT a FROM t WHERE (IN a <select>) | SUB SELECT b FROM u UNION SELECT c FROM v"},
  });
}

TEST(SqlParserTest, DataChangingStatements) {
  ExpectPrinted({
      {"insert into t values (1, 'x', ?, null, '')",
       "INSERT INTO t VALUES (int:1, str:'x', ?, NULL, NULL)"},
      // A quoted or bracketed target names the column.
      {"insert into t x (\"a\", [b], c) values (1, upper('x'), :p) noautoinc commit interval "
       "100 flush",
       "INSERT INTO t x (a, b, c) VALUES (int:1, (UPPER str:'x'), :p) NOAUTOINC COMMIT "
       "INTERVAL 100 FLUSH"},
      {"insert into memory data\\t select b, c from u where c = 1 noautoinc commit flush",
       "INSERT INTO MEMORY data/t SELECT b, c FROM u WHERE (= c int:1) NOAUTOINC COMMIT FLUSH"},
      {"insert into t (a) select b from u x commit interval 5",
       "INSERT INTO t (a) SELECT b FROM u x COMMIT INTERVAL 5"},
      {"update t set a = b, b = a where c = 1 commit interval 5 nojoinoptimize",
       "UPDATE t SET a = b, b = a WHERE (= c int:1) COMMIT INTERVAL 5 NOJOINOPTIMIZE"},
      {"update t x set x.a = 1 from t x, u where x.a = u.a noautoinc",
       "UPDATE t x SET x.a = int:1 FROM u WHERE (= x.a u.a) NOAUTOINC"},
      {"update t set a = 1 from T join u on t.a = u.a where u.b = 2",
       "UPDATE t SET a = int:1 FROM u JOIN INNER t-u ON (= t.a u.a) WHERE (AND (= t.a u.a) (= "
       "u.b int:2))"},
      {"update memory t set a = 1 from t", "UPDATE MEMORY t SET a = int:1"},
      {"update memory t set a = 1 from memory t", "UPDATE MEMORY t SET a = int:1"},
      {"delete from t", "DELETE FROM t"},
      // The changed table stays first: RIGHT JOIN moves no table before it.
      {"delete from t right join u on t.a=u.a",
       "DELETE FROM t, u JOIN RIGHT t-u ON (= t.a u.a) WHERE (= t.a u.a)"},
      {"update t set a = 1 from t right join u on t.a=u.a",
       "UPDATE t SET a = int:1 FROM u JOIN RIGHT t-u ON (= t.a u.a) WHERE (= t.a u.a)"},
      {"delete from t x join u on x.a=u.a, v where u.b=1 commit flush nojoinoptimize",
       "DELETE FROM t x, u, v JOIN INNER x-u ON (= x.a u.a) WHERE (AND (= x.a u.a) (= u.b "
       "int:1)) COMMIT FLUSH NOJOINOPTIMIZE"},
      {"start transaction", "START TRANSACTION"},
      {"rollback", "ROLLBACK"},
      {"rollback work", "ROLLBACK"},
      {"commit", "COMMIT"},
      {"commit work flush", "COMMIT FLUSH"},
  });
}

TEST(SqlParserTest, DataDefinitionStatements) {
  ExpectPrinted({
      {"create table if not exists t (id autoinc, name char(20) description 'the name' not "
       "null default 'x' charcase upper, amount money min -5 maximum 100, d date default "
       "current_date null, n numeric(10, 2), b blob(512, 2) charcase nochange, constraint pk "
       "primary key (id desc, name nocase) compress full) description 'tab' text index (name) "
       "stop words 'a an' space chars ' ' include chars '_' blob block size 1024 language "
       "'ANSI Standard' encrypted with 'pw' user major version 2 user minor version 3 last "
       "autoinc 10 nobackup",
       "CREATE TABLE IF NOT EXISTS t (id 6/29/4/0, name 1/0/20/0 NOT NULL DESCRIPTION 'the "
       "name' DEFAULT 'x' CHARCASE UPPER, amount 7/21/8/0 MIN '-5' MAX '100', d 2/0/4/0 DEFAULT "
       "'current_date', n 8/0/34/2, b 3/22/0/0, PRIMARY KEY pk (id DESC, name NOCASE) COMPRESS "
       "FULL) DESCRIPTION 'tab' TEXT INDEX (name) STOP WORDS 'a an' SPACE CHARS ' ' INCLUDE "
       "CHARS '_' BLOB BLOCK SIZE 1024 LANGUAGE 0 SORT 0 ENCRYPTED 'pw' USER MAJOR VERSION 2 "
       "USER MINOR VERSION 3 LAST AUTOINC 10 NOBACKUP"},
      {"create table memory \"t 1\" (\"a b\" integer default null, [c] bit default true)",
       "CREATE TABLE MEMORY t 1 (a b 6/0/4/0, c 4/0/2/0 DEFAULT 'true')"},
      {"create table t (a int, primary key (a))", "CREATE TABLE t (a 6/0/4/0, PRIMARY KEY (a))"},
      {"create index ix on t (a)", "CREATE INDEX ix ON t (a)"},
      {"create unique descending nocase index if not exists \"i x\" on data\\t (a desc, b "
       "nocase asc) compress dupbyte",
       "CREATE UNIQUE DESC NOCASE INDEX IF NOT EXISTS i x ON data/t (a DESC, b NOCASE) COMPRESS "
       "DUPBYTE"},
      {"create asc index ix on t ('a') compress trailbyte",
       "CREATE INDEX ix ON t (a) COMPRESS TRAILBYTE"},
      {"alter table t add column c integer at 2, add d date, redefine b b2 char(10), redefine "
       "column e e smallint, drop column f, drop g",
       "ALTER TABLE t ADD c 6/0/4/0 AT 2, ADD d 2/0/4/0, REDEFINE b b2 1/0/10/0, REDEFINE e e "
       "5/0/2/0, DROP f, DROP g"},
      {"alter table t add constraint pk primary key (a) compress none, redefine primary key "
       "(b), drop constraint pk primary key, drop primary key nobackup",
       "ALTER TABLE t ADD PRIMARY KEY pk (a), REDEFINE PRIMARY KEY (b), DROP PRIMARY KEY pk, "
       "DROP PRIMARY KEY NOBACKUP"},
      {"alter table t description 'x' language 'English (USA)' encrypted with ''",
       "ALTER TABLE t DESCRIPTION 'x' LANGUAGE 1033 SORT 0 ENCRYPTED NONE"},
      {"drop table t", "DROP TABLE t"},
      {"drop table if exists memory t", "DROP TABLE IF EXISTS MEMORY t"},
      {"drop index t.ix", "DROP INDEX t.ix"},
      {"drop index if exists data\\t.\"PRIMARY\"", "DROP INDEX IF EXISTS data/t.PRIMARY"},
  });
}

// ---- Messages

TEST(SqlParserErrorTest, StatementDispatchAndEnd) {
  ExpectMessages({
      {"",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead "
       "found ''"},
      {"merge into t",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword "
       "expected, instead found 'merge'"},
      {"(insert into t values (1))", "SELECT keyword expected, instead found 'insert'"},
      {"create view v",
       "TABLE, INDEX, UNIQUE, ASC, ASCENDING, DESC, DESCENDING, or NOCASE "
       "keyword expected, instead found 'view'"},
      {"alter t", "TABLE keyword expected, instead found 't'"},
      {"drop view v", "TABLE or INDEX keyword expected, instead found 'view'"},
      {"start work", "TRANSACTION keyword expected, instead found 'work'"},
      {"delete from Items where id=5 x", "End of DELETE statement expected, instead found 'x'"},
      {"select a from t x y", "End of SELECT statement expected, instead found 'y'"},
      // RANGE ends a source entry but begins no clause.
      {"select a from t range", "End of SELECT statement expected, instead found 'range'"},
      {"select a from t)", "End of SELECT statement expected, instead found ')'"},
      {"insert into t values (1) 2", "End of INSERT statement expected, instead found '2'"},
      {"update t set a = 1 b", "End of UPDATE statement expected, instead found 'b'"},
      {"create table t (a int) x", "End of CREATE TABLE statement expected, instead found 'x'"},
      {"create index i on t (a) x", "End of CREATE INDEX statement expected, instead found 'x'"},
      {"alter table t drop a x", "End of ALTER TABLE statement expected, instead found 'x'"},
      {"drop table t x", "End of DROP TABLE statement expected, instead found 'x'"},
      {"drop index t.i x", "End of DROP INDEX statement expected, instead found 'x'"},
      {"start transaction x", "End of START TRANSACTION statement expected, instead found 'x'"},
      {"rollback x", "End of ROLLBACK statement expected, instead found 'x'"},
      {"commit flush x", "End of COMMIT statement expected, instead found 'x'"},
      {"select * from t /* open", "Missing ending comment slash and asterisk in SQL statement"},
  });
}

TEST(SqlParserErrorTest, Select) {
  ExpectMessages({
      {"select from t", "Source column expression is empty"},
      {"select a, from t", "Source column expression is empty"},
      {"select", "Source column expression is empty"},
      {"select a as 1 from t", "Symbol or string expected after AS keyword, instead found '1'"},
      {"select a b. 1 from t",
       "Symbol or string expected after table correlation name, instead found '1'"},
      {"select sum(max(a)) from t", "Aggregate functions cannot be nested"},
      {"select count(a + sum(b)) from t", "Aggregate functions cannot be nested"},
      {"select sum(a)+1 from t", "Aggregate functions cannot be used within expressions"},
      {"select upper(sum(a)) from t", "Aggregate functions cannot be used within expressions"},
      {"select a = ? from t", "Parameters are not allowed in source column expression"},
      {"select a t", "FROM keyword expected, instead found ''"},
      {"select a into 5 from t", "Result table name expected in INTO clause, instead found '5'"},
      {"select a into from t", "Result table name expected in INTO clause, instead found 'from'"},
      {"select a from t where a in (select b into x from u)",
       "The INTO clause can only be used with the master query"},
      {"select a from t union select b into x from u",
       "The INTO clause can only be used with the master query"},
      {"select a from t where", "WHERE or JOIN clause is empty"},
      {"select a from t where;", "WHERE or JOIN clause is empty"},
      {"select a from t where sum(a) > 1",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      // The context of the outer clause comes back after a sub-select.
      {"select a from t where a in (select b from u) and sum(c) > 1",
       "Aggregate functions are not allowed in WHERE or JOIN clause"},
      {"select a from t where a in (select b from u where b in (select c from v) or *)",
       "* (all columns) symbol is not allowed in WHERE or JOIN clause"},
      {"select a from t where a in (select b = ? from u)",
       "Parameters are not allowed in source column expression"},
      {"select a from t where a in (select b from u x y)",
       "Expected right parentheses for IN operator, instead found 'y' in WHERE or JOIN clause"},
      {"select a from t group a", "BY keyword expected after GROUP keyword, instead found 'a'"},
      {"select count(*) from t group by 1 + 1",
       "End of SELECT statement expected, instead found '+'"},
      {"select a from t group by 1.5",
       "Column name or column number expected in GROUP BY clause, instead found '1.5'"},
      {"select a from t group by t.?",
       "Column name or column number expected in GROUP BY clause, instead found '?'"},
      {"select a from t having a like 'x'",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in HAVING "
       "clause"},
      {"select a from t order a", "BY keyword expected after ORDER keyword, instead found 'a'"},
      {"select a from t order by upper(a)", "End of SELECT statement expected, instead found '('"},
      {"select a from t order by 'x'.",
       "Column name or column number expected in ORDER BY clause, instead found ''"},
      {"select a from t order by a union select a from u",
       "You cannot use an ORDER BY clause within a UNIONed query"},
      {"select a from t union select a from u order by 1 union select a from v",
       "You cannot use an ORDER BY clause within a UNIONed query"},
      {"select a from t union delete from t", "SELECT keyword expected, instead found 'delete'"},
      {"select a from t top x", "Integer value expected after TOP keyword, instead found 'x'"},
      {"select a from t top 99999999999",
       "Integer value expected after TOP keyword, instead found '99999999999'"},
      {"select a from t with nolocks",
       "LOCKS keyword expected after WITH keyword, instead found 'nolocks'"},
      {"select a from t language 'Klingon'",
       "Invalid language constant 'Klingon' specified after LANGUAGE keyword"},
      {"select a from t language 1033",
       "Invalid language constant '1033' specified after "
       "LANGUAGE keyword"},
      {"select a from t language 'English (USA)' sort 'German Phone Book Order'",
       "Invalid sort constant 'German Phone Book Order' specified after SORT keyword"},
      {"select a from t encrypted 'x'",
       "WITH keyword expected after ENCRYPTED keyword, instead found 'x'"},
      {"(select a from t", "Right parentheses expected after SELECT statement, instead found ''"},
      {"(select a from t union select b from u)",
       "Right parentheses expected after SELECT statement, instead found 'union'"},
      {"select a from t union (select b from u",
       "Right parentheses expected after SELECT statement, instead found ''"},
  });
}

TEST(SqlParserErrorTest, SourceTablesAndJoins) {
  ExpectMessages({
      {"select a from", "Table name expected after FROM keyword, instead found ''"},
      {"select a from 5", "Table name expected after FROM keyword, instead found '5'"},
      {"select a from ''", "Table name expected after FROM keyword, instead found ''"},
      {"select a from memory", "Table name expected after FROM keyword, instead found ''"},
      {"select a from data\\", "Table name expected after FROM keyword, instead found ''"},
      {"select a from 'data/'", "Table name expected after FROM keyword, instead found 'data/'"},
      {"select a from t as 5", "Symbol or string expected after AS keyword, instead found '5'"},
      {"select * from t a, t a", "Duplicate table correlation name 'a' found in source tables"},
      {"select * from t, u T", "Duplicate table correlation name 'T' found in source tables"},
      {"select * from t, data\\t", "Duplicate table correlation name 't' found in source tables"},
      {"select * from t join t on t.a = t.a",
       "Duplicate table correlation name 't' found in source tables"},
      {"select a from (t", "Mismatched join parentheses"},
      {"select a from (t join u on t.a=u.a", "Mismatched join parentheses"},
      {"select a from (t, u)", "Mismatched join parentheses"},
      {"select a from t join 5", "Table name expected after JOIN keyword, instead found '5'"},
      {"select a from t join u", "ON keyword expected in JOIN clause, instead found ''"},
      {"select a from t join u where", "ON keyword expected in JOIN clause, instead found 'where'"},
      {"select a from t join u on", "WHERE or JOIN clause is empty"},
      {"select a from t join u on t.a in (select b from v)",
       "Sub-select queries are not allowed in WHERE or JOIN clause"},
      {"select a from t inner u", "JOIN keyword expected after INNER keyword, instead found 'u'"},
      {"select a from t left u",
       "JOIN keyword expected after LEFT or OUTER keyword, instead found 'u'"},
      {"select a from t left outer u",
       "JOIN keyword expected after LEFT or OUTER keyword, instead found 'u'"},
      {"select a from t right outer u",
       "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'u'"},
      {"select a from t x full join u on x.a=u.a",
       "Full outer joins are currently not supported in SQL SELECT statements"},
      {"select a from t full outer join u on t.a=u.a",
       "Full outer joins are currently not supported in SQL SELECT statements"},
  });
}

TEST(SqlParserErrorTest, DataChangingStatements) {
  ExpectMessages({
      {"insert t values (1)", "INTO keyword expected, instead found 't'"},
      {"insert into (a) values (1)", "Table name expected after INTO keyword, instead found '('"},
      {"insert into memory (a) values (1)",
       "Table name expected after INTO clause, instead found '('"},
      {"insert into d\\ (a) values (1)",
       "Table name expected after INTO clause, instead found '('"},
      {"insert into t (a, b values (1)",
       "Right parentheses expected after list of table columns, instead found 'values'"},
      {"insert into t (*) values (1)", "* (all columns) symbol is not allowed in table column"},
      {"insert into t (?) values (1)", "Parameters are not allowed in table column"},
      {"insert into t values 1",
       "Left parentheses expected after VALUES keyword, instead found '1'"},
      {"insert into t values (1, 2",
       "Right parentheses expected after list of values, instead found ''"},
      {"insert into t values (a like 'x')",
       "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in value "
       "expression"},
      {"insert into t values (count(*))",
       "Aggregate functions are not allowed in value expression"},
      {"insert into t (a)", "VALUES or SELECT  keyword expected, instead found ''"},
      {"insert into t set a = 1", "VALUES or SELECT  keyword expected, instead found 'a'"},
      {"insert into t (a) select b into x from u",
       "The INTO clause can only be used with the master query"},
      {"insert into t values (1) commit",
       "INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found ''"},
      {"insert into t values (1) commit interval x",
       "Integer value expected after INTERVAL keyword, instead found 'x'"},
      {"insert into t values (1) nojoinoptimize",
       "End of INSERT statement expected, instead found 'nojoinoptimize'"},
      {"update 5 set a = 1", "Table name expected, instead found '5'"},
      {"update t a = 1", "SET keyword expected, instead found '='"},
      {"update t set a 1", "Assignment (=) operator expected after column name, instead found '1'"},
      {"update t set a = ?, b = sum(c)", "Aggregate functions are not allowed in value expression"},
      {"update t set a = 1 from", "Table name expected after FROM keyword, instead found ''"},
      {"update t set a = 1 from u",
       "The first source table specified in FROM clause must match the table being updated in "
       "the UPDATE statement"},
      {"update t x set a = 1 from t y",
       "The first source table specified in FROM clause must match the table being updated in "
       "the UPDATE statement"},
      {"update t set a = 1 from memory t",
       "The first source table specified in FROM clause must match the table being updated in "
       "the UPDATE statement"},
      {"update t set a = 1 from data\\t",
       "The first source table specified in FROM clause must match the table being updated in "
       "the UPDATE statement"},
      {"update t set a = 1 from t, u t",
       "Duplicate table correlation name 't' found in source tables"},
      {"delete t", "FROM keyword expected, instead found 't'"},
      {"delete from", "Table name expected after FROM keyword, instead found ''"},
      {"delete from t noautoinc", "End of DELETE statement expected, instead found 'noautoinc'"},
      {"delete from t where a = 1 commit flush interval 5",
       "End of DELETE statement expected, instead found 'interval'"},
  });
}

TEST(SqlParserErrorTest, DataDefinitionStatements) {
  ExpectMessages({
      {"create table (a int)",
       "Table name expected after CREATE TABLE keywords, instead found '('"},
      {"create table if t (a int)", "NOT keyword expected after IF keyword, instead found 't'"},
      {"create table if not t (a int)",
       "EXISTS keyword expected after NOT keyword, instead found 't'"},
      {"create table t a int",
       "Left parentheses expected before list of table columns, instead found 'a'"},
      {"create table t (a foo)",
       "SQL data type keyword expected, instead found 'foo' in SQL "
       "statement"},
      {"create table t (a char)",
       "Left parentheses expected after CHAR data type, instead "
       "found ')' in SQL statement"},
      {"create table t (count int)", "Aggregate functions are not allowed in table column"},
      {"create table t (a int not 5)",
       "NULL keyword expected after NOT keyword, instead found '5'"},
      {"create table t (a char(5) charcase title)",
       "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'title'"},
      {"create table t (a int description)",
       "String constant expected after DESCRIPTION keyword, instead found ')'"},
      {"create table t (a int default ?)", "Parameters are not allowed in SQL statement"},
      {"create table t (a int, primary (a))",
       "KEY keyword expected after PRIMARY keyword, instead found '('"},
      {"create table t (a int, constraint pk key (a))",
       "PRIMARY keyword expected, instead found 'key'"},
      {"create table t (a int, primary key a)", "Left parentheses expected, instead found 'a'"},
      {"create table t (a int, primary key (a b))",
       "Right parentheses expected, instead found 'b'"},
      {"create table t (a int, primary key (a)",
       "Right parentheses expected after CREATE TABLE statement, instead found ''"},
      {"create table t (a int, primary key (a), b int)",
       "Right parentheses expected after CREATE TABLE statement, instead found ','"},
      {"create table t (a int, primary key (a) compress half)",
       "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead "
       "found 'half'"},
      {"create table t (a int, primary key (t.a))",
       "Invalid use of table correlation name 't' specified in indexed columns"},
      {"create table t (a int, primary key (sum))",
       "Aggregate functions are not allowed in index column"},
      {"create table t (a int) text a",
       "INDEX keyword expected after TEXT keyword, instead found 'a'"},
      {"create table t (a int) text index a",
       "Left parentheses expected after TEXTINDEX keyword, instead found 'a'"},
      {"create table t (a int) text index (a",
       "Right parentheses expected after TEXT INDEX clause, instead found ''"},
      {"create table t (a int) stop a",
       "WORDS keyword expected after STOP keyword, instead found 'a'"},
      {"create table t (a int) space a",
       "CHARS keyword expected after SPACE keyword, instead found 'a'"},
      {"create table t (a int) include a",
       "CHARS keyword expected after INCLUDE keyword, instead found 'a'"},
      {"create table t (a int) stop words ;",
       "String constant expected after WORDS keyword, instead found ';'"},
      {"create table t (a int) blob size",
       "BLOCK keyword expected after BLOB keyword, instead found 'size'"},
      {"create table t (a int) blob block 5",
       "SIZE keyword expected after BLOCK keyword, instead found '5'"},
      {"create table t (a int) blob block size x",
       "Integer value expected after SIZE keyword, instead found 'x'"},
      {"create table t (a int) user major 1",
       "VERSION keyword expected after MAJOR keyword, instead found '1'"},
      {"create table t (a int) user minor 1",
       "VERSION keyword expected after MINOR keyword, instead found '1'"},
      {"create table t (a int) user major version x",
       "Integer value expected after VERSION keyword, instead found 'x'"},
      {"create table t (a int) user x",
       "MAJOR or MINOR keyword expected after USER keyword, instead found 'x'"},
      {"create table t (a int) last 5",
       "AUTOINC keyword expected after LAST keyword, instead found '5'"},
      {"create table t (a int) last autoinc x",
       "Integer constant expected after AUTOINC keyword, instead found 'x'"},
      {"create table t (a int) language 'x'",
       "Invalid language constant 'x' specified after LANGUAGE keyword"},
      {"create unique ix on t (a)", "INDEX keyword expected, instead found 'ix'"},
      {"create index if exists ix on t (a)",
       "NOT keyword expected after IF keyword, instead found 'exists'"},
      {"create index 5 on t (a)", "Index name expected after INDEX keyword, instead found '5'"},
      {"create index ix t (a)", "ON keyword expected after index name, instead found 't'"},
      {"create index ix on (a)", "Table name expected after ON keyword, instead found '('"},
      {"create index ix on t a", "Left parentheses expected, instead found 'a'"},
      {"create index ix on t (a", "Right parentheses expected, instead found ''"},
      {"create index ix on t (u.a)",
       "Invalid use of table correlation name 'u' specified in indexed columns"},
      {"create index ix on t (a) compress",
       "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected "
       "after COMPRESS keyword, instead found ''"},
      {"alter table", "Table name expected after ALTER TABLE keywords, instead found ''"},
      {"alter table t modify c", "ADD, DROP, or REDEFINE keyword expected, instead found 'modify'"},
      {"alter table t drop a, nobackup",
       "ADD, DROP, or REDEFINE keyword expected, instead found 'nobackup'"},
      {"alter table t add column c integer at x",
       "Integer value expected after AT keyword, instead found 'x'"},
      {"alter table t add primary (a)",
       "KEY keyword expected after PRIMARY keyword, instead found '('"},
      {"drop table", "Table name expected after DROP TABLE keywords, instead found ''"},
      {"drop table if t", "EXISTS keyword expected after IF keyword, instead found 't'"},
      {"drop index", "Table name expected after DROP INDEX keywords, instead found ''"},
      {"drop index if not exists t.i",
       "EXISTS keyword expected after IF keyword, instead found 'not'"},
      {"drop index t", "Unknown or unexpected symbol '' found in index name expression"},
      {"drop index t.(", "Unknown or unexpected symbol '(' found in index name expression"},
  });
}

// ---- Scripts

TEST(SqlParserTest, AScriptIsParsedOneStatementAtATime) {
  EXPECT_EQ(ParseScript("update Items set id=999999 where id=3; update Items set id=3 where "
                        "id=4"),
            (std::vector<std::string>{"UPDATE Items SET id = int:999999 WHERE (= id int:3)",
                                      "UPDATE Items SET id = int:3 WHERE (= id int:4)"}));
  EXPECT_EQ(ParseScript("start transaction;delete from t;rollback;  /* done */  "),
            (std::vector<std::string>{"START TRANSACTION", "DELETE FROM t", "ROLLBACK"}));
  // A fault in a later statement shows only when that statement is reached.
  EXPECT_EQ(
      ParseScript("delete from t; delete t; delete from u"),
      (std::vector<std::string>{"DELETE FROM t", Sql("FROM keyword expected, instead found 't'")}));
  EXPECT_EQ(ParseScript("delete from t;;"),
            (std::vector<std::string>{"DELETE FROM t",
                                      Sql("SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP "
                                          "keyword expected, instead found ';'")}));

  // Each statement has its own queries and parameters.
  TQueryStatement s;
  s.Prepare(
      "select a from t where b in (select c from u where d = ?) and e = ?;"
      "insert into t values (:x)");
  EXPECT_EQ(s.Kind(), TStatementKind::Select);
  EXPECT_EQ(s.Queries().size(), 2u);
  EXPECT_EQ(s.ParameterCount(), 2u);
  EXPECT_FALSE(s.AtEndOfText());
  ASSERT_TRUE(s.ParseNextStatement());
  EXPECT_EQ(s.Kind(), TStatementKind::Insert);
  EXPECT_EQ(s.Queries().size(), 1u);
  ASSERT_EQ(s.ParameterCount(), 1u);
  EXPECT_EQ(s.Parameters()[0]->text, ":x");
  EXPECT_TRUE(s.AtEndOfText());
  EXPECT_FALSE(s.ParseNextStatement());
  EXPECT_EQ(s.Kind(), TStatementKind::Insert);
}

// ---- The parse result's links and facts

TEST(SqlParserTest, ParametersAreListedInOrderOfAppearance) {
  TQueryStatement s;
  s.Prepare(
      "select a from t join u on u.k = :k where t.b in (select c from v where v.d = ?) "
      "and t.e between ? and :high");
  const std::vector<TExpToken*>& p = s.Parameters();
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0]->text, ":k");
  EXPECT_EQ(p[1]->text, "?");
  EXPECT_EQ(p[2]->text, "?");
  EXPECT_EQ(p[3]->text, ":high");
  const TDataQuery& master = *s.Master();
  EXPECT_EQ(p[0], master.joins[0].condition->right.get());
  EXPECT_EQ(p[1], s.Queries()[1]->where->right.get());
  const TExpToken& between = *master.where->right->right;
  EXPECT_EQ(p[2], between.arguments[1].get());
  EXPECT_EQ(p[3], between.arguments[2].get());
  for (const TExpToken* n : p)
    EXPECT_TRUE(n->isParameter);
}

TEST(SqlParserTest, SelectItemsCarryWhatNamingTheResultNeeds) {
  TQueryStatement s;
  s.Prepare(
      "select item, sum(output) as allinput, count(*), max(t.id) top_id, a + 1, "
      "avg(a * 2), runsum(b), min(c), t.*, 'lit' from t");
  const std::vector<TResultField>& f = s.Master()->resultFields;
  struct Expect {
    TAggregateKind aggregate;
    bool computed;
    std::string column;
    std::string correlation;
    std::string alias;
    std::string sourceText;
  };
  const std::vector<Expect> expected = {
      {TAggregateKind::None, false, "item", "", "", ""},
      {TAggregateKind::Sum, false, "output", "", "allinput", ""},
      {TAggregateKind::Count, false, "*", "", "", ""},
      {TAggregateKind::Max, false, "id", "t", "top_id", ""},
      {TAggregateKind::None, true, "", "", "", "a + 1"},
      {TAggregateKind::Avg, true, "", "", "", "avg(a * 2)"},
      {TAggregateKind::RunSum, false, "b", "", "", ""},
      {TAggregateKind::Min, false, "c", "", "", ""},
      {TAggregateKind::None, false, "*", "t", "", ""},
      {TAggregateKind::None, true, "", "", "", "'lit'"},
  };
  ASSERT_EQ(f.size(), expected.size());
  for (std::size_t i = 0; i < f.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(f[i].aggregate, expected[i].aggregate);
    EXPECT_EQ(f[i].computed, expected[i].computed);
    EXPECT_EQ(f[i].columnName, expected[i].column);
    EXPECT_EQ(f[i].correlationName, expected[i].correlation);
    EXPECT_EQ(f[i].alias, expected[i].alias);
    EXPECT_EQ(f[i].automaticName, expected[i].alias.empty());
    EXPECT_EQ(f[i].sourceText, expected[i].sourceText);
  }
  EXPECT_FALSE(s.Master()->SelectsAllColumnsOnly());

  for (const auto& [text, starAlone] :
       std::vector<std::pair<std::string, bool>>{{"select * from t", true},
                                                 {"select t.* from t", false},
                                                 {"select *, a from t", false},
                                                 {"select * x from t", false}}) {
    TQueryStatement star;
    star.Prepare(text);
    EXPECT_EQ(star.Master()->SelectsAllColumnsOnly(), starAlone) << text;
  }
}

TEST(SqlParserTest, QueriesOfAStatementAreLinked) {
  TQueryStatement s;
  s.Prepare(
      "select a from t where a in (select b from u) union all select c from v union "
      "select d from w order by 1");
  const auto& q = s.Queries();
  ASSERT_EQ(q.size(), 4u);
  const TDataQuery& master = *q[0];
  EXPECT_EQ(s.Master(), &master);
  EXPECT_EQ(master.statement, &s);
  // Creation order: master, its sub-select, then the union members.
  EXPECT_TRUE(q[1]->isSubQuery);
  EXPECT_EQ(master.where->arguments[1]->subQuery, q[1].get());
  EXPECT_EQ(master.nextUnion, q[2].get());
  EXPECT_TRUE(master.unionAll);
  EXPECT_EQ(q[2]->nextUnion, q[3].get());
  EXPECT_FALSE(q[2]->unionAll);
  EXPECT_EQ(q[3]->nextUnion, nullptr);
  for (int i : {2, 3}) {
    EXPECT_TRUE(q[i]->inUnion);
    EXPECT_FALSE(q[i]->isSubQuery);
    EXPECT_EQ(q[i]->unionOwner, &master);
  }
  EXPECT_TRUE(master.hasOrderBy);
  EXPECT_FALSE(q[3]->hasOrderBy);

  TQueryStatement insert;
  insert.Prepare("insert into t select a from u");
  ASSERT_EQ(insert.Queries().size(), 2u);
  EXPECT_EQ(insert.Master()->insertSource, insert.Queries()[1].get());
  EXPECT_FALSE(insert.Queries()[1]->isSubQuery);
  EXPECT_TRUE(insert.Master()->updateFields.empty());  // every column in table order
}

TEST(SqlParserTest, SourceTablesKnowTheirPlaceAndJoins) {
  TQueryStatement s;
  s.Prepare("select a from t left join u on t.a = u.a right join v x on x.b = u.b, w");
  const TDataQuery& q = *s.Master();
  ASSERT_EQ(q.sourceTables.size(), 4u);
  const std::vector<std::string> names = {"x", "t", "u", "w"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(q.sourceTables[i]->correlationName, names[i]);
    EXPECT_EQ(q.sourceTables[i]->position, static_cast<int>(i + 1));
  }
  EXPECT_TRUE(q.severalTables);
  ASSERT_EQ(q.joins.size(), 2u);
  EXPECT_EQ(q.joins[0].type, TJoinType::LeftOuter);
  EXPECT_EQ(q.joins[0].left, q.sourceTables[1].get());
  EXPECT_EQ(q.joins[0].right, q.sourceTables[2].get());
  EXPECT_EQ(q.joins[1].type, TJoinType::RightOuter);
  EXPECT_EQ(q.joins[1].left, q.sourceTables[2].get());
  EXPECT_EQ(q.joins[1].right, q.sourceTables[0].get());
  // The ON conditions are the first conjuncts of the WHERE tree.
  EXPECT_EQ(q.joins[0].condition, q.where->left.get());
  EXPECT_EQ(q.joins[1].condition, q.where->right.get());
  EXPECT_FALSE(q.hasWhere);

  TQueryStatement single;
  single.Prepare("select a from t");
  EXPECT_FALSE(single.Master()->severalTables);
}

TEST(SqlParserTest, TableNamesSplitIntoDirectoryFileAndName) {
  struct Case {
    std::string from;
    bool inMemory;
    std::string directory;
    std::string fileName;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"szzb", false, "", "szzb", "szzb"},
      {"'szzb.dat'", false, "", "szzb.dat", "szzb"},
      {"memory t", true, "", "t", "t"},
      {"data\\szzb", false, "data/", "szzb", "szzb"},
      {"'/home/u/data'\\[szzb.DAT]", false, "/home/u/data/", "szzb.DAT", "szzb"},
      {"'/home/u/data/'\\szzb", false, "/home/u/data/", "szzb", "szzb"},
      {"\"../x/y.z\"", false, "../x/", "y.z", "y"},
      // A backslash inside a quoted name is a character of the name, not a directory.
      {"'a\\b'", false, "", "a\\b", "b"},
      // A two-byte character whose second byte is a backslash stays whole.
      {"\xb1\x5c\xb1\x5c", false, "", "\xb1\x5c\xb1\x5c", "\xb1\x5c\xb1\x5c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    TQueryStatement s;
    s.Prepare("delete from " + c.from);
    const TTableName& t = s.Master()->Target()->table;
    EXPECT_EQ(t.inMemory, c.inMemory);
    EXPECT_EQ(t.directory, c.directory);
    EXPECT_EQ(t.fileName, c.fileName);
    EXPECT_EQ(t.name, c.name);
    EXPECT_EQ(t.Path(), c.directory + c.fileName);
    EXPECT_EQ(s.Master()->Target()->correlationName, c.name);
  }
}

TEST(SqlParserTest, DefinitionItemsCarryTheirSettings) {
  TQueryStatement s;
  s.Prepare(
      "alter table t add a char(20) not null description 'd' default 'x' min 'a' max 'z' "
      "charcase lower at 3, redefine b c decimal(10, 2), add constraint k primary key (a "
      "desc nocase, c) compress trailbyte, drop d");
  const TDataQuery& q = *s.Master();
  ASSERT_EQ(q.alterActions.size(), 4u);
  ASSERT_EQ(q.createFields.size(), 2u);
  ASSERT_EQ(q.createIndexes.size(), 1u);
  const TCreateField& a = *q.createFields[0];
  EXPECT_EQ(q.alterActions[0].field, &a);
  EXPECT_EQ(a.number, 1);
  EXPECT_EQ(a.name, "a");
  EXPECT_EQ(a.type, ftype::kString);
  EXPECT_EQ(a.size, 20);
  EXPECT_TRUE(a.required);
  EXPECT_EQ(a.description, "d");
  EXPECT_EQ(a.defaultText, "x");
  EXPECT_EQ(a.minText, "a");
  EXPECT_EQ(a.maxText, "z");
  EXPECT_EQ(a.charCase, TCharCase::Lower);
  EXPECT_TRUE(q.alterActions[0].hasPosition);
  EXPECT_EQ(q.alterActions[0].position, 3);
  EXPECT_EQ(q.alterActions[1].kind, TAlterKind::RedefineColumn);
  EXPECT_EQ(q.alterActions[1].columnName, "b");
  EXPECT_EQ(q.alterActions[1].field, q.createFields[1].get());
  EXPECT_EQ(q.createFields[1]->name, "c");
  EXPECT_EQ(q.createFields[1]->type, ftype::kBcd);
  EXPECT_EQ(q.createFields[1]->scale, 2);
  const TCreateIndex& k = *q.createIndexes[0];
  EXPECT_EQ(q.alterActions[2].index, &k);
  EXPECT_TRUE(k.primary);
  EXPECT_TRUE(k.unique);
  EXPECT_EQ(k.name, "k");
  ASSERT_EQ(k.columns.size(), 2u);
  EXPECT_TRUE(k.columns[0].descending);
  EXPECT_TRUE(k.columns[0].noCase);
  EXPECT_FALSE(k.columns[1].descending);
  EXPECT_EQ(k.compression, TIndexCompression::TrailByte);
  EXPECT_EQ(q.alterActions[3].kind, TAlterKind::DropColumn);
  EXPECT_EQ(q.alterActions[3].columnName, "d");
}

}  // namespace
}  // namespace mt
