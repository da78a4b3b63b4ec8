// Writers killed in the middle of their changes: a probe process changes two tables (inserts,
// changes, deletes, memo values, transactions over both) and is killed at many points, most
// of them at a chosen write of its own (before it, half done, or after it; the seeds make
// every round repeat exactly) and the rest by SIGKILL from here at a random moment. After
// each kill, `mtdb verify` reports a table left cut off in the middle of a change before
// anyone opened it; then another process opens the tables and finds them sound with every
// change that had returned, each table of a transaction wholly before or after its part of
// the commit, and `mtdb verify` passes without any repair.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/tablecheck.h"
#include "storagetest.h"
#include "tests/childprocess.h"

namespace mt {
namespace {

using test::Field;
using test::IdPrimaryAndByName;

struct TRun {
  int status = 0;
  std::string output;
};

// Runs a program to its end (or until killed after killAfterMs) and collects its output.
TRun RunProgram(const std::vector<std::string>& args, int killAfterMs = -1) {
  const test::TChildProcess child = test::StartChild(args);
  const pid_t pid = child.pid;
  TRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(killAfterMs);
  bool killed = false;
  for (;;) {
    int wait = -1;
    if (killAfterMs >= 0 && !killed) {
      wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count());
      if (wait <= 0) {
        kill(pid, SIGKILL);
        killed = true;
        wait = -1;
      }
    }
    pollfd pfd{child.out, POLLIN, 0};
    if (poll(&pfd, 1, wait) == 0) continue;
    char buffer[4096];
    const ssize_t n = read(child.out, buffer, sizeof buffer);
    if (n <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(child.out);
  waitpid(pid, &run.status, 0);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

void CreateTables(const std::string& dir) {
  for (const char* name : {"a", "b"}) {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("amount", ftype::kFloat), Field("note", ftype::kBlob, 0, fsubtype::kMemo)};
    p.indexes = IdPrimaryAndByName();
    TDataTable(dir, name).Create(p);
  }
}

TEST(KillPointsTest, EveryReturnedChangeSurvivesAndTheTablesOpenSound) {
  const test::TScratchDir scratch("mt-kill");
  const std::string& dir = scratch.Path();
  CreateTables(dir);
  // table -> id -> version (0: absent) of every change that returned.
  std::map<std::string, std::map<long, int>> returned;
  std::mt19937 random(20261211);
  int cutOffSeen = 0;
  constexpr int kRounds = 130;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string seed = std::to_string(1000 + round);
    const std::string firstId = std::to_string(1000000L * (round + 1));
    TRun run;
    // Every fifth round a kill from outside at a random moment, else at a chosen write.
    if (round % 5 == 4) {
      run = RunProgram({MINTORA_CURSOR_PROBE, "churn", dir, seed, firstId},
                       5 + static_cast<int>(random() % 60));
    } else {
      const long write = 1 + static_cast<long>(random() % 600);
      const int how = static_cast<int>(random() % 3);
      run = RunProgram({MINTORA_CURSOR_PROBE, "churn", dir, seed, firstId, std::to_string(write),
                        std::to_string(how)});
    }
    ASSERT_TRUE(WIFSIGNALED(run.status) || (WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0))
        << run.output;

    // What the probe was doing: the changes that returned, and those of the one cut off.
    std::map<std::string, std::map<long, int>> pending;
    for (const std::string& line : Lines(run.output)) {
      std::istringstream in(line);
      std::string kind, table;
      long id = 0;
      int version = 0;
      if (!(in >> kind >> table >> id >> version)) continue;  // a line cut off by the kill
      if (kind == "P") pending[table][id] = version;
      if (kind == "S") {
        returned[table][id] = version;
        pending[table].erase(id);
      }
    }

    // Before anyone opens them, verify reports tables cut off in the middle of a change.
    for (const char* table : {"a", "b"}) {
      if (!CutOffChangeLeft(dir, table)) continue;
      ++cutOffSeen;
      const TRun verify = RunProgram({MINTORA_MTDB, "verify", dir, table});
      EXPECT_TRUE(WIFEXITED(verify.status) && WEXITSTATUS(verify.status) == 1) << verify.output;
      EXPECT_NE(verify.output.find("cut off"), std::string::npos) << verify.output;
    }

    // Another process opens each table (mending it) and finds it sound.
    for (const char* table : {"a", "b"}) {
      SCOPED_TRACE(table);
      const TRun dump = RunProgram({MINTORA_CURSOR_PROBE, "dump", dir, table});
      ASSERT_TRUE(WIFEXITED(dump.status) && WEXITSTATUS(dump.status) == 0) << dump.output;
      std::map<long, int> present;
      for (const std::string& line : Lines(dump.output)) {
        ASSERT_NE(line.rfind("F ", 0), 0u) << line;
        std::istringstream in(line);
        std::string kind;
        long id = 0;
        int version = 0, sound = 0;
        in >> kind >> id >> version >> sound;
        EXPECT_EQ(sound, 1) << line;
        EXPECT_EQ(present.count(id), 0u) << "twice: " << id;
        present[id] = version;
      }
      // Each returned change is there; the changes cut off are there all or not at all.
      std::map<long, int>& mine = returned[table];
      const std::map<long, int>& cut = pending[table];
      int after = 0;
      for (const auto& [id, version] : cut) {
        const auto it = present.find(id);
        const int now = it == present.end() ? 0 : it->second;
        const auto before = mine.find(id);
        const int was = before == mine.end() ? 0 : before->second;
        ASSERT_TRUE(now == version || now == was) << id << " is " << now;
        if (now == version && version != was) ++after;
      }
      const int changed = static_cast<int>(std::count_if(cut.begin(), cut.end(), [&](auto& c) {
        const auto before = mine.find(c.first);
        return c.second != (before == mine.end() ? 0 : before->second);
      }));
      EXPECT_TRUE(after == 0 || after == changed) << "a table's part of a commit was split";
      for (const auto& [id, version] : cut) {
        const auto it = present.find(id);
        mine[id] = it == present.end() ? 0 : it->second;
      }
      for (const auto& [id, version] : mine) {
        const auto it = present.find(id);
        EXPECT_EQ(it == present.end() ? 0 : it->second, version) << "record " << id;
      }
      for (const auto& [id, version] : present)
        EXPECT_EQ(mine[id], version) << "record " << id << " was never written";
    }
    const TRun verify = RunProgram({MINTORA_MTDB, "verify", dir});
    ASSERT_TRUE(WIFEXITED(verify.status) && WEXITSTATUS(verify.status) == 0) << verify.output;
  }
  // The write-count kills land in the middle of changes often enough.
  EXPECT_GT(cutOffSeen, kRounds / 10);
}

}  // namespace
}  // namespace mt
