// Decimal numbers and integer lists: strtol's rule in base 10, clamped to 32
// bits, with tokens cut at tab, line feed and blank only.

#include "IntermediateFileParser/IntList.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "IntermediateFileParser/ReadError.h"

namespace ifp {
namespace {

TEST(ToInt32Test, FollowsStrtolInBase10ClampedTo32Bits) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {
      {"42", 42},
      {" -7", -7},
      {"3.9", 3},
      {"abc", 0},
      {"", 0},
      {"12abc", 12},
      {" +7", 7},
      {"\t\n\v\f\r 9", 9},
      {"+", 0},
      {"-", 0},
      {"+-5", 0},
      {"- 5", 0},
      {"-0", 0},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"3000000000", INT_MAX},
      {"99999999999999999999999999", INT_MAX},
      {"-2147483647", -2147483647},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-3000000000", INT_MIN},
      {"\xEF\xBC\x91", 0},  // a full-width digit is no digit
  };
  for (const auto& c : cases) EXPECT_EQ(ToInt32(c.text), c.expected) << '"' << c.text << '"';
}

struct ListCase {
  std::string text;
  std::vector<int> before;
  long expected_count;
  std::vector<int> values;  // what the list holds afterwards
  bool passes;
};

TEST(ToIntListTest, AppendsTokensAndChecksTheCount) {
  const ListCase cases[] = {
      {"1 2\n3\t4", {}, 4, {1, 2, 3, 4}, true},
      {"  0   10\n\t\t 20  \n", {}, 3, {0, 10, 20}, true},
      {"0 x 20", {}, 3, {0, 0, 20}, true},
      {"1,2", {}, 4, {1}, false},
      {"0,10,20", {}, 3, {0}, false},
      {"1 2 3", {}, 4, {1, 2, 3}, false},
      {"", {}, 0, {}, true},
      {" \n\t ", {}, 0, {}, true},
      {"", {}, 4, {}, false},
      {" \t\n", {}, 4, {}, false},
      {"\r7", {}, 1, {7}, true},  // carriage return belongs to the token
      {"7\r", {}, 1, {7}, true},
      {"1\r2", {}, 1, {1}, true},  // one token: its number ends at the \r
      {"1\v2", {}, 1, {1}, true},
      {"\v-3 \f+4", {}, 2, {-3, 4}, true},
      {"3000000000 -3000000000", {}, 2, {INT_MAX, INT_MIN}, true},
      {"5 6", {1, 2}, 4, {1, 2, 5, 6}, true},  // appended behind what was there
      {"5 6", {1, 2}, 2, {1, 2}, false},       // fails at the first value too many
      {"", {1, 2}, 2, {1, 2}, true},
      {"1", {}, -1, {}, false},
      {" ", {}, -1, {}, false},
  };
  for (const ListCase& c : cases) {
    std::vector<int> list = c.before;
    bool passed = true;
    try {
      ToIntList(list, c.text, c.expected_count);
    } catch (const TReadError&) {
      passed = false;
    }
    EXPECT_EQ(passed, c.passes) << '"' << c.text << '"';
    EXPECT_EQ(list, c.values) << '"' << c.text << '"';
  }
}

// A run handed over in pieces reads exactly as the whole run would, wherever
// the cuts fall: inside numbers, between a sign and its digits, at blanks.
TEST(IntListBuilderTest, PiecesReadAsTheWholeRun) {
  const std::string run = " 12 -345\r\n+6 x7 -\t2147483648 00 9 ";
  std::vector<int> whole;
  ToIntList(whole, run, 8);
  for (std::size_t cut1 = 0; cut1 <= run.size(); ++cut1) {
    for (std::size_t cut2 = cut1; cut2 <= run.size(); ++cut2) {
      std::vector<int> list;
      TIntListBuilder builder(list, 8);
      const std::u16string wide(run.begin(), run.end());
      builder.Append(wide.data(), cut1);
      builder.Append(wide.data() + cut1, cut2 - cut1);
      builder.Append(wide.data() + cut2, wide.size() - cut2);
      builder.Finish();
      ASSERT_EQ(list, whole) << "cut at " << cut1 << " and " << cut2;
    }
  }
  EXPECT_EQ(whole, (std::vector<int>{12, -345, 6, 0, 0, INT_MAX, 0, 9}));
}

TEST(IntListBuilderTest, FailsAtTheFirstValueTooManyAndReadsHugeTokensInLittleRoom) {
  std::vector<int> list;
  TIntListBuilder builder(list, 2);
  const std::string text = "1 2 3 4";
  EXPECT_THROW(builder.Append(text.data(), text.size()), TReadError);
  EXPECT_EQ(list, (std::vector<int>{1, 2}));

  // Ten million digits arrive in pieces and clamp like any other number.
  std::vector<int> big;
  TIntListBuilder token(big, 1);
  const std::u16string digits(1 << 16, u'9');
  for (int i = 0; i < 160; ++i) token.Append(digits.data(), digits.size());
  token.Finish();
  EXPECT_EQ(big, (std::vector<int>{INT_MAX}));
}

TEST(IntListBuilderTest, UnitsBeyondAsciiAreNeverDigitsOrSeparators) {
  std::vector<int> list;
  TIntListBuilder builder(list, 3);
  // U+0131 and U+0A31 have 0x31 ('1') in their low byte; U+3000 is an
  // ideographic space, which separates nothing.
  const std::u16string text = u"\u0131 5\u0A31 \u30007";
  builder.Append(text.data(), text.size());
  builder.Finish();
  EXPECT_EQ(list, (std::vector<int>{0, 5, 0}));
}

}  // namespace
}  // namespace ifp
