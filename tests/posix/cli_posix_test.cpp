// The built morv_conv as a process, on what only POSIX systems have: signals
// at known points of writing the output (followed with ptrace), unnamed
// temporary files, other users' files in sticky directories.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using morv::test::kSentinel;
using morv::test::Leftovers;
using morv::test::NameRowByWhat;
using morv::test::ReadFile;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::WriteFile;
using morv::test::WriteStepsDocument;
namespace msg = morv::test::msg;

const std::string kData = MORV_TEST_DATA_DIR;

class CliTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

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
  const bool unnamed = morv::test::MakesUnnamedFiles(dir.path());
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

}  // namespace
