#include "platform/Console.h"

namespace morv::os {

// Standard output is a stream of bytes already.
void UseBinaryStandardOutput() noexcept {}

}  // namespace morv::os
