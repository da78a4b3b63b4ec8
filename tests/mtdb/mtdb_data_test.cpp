// mtdb insert and dump as a separate program: every value type goes in as TSV and comes back
// the same, in the order of the chosen index; escapes, NULL cells and GBK text survive;
// insert stops at the first bad row keeping the rows before it; verify finds damaged index
// pages and repair rebuilds them from the records.
#include <gtest/gtest.h>

#include <algorithm>

#include "mtdbtest.h"

namespace mt {
namespace {

using namespace mtdbtest;

const std::string kCreate =
    " t --field id:INTEGER --field 'name:CHAR(20)' --field day:DATE --field at:TIME"
    " --field stamp:TIMESTAMP --field ok:BOOLEAN --field f:FLOAT --field m:MONEY"
    " --field 'd:DECIMAL(10,2)' --field 'raw:BYTES(3)' --field small:SMALLINT"
    " --field big:LARGEINT --field seq:AUTOINC --primary id --index byname:name:nocase"
    " --required id";

const std::string kHeader = "id\tname\tday\tat\tstamp\tok\tf\tm\td\traw\tsmall\tbig\tseq\n";

TEST(MtdbDataTest, RowsRoundTripInIndexOrder) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + kCreate).status, 0);
  const std::string rows =
      "3\t收入 工资\t2004-04-23\t09:15\t2004-04-23 09:15:44.5\tTrue\t0.1\t1234.5\t-12.50\t00ff7a\t"
      "-32768\t9223372036854775807\t7\n"
      "1\ttab\\there\\nand\\\\back\t0001-01-01\t23:59:59.999\t9999-12-31 00:00\tFalse\t"
      "1e+300\t-0.01\t0.00\t\t32767\t-1\t8\n"
      "2\t\t\t\t\t\t\t\t\t\t\t\t9\n";
  TRun r = Mtdb(s, "insert " + dir + " t", kHeader + rows);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3\n");
  const std::string row1 =
      "1\ttab\\there\\nand\\\\back\t0001-01-01\t23:59:59.999\t9999-12-31 00:00\tFalse\t"
      "1e+300\t-0.01\t0.00\t\t32767\t-1\t8\n";
  const std::string row2 = "2\t\t\t\t\t\t\t\t\t\t\t\t9\n";
  const std::string row3 =
      "3\t收入 工资\t2004-04-23\t09:15\t2004-04-23 09:15:44.5\tTrue\t0.1\t1234.5\t"
      "-12.50\t00ff7a\t-32768\t9223372036854775807\t7\n";
  r = Mtdb(s, "dump " + dir + " t");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kHeader + row1 + row2 + row3);
  // The secondary index: NULL first, then by name without regard to case ("tab..." before
  // the GBK text, whose lead byte is above every ASCII letter).
  r = Mtdb(s, "dump " + dir + " t --index byname");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kHeader + row2 + row1 + row3);
  // GBK in the file.
  const std::string data = Slurp(s / "t.DAT");
  EXPECT_NE(data.find("\xca\xd5\xc8\xeb"), std::string::npos);  // 收入
  EXPECT_EQ(Mtdb(s, "verify " + dir).status, 0);
}

TEST(MtdbDataTest, DumpShowsTheRowsAFilterKeeps) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + kCreate).status, 0);
  const std::string rows =
      "1	收入 工资	2004-04-23							"
      "			\n"
      "2	bus	2004-05-01								"
      "		\n"
      "3	BUS fare									"
      "		\n";
  ASSERT_EQ(Mtdb(s, "insert " + dir + " t", kHeader + rows).status, 0);
  struct TCase {
    std::string filter;
    std::string ids;  // first cells of the rows shown
  };
  const TCase cases[] = {
      {"day >= \"2004-4-24\"", "2"}, {"day is null", "3"}, {"name like 'bus%'", "23"},
      {"name = '收入*'", "1"},       {"id <> 2", "13"},
  };
  for (const TCase& c : cases) {
    const TRun r = Mtdb(s, "dump " + dir + " t --filter " + Quote(c.filter));
    ASSERT_EQ(r.status, 0) << c.filter << ": " << r.err;
    std::string ids;
    for (std::size_t at = r.out.find('\n'); at + 1 < r.out.size(); at = r.out.find('\n', at + 1))
      ids += r.out[at + 1];
    EXPECT_EQ(ids, c.ids) << c.filter;
  }
  const TRun bad = Mtdb(s, "dump " + dir + " t --filter " + Quote("nosuch = 1"));
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("Filter error for the table"), std::string::npos) << bad.err;
}

