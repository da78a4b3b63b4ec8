// Tables on disk: every field type through create, write back, close, reopen and read (plain
// and encrypted), damaged files, passwords, the deleted-record chain, auto-increment values,
// the record cache (windows, write-back runs, pins, eviction) and the table operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "engine/common/localetext.h"
#include "engine/storage/btree.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datatable.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

class TableTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (fs::path(dir_) / name).string(); }

  std::vector<uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  // Changes bytes of a file in place.
  void Patch(const std::string& name, const std::function<void(std::vector<uint8_t>&)>& change) {
    std::vector<uint8_t> bytes = ReadFile(name);
    change(bytes);
    WriteFile(name, bytes);
  }

  // Changes the first `count` bytes of a file in place, leaving the rest untouched.
  void PatchHead(const std::string& name, std::size_t count,
                 const std::function<void(std::vector<uint8_t>&)>& change) {
    std::fstream f(Path(name), std::ios::binary | std::ios::in | std::ios::out);
    std::vector<uint8_t> head(count);
    f.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(count));
    change(head);
    f.seekp(0);
    f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(count));
  }

  test::TScratchDir scratch_{"mt-table"};
  std::string dir_ = scratch_.Path();
};

// Field numbers of AllTypes().
enum : int {
  kId = 1,
  kStr,
  kDate,
  kBlob,
  kMemo,
  kBool,
  kSmall,
  kAuto,
  kFloat,
  kMoney,
  kBcd,
  kBytes,
  kTime,
  kStamp,
  kWord,
  kUInt,
  kExt,
  kVarBytes,
  kLarge
};

TTableCreateParams AllTypes() {
  TTableCreateParams p;
  p.fields = {
      Field("id", ftype::kInteger),
      Field("text", ftype::kString, 30),
      Field("day", ftype::kDate),
      Field("bin", ftype::kBlob, 0, fsubtype::kBinary),
      Field("memo", ftype::kBlob, 0, fsubtype::kMemo),
      Field("flag", ftype::kBoolean),
      Field("small", ftype::kSmallInt),
      Field("auto", ftype::kInteger, 0, fsubtype::kAutoInc),
      Field("amount", ftype::kFloat),
      Field("money", ftype::kFloat, 0, fsubtype::kMoney),
      Field("bcd", ftype::kBcd),
      Field("bytes", ftype::kBytes, 6),
      Field("moment", ftype::kTime),
      Field("stamp", ftype::kTimestamp),
      Field("word", ftype::kWord),
      Field("unsigned", ftype::kUInt32),
      Field("ext", ftype::kExtended),
      Field("varbytes", ftype::kVarBytes, 5),
      Field("large", ftype::kLargeInt),
  };
  p.fields[kBcd - 1].scale = 4;
  TIndexDescriptor primary;
  primary.fields = {kId};
  p.indexes.primary = primary;
  return p;
}

// One row of values for AllTypes(); nullopt members are stored as null.
struct TRow {
  int32_t id;
  std::optional<std::string> text;
  std::optional<int32_t> day;
  std::optional<int32_t> blob;
  std::optional<bool> flag;
  std::optional<int16_t> small;
  std::optional<double> amount, money;
  std::optional<std::string> bcd;
  std::optional<std::vector<uint8_t>> bytes;
  std::optional<int32_t> time;
  std::optional<double> stamp;
  std::optional<uint16_t> word;
  std::optional<uint32_t> uns;
  std::optional<double> ext;
  std::optional<std::vector<uint8_t>> varbytes;
  std::optional<int64_t> large;
};

