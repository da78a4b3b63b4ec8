// A write or a flush to disk that fails in the middle of an insert, of a change or deletion
// of a record, or of a transaction's commit. The process's disk is replaced by one that fails
// the n-th write or sync from a chosen moment on, for every n the operation reaches. Each time
// the engine must report the failure as an engine error, keep other processes away from the
// half-written files, and leave a table that checks out (tablecheck.h) once opened again,
// holding every change that had returned: the failed change itself is either there completely
// or not at all. A disk that keeps failing until the table is closed leaves files that repair
// mends (without a journal nothing can take back what reached the disk), with the same
// guarantee.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/common/filelayer.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tablenames.h"
#include "engine/storage/transaction.h"
#include "failingdisk.h"
#include "probe.h"
#include "storagetest.h"

namespace mt {
namespace {

using test::Field;
using test::IdPrimaryAndByName;
using test::TFailingDisk;
namespace fs = std::filesystem;

const char* KindName(TFailingDisk::TKind kind) {
  return kind == TFailingDisk::TKind::Write ? "write" : "sync";
}

class WriteFailureTest : public ::testing::TestWithParam<TFailingDisk::TKind> {
 protected:
  void SetUp() override {
    TFileList::Process()->SetDisk(disk_);
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("memo", ftype::kBlob, 0, fsubtype::kMemo)};
    p.indexes = IdPrimaryAndByName();
    TDataTable(dir_, "t").Create(p);
  }
  void TearDown() override { TFileList::Process()->SetDisk(nullptr); }

  TFailingDisk::TKind Kind() const { return GetParam(); }

  // A cursor on the table; syncs happen only with forced flushes.
  std::unique_ptr<TDataCursor> Open(const std::string& table = "t") {
    auto c = std::make_unique<TDataCursor>(directory_);
    c->SetTableName(table);
    TSessionSettings settings;
    settings.forceBufferFlush = true;
    c->SetSettings(settings);
    c->Open();
    return c;
  }

  // A record's name and memo in each version: 0 as inserted, higher ones after changes. A
  // changed record moves in the name index, and its memo grows by blocks.
  static std::string NameOf(int32_t id, int version = 0) {
    return (version == 0 ? "name " : "v" + std::to_string(version) + " ") + std::to_string(id % 7);
  }
  static std::string MemoOf(int32_t id, int version = 0) {
    return "memo " + std::to_string(id) +
           std::string(static_cast<std::size_t>(id % 3 + 2 * version) * 400, 'm');
  }

  // Sets id's name and memo of the version into the image.
  static void Fill(TDataCursor& c, uint8_t* image, int32_t id, int version) {
    c.Format().SetInteger(1, image, id);
    c.Format().SetString(2, image, NameOf(id, version));
    const int h = c.OpenBlob(3, image, TBlobOpenMode::ReadWrite);
    c.Blob(h).Truncate(0);
    const std::string memo = MemoOf(id, version);
    c.Blob(h).Write(0, {reinterpret_cast<const uint8_t*>(memo.data()), memo.size()});
    c.CloseBlob(h, true, image);
  }

  // Inserts a record for id (its memo takes one to three blob blocks).
  static void Insert(TDataCursor& c, int32_t id) {
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.InitRecord(image.data());
    Fill(c, image.data(), id, 0);
    c.InsertRecord(image.data(), false);
  }

  // Changes record id to the version, or deletes it (version 0), as an edit does: find, read,
  // lock, post.
  static void Change(TDataCursor& c, int32_t id, int version) {
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.InitRecord(image.data());
    c.Format().SetInteger(1, image.data(), id);
    ASSERT_TRUE(c.FindKey(image.data(), 1, true)) << id;
    c.GetCurrentRecord(image.data());
    c.GetCurrentRecord(image.data(), true);
    if (version == 0) {
      c.DeleteRecord(image.data());
    } else {
      Fill(c, image.data(), id, version);
      c.ModifyRecord(image.data(), false);
    }
  }

