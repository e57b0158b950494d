#ifndef IFP_INTERNAL_GUARDS_EXPANSIONMETER_H
#define IFP_INTERNAL_GUARDS_EXPANSIONMETER_H

#include <cstdint>
#include <optional>

#include "IntermediateFileParser/ReadLimits.h"
#include "IntermediateFileParser/internal/guards/MemoryBudget.h"

namespace ifp::internal {

// Measures, during one read, how much a document makes the parser produce
// beyond its own bytes: the text of every internal entity each time it is
// expanded (general and parameter entities, in content, attribute values and
// the DTD alike), the bytes of an external entity each time it is read again,
// and every attribute value (a DTD default repeats one on each element).
// It also tells the memory budget how large the input is, and charges it
// with what the document model keeps. The document's own bytes are its
// input: the file's size when it is known, what has been read so far
// otherwise. Past the limits of TReadLimits the read is refused with
// TReadError.
class TExpansionMeter {
 public:
  // Draws its figures from `limits`, which outlives it.
  TExpansionMeter(TMemoryBudget& budget, const TReadLimits& limits) noexcept
      : budget_(budget), limits_(limits) {}

  // A new read of a document of this size (none for a pipe or a device).
  void Start(std::optional<std::uint64_t> document_size) noexcept;

  // Bytes of the document itself (or of an external resource read the first
  // time), as they are read.
  void AddInput(std::uint64_t bytes) noexcept {
    input_ += bytes;
    budget_.SetInput(Input());
  }
  // UTF-16 units (or bytes of a re-read file) produced by an expansion.
  // Throws TReadError once the read has produced too much.
  void AddExpansion(std::uint64_t units) {
    expanded_ += units;
    if (expanded_ > allowed_ || references_ > limits_.max_entity_references ||
        open_entities_ > static_cast<std::uint64_t>(limits_.max_entity_nesting)) {
      Check();
    }
  }
  // The same, counted only: where throwing would leave the parser's work
  // half done. The next AddExpansion throws if there has been too much.
  void CountExpansion(std::uint64_t units) noexcept { expanded_ += units; }
  // An internal entity starts being expanded: one more reference, one more
  // level open. Counted only; the next expansion throws when there have been
  // too many.
  void EnterEntity() noexcept {
    ++references_;
    ++open_entities_;
  }
  // An internal entity has been read to its end.
  void LeaveEntity() noexcept {
    if (open_entities_ > 0) --open_entities_;
  }
  // One more reference to an external entity.
  void AddReference() noexcept { ++references_; }
  // Throws TReadError when there have been too many entity references.
  void CheckReferences() const;

  std::uint64_t References() const noexcept { return references_; }

  // Bytes of memory that the document model now keeps from the read, taken
  // from the memory budget. Throws TReadError (the kept-data limit) when the
  // budget has no room for them.
  void AddKept(std::uint64_t bytes) {
    if (!budget_.Take(TMemoryBudget::TUse::kModel, bytes)) FailKept(bytes);
  }
  // Bytes the document model no longer keeps (a value replaced).
  void ReleaseKept(std::uint64_t bytes) noexcept {
    budget_.Give(TMemoryBudget::TUse::kModel, bytes);
  }

 private:
  // The input so far: the document (all of it when its size is known) and
  // the external files read for the first time.
  std::uint64_t Input() const noexcept {
    return document_size_ && *document_size_ > input_ ? *document_size_ : input_;
  }
  [[noreturn]] void Fail() const;
  [[noreturn]] void FailKept(std::uint64_t bytes) const;
  void Check();

  TMemoryBudget& budget_;
  const TReadLimits& limits_;

  std::optional<std::uint64_t> document_size_;
  std::uint64_t input_ = 0;
  std::uint64_t expanded_ = 0;
  std::uint64_t references_ = 0;
  std::uint64_t allowed_ = 0;
  // Readers of internal entities alive; kept across reads, since the parser
  // may drop the readers of a failed read only when it next starts.
  std::uint64_t open_entities_ = 0;
};

// Makes a meter the one that the entity expansions of this thread's parser
// are counted by, for as long as it lives.
class TActiveExpansionMeter {
 public:
  explicit TActiveExpansionMeter(TExpansionMeter& meter) noexcept;
  ~TActiveExpansionMeter();
  TActiveExpansionMeter(const TActiveExpansionMeter&) = delete;
  TActiveExpansionMeter& operator=(const TActiveExpansionMeter&) = delete;

 private:
  TExpansionMeter* previous_;
};

// Puts the counting reader of internal entities into the XML platform.
// Needs XMLPlatformUtils::Initialize; does nothing when it is already there.
// TXmlPlatform calls it once, under its lock, as the platform comes up.
void InstallEntityTextCounter();

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_GUARDS_EXPANSIONMETER_H
