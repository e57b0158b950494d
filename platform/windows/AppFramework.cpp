#include "platform/AppFramework.h"

#include <windows.h>
// The shell's declarations need the system's own first.
#include <shellapi.h>

#include <cwchar>

#include "platform/windows/WideText.h"

namespace morv::os {

// A console program's framework start-up is its module and its command line:
// the framework is ready when the system names both. Neither can be missing
// in a process that is running, but the driver's failure message stays the
// answer if it ever is.
//
// A missing drive or an unreadable disk is reported to this program as a
// failed open, never as a dialog box waiting for someone to click it: the
// converter runs unattended in builds.
bool InitAppFramework() noexcept {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return ::GetModuleHandleW(nullptr) != nullptr && ::GetCommandLineW() != nullptr;
}

std::vector<std::string> CommandLineArguments(int, char*[]) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* const wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  try {
    for (int i = 0; i < count; ++i) {
      arguments.push_back(windows::NarrowPath(wide[i], std::wcslen(wide[i])));
    }
  } catch (...) {
    ::LocalFree(wide);
    throw;
  }
  ::LocalFree(wide);
  return arguments;
}

}  // namespace morv::os
