// The built morv_conv as a process, on what only POSIX systems have: signals
// at known points of writing the output (followed with ptrace), unnamed
// temporary files, other users' files in sticky directories.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace morv::test {
namespace {

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
  const char* what = "";
  int signal = 0;
  At at = At::kWriting;
  bool new_file = false;  // the output holds no older file
  bool replaced = false;  // the output holds the new table afterwards
  bool goes_on = false;   // the run goes on to status 0, rather than ending by the signal
};

const SignalCase kSignalCases[] = {
    {.what = "SIGTERM while writing", .signal = SIGTERM},
    {.what = "SIGINT while writing", .signal = SIGINT},
    {.what = "SIGHUP while writing", .signal = SIGHUP},
    {.what = "SIGTERM while writing a new file", .signal = SIGTERM, .new_file = true},
    {.what = "SIGKILL while writing", .signal = SIGKILL},
    {.what = "SIGKILL while writing a new file", .signal = SIGKILL, .new_file = true},
    {.what = "SIGQUIT while writing", .signal = SIGQUIT},
    {.what = "SIGUSR1 while writing", .signal = SIGUSR1},
    {.what = "SIGALRM while writing a new file", .signal = SIGALRM, .new_file = true},
    {.what = "SIGXCPU while writing", .signal = SIGXCPU},
    {.what = "SIGXFSZ while writing is ignored",
     .signal = SIGXFSZ,
     .replaced = true,
     .goes_on = true},
    {.what = "SIGTERM as the table is put in place",
     .signal = SIGTERM,
     .at = At::kNaming,
     .replaced = true},
    {.what = "SIGHUP as a new file is put in place",
     .signal = SIGHUP,
     .at = At::kNaming,
     .new_file = true,
     .replaced = true},
    {.what = "SIGKILL as the table is named", .signal = SIGKILL, .at = At::kNaming},
    {.what = "SIGKILL as a new file is named",
     .signal = SIGKILL,
     .at = At::kNaming,
     .new_file = true},
};

using CliSignalTest = ScratchRowTest<SignalCase>;

