#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace morv::os {

void UseBinaryStandardOutput() noexcept {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

}  // namespace morv::os
