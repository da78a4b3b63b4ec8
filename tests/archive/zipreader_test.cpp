// The archive reader: round trips through the writer, empty and incomplete archives, the
// directory rebuilt from local headers, clamped time stamps, bad entries that must leave the
// old file alone (and the check that finds them before anything is written), targets that may
// not be replaced, and names that must stay inside the destination folder.
#include "archive/zipreader.h"

#include <gtest/gtest.h>

#include <memory>

#include "archive/zipwriter.h"
#include "engine/common/gbk.h"
#include "tests/sharelockholder.h"
#include "ziptestutil.h"

namespace mt {
namespace {

using namespace ziptest;

struct TFile {
  std::string name;
  std::string content;
};

// The files of a small data directory, written to dir/src with a known time stamp.
std::vector<TFile> SampleFiles() {
  return {{"szzb.DAT", TextBytes(150000)},
          {"szzb.IDX", RandomBytes(3000, 11)},
          {"Items.BLB", ""},
          {"账本.DAT", "a GBK name"}};
}

std::string WriteSampleArchive(const TTempDir& dir, std::time_t when) {
  fs::create_directories(dir / "src");
  TZipArchive zip;
  zip.SetZipName(dir / "sample.mtb");
  for (const TFile& f : SampleFiles()) {
    WriteFile(dir / ("src/" + f.name), f.content);
    SetMtime(dir / ("src/" + f.name), when);
    zip.FilesList().push_back(dir / ("src/" + f.name));
  }
  zip.WriteArchive();
  return dir / "sample.mtb";
}

std::vector<std::string> TempFilesIn(const std::string& dir) {
  std::vector<std::string> temps;
  for (const std::string& name : ListDir(dir)) {
    if (name.rfind(".mtzip-", 0) == 0) temps.push_back(name);
  }
  return temps;
}

TEST(ZipReaderTest, RoundTripRestoresBytesTimesAndReadOnly) {
  TTempDir dir;
  const std::time_t when = LocalTime(2004, 4, 23, 13, 45, 31);
  fs::create_directories(dir / "src");
  WriteFile(dir / "src/ro.DAT", "read only");
  SetMtime(dir / "src/ro.DAT", when);
  MakeReadOnly(dir / "src/ro.DAT");
  const std::string archive = WriteSampleArchive(dir, when);
  {
    // Add the read-only file in a second archive, to see both kinds restored.
    TZipArchive zip;
    zip.SetZipName(dir / "ro.mtb");
    zip.FilesList() = {dir / "src/ro.DAT"};
    zip.WriteArchive();
  }

  TUnzipArchive reader;
  reader.SetZipName(archive);
  reader.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
  reader.SetDestDir(dir / "out/deeper");  // created with its parent
  ASSERT_EQ(reader.ExtractAll(), 4);
  EXPECT_TRUE(reader.ExtractFailures().empty());
  reader.SetZipName(dir / "ro.mtb");
  ASSERT_EQ(reader.ExtractAll(), 1);

  for (TFile f : SampleFiles()) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(ReadFile(dir / ("out/deeper/" + f.name)), f.content);
    EXPECT_EQ(Mtime(dir / ("out/deeper/" + f.name)), when - 1);  // 2-second steps
    EXPECT_FALSE(IsReadOnly(dir / ("out/deeper/" + f.name)));
  }
  EXPECT_EQ(ReadFile(dir / "out/deeper/ro.DAT"), "read only");
  EXPECT_TRUE(IsReadOnly(dir / "out/deeper/ro.DAT"));
  EXPECT_EQ(ListDir(dir / "out/deeper").size(), 5u);
}

TEST(ZipReaderTest, EmptyAndIncompleteArchives) {
  TTempDir dir;
  std::string sample = ReadFile(WriteSampleArchive(dir, LocalTime(2010, 1, 2, 3, 4, 6)));
  const std::size_t end = sample.size() - 22;
  auto patched = [&](std::size_t at, uint32_t value, bool wide) {
    std::string copy = sample;
    wide ? Put32(copy, at, value) : Put16(copy, at, static_cast<uint16_t>(value));
    return copy;
  };
  struct Case {
    std::string what;
    std::string bytes;
    bool empty;  // an empty archive rather than an incomplete one
  };
  const std::vector<Case> cases = {
      {"zero bytes", "", true},
      {"21 bytes", std::string(21, 'x'), false},
      {"text", "this is a text file with the archive's extension\n", false},
      {"signature cut off", sample.substr(0, sample.size() - 4), false},
      {"disk number 1000", patched(end + 4, 1000, false), false},
      {"directory on a later disk", patched(end + 6, 1, false), false},
      {"negative directory offset", patched(end + 16, 0x80000000u, true), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "a.mtb", c.bytes);
    TUnzipArchive reader;
    reader.SetZipName(dir / "a.mtb");
    reader.SetDestDir(dir / "out");
    EXPECT_NO_THROW(reader.ReadDirectory());
    EXPECT_EQ(reader.HasDirectory(), c.empty);
    EXPECT_TRUE(reader.Entries().empty());
    if (c.empty) {
      EXPECT_EQ(reader.ExtractAll(), 0);
    } else {
      try {
        reader.ExtractAll();
        ADD_FAILURE() << "no error";
      } catch (const EIncompleteZip& e) {
        EXPECT_STREQ(e.what(), "Incomplete Zip File");
      }
      EXPECT_FALSE(Exists(dir / "out"));
    }
    fs::remove_all(dir / "out");
  }
}

TEST(ZipReaderTest, ArchiveThatCannotBeOpenedRaisesTheFileError) {
  TTempDir dir;
  TUnzipArchive reader;
  reader.SetZipName(dir / "none.mtb");
  try {
    reader.ReadDirectory();
    ADD_FAILURE() << "no error";
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + (dir / "none.mtb") + "\". No such file or directory");
  }
  reader.SetZipName(dir.Path());
  EXPECT_THROW(reader.ReadDirectory(), EFileError);
}

