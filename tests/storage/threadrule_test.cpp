// One thread per table: a table object and its cursors are used only on the thread that opened
// the table; debug builds stop a thread that reaches into a table another thread owns. Release
// builds leave the check out, so the test runs in the sanitizer (debug) build.
#include <gtest/gtest.h>

#include <thread>

#include "engine/storage/datacursor.h"
#include "storagetest.h"

namespace mt {
namespace {

using test::Field;

TEST(TableThreadDeathTest, AnotherThreadUsingAnOpenTableIsStopped) {
#ifdef NDEBUG
  GTEST_SKIP() << "the owner check is part of debug builds";
#else
  const test::TScratchDir scratch("mt-thread");
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger)};
  TDataTable(scratch.Path(), "t").Create(p);
  TDataDirectory directory(scratch.Path());
  TDataCursor cursor(directory);
  cursor.SetTableName("t");
  cursor.Open();
  EXPECT_DEATH(std::thread([&] { cursor.Last(); }).join(), "engine invariant does not hold");
  // The owner goes on; once it has closed the table, another thread may open it.
  cursor.Last();
  cursor.Close();
  std::thread([&] {
    TDataCursor other(directory);
    other.SetTableName("t");
    other.Open();
    other.Last();
    other.Close();
  }).join();
#endif
}

}  // namespace
}  // namespace mt
