// Cursors in index order with changes: inserts, changes and deletes keep every index and the
// record-identifier index in step; duplicate keys change nothing; a record whose key moves
// stays current; find key, ranges, ordinals and filters in index order; a second cursor
// re-synchronises after the first one's changes; a lost index file is rebuilt on open.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/byteio.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

// Fields: 1 id (primary), 2 name (index "ByName"), 3 code (unique index "ByCode"), 4 amount.
class CursorIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::make_unique<TDataDirectory>(dir_);
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                Field("code", ftype::kString, 8), Field("amount", ftype::kFloat)};
    TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
    TIndexDescriptor byName;
    byName.name = "ByName";
    byName.fields = {2};
    TIndexDescriptor byCode;
    byCode.name = "ByCode";
    byCode.fields = {3};
    byCode.unique = true;
    p.indexes.secondaries = {byName, byCode};
    TDataTable(dir_, "t").Create(p);
    c_ = Open();
    buf_.resize(c_->RecordSize());
  }
  void TearDown() override {
    c_.reset();
    directory_.reset();
  }
  std::unique_ptr<TDataCursor> Open() {
    auto c = std::make_unique<TDataCursor>(*directory_);
    c->SetTableName("t");
    c->Open();
    return c;
  }
  std::vector<uint8_t> Image(TDataCursor& c, int32_t id, const std::string& name,
                             const std::string& code, double amount = 0) {
    std::vector<uint8_t> image(c.RecordSize());
    c.InitRecord(image.data());
    c.Format().SetInteger(1, image.data(), id);
    c.Format().SetString(2, image.data(), name);
    c.Format().SetString(3, image.data(), code);
    c.Format().SetFloat(4, image.data(), amount);
    return image;
  }
  int32_t Insert(int32_t id, const std::string& name, const std::string& code, double amount = 0) {
    return c_->InsertRecord(Image(*c_, id, name, code, amount).data());
  }
  int32_t Id(const std::vector<uint8_t>& image) const {
    return static_cast<int32_t>(*c_->Format().GetInteger(1, image.data()));
  }
  // Ids of the visible records from first to last, and back from last to first.
  std::vector<int32_t> Ids(TDataCursor& c) {
    std::vector<uint8_t> b(c.RecordSize());
    std::vector<int32_t> forward;
    std::vector<int32_t> backward;
    c.First();
    while (c.Next(b.data()) == 0)
      forward.push_back(static_cast<int32_t>(*c.Format().GetInteger(1, b.data())));
    c.Last();
    while (c.Prior(b.data()) == 0)
      backward.push_back(static_cast<int32_t>(*c.Format().GetInteger(1, b.data())));
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, backward);
    return forward;
  }
  // Every index holds one entry per active record (the record-identifier index one per slot)
  // and a sound tree.
  void ExpectIndexesSound() {
    TDataTable& t = c_->Table();
    int64_t active = 0;
    for (int32_t n = 1; n <= t.Data().RecordCount(); ++n) {
      TPinnedRecord r(t.Data().GetRecord(n));
      if (r->Image()[rec::kState] == rec::kActive) ++active;
    }
    for (int slot : {0, 1, 2, kRecordIdSlot}) {
      int64_t entries = 0;
      EXPECT_TRUE(t.Index().Tree(slot).CheckStructure(&entries).empty()) << slot;
      EXPECT_EQ(entries, slot == kRecordIdSlot ? t.Data().RecordCount() : active) << slot;
    }
    EXPECT_EQ(t.Index().Header().activeRecords, active);
  }

  test::TScratchDir scratch_{"mt-cursorix"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
  std::unique_ptr<TDataCursor> c_;
  std::vector<uint8_t> buf_;
};

TEST_F(CursorIndexTest, InsertsKeepEveryOrder) {
  std::vector<int32_t> ids(300);
  for (int i = 0; i < 300; ++i)
    ids[i] = i * 7 + 1;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(5));
  for (int32_t id : ids)
    Insert(id, "n" + std::to_string(id % 10), "c" + std::to_string(id));
  // Equal names keep the order of insertion (the record identifier ends their keys).
  std::vector<int32_t> expected = ids;
  std::stable_sort(expected.begin(), expected.end(),
                   [](int32_t a, int32_t b) { return a % 10 < b % 10; });
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(c_->CurrentIndex(), kPrimarySlot);
  EXPECT_EQ(Ids(*c_), ids);
  EXPECT_EQ(c_->RecordCount(), 300u);
  ASSERT_TRUE(c_->GoToOrdinal(10));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), ids[9]);
  EXPECT_EQ(c_->CurrentOrdinal(), 10u);
  EXPECT_FALSE(c_->GoToOrdinal(301));

  // The current record stays current in another order.
  c_->ChooseIndex("byname");
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), ids[9]);
  EXPECT_EQ(Ids(*c_), expected);
  c_->ChooseIndex("");
  EXPECT_EQ(c_->CurrentIndex(), kPrimarySlot);
  EXPECT_EQ(ErrorCodeOf([&] { c_->ChooseIndex("nosuch"); }), err::kInvalidIndexName);
  ExpectIndexesSound();
}