  // The records of the table opened anew through the real disk, which must check out: the
  // version of each id (-1 for a record whose name and memo match no version of it).
  std::map<int32_t, int> Contents() {
    TFileList::Process()->SetDisk(nullptr);
    {
      TDataTable t(dir_, "t");
      t.Open();
      EXPECT_EQ(CheckDataRecords(t), std::vector<std::string>{});
      EXPECT_EQ(CheckIndexes(t), std::vector<std::string>{});
    }
    std::map<int32_t, int> found;
    {
      std::unique_ptr<TDataCursor> c = Open();
      std::vector<uint8_t> image(static_cast<std::size_t>(c->RecordSize()));
      while (c->Next(image.data()) == TDataCursor::kRecordRead) {
        const int32_t id = static_cast<int32_t>(*c->Format().GetInteger(1, image.data()));
        const std::string name = *c->Format().GetString(2, image.data());
        const int h = c->OpenBlob(3, image.data(), TBlobOpenMode::Read);
        const std::vector<uint8_t>& bytes = c->Blob(h).Data();
        const std::string memo(bytes.begin(), bytes.end());
        c->CloseBlob(h, false, image.data());
        int version = -1;
        for (int v = 0; v <= 2; ++v) {
          if (name == NameOf(id, v) && memo == MemoOf(id, v)) version = v;
        }
        EXPECT_EQ(found.count(id), 0u) << "record " << id << " twice";
        found[id] = version;
      }
    }
    TFileList::Process()->SetDisk(disk_);
    return found;
  }

  // Inserts ids 1 to 21 and returns how many writes (or syncs) the last insert made.
  int FillAndCount(TDataCursor& c, std::vector<int32_t>& returned) {
    for (int32_t id = 1; id <= 21; ++id) {
      if (id == 21) disk_->Arm(Kind(), 0);
      Insert(c, id);
      returned.push_back(id);
    }
    return disk_->Count(Kind());
  }

  // Whether the table opens and checks out (through the real disk).
  bool Sound() {
    TFileList::Process()->SetDisk(nullptr);
    bool sound = false;
    try {
      TDataTable t(dir_, "t");
      t.Open();
      sound = CheckDataRecords(t).empty() && CheckIndexes(t).empty();
    } catch (const EEngineError&) {
    }
    TFileList::Process()->SetDisk(disk_);
    return sound;
  }

  // The table opened anew through the real disk checks out; it holds every id of `sure`, and
  // of each group in `whole` all ids or none, every record with its memo, and nothing else.
  // The groups found are added to `sure`.
  void ExpectSound(std::vector<int32_t>& sure, const std::vector<std::vector<int32_t>>& whole) {
    const std::map<int32_t, int> found = Contents();
    // The version found of an id, -2 when it is missing.
    auto versionOf = [&](int32_t id) {
      const auto it = found.find(id);
      return it == found.end() ? -2 : it->second;
    };
    std::size_t expected = 0;
    for (int32_t id : sure) {
      EXPECT_EQ(versionOf(id), 0) << "returned insert " << id;
      ++expected;
    }
    for (const std::vector<int32_t>& group : whole) {
      const bool there = found.count(group.front()) != 0;
      for (int32_t id : group) {
        EXPECT_EQ(found.count(id) != 0, there) << "failed change, id " << id;
        if (there) {
          EXPECT_EQ(versionOf(id), 0) << id;
          sure.push_back(id);
          ++expected;
        }
      }
    }
    EXPECT_EQ(found.size(), expected);
  }

