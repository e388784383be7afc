#include "app/RunFlow.h"

int main(int argc, char** argv) { return brumel::RunMain(argc, argv); }
