// morv_dump: prints a texture-pattern table file for people, draws it as a
// timeline, or checks it against the document it was converted from.
//
//   morv_dump [--format text|csv|json|svg] [--svg FILE] [--document DOC] TABLE

#include <cstdio>
#include <exception>

#include "converter/dump/Driver.h"

int main(int argc, char* argv[]) {
  // What reaches this point is a failure of the machinery itself (the XML
  // platform failing to start, memory running out outside a read).
  try {
    return morv::dump::RunDump(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morv_dump: %s\n", e.what());
  } catch (...) {
    std::fputs("morv_dump: unexpected failure\n", stderr);
  }
  return 1;
}
