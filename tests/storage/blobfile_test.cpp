// Blob values: blocks per value, empty values, freeing and reusing blocks, damaged chains and
// headers, the block cache, encryption, emptying, the open values of a cursor, and a value
// rewritten by another process.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/tablecheck.h"
#include "engine/storage/tablelayout.h"
#include "locktest.h"
#include "probe.h"

namespace mt {
namespace {

using test::ErrorCodeOf;

class BlobTest : public test::LockTest {
 protected:
  // An insert through the table's writer, which gives the record its identifier.
  int32_t WriterInsert(TDataTable& t, int32_t id) {
    std::vector<uint8_t> image(static_cast<std::size_t>(t.Data().RecordSize()));
    t.Data().Format().InitRecord(image.data());
    t.Data().Format().SetInteger(1, image.data(), id);
    TRecordWriteOptions options;
    options.owner = this;
    return t.Writer().Insert(image.data(), options);
  }
};

std::vector<uint8_t> Pattern(std::size_t length, int seed = 1) {
  std::vector<uint8_t> v(length);
  for (std::size_t i = 0; i < length; ++i)
    v[i] = static_cast<uint8_t>((i * 7 + seed * 13) % 251);
  return v;
}

uint64_t BlobSize(const BlobTest& t, const std::string& name) {
  return std::filesystem::file_size(std::filesystem::path(t.Path(name + ".BLB")));
}

TEST_F(BlobTest, EachBlockCarries494BytesOfA512ByteBlock) {
  struct Case {
    std::size_t length;
    int32_t blocks;
  };
  const std::vector<Case> cases = {{1, 1}, {494, 1}, {495, 2}, {988, 2}, {989, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string name = "b" + std::to_string(c.length);
    CreateTable(name);
    const std::vector<uint8_t> value = Pattern(c.length);
    {
      TDataTable t(dir_, name);
      t.Open();
      Insert(t, 1);
      EXPECT_EQ(SetMemo(t, 1, value).first, 1);
      EXPECT_EQ(t.BlobFile()->BlockCount(), c.blocks);
      EXPECT_EQ(BlobSize(*this, name), 512u + 512u * c.blocks);
      t.Close();
    }
    TDataTable t(dir_, name);
    t.Open();
    EXPECT_EQ(Memo(t, 1), value);
    t.Close();
  }
}

TEST_F(BlobTest, AnEmptyValueStoresBlockZeroAndReadsWithoutTheBlocks) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  Insert(t, 1);
  EXPECT_EQ(SetMemo(t, 1, Pattern(700)).first, 1);
  const auto ref = SetMemo(t, 1, {});
  EXPECT_EQ(ref.first, 0);
  EXPECT_NE(ref.second, 0);  // a new stamp all the same
  {
    TPinnedRecord r(t.Data().GetRecord(1));
    EXPECT_FALSE(t.Data().Format().GetBlobRef(2, r->Image()).has_value());  // null
  }
  EXPECT_EQ(t.BlobFile()->Header().freeHead, 2);  // both blocks went to the free chain
  t.BlobFile()->ClearCache();
  const uint64_t reads = t.BlobFile()->CacheStats().reads;
  EXPECT_TRUE(Memo(t, 1).empty());
  EXPECT_EQ(t.BlobFile()->CacheStats().reads, reads);
  t.Close();
}

TEST_F(BlobTest, FreedBlocksAreReusedBeforeTheFileGrows) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  for (int i = 1; i <= 3; ++i)
    Insert(t, i);
  TBlobFile& blob = *t.BlobFile();
  EXPECT_EQ(SetMemo(t, 1, Pattern(1000, 1)).first, 1);  // blocks 1, 2, 3