TEST_F(CursorIndexTest, DuplicateKeysChangeNothing) {
  Insert(1, "a", "x");
  Insert(2, "b", "y");
  EXPECT_EQ(ErrorCodeOf([&] { Insert(1, "c", "z"); }), err::kDuplicateKey);
  // Primary fine, unique secondary taken: the primary index must not keep the new key.
  EXPECT_EQ(ErrorCodeOf([&] { Insert(3, "c", "y"); }), err::kDuplicateKey);
  EXPECT_EQ(c_->RecordCount(), 2u);
  EXPECT_EQ(Ids(*c_), (std::vector<int32_t>{1, 2}));
  Insert(3, "c", "z");
  // A change onto another record's unique key.
  ASSERT_TRUE(c_->GoToOrdinal(3));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(ErrorCodeOf([&] { c_->ModifyRecord(Image(*c_, 3, "c", "x").data()); }),
            err::kDuplicateKey);
  EXPECT_EQ(ErrorCodeOf([&] { c_->ModifyRecord(Image(*c_, 2, "c", "q").data()); }),
            err::kDuplicateKey);
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(*c_->Format().GetString(3, buf_.data()), "z");
  ExpectIndexesSound();
}

TEST_F(CursorIndexTest, AChangedRecordStaysCurrentInItsNewPlace) {
  for (int32_t id : {10, 20, 30, 40})
    Insert(id, "n", "c" + std::to_string(id));
  ASSERT_TRUE(c_->GoToOrdinal(2));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  c_->ModifyRecord(Image(*c_, 35, "n", "c20").data());
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 35);
  EXPECT_EQ(c_->CurrentOrdinal(), 3u);
  ASSERT_EQ(c_->Next(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 40);
  EXPECT_EQ(Ids(*c_), (std::vector<int32_t>{10, 30, 35, 40}));
  ExpectIndexesSound();
}

TEST_F(CursorIndexTest, DeletesStandOnTheFollowingRecordAndSlotsAreReused) {
  for (int32_t id : {1, 2, 3, 4, 5})
    Insert(id, "n", "c" + std::to_string(id));
  ASSERT_TRUE(c_->GoToOrdinal(3));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  const int32_t slot = c_->CurrentRecordNumber();
  std::vector<uint8_t> stale = buf_;
  stale[rec::kFirstField + 1] ^= 1;
  EXPECT_EQ(ErrorCodeOf([&] { c_->DeleteRecord(stale.data()); }), err::kRecordChanged);
  c_->DeleteRecord(buf_.data());
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 4);
  EXPECT_EQ(c_->RecordCount(), 4u);
  // The freed slot takes the next record, with a new record identifier.
  EXPECT_EQ(Insert(9, "n", "c9"), slot);
  EXPECT_EQ(Ids(*c_), (std::vector<int32_t>{1, 2, 4, 5, 9}));
  ExpectIndexesSound();
  // Delete everything from the last record backwards.
  c_->Last();
  while (c_->Prior(buf_.data()) == 0)
    c_->DeleteRecord(buf_.data());
  EXPECT_EQ(c_->RecordCount(), 0u);
  EXPECT_EQ(c_->GetCurrentRecord(buf_.data()), err::kNoCurrentRecord);
  ExpectIndexesSound();
}

TEST_F(CursorIndexTest, FindKeyAndRanges) {
  for (int32_t id : {10, 20, 30, 40, 50})
    Insert(id, id < 30 ? "apple" : "pear", "c" + std::to_string(id));
  std::vector<uint8_t> key = Image(*c_, 30, "", "");
  EXPECT_TRUE(c_->FindKey(key.data(), 1, true));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 30);
  key = Image(*c_, 31, "", "");
  EXPECT_FALSE(c_->FindKey(key.data(), 1, true));
  EXPECT_EQ(c_->CurrentRecordNumber(), 3);  // unchanged
  EXPECT_FALSE(c_->FindKey(key.data(), 1, false));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 40);
  key = Image(*c_, 99, "", "");
  EXPECT_FALSE(c_->FindKey(key.data(), 1, false));
  EXPECT_TRUE(c_->AfterLast());

  // Range over the leading field of the name index: every "pear".
  c_->ChooseIndex("ByName");
  const std::vector<uint8_t> pear = Image(*c_, 0, "pear", "");
  c_->SetRange(pear.data(), 1, pear.data(), 1);
  EXPECT_EQ(Ids(*c_), (std::vector<int32_t>{30, 40, 50}));
  EXPECT_EQ(c_->RecordCount(), 3u);
  ASSERT_TRUE(c_->GoToOrdinal(2));
  EXPECT_EQ(c_->CurrentOrdinal(), 2u);
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 40);
  c_->CancelRange();
  EXPECT_EQ(c_->RecordCount(), 5u);
  // An empty range.
  const std::vector<uint8_t> plum = Image(*c_, 0, "plum", "");
  c_->SetRange(plum.data(), 1, plum.data(), 1);
  EXPECT_EQ(c_->RecordCount(), 0u);
  c_->First();
  EXPECT_EQ(c_->Next(buf_.data()), err::kEndOfTable);
  EXPECT_EQ(c_->GetCurrentRecord(buf_.data()), err::kNoCurrentRecord);
}

