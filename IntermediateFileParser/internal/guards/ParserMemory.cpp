#include "IntermediateFileParser/internal/guards/ParserMemory.h"

#include <new>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "platform/Memory.h"

namespace ifp::internal {

// Exceptions may outlive the parser, so their text comes from the library's
// own manager.
xercesc::MemoryManager* TParserMemory::getExceptionMemoryManager() {
  return xercesc::XMLPlatformUtils::fgMemoryManager;
}

void* TParserMemory::allocate(XMLSize_t size) {
  if (in_use_ >= budget_ || size > budget_ - in_use_) throw xercesc::OutOfMemoryException();
  void* const block = ::operator new(size, std::nothrow);
  if (block == nullptr) throw xercesc::OutOfMemoryException();
  in_use_ += morv::os::UsableSize(block);
  return block;
}

void TParserMemory::deallocate(void* p) {
  if (p == nullptr) return;
  const std::size_t size = morv::os::UsableSize(p);
  in_use_ -= size < in_use_ ? size : in_use_;
  ::operator delete(p);
}

}  // namespace ifp::internal