  // A rewritten value takes new blocks, so that the old one stays whole on disk until the
  // record names the new one; the old blocks are freed at the end of the change.
  EXPECT_EQ(SetMemo(t, 1, Pattern(100, 2)).first, 4);
  EXPECT_EQ(blob.Header().freeHead, 3);
  EXPECT_EQ(blob.BlockCount(), 4);
  const uint64_t size = BlobSize(*this, "ledger");
  // The next values take them (the head first) and the file stays as it is.
  EXPECT_EQ(SetMemo(t, 2, Pattern(900, 3)).first, 3);  // blocks 3, 2
  EXPECT_EQ(blob.Header().freeHead, 1);
  EXPECT_EQ(SetMemo(t, 3, Pattern(10, 4)).first, 1);
  EXPECT_EQ(blob.Header().freeHead, 0);
  EXPECT_EQ(blob.BlockCount(), 4);
  EXPECT_EQ(BlobSize(*this, "ledger"), size);
  // Only now does it grow.
  EXPECT_EQ(SetMemo(t, 3, Pattern(10, 5)).first, 5);
  EXPECT_EQ(blob.BlockCount(), 5);
  EXPECT_EQ(blob.Header().freeHead, 1);

  // Deleting a record frees its chains.
  {
    TWriteLockScope write(t.Locks());
    TPinnedRecord r(t.Data().GetRecord(2));
    FreeBlobValues(blob, t.Data().Format(), r->Image());
    t.Locks().FinishChange();
  }
  EXPECT_EQ(blob.Header().freeHead, 3);                // 3, 2, 1
  EXPECT_EQ(SetMemo(t, 3, Pattern(980, 6)).first, 3);  // 3 and 2; its old block 5 is freed
  EXPECT_EQ(blob.Header().freeHead, 5);
  EXPECT_EQ(blob.BlockCount(), 5);

  EXPECT_EQ(Memo(t, 1), Pattern(100, 2));
  EXPECT_EQ(Memo(t, 3), Pattern(980, 6));
  t.Close();
  t.Open();
  EXPECT_EQ(Memo(t, 1), Pattern(100, 2));
  EXPECT_EQ(Memo(t, 3), Pattern(980, 6));
  EXPECT_EQ(t.BlobFile()->Header().freeHead, 5);
  t.Close();
}

TEST_F(BlobTest, BrokenValuesAreFoundAndRepairDropsTheirRecordsWhole) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  for (int i = 1; i <= 3; ++i)
    WriterInsert(t, i);
  EXPECT_EQ(SetMemo(t, 1, Pattern(1000, 1)).first, 1);  // blocks 1, 2, 3
  EXPECT_EQ(SetMemo(t, 2, Pattern(600, 2)).first, 4);   // blocks 4, 5
  EXPECT_EQ(SetMemo(t, 3, Pattern(10, 3)).first, 6);
  EXPECT_TRUE(CheckBlobValues(t).empty());
  t.Close();
  // Record 2's second block never written: it reads as zeros.
  Patch("ledger.BLB", 512 + 4 * 512, std::vector<uint8_t>(512, 0));
  t.Open();
  const std::vector<std::string> faults = CheckBlobValues(t);
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0], "record 2 field memo: the blob value block 5 has another stamp");
  EXPECT_EQ(faults[1], "2 blob blocks belong to no value and are not on the free chain");
  t.Close();

  const std::vector<std::string> notes = RepairBlobFile(dir_, "ledger", {});
  EXPECT_NE(std::find(notes.begin(), notes.end(), "record 2 with a broken blob value deleted"),
            notes.end());
  t.Open();
  EXPECT_TRUE(CheckBlobValues(t).empty());
  EXPECT_TRUE(CheckDataRecords(t).empty());
  EXPECT_TRUE(CheckIndexes(t).empty());
  EXPECT_EQ(t.Index().Header().activeRecords, 2);
  EXPECT_EQ(t.BlobFile()->Header().freeHead, 4);
  EXPECT_EQ(Memo(t, 1), Pattern(1000, 1));
  EXPECT_EQ(Memo(t, 3), Pattern(10, 3));
  t.Close();
}