std::vector<TRow> SampleRows() {
  const double origin = 693594.0 * 86400000.0;  // 30 December 1899 00:00
  return {
      {std::numeric_limits<int32_t>::max(), Utf8ToGbk("收入 工资 Salary"), kMaxDay, 7, true, 32767,
       1.7976931348623157e308, 99999999.99, "12345678901234.5678",
       std::vector<uint8_t>{0xFF, 0, 1, 2, 3, 0xFE}, kMsPerDay - 1, origin, 65535, 4294967295u,
       1.5e308, std::vector<uint8_t>{1, 2, 3, 4, 5}, std::numeric_limits<int64_t>::max()},
      {std::numeric_limits<int32_t>::min(), Utf8ToGbk("支出"), kMinDay, 1, false, -32768, -2.5e-300,
       -0.01, "-0.0001", std::vector<uint8_t>(6, 0), 0, 86400000.0, 0, 0, -1e-300,
       std::vector<uint8_t>{0, 0, 0, 0, 1}, std::numeric_limits<int64_t>::min()},
      {0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {-1, "x", 693594, std::nullopt, false, 0, 0.0, -0.0, "0", std::nullopt, 1, -origin, 1, 1,
       -0.0, std::nullopt, 0},
  };
}

void FillRow(const TRecordFormat& fmt, uint8_t* img, const TRow& r) {
  fmt.InitRecord(img);
  fmt.SetInteger(kId, img, r.id);
  auto opt = [&](int no, const auto& v, auto set) {
    if (v) {
      set(*v);
    } else {
      fmt.SetNull(no, img);
    }
  };
  opt(kStr, r.text, [&](const std::string& s) { fmt.SetString(kStr, img, s); });
  opt(kDate, r.day, [&](int32_t v) { fmt.SetInteger(kDate, img, v); });
  opt(kBlob, r.blob, [&](int32_t v) { fmt.SetBlobRef(kBlob, img, v); });
  opt(kBool, r.flag, [&](bool v) { fmt.SetBoolean(kBool, img, v); });
  opt(kSmall, r.small, [&](int16_t v) { fmt.SetInteger(kSmall, img, v); });
  opt(kFloat, r.amount, [&](double v) { fmt.SetFloat(kFloat, img, v); });
  opt(kMoney, r.money, [&](double v) { fmt.SetFloat(kMoney, img, v); });
  opt(kBcd, r.bcd, [&](const std::string& v) {
    TBcd b{};
    ASSERT_TRUE(TextToBcd(v, 4, b));
    fmt.SetBcd(kBcd, img, b);
  });
  opt(kBytes, r.bytes, [&](const std::vector<uint8_t>& v) { fmt.SetBytes(kBytes, img, v); });
  opt(kTime, r.time, [&](int32_t v) { fmt.SetInteger(kTime, img, v); });
  opt(kStamp, r.stamp, [&](double v) { fmt.SetFloat(kStamp, img, v); });
  opt(kWord, r.word, [&](uint16_t v) { fmt.SetInteger(kWord, img, v); });
  opt(kUInt, r.uns, [&](uint32_t v) { fmt.SetInteger(kUInt, img, v); });
  opt(kExt, r.ext, [&](double v) { fmt.SetFloat(kExt, img, v); });
  opt(kVarBytes, r.varbytes,
      [&](const std::vector<uint8_t>& v) { fmt.SetBytes(kVarBytes, img, v); });
  opt(kLarge, r.large, [&](int64_t v) { fmt.SetInteger(kLarge, img, v); });
}

template <typename T>
void ExpectSame(const std::optional<T>& got, const std::optional<T>& want, const char* what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what;
  if (want) {
    EXPECT_EQ(*got, *want) << what;
  }
}

void ExpectFloat(const std::optional<double>& got, const std::optional<double>& want,
                 const char* what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what;
  if (want) {
    EXPECT_EQ(*got, *want) << what;
    EXPECT_EQ(std::signbit(*got), std::signbit(*want)) << what;
  }
}

void ExpectRow(const TRecordFormat& fmt, const uint8_t* img, const TRow& r) {
  EXPECT_EQ(fmt.GetInteger(kId, img), r.id);
  ExpectSame(fmt.GetString(kStr, img), r.text, "text");
  ExpectSame(fmt.GetInteger(kDate, img), std::optional<int64_t>(r.day), "day");
  const auto blob = fmt.GetBlobRef(kBlob, img);
  ExpectSame(blob ? std::optional<int32_t>(blob->first) : std::nullopt, r.blob, "blob");
  EXPECT_FALSE(fmt.GetBlobRef(kMemo, img).has_value());
  ExpectSame(fmt.GetBoolean(kBool, img), r.flag, "flag");
  ExpectSame(fmt.GetInteger(kSmall, img), std::optional<int64_t>(r.small), "small");
  ExpectFloat(fmt.GetFloat(kFloat, img), r.amount, "amount");
  ExpectFloat(fmt.GetFloat(kMoney, img), r.money, "money");
  const auto bcd = fmt.GetBcd(kBcd, img);
  std::optional<std::string> bcdText;
  if (bcd) bcdText = BcdToText(*bcd);
  std::optional<std::string> wantBcd;
  if (r.bcd) {
    TBcd b{};
    EXPECT_TRUE(TextToBcd(*r.bcd, 4, b));
    wantBcd = BcdToText(b);
  }
  ExpectSame(bcdText, wantBcd, "bcd");
  ExpectSame(fmt.GetBytes(kBytes, img), r.bytes, "bytes");
  ExpectSame(fmt.GetInteger(kTime, img), std::optional<int64_t>(r.time), "time");
  ExpectFloat(fmt.GetFloat(kStamp, img), r.stamp, "stamp");
  ExpectSame(fmt.GetInteger(kWord, img), std::optional<int64_t>(r.word), "word");
  ExpectSame(fmt.GetInteger(kUInt, img), std::optional<int64_t>(r.uns), "unsigned");
  ExpectFloat(fmt.GetFloat(kExt, img), r.ext, "extended");
  ExpectSame(fmt.GetBytes(kVarBytes, img), r.varbytes, "varbytes");
  ExpectSame(fmt.GetInteger(kLarge, img), r.large, "large");
}

// Appends rows (new slots at the end) and returns their record numbers.
std::vector<int32_t> Append(TDataTable& t, const std::vector<TRow>& rows) {
  std::vector<int32_t> numbers;
  TDataFile& data = t.Data();
  for (const TRow& row : rows) {
    const int32_t n = data.AllocateSlot(t.HasPrimaryIndex());
    TPinnedRecord r(data.GetRecord(n, TReadAhead::None, n == data.NextRecordNumber()));
    FillRow(data.Format(), r->Image(), row);
    le::PutI32(r->Image(), rec::kNumber, n);
    data.Format().SetInteger(kAuto, r->Image(), data.NextAutoInc());
    r->MarkDirty();
    numbers.push_back(n);
  }
  t.FlushBuffers();
  return numbers;
}

struct TEncryption {
  bool encrypted;
  const char* password;
};
void PrintTo(const TEncryption& e, std::ostream* os) {
  *os << (e.encrypted ? "encrypted" : "plain");
}

class AllTypesTableTest : public TableTest, public ::testing::WithParamInterface<TEncryption> {};

TEST_P(AllTypesTableTest, EveryTypeRoundTripsThroughTheFiles) {
  TTableCreateParams p = AllTypes();
  p.encrypted = GetParam().encrypted;
  p.password = GetParam().password;
  p.description = Utf8ToGbk("收支账本");
  p.languageId = 2052;  // Chinese (PRC): not in the list of names, but an installed locale
  {
    TDataTable t(dir_, "szzb");
    t.Create(p);
  }
  const std::vector<TRow> rows = SampleRows();
  TTableOpenOptions options;
  options.passwords.known = {"other", GetParam().password};
  {
    TDataTable t(dir_, "szzb");
    t.Open(options);
    EXPECT_EQ(Append(t, rows), (std::vector<int32_t>{1, 2, 3, 4}));
    t.Close();
  }
  TDataTable t(dir_, "SZZB.dat");  // the same table under another spelling
  t.Open(options);
  TDataFile& data = t.Data();
  EXPECT_EQ(data.RecordCount(), 4);
  EXPECT_EQ(data.LastAutoInc(), 4);
  EXPECT_EQ(data.Description(), Utf8ToGbk("收支账本"));
  EXPECT_EQ(data.Password(), GetParam().encrypted ? GetParam().password : "");
  EXPECT_EQ(data.LanguageId(), 2052);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    TPinnedRecord r(data.GetRecord(static_cast<int32_t>(i + 1), TReadAhead::Forward));
    ASSERT_TRUE(r);
    SCOPED_TRACE("row " + std::to_string(i + 1));
    EXPECT_EQ(r->Image()[rec::kState], rec::kActive);
    EXPECT_EQ(le::GetI32(r->Image(), rec::kNumber), static_cast<int32_t>(i + 1));
    EXPECT_EQ(data.Format().GetInteger(kAuto, r->Image()), static_cast<int64_t>(i + 1));
    ExpectRow(data.Format(), r->Image(), rows[i]);
  }
  // The timestamp of 30 December 1899 00:00 is 693594 x 86400000 on disk as in memory.
  TPinnedRecord first(data.GetRecord(1));
  EXPECT_EQ(le::GetF64(first->Image(), data.Format().Field(kStamp).offset + 1),
            693594.0 * 86400000.0);
  first.Reset();
  t.Close();
  EXPECT_TRUE(fs::exists(Path("szzb.BLB")));  // the table has blob fields
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, AllTypesTableTest,
                         ::testing::Values(TEncryption{false, ""}, TEncryption{true, "s3cret"}),
                         [](const ::testing::TestParamInfo<TEncryption>& info) {
                           return std::string(info.param.encrypted ? "Encrypted" : "Plain");
                         });

