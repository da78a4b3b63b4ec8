// A layer above the storage engine: its public headers compile on their own.
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/tablecheck.h"

int main() {
  return 0;
}
