// Hostile and broken documents, each run through the built converter as a
// process under a CPU-time and a wall-clock limit: every one must end with
// its message and status, say why in its trace, leave an existing output
// file as it was (unless it converts), and stay within 64 MiB and three
// times the document in all.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using morv::test::DeclaredAttributes;
using morv::test::Entity;
using morv::test::kSentinel;
using morv::test::ReadFile;
using morv::test::Repeat;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::TableFile;
using morv::test::WriteFile;
namespace msg = morv::test::msg;

constexpr long kMemoryBarKib = 64 * 1024;

std::string Document(const std::string& doctype, const std::string& body,
                     const std::string& head = "<head><title>t</title></head>") {
  return "<?xml version='1.0'?>" + doctype + "<r>" + head + "<body>" + body + "</body></r>";
}

// Lists of one step each, so that a document that reads also converts.
const std::string kOneStep =
    "<d><frame_idx size='1'>7</frame_idx><image_idx size='1'>1</image_idx>"
    "<palette_idx size='1'>2</palette_idx></d>";

// Where a row's document may point: the test's scratch directory, its pipes
// (FIFOs on POSIX systems, named pipes on Windows) and a listener nobody must
// reach.
struct Places {
  const ScratchDir& dir;
  std::string fifo;     // a pipe nobody writes
  std::string endless;  // a pipe fed white space without end
  std::string url;      // of the listener
};

using Builder = std::function<std::string(const Places&)>;

// How a run must end.
struct Outcome {
  std::string printed;  // "read" for the read-failure line of the input path
  int status;
  std::string table;   // for documents that convert
  std::string reason;  // what the trace must give as the reason of a failed read
};

// The read fails, for `reason`.
Outcome ReadFails(std::string reason) { return {"read", 1, "", std::move(reason)}; }

// The document converts to `table`.
Outcome Converts(std::string table) { return {"", 0, std::move(table), ""}; }

// The document reads but does not convert.
Outcome ConvertFails() { return {msg::kConvertFailed, 1, "", ""}; }

struct HostileCase {
  const char* what;
  Builder document;  // written to a file; unset when `path` is set
  Builder path;
  Outcome outcome;
  std::optional<morv::test::TSystem> only = std::nullopt;  // the one system it means something on

  friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.what; }
};

using morv::test::TSystem;

// The trace's reason for an external resource refused by its name.
const std::string kRefused = "resource: refused";

// A document whose external DTD is `id`.
Builder RefusedDtd(std::string id) {
  return [id = std::move(id)](const Places&) {
    return "<!DOCTYPE r SYSTEM '" + id + "'>" + Document("", kOneStep);
  };
}

// A document in a DOCTYPE declaring the entity e as `text`.
Builder WithEntity(std::string text, std::string body, std::string head = "") {
  return [=](const Places&) {
    const std::string doctype = "<!DOCTYPE r [" + Entity("e", text) + "]>";
    return head.empty() ? Document(doctype, body) : Document(doctype, body, head);
  };
}

// A document that points nowhere in the row's places, built when the row
// runs.
Builder Fixed(std::function<std::string()> make) {
  return [make = std::move(make)](const Places&) { return make(); };
}

// 120 kanji (あ) in UTF-8.
std::string Kanji120() { return Repeat("\xE3\x81\x82", 120); }

// 24 MiB of markup, twice that in the parser's UTF-16.
std::string Markup() { return std::string(24 << 20, 'm'); }

