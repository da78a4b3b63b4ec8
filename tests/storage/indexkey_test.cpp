// Index keys and pages: key bytes of every indexable type keep value order under unsigned byte
// comparison, the exact bytes of the documented encodings, descending inversion, GBK-aware
// upper-casing, the hidden indexes' keys, and the disk form of pages with each compression.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>

#include "engine/common/numeric.h"
#include "engine/storage/byteio.h"
#include "engine/storage/indexkey.h"
#include "engine/storage/indexpage.h"
#include "engine/storage/record.h"
#include "indextest.h"

namespace mt {
namespace {

using test::Field;

// A one-field table format and the key definition of an index over that field.
struct TOneField {
  TOneField(TFieldDescriptor f, bool descending = false, bool fieldDescending = false,
            bool caseInsensitive = false, uint32_t locale = 0) {
    f.number = 1;
    f.offset = 9;
    f.physicalSize = static_cast<uint8_t>(FieldPhysicalSize(f.type, f.subtype, f.size));
    fields = {f};
    format = TRecordFormat(fields, 9 + f.physicalSize + 1, locale, "t");
    TIndexDescriptor d;
    d.fields = {1};
    d.unique = true;
    d.descending = descending;
    d.fieldDescending[0] = fieldDescending;
    d.caseInsensitive = caseInsensitive;
    def = TKeyDef::ForIndex(d, fields, locale, false);
    image.assign(static_cast<std::size_t>(format.RecordSize()), 0);
  }
  std::vector<uint8_t> Key() {
    std::vector<uint8_t> k(static_cast<std::size_t>(def.Length()));
    def.Build(image.data(), k.data());
    return k;
  }
  std::vector<TFieldDescriptor> fields;
  TRecordFormat format;
  TKeyDef def;
  std::vector<uint8_t> image;
};

// Keys of values given in ascending order must compare ascending, bytewise and by the index.
void ExpectAscending(TOneField& t, const std::vector<std::function<void(uint8_t*)>>& setters) {
  std::vector<std::vector<uint8_t>> keys;
  for (const auto& set : setters) {
    t.format.InitRecord(t.image.data());
    set(t.image.data());
    keys.push_back(t.Key());
  }
  for (std::size_t i = 1; i < keys.size(); ++i) {
    EXPECT_LT(std::memcmp(keys[i - 1].data(), keys[i].data(), keys[i].size()), 0) << "value " << i;
    EXPECT_LT(t.def.Compare(keys[i - 1].data(), keys[i].data()), 0) << "value " << i;
  }
}

TEST(IndexKeyTest, EveryIndexableTypeKeepsValueOrder) {
  auto ints = [](TOneField& t, std::vector<int64_t> values) {
    std::vector<std::function<void(uint8_t*)>> s;
    s.push_back([&t](uint8_t* img) { t.format.SetNull(1, img); });  // null sorts first
    for (int64_t v : values)
      s.push_back([&t, v](uint8_t* img) { t.format.SetInteger(1, img, v); });
    ExpectAscending(t, s);
  };
  auto floats = [](TOneField& t, std::vector<double> values) {
    std::vector<std::function<void(uint8_t*)>> s;
    s.push_back([&t](uint8_t* img) { t.format.SetNull(1, img); });
    for (double v : values)
      s.push_back([&t, v](uint8_t* img) { t.format.SetFloat(1, img, v); });
    ExpectAscending(t, s);
  };
  {
    TOneField t(Field("i", ftype::kInteger));
    ints(t, {INT32_MIN, -70000, -256, -1, 0, 1, 255, 256, 70000, INT32_MAX});
  }
  {
    TOneField t(Field("s", ftype::kSmallInt));
    ints(t, {-32768, -300, -1, 0, 1, 300, 32767});
  }
  {
    TOneField t(Field("l", ftype::kLargeInt));
    ints(t, {INT64_MIN, -(int64_t{1} << 40), -1, 0, 1, int64_t{1} << 40, INT64_MAX});
  }
  {
    TOneField t(Field("w", ftype::kWord));
    ints(t, {0, 1, 255, 256, 65535});
  }
  {
    TOneField t(Field("u", ftype::kUInt32));
    ints(t, {0, 1, 255, 256, 70000, 4294967295LL});
  }
  {
    TOneField t(Field("d", ftype::kDate));
    ints(t, {1, 693594, 738000});
  }
  {
    TOneField t(Field("t", ftype::kTime));
    ints(t, {0, 1000, 86399999});
  }
  {
    TOneField t(Field("f", ftype::kFloat));
    floats(t, {-std::numeric_limits<double>::infinity(), -1e300, -2.5, -1, -1e-300, 0, 1e-300, 0.5,
               1, 2.5, 1e300, std::numeric_limits<double>::infinity()});
  }
  {
    TOneField t(Field("m", ftype::kFloat, 0, fsubtype::kMoney));
    floats(t, {-100.25, -0.01, 0, 0.01, 100.25});
  }
  {
    TOneField t(Field("ts", ftype::kTimestamp));
    floats(t, {693594.0 * 86400000, 693594.0 * 86400000 + 1, 738000.0 * 86400000});
  }
  {
    TOneField t(Field("x", ftype::kExtended));
    floats(t, {-1e300, -3.5, -1, 0, 0.25, 1, 3.5, 1e300});
  }
  {
    TOneField t(Field("b", ftype::kBoolean));
    std::vector<std::function<void(uint8_t*)>> s = {
        [&t](uint8_t* img) { t.format.SetNull(1, img); },
        [&t](uint8_t* img) { t.format.SetBoolean(1, img, false); },
        [&t](uint8_t* img) { t.format.SetBoolean(1, img, true); }};
    ExpectAscending(t, s);
  }
  {
    TFieldDescriptor bcd = Field("n", ftype::kBcd, 0);
    bcd.scale = 2;
    bcd.physicalScale = 2;
    TOneField t(bcd);
    std::vector<std::function<void(uint8_t*)>> s = {
        [&t](uint8_t* img) { t.format.SetNull(1, img); }};
    for (const char* v : {"-99999.99", "-1.5", "-0.01", "0", "0.01", "1.5", "12.34", "99999.99"}) {
      s.push_back([&t, v](uint8_t* img) {
        TBcd b;
        ASSERT_TRUE(TextToBcd(v, 2, b));
        t.format.SetBcd(1, img, b);
      });
    }
    ExpectAscending(t, s);
  }
  {
    TOneField t(Field("c", ftype::kString, 10));
    std::vector<std::function<void(uint8_t*)>> s = {
        [&t](uint8_t* img) { t.format.SetNull(1, img); }};
    for (const char* v : {"A", "AB", "ABC", "B", "a", "\xb0\xa1"})
      s.push_back([&t, v](uint8_t* img) { t.format.SetString(1, img, v); });
    ExpectAscending(t, s);
  }
}

// An update leaves an index alone when the bytes its key is built from did not change: where
// SameSource says so the built keys must be equal, and every real key change must be seen.
TEST(IndexKeyTest, SameSourceHoldsOnlyForEqualKeys) {
  std::vector<TFieldDescriptor> fields = {Field("name", ftype::kString, 10),
                                          Field("amount", ftype::kInteger),
                                          Field("memo", ftype::kFloat)};
  int offset = 9;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& f = fields[i];
    f.number = static_cast<uint16_t>(i + 1);
    f.offset = static_cast<uint16_t>(offset);
    f.physicalSize = static_cast<uint8_t>(FieldPhysicalSize(f.type, f.subtype, f.size));
    offset += 1 + f.physicalSize;
  }
  const TRecordFormat format(fields, offset, 0, "t");
  // Unique over name and amount (no identifier suffix); not unique over amount (with one).
  const TKeyDef byNameAmount = TKeyDef::ForIndex(test::Index("a", {1, 2}, true), fields, 0, false);
  const TKeyDef byAmount = TKeyDef::ForIndex(test::Index("b", {2}), fields, 0, false);
  ASSERT_FALSE(byNameAmount.HasIdSuffix());
  ASSERT_TRUE(byAmount.HasIdSuffix());

