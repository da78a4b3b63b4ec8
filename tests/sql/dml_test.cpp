// INSERT, UPDATE, DELETE and the transaction statements run against scratch tables: the
// preparation faults with their messages, the rows each statement changes and counts, the
// implicit transaction (its commit interval, its rollback on a failure), the caller's
// transaction, and scripts.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>

#include "engine/sql/changequery.h"
#include "engine/storage/tablecheck.h"
#include "sqltest.h"

namespace mt {
namespace {

using namespace sqltest;

class DmlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // t: a unique primary key on k, a secondary index on a.
    MakeTable(scratch_.Path(),
              {"t",
               {"k INTEGER", "a INTEGER", "b INTEGER", "s CHAR(10)", "d DATE", "m MEMO"},
               {Index("a", {2})},
               std::vector<uint16_t>{1}},
              {{"1", "10", "20", "one", "2004-01-01", "x"},
               {"2", "11", "21", "two", "2004-01-02", std::nullopt},
               {"3", "12", "22", "three", "2004-01-03", std::nullopt},
               {"4", "13", "23", "four", "2004-01-04", std::nullopt},
               {"5", "14", "24", "five", "2004-01-05", std::nullopt}});
    MakeTable(scratch_.Path(), {"n", {"id AUTOINC", "v INTEGER"}, {}, std::vector<uint16_t>{1}},
              {});
  }

  // Runs a text (every statement) and returns the rows affected.
  int64_t Run(const std::string& sql) {
    TQueryStatement statement(&database_);
    statement.Prepare(sql);
    statement.Execute();
    return statement.RowsAffected();
  }

  std::vector<TRow> Rows(const std::string& sql) { return Select(database_, sql).rows; }

  std::unique_ptr<TDataCursor> Cursor(const std::string& table = "t") {
    auto cursor = std::make_unique<TDataCursor>(database_);
    cursor->SetTableName(table);
    cursor->Open();
    return cursor;
  }

  std::string DatabaseName() { return TQueryStatement(&database_).DatabaseName(); }

  TScratch scratch_;
  TDataDirectory database_{scratch_.Path()};
};

TEST_F(DmlTest, PreparationFaults) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"insert into t (k, a) values (1)",
       "The number of values must match the number of table columns"},
      {"insert into t values (1, 2)",
       "The number of values must match the number of table columns"},
      {"insert into t (k) select k, a from t",
       "The number of values must match the number of table columns"},
      {"insert into t (k, d) values (9, '2004-13-01')",
       "Date, time, or timestamp expression expected, instead found '2004-13-01' in update values"},
      {"update t set d = '2004-02-30' where k = 1",
       "Date, time, or timestamp expression expected, instead found '2004-02-30' in update values"},
      {"insert into t (k, a) values (9, 'x')",
       "Type mismatch between column 'a' and constant 'x' in update values"},
      {"insert into t (nosuch) values (1)",
       "Invalid column name 'nosuch' or table correlation name '' specified in table columns"},
      {"update t set q.a = 1",
       "Invalid column name 'a' or table correlation name 'q' specified in table columns"},
      {"insert into t (k, a) values (9, a + 1)",
       "Invalid column name 'a' or table correlation name '' specified in insert values"},
      {"update t set a = nosuch + 1",
       "Invalid column name 'nosuch' or table correlation name '' specified in update values"},
      {"delete from t where nosuch = 1",
       "Invalid column name 'nosuch' or table correlation name '' specified in WHERE or JOIN "
       "clause"},
      {"commit", "Transaction not in progress for database '" + DatabaseName() + "'"},
      {"rollback", "Transaction not in progress for database '" + DatabaseName() + "'"},
      {"start transaction; start transaction",
       "Transaction already in progress for database '" + DatabaseName() + "'"},
  };
  for (const auto& [sql, message] : cases) {
    EXPECT_EQ(FaultOf(database_, sql), SqlFault(message)) << sql;
    if (database_.InTransaction()) database_.Rollback();
  }
  // Nothing changed.
  EXPECT_EQ(Rows("select count(*) from t").front().front(), "5");
}