TEST(MtdbDataTest, InsertStopsAtTheFirstBadRow) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + kCreate).status, 0);
  struct TCase {
    std::string rows;
    std::string inserted;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {"10\n11\n10\n12\n", "2\n", "Engine Error # 9729"},
      {"20\nx\n21\n", "1\n", "'x' is no value for the column 'id'"},
      {"30\n\n", "1\n", "Engine Error # 9732"},
      {"40\t1\n", "0\n", "2 cells for 1 columns"},
  };
  for (const TCase& c : cases) {
    const TRun r = Mtdb(s, "insert " + dir + " t", "id\n" + c.rows);
    EXPECT_EQ(r.status, 1) << c.rows;
    EXPECT_EQ(r.out, c.inserted) << c.rows;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.rows << r.err;
  }
  // Refused rows use up no auto-increment value.
  const TRun r = Mtdb(s, "dump " + dir + " t");
  EXPECT_EQ(r.out, kHeader +
                       "10\t\t\t\t\t\t\t\t\t\t\t\t1\n11\t\t\t\t\t\t\t\t\t\t\t\t2\n"
                       "20\t\t\t\t\t\t\t\t\t\t\t\t3\n30\t\t\t\t\t\t\t\t\t\t\t\t4\n");
  EXPECT_EQ(Mtdb(s, "insert " + dir + " t", "nosuch\n1\n").status, 1);
  EXPECT_EQ(Mtdb(s, "dump " + dir + " t --index nosuch").status, 1);
  EXPECT_EQ(Mtdb(s, "verify " + dir).status, 0);
}

TEST(MtdbDataTest, CellsAreReadAsLiteralsOfTheColumnType) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + kCreate).status, 0);
  struct TCase {
    std::string column;
    std::string cell;
    std::string dumped;  // empty: the cell is refused
  };
  const TCase cases[] = {
      {"day", " 2004-4-5 ", "2004-04-05"},
      {"day", "CURRENT_DATE", ""},  // the CURRENT_ keywords belong to field definitions
      {"stamp", "2004-4-5", "2004-04-05 00:00"},
      {"stamp", "current_timestamp", ""},
      {"at", "1:15 PM", "13:15"},
      {"ok", "false", "False"},
      {"d", "1.235", "1.24"},  // rounded to the column's two places
      {"small", "32768", ""},
      {"big", "-9223372036854775808", "-9223372036854775808"},
      {"f", "1,5", ""},
  };
  int id = 0;
  for (const TCase& c : cases) {
    ++id;
    const std::string row = "id\t" + c.column + "\n" + std::to_string(id) + "\t" + c.cell + "\n";
    TRun r = Mtdb(s, "insert " + dir + " t", row);
    if (c.dumped.empty()) {
      EXPECT_EQ(r.status, 1) << c.cell;
      EXPECT_NE(r.err.find("is no value for the column '" + c.column + "'"), std::string::npos)
          << c.cell << r.err;
      continue;
    }
    ASSERT_EQ(r.status, 0) << c.cell << r.err;
    r = Mtdb(s, "dump " + dir + " t --filter " + Quote("id = " + std::to_string(id)));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t column = kHeader.find("\t" + c.column + "\t") + 1;
    const auto tabs = std::count(kHeader.begin(), kHeader.begin() + column, '\t');
    std::string line = r.out.substr(kHeader.size());
    for (auto i = tabs; i > 0; --i)
      line.erase(0, line.find('\t') + 1);
    EXPECT_EQ(line.substr(0, line.find('\t')), c.dumped) << c.cell;
  }
}

TEST(MtdbDataTest, RepairRebuildsDamagedIndexPages) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + kCreate).status, 0);
  std::string rows = "id\tname\n";
  for (int i = 0; i < 2000; ++i)
    rows += std::to_string(i * 3 % 2000) + "\tname " + std::to_string(i % 37) + "\n";
  ASSERT_EQ(Mtdb(s, "insert " + dir + " t", rows).status, 0);
  const std::string before = Mtdb(s, "dump " + dir + " t --index byname").out;
  // Scribble over a B-tree page.
  std::string idx = Slurp(s / "t.IDX");
  ASSERT_GT(idx.size(), 3 * 4096u);
  for (std::size_t i = 2 * 4096 + 100; i < 2 * 4096 + 400; ++i)
    idx[i] = static_cast<char>(i * 7);
  {
    std::ofstream f(s / "t.IDX", std::ios::binary | std::ios::trunc);
    f << idx;
  }
  TRun r = Mtdb(s, "verify " + dir + " t");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.out.empty());
  r = Mtdb(s, "repair " + dir + " t");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("2000 records"), std::string::npos) << r.out;
  r = Mtdb(s, "verify " + dir + " t");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Mtdb(s, "dump " + dir + " t --index byname").out, before);
}

TEST(MtdbDataTest, MemoAndBinaryValuesRoundTrip) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir +
                        " d --field day:DATE --field text:MEMO --field pic:GRAPHIC --primary day")
                .status,
            0);
  const std::string rows =
      "day\ttext\tpic\n"
      "2004-04-23\t今天\\t记账\\n第二行\t00ff10\n"
      "2004-04-24\t\t\n"
      "2004-04-25\t" +
      std::string(3000, 'x') + "\t\n";
  TRun r = Mtdb(s, "insert " + dir + " d", rows);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Mtdb(s, "dump " + dir + " d");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, rows);
  EXPECT_EQ(Mtdb(s, "verify " + dir).status, 0);
}

}  // namespace
}  // namespace mt
