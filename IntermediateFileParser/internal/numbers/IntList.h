#ifndef IFP_INTERNAL_NUMBERS_INTLIST_H
#define IFP_INTERNAL_NUMBERS_INTLIST_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "IntermediateFileParser/internal/numbers/PlainTokenScan.h"

namespace ifp::internal {

// Reads one decimal number by the rule of strtol in base 10, clamped to the
// signed 32-bit range: leading white space (blank, \t, \n, \v, \f, \r) is
// skipped, one sign is accepted, then the digits up to the first other
// character are taken. Text without digits gives 0. The number may arrive
// one character at a time, so a number split across pieces of text reads
// as if it had come whole. Characters beyond ASCII are "other" characters.
class TDecimal {
 public:
  void Feed(char32_t c) {
    if (state_ == State::kDigits) {
      if (IsDigit(c)) {
        AddDigit(c);
      } else {
        state_ = State::kDone;
      }
      return;
    }
    FeedSlow(c);
  }

  std::int32_t Value() const;
  // True once the number has ended: nothing that follows can change it.
  bool Done() const { return state_ == State::kDone; }

 private:
  enum class State { kLeading, kSigned, kDigits, kDone };

  static bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
  void AddDigit(char32_t c) {
    // Past 2^31 the value is clamped whatever follows; stop growing there.
    if (magnitude_ <= kLimit) magnitude_ = magnitude_ * 10 + (c - U'0');
  }
  void FeedSlow(char32_t c);

  static constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;
  State state_ = State::kLeading;
  bool negative_ = false;
  std::uint64_t magnitude_ = 0;
};

// The value of a whole string by the TDecimal rule (strtol, base 10, no end
// pointer, clamped to 32 bits).
std::int32_t ToInt32(std::string_view text);

// Appends the numbers of one run of text to a list as the run arrives in
// pieces. Tokens are separated by tab, line feed and blank only; every other
// character, carriage return included, belongs to a token. Each token is
// read by the TDecimal rule; a token without digits appends 0. When the run
// ends, the list must hold exactly `expected` values; it fails as soon as it
// holds more, so a run that is far too long never piles up.
//
// UTF-16 text is read a block of units at a time along `path` as long as it
// holds plain tokens (up to eight ASCII digits each); every path reads the
// same values as the character-at-a-time rule.
class TIntListBuilder {
 public:
  TIntListBuilder(std::vector<int>& values, std::int64_t expected,
                  TScanPath path = FastestScanPath())
      : values_(values), expected_(expected), path_(path) {}

  // Both throw TReadError when the list now holds more values than expected.
  void Append(const char* text, std::size_t length);
  void Append(const char16_t* text, std::size_t length);

  // Ends the run; throws TReadError unless the list holds the expected count.
  void Finish();

 private:
  static bool IsSeparator(char32_t c) {
    constexpr std::uint64_t kSeparators = (1u << '\t') | (1u << '\n') | (std::uint64_t{1} << ' ');
    return c <= U' ' && ((kSeparators >> c) & 1) != 0;
  }
  [[noreturn]] void FailTooMany() const;

  // Feeds the open token up to its end or the end of the piece; returns
  // where it stopped. What follows a token's number is skipped unread.
  template <class Unit>
  const Unit* ReadToken(const Unit* p, const Unit* end) {
    while (p != end && !number_.Done() && !IsSeparator(*p)) number_.Feed(*p++);
    while (p != end && !IsSeparator(*p)) ++p;
    return p;
  }
  void EndToken() {
    values_.push_back(number_.Value());
    in_token_ = false;
  }
  // Reads up to `tokens` tokens character by character (a token left open
  // by the end of the piece included); returns where it stopped.
  template <class Unit>
  const Unit* AppendExact(const Unit* p, const Unit* end, std::size_t tokens);

  std::vector<int>& values_;
  std::int64_t expected_;
  TScanPath path_;
  bool in_token_ = false;
  TDecimal number_;
};

// Appends the numbers of `text` to `values` (the TIntListBuilder rule) and
// requires the list to hold exactly `expected` values afterwards; throws
// TReadError otherwise.
void ToIntList(std::vector<int>& values, std::string_view text, std::int64_t expected);

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_NUMBERS_INTLIST_H
