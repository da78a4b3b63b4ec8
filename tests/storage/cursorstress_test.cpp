// Four processes at once insert, change and delete rows of one table (primary index, indexed
// string, memo field) for a few seconds through cursors. Afterwards the table checks out and
// every row whose last reported change was an insert or a change is there exactly once with
// the values of that change; every row whose last change was a delete is gone.
//
// Then the same writers beside processes that scan the table in runs (recordscan.h) the whole
// time, slowly: every scan sees each record at most once, each unchanged record exactly once,
// and only versions some writer had finished; every writer gets its work done meanwhile.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
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

void CreateStressTable(const std::string& dir) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
              Field("note", ftype::kBlob, 0, fsubtype::kMemo), Field("amount", ftype::kFloat)};
  p.indexes = IdPrimaryAndByName();
  p.blobBlockSize = 128;
  TDataTable(dir, "t").Create(p);
}

// Runs one cursor probe per argument list at once and returns what each printed; every probe
// must end with status 0.
std::vector<std::string> RunProbes(const std::vector<std::vector<std::string>>& argLists) {
  const int count = static_cast<int>(argLists.size());
  std::vector<pid_t> pids;
  std::vector<int> pipes;
  for (std::vector<std::string> args : argLists) {
    args.insert(args.begin(), MINTORA_CURSOR_PROBE);
    const test::TChildProcess child = test::StartChild(args);
    pids.push_back(child.pid);
    pipes.push_back(child.out);
  }
  // Read every probe's reports while they run.
  std::vector<std::string> outputs(static_cast<std::size_t>(count));
  int open = count;
  while (open > 0) {
    std::vector<pollfd> fds;
    for (int w = 0; w < count; ++w) {
      if (pipes[w] >= 0) fds.push_back({pipes[w], POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), 60000) <= 0) {
      ADD_FAILURE() << "the probes went silent";
      break;
    }
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
  for (std::size_t w = 0; w < pids.size(); ++w) {
    int status = 0;
    waitpid(pids[w], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "probe " << argLists[w][0] << " ended with " << status;
  }
  return outputs;
}

TEST(CursorStressTest, FourWritersKeepTheTableConsistent) {
  const test::TScratchDir scratch("mt-stress");
  const std::string& dir = scratch.Path();
  CreateStressTable(dir);
  constexpr int kWorkers = 4;
  std::vector<std::vector<std::string>> probes;
  for (int w = 1; w <= kWorkers; ++w)
    probes.push_back({"stress", dir, "t", std::to_string(w), "3"});
  const std::vector<std::string> outputs = RunProbes(probes);
  if (HasFailure()) return;
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

TEST(CursorStressTest, ScansInRunsWhileWritersChangeTheTable) {
  const test::TScratchDir scratch("mt-scanstress");
  const std::string& dir = scratch.Path();
  CreateStressTable(dir);
  // Records no writer touches: every scan must see each of them once.
  constexpr int kPrefilled = 1500;
  {
    TDataDirectory directory(dir);
    TDataCursor c(directory);
    c.SetTableName("t");
    c.Open();
    const TRecordFormat& f = c.Format();
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    for (int id = 1; id <= kPrefilled; ++id) {
      c.InitRecord(image.data());
      f.SetInteger(1, image.data(), id);
      f.SetString(2, image.data(), "w" + std::to_string(id % 7) + "-1");
      f.SetFloat(4, image.data(), 1.25);
      c.InsertRecord(image.data(), false);
    }
  }
  constexpr int kWriters = 3;
  constexpr int kScanners = 2;
  std::vector<std::vector<std::string>> probes;
  for (int w = 1; w <= kWriters; ++w)
    probes.push_back({"stress", dir, "t", std::to_string(w), "3"});
  // The scanners outlast the writers: every write happens while scans run.
  for (int r = 0; r < kScanners; ++r)
    probes.push_back({"scan", dir, "t", "4", std::to_string(kPrefilled)});
  const std::vector<std::string> outputs = RunProbes(probes);
  if (HasFailure()) return;

  // Every version a writer finished, and how much each writer got done.
  std::set<std::pair<long, int>> written;
  for (int w = 0; w < kWriters; ++w) {
    std::istringstream lines(outputs[w]);
    std::string op;
    long id = 0;
    int changes = 0;
    while (lines >> op >> id) {
      int version = 0;
      if (op != "D") lines >> version;
      if (op != "D") written.insert({id, version});
      ++changes;
    }
    // A writer that waited behind whole scans would get next to nothing done.
    EXPECT_GT(changes, 20) << "writer " << w + 1;
  }
  for (int r = kWriters; r < kWriters + kScanners; ++r) {
    std::istringstream lines(outputs[r]);
    std::string op;
    int scans = 0;
    int changedScans = 0;
    ASSERT_TRUE(lines >> op >> scans >> changedScans) << outputs[r];
    EXPECT_EQ(op, "S");
    EXPECT_GE(scans, 2);
    // Writers changed the table while scans ran, and the scans' runs saw it.
    EXPECT_GT(changedScans, 0);
    long id = 0;
    int version = 0;
    int seen = 0;
    while (lines >> op >> id >> version) {
      EXPECT_EQ(written.count({id, version}), 1u) << "id " << id << " version " << version;
      ++seen;
    }
    EXPECT_GT(seen, 0);
  }
}

}  // namespace
}  // namespace mt
