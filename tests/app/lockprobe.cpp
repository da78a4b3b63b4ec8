// A second process holding one row of a table in edit state, so its record stays locked:
// mintora_lockprobe DIR TABLE ID locates the row whose id is ID, starts editing it, prints
// "locked" and keeps the lock until its standard input ends. Exit 1 when the row is missing
// or cannot be locked.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "dbaccess/enginetable.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: mintora_lockprobe DIR TABLE ID\n");
    return 2;
  }
  try {
    mt::TEngineTable table;
    table.SetDatabaseName(argv[1]);
    table.SetTableName(argv[2]);
    table.Open();
    if (!table.Locate("id", mt::TVariant(std::stoll(argv[3])))) return 1;
    table.Edit();
    std::cout << "locked" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    table.Cancel();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
