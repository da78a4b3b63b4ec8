// mtdb backup and restore on the archive component.
#include "cmd_archive.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <system_error>
#include <vector>

#include "archive/zipwriter.h"

namespace mt::mtdb {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::string ErrnoText(int error) {
  return std::system_category().message(error);
}

struct TDirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// Names of the entries directly in dir that do not begin with ".", sorted.
bool ListDirectory(const std::string& dir, std::vector<std::string>& names) {
  std::unique_ptr<DIR, TDirCloser> d(opendir(dir.c_str()));
  if (!d) return false;
  errno = 0;
  while (const dirent* e = readdir(d.get())) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  if (errno != 0) return false;
  std::sort(names.begin(), names.end());
  return true;
}

std::string AbsolutePath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> full(realpath(path.c_str(), nullptr), &std::free);
  return full ? std::string(full.get()) : path;
}

}  // namespace

int RunBackup(const std::string& dirArg, const std::string& archive) {
  const std::string dir = WithoutTrailingSlashes(dirArg);
  std::vector<std::string> names;
  if (!ListDirectory(dir, names)) {
    std::cerr << "Cannot read directory \"" << dir << "\". " << ErrnoText(errno) << "\n";
    return 1;
  }
  struct stat st {};
  if (lstat(archive.c_str(), &st) == 0 && unlink(archive.c_str()) != 0) {
    std::cerr << "Cannot delete file \"" << archive << "\". " << ErrnoText(errno) << "\n";
    return 1;
  }
  TZipArchive zip;
  zip.SetZipName(archive);
  for (const std::string& name : names)
    zip.FilesList().push_back(dir + "/" + name);
  try {
    zip.WriteArchive();
  } catch (const EZipError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::cout << "数据已经成功的被备份到 " << AbsolutePath(archive) << "\n";
  return 0;
}

int RunRestore(const std::string& archive, const std::string& dir) {
  TUnzipArchive zip;
  zip.SetZipName(archive);
  zip.SetOverwriteMode(TUnzipArchive::TOverwriteMode::Always);
  zip.SetOnMessageBox([](const std::string& text, const std::string& title) {
    std::cerr << title << ": " << text << "\n";
  });
  try {
    zip.ReadDirectory();
  } catch (const EZipError& e) {
    std::cerr << "对不起，文件无法打开.\n" << e.what() << "\n";
    return 1;
  }
  zip.SetDestDir(WithoutTrailingSlashes(dir));
  try {
    zip.ExtractAll();
  } catch (const EZipError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  for (const auto& failure : zip.ExtractFailures()) {
    std::cerr << "not restored: " << failure.fileName << " (" << failure.reason << ")\n";
  }
  if (!zip.ExtractFailures().empty()) return 1;
  std::cout << "数据已经成功恢复.\n";
  return 0;
}

}  // namespace mt::mtdb
