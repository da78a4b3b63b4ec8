// Expression filters on cursors: the records a filter shows when the indexes answer it equal
// the records of a record-by-record evaluation (the same rows in a table without indexes),
// filters follow the table's changes, the index answer is used where it should be, and
// filter texts fail with the filter error and the table's name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "filterfixture.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

using namespace filterfixture;

class CursorFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = std::make_unique<TDataDirectory>(dir_); }
  void TearDown() override { directory_.reset(); }

  void CreateTable(const std::string& name, bool indexed, uint16_t languageId = 0) {
    filterfixture::CreateTable(dir_, name, indexed, languageId);
  }
  void Fill(const std::string& name, int rows) { filterfixture::Fill(*directory_, name, rows); }

  std::unique_ptr<TDataCursor> OpenCursor(const std::string& name) {
    auto c = std::make_unique<TDataCursor>(*directory_);
    c->SetTableName(name);
    c->Open();
    return c;
  }

  // The sorted ids of the records a filter shows.
  static std::vector<int32_t> VisibleIds(TDataCursor& c, const std::string& text,
                                         TFilterOptions options) {
    const auto handle = c.AddFilter(text, options);
    std::vector<int32_t> ids = filterfixture::VisibleIds(c);
    EXPECT_EQ(c.RecordCount(), ids.size()) << text;
    c.RemoveFilter(handle);
    return ids;
  }

  // Whether the cursor's indexes answer a filter text on their own.
  static bool Answerable(TDataCursor& c, const std::string& text) {
    return c.CanAnswerFromIndexes(*test::CheckedFilter(text, c.Resolver()));
  }

  test::TScratchDir scratch_{"mt-filter"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
};

// Without a locale strings compare by bytes; under a locale by its collation, which the
// indexes of that table use too.
class IndexAnswerTest : public CursorFilterTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(IndexAnswerTest, IndexAnswersEqualRecordByRecordEvaluation) {
  CreateTable("ix", true, GetParam());
  CreateTable("plain", false, GetParam());
  Fill("ix", 1500);
  Fill("plain", 1500);
  auto ix = OpenCursor("ix");
  auto plain = OpenCursor("plain");
  ASSERT_EQ(ix->RecordCount(), plain->RecordCount());
  const std::size_t total = ix->RecordCount();

  const std::vector<std::string> filters = {
      // dates, in both quote styles and with unpadded parts
      "day = '2004-02-10'",
      "day = \"2004-2-10\"",
      "'2004-06-01' <= day and day < \"2004-09-01\"",
      "day between '2004-03-01' and '2004-04-15'",
      "day not between '2004-03-01' and '2004-12-31'",
      "day is null",
      "day is not null",
      "day <> '2004-02-10'",
      "day > '2004-05-01' or qty < 0",
      "not (day < '2004-05-01')",
      "not (day < '2004-05-01' or qty > 20)",
      "day > '2004-05-01' and note like '%\xce\xe7\xb7\xb9%'",
      "extract(month from day) = 3",
      // strings: case, ranges with NULL names, prefixes, LIKE, lists
      "name = 'Apple'",
      "name = 'apple'",
      "name = ''",
      "name <> 'Apple'",
      "name > 'B'",
      "name <= 'banana'",
      "name < 'b'",
      "name = 'Ap*'",
      "name <> 'ap*'",
      "name = 'B*' or name = 'c*'",
      "name like 'ap%'",
      "name not like 'ban%'",
      "name like '%an%'",
      "name like 'B_nana%'",
      "name = '\xd6\xd0*'",
      "name like '\xd6\xd0%'",
      "name in ('Apple', 'zeta', 'nobody')",
      "name not in ('Apple', 'zeta')",
      "upper(name) = 'APPLE'",
      "note is null",
      "note = 'rent' or name is null",
      "code = 'B2'",
      "code > 'A1'",
      // numbers, booleans, times
      "qty in (1, 2, 3, null)",
      "qty between -5 and 5",
      "qty > 10.5",
      "qty = 45 and amt > 0",
      "qty * 2 > 40",
      "qty = 3 or note like '%\xce\xe7\xb7\xb9%'",
      "qty <> 45",
      "5 > qty",
      "amt >= 100.25",
      "amt < -50",
      "flag = true",
      "flag",
      "not flag",
      "flag is null",
      "at >= '12:00:00'",
      "at < '06:30:00' and day is not null",
      "stamp < '2004-03-01 12:00:00'",
      "small < 0",
      "big > 500000000",
      "word between 1000 and 30000",
      "price > 1000.5",
      "id > 100 and id <= 200",
      "id in (5, 6, 7, 1000)",
      "id = 10 or id = 20 or id = 30",
  };
  const std::vector<TFilterOptions> optionSets = {{}, {true, false}, {false, true}};
  for (const std::string& text : filters) {
    for (std::size_t o = 0; o < optionSets.size(); ++o) {
      SCOPED_TRACE(text + " (options " + std::to_string(o) + ")");
      const std::vector<int32_t> viaIndexes = VisibleIds(*ix, text, optionSets[o]);
      const std::vector<int32_t> rowByRow = VisibleIds(*plain, text, optionSets[o]);
      EXPECT_EQ(viaIndexes, rowByRow);
      if (o == 0) {
        // Every filter of the list selects some records and leaves out others.
        EXPECT_GT(viaIndexes.size(), 0u);
        EXPECT_LT(viaIndexes.size(), total);
      }
    }
  }

