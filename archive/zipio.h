// File access shared by the archive writer and reader: an owning file descriptor, whole
// reads and writes that retry after interruptions and short transfers, and a file's identity
// stamp (device, inode, size, modification time) that tells whether an archive has changed.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace mt {

// Owns one open file descriptor and closes it when destroyed.
class TFileDescriptor {
 public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(TFileDescriptor&& other) noexcept : fd_(other.Release()) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept;
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const noexcept { return fd_; }
  bool IsOpen() const noexcept { return fd_ >= 0; }
  int Release() noexcept;
  void Reset() noexcept;
  // Closes the descriptor and returns 0, or the error number close() reported.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

// Reads up to n bytes at offset; returns how many were read (fewer at the end of the file or
// after a read error).
std::size_t ReadAt(int fd, void* buffer, std::size_t n, uint64_t offset);
// Reads up to n bytes at the file position; fewer only at the end of the file. Returns false
// on a read error.
bool ReadSome(int fd, void* buffer, std::size_t n, std::size_t& got);
// Writes all n bytes at the file position or at offset; false when fewer could be written
// (errno tells why).
bool WriteAll(int fd, const void* data, std::size_t n);
bool WriteAllAt(int fd, const void* data, std::size_t n, uint64_t offset);

// What identifies one state of a file: a rewritten or replaced archive gets a new stamp.
struct TFileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::time_t mtimeSeconds = 0;
  long mtimeNanoseconds = 0;
  friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};
TFileStamp StampOf(const struct stat& st);

}  // namespace mt
