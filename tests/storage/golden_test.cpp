// Golden tables: a fixed set of tables (every field type with NULLs and GBK text, every index
// kind, blob values over several blocks, an encrypted table, a table with a locale, deleted
// records on the chain) written into each test's scratch folder. Their files must hold exactly
// the bytes the format gave them when this test was written (a checksum of each file, the data
// header's last-write moment left out), and today's code must read every value of every record
// the same, walk every index in the same order and find the tables consistent. So a change of
// what the bytes of a record, a key, a blob block or a header mean fails here, on the writing
// side or on the reading side; such a change needs a conversion of the files people keep, and
// only then new checksums.
//
// The expected values and checksums below are written out by hand, not taken from the writer.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/literals.h"
#include "engine/common/localetext.h"
#include "engine/common/numeric.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/tablelayout.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::Field;
using TText = std::optional<std::string>;

constexpr const char* kPassword = "golden key";

// ---- the writer ----

std::vector<uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

int32_t Day(int year, int month, int day) {
  int32_t n = 0;
  EXPECT_TRUE(EncodeDay(year, month, day, n));
  return n;
}

void WriteBlob(TDataCursor& c, int fieldNo, uint8_t* image, const std::vector<uint8_t>& value) {
  const int h = c.OpenBlob(fieldNo, image, TBlobOpenMode::ReadWrite);
  c.Blob(h).Truncate(0);
  c.Blob(h).Write(0, value);
  c.CloseBlob(h, true, image);
}

// Deletes the record whose field 1 holds id.
void DeleteId(TDataCursor& c, int64_t id) {
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  c.ChooseBitmapOrder();
  c.First();
  while (c.Next(image.data()) == 0) {
    if (c.Format().GetInteger(1, image.data()) == id) {
      c.DeleteRecord(image.data());
      return;
    }
  }
  ADD_FAILURE() << "no record " << id;
}

TTableCreateParams KindsTable() {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger),
              Field("name", ftype::kString, 20),
              Field("born", ftype::kDate),
              Field("note", ftype::kBlob, 0, fsubtype::kMemo),
              Field("photo", ftype::kBlob, 0, fsubtype::kBinary),
              Field("flag", ftype::kBoolean),
              Field("small", ftype::kSmallInt),
              Field("seq", ftype::kInteger, 0, fsubtype::kAutoInc),
              Field("amount", ftype::kFloat),
              Field("price", ftype::kFloat, 0, fsubtype::kMoney),
              Field("exact", ftype::kBcd),
              Field("code", ftype::kBytes, 4),
              Field("at", ftype::kTime),
              Field("stamp", ftype::kTimestamp),
              Field("w", ftype::kWord),
              Field("u", ftype::kUInt32),
              Field("ext", ftype::kExtended),
              Field("vb", ftype::kVarBytes, 6),
              Field("big", ftype::kLargeInt),
              Field("fixed", ftype::kString, 8, fsubtype::kFixedString)};
  p.fields[10].scale = 2;
  p.blobBlockSize = 512;
  p.indexes.primary = TIndexDescriptor{};
  p.indexes.primary->fields = {1};
  const auto named = [](std::string name, std::vector<uint16_t> fields) {
    TIndexDescriptor d;
    d.name = std::move(name);
    d.fields = std::move(fields);
    return d;
  };
  p.indexes.secondaries = {named("ByName", {2}), named("ByNameTight", {2}),
                           named("ByBornDesc", {3}), named("ByBig", {19}),
                           named("BySmallName", {7, 2})};
  std::vector<TIndexDescriptor>& s = p.indexes.secondaries;
  s[0].caseInsensitive = true;
  s[1].compression = 3;  // leading and trailing compression
  s[2].descending = true;
  s[3].unique = true;
  s[4].fieldDescending[1] = true;
  p.indexes.textFields = {2, 4};
  return p;
}

