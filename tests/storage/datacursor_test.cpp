// Cursors in record-number order: positions at the ends and on empty tables, moving over
// deleted records, the position after the cursor's own changes hide its record, ordinals and
// counts, callback filters, two cursors of one process seeing each other's changes, the shared
// table of the database directory with its exclusive and password refusals, and the character
// orders of table locales.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/common/charmaps.h"
#include "engine/common/localetext.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = std::make_unique<TDataDirectory>(dir_); }
  void TearDown() override { directory_.reset(); }

  void CreateTable(const std::string& name, bool withPrimary = false, std::string password = {}) {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("note", ftype::kString, 20)};
    if (withPrimary) {
      TIndexDescriptor primary;
      primary.fields = {1};
      p.indexes.primary = primary;
      TIndexDescriptor byNote;
      byNote.name = "ByNote";
      byNote.fields = {2};
      p.indexes.secondaries.push_back(byNote);
    }
    if (!password.empty()) {
      p.encrypted = true;
      p.password = password;
    }
    TDataTable(dir_, name).Create(p);
  }

  // Appends records with the given ids through the shared table and writes them, as another
  // cursor's change would.
  void Append(const std::string& name, const std::vector<int32_t>& ids) {
    TDataTable& t = directory_->OpenTable(name, false, {});
    TDataFile& data = t.Data();
    for (int32_t id : ids) {
      const int32_t n = data.NextRecordNumber();
      TPinnedRecord r(data.GetRecord(n, TReadAhead::None, true));
      data.Format().InitRecord(r->Image());
      le::PutI32(r->Image(), rec::kNumber, n);
      data.Format().SetInteger(1, r->Image(), id);
      data.Format().SetString(2, r->Image(), "note " + std::to_string(id));
      r->MarkDirty();
    }
    data.MarkHeaderDirty();
    data.FlushAll();
    directory_->CloseTable(t);
  }

  void Remove(const std::string& name, int32_t n) {
    TDataTable& t = directory_->OpenTable(name, false, {});
    {
      TPinnedRecord r(t.Data().GetRecord(n));
      t.Data().DeleteRecord(r.Get());
    }
    t.Data().FlushAll();
    directory_->CloseTable(t);
  }

  void ChangeId(const std::string& name, int32_t n, int32_t id) {
    TDataTable& t = directory_->OpenTable(name, false, {});
    {
      TPinnedRecord r(t.Data().GetRecord(n));
      t.Data().Format().SetInteger(1, r->Image(), id);
      r->MarkDirty();
    }
    t.Data().MarkHeaderDirty();
    t.Data().FlushAll();
    directory_->CloseTable(t);
  }

  std::unique_ptr<TDataCursor> OpenCursor(const std::string& name) {
    auto c = std::make_unique<TDataCursor>(*directory_);
    c->SetTableName(name);
    c->Open();
    return c;
  }

  static int32_t IdOf(const TDataCursor& c, const std::vector<uint8_t>& image) {
    return static_cast<int32_t>(*c.Format().GetInteger(1, image.data()));
  }

  // The ids of the visible records from first to last.
  static std::vector<int32_t> Ids(TDataCursor& c) {
    std::vector<uint8_t> buf(c.RecordSize());
    std::vector<int32_t> ids;
    c.First();
    while (c.Next(buf.data()) == 0)
      ids.push_back(IdOf(c, buf));
    return ids;
  }

  test::TScratchDir scratch_{"mt-cursor"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
};

// A scratch table (a query's result) keeps unwritten records in its cache only up to a budget
// however many it takes, and writes them without a change journal, when it closes too.
TEST_F(CursorTest, AScratchTableKeepsItsCacheBoundedAndWritesNoJournal) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("text", ftype::kString, 250)};
  TDataTable(dir_, "result").Create(p);
  constexpr int kRecords = 40000;  // about 10 MB of records
  {
    TDataCursor c(*directory_);
    c.SetTableName("result");
    c.SetExclusive(true);
    c.SetScratch(true);
    c.Open();
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    std::size_t most = 0;
    for (int i = 1; i <= kRecords; ++i) {
      c.Format().InitRecord(image.data());
      c.Format().SetInteger(1, image.data(), i);
      c.InsertRecord(image.data(), false);
      most = std::max(most, c.Table().Data().CachedRecords());
    }
    EXPECT_LE(most * static_cast<std::size_t>(c.RecordSize()), std::size_t{8} << 20);
    c.Close();
  }
  EXPECT_FALSE(fs::exists(TableFileName(dir_, "result", kJournalExt)));
  TDataCursor reader(*directory_);
  reader.SetTableName("result");
  reader.Open();
  EXPECT_EQ(reader.RecordCount(), static_cast<uint32_t>(kRecords));
}

