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
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace morv::test {
namespace {

constexpr long kMemoryBarKib = 64 * 1024;

// Lists of one step each, so that a document that reads also converts.
const std::string kOneStep = IndexLists(1, "7", "1", "2");

// Where a row's document may point: the test's scratch directory, its pipes
// (FIFOs on POSIX systems, named pipes on Windows) and a listener nobody must
// reach.
struct Places {
  const ScratchDir& dir;
  std::string fifo;     // a pipe nobody writes
  std::string endless;  // a pipe fed white space without end
  std::string url;      // of the listener

  // What the test support makes from a scratch directory, it makes from here.
  operator const ScratchDir&() const { return dir; }
};

using FromPlaces = std::function<std::string(const Places&)>;

// How a run must end.
struct Outcome {
  std::string message;  // msg::ByName's name
  int status;
  std::string table;   // for documents that convert
  std::string reason;  // what the trace must give as the reason of a failed read
};

// The read fails, for `reason`.
Outcome ReadFails(std::string reason) { return {"read-failed", 1, "", std::move(reason)}; }

// The document converts to `table`.
Outcome Converts(std::string table) { return {"-", 0, std::move(table), ""}; }

// The document reads but does not convert.
Outcome ConvertFails() { return {"convert-failed", 1, "", ""}; }

struct HostileCase {
  const char* what = "";
  FromPlaces document = nullptr;  // written to a file; unset when `path` is set
  FromPlaces path = nullptr;
  Outcome outcome = {};
  std::optional<TSystem> only = std::nullopt;  // the one system it means something on
};

// A document in a DOCTYPE declaring the entity e as `text`.
FromPlaces WithEntity(const std::string& text, DocumentParts parts) {
  parts.doctype = Doctype(Entity("e", text));
  return Fixed(Document(parts));
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
  if (kSystem == TSystem::kPosix) {
    std::filesystem::create_symlink(dir / "e.ent", dir / "link.ent");
  } else {
    std::filesystem::create_hard_link(dir / "e.ent", dir / "link.ent");
  }
  std::string entities;
  std::string references;
  for (int i = 0; i < 4096; ++i) {
    const std::string slashes(i / 64 + 1, '/');
    std::string spelling = i % 3 == 0   ? "." + slashes
                           : i % 3 == 1 ? dir.str() + slashes
                                        : "file://" + dir.str() + "/";
    for (int j = 0; j < i % 64; ++j) spelling += "./";
    spelling += i % 2 == 0 ? "e.ent" : "link.ent";
    entities += "<!ENTITY e" + std::to_string(i) + " SYSTEM '" + spelling + "'>";
    references += "&e" + std::to_string(i) + ";";
  }
  return Document({.doctype = Doctype(entities), .body = "<x>" + references + "</x>" + kOneStep});
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
  return Document({.doctype = Doctype(entities), .body = "<x>" + references + "</x>" + kOneStep});
}

// `count` records filling the model close to the memory budget, then an
// attribute value of 8,000 references to a 1,000-character entity: the
// parser's memory, and the copy of the value, come out of the same budget.
std::string FullModel(const std::string& list, const std::string& record, int count) {
  const std::string end = "</" + list.substr(1);
  return Document({.doctype = Doctype(Entity("e", std::string(1000, 'x'))),
                   .body = list + Repeat(record, count) + end + list +
                           record.substr(0, record.size() - 2) + " name='" + Repeat("&e;", 8000) +
                           "'/>" + end + kOneStep});
}

// A document of this body, declaring `declarations` in its DTD.
std::string Declaring(const std::string& declarations, const std::string& body) {
  return Document({.doctype = Doctype(declarations), .body = body});
}

// A document with one step after a list of `records`, the DTD declaring
// `declarations`.
std::string Records(const std::string& declarations, const std::string& list,
                    const std::string& records) {
  return Declaring(declarations, "<" + list + ">" + records + "</" + list + ">" + kOneStep);
}

// `count` elements of a type declared with `declared` attributes.
FromPlaces ManyOfDeclared(int declared, int count) {
  return Later([=] {
    return Declaring("<!ATTLIST x" + DeclaredAttributes(declared) + ">",
                     Repeat("<x/>", count) + kOneStep);
  });
}

// Documents that read `id` as their external DTD, as a general entity, as a
// parameter entity.
std::string AsDtd(const std::string& id) {
  return Document({.doctype = "<!DOCTYPE r SYSTEM '" + id + "'>", .body = kOneStep});
}
std::string AsEntity(const std::string& id) {
  return Declaring("<!ENTITY x SYSTEM '" + id + "'>", "<x>&x;</x>" + kOneStep);
}
std::string AsParameterEntity(const std::string& id) {
  return Declaring("<!ENTITY % x SYSTEM '" + id + "'> %x;", kOneStep);
}

// An external DTD that Windows refuses by its name alone, before anything is
// opened: the trace says so.
HostileCase RefusedOnWindows(const char* what, const std::string& id) {
  return {.what = what,
          .document = Fixed(AsDtd(id)),
          .outcome = ReadFails("resource: refused"),
          .only = TSystem::kWindows};
}

std::vector<HostileCase> HostileCases() {
  const std::string one_step_table = TableFile({7}, {1}, {2});
  const std::string expansion = "limit (entity expansion)";
  const std::string kept = "limit (kept data)";
  const std::string blown_up = Repeat("&e;", 5000);
  const TSystem posix = TSystem::kPosix;
  return {
      {.what = "entity bomb",
       .document = Later([] {
         return Document({.doctype = EntityBombDoctype(), .body = "<x>&e10;</x>" + kOneStep});
       }),
       .outcome = ReadFails("limit (entity references)")},
      {.what = "100 kB entity x 5,000 in unread text",
       .document =
           WithEntity(std::string(100'000, 'a'), {.body = "<x>" + blown_up + "</x>" + kOneStep}),
       .outcome = ReadFails(expansion)},
      {.what = "100 kB entity x 10,000 in the title",
       .document = WithEntity(
           std::string(100'000, 'a'),
           {.head = "<head><title>" + Repeat("&e;", 10'000) + "</title></head>", .body = kOneStep}),
       .outcome = ReadFails(expansion)},
      {.what = "5,000 image names x 5,000",
       .document = WithEntity(
           Repeat("<image_name/>", 5000),
           {.body = "<tex_pattern_list_data>" + blown_up + "</tex_pattern_list_data>" + kOneStep}),
       .outcome = ReadFails(expansion)},
      {.what = "50,000 values x 5,000 under the largest size",
       .document = WithEntity(Repeat("1 ", 50'000), {.body = "<d><frame_idx size='2147483647'>" +
                                                             blown_up + "</frame_idx></d>"}),
       .outcome = ReadFails(expansion)},
      {.what = "50,000 values x 5,000 under a size of 3",
       .document = WithEntity(Repeat("1 ", 50'000),
                              {.body = "<d><frame_idx size='3'>" + blown_up + "</frame_idx></d>"}),
       .outcome = ReadFails("count")},
      {.what = "a DTD default built from 40,000 references, on 200 elements",
       .document = Later([] {
         return Declaring(Entity("e", std::string(1000, 'x')) + "<!ATTLIST a v CDATA '" +
                              Repeat("&e;", 40'000) + "'>",
                          Repeat("<a/>", 200) + kOneStep);
       }),
       .outcome = ReadFails(expansion)},
      {.what = "the same default as the name of 200 images",
       .document = Later([] {
         return Records(Entity("e", std::string(1000, 'x')) + "<!ATTLIST image_name name CDATA '" +
                            Repeat("&e;", 40'000) + "'>",
                        "tex_pattern_list_data", Repeat("<image_name/>", 200));
       }),
       .outcome = ReadFails(expansion)},
      {.what = "a namespace declaration of 1 Mi characters defaulted on 2,000 elements",
       .document = Later([] {
         return Declaring(
             Entity("b", std::string(1 << 20, 'u')) + "<!ATTLIST x xmlns:p CDATA '&b;'>",
             Repeat("<x/>", 2000) + kOneStep);
       }),
       .outcome = ReadFails(expansion)},
      {.what = "two namespace declarations defaulted on 20,000 image names",
       .document = Later([] {
         return Records(Entity("b", std::string(1 << 20, 'u')) +
                            "<!ATTLIST image_name xmlns CDATA '&b;' xmlns:q CDATA '&b;'>",
                        "tex_pattern_list_data", Repeat("<image_name/>", 20'000));
       }),
       .outcome = ReadFails(expansion)},
      {.what = "50,000 attributes declared for one element type, then 10,000 of it",
       .document = ManyOfDeclared(50'000, 10'000),
       .outcome = ReadFails("limit (declared attributes)")},
      {.what = "50,000 attributes declared for frame_idx, one per list",
       .document = Later([] {
         std::string lists;
         for (int i = 0; i < 50'000; ++i) {
           lists += "<!ATTLIST frame_idx v" + std::to_string(i) + " (a|b) #IMPLIED>";
         }
         return Declaring(lists, kOneStep);
       }),
       .outcome = ReadFails("limit (declared attributes)")},
      {.what = "256 attributes declared for one element type, then 250,000 of it",
       .document = ManyOfDeclared(256, 250'000),
       .outcome = ReadFails(expansion)},
      {.what = "16 attributes declared for one element type, then 250,000 of it",
       .document = ManyOfDeclared(16, 250'000),
       .outcome = Converts(one_step_table)},
      {.what = "one 1 MiB external entity under 4,096 spellings of its path",
       .document = SpelledEntitiesDocument,
       .outcome = ReadFails(expansion)},
      {.what = "eight distinct 1 MiB external entities, each read once",
       .document = DistinctEntitiesDocument,
       .outcome = Converts(one_step_table)},
      {.what = "a default name of 120 kanji on 400,000 image names",
       .document = Later([] {
         return Records("<!ATTLIST image_name name CDATA '" + Kanji120() + "'>",
                        "tex_pattern_list_data", Repeat("<image_name/>", 400'000));
       }),
       .outcome = ReadFails(kept)},
      {.what = "default indices and names on 400,000 palette names",
       .document = Later([] {
         return Records(
             "<!ATTLIST palette_name index CDATA '12345' name CDATA '" + Kanji120() + "'>",
             "tex_pattern_list_data", Repeat("<palette_name/>", 400'000));
       }),
       .outcome = ReadFails(kept)},
      {.what = "a default material name on 300,000 pattern records",
       .document = Later([] {
         return Records("<!ATTLIST tex_pattern_anm material_name CDATA '" + Kanji120() +
                            "' data_size CDATA '1'>",
                        "tex_pattern_anm_array", Repeat("<tex_pattern_anm/>", 300'000));
       }),
       .outcome = ReadFails(kept)},
      {.what = "defaults of every create attribute on 400,000 create elements",
       .document = Later([] {
         const std::string kanji_120 = Kanji120();
         return Document({.doctype = Doctype("<!ATTLIST create user CDATA '" + kanji_120 +
                                             "' host CDATA '" + kanji_120 + "' date CDATA '" +
                                             kanji_120 + "' source CDATA '" + kanji_120 + "'>"),
                          .head = "<head>" + Repeat("<create/>", 400'000) + "</head>",
                          .body = kOneStep});
       }),
       .outcome = ReadFails(expansion)},
      {.what = "list values from a 4 MB entity, ten times, under the largest size",
       .document = Later([] {
         return Declaring(
             Entity("v", Repeat("1 ", 2'000'000)),
             "<d><frame_idx size='2147483647'>" + Repeat("&v;", 10) + "</frame_idx></d>");
       }),
       .outcome = ReadFails(kept)},
      {.what = "2,000,000 plain image names",
       .document = Later([] {
         return Document({.body = "<tex_pattern_list_data>" + Repeat("<image_name/>", 2'000'000) +
                                  "</tex_pattern_list_data>" + kOneStep});
       }),
       .outcome = Converts(one_step_table)},
      {.what = "2,400,000 image names, then 8,000 kB of attribute value from an entity",
       .document =
           Later([] { return FullModel("<tex_pattern_list_data>", "<image_name/>", 2'400'000); }),
       .outcome = ReadFails(kept)},
      {.what = "1,500,000 pattern records, then 8,000 kB of their name from an entity",
       .document = Later(
           [] { return FullModel("<tex_pattern_anm_array>", "<tex_pattern_anm/>", 1'500'000); }),
       .outcome = ReadFails(kept)},
      {.what = "5,000 image names x 400 from an entity, beside 3 MB of comment",
       .document = Later([] {
         return Document({.doctype = Doctype(Entity("e", Repeat("<image_name/>", 5000))) + "<!--" +
                                     std::string(3'000'000, 'c') + "-->",
                          .body = "<tex_pattern_list_data>" + Repeat("&e;", 400) +
                                  "</tex_pattern_list_data>" + kOneStep});
       }),
       .outcome = ReadFails(kept)},
      {.what = "a parameter entity of white space x 100,000",
       .document = Later([] {
         return Declaring(
             "<!ENTITY % ws '" + std::string(1'000'000, ' ') + "'>" + Repeat("%ws;", 100'000),
             kOneStep);
       }),
       .outcome = ReadFails(expansion)},
      {.what = "a chain of 49,990 entities",
       .document =
           Later([] { return Declaring(EntityChain(49'990), "<x>&e49990;</x>" + kOneStep); }),
       .outcome = ReadFails("limit (entity nesting)")},
      {.what = "an empty entity x 1,000,000",
       .document = WithEntity("", {.body = "<x>" + Repeat("&e;", 1'000'000) + "</x>" + kOneStep}),
       .outcome = ReadFails("limit (entity references)")},
      {.what = "9,997 open elements, then 100,000 empty ones",
       .document = Later([] {
         return Document(
             {.body = Repeat("<a>", 9997) + Repeat("<b/>", 100'000) + Repeat("</a>", 9997)});
       }),
       .outcome = ReadFails("limit (depth)")},
      {.what = "250 open elements, then 500,000 empty ones",
       .document = Later([] {
         return Document({.body = Repeat("<a>", 250) + Repeat("<b/>", 500'000) +
                                  Repeat("</a>", 250) + kOneStep});
       }),
       .outcome = Converts(one_step_table)},
      {.what = "100,000 namespace bindings on the root, then 100,000 elements",
       .document = Later([] {
         return "<r" + Bindings(100'000) + "><body>" + Repeat("<a/>", 100'000) + kOneStep +
                "</body></r>";
       }),
       .outcome = ReadFails("memory")},
      {.what = "2,000,000 values, then 10,000 empty lists each with a larger size",
       .document = Later([] {
         std::string growing_sizes;
         for (int i = 1; i <= 10'000; ++i) {
           growing_sizes += "<frame_idx size='" + std::to_string(2'000'000 + i) + "'/>";
         }
         return Document({.body = "<d><frame_idx size='2000000'>" + Repeat("1 ", 2'000'000) +
                                  "</frame_idx>" + growing_sizes + "</d>"});
       }),
       .outcome = ConvertFails()},
      {.what = "24 MiB of one comment",
       .document = Later([] { return Document({.body = kOneStep}) + "<!--" + Markup() + "-->"; }),
       .outcome = ReadFails("memory")},
      {.what = "24 MiB of one processing instruction",
       .document = Later([] { return Document({.body = kOneStep}) + "<?pi " + Markup() + "?>"; }),
       .outcome = ReadFails("memory")},
      {.what = "24 MiB of one CDATA section",
       .document = Later(
           [] { return Document({.body = kOneStep + "<x><![CDATA[" + Markup() + "]]></x>"}); }),
       .outcome = ReadFails("memory")},
      {.what = "24 MiB of one attribute value",
       .document = Later([] { return Document({.body = kOneStep + "<x a='" + Markup() + "'/>"}); }),
       .outcome = ReadFails("memory")},
      {.what = "24 MiB of text in the title",
       .document = Later([] {
         return Document(
             {.head = "<head><title>" + Markup() + "</title></head>", .body = kOneStep});
       }),
       .outcome = ReadFails("limit (text run)")},
      {.what = "24 MiB of trailing white space",
       .document = Later([] { return Document({.body = kOneStep}) + std::string(24 << 20, ' '); }),
       .outcome = ReadFails("memory")},
      {.what = "endless white space from a pipe",
       .path = [](const Places& at) { return at.endless; },
       .outcome = ReadFails("memory")},
      {.what = "a FIFO as external DTD",
       .document = [](const Places& at) { return AsDtd(at.fifo); },
       .outcome = ReadFails("resource")},
      {.what = "a FIFO as general entity",
       .document = [](const Places& at) { return AsEntity(at.fifo); },
       .outcome = ReadFails("resource")},
      {.what = "a FIFO as parameter entity",
       .document = [](const Places& at) { return AsParameterEntity(at.fifo); },
       .outcome = ReadFails("resource")},
      {.what = "a FIFO through a symbolic link",
       .document = [](const Places& at) { return AsEntity(at.dir / "link"); },
       .outcome = ReadFails("resource"),
       .only = posix},
      RefusedOnWindows("a share as external DTD", "\\\\host\\share\\r.dtd"),
      RefusedOnWindows("a share with forward slashes", "//host/share/r.dtd"),
      RefusedOnWindows("a share in the long form", "\\\\?\\UNC\\host\\share\\r.dtd"),
      RefusedOnWindows("a share as a file URL", "file://host/share/r.dtd"),
      RefusedOnWindows("the device namespace", "\\\\.\\C:\\r.dtd"),
      RefusedOnWindows("a device after the long prefix", "\\\\?\\GLOBALROOT\\Device\\Null"),
      RefusedOnWindows("a share in the object namespace", "\\??\\UNC\\host\\share\\r.dtd"),
      RefusedOnWindows("the object namespace with forward slashes", "/?\?/unc/host/share/r.dtd"),
      RefusedOnWindows("the object namespace as an escaped file URL",
                       "file:%5C%3F%3F%5CUNC%5Chost%5Cshare%5Cr.dtd"),
      RefusedOnWindows("a device in the object namespace", "\\??\\GLOBALROOT\\Device\\Null"),
      RefusedOnWindows("a drive path in the long form", "\\\\?\\C:\\r.dtd"),
      RefusedOnWindows("a drive without a folder", "C:r.dtd"),
      RefusedOnWindows("a folder of the current drive", "\\r.dtd"),
      RefusedOnWindows("a stream of a file", "r.dtd:s"),
      RefusedOnWindows("NUL", "NUL"),
      RefusedOnWindows("con in a folder", "sub\\con"),
      RefusedOnWindows("COM1 with an extension", "C:\\dir\\Com1.dtd"),
      RefusedOnWindows("LPT9 with trailing dots and spaces", "lpt9 .dtd. ."),
      RefusedOnWindows("AUX as a file URL", "file:///C:/dir/aux.txt"),
      RefusedOnWindows("the console input", "CONIN$"),
      {.what = "network DTD",
       .document = [](const Places& at) { return AsDtd(at.url + "/r.dtd"); },
       .outcome = ReadFails("resource")},
      {.what = "network entity",
       .document = [](const Places& at) { return AsEntity(at.url + "/x"); },
       .outcome = ReadFails("resource")},
      {.what = "network parameter entity",
       .document = [](const Places& at) { return AsParameterEntity(at.url + "/x"); },
       .outcome = ReadFails("resource")},
      {.what = "network schema hints",
       .document =
           [](const Places& at) {
             return "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                    "xsi:noNamespaceSchemaLocation='" +
                    at.url + "/r.xsd' xsi:schemaLocation='urn:x " + at.url + "/x.xsd'><body>" +
                    kOneStep + "</body></r>";
           },
       .outcome = Converts(one_step_table)},
      {.what = "endless input",
       .path = Fixed("/dev/zero"),
       .outcome = ReadFails("parse"),
       .only = posix},
      {.what = "a ten-million-digit number",
       .document = Later(
           [] { return Document({.body = IndexLists(1, std::string(10 << 20, '9'), "1", "2")}); }),
       .outcome = Converts(TableFile({0xFFFF}, {1}, {2}))},
      {.what = "a huge size without values",
       .document = Fixed(Document({.body = "<d><frame_idx size='2000000000'/></d>"})),
       .outcome = ConvertFails()},
      {.what = "a negative size",
       .document = Fixed(Document({.body = "<d><frame_idx size='-1'></frame_idx></d>"})),
       .outcome = ConvertFails()},
      {.what = "a huge image_size with two images",
       .document = Fixed(Document({.body = "<tex_pattern_list_data image_size='2000000000'>"
                                           "<image_name/><image_name/></tex_pattern_list_data>" +
                                           kOneStep})),
       .outcome = Converts(one_step_table)},
      {.what = "100,000 nested elements",
       .document = Later([] {
         return Document({.body = Repeat("<a>", 100'000) + Repeat("</a>", 100'000) + kOneStep});
       }),
       .outcome = ReadFails("limit (depth)")},
      {.what = "ten MiB of random bytes",
       .document = Later([] {
         std::mt19937 random(20261207);
         std::string noise(10 << 20, '\0');
         for (char& c : noise) c = static_cast<char>(random());
         return noise;
       }),
       .outcome = ReadFails("parse")},
      {.what = "a truncated document",
       .document = Fixed(Document({.body = kOneStep}).substr(0, 60)),
       .outcome = ReadFails("parse")},
      {.what = "invalid bytes under UTF-8",
       .document = Fixed("<?xml version='1.0' encoding='UTF-8'?><r><title>a\xC3(b</title></r>"),
       .outcome = ReadFails("parse")},
      {.what = "invalid bytes under Shift_JIS",
       .document =
           Fixed("<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x81 b\xA0\xFD</title></r>"),
       .outcome = ReadFails("parse")},
      {.what = "a lone 0x80 under Shift_JIS",
       .document = Fixed("<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x80</title></r>"),
       .outcome = ReadFails("parse")},
      {.what = "unassigned Shift_JIS pairs",
       .document = Fixed(Document({.encoding = "Shift_JIS",
                                   .head = "<head><title>\x85\x40\xEB\x40\xEF\xFC\xFC\x4C"
                                           "</title></head>",
                                   .body = kOneStep})),
       .outcome = Converts(one_step_table)},
      {.what = "a lead byte as the last byte of a Shift_JIS document",
       .document =
           Fixed(Document({.encoding = "Shift_JIS", .head = "", .body = kOneStep}) + "\x81"),
       .outcome = Converts(one_step_table)},
      {.what = "a lead byte as the last byte of a truncated Shift_JIS document",
       .document = Fixed("<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "\x81"),
       .outcome = ReadFails("parse")},
      {.what = "NUL bytes",
       .document = Fixed(std::string("<r><body>\0</body></r>", 21)),
       .outcome = ReadFails("parse")},
      {.what = "a directory", .path = TheDir(), .outcome = ReadFails("input")},
      {.what = "a missing file", .path = Named("missing.xml"), .outcome = ReadFails("input")},
  };
}

// Each row runs in a scratch directory of its own, beside a listener and two
// pipes, one of them fed without end.
class HostileTest : public ScratchRowTest<HostileCase> {
 protected:
  HostileTest() {
    if (kSystem == TSystem::kPosix) std::filesystem::create_symlink(places.fifo, dir / "link");
  }

  const LoopbackListener listener;
  const NamedPipe silent{dir / "fifo"};
  const NamedPipe feeder{dir / "endless", "<r><body>" + kOneStep + "</body></r>"};
  const Places places{dir, silent.Path(), feeder.Path(), listener.Url()};
};

TEST_P(HostileTest, IsDecidedCleanlyWithinTheMemoryBar) {
  const HostileCase& c = GetParam();
  MORV_SKIP_ROW_OF_THE_OTHER_SYSTEM(c);
  const Outcome& o = c.outcome;
  ProcessLimits limits;
  // Guards against hangs and runaway work, far above what any case needs.
  // Under the sanitizers every entity's reader buffers are mapped and
  // unmapped and every entity's end is a thrown exception, each many times
  // dearer than in a plain build.
  constexpr int kSlowdown = kSanitized ? 6 : 1;
  limits.cpu_seconds = 10 * kSlowdown;
  limits.wall_seconds = 30 * kSlowdown;
  limits.environment = {"MORV_CONV_TRACE=1"};

  const std::string input =
      c.path ? c.path(places) : WriteFile(dir / "hostile.xml", c.document(places));
  const std::string output = WriteFile(dir / "out.bin", kSentinel);
  const auto result = RunConverter({input, output}, limits);
  ASSERT_EQ(result.signal, 0);
  EXPECT_EQ(result.status, o.status);
  EXPECT_EQ(result.out, msg::ByName(o.message, input));
  EXPECT_EQ(ReadFile(output), o.status == 0 ? o.table : kSentinel);
  if (!o.reason.empty()) {
    EXPECT_NE(result.err.find("\n" + o.reason), std::string::npos) << result.err;
  }
  if (!kSanitized) {
    const auto input_kib = static_cast<long>(
        std::filesystem::is_regular_file(input) ? std::filesystem::file_size(input) / 1024 : 0);
    EXPECT_LE(result.max_rss_kib, kMemoryBarKib + 3 * input_kib);
  }
  EXPECT_FALSE(listener.WasReached());
}

INSTANTIATE_TEST_SUITE_P(Documents, HostileTest, ::testing::ValuesIn(HostileCases()),
                         NameRowByWhat());

}  // namespace
}  // namespace morv::test
