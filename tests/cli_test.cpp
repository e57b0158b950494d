// The built morv_conv, run as a process: documents in tests/data/ with the
// table bytes, messages and exit statuses they must produce.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace morv::test {
namespace {

using CliTest = ScratchTest<>;

// A row of tests/data/expected.tsv: a document and the table file it must
// produce ("-": none), the status, and the message by its name (msg::ByName).
// Paths are in the source tree.
struct DocumentCase {
  std::string what;
  std::string document;
  std::string table;
  int status = 0;
  std::string message;
};

std::vector<DocumentCase> DocumentCases() {
  std::istringstream file(ReadFile(DataFile("expected.tsv")));
  std::vector<DocumentCase> cases;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
    if (fields.size() != 5) throw std::runtime_error("expected.tsv: not five fields: " + line);
    cases.push_back({fields[0], fields[1], fields[2], std::stoi(fields[3]), fields[4]});
  }
  return cases;
}

using CliDocumentTest = ScratchRowTest<DocumentCase>;

TEST_P(CliDocumentTest, IsConvertedOrRefusedLeavingTheOutputAlone) {
  const DocumentCase& c = GetParam();
  const std::string document = SourceFile(c.document);
  const std::string out = dir / "out.bin";
  WriteFile(out, kSentinel);
  const auto result = RunConverter({document, out});
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, msg::ByName(c.message, document));
  ASSERT_EQ(c.table == "-", c.status != 0) << "a table for a converted document only";
  if (c.status == 0) {
    EXPECT_EQ(ReadFile(out), ReadFile(SourceFile(c.table)));
  } else {
    EXPECT_EQ(ReadFile(out), kSentinel);
    // Nor does it create an output that was not there.
    EXPECT_EQ(RunConverter({document, dir / "new.bin"}).status, c.status);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.bin"));
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, CliDocumentTest, ::testing::ValuesIn(DocumentCases()),
                         NameRowByWhat());

