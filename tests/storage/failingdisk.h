// A disk for fault-injection tests: the process's real disk, except that the n-th write or
// sync after Arm fails with EIO (TFileList::SetDisk installs it).
#pragma once

#include <atomic>
#include <cerrno>

#include "engine/common/filelayer.h"

namespace mt::test {

// The real disk, except that the n-th write (or sync) after Arm fails with EIO. It counts in
// any case, so a run without a failure measures how many an operation makes.
class TFailingDisk : public TDisk {
 public:
  enum class TKind { Write, Sync };

  // From now on the n-th call of the kind fails (with persistent, every one from the n-th on);
  // n 0: none.
  void Arm(TKind kind, int n, bool persistent = false) {
    kind_ = kind;
    failAt_ = n;
    persistent_ = persistent;
    writes_ = syncs_ = 0;
  }
  void Disarm() { failAt_ = 0; }
  int Count(TKind kind) const { return kind == TKind::Write ? writes_.load() : syncs_.load(); }

  ssize_t WriteAt(int fd, const void* buffer, std::size_t count, off_t offset) override {
    if (Fails(TKind::Write, writes_)) return -1;
    return TDisk::WriteAt(fd, buffer, count, offset);
  }
  int Sync(int fd) override {
    if (Fails(TKind::Sync, syncs_)) return -1;
    return TDisk::Sync(fd);
  }

 private:
  bool Fails(TKind kind, std::atomic<int>& counter) {
    const int n = ++counter;
    if (kind != kind_ || failAt_ == 0 || (persistent_ ? n < failAt_ : n != failAt_)) return false;
    errno = EIO;
    return true;
  }

  TKind kind_ = TKind::Write;
  std::atomic<int> failAt_{0};
  bool persistent_ = false;
  std::atomic<int> writes_{0};
  std::atomic<int> syncs_{0};
};

}  // namespace mt::test
