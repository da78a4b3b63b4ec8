// Sorting tables in place: the order of every key type ascending and descending, letter case,
// NULLs, stability, without a locale and under two locales with GBK text, duplicate removal,
// row limits, grouping through callbacks, tables larger than the in-memory bound, tables in
// memory, encrypted and indexed tables, blob values of dropped rows, and failures part-way
// that must leave every row where it was.
//
// The expected order comes from comparing the typed values field by field (strings through
// CompareLocaleText, the comparison the expression evaluator uses), never from sort keys.
#include "engine/storage/tablesort.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/gbk.h"
#include "engine/common/localetext.h"
#include "engine/common/numeric.h"
#include "engine/storage/blobfile.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "failingdisk.h"
#include "probe.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

// Field numbers of the test table.
enum : int {
  kId = 1,  // the row's identity, never a key
  kName,
  kDay,
  kAmount,
  kSmall,
  kBig,
  kTime,
  kStamp,
  kFlag,
  kWord,
  kDec,
  kRaw,
  kQty,
  kMemo,
};

struct TTableShape {
  uint16_t languageId = 0;
  bool inMemory = false;
  bool encrypted = false;
  bool autoIncId = false;       // the id field is an auto-increment field
  bool secondaryIndex = false;  // an index on name
};

// The names rows draw from: letter-case variants, prefixes, digits and GBK text.
std::vector<std::string> Names() {
  return {"apple",
          "Apple",
          "APPLE",
          "ab",
          "abc",
          "b",
          "Zebra",
          "zebra",
          "10",
          "9",
          "a b",
          "a-b",
          "",
          Utf8ToGbk("收入"),
          Utf8ToGbk("支出"),
          Utf8ToGbk("餐饮"),
          Utf8ToGbk("收入Abc"),
          Utf8ToGbk("收入abc"),
          Utf8ToGbk("ＡＢ")};
}

