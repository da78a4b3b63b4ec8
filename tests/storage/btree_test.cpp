// B+trees against an ordered model: long random runs of inserts and deletes over unique and
// non-unique indexes, each leaf compression, ascending and descending, integer, float and
// string keys, with and without a table locale, checked for structure, order, counts and
// ordinals after every batch and after the table was closed and reopened. Also page
// capacities, growth at the root, free-page reuse and the ordering rules of the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "engine/common/gbk.h"
#include "engine/storage/indexfile.h"
#include "engine/storage/indexkey.h"
#include "indextest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::Field;
using test::Index;
using test::TKeyLess;
using test::TModel;

enum : int { kNum = 1, kName, kCode, kAmount };

TTableCreateParams ModelTable(uint16_t languageId) {
  TTableCreateParams p;
  p.languageId = languageId;
  // Long strings make small pages, so that the trees grow several levels deep.
  p.fields = {Field("num", ftype::kInteger), Field("name", ftype::kString, 200),
              Field("code", ftype::kString, 100), Field("amount", ftype::kFloat)};
  p.indexes.primary = Index("", {kNum});
  TIndexDescriptor numDesc = Index("NumDesc", {kNum}, false, 1, true);
  TIndexDescriptor codeNum = Index("CodeNum", {kCode, kNum}, false, 0);
  codeNum.fieldDescending[0] = true;
  TIndexDescriptor nameCi = Index("NameCi", {kName}, false, 3);
  nameCi.caseInsensitive = true;
  TIndexDescriptor walk = Index("NameWalk", {kName}, false, 1);
  walk.noCounts = true;  // ordinals by walking the leaves
  p.indexes.secondaries = {numDesc,
                           Index("Name", {kName}, true, 2),
                           nameCi,
                           Index("NameDesc", {kName}, true, 3, true),
                           codeNum,
                           Index("Amount", {kAmount}, false, 2),
                           Index("CodeLead", {kCode}, false, 1),
                           Index("NamePlain", {kName}, false, 0),
                           walk};
  return p;
}

// Random field values with long shared prefixes, trailing zeros and duplicates.
class TValueSource {
 public:
  explicit TValueSource(uint32_t seed) : rng_(seed) {}

  void Fill(const TRecordFormat& fmt, uint8_t* image, int32_t identifier) {
    fmt.InitRecord(image);
    le::PutI32(image, rec::kAutoInc, identifier);
    fmt.SetInteger(kNum, image, Between(-3000, 3000));
    static const char* prefixes[] = {"LEDGER-ENTRY-", "ledger-entry-", "", "\xca\xd5\xc8\xeb",
                                     "Ledger"};
    std::string name = prefixes[Between(0, 4)] + std::to_string(Between(0, 900));
    const int tail = Between(0, 3) == 0 ? Between(40, 150) : Between(0, 20);
    for (int i = 0; i < tail; ++i)
      name.push_back(
          static_cast<char>(Between(0, 3) == 0 ? 'a' + Between(0, 25) : 'A' + Between(0, 25)));
    if (Between(0, 9) == 0) {
      fmt.SetNull(kName, image);
    } else {
      fmt.SetString(kName, image, name);
    }
    fmt.SetString(kCode, image, "C" + std::to_string(Between(0, 30)));
    if (Between(0, 19) == 0) {
      fmt.SetNull(kAmount, image);
    } else {
      fmt.SetFloat(kAmount, image, Between(-200, 200) * 0.25);
    }
  }
  int Between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_;
};

struct TModelCase {
  const char* name;
  uint16_t languageId;
  int batches;
  int opsPerBatch;
};

class BTreeModelTest : public test::IndexTestBase,
                       public ::testing::WithParamInterface<TModelCase> {};