TEST(ZipReaderTest, DamagedCentralDirectoryIsRebuiltFromLocalHeaders) {
  TTempDir dir;
  const std::string sample = ReadFile(WriteSampleArchive(dir, LocalTime(2010, 1, 2, 3, 4, 6)));
  std::string badSignature = sample;
  Put32(badSignature, CentralHeaderAt(sample, 2), 0x12345678);
  std::string tooManyEntries = sample;
  Put16(tooManyEntries, sample.size() - 22 + 10, 9);
  // Bytes before the first entry: the directory offset now points into entry data.
  const std::string shifted = "some bytes before the first entry" + sample;

  for (const std::string& bytes : {badSignature, tooManyEntries, shifted}) {
    WriteFile(dir / "a.mtb", bytes);
    TUnzipArchive reader;
    reader.SetZipName(dir / "a.mtb");
    reader.SetDestDir(dir / "out");
    ASSERT_NO_THROW(reader.ReadDirectory());
    ASSERT_EQ(reader.Entries().size(), 4u);
    EXPECT_EQ(reader.Entries()[3].fileName, "账本.DAT");
    EXPECT_EQ(reader.ExtractAll(), 4);
    for (const TFile& f : SampleFiles())
      EXPECT_EQ(ReadFile(dir / ("out/" + f.name)), f.content);
    fs::remove_all(dir / "out");
  }

  // Without a single readable local header there is nothing to rebuild from.
  std::string hopeless = badSignature;
  for (std::size_t at = 0; (at = hopeless.find("PK\x03\x04", at)) != std::string::npos;) {
    hopeless[at + 2] = 'X';
  }
  WriteFile(dir / "a.mtb", hopeless);
  TUnzipArchive reader;
  reader.SetZipName(dir / "a.mtb");
  try {
    reader.ReadDirectory();
    ADD_FAILURE() << "no error";
  } catch (const EBadZipFile& e) {
    EXPECT_STREQ(e.what(), "Not a valid zip file!");
  }
  EXPECT_FALSE(reader.HasDirectory());
}