  const std::shared_ptr<TFailingDisk> disk_ = std::make_shared<TFailingDisk>();
  const test::TScratchDir scratch_{"mt-fail"};
  const std::string dir_ = scratch_.Path();
  TDataDirectory directory_{dir_};
};

TEST_P(WriteFailureTest, AFailedInsertLeavesTheTableSound) {
  std::vector<int32_t> returned;
  std::unique_ptr<TDataCursor> c = Open();
  const int count = FillAndCount(*c, returned);
  ASSERT_GT(count, 0);
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(std::string(KindName(Kind())) + " " + std::to_string(n) + " of " +
                 std::to_string(count));
    const int32_t id = 100 + n;
    std::unique_ptr<test::TProbe> other;
    if (n == 1) {
      other = std::make_unique<test::TProbe>();
      ASSERT_EQ(other->Ask("open " + dir_ + " t"), "ok");
      ASSERT_EQ(other->Ask("tableretry 3 1"), "ok");
    }
    disk_->Arm(Kind(), n);
    EXPECT_EQ(test::ErrorCodeOf([&] { Insert(*c, id); }), err::kWriteError);
    if (other) {
      // Until the rest is written, another process can neither read nor write the table.
      EXPECT_EQ(other->Ask("read").rfind("err " + std::to_string(err::kLockFailure), 0), 0u);
      other.reset();
    }
    std::vector<std::vector<int32_t>> whole = {{id}};
    if (n % 2 == 0) {
      // The next change writes the rest first.
      Insert(*c, 200 + n);
      returned.push_back(200 + n);
    }
    c->Close();
    ExpectSound(returned, whole);
    c = Open();
  }
}

TEST_P(WriteFailureTest, AFailedCommitLeavesTheTableSound) {
  std::vector<int32_t> committed;
  std::unique_ptr<TDataCursor> c = Open();
  for (int32_t id = 1; id <= 20; ++id) {
    Insert(*c, id);
    committed.push_back(id);
  }
  // A transaction of five inserts; first how much its commit writes.
  auto transaction = [&](int32_t first, TTransaction& tx) {
    tx.Start(directory_.OpenTables());
    std::vector<int32_t> ids;
    for (int32_t id = first; id < first + 5; ++id) {
      Insert(*c, id);
      ids.push_back(id);
    }
    return ids;
  };
  int count = 0;
  {
    TTransaction tx;
    const std::vector<int32_t> ids = transaction(1000, tx);
    disk_->Arm(Kind(), 0);
    tx.Commit();
    count = disk_->Count(Kind());
    committed.insert(committed.end(), ids.begin(), ids.end());
  }
  ASSERT_GT(count, 0);
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(std::string(KindName(Kind())) + " " + std::to_string(n) + " of " +
                 std::to_string(count));
    TTransaction tx;
    const std::vector<int32_t> ids = transaction(2000 + 10 * n, tx);
    disk_->Arm(Kind(), n);
    EXPECT_EQ(test::ErrorCodeOf([&] { tx.Commit(); }), err::kWriteError);
    EXPECT_FALSE(tx.Active());
    c->Close();
    ExpectSound(committed, {ids});
    c = Open();
  }
}

TEST_P(WriteFailureTest, ADiskThatKeepsFailingLeavesWhatRepairMends) {
  std::vector<int32_t> returned;
  std::unique_ptr<TDataCursor> c = Open();
  const int count = FillAndCount(*c, returned);
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(std::string(KindName(Kind())) + " " + std::to_string(n) + " of " +
                 std::to_string(count) + " and on");
    const int32_t id = 100 + n;
    disk_->Arm(Kind(), n, true);
    EXPECT_EQ(test::ErrorCodeOf([&] { Insert(*c, id); }), err::kWriteError);
    // Neither can the close write the rest.
    EXPECT_EQ(test::ErrorCodeOf([&] { c->Close(); }), err::kWriteError);
    disk_->Disarm();
    if (!Sound()) {
      TFileList::Process()->SetDisk(nullptr);
      RepairDataFile(dir_, "t");
      RepairIndexFile(dir_, "t", {});
      TFileList::Process()->SetDisk(disk_);
    }
    ExpectSound(returned, {{id}});
    c = Open();
  }
}