TEST_P(BTreeModelTest, RandomInsertsAndDeletesMatchAnOrderedModel) {
  const TModelCase c = GetParam();
  TDataTable table(dir_, "model");
  table.Create(ModelTable(c.languageId));
  table.Open();
  const TRecordFormat& fmt = table.Data().Format();
  std::vector<int> slots = {kPrimarySlot};
  for (int s = 1; s <= table.Index().Header().secondaryCount; ++s)
    slots.push_back(s);

  std::vector<TModel> models;
  std::vector<std::vector<std::vector<uint8_t>>> keyLists(slots.size());
  for (int slot : slots)
    models.emplace_back(TKeyLess{&table.Index().Tree(slot).KeyDef()});
  auto refreshModels = [&]() {
    // The trees were made anew: the models take the new key definitions.
    for (std::size_t i = 0; i < slots.size(); ++i) {
      TModel fresh(TKeyLess{&table.Index().Tree(slots[i]).KeyDef()});
      fresh.insert(models[i].begin(), models[i].end());
      models[i] = std::move(fresh);
    }
  };
  auto smallCaches = [&]() {
    for (int slot : slots)
      table.Index().Tree(slot).SetCacheTarget(8);
  };
  smallCaches();

  TValueSource values(20240611u + c.languageId);
  std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
  int32_t identifier = 0;
  int32_t record = 0;
  int refused = 0;
  std::vector<int> heights(slots.size(), 0);
  for (int batch = 0; batch < c.batches; ++batch) {
    // Mostly inserts first, then mostly deletes, then everything goes.
    const bool last = batch == c.batches - 1;
    const int insertPercent = batch < c.batches / 2 ? 70 : 30;
    for (std::size_t t = 0; t < slots.size(); ++t) {
      TBTree& tree = table.Index().Tree(slots[t]);
      TModel& model = models[t];
      std::vector<std::vector<uint8_t>>& keys = keyLists[t];
      const std::size_t length = static_cast<std::size_t>(tree.KeyLength());
      const int ops = last ? static_cast<int>(keys.size()) : c.opsPerBatch;
      for (int op = 0; op < ops; ++op) {
        if (!last && (keys.empty() || values.Between(0, 99) < insertPercent)) {
          values.Fill(fmt, image.data(), ++identifier);
          std::vector<uint8_t> key(length);
          tree.KeyDef().Build(image.data(), key.data());
          ++record;
          if (model.count(key) != 0) {
            ASSERT_EQ(ErrorCodeOf([&] { tree.Insert(key.data(), record); }), err::kDuplicateKey);
            ++refused;
            continue;
          }
          tree.Insert(key.data(), record);
          model.emplace(key, record);
          keys.push_back(std::move(key));
        } else {
          const std::size_t at =
              static_cast<std::size_t>(values.Between(0, static_cast<int>(keys.size()) - 1));
          std::swap(keys[at], keys.back());
          const std::vector<uint8_t> key = keys.back();
          keys.pop_back();
          const int32_t owner = model.at(key);
          EXPECT_FALSE(tree.Delete(key.data(), owner + 1));  // another record's entry
          ASSERT_TRUE(tree.Delete(key.data(), owner));
          EXPECT_FALSE(tree.Delete(key.data(), owner));
          model.erase(key);
        }
      }
      SCOPED_TRACE("index " + tree.IndexName() + " batch " + std::to_string(batch));
      heights[t] = std::max(heights[t], tree.Height());
      test::ExpectTreeMatches(tree, model);
      if (HasFatalFailure()) return;
    }
    if (batch % 2 == 1 || last) {
      table.Close();
      table.Open();
      refreshModels();
      smallCaches();
      for (std::size_t t = 0; t < slots.size(); ++t) {
        SCOPED_TRACE("reopened index " + table.Index().Tree(slots[t]).IndexName());
        test::ExpectTreeMatches(table.Index().Tree(slots[t]), models[t]);
        if (HasFatalFailure()) return;
      }
    }
  }
  EXPECT_GT(refused, 0);  // the unique indexes met equal keys
  // The string indexes grew internal pages below the root, which split and joined.
  EXPECT_GE(*std::max_element(heights.begin(), heights.end()), 3);
  for (int slot : slots)
    EXPECT_EQ(table.Index().Descriptor(slot).rootPage, 0);
  table.Close();
}

