#ifndef IFP_INTERNAL_GUARDS_PARSERMEMORY_H
#define IFP_INTERNAL_GUARDS_PARSERMEMORY_H

#include <cstddef>
#include <xercesc/framework/MemoryManager.hpp>

namespace ifp::internal {

// The memory manager of a reader's parser: every buffer, pool and entity
// reader the parser allocates comes from here. Live memory is kept within a
// budget; a request past it throws Xerces-C's OutOfMemoryException, which
// ends the parse. That bounds what the parser gathers whole (a comment, a
// processing instruction, a CDATA section, an attribute value, white space)
// and what each level of nested entities costs. Memory comes from the global
// operator new, like the library's own manager, so that a block may be given
// back through either.
class TParserMemory final : public xercesc::MemoryManager {
 public:
  explicit TParserMemory(std::size_t budget) noexcept : budget_(budget) {}

  xercesc::MemoryManager* getExceptionMemoryManager() override;
  void* allocate(XMLSize_t size) override;
  void deallocate(void* p) override;

  // Forgets what is in use: for a fresh parser after one that may have lost
  // blocks when its parse ran out of memory.
  void Forget() noexcept { in_use_ = 0; }

 private:
  const std::size_t budget_;
  std::size_t in_use_ = 0;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_PARSERMEMORY_H
