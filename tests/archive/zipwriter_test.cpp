// The archive writer: the bytes of every header field read back at their offsets, the store
// rule and the text guess, names, attributes and times, files left out, and the failures that
// must not leave an archive behind (no room, existing archive, format limits).
#include "archive/zipwriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "ziptestutil.h"

namespace mt {
namespace {

using namespace ziptest;

// One entry as read back from the archive bytes with the offsets of the format.
struct TWalkedEntry {
  std::string name;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  std::string data;  // as stored
};

// Walks the whole archive: local headers back to back from the start, each agreeing with its
// central header, then the central directory, then a comment-less end record.
std::vector<TWalkedEntry> WalkArchive(const std::string& zip) {
  std::vector<TWalkedEntry> entries;
  const std::size_t endAt = zip.size() - 22;
  EXPECT_EQ(U32(zip, endAt), 0x06054b50u);
  EXPECT_EQ(U16(zip, endAt + 4), 0);   // this disk
  EXPECT_EQ(U16(zip, endAt + 6), 0);   // directory disk
  EXPECT_EQ(U16(zip, endAt + 20), 0);  // comment length
  const uint16_t count = U16(zip, endAt + 8);
  EXPECT_EQ(U16(zip, endAt + 10), count);
  const uint32_t dirOffset = U32(zip, endAt + 16);
  EXPECT_EQ(U32(zip, endAt + 12), endAt - dirOffset);  // directory size

  std::size_t local = 0;
  std::size_t central = dirOffset;
  for (uint16_t i = 0; i < count; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    TWalkedEntry e;
    EXPECT_EQ(U32(zip, central), 0x02014b50u);
    EXPECT_EQ(U16(zip, central + 4), 20);  // version made by, MS-DOS
    EXPECT_EQ(U16(zip, central + 6), 20);  // version needed
    EXPECT_EQ(U16(zip, central + 8), 0);   // flags
    e.method = U16(zip, central + 10);
    e.time = U16(zip, central + 12);
    e.date = U16(zip, central + 14);
    e.crc = U32(zip, central + 16);
    e.compressedSize = U32(zip, central + 20);
    e.uncompressedSize = U32(zip, central + 24);
    const uint16_t nameLength = U16(zip, central + 28);
    EXPECT_EQ(U16(zip, central + 30), 0);  // extra
    EXPECT_EQ(U16(zip, central + 32), 0);  // comment
    EXPECT_EQ(U16(zip, central + 34), 0);  // disk number start
    e.internalAttributes = U16(zip, central + 36);
    e.externalAttributes = U32(zip, central + 38);
    EXPECT_EQ(U32(zip, central + 42), local);
    e.name = zip.substr(central + 46, nameLength);
    central += 46 + nameLength;

    EXPECT_EQ(U32(zip, local), 0x04034b50u);
    EXPECT_EQ(U16(zip, local + 4), 20);
    EXPECT_EQ(U16(zip, local + 6), 0);
    EXPECT_EQ(U16(zip, local + 8), e.method);
    EXPECT_EQ(U16(zip, local + 10), e.time);
    EXPECT_EQ(U16(zip, local + 12), e.date);
    EXPECT_EQ(U32(zip, local + 14), e.crc);
    EXPECT_EQ(U32(zip, local + 18), e.compressedSize);
    EXPECT_EQ(U32(zip, local + 22), e.uncompressedSize);
    EXPECT_EQ(U16(zip, local + 26), nameLength);
    EXPECT_EQ(U16(zip, local + 28), 0);
    EXPECT_EQ(zip.substr(local + 30, nameLength), e.name);
    e.data = zip.substr(local + 30 + nameLength, e.compressedSize);
    local += 30 + nameLength + e.compressedSize;
    entries.push_back(e);
  }
  EXPECT_EQ(local, dirOffset);
  EXPECT_EQ(central, endAt);
  return entries;
}

int WriteArchive(const std::string& archive, const std::vector<std::string>& files) {
  TZipArchive zip;
  zip.SetZipName(archive);
  zip.FilesList() = files;
  const int count = zip.WriteArchive();
  EXPECT_TRUE(zip.FilesList().empty());
  return count;
}

TEST(ZipWriterTest, NoFilesGiveTheBareEndRecord) {
  TTempDir dir;
  EXPECT_EQ(WriteArchive(dir / "a.mtb", {}), 0);
  EXPECT_EQ(ReadFile(dir / "a.mtb"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST(ZipWriterTest, EveryFieldOfEveryKindOfFile) {
  struct Case {
    std::string name;
    std::string content;
    uint16_t method;
    uint16_t internal;  // 1 text, 0 binary
  };
  std::string mixed = std::string(60000, '\0') + TextBytes(20000);
  const std::vector<Case> cases = {
      {"empty.dat", "", 0, 1},
      {"random.bin", RandomBytes(300, 1), 0, 0},
      {"short.txt", "hello\n", 0, 1},  // compressing would add bytes
      {"table.DAT", TextBytes(200000), 8, 1},
      {"zeros.IDX", mixed, 8, 0},
      // Incompressible but longer than the first block: stays deflated (stored blocks).
      {"noise.BLB", RandomBytes(100000, 2), 8, 0},
  };
  TTempDir dir;
  const std::time_t when = LocalTime(2004, 4, 23, 13, 45, 31);
  std::vector<std::string> files;
  for (const Case& c : cases) {
    WriteFile(dir / c.name, c.content);
    SetMtime(dir / c.name, when);
    files.push_back(dir / c.name);
  }
  ASSERT_EQ(WriteArchive(dir / "a.mtb", files), static_cast<int>(cases.size()));

  const std::vector<TWalkedEntry> entries = WalkArchive(ReadFile(dir / "a.mtb"));
  ASSERT_EQ(entries.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const TWalkedEntry& e = entries[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.method, c.method);
    EXPECT_EQ(e.internalAttributes, c.internal);
    EXPECT_EQ(e.externalAttributes, 0x20u);
    EXPECT_EQ(e.crc, Crc32(c.content));
    EXPECT_EQ(e.uncompressedSize, c.content.size());
    EXPECT_EQ(e.time, (13 << 11) | (45 << 5) | 15);
    EXPECT_EQ(e.date, (24 << 9) | (4 << 5) | 23);
    if (c.method == 0) {
      EXPECT_EQ(e.data, c.content);
    } else {
      EXPECT_EQ(RawInflate(e.data), c.content);
    }
  }
  EXPECT_EQ(entries[0].crc, 0u);
  EXPECT_LT(entries[3].compressedSize, entries[3].uncompressedSize / 3);
}

TEST(ZipWriterTest, AttributesTimesAndGbkNames) {
  TTempDir dir;
  WriteFile(dir / "ro.dat", "read only");
  MakeReadOnly(dir / "ro.dat");
  WriteFile(dir / ".hidden", "hidden");
  WriteFile(dir / "账本.dat", "gbk name");
  WriteFile(dir / "old.dat", "from 1975");
  SetMtime(dir / "old.dat", LocalTime(1975, 6, 1, 12, 0, 0));
  WriteFile(dir / "late.dat", "from 2150");
  SetMtime(dir / "late.dat", LocalTime(2150, 6, 1, 12, 0, 0));
  ASSERT_EQ(WriteArchive(dir / "a.mtb", {dir / "ro.dat", dir / ".hidden", dir / "账本.dat",
                                         dir / "old.dat", dir / "late.dat"}),
            5);
  const std::vector<TWalkedEntry> e = WalkArchive(ReadFile(dir / "a.mtb"));
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].externalAttributes, 0x21u);
  EXPECT_EQ(e[1].externalAttributes, 0x22u);
  EXPECT_EQ(e[2].name, "\xd5\xcb\xb1\xbe.dat");
  // Outside the range an MS-DOS stamp holds: the nearest end of it.
  EXPECT_EQ(e[3].date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(e[3].time, 0);
  EXPECT_EQ(e[4].date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(e[4].time, (23 << 11) | (59 << 5) | 29);
}

TEST(ZipWriterTest, LeavesOutWhatIsNoFileAndSecondFilesOfOneName) {
  TTempDir dir;
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  WriteFile(dir / "a/x.dat", "first");
  WriteFile(dir / "b/X.DAT", "second");  // same name without regard to letter case
  WriteFile(dir / "b/y.dat", "kept");
  fs::create_directories(dir / "folder");
  symlink((dir / "gone").c_str(), (dir / "dangling").c_str());
  mkfifo((dir / "fifo").c_str(), 0644);
  const std::vector<std::string> files = {
      dir / "a/x.dat", dir / "b/X.DAT", dir / "missing.dat", dir / "dangling",
      dir / "fifo",    dir / "folder",  dir / "b/",          dir / "b/y.dat",
  };
  ASSERT_EQ(WriteArchive(dir / "a.mtb", files), 2);
  const std::vector<TWalkedEntry> e = WalkArchive(ReadFile(dir / "a.mtb"));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].name, "x.dat");
  EXPECT_EQ(e[0].data, "first");
  EXPECT_EQ(e[1].name, "y.dat");
}

TEST(ZipWriterTest, PackLevelZeroStoresEverything) {
  TTempDir dir;
  WriteFile(dir / "t.dat", TextBytes(100000));
  TZipArchive zip;
  zip.SetZipName(dir / "a.mtb");
  zip.SetPackLevel(0);
  zip.FilesList() = {dir / "t.dat"};
  ASSERT_EQ(zip.WriteArchive(), 1);
  const std::vector<TWalkedEntry> e = WalkArchive(ReadFile(dir / "a.mtb"));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].method, 0);
  EXPECT_EQ(e[0].data, TextBytes(100000));
}

TEST(ZipWriterTest, WrittenEntriesBecomeTheDirectory) {
  TTempDir dir;
  WriteFile(dir / "x.dat", "x");
  TZipArchive zip;
  zip.SetZipName(dir / "a.mtb");
  zip.FilesList() = {dir / "x.dat"};
  zip.WriteArchive();
  ASSERT_TRUE(zip.HasDirectory());
  ASSERT_EQ(zip.Entries().size(), 1u);
  EXPECT_EQ(zip.Entries()[0].fileName, "x.dat");
  EXPECT_EQ(zip.Entries()[0].header.crc32, Crc32("x"));
}

TEST(ZipWriterTest, ArchiveThatCannotBeCreatedRaisesTheFileError) {
  TTempDir dir;
  WriteFile(dir / "x.dat", "x");
  WriteFile(dir / "old.mtb", "an older archive");
  struct Case {
    std::string archive;
    std::string message;
  };
  const std::vector<Case> cases = {
      {dir / "old.mtb", "Cannot create file \"" + (dir / "old.mtb") + "\". File exists"},
      {dir / "no/such/dir/a.mtb",
       "Cannot create file \"" + (dir / "no/such/dir/a.mtb") + "\". No such file or directory"},
  };
  for (const Case& c : cases) {
    TZipArchive zip;
    zip.SetZipName(c.archive);
    zip.FilesList() = {dir / "x.dat"};
    try {
      zip.WriteArchive();
      ADD_FAILURE() << "no error for " << c.archive;
    } catch (const EFileError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(zip.FilesList().empty());
  }
  EXPECT_EQ(ReadFile(dir / "old.mtb"), "an older archive");
  EXPECT_EQ(WriteArchive("  ", {dir / "x.dat"}), 0);  // blank name: nothing happens
}

// Runs WriteArchive in a child process whose files may not grow past limit bytes; returns
// the message of the error it raised ("" when none).
std::string WriteUnderFileSizeLimit(const std::string& archive,
                                    const std::vector<std::string>& files, rlim_t limit) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {
      limit, limit
    };
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string message;
    try {
      TZipArchive zip;
      zip.SetZipName(archive);
      zip.FilesList() = files;
      zip.WriteArchive();
    } catch (const ENotEnoughRoom& e) {
      message = e.what();
    } catch (const std::exception& e) {
      message = std::string("other error: ") + e.what();
    }
    if (!message.empty()) (void)!write(fds[1], message.data(), message.size());
    _exit(0);
  }
  close(fds[1]);
  std::string message;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    message.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return message;
}