INSTANTIATE_TEST_SUITE_P(Locales, BTreeModelTest,
                         ::testing::Values(TModelCase{"NoLocale", 0, 8, 1000},
                                           TModelCase{"English", 1033, 6, 400}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- capacities and shapes ------------------------------------------------------------------

class BTreeShapeTest : public test::IndexTestBase {};

TEST_F(BTreeShapeTest, PageCapacitiesAndKeyLengths) {
  struct TCase {
    const char* what;
    std::vector<TFieldDescriptor> fields;
    bool unique;
    int keyLength;
    int leaf;
    int internal;
  };
  const TCase cases[] = {
      {"one integer", {Field("n", ftype::kInteger)}, true, 5, 453, 314},
      {"string of 250", {Field("s", ftype::kString, 250)}, true, 252, 15, 15},
      {"non-unique integer", {Field("n", ftype::kInteger)}, false, 9, 314, 240},
      {"largest key",
       {Field("a", ftype::kString, 250), Field("b", ftype::kString, 250),
        Field("c", ftype::kString, 12)},
       false,
       522,
       7,
       7},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TTableCreateParams p;
    p.fields = c.fields;
    std::vector<uint16_t> all;
    for (std::size_t i = 0; i < c.fields.size(); ++i)
      all.push_back(static_cast<uint16_t>(i + 1));
    p.indexes.secondaries = {Index("k", all, c.unique)};
    TDataTable t(dir_, "cap");
    t.Create(p);
    t.Open();
    const TPageFormat& f = t.Index().Tree(1).PageFormat();
    EXPECT_EQ(f.keyLength, c.keyLength);
    EXPECT_EQ(f.LeafCapacity(), c.leaf);
    EXPECT_EQ(f.InternalCapacity(), c.internal);
    t.Close();
  }

  // One byte more than the largest key is refused at creation.
  TTableCreateParams p;
  p.fields = {Field("a", ftype::kString, 250), Field("b", ftype::kString, 250),
              Field("c", ftype::kString, 17)};
  p.indexes.secondaries = {Index("k", {1, 2, 3}, true)};
  TDataTable t(dir_, "toolong");
  EXPECT_EQ(ErrorCodeOf([&] { t.Create(p); }), err::kInvalidKeySize);
  p.fields[2].size = 16;
  EXPECT_EQ(ErrorCodeOf([&] { t.Create(p); }), 0);
  p.indexes.secondaries[0].unique = false;  // the identifier suffix makes it 526
  EXPECT_EQ(ErrorCodeOf([&] { t.Create(p); }), err::kInvalidKeySize);
}

TEST_F(BTreeShapeTest, AscendingInsertsSplitFullLeavesInHalvesAndGrowAtTheRoot) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger)};
  p.indexes.primary = Index("", {1});
  TDataTable t(dir_, "asc");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(kPrimarySlot);
  uint8_t key[5];
  key[0] = 1;
  auto insert = [&](int32_t v) {
    PutKeyInt(v, 4, key + 1);
    tree.Insert(key, v);
  };
  for (int32_t v = 1; v <= 453; ++v)
    insert(v);
  const int32_t firstRoot = tree.RootPage();
  EXPECT_EQ(tree.Last(), (TLeafPos{firstRoot, 452}));  // one full root leaf
  insert(454);
  ASSERT_NE(tree.RootPage(), firstRoot);  // grown at the top
  EXPECT_EQ(tree.First().page, firstRoot);
  EXPECT_EQ(tree.Last(), (TLeafPos{tree.Last().page, 226}));  // 227 + 227
  EXPECT_EQ(tree.OrdinalOf(tree.Last()), 454);
  for (int32_t v = 455; v <= 60000; ++v) {
    insert(v);
    if (v % 4999 == 0) {
      ASSERT_EQ(tree.OrdinalOf(tree.Last()), v);
    }
  }
  EXPECT_EQ(tree.OrdinalOf(tree.Last()), 60000);
  PutKeyInt(30000, 4, key + 1);
  EXPECT_EQ(tree.PositionOf(30000), tree.Find(key).pos);
  EXPECT_TRUE(tree.CheckStructure().empty());
  t.Close();
}

