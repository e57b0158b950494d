#include "platform/TemporaryCleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/CleanupRegistry.h"

// The signals that remove the registered files before they end the process.
namespace morv::os {
namespace {

// The signals whose default action ends the process and that may be caught,
// beside the real-time ones. SIGPIPE is left out (a program that must not
// end with its standard output ignores it) and so is SIGXFSZ (ignored while
// outputs are written).
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
};

// The signals above and the real-time signals, whose default action ends
// the process too.
sigset_t CleanupSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : kEndingSignals) sigaddset(&signals, signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&signals, signal_number);
  }
#endif
  return signals;
}

TCleanupRegistry<char, PATH_MAX> g_registry;

void RemoveTemporariesAndEnd(int signal_number) {
  g_registry.RemoveEach([](const char* path) { ::unlink(path); });
  // The signal's own action is back (SA_RESETHAND) and the signal is blocked
  // while this runs: it ends the process as soon as the handler returns.
  ::raise(signal_number);
}

}  // namespace

TCleanupEntry::TCleanupEntry(const std::string& path) noexcept : slot_(g_registry.Add(path)) {}

void TCleanupEntry::Release() noexcept { g_registry.Drop(std::exchange(slot_, -1)); }

TCleanupHold::TCleanupHold() noexcept : saved_{} {
  static_assert(sizeof(sigset_t) <= sizeof(saved_));
  static const sigset_t held = CleanupSignals();
  sigset_t saved;
  ::pthread_sigmask(SIG_BLOCK, &held, &saved);
  std::memcpy(saved_, &saved, sizeof saved);
}

TCleanupHold::~TCleanupHold() {
  sigset_t saved;
  std::memcpy(&saved, saved_, sizeof saved);
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void PrepareCleanup() {
  ::signal(SIGXFSZ, SIG_IGN);
  const sigset_t signals = CleanupSignals();
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&signals, signal_number) != 1) continue;
    // Left alone: a signal ignored since the process started, and one that
    // has a handler of its own.
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace morv::os