TEST_F(TableTest, EncryptedTableHoldsNoRecordByteInClear) {
  TTableCreateParams p;
  p.fields = {Field("secretfield", ftype::kString, 40), Field("amount", ftype::kInteger)};
  p.encrypted = true;
  p.password = " pw ";
  p.description = "confidential";
  TDataTable t(dir_, "vault");
  t.Create(p);
  TTableOpenOptions options;
  options.passwords.known = {"pw"};
  t.Open(options);
  TDataFile& data = t.Data();
  std::vector<std::vector<uint8_t>> clear;
  for (int i = 0; i < 50; ++i) {
    TPinnedRecord r(data.GetRecord(data.NextRecordNumber(), TReadAhead::None, true));
    data.Format().InitRecord(r->Image());
    data.Format().SetString(1, r->Image(), "TOPSECRET-" + std::to_string(i));
    data.Format().SetInteger(2, r->Image(), i);
    r->MarkDirty();
    clear.emplace_back(r->Image(), r->Image() + data.RecordSize());
  }
  t.Close();

  const std::vector<uint8_t> file = ReadFile("vault.DAT");
  const std::string text(file.begin(), file.end());
  for (const char* plain : {"TOPSECRET", "secretfield", "amount", "confidential"}) {
    EXPECT_EQ(text.find(plain, dfh::kSize), std::string::npos) << plain;
  }
  EXPECT_EQ(text.substr(0, dfh::kSize).find("confidential"), std::string::npos);
  // Not a single byte of any record image sits in the file as it is in memory.
  const int64_t start = RecordsOffset(2);
  const std::size_t size = clear[0].size();
  for (std::size_t n = 0; n < clear.size(); ++n) {
    for (std::size_t i = 0; i < size; ++i) {
      ASSERT_NE(file[start + n * size + i], clear[n][i]) << "record " << n + 1 << " byte " << i;
    }
  }
  // Nor of the index file's header page.
  const std::vector<uint8_t> index = ReadFile("vault.IDX");
  EXPECT_EQ(std::string(index.begin(), index.end()).find("Sys Deleted"), std::string::npos);

  // Without the password the open fails; a callback can supply it.
  TDataTable u(dir_, "vault");
  EXPECT_EQ(ErrorCodeOf([&] { u.Open(); }), err::kPasswordRequired);
  EXPECT_FALSE(u.IsOpen());
  TTableOpenOptions asking;
  int asked = 0;
  asking.passwords.askMore = [&](std::vector<std::string>& known) {
    ++asked;
    if (asked == 1) known.push_back("wrong");
    if (asked == 2) known.push_back("pw");
    return asked <= 2;
  };
  u.Open(asking);
  EXPECT_EQ(asked, 2);
  TPinnedRecord r(u.Data().GetRecord(50));
  EXPECT_EQ(u.Data().Format().GetString(1, r->Image()), "TOPSECRET-49");
  r.Reset();
  // A second opener of the open table must know the password too.
  EXPECT_EQ(ErrorCodeOf([&] { u.Open(); }), err::kPasswordRequired);
  EXPECT_EQ(u.Openers(), 1);
  u.Close();
}

TEST_F(TableTest, DamagedFilesRaiseTheirCodes) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 10),
              Field("day", ftype::kDate)};
  {
    TDataTable t(dir_, "base");
    t.Create(p);
    t.Open();
    for (int i = 0; i < 3; ++i) {
      TPinnedRecord r(t.Data().GetRecord(t.Data().NextRecordNumber(), TReadAhead::None, true));
      r->MarkDirty();
    }
    t.Close();
  }
  const std::vector<uint8_t> data = ReadFile("base.DAT");
  const std::vector<uint8_t> index = ReadFile("base.IDX");
  const std::size_t desc2 = dfh::kSize + fdl::kSize;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"intact", [](std::vector<uint8_t>&) {}, 0},
      {"version tag 4", [](std::vector<uint8_t>& b) { b[dfh::kVersion] = 4; }, err::kWrongVersion},
      {"1025 fields", [](std::vector<uint8_t>& b) { le::PutU16(b.data(), dfh::kFieldCount, 1025); },
       err::kHeaderCorrupt},
      {"more fields than the file holds",
       [](std::vector<uint8_t>& b) { le::PutU16(b.data(), dfh::kFieldCount, 900); },
       err::kHeaderCorrupt},
      {"wrong field offset",
       [&](std::vector<uint8_t>& b) { le::PutU16(b.data(), desc2 + fdl::kOffset, 13); },
       err::kHeaderCorrupt},
      {"duplicate field names",
       [&](std::vector<uint8_t>& b) { le::PutPString(b.data(), desc2 + fdl::kName, 30, "ID"); },
       err::kHeaderCorrupt},
      {"name length past its field", [&](std::vector<uint8_t>& b) { b[desc2 + fdl::kName] = 250; },
       err::kHeaderCorrupt},
      {"unknown type", [&](std::vector<uint8_t>& b) { b[desc2 + fdl::kType] = 77; },
       err::kHeaderCorrupt},
      {"string size 0 makes the offsets wrong",
       [&](std::vector<uint8_t>& b) { b[desc2 + fdl::kSize_] = 0; }, err::kHeaderCorrupt},
      {"length not a whole number of records", [](std::vector<uint8_t>& b) { b.push_back(0); },
       err::kHeaderCorrupt},
      {"a record missing",
       [](std::vector<uint8_t>& b) { b.resize(b.size() - le::GetU16(b.data(), dfh::kRecordSize)); },
       err::kHeaderCorrupt},
      {"deleted-chain head past the end",
       [](std::vector<uint8_t>& b) { le::PutI32(b.data(), dfh::kDeletedHead, 4); },
       err::kHeaderCorrupt},
      {"record size zero",
       [](std::vector<uint8_t>& b) { le::PutU16(b.data(), dfh::kRecordSize, 0); },
       err::kHeaderCorrupt},
      {"shorter than the header", [](std::vector<uint8_t>& b) { b.resize(100); },
       err::kHeaderCorrupt},
      {"empty file", [](std::vector<uint8_t>& b) { b.clear(); }, err::kHeaderCorrupt},
      {"locale not installed",
       [](std::vector<uint8_t>& b) { le::PutU16(b.data(), dfh::kLanguageId, 0x1234); },
       err::kLanguageDriver},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = data;
    c.damage(bytes);
    WriteFile("base.DAT", bytes);
    WriteFile("base.IDX", index);
    TDataTable t(dir_, "base");
    EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), c.code) << c.what;
    EXPECT_EQ(t.IsOpen(), c.code == 0) << c.what;
    t.Close();
    // A failed open leaves no file of the table open: the files can be deleted.
    if (c.code != 0) {
      EXPECT_EQ(ErrorCodeOf([&] { t.Delete(); }), 0) << c.what;
    }
  }
}