TEST(ZipReaderTest, TimeFieldsAreClampedOneByOne) {
  auto time = [](unsigned h, unsigned m, unsigned s2) {
    return static_cast<uint16_t>((h << 11) | (m << 5) | s2);
  };
  auto date = [](unsigned y, unsigned mo, unsigned d) {
    return static_cast<uint16_t>((y << 9) | (mo << 5) | d);
  };
  struct Case {
    uint16_t time, date;
    uint16_t wantTime, wantDate;
  };
  const std::vector<Case> cases = {
      {time(25, 10, 20), date(24, 4, 23), time(23, 10, 20), date(24, 4, 23)},
      {time(12, 63, 31), date(24, 4, 23), time(12, 59, 29), date(24, 4, 23)},
      {time(12, 30, 10), date(24, 0, 0), time(12, 30, 10), date(24, 1, 1)},
      {time(12, 30, 10), date(127, 13, 31), time(12, 30, 10), date(119, 12, 31)},
      {time(23, 59, 29), date(119, 12, 31), time(23, 59, 29), date(119, 12, 31)},
  };
  TTempDir dir;
  for (const Case& c : cases) {
    TRawEntry entry{.name = "t.dat", .data = "time"};
    entry.time = c.time;
    entry.date = c.date;
    WriteFile(dir / "a.zip", BuildZip({entry}));
    TUnzipArchive reader;
    reader.SetZipName(dir / "a.zip");
    reader.ReadDirectory();
    ASSERT_EQ(reader.Entries().size(), 1u);
    EXPECT_EQ(reader.Entries()[0].header.time, c.wantTime);
    EXPECT_EQ(reader.Entries()[0].header.date, c.wantDate);
  }

  // Hour 25 comes out as 23 on the file, the other fields as they were.
  TRawEntry entry{.name = "t.dat", .data = "time"};
  entry.time = time(25, 10, 20);
  WriteFile(dir / "a.zip", BuildZip({entry}));
  TUnzipArchive reader;
  reader.SetZipName(dir / "a.zip");
  reader.SetDestDir(dir / "out");
  ASSERT_EQ(reader.ExtractAll(), 1);
  EXPECT_EQ(Mtime(dir / "out/t.dat"), LocalTime(2004, 4, 23, 23, 10, 40));
}

TEST(ZipReaderTest, BadEntriesLeaveTheOldFileUntouched) {
  const std::string content = TextBytes(20000);
  struct Case {
    std::string what;
    std::size_t field;  // offset within the central header
    uint32_t value;
    bool wide;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"wrong CRC", 16, Crc32(content) ^ 1, true, "CRC error"},
      {"more data than stated", 24, 19000, true, "File is larger than uncompressed size!"},
      {"less data than stated", 24, 21000, true, "CRC error"},
      {"compressed data cut short", 20, 100, true, "the compressed data end too early"},
      {"unknown method", 10, 6, false, "Unknown Compression Method"},
      {"encrypted", 8, 1, false, "the entry is encrypted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    std::string zip = BuildZip({{.name = "x.dat", .data = content, .method = 8},
                                {.name = "y.dat", .data = "fine", .method = 0}});
    const std::size_t at = CentralHeaderAt(zip, 0) + c.field;
    c.wide ? Put32(zip, at, c.value) : Put16(zip, at, static_cast<uint16_t>(c.value));
    WriteFile(dir / "a.zip", zip);
    fs::create_directories(dir / "out");
    WriteFile(dir / "out/x.dat", "the old file");

    {
      // The check finds the same fault and writes nothing, not even the good entry.
      TUnzipArchive checker;
      checker.SetZipName(dir / "a.zip");
      checker.SetDestDir(dir / "out");
      checker.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
      EXPECT_EQ(checker.CheckAll(), 1);
      ASSERT_EQ(checker.ExtractFailures().size(), 1u);
      EXPECT_EQ(checker.ExtractFailures()[0].fileName, "x.dat");
      EXPECT_EQ(checker.ExtractFailures()[0].reason, c.reason);
      EXPECT_EQ(ListDir(dir / "out"), std::vector<std::string>{"x.dat"});
      EXPECT_EQ(ReadFile(dir / "out/x.dat"), "the old file");
    }

    std::vector<std::pair<std::string, std::string>> boxes;
    TUnzipArchive reader;
    reader.SetZipName(dir / "a.zip");
    reader.SetDestDir(dir / "out");
    reader.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
    reader.SetOnMessageBox([&](const std::string& text, const std::string& title) {
      boxes.emplace_back(text, title);
    });
    EXPECT_EQ(reader.ExtractAll(), 1);
    EXPECT_EQ(ReadFile(dir / "out/x.dat"), "the old file");
    EXPECT_EQ(ReadFile(dir / "out/y.dat"), "fine");
    ASSERT_EQ(reader.ExtractFailures().size(), 1u);
    EXPECT_EQ(reader.ExtractFailures()[0].fileName, "x.dat");
    EXPECT_EQ(reader.ExtractFailures()[0].reason, c.reason);
    EXPECT_TRUE(TempFilesIn(dir / "out").empty());
    if (c.what == "unknown method") {
      EXPECT_EQ(boxes, (std::vector<std::pair<std::string, std::string>>{
                           {"Unknown Compression Method", "Zip Error"}}));
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
}

