// The built morv_dump, run as a process: tables in every form with the exact
// bytes they must print (tests/data/dump/), tables it must refuse with their
// message and status, and tables checked against their documents.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "IntermediateFileParser/MorvDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"
#include "IntermediateFileParser/XmlPlatform.h"
#include "TestSupport.h"
#include "converter/TableFile.h"

namespace morv::test {
namespace {

const std::string kBlinkTable = SourceFile("examples/blink.expected.bin");
const std::string kBlinkDocument = SourceFile("examples/blink.xml");

// A table file of `bytes` in the scratch directory, under `name`.
FromDir Bytes(const std::string& bytes, const std::string& name = "table.bin") {
  return [bytes, name](const ScratchDir& dir) { return WriteFile(dir / name, bytes); };
}

// The example's table with the byte at `offset` set to `value`.
std::string BlinkWith(std::size_t offset, char value) {
  std::string bytes = ReadFile(kBlinkTable);
  bytes[offset] = value;
  return bytes;
}

// The width and height a PNG file's header gives.
std::pair<unsigned, unsigned> PngSize(const std::string& png) {
  const auto at = [&png](std::size_t offset) {
    unsigned value = 0;
    for (std::size_t i = 0; i < 4; ++i)
      value = value << 8 | static_cast<unsigned char>(png[offset + i]);
    return value;
  };
  return png.size() < 24 ? std::pair{0u, 0u} : std::pair{at(16), at(20)};
}

struct FormatCase {
  const char* what = "";
  FromDir table = nullptr;
  std::vector<std::string> options = {};
  std::string expected = "";                    // in tests/data/dump/; empty: none to compare with
  std::pair<unsigned, unsigned> svg_size = {};  // for a timeline: its pixels
};

std::vector<FormatCase> FormatCases() {
  const FromDir blink = Fixed(kBlinkTable);
  const FromDir empty = Fixed(DataFile("size_zero.bin"));
  // 10,000 steps of 3 frames each, the texture changing at every step.
  std::vector<unsigned> frames, textures, palettes;
  for (unsigned i = 0; i < 10'000; ++i) {
    frames.push_back(3 * i);
    textures.push_back(i % 3);
    palettes.push_back(i / 2'500);
  }
  return {
      // A Japanese name: on Windows it comes through the UTF-16 command line.
      {"the example as text", Bytes(ReadFile(kBlinkTable), "まばたき.bin"), {}, "blink.txt"},
      {"the example as text by name", blink, {"--format", "text"}, "blink.txt"},
      {"the example as CSV", blink, {"--format", "csv"}, "blink.csv"},
      {"the example as JSON", blink, {"--format=json"}, "blink.json"},
      {"the example as a timeline", blink, {"--format", "svg"}, "blink.svg", {1232, 120}},
      {"no steps as text", empty, {}, "empty.txt"},
      {"no steps as CSV", empty, {"--format", "csv"}, "empty.csv"},
      {"no steps as JSON", empty, {"--format", "json"}, "empty.json"},
      {"no steps as a timeline", empty, {"--format", "svg"}, "empty.svg", {424, 120}},
      {"frames that do not increase as a timeline",
       Fixed(DataFile("dump/unordered.bin")),
       {"--format", "svg"},
       "unordered.svg",
       {424, 120}},
      // Nothing to compare it with: its size is what it shows.
      {.what = "a long table as a timeline",
       .table = Bytes(TableFile(frames, textures, palettes)),
       .options = {"--format", "svg"},
       .svg_size = {1304, 120}},
  };
}

using DumpFormatTest = ScratchRowTest<FormatCase>;

// A timeline is also written to a file, read as an XML document and, on
// POSIX systems, rendered by librsvg to an image of its size.
TEST_P(DumpFormatTest, PrintsTheTableInItsForm) {
  const FormatCase& c = GetParam();
  const std::string table = c.table(dir);
  std::vector<std::string> args = c.options;
  args.push_back(table);
  const auto result = RunDump(args);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  if (!c.expected.empty()) {
    EXPECT_EQ(result.out, ReadFile(DataFile("dump/" + c.expected)));
  }
  if (c.svg_size.first == 0) return;

  const std::string svg = dir / "timeline.svg";
  const auto to_file = RunDump({"--svg", svg, table});
  EXPECT_EQ(to_file.status, 0);
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(ReadFile(svg), result.out);
  // Not a span a step: the drawing stays small however long the table.
  EXPECT_LT(result.out.size(), 100'000u);
  {
    const ifp::TXmlPlatform platform;
    ifp::TMorvDocReader reader;
    ifp::TMorvDocument document;
    EXPECT_TRUE(reader.Read(&document, svg.c_str())) << reader.GetFailure().Describe();
    EXPECT_EQ(document.root_name, "svg");
  }
  if (kSystem == TSystem::kWindows) return;
  ASSERT_STRNE(MORV_RSVG_CONVERT, "") << "rsvg-convert is missing: scripts/setup.sh installs it";
  const std::string png = dir / "timeline.png";
  const auto rendered = morv::test::Run({MORV_RSVG_CONVERT, "--output", png, svg});
  EXPECT_EQ(rendered.status, 0) << rendered.err;
  EXPECT_EQ(PngSize(ReadFile(png)), c.svg_size);
}

INSTANTIATE_TEST_SUITE_P(Tables, DumpFormatTest, ::testing::ValuesIn(FormatCases()),
                         NameRowByWhat());

// A million steps print as JSON that reads back into the same table.
TEST(DumpTest, AMillionStepsInJsonReadBackAsTheTable) {
  constexpr unsigned kSteps = 1'000'000;
  std::vector<unsigned> table[3];
  for (unsigned i = 0; i < kSteps; ++i) {
    table[0].push_back((i * 7) % 65536);
    table[1].push_back((i * 13) % 256);
    table[2].push_back(i % 16);
  }
  const ScratchDir dir;
  WriteFile(dir / "big.bin", TableFile(table[0], table[1], table[2]));
  const auto result = RunDump({"--format", "json", dir / "big.bin"});
  ASSERT_EQ(result.status, 0);

  const char* const fields[] = {"frame", "texture", "palette"};
  std::vector<unsigned> read[3] = {std::vector<unsigned>(kSteps, ~0u),
                                   std::vector<unsigned>(kSteps, ~0u),
                                   std::vector<unsigned>(kSteps, ~0u)};
  std::size_t scalars = 0;
  std::optional<unsigned long> count;
  EXPECT_TRUE(WalkJson(result.out, [&](const std::string& path, std::string_view text) {
    ++scalars;
    const unsigned long value = std::stoul(std::string(text));
    if (path == "count") {
      count = value;
      return;
    }
    // steps/<index>/<field>
    const std::size_t slash = path.find('/', 6);
    const unsigned long index = std::stoul(path.substr(6, slash - 6));
    for (int f = 0; f < 3; ++f) {
      if (path.substr(slash + 1) == fields[f] && index < kSteps)
        read[f][index] = static_cast<unsigned>(value);
    }
  }));
  EXPECT_EQ(count, kSteps);
  EXPECT_EQ(scalars, 3 * kSteps + 1);
  for (int f = 0; f < 3; ++f) EXPECT_TRUE(read[f] == table[f]) << fields[f];
}

struct RefusedCase {
  std::string what;
  FromDir table;
  std::string message;  // the message's text, the path following it
};

std::vector<RefusedCase> RefusedCases() {
  const std::string blink = ReadFile(kBlinkTable);
  std::vector<RefusedCase> cases;
  for (std::size_t size = 0; size <= 8; ++size) {
    cases.push_back({std::to_string(size) + " bytes", Bytes(blink.substr(0, size)),
                     size < 4 ? "件数がありません " : "件数36に対してファイルが短すぎます "});
  }
  const std::string device = kSystem == TSystem::kPosix ? "/dev/null" : "NUL";
  cases.insert(
      cases.end(),
      {
          {"a count one too large", Bytes(BlinkWith(0, 37)), "件数37に対してファイルが短すぎます "},
          {"a count one too small", Bytes(BlinkWith(0, 35)), "件数35に対してファイルが長すぎます "},
          {"a directory", TheDir(), "ディレクトリです "},
          {"a missing file", Named("none.bin"), "テーブル読み込み失敗 "},
          {"a device", Fixed(device), "通常のファイルではありません "},
          // Nobody writes into it: the reader must not wait.
          {"a named pipe", Named("fifo"), "通常のファイルではありません "},
      });
  return cases;
}

using DumpRefusedTest = ScratchRowTest<RefusedCase>;

// Alone, and where it would be printed and compared: the table is read first.
TEST_P(DumpRefusedTest, SaysWhyWithStatusOne) {
  const RefusedCase& c = GetParam();
  const std::vector<std::string> options[] = {{},
                                              {"--format", "json", "--document", kBlinkDocument}};
  for (std::size_t run = 0; run < std::size(options); ++run) {
    // A pipe of its own for each run: on Windows one that has been opened is
    // busy, and it has a name of its own there.
    const NamedPipe pipe(dir / ("fifo" + std::to_string(run)));
    std::string path = c.table(dir);
    if (path == dir / "fifo") path = pipe.Path();
    std::vector<std::string> args = options[run];
    args.push_back(path);
    const auto result = RunDump(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, msg::Dump(c.message, path));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DumpRefusedTest, ::testing::ValuesIn(RefusedCases()),
                         NameRowByWhat());

// The library reads the same from bytes: nothing short of the whole table,
// nor beyond it.
TEST(DumpTest, TheReaderTakesBytesOfExactlyOneTable) {
  const std::string blink = ReadFile(kBlinkTable);
  TableFailure failure;
  const std::optional<PatternTable> whole = ReadTableFile(kBlinkTable, failure);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Count(), 36u);
  EXPECT_EQ(whole->frames[35], 140);
  for (std::size_t size = 0; size <= blink.size() + 1; ++size) {
    const std::string bytes = size <= blink.size() ? blink.substr(0, size) : blink + '\0';
    const auto table =
        ReadTable({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, failure);
    EXPECT_EQ(table, size == blink.size() ? whole : std::nullopt) << size;
    using Kind = TableFailure::Kind;
    EXPECT_EQ(failure.kind, size < 4               ? Kind::kNoCount
                            : size < blink.size()  ? Kind::kCountTooLarge
                            : size == blink.size() ? Kind::kNone
                                                   : Kind::kCountTooSmall)
        << size;
  }
  EXPECT_EQ(failure.Describe(), "count 36 needs 148 bytes, there are 149");
}

struct CommandCase {
  const char* what = "";
  std::vector<std::string> args = {};
  std::string out = "";  // what standard output begins with; empty: nothing
  std::string err = "";
  int status = 0;
  bool stdout_closed = false;
};

// The first and the last step differing are rows of the byte-by-byte test
// below.
std::vector<CommandCase> CommandCases() {
  const std::string blink = kBlinkTable;
  const std::string missing = DataFile("missing.xml");
  const std::string nowhere = DataFile("no/such/timeline.svg");
  return {
      {.what = "help", .args = {"--help"}, .out = Encode("使い方: morv_dump [オプション] ")},
      {.what = "version",
       .args = {"--version"},
       .out = ConsoleText("morv_dump " MORV_VERSION "\n")},
      {.what = "no table", .err = msg::Dump("テーブルファイルの指定がありません"), .status = 2},
      {.what = "an unknown option",
       .args = {"--frames", blink},
       .err = msg::Dump("不明なオプションです --frames"),
       .status = 2},
      {.what = "an option without its value",
       .args = {blink, "--svg"},
       .err = msg::Dump("オプションの値がありません --svg"),
       .status = 2},
      {.what = "an unknown format",
       .args = {"--format", "xml", blink},
       .err = msg::Dump("不明な形式です xml"),
       .status = 2},
      {.what = "a second table",
       .args = {blink, blink},
       .err = msg::Dump("余分な引数です ", blink),
       .status = 2},
      {.what = "options ended by --",
       .args = {"--format", "csv", "--", blink},
       .out = "step,frame"},
      {.what = "a timeline that cannot be created",
       .args = {"--svg", nowhere, blink},
       .err = msg::CannotCreate(nowhere),
       .status = 1},
      {.what = "a closed standard output",
       .args = {blink},
       .err = msg::kWriteFailed,
       .status = 1,
       .stdout_closed = true},
      // The document read as the converter reads it, with its messages.
      {.what = "the document's own table", .args = {"--document", kBlinkDocument, blink}},
      {.what = "the document's table printed too",
       .args = {"--document", kBlinkDocument, "--format", "csv", blink},
       .out = ReadFile(DataFile("dump/blink.csv"))},
      {.what = "a different count",
       .args = {"--document", kBlinkDocument, DataFile("two_steps.bin")},
       .err = msg::Dump("件数が違います: 文書 36、テーブル 2"),
       .status = 1},
      {.what = "a document that cannot be read",
       .args = {"--document", missing, blink},
       .err = msg::ReadFailed(missing),
       .status = 1},
      {.what = "a document that gives no tables",
       .args = {"--document", DataFile("short_list.xml"), blink},
       .err = msg::kConvertFailed,
       .status = 1},
  };
}

using DumpCommandTest = ::testing::TestWithParam<CommandCase>;

TEST_P(DumpCommandTest, AnswersWithItsStatus) {
  const CommandCase& c = GetParam();
  ProcessLimits limits;
  limits.stdout_closed = c.stdout_closed;
  const auto result = RunDump(c.args, limits);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(c.out.empty() ? result.out : result.out.substr(0, c.out.size()), c.out);
  EXPECT_EQ(result.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, DumpCommandTest, ::testing::ValuesIn(CommandCases()),
                         NameRowByWhat());

// Every byte of the example's table changed in turn is found: a count that
// no longer fits the file, or the first step and field that differ, with
// the document's value and the table's.
TEST(DumpTest, EveryChangedByteOfATableIsFoundByItsDocument) {
  const ScratchDir dir;
  const std::string blink = ReadFile(kBlinkTable);
  const std::string path = dir / "changed.bin";
  for (std::size_t offset = 0; offset < blink.size(); ++offset) {
    const std::string changed = BlinkWith(offset, static_cast<char>(blink[offset] ^ 0xFF));
    WriteFile(path, changed);
    const auto byte = [&changed](std::size_t at) {
      return static_cast<unsigned char>(changed[at]);
    };
    const auto was = [&blink](std::size_t at) { return static_cast<unsigned char>(blink[at]); };
    std::string expected;
    if (offset < 4) {
      const unsigned long count = byte(0) | byte(1) << 8 | byte(2) << 16 | 1ul * byte(3) << 24;
      expected = msg::Dump("件数" + std::to_string(count) + "に対してファイルが短すぎます ", path);
    } else {
      // Frames from offset 4, two bytes each; textures from 76; palettes from 112.
      const bool frame = offset < 76;
      const std::size_t step = frame ? (offset - 4) / 2 : (offset - 76) % 36;
      const std::size_t at = frame ? 4 + 2 * step : offset;
      const char* const field = frame ? "frame" : offset < 112 ? "texture" : "palette";
      const unsigned document = frame ? was(at) | was(at + 1) << 8 : was(at);
      const unsigned table = frame ? byte(at) | byte(at + 1) << 8 : byte(at);
      expected =
          msg::Dump("ステップ " + std::to_string(step) + " の " + field + " が違います: 文書 " +
                    std::to_string(document) + "、テーブル " + std::to_string(table));
    }
    const auto result = RunDump({"--document", kBlinkDocument, path});
    EXPECT_EQ(result.status, 1) << offset;
    EXPECT_EQ(result.err, expected) << offset;
  }
}

}  // namespace
}  // namespace morv::test