class TableSortTest : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = std::make_unique<TDataDirectory>(dir_); }
  void TearDown() override {
    cursor_.reset();
    directory_.reset();
  }

  // Creates the table and fills it with `rows` generated rows (seeded), through a cursor.
  void MakeTable(const TTableShape& shape, int rows, unsigned seed = 7) {
    shape_ = shape;
    TTableCreateParams p;
    p.languageId = shape.languageId;
    p.fields = {Field("id", ftype::kInteger, 0, shape.autoIncId ? fsubtype::kAutoInc : 0),
                Field("name", ftype::kString, 20),
                Field("day", ftype::kDate),
                Field("amount", ftype::kFloat),
                Field("small", ftype::kSmallInt),
                Field("big", ftype::kLargeInt),
                Field("at", ftype::kTime),
                Field("stamp", ftype::kTimestamp),
                Field("flag", ftype::kBoolean),
                Field("w", ftype::kWord),
                Field("dec", ftype::kBcd),
                Field("raw", ftype::kBytes, 3),
                Field("qty", ftype::kInteger),
                Field("memo", ftype::kBlob, 0, fsubtype::kMemo)};
    p.fields[kDec - 1].scale = 2;
    if (shape.encrypted) {
      p.encrypted = true;
      p.password = "secret";
    }
    if (shape.secondaryIndex) {
      TIndexDescriptor byName;
      byName.name = "ByName";
      byName.fields = {kName};
      p.indexes.secondaries.push_back(byName);
    }
    TDataTable(dir_, "t", shape.inMemory).Create(p);
    OpenCursor();

    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto maybe = [&]() { return pick(7) != 0; };  // about one value in seven is NULL
    const std::vector<std::string> names = Names();
    const TRecordFormat& f = cursor_->Format();
    std::vector<uint8_t> image(cursor_->RecordSize());
    for (int i = 1; i <= rows; ++i) {
      cursor_->InitRecord(image.data());
      if (!shape.autoIncId) f.SetInteger(kId, image.data(), i);
      if (maybe()) f.SetString(kName, image.data(), names[pick(static_cast<int>(names.size()))]);
      if (maybe()) f.SetInteger(kDay, image.data(), 730000 + pick(6) * 37);
      if (maybe()) {
        static const double amounts[] = {-1e10, -2.5, -0.0, 0.0, 0.125, 3.0, 1e12};
        f.SetFloat(kAmount, image.data(), amounts[pick(7)]);
      }
      if (maybe()) f.SetInteger(kSmall, image.data(), pick(5) * 16000 - 32000);
      if (maybe()) f.SetInteger(kBig, image.data(), (int64_t{1} << 40) * (pick(5) - 2) + pick(3));
      if (maybe()) f.SetInteger(kTime, image.data(), pick(5) * 3600000);
      if (maybe()) f.SetFloat(kStamp, image.data(), (730000.0 + pick(3)) * 86400000.0 - pick(3));
      if (maybe()) f.SetBoolean(kFlag, image.data(), pick(2) == 1);
      if (maybe()) f.SetInteger(kWord, image.data(), pick(4) * 20000);
      if (maybe()) {
        static const char* decimals[] = {"-12345.67", "-0.01", "0", "0.05", "99.99", "100"};
        TBcd bcd{};
        ASSERT_TRUE(TextToBcd(decimals[pick(6)], 2, bcd));
        f.SetBcd(kDec, image.data(), bcd);
      }
      if (maybe()) {
        const std::vector<uint8_t> raw = {static_cast<uint8_t>(pick(3) * 0x7F),
                                          static_cast<uint8_t>(pick(2) * 0xFF), 1};
        f.SetBytes(kRaw, image.data(), raw);
      }
      f.SetInteger(kQty, image.data(), pick(10));
      if (pick(3) == 0) SetMemo(image, "memo of row " + std::to_string(i));
      cursor_->InsertRecord(image.data(), false);
    }
  }

  // Starts again in an empty directory with a new table of `rows` generated rows.
  void RemakeTable(const TTableShape& shape, int rows) {
    TearDown();
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    SetUp();
    MakeTable(shape, rows);
  }

  void OpenCursor() {
    cursor_ = std::make_unique<TDataCursor>(*directory_);
    cursor_->SetTableName("t");
    cursor_->SetInMemory(shape_.inMemory);
    cursor_->SetOpenInBitmapOrder(true);
    if (shape_.encrypted) cursor_->SetPasswords({.known = {"secret"}});
    cursor_->Open();
  }

  void SetMemo(std::vector<uint8_t>& image, const std::string& text) {
    const int h = cursor_->OpenBlob(kMemo, image.data(), TBlobOpenMode::ReadWrite);
    cursor_->Blob(h).Write(0, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    cursor_->CloseBlob(h, true, image.data());
  }

  // The memo of a record image, read from the blob file.
  std::optional<std::string> Memo(const std::vector<uint8_t>& image) {
    const auto ref = cursor_->Format().GetBlobRef(kMemo, image.data());
    if (!ref) return std::nullopt;
    const std::vector<uint8_t> data =
        cursor_->Table().BlobFile()->ReadValue(ref->first, ref->second);
    return std::string(data.begin(), data.end());
  }

  // The records in record-number order.
  std::vector<std::vector<uint8_t>> Rows() {
    cursor_->ChooseBitmapOrder();
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> image(cursor_->RecordSize());
    cursor_->First();
    while (cursor_->Next(image.data()) == 0)
      rows.push_back(image);
    return rows;
  }

  int32_t Id(const std::vector<uint8_t>& image) const {
    return static_cast<int32_t>(*cursor_->Format().GetInteger(kId, image.data()));
  }

  std::vector<int32_t> Ids(const std::vector<std::vector<uint8_t>>& rows) const {
    std::vector<int32_t> ids;
    for (const auto& r : rows)
      ids.push_back(Id(r));
    return ids;
  }

  // The field values of two images compared as the evaluator compares them, NULL first.
  int CompareField(int fieldNo, const uint8_t* a, const uint8_t* b, bool ignoreCase) const {
    const TRecordFormat& f = cursor_->Format();
    const bool an = f.GetField(fieldNo, a, nullptr);
    const bool bn = f.GetField(fieldNo, b, nullptr);
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (f.Field(fieldNo).type) {
      case ftype::kString:
        return CompareLocaleText(cursor_->LocaleId(), *f.GetString(fieldNo, a),
                                 *f.GetString(fieldNo, b), ignoreCase);
      case ftype::kFloat:
      case ftype::kTimestamp:
        return sign(*f.GetFloat(fieldNo, a), *f.GetFloat(fieldNo, b));
      case ftype::kBoolean:
        return sign(*f.GetBoolean(fieldNo, a), *f.GetBoolean(fieldNo, b));
      case ftype::kBcd:
        return CompareBcd(*f.GetBcd(fieldNo, a), *f.GetBcd(fieldNo, b));
      case ftype::kBytes:
        return sign(*f.GetBytes(fieldNo, a), *f.GetBytes(fieldNo, b));
      default:
        return sign(*f.GetInteger(fieldNo, a), *f.GetInteger(fieldNo, b));
    }
  }

  int CompareRows(const std::vector<TSortKey>& keys, const std::vector<uint8_t>& a,
                  const std::vector<uint8_t>& b) const {
    for (const TSortKey& k : keys) {
      const int c = CompareField(k.fieldNo, a.data(), b.data(), k.caseInsensitive);
      if (c != 0) return k.descending ? -c : c;
    }
    return 0;
  }

  // The rows as the sort should leave them, before limits: a stable sort.
  std::vector<std::vector<uint8_t>> Expected(std::vector<std::vector<uint8_t>> rows,
                                             const std::vector<TSortKey>& keys) const {
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const auto& a, const auto& b) { return CompareRows(keys, a, b) < 0; });
    return rows;
  }

  // The table is sound: records, deleted chain and every index.
  void ExpectSound() {
    TDataTable& t = cursor_->Table();
    EXPECT_EQ(CheckDataRecords(t), std::vector<std::string>{});
    EXPECT_EQ(CheckIndexes(t), std::vector<std::string>{});
  }

  // Files in the table's directory other than the table's own.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> stray;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      // The table's own files, its change journal included.
      if (name != "t.DAT" && name != "t.IDX" && name != "t.BLB" && name != "t.JNL")
        stray.push_back(name);
    }
    return stray;
  }

  test::TScratchDir scratch_{"mt-sort"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
  std::unique_ptr<TDataCursor> cursor_;
  TTableShape shape_;
};

