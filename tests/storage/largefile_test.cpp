// Large files: a table whose data, index and blob files reach past 2 GiB inserts, reads, finds
// and checks correctly there; at 4,000,000,000 bytes, where the files end, an insert is refused
// with the table-full error and leaves the table as it was; and a data file grown past 4 GiB
// elsewhere is read and changed at its true offsets (a 32-bit offset would wrap to the file's
// start).
//
// The files are grown without writing gigabytes: each is cut to its new length (a sparse
// file) and only what the format needs in the grown part is written. Data file: the first 9
// bytes of each record slot (an active record of null fields with its own number and
// identifier), so each record costs one page of a 64 KiB record. Blob file: 1 MiB blocks, the
// grown ones all part of record 1's value, each block holding one byte. Index file: after the
// indexes were rebuilt from the records, the next page number is moved past the grown length
// (pages no index uses). The scratch folder lies on a memory file system when there is one,
// where the holes read fast.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/blobfile.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::Field;

constexpr int64_t k2GiB = int64_t{1} << 31;
constexpr int64_t k4GiB = int64_t{1} << 32;
constexpr int32_t kBlockSize = 1 << 20;
constexpr int kFillerFields = 255;  // strings of 250: records of almost 64 KiB
constexpr int kIdField = 1;
constexpr int kMemoField = 2;

// The memory file system when it has room for the written parts of a table's files (a few
// hundred MB; containers often give it only 64 MB), else the system's temporary folder.
fs::path ScratchParent() {
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) {
    const fs::space_info room = fs::space("/dev/shm", ec);
    if (!ec && room.available >= (uintmax_t{3} << 30)) return "/dev/shm";
  }
  return fs::temp_directory_path();
}

// A file of the table, written past the engine.
class TRawFile {
 public:
  explicit TRawFile(const std::string& path) : fd_(open(path.c_str(), O_RDWR)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  }
  ~TRawFile() { close(fd_); }
  TRawFile(const TRawFile&) = delete;
  TRawFile& operator=(const TRawFile&) = delete;

  std::vector<uint8_t> Read(int64_t offset, std::size_t count) const {
    std::vector<uint8_t> bytes(count);
    if (pread(fd_, bytes.data(), count, offset) != static_cast<ssize_t>(count)) {
      throw std::runtime_error("short read");
    }
    return bytes;
  }
  void Write(int64_t offset, const std::vector<uint8_t>& bytes) const {
    if (pwrite(fd_, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("short write");
    }
  }
  void Cut(int64_t length) const {
    if (ftruncate(fd_, length) != 0) throw std::runtime_error("cannot set the length");
  }

 private:
  int fd_;
};

struct TFileUse {
  int64_t length = 0;
  int64_t onDisk = 0;
};

TFileUse UseOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_blocks) * 512};
}

std::string Value(int64_t id, std::size_t length) {
  std::string v(length, ' ');
  for (std::size_t i = 0; i < length; ++i)
    v[i] = static_cast<char>('a' + (static_cast<std::size_t>(id) + i) % 26);
  return v;
}

class LargeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("note", ftype::kBlob, 0, fsubtype::kMemo)};
    for (int i = 1; i <= kFillerFields; ++i)
      p.fields.push_back(Field("f" + std::to_string(i), ftype::kString, 250));
    p.blobBlockSize = kBlockSize;
    TIndexDescriptor byId;
    byId.name = "ById";
    byId.fields = {kIdField};
    p.indexes.secondaries = {byId};
    TDataTable(dir_, "big").Create(p);
    // Record 1 with a one-byte value in block 1; growing the blob file lengthens that value.
    auto c = OpenCursor();
    Insert(*c, 0, "x");
    recordSize_ = c->RecordSize();
    c.reset();
    directory_.reset();
  }

  std::string PathOf(std::string_view ext) const {
    return TableFileName(NormalizeDirectory(dir_), "big", ext);
  }
  int64_t RecordsStart() const {
    TRawFile f(PathOf(kDataExt));
    return RecordsOffset(DecodeDataFileHeader(f.Read(0, dfh::kSize).data()).fieldCount);
  }
  int64_t RecordOffset(int32_t n) const {
    return RecordsStart() + static_cast<int64_t>(n - 1) * recordSize_;
  }
  static int64_t BlockOffset(int32_t n) {
    return static_cast<int64_t>(bfh::kSize) + static_cast<int64_t>(n - 1) * kBlockSize;
  }

  // Records 2 to `records`: active, null fields, numbered and identified by their slot.
  void GrowData(int32_t records) const {
    TRawFile f(PathOf(kDataExt));
    TDataFileHeader h = DecodeDataFileHeader(f.Read(0, dfh::kSize).data());
    ASSERT_EQ(h.nextRecord, 2);
    std::vector<uint8_t> head(rec::kFirstField, 0);
    for (int32_t n = 2; n <= records; ++n) {
      head[rec::kState] = rec::kActive;
      le::PutI32(head.data(), rec::kNumber, n);
      le::PutI32(head.data(), rec::kAutoInc, n);
      f.Write(RecordOffset(n), head);
    }
    f.Cut(RecordOffset(records + 1));
    h.nextRecord = records + 1;
    h.lastAutoInc = records;
    std::vector<uint8_t> bytes(dfh::kSize);
    EncodeDataFileHeader(h, bytes.data());
    f.Write(0, bytes);
  }

  // Blocks 2 to nextBlock - 1 join record 1's value, one byte each.
  void GrowBlob(int32_t nextBlock) const {
    TRawFile f(PathOf(kBlobExt));
    TBlobFileHeader h = DecodeBlobFileHeader(f.Read(0, bfh::kSize).data());
    ASSERT_EQ(h.nextBlock, 2);
    ASSERT_EQ(h.freeHead, 0);
    std::vector<uint8_t> first = f.Read(BlockOffset(1), bbl::kHeaderSize + 1);
    const int32_t stamp = le::GetI32(first.data(), bbl::kStamp);
    le::PutI32(first.data(), bbl::kNext, 2);
    le::PutI32(first.data(), bbl::kTotal, nextBlock - 1);
    f.Write(BlockOffset(1), first);
    std::vector<uint8_t> block(bbl::kHeaderSize + 1, 0);
    for (int32_t n = 2; n < nextBlock; ++n) {
      le::PutI32(block.data(), bbl::kPrev, n - 1);
      le::PutI32(block.data(), bbl::kNext, n + 1 < nextBlock ? n + 1 : 0);
      le::PutU16(block.data(), bbl::kUsed, 1);
      le::PutI32(block.data(), bbl::kStamp, stamp);
      block[bbl::kHeaderSize] = 'x';
      f.Write(BlockOffset(n), block);
    }
    f.Cut(BlockOffset(nextBlock));
    h.nextBlock = nextBlock;
    std::vector<uint8_t> bytes(bfh::kSize);
    EncodeBlobFileHeader(h, bytes.data());
    f.Write(0, bytes);
  }

  // Rebuilds the indexes from the records, then moves the next page to nextPage.
  void GrowIndex(std::optional<int32_t> nextPage) {
    directory_.reset();
    RepairIndexFile(dir_, "big", {});
    if (!nextPage) return;
    TRawFile f(PathOf(kIndexExt));
    TIndexFileHeader h = DecodeIndexFileHeader(f.Read(0, kIndexPageSize).data());
    ASSERT_LT(h.nextPage, *nextPage);
    h.nextPage = *nextPage;
    std::vector<uint8_t> page(kIndexPageSize);
    EncodeIndexFileHeader(h, page.data());
    f.Write(0, page);
    f.Cut(static_cast<int64_t>(*nextPage) * kIndexPageSize);
  }

  int32_t NextRecord() const {
    TRawFile f(PathOf(kDataExt));
    return DecodeDataFileHeader(f.Read(0, dfh::kSize).data()).nextRecord;
  }
  int32_t NextPage() const {
    TRawFile f(PathOf(kIndexExt));
    return DecodeIndexFileHeader(f.Read(0, kIndexPageSize).data()).nextPage;
  }
  int32_t NextBlock() const {
    TRawFile f(PathOf(kBlobExt));
    return DecodeBlobFileHeader(f.Read(0, bfh::kSize).data()).nextBlock;
  }

  std::unique_ptr<TDataCursor> OpenCursor() {
    directory_ = std::make_unique<TDataDirectory>(dir_);
    auto c = std::make_unique<TDataCursor>(*directory_);
    c->SetTableName("big");
    c->Open();
    return c;
  }

  static int32_t Insert(TDataCursor& c, int64_t id, const std::string& memo) {
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.InitRecord(image.data());
    c.Format().SetInteger(kIdField, image.data(), id);
    if (!memo.empty()) {
      const int h = c.OpenBlob(kMemoField, image.data(), TBlobOpenMode::ReadWrite);
      c.Blob(h).Write(0, std::span(reinterpret_cast<const uint8_t*>(memo.data()), memo.size()));
      c.CloseBlob(h, true, image.data());
    }
    return c.InsertRecord(image.data(), false);
  }

  // The record found through the index for an id: its number, the id its image holds and its
  // value; nullopt when there is none.
  struct TFound {
    int32_t number = 0;
    std::optional<int64_t> id;
    std::string memo;
  };
  static std::optional<TFound> Find(TDataCursor& c, int64_t id) {
    std::vector<uint8_t> key(static_cast<std::size_t>(c.RecordSize()));
    std::vector<uint8_t> image(key.size());
    c.InitRecord(key.data());
    c.Format().SetInteger(kIdField, key.data(), id);
    c.ChooseIndex("ById");
    if (!c.FindKey(key.data(), 1, true, image.data())) return std::nullopt;
    TFound found{c.CurrentRecordNumber(), c.Format().GetInteger(kIdField, image.data()), {}};
    if (c.Format().GetBlobRef(kMemoField, image.data())) {
      const int h = c.OpenBlob(kMemoField, image.data(), TBlobOpenMode::Read);
      found.memo.assign(c.Blob(h).Data().begin(), c.Blob(h).Data().end());
      c.CloseBlob(h, false, image.data());
    }
    return found;
  }

  std::vector<std::string> Faults() {
    directory_.reset();
    TDataTable t(dir_, "big");
    t.Open({});
    std::vector<std::string> faults = CheckDataRecords(t);
    for (const std::string& f : CheckIndexes(t))
      faults.push_back(f);
    for (const std::string& f : CheckBlobValues(t))
      faults.push_back(f);
    t.Close();
    return faults;
  }

  // Every file of the table stays within the format's limit and is mostly holes.
  void ExpectSparseFiles() const {
    for (std::string_view ext : {kDataExt, kIndexExt, kBlobExt}) {
      const TFileUse use = UseOf(PathOf(ext));
      EXPECT_LE(use.length, kMaxFileSize) << ext;
      EXPECT_LT(use.onDisk, 512 * (int64_t{1} << 20)) << ext;
    }
  }

  test::TScratchDir scratch_{"mt-large", ScratchParent()};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
  int recordSize_ = 0;
};

