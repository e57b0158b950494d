// The built morv_conv as a process, on what only POSIX systems have: signals
// at known points of writing the output (followed with ptrace), unnamed
// temporary files, other users' files in sticky directories.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using morv::test::Leftovers;
using morv::test::ReadFile;
using morv::test::RunConverter;
using morv::test::ScratchDir;
using morv::test::WriteFile;
using morv::test::WriteStepsDocument;
namespace msg = morv::test::msg;

const std::string kData = MORV_TEST_DATA_DIR;
const std::string kSentinel = "an older table file that must stay as it is";

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

TEST_F(CliTest, SignalsWhileWritingLeaveTheOldFileOrTheWholeNewTable) {
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);  // written in many pieces
  const std::string out = dir / "out.bin";
  ASSERT_EQ(RunConverter({big, out}).status, 0);
  const std::string table = ReadFile(out);
  const bool unnamed = morv::test::MakesUnnamedFiles(dir.path());

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

}  // namespace
