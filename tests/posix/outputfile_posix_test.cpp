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

namespace {

using morv::test::MakesUnnamedFiles;
using morv::test::ReadFile;
using morv::test::ScratchDir;
using morv::test::Temporaries;
using morv::test::WriteFile;
using Staging = morv::OutputFile::Staging;

// A process ended by a signal while its table is written leaves the old
// file and no temporary file: the unnamed one goes with the process, a
// named one is removed by the signal's handler before the signal ends the
// process as it would have, whichever signal that is.
TEST(OutputFileTest, ASignalEndingTheProcessTakesTheTemporaryFileWithIt) {
  ScratchDir dir;
  const bool unnamed = MakesUnnamedFiles(dir.path());
  const std::string out = dir / "out.bin";
  const struct {
    const char* what;
    Staging staging;
    int signal;
    bool ignored;  // by the process before it prepares for writing
    bool needs_unnamed;
  } cases[] = {
      {"SIGINT, named", Staging::kNamed, SIGINT, false, false},
      {"SIGTERM, named", Staging::kNamed, SIGTERM, false, false},
      {"SIGHUP, named", Staging::kNamed, SIGHUP, false, false},
      {"SIGQUIT, named", Staging::kNamed, SIGQUIT, false, false},
      {"SIGUSR1, named", Staging::kNamed, SIGUSR1, false, false},
      {"SIGUSR2, named", Staging::kNamed, SIGUSR2, false, false},
      {"SIGALRM, named", Staging::kNamed, SIGALRM, false, false},
      {"SIGVTALRM, named", Staging::kNamed, SIGVTALRM, false, false},
      {"SIGPROF, named", Staging::kNamed, SIGPROF, false, false},
      {"SIGXCPU, named", Staging::kNamed, SIGXCPU, false, false},
      {"SIGPWR, named", Staging::kNamed, SIGPWR, false, false},
      {"SIGPOLL, named", Staging::kNamed, SIGPOLL, false, false},
      {"SIGSYS, named", Staging::kNamed, SIGSYS, false, false},
      {"SIGTRAP, named", Staging::kNamed, SIGTRAP, false, false},
      {"SIGSEGV, named", Staging::kNamed, SIGSEGV, false, false},
      {"SIGBUS, named", Staging::kNamed, SIGBUS, false, false},
      {"SIGILL, named", Staging::kNamed, SIGILL, false, false},
      {"SIGFPE, named", Staging::kNamed, SIGFPE, false, false},
      {"SIGABRT, named", Staging::kNamed, SIGABRT, false, false},
      {"the first real-time signal, named", Staging::kNamed, SIGRTMIN, false, false},
      {"the last real-time signal, named", Staging::kNamed, SIGRTMAX, false, false},
      {"SIGHUP ignored stays ignored, named", Staging::kNamed, SIGHUP, true, false},
      {"SIGTERM ignored stays ignored, named", Staging::kNamed, SIGTERM, true, false},
      {"SIGXFSZ is ignored, named", Staging::kNamed, SIGXFSZ, false, false},
      {"SIGTERM, unnamed", Staging::kUnnamed, SIGTERM, false, true},
      {"SIGKILL, unnamed", Staging::kUnnamed, SIGKILL, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_unnamed && !unnamed) continue;
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
      morv::os::PrepareCleanup();
      std::optional<morv::OutputFile> output = morv::OutputFile::Create(out.c_str(), 9, c.staging);
      if (!output || !output->Write("new table", 9)) ::_exit(2);
      const std::size_t named = c.staging == Staging::kNamed ? 1 : 0;
      if (Temporaries(dir.path()).size() != named) ::_exit(3);
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
    EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});
  }
}

}  // namespace
