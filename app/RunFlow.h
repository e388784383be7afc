// One start of the tool: start-up, the single-instance rule, the command line, the job and
// the common end of the run.
#pragma once
#include <string>

namespace brumel {

int RunMain(int argc, char** argv);

void InitRun(int argc, char** argv);
bool AcquireSingleInstance();
void FinishRun();
void PrintBanner();
std::string GetVersionText();

}  // namespace brumel
