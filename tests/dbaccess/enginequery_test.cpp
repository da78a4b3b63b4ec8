// Query datasets on the program's tables: the results of the program's statements, parameters
// as values (never as statement text), the prepared/open life of a query, read-only and live
// results, hidden working columns, and the temporary result tables a query leaves behind.
#include "dbaccess/enginequery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dbtest.h"
#include "engine/common/gbk.h"

namespace mt {
namespace {

using test::kEntries;
using test::MessageOf;
using test::TEntry;

class EngineQueryTest : public test::TMintoraFixture {
 protected:
  std::unique_ptr<TEngineQuery> Query(std::string_view sql) {
    auto q = std::make_unique<TEngineQuery>();
    q->SetDatabaseName(Dir());
    q->SetSQL(sql);
    return q;
  }

  // The rows of an open query, each as its fields' texts.
  static std::vector<std::vector<std::string>> Rows(TEngineDataSet& ds) {
    std::vector<std::vector<std::string>> rows;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      std::vector<std::string> row;
      for (int i = 0; i < ds.FieldCount(); ++i)
        row.push_back(ds.Fields(i).AsString());
      rows.push_back(row);
    }
    return rows;
  }
};

TEST_F(EngineQueryTest, TotalsOverAnEmptyLedgerGiveOneRowThatReadsAsNothing) {
  struct TCase {
    const char* sql;
    const char* field;
    std::string text;
    double number;
  };
  const TCase cases[] = {
      {"select max(id) as id from szzb ", "id", "", 0},
      {"select sum(input) as allinput from szzb", "allinput", "", 0},
      {"select sum(output) as alloutput from szzb where type=\"2\"", "alloutput", "", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    auto q = Query(c.sql);
    q->Open();
    EXPECT_EQ(q->RecordCount(), 1u);
    EXPECT_FALSE(q->Eof());
    EXPECT_TRUE(q->FieldByName(c.field).IsNull());
    EXPECT_EQ(q->FieldByName(c.field).AsString(), c.text);
    EXPECT_EQ(q->FieldByName(c.field).AsFloat(), c.number);
  }
}

TEST_F(EngineQueryTest, ReadsTheRowsOfTheProgramsQueries) {
  Ledger(kEntries)->Close();
  auto q = Query("select sum(input) as allinput from szzb");
  q->Open();
  EXPECT_DOUBLE_EQ(q->FieldByName("allinput").AsFloat(), 5300.25);

  q->SetSQL("select max(id) as id from szzb ");
  q->Open();
  EXPECT_EQ(q->FieldByName("ID").AsInteger(), 4);

  q->SetSQL("select * from szzb where date>=:d1 and date<=:d2 order by date");
  q->ParamByName("d1").SetAsString("2004-01-05");
  q->ParamByName("d2").SetAsString("2004-01-31");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 3u);
  EXPECT_NE(q->FindField("itemid"), nullptr);
  q->Close();
  // A date parameter given as a date.
  q->ParamByName("d1").SetAsDate(38018.0);  // 2004-02-01
  q->ParamByName("d2").SetAsString("2004-12-31");
  q->Open();
  EXPECT_EQ(Rows(*q).size(), 1u);
  EXPECT_EQ(q->FieldByName("item").AsString(), "Bonus");
}

TEST_F(EngineQueryTest, AParameterIsAValueNeverStatementText) {
  // The sign-in check with the name and password as parameters.
  auto q = Query("select * from User where name=:name and password=:password");
  ASSERT_EQ(q->Params().Count(), 2);
  struct TCase {
    std::string name;
    std::string password;
    bool signsIn;
  };
  const TCase cases[] = {
      {"admin", "admin", true},
      {"admin", "Admin", false},
      {"admin", "password", false},  // the column's name is only text
      {"admin", "name", false},
      {"admin", "' or '1'='1", false},
      {"admin\" or \"1\"=\"1", "admin", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name + " / " + c.password);
    q->ParamByName("name").SetAsString(c.name);
    q->ParamByName("password").SetAsString(c.password);
    q->Open();
    EXPECT_EQ(!q->Eof(), c.signsIn);
    q->Close();
  }

  // Quotes in a stored value are found as typed.
  auto user = Table("User");
  user->Open();
  user->Append();
  user->FieldByName("name").SetAsString("o'brien");
  user->FieldByName("password").SetAsString("it's \"mine\"");
  user->Post();
  user->Close();
  q->ParamByName("name").SetAsString("o'brien");
  q->ParamByName("password").SetAsString("it's \"mine\"");
  q->Open();
  ASSERT_FALSE(q->Eof());
  EXPECT_EQ(q->FieldByName("name").AsString(), "o'brien");
}

// The windows' changing statements, each value a parameter: a typed name holding quotes
// deletes exactly its own row, a value equal to a column name matches nothing, and the
// category swap runs as one transaction.
TEST_F(EngineQueryTest, RunsTheWindowsChangingStatementsWithTypedValues) {
  auto q = Query("insert into User (name, fullname, password) values (:name, :full, :password)");
  for (const char* name : {"o'brien", "say \"hi\"", "password"}) {
    q->ParamByName("name").SetAsString(name);
    q->ParamByName("full").SetAsString(Utf8ToGbk("张三"));
    q->ParamByName("password").SetAsString("name");
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 1);
  }
  q->SetSQL("insert into system (name, value) values (:key, :value)");
  q->ParamByName("key").SetAsString("o'brien");
  q->ParamByName("value").SetAsString("secret");
  q->ExecSQL();

