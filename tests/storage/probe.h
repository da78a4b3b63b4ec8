// Drives storage_probe (a second process with its own table object) from the tests: starts it
// with pipes on stdin and stdout, sends command lines and reads answer lines. No test framework
// here, so the window tests drive the same probe; a probe program that could not be run
// answers every command with an empty line.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/childprocess.h"

namespace mt::test {

class TProbe {
 public:
  TProbe() {
    const TChildProcess child = StartChild({MT_STORAGE_PROBE}, true);
    pid_ = child.pid;
    in_ = fdopen(child.in, "w");
    out_ = fdopen(child.out, "r");
  }
  ~TProbe() {
    if (in_ != nullptr) {
      std::fputs("quit\n", in_);
      std::fclose(in_);
    }
    if (out_ != nullptr) std::fclose(out_);
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;

  // Sends a command without waiting for its answer.
  void Send(const std::string& command) {
    if (in_ == nullptr) return;
    std::fputs((command + "\n").c_str(), in_);
    std::fflush(in_);
  }
  // The next line the probe writes; empty when it has ended.
  std::string Line() {
    if (out_ == nullptr) return {};
    std::string line;
    for (int c = std::fgetc(out_); c != EOF && c != '\n'; c = std::fgetc(out_))
      line += static_cast<char>(c);
    return line;
  }
  // Sends a command and returns its answer, passing over "waiting" lines: a read lock may
  // have to retry when two readers pick the same byte.
  std::string Ask(const std::string& command) {
    Send(command);
    std::string line = Line();
    while (line.rfind("waiting ", 0) == 0)
      line = Line();
    return line;
  }

 private:
  pid_t pid_ = -1;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

}  // namespace mt::test
