// Index files on disk: damaged headers and pages give their codes and never crash or hang,
// encrypted pages, emptying, rebuilding every index from the records when the index file is
// missing, and adding an index to a table that has records.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/storage/indexbuild.h"
#include "engine/storage/indexfile.h"
#include "engine/storage/indexkey.h"
#include "engine/storage/textindex.h"
#include "indextest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::Field;
using test::Index;

enum : int { kId = 1, kName, kDay };

TTableCreateParams People(bool encrypted = false) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 40),
              Field("day", ftype::kDate)};
  p.indexes.primary = Index("", {kId});
  p.indexes.secondaries = {Index("ByName", {kName}, false, 3),
                           Index("ByDay", {kDay}, false, 0, true)};
  p.indexes.textFields = {kName};
  p.encrypted = encrypted;
  if (encrypted) p.password = "pw";
  return p;
}

TTableOpenOptions WithPassword() {
  TTableOpenOptions o;
  o.passwords.known = {"pw"};
  return o;
}

class IndexFileTest : public test::IndexTestBase {
 protected:
  // Appends a record straight to the data file (the cursor's index upkeep is not involved).
  int32_t Append(TDataTable& t, int32_t id, const std::string& name) {
    TDataFile& data = t.Data();
    TPinnedRecord r(data.GetRecord(data.NextRecordNumber(), TReadAhead::None, true));
    const TRecordFormat& fmt = data.Format();
    le::PutI32(r->Image(), rec::kAutoInc, data.NextAutoInc());
    fmt.SetInteger(kId, r->Image(), id);
    fmt.SetString(kName, r->Image(), name);
    fmt.SetInteger(kDay, r->Image(), 730000 + id % 17);
    r->MarkDirty();
    return r->Number();
  }
  // Fills the indexes of slots 0, 1, 2, 31 and the text index with `count` records as the
  // cursor would, and returns the keys of the primary index.
  void Fill(TDataTable& t, int count) {
    for (int i = 1; i <= count; ++i) {
      const int32_t n = Append(t, i * 7919 % 1000003, "person " + std::to_string(i % 50));
      TPinnedRecord r(t.Data().GetRecord(n));
      for (int slot : {0, 1, 2}) {
        TBTree& tree = t.Index().Tree(slot);
        std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
        tree.KeyDef().Build(r->Image(), key.data());
        tree.Insert(key.data(), n);
      }
      uint8_t id[5];
      BuildRecordIdKey(0, le::GetI32(r->Image(), rec::kAutoInc), id);
      t.Index().Tree(kRecordIdSlot).Insert(id, n);
      AddRecordText(t.Index(), t.Data().Format(), r->Image(), n);
    }
  }
  // Every entry of every index in order, as text.
  std::vector<std::string> Entries(TDataTable& t) {
    std::vector<std::string> out;
    for (int slot = 0; slot < kIndexSlots; ++slot) {
      if (!t.Index().SlotInUse(slot)) continue;
      TBTree& tree = t.Index().Tree(slot);
      std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
      for (TLeafPos pos = tree.First(); pos.Valid(); pos = tree.Next(pos)) {
        const int32_t record = tree.ReadEntry(pos, key.data());
        out.push_back(std::to_string(slot) + ":" + test::Hex(key.data(), key.size()) + ":" +
                      std::to_string(record));
      }
    }
    return out;
  }
  void PatchIndex(const std::string& name, std::size_t at,
                  const std::function<void(uint8_t*)>& fn) {
    std::vector<uint8_t> bytes = ReadFile(name);
    ASSERT_LT(at, bytes.size());
    fn(bytes.data() + at);
    WriteFile(name, bytes);
  }
};