struct TOrderCase {
  const char* name;
  std::vector<TSortKey> keys;
};

std::vector<TOrderCase> OrderCases() {
  std::vector<TOrderCase> cases;
  for (int field : {kName, kDay, kAmount, kSmall, kBig, kTime, kStamp, kFlag, kWord, kDec, kRaw}) {
    cases.push_back({"one field", {{field}}});
    cases.push_back({"one field descending", {{field, true}}});
  }
  cases.push_back({"name ignoring case", {{kName, false, true}}});
  cases.push_back({"name ignoring case, descending", {{kName, true, true}}});
  cases.push_back({"day descending, name", {{kDay, true}, {kName}}});
  cases.push_back({"name ignoring case, amount descending, flag",
                   {{kName, false, true}, {kAmount, true}, {kFlag}}});
  cases.push_back({"flag descending, name descending ignoring case, dec",
                   {{kFlag, true}, {kName, true, true}, {kDec}}});
  cases.push_back({"no keys: the order stays", {}});
  return cases;
}

// Every case under locale 0, US English and Chinese (PRC): the sorted rows are the stable
// order of the typed values, every row kept whole, the table sound.
TEST_F(TableSortTest, OrdersEveryKeyTypeUnderEachLocale) {
  for (uint16_t language : {0, 1033, 2052}) {
    for (const TOrderCase& c : OrderCases()) {
      SCOPED_TRACE(std::string(c.name) + ", field " +
                   (c.keys.empty() ? "-" : std::to_string(c.keys[0].fieldNo)) + ", locale " +
                   std::to_string(language));
      RemakeTable({.languageId = language}, 150);
      const auto before = Rows();
      TSortOptions options;
      options.keys = c.keys;
      const TSortResult r = SortTable(*cursor_, options);
      EXPECT_EQ(r.inputRows, 150);
      EXPECT_EQ(r.rows, 150);
      const auto after = Rows();
      const auto expected = Expected(before, c.keys);
      ASSERT_EQ(Ids(after), Ids(expected));
      for (std::size_t i = 0; i < after.size(); ++i) {
        // Every field, the record header aside.
        EXPECT_TRUE(std::equal(after[i].begin() + rec::kFirstField, after[i].end(),
                               expected[i].begin() + rec::kFirstField))
            << "row " << i;
      }
      ExpectSound();
      EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
    }
  }
}

