// The built morv_conv, run as a process: documents in tests/data/ with the
// table bytes, messages and exit statuses they must produce.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using morv::test::kSentinel;
using morv::test::Leftovers;
using morv::test::NameRowByWhat;
using morv::test::ReadFile;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::TSystem;
using morv::test::WriteFile;
using morv::test::WriteStepsDocument;
namespace msg = morv::test::msg;

const std::string kData = MORV_TEST_DATA_DIR;

class CliTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

struct DocumentCase {
  const char* what;
  std::string document;  // in tests/data/ (or the examples)
  std::string table;     // the table file it must produce; empty: refused
  std::string printed;   // for a refused document, after the input path
  int status;

  friend void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.what; }
};

std::vector<DocumentCase> DocumentCases() {
  return {
      {"two steps", kData + "/two_steps.xml", kData + "/two_steps.bin", "", 0},
      {"size zero", kData + "/size_zero.xml", kData + "/size_zero.bin", "", 0},
      {"longer lists", kData + "/longer_lists.xml", kData + "/longer_lists.bin", "", 0},
      {"truncation", kData + "/truncation.xml", kData + "/truncation.bin", "", 0},
      {"no body", kData + "/no_body.xml", kData + "/no_body.bin", "", 0},
      {"Shift_JIS", kData + "/encoding_sjis.xml", kData + "/encoding.bin", "", 0},
      {"UTF-8", kData + "/encoding_utf8.xml", kData + "/encoding.bin", "", 0},
      {"UTF-16", kData + "/encoding_utf16.xml", kData + "/encoding.bin", "", 0},
      {"EUC-JP", kData + "/encoding_eucjp.xml", kData + "/encoding.bin", "", 0},
      {"ISO-2022-JP", kData + "/encoding_iso2022jp.xml", kData + "/encoding.bin", "", 0},
      {"the blink example", std::string(MORV_EXAMPLES_DIR) + "/blink.xml",
       std::string(MORV_EXAMPLES_DIR) + "/blink.expected.bin", "", 0},
      {"a short list", kData + "/short_list.xml", "", msg::kConvertFailed, 1},
      {"a size of minus one", kData + "/size_minus_one.xml", "", msg::kConvertFailed, 1},
      {"a huge size", kData + "/huge_size.xml", "", msg::kConvertFailed, 1},
      {"a count mismatch", kData + "/count_mismatch.xml", "", "read", 1},
      {"a truncated document", kData + "/truncated.xml", "", "read", 1},
      {"a missing file", kData + "/missing.xml", "", "read", 1},
      {"a directory", kData, "", "read", 1},
  };
}

class CliDocumentTest : public ::testing::TestWithParam<DocumentCase> {
 protected:
  ScratchDir dir;
};

TEST_P(CliDocumentTest, IsConvertedOrRefusedLeavingTheOutputAlone) {
  const DocumentCase& c = GetParam();
  const std::string out = dir / "out.bin";
  WriteFile(out, kSentinel);
  const auto result = RunConverter({c.document, out});
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.err, "");
  if (c.status == 0) {
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFile(out), ReadFile(c.table));
  } else {
    EXPECT_EQ(result.out, c.printed == "read" ? msg::ReadFailed(c.document) : c.printed);
    EXPECT_EQ(ReadFile(out), kSentinel);
    // Nor does it create an output that was not there.
    EXPECT_EQ(RunConverter({c.document, dir / "new.bin"}).status, c.status);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.bin"));
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, CliDocumentTest, ::testing::ValuesIn(DocumentCases()),
                         NameRowByWhat());