// Runs of records appended in bulk to a scratch table follow the records inserted one by one:
// identifiers and numbers go on, the record-identifier index finds every record and the table
// checks clean after its close. A run with a refused value adds nothing. Tables that keep more
// per record take no bulk appends.
TEST_F(CursorTest, AScratchTableTakesRunsOfRecordsInBulk) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("text", ftype::kString, 250)};
  p.fields[0].required = true;
  TDataTable(dir_, "result").Create(p);
  constexpr int kSingles = 3;
  constexpr int kRun = 5000;  // several times the cache's budget of records
  {
    TDataCursor c(*directory_);
    c.SetTableName("result");
    c.SetExclusive(true);
    c.SetScratch(true);
    c.Open();
    ASSERT_TRUE(c.CanAppendInBulk());
    c.ChooseIndexSlot(kRecordIdSlot);
    const std::size_t size = static_cast<std::size_t>(c.RecordSize());
    std::vector<uint8_t> image(size);
    for (int i = 1; i <= kSingles; ++i) {
      c.Format().InitRecord(image.data());
      c.Format().SetInteger(1, image.data(), i);
      c.InsertRecord(image.data(), false);
    }
    std::vector<uint8_t> run(size * kRun);
    for (int i = 0; i < kRun; ++i) {
      uint8_t* r = run.data() + size * static_cast<std::size_t>(i);
      c.Format().InitRecord(r);
      c.Format().SetInteger(1, r, kSingles + 1 + i);
      std::memset(r, 0xEE, 9);  // the slot bytes are the append's to fill
    }
    c.AppendInBulk(run.data(), kRun);
    // The last image lacks its required value: the whole run is refused.
    std::vector<uint8_t> refused(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(2 * size));
    refused[size + static_cast<std::size_t>(c.Format().Field(1).offset)] = 0;
    EXPECT_THROW(c.AppendInBulk(refused.data(), 2), EEngineError);
    EXPECT_EQ(c.RecordCount(), static_cast<uint32_t>(kSingles + kRun));
    // In record-identifier order the cursor meets every record once, with its values.
    c.First();
    int n = 0;
    while (c.Next(image.data()) == 0) {
      ++n;
      ASSERT_EQ(le::GetI32(image.data(), rec::kAutoInc), n);
      ASSERT_EQ(IdOf(c, image), n);
    }
    EXPECT_EQ(n, kSingles + kRun);
    c.Close();
  }
  TDataTable t(dir_, "result");
  t.Open(TTableOpenOptions{});
  EXPECT_TRUE(CheckDataRecords(t).empty());
  EXPECT_TRUE(CheckIndexes(t).empty());
  EXPECT_EQ(t.Data().RecordCount(), kSingles + kRun);
  t.Close();

  // A table others may read, or one with an index on its fields, takes each record on its own.
  TTableCreateParams indexed = p;
  indexed.indexes.primary = TIndexDescriptor{};
  indexed.indexes.primary->fields = {1};
  TDataTable(dir_, "keyed").Create(indexed);
  struct TCase {
    const char* table;
    bool scratch;
  };
  for (const TCase& k : {TCase{"result", false}, TCase{"keyed", true}}) {
    TDataCursor c(*directory_);
    c.SetTableName(k.table);
    c.SetExclusive(true);
    c.SetScratch(k.scratch);
    c.Open();
    EXPECT_FALSE(c.CanAppendInBulk()) << k.table;
  }
}

TEST_F(CursorTest, AnEmptyTableHasNoCurrentRecord) {
  CreateTable("empty");
  auto c = OpenCursor("empty");
  std::vector<uint8_t> buf(c->RecordSize());
  EXPECT_TRUE(c->BeforeFirst() && c->AfterLast());
  EXPECT_EQ(c->RecordCount(), 0u);
  c->First();
  EXPECT_EQ(c->Next(buf.data()), err::kEndOfTable);
  EXPECT_EQ(c->GetCurrentRecord(buf.data()), err::kNoCurrentRecord);
  c->Last();
  EXPECT_EQ(c->Prior(buf.data()), err::kBeginningOfTable);
  EXPECT_EQ(c->GetCurrentRecord(buf.data()), err::kNoCurrentRecord);
  EXPECT_FALSE(c->GoToOrdinal(1));
  EXPECT_EQ(c->CurrentOrdinal(), 0u);
}