TEST_F(TableTest, ArbitraryDamageToHeaderAndDescriptorsNeverCrashes) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 10),
              Field("price", ftype::kBcd), Field("when", ftype::kTimestamp)};
  p.fields[1].defaultText = "none";
  p.fields[3].maxText = "CURRENT_TIMESTAMP";
  {
    TDataTable t(dir_, "fuzz");
    t.Create(p);
    t.Open();
    for (int i = 0; i < 2; ++i) {
      TPinnedRecord r(t.Data().GetRecord(t.Data().NextRecordNumber(), TReadAhead::None, true));
      r->MarkDirty();
    }
    t.Close();
  }
  const std::vector<uint8_t> data = ReadFile("fuzz.DAT");
  const std::vector<uint8_t> index = ReadFile("fuzz.IDX");
  const std::size_t described = static_cast<std::size_t>(RecordsOffset(4));
  int opened = 0;
  for (std::size_t at = 0; at < described; ++at) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0xFF}, static_cast<uint8_t>(data[at] + 1)}) {
      std::vector<uint8_t> bytes = data;
      if (bytes[at] == value) continue;
      bytes[at] = value;
      WriteFile("fuzz.DAT", bytes);
      WriteFile("fuzz.IDX", index);
      TDataTable t(dir_, "fuzz");
      try {
        t.Open();
        // Whatever opened must be readable.
        for (int32_t n = 1; n < t.Data().NextRecordNumber(); ++n) {
          TPinnedRecord r(t.Data().GetRecord(n, TReadAhead::Forward));
          for (int f = 1; f <= t.Data().FieldCount(); ++f) {
            t.Data().Format().GetField(f, r->Image(), nullptr);
          }
        }
        ++opened;
        t.Close();
      } catch (const EEngineError&) {
        EXPECT_FALSE(t.IsOpen());
      }
    }
  }
  EXPECT_GT(opened, 0);  // unused bytes may change freely
}

TEST_F(TableTest, TablesAtTheFieldLimit) {
  TTableCreateParams p;
  for (int i = 0; i < kMaxFields; ++i) {
    p.fields.push_back(Field("f" + std::to_string(i), ftype::kSmallInt));
  }
  TDataTable t(dir_, "wide");
  t.Create(p);
  t.Open();
  EXPECT_EQ(t.Data().FieldCount(), 1024);
  EXPECT_EQ(t.Data().RecordSize(), 9 + 1024 * 3);
  TPinnedRecord r(t.Data().GetRecord(1, TReadAhead::None, true));
  t.Data().Format().SetInteger(1024, r->Image(), -7);
  r->MarkDirty();
  r.Reset();
  t.Close();
  t.Open();
  TPinnedRecord back(t.Data().GetRecord(1));
  EXPECT_EQ(t.Data().Format().GetInteger(1024, back->Image()), -7);
  back.Reset();
  t.Close();

  p.fields.push_back(Field("one_more", ftype::kSmallInt));
  EXPECT_EQ(ErrorCodeOf([&] { TDataTable(dir_, "wider").Create(p); }), err::kFieldLimits);
}

TTableCreateParams Ledger(bool withPrimary) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("note", ftype::kString, 20),
              Field("seq", ftype::kInteger, 0, fsubtype::kAutoInc)};
  if (withPrimary) {
    TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
  }
  return p;
}

int32_t Insert(TDataTable& t, int32_t id) {
  TDataFile& data = t.Data();
  const int32_t n = data.AllocateSlot(t.HasPrimaryIndex());
  TPinnedRecord r(data.GetRecord(n, TReadAhead::None, n == data.NextRecordNumber()));
  data.Format().InitRecord(r->Image());
  le::PutI32(r->Image(), rec::kNumber, n);
  data.Format().SetInteger(1, r->Image(), id);
  data.Format().SetInteger(3, r->Image(), data.NextAutoInc());
  r->MarkDirty();
  return n;
}

void Remove(TDataTable& t, int32_t n) {
  TPinnedRecord r(t.Data().GetRecord(n));
  t.Data().DeleteRecord(r.Get());
}

