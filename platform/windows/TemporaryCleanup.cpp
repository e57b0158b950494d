#include "platform/TemporaryCleanup.h"

#include <windows.h>

#include <utility>

#include "platform/CleanupRegistry.h"
#include "platform/windows/WideText.h"

// Ctrl-C, Ctrl-Break and the console closing are Windows' signals: a console
// control handler removes the registered files, then lets the system's own
// handler end the process as it would have.
namespace morv::os {
namespace {

constexpr std::size_t kLongestPath = 32768;  // in UTF-16 units, with the NUL

TCleanupRegistry<wchar_t, kLongestPath> g_registry;

// A file still open goes once it is closed, which the end of the process
// does: temporary files are opened for sharing deletion.
BOOL WINAPI RemoveTemporaries(DWORD) {
  g_registry.RemoveEach([](const wchar_t* path) { ::DeleteFileW(path); });
  return FALSE;
}

}  // namespace

TCleanupEntry::TCleanupEntry(const std::string& path) noexcept {
  try {
    if (const std::optional<std::wstring> wide = windows::WidePath(path)) {
      slot_ = g_registry.Add(*wide);
    }
  } catch (...) {
    // Without memory for its wide name the file is not registered.
  }
}

void TCleanupEntry::Release() noexcept { g_registry.Drop(std::exchange(slot_, -1)); }

// The handler runs on a thread of its own, beside the program: there is
// nothing to hold.
TCleanupHold::TCleanupHold() noexcept : saved_{} {}

TCleanupHold::~TCleanupHold() = default;

void PrepareCleanup() { ::SetConsoleCtrlHandler(&RemoveTemporaries, TRUE); }

}  // namespace morv::os
