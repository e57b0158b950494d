#include "platform/AppFramework.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/Memory.h"

namespace morv::os {
namespace {

// A block small enough to come from the heap rather than a mapping of its
// own, and what is faulted in from it on: about what the parser, the
// decoders and the model of a typical document take.
constexpr std::size_t kWarmBlockBytes = 64 << 10;
constexpr std::size_t kWarmBytes = 384 << 10;

// Faults in the heap's next pages in one call. A page first written costs a
// page fault, and on some virtual machines a fault costs ten times what
// faulting the same page in together with its neighbours does: a typical
// conversion wrote about 40 fresh heap pages one fault at a time. Taking a
// block makes the heap grow by the top pad (set before this runs); the pages
// from the block on, as far as the heap reaches, are then faulted in, and the
// block goes back to the heap's top, so the allocations that follow land on
// pages already there.
void WarmHeap() noexcept {
  void* const block = std::malloc(kWarmBlockBytes);
  if (block == nullptr) return;
  const auto first = reinterpret_cast<std::uintptr_t>(block);
  // The end of the heap; below the block when the block came from elsewhere.
  const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (end > first) PopulatePages(first, std::min(first + kWarmBytes, end));
  std::free(block);
}

}  // namespace

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
  WarmHeap();
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

std::vector<std::string> CommandLineArguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace morv::os
