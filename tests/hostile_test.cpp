// Hostile and broken documents, each run through the built converter as a
// process under a CPU-time limit: every one must end with its message and
// status, leave an existing output file as it was (unless it converts), and
// stay within 64 MiB above the converter's own start-up footprint.

#include <gtest/gtest.h>

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

std::string Document(const std::string& doctype, const std::string& body) {
  return "<?xml version='1.0'?>" + doctype + "<r><head><title>t</title></head><body>" + body +
         "</body></r>";
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
  std::string table;  // for documents that convert
};

class HostileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(HostileTest, EveryDocumentIsDecidedCleanlyWithinTheMemoryBar) {
  const std::string bomb = morv::test::EntityBombDoctype();
  const std::string big_entity = "<!DOCTYPE r [<!ENTITY e '" + std::string(100'000, 'a') + "'>]>";
  const std::string number_entity = "<!DOCTYPE r [<!ENTITY e '" + Repeat("1 ", 50'000) + "'>]>";
  const std::string blown_up = Repeat("&e;", 5000);

  std::mt19937 random(20261207);
  std::string noise(10 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());

  const std::string one_step_table = TableFile({7}, {1}, {2});
  const HostileCase cases[] = {
      {"entity bomb", Document(bomb, "<x>&e10;</x>" + kOneStep), "", "read", 1, ""},
      {"quadratic blow-up in unread text",
       Document(big_entity, "<x>" + blown_up + "</x>" + kOneStep), "", "", 0, one_step_table},
      {"quadratic blow-up in a number list",
       Document(number_entity, "<d><frame_idx size='3'>" + blown_up + "</frame_idx></d>"), "",
       "read", 1, ""},
      {"network DTD", "<!DOCTYPE r SYSTEM 'http://127.0.0.1:9/r.dtd'>" + Document("", kOneStep), "",
       "read", 1, ""},
      {"network entity",
       Document("<!DOCTYPE r [<!ENTITY x SYSTEM 'http://127.0.0.1:9/x'>]>", "<x>&x;</x>"), "",
       "read", 1, ""},
      {"network schema hint",
       "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
       "xsi:noNamespaceSchemaLocation='http://127.0.0.1:9/r.xsd'><body>" +
           kOneStep + "</body></r>",
       "", "", 0, one_step_table},
      {"endless input", "", "/dev/zero", "read", 1, ""},
      {"a ten-million-digit number",
       Document("", "<d><frame_idx size='1'>" + std::string(10 << 20, '9') +
                        "</frame_idx><image_idx size='1'>1</image_idx>"
                        "<palette_idx size='1'>2</palette_idx></d>"),
       "", "", 0, TableFile({0xFFFF}, {1}, {2})},
      {"a huge size without values", Document("", "<d><frame_idx size='2000000000'/></d>"), "",
       msg::kConvertFailed, 1, ""},
      {"a negative size", Document("", "<d><frame_idx size='-1'></frame_idx></d>"), "",
       msg::kConvertFailed, 1, ""},
      {"a huge image_size with two images",
       Document("",
                "<tex_pattern_list_data image_size='2000000000'><image_name/><image_name/>"
                "</tex_pattern_list_data>" +
                    kOneStep),
       "", "", 0, one_step_table},
      {"100,000 nested elements",
       Document("", Repeat("<a>", 100'000) + Repeat("</a>", 100'000) + kOneStep), "", "read", 1,
       ""},
      {"ten MiB of random bytes", noise, "", "read", 1, ""},
      {"a truncated document", Document("", kOneStep).substr(0, 60), "", "read", 1, ""},
      {"invalid bytes under UTF-8",
       "<?xml version='1.0' encoding='UTF-8'?><r><title>a\xC3(b</title></r>", "", "read", 1, ""},
      {"invalid bytes under Shift_JIS",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><title>a\x81 b\xA0\xFD</title></r>", "",
       "read", 1, ""},
      {"a lead byte as the last byte of a Shift_JIS document",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "</body></r>\x81", "", "",
       0, one_step_table},
      {"a lead byte as the last byte of a truncated Shift_JIS document",
       "<?xml version='1.0' encoding='Shift_JIS'?><r><body>" + kOneStep + "\x81", "", "read", 1,
       ""},
      {"NUL bytes", std::string("<r><body>\0</body></r>", 21), "", "read", 1, ""},
      {"a directory", "", dir.path().string(), "read", 1, ""},
      {"a missing file", "", dir / "missing.xml", "read", 1, ""},
  };

  const std::string output = dir / "out.bin";
  morv::test::ProcessLimits limits;
  limits.cpu_seconds = 20;  // a guard against hangs, far above any case

  WriteFile(dir / "tiny.xml", Document("", kOneStep));
  const long baseline_kib = RunConverter({dir / "tiny.xml", output}, limits).max_rss_kib;

  for (const HostileCase& c : cases) {
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
#ifndef MORV_SANITIZED
    EXPECT_LE(result.max_rss_kib, baseline_kib + kMemoryBarKib);
#endif
  }
}

}  // namespace
