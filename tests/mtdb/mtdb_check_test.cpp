// mtdb verify and repair as a separate program: sound tables pass, a damaged table is named
// with its faults and status 1, and repair makes it pass again.
#include <gtest/gtest.h>

#include "mtdbtest.h"

namespace mt {
namespace {

using namespace mtdbtest;

TEST(MtdbCheckTest, VerifyFindsDamageAndRepairMendsIt) {
  TScratch s;
  const std::string dir = Quote(s.Path());
  ASSERT_EQ(Mtdb(s, "create " + dir + " a --field id:INTEGER --primary id").status, 0);
  ASSERT_EQ(Mtdb(s, "create " + dir + " b --field 'n:CHAR(5)'").status, 0);
  TRun r = Mtdb(s, "verify " + dir);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");

  // Bytes of a record that never got its header: b no longer opens.
  {
    std::ofstream f(s / "b.DAT", std::ios::binary | std::ios::app);
    f << std::string(9, '\0');
  }
  fs::remove(s / "a.IDX");
  r = Mtdb(s, "verify " + dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "a: the index file is missing\n"
            "b: Engine Error # 8961 Header information corrupt in the table '" +
                s.Path() + "/b'\n")
      << r.out;
  r = Mtdb(s, "verify " + dir + " B");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("B: ", 0), 0u) << r.out;

  r = Mtdb(s, "repair " + dir + " b");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("cut 9 bytes"), std::string::npos) << r.out;
  r = Mtdb(s, "verify " + dir + " b");
  EXPECT_EQ(r.status, 0) << r.out;

  EXPECT_EQ(Mtdb(s, "verify").status, 2);
  EXPECT_EQ(Mtdb(s, "repair " + dir).status, 2);
  EXPECT_EQ(Mtdb(s, "repair " + dir + " nothere").status, 1);
}

}  // namespace
}  // namespace mt