TEST_F(BlobTest, ACutOffTableWithATornRecordIsRefusedNamingItUntilRepaired) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  for (int i = 1; i <= 3; ++i)
    WriterInsert(t, i);
  const int64_t record2 = RecordsOffset(t.Data().FieldCount()) + t.Data().RecordSize();
  t.Close();
  // The change mark of a dead writer, no journal, and a record that is no record.
  Patch("ledger.DAT", dfh::kPending, {dfh::kChangeMarkSet});
  Patch("ledger.DAT", static_cast<std::size_t>(record2), {7});
  EXPECT_TRUE(CutOffChangeLeft(dir_, "ledger"));
  try {
    t.Open();
    FAIL() << "opened";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kRecordBuffersCorrupt);
    EXPECT_NE(std::string(e.what()).find("ledger"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(CutOffChangeLeft(dir_, "ledger"));  // still left for the repair
  RepairDataFile(dir_, "ledger");
  RepairIndexFile(dir_, "ledger", {});
  EXPECT_FALSE(CutOffChangeLeft(dir_, "ledger"));
  t.Open();
  EXPECT_TRUE(CheckDataRecords(t).empty());
  EXPECT_TRUE(CheckIndexes(t).empty());
  EXPECT_EQ(t.Index().Header().activeRecords, 2);
  t.Close();
}

TEST_F(BlobTest, DamagedChainsAndHeadersRaiseTheirCodes) {
  auto block = [](int32_t n, std::size_t field) { return 512 + (n - 1) * 512 + field; };
  struct Case {
    const char* what;
    std::function<void(BlobTest&, int32_t stamp)> damage;
    int32_t atOpen;  // expected when opening, 0 for none
    int32_t atLoad;  // expected when loading the value
  };
  const std::vector<Case> cases = {
      {"first block's stamp",
       [&](BlobTest& b, int32_t s) { b.Patch("ledger.BLB", block(1, bbl::kStamp), I32(s + 1)); }, 0,
       err::kRecordChanged},
      {"second block's stamp",
       [&](BlobTest& b, int32_t s) { b.Patch("ledger.BLB", block(2, bbl::kStamp), I32(s + 1)); }, 0,
       err::kRecordChanged},
      {"next block beyond the file",
       [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", block(1, bbl::kNext), I32(99)); }, 0,
       err::kBlobBuffersCorrupt},
      {"used count beyond the block",
       [&](BlobTest& b, int32_t) {
         b.Patch("ledger.BLB", block(1, bbl::kUsed), {0x58, 0x02});
       },
       0, err::kBlobBuffersCorrupt},
      {"chain shorter than the value",
       [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", block(2, bbl::kNext), I32(0)); }, 0,
       err::kEndOfBlob},
      {"negative length",
       [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", block(1, bbl::kTotal), I32(-5)); }, 0,
       err::kInvalidBlobLength},
      {"length beyond every block",
       [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", block(1, bbl::kTotal), I32(1 << 30)); }, 0,
       err::kEndOfBlob},
      {"version tag", [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", bfh::kVersion, {4}); },
       err::kWrongVersion, 0},
      {"free chain head beyond the blocks",
       [&](BlobTest& b, int32_t) { b.Patch("ledger.BLB", bfh::kFreeHead, I32(4)); },
       err::kHeaderCorrupt, 0},
      {"short header",
       [&](BlobTest& b, int32_t) { std::filesystem::resize_file(b.Path("ledger.BLB"), 100); },
       err::kHeaderCorrupt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CreateTable();
    int32_t stamp = 0;
    {
      TDataTable t(dir_, "ledger");
      t.Open();
      Insert(t, 1);
      stamp = SetMemo(t, 1, Pattern(1000)).second;
      t.Close();
    }
    c.damage(*this, stamp);
    TDataTable t(dir_, "ledger");
    if (c.atOpen != 0) {
      EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), c.atOpen);
      EXPECT_FALSE(t.IsOpen());
      continue;
    }
    t.Open();
    EXPECT_EQ(ErrorCodeOf([&] { Memo(t, 1); }), c.atLoad);
    t.Close();
  }
  // A table with blob fields needs its blob file.
  std::filesystem::remove(Path("ledger.BLB"));
  TDataTable t(dir_, "ledger");
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), err::kTableNotFound);
}

TEST_F(BlobTest, TheBlockCacheReadsAheadWhatTheValueNeedsWithinItsTarget) {
  struct Case {
    int32_t cacheBytes;
    std::size_t target;
    uint64_t reads;
  };
  // The first block alone, then runs of at most 32 (or the target) for the 40 still needed.
  const std::vector<Case> cases = {{32768, 64, 3}, {4096, 8, 6}};
  CreateTable();
  const std::vector<uint8_t> value = Pattern(494 * 41);  // 41 blocks
  {
    TDataTable t(dir_, "ledger");
    t.Open();
    Insert(t, 1);
    SetMemo(t, 1, value);
    t.Close();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cacheBytes);
    TDataTable t(dir_, "ledger");
    TSessionSettings settings;
    settings.blobCacheBytes = c.cacheBytes;
    t.SetSettings(settings);
    t.Open();
    TBlobFile& blob = *t.BlobFile();
    EXPECT_EQ(blob.TargetCacheSize(), c.target);
    EXPECT_EQ(blob.WindowBlocks(), 32);
    EXPECT_EQ(Memo(t, 1), value);
    EXPECT_EQ(blob.CacheStats().reads, c.reads);
    EXPECT_LE(blob.CacheStats().cached, c.target);
    t.Close();
  }
}

TEST_F(BlobTest, AnEncryptedTableScramblesHeaderAndBlocks) {
  CreateTable("secret", true);
  std::string marker;
  for (int i = 0; i < 40; ++i)
    marker += "PLAINTEXT-MARKER ";
  const std::vector<uint8_t> value(marker.begin(), marker.end());
  {
    TDataTable t(dir_, "secret");
    t.Open(Options());
    Insert(t, 1);
    SetMemo(t, 1, value);
    t.Close();
  }
  const std::vector<uint8_t> bytes = Bytes("secret.BLB");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find("PLAINTEXT"), std::string::npos);
  EXPECT_NE(bytes[bfh::kVersion], kFormatVersion);
  TDataTable t(dir_, "secret");
  t.Open(Options());
  EXPECT_EQ(Memo(t, 1), value);
  EXPECT_EQ(t.BlobFile()->BlockCount(), 2);
  t.Close();
}

TEST_F(BlobTest, EmptyingTheTableCutsTheBlobFile) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open(Options(true));
  Insert(t, 1);
  SetMemo(t, 1, Pattern(3000));
  SetMemo(t, 1, Pattern(10));
  EXPECT_NE(t.BlobFile()->Header().freeHead, 0);
  t.Empty();
  EXPECT_EQ(BlobSize(*this, "ledger"), 512u);
  EXPECT_EQ(t.BlobFile()->Header().freeHead, 0);
  EXPECT_EQ(t.BlobFile()->Header().nextBlock, 1);
  Insert(t, 1);
  EXPECT_EQ(SetMemo(t, 1, Pattern(10)).first, 1);
  t.Close();
}