TEST_F(CliTest, ArgumentsBeyondTheSecondAreIgnored) {
  const std::string out = dir / "out.bin";
  const auto result = RunConverter({DataFile("two_steps.xml"), out, "extra", "--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(out), ReadFile(DataFile("two_steps.bin")));
}

TEST_F(CliTest, TooFewArgumentsCreateNothing) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{DataFile("two_steps.xml")}}) {
    const auto result = RunConverter(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, msg::kTooFewArguments);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(CliTest, TheInputMayBeReplacedByItsOwnTableFile) {
  const std::string path = WriteFile(dir / "same.xml", ReadFile(DataFile("two_steps.xml")));
  const auto result = RunConverter({path, path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(path), ReadFile(DataFile("two_steps.bin")));
}

// The input path in UTF-8, the output path in raw Shift_JIS bytes on POSIX
// systems; on Windows, where names are UTF-16, in CP932 and beyond it. A
// missing input's path is printed as the converter narrows it: on Windows a
// character CP932 lacks becomes "?".
TEST_F(CliTest, JapaneseInputAndOutputPathsArePrintedAndOpenedByTheirBytes) {
  const std::string in = WriteFile(dir / "入力.xml", ReadFile(DataFile("two_steps.xml")));
  std::vector<std::string> outputs;
  if (kSystem == TSystem::kPosix) {
    outputs = {dir / Encode("出力.bin")};  // raw Shift_JIS bytes
  } else {
    outputs = {dir / "出力.bin", dir / "Grüße €.bin"};
  }
  for (const std::string& out : outputs) {
    auto result = RunConverter({in, out});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(out), ReadFile(DataFile("two_steps.bin")));
  }

  const std::string missing = dir / "無い.xml";
  auto result = RunConverter({missing, outputs.front()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, msg::ReadFailed(missing));
  if (kSystem == TSystem::kWindows) {
    result = RunConverter({dir / "ü€.xml", outputs.front()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, msg::ReadFailed(dir / "??.xml"));
  }
}

struct WriteFailureCase {
  const char* what = "";
  FromDir input = Named("big.xml");
  FromDir output = Named("out.bin");
  std::optional<std::uint64_t> file_size = std::nullopt;
  // What it prints, given the output path, before the final "write failed"
  // line.
  std::function<std::string(const std::string& output)> printed = Fixed("");
  std::optional<TSystem> only = std::nullopt;  // the one system it means something on
};

std::vector<WriteFailureCase> WriteFailureCases() {
  const auto every_piece = Fixed(msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed);
  const TSystem posix = TSystem::kPosix;
  return {
      {.what = "missing directory",
       .output = Named("no/such/dir.bin"),
       .printed = msg::CannotCreate},
      {.what = "directory", .output = TheDir(), .printed = msg::CannotCreate},
      // Devices that fail and file size limits are POSIX's.
      {.what = "full device", .output = Fixed("/dev/full"), .printed = every_piece, .only = posix},
      // The count is still in stdio's buffer when the limit strikes, so the
      // failure shows from the frame table on.
      {.what = "limit in the count", .file_size = 2, .printed = every_piece, .only = posix},
      {.what = "limit in the frame table",
       .file_size = 50'000,
       .printed = every_piece,
       .only = posix},
      {.what = "limit in the texture table",
       .file_size = 100'000,
       .printed = Fixed(msg::kTextureFailed + msg::kPaletteFailed),
       .only = posix},
      {.what = "limit in the palette table",
       .file_size = 150'000,
       .printed = Fixed(msg::kPaletteFailed),
       .only = posix},
      // A small file fails only when it is closed: no piece to name.
      {.what = "small file under a limit",
       .input = Fixed(DataFile("two_steps.xml")),
       .file_size = 2,
       .only = posix},
      {.what = "small file on a full device",
       .input = Fixed(DataFile("two_steps.xml")),
       .output = Fixed("/dev/full"),
       .only = posix},
      // A document given as its own output.
      {.what = "the document as its own output",
       .input = Named("same.xml"),
       .output = Named("same.xml"),
       .file_size = 50'000,
       .printed = every_piece,
       .only = posix},
      {.what = "ulimit -f 100 and a 100,000-step table",
       .input = Named("huge.xml"),
       .file_size = 102'400,
       .printed = every_piece,
       .only = posix},
      // Root may write any file on POSIX systems; a read-only file is
      // read-only to everyone on Windows.
      {.what = "read-only file",
       .output = Named("read-only.bin"),
       .printed = msg::CannotCreate,
       .only = TSystem::kWindows},
      // A path that names no file cannot be created, like any other.
      {.what = "empty path", .output = Fixed(""), .printed = msg::CannotCreate},
  };
}

using CliWriteFailureTest = ScratchRowTest<WriteFailureCase>;

TEST_P(CliWriteFailureTest, ReportsEachPieceAndLeavesWhatThePathHeld) {
  const WriteFailureCase& c = GetParam();
  MORV_SKIP_ROW_OF_THE_OTHER_SYSTEM(c);
  // 40,000 steps: 4 + 80,000 + 40,000 + 40,000 bytes, more than stdio
  // buffers, so the writing fails inside the piece the limit falls in.
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);
  // 100,000 steps, 400,004 bytes, under `ulimit -f 100` (102,400 bytes).
  WriteStepsDocument(dir / "huge.xml", 100000);
  const std::string document = ReadFile(big);
  const std::string out = WriteFile(dir / "out.bin", kSentinel);
  const std::string same = WriteFile(dir / "same.xml", document);
  if (kSystem == TSystem::kWindows) {
    std::filesystem::permissions(FsPath(WriteFile(dir / "read-only.bin", kSentinel)),
                                 std::filesystem::perms::owner_read);
  }
  ProcessLimits limits;
  limits.file_size = c.file_size;
  const std::string output = c.output(dir);
  const auto result = RunConverter({c.input(dir), output}, limits);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, c.printed(output) + msg::kWriteFailed);
  // Nothing of the failed table is left, at the path or beside it.
  EXPECT_EQ(ReadFile(out), kSentinel);
  EXPECT_EQ(ReadFile(same), document);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(Leftovers(dir.path(), {"big.xml", "huge.xml", "out.bin", "same.xml", "read-only.bin"}),
            std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Paths, CliWriteFailureTest, ::testing::ValuesIn(WriteFailureCases()),
                         NameRowByWhat());

TEST_F(CliTest, RunsWritingOneOutputLeaveOneWholeTable) {
  const std::string small = DataFile("two_steps.xml");
  std::string values;
  for (int i = 0; i < 200'000; ++i) values += std::to_string(i % 60000) + " ";
  const std::string big =
      WriteFile(dir / "big.xml", Document({.body = IndexLists(200'000, values, values, values)}));
  const std::string out = dir / "out.bin";
  RunConverter({big, out});
  const std::string big_table = ReadFile(out);
  const std::string small_table = ReadFile(DataFile("two_steps.bin"));
  for (int round = 0; round < 5; ++round) {
    std::thread first([&] { RunConverter({big, out}); });
    std::thread second([&] { RunConverter({small, out}); });
    first.join();
    second.join();
    const std::string table = ReadFile(out);
    EXPECT_TRUE(table == big_table || table == small_table) << table.size() << " bytes";
  }
}

TEST_F(CliTest, AClosedStandardOutputNeverChangesTheStatus) {
  ProcessLimits limits;
  limits.stdout_closed = true;
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 1},
      {{DataFile("missing.xml"), dir / "out.bin"}, 1},
      {{DataFile("short_list.xml"), dir / "out.bin"}, 1},
      {{DataFile("two_steps.xml"), dir.str()}, 1},
      {{DataFile("two_steps.xml"), dir / "out.bin"}, 0},
  };
  for (const auto& c : cases) {
    const auto result = RunConverter(c.args, limits);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, c.status);
  }
}

TEST_F(CliTest, TraceExplainsAFailedReadOnStandardError) {
  const std::string document = DataFile("count_mismatch.xml");
  ProcessLimits limits;
  limits.environment = {"MORV_CONV_TRACE=1"};
  const auto traced = RunConverter({document, dir / "out.bin"}, limits);
  const auto plain = RunConverter({document, dir / "out.bin"});
  EXPECT_EQ(traced.status, 1);
  EXPECT_EQ(traced.out, plain.out);
  EXPECT_NE(traced.err.find("start reading xml file (" + document + ")"), std::string::npos);
  EXPECT_NE(traced.err.find("2 values against the declared 3"), std::string::npos);
  EXPECT_NE(traced.err.find("read failed! (" + document + ")"), std::string::npos);
  EXPECT_EQ(plain.err, "");
  limits.environment = {"MORV_CONV_TRACE=0"};
  EXPECT_EQ(RunConverter({document, dir / "out.bin"}, limits).err, "");
}

}  // namespace
}  // namespace morv::test
