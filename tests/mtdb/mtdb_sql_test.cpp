// mtdb sql as a separate program: every SELECT the bookkeeping program issues, on a small ledger
// made with the program's own schema (init-mintora), with the rows each must return; scripts,
// the text sources (-c, a file, standard input) and the errors.
#include <gtest/gtest.h>

#include "mtdbtest.h"

namespace mt {
namespace {

using namespace mtdbtest;

struct TCase {
  std::string sql;
  std::string out;
};

class MtdbSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = scratch_ / "data";
    ASSERT_EQ(
        Mtdb(scratch_, "init-mintora " + Quote(data_) + " --user admin --password admin").status,
        0);
    Insert("User", "name\tfullname\tpassword\nbob\tBob B\tsecret\n");
    Insert("system", "name\tvalue\npass_admin\tadmin\n");
    Insert("Items",
           "id\tname\tdescription\ttype\tparent\n"
           "4\t奖金\tbonus\t0\t-1\n"
           "2\t餐饮\tfood\t1\t-1\n"
           "1\t工资\tpay\t0\t-1\n"
           "3\t交通\ttravel\t1\t-1\n"
           "5\t旧类\told\t1\t3\n");
    Insert("szzb",
           "id\tdate\titemid\titem\tdescription\tmemo\tuser\tinput\toutput\ttype\tbalance\n"
           "1\t2005-01-03\t1\t工资\tjan pay\t\tadmin\t5000\t\t0\t5000\n"
           "2\t2005-01-05\t2\t餐饮\tlunch\t\tadmin\t\t30.5\t1\t4969.5\n"
           "3\t2005-01-05\t3\t交通\tbus\t\tadmin\t\t2\t1\t4967.5\n"
           "4\t2005-02-01\t2\t餐饮\tdinner\t\tadmin\t\t12\t1\t4955.5\n"
           "5\t2005-02-03\t4\t奖金\tbonus\t\tadmin\t800\t\t0\t5755.5\n"
           "6\t2005-03-10\t3\t交通\ttaxi\t\tadmin\t\t5\t1\t5750.5\n");
    Insert("diary", "date\tcontents\tuser\n2005-01-03\t一月\tadmin\n2005-02-01\t二月\tadmin\n");
  }

  void Insert(const std::string& table, const std::string& tsv) {
    const TRun r = Mtdb(scratch_, "insert " + Quote(data_) + " " + table, tsv);
    ASSERT_EQ(r.status, 0) << table << ": " << r.err;
  }

  TRun Sql(const std::string& text) {
    return Mtdb(scratch_, "sql " + Quote(data_) + " -c " + Quote(text));
  }

  void ExpectOutputs(const std::vector<TCase>& cases) {
    for (const TCase& c : cases) {
      const TRun r = Sql(c.sql);
      EXPECT_EQ(r.status, 0) << c.sql << "\n" << r.err;
      EXPECT_EQ(r.out, c.out) << c.sql;
    }
  }

  TScratch scratch_;
  std::string data_;
};

