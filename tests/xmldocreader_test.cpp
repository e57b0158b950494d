// The SAX2 reader core and the head: which hook sees which start tag and
// which text, how text runs are joined, and when a read fails.

#include "IntermediateFileParser/XmlDocReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "IntermediateFileParser/XmlDocument.h"
#include "TestSupport.h"

namespace morv::test {
namespace {

using TKind = ifp::TReadFailure::TKind;
using TLimit = ifp::TReadFailure::TLimit;

// Records what reaches the body hooks, one line per call.
class RecordingReader : public ifp::TXmlDocReader {
 public:
  using TXmlDocReader::Read;
  std::vector<std::string> events;

 protected:
  void OnElement(const std::string& name, const TAttributes& attributes) override {
    std::string event = "E " + name + " " + std::to_string(GetDepth());
    for (const TAttribute& a : attributes) {
      event += " " + a.first + "=" + a.second;
      // A reader of its own keeping this many bytes.
      if (a.first == "keep") CountKept(static_cast<std::size_t>(ToInt(a)));
    }
    events.push_back(event);
  }
  void OnText(const std::string& name, const std::string& text) override {
    events.push_back("T " + name + " [" + text + "]");
  }
};

class XmlDocReaderTest : public ScratchTest<XmlPlatformTest> {
 protected:
  // Reads `xml` from a file; the events and the document stay for checking.
  bool Read(const std::string& xml) {
    return reader.Read(&doc, WriteFile(dir / "doc.xml", xml).c_str());
  }
  RecordingReader reader;
  ifp::TXmlDocument doc;
};

struct RegionCase {
  const char* what;
  std::string xml;
  std::vector<std::string> events;
};

TEST_F(XmlDocReaderTest, BodyHooksSeeOnlyWhatFollowsTheFirstBodyStartTag) {
  const RegionCase cases[] = {
      {"no body: all is head", "<r><a x='1'>text</a><b/></r>", {}},
      {"body as root", "<body v='1'><a>x</a></body>", {"E a 1", "T a [x]"}},
      {"body nested in the head",
       "<r><head><x><body><c n='2'>t</c></body></x></head><d/></r>",
       {"E body 3", "E c 4 n=2", "T c [t]", "E d 1"}},
      {"text after a child is dropped",
       "<r><body><a>x<b>y</b>z</a></body></r>",
       {"E body 1", "E a 2", "T a [x]", "E b 3", "T b [y]"}},
      {"white space after a start tag is text of the outer element",
       "<r><body>\n  <a/>\n  <b></b>\n</body></r>",
       {"E body 1", "T body [\n  ]", "E a 2", "E b 2"}},
      {"attributes in document order, text joined across comments and references",
       "<!DOCTYPE r [<!ENTITY n '3 4'>]><r><body><a z='1' a='2'>1 <!--c-->2&#32;&n; "
       "<![CDATA[5]]> 6<?pi x?>7 &amp; &lt;</a></body></r>",
       {"E body 1", "E a 2 z=1 a=2", "T a [1 2 3 4 5 67 & <]"}},
  };
  for (const RegionCase& c : cases) {
    SCOPED_TRACE(c.what);
    reader.events.clear();
    ASSERT_TRUE(Read(c.xml));
    EXPECT_EQ(reader.events, c.events);
  }
}

TEST_F(XmlDocReaderTest, TheRootIsRecordedButNeverDispatched) {
  ASSERT_TRUE(Read("<doc version='1.2' version2='x'><body/></doc>"));
  EXPECT_EQ(doc.root_name, "doc");
  EXPECT_EQ(doc.version, "1.2");
  EXPECT_EQ(reader.events, (std::vector<std::string>{"E body 1"}));

  // No version on the root: the old one stays, whatever other elements carry.
  ASSERT_TRUE(Read("<other><head version='9'/><body version='8'/></other>"));
  EXPECT_EQ(doc.root_name, "other");
  EXPECT_EQ(doc.version, "1.2");
  ASSERT_TRUE(Read("<p:doc xmlns:p='urn:x' version=''/>"));  // the local name
  EXPECT_EQ(doc.root_name, "doc");
  EXPECT_EQ(doc.version, "");
}

TEST_F(XmlDocReaderTest, ASecondReadStartsAfresh) {
  // The first read stops deep inside the body.
  EXPECT_FALSE(Read("<r><body><a><b>1"));
  reader.events.clear();
  ASSERT_TRUE(Read("<r><title>t</title><body><a/></body></r>"));
  EXPECT_EQ(doc.title, "t");
  EXPECT_EQ(reader.events, (std::vector<std::string>{"E body 1", "E a 2"}));
}

TEST_F(XmlDocReaderTest, ARunLongerThanTheParsersBufferArrivesInOneCall) {
  // 2.5 MiB of text: the parser cuts it at every MiB.
  std::string text;
  for (int i = 0; text.size() < 2'500'000; ++i) text += std::to_string(i % 1000) + " ";
  ASSERT_TRUE(Read("<r><body><a>" + text + "</a></body></r>"));
  ASSERT_EQ(reader.events.size(), 3u);
  EXPECT_EQ(reader.events[2], "T a [" + text + "]");
}

struct HeadCase {
  std::string what = "";
  std::string xml = "";
  ifp::ELE_create create = {};
  ifp::ELE_generator generator = {};
  std::string title = "";
  std::string comment = "";
};

// A document whose head is a title of these bytes, in this encoding.
std::string Titled(const std::string& encoding, const std::string& title) {
  return Document({.encoding = encoding, .head = "<head><title>" + title + "</title></head>"});
}

TEST_F(XmlDocReaderTest, TheHeadFillsCreateGeneratorTitleAndComment) {
  std::vector<HeadCase> cases = {
      {.what = "some create attributes",
       .xml = "<r><head><create user='u' date='d' other='o'/></head><body/></r>",
       .create = {"u", "", "d", ""}},
      {.what = "two create elements overwrite only what they name",
       .xml = "<r><head><create user='u' host='h'/><create host='h2' source='s'/></head></r>",
       .create = {"u", "h2", "", "s"}},
      {.what = "create and generator nested deeper, before the body",
       .xml = "<r><head><x><y><create user='deep'/><generator name='g' version='2.0'/></y></x>"
              "</head></r>",
       .create = {"deep", "", "", ""},
       .generator = {"g", "2.0"}},
      {.what = "create, title and comment after the body change nothing",
       .xml = "<r><head/><body><create user='late'/><title>late</title><comment>c</comment>"
              "</body></r>"},
      {.what = "a title over several lines is kept verbatim",
       .xml = "<r><head><title>\n  first line\n\tsecond  </title><comment> c </comment></head></r>",
       .title = "\n  first line\n\tsecond  ",
       .comment = " c "},
      {.what = "references in a title",
       .xml = "<r><head><title>Tom &amp; Jerry &#x41;<!-- -->B</title></head></r>",
       .title = "Tom & Jerry AB"},
      {.what = "text before a child element of the title",
       .xml = "<r><head><title>before<b>inner</b>after</title></head></r>",
       .title = "before"},
      // Shift_JIS reads alike on every system, bytes outside the code page
      // included: an unassigned pair is the replacement character, which
      // narrows to "?"; 0x1C is the tool chain's DEL.
      {.what = "unassigned Shift_JIS pairs",
       .xml = Titled("Shift_JIS",
                     "a\x85\x40"
                     "b\xEB\x40\xEF\xFC\xFC\x4C\x81\xAD\x87\x9F"),
       .title = "a?b?????"},
      {.what = "Shift_JIS at the edges of the code page",
       .xml = Titled("Shift_JIS", "\xA1\xDF\x81\x40\x81\x80\xF0\x40\xFC\x4B\x1C"),
       .title = "\xA1\xDF\x81\x40\x81\x80\xF0\x40\xFC\x4B\x7F"},
      // A line end returns to ASCII, unless it ends a lone byte of a pair.
      {.what = "ISO-2022-JP line ends",
       .xml = Titled("ISO-2022-JP", "\x1B$B$^\r\n$^\x1B$B$\n$^\x1B(B"),
       .title = "\x82\xDC\n$^?\x82\xDC"},
      // A malformed sequence is a replacement character, which reads on:
      // escape sequences of other encodings whole, an unknown ESC alone,
      // two designations in a row, SO, an unassigned pair.
      {.what = "ISO-2022-JP malformed sequences",
       .xml = Titled("ISO-2022-JP", "a\x1B$(Db\x1BNc\x1B$B\x1B(Bd\x0E\x1B$B\"/\x1B(B"),
       .title = "a?b?Nc?d??"},
      {.what = "empty and self-closing titles change nothing",
       .xml = "<r><head><title>kept</title><title/><title></title></head></r>",
       .title = "kept"},
  };
  // EUC-JP under every name the tool chain's documents give it: the
  // characters of Shift_JIS, row 13 included; JIS X 0212, after 0x8F, has no
  // Shift_JIS form.
  for (const char* name : {"EUC-JP", "eucJP", "x-euc-jp", "ujis", "eucjis", "csEUCPkdFmtJapanese",
                           "Extended_UNIX_Code_Packed_Format_for_Japanese"}) {
    cases.push_back({.what = std::string("EUC-JP as ") + name,
                     .xml = Titled(name, "\xA4\xDE\xA1\xC1\xAD\xA1\x8E\xB1\x8F\xB0\xA1"),
                     .title = "\x82\xDC\x81\x60\x87\x40\xB1?"});
  }
  // ISO-2022-JP under the names the tool chain's documents give it: JIS X
  // 0208 as in Shift_JIS, half-width katakana after ESC ( I.
  for (const char* name : {"ISO-2022-JP", "csISO2022JP", "x-windows-50220", "iso2022jp"}) {
    cases.push_back({.what = std::string("ISO-2022-JP as ") + name,
                     .xml = Titled(name, "\x1B$B$^!A-!\x1B(I1\x1B(B"),
                     .title = "\x82\xDC\x81\x60\x87\x40\xB1"});
  }
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.what);
    ifp::TXmlDocument fresh;
    ASSERT_TRUE(reader.Read(&fresh, WriteFile(dir / "h.xml", c.xml).c_str()));
    EXPECT_EQ(fresh.create.user, c.create.user);
    EXPECT_EQ(fresh.create.host, c.create.host);
    EXPECT_EQ(fresh.create.date, c.create.date);
    EXPECT_EQ(fresh.create.source, c.create.source);
    EXPECT_EQ(fresh.generator.name, c.generator.name);
    EXPECT_EQ(fresh.generator.version, c.generator.version);
    EXPECT_EQ(fresh.title, c.title);
    EXPECT_EQ(fresh.comment, c.comment);
  }
}

