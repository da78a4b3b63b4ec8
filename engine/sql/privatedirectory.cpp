// The per-process private directory and unique temporary table names.
#include "privatedirectory.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "engine/common/engineerror.h"
#include "engine/common/filehandler.h"
#include "engine/storage/tablenames.h"

namespace mt {
namespace {

// Owns the folder made for this process and removes it at normal exit.
class TProcessFolder {
 public:
  TProcessFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (base.back() != '/') base += '/';
    std::string pattern = base + "mintora-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      RaiseEngineErrorOs(err::kUnknownOsError, errno, {.extra = pattern});
    }
    path_ = pattern + "/";
    owner_ = getpid();
  }
  ~TProcessFolder() {
    // A child made by fork leaves its parent's folder alone.
    if (getpid() != owner_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TProcessFolder(const TProcessFolder&) = delete;
  TProcessFolder& operator=(const TProcessFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  pid_t owner_ = 0;
};

}  // namespace

const std::string& DefaultPrivateDirectory() {
  static TProcessFolder folder;
  return folder.Path();
}

std::string UniqueTemporaryTableName(const std::string& directory, bool inMemory) {
  static std::atomic<uint64_t> counter{0};
  const std::string dir = NormalizeDirectory(directory);
  for (;;) {
    const std::string name = "mtq" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    if (!TFileHandler(TableFileName(dir, name, kDataExt), inMemory).Exists()) return name;
  }
}

}  // namespace mt
