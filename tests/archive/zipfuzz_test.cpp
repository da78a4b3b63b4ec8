// Damaged archives: many truncated, bit-flipped and overwritten copies of two sample
// archives go through ReadDirectory and ExtractAll. Whatever they hold, the reader raises
// only its own errors, writes nothing outside the destination folder, leaves no temporary
// file behind, and every file it writes under an original name has the original content.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "archive/zipwriter.h"
#include "ziptestutil.h"

namespace mt {
namespace {

using namespace ziptest;

// A folder on tmpfs when there is one: thousands of small extractions with fsync.
std::string SandboxBase() {
  struct stat st {};
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return "";
}

class TDamagedArchives {
 public:
  explicit TDamagedArchives(std::map<std::string, std::string> originals)
      : originals_(std::move(originals)), sandbox_(SandboxBase()) {}

  void Check(const std::string& bytes, const std::string& what) {
    WriteFile(sandbox_ / "a.zip", bytes);
    TUnzipArchive reader;
    reader.SetZipName(sandbox_ / "a.zip");
    reader.SetDestDir(sandbox_ / "out");
    reader.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
    try {
      reader.ReadDirectory();
      reader.ExtractAll();
    } catch (const EZipError&) {
      // Refusing a damaged archive is fine.
    }
    const std::vector<std::string> top = ListDir(sandbox_.Path());
    for (const std::string& name : top) {
      ASSERT_TRUE(name == "a.zip" || name == "out") << what << ": wrote " << name;
    }
    for (const std::string& name : ListDir(sandbox_ / "out")) {
      const std::string path = sandbox_ / ("out/" + name);
      struct stat st {};
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      ASSERT_TRUE(S_ISREG(st.st_mode)) << what << ": " << name;
      ASSERT_NE(name.rfind(".mtzip-", 0), 0u) << what << ": left " << name;
      const auto original = originals_.find(name);
      if (original != originals_.end()) {
        ASSERT_EQ(ReadFile(path), original->second) << what << ": " << name;
      }
    }
    fs::remove_all(sandbox_ / "out");
  }

  // Every damage of one sample.
  void Sweep(const std::string& sample, unsigned seed) {
    std::mt19937 gen(seed);
    const std::size_t size = sample.size();
    for (std::size_t n = 0; n < size; n += (n < 64 || n + 64 > size) ? 1 : size / 200 + 1) {
      Check(sample.substr(0, n), "truncated to " + std::to_string(n));
    }
    for (int i = 0; i < 1500; ++i) {
      std::string copy = sample;
      const std::size_t at = gen() % size;
      copy[at] = static_cast<char>(copy[at] ^ (1 << (gen() % 8)));
      Check(copy, "bit flipped at " + std::to_string(at));
    }
    for (int i = 0; i < 300; ++i) {
      std::string copy = sample;
      const int count = 2 + static_cast<int>(gen() % 7);
      for (int k = 0; k < count; ++k)
        copy[gen() % size] = static_cast<char>(gen());
      Check(copy, "overwritten, round " + std::to_string(i));
    }
  }

 private:
  std::map<std::string, std::string> originals_;
  TTempDir sandbox_;
};

TEST(ZipFuzzTest, DamagedCopiesNeverCrashOrEscape) {
  TTempDir dir;
  const std::map<std::string, std::string> files = {
      {"a.txt", TextBytes(3000)}, {"b.bin", RandomBytes(200, 31)}, {"e.dat", ""},
      {"账.DAT", "a GBK name"},   {"x.dat", TextBytes(800)},
  };
  TZipArchive zip;
  zip.SetZipName(dir / "ours.mtb");
  for (const auto& [name, content] : files) {
    if (name == "x.dat") continue;
    WriteFile(dir / name, content);
    zip.FilesList().push_back(dir / name);
  }
  zip.WriteArchive();
  const std::string ours = ReadFile(dir / "ours.mtb");
  // Folders, a folder part with "\" and a comment, as other programs write them.
  const std::string theirs =
      BuildZip({{.name = "sub/"},
                {.name = "sub/x.dat", .data = files.at("x.dat"), .method = 8},
                {.name = "sub\\b.bin", .data = files.at("b.bin")}},
               "comment");

  TDamagedArchives damaged(files);
  damaged.Sweep(ours, 1);
  damaged.Sweep(theirs, 2);
}

}  // namespace
}  // namespace mt
