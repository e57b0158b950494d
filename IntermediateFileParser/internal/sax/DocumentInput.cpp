#include "IntermediateFileParser/internal/sax/DocumentInput.h"

#include <memory>
#include <optional>
#include <utility>

#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"

namespace ifp::internal {
namespace {

TReadFailure::TKind FailureKindOf(TDocumentInput::TKind kind) {
  return kind == TDocumentInput::TKind::kAnyFile ? TReadFailure::TKind::kInput
                                                 : TReadFailure::TKind::kResource;
}

// Opens a file for reading and checks what it is: never a directory, and a
// regular file where one is required, refused at once otherwise. `size`
// receives a regular file's size, `id` the file's identity.
morv::os::TInputFile OpenChecked(const std::string& path, TDocumentInput::TKind kind,
                                 std::optional<std::uint64_t>& size, TFileId& id) {
  std::string problem;
  morv::os::TInputFile file = morv::os::TInputFile::Open(
      path,
      kind == TDocumentInput::TKind::kRegularFile ? morv::os::TInputFile::TKind::kDiskFile
                                                  : morv::os::TInputFile::TKind::kAnyFile,
      problem);
  if (!file.IsOpen()) throw ReadError(FailureKindOf(kind), problem);
  size = file.Size();
  id = file.Id();
  return file;
}

// The system id under which the parser knows a file: each byte of the path
// becomes one UTF-16 unit of the same value, so the path's exact bytes can be
// taken back from it (PathOf) whatever their encoding.
std::u16string SystemIdOf(const std::string& path) {
  std::u16string id(path.size(), u'\0');
  for (std::size_t i = 0; i < path.size(); ++i) id[i] = static_cast<unsigned char>(path[i]);
  return id;
}

}  // namespace

XMLSize_t TFileStream::readBytes(XMLByte* const to_fill, const XMLSize_t max_to_read) {
  std::string problem;
  const std::optional<std::size_t> read = file_.Read(to_fill, max_to_read, problem);
  if (!read) throw ReadError(failure_, problem);
  const std::size_t got = *read;
  position_ += static_cast<XMLFilePos>(got);
  if (meter_ != nullptr) {
    if (use_ == TByteUse::kInput) {
      meter_->AddInput(static_cast<std::uint64_t>(got));
    } else if (std::exchange(first_read_, false)) {
      // The parser reads the first block while it makes the reader of the
      // entity, which an exception would leave half made: that block is
      // counted only, and the next read (the end of the file included)
      // stops a read that has expanded too much.
      meter_->CountExpansion(static_cast<std::uint64_t>(got));
    } else {
      meter_->AddExpansion(static_cast<std::uint64_t>(got));
    }
  }
  return static_cast<XMLSize_t>(got);
}

TDocumentInput::TDocumentInput(std::string path, TKind kind, TExpansionMeter* meter, TByteUse use)
    : path_(std::move(path)),
      kind_(kind),
      meter_(meter),
      use_(use),
      file_(OpenChecked(path_, kind, size_, id_)) {
  setSystemId(SystemIdOf(path_).c_str());
}

xercesc::BinInputStream* TDocumentInput::makeStream() const {
  // A stream asked for once more opens the file anew, with the same checks.
  std::optional<std::uint64_t> size;
  TFileId id;
  morv::os::TInputFile file =
      file_.IsOpen() ? std::move(file_) : OpenChecked(path_, kind_, size, id);
  // The parser adopts the stream and deletes it when it is done.
  return std::make_unique<TFileStream>(std::move(file), FailureKindOf(kind_), meter_, use_)
      .release();
}

std::string TDocumentInput::PathOf(const XMLCh* system_id) {
  std::string path;
  for (; system_id != nullptr && *system_id != 0; ++system_id) {
    path.push_back(static_cast<char>(*system_id));
  }
  return path;
}

}  // namespace ifp::internal