TEST_F(BTreeShapeTest, EmptiedIndexKeepsItsPagesOnTheFreeChainAndReusesThem) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger), Field("s", ftype::kString, 100)};
  p.indexes.secondaries = {Index("both", {1, 2}, true, 3)};
  TDataTable t(dir_, "free");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(1);
  std::vector<uint8_t> image(static_cast<std::size_t>(t.Data().RecordSize()));
  const TRecordFormat& fmt = t.Data().Format();
  std::vector<std::vector<uint8_t>> keys;
  for (int i = 0; i < 3000; ++i) {
    fmt.InitRecord(image.data());
    fmt.SetInteger(1, image.data(), i * 7 % 3001);
    fmt.SetString(2, image.data(), "free page reuse " + std::to_string(i));
    keys.emplace_back(static_cast<std::size_t>(tree.KeyLength()));
    tree.KeyDef().Build(image.data(), keys.back().data());
    tree.Insert(keys.back().data(), i + 1);
  }
  const int32_t pages = t.Index().Header().nextPage - 1;
  ASSERT_GT(pages, 3);
  for (int i = 0; i < 3000; ++i)
    ASSERT_TRUE(tree.Delete(keys[static_cast<std::size_t>(i)].data(), i + 1));
  EXPECT_EQ(tree.RootPage(), 0);
  t.FlushBuffers();
  // Every page of the file is on the chain, each once.
  std::set<int32_t> chain;
  std::vector<uint8_t> page(kIndexPageSize);
  for (int32_t n = t.Index().Descriptor(1).freeChain; n != 0;) {
    ASSERT_TRUE(chain.insert(n).second);
    ASSERT_TRUE(t.Index().ReadPage(n, page.data()));
    EXPECT_EQ(le::GetU16(page.data(), ipl::kCount), 0);
    n = le::GetI32(page.data(), ipl::kNext);
  }
  EXPECT_EQ(static_cast<int32_t>(chain.size()), pages);
  EXPECT_TRUE(tree.CheckStructure().empty());
  const int32_t head = t.Index().Descriptor(1).freeChain;
  tree.Insert(keys[0].data(), 1);
  EXPECT_EQ(tree.RootPage(), head);
  EXPECT_EQ(t.Index().Header().nextPage - 1, pages);  // the file did not grow
  t.Close();
}

// ---- ordering rules ---------------------------------------------------------------------------

class KeyOrderTest : public test::IndexTestBase {
 protected:
  // Inserts one record per value through the index of slot 1 and returns the values in index
  // order.
  std::vector<std::string> Order(TTableCreateParams p, const std::vector<std::string>& values) {
    TDataTable t(dir_, "order" + std::to_string(++tables_));
    t.Create(p);
    t.Open();
    TBTree& tree = t.Index().Tree(1);
    const TRecordFormat& fmt = t.Data().Format();
    std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
    std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
    for (std::size_t i = 0; i < values.size(); ++i) {
      fmt.InitRecord(image.data());
      le::PutI32(image.data(), rec::kAutoInc, static_cast<int32_t>(100 - i));
      if (fmt.Field(1).type == ftype::kString) {
        fmt.SetString(1, image.data(), values[i]);
      } else {
        fmt.SetInteger(1, image.data(), std::stoi(values[i]));
      }
      tree.KeyDef().Build(image.data(), key.data());
      lastCode_ = ErrorCodeOf([&] { tree.Insert(key.data(), static_cast<int32_t>(i + 1)); });
      if (lastCode_ != 0) break;
    }
    std::vector<std::string> out;
    for (TLeafPos pos = tree.First(); pos.Valid(); pos = tree.Next(pos))
      out.push_back(values[static_cast<std::size_t>(tree.RecordAt(pos) - 1)]);
    t.Close();
    return out;
  }
  int tables_ = 0;
  int32_t lastCode_ = 0;
};

