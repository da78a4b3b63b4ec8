// libFuzzer target: a backup archive as it comes from a disk or a download.
//
// The input is written as an archive in a scratch directory and extracted into an empty
// folder inside it (replacing files without asking). The archive may be refused with the
// archive component's error, and entries may be skipped as failures; a crash, a sanitizer
// report, any other exception, or a file written anywhere but directly inside the destination
// folder ends the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/zipheaders.h"
#include "archive/zipreader.h"
#include "tests/storage/storagetest.h"

namespace {

namespace fs = std::filesystem;

// Every path below root, directories included.
std::size_t CountEntries(const fs::path& root) {
  std::size_t n = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it)
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static mt::test::TScratchDir scratch{"mt-archivefuzz"};
  const fs::path root = scratch.Path();
  const fs::path archive = root / "backup.zip";
  const fs::path dest = root / "out";
  fs::remove_all(dest);
  fs::create_directory(dest);
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  try {
    mt::TUnzipArchive unzip;
    unzip.SetZipName(archive.string());
    unzip.SetDestDir(dest.string());
    unzip.SetOverwriteMode(mt::TUnzipArchive::TOverwriteMode::Always);
    unzip.SetRetainAttributes(false);
    unzip.ReadDirectory();
    (void)unzip.ExtractAll();
  } catch (const mt::EZipError&) {
    // Refused with the archive's error: what a damaged archive must give.
  }

  // Only the archive and the destination folder with plain files directly inside it.
  for (const auto& e : fs::directory_iterator(dest)) {
    if (!e.is_regular_file()) std::abort();
  }
  if (CountEntries(root) != 2 + static_cast<std::size_t>(std::distance(fs::directory_iterator(dest),
                                                                       fs::directory_iterator())))
    std::abort();
  return 0;
}
