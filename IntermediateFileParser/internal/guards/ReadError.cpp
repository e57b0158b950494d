#include "IntermediateFileParser/internal/guards/ReadError.h"

#include <utility>

namespace ifp::internal {
namespace {

thread_local TFailurePosition* active_position = nullptr;

}  // namespace

void TFailurePosition::Note() noexcept {
  if (noted_) return;
  noted_ = true;
  if (locator_ == nullptr) return;
  line_ = locator_->getLineNumber();
  column_ = locator_->getColumnNumber();
}

TActiveFailurePosition::TActiveFailurePosition(TFailurePosition& position) noexcept
    : previous_(std::exchange(active_position, &position)) {}

TActiveFailurePosition::~TActiveFailurePosition() { active_position = previous_; }

void NoteFailurePosition() noexcept {
  if (active_position != nullptr) active_position->Note();
}

}  // namespace ifp::internal
