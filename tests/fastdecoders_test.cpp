// The fast Shift_JIS and UTF-8 decoders against the parser's own decoders,
// their delegates: every call must give the same characters, character sizes
// and bytes eaten (or the same error), wherever the input is cut and however
// little room the output has.

#include "IntermediateFileParser/internal/decoders/FastDecoders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUTF8Transcoder.hpp>

#include "IntermediateFileParser/internal/decoders/PlainByteDecoder.h"
#include "IntermediateFileParser/internal/decoders/RecognizerMappings.h"
#include "IntermediateFileParser/internal/decoders/SjisConverter.h"
#include "TestSupport.h"

namespace ifp::internal {
namespace {

using xercesc::XMLTranscoder;

constexpr XMLSize_t kBlockSize = 256;
constexpr XMLSize_t kRooms[] = {1, 2, 3, kBlockSize};

// What one transcodeFrom call gave, or the error it threw.
struct Call {
  std::u16string chars;
  std::vector<unsigned char> sizes;
  XMLSize_t eaten = 0;
  std::u16string error;
  bool operator==(const Call&) const = default;
};

void PrintTo(const Call& call, std::ostream* os) {
  *os << "{chars";
  for (const char16_t c : call.chars) *os << ' ' << std::hex << static_cast<unsigned>(c);
  *os << std::dec << " / sizes";
  for (const unsigned char size : call.sizes) *os << ' ' << static_cast<unsigned>(size);
  *os << " / eaten " << call.eaten << (call.error.empty() ? "" : " / threw") << '}';
}

std::unique_ptr<XMLTranscoder> Make(const std::u16string& name) {
  xercesc::XMLTransService::Codes code = xercesc::XMLTransService::Ok;
  return std::unique_ptr<XMLTranscoder>(
      xercesc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor(name.c_str(), code,
                                                                      kBlockSize));
}

// Decodes `bytes` as the parser's reader does: the bytes arrive in pieces
// cut at `cuts`; each call is handed every byte not yet eaten and room for
// `room` characters; a call that eats nothing waits for the next piece.
std::vector<Call> Decode(XMLTranscoder& transcoder, const std::string& bytes,
                         const std::vector<std::size_t>& cuts, XMLSize_t room) {
  std::vector<std::size_t> ends = cuts;
  ends.push_back(bytes.size());
  std::vector<Call> calls;
  std::string buffer;
  std::size_t begin = 0;
  for (const std::size_t end : ends) {
    buffer.append(bytes, begin, end - begin);
    begin = end;
    while (!buffer.empty()) {
      Call call{std::u16string(room, u'\0'), std::vector<unsigned char>(room), 0, {}};
      XMLSize_t count = 0;
      try {
        count =
            transcoder.transcodeFrom(reinterpret_cast<const XMLByte*>(buffer.data()), buffer.size(),
                                     call.chars.data(), room, call.eaten, call.sizes.data());
      } catch (const xercesc::XMLException& e) {
        call = {{}, {}, 0, e.getMessage()};
        calls.push_back(call);
        return calls;  // the parse would end here
      }
      call.chars.resize(count);
      call.sizes.resize(count);
      calls.push_back(call);
      if (call.eaten == 0) break;
      buffer.erase(0, call.eaten);
    }
  }
  return calls;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char digits[4];
  for (const char byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", static_cast<unsigned char>(byte));
    hex += digits;
  }
  return hex;
}

// A fast decoder and the parser's own decoder it stands in front of.
struct Codec {
  const char* name;
  std::function<std::unique_ptr<XMLTranscoder>()> decoder;
  std::function<std::unique_ptr<XMLTranscoder>()> library;
};

class FastDecodersTest : public morv::test::XmlPlatformTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterSjisDecoder());
    ASSERT_TRUE(InstallUtf8Decoder());
  }

  // The name under which the transcoding service makes the converter itself
  // (ICU's canonical name, or the system code page's own).
  const std::u16string delegate_name_ = [] {
    const std::optional<TSjisConverter> converter = FindSjisConverter();
    return converter ? converter->delegate_name : std::u16string();
  }();
  const Codec sjis_{"Shift_JIS", [] { return Make(u"Shift_JIS"); },
                    [this] { return Make(delegate_name_); }};
  const Codec utf8_{"UTF-8",
                    [] {
                      return std::unique_ptr<XMLTranscoder>(
                          RecognizerMapping(xercesc::XMLRecognizer::UTF_8)->makeNew(kBlockSize));
                    },
                    [] {
                      return std::unique_ptr<XMLTranscoder>(
                          std::make_unique<xercesc::XMLUTF8Transcoder>(u"UTF-8", kBlockSize));
                    }};
  const Codec* const codecs_[2] = {&sjis_, &utf8_};

  // The decoder and its delegate decode `bytes` call for call alike.
  void ExpectSame(const Codec& codec, const std::string& bytes,
                  const std::vector<std::size_t>& cuts, XMLSize_t room) {
    const std::unique_ptr<XMLTranscoder> decoder = codec.decoder();
    const std::unique_ptr<XMLTranscoder> library = codec.library();
    ASSERT_NE(dynamic_cast<TPlainByteDecoder*>(decoder.get()), nullptr);
    ASSERT_EQ(dynamic_cast<TPlainByteDecoder*>(library.get()), nullptr);
    EXPECT_EQ(Decode(*decoder, bytes, cuts, room), Decode(*library, bytes, cuts, room))
        << codec.name << ": " << Hex(bytes) << "cut at " << (cuts.empty() ? 0 : cuts[0])
        << ", room " << room;
  }

  // The same, whole and cut at every point, with every room.
  void ExpectSameEverywhere(const Codec& codec, const std::string& bytes) {
    for (const XMLSize_t room : kRooms) {
      ExpectSame(codec, bytes, {}, room);
      for (std::size_t cut = 1; cut < bytes.size(); ++cut) ExpectSame(codec, bytes, {cut}, room);
    }
  }
};

