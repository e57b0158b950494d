// check_library <document>: what a converter built on the reader library
// relies on, seen from outside the library's tree. A reader given a lower
// depth limit refuses a document that nests deeper and says where; the
// library's errors come as its public types.

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: check_library <document nesting three levels or more>\n", stderr);
    return 2;
  }
  try {
    ifp::TMorvDocReader reader;
    ifp::TReadLimits limits = reader.GetLimits();
    limits.max_depth = 3;
    reader.SetLimits(limits);
    ifp::TMorvDocument document;
    if (reader.Read(&document, argv[1])) {
      std::puts("read, though it nests deeper than the limit");
      return 1;
    }
    const ifp::TReadFailure& failure = reader.GetFailure();
    std::printf("refused: %s\n", failure.Describe().c_str());
    if (failure.limit != ifp::TReadFailure::TLimit::kDepth || failure.line == 0 ||
        failure.column == 0) {
      return 1;
    }

    std::vector<int> values;
    try {
      ifp::TXmlDocReader::ToIntList(values, "1 2 3", 2);
      std::puts("three values taken for two");
      return 1;
    } catch (const ifp::TReadError& e) {
      std::printf("caught: %s\n", e.Failure().Describe().c_str());
    }

    limits.max_depth = -1;
    try {
      reader.SetLimits(limits);
      std::puts("a negative limit taken");
      return 1;
    } catch (const std::invalid_argument& e) {
      std::printf("caught: %s\n", e.what());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "check_library: %s\n", e.what());
    return 1;
  }
}