TEST_F(DmlTest, InsertValuesAndSelect) {
  EXPECT_EQ(
      Run("insert into t (k, a, s, d, m) values (6, 1 + 2, 'six', '2004-06-06', 'memo text')"), 1);
  EXPECT_EQ(Run("insert into t values (7, NULL, 27, 'seven', NULL, NULL)"), 1);
  EXPECT_EQ(Rows("select k, a, b, s, d, m from t where k >= 6"),
            (std::vector<TRow>{{"6", "3", std::nullopt, "six", "2004-06-06", "memo text"},
                               {"7", std::nullopt, "27", "seven", std::nullopt, std::nullopt}}));
  // From a SELECT, with the memo carried over; columns matched by position.
  EXPECT_EQ(Run("insert into t (k, b, a, m) select k + 100, a, b, m from t where k <= 2"), 2);
  EXPECT_EQ(Rows("select k, a, b, m from t where k > 100"),
            (std::vector<TRow>{{"101", "20", "10", "x"}, {"102", "21", "11", std::nullopt}}));
  // A value the field refuses at run time.
  EXPECT_EQ(FaultOf(database_, "insert into t (k, a) values (8, 99999999999)"),
            SqlFault("Type mismatch between column a and constant value 99999999999 in INSERT "
                     "statement"));
  // A key already present: nothing appended.
  EXPECT_NE(FaultOf(database_, "insert into t (k) values (1)").find("9729"), std::string::npos);
  EXPECT_EQ(Rows("select count(*) from t").front().front(), "9");
}

// INSERT ... SELECT from another table takes the source's rows as the source builds them; the
// rows, their order and their values must still be the ones its result would hold.
TEST_F(DmlTest, InsertFromAnotherTable) {
  // w: k unique, a text where t has a number; no primary index, so its rows read back in the
  // order they were appended.
  MakeTable(scratch_.Path(),
            {"w",
             {"k INTEGER", "a CHAR(10)", "b INTEGER", "s CHAR(10)", "d DATE"},
             {Index("k", {1}, true)},
             std::nullopt},
            {});
  struct TCase {
    std::string sql;
    int64_t rows;
    std::string check;
    std::vector<TRow> expected;
  };
  const std::string all = "select k, a, b, s, d from w";
  const std::vector<TCase> cases = {
      // a converted to text; the other values copied as stored.
      {"insert into w select k, a, b, s, d from t where k >= 4 or b = 21",
       3,
       all,
       {{"2", "11", "21", "two", "2004-01-02"},
        {"4", "13", "23", "four", "2004-01-04"},
        {"5", "14", "24", "five", "2004-01-05"}}},
      // Sorted after the scan, TOP after the sort.
      {"insert into w select k, a, b, s, d from t order by b desc top 2",
       2,
       all,
       {{"5", "14", "24", "five", "2004-01-05"}, {"4", "13", "23", "four", "2004-01-04"}}},
      // In the order of t's index on a; the fields not named stay NULL.
      {"insert into w (k, a) select k, a from t where k > 2 order by a",
       3,
       "select k, a, b from w",
       {{"3", "12", std::nullopt}, {"4", "13", std::nullopt}, {"5", "14", std::nullopt}}},
      // LASTAUTOINC of the target is read before any row goes in.
      {"insert into n (v) values (7); insert into n (v) select lastautoinc('n') from t where k <= "
       "2",
       3,
       "select id, v from n",
       {{"1", "7"}, {"2", "1"}, {"3", "1"}}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Run(c.sql), c.rows) << c.sql;
    EXPECT_EQ(Rows(c.check), c.expected) << c.sql;
    Run("delete from w");
  }

  // A key already in w: the rows before the last intermediate commit stay, nothing after.
  Run("insert into w (k) values (3)");
  EXPECT_NE(FaultOf(database_, "insert into w (k) select k from t commit interval 2").find("9729"),
            std::string::npos);
  EXPECT_EQ(Rows("select k from w"), (std::vector<TRow>{{"3"}, {"1"}, {"2"}}));
  Run("delete from w");

  // The progress callback stops the statement; the rows done so far stay.
  TQueryStatement statement(&database_);
  statement.SetProgressSteps(100);
  statement.SetProgressCallback([](int percent) {
    return percent >= 40 && percent < 100 ? TProgressAnswer::Stop : TProgressAnswer::Continue;
  });
  statement.Prepare("insert into w (k) select k from t");
  statement.Execute();
  EXPECT_GT(statement.RowsAffected(), 0);
  EXPECT_LT(statement.RowsAffected(), 5);
  EXPECT_EQ(Rows("select count(*) from w").front().front(),
            std::to_string(statement.RowsAffected()));
}