TEST_F(IndexFileTest, DamagedHeadersGiveTheirCodes) {
  {
    TDataTable t(dir_, "base");
    t.Create(People());
    t.Open();
    Fill(t, 300);
    t.Close();
  }
  const std::vector<uint8_t> good = ReadFile("base.IDX");
  const std::vector<uint8_t> data = ReadFile("base.DAT");
  auto descriptor = [](int slot, std::size_t field) {
    return ifh::kDescriptors + static_cast<std::size_t>(slot) * idl::kSize + field;
  };
  struct TCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
    int32_t code;
  };
  const TCase cases[] = {
      {"version 4", [](std::vector<uint8_t>& b) { b[ifh::kVersion] = 4; }, err::kWrongVersion},
      {"short header page", [](std::vector<uint8_t>& b) { b.resize(4000); }, err::kHeaderCorrupt},
      {"root beyond the file",
       [&](std::vector<uint8_t>& b) {
         le::PutI32(b.data(), descriptor(1, idl::kRootPage), 100000);
       },
       err::kHeaderCorrupt},
      {"record-identifier root beyond the file",
       [&](std::vector<uint8_t>& b) {
         le::PutI32(b.data(), descriptor(31, idl::kRootPage), le::GetI32(b.data(), ifh::kNextPage));
       },
       err::kHeaderCorrupt},
      {"free chain beyond the file",
       [&](std::vector<uint8_t>& b) {
         le::PutI32(b.data(), descriptor(31, idl::kFreeChain),
                    le::GetI32(b.data(), ifh::kNextPage));
       },
       err::kHeaderCorrupt},
      {"parameter page beyond the file",
       [&](std::vector<uint8_t>& b) {
         le::PutI32(b.data(), descriptor(32, idl::kParameterPage), -3);
       },
       err::kHeaderCorrupt},
      {"unknown compression",
       [&](std::vector<uint8_t>& b) { b[descriptor(1, idl::kCompression)] = 9; },
       err::kHeaderCorrupt},
      {"wrong key length",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), descriptor(2, idl::kKeyLength), 10); },
       err::kHeaderCorrupt},
      {"secondary name starting with a digit",
       [&](std::vector<uint8_t>& b) { b[descriptor(1, idl::kName) + 1] = '1'; },
       err::kHeaderCorrupt},
      {"equal secondary names",
       [&](std::vector<uint8_t>& b) {
         std::memcpy(b.data() + descriptor(2, idl::kName), b.data() + descriptor(1, idl::kName),
                     31);
       },
       err::kHeaderCorrupt},
      {"missing field",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), descriptor(1, idl::kFields), 9); },
       err::kHeaderCorrupt},
      {"17 fields", [&](std::vector<uint8_t>& b) { b[descriptor(1, idl::kFieldCount)] = 17; },
       err::kHeaderCorrupt},
      {"text index over a date",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), descriptor(32, idl::kFields), kDay); },
       err::kHeaderCorrupt},
      {"primary with a name", [&](std::vector<uint8_t>& b) { b[descriptor(0, idl::kName)] = 1; },
       err::kHeaderCorrupt},
      {"31 secondaries", [](std::vector<uint8_t>& b) { b[ifh::kSecondaryCount] = 31; },
       err::kHeaderCorrupt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bad = good;
    c.change(bad);
    WriteFile("bad.IDX", bad);
    WriteFile("bad.DAT", data);
    TDataTable t(dir_, "bad");
    EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), c.code);
    EXPECT_FALSE(t.IsOpen());
  }
}

TEST_F(IndexFileTest, DamagedPagesGiveTheIndexPageCode) {
  {
    TDataTable t(dir_, "base");
    t.Create(People());
    t.Open();
    Fill(t, 1500);
    t.Close();
  }
  const std::vector<uint8_t> good = ReadFile("base.IDX");
  const std::vector<uint8_t> data = ReadFile("base.DAT");
  const TIndexFileHeader h = DecodeIndexFileHeader(good.data());
  const int32_t root = h.slots[kPrimarySlot].rootPage;
  const std::size_t rootAt = static_cast<std::size_t>(root) * kIndexPageSize;
  ASSERT_EQ(good[rootAt + ipl::kType], ptype::kRootInternal);
  const int32_t firstChild = le::GetI32(good.data(), rootAt + ipl::kEntries + 5);
  const std::size_t childAt = static_cast<std::size_t>(firstChild) * kIndexPageSize;
  struct TCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const TCase cases[] = {
      {"root of parameter type", [&](std::vector<uint8_t>& b) { b[rootAt] = ptype::kParameter; }},
      {"root marked as a plain leaf", [&](std::vector<uint8_t>& b) { b[rootAt] = ptype::kLeaf; }},
      {"root without entries",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), rootAt + 1, 0); }},
      {"child page 0",
       [&](std::vector<uint8_t>& b) { le::PutI32(b.data(), rootAt + ipl::kEntries + 5, 0); }},
      {"child is the root itself",
       [&](std::vector<uint8_t>& b) { le::PutI32(b.data(), rootAt + ipl::kEntries + 5, root); }},
      {"child beyond the file",
       [&](std::vector<uint8_t>& b) {
         le::PutI32(b.data(), rootAt + ipl::kEntries + 5, h.nextPage);
       }},
      {"leaf with too many entries",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), childAt + 1, 454); }},
      {"leaf linked to itself",
       [&](std::vector<uint8_t>& b) { le::PutI32(b.data(), childAt + ipl::kNext, firstChild); }},
      {"file cut before the first leaf", [&](std::vector<uint8_t>& b) { b.resize(childAt); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bad = good;
    c.change(bad);
    WriteFile("bad.IDX", bad);
    WriteFile("bad.DAT", data);
    TDataTable t(dir_, "bad");
    t.Open();
    TBTree& tree = t.Index().Tree(kPrimarySlot);
    const int32_t code = ErrorCodeOf([&] {
      std::vector<uint8_t> key(5);
      key[0] = 1;
      int steps = 0;
      for (TLeafPos pos = tree.First(); pos.Valid() && steps < 5000; pos = tree.Next(pos), ++steps)
        tree.ReadEntry(pos, key.data());
      for (TLeafPos pos = tree.Last(); pos.Valid() && steps < 10000; pos = tree.Prior(pos), ++steps)
        tree.ReadEntry(pos, key.data());
      tree.OrdinalOf(tree.Last());
      for (int v = 0; v < 1600; v += 7) {
        PutKeyInt(v, 4, key.data() + 1);
        tree.Find(key.data());
      }
    });
    EXPECT_EQ(code, err::kIndexPageCorrupt);
    EXPECT_EQ(ErrorCodeOf([&] { t.Close(); }), 0);
  }
}

