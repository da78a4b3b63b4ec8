// mtdb backup and restore, run as a separate program: a data directory goes into an archive
// and comes back byte for byte beside the files the archive does not hold; failures give
// their messages and exit statuses.
#include <gtest/gtest.h>

#include "archive/zipreader.h"
#include "ziptestutil.h"

namespace mt {
namespace {

using namespace ziptest;

const std::string kMtdb = MINTORA_MTDB;

int Mtdb(const std::string& args, std::string* output = nullptr) {
  return RunShell(Quote(kMtdb) + " " + args, output);
}

TEST(MtdbArchiveTest, BackupAndRestoreTheDataDirectory) {
  TTempDir dir;
  const std::string data = dir / "data";
  fs::create_directories(data + "/sub");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"szzb.DAT", TextBytes(120000)},
      {"szzb.IDX", RandomBytes(5000, 7)},
      {"Items.BLB", ""},
      {"日记.DAT", "diary"},
  };
  const std::time_t when = LocalTime(2004, 4, 23, 9, 15, 44);
  for (const auto& [name, content] : files) {
    WriteFile(data + "/" + name, content);
    SetMtime(data + "/" + name, when);
  }
  WriteFile(data + "/.hidden", "not saved");
  WriteFile(data + "/sub/inner.DAT", "not saved");
  WriteFile(dir / "2004-04-23.mtb", "an older backup");  // replaced

  std::string out;
  ASSERT_EQ(Mtdb("backup " + Quote(data) + " " + Quote(dir / "2004-04-23.mtb"), &out), 0) << out;
  EXPECT_EQ(out, "数据已经成功的被备份到 " + (dir / "2004-04-23.mtb") + "\n");
  TUnzipArchive zip;
  zip.SetZipName(dir / "2004-04-23.mtb");
  zip.ReadDirectory();
  std::vector<std::string> names;
  for (const TZipEntry& e : zip.Entries())
    names.push_back(e.fileName);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Items.BLB", "szzb.DAT", "szzb.IDX", "日记.DAT"}));

  const std::string restored = dir / "restored";
  fs::create_directories(restored);
  WriteFile(restored + "/szzb.DAT", "an older ledger");
  WriteFile(restored + "/extra.DAT", "a table the backup does not hold");
  ASSERT_EQ(Mtdb("restore " + Quote(dir / "2004-04-23.mtb") + " " + Quote(restored + "/"), &out), 0)
      << out;
  EXPECT_EQ(out, "数据已经成功恢复.\n");
  for (const auto& [name, content] : files) {
    EXPECT_EQ(ReadFile(restored + "/" + name), content) << name;
    EXPECT_EQ(Mtime(restored + "/" + name), when & ~std::time_t{1}) << name;
  }
  EXPECT_EQ(ReadFile(restored + "/extra.DAT"), "a table the backup does not hold");
  EXPECT_EQ(ListDir(restored).size(), files.size() + 1);
}

TEST(MtdbArchiveTest, FailuresGiveTheirMessagesAndStatus) {
  TTempDir dir;
  fs::create_directories(dir / "data");
  WriteFile(dir / "data/x.DAT", "new");
  ASSERT_EQ(Mtdb("backup " + Quote(dir / "data") + " " + Quote(dir / "b.mtb")), 0);
  WriteFile(dir / "text.mtb", "this is a text file, not an archive");
  fs::create_directories(dir / "ro");
  WriteFile(dir / "ro/x.DAT", "old");
  MakeReadOnly(dir / "ro/x.DAT");

  struct Case {
    std::string args;
    int status;
    std::string output;  // expected within what it printed
  };
  const std::vector<Case> cases = {
      {"restore " + Quote(dir / "none.mtb") + " " + Quote(dir / "out"), 1, "对不起，文件无法打开."},
      {"restore " + Quote(dir / "text.mtb") + " " + Quote(dir / "out"), 1, "Incomplete Zip File"},
      {"restore " + Quote(dir / "b.mtb") + " " + Quote(dir / "ro"), 1,
       "not restored: x.DAT (the existing file is read-only)"},
      {"backup " + Quote(dir / "nodir") + " " + Quote(dir / "c.mtb"), 1, "Cannot read directory"},
      {"backup " + Quote(dir / "data"), 2, "usage: mtdb"},
      {"restore a b c", 2, "usage: mtdb"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Mtdb(c.args, &out), c.status) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.output), std::string::npos) << c.args << "\n" << out;
  }
  EXPECT_FALSE(Exists(dir / "out"));
  EXPECT_FALSE(Exists(dir / "c.mtb"));
  EXPECT_EQ(ReadFile(dir / "ro/x.DAT"), "old");
}

}  // namespace
}  // namespace mt