TEST_F(DmlTest, AutoIncrementAndNoAutoInc) {
  EXPECT_EQ(Run("insert into n (v) values (1); insert into n (id, v) values (50, 2)"), 2);
  EXPECT_EQ(Run("insert into n (id, v) values (40, 3) noautoinc"), 1);
  EXPECT_EQ(Run("insert into n (id, v) select id + 100, v from n where v = 1 noautoinc"), 1);
  EXPECT_EQ(Rows("select id, v from n"),
            (std::vector<TRow>{{"1", "1"}, {"2", "2"}, {"40", "3"}, {"101", "1"}}));
  // A table without an auto-increment field has no value to keep: every row is appended.
  EXPECT_EQ(Run("insert into t (k, a) select k + 100, a from t noautoinc"), 5);
  EXPECT_EQ(Rows("select count(*) from t where k > 100").front().front(), "5");
}

TEST_F(DmlTest, UpdateAssignmentsSeeEarlierOnes) {
  EXPECT_EQ(Run("update t set a = b, b = a where k = 1"), 1);
  EXPECT_EQ(Rows("select a, b from t where k = 1"), (std::vector<TRow>{{"20", "20"}}));
  // A string literal that names a column is that column.
  EXPECT_EQ(Run("update t set a = 'b' + 1 where k = 2"), 1);
  EXPECT_EQ(Rows("select a from t where k = 2"), (std::vector<TRow>{{"22"}}));
  EXPECT_EQ(Run("update t set m = s, s = NULL where k = 3"), 1);
  EXPECT_EQ(Rows("select s, m from t where k = 3"), (std::vector<TRow>{{std::nullopt, "three"}}));
  EXPECT_EQ(Run("update t set m = 'y' where k = 1"), 1);
  EXPECT_EQ(Rows("select m from t where k = 1"), (std::vector<TRow>{{"y"}}));
}

// A memo value a change replaces or clears gives its blocks back: none is left belonging to no
// value, whichever way the statement reaches the field.
TEST_F(DmlTest, ChangedMemoValuesFreeTheirBlocks) {
  const char* const statements[] = {
      "update t set m = s",     // values written where there were none
      "update t set m = NULL",  // every value cleared
      "update t set m = 'z'",   // written again
      "update t set m = m",     // replaced by the value read from the record itself
      "update t set m = '' where k < 3",
      "delete from t where k = 5",
  };
  for (const char* sql : statements) {
    SCOPED_TRACE(sql);
    Run(sql);
    auto cursor = Cursor();
    EXPECT_EQ(CheckBlobValues(cursor->Table()), std::vector<std::string>{});
  }
}

// Rows chosen through an index and moved within it by the change are changed once each; the
// row after a deleted one is not skipped.
TEST_F(DmlTest, EveryChosenRowChangedOnce) {
  EXPECT_EQ(Run("update t set a = a + 1 where a >= 10"), 5);
  EXPECT_EQ(Rows("select a from t"), (std::vector<TRow>{{"11"}, {"12"}, {"13"}, {"14"}, {"15"}}));
  EXPECT_EQ(Run("delete from t where k = 2 or k = 3 or k = 5"), 3);
  EXPECT_EQ(Rows("select k from t"), (std::vector<TRow>{{"1"}, {"4"}}));
  EXPECT_EQ(Run("delete from t where b > 0"), 2);
  EXPECT_EQ(Rows("select count(*) from t").front().front(), "0");
}