TEST_F(IndexFileTest, RandomDamageNeverCrashes) {
  {
    TDataTable t(dir_, "base");
    t.Create(People());
    t.Open();
    Fill(t, 800);
    t.Close();
  }
  const std::vector<uint8_t> good = ReadFile("base.IDX");
  const std::vector<uint8_t> data = ReadFile("base.DAT");
  std::mt19937 rng(4242);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bad = good;
    for (int i = 0; i < 1 + round % 6; ++i) {
      const std::size_t at = kIndexPageSize + rng() % (bad.size() - kIndexPageSize);
      bad[at] = static_cast<uint8_t>(rng());
    }
    WriteFile("bad.IDX", bad);
    WriteFile("bad.DAT", data);
    TDataTable t(dir_, "bad");
    if (ErrorCodeOf([&] { t.Open(); }) != 0) continue;
    for (int slot : {0, 1, 2, kRecordIdSlot, kTextSlot}) {
      ErrorCodeOf([&] {
        TBTree& tree = t.Index().Tree(slot);
        tree.CheckStructure();
        std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()), 0x41);
        int steps = 0;
        for (TLeafPos pos = tree.First(); pos.Valid() && steps < 3000;
             pos = tree.Next(pos), ++steps)
          tree.ReadEntry(pos, key.data());
        tree.EntryCount();
        tree.PositionOf(400);
        for (int v = 0; v < 40; ++v) {
          key[key.size() / 2] = static_cast<uint8_t>(v * 5);
          tree.Insert(key.data(), 9000 + v);
        }
        for (int v = 0; v < 40; v += 2) {
          key[key.size() / 2] = static_cast<uint8_t>(v * 5);
          tree.Delete(key.data(), 9000 + v);
        }
      });
    }
    ErrorCodeOf([&] { t.Close(); });
  }
}

TEST_F(IndexFileTest, EncryptedPagesHoldNoKeyInClearAndReadBack) {
  TDataTable t(dir_, "secret");
  t.Create(People(true));
  t.Open(WithPassword());
  Append(t, 1, "visible name");
  TBTree& names = t.Index().Tree(1);
  TPinnedRecord r(t.Data().GetRecord(1));
  std::vector<uint8_t> key(static_cast<std::size_t>(names.KeyLength()));
  names.KeyDef().Build(r->Image(), key.data());
  names.Insert(key.data(), 1);
  r.Reset();
  const std::vector<std::string> before = Entries(t);
  t.Close();
  const std::vector<uint8_t> bytes = ReadFile("secret.IDX");
  const std::string needle = "visible";
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()), bytes.end());
  t.Open(WithPassword());
  EXPECT_EQ(Entries(t), before);
  EXPECT_TRUE(t.Index().Tree(1).Find(key.data()).found);
  t.Close();
}

