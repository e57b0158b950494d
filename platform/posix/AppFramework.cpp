#include "platform/AppFramework.h"

#include <signal.h>

namespace morv::os {

// A console process on Linux needs no framework of its own: there is no
// module handle, message loop or resource table to set up, so start-up
// cannot fail here.
//
// A closed standard output (a pipe whose reader has gone) must not kill the
// run: its messages are then lost, but the exit status stays the one the run
// decided, so SIGPIPE is ignored and a failed write is just a failed write.
bool InitAppFramework() noexcept {
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

std::vector<std::string> CommandLineArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace morv::os