TEST_P(WriteFailureTest, AFailedChangeOrDeleteLeavesTheTableSound) {
  // Each change is made to a record inserted just before it: version 1 or 2 of it, or 0 for
  // its deletion.
  struct TCase {
    const char* name;
    int version;
  };
  const TCase cases[] = {{"change", 1}, {"change to a longer memo", 2}, {"delete", 0}};
  std::map<int32_t, int> returned;  // id -> version of every change that returned
  std::unique_ptr<TDataCursor> c = Open();
  int32_t next = 1;
  for (; next <= 20; ++next) {
    Insert(*c, next);
    returned[next] = 0;
  }
  for (const TCase& change : cases) {
    // First how many writes (or syncs) the change makes.
    Insert(*c, next);
    disk_->Arm(Kind(), 0);
    Change(*c, next, change.version);
    const int count = disk_->Count(Kind());
    if (change.version == 0) {
      returned.erase(next);
    } else {
      returned[next] = change.version;
    }
    ++next;
    ASSERT_GT(count, 0) << change.name;
    for (int n = 1; n <= count; ++n) {
      SCOPED_TRACE(std::string(change.name) + ", " + KindName(Kind()) + " " + std::to_string(n) +
                   " of " + std::to_string(count));
      const int32_t id = next++;
      Insert(*c, id);
      returned[id] = 0;
      disk_->Arm(Kind(), n);
      EXPECT_EQ(test::ErrorCodeOf([&] { Change(*c, id, change.version); }), err::kWriteError);
      if (n % 2 == 0) {
        // The next change writes the rest first.
        const int32_t other = next++;
        Insert(*c, other);
        returned[other] = 0;
      }
      c->Close();
      std::map<int32_t, int> found = Contents();
      // The failed change is there whole or not at all.
      const auto it = found.find(id);
      if (change.version == 0 && it == found.end()) {
        returned.erase(id);
      } else if (it != found.end() && it->second == change.version) {
        returned[id] = change.version;
      }
      EXPECT_EQ(found, returned);
      returned = found;
      c = Open();
    }
  }
}

TEST_P(WriteFailureTest, AFailedCommitOfChangesAndDeletionsLeavesTheTableSound) {
  std::map<int32_t, int> committed;  // id -> version
  std::unique_ptr<TDataCursor> c = Open();
  int32_t next = 1;
  for (; next <= 20; ++next) {
    Insert(*c, next);
    committed[next] = 0;
  }
  // A transaction that inserts two records, changes two and deletes one, all made just
  // before it; returns the contents it commits.
  auto transaction = [&](TTransaction& tx) {
    const int32_t first = next;
    for (int i = 0; i < 3; ++i) {
      Insert(*c, next);
      committed[next++] = 0;
    }
    std::map<int32_t, int> after = committed;
    tx.Start(directory_.OpenTables());
    for (int i = 0; i < 2; ++i) {
      Insert(*c, next);
      after[next++] = 0;
    }
    Change(*c, first, 1);
    after[first] = 1;
    Change(*c, first + 1, 2);
    after[first + 1] = 2;
    Change(*c, first + 2, 0);
    after.erase(first + 2);
    return after;
  };
  int count = 0;
  {
    TTransaction tx;
    const std::map<int32_t, int> after = transaction(tx);
    disk_->Arm(Kind(), 0);
    tx.Commit();
    count = disk_->Count(Kind());
    committed = after;
  }
  ASSERT_GT(count, 0);
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(std::string(KindName(Kind())) + " " + std::to_string(n) + " of " +
                 std::to_string(count));
    TTransaction tx;
    const std::map<int32_t, int> after = transaction(tx);
    disk_->Arm(Kind(), n);
    EXPECT_EQ(test::ErrorCodeOf([&] { tx.Commit(); }), err::kWriteError);
    EXPECT_FALSE(tx.Active());
    c->Close();
    // The transaction is there whole or not at all.
    const std::map<int32_t, int> found = Contents();
    if (found != after) {
      EXPECT_EQ(found, committed);
    }
    committed = found;
    c = Open();
  }
}

