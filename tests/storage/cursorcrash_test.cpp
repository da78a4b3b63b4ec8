// A writer killed with SIGKILL in the middle of a long run of inserts, at many different
// moments: afterwards the table either opens and checks out, or repair (data file, then index
// file from the records) makes it check out; in both cases every insert that had returned
// before the kill is there exactly once, and the table takes further inserts.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "storagetest.h"
#include "tests/childprocess.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::Field;
using test::IdPrimaryAndByName;

// Reads what is in the pipe (waiting up to timeoutMs for the first bytes).
bool ReadSome(int fd, std::string& into, int timeoutMs) {
  pollfd pfd{fd, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) <= 0) return true;
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(n));
  return true;
}

TEST(CursorCrashTest, EveryReturnedInsertSurvivesAKill) {
  const test::TScratchDir scratch("mt-crash");
  const std::string& dir = scratch.Path();
  {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("amount", ftype::kFloat)};
    p.indexes = IdPrimaryAndByName();
    TDataTable(dir, "t").Create(p);
  }
  std::mt19937 random(20261210);
  std::set<long> returned;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const long first = 1000000L * (round + 1);
    const test::TChildProcess probe = test::StartChild(
        {MINTORA_CURSOR_PROBE, "insert", dir, "t", std::to_string(first), "1000000"});
    std::string output;
    // Let it insert for a while: wait for a random number of reported inserts, then kill it
    // a random number of microseconds later.
    const std::size_t wanted = 1 + random() % 3000;
    while (std::count(output.begin(), output.end(), '\n') < static_cast<long>(wanted)) {
      if (!ReadSome(probe.out, output, 5000)) break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    kill(probe.pid, SIGKILL);
    int status = 0;
    waitpid(probe.pid, &status, 0);
    while (ReadSome(probe.out, output, 0) && !output.empty() && output.back() != '\0') {
      pollfd pfd{probe.out, POLLIN, 0};
      if (poll(&pfd, 1, 0) <= 0) break;
    }
    close(probe.out);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the probe ended before the kill: " << output;
    // Lines the probe finished writing are inserts that returned.
    std::size_t start = 0;
    for (std::size_t nl; (nl = output.find('\n', start)) != std::string::npos; start = nl + 1)
      returned.insert(std::stol(output.substr(start, nl - start)));

    bool sound = false;
    try {
      TDataTable t(dir, "t");
      t.Open();
      sound = CheckDataRecords(t).empty() && CheckIndexes(t).empty();
    } catch (const EEngineError&) {
      sound = false;
    }
    if (!sound) {
      RepairDataFile(dir, "t");
      RepairIndexFile(dir, "t", {});
      TDataTable t(dir, "t");
      t.Open();
      ASSERT_TRUE(CheckDataRecords(t).empty());
      ASSERT_TRUE(CheckIndexes(t).empty());
    }
    // Every returned insert is there exactly once, in record order and in the primary index.
    TDataDirectory directory(dir);
    TDataCursor c(directory);
    c.SetTableName("t");
    c.SetOpenInBitmapOrder(true);
    c.Open();
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    std::multiset<long> present;
    c.First();
    while (c.Next(image.data()) == 0)
      present.insert(static_cast<long>(*c.Format().GetInteger(1, image.data())));
    for (long id : returned)
      ASSERT_EQ(present.count(id), 1u) << id;
    for (long id : present)
      ASSERT_EQ(present.count(id), 1u) << id;
    c.ChooseIndex("");
    EXPECT_EQ(c.RecordCount(), present.size());
  }
}

}  // namespace
}  // namespace mt
