// Data-file checks and repair: the states a writer killed between its writes leaves behind
// (records past the header's count, a partial record at the end, a stale deleted-chain head,
// an auto-increment value behind the records) are found by the check, and the repair makes
// the table open again with every complete record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/byteio.h"
#include "engine/storage/datatable.h"
#include "engine/storage/scrambler.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::ErrorCodeOf;
using test::Field;

class TableCheckTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("note", ftype::kString, 10),
                Field("seq", ftype::kInteger, 0, fsubtype::kAutoInc)};
    if (GetParam()) {
      p.encrypted = true;
      p.password = "pw";
    }
    TDataTable(dir_, "t").Create(p);
    TDataTable t(dir_, "t");
    t.Open(Options());
    for (int i = 1; i <= 6; ++i) {
      const int32_t n = t.Data().NextRecordNumber();
      TPinnedRecord r(t.Data().GetRecord(n, TReadAhead::None, true));
      t.Data().Format().InitRecord(r->Image());
      le::PutI32(r->Image(), rec::kNumber, n);
      t.Data().Format().SetInteger(1, r->Image(), i);
      le::PutI32(r->Image(), rec::kAutoInc, t.Data().NextAutoInc());
      r->MarkDirty();
    }
    for (int32_t n : {2, 5}) {
      TPinnedRecord r(t.Data().GetRecord(n));
      t.Data().DeleteRecord(r.Get());
    }
    t.Close();
  }
  TTableOpenOptions Options() const {
    TTableOpenOptions o;
    o.passwords.known = {"pw"};
    return o;
  }
  std::string DataPath() const { return TableFileName(dir_ + "/", "t", kDataExt); }
  std::vector<uint8_t> Read() const {
    std::ifstream in(DataPath(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::vector<uint8_t>& bytes) const {
    std::ofstream out(DataPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  // The faults of the check; a table that does not open gives its error code.
  std::vector<std::string> Check(int32_t* openError = nullptr) const {
    TDataTable t(dir_, "t");
    try {
      t.Open(Options());
    } catch (const EEngineError& e) {
      if (openError) *openError = e.ErrorCode();
      return {"open failed"};
    }
    return CheckDataRecords(t);
  }
  // Active record ids in record order.
  std::vector<int64_t> Ids() const {
    TDataTable t(dir_, "t");
    t.Open(Options());
    std::vector<int64_t> ids;
    for (int32_t n = 1; n <= t.Data().RecordCount(); ++n) {
      TPinnedRecord r(t.Data().GetRecord(n));
      if (r->Image()[rec::kState] == rec::kActive)
        ids.push_back(*t.Data().Format().GetInteger(1, r->Image()));
    }
    return ids;
  }
  const int recordSize_ = 9 + 5 + 12;
  test::TScratchDir scratch_{"mt-check"};
  std::string dir_ = scratch_.Path();
};

TEST_P(TableCheckTest, ASoundTableHasNoFaultAndRepairChangesNothingThatMatters) {
  EXPECT_TRUE(Check().empty());
  const TDataRepairReport report = RepairDataFile(dir_, "t");
  EXPECT_EQ(report.records, 6);
  EXPECT_EQ(report.deleted, 2);
  EXPECT_EQ(report.lastAutoInc, 6);
  EXPECT_TRUE(Check().empty());
  EXPECT_EQ(Ids(), (std::vector<int64_t>{1, 3, 4, 6}));
}

TEST_P(TableCheckTest, StatesOfAKilledWriterAreRepaired) {
  struct TCase {
    std::string name;
    std::function<void(std::vector<uint8_t>&)> damage;
    bool opens;  // whether the damaged table still opens
  };
  auto headerAt = [](std::vector<uint8_t>& f, std::size_t at, int32_t v) {
    le::PutI32(f.data(), at, v);
  };
  const std::vector<TCase> cases = {
      {"a partial record at the end",
       [&](std::vector<uint8_t>& f) { f.insert(f.end(), 7, uint8_t{0x11}); }, false},
      {"a deleted-chain head on an active record",
       [&](std::vector<uint8_t>& f) { headerAt(f, dfh::kDeletedHead, 3); }, true},
      {"an auto-increment value behind the records",
       [&](std::vector<uint8_t>& f) { headerAt(f, dfh::kLastAutoInc, 2); }, true},
  };
  const std::vector<uint8_t> original = Read();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = original;
    c.damage(bytes);
    Write(bytes);
    int32_t openError = 0;
    const std::vector<std::string> faults = Check(&openError);
    EXPECT_FALSE(faults.empty());
    EXPECT_EQ(openError, c.opens ? 0 : err::kHeaderCorrupt);
    RepairDataFile(dir_, "t");
    EXPECT_TRUE(Check().empty());
    EXPECT_EQ(Ids(), (std::vector<int64_t>{1, 3, 4, 6}));
    // A new record goes after the largest auto-increment value a record carries.
    TDataTable t(dir_, "t");
    t.Open(Options());
    EXPECT_GE(t.Data().NextAutoInc(), 7);
  }
}

TEST_P(TableCheckTest, RecordsPastTheHeaderAreKept) {
  // Append two copies of record 6 with the numbers 7 and 8, as an insert writes them before
  // its header.
  std::vector<uint8_t> bytes = Read();
  TDataTable probe(dir_, "t");
  probe.Open(Options());
  std::vector<uint8_t> img(probe.Data().RecordSize());
  {
    TPinnedRecord r(probe.Data().GetRecord(6));
    std::copy(r->Image(), r->Image() + img.size(), img.begin());
  }
  const bool encrypted = probe.Data().Encrypted();
  probe.Close();
  for (int32_t n : {7, 8}) {
    std::vector<uint8_t> copy = img;
    le::PutI32(copy.data(), rec::kNumber, n);
    le::PutI32(copy.data(), 10, 70 + n);  // id field value bytes
    le::PutI32(copy.data(), rec::kAutoInc, n);
    if (encrypted) ScrambleBlock(copy.data(), copy.size());
    bytes.insert(bytes.end(), copy.begin(), copy.end());
  }
  Write(bytes);
  int32_t openError = 0;
  Check(&openError);
  EXPECT_EQ(openError, err::kHeaderCorrupt);
  const TDataRepairReport report = RepairDataFile(dir_, "t");
  EXPECT_EQ(report.oldNextRecord, 7);
  EXPECT_EQ(report.records, 8);
  EXPECT_EQ(report.lastAutoInc, 8);
  EXPECT_TRUE(Check().empty());
  EXPECT_EQ(Ids(), (std::vector<int64_t>{1, 3, 4, 6, 77, 78}));
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, TableCheckTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Encrypted" : "Plain"; });

}  // namespace
}  // namespace mt