void WriteKinds(TDataDirectory& directory) {
  TDataCursor c(directory);
  c.SetTableName("kinds");
  c.Open();
  const TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  uint8_t* r = image.data();
  std::string memo;
  for (int i = 0; i < 70; ++i)
    memo += "\xBC\xC7\xD5\xCB: \xCA\xD5\xC8\xEB\xD3\xEB\xD6\xA7\xB3\xF6. ";
  std::vector<uint8_t> photo(1000);
  for (std::size_t i = 0; i < photo.size(); ++i)
    photo[i] = static_cast<uint8_t>(i * 37);

  // id 1: every field set, a memo of three blocks.
  f.InitRecord(r);
  f.SetInteger(1, r, 1);
  f.SetString(2, r, "Banana");
  f.SetInteger(3, r, Day(1999, 12, 31));
  WriteBlob(c, 4, r, Bytes(memo));
  f.SetBoolean(6, r, true);
  f.SetInteger(7, r, -32768);
  f.SetFloat(9, r, 1234.5);
  f.SetFloat(10, r, 19.99);
  TBcd bcd{};
  ASSERT_TRUE(TextToBcd("-1234.56", 2, bcd));
  f.SetBcd(11, r, bcd);
  f.SetBytes(12, r, Bytes(std::string_view("\x00\x7F\x80\xFF", 4)));
  f.SetInteger(13, r, ((23 * 60 + 59) * 60 + 59) * 1000 + 999);
  f.SetFloat(14, r, Day(2024, 2, 29) * 86400000.0 + ((13 * 60 + 5) * 60 + 7) * 1000.0 + 250);
  f.SetInteger(15, r, 65535);
  f.SetInteger(16, r, 4000000000);
  f.SetFloat(17, r, -3.75);
  f.SetBytes(18, r, Bytes("abc"));
  f.SetInteger(19, r, -9007199254740993);
  f.SetString(20, r, "FIX");
  c.InsertRecord(r, false);

  // id 2: GBK name, a binary value of three blocks, zeros and the far ends of the ranges.
  f.InitRecord(r);
  f.SetInteger(1, r, 2);
  f.SetString(2, r, "\xD5\xCB\xB1\xBE ledger");
  f.SetInteger(3, r, Day(1, 1, 1));
  WriteBlob(c, 5, r, photo);
  f.SetBoolean(6, r, false);
  f.SetInteger(7, r, 7);
  f.SetFloat(9, r, 0.0);
  f.SetFloat(10, r, -0.5);
  ASSERT_TRUE(TextToBcd("0.01", 2, bcd));
  f.SetBcd(11, r, bcd);
  f.SetBytes(12, r, Bytes("ABCD"));
  f.SetInteger(13, r, 0);
  f.SetFloat(14, r, Day(1, 1, 1) * 86400000.0);
  f.SetInteger(15, r, 0);
  f.SetInteger(16, r, 0);
  f.SetFloat(17, r, 1e100);
  f.SetBytes(18, r, Bytes(std::string_view("\x01\x02\x03\x04\x05\x06", 6)));
  f.SetInteger(19, r, 0);
  c.InsertRecord(r, false);

  // id 3: deleted below, with a memo whose blocks go to the free chain.
  f.InitRecord(r);
  f.SetInteger(1, r, 3);
  f.SetString(2, r, "cherry");
  WriteBlob(c, 4, r, Bytes(std::string(600, 'c')));
  f.SetInteger(19, r, 3);
  c.InsertRecord(r, false);

  // id 4: lower-case name with GBK, the same smallint as id 2.
  f.InitRecord(r);
  f.SetInteger(1, r, 4);
  f.SetString(2, r, "apple \xC6\xBB\xB9\xFB");
  f.SetInteger(3, r, Day(2024, 2, 29));
  WriteBlob(c, 4, r, Bytes("short"));
  WriteBlob(c, 5, r, Bytes(std::string_view("\x00\x01", 2)));
  f.SetBoolean(6, r, true);
  f.SetInteger(7, r, 7);
  f.SetFloat(9, r, -1e-7);
  f.SetFloat(10, r, 1000000.25);
  ASSERT_TRUE(TextToBcd("99999999.99", 2, bcd));
  f.SetBcd(11, r, bcd);
  f.SetBytes(12, r, Bytes("z"));
  f.SetInteger(13, r, ((12 * 60 + 30) * 60) * 1000);
  f.SetFloat(14, r, Day(9999, 12, 31) * 86400000.0 + 1000.0);
  f.SetInteger(15, r, 1);
  f.SetInteger(16, r, 4294967295);
  f.SetFloat(17, r, 0.1);
  f.SetInteger(19, r, 9223372036854775807);
  f.SetString(20, r, "\xBC\xD2\xD3\xC3");
  c.InsertRecord(r, false);

  // id 5: deleted below.
  f.InitRecord(r);
  f.SetInteger(1, r, 5);
  f.SetString(2, r, "Date");
  f.SetInteger(19, r, 5);
  c.InsertRecord(r, false);

  // id 6: null in every field but the id (the auto-increment value is never null).
  f.InitRecord(r);
  f.SetInteger(1, r, 6);
  c.InsertRecord(r, false);

  DeleteId(c, 3);
  DeleteId(c, 5);
}

