// Two processes on one table: a record one process is editing cannot be edited by the other
// (10258 after the session's retries) until the editor goes away; a change made by the other
// process is seen by the next operation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/storage/datacursor.h"
#include "storagetest.h"
#include "tests/childprocess.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

// Runs the probe with its output on a pipe; returns its pid and the pipe.
pid_t Spawn(std::vector<std::string> args, int& out) {
  args.insert(args.begin(), MINTORA_CURSOR_PROBE);
  const test::TChildProcess child = test::StartChild(args);
  out = child.out;
  return child.pid;
}

TEST(CursorProcessTest, AnEditInAnotherProcessLocksTheRecord) {
  const test::TScratchDir scratch("mt-procs");
  const std::string& dir = scratch.Path();
  {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("amount", ftype::kFloat)};
    TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
    TDataTable(dir, "t").Create(p);
  }
  int out = -1;
  pid_t pid = Spawn({"insert", dir, "t", "1", "5"}, out);
  EXPECT_EQ(test::ReadToEnd(out), "1\n2\n3\n4\n5\n");
  waitpid(pid, nullptr, 0);

  TDataDirectory directory(dir);
  TDataCursor c(directory);
  c.SetTableName("t");
  TSessionSettings settings;
  settings.lockRetryCount = 2;
  settings.lockWaitTime = 10;
  c.SetSettings(settings);
  c.Open();
  EXPECT_EQ(c.RecordCount(), 5u);
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  std::vector<uint8_t> key(static_cast<std::size_t>(c.RecordSize()));
  c.InitRecord(key.data());
  c.Format().SetInteger(1, key.data(), 3);

  // The other process starts editing id 3.
  pid = Spawn({"edit", dir, "t", "3"}, out);
  char said[7] = {};
  ASSERT_EQ(read(out, said, 7), 7);
  EXPECT_EQ(std::string(said, 7), "locked\n");
  ASSERT_TRUE(c.FindKey(key.data(), 1, true));
  ASSERT_EQ(c.GetCurrentRecord(image.data()), 0);
  EXPECT_EQ(ErrorCodeOf([&] { c.GetCurrentRecord(image.data(), true); }), err::kRecordInUse);
  // Other records are free; the locked one frees up when the editor is gone.
  c.First();
  ASSERT_EQ(c.Next(image.data()), 0);
  EXPECT_EQ(c.GetCurrentRecord(image.data(), true), 0);
  c.UnlockCurrentRecord();
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(out);
  ASSERT_TRUE(c.FindKey(key.data(), 1, true));
  ASSERT_EQ(c.GetCurrentRecord(image.data()), 0);
  ASSERT_EQ(c.GetCurrentRecord(image.data(), true), 0);
  c.Format().SetFloat(3, image.data(), 99.5);
  c.ModifyRecord(image.data());

  // Another process's inserts are seen at once.
  pid = Spawn({"insert", dir, "t", "6", "2"}, out);
  EXPECT_EQ(test::ReadToEnd(out), "6\n7\n");
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(c.RecordCount(), 7u);
  pid = Spawn({"count", dir, "t"}, out);
  EXPECT_EQ(test::ReadToEnd(out), "7\n");
  waitpid(pid, nullptr, 0);
  c.Close();
}

}  // namespace
}  // namespace mt
