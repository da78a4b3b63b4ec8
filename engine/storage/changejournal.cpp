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
      size_ = Size();
    } else {
      Create();
      size_ = 0;
    }
  }
  // A journal that fits one piece (every change of the commit interval's size) goes out in one
  // write: header, entries, CRC. A write cut off leaves a prefix of it, and the CRC is its last
  // bytes, so the journal does not check until it is complete.
  // A longer one is written in pieces behind the header's place, the header (whose entry count
  // is known only at the end) after them, and last the CRC, combined from the two parts. Until
  // the header is written the file still carries an earlier change's counter, and until the
  // CRC is written the bytes do not check: a journal cut off on the way is never replayed.
  std::vector<uint8_t> buffer(cjl::kEntries);  // the header's place while nothing is spilled
  buffer.reserve(kPieceBytes);
  std::size_t skip = cjl::kEntries;  // bytes at the buffer's front that are not entries
  uint64_t at = 0;                   // the file offset of buffer[0]
  uint32_t entriesCrc = 0;
  auto spill = [&] {
    const std::size_t n = buffer.size() - skip;
    if (n > 0) {
      WriteAt(at + skip, buffer.data() + skip, n);
      entriesCrc = Crc32(entriesCrc, buffer.data() + skip, n);
    }
    at += buffer.size();
    buffer.clear();
    skip = 0;
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
  uint8_t header[cjl::kEntries];
  le::PutI32(header, cjl::kMagicAt, static_cast<int32_t>(cjl::kMagic));
  le::PutI32(header, cjl::kBaseCounter, data.StoredCounter());
  le::PutI32(header, cjl::kEntryCount, entries);
  uint8_t tail[cjl::kCrcSize];
  uint64_t end = 0;
  if (skip != 0) {
    std::copy(header, header + sizeof header, buffer.begin());
    le::PutI32(tail, 0, static_cast<int32_t>(Crc32(0, buffer.data(), buffer.size())));
    buffer.insert(buffer.end(), tail, tail + sizeof tail);
    WriteAt(0, buffer.data(), buffer.size());
    end = buffer.size();
  } else {
    spill();
    WriteAt(0, header, sizeof header);
    const uint64_t entriesLength = at - cjl::kEntries;
    const uint32_t crc = Crc32Combine(Crc32(0, header, sizeof header), entriesCrc, entriesLength);
    le::PutI32(tail, 0, static_cast<int32_t>(crc));
    WriteAt(at, tail, sizeof tail);
    end = at + cjl::kCrcSize;
  }
  size_ = std::max(size_, end);
  // A journal far longer than this change (left by a large transaction) gives its space back.
  // Only space is at stake: the journal is complete either way, so a failure is not the change's.
  try {
    if (size_ > end + std::max<uint64_t>(end, kPieceBytes)) {
      Truncate(end);
      size_ = end;
    }
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