TEST_F(IndexFileTest, EmptyingCutsThePagesAndTheIndexesStartAgain) {
  TDataTable t(dir_, "empty");
  t.Create(People());
  TTableOpenOptions exclusive;
  exclusive.exclusive = true;
  t.Open(exclusive);
  Fill(t, 700);
  t.FlushBuffers();
  ASSERT_GT(ReadFile("empty.IDX").size(), kIndexPageSize * 4);
  t.Empty();
  EXPECT_EQ(ReadFile("empty.IDX").size(), kIndexPageSize);
  for (int slot : {0, 1, 2, kRecordIdSlot, kTextSlot}) {
    EXPECT_TRUE(t.Index().Tree(slot).IsEmpty());
    EXPECT_EQ(t.Index().Descriptor(slot).freeChain, 0);
  }
  EXPECT_EQ(t.Index().Descriptor(kTextSlot).parameterPage, 0);
  Fill(t, 20);
  EXPECT_EQ(t.Index().Tree(0).EntryCount(), 20);
  t.Close();
  t.Open();
  EXPECT_EQ(t.Index().Tree(0).EntryCount(), 20);
  EXPECT_TRUE(t.Index().Tree(0).CheckStructure().empty());
  t.Close();
}

TEST_F(IndexFileTest, ClearCacheDropsUnwrittenPagesAndRereads) {
  TDataTable t(dir_, "cache");
  t.Create(People());
  t.Open();
  Fill(t, 200);
  t.FlushBuffers();
  const std::vector<std::string> written = Entries(t);
  t.Index().ClearCache();
  EXPECT_EQ(t.Index().Tree(0).CacheStats().cached, 0u);
  EXPECT_EQ(Entries(t), written);
  EXPECT_GT(t.Index().Tree(0).CacheStats().reads, 0u);
  // Re-reading the header (another process changed the file) keeps the trees callers hold.
  TBTree& primary = t.Index().Tree(0);
  t.Index().Load(false);
  EXPECT_EQ(&t.Index().Tree(0), &primary);
  EXPECT_EQ(primary.CacheStats().cached, 0u);
  EXPECT_EQ(primary.EntryCount(), 200);
  t.Close();
}

TEST_F(IndexFileTest, AMissingIndexFileIsRebuiltFromTheRecords) {
  TDataTable t(dir_, "lost");
  t.Create(People());
  t.Open();
  for (int i = 1; i <= 500; ++i)
    Append(t, i, "n" + std::to_string(i));
  for (int32_t n : {7, 200, 499}) {
    TPinnedRecord r(t.Data().GetRecord(n));
    t.Data().DeleteRecord(r.Get());
  }
  t.Close();
  std::filesystem::remove(Path("lost.IDX"));

  t.Open();
  EXPECT_FALSE(t.NeedsIndexRebuild());
  // Nothing records the other definitions: the new file has only the hidden indexes.
  EXPECT_FALSE(t.HasPrimaryIndex());
  EXPECT_EQ(t.Index().Header().secondaryCount, 0);
  EXPECT_EQ(t.Index().Header().activeRecords, 497);
  TBTree& ids = t.Index().Tree(kRecordIdSlot);
  EXPECT_EQ(ids.EntryCount(), 500);
  EXPECT_TRUE(ids.CheckStructure().empty());
  // Deleted slots come after all active ones, each slot once with its state and identifier.
  std::vector<int32_t> slots;
  uint8_t key[5];
  for (TLeafPos pos = ids.First(); pos.Valid(); pos = ids.Next(pos)) {
    const int32_t n = ids.ReadEntry(pos, key);
    TPinnedRecord r(t.Data().GetRecord(n));
    uint8_t expected[5];
    BuildRecordIdKey(r->Image()[rec::kState], le::GetI32(r->Image(), rec::kAutoInc), expected);
    EXPECT_EQ(std::memcmp(key, expected, 5), 0) << n;
    slots.push_back(n);
  }
  EXPECT_EQ(std::vector<int32_t>(slots.end() - 3, slots.end()),
            (std::vector<int32_t>{7, 200, 499}));
  std::sort(slots.begin(), slots.end());
  EXPECT_EQ(std::adjacent_find(slots.begin(), slots.end()), slots.end());
  t.Close();
  EXPECT_GT(ReadFile("lost.IDX").size(), kIndexPageSize);
}