TEST_F(CliTest, ArgumentsBeyondTheSecondAreIgnored) {
  const std::string out = dir / "out.bin";
  const auto result = RunConverter({kData + "/two_steps.xml", out, "extra", "--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ReadFile(out), ReadFile(kData + "/two_steps.bin"));
}

TEST_F(CliTest, TooFewArgumentsCreateNothing) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{kData + "/two_steps.xml"}}) {
    const auto result = RunConverter(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, msg::kTooFewArguments);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(CliTest, TheInputMayBeReplacedByItsOwnTableFile) {
  const std::string path = dir / "same.xml";
  WriteFile(path, ReadFile(kData + "/two_steps.xml"));
  const auto result = RunConverter({path, path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(path), ReadFile(kData + "/two_steps.bin"));
}

// The input path in UTF-8, the output path in raw Shift_JIS bytes on POSIX
// systems; on Windows, where names are UTF-16, in CP932 and beyond it. A
// missing input's path is printed as the converter narrows it: on Windows a
// character CP932 lacks becomes "?".
TEST_F(CliTest, JapaneseInputAndOutputPathsArePrintedAndOpenedByTheirBytes) {
  using morv::test::kSystem;
  const std::string in = dir / "入力.xml";
  WriteFile(in, ReadFile(kData + "/two_steps.xml"));
  std::vector<std::string> outputs;
  if (kSystem == TSystem::kPosix) {
    outputs = {dir / morv::test::Encode("出力.bin")};  // raw Shift_JIS bytes
  } else {
    outputs = {dir / "出力.bin", dir / "Grüße €.bin"};
  }
  for (const std::string& out : outputs) {
    auto result = RunConverter({in, out});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(out), ReadFile(kData + "/two_steps.bin"));
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

// A text of a row (a path, or a message that names one), made from the
// row's scratch directory when the row runs.
using FromDir = std::function<std::string(const ScratchDir&)>;

FromDir Named(const std::string& name) {
  return [name](const ScratchDir& dir) { return dir / name; };
}

FromDir Fixed(const std::string& path) {
  return [path](const ScratchDir&) { return path; };
}

struct WriteFailureCase {
  const char* what;
  FromDir input;
  FromDir output;
  std::optional<std::uint64_t> file_size;
  FromDir printed;                             // before the final "write failed" line
  std::optional<TSystem> only = std::nullopt;  // the one system it means something on

  friend void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.what; }
};

std::vector<WriteFailureCase> WriteFailureCases() {
  const FromDir every_piece = Fixed(msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed);
  return {
      {"missing directory",
       Named("big.xml"),
       Named("no/such/dir.bin"),
       {},
       [](const ScratchDir& dir) { return msg::CannotCreate(dir / "no/such/dir.bin"); }},
      {"directory",
       Named("big.xml"),
       [](const ScratchDir& dir) { return dir.path().string(); },
       {},
       [](const ScratchDir& dir) { return msg::CannotCreate(dir.path().string()); }},
      // Devices that fail and file size limits are POSIX's.
      {"full device", Named("big.xml"), Fixed("/dev/full"), {}, every_piece, TSystem::kPosix},
      // The count is still in stdio's buffer when the limit strikes, so the
      // failure shows from the frame table on.
      {"limit in the count", Named("big.xml"), Named("out.bin"), 2, every_piece, TSystem::kPosix},
      {"limit in the frame table", Named("big.xml"), Named("out.bin"), 50'000, every_piece,
       TSystem::kPosix},
      {"limit in the texture table", Named("big.xml"), Named("out.bin"), 100'000,
       Fixed(msg::kTextureFailed + msg::kPaletteFailed), TSystem::kPosix},
      {"limit in the palette table", Named("big.xml"), Named("out.bin"), 150'000,
       Fixed(msg::kPaletteFailed), TSystem::kPosix},
      // A small file fails only when it is closed: no piece to name.
      {"small file under a limit", Fixed(kData + "/two_steps.xml"), Named("out.bin"), 2, Fixed(""),
       TSystem::kPosix},
      {"small file on a full device",
       Fixed(kData + "/two_steps.xml"),
       Fixed("/dev/full"),
       {},
       Fixed(""),
       TSystem::kPosix},
      // A document given as its own output.
      {"the document as its own output", Named("same.xml"), Named("same.xml"), 50'000, every_piece,
       TSystem::kPosix},
      {"ulimit -f 100 and a 100,000-step table", Named("huge.xml"), Named("out.bin"), 102'400,
       every_piece, TSystem::kPosix},
      // Root may write any file on POSIX systems; a read-only file is
      // read-only to everyone on Windows.
      {"read-only file",
       Named("big.xml"),
       Named("read-only.bin"),
       {},
       [](const ScratchDir& dir) { return msg::CannotCreate(dir / "read-only.bin"); },
       TSystem::kWindows},
      // A path that names no file cannot be created, like any other.
      {"empty path", Named("big.xml"), Fixed(""), {}, Fixed(msg::CannotCreate(""))},
  };
}

class CliWriteFailureTest : public ::testing::TestWithParam<WriteFailureCase> {
 protected:
  ScratchDir dir;
};

TEST_P(CliWriteFailureTest, ReportsEachPieceAndLeavesWhatThePathHeld) {
  const WriteFailureCase& c = GetParam();
  if (c.only && *c.only != morv::test::kSystem) GTEST_SKIP() << "a row of the other system";
  // 40,000 steps: 4 + 80,000 + 40,000 + 40,000 bytes, more than stdio
  // buffers, so the writing fails inside the piece the limit falls in.
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);
  // 100,000 steps, 400,004 bytes, under `ulimit -f 100` (102,400 bytes).
  WriteStepsDocument(dir / "huge.xml", 100000);
  const std::string out = dir / "out.bin";
  const std::string same = dir / "same.xml";
  const std::string document = ReadFile(big);
  WriteFile(out, kSentinel);
  WriteFile(same, document);
  if (morv::test::kSystem == TSystem::kWindows) {
    WriteFile(dir / "read-only.bin", kSentinel);
    std::filesystem::permissions(morv::test::FsPath(dir / "read-only.bin"),
                                 std::filesystem::perms::owner_read);
  }
  morv::test::ProcessLimits limits;
  limits.file_size = c.file_size;
  const auto result = RunConverter({c.input(dir), c.output(dir)}, limits);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, c.printed(dir) + msg::kWriteFailed);
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
  const std::string small = kData + "/two_steps.xml";
  std::string frames;
  for (int i = 0; i < 200'000; ++i) frames += std::to_string(i % 60000) + " ";
  const std::string big = dir / "big.xml";
  WriteFile(big, "<r><body><d><frame_idx size='200000'>" + frames +
                     "</frame_idx><image_idx size='200000'>" + frames +
                     "</image_idx><palette_idx size='200000'>" + frames +
                     "</palette_idx></d></body></r>");
  const std::string out = dir / "out.bin";
  RunConverter({big, out});
  const std::string big_table = ReadFile(out);
  const std::string small_table = ReadFile(kData + "/two_steps.bin");
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
  morv::test::ProcessLimits limits;
  limits.stdout_closed = true;
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 1},
      {{kData + "/missing.xml", dir / "out.bin"}, 1},
      {{kData + "/short_list.xml", dir / "out.bin"}, 1},
      {{kData + "/two_steps.xml", dir.path().string()}, 1},
      {{kData + "/two_steps.xml", dir / "out.bin"}, 0},
  };
  for (const auto& c : cases) {
    const auto result = RunConverter(c.args, limits);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, c.status);
  }
}

TEST_F(CliTest, TraceExplainsAFailedReadOnStandardError) {
  const std::string document = kData + "/count_mismatch.xml";
  morv::test::ProcessLimits limits;
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
