// The change journal: writing it before a change's records and replaying it after a kill.
#include "changejournal.h"

#include <algorithm>
#include <vector>

#include "byteio.h"
#include "engine/common/crc32.h"
#include "engine/common/engineerror.h"
#include "tablelayout.h"

namespace mt {
namespace {

// Bytes the journal is written in at a time.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

}  // namespace

void TChangeJournal::Record(TDataFile& data, bool flush) {
  if (!IsOpen()) {
    if (Exists()) {
      Open();
    } else {
      Create();
    }
  }
  // The entries are written in pieces behind the header's place, the header (whose entry count
  // is known only at the end) after them, and last the CRC, combined from the two parts. Until
  // the header is written the file still carries an earlier change's counter, and until the
  // CRC is written the bytes do not check: a journal cut off on the way is never replayed.
  std::vector<uint8_t> buffer;
  buffer.reserve(kPieceBytes);
  uint64_t at = cjl::kEntries;
  uint32_t entriesCrc = 0;
  auto spill = [&] {
    if (buffer.empty()) return;
    WriteAt(at, buffer.data(), buffer.size());
    entriesCrc = Crc32(entriesCrc, buffer.data(), buffer.size());
    at += buffer.size();
    buffer.clear();
  };
  auto put = [&](const uint8_t* bytes, std::size_t length) {
    while (length > 0) {
      if (buffer.size() == kPieceBytes) spill();
      const std::size_t n = std::min(length, kPieceBytes - buffer.size());
      buffer.insert(buffer.end(), bytes, bytes + n);
      bytes += n;
      length -= n;
    }
  };
  int32_t entries = 0;
  data.ForEachPendingWrite([&](uint64_t offset, const uint8_t* bytes, std::size_t length) {
    uint8_t head[cjl::kEntryHeader];
    le::PutI64(head, 0, static_cast<int64_t>(offset));
    le::PutI32(head, 8, static_cast<int32_t>(length));
    put(head, sizeof head);
    put(bytes, length);
    ++entries;
  });
  spill();
  uint8_t header[cjl::kEntries];
  le::PutI32(header, cjl::kMagicAt, static_cast<int32_t>(cjl::kMagic));
  le::PutI32(header, cjl::kBaseCounter, data.StoredCounter());
  le::PutI32(header, cjl::kEntryCount, entries);
  WriteAt(0, header, sizeof header);
  const uint64_t entriesLength = at - cjl::kEntries;
  const uint32_t crc = Crc32Combine(Crc32(0, header, sizeof header), entriesCrc, entriesLength);
  uint8_t tail[cjl::kCrcSize];
  le::PutI32(tail, 0, static_cast<int32_t>(crc));
  WriteAt(at, tail, sizeof tail);
  const uint64_t end = at + cjl::kCrcSize;
  // A journal far longer than this change (left by a large transaction) gives its space back.
  // Only space is at stake: the journal is complete either way, so a failure is not the change's.
  try {
    if (Size() > end + std::max<uint64_t>(end, kPieceBytes)) Truncate(end);
  } catch (const EEngineError&) {
  }
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
  if (count < 0 || static_cast<uint32_t>(le::GetI32(in.data(), at)) != Crc32(0, in.data(), at)) {
    return false;
  }
  for (const TEntry& e : entries)
    data.WriteAt(e.offset, in.data() + e.at, e.length);
  return !entries.empty();
}

}  // namespace mt