TEST_P(CliSignalTest, LeavesTheOldFileOrTheWholeNewTable) {
  const SignalCase& c = GetParam();
  const std::string big = dir / "big.xml";
  WriteStepsDocument(big, 40000);  // written in many pieces
  const std::string out = dir / "out.bin";
  ASSERT_EQ(RunConverter({big, out}).status, 0);
  const std::string table = ReadFile(out);
  // A named temporary file cannot outlive SIGKILL.
  const bool unnamed = MakesUnnamedFiles(dir.path());
  if (c.signal == SIGKILL && !unnamed) {
    GTEST_SKIP() << "the file system makes no unnamed files";
  }
  if (c.new_file) {
    std::filesystem::remove(out);
  } else {
    WriteFile(out, kSentinel);
  }
  std::vector<std::string> named_at_stop;
  ProcessLimits limits;
  limits.interruption = Interruption{
      c.at == At::kWriting ? kWriteCalls : kNamingCalls,
      c.at == At::kWriting ? std::filesystem::canonical(dir.path()).string() : "", c.signal, [&] {
        named_at_stop = Leftovers(dir.path(), {"big.xml", "out.bin"});
      }};
  const auto result = morv::test::Run({MORV_CONV_PATH, big, out}, limits);
  if (result.tracing_refused) GTEST_SKIP() << "the system does not let the test trace a program";
  ASSERT_TRUE(result.interrupted) << "status " << result.status;
  if (c.goes_on) {
    EXPECT_EQ(result.status, 0);
  } else {
    EXPECT_EQ(result.signal, c.signal);
  }
  EXPECT_EQ(result.out, "");
  // Where the file system makes unnamed files, the table has no name
  // while it is written.
  if (unnamed && c.at == At::kWriting) {
    EXPECT_EQ(named_at_stop, std::vector<std::string>{});
  }
  if (c.replaced) {
    EXPECT_TRUE(ReadFile(out) == table) << "not the new table";
  } else if (c.new_file) {
    EXPECT_FALSE(std::filesystem::exists(out));
  } else {
    EXPECT_EQ(ReadFile(out), kSentinel);
  }
  EXPECT_EQ(Leftovers(dir.path(), {"big.xml", "out.bin"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(WhileWriting, CliSignalTest, ::testing::ValuesIn(kSignalCases),
                         NameRowByWhat());

// How a run that writes another user's file ends.
enum class Written {
  kReplaced,      // a new file takes the path
  kInPlace,       // the same file takes the table
  kCannotCreate,  // refused at once: the file stays as it was
  kNotWritten,    // refused before the file is touched: it stays as it was
};

struct OtherUserCase {
  const char* what = "";
  bool owned_by_user = false;  // the output's owner: the user, else root; the group is the user's
  mode_t mode = 0666;
  Written written = Written::kInPlace;
  mode_t directory_mode = 01777;  // like /tmp; 0755: the user may not make files there
  bool own_output = false;        // the document itself is the output
  std::optional<std::uint64_t> file_size = std::nullopt;  // `ulimit -f`, in bytes
  std::uint64_t file_system_kib = 0;  // the directory is a file system this small
  bool by_root = false;               // root runs the converter, not the user
};

// The table of the 100,000-step document takes 400,004 bytes: 98 pages of a
// file system, 640 KiB hold it once but not twice.
const OtherUserCase kOtherUserCases[] = {
    {.what = "another user's world-writable file"},
    {.what = "another user's file the user's group may write", .mode = 0660},
    {.what = "the user's own file is replaced",
     .owned_by_user = true,
     .mode = 0640,
     .written = Written::kReplaced},
    {.what = "another user's file the user may not write",
     .mode = 0644,
     .written = Written::kCannotCreate},
    {.what = "the document as its own output in a directory the user cannot write, under ulimit "
             "-f 100",
     .written = Written::kNotWritten,
     .directory_mode = 0755,
     .own_output = true,
     .file_size = 102'400},
    {.what = "another user's file in a directory the user cannot write, under a file-size limit",
     .written = Written::kNotWritten,
     .directory_mode = 0755,
     .file_size = 400'003},
    {.what = "another user's file in a directory the user cannot write, on a full file system",
     .written = Written::kNotWritten,
     .directory_mode = 0755,
     .file_system_kib = 256},
    {.what = "another user's file in a sticky directory, on a file system too full for two tables",
     .file_system_kib = 640},
    {.what = "the user's file replaced by root keeps its owner and group",
     .owned_by_user = true,
     .mode = 0640,
     .written = Written::kReplaced,
     .by_root = true},
};

using CliOtherUserTest = ScratchRowTest<OtherUserCase>;

// A small file system mounted for a test, gone with it.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& at, std::uint64_t kib) : at_(at) {
    const std::string size = "size=" + std::to_string(kib) + "k";
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, size.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

// An output the user may write but not replace is written in place, and
// only when it can be written whole: the owner, group and mode stay.
TEST_P(CliOtherUserTest, AnOutputIsReplacedOrWrittenInPlaceOrLeftAsItWas) {
  const OtherUserCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the converter as another user";
  const passwd* const nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user named nobody";
  const uid_t user = nobody->pw_uid;
  const gid_t group = nobody->pw_gid;
  ProcessLimits as_user;
  as_user.user = {user, group};
  if (RunConverter({}, as_user).status != 1) {
    GTEST_SKIP() << "nobody cannot run the converter where it was built";
  }
  // The directory, owned by root, inside a scratch directory the user may
  // pass through.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
  const std::string shared = dir / "shared";
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  const SmallFileSystem small(shared, c.file_system_kib);
  if (c.file_system_kib != 0 && !small.Mounted()) {
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  ASSERT_EQ(::chmod(shared.c_str(), c.directory_mode), 0);
  const std::string huge = dir / "huge.xml";
  WriteStepsDocument(huge, 100'000);
  const std::string out = shared + "/out.bin";
  const std::string in = dir / "in.xml";
  WriteFile(in, ReadFile(DataFile("two_steps.xml")));
  ASSERT_EQ(::chmod(in.c_str(), 0644), 0);
  const bool large = c.own_output || c.file_size || c.file_system_kib != 0;
  if (large) {
    ASSERT_EQ(RunConverter({huge, dir / "huge.bin"}).status, 0);
  }
  const std::string table = ReadFile(large ? dir / "huge.bin" : DataFile("two_steps.bin"));
  const std::string old = c.own_output ? ReadFile(huge) : kSentinel;

  WriteFile(out, old);
  ASSERT_EQ(::chown(out.c_str(), c.owned_by_user ? user : 0, group), 0);
  ASSERT_EQ(::chmod(out.c_str(), c.mode), 0);
  struct stat before {};
  ASSERT_EQ(::stat(out.c_str(), &before), 0);

  ProcessLimits limits = c.by_root ? ProcessLimits() : as_user;
  limits.file_size = c.file_size;
  const auto result = RunConverter({c.own_output ? out : (large ? huge : in), out}, limits);
  struct stat after {};
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  switch (c.written) {
    case Written::kReplaced:
    case Written::kInPlace:
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(result.out, "");
      EXPECT_TRUE(ReadFile(out) == table) << "not the new table";
      break;
    case Written::kCannotCreate:
    case Written::kNotWritten:
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, c.written == Written::kCannotCreate
                                ? msg::CannotCreate(out) + msg::kWriteFailed
                                : msg::kWriteFailed);
      EXPECT_TRUE(ReadFile(out) == old) << "the old file changed";
      break;
  }
  EXPECT_EQ(after.st_ino == before.st_ino, c.written != Written::kReplaced);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode & 07777, c.mode);
  EXPECT_EQ(Leftovers(shared, {"out.bin"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(OtherUsersFiles, CliOtherUserTest, ::testing::ValuesIn(kOtherUserCases),
                         NameRowByWhat());

}  // namespace
}  // namespace morv::test