  std::vector<uint8_t> base(static_cast<std::size_t>(format.RecordSize()));
  format.InitRecord(base.data());
  format.SetString(1, base.data(), "abc");
  format.SetInteger(2, base.data(), 7);
  format.SetFloat(3, base.data(), 1.5);
  le::PutI32(base.data(), rec::kAutoInc, 41);

  struct TCase {
    const char* what;
    std::function<void(uint8_t*)> change;
    bool nameAmountKeyChanges;
    bool amountKeyChanges;
  };
  const TCase cases[] = {
      {"a field outside both keys", [&](uint8_t* img) { format.SetFloat(3, img, 2.5); }, false,
       false},
      {"the string field", [&](uint8_t* img) { format.SetString(1, img, "abd"); }, true, false},
      {"the integer field", [&](uint8_t* img) { format.SetInteger(2, img, 8); }, true, true},
      {"the integer made null", [&](uint8_t* img) { format.SetNull(2, img); }, true, true},
      {"the record identifier", [&](uint8_t* img) { le::PutI32(img, rec::kAutoInc, 42); }, false,
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> changed = base;
    c.change(changed.data());
    for (const auto& [def, keyChanges] : {std::pair{&byNameAmount, c.nameAmountKeyChanges},
                                          std::pair{&byAmount, c.amountKeyChanges}}) {
      std::vector<uint8_t> before(static_cast<std::size_t>(def->Length()));
      std::vector<uint8_t> after(before.size());
      def->Build(base.data(), before.data());
      def->Build(changed.data(), after.data());
      EXPECT_EQ(def->Compare(before.data(), after.data()) != 0, keyChanges);
      EXPECT_EQ(def->SameSource(base.data(), changed.data()), !keyChanges);
    }
  }
}

// Key bytes compare as unsigned bytes, whatever the length and wherever the first difference
// lies (in a whole word, its half, or the bytes after them).
TEST(IndexKeyTest, KeyBytesCompareAsUnsignedBytes) {
  for (std::size_t n = 0; n <= 40; ++n) {
    std::vector<uint8_t> a(n, 0x7F);
    EXPECT_EQ(CompareKeyBytes(a.data(), a.data(), n), 0) << n;
    for (std::size_t at = 0; at < n; ++at) {
      for (uint8_t other : {uint8_t{0x00}, uint8_t{0x80}, uint8_t{0xFF}}) {
        std::vector<uint8_t> b = a;
        b[at] = other;
        // A later byte in the opposite direction must not matter.
        if (at + 1 < n) b[at + 1] = other == 0 ? 0xFF : 0x00;
        const int expected = other < 0x7F ? 1 : -1;
        EXPECT_EQ(CompareKeyBytes(a.data(), b.data(), n), expected) << n << " at " << at;
        EXPECT_EQ(CompareKeyBytes(b.data(), a.data(), n), -expected) << n << " at " << at;
      }
    }
  }
}

TEST(IndexKeyTest, DocumentedKeyBytes) {
  uint8_t k[8];
  PutKeyInt(1, 4, k);
  EXPECT_EQ(test::Hex(k, 4), "80000001");
  PutKeyInt(-1, 4, k);
  EXPECT_EQ(test::Hex(k, 4), "7fffffff");
  PutKeyInt(-2, 2, k);
  EXPECT_EQ(test::Hex(k, 2), "7ffe");
  PutKeyDouble(1.0, k);  // 3ff0... with the sign bit set
  EXPECT_EQ(test::Hex(k, 8), "bff0000000000000");
  PutKeyDouble(-1.0, k);  // bff0... inverted
  EXPECT_EQ(test::Hex(k, 8), "400fffffffffffff");
  PutKeyDouble(-0.0, k);
  EXPECT_EQ(test::Hex(k, 8), "8000000000000000");

  TBcd b;
  ASSERT_TRUE(TextToBcd("-12.5", 1, b));
  EXPECT_EQ(BcdToKeyFixed(b), -125000);
  ASSERT_TRUE(TextToBcd("1.23456", 4, b));
  EXPECT_EQ(BcdToKeyFixed(b), 12346);  // rounded to four decimals by the field
  ASSERT_TRUE(TextToBcd("123456789012345678901234567890", 0, b));
  EXPECT_EQ(BcdToKeyFixed(b), INT64_MAX);

  uint8_t id[5];
  BuildRecordIdKey(1, 7, id);
  EXPECT_EQ(test::Hex(id, 5), "0180000007");

  // A string key: flag, characters, terminator and zero padding to the physical size; a
  // case-insensitive index upper-cases ASCII letters but never the trail byte of a GBK
  // character (0xB0 0x61 is one character whose trail byte looks like "a").
  TOneField plain(Field("s", ftype::kString, 6), false, false, true);
  plain.format.SetString(1, plain.image.data(), "ab\xb0\x61z");
  EXPECT_EQ(test::Hex(plain.Key().data(), 8), "014142b0615a0000");

  // Descending field without a locale: flag and bytes inverted; a descending index keeps them.
  TOneField inverted(Field("i", ftype::kInteger), false, true);
  inverted.format.SetInteger(1, inverted.image.data(), 1);
  EXPECT_EQ(test::Hex(inverted.Key().data(), 5), "fe7ffffffe");
  TOneField whole(Field("i", ftype::kInteger), true, false);
  whole.format.SetInteger(1, whole.image.data(), 1);
  EXPECT_EQ(test::Hex(whole.Key().data(), 5), "0180000001");
  TOneField withLocale(Field("i", ftype::kInteger), false, true, false, 1033);
  withLocale.format.SetInteger(1, withLocale.image.data(), 1);
  EXPECT_EQ(test::Hex(withLocale.Key().data(), 5), "0180000001");

  // The text index key: field, zero, word (cut to 60 bytes without splitting a character),
  // record number.
  std::vector<uint8_t> text(kTextKeyLength);
  std::string word(59, 'W');
  word += "\xb0\xa1";
  BuildTextKey(3, word, 258, text.data());
  EXPECT_EQ(test::Hex(text.data(), 3), "000300");
  EXPECT_EQ(TextKeyWord(text.data()), std::string(59, 'W'));
  EXPECT_EQ(TextKeyField(text.data()), 3);
  EXPECT_EQ(TextKeyRecord(text.data()), 258);
  EXPECT_EQ(test::Hex(text.data() + 64, 4), "00000102");
}

// ---- pages ----------------------------------------------------------------------------------

std::vector<std::vector<uint8_t>> SortedKeys(int length, int count, bool idSuffix, uint32_t seed) {
  std::mt19937 rng(seed);
  std::set<std::vector<uint8_t>> keys;
  for (int attempt = 0; static_cast<int>(keys.size()) < count && attempt < count * 20; ++attempt) {
    std::vector<uint8_t> k(static_cast<std::size_t>(length), 0);
    // Long shared prefixes (beyond 255 bytes where the key allows), zero tails of every length.
    const int shared = std::uniform_int_distribution<int>(0, length - 1)(rng);
    for (int i = 0; i < shared; ++i)
      k[static_cast<std::size_t>(i)] = 'P';
    const int body = std::uniform_int_distribution<int>(shared, length)(rng);
    for (int i = shared; i < body; ++i)
      k[static_cast<std::size_t>(i)] = static_cast<uint8_t>(rng() % 3);
    if (idSuffix) {
      for (int i = length - 4; i < length; ++i)
        k[static_cast<std::size_t>(i)] = static_cast<uint8_t>(rng() % 2);
    }
    keys.insert(k);
  }
  return {keys.begin(), keys.end()};
}

TEST(IndexPageTest, CompressedLeavesRoundTripThroughTheDiskForm) {
  for (int length : {5, 9, 62, 300, 522}) {
    for (uint8_t compression = 0; compression <= 3; ++compression) {
      for (bool suffix : {false, true}) {
        SCOPED_TRACE("length " + std::to_string(length) + " compression " +
                     std::to_string(compression) + (suffix ? " with suffix" : ""));
        TPageFormat f{length, compression, true, suffix};
        TPage page(&f);
        page.SetType(ptype::kLeaf);
        const auto keys =
            SortedKeys(length, 400, suffix, static_cast<uint32_t>(length * 8 + compression));
        int n = 0;
        for (const auto& k : keys) {
          page.Insert(page.Count(), k.data(), n + 1);
          if (page.Overfull()) {
            page.Remove(page.Count() - 1);
            break;
          }
          ++n;
        }
        ASSERT_GT(n, 0);
        page.SetPrev(3);
        page.SetNext(9);
        std::vector<uint8_t> disk(kIndexPageSize);
        page.Encode(disk.data());
        EXPECT_EQ(le::GetU16(disk.data(), ipl::kCount), n);
        TPage back(&f);
        ASSERT_TRUE(back.Decode(disk.data(), 10));
        ASSERT_EQ(back.Count(), n);
        EXPECT_EQ(back.UsedBytes(), page.UsedBytes());
        EXPECT_EQ(back.Prev(), 3);
        EXPECT_EQ(back.Next(), 9);
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(std::memcmp(back.Key(i), keys[static_cast<std::size_t>(i)].data(),
                                static_cast<std::size_t>(length)),
                    0)
              << "entry " << i;
          ASSERT_EQ(back.Value(i), i + 1);
        }
        if (compression == 0) {
          EXPECT_EQ(n, std::min<int>(static_cast<int>(keys.size()), f.LeafCapacity()));
        }
        // Removing entries in the middle keeps the packed size in step with a fresh count.
        for (int i = n - 2; i > 0; i -= 3)
          back.Remove(i);
        TPage again(&f);
        back.Encode(disk.data());
        ASSERT_TRUE(again.Decode(disk.data(), 10));
        EXPECT_EQ(again.UsedBytes(), back.UsedBytes());
      }
    }
  }
}

// Pages written out by hand from the page layout: type, entry count, previous and next page,
// the packed bytes of a compressed leaf, then the entries.
// Entries added and removed at either end (as removing records in key order does, page after
// page) and moved between sibling pages keep every page equal to a plain list of its entries,
// with the packed size in step with the disk form.
TEST(IndexPageTest, EntriesChangedAtEitherEndMatchAModel) {
  using TEntries = std::vector<std::pair<std::vector<uint8_t>, int32_t>>;
  for (uint8_t compression : {uint8_t{0}, uint8_t{3}}) {
    SCOPED_TRACE("compression " + std::to_string(compression));
    TPageFormat f{9, compression, true, true};
    const auto keys = SortedKeys(9, 2000, true, 77u + compression);
    std::mt19937 rng(5);
    TPage left(&f);
    TPage right(&f);
    left.SetType(ptype::kLeaf);
    right.SetType(ptype::kLeaf);
    TEntries leftModel;
    TEntries rightModel;
    auto expectPage = [&](const TPage& page, const TEntries& model) {
      ASSERT_EQ(page.Count(), static_cast<int>(model.size()));
      for (int i = 0; i < page.Count(); ++i) {
        const auto& [key, value] = model[static_cast<std::size_t>(i)];
        ASSERT_EQ(std::memcmp(page.Key(i), key.data(), key.size()), 0) << "entry " << i;
        ASSERT_EQ(page.Value(i), value) << "entry " << i;
      }
      if (page.Overfull()) return;
      std::vector<uint8_t> disk(kIndexPageSize);
      page.Encode(disk.data());
      TPage back(&f);
      back.SetType(ptype::kLeaf);
      ASSERT_TRUE(back.Decode(disk.data(), 10));
      ASSERT_EQ(back.Count(), page.Count());
      EXPECT_EQ(back.UsedBytes(), page.UsedBytes());
    };
    // Keys go in at any position, in no particular order: a page's layout does not depend on
    // their order, and the model is the same list.
    std::size_t nextKey = 0;
    for (int step = 0; step < 3000 && nextKey < keys.size(); ++step) {
      const bool toLeft = rng() % 2 == 0;
      TPage& page = toLeft ? left : right;
      TEntries& model = toLeft ? leftModel : rightModel;
      const int count = page.Count();
      // Positions near either end, as well as anywhere.
      auto position = [&](int limit) {
        switch (rng() % 3) {
          case 0:
            return std::min<int>(limit, static_cast<int>(rng() % 3));
          case 1:
            return std::max(0, limit - static_cast<int>(rng() % 3));
          default:
            return static_cast<int>(rng() % static_cast<uint32_t>(limit + 1));
        }
      };
      const uint32_t op = rng() % 20;
      if (op < 9 && count < 300) {
        const int at = position(count);
        const auto& key = keys[nextKey++];
        page.Insert(at, key.data(), static_cast<int32_t>(step));
        model.insert(model.begin() + at, {key, static_cast<int32_t>(step)});
      } else if (op < 18 && count > 0) {
        const int at = position(count - 1);
        page.Remove(at);
        model.erase(model.begin() + at);
      } else if (op == 18 && leftModel.size() > 1) {
        const int from = static_cast<int>(rng() % leftModel.size());
        left.MoveTailTo(from, right);
        rightModel.insert(rightModel.begin(), leftModel.begin() + from, leftModel.end());
        leftModel.erase(leftModel.begin() + from, leftModel.end());
      } else if (op == 19 && !rightModel.empty()) {
        const int n = static_cast<int>(rng() % rightModel.size()) + 1;
        left.TakeHeadFrom(right, n);
        leftModel.insert(leftModel.end(), rightModel.begin(), rightModel.begin() + n);
        rightModel.erase(rightModel.begin(), rightModel.begin() + n);
      }
      ASSERT_NO_FATAL_FAILURE(expectPage(left, leftModel)) << "step " << step;
      ASSERT_NO_FATAL_FAILURE(expectPage(right, rightModel)) << "step " << step;
    }
  }
}

TEST(IndexPageTest, DiskFormWrittenOutByHand) {
  struct TEntry {
    std::vector<uint8_t> key;
    int32_t value;
    int32_t below;
  };
  struct TCase {
    const char* name;
    TPageFormat format;
    uint8_t type;
    int32_t prev;
    int32_t next;
    std::vector<TEntry> entries;
    std::vector<uint8_t> head;  // the page's first bytes; the rest are zero
  };
  const std::vector<TCase> cases = {
      {"plain leaf",
       {3, 0, true, false},
       ptype::kLeaf,
       3,
       9,
       {{{0x01, 0x02, 0x03}, 5, 0}, {{0x01, 0x02, 0x04}, 258, 0}},
       {0x02, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,  //
        0x01, 0x02, 0x03, 0x05, 0x00, 0x00, 0x00,                                      //
        0x01, 0x02, 0x04, 0x02, 0x01, 0x00, 0x00}},
      {"root internal page with counts",
       {2, 0, true, false},
       ptype::kRootInternal,
       0,
       0,
       {{{0xAA, 0xBB}, 4, 10}, {{0xAA, 0xCC}, 7, 512}},
       {0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
        0xAA, 0xBB, 0x04, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00,                    //
        0xAA, 0xCC, 0x07, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00}},
      {"internal page without counts",
       {2, 0, false, false},
       ptype::kInternal,
       6,
       0,
       {{{0x10, 0x20}, 4, 0}},
       {0x01, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
        0x10, 0x20, 0x04, 0x00, 0x00, 0x00}},
      // Entry 1: no leading bytes to share, two trailing zeros dropped. Entry 2: two
      // leading bytes shared, one trailing zero dropped. 15 packed bytes.
      {"leaf with both compressions",
       {4, 3, true, false},
       ptype::kRootLeaf,
       0,
       0,
       {{{0x41, 0x42, 0x00, 0x00}, 1, 0}, {{0x41, 0x42, 0x43, 0x00}, 2, 0}},
       {0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x00,  //
        0x00, 0x02, 0x41, 0x42, 0x01, 0x00, 0x00, 0x00,                                //
        0x02, 0x01, 0x43, 0x02, 0x00, 0x00, 0x00}},
      // The zeros are counted before the 4-byte identifier, which is stored whole.
      {"leaf with trailing zeros before an identifier",
       {7, 2, true, true},
       ptype::kLeaf,
       0,
       0,
       {{{0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09}, 7, 0}},
       {0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,  //
        0x02, 0x50, 0x00, 0x00, 0x00, 0x09, 0x07, 0x00, 0x00, 0x00}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPage page(&c.format);
    page.SetType(c.type);
    page.SetPrev(c.prev);
    page.SetNext(c.next);
    for (const TEntry& e : c.entries)
      page.Insert(page.Count(), e.key.data(), e.value, e.below);
    std::vector<uint8_t> expected(kIndexPageSize, 0);
    std::copy(c.head.begin(), c.head.end(), expected.begin());
    std::vector<uint8_t> disk(kIndexPageSize);
    page.Encode(disk.data());
    EXPECT_EQ(disk, expected);

    TPage back(&c.format);
    ASSERT_TRUE(back.Decode(expected.data(), 100));
    EXPECT_EQ(back.Type(), c.type);
    EXPECT_EQ(back.Prev(), c.prev);
    EXPECT_EQ(back.Next(), c.next);
    ASSERT_EQ(back.Count(), static_cast<int>(c.entries.size()));
    for (int i = 0; i < back.Count(); ++i) {
      const TEntry& e = c.entries[static_cast<std::size_t>(i)];
      EXPECT_EQ(std::vector<uint8_t>(back.Key(i), back.Key(i) + e.key.size()), e.key) << i;
      EXPECT_EQ(back.Value(i), e.value) << i;
      if (!back.IsLeaf() && c.format.counts) {
        EXPECT_EQ(back.Below(i), e.below) << i;
      }
    }
  }
}

TEST(IndexPageTest, DamagedPagesAreRefused) {
  TPageFormat f{5, 3, true, false};
  TPage page(&f);
  page.SetType(ptype::kLeaf);
  const auto keys = SortedKeys(5, 20, false, 7);
  for (const auto& k : keys)
    page.Insert(page.Count(), k.data(), 1);
  std::vector<uint8_t> good(kIndexPageSize);
  page.Encode(good.data());
  TPage probe(&f);
  ASSERT_TRUE(probe.Decode(good.data(), 10));
  const std::vector<std::pair<const char*, std::function<void(uint8_t*)>>> damage = {
      {"type 5", [](uint8_t* p) { p[ipl::kType] = 5; }},
      {"parameter page", [](uint8_t* p) { p[ipl::kType] = ptype::kParameter; }},
      {"next beyond the file", [](uint8_t* p) { le::PutI32(p, ipl::kNext, 10); }},
      {"negative previous", [](uint8_t* p) { le::PutI32(p, ipl::kPrev, -1); }},
      {"more entries", [](uint8_t* p) { le::PutU16(p, ipl::kCount, 21); }},
      {"used beyond the page", [](uint8_t* p) { le::PutU16(p, ipl::kUsed, 5000); }},
      {"used too short", [](uint8_t* p) { le::PutU16(p, ipl::kUsed, 30); }},
      {"first entry with duplicates", [](uint8_t* p) { p[ipl::kEntries] = 2; }},
  };
  for (const auto& [what, change] : damage) {
    std::vector<uint8_t> bad = good;
    change(bad.data());
    EXPECT_FALSE(probe.Decode(bad.data(), 10)) << what;
  }
  // The second entry claims more leading bytes than a key has.
  std::vector<uint8_t> bad = good;
  bad[ipl::kEntries + static_cast<std::size_t>(f.PackedEntrySize(nullptr, keys[0].data()))] = 6;
  EXPECT_FALSE(probe.Decode(bad.data(), 10));
  // Internal pages: child pages must exist.
  TPage internal(&f);
  internal.SetType(ptype::kRootInternal);
  internal.Insert(0, keys[0].data(), 4, 10);
  internal.Insert(1, keys[1].data(), 12, 10);
  internal.Encode(good.data());
  EXPECT_FALSE(probe.Decode(good.data(), 12));
  EXPECT_TRUE(probe.Decode(good.data(), 13));
}

}  // namespace
}  // namespace mt