TEST(ZipReaderTest, ReadOnlyAndBusyTargetsAreSkipped) {
  TTempDir dir;
  WriteFile(dir / "a.zip", BuildZip({{.name = "ro.dat", .data = "new"},
                                     {.name = "busy.dat", .data = "new"},
                                     {.name = "free.dat", .data = "new"}}));
  fs::create_directories(dir / "out");
  WriteFile(dir / "out/ro.dat", "old");
  MakeReadOnly(dir / "out/ro.dat");
  WriteFile(dir / "out/busy.dat", "old");
  WriteFile(dir / "out/free.dat", "old");

  // Another program holds busy.dat open, as the table engine does: a shared-open lock above
  // the 4 GiB mark.
  auto other = std::make_unique<mt::test::TShareLockHolder>(dir / "out/busy.dat");
  ASSERT_TRUE(other->Holding());

  TUnzipArchive reader;
  reader.SetZipName(dir / "a.zip");
  reader.SetDestDir(dir / "out");
  reader.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
  // The check names both targets and leaves every file as it was.
  EXPECT_EQ(reader.CheckAll(), 1);
  ASSERT_EQ(reader.ExtractFailures().size(), 2u);
  EXPECT_EQ(reader.ExtractFailures()[1].fileName, "busy.dat");
  EXPECT_EQ(ReadFile(dir / "out/free.dat"), "old");
  const int written = reader.ExtractAll();
  other.reset();

  EXPECT_EQ(written, 1);
  EXPECT_EQ(ReadFile(dir / "out/ro.dat"), "old");
  EXPECT_EQ(ReadFile(dir / "out/busy.dat"), "old");
  EXPECT_EQ(ReadFile(dir / "out/free.dat"), "new");
  ASSERT_EQ(reader.ExtractFailures().size(), 2u);
  EXPECT_EQ(reader.ExtractFailures()[0].reason, "the existing file is read-only");
  EXPECT_EQ(reader.ExtractFailures()[1].reason, "the existing file is in use by another program");
}