// The rows a sort with duplicate removal and a row limit keeps, from the stable order.
std::vector<std::vector<uint8_t>> Limited(
    const std::vector<std::vector<uint8_t>>& sorted, bool removeDuplicates, int64_t maxRows,
    const std::function<int(const std::vector<uint8_t>&, const std::vector<uint8_t>&)>& compare) {
  std::vector<std::vector<uint8_t>> kept;
  for (const auto& row : sorted) {
    if (maxRows >= 0 && static_cast<int64_t>(kept.size()) >= maxRows) break;
    if (removeDuplicates && !kept.empty() && compare(kept.back(), row) == 0) continue;
    kept.push_back(row);
  }
  return kept;
}

TEST_F(TableSortTest, RemovesDuplicatesAndKeepsAtMostTheRowsAsked) {
  struct TCase {
    const char* name;
    uint16_t language;
    std::vector<TSortKey> keys;
    bool removeDuplicates;
    int64_t maxRows;
  };
  const std::vector<TCase> cases = {
      {"distinct names", 0, {{kName}}, true, -1},
      {"distinct names under a locale", 1033, {{kName}}, true, -1},
      {"distinct names ignoring case", 0, {{kName, false, true}}, true, -1},
      {"distinct names ignoring case under a locale", 2052, {{kName, true, true}}, true, -1},
      {"distinct day and flag", 0, {{kDay, true}, {kFlag}}, true, -1},
      {"distinct amounts (0 and -0 are one)", 0, {{kAmount}}, true, -1},
      {"the first ten", 0, {{kStamp, true}}, false, 10},
      {"none", 0, {{kName}}, false, 0},
      {"the first five distinct", 1033, {{kName, false, true}}, true, 5},
      {"more than there are", 0, {{kDay}}, false, 1000},
      {"one row without keys", 0, {}, true, -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    RemakeTable({.languageId = c.language}, 120);
    const auto before = Rows();
    TSortOptions options;
    options.keys = c.keys;
    options.removeDuplicates = c.removeDuplicates;
    options.maxRows = c.maxRows;
    const TSortResult r = SortTable(*cursor_, options);
    const auto expected =
        Limited(Expected(before, c.keys), c.removeDuplicates, c.maxRows,
                [&](const auto& a, const auto& b) { return CompareRows(c.keys, a, b); });
    const auto after = Rows();
    EXPECT_EQ(Ids(after), Ids(expected));
    EXPECT_EQ(r.rows, static_cast<int64_t>(expected.size()));
    for (std::size_t i = 0; i < after.size() && i < expected.size(); ++i)
      EXPECT_EQ(Memo(after[i]), Memo(expected[i])) << "row " << i;
    ExpectSound();
  }
}

TEST_F(TableSortTest, DroppedRowsGiveBackTheirBlobValues) {
  MakeTable({}, 200);
  TSortOptions options;
  options.keys = {{kDay}};
  options.maxRows = 20;
  SortTable(*cursor_, options);
  const int32_t blocks = cursor_->Table().BlobFile()->BlockCount();
  // A new value takes a freed block instead of growing the file.
  std::vector<uint8_t> image(cursor_->RecordSize());
  cursor_->InitRecord(image.data());
  cursor_->Format().SetInteger(kId, image.data(), 1000);
  SetMemo(image, "a new memo");
  cursor_->InsertRecord(image.data(), false);
  EXPECT_EQ(cursor_->Table().BlobFile()->BlockCount(), blocks);
  for (const auto& row : Rows()) {
    if (Id(row) != 1000 && Memo(row)) {
      EXPECT_EQ(*Memo(row), "memo of row " + std::to_string(Id(row)));
    }
  }
  ExpectSound();
}

// Grouping: each run of equal keys folds into its first row (in record-number order); finish
// decides which groups stay; the row limit counts kept groups.
TEST_F(TableSortTest, FoldsEachRunOfEqualKeysIntoOneRow) {
  struct TCase {
    const char* name;
    uint16_t language;
    std::vector<TSortKey> keys;
    bool dropSomeGroups;
    int64_t maxRows;
    std::size_t memoryLimit;
  };
  const std::vector<TCase> cases = {
      {"by name", 0, {{kName}}, false, -1, 0},
      {"by name ignoring case under a locale", 2052, {{kName, false, true}}, false, -1, 0},
      {"by day and flag, dropping groups", 0, {{kDay}, {kFlag, true}}, true, -1, 0},
      {"by amount, the first three kept groups", 1033, {{kAmount, true}}, true, 3, 0},
      {"the whole table as one group", 0, {}, false, -1, 0},
      {"the whole table as one dropped group", 0, {}, true, -1, 0},
      {"by name from runs on disk", 0, {{kName}}, true, -1, 16 * 1024},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    RemakeTable({.languageId = c.language}, 300);
    const auto before = Rows();
    const TRecordFormat& f = cursor_->Format();
    auto qty = [&](const uint8_t* image) { return f.GetInteger(kQty, image).value_or(0); };
    std::vector<std::pair<int32_t, int32_t>> folds;  // (group's first id, folded row's id)
    TSortGrouping grouping;
    grouping.fold = [&](uint8_t* acc, const uint8_t* row) {
      folds.emplace_back(*f.GetInteger(kId, acc), *f.GetInteger(kId, row));
      f.SetInteger(kQty, acc, qty(acc) + qty(row));
    };
    grouping.finish = [&](uint8_t* acc) { return !c.dropSomeGroups || qty(acc) % 3 != 0; };
    TSortOptions options;
    options.keys = c.keys;
    options.grouping = &grouping;
    options.maxRows = c.maxRows;
    options.memoryLimit = c.memoryLimit;
    const TSortResult r = SortTable(*cursor_, options);

    // The groups from the stable order.
    std::vector<std::pair<int32_t, int64_t>> expected;  // (first id, sum)
    std::vector<std::pair<int32_t, int32_t>> expectedFolds;
    const auto sorted = Expected(before, c.keys);
    for (std::size_t i = 0; i < sorted.size();) {
      if (c.maxRows >= 0 && static_cast<int64_t>(expected.size()) >= c.maxRows) break;
      int64_t sum = qty(sorted[i].data());
      std::size_t j = i + 1;
      for (; j < sorted.size() && CompareRows(c.keys, sorted[i], sorted[j]) == 0; ++j) {
        sum += qty(sorted[j].data());
        expectedFolds.emplace_back(Id(sorted[i]), Id(sorted[j]));
      }
      if (!c.dropSomeGroups || sum % 3 != 0) expected.emplace_back(Id(sorted[i]), sum);
      i = j;
    }
    std::vector<std::pair<int32_t, int64_t>> groups;
    for (const auto& row : Rows())
      groups.emplace_back(Id(row), qty(row.data()));
    EXPECT_EQ(groups, expected);
    EXPECT_EQ(folds, expectedFolds);
    EXPECT_EQ(r.rows, static_cast<int64_t>(expected.size()));
    if (c.memoryLimit > 0) {
      EXPECT_GT(r.runs, 1);
    }
    ExpectSound();
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
  }
}

TEST_F(TableSortTest, AnEmptyTableStaysEmptyWithoutCallbacks) {
  MakeTable({}, 0);
  bool called = false;
  TSortGrouping grouping;
  grouping.fold = [&](uint8_t*, const uint8_t*) { called = true; };
  grouping.finish = [&](uint8_t*) { return called = true; };
  TSortOptions options;
  options.keys = {{kName}};
  options.grouping = &grouping;
  const TSortResult r = SortTable(*cursor_, options);
  EXPECT_EQ(r.inputRows, 0);
  EXPECT_EQ(r.rows, 0);
  EXPECT_FALSE(called);
  EXPECT_TRUE(Rows().empty());
  ExpectSound();
}

// More rows than the in-memory bound: sorted runs in temporary files, merged (in two passes
// when there are more runs than one merge takes); the files go away afterwards. Equal keys
// across runs keep their order.
TEST_F(TableSortTest, SortsTablesLargerThanTheMemoryBound) {
  struct TCase {
    bool inMemory;
    std::size_t memoryLimit;
    int minRuns;
    int maxRuns;
  };
  for (const TCase& c : {TCase{false, 32 * 1024, 10, 60}, TCase{true, 32 * 1024, 10, 60},
                         TCase{false, 4 * 1024, 100, 600}}) {
    SCOPED_TRACE(std::string(c.inMemory ? "table in memory" : "table on disk") + ", bound " +
                 std::to_string(c.memoryLimit));
    RemakeTable({.inMemory = c.inMemory}, 3000);
    const auto before = Rows();
    TSortOptions options;
    options.keys = {{kDay, true}, {kName, false, true}};
    options.memoryLimit = c.memoryLimit;
    const TSortResult r = SortTable(*cursor_, options);
    EXPECT_GE(r.runs, c.minRuns);
    EXPECT_LE(r.runs, c.maxRuns);
    EXPECT_EQ(Ids(Rows()), Ids(Expected(before, options.keys)));
    ExpectSound();
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path())) {
      const std::string name = e.path().filename().string();
      EXPECT_EQ(name.find("mintora-sort." + std::to_string(::getpid()) + "-"), std::string::npos)
          << name;
    }
  }
}

