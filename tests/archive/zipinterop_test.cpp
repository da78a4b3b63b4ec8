// Archives against other ZIP programs: what the writer makes passes Info-ZIP's and Python's
// checks and extracts byte for byte with both; what Info-ZIP and Python make (deflated and
// stored entries, folders, extra fields, comments up to the longest) restores byte for byte
// with its times and read-only bits.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/zipwriter.h"
#include "ziptestutil.h"

namespace mt {
namespace {

using namespace ziptest;

struct TFile {
  std::string name;
  std::string content;
};

std::string Python(const std::string& script, const std::vector<std::string>& args) {
  std::string command = "python3 -c " + Quote(script);
  for (const std::string& a : args)
    command += " " + Quote(a);
  std::string out;
  const int status = RunShell(command, &out);
  return status == 0 ? out : "exit " + std::to_string(status) + ": " + out;
}

TEST(ZipInteropTest, OurArchivesPassInfoZipAndPython) {
  TTempDir dir;
  const std::vector<TFile> files = {
      {"szzb.DAT", TextBytes(150000)},
      {"szzb.IDX", RandomBytes(3000, 21)},
      {"noise.BLB", RandomBytes(70000, 22)},
      {"Items.DAT", ""},
      {"short.txt", "hello\n"},
  };
  fs::create_directories(dir / "src");
  TZipArchive zip;
  zip.SetZipName(dir / "a.mtb");
  for (const TFile& f : files) {
    WriteFile(dir / ("src/" + f.name), f.content);
    zip.FilesList().push_back(dir / ("src/" + f.name));
  }
  ASSERT_EQ(zip.WriteArchive(), static_cast<int>(files.size()));

  std::string out;
  ASSERT_EQ(RunShell("unzip -t " + Quote(dir / "a.mtb"), &out), 0) << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  EXPECT_EQ(Python("import sys, zipfile\n"
                   "z = zipfile.ZipFile(sys.argv[1])\n"
                   "print(z.testzip(), len(z.infolist()))\n",
                   {dir / "a.mtb"}),
            "None " + std::to_string(files.size()) + "\n");

  ASSERT_EQ(RunShell("unzip -q -o " + Quote(dir / "a.mtb") + " -d " + Quote(dir / "unzip"), &out),
            0)
      << out;
  EXPECT_EQ(Python("import sys, zipfile\nzipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])\n",
                   {dir / "a.mtb", dir / "python"}),
            "");
  for (const TFile& f : files) {
    EXPECT_EQ(ReadFile(dir / ("unzip/" + f.name)), f.content) << f.name;
    EXPECT_EQ(ReadFile(dir / ("python/" + f.name)), f.content) << f.name;
  }
}

TEST(ZipInteropTest, InfoZipArchivesRestoreWithTimesAndReadOnly) {
  TTempDir dir;
  const std::vector<TFile> files = {
      {"a.txt", TextBytes(50000)}, {"b.bin", RandomBytes(2000, 23)},
      {"ro.dat", "read only"},     {"sub/deep.dat", TextBytes(3000)},
      {"empty.dat", ""},           {"stored.txt", TextBytes(10000)},
  };
  fs::create_directories(dir / "src/sub");
  std::vector<std::time_t> times;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string path = dir / ("src/" + files[i].name);
    WriteFile(path, files[i].content);
    times.push_back(LocalTime(2011, 3, 4, 5, 6, 7) + static_cast<std::time_t>(i) * 3607);
    SetMtime(path, times.back());
  }
  MakeReadOnly(dir / "src/ro.dat");
  const std::string zip = Quote(dir / "iz.zip");
  std::string out;
  ASSERT_EQ(RunShell("cd " + Quote(dir / "src") + " && zip -q -r " + zip +
                         " a.txt b.bin ro.dat sub empty.dat && zip -q -0 " + zip +
                         " stored.txt && echo 'an archive comment' | zip -q -z " + zip,
                     &out),
            0)
      << out;

  TZipArchive reader;
  reader.SetZipName(dir / "iz.zip");
  reader.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
  reader.SetDestDir(dir / "out");
  reader.ReadDirectory();
  bool sawStored = false, sawDeflated = false, sawFolder = false;
  for (const TZipEntry& e : reader.Entries()) {
    sawStored = sawStored || (e.header.method == 0 && e.fileName == "stored.txt");
    sawDeflated = sawDeflated || (e.header.method == 8 && e.fileName == "a.txt");
    sawFolder = sawFolder || (e.fileName.empty() && e.pathPart == "sub");
  }
  EXPECT_TRUE(sawStored && sawDeflated && sawFolder);
  ASSERT_EQ(reader.ExtractAll(), static_cast<int>(files.size()));

  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = fs::path(files[i].name).filename();  // folders dropped
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(dir / ("out/" + name)), files[i].content);
    EXPECT_LE(std::abs(Mtime(dir / ("out/" + name)) - times[i]), 1);
    EXPECT_EQ(IsReadOnly(dir / ("out/" + name)), name == "ro.dat");
  }
  EXPECT_EQ(ListDir(dir / "out").size(), files.size());
}

TEST(ZipInteropTest, LongestArchiveCommentIsReadPast) {
  TTempDir dir;
  const std::string content = TextBytes(5000);
  WriteFile(dir / "content", content);
  EXPECT_EQ(Python("import sys, zipfile\n"
                   "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                   "z.write(sys.argv[2], 'x.dat')\n"
                   "z.comment = b'PK' * 32767 + b'!'\n"
                   "z.close()\n",
                   {dir / "c.zip", dir / "content"}),
            "");
  TUnzipArchive reader;
  reader.SetZipName(dir / "c.zip");
  reader.SetDestDir(dir / "out");
  ASSERT_EQ(reader.ExtractAll(), 1);
  EXPECT_EQ(ReadFile(dir / "out/x.dat"), content);
}

}  // namespace
}  // namespace mt
