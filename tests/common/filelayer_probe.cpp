// A second process for the file layer's tests. Reads one command per line from stdin and
// answers each with one line on stdout:
//   open NAME 0|1     open shared (0) or exclusive (1)      -> "ok" or "err CODE"
//   create NAME 0|1   create shared or exclusive            -> "ok" or "err CODE"
//   delete NAME                                              -> "ok" or "err CODE"
//   lock START LEN    lock a region of the open file         -> "1" or "0"
//   unlock START LEN                                         -> "1" or "0"
//   close                                                    -> "ok"
//   quit              ends the process
// One file handler at a time, through the process's own file list.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/common/engineerror.h"
#include "engine/common/filehandler.h"

namespace {

template <typename F>
std::string Try(F&& f) {
  try {
    f();
    return "ok";
  } catch (const mt::EEngineError& e) {
    return "err " + std::to_string(e.ErrorCode());
  }
}

}  // namespace

int main() {
  mt::TFileHandler file;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::string reply;
    if (command == "open" || command == "create") {
      std::string name;
      int exclusive = 0;
      in >> name >> exclusive;
      file.Close();
      file.SetName(name);
      reply = Try([&] {
        if (command == "open")
          file.Open(exclusive != 0);
        else
          file.Create(exclusive != 0);
      });
    } else if (command == "delete") {
      std::string name;
      in >> name;
      reply = Try([&] { mt::TFileList::Process()->Delete(name, false); });
    } else if (command == "lock" || command == "unlock") {
      uint64_t start = 0;
      uint64_t length = 0;
      in >> start >> length;
      bool ok = false;
      if (file.IsOpen())
        ok = command == "lock" ? file.LockRegion(start, length) : file.UnlockRegion(start, length);
      reply = ok ? "1" : "0";
    } else if (command == "close") {
      file.Close();
      reply = "ok";
    } else if (command == "quit") {
      return 0;
    } else {
      reply = "?";
    }
    std::cout << reply << std::endl;
  }
  return 0;
}
