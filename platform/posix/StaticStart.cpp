// The entry point of a static, position-independent program on x86-64
// Linux (MorvStaticProgram.cmake). Before the C library's start-up code
// runs, it faults in what that start-up and a conversion are sure to touch,
// one system call per range instead of one page fault per page:
//  - the program's code (3 MB), otherwise mapped from the page cache one
//    fault at a time as it first runs: about 35 faults in a typical
//    conversion;
//  - the data that the program's relocations write as it starts: every
//    pointer in its vtables, type information and the libraries' tables,
//    otherwise copied from the file one fault per page: about 40 more.
// On some virtual machines a page fault costs ten times what faulting the
// same page in together with its neighbours does.
//
// Nothing here may need a relocation, thread-local storage or the C library:
// none of them is ready yet. So the program's own headers are found through
// the linker's __ehdr_start (addressed relative to the code), the system
// call is made directly, and this file is built without the stack protector.
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/syscall.h>

#include <cstdint>

extern "C" {

[[gnu::visibility("hidden")]] extern const ElfW(Ehdr) __ehdr_start;

}  // extern "C"

namespace {

constexpr std::uintptr_t kPage = 4096;

// madvise(2) without the C library. A kernel that does not know the advice
// refuses it, and the pages are then faulted in one at a time as before.
void Advise(std::uintptr_t first, std::uintptr_t last, int advice) noexcept {
  first &= ~(kPage - 1);
  long status = 0;
  asm volatile("syscall"
               : "=a"(status)
               : "0"(SYS_madvise), "D"(first), "S"(last - first), "d"(advice)
               : "rcx", "r11", "memory");
  static_cast<void>(status);
}

}  // namespace

// The rest of the data segment is left to be faulted in as it is used:
// faulting all of it in ahead cost more than it saved.
extern "C" [[gnu::used, gnu::visibility("hidden")]] void morv_prefault_program() noexcept {
#if defined(MADV_POPULATE_READ) && defined(MADV_POPULATE_WRITE)
  const auto base = reinterpret_cast<std::uintptr_t>(&__ehdr_start);
  const auto* const segments = reinterpret_cast<const ElfW(Phdr)*>(base + __ehdr_start.e_phoff);
  for (ElfW(Half) i = 0; i < __ehdr_start.e_phnum; ++i) {
    const ElfW(Phdr)& segment = segments[i];
    const std::uintptr_t first = base + segment.p_vaddr;
    const std::uintptr_t last = first + segment.p_memsz;
    if (segment.p_type == PT_GNU_RELRO) {
      Advise(first, last, MADV_POPULATE_WRITE);
    } else if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
      Advise(first, last, MADV_POPULATE_READ);
    }
  }
#endif
}

// The kernel enters here with the stack as the C library's _start expects
// it and %rdx holding a function for atexit; %rdx is kept across the call
// in a register that the called function preserves (%r12), and _start is
// then entered as if directly.
asm(R"(
    .text
    .globl morv_static_start
    .type morv_static_start, @function
morv_static_start:
    mov %rdx, %r12
    call morv_prefault_program
    mov %r12, %rdx
    jmp _start
    .size morv_static_start, . - morv_static_start
)");
