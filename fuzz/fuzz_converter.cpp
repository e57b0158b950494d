// Fuzz target: arbitrary bytes as an input document, through the whole
// converter: TMorvDocReader::Read, MorvConv::Convert and MorvConv::Write.
// The document and the table file live in anonymous memory files, so a run
// touches nothing on disk.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"
#include "IntermediateFileParser/XmlPlatform.h"
#include "converter/MorvConv.h"

namespace {

// An anonymous memory file, named by a /proc path that opens it afresh.
class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("morv_fuzz", 0)) {}
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  bool Fill(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t wrote = ::write(fd_, data, size);
      if (wrote <= 0) return false;
      data += wrote;
      size -= static_cast<std::size_t>(wrote);
    }
    return true;
  }

 private:
  const int fd_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Up for the whole fuzzing run.
  static const ifp::TXmlPlatform xml_platform;

  MemoryFile input;
  if (!input.ok() || !input.Fill(data, size)) return 0;
  morv::MorvConv conv;
  bool converted = false;
  {
    ifp::TMorvDocReader reader;
    ifp::TMorvDocument document;
    converted = reader.Read(&document, input.path().c_str()) && conv.Convert(document);
  }
  if (converted) {
    MemoryFile output;
    if (output.ok()) conv.Write(output.path().c_str());
  }
  return 0;
}
