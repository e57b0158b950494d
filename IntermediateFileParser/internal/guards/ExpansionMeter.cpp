#include "IntermediateFileParser/internal/guards/ExpansionMeter.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <xercesc/framework/XMLRecognizer.hpp>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/XMLChTranscoder.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "IntermediateFileParser/internal/decoders/RecognizerMappings.h"
#include "IntermediateFileParser/internal/guards/ReadError.h"

namespace ifp::internal {
namespace {

thread_local TExpansionMeter* active_meter = nullptr;

// Reads the text of an internal entity, which the parser holds as UTF-16
// already: the library's own reader, counting what it hands on. The parser
// makes one for each entity it expands.
class TEntityTextTranscoder final : public xercesc::XMLChTranscoder {
 public:
  TEntityTextTranscoder(const XMLCh* encoding_name, XMLSize_t block_size,
                        xercesc::MemoryManager* manager)
      : XMLChTranscoder(encoding_name, block_size, manager), meter_(active_meter) {
    // Counted only: throwing here would leave the parser's half-made entity
    // reader behind. The text read next is where the read stops.
    if (meter_ != nullptr) meter_->EnterEntity();
  }
  ~TEntityTextTranscoder() override {
    if (meter_ != nullptr) meter_->LeaveEntity();
  }
  TEntityTextTranscoder(const TEntityTextTranscoder&) = delete;
  TEntityTextTranscoder& operator=(const TEntityTextTranscoder&) = delete;

  XMLSize_t transcodeFrom(const XMLByte* const source, const XMLSize_t source_bytes,
                          XMLCh* const to_fill, const XMLSize_t max_chars, XMLSize_t& bytes_eaten,
                          unsigned char* const char_sizes) override {
    const XMLSize_t chars = XMLChTranscoder::transcodeFrom(source, source_bytes, to_fill, max_chars,
                                                           bytes_eaten, char_sizes);
    if (meter_ != nullptr) meter_->AddExpansion(chars);
    return chars;
  }

 private:
  TExpansionMeter* const meter_;
};

}  // namespace

void TExpansionMeter::Start(std::optional<std::uint64_t> document_size) noexcept {
  document_size_ = document_size;
  input_ = 0;
  expanded_ = 0;
  references_ = 0;
  allowed_ =
      std::max(limits_.expansion_floor, limits_.expansion_factor * document_size.value_or(0));
  budget_.StartRead(Input());
}

void TExpansionMeter::FailKept(std::uint64_t bytes) const {
  using TUse = TMemoryBudget::TUse;
  throw ReadError(TReadFailure::TLimit::kKeptData,
                  "the document kept " + std::to_string(budget_.HeldFor(TUse::kModel) + bytes) +
                      " bytes (the parser held " + std::to_string(budget_.HeldFor(TUse::kParser)) +
                      ", copies " + std::to_string(budget_.HeldFor(TUse::kCopies)) +
                      ") from an input of " + std::to_string(Input()) + " bytes");
}

void TExpansionMeter::CheckReferences() const {
  if (references_ > limits_.max_entity_references) {
    throw ReadError(
        TReadFailure::TLimit::kEntityReferences,
        "more than " + std::to_string(limits_.max_entity_references) + " entity references");
  }
}

void TExpansionMeter::Check() {
  CheckReferences();
  if (open_entities_ > static_cast<std::uint64_t>(limits_.max_entity_nesting)) {
    throw ReadError(
        TReadFailure::TLimit::kEntityNesting,
        "entities nested more than " + std::to_string(limits_.max_entity_nesting) + " levels deep");
  }
  // A document read from a pipe is allowed as much as it has shown so far.
  allowed_ = std::max(allowed_, limits_.expansion_factor * input_);
  if (expanded_ > allowed_) Fail();
}

void TExpansionMeter::Fail() const {
  throw ReadError(TReadFailure::TLimit::kEntityExpansion,
                  "entities and attribute values expanded to " + std::to_string(expanded_) +
                      " characters from a document of " +
                      std::to_string(document_size_.value_or(input_)) + " bytes");
}

TActiveExpansionMeter::TActiveExpansionMeter(TExpansionMeter& meter) noexcept
    : previous_(std::exchange(active_meter, &meter)) {}

TActiveExpansionMeter::~TActiveExpansionMeter() { active_meter = previous_; }

// The parser makes the reader of an internal entity's text through the
// mapping of its own UTF-16 "encoding".
void InstallEntityTextCounter() {
  using Mapping = xercesc::ENameMapFor<TEntityTextTranscoder>;
  constexpr auto kEncoding = xercesc::XMLRecognizer::XERCES_XMLCH;
  if (dynamic_cast<Mapping*>(RecognizerMapping(kEncoding)) != nullptr) return;
  SetRecognizerMapping(kEncoding,
                       std::make_unique<Mapping>(xercesc::XMLUni::fgXMLChEncodingString));
}

}  // namespace ifp::internal