TEST_F(BlobTest, OpenValuesOfACursor) {
  CreateTable();
  TDataTable t(dir_, "ledger");
  t.Open();
  Insert(t, 1);
  const auto ref = SetMemo(t, 1, {'h', 'e', 'l', 'l', 'o'});
  TDataFile& data = t.Data();
  const TRecordFormat& fmt = data.Format();
  const std::size_t refAt = fmt.Field(2).offset;
  std::vector<uint8_t> record;
  {
    TPinnedRecord r(data.GetRecord(1));
    record.assign(r->Image(), r->Image() + data.RecordSize());
  }
  TBlobBuffers blobs(t.ErrorName());

  // Fields that are no blobs, and the 129th open value.
  std::vector<uint8_t> image = record;
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Open(t.BlobFile(), fmt, 1, image.data(), 1, {}); }),
            err::kInvalidBlobField);
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Open(t.BlobFile(), fmt, 3, image.data(), 1, {}); }),
            err::kInvalidBlobField);
  std::vector<std::vector<uint8_t>> images(TBlobBuffers::kMaxOpen + 1, record);
  for (int i = 0; i < TBlobBuffers::kMaxOpen; ++i) {
    EXPECT_EQ(blobs.Open(t.BlobFile(), fmt, 2, images[i].data(), 1, TBlobOpenMode::Read), i + 1);
  }
  EXPECT_EQ(le::GetI32(images[4].data(), refAt + 1), -5);  // the image names the open value
  EXPECT_EQ(blobs.Open(t.BlobFile(), fmt, 2, images[4].data(), 1, TBlobOpenMode::Read), 5);
  EXPECT_EQ(ErrorCodeOf([&] {
              blobs.Open(t.BlobFile(), fmt, 2, images.back().data(), 1, TBlobOpenMode::Read);
            }),
            err::kTooManyBlobs);
  blobs.Close(5, false, images[4].data());
  EXPECT_EQ(images[4], record);  // its reference is back
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Close(5, false); }), err::kInvalidBlobHandle);
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Get(0); }), err::kInvalidBlobHandle);
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Get(TBlobBuffers::kMaxOpen + 1); }), err::kInvalidBlobHandle);
  const uint8_t bang = '!';
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Get(1).Write(0, {&bang, 1}); }), err::kInvalidBlobHandle);
  blobs.CloseAll();
  EXPECT_EQ(blobs.OpenCount(), 0);

  // Reading, writing and truncating in memory.
  image = record;
  int h = blobs.Open(t.BlobFile(), fmt, 2, image.data(), 1, TBlobOpenMode::ReadWrite);
  TBlobBuffer& b = blobs.Get(h);
  uint8_t out[8] = {};
  EXPECT_EQ(b.Read(3, sizeof out, out), 2u);
  EXPECT_EQ(b.Read(5, sizeof out, out), 0u);
  EXPECT_EQ(ErrorCodeOf([&] { b.Read(6, 1, out); }), err::kInvalidBlobOffset);
  EXPECT_EQ(ErrorCodeOf([&] { b.Write(6, {&bang, 1}); }), err::kInvalidBlobOffset);
  EXPECT_EQ(ErrorCodeOf([&] { b.Truncate(6); }), err::kInvalidBlobLength);
  b.Write(5, {&bang, 1});
  EXPECT_EQ(b.Data(), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '!'}));
  EXPECT_TRUE(b.Modified());

  // Cancelled: the value closed with its changes kept is dropped and the image is as read.
  blobs.Close(h, true);
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Get(h); }), err::kInvalidBlobHandle);
  blobs.Discard(fmt, image.data());
  EXPECT_EQ(image, record);
  EXPECT_EQ(blobs.OpenCount(), 0);

  // Posted: Store writes the kept value with a new stamp.
  h = blobs.Open(t.BlobFile(), fmt, 2, image.data(), 1, TBlobOpenMode::ReadWrite);
  blobs.Get(h).Truncate(2);
  blobs.Close(h, true);
  {
    TWriteLockScope write(t.Locks());
    EXPECT_TRUE(blobs.Store(*t.BlobFile(), data, fmt, image.data()));
    TPinnedRecord r(data.GetRecord(1));
    std::copy(image.begin(), image.end(), r->Image());
    r->MarkDirty();
    t.Locks().FinishChange();
  }
  EXPECT_EQ(blobs.OpenCount(), 0);
  EXPECT_NE(le::GetI32(image.data(), refAt + 1), ref.first);  // new blocks, the old one freed
  EXPECT_NE(le::GetI32(image.data(), refAt + 5), ref.second);
  EXPECT_EQ(Memo(t, 1), (std::vector<uint8_t>{'h', 'e'}));

  // An image still naming a value that was dropped is never written as it is.
  h = blobs.Open(t.BlobFile(), fmt, 2, image.data(), 1, TBlobOpenMode::ReadWrite);
  blobs.Close(h, false);
  EXPECT_EQ(ErrorCodeOf([&] { blobs.Store(*t.BlobFile(), data, fmt, image.data()); }),
            err::kInvalidBlobHandle);
  t.Close();
}

TEST_F(BlobTest, AValueRewrittenByAnotherProcessAfterTheReadIsChanged) {
  CreateTable();
  test::TProbe a, b;
  const std::string open = "open " + dir_ + " ledger";
  ASSERT_EQ(a.Ask(open), "ok");
  ASSERT_EQ(a.Ask("insert 1"), "ok 1");
  ASSERT_EQ(a.Ask("blobset 1 100 x"), "ok 1 1");
  ASSERT_EQ(b.Ask(open), "ok");
  ASSERT_EQ(b.Ask("image 1"), "ok");
  ASSERT_EQ(b.Ask("blobget"), "ok 100 120");
  // A new value: a new block and stamp; the old block is freed.
  ASSERT_EQ(a.Ask("blobset 1 100 y"), "ok 2 2");
  EXPECT_EQ(b.Ask("blobget"), "err 8708");
  ASSERT_EQ(b.Ask("image 1"), "ok");
  EXPECT_EQ(b.Ask("blobget"), "ok 100 121");
}

}  // namespace
}  // namespace mt
