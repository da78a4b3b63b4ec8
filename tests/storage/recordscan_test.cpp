// Scans in runs (TRecordScan): they show the records Next shows, in the same order where the
// order is the cursor's, whatever the run length, with filters answered from the indexes or
// evaluated record by record; a change another table object makes between runs shows in the
// next run; the lock is given back between runs; the slot scan sees deleted slots and the
// unwritten records of a transaction. A find reads its record in the same operation.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/storage/datacursor.h"
#include "engine/storage/recordscan.h"
#include "engine/storage/transaction.h"
#include "filterfixture.h"
#include "storagetest.h"

namespace mt {
namespace {

using namespace filterfixture;

struct TSeen {
  std::vector<int32_t> numbers;
  std::vector<int64_t> ids;
};

// The ids Next shows, in the cursor's order, with their record numbers.
TSeen ByNext(TDataCursor& c) {
  TSeen seen;
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  c.First();
  while (c.Next(image.data()) == 0) {
    seen.numbers.push_back(c.CurrentRecordNumber());
    seen.ids.push_back(*c.Format().GetInteger(kId, image.data()));
  }
  return seen;
}

TSeen ByScan(TRecordScan& scan, const TRecordFormat& format) {
  TSeen seen;
  while (const uint8_t* image = scan.Next()) {
    seen.numbers.push_back(scan.RecordNumber());
    seen.ids.push_back(*format.GetInteger(kId, image));
  }
  return seen;
}

class RecordScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateTable(dir_.Path(), "t", true);
    directory_ = std::make_unique<TDataDirectory>(dir_.Path());
    Fill(*directory_, "t", 600);
  }
  void TearDown() override { directory_.reset(); }

  std::unique_ptr<TDataCursor> OpenCursor(TDataDirectory& directory) {
    auto c = std::make_unique<TDataCursor>(directory);
    c->SetTableName("t");
    c->Open();
    return c;
  }

  test::TScratchDir dir_{"mt-scan"};
  std::unique_ptr<TDataDirectory> directory_;
};

TEST_F(RecordScanTest, ScansShowWhatNextShows) {
  struct TCase {
    const char* index;  // nullptr: record-number order
    const char* filter;
    bool callback;
    bool range;
    int maxRecords;
  };
  const TCase cases[] = {
      {nullptr, nullptr, false, false, 0},     {nullptr, nullptr, false, false, 1},
      {"", nullptr, false, false, 7},          {"ByName", nullptr, false, false, 0},
      {"ByName", nullptr, false, false, 3},    {nullptr, "qty > 20", false, false, 5},
      {"ByName", "qty > 20", false, false, 0}, {nullptr, "note = 'rent'", false, false, 0},
      {nullptr, nullptr, true, false, 9},      {"ByName", nullptr, false, true, 4},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(std::string(k.index ? k.index : "(records)") + " " + (k.filter ? k.filter : "") +
                 (k.callback ? " callback" : "") + (k.range ? " range" : "") + " runs of " +
                 std::to_string(k.maxRecords));
    auto c = OpenCursor(*directory_);
    if (k.index != nullptr) {
      c->ChooseIndex(k.index);
    } else {
      c->ChooseBitmapOrder();
    }
    if (k.filter != nullptr) c->AddFilter(std::string_view(k.filter));
    if (k.callback) {
      c->AddFilter([&](const uint8_t* image) {
        return c->Format().GetInteger(kQty, image).value_or(0) % 2 == 0;
      });
    }
    if (k.range) {
      std::vector<uint8_t> low(static_cast<std::size_t>(c->RecordSize()));
      std::vector<uint8_t> high(low.size());
      c->InitRecord(low.data());
      c->InitRecord(high.data());
      c->Format().SetString(kName, low.data(), "a");
      c->Format().SetString(kName, high.data(), "cherry");
      c->SetRange(low.data(), 1, high.data(), 1);
    }
    const TSeen expected = ByNext(*c);
    ASSERT_FALSE(expected.ids.empty());
    TScanLimits limits;
    limits.maxRecords = k.maxRecords;
    {
      TRecordScan scan(*c, TRecordScan::TOrder::Cursor, limits);
      const TSeen got = ByScan(scan, c->Format());
      EXPECT_EQ(got.ids, expected.ids);
      EXPECT_EQ(got.numbers, expected.numbers);
      if (k.maxRecords > 0) {
        EXPECT_GE(scan.Runs(), static_cast<int>(got.ids.size()) / k.maxRecords);
      }
    }
    // In record order: the same records by ascending record number (a range keeps the
    // index's order).
    TRecordScan scan(*c, TRecordScan::TOrder::Records, limits);
    const TSeen got = ByScan(scan, c->Format());
    EXPECT_EQ(std::multiset<int64_t>(got.ids.begin(), got.ids.end()),
              std::multiset<int64_t>(expected.ids.begin(), expected.ids.end()));
    if (!k.range) {
      EXPECT_TRUE(std::is_sorted(got.numbers.begin(), got.numbers.end()));
    }
    EXPECT_FALSE(scan.Changed());
  }
}

