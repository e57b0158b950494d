#include "IntermediateFileParser/DocumentInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "IntermediateFileParser/ReadError.h"

namespace ifp {
namespace {

TFileDescriptor OpenForReading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw TReadError("cannot open " + path + ": " + std::strerror(errno));
  return TFileDescriptor(fd);
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

TFileDescriptor& TFileDescriptor::operator=(TFileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

TFileDescriptor::~TFileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

XMLSize_t TFileStream::readBytes(XMLByte* const to_fill, const XMLSize_t max_to_read) {
  ssize_t got;
  do {
    got = ::read(file_.Get(), to_fill, max_to_read);
  } while (got < 0 && errno == EINTR);
  if (got < 0) throw TReadError(std::string("cannot read the input: ") + std::strerror(errno));
  position_ += static_cast<XMLFilePos>(got);
  return static_cast<XMLSize_t>(got);
}

TDocumentInput::TDocumentInput(std::string path, TKind kind)
    : path_(std::move(path)), file_(OpenForReading(path_)) {
  struct stat info {};
  if (::fstat(file_.Get(), &info) != 0) {
    throw TReadError("cannot examine " + path_ + ": " + std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) throw TReadError(path_ + " is a directory");
  if (kind == TKind::kRegularFile && !S_ISREG(info.st_mode)) {
    throw TReadError(path_ + " is not a regular file");
  }
  if (S_ISREG(info.st_mode)) size_ = static_cast<std::uint64_t>(info.st_size);
  setSystemId(SystemIdOf(path_).c_str());
}

xercesc::BinInputStream* TDocumentInput::makeStream() const {
  TFileDescriptor file = file_.Get() >= 0 ? std::move(file_) : OpenForReading(path_);
  // The parser adopts the stream and deletes it when it is done.
  return std::make_unique<TFileStream>(std::move(file)).release();
}

std::string TDocumentInput::PathOf(const XMLCh* system_id) {
  std::string path;
  for (; system_id != nullptr && *system_id != 0; ++system_id) {
    path.push_back(static_cast<char>(*system_id));
  }
  return path;
}

}  // namespace ifp
