// Test helper shared by the multi-process tests: starts a helper program (a probe, or mtdb) as
// a separate process with its standard output, and on request its standard input, on pipes.
// The pipes are close-on-exec, so no other child started meanwhile holds them open. Plain
// POSIX, no test framework, so the window tests can use it too.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace mt::test {

struct TChildProcess {
  pid_t pid = -1;
  int in = -1;   // writes to the child's standard input; -1 unless asked for
  int out = -1;  // reads the child's standard output
};

// Starts argv[0] with the arguments argv. Throws when no pipe or process can be had (never
// returns a pid of -1, which kill() would take for every process); a program that cannot be
// run ends with status 127.
inline TChildProcess StartChild(const std::vector<std::string>& argv, bool withInput = false) {
  int toChild[2] = {-1, -1};
  int fromChild[2];
  if (withInput && pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
  if (pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("no process");
  if (pid == 0) {
    if (withInput) dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  TChildProcess child;
  child.pid = pid;
  if (withInput) {
    close(toChild[0]);
    child.in = toChild[1];
  }
  close(fromChild[1]);
  child.out = fromChild[0];
  return child;
}

// Everything the child writes until it closes its output; closes the pipe.
inline std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

}  // namespace mt::test
