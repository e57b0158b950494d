#include "converter/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"
#include "IntermediateFileParser/XmlPlatform.h"
#include "converter/Messages.h"
#include "converter/MorvConv.h"
#include "platform/AppFramework.h"
#include "platform/InputFile.h"
#include "platform/TemporaryCleanup.h"

namespace morv {
namespace {

// With MORV_CONV_TRACE=1 the reader says on standard error where it starts
// and why a read failed; standard output and the status stay the same.
void TraceToStandardErrorIfAsked(ifp::TXmlDocReader& reader) {
  const char* const setting = std::getenv("MORV_CONV_TRACE");
  if (setting == nullptr || std::strcmp(setting, "1") != 0) return;
  reader.SetTrace([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
}

}  // namespace

bool ConvertDocument(const std::string& input_path, MorvConv& conv, std::FILE* messages) {
  // The reader owns a parser of the XML platform, so it lives only while
  // the platform is up. The document goes first, then the reader, then the
  // platform.
  const ifp::TXmlPlatform xml_platform;
  ifp::TMorvDocReader reader;
  TraceToStandardErrorIfAsked(reader);
  ifp::TMorvDocument document;
  if (!reader.Read(&document, input_path.c_str())) {
    std::fprintf(messages, msg::kReadFailed, os::DisplayPath(input_path).c_str());
    return false;
  }
  if (!conv.Convert(document)) {
    std::fputs(msg::kConvertFailed, messages);
    return false;
  }
  return true;
}

int RunConverter(int argc, char* argv[]) {
  if (!os::InitAppFramework()) {
    std::fputs(msg::kFrameworkInitFailed, stdout);
    return 1;
  }
  const std::vector<std::string> arguments = os::CommandLineArguments(argc, argv);
  if (arguments.size() < 3) {
    std::fputs(msg::kTooFewArguments, stdout);
    return 1;
  }
  const std::string& input_path = arguments[1];
  const char* const output_path = arguments[2].c_str();

  MorvConv conv;
  if (!ConvertDocument(input_path, conv, stdout)) return 1;

  // The input is closed and released by now, so the output may replace it.
  // From here on a file-size limit fails the write rather than ending the
  // run, and an interrupted run leaves no temporary file.
  os::PrepareCleanup();
  if (!conv.Write(output_path)) {
    std::fputs(msg::kWriteFailed, stdout);
    return 1;
  }
  return 0;
}

}  // namespace morv
