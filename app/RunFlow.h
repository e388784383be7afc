// The run flow of one start of the tool.
#pragma once

namespace brumel {

int RunMain(int argc, char** argv);

}  // namespace brumel