TEST_F(DmlTest, JoinedRowsChangeTheFirstTableOnce) {
  MakeTable(scratch_.Path(), {"j", {"k INTEGER", "w INTEGER"}, {}, std::nullopt},
            {{"1", "5"}, {"1", "6"}, {"3", "7"}});
  EXPECT_EQ(Run("update t set b = b + 1 from t, j where t.k = j.k"), 2);
  EXPECT_EQ(Rows("select k, b from t where k <= 3"),
            (std::vector<TRow>{{"1", "21"}, {"2", "21"}, {"3", "23"}}));
  EXPECT_EQ(Run("delete from t inner join j on t.k = j.k where j.w > 5"), 2);
  EXPECT_EQ(Rows("select k from t"), (std::vector<TRow>{{"2"}, {"4"}, {"5"}}));
}

TEST_F(DmlTest, NoRowIsNoFault) {
  EXPECT_EQ(Run("delete from t where k = 12345"), 0);
  EXPECT_EQ(Run("update t set a = 1 where s = 'none'"), 0);
  EXPECT_EQ(Run("insert into t select * from t where k > 100"), 0);
}

// The key collision of the category swap: the duplicate-key error, and both rows as before.
TEST_F(DmlTest, UpdateCollidingWithUniqueKeyLeavesBothRows) {
  EXPECT_EQ(Run("update t set k = 999999 where k = 5"), 1);
  const std::string fault = FaultOf(database_, "update t set k = 999999 where k = 3");
  EXPECT_NE(fault.find("Engine Error # 9729"), std::string::npos) << fault;
  EXPECT_EQ(Rows("select k, s from t where k = 3 or k = 999999"),
            (std::vector<TRow>{{"3", "three"}, {"999999", "five"}}));
  // A collision after some rows changed: the statement's transaction undoes them all.
  EXPECT_NE(FaultOf(database_, "update t set k = k + 1 where k < 5").find("9729"),
            std::string::npos);
  EXPECT_EQ(Rows("select k from t"), (std::vector<TRow>{{"1"}, {"2"}, {"3"}, {"4"}, {"999999"}}));
  EXPECT_FALSE(database_.InTransaction());
  EXPECT_TRUE(CheckIndexes(Cursor()->Table()).empty());
}

TEST_F(DmlTest, CallersTransaction) {
  // Deleting inside the caller's transaction commits nothing; ROLLBACK brings every row back
  // and the rows-affected total back to what it was at START TRANSACTION.
  TQueryStatement statement(&database_);
  statement.Prepare("update t set a = 0 where k = 1; start transaction; delete from t; rollback");
  statement.Execute();
  EXPECT_EQ(statement.RowsAffected(), 1);
  EXPECT_FALSE(database_.InTransaction());
  EXPECT_EQ(Rows("select k, a from t"),
            (std::vector<TRow>{{"1", "0"}, {"2", "11"}, {"3", "12"}, {"4", "13"}, {"5", "14"}}));
  EXPECT_EQ(Run("start transaction; delete from t where k > 3; insert into t (k) values (9); "
                "commit"),
            3);
  EXPECT_EQ(Rows("select k from t"), (std::vector<TRow>{{"1"}, {"2"}, {"3"}, {"9"}}));
  // A transaction left open by one text is the database's, ended by a later one.
  Run("start transaction; delete from t");
  EXPECT_TRUE(database_.InTransaction());
  EXPECT_EQ(Run("rollback"), 0);
  EXPECT_EQ(Rows("select count(*) from t").front().front(), "4");
}