TEST_F(TableTest, DeletedSlotsAreReusedOnlyWithAPrimaryIndex) {
  for (bool withPrimary : {true, false}) {
    SCOPED_TRACE(withPrimary ? "primary" : "no primary");
    const std::string name = withPrimary ? "keyed" : "heap";
    TDataTable t(dir_, name);
    t.Create(Ledger(withPrimary));
    t.Open();
    for (int i = 1; i <= 6; ++i)
      EXPECT_EQ(Insert(t, i), i);
    Remove(t, 3);
    Remove(t, 5);
    EXPECT_EQ(t.Data().DeletedHead(), 5);
    {
      TPinnedRecord r(t.Data().GetRecord(5));
      EXPECT_EQ(r->Image()[rec::kState], rec::kDeleted);
      EXPECT_EQ(le::GetI32(r->Image(), rec::kNumber), 3);
    }
    t.FlushBuffers();
    t.Close();
    t.Open();  // the chain survives a reopen
    EXPECT_EQ(t.Data().DeletedHead(), 5);
    if (withPrimary) {
      EXPECT_EQ(Insert(t, 10), 5);
      EXPECT_EQ(Insert(t, 11), 3);
      EXPECT_EQ(Insert(t, 12), 7);
      EXPECT_EQ(t.Data().DeletedHead(), 0);
    } else {
      EXPECT_EQ(Insert(t, 10), 7);
      EXPECT_EQ(Insert(t, 11), 8);
      EXPECT_EQ(t.Data().DeletedHead(), 5);
    }
    // A reused slot gets a fresh auto-increment value.
    TPinnedRecord r(t.Data().GetRecord(7));
    EXPECT_EQ(t.Data().Format().GetInteger(3, r->Image()), withPrimary ? 9 : 7);
    r.Reset();
    t.Close();
  }
}

TEST_F(TableTest, ADamagedChainIsNeverFollowedIntoLiveRecords) {
  TDataTable t(dir_, "chain");
  t.Create(Ledger(true));
  t.Open();
  for (int i = 1; i <= 3; ++i)
    Insert(t, i);
  t.Close();
  // The header says record 2 is deleted, but record 2 is alive.
  Patch("chain.DAT", [](std::vector<uint8_t>& b) { le::PutI32(b.data(), dfh::kDeletedHead, 2); });
  t.Open();
  EXPECT_EQ(ErrorCodeOf([&] { t.Data().AllocateSlot(true); }), err::kRecordBuffersCorrupt);
  TPinnedRecord r(t.Data().GetRecord(2));
  EXPECT_EQ(t.Data().Format().GetInteger(1, r->Image()), 2);
  r.Reset();
  t.Close();
}

TEST_F(TableTest, AutoIncrementWrapsAndKeepsSuppliedValues) {
  TDataTable t(dir_, "counter");
  t.Create(Ledger(false));
  t.Open();
  TDataFile& data = t.Data();
  EXPECT_EQ(data.NextAutoInc(), 1);
  data.SetLastAutoInc(2147483646);
  EXPECT_EQ(data.NextAutoInc(), 2147483647);
  EXPECT_EQ(data.NextAutoInc(), 1);
  data.KeepAutoInc(500);
  EXPECT_EQ(data.LastAutoInc(), 500);
  data.KeepAutoInc(20);
  EXPECT_EQ(data.LastAutoInc(), 500);
  EXPECT_EQ(data.NextAutoInc(), 501);
  EXPECT_EQ(data.NextBlobStamp(), 1);
  t.Close();
  t.Open();
  EXPECT_EQ(t.Data().LastAutoInc(), 501);
  EXPECT_EQ(t.Data().Header().lastBlobStamp, 1);
  t.Close();
}

TEST_F(TableTest, HeaderWritesRaiseTheChangeCounterAndStampTheWrite) {
  TDataTable t(dir_, "stamp");
  t.Create(Ledger(false));
  EXPECT_EQ(le::GetI32(ReadFile("stamp.DAT").data(), dfh::kChangeCounter), 0);
  t.Open();
  Insert(t, 1);
  t.FlushBuffers();
  std::vector<uint8_t> bytes = ReadFile("stamp.DAT");
  EXPECT_EQ(le::GetI32(bytes.data(), dfh::kChangeCounter), 1);
  EXPECT_EQ(le::GetI64(bytes.data(), dfh::kEngineVersion), 32400);
  const TLocalMoment now = CurrentLocalMoment();
  const double stamp = le::GetF64(bytes.data(), dfh::kLastWrite);
  EXPECT_NEAR(stamp, now.day - 693594 + now.timeMs / 86400000.0, 1.0 / 24);
  t.FlushBuffers();  // nothing pending: nothing written
  EXPECT_EQ(le::GetI32(ReadFile("stamp.DAT").data(), dfh::kChangeCounter), 1);
  EXPECT_TRUE(t.Data().FlushHeader(true));
  EXPECT_EQ(le::GetI32(ReadFile("stamp.DAT").data(), dfh::kChangeCounter), 2);
  t.Data().SetUserVersion(3, 4);
  t.Close();
  bytes = ReadFile("stamp.DAT");
  EXPECT_EQ(le::GetI32(bytes.data(), dfh::kChangeCounter), 3);
  EXPECT_EQ(le::GetU16(bytes.data(), dfh::kUserMajor), 3);
}

// A table of `count` records whose id field holds the record number.
void FillNumbered(TDataTable& t, int count) {
  TDataFile& data = t.Data();
  for (int i = 1; i <= count; ++i) {
    TPinnedRecord r(data.GetRecord(i, TReadAhead::None, true));
    data.Format().SetInteger(1, r->Image(), i);
    r->MarkDirty();
  }
  t.FlushBuffers(true);
}

TEST_F(TableTest, WindowedReadsForwardsAndBackwards) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("pad", ftype::kBytes, 185)};  // 200 bytes
  TDataTable t(dir_, "scan");
  t.Create(p);
  t.Open();
  FillNumbered(t, 1000);
  t.Close();
  t.Open();
  TDataFile& data = t.Data();
  ASSERT_EQ(data.RecordSize(), 200);
  EXPECT_EQ(data.WindowRecords(), 40);
  EXPECT_EQ(data.TargetCacheSize(), 81u);

  const uint64_t startReads = data.CacheStats().reads;
  for (int32_t n = 1; n <= 1000; ++n) {
    TPinnedRecord r(data.GetRecord(n, TReadAhead::Forward));
    ASSERT_EQ(data.Format().GetInteger(1, r->Image()), n);
  }
  EXPECT_EQ(data.CacheStats().reads - startReads, 25u);  // one read per window of 40
  EXPECT_LE(data.CacheStats().cached, data.TargetCacheSize());

  data.ClearCache();
  const uint64_t before = data.CacheStats().reads;
  for (int32_t n = 1000; n >= 1; --n) {
    TPinnedRecord r(data.GetRecord(n, TReadAhead::Backward));
    ASSERT_EQ(data.Format().GetInteger(1, r->Image()), n);
  }
  EXPECT_EQ(data.CacheStats().reads - before, 25u);

  // A backward read of record 500 reads the window 461..500.
  data.ClearCache();
  TPinnedRecord(data.GetRecord(500, TReadAhead::Backward));
  const uint64_t reads = data.CacheStats().reads;
  TPinnedRecord(data.GetRecord(461));
  EXPECT_EQ(data.CacheStats().reads, reads);
  TPinnedRecord(data.GetRecord(460));
  EXPECT_EQ(data.CacheStats().reads, reads + 1);
  // A forward window is cut at the end of the file.
  data.ClearCache();
  TPinnedRecord(data.GetRecord(990, TReadAhead::Forward));
  TPinnedRecord(data.GetRecord(1000));
  EXPECT_EQ(data.CacheStats().reads, reads + 2);

  EXPECT_EQ(ErrorCodeOf([&] { data.GetRecord(0); }), err::kRecordBuffersCorrupt);
  EXPECT_EQ(ErrorCodeOf([&] { data.GetRecord(1001); }), err::kRecordBuffersCorrupt);
  EXPECT_EQ(ErrorCodeOf([&] { data.GetRecord(1002, TReadAhead::None, true); }),
            err::kRecordBuffersCorrupt);
  t.Close();
}

