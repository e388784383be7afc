#include "app/RunFlow.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "app/Options.h"
#include "config/Config.h"
#include "isp/ChipLink.h"
#include "isp/ISPLdCMD.h"
#include "isp/RunOptions.h"
#include "isp/UpdateIni.h"
#include "led/LedReports.h"
#include "led/Music.h"
#include "led/Vireonrun.h"
#include "platform/CommandLine.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/SharedMemory.h"
#include "platform/ToolFiles.h"
#include "support/Console.h"
#include "support/DebugConsole.h"
#include "support/FileVersion.h"

namespace brumel {

namespace {

constexpr const char* kInstanceGuid = "62E02173-24E1-421D-A0C0-D9EBC7F56EE6";
constexpr const char* kConfigFileName = "BrumelISP.ini";

// Held by the end of the run, and while the single-instance lock object is made.
std::mutex g_ending;

// Shows an error that would otherwise leave the tool uncaught.
void PrintError(const char* text) {
  TConsole::SetTextAttr(12);
  std::printf("%s\n", text);
  TConsole::SetTextAttr(7);
}

// The run ended from outside while its job ran (Linux: SIGTERM or SIGHUP, or its output gone;
// Windows: the console window closed, logoff, shutdown). It ends as every run does, with exit
// code 1: console restored, configuration file deleted, lock released. The main thread is left
// where it was.
void EndRunFromOutside() {
  try {
    FinishRun();
  } catch (...) {
  }
  // The job still holds the device's sharing area; where its name outlives the process
  // (Linux), it goes now unless another process uses it.
  plat::ReleaseSharedMemoryAtEnd();
  plat::ConsoleFlush();
  plat::EndProcessNow(1);
}

// The operator tests: up to four colour rounds (the colour test wins when both are asked for)
// or five button rounds, each on a cleared screen under the banner, until one fails; then the
// end-test report and the verdict. 1 when a round failed, was left with Esc, or the test could
// not run: without a usable link it ends before the first round, so the connection step's lines
// stay on the screen.
int RunOperatorTests(const RunOptionsRecord& o) {
  if (!o.WantColorTest && !o.WantButtonTest) return 0;
  TVireon* vireon = GetVireon();
  const bool colour = o.WantColorTest;
  const int rounds = colour ? 4 : 5;
  int round = 1;
  const bool canRun = TVireon::CanRun(colour, o.InterfaceNumber);
  bool passed = canRun;
  for (; passed && round <= rounds; ++round) {
    plat::ConsoleClear();
    PrintBanner();
    passed =
        colour ? vireon->ColorTest(o.InterfaceNumber, 3) : vireon->ButtonTest(o.InterfaceNumber, 3);
    if (!passed) break;
  }
  TVireon::EndPromptLine();
  // A test that never started has nothing to end on a controller that is not there.
  if (canRun) vireon->EndTest();
  TVireon::PrintVerdict(colour, passed ? rounds : round, rounds, passed);
  return passed ? 0 : 1;
}

// A lighting mode whose reports did not all reach the controller says so; false then.
bool RunLightingMode(const RunOptionsRecord& o) {
  int sent = 0;
  const bool all = SendModePackets(o.Mode, o.Red, o.Green, o.Blue, o.Param, o.AllZones, &sent);
  if (!all) {
    TConsole::SetTextAttr(12);
    const ISPLdCMD* channel = ControllerChannel();
    if (!channel || channel->GetInterface() != ISPLdCMD::kUsbHid) {
      std::printf(
          "The lighting mode needs the USB link (/I 0): LED reports do not travel over "
          "%s\n",
          InterfaceName(o.InterfaceNumber));
    } else if (o.AllZones != 0) {
      std::printf("No controller answers: the lighting mode was not sent\n");
    } else {
      std::printf("No controller answers: the lighting mode reached %d of %d zones\n", sent,
                  ModeReportCount(o.AllZones));
    }
    TConsole::SetTextAttr(7);
  }
  plat::ConsolePause();
  return all;
}

// Main run, steps 2 to 12; errors raised on the way reach RunMain.
int RunSteps(int argc, char** argv) {
  RunOptionsRecord& o = RunOptions();
  if (!AcquireSingleInstance()) {
    TConsole::SetTextAttr(12);
    std::printf("Encountered a sharing violation while accessing\n");
    TConsole::SetTextAttr(7);
    plat::ConsoleFlush();
    return 1;
  }
  if (argc <= 1 || o.CommandLine.find("/?") != std::string::npos || !ParseArguments(argc, argv)) {
    PrintUsage();
    FinishRun();
    return 1;
  }

  TConsole::SetCloseEnabled(false);
  TConsole::SetCursorVisible(false);
  TConsole::SetInputMode(false);
  if (o.AutoMode) TConsole::SetWindowHidden(true);

  const bool connected = OpenControllerLink();
  std::printf("\n");
  int result = 0;
  if (o.HasMode && connected && o.Mode == kMusicMode) {
    RunMusicMode();  // "PAUSE" inside; the music thread has ended when it returns
  } else if (o.HasMode && connected) {
    result = RunLightingMode(o) ? 0 : 1;
  } else if (o.HasMode) {
    // The mode is skipped: the connection step has said why.
    result = 1;
  } else if (o.InterfaceNumber != 0) {
    result = PrintChipInformation() ? 0 : 1;
  } else {
    result = RunOperatorTests(o);
  }
  // Nothing uses the link after the job: closing it here lets the HID sharing area go with
  // its last user.
  ReleaseControllerChannel();

  FinishRun();
  return result;
}

}  // namespace

void InitRun(int, char**) {
  RunOptionsRecord& o = RunOptions();
  plat::ConsoleClear();
  GetConsole();
  // BRUMEL_DEBUG=1 makes the diagnostic log of the whole run: this first request decides.
  GetToolDebugConsole();
  plat::ConsoleSetEndHandler(EndRunFromOutside);
  o.CommandLine = UpperCase(plat::ProcessCommandLine());
  o.Config0 = o.Config1 = 0;
  o.ExeDir = plat::ExecutableDir();
  // Beside the executable: ExeDir, a separator and the name. Installed: the user's private folder.
  o.ConfigPath = plat::RunFilePath(kConfigFileName);
  GetConfig(o.ConfigPath);
}

bool AcquireSingleInstance() {
  RunOptionsRecord& o = RunOptions();
  plat::InstanceLock* lock = nullptr;
  {
    // The end of the run may look at the lock from the end handler's thread meanwhile.
    const std::lock_guard<std::mutex> hold(g_ending);
    if (!o.InstanceMutex) o.InstanceMutex = new plat::InstanceLock(kInstanceGuid);
    lock = o.InstanceMutex;
  }
  return lock->Acquire(1000);
}

void FinishRun() {
  // The end can be reached on the main thread and, at the same moment, on the thread of the end
  // handler (a signal, a closed console): it runs on one at a time, and once. A step that raised
  // leaves it to be run again.
  static bool ended = false;
  const std::lock_guard<std::mutex> hold(g_ending);
  if (ended) return;
  RunOptionsRecord& o = RunOptions();
  ReleaseUpdateDescription();
  o.UpdateDescription = nullptr;
  TConsole::SetCloseEnabled(true);
  TConsole::SetCursorVisible(true);
  TConsole::SetInputMode(true);
  ReleaseConsole();
  // The file belongs to the run that owns the lock: a run that failed before taking it leaves
  // another copy's file alone.
  if (o.InstanceMutex && o.InstanceMutex->Owned()) {
    plat::RemoveFile(o.ConfigPath);
    plat::RemoveRunFolder();
  }
  // The lock's handle stays open until the process ends.
  if (o.InstanceMutex) o.InstanceMutex->Release();
  plat::ConsoleFlush();
  ended = true;
}

std::string GetVersionText() {
  TFileVersion version(GetExeFileName().c_str());
  // Four 16-bit numbers with their dots fit with room to spare.
  char text[32];
  const unsigned build = version.FileVersionBuild();
  if (build != 0) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{version.FileVersionMajor()},
                  unsigned{version.FileVersionMinor()}, unsigned{version.FileVersionRelease()},
                  build);
  } else {
    std::snprintf(text, sizeof text, "%u.%u.%u", unsigned{version.FileVersionMajor()},
                  unsigned{version.FileVersionMinor()}, unsigned{version.FileVersionRelease()});
  }
  return text;
}