TEST_F(KeyOrderTest, DescendingIntegerIndexWithoutLocale) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger)};
  p.indexes.secondaries = {Index("d", {1}, true, 0, true)};
  EXPECT_EQ(Order(p, {"1", "2", "3"}), (std::vector<std::string>{"3", "2", "1"}));
  // A field marked descending in an ascending index gives the same order, with or without a
  // locale; marking both the field and the index keeps it descending.
  p.indexes.secondaries[0].descending = false;
  p.indexes.secondaries[0].fieldDescending[0] = true;
  EXPECT_EQ(Order(p, {"1", "-2", "3"}), (std::vector<std::string>{"3", "1", "-2"}));
  p.indexes.secondaries[0].descending = true;
  EXPECT_EQ(Order(p, {"1", "-2", "3"}), (std::vector<std::string>{"3", "1", "-2"}));
  p.languageId = 1033;
  EXPECT_EQ(Order(p, {"1", "-2", "3"}), (std::vector<std::string>{"3", "1", "-2"}));
  p.indexes.secondaries[0].descending = false;
  EXPECT_EQ(Order(p, {"1", "-2", "3"}), (std::vector<std::string>{"3", "1", "-2"}));
}

TEST_F(KeyOrderTest, EqualValuesOfANonUniqueIndexFollowTheirIdentifiers) {
  TTableCreateParams p;
  p.fields = {Field("s", ftype::kString, 10)};
  p.indexes.secondaries = {Index("s", {1}, false)};
  // Identifiers run 100, 99, 98, ... so the later records come first among equals.
  EXPECT_EQ(Order(p, {"b", "a", "b", "a"}), (std::vector<std::string>{"a", "a", "b", "b"}));
  TDataTable t(dir_, "order1");
  t.Open();
  TBTree& tree = t.Index().Tree(1);
  std::vector<int32_t> records;
  for (TLeafPos pos = tree.First(); pos.Valid(); pos = tree.Next(pos))
    records.push_back(tree.RecordAt(pos));
  EXPECT_EQ(records, (std::vector<int32_t>{4, 2, 3, 1}));
  t.Close();
}

TEST_F(KeyOrderTest, CaseInsensitiveUniqueIndexRefusesTheSameWordInOtherCase) {
  TTableCreateParams p;
  p.languageId = 1033;
  p.fields = {Field("s", ftype::kString, 10)};
  TIndexDescriptor ci = Index("ci", {1}, true);
  ci.caseInsensitive = true;
  p.indexes.secondaries = {ci};
  Order(p, {"abc", "ABC"});
  EXPECT_EQ(lastCode_, err::kDuplicateKey);
  p.indexes.secondaries[0].caseInsensitive = false;
  EXPECT_EQ(Order(p, {"abc", "ABC", "b"}), (std::vector<std::string>{"abc", "ABC", "b"}));
  p.languageId = 0;  // byte order: capitals first
  EXPECT_EQ(Order(p, {"abc", "ABC", "b"}), (std::vector<std::string>{"ABC", "abc", "b"}));
}