TEST_F(TableTest, WriteBackJoinsRunsAndKeepsPinnedRecords) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger)};
  TDataTable t(dir_, "runs");
  t.Create(p);
  t.Open();
  FillNumbered(t, 30);
  TDataFile& data = t.Data();
  auto change = [&](int32_t n, int32_t value) {
    TPinnedRecord r(data.GetRecord(n));
    data.Format().SetInteger(1, r->Image(), value);
    r->MarkDirty();
  };
  for (int32_t n : {3, 4, 5, 6, 10, 20, 21})
    change(n, -n);
  TPinnedRecord held(data.GetRecord(10));
  const uint64_t writes = data.CacheStats().writes;
  data.WriteBack();
  EXPECT_EQ(data.CacheStats().writes - writes, 2u);  // 3..6 and 20..21; 10 is pinned
  EXPECT_TRUE(held->Dirty());
  held.Reset();
  data.WriteBack();
  EXPECT_EQ(data.CacheStats().writes - writes, 3u);

  const std::vector<uint8_t> file = ReadFile("runs.DAT");
  for (int32_t n = 1; n <= 30; ++n) {
    const bool changed = n == 3 || n == 4 || n == 5 || n == 6 || n == 10 || n == 20 || n == 21;
    EXPECT_EQ(le::GetI32(file.data(), RecordsOffset(1) + (n - 1) * 14 + 10), changed ? -n : n) << n;
  }
  t.Close();
}

TEST_F(TableTest, TheCacheGrowsForPinsAndShrinksOnFlush) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("pad", ftype::kBytes, 250),
              Field("pad2", ftype::kBytes, 250), Field("pad3", ftype::kBytes, 250)};
  TDataTable t(dir_, "pins");
  t.Create(p);
  t.Open();
  TDataFile& data = t.Data();
  ASSERT_EQ(data.TargetCacheSize(), 16384u / data.RecordSize());  // 21
  FillNumbered(t, 200);
  std::vector<TPinnedRecord> pinned;
  for (int32_t n = 1; n <= 100; ++n)
    pinned.emplace_back(data.GetRecord(n, TReadAhead::Forward));
  EXPECT_GE(data.CacheStats().capacity, 100u);
  for (int32_t n = 1; n <= 100; ++n) {
    ASSERT_EQ(data.Format().GetInteger(1, pinned[n - 1]->Image()), n);
  }
  // Dropping the cache while records are pinned keeps the pinned objects usable.
  data.ClearCache();
  EXPECT_EQ(data.Format().GetInteger(1, pinned[41]->Image()), 42);
  TPinnedRecord fresh(data.GetRecord(42));
  EXPECT_NE(fresh.Get(), pinned[41].Get());
  pinned.clear();
  fresh.Reset();
  for (int32_t n = 101; n <= 200; ++n)
    TPinnedRecord(data.GetRecord(n, TReadAhead::Forward));
  t.FlushBuffers(true);
  EXPECT_LE(data.CacheStats().cached, data.TargetCacheSize());
  EXPECT_EQ(data.CacheStats().capacity, data.TargetCacheSize());
  t.Close();
}

TEST_F(TableTest, AWindowRefreshesCleanRecordsButKeepsDirtyOnes) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger)};
  TDataTable t(dir_, "refresh");
  t.Create(p);
  t.Open();
  FillNumbered(t, 10);
  TDataFile& data = t.Data();
  data.ClearCache();
  {
    TPinnedRecord r(data.GetRecord(2));
    data.Format().SetInteger(1, r->Image(), 222);
    r->MarkDirty();
    TPinnedRecord s(data.GetRecord(3));
    data.Format().SetInteger(1, s->Image(), 333);  // changed in memory, not marked dirty
  }
  TPinnedRecord(data.GetRecord(4, TReadAhead::Backward));  // window 1..4
  TPinnedRecord two(data.GetRecord(2));
  TPinnedRecord three(data.GetRecord(3));
  EXPECT_EQ(data.Format().GetInteger(1, two->Image()), 222);
  EXPECT_EQ(data.Format().GetInteger(1, three->Image()), 3);
  two.Reset();
  three.Reset();
  t.Close();
}

TEST_F(TableTest, TheChangeCheckMakesAReadReturnNoRecord) {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger)};
  TDataTable t(dir_, "changed");
  t.Create(p);
  t.Open();
  FillNumbered(t, 5);
  TDataFile& data = t.Data();
  data.ClearCache();
  int checks = 0;
  data.SetChangeCheck([&] { return ++checks == 1; });
  EXPECT_EQ(data.GetRecord(1), nullptr);
  TPinnedRecord r(data.GetRecord(1));
  ASSERT_TRUE(r);
  EXPECT_EQ(checks, 2);
  TPinnedRecord(data.GetRecord(1));  // a hit needs no check
  EXPECT_EQ(checks, 2);
  r.Reset();
  data.SetChangeCheck(nullptr);
  t.Close();
}

