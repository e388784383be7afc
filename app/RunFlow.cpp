#include "app/RunFlow.h"

namespace brumel {

int RunMain(int, char**) { return 1; }

}  // namespace brumel
