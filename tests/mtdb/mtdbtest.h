// Running the real mtdb program from tests: arguments, standard input, and the exit status
// with standard output and standard error kept apart.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mt::mtdbtest {

namespace fs = std::filesystem;

inline const std::string kMtdb = MINTORA_MTDB;

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

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A temporary directory removed with its contents.
class TScratch {
 public:
  TScratch() {
    std::string pattern = (fs::temp_directory_path() / "mt-mtdb-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs mtdb with already quoted arguments and the given standard input.
inline TRun Mtdb(const TScratch& scratch, const std::string& args, const std::string& input = {}) {
  const std::string in = scratch / ".stdin";
  const std::string out = scratch / ".stdout";
  const std::string err = scratch / ".stderr";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f << input;
  }
  const std::string command =
      Quote(kMtdb) + " " + args + " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  TRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

}  // namespace mt::mtdbtest
