#include "platform/CommandLine.h"

#include <windows.h>

#include "platform/DynLib.h"
#include "platform/win32/WideText.h"

namespace plat {

namespace {

// The C run-time's split of the command line into wide arguments, the one its narrow argv comes
// from (msvcrt.dll, documented with __getmainargs). The last argument is the run-time's
// start-up record, of which only its first field, the new-mode flag, is read.
struct StartupInfo {
  int newMode;
};
using WideMainArgsFn = int(PLAT_CDECL*)(int* argc, wchar_t*** argv, wchar_t*** env, int wildcards,
                                        StartupInfo* info);

}  // namespace

std::string ProcessCommandLine() {
  const wchar_t* line = GetCommandLineW();
  std::string text;
  if (!line || !ToUtf8(line, wcslen(line), text)) return {};
  return text;
}

ProgramArguments::ProgramArguments(int argc, char** argv) {
  auto split = LookupEntryAs<WideMainArgsFn>(GetModuleHandleW(L"msvcrt.dll"), "__wgetmainargs");
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** env = nullptr;
  StartupInfo info{0};
  // Older run-times return nothing: the arguments it left tell.
  if (split) split(&count, &wide, &env, 0, &info);
  bool converted = wide && count > 0;
  if (converted) {
    for (int i = 0; i < count && converted; ++i) {
      std::string value;
      converted = wide[i] && ToUtf8(wide[i], wcslen(wide[i]), value);
      values_.push_back(std::move(value));
    }
  }
  if (!converted) {
    values_.clear();
    for (int i = 0; argv && i < argc && argv[i]; ++i) values_.emplace_back(argv[i]);
  }
  for (std::string& v : values_) pointers_.push_back(v.data());
  pointers_.push_back(nullptr);
}

}  // namespace plat