  struct TCase {
    const char* sql;
    const char* param;
    std::string value;
    int rows;
  };
  const TCase cases[] = {
      {"delete from User where name=:name", "name", "name", 0},  // a column's name is text
      {"delete from User where name=:name", "name", "\" or \"1\"=\"1", 0},
      {"delete from User where name=:name", "name", "say \"hi\"", 1},
      {"delete from system where name =:key", "key", "o'brien", 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.value);
    q->SetSQL(c.sql);
    q->ParamByName(c.param).SetAsString(c.value);
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), c.rows);
  }
  q->SetSQL("select name, fullname from User order by name");
  q->Open();
  const std::vector<std::vector<std::string>> users = {
      {"admin", "admin"}, {"o'brien", Utf8ToGbk("张三")}, {"password", Utf8ToGbk("张三")}};
  EXPECT_EQ(Rows(*q), users);
  q->Close();

  // Swapping two category numbers through the free number 999999, committed as one.
  q->SetSQL("insert into Items (id, name, type, parent) values (:id, :name, :type, -1)");
  for (const auto& [id, name] : {std::pair{1, "a"}, std::pair{2, "b"}}) {
    q->ParamByName("id").SetAsInteger(id);
    q->ParamByName("name").SetAsString(name);
    q->ParamByName("type").SetAsInteger(1);
    q->ExecSQL();
  }
  const auto run = [&](const char* sql, std::initializer_list<std::pair<const char*, int>> ps) {
    q->SetSQL(sql);
    for (const auto& [name, value] : ps)
      q->ParamByName(name).SetAsInteger(value);
    q->ExecSQL();
  };
  run("START TRANSACTION", {});
  run("update Items set id=999999 where id=:a", {{"a", 1}});
  run("update Items set id=:a where id=:b", {{"a", 1}, {"b", 2}});
  run("update Items set id=:b where id=999999", {{"b", 2}});
  run("COMMIT", {});
  q->SetSQL("select id, name from Items order by id");
  q->Open();
  EXPECT_EQ(Rows(*q), (std::vector<std::vector<std::string>>{{"1", "b"}, {"2", "a"}}));
  q->Close();
  // A swap that fails half-way (the first number is taken) is rolled back whole.
  run("START TRANSACTION", {});
  run("update Items set id=999999 where id=:a", {{"a", 1}});
  EXPECT_NE(MessageOf([&] {
              run("update Items set id=:a where id=:b", {{"a", 999999}, {"b", 2}});
            }),
            "");
  run("ROLLBACK", {});
  q->SetSQL("select id, name from Items order by id");
  q->Open();
  EXPECT_EQ(Rows(*q), (std::vector<std::vector<std::string>>{{"1", "b"}, {"2", "a"}}));
}

TEST_F(EngineQueryTest, EveryParameterNeedsAValue) {
  auto q = Query("select * from User where name=:name");
  EXPECT_EQ(MessageOf([&] { q->Open(); }), "No value for parameter 'name'");
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(MessageOf([&] { q->ParamByName("nobody"); }), "Parameter 'nobody' not found");
  q->ParamByName("NAME").SetNull();
  q->Open();
  EXPECT_TRUE(q->Eof());
}