TEST_F(MtdbSqlTest, TheProgramsLookUpsTotalsAndListsReturnTheirRows) {
  const std::string szzbHeader =
      "id\tdate\titemid\titem\tdescription\tmemo\tuser\tinput\toutput\ttype\tbalance\n";
  ExpectOutputs({
      // Home page and entry dialog totals; sums over no rows are NULL (an empty cell).
      {"select sum(input) as allinput from szzb where type='0'", "allinput\n5800\n"},
      {"select sum(output) as alloutput from szzb where type='1'", "alloutput\n49.5\n"},
      {"select sum(input) as allinput from szzb", "allinput\n5800\n"},
      {"select sum(output) as alloutput from szzb", "alloutput\n49.5\n"},
      {"select max(id) as id from szzb ", "id\n6\n"},
      {"select sum(input) as allinput from szzb where date>='2099-01-01'", "allinput\n\n"},
      // Ledger list: opening balance before the period and the period's rows by date.
      {"select sum(input) as allinput from szzb where date <'2005-02-01'", "allinput\n5000\n"},
      {"select sum(output) as alloutput from szzb where date <'2005-02-01'", "alloutput\n32.5\n"},
      {"select * from szzb where date>='2005-02-01' order by date",
       szzbHeader + "4\t2005-02-01\t2\t餐饮\tdinner\t\tadmin\t\t12\t1\t4955.5\n"
                    "5\t2005-02-03\t4\t奖金\tbonus\t\tadmin\t800\t\t0\t5755.5\n"
                    "6\t2005-03-10\t3\t交通\ttaxi\t\tadmin\t\t5\t1\t5750.5\n"},
      // Comparison chart totals with double-quoted date literals.
      {"select sum(input) as allinput from szzb where date>=\"2005-01-01\" and "
       "date<\"2005-02-01\"",
       "allinput\n5000\n"},
      {"select sum(output) as alloutput from szzb where date>=\"2005-01-01\" and "
       "date<=\"2005-02-28\"",
       "alloutput\n44.5\n"},
      {"select sum(output) as alloutput from szzb where date>=\"2005-04-01\" and "
       "date<\"2005-05-01\"",
       "alloutput\n\n"},
      // Sign-in, remembered passwords, users.
      {"select * from User", "name\tfullname\tpassword\nadmin\tadmin\tadmin\nbob\tBob B\tsecret\n"},
      {"select * from User where name='bob' and password='secret'",
       "name\tfullname\tpassword\nbob\tBob B\tsecret\n"},
      {"select * from User where name='bob' and password='wrong'", "name\tfullname\tpassword\n"},
      // A string constant equal to a column name reads as that column (the program passes
      // typed values as parameters, so this concerns only SQL text).
      {"select * from User where name='bob' and password='password'",
       "name\tfullname\tpassword\nbob\tBob B\tsecret\n"},
      {"select * from system where name=\"pass_admin\"", "name\tvalue\npass_admin\tadmin\n"},
      {"select * from system where name=\"pass_bob\"", "name\tvalue\n"},
      // Categories.
      {"select * from Items order by type,id",
       "id\tname\tdescription\ttype\tparent\n1\t工资\tpay\t0\t-1\n4\t奖金\tbonus\t0\t-1\n"
       "2\t餐饮\tfood\t1\t-1\n3\t交通\ttravel\t1\t-1\n5\t旧类\told\t1\t3\n"},
      {"select * from Items where parent =-1 order by type,id",
       "id\tname\tdescription\ttype\tparent\n1\t工资\tpay\t0\t-1\n4\t奖金\tbonus\t0\t-1\n"
       "2\t餐饮\tfood\t1\t-1\n3\t交通\ttravel\t1\t-1\n"},
      {"select * from Items order by id",
       "id\tname\tdescription\ttype\tparent\n1\t工资\tpay\t0\t-1\n2\t餐饮\tfood\t1\t-1\n"
       "3\t交通\ttravel\t1\t-1\n4\t奖金\tbonus\t0\t-1\n5\t旧类\told\t1\t3\n"},
      // Diary: one day.
      {"select * from diary where date=\"2005-02-01\"",
       "date\tcontents\tuser\n2005-02-01\t二月\tadmin\n"},
      {"select * from diary where date=\"2005-02-02\"", "date\tcontents\tuser\n"},
  });
}