TEST_F(KeyOrderTest, LocaleOrderIsFieldByField) {
  TTableCreateParams p;
  p.languageId = 1033;
  p.fields = {Field("s", ftype::kString, 10), Field("n", ftype::kInteger)};
  TIndexDescriptor both = Index("both", {1, 2}, true);
  both.fieldDescending[1] = true;
  p.indexes.secondaries = {both};
  TDataTable t(dir_, "fields");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(1);
  const TRecordFormat& fmt = t.Data().Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
  std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
  const std::vector<std::pair<std::string, int>> rows = {{"b", 1}, {"a", 1}, {"B", 5},
                                                         {"a", 7}, {"", 3},  {"A", 2}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    fmt.InitRecord(image.data());
    fmt.SetString(1, image.data(), rows[i].first);
    fmt.SetInteger(2, image.data(), rows[i].second);
    tree.KeyDef().Build(image.data(), key.data());
    tree.Insert(key.data(), static_cast<int32_t>(i));
  }
  std::vector<std::pair<std::string, int>> got;
  for (TLeafPos pos = tree.First(); pos.Valid(); pos = tree.Next(pos))
    got.push_back(rows[static_cast<std::size_t>(tree.RecordAt(pos))]);
  // Null first; "a" before "A" before "b" before "B"; the number descending within a text.
  const std::vector<std::pair<std::string, int>> want = {{"", 3},  {"a", 7}, {"a", 1},
                                                         {"A", 2}, {"b", 1}, {"B", 5}};
  EXPECT_EQ(got, want);

  // A search key filled after the first field finds the first and the last "a".
  fmt.InitRecord(image.data());
  fmt.SetString(1, image.data(), "a");
  tree.KeyDef().BuildPartial(image.data(), 1, TKeyFill::First, key.data());
  TFindResult first = tree.Find(key.data());
  EXPECT_EQ(rows[static_cast<std::size_t>(tree.RecordAt(first.pos))],
            (std::pair<std::string, int>{"a", 7}));
  tree.KeyDef().BuildPartial(image.data(), 1, TKeyFill::Last, key.data());
  TFindResult after = tree.Find(key.data());
  EXPECT_EQ(rows[static_cast<std::size_t>(tree.RecordAt(after.pos))],
            (std::pair<std::string, int>{"A", 2}));
  std::vector<uint8_t> probe(key.size());
  tree.ReadEntry(first.pos, probe.data());
  EXPECT_EQ(tree.KeyDef().CompareLeading(probe.data(), key.data(), 1), 0);
  t.Close();
}

TEST_F(KeyOrderTest, KeyExistsIgnoresTheIdentifierOfNonUniqueIndexes) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger)};
  p.indexes.secondaries = {Index("n", {1}, false, 0, true)};
  TDataTable t(dir_, "exists");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(1);
  const TRecordFormat& fmt = t.Data().Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
  std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
  for (int v : {5, 5, 7}) {
    fmt.SetInteger(1, image.data(), v);
    le::PutI32(image.data(), rec::kAutoInc, le::GetI32(image.data(), rec::kAutoInc) + 1);
    tree.KeyDef().Build(image.data(), key.data());
    tree.Insert(key.data(), v);
  }
  le::PutI32(image.data(), rec::kAutoInc, 77);
  for (auto [v, present] : {std::pair{5, true}, {7, true}, {6, false}, {8, false}, {4, false}}) {
    fmt.SetInteger(1, image.data(), v);
    tree.KeyDef().Build(image.data(), key.data());
    EXPECT_EQ(tree.KeyExists(key.data()), present) << v;
    EXPECT_FALSE(tree.Find(key.data()).found) << v;
  }
  t.Close();
}

