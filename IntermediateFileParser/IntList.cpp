#include "IntermediateFileParser/IntList.h"

#include <limits>
#include <string>

#include "IntermediateFileParser/ReadError.h"

namespace ifp {

void TDecimal::FeedSlow(char32_t c) {
  switch (state_) {
    case State::kLeading:
      if (c == U' ' || (c >= U'\t' && c <= U'\r')) return;  // strtol's white space
      if (c == U'+' || c == U'-') {
        negative_ = c == U'-';
        state_ = State::kSigned;
        return;
      }
      [[fallthrough]];
    case State::kSigned:
      if (IsDigit(c)) {
        state_ = State::kDigits;
        AddDigit(c);
      } else {
        state_ = State::kDone;
      }
      return;
    case State::kDigits:
    case State::kDone:
      return;
  }
}

std::int32_t TDecimal::Value() const {
  if (negative_) {
    return magnitude_ >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                : -static_cast<std::int32_t>(magnitude_);
  }
  return magnitude_ >= kLimit ? std::numeric_limits<std::int32_t>::max()
                              : static_cast<std::int32_t>(magnitude_);
}

std::int32_t ToInt32(std::string_view text) {
  TDecimal number;
  for (const char c : text) number.Feed(static_cast<unsigned char>(c));
  return number.Value();
}

void TIntListBuilder::FailTooMany() const {
  throw TReadError(TReadFailure::TKind::kCount,
                   "more values than the declared " + std::to_string(expected_));
}

void TIntListBuilder::Finish() {
  if (in_token_) EndToken();
  if (static_cast<std::int64_t>(values_.size()) != expected_) {
    throw TReadError(TReadFailure::TKind::kCount, std::to_string(values_.size()) +
                                                      " values against the declared " +
                                                      std::to_string(expected_));
  }
}

void ToIntList(std::vector<int>& values, std::string_view text, std::int64_t expected) {
  TIntListBuilder builder(values, expected);
  builder.Append(text.data(), text.size());
  builder.Finish();
}

}  // namespace ifp
