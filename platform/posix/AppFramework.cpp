#include "platform/AppFramework.h"

#include <malloc.h>
#include <signal.h>

namespace morv::os {

// A console process on Linux needs no framework of its own: there is no
// module handle, message loop or resource table to set up, so start-up
// cannot fail here. What is set up is the allocator: the XML parser makes
// and drops a large read buffer for every entity it expands, and with the
// default settings each of them grows and trims the heap anew. Keeping a
// few MiB of pad at the top of the heap (address space only; untouched pages
// take no memory) lets those buffers reuse the same pages. The pad stays
// small enough that the large lists and tables still get pages of their own.
//
// A closed standard output (a pipe whose reader has gone) must not kill the
// run: its messages are then lost, but the exit status stays the one the run
// decided, so SIGPIPE is ignored and a failed write is just a failed write.
bool InitAppFramework() noexcept {
  ::mallopt(M_TOP_PAD, 4 << 20);
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

std::vector<std::string> CommandLineArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace morv::os