void WriteSecret(TDataDirectory& directory) {
  TDataCursor c(directory);
  c.SetTableName("secret");
  c.SetPasswords({{kPassword}, {}});
  c.Open();
  const TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  uint8_t* r = image.data();
  std::string memo;
  for (int i = 0; i < 150; ++i)
    memo += "\xBC\xD2\xD3\xC3";
  f.InitRecord(r);
  f.SetInteger(1, r, 1);
  f.SetString(2, r, "\xD0\xA1\xC3\xF7");
  WriteBlob(c, 3, r, Bytes(memo));
  c.InsertRecord(r, false);
  f.InitRecord(r);
  f.SetInteger(1, r, 2);
  f.SetString(2, r, "Zoe");
  c.InsertRecord(r, false);
}

void WriteLocaled(TDataDirectory& directory) {
  TDataCursor c(directory);
  c.SetTableName("localed");
  c.Open();
  const TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  const char* words[] = {"Zebra", "apple", "Banana", "cherry"};
  for (int i = 0; i < 4; ++i) {
    f.InitRecord(image.data());
    f.SetInteger(1, image.data(), i + 1);
    f.SetString(2, image.data(), words[i]);
    c.InsertRecord(image.data(), false);
  }
}

// Writes the golden tables into the folder `out`.
void WriteGoldenTables(const std::string& out) {
  TDataTable(out, "kinds").Create(KindsTable());

  TTableCreateParams secret;
  secret.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
                   Field("memo", ftype::kBlob, 0, fsubtype::kMemo)};
  secret.blobBlockSize = 512;
  secret.encrypted = true;
  secret.password = kPassword;
  secret.indexes.primary = TIndexDescriptor{};
  secret.indexes.primary->fields = {1};
  TDataTable(out, "secret").Create(secret);

  TTableCreateParams localed;
  localed.languageId = 1031;
  localed.fields = {Field("id", ftype::kInteger), Field("word", ftype::kString, 12)};
  localed.indexes.primary = TIndexDescriptor{};
  localed.indexes.primary->fields = {1};
  TIndexDescriptor byWord;
  byWord.name = "ByWord";
  byWord.fields = {2};
  localed.indexes.secondaries = {byWord};
  TDataTable(out, "localed").Create(localed);

  TDataDirectory directory(out);
  WriteKinds(directory);
  WriteSecret(directory);
  WriteLocaled(directory);
}

// ---- the reader ----

class GoldenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteGoldenTables(dir_);
    directory_ = std::make_unique<TDataDirectory>(dir_);
  }
  void TearDown() override { directory_.reset(); }

  std::unique_ptr<TDataCursor> OpenCursor(const std::string& name) {
    auto c = std::make_unique<TDataCursor>(*directory_);
    c->SetTableName(name);
    c->SetPasswords({{kPassword}, {}});
    c->Open();
    return c;
  }

  // The text form of every field of every record in record-number order (blobs as their
  // contents, "<null>" for null).
  static std::vector<std::vector<std::string>> Records(TDataCursor& c) {
    std::vector<std::vector<std::string>> rows;
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.ChooseBitmapOrder();
    c.First();
    while (c.Next(image.data()) == 0) {
      std::vector<std::string> row;
      for (int n = 1; n <= c.Format().FieldCount(); ++n) {
        if (!IsBlobField(c.Format().Field(n).type)) {
          row.push_back(c.Format().GetText(n, image.data()).value_or("<null>"));
        } else if (!c.Format().GetBlobRef(n, image.data())) {
          row.push_back("<null>");
        } else {
          const int h = c.OpenBlob(n, image.data(), TBlobOpenMode::Read);
          const std::vector<uint8_t>& v = c.Blob(h).Data();
          row.emplace_back(v.begin(), v.end());
          c.CloseBlob(h, false, image.data());
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // The ids (field 1) of the records in an index's order.
  static std::vector<int64_t> IdsInOrder(TDataCursor& c, const std::string& index) {
    std::vector<int64_t> ids;
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.ChooseIndex(index);
    c.First();
    while (c.Next(image.data()) == 0)
      ids.push_back(c.Format().GetInteger(1, image.data()).value_or(-1));
    return ids;
  }

  // The table check's findings on the records, the indexes and the blob values.
  std::vector<std::string> CheckFaults(const std::string& name) {
    TDataTable t(dir_, name);
    TTableOpenOptions options;
    options.passwords.known = {kPassword};
    t.Open(options);
    std::vector<std::string> faults = CheckDataRecords(t);
    for (const std::string& s : CheckIndexes(t))
      faults.push_back(s);
    for (const std::string& s : CheckBlobValues(t))
      faults.push_back(s);
    t.Close();
    return faults;
  }

  test::TScratchDir scratch_{"mt-golden"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
};

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i)
    out += s;
  return out;
}

TEST_F(GoldenTest, TheFilesHoldTheBytesOfTheirFormat) {
  struct TFile {
    const char* name;
    std::size_t size;
    uint32_t crc;  // CRC-32 of the file, the data header's last-write moment as zero bytes
  };
  const TFile files[] = {
      {"kinds.DAT", 16579, 0x0C4CA86Cu},  {"kinds.IDX", 40960, 0x55D214F3u},
      {"kinds.BLB", 5632, 0xF9332851u},   {"secret.DAT", 2521, 0x2D020815u},
      {"secret.IDX", 12288, 0x0C4279DBu}, {"secret.BLB", 1536, 0x1BDA9746u},
      {"localed.DAT", 1775, 0xAA1570A8u}, {"localed.IDX", 16384, 0xA48C235Du},
  };
  for (const TFile& f : files) {
    std::ifstream in(fs::path(dir_) / f.name, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), f.size) << f.name;
    if (fs::path(f.name).extension() == ".DAT")
      std::fill_n(bytes.begin() + dfh::kLastWrite, sizeof(double), 0);
    EXPECT_EQ(crc32_z(0, bytes.data(), bytes.size()), f.crc) << f.name;
  }
}

TEST_F(GoldenTest, EveryFieldTypeReadsAsWritten) {
  auto c = OpenCursor("kinds");
  std::string photo;
  for (int i = 0; i < 1000; ++i)
    photo += static_cast<char>((i * 37) % 256);
  const std::string n = "<null>";
  // id, name, born, note, photo, flag, small, seq, amount, price, exact, code, at, stamp, w, u,
  // ext, vb, big, fixed
  const std::vector<std::vector<std::string>> expected = {
      {"1",
       "Banana",
       "1999-12-31",
       Repeat("\xBC\xC7\xD5\xCB: \xCA\xD5\xC8\xEB\xD3\xEB\xD6\xA7\xB3\xF6. ", 70),
       n,
       "True",
       "-32768",
       "1",
       "1234.5",
       "19.99",
       "-1234.56",
       std::string("\x00\x7F\x80\xFF", 4),
       "23:59:59.999",
       "2024-02-29 13:05:07.250",
       "65535",
       "4000000000",
       "-3.75",
       std::string("abc\0\0\0", 6),
       "-9007199254740993",
       "FIX"},
      {"2",          "\xD5\xCB\xB1\xBE ledger",
       "0001-01-01", n,
       photo,        "False",
       "7",          "2",
       "0",          "-0.5",
       "0.01",       "ABCD",
       "00:00",      "0001-01-01 00:00",
       "0",          "0",
       "1e+100",     std::string("\x01\x02\x03\x04\x05\x06", 6),
       "0",          n},
      {"4",
       "apple \xC6\xBB\xB9\xFB",
       "2024-02-29",
       "short",
       std::string("\x00\x01", 2),
       "True",
       "7",
       "4",
       "-1e-07",
       "1000000.25",
       "99999999.99",
       std::string("z\0\0\0", 4),
       "12:30",
       "9999-12-31 00:00:01",
       "1",
       "4294967295",
       "0.1",
       n,
       "9223372036854775807",
       "\xBC\xD2\xD3\xC3"},
      {"6", n, n, n, n, n, n, "6", n, n, n, n, n, n, n, n, n, n, n, n},
  };
  const std::vector<std::vector<std::string>> rows = Records(*c);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t f = 0; f < expected[r].size(); ++f)
      EXPECT_EQ(rows[r][f], expected[r][f]) << "record " << r + 1 << ", field " << f + 1;
}