// Encrypted tables, tables with an auto-increment field and a secondary index, and a second
// cursor on the table: the sorted order is what every cursor and a fresh open read.
TEST_F(TableSortTest, SortsEncryptedAndIndexedTables) {
  const std::vector<TTableShape> shapes = {
      {.encrypted = true},
      {.languageId = 1033, .autoIncId = true, .secondaryIndex = true},
      {.inMemory = true, .secondaryIndex = true},
  };
  for (const TTableShape& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.encrypted) + std::to_string(shape.autoIncId) +
                 std::to_string(shape.inMemory));
    RemakeTable(shape, 200);
    TDataCursor other(*directory_);
    other.SetTableName("t");
    other.SetInMemory(shape.inMemory);
    other.SetOpenInBitmapOrder(true);
    if (shape.encrypted) other.SetPasswords({.known = {"secret"}});
    other.Open();
    const auto before = Rows();
    TSortOptions options;
    options.keys = {{kAmount}, {kName, true}};
    options.removeDuplicates = true;
    SortTable(*cursor_, options);
    const auto expected =
        Ids(Limited(Expected(before, options.keys), true, -1,
                    [&](const auto& a, const auto& b) { return CompareRows(options.keys, a, b); }));
    EXPECT_EQ(Ids(Rows()), expected);
    std::vector<uint8_t> image(other.RecordSize());
    std::vector<int32_t> seen;
    other.First();
    while (other.Next(image.data()) == 0)
      seen.push_back(Id(image));
    EXPECT_EQ(seen, expected);
    if (shape.secondaryIndex) {
      cursor_->ChooseIndex("ByName");
      EXPECT_EQ(cursor_->RecordCount(), expected.size());
    }
    ExpectSound();
    other.Close();
    cursor_->Close();
    OpenCursor();
    EXPECT_EQ(Ids(Rows()), expected);
    ExpectSound();
  }
}

