// One thread per table: a table object and its cursors are used only on the thread that opened
// the table; debug builds stop a thread that reaches into a table another thread owns. Release
// builds leave the check out, so the test runs in the sanitizer (debug) build.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "engine/storage/datacursor.h"
#include "storagetest.h"

namespace mt {
namespace {

using test::Field;

#ifndef NDEBUG
// A scratch folder holding table "t" (one integer field), made on this thread.
std::string ScratchTable(const test::TScratchDir& scratch) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger)};
  TDataTable(scratch.Path(), "t").Create(p);
  return scratch.Path();
}
#endif

TEST(TableThreadDeathTest, AnotherThreadUsingAnOpenTableIsStopped) {
#ifdef NDEBUG
  GTEST_SKIP() << "the owner check is part of debug builds";
#else
  const test::TScratchDir scratch("mt-thread");
  TDataDirectory directory(ScratchTable(scratch));
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

// Every way into a table another thread owns is stopped: through a cursor, the table's
// settings and the directory's transaction.
TEST(TableThreadDeathTest, EveryUseFromAnotherThreadIsStopped) {
#ifdef NDEBUG
  GTEST_SKIP() << "the owner check is part of debug builds";
#else
  struct TCase {
    const char* name;
    std::function<void(TDataDirectory&, TDataTable&, TDataCursor&)> use;
  };
  const TCase cases[] = {
      {"read", [](TDataDirectory&, TDataTable&, TDataCursor& c) { c.First(); }},
      {"insert",
       [](TDataDirectory&, TDataTable&, TDataCursor& c) {
         std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
         c.InitRecord(image.data());
         c.InsertRecord(image.data());
       }},
      {"settings", [](TDataDirectory&, TDataTable& t, TDataCursor&) { t.SetSettings({}); }},
      {"transaction", [](TDataDirectory& d, TDataTable&, TDataCursor&) { d.StartTransaction(); }},
  };
  const test::TScratchDir scratch("mt-thread");
  TDataDirectory directory(ScratchTable(scratch));
  TDataCursor cursor(directory);
  cursor.SetTableName("t");
  cursor.Open();
  TDataTable& table = cursor.Table();
  for (const TCase& use : cases) {
    SCOPED_TRACE(use.name);
    EXPECT_DEATH(std::thread([&] { use.use(directory, table, cursor); }).join(),
                 "engine invariant does not hold");
  }
  cursor.Close();
#endif
}

}  // namespace
}  // namespace mt
