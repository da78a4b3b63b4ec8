// A layer above the storage engine including a private header of it: must not compile.
#include "engine/storage/btree.h"

int main() {
  return 0;
}