// A callback failing part-way leaves every row of the table as it was, in its order, with no
// temporary file left behind; so does a key the table cannot sort by.
TEST_F(TableSortTest, AFailurePartWayLeavesEveryRow) {
  struct TCase {
    const char* name;
    int failAtFold;  // 0: no fold fails
    bool failInFinish;
    std::size_t memoryLimit;
  };
  const std::vector<TCase> cases = {
      {"fold fails", 40, false, 0},
      {"fold fails while runs are merged", 150, false, 16 * 1024},
      {"finish fails", 0, true, 16 * 1024},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    RemakeTable({}, 400);
    const auto before = Rows();
    int folds = 0;
    TSortGrouping grouping;
    grouping.fold = [&](uint8_t*, const uint8_t*) {
      if (++folds == c.failAtFold) throw std::runtime_error("fold failed");
    };
    grouping.finish = [&](uint8_t*) {
      if (c.failInFinish) throw std::runtime_error("finish failed");
      return true;
    };
    TSortOptions options;
    options.keys = {{kDay}};
    options.grouping = &grouping;
    options.memoryLimit = c.memoryLimit;
    EXPECT_THROW(SortTable(*cursor_, options), std::runtime_error);
    EXPECT_EQ(Rows(), before);
    ExpectSound();
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
    // The table still sorts afterwards.
    options.grouping = nullptr;
    SortTable(*cursor_, options);
    EXPECT_EQ(Ids(Rows()), Ids(Expected(before, options.keys)));
  }
}