// A 1 MiB file under 4,096 spellings of its path, each an external entity,
// and the references to them.
std::string SpelledEntitiesDocument(const ScratchDir& dir) {
  WriteFile(dir / "e.ent", std::string(1 << 20, 'e'));
  // Its second name: a symbolic link on POSIX systems, a hard link on Windows.
  if (morv::test::kSystem == morv::test::TSystem::kPosix) {
    std::filesystem::create_symlink(dir / "e.ent", dir / "link.ent");
  } else {
    std::filesystem::create_hard_link(dir / "e.ent", dir / "link.ent");
  }
  std::string entities;
  std::string references;
  for (int i = 0; i < 4096; ++i) {
    std::string spelling = i % 3 == 0   ? "." + std::string(i / 64 + 1, '/')
                           : i % 3 == 1 ? dir.path().string() + std::string(i / 64 + 1, '/')
                                        : "file://" + dir.path().string() + "/";
    for (int j = 0; j < i % 64; ++j) spelling += "./";
    spelling += i % 2 == 0 ? "e.ent" : "link.ent";
    entities += "<!ENTITY e" + std::to_string(i) + " SYSTEM '" + spelling + "'>";
    references += "&e" + std::to_string(i) + ";";
  }
  return Document("<!DOCTYPE r [" + entities + "]>", "<x>" + references + "</x>" + kOneStep);
}

// Eight distinct files of 1 MiB, each an external entity referenced once.
std::string DistinctEntitiesDocument(const ScratchDir& dir) {
  std::string entities;
  std::string references;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "distinct" + std::to_string(i) + ".ent";
    WriteFile(dir / name, std::string(1 << 20, static_cast<char>('a' + i)));
    entities += "<!ENTITY d" + std::to_string(i) + " SYSTEM '" + name + "'>";
    references += "&d" + std::to_string(i) + ";";
  }
  return Document("<!DOCTYPE r [" + entities + "]>", "<x>" + references + "</x>" + kOneStep);
}

// `count` records filling the model close to the memory budget, then an
// attribute value of 8,000 references to a 1,000-character entity: the
// parser's memory, and the copy of the value, come out of the same budget.
std::string FullModel(const std::string& list, const std::string& record, int count) {
  const std::string end = "</" + list.substr(1);
  return Document("<!DOCTYPE r [" + Entity("e", std::string(1000, 'x')) + "]>",
                  list + Repeat(record, count) + end + list + record.substr(0, record.size() - 2) +
                      " name='" + Repeat("&e;", 8000) + "'/>" + end + kOneStep);
}

