// mtdb init-mintora as a separate program: the five tables with the first account, checked
// by verify and dump; a second run never replaces existing tables.
#include <gtest/gtest.h>

#include "mtdbtest.h"

namespace mt {
namespace {

using namespace mtdbtest;

TEST(MtdbMintoraTest, MakesTheFiveTablesWithTheFirstAccount) {
  TScratch s;
  const std::string data = s / "data";
  TRun r = Mtdb(s, "init-mintora " + Quote(data) + " --user 管理员 --password 'p w'");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* table : {"User", "system", "Items", "szzb", "diary"}) {
    EXPECT_TRUE(fs::exists(data + "/" + table + ".DAT")) << table;
    EXPECT_TRUE(fs::exists(data + "/" + table + ".IDX")) << table;
  }
  r = Mtdb(s, "dump " + Quote(data) + " User");
  EXPECT_EQ(r.out, "name\tfullname\tpassword\n管理员\t管理员\tp w\n") << r.err;
  r = Mtdb(s, "info " + Quote(data) + " szzb --json");
  EXPECT_NE(r.out.find(R"j("name": "date", "type": "DATE")j"), std::string::npos) << r.out;
  EXPECT_EQ(Mtdb(s, "verify " + Quote(data)).status, 0);

  const std::string before = Slurp(data + "/User.DAT");
  r = Mtdb(s, "init-mintora " + Quote(data) + " --user other --password x");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(data + "/User.DAT"), before);
  EXPECT_EQ(Mtdb(s, "init-mintora " + Quote(data) + " --user x").status, 2);
}

}  // namespace
}  // namespace mt