// A disk write failing at any point of a sort: the sort reports 9218 and the table, opened
// again, checks out and holds its rows either as they were or sorted: until the new data file
// takes the old one's place nothing of the table is written, and what fails to be written
// after it (the rebuilt indexes, freed blob values) is written by the close.
TEST_F(TableSortTest, AFailingDiskNeverLosesRows) {
  struct TCase {
    const char* name;
    std::vector<TSortKey> keys;
    int64_t maxRows;
    std::size_t memoryLimit;
  };
  const std::vector<TCase> cases = {
      {"sorted in runs on disk", {{kDay}, {kName, true}}, -1, 16 * 1024},
      {"the first fifty: indexes rebuilt, blob values freed", {{kAmount}}, 50, 0},
  };
  const auto disk = std::make_shared<test::TFailingDisk>();
  for (const TCase& c : cases) {
    TSortOptions options;
    options.keys = c.keys;
    options.maxRows = c.maxRows;
    options.memoryLimit = c.memoryLimit;
    int failures = 0;
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(c.name) + ", write " + std::to_string(n));
      RemakeTable({}, 300);
      const auto before = Rows();
      const auto sorted = Ids(Limited(Expected(before, c.keys), false, c.maxRows,
                                      [](const auto&, const auto&) { return 1; }));
      TFileList::Process()->SetDisk(disk);
      disk->Arm(test::TFailingDisk::TKind::Write, n);
      const int32_t code = ErrorCodeOf([&] { SortTable(*cursor_, options); });
      TFileList::Process()->SetDisk(nullptr);
      cursor_->Close();
      OpenCursor();
      const auto ids = Ids(Rows());
      ExpectSound();
      EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
      if (code == 0) {
        EXPECT_EQ(ids, sorted);
        break;
      }
      ++failures;
      EXPECT_EQ(code, err::kWriteError);
      EXPECT_TRUE(ids == Ids(before) || ids == sorted);
    }
    EXPECT_GT(failures, 3) << c.name;
  }
}

// Another process holding the table open keeps its data file from being replaced: the sort
// fails with 11013 and the table is as it was; once the other process is gone it sorts.
TEST_F(TableSortTest, ATableOpenInAnotherProcessKeepsItsFile) {
  MakeTable({}, 100);
  const auto before = Rows();
  TSortOptions options;
  options.keys = {{kAmount, true}};
  {
    test::TProbe other;
    ASSERT_EQ(other.Ask("open " + dir_ + " t"), "ok");
    EXPECT_EQ(ErrorCodeOf([&] { SortTable(*cursor_, options); }), err::kAccessDenied);
    EXPECT_EQ(Rows(), before);
    ExpectSound();
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
    EXPECT_EQ(other.Ask("count"), "ok 100");
  }
  SortTable(*cursor_, options);
  EXPECT_EQ(Ids(Rows()), Ids(Expected(before, options.keys)));
}

TEST_F(TableSortTest, RefusesKeysItCannotSortByAndReadOnlyCursors) {
  MakeTable({}, 20);
  const auto before = Rows();
  const std::vector<std::pair<int, int32_t>> keys = {
      {0, err::kInvalidField}, {kMemo + 1, err::kInvalidField}, {kMemo, err::kInvalidBlobField}};
  for (const auto& [field, code] : keys) {
    TSortOptions options;
    options.keys = {{kName}, {field}};
    EXPECT_EQ(ErrorCodeOf([&] { SortTable(*cursor_, options); }), code) << field;
  }
  cursor_->Close();
  cursor_->SetReadOnly(true);
  cursor_->Open();
  TSortOptions options;
  options.keys = {{kName}};
  EXPECT_EQ(ErrorCodeOf([&] { SortTable(*cursor_, options); }), err::kAccessDenied);
  EXPECT_EQ(Rows(), before);
}

}  // namespace
}  // namespace mt