TEST_F(RecordScanTest, ChangesBetweenRunsShowInTheNextRun) {
  for (const bool filtered : {false, true}) {
    SCOPED_TRACE(filtered ? "filtered" : "unfiltered");
    auto c = OpenCursor(*directory_);
    c->ChooseBitmapOrder();
    // The filter keeps every record; its visible records go stale with the other object's
    // change, so the later runs evaluate it record by record.
    if (filtered) c->AddFilter([](const uint8_t*) { return true; });
    const TSeen before = ByNext(*c);
    const TRecordFormat& f = c->Format();
    TScanLimits limits;
    limits.maxRecords = 10;
    TRecordScan scan(*c, TRecordScan::TOrder::Records, limits);
    ASSERT_NE(scan.Next(), nullptr);
    // Between runs the table holds no lock of this process: writers can go in.
    EXPECT_FALSE(c->Table().Locks().ReadLocked());
    // Another table object (its own files and locks, as another process has them) deletes a record
    // the scan has not reached, changes one and adds one.
    const int32_t gone = before.numbers[100];
    const int64_t goneId = before.ids[100];
    const int32_t changed = before.numbers[200];
    {
      TDataTable other(dir_.Path(), "t");
      other.Open();
      const int owner = 0;
      std::vector<uint8_t> image(static_cast<std::size_t>(c->RecordSize()));
      auto read = [&](int32_t n) {
        TPinnedRecord r(other.Data().GetRecord(n));
        ASSERT_TRUE(r);
        std::copy(r->Image(), r->Image() + image.size(), image.begin());
      };
      read(gone);
      other.Writer().Delete(gone, image.data(), &owner);
      read(changed);
      f.SetString(kNote, image.data(), "changed");
      other.Writer().Modify(changed, image.data(), nullptr, {.owner = &owner});
      f.InitRecord(image.data());
      f.SetString(kNote, image.data(), "added");
      other.Writer().Insert(image.data(), {.owner = &owner});
      other.Close();
    }
    std::set<int32_t> numbers;
    int added = 0;
    while (const uint8_t* image = scan.Next()) {
      EXPECT_TRUE(numbers.insert(scan.RecordNumber()).second) << scan.RecordNumber();
      EXPECT_NE(*f.GetInteger(kId, image), goneId);
      const std::string note = f.GetString(kNote, image).value_or("");
      if (scan.RecordNumber() == changed) {
        EXPECT_EQ(note, "changed");
      }
      if (note == "added") ++added;
    }
    EXPECT_TRUE(scan.Changed());
    EXPECT_EQ(added, 1);
    // All but the first record, which came before the loop; one gone, one added.
    EXPECT_EQ(numbers.size(), before.numbers.size() - 1);
  }
}

TEST_F(RecordScanTest, SlotScanSeesDeletedSlotsAndUnwrittenRecords) {
  auto c = OpenCursor(*directory_);
  TDataTable& table = c->Table();
  const int32_t slots = table.Data().RecordCount();
  TTransaction tx;
  tx.Start({&table});
  std::vector<uint8_t> image(static_cast<std::size_t>(c->RecordSize()));
  c->InitRecord(image.data());
  c->Format().SetString(kNote, image.data(), "in the transaction");
  const int32_t added = c->InsertRecord(image.data());
  int deleted = 0;
  int32_t last = 0;
  bool sawAdded = false;
  TScanLimits limits;
  limits.maxRecords = 50;
  TRecordScan scan(table, limits);
  while (const uint8_t* slot = scan.Next()) {
    EXPECT_EQ(scan.RecordNumber(), last + 1);
    last = scan.RecordNumber();
    if (slot[rec::kState] == rec::kDeleted) ++deleted;
    if (last == added) {
      sawAdded = c->Format().GetString(kNote, slot).value_or("") == "in the transaction";
    }
  }
  EXPECT_EQ(last, std::max(slots, added));
  EXPECT_GT(deleted, 0);
  EXPECT_TRUE(sawAdded);
  tx.Rollback();
}

TEST_F(RecordScanTest, FindKeyReadsTheRecordItFinds) {
  auto c = OpenCursor(*directory_);
  const TSeen all = ByNext(*c);
  std::vector<uint8_t> key(static_cast<std::size_t>(c->RecordSize()));
  std::vector<uint8_t> found(key.size());
  std::vector<uint8_t> current(key.size());
  for (const int64_t id : {all.ids.front(), all.ids[all.ids.size() / 2], all.ids.back()}) {
    c->InitRecord(key.data());
    c->Format().SetInteger(kId, key.data(), id);
    ASSERT_TRUE(c->FindKey(key.data(), 1, true, found.data()));
    ASSERT_EQ(c->GetCurrentRecord(current.data()), 0);
    EXPECT_EQ(found, current) << id;
  }
  c->InitRecord(key.data());
  c->Format().SetInteger(kId, key.data(), all.ids.back() + 1000);
  EXPECT_FALSE(c->FindKey(key.data(), 1, true, found.data()));
}

}  // namespace
}  // namespace mt
