#ifndef IFP_INTERNAL_SAX_DOCUMENTINPUT_H
#define IFP_INTERNAL_SAX_DOCUMENTINPUT_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

#include "IntermediateFileParser/ReadFailure.h"
#include "platform/InputFile.h"

namespace ifp::internal {

class TExpansionMeter;

// Which file an open file is, whatever path it was opened by.
using TFileId = morv::os::TFileId;

// What a file's bytes are to the expansion meter.
enum class TByteUse {
  kInput,     // the document, or an external resource read for the first time
  kExpansion  // an external entity read once more
};

// Streams a file to the parser as it is read; nothing is read whole first,
// so an endless input (a device, a pipe) is parsed until the parser stops.
// The bytes read are reported to the meter, if there is one.
class TFileStream : public xercesc::BinInputStream {
 public:
  // A file that cannot be read ends the read with `failure`.
  TFileStream(morv::os::TInputFile file, TReadFailure::TKind failure, TExpansionMeter* meter,
              TByteUse use) noexcept
      : file_(std::move(file)), failure_(failure), meter_(meter), use_(use) {}

  XMLFilePos curPos() const override { return position_; }
  // Throws TReadError when the file cannot be read.
  XMLSize_t readBytes(XMLByte* const to_fill, const XMLSize_t max_to_read) override;
  const XMLCh* getContentType() const override { return nullptr; }

 private:
  morv::os::TInputFile file_;
  const TReadFailure::TKind failure_;
  TExpansionMeter* const meter_;
  const TByteUse use_;
  bool first_read_ = true;
  XMLFilePos position_ = 0;
};

// A document or an external entity read from a local file, named by the exact
// bytes of its path (morv::os::TInputFile): a path in UTF-8, in raw Shift_JIS
// or in any other bytes opens as given. The file is opened at construction, so that a missing file
// or a directory is known before the parse starts. The document may be a pipe
// or a device; what a document names must be a regular file, and is opened
// without waiting, so that it cannot make the read wait on a terminal, a
// device or a pipe.
class TDocumentInput : public xercesc::InputSource {
 public:
  // What a path may name.
  enum class TKind {
    kAnyFile,     // the document itself: a regular file, a pipe or a device
    kRegularFile  // an external DTD or entity: a regular file only
  };

  // Throws TReadError when the file cannot be opened, is a directory, or is
  // not a regular file where one is required: an input failure for the
  // document, a refused resource for what it names.
  explicit TDocumentInput(std::string path, TKind kind = TKind::kAnyFile,
                          TExpansionMeter* meter = nullptr, TByteUse use = TByteUse::kInput);

  // Hands the opened file to the parser, which adopts the stream.
  xercesc::BinInputStream* makeStream() const override;

  // The file's size when it is a regular file.
  std::optional<std::uint64_t> Size() const { return size_; }
  // The file opened, however its path spells it.
  TFileId Id() const { return id_; }
  // Changes what the file's bytes are to the meter; before the parser asks
  // for the stream.
  void SetByteUse(TByteUse use) noexcept { use_ = use; }

  // The path bytes behind a system id that a TDocumentInput has set.
  static std::string PathOf(const XMLCh* system_id);

 private:
  std::string path_;
  TKind kind_;
  TExpansionMeter* meter_;
  TByteUse use_;
  std::optional<std::uint64_t> size_;
  TFileId id_;
  mutable morv::os::TInputFile file_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_SAX_DOCUMENTINPUT_H
