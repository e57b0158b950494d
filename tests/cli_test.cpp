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
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using morv::test::ReadFile;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::WriteFile;
namespace msg = morv::test::msg;

const std::string kData = MORV_TEST_DATA_DIR;
const std::string kSentinel = "an older table file that must stay as it is";

class CliTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

struct DocumentCase {
  std::string document;  // in tests/data/ (or the examples)
  std::string table;     // the table file it must produce; empty: refused
  std::string printed;   // for a refused document, after the input path
  int status;
};

TEST_F(CliTest, ConvertsDocumentsOrRefusesThemLeavingTheOutputAlone) {
  const DocumentCase cases[] = {
      {kData + "/two_steps.xml", kData + "/two_steps.bin", "", 0},
      {kData + "/size_zero.xml", kData + "/size_zero.bin", "", 0},
      {kData + "/longer_lists.xml", kData + "/longer_lists.bin", "", 0},
      {kData + "/truncation.xml", kData + "/truncation.bin", "", 0},
      {kData + "/no_body.xml", kData + "/no_body.bin", "", 0},
      {kData + "/encoding_sjis.xml", kData + "/encoding.bin", "", 0},
      {kData + "/encoding_utf8.xml", kData + "/encoding.bin", "", 0},
      {kData + "/encoding_utf16.xml", kData + "/encoding.bin", "", 0},
      {std::string(MORV_EXAMPLES_DIR) + "/blink.xml",
       std::string(MORV_EXAMPLES_DIR) + "/blink.expected.bin", "", 0},
      {kData + "/short_list.xml", "", msg::kConvertFailed, 1},
      {kData + "/size_minus_one.xml", "", msg::kConvertFailed, 1},
      {kData + "/huge_size.xml", "", msg::kConvertFailed, 1},
      {kData + "/count_mismatch.xml", "", "read", 1},
      {kData + "/truncated.xml", "", "read", 1},
      {kData + "/missing.xml", "", "read", 1},
      {kData, "", "read", 1},
  };
  for (const DocumentCase& c : cases) {
    SCOPED_TRACE(c.document);
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
}

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

struct WriteFailureCase {
  const char* what;
  std::string input;
  std::string output;
  std::optional<rlim_t> file_size;
  std::string printed;  // before the final "write failed" line
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

TEST_F(CliTest, AFailedWriteReportsEachPieceAndLeavesWhatThePathHeld) {
  // 40,000 steps: 4 + 80,000 + 40,000 + 40,000 bytes, more than stdio
  // buffers, so the writing fails inside the piece the limit falls in.
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);
  // 100,000 steps, 400,004 bytes, under `ulimit -f 100` (102,400 bytes).
  const std::string huge = dir / "huge.xml";
  WriteStepsDocument(huge, 100000);
  const std::string out = dir / "out.bin";
  const std::string same = dir / "same.xml";  // a document given as its own output
  const WriteFailureCase cases[] = {
      {"missing directory",
       big,
       dir / "no/such/dir.bin",
       {},
       msg::CannotCreate(dir / "no/such/dir.bin")},
      {"directory", big, dir.path().string(), {}, msg::CannotCreate(dir.path().string())},
      {"full device",
       big,
       "/dev/full",
       {},
       msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed},
      // The count is still in stdio's buffer when the limit strikes, so the
      // failure shows from the frame table on.
      {"limit in the count", big, out, 2,
       msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed},
      {"limit in the frame table", big, out, 50'000,
       msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed},
      {"limit in the texture table", big, out, 100'000, msg::kTextureFailed + msg::kPaletteFailed},
      {"limit in the palette table", big, out, 150'000, msg::kPaletteFailed},
      // A small file fails only when it is closed: no piece to name.
      {"small file under a limit", kData + "/two_steps.xml", out, 2, ""},
      {"small file on a full device", kData + "/two_steps.xml", "/dev/full", {}, ""},
      {"the document as its own output", same, same, 50'000,
       msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed},
      {"ulimit -f 100 and a 100,000-step table", huge, out, 102'400,
       msg::kFrameFailed + msg::kTextureFailed + msg::kPaletteFailed},
      // A path that names no file cannot be created, like any other.
      {"empty path", big, "", {}, msg::CannotCreate("")},
  };
  const std::string document = ReadFile(big);
  for (const WriteFailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(out, kSentinel);
    WriteFile(same, document);
    morv::test::ProcessLimits limits;
    limits.file_size = c.file_size;
    const auto result = RunConverter({c.input, c.output}, limits);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, c.printed + msg::kWriteFailed);
    // Nothing of the failed table is left, at the path or beside it.
    EXPECT_EQ(ReadFile(out), kSentinel);
    EXPECT_EQ(ReadFile(same), document);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(Leftovers(dir.path(), {"big.xml", "huge.xml", "out.bin", "same.xml"}),
              std::vector<std::string>{});
  }
}

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

TEST_F(CliTest, SignalsWhileWritingLeaveTheOldFileOrTheWholeNewTable) {
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);  // written in many pieces
  const std::string out = dir / "out.bin";
  ASSERT_EQ(RunConverter({big, out}).status, 0);
  const std::string table = ReadFile(out);
  const bool unnamed = MakesUnnamedFiles(dir.path().string());

  enum class At {
    kWriting,  // the first write into the output's directory
    kNaming,   // the first link or rename: the table is whole
  };
  const struct {
    const char* what;
    int signal;
    At at;
    bool existing;        // the output holds an older file
    bool replaced;        // the output holds the new table afterwards
    bool ends_by_signal;  // false: the run goes on to status 0
    bool needs_unnamed;   // a named temporary file cannot outlive SIGKILL
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_unnamed && !unnamed) {
      std::cout << "row skipped, the file system makes no unnamed files: " << c.what << "\n";
      continue;
    }
    for (const std::string& name : Leftovers(dir.path(), {"big.xml", "out.bin"})) {
      std::filesystem::remove(dir / name);  // of a row that failed before
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
}

TEST_F(CliTest, AWritableFileThatMayNotBeReplacedIsWrittenInPlace) {
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

  const struct {
    const char* what;
    uid_t owner;  // of the output, with the user's group
    mode_t mode;
    bool in_place;  // the same file takes the table (else a new file replaces it)
    std::string printed;
  } cases[] = {
      {"another user's world-writable file", 0, 0666, true, ""},
      {"another user's file the user's group may write", 0, 0660, true, ""},
      {"the user's own file is replaced", user, 0640, false, ""},
      {"another user's file the user may not write", 0, 0644, false,
       msg::CannotCreate(out) + msg::kWriteFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(out);
    WriteFile(out, kSentinel);
    ASSERT_EQ(::chown(out.c_str(), c.owner, group), 0);
    ASSERT_EQ(::chmod(out.c_str(), c.mode), 0);
    struct stat before {};
    ASSERT_EQ(::stat(out.c_str(), &before), 0);

    morv::test::ProcessLimits limits;
    limits.user = {user, group};
    const auto result = RunConverter({in, out}, limits);
    EXPECT_EQ(result.out, c.printed);
    struct stat after {};
    ASSERT_EQ(::stat(out.c_str(), &after), 0);
    if (c.printed.empty()) {
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(ReadFile(out), table);
    } else {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(ReadFile(out), kSentinel);
    }
    EXPECT_EQ(after.st_ino == before.st_ino, c.in_place || !c.printed.empty());
    EXPECT_EQ(after.st_uid, c.owner);
    EXPECT_EQ(after.st_mode & 07777, c.mode);
    EXPECT_EQ(Leftovers(sticky, {"in.xml", "out.bin"}), std::vector<std::string>{});
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
