// ALTER TABLE at scale and cut off: a large table with a memo field restructured whole, a
// process killed (SIGKILL) in the middle of the copy, and a swap of the files stopped after
// each of its renames. Each time the table opens afterwards whole and consistent: the old one
// when the swap had not begun, the new one once it had.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/storage/tablecheck.h"
#include "engine/storage/tablerebuild.h"
#include "sqltest.h"

namespace mt {
namespace {

using namespace sqltest;

std::vector<std::string> Faults(const std::string& directory, const std::string& table) {
  TDataTable t(directory, table);
  t.Open();
  std::vector<std::string> faults = CheckDataRecords(t);
  for (std::string& f : CheckIndexes(t))
    faults.push_back(std::move(f));
  for (std::string& f : CheckBlobValues(t))
    faults.push_back(std::move(f));
  t.Close();
  return faults;
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<TRow> LedgerRows(int count) {
  std::vector<TRow> rows;
  for (int i = 1; i <= count; ++i) {
    rows.push_back(
        {std::to_string(i), std::to_string(i % 977) + "." + std::to_string(i % 10),
         "2024-0" + std::to_string(i % 9 + 1) + "-1" + std::to_string(i % 9),
         "memo " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 300), 'x')});
  }
  return rows;
}

void MakeLedger(const std::string& directory, int count) {
  MakeTable(directory,
            {"ledger",
             {"id INTEGER", "amount CHAR(12)", "day DATE", "note MEMO"},
             {Index("byday", {3}), Index("byamount", {2})},
             std::vector<uint16_t>{1}},
            LedgerRows(count));
}

constexpr std::string_view kAlter =
    "ALTER TABLE ledger REDEFINE amount amount FLOAT, ADD flag BOOLEAN DEFAULT TRUE AT 2, "
    "REDEFINE note remark MEMO";

TEST(DdlScaleTest, AlterOfAHundredThousandRowsWithAMemoKeepsEveryRowAndIndex) {
  constexpr int kRows = 100000;
  TScratch dir;
  MakeLedger(dir.Path(), kRows);
  TDataDirectory db(dir.Path());
  TQueryStatement alter(&db);
  alter.Prepare(std::string(kAlter));
  alter.Execute();

  EXPECT_TRUE(Faults(dir.Path(), "ledger").empty());
  TDataCursor cursor(db);
  cursor.SetTableName("ledger");
  cursor.Open();
  for (const char* index : {"", "byday", "byamount"}) {
    cursor.ChooseIndex(index);
    EXPECT_EQ(cursor.RecordCount(), static_cast<uint32_t>(kRows)) << index;
  }
  cursor.Close();
  const TResult r =
      Select(db, "SELECT id, flag, amount, day, remark FROM ledger WHERE id IN (1, 777, 100000)");
  const std::vector<TRow> expected = {
      {"1", "True", "1.1", "2024-02-11", "memo 1x"},
      {"777", "True", "777.7", "2024-04-13", "memo 777" + std::string(177, 'x')},
      {"100000", "True", "346", "2024-02-11", "memo 100000" + std::string(100, 'x')},
  };
  EXPECT_EQ(r.rows, expected);
  EXPECT_EQ(r.types[2], ftype::kFloat);
  EXPECT_EQ(Select(db, "SELECT COUNT(*) FROM ledger WHERE flag AND remark LIKE 'memo %'").rows,
            (std::vector<TRow>{{std::to_string(kRows)}}));
}

// The child runs the ALTER and, a third of the way through the copy, reports and waits to be
// killed.
TEST(DdlCrashTest, AProcessKilledDuringTheCopyLeavesTheOldTable) {
  TScratch dir;
  MakeLedger(dir.Path(), 20000);
  TDataDirectory db(dir.Path());
  const std::vector<TRow> before = Select(db, "SELECT * FROM ledger").rows;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    try {
      TDataDirectory database(dir.Path());
      TQueryStatement statement(&database);
      statement.SetProgressSteps(100);
      statement.SetProgressCallback([&](int percent) {
        if (percent >= 30) {
          if (write(fds[1], "p", 1) != 1) _exit(3);
          for (;;)
            pause();
        }
        return TProgressAnswer::Continue;
      });
      statement.Prepare(std::string(kAlter));
      statement.Execute();
    } catch (const std::exception&) {
    }
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_TRUE(Exists(dir.Path() + "ledger.TMP"));
  EXPECT_TRUE(Exists(dir.Path() + "ledger.NEW.DAT"));

  EXPECT_EQ(Select(db, "SELECT * FROM ledger").rows, before);
  EXPECT_TRUE(Faults(dir.Path(), "ledger").empty());
  for (const char* left : {"ledger.TMP", "ledger.NEW.DAT", "ledger.NEW.IDX", "ledger.NEW.BLB"})
    EXPECT_FALSE(Exists(dir.Path() + left)) << left;
  // The statement runs again in full.
  TQueryStatement alter(&db);
  alter.Prepare(std::string(kAlter));
  alter.Execute();
  EXPECT_EQ(Select(db, "SELECT COUNT(*) FROM ledger WHERE flag").rows,
            (std::vector<TRow>{{"20000"}}));
}

// The state a process killed after `done` renames of the swap leaves: the old table "t" (a,
// note), the complete new one under the work name (a, b, note) and the marker.
TEST(DdlCrashTest, ASwapCutOffAfterAnyRenameIsFinishedAtTheNextOpen) {
  const auto steps = SwapSteps("", "t");
  for (std::size_t done = 0; done <= steps.size(); ++done) {
    SCOPED_TRACE("renames done: " + std::to_string(done));
    TScratch dir;
    MakeTable(dir.Path(), {"t", {"a INTEGER", "note MEMO"}}, {{"1", "old one"}, {"2", "old two"}});
    MakeTable(dir.Path(), {"t.NEW", {"a INTEGER", "b CHAR(3)", "note MEMO"}, {Index("bya", {1})}},
              {{"1", "new", "new one"}, {"2", "new", "new two"}});
    std::filesystem::remove(dir.Path() + "t.JNL");
    std::filesystem::remove(dir.Path() + "t.NEW.JNL");
    std::ofstream(dir.Path() + "t.TMP") << 'K';
    for (std::size_t i = 0; i < done; ++i) {
      const std::string from = dir.Path() + steps[i].first;
      if (Exists(from)) std::filesystem::rename(from, dir.Path() + steps[i].second);
    }
    TDataDirectory db(dir.Path());
    const TResult r = Select(db, "SELECT * FROM t");
    if (done == 0) {
      EXPECT_EQ(r.rows, (std::vector<TRow>{{"1", "old one"}, {"2", "old two"}}));
      EXPECT_FALSE(Exists(dir.Path() + "t.DBK"));
    } else {
      EXPECT_EQ(r.rows, (std::vector<TRow>{{"1", "new", "new one"}, {"2", "new", "new two"}}));
      for (const char* backup : {"t.DBK", "t.IBK", "t.BBK"})
        EXPECT_TRUE(Exists(dir.Path() + backup)) << backup;
    }
    EXPECT_TRUE(Faults(dir.Path(), "t").empty());
    for (const char* left : {"t.TMP", "t.NEW.DAT", "t.NEW.IDX", "t.NEW.BLB"})
      EXPECT_FALSE(Exists(dir.Path() + left)) << left;
  }
}

}  // namespace
}  // namespace mt