TEST_F(IndexFileTest, RebuildingRefillsEveryDefinedIndex) {
  TDataTable t(dir_, "again");
  t.Create(People());
  t.Open();
  Fill(t, 900);
  {
    // Delete a few records the way the cursor does.
    for (int32_t n : {5, 6, 400}) {
      TPinnedRecord r(t.Data().GetRecord(n));
      for (int slot : {0, 1, 2}) {
        TBTree& tree = t.Index().Tree(slot);
        std::vector<uint8_t> key(static_cast<std::size_t>(tree.KeyLength()));
        tree.KeyDef().Build(r->Image(), key.data());
        ASSERT_TRUE(tree.Delete(key.data(), n));
      }
      uint8_t oldId[5], newId[5];
      BuildRecordIdKey(0, le::GetI32(r->Image(), rec::kAutoInc), oldId);
      BuildRecordIdKey(1, le::GetI32(r->Image(), rec::kAutoInc), newId);
      t.Index().Tree(kRecordIdSlot).Replace(oldId, newId, n);
      RemoveRecordText(t.Index(), t.Data().Format(), r->Image(), n);
      t.Data().DeleteRecord(r.Get());
    }
  }
  t.Index().MutableHeader().activeRecords = 897;
  const std::vector<std::string> maintained = Entries(t);
  t.RebuildIndexes();
  EXPECT_EQ(Entries(t), maintained);
  EXPECT_EQ(t.Index().Header().activeRecords, 897);
  EXPECT_EQ(t.Index().Text().FindWord("person").size(), 897u);
  t.Close();
  t.Open();
  EXPECT_EQ(Entries(t), maintained);
  t.Close();
}

TEST_F(IndexFileTest, AFailedRebuildLeavesNoIndexFileBehind) {
  TDataTable t(dir_, "clash");
  t.Create(People());
  t.Open();
  Append(t, 1, "a");
  Append(t, 2, "b");
  // Two slots with the same state and identifier cannot both enter "Sys Deleted".
  for (int32_t n : {1, 2}) {
    TPinnedRecord r(t.Data().GetRecord(n));
    le::PutI32(r->Image(), rec::kAutoInc, 5);
    r->MarkDirty();
  }
  t.Close();
  std::filesystem::remove(Path("clash.IDX"));
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), err::kDuplicateKey);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(Path("clash.IDX")));
}

TEST_F(IndexFileTest, AddingAnIndexFillsItFromTheRecords) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 40),
              Field("day", ftype::kDate)};
  TDataTable t(dir_, "grow");
  t.Create(p);
  TTableOpenOptions exclusive;
  exclusive.exclusive = true;
  t.Open(exclusive);
  for (int i = 1; i <= 600; ++i)
    Append(t, i % 300, "name " + std::to_string(i));
  {
    TPinnedRecord r(t.Data().GetRecord(10));
    t.Data().DeleteRecord(r.Get());
  }
  t.AddIndex(Index("ByName", {kName}, true, 1), false);
  EXPECT_EQ(t.Index().Header().secondaryCount, 1);
  EXPECT_EQ(t.Index().Tree(1).EntryCount(), 599);
  EXPECT_TRUE(t.Index().Tree(1).CheckStructure().empty());

  // Unique over equal values: refused before anything changed.
  const TIndexFileHeader before = t.Index().Header();
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("ById", {kId}, true), false); }),
            err::kDuplicateKey);
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("", {kId}), true); }), err::kDuplicateKey);
  EXPECT_EQ(t.Index().Header().secondaryCount, 1);
  EXPECT_FALSE(t.HasPrimaryIndex());
  EXPECT_EQ(t.Index().Header().nextPage, before.nextPage);
  // Checked as at creation.
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("byname", {kId}), false); }), err::kIndexExists);
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("9x", {kId}), false); }), err::kInvalidIndexName);
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("x", {7}), false); }), err::kInvalidIndexField);

  t.AddIndex(Index("ById", {kId}, false), false);
  EXPECT_EQ(t.Index().Tree(2).EntryCount(), 599);
  t.AddIndex(Index("", {kName}), true);
  EXPECT_TRUE(t.HasPrimaryIndex());
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("", {kDay}), true); }), err::kPrimaryExists);
  t.Close();

  t.Open();
  EXPECT_EQ(t.Index().Tree(0).EntryCount(), 599);
  EXPECT_EQ(t.Index().Tree(2).EntryCount(), 599);
  EXPECT_EQ(ErrorCodeOf([&] { t.AddIndex(Index("Later", {kDay}), false); }), err::kMustBeExclusive);
  t.Close();
}

}  // namespace
}  // namespace mt
