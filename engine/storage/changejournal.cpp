// The change journal: writing it before a change's records and replaying it after a kill.
#include "changejournal.h"

#include <zlib.h>

#include <vector>

#include "byteio.h"
#include "tablelayout.h"

namespace mt {
namespace {

uint32_t Crc(const uint8_t* bytes, std::size_t length) {
  return static_cast<uint32_t>(crc32_z(0, bytes, length));
}

}  // namespace

void TChangeJournal::Record(TDataFile& data, bool flush) {
  if (!IsOpen()) {
    if (Exists()) {
      Open();
    } else {
      Create();
    }
  }
  std::vector<uint8_t> out(cjl::kEntries, 0);
  int32_t entries = 0;
  data.ForEachPendingWrite([&](uint64_t offset, const uint8_t* bytes, std::size_t length) {
    const std::size_t at = out.size();
    out.resize(at + cjl::kEntryHeader + length);
    le::PutI64(out.data(), at, static_cast<int64_t>(offset));
    le::PutI32(out.data(), at + 8, static_cast<int32_t>(length));
    std::copy(bytes, bytes + length, out.data() + at + cjl::kEntryHeader);
    ++entries;
  });
  le::PutI32(out.data(), cjl::kMagicAt, static_cast<int32_t>(cjl::kMagic));
  le::PutI32(out.data(), cjl::kBaseCounter, data.StoredCounter());
  le::PutI32(out.data(), cjl::kEntryCount, entries);
  const uint32_t crc = Crc(out.data(), out.size());
  out.resize(out.size() + cjl::kCrcSize);
  le::PutI32(out.data(), out.size() - cjl::kCrcSize, static_cast<int32_t>(crc));
  WriteAt(0, out.data(), out.size());
  if (flush) Flush();
}

bool ReplayChangeJournal(const std::string& path, TDataFile& data) {
  TFileHandler journal(path, data.InMemory());
  if (!journal.Exists()) return false;
  journal.Open();
  const uint64_t size = journal.Size();
  if (size < cjl::kEntries + cjl::kCrcSize || size > static_cast<uint64_t>(kMaxFileSize)) {
    journal.Close();
    return false;
  }
  std::vector<uint8_t> in(static_cast<std::size_t>(size));
  journal.ReadAt(0, in.data(), in.size());
  journal.Close();
  if (static_cast<uint32_t>(le::GetI32(in.data(), cjl::kMagicAt)) != cjl::kMagic ||
      le::GetI32(in.data(), cjl::kBaseCounter) != data.ReadStoredState().changeCounter) {
    return false;
  }
  // Walk the entries to find the end, then check the CRC before writing anything.
  struct TEntry {
    uint64_t offset;
    std::size_t at;
    std::size_t length;
  };
  std::vector<TEntry> entries;
  const int32_t count = le::GetI32(in.data(), cjl::kEntryCount);
  std::size_t at = cjl::kEntries;
  for (int32_t i = 0; i < count; ++i) {
    if (in.size() - at < cjl::kEntryHeader + cjl::kCrcSize) return false;
    const int64_t offset = le::GetI64(in.data(), at);
    const int32_t length = le::GetI32(in.data(), at + 8);
    at += cjl::kEntryHeader;
    if (offset < 0 || offset > kMaxFileSize || length < 0 ||
        static_cast<std::size_t>(length) > in.size() - at - cjl::kCrcSize) {
      return false;
    }
    entries.push_back({static_cast<uint64_t>(offset), at, static_cast<std::size_t>(length)});
    at += static_cast<std::size_t>(length);
  }
  if (count < 0 || static_cast<uint32_t>(le::GetI32(in.data(), at)) != Crc(in.data(), at)) {
    return false;
  }
  for (const TEntry& e : entries)
    data.WriteAt(e.offset, in.data() + e.at, e.length);
  return !entries.empty();
}

}  // namespace mt