TEST_F(XmlDocReaderTest, TheHeadReadsTheSameFromEveryEncoding) {
  // Long enough to cross the parser's buffers many times, so that characters
  // are cut at their ends, at varying points.
  std::string title_utf8;
  for (int i = 0; title_utf8.size() < 3'000'000; ++i) {
    title_utf8 += "テクスチャ①パターン～表示" + std::to_string(i);
  }
  const std::string body = "<r><head><title>" + title_utf8 + "</title></head></r>";
  const std::string expected = Encode(title_utf8);
  const struct {
    const char* declared;
    const char* iconv_name;
  } encodings[] = {{"Shift_JIS", "CP932"}, {"UTF-8", "UTF-8"}, {"UTF-16", "UTF-16"}};
  for (const auto& e : encodings) {
    SCOPED_TRACE(e.declared);
    const std::string xml = Encode(
        "<?xml version='1.0' encoding='" + std::string(e.declared) + "'?>" + body, e.iconv_name);
    ifp::TXmlDocument fresh;
    ASSERT_TRUE(reader.Read(&fresh, WriteFile(dir / "enc.xml", xml).c_str()));
    EXPECT_EQ(fresh.title, expected);
  }
}

// Names in UTF-8, beyond CP932 too; on POSIX systems names in raw Shift_JIS
// bytes as well, which are no text to Windows.
TEST_F(XmlDocReaderTest, PathsAreOpenedByTheirExactBytes) {
  const std::string document = "<r><head><title>ok</title></head><body/></r>";
  std::vector<std::string> names{"テクスチャ.xml", "Grüße €.xml"};
  if (kSystem == TSystem::kPosix) names.push_back(Encode("パターン.xml"));
  for (const std::string& name : names) {
    const std::string path = WriteFile(dir / name, document);
    ifp::TXmlDocument fresh;
    ASSERT_TRUE(reader.Read(&fresh, path.c_str())) << path;
    EXPECT_EQ(fresh.title, "ok");
  }
}

