#ifndef IFP_INTERNAL_GUARDS_PARSERMEMORY_H
#define IFP_INTERNAL_GUARDS_PARSERMEMORY_H

#include <cstddef>
#include <xercesc/framework/MemoryManager.hpp>

#include "IntermediateFileParser/internal/guards/MemoryBudget.h"

namespace ifp::internal {

// The memory manager of a reader's parser: every buffer, pool and entity
// reader the parser allocates comes from here. Live memory is taken from the
// read's memory budget (within the parser's own part of it); a request past
// it throws Xerces-C's OutOfMemoryException, which ends the parse. That
// bounds what the parser gathers whole (a comment, a processing instruction,
// a CDATA section, an attribute value, white space) and what each level of
// nested entities costs. Memory comes from the global operator new, like the
// library's own manager, so that a block may be given back through either.
class TParserMemory final : public xercesc::MemoryManager {
 public:
  explicit TParserMemory(TMemoryBudget& budget) noexcept : budget_(budget) {}

  xercesc::MemoryManager* getExceptionMemoryManager() override;
  void* allocate(XMLSize_t size) override;
  void deallocate(void* p) override;

  // Forgets what is in use: for a fresh parser after one that may have lost
  // blocks when its parse ran out of memory.
  void Forget() noexcept { budget_.ForgetParser(); }

  // The size of the last request refused.
  std::size_t Refused() const noexcept { return refused_; }

 private:
  [[noreturn]] void Refuse(std::size_t size);

  TMemoryBudget& budget_;
  std::size_t refused_ = 0;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_PARSERMEMORY_H
