// Four processes at once insert, change and delete rows of one table (primary index, indexed
// string, memo field) for a few seconds through cursors. Afterwards the table checks out and
// every row whose last reported change was an insert or a change is there exactly once with
// the values of that change; every row whose last change was a delete is gone.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::Field;

TEST(CursorStressTest, FourWritersKeepTheTableConsistent) {
  const test::TScratchDir scratch("mt-stress");
  const std::string& dir = scratch.Path();
  {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("note", ftype::kBlob, 0, fsubtype::kMemo), Field("amount", ftype::kFloat)};
    TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
    TIndexDescriptor byName;
    byName.name = "ByName";
    byName.fields = {2};
    p.indexes.secondaries = {byName};
    p.blobBlockSize = 128;
    TDataTable(dir, "t").Create(p);
  }
  constexpr int kWorkers = 4;
  std::vector<pid_t> pids;
  std::vector<int> pipes;
  for (int w = 1; w <= kWorkers; ++w) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      const std::string worker = std::to_string(w);
      execl(MINTORA_CURSOR_PROBE, MINTORA_CURSOR_PROBE, "stress", dir.c_str(), "t", worker.c_str(),
            "3", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    pids.push_back(pid);
    pipes.push_back(fds[0]);
  }
  // Read every worker's reports while they run.
  std::vector<std::string> outputs(kWorkers);
  int open = kWorkers;
  while (open > 0) {
    std::vector<pollfd> fds;
    for (int w = 0; w < kWorkers; ++w) {
      if (pipes[w] >= 0) fds.push_back({pipes[w], POLLIN, 0});
    }
    ASSERT_GT(poll(fds.data(), fds.size(), 60000), 0);
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      const int w = static_cast<int>(std::find(pipes.begin(), pipes.end(), p.fd) - pipes.begin());
      char buffer[4096];
      const ssize_t n = read(p.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(p.fd);
        pipes[w] = -1;
        --open;
      } else {
        outputs[w].append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  // The last reported version of every id (0: deleted).
  std::map<long, int> expected;
  std::size_t changes = 0;
  for (const std::string& out : outputs) {
    std::istringstream lines(out);
    std::string op;
    long id = 0;
    while (lines >> op >> id) {
      int version = 0;
      if (op != "D") lines >> version;
      expected[id] = version;
      ++changes;
    }
  }
  EXPECT_GT(changes, 4u * 10);

  {
    TDataTable t(dir, "t");
    t.Open();
    EXPECT_EQ(CheckDataRecords(t), std::vector<std::string>{});
    EXPECT_EQ(CheckIndexes(t), std::vector<std::string>{});
  }
  TDataDirectory directory(dir);
  TDataCursor c(directory);
  c.SetTableName("t");
  c.Open();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  std::map<long, int> found;
  c.First();
  while (c.Next(image.data()) == 0) {
    const long id = static_cast<long>(*c.Format().GetInteger(1, image.data()));
    const int version = static_cast<int>(*c.Format().GetFloat(4, image.data()));
    ASSERT_EQ(found.count(id), 0u) << id;
    found[id] = version;
    EXPECT_EQ(*c.Format().GetString(2, image.data()),
              "w" + std::to_string(id % 7) + "-" + std::to_string(version));
    const int h = c.OpenBlob(3, image.data(), TBlobOpenMode::Read);
    const std::vector<uint8_t>& memo = c.Blob(h).Data();
    EXPECT_EQ(std::string(memo.begin(), memo.end()),
              "memo " + std::to_string(id) + " version " + std::to_string(version) +
                  std::string(static_cast<std::size_t>(version % 5) * 300, 'x'));
    c.CloseBlob(h, false, image.data());
  }
  for (const auto& [id, version] : expected) {
    if (version == 0) {
      EXPECT_EQ(found.count(id), 0u) << id;
    } else {
      EXPECT_EQ(found[id], version) << id;
    }
  }
  EXPECT_EQ(c.RecordCount(), found.size());
  c.Close();
}

}  // namespace
}  // namespace mt