TEST_F(LargeFileTest, InsertsReadsFindsAndChecksPastTwoGiB) {
  const int32_t records = static_cast<int32_t>((k2GiB - RecordsStart()) / recordSize_ + 1);
  GrowData(records);
  const int32_t blocks = static_cast<int32_t>((k2GiB - bfh::kSize) / kBlockSize + 2);
  GrowBlob(blocks);
  const int32_t pages = static_cast<int32_t>(k2GiB / kIndexPageSize + 1);
  GrowIndex(pages);
  ASSERT_GT(RecordOffset(records + 1), k2GiB);
  ASSERT_GT(BlockOffset(blocks), k2GiB);

  // Values over two blocks every 40th record; enough records to split index pages.
  auto memoOf = [](int64_t id) { return id % 40 == 0 ? Value(id, 65535 + 100) : std::string(); };
  constexpr int kNew = 800;
  {
    auto c = OpenCursor();
    for (int64_t id = 1; id <= kNew; ++id)
      EXPECT_EQ(Insert(*c, id, memoOf(id)), records + id);
  }
  EXPECT_GT(NextPage(), pages);
  EXPECT_GT(NextBlock(), blocks + 1);

  auto c = OpenCursor();
  for (int64_t id = 1; id <= kNew; ++id) {
    const auto found = Find(*c, id);
    ASSERT_TRUE(found) << id;
    EXPECT_EQ(found->number, records + id);
    EXPECT_EQ(found->id, id);
    EXPECT_EQ(found->memo, memoOf(id)) << id;
  }
  c.reset();
  EXPECT_EQ(Faults(), std::vector<std::string>());
  ExpectSparseFiles();
}

// Which file of the table is grown up to its last few units.
enum class TFull { Data, Index, Blob };

