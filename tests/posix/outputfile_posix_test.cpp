// The output file on what only POSIX systems have: a process ended by a
// signal while its table is written.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "converter/OutputFile.h"
#include "platform/TemporaryCleanup.h"

namespace morv::test {
namespace {

using Staging = OutputFile::Staging;

// A process ended by a signal while its table is written leaves the old
// file and no temporary file: the unnamed one goes with the process, a
// named one is removed by the signal's handler before the signal ends the
// process as it would have, whichever signal that is.
TEST(OutputFileTest, ASignalEndingTheProcessTakesTheTemporaryFileWithIt) {
  ScratchDir dir;
  const bool unnamed = MakesUnnamedFiles(dir.path());
  const std::string out = dir / "out.bin";
  const struct {
    const char* what = "";
    int signal = 0;
    Staging staging = Staging::kNamed;
    bool ignored = false;  // by the process before it prepares for writing
  } cases[] = {
      {"SIGINT, named", SIGINT},
      {"SIGTERM, named", SIGTERM},
      {"SIGHUP, named", SIGHUP},
      {"SIGQUIT, named", SIGQUIT},
      {"SIGUSR1, named", SIGUSR1},
      {"SIGUSR2, named", SIGUSR2},
      {"SIGALRM, named", SIGALRM},
      {"SIGVTALRM, named", SIGVTALRM},
      {"SIGPROF, named", SIGPROF},
      {"SIGXCPU, named", SIGXCPU},
      {"SIGPWR, named", SIGPWR},
      {"SIGPOLL, named", SIGPOLL},
      {"SIGSYS, named", SIGSYS},
      {"SIGTRAP, named", SIGTRAP},
      {"SIGSEGV, named", SIGSEGV},
      {"SIGBUS, named", SIGBUS},
      {"SIGILL, named", SIGILL},
      {"SIGFPE, named", SIGFPE},
      {"SIGABRT, named", SIGABRT},
      {"the first real-time signal, named", SIGRTMIN},
      {"the last real-time signal, named", SIGRTMAX},
      {"SIGHUP ignored stays ignored, named", SIGHUP, Staging::kNamed, true},
      {"SIGTERM ignored stays ignored, named", SIGTERM, Staging::kNamed, true},
      {"SIGXFSZ is ignored, named", SIGXFSZ},
      {"SIGTERM, unnamed", SIGTERM, Staging::kUnnamed},
      {"SIGKILL, unnamed", SIGKILL, Staging::kUnnamed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.staging == Staging::kUnnamed && !unnamed) continue;
    // A signal a sanitizer handles keeps its handler, which ends the process
    // its own way.
    struct sigaction current {};
    ASSERT_EQ(::sigaction(c.signal, nullptr, &current), 0);
    if (current.sa_handler != SIG_DFL) continue;
    WriteFile(out, "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const struct rlimit no_core {};  // the faults would dump one
      ::setrlimit(RLIMIT_CORE, &no_core);
      if (c.ignored) ::signal(c.signal, SIG_IGN);
      os::PrepareCleanup();
      std::optional<OutputFile> output = OutputFile::Create(out.c_str(), 9, c.staging);
      if (!output || !output->Write("new table", 9)) ::_exit(2);
      const std::size_t named = c.staging == Staging::kNamed ? 1 : 0;
      if (Leftovers(dir.path(), {"out.bin"}).size() != named) ::_exit(3);
      ::raise(c.signal);
      ::_exit(output->Keep() ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const bool goes_on = c.ignored || c.signal == SIGXFSZ;
    if (goes_on) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_EQ(ReadFile(out), "new table");
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
      EXPECT_EQ(ReadFile(out), "old");
    }
    EXPECT_EQ(Leftovers(dir.path(), {"out.bin"}), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace morv::test
