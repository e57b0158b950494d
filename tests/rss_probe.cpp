// rss_probe <report file> <program> [args...]
//
// Runs the program as its own child and writes the child's peak resident
// memory (KiB) to the report file. A program started straight from a large
// test process would count that process's pages as its own; started from
// this small one, its peak is its own. Ends as the program ended: the same
// exit status, or the same signal.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc < 3) return 125;
  const pid_t child = ::fork();
  if (child < 0) return 126;
  if (child == 0) {
    ::execv(argv[2], argv + 2);
    ::_exit(127);
  }
  // Under a file-size limit the report may not fit: it is then not written,
  // and the probe still ends as the program did.
  ::signal(SIGXFSZ, SIG_IGN);
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) < 0) return 126;
  if (std::FILE* report = std::fopen(argv[1], "w")) {
    std::fprintf(report, "%ld\n", usage.ru_maxrss);
    std::fclose(report);
  }
  if (WIFSIGNALED(status)) {
    ::signal(WTERMSIG(status), SIG_DFL);
    ::raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
