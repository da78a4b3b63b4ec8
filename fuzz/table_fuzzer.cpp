// libFuzzer target: a table's files as they come from a disk, a backup or another program.
//
// Input layout: a 4-byte little-endian length of the data file, a 4-byte length of the index
// file, then the data file's bytes, the index file's bytes, and the rest as the blob file (a
// length running past the input takes what is there). The three files are written into a
// scratch directory as table "t"; the table is opened, every record read in each index's order
// with every field and every blob value, and the table's checks run. The engine may refuse the
// files with its error at any step; a crash, a sanitizer report or any other exception ends
// the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/indexfile.h"
#include "engine/storage/indexlayout.h"
#include "engine/storage/tablecheck.h"
#include "tests/storage/storagetest.h"

namespace {

using namespace mt;

uint32_t ReadLength(const uint8_t* data, std::size_t size, std::size_t at) {
  uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && at + i < size; ++i)
    v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
  return v;
}

void WriteFile(const std::filesystem::path& path, const uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Reads every visible record of the cursor's current order, each field and blob value.
void ReadAll(TDataCursor& cursor) {
  const TRecordFormat& format = cursor.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  std::vector<uint8_t> value;
  cursor.First();
  int guard = 0;
  while (cursor.Next(image.data()) == TDataCursor::kRecordRead && ++guard < 100000) {
    for (int no = 1; no <= format.FieldCount(); ++no) {
      value.assign(static_cast<std::size_t>(format.ValueSize(no)) + 1, 0);
      const bool isNull = format.GetField(no, image.data(), value.data());
      if (isNull || !IsBlobField(format.Field(no).type)) continue;
      const int h = cursor.OpenBlob(no, image.data(), TBlobOpenMode::Read);
      (void)cursor.Blob(h).Data();
      cursor.CloseBlob(h, false, image.data());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static test::TScratchDir scratch{"mt-tablefuzz"};
  const std::filesystem::path dir = scratch.Path();
  const std::size_t dataLength = ReadLength(data, size, 0);
  const std::size_t indexLength = ReadLength(data, size, 4);
  std::size_t at = std::min<std::size_t>(8, size);
  const std::size_t d = std::min(dataLength, size - at);
  WriteFile(dir / "t.DAT", data + at, d);
  at += d;
  const std::size_t x = std::min(indexLength, size - at);
  WriteFile(dir / "t.IDX", data + at, x);
  at += x;
  WriteFile(dir / "t.BLB", data + at, size - at);

  try {
    TDataDirectory directory(scratch.Path());
    TDataCursor cursor(directory);
    cursor.SetTableName("t");
    cursor.Open();
    ReadAll(cursor);
    const TIndexFile& index = cursor.Table().Index();
    for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
      if (!index.SlotInUse(slot)) continue;
      try {
        cursor.ChooseIndexSlot(slot);
        ReadAll(cursor);
      } catch (const EEngineError&) {
        // A damaged index is refused; the others are still read.
      }
    }
    (void)CheckDataRecords(cursor.Table());
    (void)CheckIndexes(cursor.Table());
  } catch (const EEngineError&) {
    // Refused with the engine's error: what damaged files must give.
  }
  return 0;
}
