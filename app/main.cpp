#include "app/RunFlow.h"
#include "platform/CommandLine.h"
#include "platform/DynLib.h"

int main(int argc, char** argv) {
  // Before anything can load a library: system libraries come from the system only.
  plat::RestrictLibrarySearch();
  // The arguments in UTF-8, the tool's text everywhere (file names of any language).
  plat::ProgramArguments arguments(argc, argv);
  return brumel::RunMain(arguments.Count(), arguments.Values());
}
