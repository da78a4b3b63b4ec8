// Linked into every GoogleTest program: a test that creates or changes a table file (.DAT,
// .IDX, .BLB) or a backup archive (.mtb) in the working directory fails. Tests write only
// inside their own scratch directories; a table opened with an empty or lost directory would
// otherwise land wherever the program was started, the source tree included.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

bool IsGuardedFile(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext)
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return ext == ".DAT" || ext == ".IDX" || ext == ".BLB" || ext == ".MTB";
}

// The guarded files of the working directory with their size and last write time.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> Snapshot() {
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
  std::error_code ec;
  for (fs::directory_iterator it(fs::current_path(), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileError;
    if (!it->is_regular_file(fileError) || !IsGuardedFile(it->path())) continue;
    const uintmax_t size = it->file_size(fileError);
    const fs::file_time_type time = it->last_write_time(fileError);
    if (!fileError) files[it->path().filename().string()] = {size, time};
  }
  return files;
}

class TWorkingDirectoryGuard : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& /*test*/) override { before_ = Snapshot(); }

  void OnTestEnd(const ::testing::TestInfo& /*test*/) override {
    for (const auto& [name, state] : Snapshot()) {
      const auto it = before_.find(name);
      if (it == before_.end() || it->second != state)
        ADD_FAILURE() << "the test wrote " << name << " into the working directory "
                      << fs::current_path().string() << "; tests write only inside their own "
                      << "scratch directories";
    }
  }

 private:
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> before_;
};

// Appended after the result printer: listeners hear the end of a test in reverse order, so the
// failure is recorded before the printer reports the test's result.
const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new TWorkingDirectoryGuard);
  return true;
}();

}  // namespace
