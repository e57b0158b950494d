// The test support's POSIX side: encoding through iconv, and child processes
// through fork and exec.

#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

void SetLimit(int resource, std::uint64_t value) {
  const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  ::setrlimit(resource, &limit);
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const ProcessLimits& limits,
                            int out_fd, int err_fd) {
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  if (limits.file_size) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    SetLimit(RLIMIT_FSIZE, *limits.file_size);
  }
  if (limits.cpu_seconds) SetLimit(RLIMIT_CPU, *limits.cpu_seconds);
  for (const std::string& entry : limits.environment) ::putenv(const_cast<char*>(entry.c_str()));
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

}  // namespace

ProcessResult Run(const std::vector<std::string>& argv, const ProcessLimits& limits) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) ExecChild(argv, limits, out_pipe[1], err_pipe[1]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  ProcessResult result;
  std::array<pollfd, 2> fds{{{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open_fds = 2;
  if (limits.stdout_closed) {
    ::close(fds[0].fd);
    fds[0].fd = -1;
    --open_fds;
  }
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
  int wait_status = 0;
  rusage usage{};
  ::wait4(pid, &wait_status, 0, &usage);
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

NamedPipe::NamedPipe(const std::string& fifo_path, std::optional<std::string> endless_head)
    : path_(fifo_path) {
  if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed: " + path_);
  if (endless_head) {
    // The feeder writes into a FIFO whose reader goes.
    ::signal(SIGPIPE, SIG_IGN);
    feeder_ = std::thread([this, head = *endless_head] { Feed(head); });
  }
}

NamedPipe::~NamedPipe() {
  stop_ = true;
  if (feeder_.joinable()) feeder_.join();
}

void NamedPipe::Feed(const std::string& head) {
  int fd = -1;
  while (!stop_ && (fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no reader yet
  }
  if (fd < 0) return;
  ::fcntl(fd, F_SETFL, 0);
  const std::string spaces(1 << 16, ' ');
  bool open = ::write(fd, head.data(), head.size()) > 0;
  while (open && !stop_) open = ::write(fd, spaces.data(), spaces.size()) > 0;
  ::close(fd);
}

}  // namespace morv::test