TEST_F(FastDecodersTest, EverySingleByteAloneAndBetweenPlainBytes) {
  for (const Codec* codec : codecs_) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::string alone(1, static_cast<char>(byte));
      ExpectSameEverywhere(*codec, alone);
      ExpectSameEverywhere(*codec, "ab" + alone + "cd");
    }
  }
}

TEST_F(FastDecodersTest, EveryTwoByteSequenceWholeAndSplitBetweenItsBytes) {
  for (const Codec* codec : codecs_) {
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
      const std::string bytes = {'<', static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF),
                                 '>', '\n'};
      ExpectSame(*codec, bytes, {}, kBlockSize);
      ExpectSame(*codec, bytes, {2}, kBlockSize);
    }
  }
}

TEST_F(FastDecodersTest, BufferEdgesLongRunsAndTheLibrarysOddBytes) {
  const std::string plain40(40, 'x');
  const std::string cases[] = {
      "abc\x81",  // a lead byte last in the document
      "\x81",     // and nothing else
      "abc\x82\xA0"
      "def",                              // a pair to be split at every point
      "ab\x81\x40\x40\x40" + plain40,     // trail bytes in the plain range
      "\x81\x81\x81\x40" + plain40,       // lead bytes as trail bytes
      "\x81\x0A\x81<\x81\xFF" + plain40,  // invalid trail bytes
      // the library's odd single bytes inside long runs
      plain40 + "\x1A" + plain40 + "\x1C" + plain40 + "\x7F" + plain40,
      // katakana, an unmapped byte
      plain40 + "\xB1\xB2" + plain40 + "\xFD",
      std::string(100, '7') + "\x83\x65" + std::string(37, '\n') + "\x83",
      // bytes that are no character by themselves, alone and before a trail
      plain40 + "\x80" + plain40 + "\xA0\x40\xFD\xFE\xFF" + plain40 + "\x80\x81\x40",
      // well-formed pairs the code page leaves unassigned
      "a\x85\x40" + plain40 + "\xEB\x40\xEF\xFC\xFC\x4C\x81\xAD" + plain40,
      // lead bytes before bytes that cannot trail them
      "a\x81\x7F\x9F\x1A\xE0\xFD\xFC\x1C" + plain40,
  };
  for (const std::string& bytes : cases) ExpectSameEverywhere(sjis_, bytes);

  const std::string utf8_cases[] = {
      plain40 + "\xC3\xA9" + plain40 + "\xE3\x83\x86" + plain40 + "\xF0\x9F\x98\x80",
      "abc\xE3\x83",                   // a character unfinished at the end
      "\xEF\xBB\xBF<r/>",              // a byte order mark
      "ab\xC0\x80" + plain40,          // an overlong form
      "ab\xED\xA0\x80" + plain40,      // a surrogate
      "ab\xF4\x90\x80\x80" + plain40,  // beyond U+10FFFF
      "ab\xE3x\x83" + plain40,         // a plain byte inside a character
      "ab\x80\xBF" + plain40,          // continuation bytes alone
  };
  for (const std::string& bytes : utf8_cases) ExpectSameEverywhere(utf8_, bytes);
}

