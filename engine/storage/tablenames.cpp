// Names of a table's files.
#include "tablenames.h"

namespace mt {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool EndsWithDat(std::string_view name) {
  if (name.size() < kDataExt.size()) return false;
  const std::string_view tail = name.substr(name.size() - kDataExt.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = tail[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != kDataExt[i]) return false;
  }
  return true;
}

}  // namespace

std::string NormalizeDirectory(std::string_view directory) {
  std::string dir(Trim(directory));
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string TableFileName(std::string_view directory, std::string_view tableName,
                          std::string_view extension) {
  std::string_view name = Trim(tableName);
  if (EndsWithDat(name)) name.remove_suffix(kDataExt.size());
  std::string path =
      name.find('/') != std::string_view::npos ? std::string() : NormalizeDirectory(directory);
  path += name;
  path += extension;
  return path;
}

std::string BareTableName(std::string_view tableName) {
  std::string_view name = Trim(tableName);
  if (EndsWithDat(name)) name.remove_suffix(kDataExt.size());
  const std::size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  return std::string(name);
}

}  // namespace mt