TEST_F(DmlTest, CommitInterval) {
  std::vector<int64_t> commits;
  auto run = [&](const std::string& sql) {
    commits.clear();
    TQueryStatement statement(&database_);
    statement.SetCommitCallback([&](int64_t rows) { commits.push_back(rows); });
    statement.Prepare(sql);
    statement.Execute();
    return statement.RowsAffected();
  };
  EXPECT_EQ(run("update t set a = a + 1 commit interval 2"), 5);
  EXPECT_EQ(commits, (std::vector<int64_t>{2, 4}));
  EXPECT_EQ(run("update t set a = a + 1 commit interval 2 flush"), 5);
  EXPECT_EQ(commits, (std::vector<int64_t>{2, 4}));
  // Inside the caller's transaction only a given interval commits (the caller's transaction).
  EXPECT_EQ(run("start transaction; delete from t where k > 3; rollback"), 0);
  EXPECT_TRUE(commits.empty());
  EXPECT_EQ(run("start transaction; delete from t where k > 2 commit interval 2; rollback"), 0);
  EXPECT_EQ(commits, (std::vector<int64_t>{2}));
  EXPECT_EQ(Rows("select k from t"), (std::vector<TRow>{{"1"}, {"2"}, {"5"}}));

  // The default interval: twice the record cache's bytes over the record size, at most the
  // cache's records.
  TQueryStatement statement(&database_);
  statement.Prepare("delete from t");
  const int64_t recordSize = Cursor()->RecordSize();
  EXPECT_EQ(statement.Master()->change->CommitInterval(),
            std::min<int64_t>(2 * 16384 / recordSize, 8192));
  TSessionSettings small;
  small.recordCacheBytes = 1;
  statement.SetSessionSettings(small);
  EXPECT_EQ(statement.Master()->change->CommitInterval(), 1);
}

// Another process holds the lock of record 3 (k = 3). The statement locks its rows ahead, so
// the lock of a row it passes by must not stop it; the row itself must.
TEST_F(DmlTest, AnotherProcesssRecordLockStopsOnlyItsRow) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    close(release[1]);
    try {
      TDataTable table(scratch_.Path(), "t");
      table.Open();
      const int owner = 0;
      table.Locks().LockRecord(3, &owner);
      char c = 'l';
      if (write(ready[1], &c, 1) != 1) _exit(2);
      while (read(release[0], &c, 1) > 0) {
      }
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  TSessionSettings noWait;
  noWait.lockRetryCount = 0;
  const auto run = [&](const std::string& sql) {
    TQueryStatement statement(&database_);
    statement.SetSessionSettings(noWait);
    statement.Prepare(sql);
    statement.Execute();
    return statement.RowsAffected();
  };
  EXPECT_EQ(run("update t set b = b + 1 where k <> 3"), 4);
  EXPECT_EQ(run("delete from t where k >= 4"), 2);
  try {
    run("update t set b = 0");
    ADD_FAILURE() << "the locked row was changed";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kRecordInUse);
  }
  close(release[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The failed statement changed nothing; the lock went with the other process.
  EXPECT_EQ(Rows("select k, b from t"), (std::vector<TRow>{{"1", "21"}, {"2", "22"}, {"3", "22"}}));
  EXPECT_EQ(run("update t set b = 0"), 3);
}

TEST_F(DmlTest, ProgressMayStopAStatement) {
  TQueryStatement statement(&database_);
  statement.SetProgressSteps(100);
  int calls = 0;
  statement.SetProgressCallback([&](int percent) {
    ++calls;
    return percent >= 40 && percent < 100 ? TProgressAnswer::Stop : TProgressAnswer::Continue;
  });
  statement.Prepare("delete from t");
  statement.Execute();
  EXPECT_GT(calls, 0);
  EXPECT_EQ(statement.RowsAffected(), 1);
  EXPECT_EQ(Rows("select count(*) from t").front().front(), "4");
}

TEST_F(DmlTest, ParametersAndRepeatedRuns) {
  TQueryStatement statement(&database_);
  statement.Prepare("update t set b = ? where k = ?");
  for (int k = 1; k <= 2; ++k) {
    TExpTokenPtr value = NewExpToken();
    value->SetInteger(k * 100);
    statement.SetParameter(0, *value);
    TExpTokenPtr key = NewExpToken();
    key->SetInteger(k);
    statement.SetParameter(1, *key);
    statement.Execute();
    EXPECT_EQ(statement.RowsAffected(), 1);
  }
  EXPECT_EQ(Rows("select b from t where k <= 2"), (std::vector<TRow>{{"100"}, {"200"}}));
}

}  // namespace
}  // namespace mt
