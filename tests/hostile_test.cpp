// Hostile and broken documents, each run through the built converter as a
// process under a CPU-time and a wall-clock limit: every one must end with
// its message and status, say why in its trace, leave an existing output
// file as it was (unless it converts), and stay within 64 MiB above the
// converter's own start-up footprint.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "TestSupport.h"

namespace {

using morv::test::ReadFile;
using morv::test::Repeat;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::TableFile;
using morv::test::WriteFile;
namespace msg = morv::test::msg;

const std::string kSentinel = "an older table file that must stay as it is";
constexpr long kMemoryBarKib = 64 * 1024;

std::string Document(const std::string& doctype, const std::string& body,
                     const std::string& head = "<head><title>t</title></head>") {
  return "<?xml version='1.0'?>" + doctype + "<r>" + head + "<body>" + body + "</body></r>";
}

// Lists of one step each, so that a document that reads also converts.
const std::string kOneStep =
    "<d><frame_idx size='1'>7</frame_idx><image_idx size='1'>1</image_idx>"
    "<palette_idx size='1'>2</palette_idx></d>";

struct HostileCase {
  const char* what;
  std::string document;  // written to a file; ignored when `path` is set
  std::string path;
  std::string printed;  // "read" for the read-failure line of the input path
  int status;
  std::string table;   // for documents that convert
  std::string reason;  // what the trace must give as the reason of a failed read
  // The memory bar grows by three times the input: for documents that fill
  // the document model.
  bool bar_grows_with_input = false;
  std::optional<morv::test::TSystem> only = std::nullopt;  // the one system it means something on
};

class HostileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

// FIFOs, symbolic links and devices are POSIX's rows; network shares,
// device namespaces and DOS device names Windows's.
TEST_F(HostileTest, EveryDocumentIsDecidedCleanlyWithinTheMemoryBar) {
  using morv::test::kSystem;
  using morv::test::TSystem;
  const morv::test::LoopbackListener listener;
  const morv::test::NamedPipe silent(dir / "fifo");
  const std::string fifo = silent.Path();
  const morv::test::NamedPipe feeder(dir / "endless", "<r><body>" + kOneStep + "</body></r>");
  const std::string endless = feeder.Path();
  if (kSystem == TSystem::kPosix) std::filesystem::create_symlink(fifo, dir / "link");
  // Each external DTD that Windows refuses by its name alone.
  const auto dtd = [](const std::string& id) {
    return "<!DOCTYPE r SYSTEM '" + id + "'>" + Document("", kOneStep);
  };
  const std::string refused = "resource: refused";

  const std::string bomb = morv::test::EntityBombDoctype();
  const auto entity = [](const std::string& text) {
    return "<!DOCTYPE r [<!ENTITY e '" + text + "'>]>";
  };
  const std::string blown_up = Repeat("&e;", 5000);
  std::string chain = "<!ENTITY e0 'x'>";
  for (int i = 1; i < 49'990; ++i) {
    const std::string previous = std::to_string(i - 1);
    chain += std::string("<!ENTITY e").append(std::to_string(i)) + " '&e" + previous + ";'>";
  }
  std::string bindings;
  for (int i = 0; i < 100'000; ++i) bindings += " xmlns:p" + std::to_string(i) + "='u'";
  std::string kanji_120;
  for (int i = 0; i < 120; ++i) kanji_120 += "\xE3\x81\x82";  // あ in UTF-8
  std::string declared_attributes;
  std::size_t declared_16 = 0;
  std::size_t declared_256 = 0;
  std::string declared_lists;
  for (int i = 0; i < 50'000; ++i) {
    declared_attributes += " a" + std::to_string(i) + " CDATA #IMPLIED";
    if (i == 15) declared_16 = declared_attributes.size();
    if (i == 255) declared_256 = declared_attributes.size();
    declared_lists += "<!ATTLIST frame_idx v" + std::to_string(i) + " (a|b) #IMPLIED>";
  }
  std::string growing_sizes;
  for (int i = 1; i <= 10'000; ++i) {
    growing_sizes += "<frame_idx size='" + std::to_string(2'000'000 + i) + "'/>";
  }
  const std::string markup(24 << 20, 'm');  // twice that in the parser's UTF-16

  std::mt19937 random(20261207);
  std::string noise(10 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());

  // A file of 1 MiB under 4,096 spellings of its path, and eight distinct
  // files of 1 MiB. Its second name is a symbolic link on POSIX systems, a
  // hard link on Windows.
  WriteFile(dir / "e.ent", std::string(1 << 20, 'e'));
  if (kSystem == TSystem::kPosix) {
    std::filesystem::create_symlink(dir / "e.ent", dir / "link.ent");
  } else {
    std::filesystem::create_hard_link(dir / "e.ent", dir / "link.ent");
  }
  std::string spelled_entities;
  std::string spelled_references;
  for (int i = 0; i < 4096; ++i) {
    std::string spelling = i % 3 == 0   ? "." + std::string(i / 64 + 1, '/')
                           : i % 3 == 1 ? dir.path().string() + std::string(i / 64 + 1, '/')
                                        : "file://" + dir.path().string() + "/";
    for (int j = 0; j < i % 64; ++j) spelling += "./";
    spelling += i % 2 == 0 ? "e.ent" : "link.ent";
    spelled_entities += "<!ENTITY e" + std::to_string(i) + " SYSTEM '" + spelling + "'>";
    spelled_references += "&e" + std::to_string(i) + ";";
  }
  std::string distinct_entities;
  std::string distinct_references;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "distinct" + std::to_string(i) + ".ent";
    WriteFile(dir / name, std::string(1 << 20, static_cast<char>('a' + i)));
    distinct_entities += "<!ENTITY d" + std::to_string(i) + " SYSTEM '" + name + "'>";
    distinct_references += "&d" + std::to_string(i) + ";";
  }

  const std::string one_step_table = TableFile({7}, {1}, {2});
  const std::string expansion = "limit (entity expansion)";
  const HostileCase cases[] = {
      {"entity bomb", Document(bomb, "<x>&e10;</x>" + kOneStep), "", "read", 1, "",
       "limit (entity references)"},
      {"100 kB entity x 5,000 in unread text",
       Document(entity(std::string(100'000, 'a')), "<x>" + blown_up + "</x>" + kOneStep), "",
       "read", 1, "", expansion},
      {"100 kB entity x 10,000 in the title",
       Document(entity(std::string(100'000, 'a')), kOneStep,
                "<head><title>" + Repeat("&e;", 10'000) + "</title></head>"),
       "", "read", 1, "", expansion},
      {"5,000 image names x 5,000",
       Document(entity(Repeat("<image_name/>", 5000)),
                "<tex_pattern_list_data>" + blown_up + "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", expansion},
      {"50,000 values x 5,000 under the largest size",
       Document(entity(Repeat("1 ", 50'000)),
                "<d><frame_idx size='2147483647'>" + blown_up + "</frame_idx></d>"),
       "", "read", 1, "", expansion},
      {"50,000 values x 5,000 under a size of 3",
       Document(entity(Repeat("1 ", 50'000)),
                "<d><frame_idx size='3'>" + blown_up + "</frame_idx></d>"),
       "", "read", 1, "", "count"},
      {"a DTD default built from 40,000 references, on 200 elements",
       Document("<!DOCTYPE r [<!ENTITY e '" + std::string(1000, 'x') + "'><!ATTLIST a v CDATA '" +
                    Repeat("&e;", 40'000) + "'>]>",
                Repeat("<a/>", 200) + kOneStep),
       "", "read", 1, "", expansion},
      {"the same default as the name of 200 images",
       Document("<!DOCTYPE r [<!ENTITY e '" + std::string(1000, 'x') +
                    "'><!ATTLIST image_name name CDATA '" + Repeat("&e;", 40'000) + "'>]>",
                "<tex_pattern_list_data>" + Repeat("<image_name/>", 200) +
                    "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", expansion},
      {"a namespace declaration of 1 Mi characters defaulted on 2,000 elements",
       Document("<!DOCTYPE r [<!ENTITY b '" + std::string(1 << 20, 'u') +
                    "'><!ATTLIST x xmlns:p CDATA '&b;'>]>",
                Repeat("<x/>", 2000) + kOneStep),
       "", "read", 1, "", expansion},
      {"two namespace declarations defaulted on 20,000 image names",
       Document("<!DOCTYPE r [<!ENTITY b '" + std::string(1 << 20, 'u') +
                    "'><!ATTLIST image_name xmlns CDATA '&b;' xmlns:q CDATA '&b;'>]>",
                "<tex_pattern_list_data>" + Repeat("<image_name/>", 20'000) +
                    "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", expansion},
      {"50,000 attributes declared for one element type, then 10,000 of it",
       Document("<!DOCTYPE r [<!ATTLIST x" + declared_attributes + ">]>",
                Repeat("<x/>", 10'000) + kOneStep),
       "", "read", 1, "", "limit (declared attributes)"},
      {"50,000 attributes declared for frame_idx, one per list",
       Document("<!DOCTYPE r [" + declared_lists + "]>", kOneStep), "", "read", 1, "",
       "limit (declared attributes)"},
      {"256 attributes declared for one element type, then 250,000 of it",
       Document("<!DOCTYPE r [<!ATTLIST x" + declared_attributes.substr(0, declared_256) + ">]>",
                Repeat("<x/>", 250'000) + kOneStep),
       "", "read", 1, "", expansion},
      {"16 attributes declared for one element type, then 250,000 of it",
       Document("<!DOCTYPE r [<!ATTLIST x" + declared_attributes.substr(0, declared_16) + ">]>",
                Repeat("<x/>", 250'000) + kOneStep),
       "", "", 0, one_step_table, ""},
      {"one 1 MiB external entity under 4,096 spellings of its path",
       Document("<!DOCTYPE r [" + spelled_entities + "]>",
                "<x>" + spelled_references + "</x>" + kOneStep),
       "", "read", 1, "", expansion},
      {"eight distinct 1 MiB external entities, each read once",
       Document("<!DOCTYPE r [" + distinct_entities + "]>",
                "<x>" + distinct_references + "</x>" + kOneStep),
       "", "", 0, one_step_table, ""},
      {"a default name of 120 kanji on 400,000 image names",
       Document("<!DOCTYPE r [<!ATTLIST image_name name CDATA '" + kanji_120 + "'>]>",
                "<tex_pattern_list_data>" + Repeat("<image_name/>", 400'000) +
                    "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", "limit (kept data)", true},
      {"default indices and names on 400,000 palette names",
       Document("<!DOCTYPE r [<!ATTLIST palette_name index CDATA '12345' name CDATA '" + kanji_120 +
                    "'>]>",
                "<tex_pattern_list_data>" + Repeat("<palette_name/>", 400'000) +
                    "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", "limit (kept data)", true},
      {"a default material name on 300,000 pattern records",
       Document("<!DOCTYPE r [<!ATTLIST tex_pattern_anm material_name CDATA '" + kanji_120 +
                    "' data_size CDATA '1'>]>",
                "<tex_pattern_anm_array>" + Repeat("<tex_pattern_anm/>", 300'000) +
                    "</tex_pattern_anm_array>" + kOneStep),
       "", "read", 1, "", "limit (kept data)", true},
      {"defaults of every create attribute on 400,000 create elements",
       Document("<!DOCTYPE r [<!ATTLIST create user CDATA '" + kanji_120 + "' host CDATA '" +
                    kanji_120 + "' date CDATA '" + kanji_120 + "' source CDATA '" + kanji_120 +
                    "'>]>",
                kOneStep, "<head>" + Repeat("<create/>", 400'000) + "</head>"),
       "", "read", 1, "", expansion, true},
      {"list values from a 4 MB entity, ten times, under the largest size",
       Document("<!DOCTYPE r [<!ENTITY v '" + Repeat("1 ", 2'000'000) + "'>]>",
                "<d><frame_idx size='2147483647'>" + Repeat("&v;", 10) + "</frame_idx></d>"),
       "", "read", 1, "", "limit (kept data)", true},
      {"2,000,000 plain image names",
       Document("", "<tex_pattern_list_data>" + Repeat("<image_name/>", 2'000'000) +
                        "</tex_pattern_list_data>" + kOneStep),
       "", "", 0, one_step_table, "", true},
      {"5,000 image names x 400 from an entity, beside 3 MB of comment",
       Document(
           entity(Repeat("<image_name/>", 5000)) + "<!--" + std::string(3'000'000, 'c') + "-->",
           "<tex_pattern_list_data>" + Repeat("&e;", 400) + "</tex_pattern_list_data>" + kOneStep),
       "", "read", 1, "", "limit (kept data)", true},
      {"a parameter entity of white space x 100,000",
       Document("<!DOCTYPE r [<!ENTITY % ws '" + std::string(1'000'000, ' ') + "'>" +
                    Repeat("%ws;", 100'000) + "]>",
                kOneStep),
       "", "read", 1, "", expansion},
      {"a chain of 49,990 entities",
       Document("<!DOCTYPE r [" + chain + "]>", "<x>&e49989;</x>" + kOneStep), "", "read", 1, "",
       "limit (entity nesting)"},
      {"an empty entity x 1,000,000",
       Document(entity(""), "<x>" + Repeat("&e;", 1'000'000) + "</x>" + kOneStep), "", "read", 1,
       "", "limit (entity references)"},
      {"9,997 open elements, then 100,000 empty ones",
       Document("", Repeat("<a>", 9997) + Repeat("<b/>", 100'000) + Repeat("</a>", 9997)), "",
       "read", 1, "", "limit (depth)"},
      {"250 open elements, then 500,000 empty ones",
       Document("", Repeat("<a>", 250) + Repeat("<b/>", 500'000) + Repeat("</a>", 250) + kOneStep),
       "", "", 0, one_step_table, ""},
      {"100,000 namespace bindings on the root, then 100,000 elements",
       "<r" + bindings + "><body>" + Repeat("<a/>", 100'000) + kOneStep + "</body></r>", "", "read",
       1, "", "memory"},
      {"2,000,000 values, then 10,000 empty lists each with a larger size",
       Document("", "<d><frame_idx size='2000000'>" + Repeat("1 ", 2'000'000) + "</frame_idx>" +
                        growing_sizes + "</d>"),
       "", msg::kConvertFailed, 1, "", ""},
      {"24 MiB of one comment", Document("", kOneStep) + "<!--" + markup + "-->", "", "read", 1, "",
       "memory"},
      {"24 MiB of one processing instruction", Document("", kOneStep) + "<?pi " + markup + "?>", "",
       "read", 1, "", "memory"},
      {"24 MiB of one CDATA section", Document("", kOneStep + "<x><![CDATA[" + markup + "]]></x>"),
       "", "read", 1, "", "memory"},
      {"24 MiB of one attribute value", Document("", kOneStep + "<x a='" + markup + "'/>"), "",
       "read", 1, "", "memory"},
      {"24 MiB of text in the title",
       Document("", kOneStep, "<head><title>" + markup + "</title></head>"), "", "read", 1, "",
       "limit (text run)"},
      {"24 MiB of trailing white space", Document("", kOneStep) + std::string(24 << 20, ' '), "",
       "read", 1, "", "memory"},
      {"endless white space from a pipe", "", endless, "read", 1, "", "memory"},
      {"a pipe as external DTD", "<!DOCTYPE r SYSTEM '" + fifo + "'>" + Document("", kOneStep), "",
       "read", 1, "", "resource"},
      {"a pipe as general entity",
       Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + fifo + "'>]>", "<x>&x;</x>" + kOneStep), "",
       "read", 1, "", "resource"},
      {"a pipe as parameter entity",
       Document("<!DOCTYPE r [<!ENTITY % x SYSTEM '" + fifo + "'> %x;]>", kOneStep), "", "read", 1,
       "", "resource"},
      {"a FIFO through a symbolic link",
       Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + dir / "link" + "'>]>",
                "<x>&x;</x>" + kOneStep),
       "", "read", 1, "", "resource", false, TSystem::kPosix},
      {"a share as external DTD", dtd("\\\\host\\share\\r.dtd"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"a share with forward slashes", dtd("//host/share/r.dtd"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"a share in the long form", dtd("\\\\?\\UNC\\host\\share\\r.dtd"), "", "read", 1, "",
       refused, false, TSystem::kWindows},
      {"a share as a file URL", dtd("file://host/share/r.dtd"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"the device namespace", dtd("\\\\.\\C:\\r.dtd"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"a device after the long prefix", dtd("\\\\?\\GLOBALROOT\\Device\\Null"), "", "read", 1, "",
       refused, false, TSystem::kWindows},
      {"NUL", dtd("NUL"), "", "read", 1, "", refused, false, TSystem::kWindows},
      {"con in a folder", dtd("sub\\con"), "", "read", 1, "", refused, false, TSystem::kWindows},
      {"COM1 with an extension", dtd("C:\\dir\\Com1.dtd"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"LPT9 with trailing dots and spaces", dtd("lpt9 .dtd. ."), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"AUX as a file URL", dtd("file:///C:/dir/aux.txt"), "", "read", 1, "", refused, false,
       TSystem::kWindows},
      {"the console input", dtd("CONIN$"), "", "read", 1, "", refused, false, TSystem::kWindows},
      {"network DTD", "<!DOCTYPE r SYSTEM '" + listener.Url() + "/r.dtd'>" + Document("", kOneStep),
       "", "read", 1, "", "resource"},
      {"network entity",
       Document("<!DOCTYPE r [<!ENTITY x SYSTEM '" + listener.Url() + "/x'>]>",
                "<x>&x;</x>" + kOneStep),
       "", "read", 1, "", "resource"},
      {"network parameter entity",
       Document("<!DOCTYPE r [<!ENTITY % x SYSTEM '" + listener.Url() + "/x'> %x;]>", kOneStep), "",
       "read", 1, "", "resource"},
      {"network schema hints",
       "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
       "xsi:noNamespaceSchemaLocation='" +
           listener.Url() + "/r.xsd' xsi:schemaLocation='urn:x " + listener.Url() +
           "/x.xsd'><body>" + kOneStep + "</body></r>",
       "", "", 0, one_step_table, ""},
      {"endless input", "", "/dev/zero", "read", 1, "", "parse", false, TSystem::kPosix},
      {"a ten-million-digit number",
       Document("", "<d><frame_idx size='1'>" + std::string(10 << 20, '9') +
                        "</frame_idx><image_idx size='1'>1</image_idx>"
                        "<palette_idx size='1'>2</palette_idx></d>"),
       "", "", 0, TableFile({0xFFFF}, {1}, {2}), ""},
      {"a huge size without values", Document("", "<d><frame_idx size='2000000000'/></d>"), "",
       msg::kConvertFailed, 1, "", ""},
      {"a negative size", Document("", "<d><frame_idx size='-1'></frame_idx></d>"), "",
       msg::kConvertFailed, 1, "", ""},
      {"a huge image_size with two images",
       Document("",
                "<tex_pattern_list_data image_size='2000000000'><image_name/><image_name/>"
                "</tex_pattern_list_data>" +
                    kOneStep),
       "", "", 0, one_step_table, ""},
      {"100,000 nested elements",
       Document("", Repeat("<a>", 100'000) + Repeat("</a>", 100'000) + kOneStep), "", "read", 1, "",
       "limit (depth)"},
      {"ten MiB of random bytes", noise, "", "read", 1, "", "parse"},
      {"a truncated document", Document("", kOneStep).substr(0, 60), "", "read", 1, "", "parse"},
      {"invalid bytes under UTF-8",
       "<?xml version='1.0' encoding='UTF-8'?><r><title>a\xC3(b</title></r>", "", "read", 1, "",
       "parse"},
      {"invalid bytes under Shift_JIS",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x81 b\xA0\xFD</title></r>", "",
       "read", 1, "", "parse"},
      {"a lead byte as the last byte of a Shift_JIS document",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "</body></r>\x81", "", "",
       0, one_step_table, ""},
      {"a lead byte as the last byte of a truncated Shift_JIS document",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "\x81", "", "read", 1, "",
       "parse"},
      {"NUL bytes", std::string("<r><body>\0</body></r>", 21), "", "read", 1, "", "parse"},
      {"a directory", "", dir.path().string(), "read", 1, "", "input"},
      {"a missing file", "", dir / "missing.xml", "read", 1, "", "input"},
  };

  const std::string output = dir / "out.bin";
  morv::test::ProcessLimits limits;
  // Guards against hangs and runaway work, far above what any case needs.
  limits.cpu_seconds = 10;
  limits.wall_seconds = 30;
  limits.environment = {"MORV_CONV_TRACE=1"};

  WriteFile(dir / "tiny.xml", Document("", kOneStep));
  [[maybe_unused]] const long baseline_kib =
      RunConverter({dir / "tiny.xml", output}, limits).max_rss_kib;

  for (const HostileCase& c : cases) {
    if (c.only && *c.only != kSystem) continue;
    SCOPED_TRACE(c.what);
    std::string input = c.path;
    if (input.empty()) {
      input = dir / "hostile.xml";
      WriteFile(input, c.document);
    }
    WriteFile(output, kSentinel);
    const auto result = RunConverter({input, output}, limits);
    ASSERT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.printed == "read" ? msg::ReadFailed(input) : c.printed);
    EXPECT_EQ(ReadFile(output), c.status == 0 ? c.table : kSentinel);
    if (!c.reason.empty()) {
      EXPECT_NE(result.err.find("\n" + c.reason), std::string::npos) << result.err;
    }
#ifndef MORV_SANITIZED
    const long input_kib =
        c.bar_grows_with_input ? static_cast<long>(std::filesystem::file_size(input) / 1024) : 0;
    EXPECT_LE(result.max_rss_kib, baseline_kib + kMemoryBarKib + 3 * input_kib);
#endif
  }
  EXPECT_FALSE(listener.WasReached());
}

}  // namespace