TEST_F(MtdbSqlTest, TheProgramsChartsGroupAndOrderTheirRows) {
  ExpectOutputs({
      {"select item,sum(output) as allinput from szzb  where date>=\"2005-01-01\" and "
       "date<=\"2005-12-31\" and type=\"1\" group by item order by item",
       "item\tallinput\n餐饮\t42.5\n交通\t7\n"},
      {"select item,sum(input) as allinput from szzb  where date>=\"2005-01-01\" and "
       "date<=\"2005-12-31\" and type=\"0\" group by item order by item",
       "item\tallinput\n工资\t5000\n奖金\t800\n"},
      {"select date,sum(output) as alloutput from szzb  where date>=\"2005-01-01\" and "
       "date<=\"2005-02-28\" and type=\"1\" group by date order by date",
       "date\talloutput\n2005-01-05\t32.5\n2005-02-01\t12\n"},
      {"select * from diary order by date desc",
       "date\tcontents\tuser\n2005-02-01\t二月\tadmin\n2005-01-03\t一月\tadmin\n"},
  });
}

TEST_F(MtdbSqlTest, ScriptsSourcesAndErrors) {
  // Several statements: each result in turn, separated by an empty line.
  TRun r = Sql("select max(id) as id from szzb; select count(*) as n from Items");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "id\n6\n\nn\n5\n");
  // From a file and from standard input.
  {
    std::ofstream f(scratch_ / "q.sql");
    f << "select name from User\nwhere name = 'bob'\n";
  }
  r = Mtdb(scratch_, "sql " + Quote(data_) + " " + Quote(scratch_ / "q.sql"));
  EXPECT_EQ(r.out, "name\nbob\n") << r.err;
  r = Mtdb(scratch_, "sql " + Quote(data_), "select name from User where name = 'admin'");
  EXPECT_EQ(r.out, "name\nadmin\n") << r.err;
  // Engine errors: the message on stderr, status 1; output of earlier statements stays.
  r = Sql("select max(id) as id from szzb; select nosuch from szzb");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "id\n6\n");
  EXPECT_EQ(r.err,
            "Engine Error # 11949 SQL error - Invalid column name 'nosuch' or table correlation "
            "name '' specified in source columns\n");
  r = Sql("update Items set id = 999999 where id = 3; update Items set id = 999999 where id = 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "1\n");
  EXPECT_NE(r.err.find("Engine Error # 9729"), std::string::npos) << r.err;
  EXPECT_EQ(Sql("select id from Items where id > 3 order by id").out, "id\n4\n5\n999999\n");
  r = Sql("select * from nosuch");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Engine Error # 11010"), std::string::npos) << r.err;
  // Bad usage.
  EXPECT_EQ(Mtdb(scratch_, "sql").status, 2);
  EXPECT_EQ(Mtdb(scratch_, "sql " + Quote(data_) + " -c").status, 2);
}

// The program's changing statements: each prints the rows it affected (0 is no error); a
// transaction statement prints nothing, and a rolled-back script leaves the tables as before.
TEST_F(MtdbSqlTest, ChangingStatementsPrintRowsAffected) {
  const std::vector<TCase> cases = {
      {"delete from Items where id=12345", "0\n"},
      // Two category numbers swapped through the free number 999999.
      {"update Items set id=999999 where id=3; update Items set id=3 where id=4; "
       "update Items set id=4 where id=999999",
       "1\n1\n1\n"},
      {"select id, description from Items where id >= 3 and id <= 4 order by id",
       "id\tdescription\n3\tbonus\n4\ttravel\n"},
      {"delete from diary where date=\"2005-01-03\"", "1\n"},
      {"delete from system where name='pass_admin'", "1\n"},
      {"start transaction; delete from szzb; update Items set type = 2; rollback", "6\n5\n"},
      {"select count(*) as n from szzb; select count(*) as n from Items where type = 2",
       "n\n6\n\nn\n0\n"},
      {"insert into Items (id, name, type, parent) values (6, 'x', 1, -1); "
       "insert into Items select id + 10, name, description, type, parent from Items where id < 3",
       "1\n2\n"},
      {"select id, name from Items where id > 5 order by id",
       "id\tname\n6\tx\n11\t工资\n12\t餐饮\n"},
  };
  for (const TCase& c : cases) {
    const TRun r = Sql(c.sql);
    EXPECT_EQ(r.status, 0) << c.sql << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.sql;
  }
}

}  // namespace
}  // namespace mt
