// Test helper shared by the archive and the window tests: a child process that holds one file
// open the way another running copy's table engine does (a read lock on the share-mode byte,
// engine/common/filelayer.h) until the holder is destroyed. Plain POSIX, no test framework.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "engine/common/filelayer.h"

namespace mt::test {

class TShareLockHolder {
 public:
  explicit TShareLockHolder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    if (pipe(release_) != 0) {
      close(ready[0]);
      close(ready[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release_[1]);
      alarm(120);  // never outlive a test that went wrong
      const int fd = open(path.c_str(), O_RDONLY);
      struct flock lock {};
      lock.l_type = F_RDLCK;
      lock.l_whence = SEEK_SET;
      lock.l_start = static_cast<off_t>(kShareLockOffset);
      lock.l_len = 1;
      const char ok = fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      char c;
      (void)!read(release_[0], &c, 1);
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    char ok = 0;
    holding_ = pid_ > 0 && read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
  }
  // Lets the child go and waits for it.
  ~TShareLockHolder() {
    if (release_[1] >= 0) close(release_[1]);
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
  }
  TShareLockHolder(const TShareLockHolder&) = delete;
  TShareLockHolder& operator=(const TShareLockHolder&) = delete;

  // True once the child has the file open and its lock taken.
  bool Holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
  bool holding_ = false;
};

}  // namespace mt::test
