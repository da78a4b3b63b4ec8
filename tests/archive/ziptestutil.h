// Helpers for the archive tests: temporary folders, whole-file reads and writes, time stamps,
// shell commands, little-endian fields read at fixed offsets, and a small independent ZIP
// builder for archives the writer would never produce.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace mt::ziptest {

namespace fs = std::filesystem;

// A fresh folder under $TMPDIR (or base), removed with everything in it.
class TTempDir {
 public:
  explicit TTempDir(const std::string& base = "") {
    std::string root = base;
    if (root.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      root = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = root + "/mtzip-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out)
    c = static_cast<char>(gen() & 0xFF);
  return out;
}

// Text that compresses well, like a table file of repeated records.
inline std::string TextBytes(std::size_t n) {
  std::string out;
  for (int i = 0; out.size() < n; ++i) {
    out += "record " + std::to_string(i) + "\tincome\t" + std::to_string(i * 37 % 1000) + ".00\n";
  }
  out.resize(n);
  return out;
}

// The moment of a local date and time.
inline std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

inline void SetMtime(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    throw std::runtime_error("cannot set time of " + path);
  }
}

inline std::time_t Mtime(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  return st.st_mtime;
}

inline bool IsReadOnly(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  return (st.st_mode & 0222) == 0;
}

inline void MakeReadOnly(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  chmod(path.c_str(), st.st_mode & 07555);
}

// Names in a folder, sorted.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs a shell command; returns its exit status and, in output, what it printed.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
    text.append(buffer, n);
  const int status = pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Fields of raw archive bytes.
inline uint16_t U16(const std::string& b, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) |
                               (static_cast<uint8_t>(b.at(at + 1)) << 8));
}
inline uint32_t U32(const std::string& b, std::size_t at) {
  return U16(b, at) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}
inline void Put16(std::string& b, std::size_t at, uint16_t v) {
  b.at(at) = static_cast<char>(v & 0xFF);
  b.at(at + 1) = static_cast<char>(v >> 8);
}
inline void Put32(std::string& b, std::size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

inline uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline std::string RawDeflate(const std::string& data) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(out.size() - zs.avail_out);
  deflateEnd(&zs);
  return out;
}

// Inflates a raw deflate stream; nothing when it is not one.
inline std::optional<std::string> RawInflate(const std::string& data) {
  z_stream zs{};
  inflateInit2(&zs, -15);
  std::string out;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  int status = Z_OK;
  char buffer[65536];
  while (status == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    status = inflate(&zs, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - zs.avail_out);
  }
  inflateEnd(&zs);
  if (status != Z_STREAM_END) return std::nullopt;
  return out;
}

// One entry for BuildZip.
struct TRawEntry {
  std::string name;
  std::string data;             // uncompressed
  uint16_t method = 0;          // 0 stored, 8 deflated, anything else stored as given
  uint16_t versionMadeBy = 20;  // MS-DOS host
  uint16_t flags = 0;
  uint16_t time = (12 << 11) | (30 << 5) | 5;  // 12:30:10
  uint16_t date = (24 << 9) | (4 << 5) | 23;   // 2004-04-23
  uint32_t externalAttributes = 0x20;
};

// A ZIP archive built without the component under test.
inline std::string BuildZip(const std::vector<TRawEntry>& entries,
                            const std::string& comment = "") {
  std::string out;
  std::string central;
  for (const TRawEntry& e : entries) {
    const std::string payload = e.method == 8 ? RawDeflate(e.data) : e.data;
    const uint32_t offset = static_cast<uint32_t>(out.size());
    std::string local(30, '\0');
    Put32(local, 0, 0x04034b50);
    Put16(local, 4, 20);
    Put16(local, 6, e.flags);
    Put16(local, 8, e.method);
    Put16(local, 10, e.time);
    Put16(local, 12, e.date);
    Put32(local, 14, Crc32(e.data));
    Put32(local, 18, static_cast<uint32_t>(payload.size()));
    Put32(local, 22, static_cast<uint32_t>(e.data.size()));
    Put16(local, 26, static_cast<uint16_t>(e.name.size()));
    out += local + e.name + payload;
    std::string c(46, '\0');
    Put32(c, 0, 0x02014b50);
    Put16(c, 4, e.versionMadeBy);
    Put16(c, 6, 20);
    Put16(c, 8, e.flags);
    Put16(c, 10, e.method);
    Put16(c, 12, e.time);
    Put16(c, 14, e.date);
    Put32(c, 16, Crc32(e.data));
    Put32(c, 20, static_cast<uint32_t>(payload.size()));
    Put32(c, 24, static_cast<uint32_t>(e.data.size()));
    Put16(c, 28, static_cast<uint16_t>(e.name.size()));
    Put32(c, 38, e.externalAttributes);
    Put32(c, 42, offset);
    central += c + e.name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  std::string end(22, '\0');
  Put32(end, 0, 0x06054b50);
  Put16(end, 8, static_cast<uint16_t>(entries.size()));
  Put16(end, 10, static_cast<uint16_t>(entries.size()));
  Put32(end, 12, static_cast<uint32_t>(central.size()));
  Put32(end, 16, centralOffset);
  Put16(end, 20, static_cast<uint16_t>(comment.size()));
  return out + end + comment;
}

// Offset of the n-th central header of an archive whose end record has no comment.
inline std::size_t CentralHeaderAt(const std::string& zip, std::size_t n) {
  std::size_t at = U32(zip, zip.size() - 22 + 16);
  for (std::size_t i = 0; i < n; ++i) {
    at += 46 + U16(zip, at + 28) + U16(zip, at + 30) + U16(zip, at + 32);
  }
  return at;
}

}  // namespace mt::ziptest
