// A helper program for the cursor tests that need other processes: it works on a table through
// a cursor and reports each change on standard output (one line, written unbuffered) as soon
// as the change has returned, so that the test knows what was done before it killed it.
//
//   cursor_probe insert DIR TABLE FIRST COUNT   inserts ids FIRST.. (name "n<id mod 100>",
//                                               amount id / 4) and prints each id
//   cursor_probe count DIR TABLE                prints the number of records
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "engine/storage/datacursor.h"

namespace {

void Say(const std::string& line) {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(1, text.data() + done, text.size() - done);
    if (n <= 0) std::_Exit(3);
    done += static_cast<std::size_t>(n);
  }
}

int Insert(mt::TDataCursor& c, long first, long count) {
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  for (long id = first; id < first + count; ++id) {
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), id);
    f.SetString(2, image.data(), "n" + std::to_string(id % 100));
    f.SetFloat(3, image.data(), static_cast<double>(id) / 4);
    c.InsertRecord(image.data(), false);
    Say(std::to_string(id));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  try {
    mt::TDataDirectory directory(argv[2]);
    mt::TDataCursor c(directory);
    c.SetTableName(argv[3]);
    c.Open();
    if (mode == "insert" && argc == 6) return Insert(c, std::atol(argv[4]), std::atol(argv[5]));
    if (mode == "count") {
      Say(std::to_string(c.RecordCount()));
      return 0;
    }
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