TEST_F(CursorIndexTest, FiltersInIndexOrder) {
  for (int32_t id = 1; id <= 20; ++id)
    Insert(id, "n" + std::to_string(20 - id), "c" + std::to_string(id));
  const TRecordFormat& f = c_->Format();
  c_->AddFilter([&f](const uint8_t* image) { return *f.GetInteger(1, image) % 3 == 0; });
  EXPECT_EQ(Ids(*c_), (std::vector<int32_t>{3, 6, 9, 12, 15, 18}));
  EXPECT_EQ(c_->RecordCount(), 6u);
  ASSERT_TRUE(c_->GoToOrdinal(4));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(Id(buf_), 12);
  EXPECT_EQ(c_->CurrentOrdinal(), 4u);
  c_->ChooseIndex("ByName");
  EXPECT_EQ(c_->CurrentOrdinal(), 6u);  // "n8" last: n11, n14, n17, n2, n5, n8
  // An inserted record that passes the filter becomes visible at once.
  Insert(21, "a", "c21");
  EXPECT_EQ(c_->RecordCount(), 7u);
  Insert(22, "a", "c22");
  EXPECT_EQ(c_->RecordCount(), 7u);
}

TEST_F(CursorIndexTest, ASecondCursorResynchronises) {
  for (int32_t id : {1, 2, 3, 4, 5})
    Insert(id, "n", "c" + std::to_string(id));
  auto b = Open();
  std::vector<uint8_t> bb(b->RecordSize());
  ASSERT_TRUE(b->GoToOrdinal(3));
  ASSERT_EQ(b->GetCurrentRecord(bb.data()), 0);
  ASSERT_TRUE(c_->GoToOrdinal(3));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  c_->ModifyRecord(Image(*c_, 3, "changed", "c3").data());
  // b's edit of the record it read before fails; re-read, it sees the change.
  EXPECT_EQ(ErrorCodeOf([&] { b->GetCurrentRecord(bb.data(), true); }), err::kRecordChanged);
  ASSERT_EQ(b->GetCurrentRecord(bb.data()), 0);
  EXPECT_EQ(*b->Format().GetString(2, bb.data()), "changed");
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  c_->DeleteRecord(buf_.data());
  ASSERT_EQ(b->GetCurrentRecord(bb.data()), 0);
  EXPECT_EQ(*b->Format().GetInteger(1, bb.data()), 4);
  EXPECT_EQ(b->RecordCount(), 4u);
  Insert(0, "n", "c0");
  EXPECT_EQ(Ids(*b), (std::vector<int32_t>{0, 1, 2, 4, 5}));
}

TEST_F(CursorIndexTest, ALostIndexFileIsRebuiltOnOpen) {
  for (int32_t id : {5, 3, 1, 4, 2})
    Insert(id, "n" + std::to_string(id), "c" + std::to_string(id));
  c_->Close();
  fs::remove(TableFileName(dir_ + "/", "t", kIndexExt));
  // The new index file knows no index definitions: the cursor reads in record order, and the
  // record-identifier index holds every record again.
  c_ = Open();
  EXPECT_EQ(c_->CurrentIndex(), TDataCursor::kNoIndex);
  EXPECT_EQ(c_->RecordCount(), 5u);
  ASSERT_TRUE(c_->GoToOrdinal(1));
  ASSERT_EQ(c_->GetCurrentRecord(buf_.data()), 0);
  EXPECT_EQ(*c_->Format().GetString(2, buf_.data()), "n5");
  int64_t entries = 0;
  EXPECT_TRUE(c_->Table().Index().Tree(kRecordIdSlot).CheckStructure(&entries).empty());
  EXPECT_EQ(entries, 5);
}

}  // namespace
}  // namespace mt
