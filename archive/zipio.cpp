// File access shared by the archive writer and reader.
#include "archive/zipio.h"

#include <unistd.h>

#include <cerrno>

namespace mt {

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int TFileDescriptor::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void TFileDescriptor::Reset() noexcept {
  Close();
}

int TFileDescriptor::Close() noexcept {
  if (fd_ < 0) return 0;
  // Linux releases the descriptor even when close() fails, so it is never retried.
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

std::size_t ReadAt(int fd, void* buffer, std::size_t n, uint64_t offset) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool ReadSome(int fd, void* buffer, std::size_t n, std::size_t& got) {
  auto* out = static_cast<unsigned char*>(buffer);
  got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, out + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

namespace {

// Writes all n bytes through put(bytes, count, done) (a write or pwrite call), retrying after
// interruptions; a write of nothing counts as a full disk (ENOSPC).
template <class TPut>
bool PutAll(const void* data, std::size_t n, TPut put) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t wrote = put(in + done, n - done, done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, std::size_t n) {
  return PutAll(data, n, [fd](const unsigned char* p, std::size_t count, std::size_t) {
    return ::write(fd, p, count);
  });
}

bool WriteAllAt(int fd, const void* data, std::size_t n, uint64_t offset) {
  return PutAll(data, n, [fd, offset](const unsigned char* p, std::size_t count, std::size_t done) {
    return ::pwrite(fd, p, count, static_cast<off_t>(offset + done));
  });
}

TFileStamp StampOf(const struct stat& st) {
  TFileStamp stamp;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtimeSeconds = st.st_mtim.tv_sec;
  stamp.mtimeNanoseconds = st.st_mtim.tv_nsec;
  return stamp;
}

}  // namespace mt
