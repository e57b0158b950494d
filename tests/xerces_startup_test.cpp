// The XML platform leaves the character ranges of the parser's
// regular-expression engine until a pattern first names one, and the
// built-in schema datatypes until something asks for one. These tests are
// that first use, through the library's own API: schema-style patterns must
// match exactly what the ranges' definitions say, whether one thread asks
// first or several ask at once, and validation against a schema must find
// the built-in types, their patterns and the xsi: attributes' types ready;
// so must XSValue's checks of values against built-in types.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <xercesc/framework/psvi/XSValue.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/util/regx/RegularExpression.hpp>

#include "TestSupport.h"

namespace morv::test {
namespace {

struct MatchCase {
  const char16_t* pattern;  // an XML Schema pattern: it must match the whole text
  const char16_t* text;
  bool matches;
};

// Every range category is asked for: Unicode general categories and their
// complements, the XML name and word classes, the ASCII-free digit class and
// a Unicode block. Each pattern with the texts it matches, and those it
// does not.
std::vector<MatchCase> MatchCases() {
  const struct {
    const char16_t* pattern;
    std::vector<const char16_t*> matching;
    std::vector<const char16_t*> others;
  } patterns[] = {
      // ÄßπЖ日本語
      {u"\\p{L}+", {u"abcXYZ", u"\u00c4\u00df\u03c0\u0416\u65e5\u672c\u8a9e"}, {u"abc1", u""}},
      {u"\\p{Lu}", {u"A"}, {u"a"}},
      {u"\\P{L}", {u"1"}, {u"a"}},
      // Arabic-Indic digits are decimal digits.
      {u"\\d+", {u"0123456789", u"\u0661\u0662\u0663"}, {u"12a"}},
      {u"\\D", {u"a"}, {u"7"}},
      {u"[\\i-[:]][\\c-[:]]*", {u"name", u"_a.b-c9", u"\u65e5\u672c"}, {u"a:b", u"1abc", u"-a"}},
      {u"\\I", {u"1"}, {u"a"}},
      {u"\\C", {u" "}, {u"."}},
      // é is a word character; connector punctuation is none here.
      {u"\\w", {u"a", u"5", u"\u00e9"}, {u"_", u" ", u"ab"}},
      {u"\\W", {u"!"}, {u"a"}},
      {u"\\s+", {u" \t\r\n"}, {}},
      {u"\\s", {}, {u"\u00a0"}},  // a no-break space is not XML white space
      {u"\\S", {u"x"}, {}},
      {u"\\p{IsBasicLatin}+", {u"abc~"}, {}},
      {u"\\p{IsBasicLatin}", {}, {u"\u00e9"}},
      {u"\\P{IsBasicLatin}", {u"\u00e9"}, {}},
      {u"\\p{IsGreek}+", {u"\u03b1\u03b2\u03b3"}, {}},  // αβγ
      {u"\\p{IsGreek}", {}, {u"a"}},
  };
  std::vector<MatchCase> cases;
  for (const auto& p : patterns) {
    for (const char16_t* text : p.matching) cases.push_back({p.pattern, text, true});
    for (const char16_t* text : p.others) cases.push_back({p.pattern, text, false});
  }
  return cases;
}

const std::vector<MatchCase> kCases = MatchCases();

std::string Narrow(const char16_t* text) {
  char* narrow = xercesc::XMLString::transcode(text);
  std::string result = narrow;
  xercesc::XMLString::release(&narrow);
  return result;
}

// Whether `c.pattern` matches `c.text`; a pattern the library rejects is a
// failure of its own, reported in `error`.
bool Matches(const MatchCase& c, std::string& error) {
  try {
    const xercesc::RegularExpression regex(c.pattern, u"X");
    return regex.matches(c.text);
  } catch (const xercesc::XMLException& e) {
    error = Narrow(e.getMessage());
    return false;
  }
}

TEST_F(XmlPlatformTest, RegularExpressionRangesAreRightOnFirstUse) {
  for (const MatchCase& c : kCases) {
    SCOPED_TRACE(Narrow(c.pattern) + " against \"" + Narrow(c.text) + "\"");
    std::string error;
    EXPECT_EQ(Matches(c, error), c.matches);
    EXPECT_EQ(error, "");
  }
}

TEST_F(XmlPlatformTest, RegularExpressionRangesAreRightWhenThreadsAskFirstAtOnce) {
  constexpr std::size_t kThreads = 4;
  const std::size_t kCaseCount = kCases.size();
  // Each thread's result for each case; the threads start together, so that
  // they ask for the ranges before any of them is built. They spin until all
  // have arrived: a std::latch hangs now and then under MinGW-w64 and Wine.
  std::vector<std::vector<bool>> results(kThreads, std::vector<bool>(kCaseCount));
  std::vector<std::vector<std::string>> errors(kThreads, std::vector<std::string>(kCaseCount));
  std::atomic<std::size_t> arrived{0};
  {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ++arrived;
        while (arrived < kThreads) std::this_thread::yield();
        // Each thread walks the cases from a different place.
        for (std::size_t k = 0; k < kCaseCount; ++k) {
          const std::size_t i = (k + t * kCaseCount / kThreads) % kCaseCount;
          results[t][i] = Matches(kCases[i], errors[t][i]);
        }
      });
    }
  }
  for (std::size_t t = 0; t < kThreads; ++t) {
    for (std::size_t i = 0; i < kCaseCount; ++i) {
      SCOPED_TRACE("thread " + std::to_string(t) + ": " + Narrow(kCases[i].pattern) +
                   " against \"" + Narrow(kCases[i].text) + "\"");
      EXPECT_EQ(results[t][i], kCases[i].matches);
      EXPECT_EQ(errors[t][i], "");
    }
  }
}

