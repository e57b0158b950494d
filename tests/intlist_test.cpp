// Decimal numbers and integer lists: strtol's rule in base 10, clamped to 32
// bits, with tokens cut at tab, line feed and blank only.

#include "IntermediateFileParser/internal/numbers/IntList.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "IntermediateFileParser/internal/guards/ReadError.h"

namespace ifp::internal {
namespace {

constexpr TScanPath kAllPaths[] = {TScanPath::kPortable, TScanPath::kSse2, TScanPath::kAvx2};

// The paths this processor can take; the portable one is always among them.
std::vector<TScanPath> Paths() {
  std::vector<TScanPath> paths;
  for (const TScanPath path : kAllPaths) {
    if (CanTakeScanPath(path)) paths.push_back(path);
  }
  return paths;
}

const char* NameOf(TScanPath path) {
  switch (path) {
    case TScanPath::kPortable:
      return "portable";
    case TScanPath::kSse2:
      return "SSE2";
    case TScanPath::kAvx2:
      return "AVX2";
  }
  return "?";
}

// Bytes widened to UTF-16 units one for one.
std::u16string Widen(const std::string& text) {
  std::u16string wide;
  for (const char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  return wide;
}

// The outcome of reading a run into a list.
struct Outcome {
  std::vector<int> values;
  bool passed = true;
  bool operator==(const Outcome&) const = default;
};

// Reads `text` in the pieces that the cut points make, along `path`, into
// a list that already holds `before`.
Outcome ReadInPieces(const std::u16string& text, const std::vector<std::size_t>& cuts,
                     std::int64_t expected, TScanPath path, std::vector<int> before = {}) {
  Outcome outcome{std::move(before)};
  try {
    TIntListBuilder builder(outcome.values, expected, path);
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
      builder.Append(text.data() + at, cut - at);
      at = cut;
    }
    builder.Append(text.data() + at, text.size() - at);
    builder.Finish();
  } catch (const TReadError&) {
    outcome.passed = false;
  }
  return outcome;
}

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
  long expected_count;
  std::vector<int> values;  // what the list holds afterwards
  bool passes;
  std::vector<int> before = {};  // what the list holds before
};

TEST(ToIntListTest, AppendsTokensAndChecksTheCount) {
  const ListCase cases[] = {
      {"1 2\n3\t4", 4, {1, 2, 3, 4}, true},
      {"  0   10\n\t\t 20  \n", 3, {0, 10, 20}, true},
      {"0 x 20", 3, {0, 0, 20}, true},
      {"1,2", 4, {1}, false},
      {"0,10,20", 3, {0}, false},
      {"1 2 3", 4, {1, 2, 3}, false},
      {"", 0, {}, true},
      {" \n\t ", 0, {}, true},
      {"", 4, {}, false},
      {" \t\n", 4, {}, false},
      {"\r7", 1, {7}, true},  // carriage return belongs to the token
      {"7\r", 1, {7}, true},
      {"1\r2", 1, {1}, true},  // one token: its number ends at the \r
      {"1\v2", 1, {1}, true},
      {"\v-3 \f+4", 2, {-3, 4}, true},
      {"3000000000 -3000000000", 2, {INT_MAX, INT_MIN}, true},
      {"5 6", 4, {1, 2, 5, 6}, true, {1, 2}},  // appended behind what was there
      {"5 6", 2, {1, 2}, false, {1, 2}},       // fails at the first value too many
      {"", 2, {1, 2}, true, {1, 2}},
      {"1", -1, {}, false},
      {" ", -1, {}, false},
      {"1 - 2 + 3", 5, {1, 0, 2, 0, 3}, true},  // a sign alone reads 0
      {"1 -\n", 2, {1, 0}, true},
      {"1\t\t\n\n  2 ", 2, {1, 2}, true},  // runs of separators hold no empty token
      {"12345678 123456789 1234567890 99999999999",
       4,
       {12345678, 123456789, 1234567890, INT_MAX},
       true},
      {"000000000000000000042 -00000000000000000007", 2, {42, -7}, true},
      {"2147483647 2147483648 -2147483648 -2147483649",
       4,
       {INT_MAX, INT_MAX, INT_MIN, INT_MIN},
       true},
      {"1\r2 3\v 4\f", 3, {1, 3, 4}, true},
      {"7 8 9 10 11", 3, {7, 8, 9}, false},  // the values before the one too many stay
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
    // The same text as UTF-16 reads the same along every path.
    for (const TScanPath path : Paths()) {
      const Outcome outcome = ReadInPieces(Widen(c.text), {}, c.expected_count, path, c.before);
      EXPECT_EQ(outcome, (Outcome{c.values, c.passes})) << '"' << c.text << "\" " << NameOf(path);
    }
  }
}

// A run handed over in pieces reads exactly as the whole run would, wherever
// the cuts fall: inside numbers, between a sign and its digits, at blanks.
TEST(IntListBuilderTest, PiecesReadAsTheWholeRun) {
  const std::string run = " 12 -345\r\n+6 x7 -\t2147483648 00 9 ";
  std::vector<int> whole;
  ToIntList(whole, run, 8);
  for (const TScanPath path : Paths()) {
    for (std::size_t cut1 = 0; cut1 <= run.size(); ++cut1) {
      for (std::size_t cut2 = cut1; cut2 <= run.size(); ++cut2) {
        std::vector<int> list;
        TIntListBuilder builder(list, 8, path);
        const std::u16string wide(run.begin(), run.end());
        builder.Append(wide.data(), cut1);
        builder.Append(wide.data() + cut1, cut2 - cut1);
        builder.Append(wide.data() + cut2, wide.size() - cut2);
        builder.Finish();
        ASSERT_EQ(list, whole) << "cut at " << cut1 << " and " << cut2 << ", " << NameOf(path);
      }
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
  const struct {
    std::u16string text;
    std::vector<int> values;
  } cases[] = {
      // U+0131 and U+0A31 have 0x31 ('1') in their low byte; U+3000 is an
      // ideographic space, which separates nothing.
      {u"\u0131 5\u0A31 \u30007", {0, 5, 0}},
      {u"\uFF11\uFF12 3 \u0661", {0, 3, 0}},                   // full-width and Arabic-Indic digits
      {u"1\u01202 3\u01094 5\u010A6 7\u20098", {1, 3, 5, 7}},  // low bytes of separators
      {u"\u80305 \uFF305 \u00B95", {0, 0, 0}},  // units whose bytes pack to 0 or 0xFF
      {u"12\u00A034 \u0085", {12, 0}},          // no-break space and next line
  };
  for (const auto& c : cases) {
    for (const TScanPath path : Paths()) {
      const auto expected = static_cast<std::int64_t>(c.values.size());
      EXPECT_EQ(ReadInPieces(c.text, {}, expected, path), (Outcome{c.values, true}))
          << NameOf(path);
    }
  }
}

// The values of a run by the plain rule, a character at a time: tokens end
// at tab, line feed and blank, and each is read by TDecimal.
std::vector<int> CharacterRule(const std::u16string& text) {
  std::vector<int> values;
  TDecimal number;
  bool in_token = false;
  for (const char16_t unit : text) {
    if (unit == u' ' || unit == u'\t' || unit == u'\n') {
      if (in_token) values.push_back(number.Value());
      in_token = false;
      number = TDecimal();
    } else {
      in_token = true;
      number.Feed(unit);
    }
  }
  if (in_token) values.push_back(number.Value());
  return values;
}

// Every block path takes each separator class itself: a run of plain tokens
// separated by tabs, line feeds and blanks is consumed whole by the scan,
// never left to the exact reading that would read it the same.
TEST(PlainTokenScanTest, EveryPathConsumesEachSeparatorClassWhole) {
  const struct {
    const char16_t* unit;
    int times;
  } cases[] = {
      {u"1\t2\n3 ", 1}, {u"1\t2\n3 ", 64}, {u"1\t", 200},       {u"22\n", 200},
      {u"333 ", 200},   {u"4\t\n 5 ", 90}, {u"12345678\t", 40},
  };
  for (const auto& c : cases) {
    std::u16string text;
    for (int i = 0; i < c.times; ++i) text += c.unit;
    const std::vector<int> expected = CharacterRule(text);
    for (const TScanPath path : Paths()) {
      SCOPED_TRACE(NameOf(path));
      std::vector<int> out(text.size());
      const TPlainTokens scan =
          ScanPlainTokens(path, text.data(), text.data() + text.size(), out.data(), out.size());
      EXPECT_EQ(scan.next, text.data() + text.size()) << scan.next - text.data();
      out.resize(scan.count);
      EXPECT_EQ(out, expected);
    }
  }
}

// Random runs: mostly plain digit tokens of every length around the eight
// and nine digits that the block paths read whole, between runs of
// separators, with rare tokens among them (signs, other white space,
// letters, digits beyond ASCII).
std::u16string RandomRun(std::mt19937& random, std::size_t tokens) {
  static const std::u16string kSeparators = u" \t\n";
  static const std::u16string kRare = u"+-\r\v\fx.\u0131\uFF11\u3000\u0660\u8030";
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  std::u16string run;
  for (std::size_t i = 0; i < tokens; ++i) {
    for (std::size_t n = pick(4) == 0 ? 1 + pick(4) : 1; n != 0; --n) run += kSeparators[pick(3)];
    const std::size_t length = pick(10) == 0 ? 1 + pick(14) : 1 + pick(5);
    for (std::size_t k = 0; k < length; ++k) {
      run += pick(40) == 0 ? kRare[pick(kRare.size())] : static_cast<char16_t>(u'0' + pick(10));
    }
  }
  if (pick(2) == 0) run += kSeparators[pick(3)];
  return run;
}

// Every path reads what the character rule reads, whole or cut anywhere,
// and fails where it does when the count is off.
TEST(IntListBuilderTest, EveryPathReadsRandomRunsAsTheCharacterRuleDoes) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 300; ++round) {
    const std::u16string run = RandomRun(random, 1 + round % 40);
    const std::vector<int> values = CharacterRule(run);
    const auto count = static_cast<std::int64_t>(values.size());
    const std::vector<int> fewer(values.begin(), values.end() - 1);
    for (const TScanPath path : Paths()) {
      ASSERT_EQ(ReadInPieces(run, {}, count, path), (Outcome{values, true})) << NameOf(path);
      for (std::size_t cut = 0; cut <= run.size(); ++cut) {
        ASSERT_EQ(ReadInPieces(run, {cut}, count, path), (Outcome{values, true}))
            << NameOf(path) << ", cut at " << cut;
        ASSERT_EQ(ReadInPieces(run, {cut}, count - 1, path), (Outcome{fewer, false}))
            << NameOf(path) << ", cut at " << cut;
      }
      ASSERT_EQ(ReadInPieces(run, {}, count + 1, path), (Outcome{values, false})) << NameOf(path);
    }
  }
  // Long runs: thousands of tokens, in pieces cut at random.
  for (int round = 0; round < 10; ++round) {
    const std::u16string run = RandomRun(random, 3000);
    const std::vector<int> values = CharacterRule(run);
    const auto count = static_cast<std::int64_t>(values.size());
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; (at += 1 + random() % 2000) < run.size();) cuts.push_back(at);
    for (const TScanPath path : Paths()) {
      EXPECT_EQ(ReadInPieces(run, {}, count, path), (Outcome{values, true})) << NameOf(path);
      EXPECT_EQ(ReadInPieces(run, cuts, count, path), (Outcome{values, true})) << NameOf(path);
      const std::int64_t room = count / 2;
      EXPECT_EQ(ReadInPieces(run, cuts, room, path),
                (Outcome{{values.begin(), values.begin() + room}, false}))
          << NameOf(path);
    }
  }
}

}  // namespace
}  // namespace ifp::internal
