// morv_conv: converts an intermediate texture-pattern animation document
// (XML) into the texture-pattern table file.
//
//   morv_conv <input document> <output table file>

#include <cstdio>
#include <exception>

#include "converter/Driver.h"

int main(int argc, char* argv[]) {
  // The converter reports its own failures. What reaches this point is a
  // failure of the machinery itself (the XML platform failing to start, or
  // memory running out outside a read): the run ends with status 1 and,
  // like every early end, without creating or touching the output file.
  try {
    return morv::RunConverter(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morv_conv: %s\n", e.what());
  } catch (...) {
    std::fputs("morv_conv: unexpected failure\n", stderr);
  }
  return 1;
}
