// Helpers shared by the index tests: a temporary directory per test, record images built from
// values, and a walk that checks a tree against an ordered model of its entries.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/storage/btree.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datatable.h"
#include "engine/storage/record.h"
#include "storagetest.h"

namespace mt::test {

class IndexTestBase : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const {
    return (std::filesystem::path(dir_) / name).string();
  }
  std::vector<uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  test::TScratchDir scratch_{"mt-index"};
  std::string dir_ = scratch_.Path();
};

inline TIndexDescriptor Index(std::string name, std::vector<uint16_t> fields, bool unique = false,
                              uint8_t compression = 0, bool descending = false) {
  TIndexDescriptor d;
  d.name = std::move(name);
  d.fields = std::move(fields);
  d.unique = unique;
  d.compression = compression;
  d.descending = descending;
  return d;
}

// Orders keys as the index does.
struct TKeyLess {
  const TKeyDef* def;
  bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const {
    return def->Compare(a.data(), b.data()) < 0;
  }
};
using TModel = std::map<std::vector<uint8_t>, int32_t, TKeyLess>;

inline std::string Hex(const uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

// The tree holds exactly the model's entries, in its order, with sound structure, and every
// entry's ordinal is its rank.
inline void ExpectTreeMatches(TBTree& tree, const TModel& model) {
  int64_t entries = -1;
  const std::vector<std::string> faults = tree.CheckStructure(&entries);
  std::string all;
  for (const std::string& f : faults)
    all += f + "\n";
  ASSERT_TRUE(faults.empty()) << all;
  ASSERT_EQ(entries, static_cast<int64_t>(model.size()));
  ASSERT_EQ(tree.EntryCount(), static_cast<int64_t>(model.size()));
  EXPECT_EQ(tree.IsEmpty(), model.empty());
  const std::size_t length = static_cast<std::size_t>(tree.KeyLength());
  std::vector<uint8_t> key(length);
  TLeafPos pos = tree.First();
  int64_t rank = 0;
  for (const auto& [k, record] : model) {
    ++rank;
    ASSERT_TRUE(pos.Valid()) << "tree ends at rank " << rank;
    ASSERT_EQ(tree.ReadEntry(pos, key.data()), record) << "rank " << rank;
    ASSERT_EQ(std::memcmp(key.data(), k.data(), length), 0)
        << "rank " << rank << ": " << Hex(key.data(), length) << " vs " << Hex(k.data(), length);
    // Without counts every ordinal is a walk of the leaves: a sample of them will do.
    if (tree.HasOrdinals() || rank % 17 == 1) {
      ASSERT_EQ(tree.OrdinalOf(pos), rank);
      ASSERT_EQ(tree.PositionOf(rank), pos);
    }
    const TFindResult found = tree.Find(k.data());
    ASSERT_TRUE(found.found);
    ASSERT_EQ(found.pos, pos);
    pos = tree.Next(pos);
  }
  EXPECT_FALSE(pos.Valid());
  EXPECT_FALSE(tree.PositionOf(rank + 1).Valid());
  int64_t back = 0;
  for (TLeafPos p = tree.Last(); p.Valid(); p = tree.Prior(p))
    ++back;
  EXPECT_EQ(back, static_cast<int64_t>(model.size()));
}

}  // namespace mt::test
