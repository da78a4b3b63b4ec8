// A second process for the dataset tests: changes one field of one row through a table dataset
// of its own and reports the outcome on standard output.
//
//   dataset_probe DIR TABLE KEYFIELD KEYVALUE FIELD VALUE [--retries N]
//
// Locates the row of TABLE in DIR whose KEYFIELD equals KEYVALUE, edits FIELD to VALUE (as
// text) and posts. Prints "ok", "missing" when no row matches, or "err CODE" for an engine
// error. --retries sets the record-lock retries (10 ms apart) of the default session.
#include <cstdlib>
#include <iostream>
#include <string>

#include "dbaccess/enginetable.h"
#include "dbaccess/session.h"
#include "engine/common/engineerror.h"

int main(int argc, char** argv) {
  if (argc < 7) {
    std::cerr << "usage: dataset_probe DIR TABLE KEYFIELD KEYVALUE FIELD VALUE [--retries N]\n";
    return 2;
  }
  if (argc >= 9 && std::string(argv[7]) == "--retries") {
    mt::DefaultSession().SetLockRetryCount(static_cast<uint8_t>(std::atoi(argv[8])));
    mt::DefaultSession().SetLockWaitTime(10);
  }
  try {
    mt::TEngineTable table;
    table.SetDatabaseName(argv[1]);
    table.SetTableName(argv[2]);
    table.Open();
    if (!table.Locate(argv[3], mt::TVariant(argv[4]))) {
      std::cout << "missing" << std::endl;
      return 0;
    }
    table.Edit();
    table.FieldByName(argv[5]).SetAsString(argv[6]);
    table.Post();
    std::cout << "ok" << std::endl;
  } catch (const mt::EEngineError& e) {
    std::cout << "err " << e.ErrorCode() << std::endl;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  }
  return 0;
}
