// Fixture of the locking, transaction and blob tests: a temporary directory with a table
// "ledger" (field 1 integer id, field 2 memo), the table's file bytes, and whole changes made
// the way a cursor makes them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/storage/blobbuffer.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datatable.h"
#include "engine/storage/tablenames.h"
#include "storagetest.h"

namespace mt::test {

class LockTest : public ::testing::Test {
 protected:
  static TTableCreateParams Ledger(bool encrypted = false) {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("memo", ftype::kBlob, 0, fsubtype::kMemo)};
    p.encrypted = encrypted;
    if (encrypted) p.password = "pw";
    return p;
  }
  void CreateTable(const std::string& name = "ledger", bool encrypted = false) {
    TDataTable t(dir_, name);
    t.Create(Ledger(encrypted));
  }
  static TTableOpenOptions Options(bool exclusive = false) {
    TTableOpenOptions o;
    o.exclusive = exclusive;
    o.passwords.known = {"pw"};
    return o;
  }

 public:
  std::string Path(const std::string& file) const {
    return (std::filesystem::path(dir_) / file).string();
  }
  std::vector<uint8_t> Bytes(const std::string& file) const {
    std::ifstream in(Path(file), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  // The three files of a table, one after the other.
  std::vector<std::vector<uint8_t>> TableBytes(const std::string& name = "ledger") const {
    return {Bytes(name + ".DAT"), Bytes(name + ".IDX"), Bytes(name + ".BLB")};
  }
  // Changes bytes of a file in place.
  void Patch(const std::string& file, std::size_t at, const std::vector<uint8_t>& bytes) const {
    std::fstream f(Path(file), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> I32(int32_t v) {
    std::vector<uint8_t> b(4);
    le::PutI32(b.data(), 0, v);
    return b;
  }

 protected:
  // One insert as a cursor makes it: write lock, slot, record lock, record, finish, unlock.
  int32_t Insert(TDataTable& t, int32_t id) {
    TTableLocks& locks = t.Locks();
    TDataFile& data = t.Data();
    TWriteLockScope write(locks);
    const int32_t n = data.AllocateSlot(t.HasPrimaryIndex());
    locks.LockRecord(n, this);
    {
      TPinnedRecord r(data.GetRecord(n, TReadAhead::None, n == data.NextRecordNumber()));
      data.Format().InitRecord(r->Image());
      le::PutI32(r->Image(), rec::kNumber, n);
      data.Format().SetInteger(1, r->Image(), id);
      r->MarkDirty();
    }
    locks.FinishChange();
    locks.UnlockRecord(n, this);
    return n;
  }
  // Sets record n's memo in one change; returns the record's blob reference (first, stamp).
  std::pair<int32_t, int32_t> SetMemo(TDataTable& t, int32_t n, const std::vector<uint8_t>& value) {
    TTableLocks& locks = t.Locks();
    TDataFile& data = t.Data();
    TWriteLockScope write(locks);
    locks.LockRecord(n, this);
    TBlobBuffers blobs(t.ErrorName());
    std::pair<int32_t, int32_t> ref;
    {
      TPinnedRecord r(data.GetRecord(n));
      std::vector<uint8_t> image(r->Image(), r->Image() + data.RecordSize());
      const int h =
          blobs.Open(t.BlobFile(), data.Format(), 2, image.data(), n, TBlobOpenMode::ReadWrite);
      blobs.Get(h).Truncate(0);
      blobs.Get(h).Write(0, value);
      blobs.Store(*t.BlobFile(), data, data.Format(), image.data());
      blobs.Close(h, true);
      std::memcpy(r->Image(), image.data(), image.size());
      r->MarkDirty();
      const TFieldDescriptor& f = data.Format().Field(2);
      ref = {le::GetI32(image.data(), f.offset + 1), le::GetI32(image.data(), f.offset + 5)};
    }
    locks.FinishChange();
    locks.UnlockRecord(n, this);
    return ref;
  }
  // Record n's memo, loaded under the read lock.
  std::vector<uint8_t> Memo(TDataTable& t, int32_t n) {
    TReadLockScope read(t.Locks());
    TPinnedRecord r(t.Data().GetRecord(n));
    std::vector<uint8_t> image(r->Image(), r->Image() + t.Data().RecordSize());
    TBlobBuffers blobs(t.ErrorName());
    const int h =
        blobs.Open(t.BlobFile(), t.Data().Format(), 2, image.data(), n, TBlobOpenMode::Read);
    return blobs.Get(h).Data();
  }

  test::TScratchDir scratch_{"mt-locks"};
  std::string dir_ = scratch_.Path();
};

}  // namespace mt::test