TEST_F(EngineQueryTest, FindsNamedParametersOutsideQuotesBracketsAndComments) {
  struct TCase {
    std::string sql;
    std::vector<std::string> names;
  };
  const TCase cases[] = {
      {"select * from t where a=:a and b=:B or c=:A", {"a", "B"}},
      {"select * from t where t = '12:30' and d = \":x\"", {}},
      {"select * from t where a = 'it''s :no' and b=:yes", {"yes"}},
      {"select [odd:name] from t /* :comment */ where a=:p1_2", {"p1_2"}},
      {"select * from t where a = :" + Utf8ToGbk("名字"), {Utf8ToGbk("名字")}},
      {"select * from t where a = : b", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(ScanParameterNames(c.sql), c.names);
  }
}

TEST_F(EngineQueryTest, ChangingTheTextClosesTheQueryAndKeepsValuesOfNamesThatStay) {
  Ledger(kEntries)->Close();
  auto q = Query("select * from szzb where type=:t");
  q->ParamByName("t").SetAsString("1");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 2u);
  q->SetSQL("select * from szzb where type=:T and id>:low");
  EXPECT_FALSE(q->Active());
  EXPECT_FALSE(q->Prepared());
  EXPECT_TRUE(q->ParamByName("t").Bound());
  EXPECT_FALSE(q->ParamByName("low").Bound());
  q->ParamByName("low").SetAsInteger(1);
  q->Open();
  EXPECT_EQ(Rows(*q).size(), 1u);
  EXPECT_EQ(q->FieldByName("id").AsInteger(), 4);

  // Without ParamCheck the list is left alone.
  q->SetParamCheck(false);
  q->SetSQL("select * from szzb where id=:other");
  EXPECT_EQ(q->Params().Count(), 2);
}

TEST_F(EngineQueryTest, EmptyTextAndFaultyStatementsLeaveTheQueryUnprepared) {
  auto q = Query(" ");
  EXPECT_EQ(MessageOf([&] { q->Open(); }), "No SQL statement available");
  q->SetSQL("select nothing from szzb");
  EXPECT_NE(MessageOf([&] { q->Open(); }), "");
  EXPECT_FALSE(q->Active());
  EXPECT_FALSE(q->Prepared());
  q->SetSQL("select id from szzb");
  q->Prepare();
  EXPECT_TRUE(q->Prepared());
  q->Open();
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(MessageOf([&] { q->SetDatabaseName(Dir() + "/other"); }),
            "Cannot perform this operation on an open dataset");
}

TEST_F(EngineQueryTest, ExecSqlOpensOnARowResult) {
  Ledger(kEntries)->Close();
  auto q = Query("select id from szzb where type=\"2\"");
  q->ExecSQL();
  ASSERT_TRUE(q->Active());
  EXPECT_EQ(Rows(*q), (std::vector<std::vector<std::string>>{{"2"}, {"3"}}));
  EXPECT_EQ(q->RowsAffected(), 0);
  // Run again: the same statement, a fresh result.
  q->ExecSQL();
  EXPECT_EQ(q->RecordCount(), 2u);
}

TEST_F(EngineQueryTest, CannedResultsAreReadOnlyAndLiveOnesWriteToTheTable) {
  Ledger(kEntries)->Close();
  auto canned = Query("select id, item from szzb order by item");
  canned->Open();
  EXPECT_FALSE(canned->LiveResult());
  EXPECT_EQ(MessageOf([&] { canned->Edit(); }), "Cannot modify a read-only dataset");

  auto live = Query("select * from szzb");
  live->SetRequestLive(true);
  live->Open();
  ASSERT_TRUE(live->LiveResult());
  ASSERT_TRUE(live->Locate("id", TVariant(3)));
  live->Edit();
  live->FieldByName("output").SetAsString("90");
  live->Post();
  live->Close();
  auto check = Query("select output from szzb where id=3");
  check->Open();
  EXPECT_DOUBLE_EQ(check->FieldByName("output").AsFloat(), 90);

  live->SetReadOnly(true);
  live->Open();
  EXPECT_EQ(MessageOf([&] { live->Edit(); }), "Cannot modify a read-only dataset");
}

TEST_F(EngineQueryTest, ShowsOnlyTheVisibleColumnsOfAResult) {
  Ledger(kEntries)->Close();
  // AVG keeps a hidden count column in its result table.
  auto q = Query("select type, avg(output) as avgout from szzb group by type");
  q->Open();
  EXPECT_EQ(q->FieldCount(), 2);
  EXPECT_EQ(q->FindField("avgout") != nullptr, true);
}

TEST_F(EngineQueryTest, ClosingAQueryDeletesItsResultTable) {
  Ledger(kEntries)->Close();
  const std::filesystem::path priv = std::filesystem::path(Dir()) / "private";
  std::filesystem::create_directory(priv);
  DefaultSession().SetPrivateDir(priv.string());
  struct TRestore {
    ~TRestore() { DefaultSession().SetPrivateDir(""); }
  } restore;
  auto q = Query("select item, sum(output) as s from szzb group by item");
  q->Open();
  EXPECT_FALSE(std::filesystem::is_empty(priv));
  q->Close();
  EXPECT_TRUE(std::filesystem::is_empty(priv));
  q->Open();
  q.reset();
  EXPECT_TRUE(std::filesystem::is_empty(priv));
}

}  // namespace
}  // namespace mt