// A schema whose types use the built-in ones, patterns naming the ranges and
// the attributes the schema reader checks against built-in types
// (maxOccurs, minOccurs, nillable).
const char kSchema[] = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:simpleType name="NCName">
    <xs:restriction base="xs:string"><xs:pattern value="[\i-[:]][\c-[:]]*"/></xs:restriction>
  </xs:simpleType>
  <xs:simpleType name="Letters">
    <xs:restriction base="xs:string"><xs:pattern value="\p{L}+"/></xs:restriction>
  </xs:simpleType>
  <xs:element name="r">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="n" type="NCName" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element name="w" type="Letters" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element name="i" type="xs:int" minOccurs="0" maxOccurs="unbounded"/>
        <xs:element name="b" type="xs:boolean" minOccurs="0" nillable="true"/>
      </xs:sequence>
      <xs:attribute name="lang" type="xs:language"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

// Counts the errors a validating parse reports.
class ErrorCounter : public xercesc::DefaultHandler {
 public:
  int errors = 0;
  void error(const xercesc::SAXParseException&) override { ++errors; }
  void fatalError(const xercesc::SAXParseException&) override { ++errors; }
};

struct ValidationCase {
  const char* what;
  std::string body;  // the content of the root element `r`
  std::string attributes;
  bool valid;
};

TEST_F(XmlPlatformTest, SchemaValidationFindsTheBuiltInTypesOnFirstUse) {
  const ValidationCase cases[] = {
      {"all valid", "<n>ab.c-d</n><w>\u65e5\u672c\u8a9e</w><i>-42</i><b>true</b>", "", true},
      {"a colon in an NCName", "<n>a:b</n>", "", false},
      {"a digit among letters", "<w>abc1</w>", "", false},
      {"not an int", "<i>x</i>", "", false},
      {"out of int's range", "<i>2147483648</i>", "", false},
      {"not a boolean", "<b>maybe</b>", "", false},
      {"xsi:nil", "<b xsi:nil='true'/>", "", true},
      {"xsi:nil not a boolean", "<b xsi:nil='perhaps'/>", "", false},
      {"xsi:type derived from int", "<i xsi:type='xs:short'>7</i>", "", true},
      {"xsi:type value out of its range", "<i xsi:type='xs:short'>70000</i>", "", false},
      {"a language tag", "", " lang='en-GB'", true},
      {"not a language tag", "", " lang='not a tag'", false},
  };
  const ScratchDir dir;
  const std::string schema = dir / "r.xsd";
  WriteFile(schema, kSchema);
  XMLCh* const location = xercesc::XMLString::transcode(schema.c_str());
  const std::unique_ptr<XMLCh, void (*)(XMLCh*)> location_owner(
      location, [](XMLCh* p) { xercesc::XMLString::release(&p); });
  for (const ValidationCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string document = dir / "doc.xml";
    WriteFile(document,
              "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
              "xmlns:xs='http://www.w3.org/2001/XMLSchema'" +
                  c.attributes + ">" + c.body + "</r>");
    const std::unique_ptr<xercesc::SAX2XMLReader> parser(
        xercesc::XMLReaderFactory::createXMLReader());
    ErrorCounter counter;
    parser->setErrorHandler(&counter);
    parser->setFeature(xercesc::XMLUni::fgSAX2CoreValidation, true);
    parser->setFeature(xercesc::XMLUni::fgXercesDynamic, false);
    parser->setFeature(xercesc::XMLUni::fgXercesSchema, true);
    parser->setFeature(xercesc::XMLUni::fgXercesSchemaFullChecking, true);
    parser->setProperty(xercesc::XMLUni::fgXercesSchemaExternalNoNameSpaceSchemaLocation, location);
    parser->parse(document.c_str());
    EXPECT_EQ(counter.errors == 0, c.valid) << counter.errors << " errors";
  }
}

struct ValueCase {
  const char16_t* type;  // the name of a built-in type
  const char16_t* value;
  bool valid;
};

TEST_F(XmlPlatformTest, XsValueFindsTheBuiltInTypesOnFirstUse) {
  const ValueCase cases[] = {
      {u"language", u"en-GB", true},       {u"language", u"not a tag", false},
      {u"language", u"toolongtag", false}, {u"int", u"-42", true},
      {u"int", u"2147483648", false},      {u"boolean", u"true", true},
      {u"boolean", u"maybe", false},       {u"NCName", u"a:b", false},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(Narrow(c.type) + " \"" + Narrow(c.value) + "\"");
    const xercesc::XSValue::DataType type = xercesc::XSValue::getDataType(c.type);
    ASSERT_NE(type, xercesc::XSValue::dt_MAXCOUNT);
    xercesc::XSValue::Status status = xercesc::XSValue::st_Init;
    EXPECT_EQ(xercesc::XSValue::validate(c.value, type, status), c.valid);
    EXPECT_NE(status, xercesc::XSValue::st_CantCreateRegEx);
  }
  EXPECT_EQ(xercesc::XSValue::getDataType(u"no such type"), xercesc::XSValue::dt_MAXCOUNT);
}

}  // namespace
}  // namespace morv::test