TEST_F(TableTest, TheTableIsFullAtTheRecordAndSizeLimits) {
  // Sparse files stand in for the huge tables: only the headers and lengths are real.
  struct Case {
    const char* name;
    uint8_t size;
    int fields;
  };
  const std::vector<Case> cases = {
      {"many", 1, 1},     // 200,000,000 records of 11 bytes: the next has no number
      {"big", 250, 238},  // records of 59,747 bytes: the next passes 4,000,000,000 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTableCreateParams p;
    for (int i = 0; i < c.fields; ++i) {
      p.fields.push_back(Field("f" + std::to_string(i), ftype::kBytes, c.size));
    }
    TDataTable t(dir_, c.name);
    t.Create(p);
    t.Open();
    const int recordSize = t.Data().RecordSize();
    t.Close();
    const int64_t fitting = (kMaxFileSize - RecordsOffset(c.fields)) / recordSize;
    const int64_t records = std::min<int64_t>(kMaxRecordNumber, fitting);
    const std::string file = std::string(c.name) + ".DAT";
    ASSERT_EQ(truncate(Path(file).c_str(), RecordsOffset(c.fields) + records * recordSize), 0);
    PatchHead(file, dfh::kSize, [&](std::vector<uint8_t>& b) {
      le::PutI32(b.data(), dfh::kNextRecord, static_cast<int32_t>(records + 1));
    });
    t.Open();
    TDataFile& data = t.Data();
    EXPECT_EQ(ErrorCodeOf([&] { data.GetRecord(data.NextRecordNumber(), TReadAhead::None, true); }),
              err::kTableFull);
    TPinnedRecord last(data.GetRecord(static_cast<int32_t>(records), TReadAhead::Backward));
    EXPECT_TRUE(last);
    last.Reset();
    t.Close();
    t.Delete();
  }
}

TEST_F(TableTest, OpenersShareOneTableAndExclusiveOpensConflict) {
  TDataTable t(dir_, "shared");
  t.Create(Ledger(true));
  t.Open();
  t.Open();
  EXPECT_EQ(t.Openers(), 2);
  TTableOpenOptions exclusive;
  exclusive.exclusive = true;
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(exclusive); }), err::kAccessDenied);
  // Another table object on the same files (another process's view) cannot open exclusively.
  TDataTable other(dir_, "shared");
  EXPECT_EQ(ErrorCodeOf([&] { other.Open(exclusive); }), err::kAccessDenied);
  EXPECT_FALSE(other.IsOpen());
  t.Close();
  t.Close();
  EXPECT_FALSE(t.IsOpen());
  t.Open(exclusive);
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), err::kAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { other.Open(); }), err::kAccessDenied);
  t.Close();
}

TEST_F(TableTest, DeleteRenameAndBackupNames) {
  TDataTable t(dir_, "ledger");
  t.Create(Ledger(true));
  EXPECT_TRUE(fs::exists(Path("ledger.DAT")));
  EXPECT_TRUE(fs::exists(Path("ledger.IDX")));
  EXPECT_FALSE(fs::exists(Path("ledger.BLB")));

  t.Open();
  EXPECT_EQ(ErrorCodeOf([&] { t.Delete(); }), err::kTableInUse);
  EXPECT_EQ(ErrorCodeOf([&] { t.Rename("books"); }), err::kTableInUse);
  TDataTable other(dir_, "ledger");
  EXPECT_EQ(ErrorCodeOf([&] { other.Delete(); }), err::kAccessDenied);
  EXPECT_EQ(ErrorCodeOf([&] { other.Rename("books"); }), err::kAccessDenied);
  EXPECT_TRUE(fs::exists(Path("ledger.DAT")));
  EXPECT_TRUE(fs::exists(Path("ledger.IDX")));
  Insert(t, 1);
  t.Close();

  t.Rename("books");
  EXPECT_EQ(t.TableName(), "books");
  EXPECT_FALSE(fs::exists(Path("ledger.DAT")));
  EXPECT_TRUE(fs::exists(Path("books.DAT")));
  EXPECT_TRUE(fs::exists(Path("books.IDX")));
  t.RenameToBackup();
  EXPECT_TRUE(fs::exists(Path("books.DBK")));
  EXPECT_TRUE(fs::exists(Path("books.IBK")));
  EXPECT_FALSE(fs::exists(Path("books.DAT")));
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), err::kTableNotFound);
  t.RestoreFromBackup();
  t.Open();
  EXPECT_EQ(t.Data().RecordCount(), 1);
  t.Close();

  // Renaming onto an existing table changes nothing.
  TDataTable blocker(dir_, "taken");
  blocker.Create(Ledger(true));
  fs::remove(Path("taken.DAT"));  // only taken.IDX is in the way
  EXPECT_NE(ErrorCodeOf([&] { t.Rename("taken"); }), 0);
  EXPECT_TRUE(fs::exists(Path("books.DAT")));
  EXPECT_TRUE(fs::exists(Path("books.IDX")));
  EXPECT_EQ(t.TableName(), "books");

  t.Delete();
  EXPECT_FALSE(fs::exists(Path("books.DAT")));
  EXPECT_FALSE(fs::exists(Path("books.IDX")));
  EXPECT_EQ(ErrorCodeOf([&] { t.Delete(); }), err::kTableNotFound);
}

TEST_F(TableTest, EmptyNeedsExclusiveAccessAndResetsTheCounters) {
  TDataTable t(dir_, "empty");
  t.Create(Ledger(true));
  t.Open();
  for (int i = 1; i <= 5; ++i)
    Insert(t, i);
  Remove(t, 2);
  t.FlushBuffers();
  EXPECT_EQ(ErrorCodeOf([&] { t.Empty(); }), err::kMustBeExclusive);
  t.Close();
  TTableOpenOptions exclusive;
  exclusive.exclusive = true;
  t.Open(exclusive);
  t.Empty();
  EXPECT_EQ(t.Data().RecordCount(), 0);
  EXPECT_EQ(t.Data().DeletedHead(), 0);
  EXPECT_EQ(t.Data().LastAutoInc(), 0);
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(Path("empty.DAT"))), RecordsOffset(3));
  EXPECT_EQ(fs::file_size(Path("empty.IDX")), kIndexPageSize);
  EXPECT_EQ(Insert(t, 9), 1);
  t.Close();
  t.Open();
  EXPECT_EQ(t.Data().RecordCount(), 1);
  EXPECT_EQ(t.Data().LastAutoInc(), 1);
  t.Close();
}