  // Several filters at once, and the order of the index with filters active.
  ix->AddFilter(std::string_view("day >= '2004-03-01'"));
  ix->AddFilter(std::string_view("qty < 20"));
  plain->AddFilter(std::string_view("day >= '2004-03-01' and qty < 20"));
  EXPECT_EQ(ix->RecordCount(), plain->RecordCount());
  ix->ChooseIndex("By3");
  std::vector<uint8_t> img(ix->RecordSize());
  std::optional<int64_t> last;
  uint32_t seen = 0;
  ix->First();
  while (ix->Next(img.data()) == 0) {
    const auto day = ix->Format().GetInteger(kDay, img.data());
    ASSERT_TRUE(day.has_value());
    if (last) {
      EXPECT_LE(*last, *day);
    }
    last = day;
    ++seen;
  }
  EXPECT_EQ(seen, plain->RecordCount());
}

INSTANTIATE_TEST_SUITE_P(Locales, IndexAnswerTest, ::testing::Values(0, 1033));

TEST_F(CursorFilterTest, IndexesAnswerComparisonsWithConstantsAndTheirCombinations) {
  CreateTable("t", true);
  Fill("t", 100);
  auto c = OpenCursor("t");
  struct Case {
    const char* text;
    bool answerable;
  };
  const Case cases[] = {
      {"day >= '2004-06-01' and day < '2004-09-01'", true},
      {"day between '2004-03-01' and '2004-04-15'", true},
      {"not (day is null)", true},
      {"name = 'Ap*' or qty in (1, 2)", true},
      {"name like 'ap%'", true},         // a prefix ignoring case: the case-free index
      {"name > 'B'", true},              // a range: the case-sensitive index
      {"name like '\xd6\xd0%'", false},  // LIKE with two-byte characters
      {"qty > 10.5", false},             // 10.5 is no INTEGER
      {"price > 1000.5", false},         // BCD keys are rounded
      {"code = 'B2'", false},            // descending index
      {"note = 'rent'", false},          // no index
      {"day > '2004-05-01' and note = 'rent'", false},
      {"upper(name) = 'APPLE'", false},
      {"qty = qty", false},
  };
  for (const Case& k : cases)
    EXPECT_EQ(Answerable(*c, k.text), k.answerable) << k.text;
}

