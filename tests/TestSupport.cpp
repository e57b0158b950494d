#include "TestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace morv::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morv_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

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

std::string Repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string EntityBombDoctype() {
  std::string doctype = "<!DOCTYPE r [<!ENTITY e0 'lol'>";
  for (int i = 1; i <= 10; ++i) {
    doctype += "<!ENTITY e" + std::to_string(i) + " '" +
               Repeat("&e" + std::to_string(i - 1) + ";", 10) + "'>";
  }
  return doctype + "]>";
}

std::string Entity(const std::string& name, const std::string& text) {
  return "<!ENTITY " + name + " '" + text + "'>";
}

std::string EntityChain(int levels) {
  std::string entities = Entity("e1", "x");
  for (int i = 2; i <= levels; ++i) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict) wrongly on
    // `"&e" + std::to_string(i - 1) + ";"`.
    std::string reference = "&e";
    reference.append(std::to_string(i - 1)).append(";");
    entities += Entity(std::string("e").append(std::to_string(i)), reference);
  }
  return entities;
}

const std::string kSentinel = "an older table file that must stay as it is";

std::string RowName(std::string_view description) {
  std::string name;
  bool word_start = true;
  for (const char c : description) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\'') continue;  // inside a word: "user's" is "Users"
    if (u >= 0x80 || std::isalnum(u) == 0) {
      word_start = true;  // the character ends a word and is dropped
      continue;
    }
    name += word_start ? static_cast<char>(std::toupper(u)) : c;
    word_start = false;
  }
  return name;
}

std::string TableFile(const std::vector<unsigned>& frames, const std::vector<unsigned>& textures,
                      const std::vector<unsigned>& palettes) {
  std::string bytes;
  const auto n = static_cast<unsigned>(frames.size());
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(n >> shift));
  for (const unsigned f : frames) {
    bytes.push_back(static_cast<char>(f & 0xFF));
    bytes.push_back(static_cast<char>((f >> 8) & 0xFF));
  }
  for (const unsigned t : textures) bytes.push_back(static_cast<char>(t & 0xFF));
  for (const unsigned p : palettes) bytes.push_back(static_cast<char>(p & 0xFF));
  return bytes;
}

namespace {

// The exit status of a child that the test may not trace.
constexpr int kTracingRefused = 126;

void SetLimit(int resource, rlim_t value) {
  const rlimit limit{value, value};
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
    const gid_t group = limits.user->second;
    if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(limits.user->first) != 0) {
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

std::unique_ptr<ifp::TXmlPlatform> XmlPlatformTest::platform_;

void XmlPlatformTest::SetUpTestSuite() { platform_ = std::make_unique<ifp::TXmlPlatform>(); }
void XmlPlatformTest::TearDownTestSuite() { platform_.reset(); }

namespace msg {
std::string ReadFailed(const std::string& path) { return Encode("読み込み失敗 ") + path + "\n"; }
std::string CannotCreate(const std::string& path) {
  return Encode("ファイルを作れませんでした[") + path + "]\n";
}
const std::string kTooFewArguments = Encode("引数数がたりません\n");
const std::string kConvertFailed = Encode("バッファ格納失敗\n");
const std::string kWriteFailed = Encode("書き出し失敗\n");
const std::string kCountFailed = Encode("書き出し失敗 tbl_num \n");
const std::string kFrameFailed = Encode("書き出し失敗 frame_tbl \n");
const std::string kTextureFailed = Encode("書き出し失敗 tex_tbl \n");
const std::string kPaletteFailed = Encode("書き出し失敗 pltt_tbl \n");
}  // namespace msg

}  // namespace morv::test