void PrintBanner() {
  TConsole::SetTextAttr(15);
  std::printf("=================================================================\n");
  std::printf("           Brumel LED Test Tool v%s %s\n", GetVersionText().c_str(),
              "Built: 20210302");
  std::printf("        Copyright (C) 2021 Brumel. All rights reserved.\n");
  std::printf("=================================================================\n");
  TConsole::SetTextAttr(7);
}

int RunMain(int argc, char** argv) {
  // Before anything is written: a closed output is a write error here, never a signal.
  plat::ConsoleAttach();
  // Every file and library of the tool lives beside the executable, or where the installed
  // layout keeps them. Without either the run stops here, before anything is loaded or touched:
  // the current folder is no substitute.
  if (plat::ExecutableDir().empty()) {
    PrintError("Cannot read the path of the running executable: BrumelISP stops");
    return 1;
  }
  std::string why;
  if (plat::RunFilePath(kConfigFileName, &why).empty()) {
    PrintError(("Cannot make a private folder for the run's files (" + why + "): BrumelISP stops")
                   .c_str());
    return 1;
  }
  int result = 1;
  bool raised = true;
  try {
    InitRun(argc, argv);
    result = RunSteps(argc, argv);
    raised = false;
  } catch (const std::exception& e) {
    PrintError(e.what());
  } catch (...) {
    PrintError("Unexpected error");
  }
  // After an error the run is ended as far as it can go; a second error here changes nothing.
  if (raised) {
    try {
      FinishRun();
    } catch (...) {
    }
  }
  // Output that could not be written is a failed run, whatever the job found.
  return plat::ConsoleOutputLost() ? 1 : result;
}

}  // namespace brumel
