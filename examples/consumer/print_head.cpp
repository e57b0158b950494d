// print_head <document>: reads a texture-pattern document with the reader
// library and prints its head and the size of its tables. Text is printed as
// the document's narrow (CP932) bytes.

#include <cstdio>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"
#include "IntermediateFileParser/XmlPlatform.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: print_head <document>\n", stderr);
    return 2;
  }
  const ifp::TXmlPlatform xml_platform;  // up while the reader lives
  ifp::TMorvDocReader reader;
  ifp::TMorvDocument document;
  if (!reader.Read(&document, argv[1])) {
    std::fprintf(stderr, "%s: %s\n", argv[1], reader.GetFailure().Describe().c_str());
    return 1;
  }
  std::printf("root       %s %s\n", document.root_name.c_str(), document.version.c_str());
  std::printf("created    by %s on %s at %s from %s\n", document.create.user.c_str(),
              document.create.host.c_str(), document.create.date.c_str(),
              document.create.source.c_str());
  std::printf("generator  %s %s\n", document.generator.name.c_str(),
              document.generator.version.c_str());
  std::printf("title      %s\n", document.title.c_str());
  std::printf("comment    %s\n", document.comment.c_str());
  std::printf("steps      %d\n", document.tex_pattern_data.frame_idx.size);
  return 0;
}
