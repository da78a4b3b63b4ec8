// mtdb create and info as a separate program: definitions from the command line reach the
// files (names in GBK), info describes them as text and JSON, and faults give the engine's
// message with status 1 or the usage with status 2.
#include <gtest/gtest.h>

#include "engine/common/gbk.h"
#include "mtdbtest.h"

namespace mt {
namespace {

using namespace mtdbtest;

TEST(MtdbTableTest, CreateThenInfoShowsTheDefinition) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  TRun r = Mtdb(s, "create " + dir +
                       " 账目 --field id:INTEGER --field 日期:DATE --field 'note:CHAR(20)'"
                       " --field amount:MONEY --field 'rate:DECIMAL(10,2)' --field memo:MEMO"
                       " --required id --primary id --index 'by_date:日期,note:nocase'"
                       " --index note:note:unique:desc --locale 'English (USA)'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  // The table's name and its field names are GBK on disk.
  EXPECT_TRUE(fs::exists(s / Utf8ToGbk("账目") + ".DAT"));
  EXPECT_NE(Slurp(s / Utf8ToGbk("账目") + ".DAT").find(Utf8ToGbk("日期")), std::string::npos);

  r = Mtdb(s, "info " + dir + " 账目 --json");
  ASSERT_EQ(r.status, 0) << r.err;
  for (
      const char* part : {
          R"j("records": 0,)j",
          R"j("locale": "English (USA)",)j",
          R"j("name": "日期", "type": "DATE")j",
          R"j("name": "note", "type": "CHAR(20)", "typeCode": 1, "subtype": 0, "size": 20)j",
          R"j("name": "amount", "type": "MONEY")j",
          R"j("name": "rate", "type": "DECIMAL(64, 2)")j",
          R"j("name": "memo", "type": "MEMO")j",
          R"j("name": "id", "type": "INTEGER", "typeCode": 6, "subtype": 0, "size": 0, "scale": 0, "offset": 9, "physicalSize": 4, "required": true)j",
          R"j({"slot": 0, "kind": "primary", "name": "", "fields": ["id"], "unique": true)j",
          R"j({"slot": 1, "kind": "secondary", "name": "by_date", "fields": ["日期", "note"], "unique": false, "caseInsensitive": true, "descending": false)j",
          R"j({"slot": 2, "kind": "secondary", "name": "note", "fields": ["note"], "unique": true, "caseInsensitive": false, "descending": true)j",
          R"j("kind": "record-identifier", "name": "Sys Deleted")j",
      }) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  r = Mtdb(s, "info " + dir + " 账目");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  1 id INTEGER NOT NULL\n  2 日期 DATE\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  by_date (日期, note) nocase\n"), std::string::npos) << r.out;
}

TEST(MtdbTableTest, EncryptedTablesNeedTheirPassword) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + " secret --field a:INTEGER --password pw").status, 0);
  TRun r = Mtdb(s, "info " + dir + " secret");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Engine Error # 10498"), std::string::npos) << r.err;
  r = Mtdb(s, "info " + dir + " secret --json --password pw");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("encrypted": true)"), std::string::npos);
}

TEST(MtdbTableTest, FaultsGiveTheirStatus) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + " t --field a:INTEGER").status, 0);
  struct TCase {
    std::string args;
    int status;
    std::string message;  // part of stderr
  };
  const std::vector<TCase> cases = {
      {"create " + dir + " x --field a:CHARZ", 1, "Engine Error # 11949"},
      {"create " + dir + " x --field a:INTEGER --field A:DATE", 1, "Engine Error # 10038"},
      {"create " + dir + " x --field 'a:CHAR(0)'", 1, "Engine Error # 10000"},
      {"create " + dir + " x --field a:MEMO --primary a", 1, "Engine Error #"},
      {"create " + dir + " x", 2, "at least one --field"},
      {"create " + dir + " x --field a", 2, "NAME:TYPE"},
      {"create " + dir + " x --field a:INTEGER --primary b", 2, "no field"},
      {"create " + dir + " x --field a:INTEGER --index i:a:sideways", 2, "unknown index option"},
      {"create " + dir + " x --field a:INTEGER --locale Klingon", 2, "unknown locale"},
      {"create " + dir + " x --field a:INTEGER --bogus", 2, "unknown option --bogus"},
      {"create " + dir, 2, "wrong number of arguments"},
      {"info " + dir + " missing", 1, "Engine Error # 11010"},
      {"info " + dir + " t --json extra", 2, "wrong number of arguments"},
      {"frobnicate", 2, "unknown"},
  };
  for (const TCase& c : cases) {
    const TRun r = Mtdb(s, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
  }
  EXPECT_FALSE(fs::exists(s / "x.DAT"));
}

}  // namespace
}  // namespace mt
