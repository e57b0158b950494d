// The built morv_conv, run as a process: documents in tests/data/ with the
// table bytes, messages and exit statuses they must produce.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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
using morv::test::NameRowByWhat;
using morv::test::ReadFile;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::WriteFile;
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

TEST_F(CliTest, JapaneseInputAndOutputPathsArePrintedAndOpenedByTheirBytes) {
  const std::string in = dir / "入力.xml";
  const std::string out = dir / morv::test::Encode("出力.bin");  // raw Shift_JIS bytes
  WriteFile(in, ReadFile(kData + "/two_steps.xml"));
  auto result = RunConverter({in, out});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(out), ReadFile(kData + "/two_steps.bin"));

  const std::string missing = dir / "無い.xml";
  result = RunConverter({missing, out});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, msg::ReadFailed(missing));
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
  std::optional<rlim_t> file_size;
  FromDir printed;  // before the final "write failed" line

  friend void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.what; }
};

// Names in the directory other than the given ones: temporary files left behind.
std::vector<std::string> Leftovers(const std::filesystem::path& dir,
                                   const std::vector<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) names.push_back(name);
  }
  return names;
}

// Writes a document of `steps` pattern steps to `path`: frame i, texture and
// palette i % 3.
void WriteStepsDocument(const std::string& path, int steps) {
  std::string frames, textures;
  for (int i = 0; i < steps; ++i) {
    frames += std::to_string(i) + " ";
    textures += std::to_string(i % 3) + " ";
  }
  const std::string n = std::to_string(steps);
  WriteFile(path, "<r><body><d><frame_idx size='" + n + "'>" + frames +
                      "</frame_idx><image_idx size='" + n + "'>" + textures +
                      "</image_idx><palette_idx size='" + n + "'>" + textures +
                      "</palette_idx></d></body></r>");
}

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
      {"full device", Named("big.xml"), Fixed("/dev/full"), {}, every_piece},
      // The count is still in stdio's buffer when the limit strikes, so the
      // failure shows from the frame table on.
      {"limit in the count", Named("big.xml"), Named("out.bin"), 2, every_piece},
      {"limit in the frame table", Named("big.xml"), Named("out.bin"), 50'000, every_piece},
      {"limit in the texture table", Named("big.xml"), Named("out.bin"), 100'000,
       Fixed(msg::kTextureFailed + msg::kPaletteFailed)},
      {"limit in the palette table", Named("big.xml"), Named("out.bin"), 150'000,
       Fixed(msg::kPaletteFailed)},
      // A small file fails only when it is closed: no piece to name.
      {"small file under a limit", Fixed(kData + "/two_steps.xml"), Named("out.bin"), 2, Fixed("")},
      {"small file on a full device",
       Fixed(kData + "/two_steps.xml"),
       Fixed("/dev/full"),
       {},
       Fixed("")},
      // A document given as its own output.
      {"the document as its own output", Named("same.xml"), Named("same.xml"), 50'000, every_piece},
      {"ulimit -f 100 and a 100,000-step table", Named("huge.xml"), Named("out.bin"), 102'400,
       every_piece},
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
  morv::test::ProcessLimits limits;
  limits.file_size = c.file_size;
  const auto result = RunConverter({c.input(dir), c.output(dir)}, limits);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, c.printed(dir) + msg::kWriteFailed);
  // Nothing of the failed table is left, at the path or beside it.
  EXPECT_EQ(ReadFile(out), kSentinel);
  EXPECT_EQ(ReadFile(same), document);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(Leftovers(dir.path(), {"big.xml", "huge.xml", "out.bin", "same.xml"}),
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

// Whether the file system holding `directory` makes unnamed files.
bool MakesUnnamedFiles(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The system calls that write a file, and those that give a file a name.
const std::vector<long> kWriteCalls = {SYS_write, SYS_writev, SYS_pwrite64};
const std::vector<long> kNamingCalls = {
#ifdef SYS_link
    SYS_link,
#endif
#ifdef SYS_rename
    SYS_rename,
#endif
    SYS_linkat, SYS_renameat, SYS_renameat2};

enum class At {
  kWriting,  // the first write into the output's directory
  kNaming,   // the first link or rename: the table is whole
};

struct SignalCase {
  const char* what;
  int signal;
  At at;
  bool existing;        // the output holds an older file
  bool replaced;        // the output holds the new table afterwards
  bool ends_by_signal;  // false: the run goes on to status 0
  bool needs_unnamed;   // a named temporary file cannot outlive SIGKILL

  friend void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.what; }
};

const SignalCase kSignalCases[] = {
    {"SIGTERM while writing", SIGTERM, At::kWriting, true, false, true, false},
    {"SIGINT while writing", SIGINT, At::kWriting, true, false, true, false},
    {"SIGHUP while writing", SIGHUP, At::kWriting, true, false, true, false},
    {"SIGTERM while writing a new file", SIGTERM, At::kWriting, false, false, true, false},
    {"SIGKILL while writing", SIGKILL, At::kWriting, true, false, true, true},
    {"SIGKILL while writing a new file", SIGKILL, At::kWriting, false, false, true, true},
    {"SIGXFSZ while writing is ignored", SIGXFSZ, At::kWriting, true, true, false, false},
    {"SIGTERM as the table is put in place", SIGTERM, At::kNaming, true, true, true, false},
    {"SIGHUP as a new file is put in place", SIGHUP, At::kNaming, false, true, true, false},
    {"SIGKILL as the table is named", SIGKILL, At::kNaming, true, false, true, true},
    {"SIGKILL as a new file is named", SIGKILL, At::kNaming, false, false, true, true},
};

class CliSignalTest : public ::testing::TestWithParam<SignalCase> {
 protected:
  ScratchDir dir;
};

TEST_P(CliSignalTest, LeavesTheOldFileOrTheWholeNewTable) {
  const SignalCase& c = GetParam();
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);  // written in many pieces
  const std::string out = dir / "out.bin";
  ASSERT_EQ(RunConverter({big, out}).status, 0);
  const std::string table = ReadFile(out);
  const bool unnamed = MakesUnnamedFiles(dir.path().string());
  if (c.needs_unnamed && !unnamed) {
    GTEST_SKIP() << "the file system makes no unnamed files";
  }
  if (c.existing) {
    WriteFile(out, kSentinel);
  } else {
    std::filesystem::remove(out);
  }
  std::vector<std::string> named_at_stop;
  morv::test::ProcessLimits limits;
  limits.interruption = morv::test::Interruption{
      c.at == At::kWriting ? kWriteCalls : kNamingCalls,
      c.at == At::kWriting ? std::filesystem::canonical(dir.path()).string() : "", c.signal, [&] {
        named_at_stop = Leftovers(dir.path(), {"big.xml", "out.bin"});
      }};
  const auto result = morv::test::Run({MORV_CONV_PATH, big, out}, limits);
  if (result.tracing_refused) GTEST_SKIP() << "the system does not let the test trace a program";
  ASSERT_TRUE(result.interrupted) << "status " << result.status;
  if (c.ends_by_signal) {
    EXPECT_EQ(result.signal, c.signal);
  } else {
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_EQ(result.out, "");
  // Where the file system makes unnamed files, the table has no name
  // while it is written.
  if (unnamed && c.at == At::kWriting) {
    EXPECT_EQ(named_at_stop, std::vector<std::string>{});
  }
  if (c.replaced) {
    EXPECT_TRUE(ReadFile(out) == table) << "not the new table";
  } else if (c.existing) {
    EXPECT_EQ(ReadFile(out), kSentinel);
  } else {
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(Leftovers(dir.path(), {"big.xml", "out.bin"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(WhileWriting, CliSignalTest, ::testing::ValuesIn(kSignalCases),
                         NameRowByWhat());

struct StickyCase {
  const char* what;
  bool owned_by_user;  // the output's owner: the user, else root; the group is the user's
  mode_t mode;
  bool in_place;  // the same file takes the table (else a new file replaces it)
  bool refused;   // the user may not write the output

  friend void PrintTo(const StickyCase& c, std::ostream* os) { *os << c.what; }
};

const StickyCase kStickyCases[] = {
    {"another user's world-writable file", false, 0666, true, false},
    {"another user's file the user's group may write", false, 0660, true, false},
    {"the user's own file is replaced", true, 0640, false, false},
    {"another user's file the user may not write", false, 0644, false, true},
};

class CliStickyTest : public ::testing::TestWithParam<StickyCase> {
 protected:
  ScratchDir dir;
};

// An output in a sticky directory like /tmp that the user may write but not
// replace is written in place.
TEST_P(CliStickyTest, AnOutputIsReplacedOrWrittenInPlace) {
  const StickyCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the converter as another user";
  const passwd* const nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user named nobody";
  const uid_t user = nobody->pw_uid;
  const gid_t group = nobody->pw_gid;
  // A sticky directory like /tmp, owned by root, inside a scratch directory
  // the user may pass through.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
  const std::string sticky = dir / "sticky";
  ASSERT_EQ(::mkdir(sticky.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
  const std::string in = sticky + "/in.xml";
  WriteFile(in, ReadFile(kData + "/two_steps.xml"));
  ASSERT_EQ(::chmod(in.c_str(), 0644), 0);
  const std::string out = sticky + "/out.bin";
  const std::string table = ReadFile(kData + "/two_steps.bin");
  const uid_t owner = c.owned_by_user ? user : 0;
  const std::string printed = c.refused ? msg::CannotCreate(out) + msg::kWriteFailed : "";

  WriteFile(out, kSentinel);
  ASSERT_EQ(::chown(out.c_str(), owner, group), 0);
  ASSERT_EQ(::chmod(out.c_str(), c.mode), 0);
  struct stat before {};
  ASSERT_EQ(::stat(out.c_str(), &before), 0);

  morv::test::ProcessLimits limits;
  limits.user = {user, group};
  const auto result = RunConverter({in, out}, limits);
  EXPECT_EQ(result.out, printed);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  if (printed.empty()) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(out), table);
  } else {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ReadFile(out), kSentinel);
  }
  EXPECT_EQ(after.st_ino == before.st_ino, c.in_place || !printed.empty());
  EXPECT_EQ(after.st_uid, owner);
  EXPECT_EQ(after.st_mode & 07777, c.mode);
  EXPECT_EQ(Leftovers(sticky, {"in.xml", "out.bin"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(StickyDirectory, CliStickyTest, ::testing::ValuesIn(kStickyCases),
                         NameRowByWhat());

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