TEST(ZipWriterTest, NoRoomRaisesAndLeavesNoArchive) {
  TTempDir dir;
  WriteFile(dir / "noise.bin", RandomBytes(300000, 3));
  WriteFile(dir / "text.dat", TextBytes(300000));
  ASSERT_EQ(WriteArchive(dir / "full.mtb", {dir / "noise.bin", dir / "text.dat"}), 2);
  const rlim_t size = ReadFile(dir / "full.mtb").size();
  // Limits that stop the first entry's data, the second entry, the central directory and the
  // last byte of the end record.
  for (rlim_t limit : {rlim_t{40000}, rlim_t{310000}, size - 60, size - 1}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(WriteUnderFileSizeLimit(dir / "a.mtb", {dir / "noise.bin", dir / "text.dat"}, limit),
              "Not enough room to write archive");
    EXPECT_FALSE(Exists(dir / "a.mtb"));
  }
  EXPECT_EQ(WriteUnderFileSizeLimit(dir / "a.mtb", {dir / "noise.bin", dir / "text.dat"}, size),
            "");
  EXPECT_EQ(ReadFile(dir / "a.mtb"), ReadFile(dir / "full.mtb"));
}

// The writer with a small size limit, to reach the format's 32-bit limit in a test.
class TSmallLimitZip : public TZipArchive {
 public:
  explicit TSmallLimitZip(uint64_t limit) { maxArchiveSize_ = limit; }
};

TEST(ZipWriterTest, ArchivePastTheFormatLimitIsRefusedAndRemoved) {
  TTempDir dir;
  WriteFile(dir / "a.bin", RandomBytes(3000, 4));
  WriteFile(dir / "b.bin", RandomBytes(3000, 5));
  TSmallLimitZip zip(5000);
  zip.SetZipName(dir / "a.mtb");
  zip.FilesList() = {dir / "a.bin", dir / "b.bin"};
  EXPECT_THROW(zip.WriteArchive(), EArchiveLimit);
  EXPECT_FALSE(Exists(dir / "a.mtb"));
}

}  // namespace
}  // namespace mt
