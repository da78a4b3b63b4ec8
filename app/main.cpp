// Program entry of Mintora.
#include "startup.h"

int main(int argc, char** argv) {
  return mt::app::RunProgram(argc, argv);
}