// In a folder whose name is not ASCII: raw Shift_JIS bytes on POSIX systems,
// the name itself on Windows.
TEST_F(XmlDocReaderTest, LocalExternalDtdsAndEntitiesResolveNextToTheDocument) {
  const std::string sub = dir / (kSystem == TSystem::kPosix ? Encode("資料") : "資料");
  std::filesystem::create_directory(FsPath(sub));
  WriteFile(sub + "/defs.dtd", "<!ENTITY title SYSTEM 'parts/title.txt'>");
  std::filesystem::create_directory(FsPath(sub + "/parts"));
  WriteFile(sub + "/parts/title.txt", "from an entity");
  WriteFile(sub + "/doc.xml",
            "<!DOCTYPE r SYSTEM 'defs.dtd'><r><head><title>&title;</title></head></r>");
  ASSERT_TRUE(reader.Read(&doc, (sub + "/doc.xml").c_str()));
  EXPECT_EQ(doc.title, "from an entity");
}

struct FailureCase {
  const char* what = "";
  FromDir path = nullptr;  // unset: the document below, written to a file
  FromDir xml = nullptr;
  TKind kind = TKind::kNone;  // what GetFailure() must say
  TLimit limit = TLimit::kNone;
  std::string says = "";                       // what its detail must hold
  std::optional<TSystem> only = std::nullopt;  // the one system it means something on
};

