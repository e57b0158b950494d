#ifndef IFP_INTERNAL_GUARDS_MEMORYBUDGET_H
#define IFP_INTERNAL_GUARDS_MEMORYBUDGET_H

#include <cstdint>

#include "IntermediateFileParser/ReadLimits.h"

namespace ifp::internal {

// The one budget of the memory a document makes a read hold, whatever holds
// it: the document model's records, names and lists, the parser's own memory
// (its buffers, its DTD, the readers of the entities it expands), and the
// narrow copies of names, values and texts made on the way. All of them draw
// on one pool of the limits' memory_floor plus memory_factor times the input,
// so that they cannot each be full at once. The parser's part is held to
// parser_memory_budget besides.
class TMemoryBudget {
 public:
  // Draws its figures from `limits`, which outlives it.
  explicit TMemoryBudget(const TReadLimits& limits) noexcept
      : limits_(limits), allowed_(limits.memory_floor) {}

  enum class TUse {
    kModel,   // what the document model keeps
    kParser,  // the parser's live memory
    kCopies,  // narrow copies that live while a start tag or a text is handled
  };

  // A new read of an input of `input` bytes so far: the model and the copies
  // start with nothing, the parser keeps what it holds from the reads before.
  void StartRead(std::uint64_t input) noexcept {
    model_ = 0;
    copies_ = 0;
    allowed_ = AllowedFor(input);
  }
  // More input is known (the rest of a pipe, an external file read the first
  // time): the pool grows with it, never shrinks.
  void SetInput(std::uint64_t input) noexcept {
    const std::uint64_t allowed = AllowedFor(input);
    if (allowed > allowed_) allowed_ = allowed;
  }

  // Whether the pool (and for the parser its own part) has room for `bytes`
  // more for `use`.
  bool Fits(TUse use, std::uint64_t bytes) const noexcept {
    if (bytes > allowed_ || Held() > allowed_ - bytes) return false;
    return use != TUse::kParser || parser_ + bytes <= limits_.parser_memory_budget;
  }
  // Takes `bytes` for `use`; false, taking nothing, when they do not fit.
  bool Take(TUse use, std::uint64_t bytes) noexcept {
    if (!Fits(use, bytes)) return false;
    Counter(use) += bytes;
    return true;
  }
  // Gives back what `use` no longer holds.
  void Give(TUse use, std::uint64_t bytes) noexcept {
    std::uint64_t& counter = Counter(use);
    counter -= bytes < counter ? bytes : counter;
  }
  // A parser that may have lost blocks is replaced by a new one.
  void ForgetParser() noexcept { parser_ = 0; }

  std::uint64_t Held() const noexcept { return model_ + parser_ + copies_; }
  std::uint64_t HeldFor(TUse use) const noexcept {
    return use == TUse::kModel ? model_ : use == TUse::kParser ? parser_ : copies_;
  }
  std::uint64_t Allowed() const noexcept { return allowed_; }

 private:
  std::uint64_t AllowedFor(std::uint64_t input) const noexcept {
    return limits_.memory_floor + limits_.memory_factor * input;
  }
  std::uint64_t& Counter(TUse use) noexcept {
    return use == TUse::kModel ? model_ : use == TUse::kParser ? parser_ : copies_;
  }

  const TReadLimits& limits_;
  std::uint64_t model_ = 0;
  std::uint64_t parser_ = 0;
  std::uint64_t copies_ = 0;
  // Before the first read only the parser is made: the floor.
  std::uint64_t allowed_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_MEMORYBUDGET_H
