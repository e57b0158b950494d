// The test support's POSIX side: encoding through iconv, and child processes
// through fork and exec.

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"

namespace morv::test {

const TSystem kSystem = TSystem::kPosix;

std::string ConsoleText(const std::string& text) { return text; }

std::string Encode(const std::string& utf8, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter");
  std::string out(utf8.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* dest = out.data();
  size_t dest_left = out.size();
  const size_t done = iconv(cd, &in, &in_left, &dest, &dest_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) throw std::runtime_error("cannot encode " + utf8);
  out.resize(out.size() - dest_left);
  return out;
}

namespace {

// The exit status of a child that the test may not trace.
constexpr int kTracingRefused = 126;

void SetLimit(int resource, std::uint64_t value) {
  const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  ::setrlimit(resource, &limit);
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const ProcessLimits& limits,
                            int out_fd, int err_fd) {
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  // The program starts as from a fresh shell, whatever the test process
  // ignores or blocks: every signal has its default action and none waits.
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    ::signal(signal_number, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // As a shell's `ulimit -f` sets it: a write past the limit raises SIGXFSZ,
  // whose default action ends the program unless it ignores the signal.
  if (limits.file_size) SetLimit(RLIMIT_FSIZE, *limits.file_size);
  if (limits.cpu_seconds) SetLimit(RLIMIT_CPU, *limits.cpu_seconds);
  for (const std::string& entry : limits.environment) ::putenv(const_cast<char*>(entry.c_str()));
  if (limits.user) {
    const gid_t group = static_cast<gid_t>(limits.user->second);
    if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 ||
        ::setuid(static_cast<uid_t>(limits.user->first)) != 0) {
      ::_exit(127);
    }
  }
  if (limits.interruption && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
    ::_exit(kTracingRefused);
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

// Whether `fd` of process `pid` is a file in `directory` (always, for an
// empty directory); a file without a name still shows the directory.
bool DescriptorIn(pid_t pid, unsigned long long fd, const std::string& directory) {
  if (directory.empty()) return true;
  std::array<char, 4096> target{};
  const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length <= 0) return false;
  return std::string(target.data(), static_cast<std::size_t>(length)).rfind(directory + "/", 0) ==
         0;
}

// Follows the traced child's system calls up to the interruption's point,
// holds it there, sends the signal and lets it go. The child's wait status
// when it ended before that point (or could not be traced).
std::optional<int> Interrupt(pid_t pid, const Interruption& at, ProcessResult& result) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
  if (!WIFSTOPPED(status)) {  // it never reached exec
    result.tracing_refused = WIFEXITED(status) && WEXITSTATUS(status) == kTracingRefused;
    return status;
  }
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
  long pass_on = 0;  // a signal the child received, delivered as it goes on
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, pass_on);
    pass_on = 0;
    if (::waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
    if (!WIFSTOPPED(status)) return status;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      pass_on = WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY ||
        std::find(at.syscalls.begin(), at.syscalls.end(), static_cast<long>(info.entry.nr)) ==
            at.syscalls.end() ||
        !DescriptorIn(pid, info.entry.args[0], at.descriptor_in)) {
      continue;
    }
    result.interrupted = true;
    if (at.at_stop) at.at_stop();
    ::kill(pid, at.signal);
    ::ptrace(PTRACE_DETACH, pid, nullptr, 0);
    return std::nullopt;
  }
}

}  // namespace

ProcessResult Run(const std::vector<std::string>& argv, const ProcessLimits& limits) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // Nobody reads a closed standard output, from the child's first write on.
  if (limits.stdout_closed) out_pipe[0] = (::close(out_pipe[0]), -1);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) ExecChild(argv, limits, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  ProcessResult result;
  std::optional<int> ended;  // the wait status, once the child is reaped
  if (limits.interruption) ended = Interrupt(pid, *limits.interruption, result);
  std::array<pollfd, 2> fds{{{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open_fds = 2;
  if (limits.stdout_closed) --open_fds;
  const auto deadline = start + std::chrono::duration<double>(limits.wall_seconds.value_or(1e9));
  char buffer[65536];
  while (open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);  // its pipes close when it is gone
    }
    const int wait_ms = static_cast<int>(std::clamp<long long>(left.count(), 10, 1000));
    if (::poll(fds.data(), fds.size(), wait_ms) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int wait_status = ended.value_or(0);
  rusage usage{};
  if (!ended) ::wait4(pid, &wait_status, 0, &usage);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
  return result;
}

ProcessResult RunConverter(const std::vector<std::string>& args, const ProcessLimits& limits) {
  // Through the probe, so that the peak memory is the converter's own.
  std::string report = (std::filesystem::temp_directory_path() / "morv_rss_XXXXXX").string();
  const int fd = ::mkstemp(report.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  std::vector<std::string> argv{MORV_RSS_PROBE_PATH, report, MORV_CONV_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult result = Run(argv, limits);
  std::istringstream(ReadFile(report)) >> result.max_rss_kib;
  std::filesystem::remove(report);
  return result;
}

bool MakesUnnamedFiles(const std::filesystem::path& directory) {
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

LoopbackListener::LoopbackListener()
    : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
  const int fd = static_cast<int>(socket_);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on the loopback interface");
  }
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() { ::close(static_cast<int>(socket_)); }

bool LoopbackListener::WasReached() const {
  const int connection = ::accept(static_cast<int>(socket_), nullptr, nullptr);
  if (connection >= 0) ::close(connection);
  return connection >= 0 || errno != EAGAIN;
}

NamedPipe::NamedPipe(const std::string& fifo_path, std::optional<std::string> content, bool endless)
    : path_(fifo_path) {
  if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path_);
  if (content) {
    // The feeder writes into a FIFO whose reader goes.
    ::signal(SIGPIPE, SIG_IGN);
    feeder_ = std::thread([this, text = *content, endless] { Feed(text, endless); });
  }
}

NamedPipe::~NamedPipe() {
  stop_ = true;
  if (feeder_.joinable()) feeder_.join();
}

void NamedPipe::Feed(const std::string& content, bool endless) {
  int fd = -1;
  while (!stop_ && (fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no reader yet
  }
  if (fd < 0) return;
  ::fcntl(fd, F_SETFL, 0);
  const std::string spaces(1 << 16, ' ');
  bool open = true;
  for (std::size_t done = 0; open && done < content.size() && !stop_;) {
    const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
    open = wrote > 0;
    if (open) done += static_cast<std::size_t>(wrote);
  }
  while (endless && open && !stop_) open = ::write(fd, spaces.data(), spaces.size()) > 0;
  ::close(fd);
}

}  // namespace morv::test
