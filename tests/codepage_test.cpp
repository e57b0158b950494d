// Narrowing of the parser's UTF-16 text to the CP932 code page.

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestSupport.h"
#include "platform/Unicode.h"

namespace morv::test {
namespace {

struct NarrowCase {
  std::u16string text;
  std::string expected;
};

TEST(CodePageTest, NarrowsToCp932WithQuestionMarksForWhatItLacks) {
  const NarrowCase cases[] = {
      {u"", ""},
      {u"frame_idx 0 10\r\n", "frame_idx 0 10\r\n"},
      {u"\u30C6\u30AF\u30B9\u30C1\u30E3",
       "\x83\x65\x83\x4E\x83\x58\x83\x60\x83\x83"},  // テクスチャ
      {u"a\u8868b",
       "a\x95\x5C"
       "b"},                                                  // 表: a trail byte of 0x5C
      {u"\uFF71", "\xB1"},                                    // half-width katakana
      {u"\u2460", "\x87\x40"},                                // circled 1, a Windows extension
      {u"x\u00E9y", "x?y"},                                   // é is not in CP932
      {u"\U0001F600!", "?!"},                                 // a surrogate pair is one character
      {std::u16string{u'a', char16_t{0xD800}, u'b'}, "a?b"},  // a lone surrogate
      {std::u16string{u'a', char16_t{0xDC00}}, "a?"},
  };
  for (const NarrowCase& c : cases) {
    std::string out = "keep:";
    os::AppendAnsi(out, c.text.data(), c.text.size());
    EXPECT_EQ(out, "keep:" + c.expected);
    EXPECT_EQ(os::ToAnsi(c.text.c_str()), c.expected);
  }
  EXPECT_EQ(os::ToAnsi(nullptr), "");
}

// Every character of the BMP narrows to what the system's own CP932
// converter makes of it ("?" where it has nothing), alone and in one long
// text.
TEST(CodePageTest, EveryBmpCharacterNarrowsAsTheSystemsConverterDoes) {
  if (kSystem != TSystem::kPosix) {
    GTEST_SKIP() << "the test encoder of Windows maps characters to their best fit";
  }
  std::u16string all;
  std::string all_expected;
  int differ = 0;
  for (char32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string utf8;
    os::AppendUtf8(utf8, c);
    std::string expected(1, '?');
    try {
      expected = Encode(utf8, "CP932");
    } catch (const std::runtime_error&) {
      // Nothing in CP932 for it: "?" stands.
    }
    const std::u16string text(1, static_cast<char16_t>(c));
    std::string out;
    os::AppendAnsi(out, text.data(), text.size());
    if (out != expected && ++differ <= 10) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c);
    }
    all.push_back(text.front());
    all_expected += expected;
  }
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(os::ToAnsi(all.c_str() + 1), all_expected.substr(1));  // U+0000 ends a C string
}

}  // namespace
}  // namespace morv::test
