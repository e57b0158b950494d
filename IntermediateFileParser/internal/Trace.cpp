#include "IntermediateFileParser/internal/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ifp::internal {

void Trace(const char* format, ...) {
  const char* const setting = std::getenv("MORV_CONV_TRACE");
  if (setting == nullptr || std::strcmp(setting, "1") != 0) return;
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

}  // namespace ifp::internal
