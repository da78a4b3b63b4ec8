// CREATE TABLE, CREATE INDEX, ALTER TABLE, DROP TABLE and DROP INDEX run against scratch
// directories: the tables they leave (definition, rows, indexes, consistency), their faults,
// and their refusal while another process has the table open.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine/storage/tablecheck.h"
#include "engine/storage/textindex.h"
#include "sqltest.h"

namespace mt {
namespace {

using namespace sqltest;

void Exec(TDataDirectory& database, const std::string& sql) {
  TQueryStatement statement(&database);
  statement.Prepare(sql);
  EXPECT_EQ(statement.Execute(), nullptr) << sql;
}

// The consistency faults of a table (records, indexes, blob values), as `mtdb verify` finds them.
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

// The files of the directory but change journals, sorted.
std::vector<std::string> Files(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(directory)) {
    if (e.path().extension() != ".JNL") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The open table's definition, for looking at what a statement made.
struct TDefinition {
  std::vector<TFieldDescriptor> fields;
  TIndexFileHeader indexes;
  TDataFileHeader header;
  TTextParameters text;
};

TDefinition DefinitionOf(TDataDirectory& database, const std::string& table,
                         const std::string& password = {}) {
  TDataCursor cursor(database);
  cursor.SetTableName(table);
  if (!password.empty()) cursor.SetPasswords({.known = {password}});
  cursor.Open();
  TDefinition d{cursor.Format().Fields(), cursor.Table().Index().Header(),
                cursor.Table().Data().Header(), cursor.Table().Index().Text().Parameters()};
  cursor.Close();
  return d;
}

class DdlTest : public ::testing::Test {
 protected:
  TScratch dir_;
  TDataDirectory db_{dir_.Path()};
};

TEST_F(DdlTest, CreateTableWithColumnAndTableOptions) {
  Exec(db_,
       "CREATE TABLE items (id AUTOINC, code CHAR(8) NOT NULL CHARCASE UPPER DESCRIPTION 'the "
       "code', qty INTEGER DEFAULT 5 MIN 0 MAX 100, price DECIMAL(10, 2), note MEMO, "
       "PRIMARY KEY (code DESC) COMPRESS FULL) DESCRIPTION 'Stock' BLOB BLOCK SIZE 1024 "
       "USER MAJOR VERSION 3 USER MINOR VERSION 4 LAST AUTOINC 41 TEXT INDEX (note) "
       "STOP WORDS 'the a' ENCRYPTED WITH 'secret'");
  const TDefinition d = DefinitionOf(db_, "items", "secret");
  ASSERT_EQ(d.fields.size(), 5u);
  EXPECT_EQ(d.fields[0].subtype, fsubtype::kAutoInc);
  EXPECT_TRUE(d.fields[1].required);
  EXPECT_EQ(d.fields[1].caseMode, kCaseUpper);
  EXPECT_EQ(d.fields[1].description, "the code");
  EXPECT_EQ(d.fields[2].defaultText, "5");
  EXPECT_EQ(d.fields[2].maxText, "100");
  EXPECT_EQ(d.fields[3].type, ftype::kBcd);
  EXPECT_EQ(d.fields[3].scale, 2);
  EXPECT_FALSE(d.indexes.noPrimary);
  EXPECT_EQ(d.indexes.slots[kPrimarySlot].fields, std::vector<uint16_t>{2});
  EXPECT_TRUE(d.indexes.slots[kPrimarySlot].fieldDescending[0]);
  EXPECT_EQ(d.indexes.slots[kPrimarySlot].compression, 3);
  EXPECT_EQ(d.indexes.slots[kTextSlot].fields, std::vector<uint16_t>{5});
  EXPECT_EQ(d.header.description, "Stock");
  EXPECT_EQ(d.header.blobBlockSize, 1024);
  EXPECT_EQ(d.header.userMajor, 3);
  EXPECT_EQ(d.header.userMinor, 4);
  EXPECT_EQ(d.header.lastAutoInc, 41);
  EXPECT_EQ(d.header.encrypted, 1);
  EXPECT_EQ(d.text.stopWords, (std::vector<std::string>{"THE", "A"}));

  TQueryStatement insert(&db_);
  insert.SetPasswords({.known = {"secret"}});
  insert.Prepare("INSERT INTO items (code, note) VALUES ('ab', 'the red box')");
  insert.Execute();
  TQueryStatement select(&db_);
  select.SetPasswords({.known = {"secret"}});
  select.Prepare("SELECT id, code, qty FROM items WHERE TEXTSEARCH('red' IN note)");
  TDataCursor* rows = select.Execute();
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(ReadResult(*rows, 3).rows, (std::vector<TRow>{{"42", "AB", "5"}}));
}

TEST_F(DdlTest, ExistenceClausesAndTheirFaults) {
  Exec(db_, "CREATE TABLE t (a INTEGER, b CHAR(10))");
  Exec(db_, "INSERT INTO t (a, b) VALUES (1, 'x')");
  struct TCase {
    std::string sql;
    std::string fault;  // "" when the statement runs
  };
  const std::string table = dir_.Path() + "t";
  const std::vector<TCase> cases = {
      {"CREATE TABLE IF NOT EXISTS t (z INTEGER)", ""},
      {"CREATE TABLE t (z INTEGER)", "The table '" + table + "' already exists"},
      {"CREATE INDEX byb ON t (b)", ""},
      {"CREATE INDEX IF NOT EXISTS byb ON t (a)", ""},
      {"CREATE INDEX byz ON t (z)", SqlFault("Invalid field name 'z' specified for index 'byz'")},
      {"DROP INDEX IF EXISTS t.nothere", ""},
      {"DROP INDEX t.nothere", "Invalid secondary index name 'nothere'"},
      {"DROP INDEX IF EXISTS t.PRIMARY", ""},
      {"DROP TABLE IF EXISTS missing", ""},
      {"DROP TABLE missing", "missing"},
      {"ALTER TABLE t ADD c INTEGER AT 0",
       SqlFault("AT column position must be greater than or equal to 1")},
      {"ALTER TABLE t DROP nothere", SqlFault("Column nothere not found")},
      {"ALTER TABLE t DROP b",
       SqlFault("Column b cannot be dropped: it is used by the index 'byb'")},
  };
  for (const TCase& c : cases) {
    const std::string fault = FaultOf(db_, c.sql);
    if (c.fault.empty()) {
      EXPECT_EQ(fault, "") << c.sql;
    } else {
      EXPECT_NE(fault.find(c.fault), std::string::npos) << c.sql << ": " << fault;
    }
  }
  // Nothing of the refused statements changed the table.
  EXPECT_EQ(Select(db_, "SELECT * FROM t").rows, (std::vector<TRow>{{"1", "x"}}));
  EXPECT_EQ(DefinitionOf(db_, "t").indexes.secondaryCount, 1);
  EXPECT_TRUE(Faults(dir_.Path(), "t").empty());
}

TEST_F(DdlTest, IndexesAreMadeFromTheRecordsAndDropped) {
  MakeTable(dir_.Path(), {"t", {"a INTEGER", "b CHAR(10)"}, {}, std::vector<uint16_t>{1}},
            {{"1", "pear"}, {"2", "apple"}, {"3", "fig"}, {"4", "apple"}});
  Exec(db_, "CREATE NOCASE INDEX byb ON t (b DESC)");
  TDataCursor cursor(db_);
  cursor.SetTableName("t");
  cursor.Open();
  cursor.ChooseIndex("BYB");
  EXPECT_EQ(cursor.RecordCount(), 4u);
  cursor.Close();
  EXPECT_TRUE(Faults(dir_.Path(), "t").empty());
  EXPECT_NE(FaultOf(db_, "CREATE UNIQUE INDEX ub ON t (b)").find("9729"), std::string::npos);

  Exec(db_, "DROP INDEX t.primary");
  Exec(db_, "DROP INDEX t.byb");
  const TDefinition d = DefinitionOf(db_, "t");
  EXPECT_TRUE(d.indexes.noPrimary);
  EXPECT_EQ(d.indexes.secondaryCount, 0);
  EXPECT_EQ(Select(db_, "SELECT a FROM t ORDER BY a").rows,
            (std::vector<TRow>{{"1"}, {"2"}, {"3"}, {"4"}}));
  EXPECT_TRUE(Faults(dir_.Path(), "t").empty());
  // Dropping an index keeps no backup files.
  EXPECT_EQ(Files(dir_.Path()), (std::vector<std::string>{"t.DAT", "t.IDX"}));
}

TEST_F(DdlTest, AlterTableMovesConvertsAndKeepsEveryRow) {
  MakeTable(dir_.Path(),
            {"t",
             {"id AUTOINC", "amount CHAR(10)", "day DATE", "note MEMO", "gone INTEGER"},
             {Index("byday", {3})},
             std::vector<uint16_t>{1}},
            {{std::nullopt, "12", "2024-01-05", "first", "1"},
             {std::nullopt, "7.5", "2024-01-03", "second", "2"},
             {std::nullopt, std::nullopt, "2024-01-04", std::nullopt, "3"}});
  Exec(db_,
       "ALTER TABLE t ADD flag BOOLEAN DEFAULT TRUE AT 2, REDEFINE amount amount FLOAT, "
       "REDEFINE note remark MEMO, DROP gone, ADD extra CHAR(4)");
  EXPECT_EQ(
      Select(db_, "SELECT * FROM t").rows,
      (std::vector<TRow>{{"1", "True", "12", "2024-01-05", "first", std::nullopt},
                         {"2", "True", "7.5", "2024-01-03", "second", std::nullopt},
                         {"3", "True", std::nullopt, "2024-01-04", std::nullopt, std::nullopt}}));
  const TDefinition d = DefinitionOf(db_, "t");
  EXPECT_EQ(d.fields[2].type, ftype::kFloat);
  EXPECT_EQ(d.indexes.slots[1].fields, std::vector<uint16_t>{4});  // byday follows its column
  EXPECT_EQ(d.header.lastAutoInc, 3);
  EXPECT_TRUE(Faults(dir_.Path(), "t").empty());
  // The old files stay as backup files; NOBACKUP keeps none.
  EXPECT_EQ(Files(dir_.Path()),
            (std::vector<std::string>{"t.BBK", "t.BLB", "t.DAT", "t.DBK", "t.IBK", "t.IDX"}));
  Exec(db_, "ALTER TABLE t DROP extra NOBACKUP");
  EXPECT_EQ(Files(dir_.Path()), (std::vector<std::string>{"t.BLB", "t.DAT", "t.IDX"}));
  Exec(db_, "INSERT INTO t (amount) VALUES (1)");
  EXPECT_EQ(Select(db_, "SELECT MAX(id) FROM t").rows, (std::vector<TRow>{{"4"}}));
}

TEST_F(DdlTest, AlterTablePrimaryKeyClauses) {
  MakeTable(dir_.Path(), {"t", {"a INTEGER", "b INTEGER"}, {}, std::vector<uint16_t>{1}},
            {{"2", "1"}, {"1", "2"}});
  EXPECT_EQ(FaultOf(db_, "ALTER TABLE t ADD PRIMARY KEY (b)"),
            SqlFault("Cannot REDEFINE the primary key using the ADD keyword"));
  Exec(db_, "ALTER TABLE t REDEFINE PRIMARY KEY (b)");
  EXPECT_EQ(Select(db_, "SELECT a FROM t").rows, (std::vector<TRow>{{"2"}, {"1"}}));
  Exec(db_, "ALTER TABLE t DROP PRIMARY KEY");
  EXPECT_TRUE(DefinitionOf(db_, "t").indexes.noPrimary);
  Exec(db_, "ALTER TABLE t ADD PRIMARY KEY (a)");
  EXPECT_EQ(Select(db_, "SELECT a FROM t").rows, (std::vector<TRow>{{"1"}, {"2"}}));
  EXPECT_NE(FaultOf(db_, "INSERT INTO t (a, b) VALUES (1, 9)").find("9729"), std::string::npos);
}

// A value that does not convert, or a NULL under a column made NOT NULL, stops the statement:
// the table stays as it was and no work file is left.
TEST_F(DdlTest, AFailedRestructureLeavesTheOldTable) {
  MakeTable(dir_.Path(), {"t", {"a INTEGER", "b CHAR(10)", "n MEMO"}, {Index("byb", {2})}},
            {{"1", "12", "m1"}, {"2", "twelve", "m2"}, {"3", std::nullopt, "m3"}});
  const std::vector<std::string> files = Files(dir_.Path());
  const std::vector<TRow> rows = Select(db_, "SELECT * FROM t").rows;
  for (const std::string sql :
       {"ALTER TABLE t REDEFINE b b INTEGER", "ALTER TABLE t REDEFINE b b CHAR(10) NOT NULL",
        "ALTER TABLE t ADD UNIQUE_B CHAR(10), REDEFINE a a SMALLINT, "
        "REDEFINE PRIMARY KEY (UNIQUE_B)"}) {
    EXPECT_NE(FaultOf(db_, sql), "") << sql;
    EXPECT_EQ(Files(dir_.Path()), files) << sql;
    EXPECT_EQ(Select(db_, "SELECT * FROM t").rows, rows) << sql;
    EXPECT_TRUE(Faults(dir_.Path(), "t").empty()) << sql;
  }
}

TEST_F(DdlTest, InMemoryTables) {
  TQueryStatement s(&db_);
  s.Prepare(
      "CREATE TABLE MEMORY m (a INTEGER, b CHAR(5)); INSERT INTO MEMORY m (a, b) VALUES (1, "
      "'x'); ALTER TABLE MEMORY m REDEFINE a a CHAR(3); SELECT * FROM MEMORY m");
  TDataCursor* rows = s.Execute();
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(ReadResult(*rows, 2).rows, (std::vector<TRow>{{"1", "x"}}));
  EXPECT_TRUE(Files(dir_.Path()).empty());
}

// Every statement needs the table for itself: refused while a cursor of this process or of
// another one has it open, and the table is unchanged.
TEST_F(DdlTest, RefusedWhileAnotherProcessHasTheTableOpen) {
  MakeTable(dir_.Path(), {"t", {"a INTEGER", "b CHAR(10)"}, {Index("byb", {2})}}, {{"1", "x"}});
  const std::vector<std::string> statements = {"ALTER TABLE t ADD c INTEGER",
                                               "CREATE INDEX bya ON t (a)", "DROP INDEX t.byb",
                                               "DROP TABLE t"};
  const std::string inUse = "11013";
  {
    TDataCursor mine(db_);
    mine.SetTableName("t");
    mine.Open();
    for (const std::string& sql : statements)
      EXPECT_NE(FaultOf(db_, sql).find(inUse), std::string::npos) << sql;
  }
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    TDataDirectory database(dir_.Path());
    TDataCursor cursor(database);
    cursor.SetTableName("t");
    cursor.Open();
    if (write(ready[1], "o", 1) != 1) _exit(3);
    for (;;)
      pause();
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  for (const std::string& sql : statements)
    EXPECT_NE(FaultOf(db_, sql).find(inUse), std::string::npos) << sql;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(Files(dir_.Path()), (std::vector<std::string>{"t.DAT", "t.IDX"}));
  for (const std::string& sql : statements)
    EXPECT_EQ(FaultOf(db_, sql), "") << sql;
}

}  // namespace
}  // namespace mt