TEST_F(FastDecodersTest, RandomByteStringsCutAtEveryPoint) {
  std::mt19937 random(20240607);
  const auto pick = [&](unsigned low, unsigned high) {
    return static_cast<char>(std::uniform_int_distribution<unsigned>(low, high)(random));
  };
  // Every other string is uniformly random bytes; the rest are made of
  // plain runs, lead bytes, the odd bytes and any bytes.
  for (int i = 0; i < 400; ++i) {
    std::string bytes;
    const std::size_t length = std::uniform_int_distribution<std::size_t>(1, 48)(random);
    while (bytes.size() < length) {
      switch (i % 2 == 0 ? 4 : std::uniform_int_distribution<int>(0, 4)(random)) {
        case 0:  // a plain run, long enough for the sixteen-byte check
          bytes.append(std::uniform_int_distribution<std::size_t>(1, 24)(random), pick(0x20, 0x7E));
          break;
        case 1:  // a lead byte and any byte
          bytes += pick(0x81, 0x9F);
          bytes += pick(0, 0xFF);
          break;
        case 2:
          bytes += pick(0xE0, 0xFC);
          break;
        case 3:
          bytes += "\x1A\x1C\x7F\x0A"[random() % 4];
          break;
        default:  // any byte
          bytes += pick(0, 0xFF);
      }
    }
    ExpectSameEverywhere(sjis_, bytes);
  }
  // UTF-8: plain runs, characters of one to four bytes, stray bytes.
  for (int i = 0; i < 400; ++i) {
    std::string bytes;
    const std::size_t length = std::uniform_int_distribution<std::size_t>(1, 48)(random);
    while (bytes.size() < length) {
      switch (std::uniform_int_distribution<int>(0, 4)(random)) {
        case 0:
          bytes.append(std::uniform_int_distribution<std::size_t>(1, 24)(random), pick(0x20, 0x7E));
          break;
        case 1:
          bytes += pick(0xC2, 0xDF);
          bytes += pick(0x80, 0xBF);
          break;
        case 2:
          bytes += pick(0xE0, 0xEF);
          bytes += pick(0x80, 0xBF);
          bytes += pick(0x80, 0xBF);
          break;
        case 3:
          bytes += pick(0xF0, 0xF4);
          bytes.append(3, pick(0x80, 0xBF));
          break;
        default:
          bytes += pick(0, 0xFF);
      }
    }
    ExpectSameEverywhere(utf8_, bytes);
  }
}

TEST_F(FastDecodersTest, EncodingIsTheDelegates) {
  const std::unique_ptr<XMLTranscoder> decoder = Make(u"Shift_JIS");
  const std::unique_ptr<XMLTranscoder> library = Make(delegate_name_);
  const std::u16string text = u"a\u30C6\u8868\u00E9\U0001F600\uFF71\\~";
  std::string encoded[2];
  XMLSize_t eaten[2] = {};
  for (XMLTranscoder* const transcoder : {decoder.get(), library.get()}) {
    const int i = transcoder == library.get();
    XMLByte bytes[64];
    const XMLSize_t count = transcoder->transcodeTo(text.data(), text.size(), bytes, sizeof bytes,
                                                    eaten[i], XMLTranscoder::UnRep_RepChar);
    encoded[i].assign(reinterpret_cast<const char*>(bytes), count);
  }
  EXPECT_EQ(encoded[0], encoded[1]);
  EXPECT_EQ(eaten[0], eaten[1]);
  for (const char16_t c : text) EXPECT_EQ(decoder->canTranscodeTo(c), library->canTranscodeTo(c));
}

TEST_F(FastDecodersTest, RegisteredUnderTheNamesOfTheSameConverterOnly) {
  const struct {
    const char* name;
    bool decoder;
  } cases[] = {
      {"Shift_JIS", true}, {"shift_jis", true},  {"SJIS", true},         {"windows-31j", true},
      {"CP932", true},     {"MS_Kanji", true},   {"x-sjis", true},       {"csShiftJIS", true},
      {"cp932", true},     {"x-ms-cp932", true}, {"csWindows31J", true}, {"windows-932", true},
      {"shift-jis", true}, {"ibm-943", false},  // ICU opens another Shift_JIS table for this name
      {"EUC-JP", false},   {"UTF-8", false},     {"ISO-8859-1", false},  {"x-unknown", false},
  };
  const auto is_decoder = [](const std::u16string& name) {
    const std::unique_ptr<XMLTranscoder> transcoder = Make(name);
    return dynamic_cast<TPlainByteDecoder*>(transcoder.get()) != nullptr;
  };
  for (const auto& c : cases) {
    const std::u16string name(c.name, c.name + std::char_traits<char>::length(c.name));
    EXPECT_EQ(is_decoder(name), c.decoder) << c.name;
  }
  EXPECT_FALSE(is_decoder(delegate_name_));

  // Again, and after the platform was brought down and up again.
  EXPECT_TRUE(RegisterSjisDecoder());
  EXPECT_TRUE(is_decoder(u"SJIS"));
  xercesc::XMLPlatformUtils::Terminate();
  xercesc::XMLPlatformUtils::Initialize();
  EXPECT_FALSE(is_decoder(u"SJIS"));
  EXPECT_TRUE(RegisterSjisDecoder());
  EXPECT_TRUE(is_decoder(u"SJIS"));

  // UTF-8 as the parser recognises it, likewise.
  const auto utf8_is_decoder = [] {
    const std::unique_ptr<XMLTranscoder> transcoder(
        RecognizerMapping(xercesc::XMLRecognizer::UTF_8)->makeNew(kBlockSize));
    return dynamic_cast<TPlainByteDecoder*>(transcoder.get()) != nullptr;
  };
  EXPECT_FALSE(utf8_is_decoder());
  EXPECT_TRUE(InstallUtf8Decoder());
  EXPECT_TRUE(utf8_is_decoder());
  EXPECT_TRUE(InstallUtf8Decoder());
  EXPECT_TRUE(utf8_is_decoder());
}

}  // namespace
}  // namespace ifp::internal