TEST_F(CursorTest, MovesOverTheActiveRecordsAndStopsAtTheEnds) {
  CreateTable("t");
  Append("t", {10, 20, 30, 40, 50});
  Remove("t", 3);
  auto c = OpenCursor("t");
  std::vector<uint8_t> buf(c->RecordSize());
  EXPECT_EQ(Ids(*c), (std::vector<int32_t>{10, 20, 40, 50}));
  EXPECT_EQ(c->RecordCount(), 4u);

  // Next on the last record: 8706, after the last; prior from there gives the last record.
  c->GoToOrdinal(4);
  EXPECT_EQ(c->Next(buf.data()), err::kEndOfTable);
  EXPECT_TRUE(c->AfterLast());
  EXPECT_EQ(c->GetCurrentRecord(buf.data()), err::kEndOfTable);
  ASSERT_EQ(c->Prior(buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 50);
  // And symmetrically at the start.
  c->First();
  EXPECT_EQ(c->GetCurrentRecord(buf.data()), err::kBeginningOfTable);
  EXPECT_EQ(c->Prior(buf.data()), err::kBeginningOfTable);
  ASSERT_EQ(c->Next(buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 10);
  c->Last();
  ASSERT_EQ(c->Prior(buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 50);

  // Moving by several records counts only visible ones; ordinals are ranks.
  c->First();
  ASSERT_EQ(c->MoveBy(3, buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 40);
  EXPECT_EQ(c->CurrentRecordNumber(), 4);
  EXPECT_EQ(c->CurrentOrdinal(), 3u);
  EXPECT_EQ(c->MoveBy(5, buf.data()), err::kEndOfTable);
  ASSERT_EQ(c->MoveBy(-2, buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 40);
  ASSERT_TRUE(c->GoToOrdinal(2));
  ASSERT_EQ(c->GetCurrentRecord(buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 20);
  EXPECT_FALSE(c->GoToOrdinal(5));
  EXPECT_EQ(c->CurrentOrdinal(), 2u);
}

TEST_F(CursorTest, CallbackFiltersLimitTheVisibleRecords) {
  CreateTable("t");
  Append("t", {1, 2, 3, 4, 5, 6, 7, 8});
  auto c = OpenCursor("t");
  const TRecordFormat& f = c->Format();
  auto even = c->AddFilter([&f](const uint8_t* image) { return *f.GetInteger(1, image) % 2 == 0; });
  EXPECT_EQ(Ids(*c), (std::vector<int32_t>{2, 4, 6, 8}));
  EXPECT_EQ(c->RecordCount(), 4u);
  auto small = c->AddFilter([&f](const uint8_t* image) { return *f.GetInteger(1, image) < 5; });
  EXPECT_EQ(Ids(*c), (std::vector<int32_t>{2, 4}));
  ASSERT_TRUE(c->GoToOrdinal(2));
  EXPECT_EQ(c->CurrentRecordNumber(), 4);
  EXPECT_EQ(c->CurrentOrdinal(), 2u);

  // The current record stays current while it stays visible.
  c->DeactivateFilter(even);
  EXPECT_EQ(c->CurrentRecordNumber(), 4);
  EXPECT_EQ(c->CurrentOrdinal(), 4u);
  EXPECT_EQ(c->RecordCount(), 4u);
  c->ActivateFilter(even);
  c->RemoveFilter(small);
  EXPECT_EQ(c->RecordCount(), 4u);
  // A record the filter hides is left for the one that follows it.
  std::vector<uint8_t> buf(c->RecordSize());
  c->DeactivateFilter(even);
  ASSERT_TRUE(c->GoToOrdinal(3));
  c->ActivateFilter(even);
  ASSERT_EQ(c->GetCurrentRecord(buf.data()), 0);
  EXPECT_EQ(IdOf(*c, buf), 4);
  c->RemoveFilter(even);
  EXPECT_EQ(c->RecordCount(), 8u);

  EXPECT_EQ(ErrorCodeOf([&] { c->RemoveFilter(even); }), err::kInvalidFilterHandle);
  EXPECT_EQ(ErrorCodeOf([&] { c->ActivateFilter(12345); }), err::kInvalidFilterHandle);
  EXPECT_EQ(ErrorCodeOf([&] { c->AddFilter(TDataCursor::TFilterCallback{}); }), err::kFilterError);
  for (int i = 0; i < TDataCursor::kMaxFilters; ++i)
    c->AddFilter([](const uint8_t*) { return true; }, false);
  EXPECT_EQ(ErrorCodeOf([&] { c->AddFilter([](const uint8_t*) { return true; }); }),
            err::kTooManyFilters);
  EXPECT_EQ(c->RecordCount(), 8u);
}

TEST_F(CursorTest, TwoCursorsOfOneProcessSeeEachOthersChanges) {
  CreateTable("t");
  Append("t", {1, 2, 3, 4, 5});
  auto a = OpenCursor("t");
  auto b = OpenCursor("t");
  EXPECT_EQ(&a->Table(), &b->Table());
  std::vector<uint8_t> buf(a->RecordSize());
  ASSERT_TRUE(a->GoToOrdinal(3));
  ASSERT_EQ(a->GetCurrentRecord(buf.data()), 0);

  // Another change of record 3 after a read it: a's edit fails with 8708.
  ChangeId("t", 3, 33);
  EXPECT_EQ(ErrorCodeOf([&] { a->GetCurrentRecord(buf.data(), true); }), err::kRecordChanged);
  ASSERT_EQ(a->GetCurrentRecord(buf.data()), 0);
  EXPECT_EQ(IdOf(*a, buf), 33);
  EXPECT_EQ(a->GetCurrentRecord(buf.data(), true), 0);

  // Record 3 deleted: a stands on the record that followed it; appended records appear.
  Remove("t", 3);
  Append("t", {6});
  ASSERT_EQ(a->GetCurrentRecord(buf.data()), 0);
  EXPECT_EQ(IdOf(*a, buf), 4);
  EXPECT_EQ(a->RecordCount(), 5u);
  EXPECT_EQ(Ids(*b), (std::vector<int32_t>{1, 2, 4, 5, 6}));
  // Every record deleted: no current record.
  for (int32_t n : {1, 2, 4, 5, 6})
    Remove("t", n);
  EXPECT_EQ(a->GetCurrentRecord(buf.data()), err::kNoCurrentRecord);
  EXPECT_EQ(b->RecordCount(), 0u);
}

// The cursor's own delete, and its own change that takes the record out of a filter, leave it
// on the visible record that followed, after the last when none follows, and on none when no
// visible record is left.
TEST_F(CursorTest, OwnChangesThatHideTheCurrentRecordMoveToTheFollowingOne) {
  struct TCase {
    uint32_t ordinal;  // of the record deleted among the ids 10, 20, 30
    int current;       // GetCurrentRecord afterwards
    int32_t id;        // the record it read, or after the last the one Prior reads
  };
  // Through the cursor, so that the table's record-identifier index holds them too.
  auto insert = [](TDataCursor& c, const std::vector<int32_t>& ids) {
    std::vector<uint8_t> image(c.RecordSize());
    for (int32_t id : ids) {
      c.InitRecord(image.data());
      c.Format().SetInteger(1, image.data(), id);
      c.InsertRecord(image.data(), false);
    }
  };
  const TCase cases[] = {{1, 0, 20}, {2, 0, 30}, {3, err::kEndOfTable, 20}};
  for (const TCase& k : cases) {
    const std::string name = "d" + std::to_string(k.ordinal);
    CreateTable(name);
    auto c = OpenCursor(name);
    insert(*c, {10, 20, 30});
    std::vector<uint8_t> buf(c->RecordSize());
    ASSERT_TRUE(c->GoToOrdinal(k.ordinal));
    ASSERT_EQ(c->GetCurrentRecord(buf.data()), 0);
    c->DeleteRecord(buf.data());
    EXPECT_EQ(c->GetCurrentRecord(buf.data()), k.current) << k.ordinal;
    if (k.current != 0) {
      ASSERT_EQ(c->Prior(buf.data()), 0) << k.ordinal;
    }
    EXPECT_EQ(IdOf(*c, buf), k.id) << k.ordinal;
  }

  CreateTable("f");
  auto c = OpenCursor("f");
  insert(*c, {1, 2, 3});
  const TRecordFormat& f = c->Format();
  c->AddFilter([&f](const uint8_t* image) { return *f.GetInteger(1, image) < 10; });
  std::vector<uint8_t> buf(c->RecordSize());
  ASSERT_TRUE(c->GoToOrdinal(1));
  for (int32_t next : {2, 3, 0}) {
    ASSERT_EQ(c->GetCurrentRecord(buf.data()), 0);
    ASSERT_EQ(c->GetCurrentRecord(buf.data(), true), 0);
    f.SetInteger(1, buf.data(), IdOf(*c, buf) + 10);
    c->ModifyRecord(buf.data(), false);
    if (next == 0) break;
    ASSERT_EQ(c->GetCurrentRecord(buf.data()), 0);
    EXPECT_EQ(IdOf(*c, buf), next);
  }
  EXPECT_TRUE(c->BeforeFirst() && c->AfterLast());
  EXPECT_EQ(c->GetCurrentRecord(buf.data()), err::kNoCurrentRecord);
  EXPECT_EQ(c->RecordCount(), 0u);
}

TEST_F(CursorTest, TheDirectorySharesOneTableAndRefusesExclusiveConflicts) {
  CreateTable("shared");
  const std::size_t before = TDataDirectory::ProcessTableCount();
  {
    auto a = OpenCursor("shared");
    // Another directory object on the same folder, another letter case: the same table.
    TDataDirectory other(dir_ + "/");
    TDataCursor b(other);
    b.SetTableName("SHARED.dat");
    b.Open();
    EXPECT_EQ(&a->Table(), &b.Table());
    EXPECT_EQ(a->Table().Openers(), 2);
    EXPECT_EQ(TDataDirectory::ProcessTableCount(), before + 1);

    TDataCursor ex(*directory_);
    ex.SetTableName("shared");
    ex.SetExclusive(true);
    EXPECT_EQ(ErrorCodeOf([&] { ex.Open(); }), err::kAccessDenied);
    EXPECT_FALSE(ex.IsOpen());
    EXPECT_EQ(a->Table().Openers(), 2);
    b.Close();
    a->Close();
    EXPECT_EQ(TDataDirectory::ProcessTableCount(), before);

    ex.Open();
    TDataCursor late(*directory_);
    late.SetTableName("shared");
    EXPECT_EQ(ErrorCodeOf([&] { late.Open(); }), err::kAccessDenied);
    // Settings only change while closed.
    EXPECT_EQ(ErrorCodeOf([&] { ex.SetTableName("other"); }), err::kTableInUse);
    EXPECT_EQ(ErrorCodeOf([&] { ex.SetExclusive(false); }), err::kTableInUse);
  }
  EXPECT_EQ(TDataDirectory::ProcessTableCount(), before);

  // A table that does not exist, and an encrypted table without its password: nothing stays.
  TDataCursor missing(*directory_);
  missing.SetTableName("nothere");
  EXPECT_EQ(ErrorCodeOf([&] { missing.Open(); }), err::kTableNotFound);
  CreateTable("secret", false, "pw");
  TDataCursor locked(*directory_);
  locked.SetTableName("secret");
  EXPECT_EQ(ErrorCodeOf([&] { locked.Open(); }), err::kPasswordRequired);
  EXPECT_EQ(TDataDirectory::ProcessTableCount(), before);
  int asked = 0;
  locked.SetPasswords({{"wrong"}, [&asked](std::vector<std::string>& known) {
                         ++asked;
                         known.push_back("pw");
                         return true;
                       }});
  locked.Open();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(locked.RecordCount(), 0u);
}

TEST_F(CursorTest, IndexNames) {
  CreateTable("keyed", true);
  CreateTable("heap");
  auto k = OpenCursor("keyed");
  auto h = OpenCursor("heap");
  EXPECT_EQ(k->IndexSlotOf(""), kPrimarySlot);
  EXPECT_EQ(k->IndexSlotOf("bynote"), 1);
  EXPECT_EQ(ErrorCodeOf([&] { k->IndexSlotOf("nosuch"); }), err::kInvalidIndexName);
  EXPECT_EQ(ErrorCodeOf([&] { h->IndexSlotOf(""); }), err::kInvalidIndexName);
}

TEST(CharOrderTest, LocalesOrderTheSingleCharacters) {
  const TCharOrder& plain = TLanguageCharMapsList::Get(0);
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(plain.order[b], b);
  EXPECT_EQ(plain.Lowest(), 0);
  EXPECT_EQ(plain.Highest(), 255);

  const uint32_t english = MakeLocaleId(0x0409, kSortDefault);
  const TCharOrder& en = TLanguageCharMapsList::Get(english);
  EXPECT_EQ(&en, &TLanguageCharMapsList::Get(english));  // computed once
  EXPECT_EQ(en.Lowest(), 0);
  // Letters in dictionary order regardless of case, digits before letters.
  EXPECT_LT(en.rank['a'], en.rank['B']);
  EXPECT_LT(en.rank['B'], en.rank['c']);
  EXPECT_LT(en.rank['9'], en.rank['a']);
  // Every byte appears exactly once.
  std::vector<bool> seen(256);
  for (uint8_t b : en.order)
    seen[b] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  EXPECT_NE(en.Highest(), 'z');
  for (int b = 1; b < 256; ++b) {
    const char x = static_cast<char>(en.Highest());
    const char y = static_cast<char>(b);
    EXPECT_GE(CompareLocaleText(english, std::string_view(&x, 1), std::string_view(&y, 1)), 0) << b;
  }
}

}  // namespace
}  // namespace mt