TEST_F(BTreeShapeTest, SmallCachesWriteBackWhileDeferredCachesGrow) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger), Field("s", ftype::kString, 200)};
  p.indexes.primary = Index("", {1, 2});
  TDataTable t(dir_, "cache");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(kPrimarySlot);
  tree.SetCacheTarget(8);
  const TRecordFormat& fmt = t.Data().Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
  std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
  auto insert = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      fmt.SetInteger(1, image.data(), i);
      fmt.SetString(2, image.data(), std::string(150, 'k') + std::to_string(i));
      tree.KeyDef().Build(image.data(), key.data());
      tree.Insert(key.data(), i + 1);
    }
  };
  insert(0, 400);  // about 30 pages through a cache of 8
  EXPECT_LE(tree.CacheStats().cached, 8u);
  EXPECT_GT(tree.CacheStats().writes, 0u);
  const auto written = ReadFile("cache.IDX").size();
  EXPECT_GT(written, 8 * kIndexPageSize);

  t.Index().SetDeferWrites(true);
  const uint64_t writes = tree.CacheStats().writes;
  insert(400, 800);
  EXPECT_EQ(tree.CacheStats().writes, writes);
  EXPECT_GT(tree.CacheStats().cached, 8u);
  EXPECT_EQ(ReadFile("cache.IDX").size(), written);
  t.Index().SetDeferWrites(false);
  t.FlushBuffers(true);
  EXPECT_LE(tree.CacheStats().cached, 8u);
  EXPECT_TRUE(tree.CheckStructure().empty());
  EXPECT_EQ(tree.EntryCount(), 800);
  t.Close();
}

// Changes in key order (appending the highest key or the lowest, removing from the other end,
// as a ledger's inserts and range deletes do) and changes clustered around a drifting point go
// down to the leaf the last change used; the trees must keep every entry, count, separator and
// link right through the splits, joins and shares of leaves and of the pages above them (long
// keys make the trees deep), with a cache small enough to drop that leaf, and after the cache
// is dropped.
TEST_F(BTreeShapeTest, ChangesInKeyOrderKeepEveryCountAndLink) {
  static constexpr int32_t kNone = -2000000000;
  static constexpr int kWindow = 1500;
  struct TPattern {
    const char* what;
    int32_t (*inserted)(int step);
    int32_t (*removed)(int step);  // the value removed at a step, or kNone
  };
  const TPattern patterns[] = {
      {"appends, the lowest removed", [](int s) { return s; },
       [](int s) { return s >= kWindow ? s - kWindow : kNone; }},
      {"prepends, the highest removed", [](int s) { return -s; },
       [](int s) { return s >= kWindow ? -(s - kWindow) : kNone; }},
      {"two ascending runs, the lower one removed from its start",
       [](int s) { return s % 2 == 0 ? s : 1000000 + s; },
       [](int s) { return s >= kWindow && s % 2 == 1 ? s - kWindow - 1 : kNone; }},
  };
  int tableNo = 0;
  auto run = [&](const char* what, const std::function<int32_t(int)>& inserted,
                 const std::function<int32_t(int)>& removed, int steps) {
    SCOPED_TRACE(what);
    TTableCreateParams p;
    p.fields = {Field("s", ftype::kString, 200)};
    p.indexes.primary = Index("", {1});
    p.indexes.secondaries = {Index("packed", {1}, false, 3)};
    TDataTable t(dir_, "order" + std::to_string(++tableNo));
    t.Create(p);
    t.Open();
    const TRecordFormat& fmt = t.Data().Format();
    std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
    std::vector<TBTree*> trees = {&t.Index().Tree(kPrimarySlot), &t.Index().Tree(1)};
    std::vector<TModel> models;
    for (TBTree* tree : trees) {
      tree->SetCacheTarget(8);
      models.emplace_back(TKeyLess{&tree->KeyDef()});
    }
    auto keyOf = [&](const TBTree& tree, int32_t value) {
      char text[16];
      std::snprintf(text, sizeof text, "%010lld", static_cast<long long>(value) + 1000000000LL);
      fmt.InitRecord(image.data());
      fmt.SetString(1, image.data(), text);
      le::PutI32(image.data(), rec::kAutoInc, value ^ 0x5A5A);
      std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
      tree.KeyDef().Build(image.data(), key.data());
      return key;
    };
    int heights = 0;
    for (int step = 0; step < steps; ++step) {
      for (std::size_t i = 0; i < trees.size(); ++i) {
        TBTree& tree = *trees[i];
        const int32_t in = inserted(step);
        if (in != kNone) {
          const std::vector<uint8_t> key = keyOf(tree, in);
          if (models[i].count(key) == 0) {
            tree.Insert(key.data(), in + 1000000000);
            models[i].emplace(key, in + 1000000000);
          }
        }
        const int32_t out = removed(step);
        if (out != kNone) {
          const std::vector<uint8_t> gone = keyOf(tree, out);
          const auto found = models[i].find(gone);
          ASSERT_EQ(tree.Delete(gone.data(), out + 1000000000), found != models[i].end())
              << "step " << step;
          if (found != models[i].end()) models[i].erase(found);
        }
        heights = std::max(heights, tree.Height());
      }
      if (step == steps / 2) {
        for (TBTree* tree : trees) {
          tree->WriteBack();
          tree->ClearCache();
        }
      }
      if (step % 1000 == 999 || step == steps - 1) {
        for (std::size_t i = 0; i < trees.size(); ++i) {
          SCOPED_TRACE(trees[i]->IndexName() + " at step " + std::to_string(step));
          test::ExpectTreeMatches(*trees[i], models[i]);
          if (HasFatalFailure()) return;
        }
      }
    }
    EXPECT_GE(heights, 3);
    t.Close();
  };
  for (const TPattern& pattern : patterns)
    run(pattern.what, pattern.inserted, pattern.removed, 6000);
  // Inserts and removals a few keys apart around a point that drifts up and down, in phases
  // that grow the trees and phases that shrink them.
  std::mt19937 rng(17);
  constexpr int kSteps = 16000;
  std::vector<int32_t> centre(1, 50000);
  for (int s = 1; s < kSteps; ++s)
    centre.push_back(centre.back() + static_cast<int32_t>(rng() % 7) - (s / 2000 % 2 == 0 ? 2 : 4));
  std::vector<int32_t> offsets;
  for (int s = 0; s < 2 * kSteps; ++s)
    offsets.push_back(static_cast<int32_t>(rng() % 81) - 40);
  auto at = [&](int s, int k) {
    const auto i = static_cast<std::size_t>(s);
    return centre[i] + offsets[2 * i + static_cast<std::size_t>(k)];
  };
  const auto growing = [](int s) { return s / 4000 % 2 == 0; };
  run(
      "clustered around a drifting point",
      [&](int s) { return growing(s) || s % 3 == 0 ? at(s, 0) : kNone; },
      [&](int s) { return growing(s) && s % 3 != 0 ? kNone : at(s, 1); }, kSteps);
}