TEST_F(TableTest, AMissingIndexFileIsMadeAnewAndRebuilt) {
  TDataTable t(dir_, "noidx");
  t.Create(Ledger(true));
  t.Open();
  EXPECT_TRUE(t.HasPrimaryIndex());
  EXPECT_FALSE(t.NeedsIndexRebuild());
  Insert(t, 1);
  t.Close();
  fs::remove(Path("noidx.IDX"));
  t.Open();
  // The first opener rebuilt the indexes of the new file right away.
  EXPECT_FALSE(t.NeedsIndexRebuild());
  EXPECT_EQ(t.Index().Descriptor(kRecordIdSlot).name, "Sys Deleted");
  EXPECT_EQ(t.Index().Tree(kRecordIdSlot).EntryCount(), 1);
  EXPECT_EQ(t.Index().Header().activeRecords, 1);
  EXPECT_EQ(t.Data().RecordCount(), 1);
  t.Close();
  EXPECT_EQ(fs::file_size(Path("noidx.IDX")), 2 * kIndexPageSize);
}

TEST_F(TableTest, TheIndexHeaderPageCarriesTheDefinitions) {
  TTableCreateParams p = Ledger(true);
  TIndexDescriptor byNote;
  byNote.name = "bynote";
  byNote.fields = {2};
  byNote.caseInsensitive = true;
  p.indexes.secondaries.push_back(byNote);
  p.indexes.textFields = {2};
  TDataTable t(dir_, "indexed");
  t.Create(p);
  const std::vector<uint8_t> page = ReadFile("indexed.IDX");
  ASSERT_EQ(page.size(), kIndexPageSize);
  const TIndexFileHeader h = DecodeIndexFileHeader(page.data());
  EXPECT_EQ(h.version, 5);
  EXPECT_EQ(h.nextPage, 1);
  EXPECT_EQ(h.secondaryCount, 1);
  EXPECT_FALSE(h.noPrimary);
  EXPECT_EQ(h.slots[kPrimarySlot].keyLength, 5);
  EXPECT_EQ(h.slots[1].name, "bynote");
  EXPECT_EQ(h.slots[1].keyLength, 22 + 4);
  EXPECT_TRUE(h.slots[1].caseInsensitive);
  EXPECT_EQ(h.slots[kTextSlot].fields, (std::vector<uint16_t>{2}));
  EXPECT_EQ(h.slots[kRecordIdSlot].keyLength, 5);
  t.Open();
  EXPECT_EQ(t.Index().ChangeCounter(), 0);
  Insert(t, 1);
  t.Index().MarkHeaderDirty();
  t.Close();
  EXPECT_EQ(le::GetI32(ReadFile("indexed.IDX").data(), ifh::kChangeCounter), 1);
}

TEST_F(TableTest, HeaderInformationAndFieldAttributes) {
  TTableCreateParams p = Ledger(false);
  p.languageId = 1031;
  p.sortOrderId = 1;
  p.encrypted = true;
  p.password = "abc";
  TDataTable t(dir_, "info");
  t.Create(p);
  TTableOpenOptions options;
  options.passwords.known = {"abc"};
  t.Open(options);
  TDataFile& data = t.Data();
  EXPECT_EQ(data.LocaleId(), MakeLocaleId(1031, 1));
  data.SetDescription("notes");
  data.SetPassword(" xyz ");
  EXPECT_EQ(ErrorCodeOf([&] { data.SetLocale(0x1234, 0); }), err::kLanguageDriver);
  data.SetLocale(1033, 0);

  EXPECT_EQ(data.FieldDescriptor("NOTE")->position, 2);
  EXPECT_FALSE(data.FieldDescriptor("missing").has_value());
  TFieldDescriptor a = data.FieldDescriptor(2);
  a.name = "Remark";
  a.required = true;
  a.defaultText = "n/a";
  data.SetFieldAttributes(2, a);
  a.name = "ID";
  EXPECT_EQ(ErrorCodeOf([&] { data.SetFieldAttributes(2, a); }), err::kInvalidFieldName);
  TFieldDescriptor id = data.FieldDescriptor(1);
  id.maxText = "abc";
  EXPECT_EQ(ErrorCodeOf([&] { data.SetFieldAttributes(1, id); }), err::kInvalidValidityCheck);
  id.maxText = "100";
  id.subtype = fsubtype::kAutoInc;  // would move the field's bytes
  EXPECT_EQ(ErrorCodeOf([&] { data.SetFieldAttributes(1, id); }), err::kInvalidFieldDef);
  t.Close();

  EXPECT_EQ(ErrorCodeOf([&] { t.Open(options); }), err::kPasswordRequired);
  options.passwords.known = {"xyz"};
  t.Open(options);
  EXPECT_EQ(t.Data().Description(), "notes");
  EXPECT_EQ(t.Data().LocaleId(), 1033u);
  const TFieldDescriptor remark = t.Data().FieldDescriptor(2);
  EXPECT_EQ(remark.name, "Remark");
  EXPECT_TRUE(remark.required);
  EXPECT_EQ(remark.defaultText, "n/a");
  std::vector<uint8_t> img(t.Data().RecordSize());
  t.Data().Format().InitRecord(img.data());
  EXPECT_EQ(t.Data().Format().GetString(2, img.data()), "n/a");
  t.Close();
}

TEST_F(TableTest, InMemoryTablesAreSeparateFromDiskTables) {
  TDataTable disk(dir_, "twin");
  disk.Create(Ledger(true));
  TDataTable memory(dir_, "twin", true);
  memory.Create(Ledger(true));
  memory.Open();
  Insert(memory, 1);
  Insert(memory, 2);
  memory.Close();
  memory.Open();
  EXPECT_EQ(memory.Data().RecordCount(), 2);
  memory.Close();
  disk.Open();
  EXPECT_EQ(disk.Data().RecordCount(), 0);
  disk.Close();
  memory.Delete();
  EXPECT_EQ(ErrorCodeOf([&] { memory.Open(); }), err::kTableNotFound);
  EXPECT_TRUE(fs::exists(Path("twin.DAT")));
}

}  // namespace
}  // namespace mt