std::vector<HostileCase> HostileCases() {
  const std::string one_step_table = TableFile({7}, {1}, {2});
  const std::string expansion = "limit (entity expansion)";
  const std::string blown_up = Repeat("&e;", 5000);
  return {
      {"entity bomb",
       Fixed([] { return Document(morv::test::EntityBombDoctype(), "<x>&e10;</x>" + kOneStep); }),
       {},
       ReadFails("limit (entity references)")},
      {"100 kB entity x 5,000 in unread text",
       WithEntity(std::string(100'000, 'a'), "<x>" + blown_up + "</x>" + kOneStep),
       {},
       ReadFails(expansion)},
      {"100 kB entity x 10,000 in the title",
       WithEntity(std::string(100'000, 'a'), kOneStep,
                  "<head><title>" + Repeat("&e;", 10'000) + "</title></head>"),
       {},
       ReadFails(expansion)},
      {"5,000 image names x 5,000",
       WithEntity(Repeat("<image_name/>", 5000),
                  "<tex_pattern_list_data>" + blown_up + "</tex_pattern_list_data>" + kOneStep),
       {},
       ReadFails(expansion)},
      {"50,000 values x 5,000 under the largest size",
       WithEntity(Repeat("1 ", 50'000),
                  "<d><frame_idx size='2147483647'>" + blown_up + "</frame_idx></d>"),
       {},
       ReadFails(expansion)},
      {"50,000 values x 5,000 under a size of 3",
       WithEntity(Repeat("1 ", 50'000), "<d><frame_idx size='3'>" + blown_up + "</frame_idx></d>"),
       {},
       ReadFails("count")},
      {"a DTD default built from 40,000 references, on 200 elements",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ENTITY e '" + std::string(1000, 'x') +
                             "'><!ATTLIST a v CDATA '" + Repeat("&e;", 40'000) + "'>]>",
                         Repeat("<a/>", 200) + kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"the same default as the name of 200 images",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ENTITY e '" + std::string(1000, 'x') +
                             "'><!ATTLIST image_name name CDATA '" + Repeat("&e;", 40'000) + "'>]>",
                         "<tex_pattern_list_data>" + Repeat("<image_name/>", 200) +
                             "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"a namespace declaration of 1 Mi characters defaulted on 2,000 elements",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ENTITY b '" + std::string(1 << 20, 'u') +
                             "'><!ATTLIST x xmlns:p CDATA '&b;'>]>",
                         Repeat("<x/>", 2000) + kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"two namespace declarations defaulted on 20,000 image names",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ENTITY b '" + std::string(1 << 20, 'u') +
                             "'><!ATTLIST image_name xmlns CDATA '&b;' xmlns:q CDATA '&b;'>]>",
                         "<tex_pattern_list_data>" + Repeat("<image_name/>", 20'000) +
                             "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"50,000 attributes declared for one element type, then 10,000 of it",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST x" + DeclaredAttributes(50'000) + ">]>",
                         Repeat("<x/>", 10'000) + kOneStep);
       }),
       {},
       ReadFails("limit (declared attributes)")},
      {"50,000 attributes declared for frame_idx, one per list",
       Fixed([] {
         std::string lists;
         for (int i = 0; i < 50'000; ++i) {
           lists += "<!ATTLIST frame_idx v" + std::to_string(i) + " (a|b) #IMPLIED>";
         }
         return Document("<!DOCTYPE r [" + lists + "]>", kOneStep);
       }),
       {},
       ReadFails("limit (declared attributes)")},
      {"256 attributes declared for one element type, then 250,000 of it",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST x" + DeclaredAttributes(256) + ">]>",
                         Repeat("<x/>", 250'000) + kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"16 attributes declared for one element type, then 250,000 of it",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST x" + DeclaredAttributes(16) + ">]>",
                         Repeat("<x/>", 250'000) + kOneStep);
       }),
       {},
       Converts(one_step_table)},
      {"one 1 MiB external entity under 4,096 spellings of its path",
       [](const Places& at) { return SpelledEntitiesDocument(at.dir); },
       {},
       ReadFails(expansion)},
      {"eight distinct 1 MiB external entities, each read once",
       [](const Places& at) { return DistinctEntitiesDocument(at.dir); },
       {},
       Converts(one_step_table)},
      {"a default name of 120 kanji on 400,000 image names",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST image_name name CDATA '" + Kanji120() + "'>]>",
                         "<tex_pattern_list_data>" + Repeat("<image_name/>", 400'000) +
                             "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       ReadFails("limit (kept data)")},
      {"default indices and names on 400,000 palette names",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST palette_name index CDATA '12345' name CDATA '" +
                             Kanji120() + "'>]>",
                         "<tex_pattern_list_data>" + Repeat("<palette_name/>", 400'000) +
                             "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       ReadFails("limit (kept data)")},
      {"a default material name on 300,000 pattern records",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ATTLIST tex_pattern_anm material_name CDATA '" +
                             Kanji120() + "' data_size CDATA '1'>]>",
                         "<tex_pattern_anm_array>" + Repeat("<tex_pattern_anm/>", 300'000) +
                             "</tex_pattern_anm_array>" + kOneStep);
       }),
       {},
       ReadFails("limit (kept data)")},
      {"defaults of every create attribute on 400,000 create elements",
       Fixed([] {
         const std::string kanji_120 = Kanji120();
         return Document("<!DOCTYPE r [<!ATTLIST create user CDATA '" + kanji_120 +
                             "' host CDATA '" + kanji_120 + "' date CDATA '" + kanji_120 +
                             "' source CDATA '" + kanji_120 + "'>]>",
                         kOneStep, "<head>" + Repeat("<create/>", 400'000) + "</head>");
       }),
       {},
       ReadFails(expansion)},
      {"list values from a 4 MB entity, ten times, under the largest size",
       Fixed([] {
         return Document(
             "<!DOCTYPE r [<!ENTITY v '" + Repeat("1 ", 2'000'000) + "'>]>",
             "<d><frame_idx size='2147483647'>" + Repeat("&v;", 10) + "</frame_idx></d>");
       }),
       {},
       ReadFails("limit (kept data)")},
      {"2,000,000 plain image names",
       Fixed([] {
         return Document("", "<tex_pattern_list_data>" + Repeat("<image_name/>", 2'000'000) +
                                 "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       Converts(one_step_table)},
      {"2,400,000 image names, then 8,000 kB of attribute value from an entity",
       Fixed([] { return FullModel("<tex_pattern_list_data>", "<image_name/>", 2'400'000); }),
       {},
       ReadFails("limit (kept data)")},
      {"1,500,000 pattern records, then 8,000 kB of their name from an entity",
       Fixed([] { return FullModel("<tex_pattern_anm_array>", "<tex_pattern_anm/>", 1'500'000); }),
       {},
       ReadFails("limit (kept data)")},
      {"5,000 image names x 400 from an entity, beside 3 MB of comment",
       Fixed([] {
         return Document("<!DOCTYPE r [" + Entity("e", Repeat("<image_name/>", 5000)) + "]><!--" +
                             std::string(3'000'000, 'c') + "-->",
                         "<tex_pattern_list_data>" + Repeat("&e;", 400) +
                             "</tex_pattern_list_data>" + kOneStep);
       }),
       {},
       ReadFails("limit (kept data)")},
      {"a parameter entity of white space x 100,000",
       Fixed([] {
         return Document("<!DOCTYPE r [<!ENTITY % ws '" + std::string(1'000'000, ' ') + "'>" +
                             Repeat("%ws;", 100'000) + "]>",
                         kOneStep);
       }),
       {},
       ReadFails(expansion)},
      {"a chain of 49,990 entities",
       Fixed([] {
         return Document("<!DOCTYPE r [" + morv::test::EntityChain(49'990) + "]>",
                         "<x>&e49990;</x>" + kOneStep);
       }),
       {},
       ReadFails("limit (entity nesting)")},
      {"an empty entity x 1,000,000",
       WithEntity("", "<x>" + Repeat("&e;", 1'000'000) + "</x>" + kOneStep),
       {},
       ReadFails("limit (entity references)")},
      {"9,997 open elements, then 100,000 empty ones",
       Fixed([] {
         return Document("", Repeat("<a>", 9997) + Repeat("<b/>", 100'000) + Repeat("</a>", 9997));
       }),
       {},
       ReadFails("limit (depth)")},
      {"250 open elements, then 500,000 empty ones",
       Fixed([] {
         return Document(
             "", Repeat("<a>", 250) + Repeat("<b/>", 500'000) + Repeat("</a>", 250) + kOneStep);
       }),
       {},
       Converts(one_step_table)},
      {"100,000 namespace bindings on the root, then 100,000 elements",
       Fixed([] {
         std::string bindings;
         for (int i = 0; i < 100'000; ++i) bindings += " xmlns:p" + std::to_string(i) + "='u'";
         return "<r" + bindings + "><body>" + Repeat("<a/>", 100'000) + kOneStep + "</body></r>";
       }),
       {},
       ReadFails("memory")},
      {"2,000,000 values, then 10,000 empty lists each with a larger size",
       Fixed([] {
         std::string growing_sizes;
         for (int i = 1; i <= 10'000; ++i) {
           growing_sizes += "<frame_idx size='" + std::to_string(2'000'000 + i) + "'/>";
         }
         return Document("", "<d><frame_idx size='2000000'>" + Repeat("1 ", 2'000'000) +
                                 "</frame_idx>" + growing_sizes + "</d>");
       }),
       {},
       ConvertFails()},
      {"24 MiB of one comment",
       Fixed([] { return Document("", kOneStep) + "<!--" + Markup() + "-->"; }),
       {},
       ReadFails("memory")},
      {"24 MiB of one processing instruction",
       Fixed([] { return Document("", kOneStep) + "<?pi " + Markup() + "?>"; }),
       {},
       ReadFails("memory")},
      {"24 MiB of one CDATA section",
       Fixed([] { return Document("", kOneStep + "<x><![CDATA[" + Markup() + "]]></x>"); }),
       {},
       ReadFails("memory")},
      {"24 MiB of one attribute value",
       Fixed([] { return Document("", kOneStep + "<x a='" + Markup() + "'/>"); }),
       {},
       ReadFails("memory")},
      {"24 MiB of text in the title",
       Fixed([] { return Document("", kOneStep, "<head><title>" + Markup() + "</title></head>"); }),
       {},
       ReadFails("limit (text run)")},
      {"24 MiB of trailing white space",
       Fixed([] { return Document("", kOneStep) + std::string(24 << 20, ' '); }),
       {},
       ReadFails("memory")},
      {"endless white space from a pipe",
       {},
       [](const Places& at) { return at.endless; },
       ReadFails("memory")},
      {"a FIFO as external DTD",
       [](const Places& at) {
         return "<!DOCTYPE r SYSTEM '" + at.fifo + "'>" + Document("", kOneStep);
       },
       {},
       ReadFails("resource")},
      {"a FIFO as general entity",
       [](const Places& at) {
         return Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + at.fifo + "'>]>",
                         "<x>&x;</x>" + kOneStep);
       },
       {},
       ReadFails("resource")},
      {"a FIFO as parameter entity",
       [](const Places& at) {
         return Document("<!DOCTYPE r [<!ENTITY % x SYSTEM '" + at.fifo + "'> %x;]>", kOneStep);
       },
       {},
       ReadFails("resource")},
      {"a FIFO through a symbolic link",
       [](const Places& at) {
         return Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + at.dir / "link" + "'>]>",
                         "<x>&x;</x>" + kOneStep);
       },
       {},
       ReadFails("resource"),
       TSystem::kPosix},
      // What Windows refuses by its name alone, before anything is opened.
      {"a share as external DTD",
       RefusedDtd("\\\\host\\share\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a share with forward slashes",
       RefusedDtd("//host/share/r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a share in the long form",
       RefusedDtd("\\\\?\\UNC\\host\\share\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a share as a file URL",
       RefusedDtd("file://host/share/r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"the device namespace",
       RefusedDtd("\\\\.\\C:\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a device after the long prefix",
       RefusedDtd("\\\\?\\GLOBALROOT\\Device\\Null"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a share in the object namespace",
       RefusedDtd("\\??\\UNC\\host\\share\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"the object namespace with forward slashes",
       RefusedDtd("/?\?/unc/host/share/r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"the object namespace as an escaped file URL",
       RefusedDtd("file:%5C%3F%3F%5CUNC%5Chost%5Cshare%5Cr.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a device in the object namespace",
       RefusedDtd("\\??\\GLOBALROOT\\Device\\Null"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a drive path in the long form",
       RefusedDtd("\\\\?\\C:\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a drive without a folder",
       RefusedDtd("C:r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a folder of the current drive",
       RefusedDtd("\\r.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"a stream of a file", RefusedDtd("r.dtd:s"), {}, ReadFails(kRefused), TSystem::kWindows},
      {"NUL", RefusedDtd("NUL"), {}, ReadFails(kRefused), TSystem::kWindows},
      {"con in a folder", RefusedDtd("sub\\con"), {}, ReadFails(kRefused), TSystem::kWindows},
      {"COM1 with an extension",
       RefusedDtd("C:\\dir\\Com1.dtd"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"LPT9 with trailing dots and spaces",
       RefusedDtd("lpt9 .dtd. ."),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"AUX as a file URL",
       RefusedDtd("file:///C:/dir/aux.txt"),
       {},
       ReadFails(kRefused),
       TSystem::kWindows},
      {"the console input", RefusedDtd("CONIN$"), {}, ReadFails(kRefused), TSystem::kWindows},
      {"network DTD",
       [](const Places& at) {
         return "<!DOCTYPE r SYSTEM '" + at.url + "/r.dtd'>" + Document("", kOneStep);
       },
       {},
       ReadFails("resource")},
      {"network entity",
       [](const Places& at) {
         return Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + at.url + "/x'>]>",
                         "<x>&x;</x>" + kOneStep);
       },
       {},
       ReadFails("resource")},
      {"network parameter entity",
       [](const Places& at) {
         return Document("<!DOCTYPE r [<!ENTITY % x SYSTEM '" + at.url + "/x'> %x;]>", kOneStep);
       },
       {},
       ReadFails("resource")},
      {"network schema hints",
       [](const Places& at) {
         return "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                "xsi:noNamespaceSchemaLocation='" +
                at.url + "/r.xsd' xsi:schemaLocation='urn:x " + at.url + "/x.xsd'><body>" +
                kOneStep + "</body></r>";
       },
       {},
       Converts(one_step_table)},
      {"endless input",
       {},
       [](const Places&) { return std::string("/dev/zero"); },
       ReadFails("parse"),
       TSystem::kPosix},
      {"a ten-million-digit number",
       Fixed([] {
         return Document("", "<d><frame_idx size='1'>" + std::string(10 << 20, '9') +
                                 "</frame_idx><image_idx size='1'>1</image_idx>"
                                 "<palette_idx size='1'>2</palette_idx></d>");
       }),
       {},
       Converts(TableFile({0xFFFF}, {1}, {2}))},
      {"a huge size without values",
       Fixed([] { return Document("", "<d><frame_idx size='2000000000'/></d>"); }),
       {},
       ConvertFails()},
      {"a negative size",
       Fixed([] { return Document("", "<d><frame_idx size='-1'></frame_idx></d>"); }),
       {},
       ConvertFails()},
      {"a huge image_size with two images",
       Fixed([] {
         return Document("",
                         "<tex_pattern_list_data image_size='2000000000'><image_name/>"
                         "<image_name/></tex_pattern_list_data>" +
                             kOneStep);
       }),
       {},
       Converts(one_step_table)},
      {"100,000 nested elements",
       Fixed([] {
         return Document("", Repeat("<a>", 100'000) + Repeat("</a>", 100'000) + kOneStep);
       }),
       {},
       ReadFails("limit (depth)")},
      {"ten MiB of random bytes",
       Fixed([] {
         std::mt19937 random(20261207);
         std::string noise(10 << 20, '\0');
         for (char& c : noise) c = static_cast<char>(random());
         return noise;
       }),
       {},
       ReadFails("parse")},
      {"a truncated document",
       Fixed([] { return Document("", kOneStep).substr(0, 60); }),
       {},
       ReadFails("parse")},
      {"invalid bytes under UTF-8",
       Fixed([] {
         return std::string("<?xml version='1.0' encoding='UTF-8'?><r><title>a\xC3(b</title></r>");
       }),
       {},
       ReadFails("parse")},
      {"invalid bytes under Shift_JIS",
       Fixed([] {
         return std::string(
             "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x81 b\xA0\xFD</title></r>");
       }),
       {},
       ReadFails("parse")},
      {"a lone 0x80 under Shift_JIS",
       Fixed([] {
         return std::string(
             "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x80</title></r>");
       }),
       {},
       ReadFails("parse")},
      {"unassigned Shift_JIS pairs",
       Fixed([] {
         return "<?xml version='1.0' encoding='Shift_JIS'?><r><head><title>\x85\x40\xEB\x40"
                "\xEF\xFC\xFC\x4C</title></head><body>" +
                kOneStep + "</body></r>";
       }),
       {},
       Converts(one_step_table)},
      {"a lead byte as the last byte of a Shift_JIS document",
       Fixed([] {
         return "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep +
                "</body></r>\x81";
       }),
       {},
       Converts(one_step_table)},
      {"a lead byte as the last byte of a truncated Shift_JIS document",
       Fixed([] {
         return "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "\x81";
       }),
       {},
       ReadFails("parse")},
      {"NUL bytes",
       Fixed([] { return std::string("<r><body>\0</body></r>", 21); }),
       {},
       ReadFails("parse")},
      {"a directory",
       {},
       [](const Places& at) { return at.dir.path().string(); },
       ReadFails("input")},
      {"a missing file",
       {},
       [](const Places& at) { return at.dir / "missing.xml"; },
       ReadFails("input")},
  };
}

// Each row runs in a scratch directory of its own, beside a listener and two
// pipes, one of them fed without end.
class HostileTest : public ::testing::TestWithParam<HostileCase> {
 protected:
  HostileTest() {
    if (morv::test::kSystem == TSystem::kPosix) {
      std::filesystem::create_symlink(places.fifo, dir / "link");
    }
  }

  ScratchDir dir;
  const morv::test::LoopbackListener listener;
  const morv::test::NamedPipe silent{dir / "fifo"};
  const morv::test::NamedPipe feeder{dir / "endless", "<r><body>" + kOneStep + "</body></r>"};
  const Places places{dir, silent.Path(), feeder.Path(), listener.Url()};
};

TEST_P(HostileTest, IsDecidedCleanlyWithinTheMemoryBar) {
  const HostileCase& c = GetParam();
  if (c.only && *c.only != morv::test::kSystem) GTEST_SKIP() << "a row of the other system";
  const Outcome& o = c.outcome;
  const std::string output = dir / "out.bin";
  morv::test::ProcessLimits limits;
  // Guards against hangs and runaway work, far above what any case needs.
  // Under the sanitizers every entity's reader buffers are mapped and
  // unmapped and every entity's end is a thrown exception, each many times
  // dearer than in a plain build.
  constexpr int kSlowdown = morv::test::kSanitized ? 6 : 1;
  limits.cpu_seconds = 10 * kSlowdown;
  limits.wall_seconds = 30 * kSlowdown;
  limits.environment = {"MORV_CONV_TRACE=1"};

  std::string input;
  if (c.path) {
    input = c.path(places);
  } else {
    input = dir / "hostile.xml";
    WriteFile(input, c.document(places));
  }
  WriteFile(output, kSentinel);
  const auto result = RunConverter({input, output}, limits);
  ASSERT_EQ(result.signal, 0);
  EXPECT_EQ(result.status, o.status);
  EXPECT_EQ(result.out, o.printed == "read" ? msg::ReadFailed(input) : o.printed);
  EXPECT_EQ(ReadFile(output), o.status == 0 ? o.table : kSentinel);
  if (!o.reason.empty()) {
    EXPECT_NE(result.err.find("\n" + o.reason), std::string::npos) << result.err;
  }
  if (!morv::test::kSanitized) {
    const auto input_kib = static_cast<long>(
        std::filesystem::is_regular_file(input) ? std::filesystem::file_size(input) / 1024 : 0);
    EXPECT_LE(result.max_rss_kib, kMemoryBarKib + 3 * input_kib);
  }
  EXPECT_FALSE(listener.WasReached());
}

INSTANTIATE_TEST_SUITE_P(Documents, HostileTest, ::testing::ValuesIn(HostileCases()),
                         morv::test::NameRowByWhat());

}  // namespace