struct TFullCase {
  const char* name;
  TFull file;
  int inserts;  // records that still fit; -1 for "some"
};

class LargeFileLimitTest : public LargeFileTest, public ::testing::WithParamInterface<TFullCase> {};

TEST_P(LargeFileLimitTest, RefusesTheInsertThatPassesTheEndOfTheFormat) {
  const TFullCase& k = GetParam();
  std::optional<int32_t> nextPage;
  switch (k.file) {
    case TFull::Data:  // room for three more records
      GrowData(static_cast<int32_t>((kMaxFileSize - RecordsStart()) / recordSize_ - 3));
      break;
    case TFull::Blob:  // room for two more blocks
      GrowBlob(static_cast<int32_t>((kMaxFileSize - bfh::kSize) / kBlockSize - 1));
      break;
    case TFull::Index:  // room for two more pages
      nextPage = static_cast<int32_t>(kMaxFileSize / kIndexPageSize - 2);
      break;
  }
  GrowIndex(nextPage);
  const int32_t before = NextRecord();

  auto memoOf = [&](int64_t id) { return k.file == TFull::Blob ? Value(id, 1000) : std::string(); };
  int inserted = 0;
  int32_t refusal = 0;
  {
    auto c = OpenCursor();
    for (int64_t id = 1; id <= 5000 && refusal == 0; ++id) {
      try {
        Insert(*c, id, memoOf(id));
        ++inserted;
      } catch (const EEngineError& e) {
        refusal = e.ErrorCode();
      }
    }
  }
  EXPECT_EQ(refusal, err::kTableFull);
  if (k.inserts >= 0) {
    EXPECT_EQ(inserted, k.inserts);
  } else {
    EXPECT_GT(inserted, 0);
  }
  EXPECT_EQ(NextRecord(), before + inserted);

  auto c = OpenCursor();
  for (int64_t id = 1; id <= inserted; ++id) {
    const auto found = Find(*c, id);
    ASSERT_TRUE(found) << id;
    EXPECT_EQ(found->number, before + id - 1);
    EXPECT_EQ(found->id, id);
    EXPECT_EQ(found->memo, memoOf(id));
  }
  EXPECT_FALSE(Find(*c, inserted + 1));
  c.reset();
  EXPECT_EQ(Faults(), std::vector<std::string>());
  ExpectSparseFiles();
}

INSTANTIATE_TEST_SUITE_P(Files, LargeFileLimitTest,
                         ::testing::Values(TFullCase{"Data", TFull::Data, 3},
                                           TFullCase{"Index", TFull::Index, -1},
                                           TFullCase{"Blob", TFull::Blob, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A data file longer than the format allows, as another program may have left it: its records
// past 4 GiB are read and changed where they lie, and nothing more is added.
TEST_F(LargeFileTest, ChangesARecordPastFourGiBOfADataFileMadeElsewhere) {
  const int32_t records = static_cast<int32_t>((k4GiB - RecordsStart()) / recordSize_ + 3);
  GrowData(records);
  GrowIndex(std::nullopt);
  ASSERT_GT(RecordOffset(records), k4GiB);
  const int64_t length = UseOf(PathOf(kDataExt)).length;
  EXPECT_LT(UseOf(PathOf(kDataExt)).onDisk, 512 * (int64_t{1} << 20));

  {
    auto c = OpenCursor();
    c->ChooseBitmapOrder();
    ASSERT_TRUE(c->GoToRecord(records));
    std::vector<uint8_t> image(static_cast<std::size_t>(c->RecordSize()));
    ASSERT_EQ(c->GetCurrentRecord(image.data()), 0);
    EXPECT_FALSE(c->Format().GetInteger(kIdField, image.data()));
    c->Format().SetInteger(kIdField, image.data(), 4242);
    c->ModifyRecord(image.data());
    EXPECT_EQ(test::ErrorCodeOf([&] { Insert(*c, 1, ""); }), err::kTableFull);
  }
  EXPECT_EQ(UseOf(PathOf(kDataExt)).length, length);

  auto c = OpenCursor();
  const auto found = Find(*c, 4242);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->number, records);
  EXPECT_EQ(found->id, 4242);
  c.reset();
  EXPECT_EQ(Faults(), std::vector<std::string>());
}

}  // namespace
}  // namespace mt