TEST_F(GoldenTest, EveryIndexKeepsItsOrder) {
  struct Case {
    std::string table;
    std::string index;
    std::vector<int64_t> ids;
  };
  const std::vector<Case> cases = {
      {"kinds", "", {1, 2, 4, 6}},
      {"kinds", "ByName", {6, 4, 1, 2}},       // letter case ignored, GBK after ASCII
      {"kinds", "ByNameTight", {6, 1, 4, 2}},  // compressed; capitals before small letters
      {"kinds", "ByBornDesc", {4, 1, 2, 6}},
      {"kinds", "ByBig", {6, 1, 2, 4}},
      {"kinds", "BySmallName", {6, 1, 2, 4}},  // name descending under equal smallints
      {"secret", "", {1, 2}},
      {"localed", "", {1, 2, 3, 4}},
      {"localed", "ByWord", {2, 3, 4, 1}},  // the locale's order, not the bytes'
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.table + " " + k.index);
    auto c = OpenCursor(k.table);
    EXPECT_EQ(IdsInOrder(*c, k.index), k.ids);
  }
}

// Keys built by today's code find the records through the stored keys.
TEST_F(GoldenTest, KeysOfTodaysCodeFindTheRecords) {
  struct Case {
    std::string table;
    std::string index;
    int fieldNo;  // 1: the integer id, 2: a string
    int64_t id;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"kinds", "", 1, 4, ""},
      {"kinds", "ByName", 2, 4, "APPLE \xC6\xBB\xB9\xFB"},
      {"kinds", "ByNameTight", 2, 2, "\xD5\xCB\xB1\xBE ledger"},
      {"secret", "", 1, 2, ""},
      {"localed", "ByWord", 2, 4, "cherry"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.table + " " + k.index);
    auto c = OpenCursor(k.table);
    c->ChooseIndex(k.index);
    std::vector<uint8_t> key(static_cast<std::size_t>(c->RecordSize()));
    std::vector<uint8_t> found(key.size());
    c->Format().InitRecord(key.data());
    if (k.fieldNo == 1)
      c->Format().SetInteger(1, key.data(), k.id);
    else
      c->Format().SetString(2, key.data(), k.text);
    ASSERT_TRUE(c->FindKey(key.data(), 1, true, found.data()));
    EXPECT_EQ(c->Format().GetInteger(1, found.data()), k.id);
  }
}

TEST_F(GoldenTest, EncryptedAndLocaleTablesReadAsWritten) {
  auto secret = OpenCursor("secret");
  const std::vector<std::vector<std::string>> secretRows = {
      {"1", "\xD0\xA1\xC3\xF7", Repeat("\xBC\xD2\xD3\xC3", 150)},
      {"2", "Zoe", "<null>"},
  };
  EXPECT_EQ(Records(*secret), secretRows);

  auto localed = OpenCursor("localed");
  EXPECT_EQ(localed->LocaleId(), MakeLocaleId(1031, 0));
  const std::vector<std::vector<std::string>> localedRows = {
      {"1", "Zebra"}, {"2", "apple"}, {"3", "Banana"}, {"4", "cherry"}};
  EXPECT_EQ(Records(*localed), localedRows);
}

TEST_F(GoldenTest, TheTablesCheckCleanAndKeepTheirDeletedChain) {
  for (const char* name : {"kinds", "secret", "localed"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CheckFaults(name), std::vector<std::string>{});
  }
  TDataTable t(dir_, "kinds");
  t.Open();
  // Records 3 and 5 were deleted in that order; 5 heads the chain.
  EXPECT_EQ(t.Data().DeletedHead(), 5);
  EXPECT_EQ(t.Data().NextRecordNumber(), 7);
  t.Close();
}

}  // namespace
}  // namespace mt
