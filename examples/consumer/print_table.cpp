// print_table <table file>: reads a texture-pattern table file with the
// reader of table files and prints its count and its last step.

#include <cstdio>
#include <optional>

#include "converter/TableFile.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: print_table <table file>\n", stderr);
    return 2;
  }
  morv::TableFailure failure;
  const std::optional<morv::PatternTable> table = morv::ReadTableFile(argv[1], failure);
  if (!table) {
    std::fprintf(stderr, "%s: %s\n", argv[1], failure.Describe().c_str());
    return 1;
  }
  std::printf("steps      %u\n", static_cast<unsigned>(table->Count()));
  if (table->Count() > 0) {
    const std::size_t last = table->Count() - 1;
    std::printf(
        "last step  frame %u, texture %u, palette %u\n", static_cast<unsigned>(table->frames[last]),
        static_cast<unsigned>(table->textures[last]), static_cast<unsigned>(table->palettes[last]));
  }
  return 0;
}