TEST_F(CursorFilterTest, FiltersFollowTheTablesChanges) {
  CreateTable("t", true);
  auto c = OpenCursor("t");
  auto other = OpenCursor("t");
  const TRecordFormat& f = c->Format();
  std::vector<uint8_t> img(c->RecordSize());
  auto insert = [&](TDataCursor& cur, int qty) {
    cur.InitRecord(img.data());
    f.SetInteger(kQty, img.data(), qty);
    return cur.InsertRecord(img.data());
  };
  insert(*c, 1);
  insert(*c, 8);
  c->AddFilter(std::string_view("qty > 5"));
  EXPECT_EQ(c->RecordCount(), 1u);
  // The cursor's own insert of a matching record shows; a change that no longer matches
  // hides it.
  insert(*c, 10);
  EXPECT_EQ(c->RecordCount(), 2u);
  ASSERT_EQ(c->GetCurrentRecord(img.data()), 0);
  ASSERT_EQ(c->GetCurrentRecord(img.data(), true), 0);
  f.SetInteger(kQty, img.data(), 2);
  c->ModifyRecord(img.data());
  EXPECT_EQ(c->RecordCount(), 1u);
  // Another cursor's insert shows after the change is noticed.
  insert(*other, 30);
  insert(*other, 3);
  EXPECT_EQ(c->RecordCount(), 2u);
  // A change of a field the filter does not read keeps the record shown; a change of the
  // field it reads has the record judged again.
  c->First();
  ASSERT_EQ(c->Next(img.data()), 0);
  f.SetString(kName, img.data(), "renamed");
  c->ModifyRecord(img.data());
  EXPECT_EQ(c->RecordCount(), 2u);
  f.SetInteger(kQty, img.data(), 4);
  c->ModifyRecord(img.data());
  EXPECT_EQ(c->RecordCount(), 1u);
}

TEST_F(CursorFilterTest, FilterTextsFailWithTheFilterError) {
  CreateTable("t", true);
  Fill("t", 10);
  auto c = OpenCursor("t");
  const std::string table = c->Table().ErrorName();
  struct Case {
    const char* text;
    std::string message;
  };
  const Case cases[] = {
      {"", "the filter has no condition"},
      {"qty >", ""},
      {"qty = ?", ""},
      {"count(*) > 1", ""},
      {"nosuch = 1",
       "Invalid column name 'nosuch' or table correlation name '' specified in "
       "filter expression"},
      {"qty + 1", "filter expression must be a boolean expression"},
      {"day = 'yesterday'",
       "Date, time, or timestamp expression expected, instead found 'yesterday' in filter "
       "expression"},
  };
  for (const Case& k : cases) {
    try {
      c->AddFilter(std::string_view(k.text));
      ADD_FAILURE() << k.text << " was accepted";
    } catch (const EEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), err::kFilterError) << k.text;
      const std::string prefix =
          "Engine Error # 10051 Filter error for the table '" + table + "' - ";
      EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
      if (!k.message.empty()) {
        EXPECT_EQ(std::string(e.what()), prefix + k.message);
      }
    }
  }
  // A filter that fails while the visible records are built with it is not kept either.
  EXPECT_EQ(ErrorCodeOf([&] {
              c->AddFilter([](const uint8_t*) -> bool { RaiseEngineError(err::kFilterError); });
            }),
            err::kFilterError);
  const auto handle =
      c->AddFilter([](const uint8_t*) -> bool { RaiseEngineError(err::kFilterError); }, false);
  EXPECT_EQ(ErrorCodeOf([&] { c->ActivateFilter(handle); }), err::kFilterError);
  EXPECT_FALSE(c->FiltersActive());
  c->RemoveFilter(handle);
  // Nothing failed half-way: no filter is left behind.
  EXPECT_FALSE(c->FiltersActive());
  for (int i = 0; i < TDataCursor::kMaxFilters; ++i)
    c->AddFilter(std::string_view("qty > 1"), {}, false);
  EXPECT_EQ(ErrorCodeOf([&] { c->AddFilter(std::string_view("qty > 1")); }), err::kTooManyFilters);
}

}  // namespace
}  // namespace mt