TEST(ZipReaderTest, OverwriteModesDecideAboutExistingFiles) {
  using Mode = TUnzipArchive::TOverwriteMode;
  struct Case {
    Mode mode;
    std::optional<bool> answer;  // of the prompt callback, when one is set
    bool replaced;
  };
  const std::vector<Case> cases = {
      {Mode::Always, std::nullopt, true},   {Mode::Never, std::nullopt, false},
      {Mode::Prompt, std::nullopt, false},  {Mode::Prompt, false, false},
      {Mode::Prompt, true, true},           {Mode::IfNewer, std::nullopt, true},
      {Mode::IfOlder, std::nullopt, false},
  };
  for (const Case& c : cases) {
    TTempDir dir;
    WriteFile(dir / "a.zip", BuildZip({{.name = "x.dat", .data = "new"}}));  // from 2004
    fs::create_directories(dir / "out");
    WriteFile(dir / "out/x.dat", "old");
    SetMtime(dir / "out/x.dat", LocalTime(2001, 1, 1, 0, 0, 0));
    TUnzipArchive reader;
    reader.SetZipName(dir / "a.zip");
    reader.SetDestDir(dir / "out");
    reader.SetOverwriteMode(c.mode);
    if (c.answer) {
      reader.SetOnOverwritePrompt([&](const TZipEntry& e) {
        EXPECT_EQ(e.fileName, "x.dat");
        return *c.answer;
      });
    }
    reader.ExtractAll();
    EXPECT_EQ(ReadFile(dir / "out/x.dat"), c.replaced ? "new" : "old") << static_cast<int>(c.mode);
  }
}

TEST(ZipReaderTest, FolderPartsAreDroppedAndNamesStayInside) {
  TTempDir dir;
  const uint16_t kUnixHost = 0x0314;  // made on a Unix host: names as they are, "\" no separator
  const std::vector<TRawEntry> entries = {
      {.name = "sub/x.dat", .data = "x"},
      {.name = "folder/", .data = ""},
      {.name = "../escape.dat", .data = "e"},
      {.name = "/abs.dat", .data = "a"},
      {.name = "..", .data = "dots"},
      {.name = "a/..", .data = "dots"},
      {.name = "a\\..\\..\\b.dat", .data = "b"},
      {.name = "c\\d.dat", .data = "cd", .versionMadeBy = kUnixHost},
      {.name = "dir\\\x81\x5c.dat", .data = "trail byte 5C"},
      {.name = "\xe6\x97\xa5\xe8\xae\xb0.dat", .data = "utf8", .flags = 0x0800},
      {.name = std::string("nul\0name", 8), .data = "nul"},
  };
  WriteFile(dir / "a.zip", BuildZip(entries));
  TUnzipArchive reader;
  reader.SetZipName(dir / "a.zip");
  reader.SetDestDir(dir / "out");
  EXPECT_EQ(reader.ExtractAll(), 7);
  const std::string gbkTrail = GbkToUtf8("\x81\x5c.dat");
  std::vector<std::string> expected = {"abs.dat", "b.dat",  "c\\d.dat", "escape.dat",
                                       "x.dat",   gbkTrail, "日记.dat"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListDir(dir / "out"), expected);
  EXPECT_EQ(ReadFile(dir / ("out/" + gbkTrail)), "trail byte 5C");
  EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"a.zip", "out"}));
  EXPECT_EQ(reader.ExtractFailures().size(), 3u);  // "..", "a/.." and the NUL
}

TEST(ZipReaderTest, DirectoryIsKeptUntilTheArchiveChanges) {
  TTempDir dir;
  WriteFile(dir / "a.zip", BuildZip({{.name = "one.dat", .data = "1"}}));
  TUnzipArchive reader;
  reader.SetZipName(dir / "a.zip");
  reader.ReadDirectory();
  ASSERT_EQ(reader.Entries().size(), 1u);

  // Replaced by another archive: extraction reads the new directory.
  WriteFile(dir / "b.zip", BuildZip({{.name = "two.dat", .data = "2"}, {.name = "three.dat"}}));
  fs::rename(dir / "b.zip", dir / "a.zip");
  reader.SetDestDir(dir / "out");
  EXPECT_EQ(reader.ExtractAll(), 2);
  EXPECT_EQ(ListDir(dir / "out"), (std::vector<std::string>{"three.dat", "two.dat"}));

  reader.SetZipName(dir / "other.zip");
  EXPECT_FALSE(reader.HasDirectory());
  EXPECT_TRUE(reader.Entries().empty());
}

}  // namespace
}  // namespace mt
