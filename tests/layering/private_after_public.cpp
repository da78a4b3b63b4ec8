// The same after a public header has brought the private one in: must not compile either.
#include "engine/storage/datatable.h"
#include "engine/storage/tablelocks.h"

int main() {
  return 0;
}