// A commit whose change journal takes several write pieces: a failure at any write of it
// leaves the transaction there whole or not at all, and once a small change follows, the
// journal gives back the space the large one took.
TEST_P(WriteFailureTest, ALargeCommitIsWholeOrAbsentAndItsJournalShrinksAfterwards) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("text", ftype::kString, 250)};
  p.indexes = IdPrimaryAndByName();
  p.indexes.secondaries.clear();
  TDataTable(dir_, "wide").Create(p);
  constexpr int32_t kRows = 5000;  // about 1.3 MB of records
  auto open = [&] { return Open("wide"); };
  auto insert = [](TDataCursor& c, int32_t id) {
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.InitRecord(image.data());
    c.Format().SetInteger(1, image.data(), id);
    c.Format().SetString(2, image.data(), std::string(200, static_cast<char>('a' + id % 26)));
    c.InsertRecord(image.data(), false);
  };
  std::unique_ptr<TDataCursor> c = open();
  auto fill = [&](TTransaction& tx, int32_t first) {
    tx.Start(directory_.OpenTables());
    for (int32_t id = first; id < first + kRows; ++id)
      insert(*c, id);
  };
  // The ids in the table, through the real disk, after a check of the table.
  auto present = [&] {
    TFileList::Process()->SetDisk(nullptr);
    std::set<int32_t> ids;
    {
      TDataTable t(dir_, "wide");
      t.Open();
      EXPECT_EQ(CheckDataRecords(t), std::vector<std::string>{});
      EXPECT_EQ(CheckIndexes(t), std::vector<std::string>{});
    }
    std::unique_ptr<TDataCursor> r = open();
    std::vector<uint8_t> image(static_cast<std::size_t>(r->RecordSize()));
    while (r->Next(image.data()) == TDataCursor::kRecordRead)
      ids.insert(static_cast<int32_t>(*r->Format().GetInteger(1, image.data())));
    TFileList::Process()->SetDisk(disk_);
    return ids;
  };
  int count = 0;
  {
    TTransaction tx;
    fill(tx, 1);
    disk_->Arm(Kind(), 0);
    tx.Commit();
    count = disk_->Count(Kind());
  }
  const std::string journal = TableFileName(dir_, "wide", kJournalExt);
  EXPECT_GT(fs::file_size(journal), std::size_t{1} << 20);
  std::set<int32_t> expected = present();
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kRows));
  // The journal's pieces, its header and CRC, and the first record writes come first; later
  // writes are those of any commit (the test above).
  ASSERT_GT(count, Kind() == TFailingDisk::TKind::Write ? 8 : 3);
  for (int n = 1; n <= std::min(count, 12); ++n) {
    SCOPED_TRACE(std::string(KindName(Kind())) + " " + std::to_string(n) + " of " +
                 std::to_string(count));
    const int32_t first = 100000 * n;
    TTransaction tx;
    fill(tx, first);
    disk_->Arm(Kind(), n);
    EXPECT_EQ(test::ErrorCodeOf([&] { tx.Commit(); }), err::kWriteError);
    c->Close();
    const std::set<int32_t> ids = present();
    if (ids.count(first) != 0) {
      for (int32_t id = first; id < first + kRows; ++id)
        expected.insert(id);
    }
    EXPECT_EQ(ids, expected);
    c = open();
  }
  disk_->Disarm();
  insert(*c, 99999);
  c->Close();
  EXPECT_LT(fs::file_size(journal), std::size_t{64} << 10);
}

INSTANTIATE_TEST_SUITE_P(WritesAndSyncs, WriteFailureTest,
                         ::testing::Values(TFailingDisk::TKind::Write, TFailingDisk::TKind::Sync),
                         [](const auto& info) { return std::string(KindName(info.param)); });

}  // namespace
}  // namespace mt
