#include "IntermediateFileParser/internal/numbers/IntList.h"

#include <limits>
#include <string>

#include "IntermediateFileParser/internal/guards/ReadError.h"

namespace ifp::internal {

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

namespace {

// Values the fast path gathers before they join the list.
constexpr std::size_t kFastBatch = 1024;

// Tokens read the exact way after one the fast path did not take, before
// the fast path is tried again: text full of signs or other rare tokens
// then costs little more than it does the exact way alone.
constexpr std::size_t kExactStretch = 16;

}  // namespace

template <class Unit>
const Unit* TIntListBuilder::AppendExact(const Unit* p, const Unit* const end, std::size_t tokens) {
  // Values gather in a local batch and join the list a batch at a time; the
  // count of values the list may still take is kept at hand.
  int batch[256];
  std::size_t held = 0;
  const auto flush = [&] {
    values_.insert(values_.end(), batch, batch + held);
    held = 0;
  };
  std::int64_t room = expected_ - static_cast<std::int64_t>(values_.size());
  for (; tokens != 0; --tokens) {
    while (p != end && IsSeparator(*p)) ++p;
    if (p == end) break;
    if (room-- <= 0) {
      flush();
      FailTooMany();
    }
    // Most tokens are a few plain digits ending inside this piece: up to
    // nine digits cannot leave the 32-bit range, so they are summed directly.
    const Unit* const limit = end - p > 9 ? p + 9 : end;
    const Unit* digit = p;
    std::int32_t value = 0;
    while (digit != limit && static_cast<Unit>(*digit - '0') <= 9) {
      value = value * 10 + static_cast<std::int32_t>(*digit++ - '0');
    }
    if (digit != p && digit != end && IsSeparator(*digit)) {
      batch[held++] = value;
      if (held == std::size(batch)) flush();
      p = digit;
      continue;
    }
    // Anything else goes the general way, character by character.
    flush();
    in_token_ = true;
    number_ = TDecimal();
    p = ReadToken(p, end);
    if (p == end) return p;
    EndToken();
  }
  flush();
  return p;
}

void TIntListBuilder::Append(const char* const text, const std::size_t length) {
  // Units are compared unsigned, so a byte above 0x7F is never a digit.
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + length;
  if (in_token_) {
    // The token that the previous piece left open.
    p = ReadToken(p, end);
    if (p == end) return;
    EndToken();
  }
  AppendExact(p, end, std::numeric_limits<std::size_t>::max());
}

void TIntListBuilder::Append(const char16_t* const text, const std::size_t length) {
  const char16_t* p = text;
  const char16_t* const end = text + length;
  if (in_token_) {
    p = ReadToken(p, end);
    if (p == end) return;
    EndToken();
  }
  while (p != end) {
    // Plain tokens are read a block at a time while the list has room.
    const std::int64_t room = expected_ - static_cast<std::int64_t>(values_.size());
    if (room > 0) {
      int batch[kFastBatch];
      const std::size_t capacity = room < static_cast<std::int64_t>(kFastBatch)
                                       ? static_cast<std::size_t>(room)
                                       : kFastBatch;
      const TPlainTokens plain = ScanPlainTokens(path_, p, end, batch, capacity);
      values_.insert(values_.end(), batch, batch + plain.count);
      p = plain.next;
      if (plain.count == kFastBatch) continue;
    }
    // What stopped it - a token that is not plain, one cut by the end of
    // the piece, one more than the list may hold - goes the exact way.
    p = AppendExact(p, end, kExactStretch);
  }
}

void TIntListBuilder::FailTooMany() const {
  throw ReadError(TReadFailure::TKind::kCount,
                  "more values than the declared " + std::to_string(expected_));
}

void TIntListBuilder::Finish() {
  if (in_token_) EndToken();
  if (static_cast<std::int64_t>(values_.size()) != expected_) {
    throw ReadError(TReadFailure::TKind::kCount, std::to_string(values_.size()) +
                                                     " values against the declared " +
                                                     std::to_string(expected_));
  }
}

void ToIntList(std::vector<int>& values, std::string_view text, std::int64_t expected) {
  TIntListBuilder builder(values, expected);
  builder.Append(text.data(), text.size());
  builder.Finish();
}

}  // namespace ifp::internal
