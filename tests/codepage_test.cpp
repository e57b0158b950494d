// Narrowing of the parser's UTF-16 text to the CP932 code page.

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

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
    morv::os::AppendAnsi(out, c.text.data(), c.text.size());
    EXPECT_EQ(out, "keep:" + c.expected);
    EXPECT_EQ(morv::os::ToAnsi(c.text.c_str()), c.expected);
  }
  EXPECT_EQ(morv::os::ToAnsi(nullptr), "");
}

}  // namespace