// The files the documents refer to: part.txt of 100,000 bytes, and one file
// of 1 MiB under many names (mib.txt, hardlink.txt; on POSIX systems also
// symlink.txt, sub/up/hardlink.txt).
void WriteReferencedFiles(const ScratchDir& dir) {
  WriteFile(dir / "part.txt", std::string(100'000, 'p'));
  WriteFile(dir / "mib.txt", std::string(1 << 20, 'm'));
  std::filesystem::create_directory(dir / "sub");
  if (kSystem == TSystem::kPosix) {
    std::filesystem::create_symlink(dir / "mib.txt", dir / "symlink.txt");
    std::filesystem::create_symlink("..", dir / "sub/up");
  }
  std::filesystem::create_hard_link(dir / "mib.txt", dir / "hardlink.txt");
}

// Entities for the 1 MiB file under its many names, each referenced: every
// read after the first is an expansion, however the path is spelled.
std::string SpelledEntitiesDocument(const ScratchDir& dir) {
  // Symbolic links on POSIX systems; on Windows "\\" separators and the
  // file's second name.
  std::vector<std::string> spellings = {"mib.txt",       "./mib.txt",
                                        ".//mib.txt",    "sub/../mib.txt",
                                        dir / "mib.txt", "file://" + dir / "mib.txt"};
  if (kSystem == TSystem::kPosix) {
    spellings.insert(spellings.end(), {"symlink.txt", "sub/up/hardlink.txt"});
  } else {
    spellings.insert(spellings.end(), {"sub\\..\\mib.txt", "sub/../hardlink.txt"});
  }
  std::string spelled_entities;
  std::string spelled_references;
  // Each spelling once as it is and once with "./" before the file name:
  // sixteen reads, more than the ten that the first read's 1 MiB of input
  // allows.
  for (std::size_t i = 0; i < 2 * spellings.size(); ++i) {
    std::string spelling = spellings[i / 2];
    if (i % 2 == 1) spelling.insert(spelling.find_last_of("/\\") + 1, "./");
    spelled_entities += "<!ENTITY f" + std::to_string(i) + " SYSTEM '" + spelling + "'>";
    spelled_references += "&f" + std::to_string(i) + ";";
  }
  return Doctype(spelled_entities) + "<r>" + spelled_references + "</r>";
}

// A failure of the kind's resource, saying what `says`.
FailureCase Refused(const char* what, const std::string& xml, const std::string& says = "",
                    std::optional<TSystem> only = std::nullopt) {
  return {.what = what, .xml = Fixed(xml), .kind = TKind::kResource, .says = says, .only = only};
}

// A failure past `limit`.
FailureCase OverLimit(const char* what, FromDir xml, TLimit limit) {
  return {.what = what, .xml = std::move(xml), .kind = TKind::kLimit, .limit = limit};
}

// A document that is no XML the parser takes.
FailureCase Unparsed(const char* what, const std::string& xml) {
  return {.what = what, .xml = Fixed(xml), .kind = TKind::kParse};
}

std::vector<FailureCase> FailureCases() {
  const TSystem posix = TSystem::kPosix;
  const TSystem windows = TSystem::kWindows;
  return {
      {.what = "missing file", .path = Named("missing.xml"), .kind = TKind::kInput},
      OverLimit("one file under sixteen spellings of its path, each read once",
                SpelledEntitiesDocument, TLimit::kEntityExpansion),
      {.what = "directory", .path = TheDir(), .kind = TKind::kInput, .says = "is a directory"},
      {.what = "endless input", .path = Fixed("/dev/zero"), .kind = TKind::kParse, .only = posix},
      Unparsed("empty file", ""),
      Unparsed("not well-formed", "<r><body></r>"),
      Unparsed("undeclared entity", "<r>&nothing;</r>"),
      Unparsed("unknown encoding", "<?xml version='1.0' encoding='x-unknown-enc'?><r/>"),
      Unparsed("a lone 0x80 under Shift_JIS",
               "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x80</title></r>"),
      Unparsed("bytes that are no Shift_JIS character",
               "<?xml version='1.0' encoding='Shift_JIS'?><r><title>\xA0\xFD\xFE\xFF</title></r>"),
      Unparsed("a Shift_JIS lead byte before a byte that cannot trail it",
               "<?xml version='1.0' encoding='Shift_JIS'?><r><title>\x81\x7F</title></r>"),
      Unparsed("0x7F under Shift_JIS, the tool chain's substitute character",
               "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x7F</title></r>"),
      Unparsed("a warning only",
               "<!DOCTYPE r [<!ATTLIST r a CDATA #IMPLIED><!ATTLIST r a CDATA #IMPLIED>]><r/>"),
      Refused("network DTD", "<!DOCTYPE r SYSTEM 'http://127.0.0.1:9/r.dtd'><r/>"),
      Refused("network entity",
              "<!DOCTYPE r [<!ENTITY x SYSTEM 'https://127.0.0.1:9/x'>]><r>&x;</r>"),
      // A scheme without a host names no local file either.
      Refused("a scheme without a host", "<!DOCTYPE r SYSTEM 'http:empty.ent'><r/>",
              "not a local file"),
      Refused("a five-letter scheme without a host", "<!DOCTYPE r SYSTEM 'https:empty.ent'><r/>",
              "not a local file"),
      Refused("ftp entity", "<!DOCTYPE r [<!ENTITY x SYSTEM 'ftp://127.0.0.1/x'>]><r>&x;</r>"),
      Refused("remote file URL", "<!DOCTYPE r SYSTEM 'file://example.invalid/r.dtd'><r/>"),
      {.what = "another host's file URL naming a local file",
       .xml =
           [](const ScratchDir& dir) {
             return Doctype("<!ENTITY x SYSTEM 'file://otherhost" + dir / "part.txt" + "'>") +
                    "<r>&x;</r>";
           },
       .kind = TKind::kResource},
      Refused("missing local DTD", "<!DOCTYPE r SYSTEM 'nothing.dtd'><r/>"),
      Refused("a device as DTD", "<!DOCTYPE r SYSTEM '/dev/zero'><r/>", "is not a regular file",
              posix),
      Refused("an empty device as entity",
              "<!DOCTYPE r [<!ENTITY x SYSTEM '/dev/null'>]><r>&x;</r>", "is not a regular file",
              posix),
      Refused("a DOS device as DTD", "<!DOCTYPE r SYSTEM 'COM1'><r/>", "a device", windows),
      Refused("a DOS device with an extension as entity",
              "<!DOCTYPE r [<!ENTITY x SYSTEM 'nul.txt'>]><r>&x;</r>", "a device", windows),
      Refused("a network share as entity",
              "<!DOCTYPE r [<!ENTITY x SYSTEM '\\\\host\\s\\x'>]><r>&x;</r>", "not a local file",
              windows),
      Refused("a directory as entity", "<!DOCTYPE r [<!ENTITY x SYSTEM '.'>]><r>&x;</r>",
              "is a directory"),
      Refused("a directory as DTD", "<!DOCTYPE r SYSTEM 'sub'><r/>", "is a directory"),
      OverLimit("300 attributes", Fixed("<r><body><a" + Attributes(300) + "/></body></r>"),
                TLimit::kAttributes),
      OverLimit("attributes and namespace declarations together",
                Fixed("<r><a" + Attributes(200) + Bindings(100) + "/></r>"), TLimit::kAttributes),
      OverLimit("namespace bindings in scope over nested elements",
                Fixed(Repeat("<a xmlns:p='u' xmlns:q='v' xmlns:s='w'>", 100) + Repeat("</a>", 100)),
                TLimit::kNamespaceBindings),
      OverLimit(
          "a parameter entity of white space, again and again",
          Fixed(Doctype("<!ENTITY % ws '" + std::string(1000, ' ') + "'>" + Repeat("%ws;", 5000)) +
                "<r/>"),
          TLimit::kEntityExpansion),
      OverLimit("a DTD default attribute on every element",
                Fixed(Doctype("<!ATTLIST a v CDATA '" + std::string(10'000, 'v') + "'>") + "<r>" +
                      Repeat("<a/>", 500) + "</r>"),
                TLimit::kEntityExpansion),
      OverLimit("entity references in attribute values",
                Fixed(Doctype(Entity("e", std::string(10'000, 'v'))) + "<r>" +
                      Repeat("<a v='&e;&e;&e;&e;&e;'/>", 100) + "</r>"),
                TLimit::kEntityExpansion),
      OverLimit(
          "an external entity read again and again",
          Fixed(Doctype("<!ENTITY x SYSTEM 'part.txt'>") + "<r>" + Repeat("&x;", 50) + "</r>"),
          TLimit::kEntityExpansion),
      OverLimit("empty entities, referenced without end",
                Fixed(Doctype(Entity("e", "")) + "<r>" + Repeat("&e;", 60'000) + "</r>"),
                TLimit::kEntityReferences),
      OverLimit("entities nested two thousand deep",
                Fixed(Doctype(EntityChain(2000)) + "<r>&e2000;</r>"), TLimit::kEntityNesting),
      OverLimit("a namespace declaration defaulted from the DTD on every element",
                Fixed(Doctype(Entity("b", std::string(1 << 20, 'u')) +
                              "<!ATTLIST x xmlns:p CDATA '&b;'>") +
                      "<r>" + Repeat("<x/>", 2000) + "</r>"),
                TLimit::kEntityExpansion),
      OverLimit("a default namespace and a prefix defaulted on a reader's own element",
                Fixed(Doctype(Entity("b", std::string(1 << 19, 'u')) +
                              "<!ATTLIST image_name xmlns CDATA '&b;' xmlns:q CDATA '&b;'>") +
                      "<r><body>" + Repeat("<image_name/>", 2000) + "</body></r>"),
                TLimit::kEntityExpansion),
      OverLimit("50,000 attributes declared for one element type",
                Fixed(Doctype("<!ATTLIST x" + DeclaredAttributes(50'000) + ">") + "<r>" +
                      Repeat("<x/>", 10'000) + "</r>"),
                TLimit::kDeclaredAttributes),
      OverLimit("enumerated and defaulted declarations over several lists", Later([] {
                  std::string lists;
                  for (int i = 0; i < 300; ++i) {
                    lists += "<!ATTLIST tex_pattern_anm e" + std::to_string(i) + " (a|b) 'a' d" +
                             std::to_string(i) + " CDATA 'v'>";
                  }
                  return Doctype(lists) + "<r/>";
                }),
                TLimit::kDeclaredAttributes),
      {.what = "a processing instruction beyond the parser's memory",
       .xml = Later([] { return "<r/><?pi " + std::string(17 << 20, 'p') + "?>"; }),
       .kind = TKind::kMemory},
  };
}

class XmlDocReaderFailureTest : public XmlDocReaderTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(XmlDocReaderFailureTest, FailsTheReadAndSaysWhy) {
  const FailureCase& c = GetParam();
  MORV_SKIP_ROW_OF_THE_OTHER_SYSTEM(c);
  WriteReferencedFiles(dir);
  const std::string path = c.path ? c.path(dir) : WriteFile(dir / "bad.xml", c.xml(dir));
  // A read that waited on the network or on the end of an endless input
  // would never get here (the test's time-out ends it).
  EXPECT_FALSE(reader.Read(&doc, path.c_str()));
  EXPECT_EQ(reader.GetFailure().kind, c.kind) << reader.GetFailure().Describe();
  EXPECT_EQ(reader.GetFailure().limit, c.limit) << reader.GetFailure().Describe();
  EXPECT_NE(reader.GetFailure().detail.find(c.says), std::string::npos)
      << reader.GetFailure().Describe();
  // Where the parser had got to; no position for a document never opened.
  EXPECT_EQ(reader.GetFailure().line == 0, c.kind == TKind::kInput)
      << reader.GetFailure().Describe();
  // A reader whose read failed (its parser out of memory, say) reads the next
  // document as usual.
  ASSERT_TRUE(Read("<r><title>after</title></r>"));
  EXPECT_EQ(reader.GetFailure().kind, TKind::kNone);
}

INSTANTIATE_TEST_SUITE_P(EveryParserReportAndBadInput, XmlDocReaderFailureTest,
                         ::testing::ValuesIn(FailureCases()), NameRowByWhat());

}  // namespace
}  // namespace morv::test

namespace ifp {
// The library's limits or others, as a row's parameter shows them.
void PrintTo(const TReadLimits& limits, std::ostream* os) {
  *os << (limits == TReadLimits() ? "the library's limits" : "other limits");
}
}  // namespace ifp

namespace morv::test {
namespace {

// Each limit lets a document at its figure through and refuses the next
// step: at the library's figures, and at lower ones a reader was given.
struct LimitCase {
  const char* what = "";
  // `more` steps past the figure of `limits`
  std::function<std::string(const ifp::TReadLimits& limits, int more)> document = nullptr;
  TLimit limit = TLimit::kNone;
  TKind kind = TKind::kLimit;
  // Files the documents refer to, made in the scratch directory.
  std::function<void(const ScratchDir&)> prepare = nullptr;
};

std::vector<LimitCase> LimitCases() {
  using L = const ifp::TReadLimits&;
  const auto count = [](auto figure, int more) { return static_cast<int>(figure) + more; };
  const auto attributes = [=](L limits, int more) {
    return "<r" + Attributes(count(limits.max_attributes, more)) + "/>";
  };
  const auto bindings = [=](L limits, int more) {
    return "<r><a" + Bindings(count(limits.max_namespace_bindings, more)) + "/></r>";
  };
  const auto declared = [=](L limits, int more) {
    std::string text;
    for (int i = 0; i < count(limits.max_declared_attributes, more); ++i) {
      text += "<!ATTLIST a d" + std::to_string(i) + " CDATA 'v'>";
    }
    return Doctype(text) + "<r><a/><a/></r>";
  };
  // Past 16 declared attributes, each start tag of the type counts them as
  // expansion: elements of 1,000 to an entity, referred to until its text is
  // half the expansion floor, take the walks past it.
  const auto walked = [](L limits, int more) {
    const std::uint64_t references = limits.expansion_floor / 8000;
    return Doctype("<!ATTLIST x" + DeclaredAttributes(16 + more) + ">" +
                   Entity("e", Repeat("<x/>", 1000))) +
           "<r>" + Repeat("&e;", static_cast<int>(references)) + "</r>";
  };
  // The model, the parser and the copies share one budget: a document that
  // keeps all of it but the 2 MiB the parser of a small document stays
  // under reads, and one that keeps a byte more than all of it does not.
  // The count is written with ten digits, so that the size is the same
  // whatever it is.
  const auto kept = [](L limits, int more) {
    const auto document = [](std::uint64_t bytes) {
      std::string digits = std::to_string(bytes);
      digits.insert(0, 10 - digits.size(), '0');
      return "<r><body><a keep='" + digits + "'/></body></r>";
    };
    const std::uint64_t budget = limits.memory_floor + limits.memory_factor * document(0).size();
    return document(more == 0 ? budget - (2 << 20) : budget + 1);
  };
  // A comment is gathered in a buffer that doubles, the old block beside the
  // new one: one of a quarter of the parser's budget in UTF-16 units reads,
  // a little more does not.
  const auto comment = [](L limits, int more) {
    const std::size_t units = limits.parser_memory_budget / 2 / 2;
    return "<r/><!--" + std::string(more == 0 ? units - (64 << 10) : units + (64 << 10), 'c') +
           "-->";
  };
  const auto nested = [=](L limits, int more) {
    return Repeat("<a>", count(limits.max_depth, more)) +
           Repeat("</a>", count(limits.max_depth, more));
  };
  const auto references = [=](L limits, int more) {
    return Doctype(Entity("e", "")) + "<r>" +
           Repeat("&e;", count(limits.max_entity_references, more)) + "</r>";
  };
  // References to an external entity, an empty file, each opening it anew.
  const auto external_references = [=](L limits, int more) {
    return Doctype("<!ENTITY x SYSTEM 'empty.ent'>") + "<r>" +
           Repeat("&x;", count(limits.max_entity_references, more)) + "</r>";
  };
  const auto nesting = [=](L limits, int more) {
    const int levels = count(limits.max_entity_nesting, more);
    return Doctype(EntityChain(levels)) + "<r>&e" + std::to_string(levels) + ";</r>";
  };
  // The floor's units of text in all: references to 4,096 units.
  const auto expansion = [=](L limits, int more) {
    return Doctype(Entity("e", std::string(4096, 'x'))) + "<r>" +
           Repeat("&e;", count(limits.expansion_floor / 4096, more)) + "</r>";
  };
  const auto title = [](L limits, int more) {
    return "<r><title>" + std::string(limits.max_text_run + static_cast<std::size_t>(more), 't') +
           "</title></r>";
  };
  return {
      {"text run", title, TLimit::kTextRun},
      {"depth", nested, TLimit::kDepth},
      {"attributes", attributes, TLimit::kAttributes},
      {"declared attributes", declared, TLimit::kDeclaredAttributes},
      {"declared attributes walked", walked, TLimit::kEntityExpansion},
      {"kept data", kept, TLimit::kKeptData},
      {.what = "parser memory", .document = comment, .kind = TKind::kMemory},
      {"namespace bindings", bindings, TLimit::kNamespaceBindings},
      {"entity references", references, TLimit::kEntityReferences},
      {.what = "external entity references",
       .document = external_references,
       .limit = TLimit::kEntityReferences,
       .prepare = [](const ScratchDir& dir) { WriteFile(dir / "empty.ent", ""); }},
      {"entity nesting", nesting, TLimit::kEntityNesting},
      {"entity expansion", expansion, TLimit::kEntityExpansion},
  };
}

// Every figure lower than the library's, for a reader given them.
ifp::TReadLimits LoweredLimits() {
  ifp::TReadLimits limits;
  limits.max_depth = 10;
  limits.max_attributes = 30;
  limits.max_declared_attributes = 20;
  limits.max_namespace_bindings = 5;
  limits.max_entity_references = 100;
  limits.max_entity_nesting = 4;
  limits.max_text_run = 1 << 20;
  limits.expansion_factor = 2;
  limits.expansion_floor = 64 << 10;
  limits.memory_factor = 2;
  limits.memory_floor = 16 << 20;
  limits.parser_memory_budget = 8 << 20;
  return limits;
}

class XmlDocReaderLimitTest
    : public XmlDocReaderTest,
      public ::testing::WithParamInterface<std::tuple<LimitCase, ifp::TReadLimits>> {};

TEST_P(XmlDocReaderLimitTest, RefusesExactlyPastItsFigure) {
  const auto& [c, limits] = GetParam();
  if (c.prepare) c.prepare(dir);
  reader.SetLimits(limits);
  ASSERT_EQ(reader.GetLimits(), limits);
  EXPECT_TRUE(Read(c.document(limits, 0))) << reader.GetFailure().Describe();
  EXPECT_FALSE(Read(c.document(limits, 1)));
  EXPECT_EQ(reader.GetFailure().kind, c.kind) << reader.GetFailure().Describe();
  EXPECT_EQ(reader.GetFailure().limit, c.limit) << reader.GetFailure().Describe();
  // Where the parser had got to.
  EXPECT_GT(reader.GetFailure().line, 0u) << reader.GetFailure().Describe();
  EXPECT_GT(reader.GetFailure().column, 0u) << reader.GetFailure().Describe();
}

std::string LimitRowName(
    const ::testing::TestParamInfo<std::tuple<LimitCase, ifp::TReadLimits>>& info) {
  const auto& [c, limits] = info.param;
  return RowName(c.what) + (limits == ifp::TReadLimits() ? "" : "Lowered");
}

INSTANTIATE_TEST_SUITE_P(TheLimits, XmlDocReaderLimitTest,
                         ::testing::Combine(::testing::ValuesIn(LimitCases()),
                                            ::testing::Values(ifp::TReadLimits(), LoweredLimits())),
                         LimitRowName);

// A document from a pipe has no size to be allowed by: it is allowed what
// it has shown so far. Six million characters of attribute values, past the
// floor of 4 Mi, read from a FIFO.
TEST_F(XmlDocReaderTest, APipedDocumentIsAllowedExpansionByWhatItHasShown) {
  const std::string document =
      "<r><body>" + Repeat("<a v='" + std::string(1000, 'v') + "'/>", 6000) + "</body></r>";
  // The writer gives up once the read has ended, whether the reader took
  // everything or stopped early.
  const NamedPipe pipe(dir / "fifo", document, false);
  const bool read = reader.Read(&doc, pipe.Path().c_str());
  EXPECT_TRUE(read) << reader.GetFailure().Describe();
  EXPECT_EQ(reader.events.size(), 6001u);
}

TEST_F(XmlDocReaderTest, SchemaLocationHintsAreNeverLoaded) {
  ASSERT_TRUE(
      Read("<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
           "xsi:noNamespaceSchemaLocation='http://127.0.0.1:9/r.xsd' "
           "xsi:schemaLocation='urn:x missing.xsd'><body><a/></body></r>"));
  EXPECT_EQ(reader.events, (std::vector<std::string>{"E body 1", "E a 2"}));
}

// The README and the manual page state the limits in words; each figure
// there must be the library's own.
TEST(ReadLimitsTest, TheDocumentsStateTheLibrarysFigures) {
  using L = ifp::TReadLimits;
  const auto n = [](auto value) { return std::to_string(value); };
  const auto mib = [](auto bytes) { return std::to_string(bytes >> 20) + " MiB"; };
  const auto thousands = [](std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
      grouped += digits[i];
    }
    return grouped;
  };
  const struct {
    const char* readme_row;  // the first cell of its row in the README's table
    const char* man_item;    // its item in the manual page's LIMITS
    std::vector<std::string> figures;
  } limits[] = {
      {"nesting depth", "depth", {n(L::kMaxDepth)}},
      {"attributes", "attributes", {n(L::kMaxAttributes)}},
      {"declared attributes", "declared attributes", {n(L::kMaxDeclaredAttributes)}},
      {"namespace bindings", "namespace bindings", {n(L::kMaxNamespaceBindings)}},
      {"entity references", "entity references", {thousands(L::kMaxEntityReferences)}},
      {"entity nesting", "entity nesting", {n(L::kMaxEntityNesting)}},
      {"entity expansion",
       "entity expansion",
       {n(L::kExpansionFactor) + " ", n(L::kExpansionFloor >> 20) + " Mi characters"}},
      {"memory", "kept data", {mib(L::kMemoryFloor), " " + n(L::kMemoryFactor) + " "}},
      {"parser memory", "memory", {mib(L::kParserMemoryBudget)}},
      {"text kept whole", "text run", {mib(L::kMaxTextRun)}},
  };
  const std::string readme = ReadFile(SourceFile("README.md"));
  const std::string man = ReadFile(SourceFile("man/morv_conv.1"));
  for (const auto& limit : limits) {
    SCOPED_TRACE(limit.readme_row);
    const std::size_t row = readme.find(std::string("\n| ") + limit.readme_row + " |");
    const std::size_t item = man.find(std::string("\n.B ") + limit.man_item + "\n");
    ASSERT_NE(row, std::string::npos);
    ASSERT_NE(item, std::string::npos);
    const std::string row_text = readme.substr(row, readme.find('\n', row + 1) - row);
    const std::string item_text = man.substr(item, man.find("\n.TP", item + 1) - item);
    for (const std::string& figure : limit.figures) {
      EXPECT_NE(row_text.find(figure), std::string::npos) << figure << " in " << row_text;
      EXPECT_NE(item_text.find(figure), std::string::npos) << figure << " in " << item_text;
    }
  }
}

}  // namespace
}  // namespace morv::test
