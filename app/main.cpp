#include "app/RunFlow.h"
#include "platform/DynLib.h"

int main(int argc, char** argv) {
  // Before anything can load a library: system libraries come from the system only.
  plat::RestrictLibrarySearch();
  return brumel::RunMain(argc, argv);
}
