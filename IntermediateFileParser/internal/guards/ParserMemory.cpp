#include "IntermediateFileParser/internal/guards/ParserMemory.h"

#include <new>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "IntermediateFileParser/internal/guards/ReadError.h"
#include "platform/Memory.h"

namespace ifp::internal {

// Exceptions may outlive the parser, so their text comes from the library's
// own manager.
xercesc::MemoryManager* TParserMemory::getExceptionMemoryManager() {
  return xercesc::XMLPlatformUtils::fgMemoryManager;
}

void* TParserMemory::allocate(XMLSize_t size) {
  using TUse = TMemoryBudget::TUse;
  // A request far past the budget allocates nothing; a block is then charged
  // with what it really takes.
  if (!budget_.Fits(TUse::kParser, size)) Refuse(size);
  void* const block = ::operator new(size, std::nothrow);
  if (block == nullptr) Refuse(size);
  const std::size_t usable = morv::os::UsableSize(block);
  if (!budget_.Take(TUse::kParser, usable)) {
    ::operator delete(block);
    Refuse(usable);
  }
  return block;
}

void TParserMemory::Refuse(std::size_t size) {
  refused_ = size;
  NoteFailurePosition();
  throw xercesc::OutOfMemoryException();
}

void TParserMemory::deallocate(void* p) {
  if (p == nullptr) return;
  budget_.Give(TMemoryBudget::TUse::kParser, morv::os::UsableSize(p));
  ::operator delete(p);
}

}  // namespace ifp::internal