TEST_F(BTreeShapeTest, ReplaceMovesAnEntryAndRefusesAnEqualKeyFirst) {
  TTableCreateParams p;
  p.fields = {Field("n", ftype::kInteger)};
  p.indexes.primary = Index("", {1});
  TDataTable t(dir_, "replace");
  t.Create(p);
  t.Open();
  TBTree& tree = t.Index().Tree(kPrimarySlot);
  auto key = [](int32_t v) {
    std::vector<uint8_t> k(5, 1);
    PutKeyInt(v, 4, k.data() + 1);
    return k;
  };
  for (int32_t v = 1; v <= 1000; ++v)
    tree.Insert(key(v * 10).data(), v);
  tree.Replace(key(500).data(), key(5).data(), 50);
  EXPECT_EQ(tree.OrdinalOf(tree.Find(key(5).data()).pos), 1);
  EXPECT_EQ(tree.RecordAt(tree.First()), 50);
  EXPECT_EQ(ErrorCodeOf([&] { tree.Replace(key(5).data(), key(20).data(), 50); }),
            err::kDuplicateKey);
  EXPECT_TRUE(tree.Find(key(5).data()).found);
  EXPECT_EQ(ErrorCodeOf([&] { tree.Replace(key(7).data(), key(8).data(), 50); }),
            err::kIndexPageCorrupt);
  EXPECT_EQ(tree.EntryCount(), 1000);
  EXPECT_TRUE(tree.CheckStructure().empty());
  t.Close();
}

}  // namespace
}  // namespace mt
