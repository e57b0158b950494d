// The test support's Windows side: encoding through the system's code pages,
// and child processes through CreateProcessW, their standard output and
// error read from pipes, limits through a job object.

#include <winsock2.h>
// The system's declarations after the sockets'.
#include <windows.h>
// The process status declarations need the system's own first.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "TestSupport.h"
#include "platform/InputFile.h"

namespace morv::test {

const TSystem kSystem = TSystem::kWindows;

std::string ConsoleText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

namespace {

std::wstring Utf16Of(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) throw std::runtime_error("not UTF-8: " + utf8);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), length);
  return wide;
}

std::string CodePageOf(const std::wstring& wide, UINT code_page, const std::string& utf8) {
  if (wide.empty()) return {};
  BOOL lossy = FALSE;
  const int length = ::WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) throw std::runtime_error("cannot encode " + utf8);
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                        length, nullptr, nullptr);
  return out;
}

}  // namespace

std::string Encode(const std::string& utf8, const char* encoding) {
  const std::string name = encoding;
  if (name == "UTF-8") return utf8;
  const std::wstring wide = Utf16Of(utf8);
  if (name == "UTF-16") {
    std::string out = "\xFF\xFE";
    for (const wchar_t unit : wide) {
      out.push_back(static_cast<char>(unit & 0xFF));
      out.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return out;
  }
  if (name == "CP932") return CodePageOf(wide, 932, utf8);
  if (name == "EUC-JP") return CodePageOf(wide, 20932, utf8);
  throw std::runtime_error("no converter for " + name);
}

namespace {

// One argument as the C run-time's start-up code splits a command line.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = 2 * backslashes + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line.push_back(c);
  }
  line.append(2 * backslashes, L'\\');
  line.push_back(L'"');
}

// A handle, closed when the owner goes.
class THandle {
 public:
  explicit THandle(HANDLE handle = nullptr) noexcept : handle_(handle) {}
  ~THandle() { Close(); }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Get() const noexcept { return handle_; }
  HANDLE* Out() noexcept { return &handle_; }
  void Close() noexcept {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

// The environment block of this process with `extra` entries set.
std::wstring EnvironmentWith(const std::vector<std::string>& extra) {
  std::vector<std::wstring> entries;
  if (wchar_t* const block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(block);
  }
  for (const std::string& setting : extra) {
    const std::wstring wide = Utf16Of(setting);
    const std::wstring name = wide.substr(0, wide.find(L'=') + 1);
    std::erase_if(entries, [&](const std::wstring& entry) {
      return ::CompareStringOrdinal(entry.c_str(), static_cast<int>(name.size()), name.c_str(),
                                    static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    });
    entries.push_back(wide);
  }
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  return block + L'\0';
}

// Reads a pipe to its end on a thread of its own.
std::thread Drain(HANDLE pipe, std::string& sink) {
  return std::thread([pipe, &sink] {
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
      sink.append(buffer, got);
  });
}

}  // namespace

ProcessResult Run(const std::vector<std::string>& argv, const ProcessLimits& limits) {
  std::wstring line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line.push_back(L' ');
    AppendQuoted(line, Utf16Of(argument));
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  THandle out_read;
  THandle out_write;
  THandle err_read;
  THandle err_write;
  if (!::CreatePipe(out_read.Out(), out_write.Out(), &inherit, 0) ||
      !::CreatePipe(err_read.Out(), err_write.Out(), &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  ::SetHandleInformation(out_read.Get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_read.Get(), HANDLE_FLAG_INHERIT, 0);
  // A pipe nobody reads: its reading end is gone before the child writes.
  if (limits.stdout_closed) out_read.Close();

  THandle job(::CreateJobObjectW(nullptr, nullptr));
  if (job.Get() == nullptr) throw std::runtime_error("CreateJobObject failed");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job_limits{};
  job_limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (limits.cpu_seconds) {
    job_limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_TIME;
    job_limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart =
        static_cast<LONGLONG>(*limits.cpu_seconds) * 10'000'000;
  }
  ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &job_limits,
                            sizeof job_limits);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write.Get();
  startup.hStdError = err_write.Get();
  std::wstring environment = EnvironmentWith(limits.environment);
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(), nullptr,
                        &startup, &process)) {
    throw std::runtime_error("CreateProcess failed for " + argv.at(0));
  }
  THandle child(process.hProcess);
  THandle thread(process.hThread);
  ::AssignProcessToJobObject(job.Get(), child.Get());
  ::ResumeThread(thread.Get());
  out_write.Close();
  err_write.Close();

  ProcessResult result;
  std::thread out_reader;
  if (out_read.Get() != nullptr) out_reader = Drain(out_read.Get(), result.out);
  std::thread err_reader = Drain(err_read.Get(), result.err);
  const DWORD wait_ms =
      limits.wall_seconds ? static_cast<DWORD>(*limits.wall_seconds * 1000) : INFINITE;
  if (::WaitForSingleObject(child.Get(), wait_ms) == WAIT_TIMEOUT) {
    ::TerminateProcess(child.Get(), 137);
    ::WaitForSingleObject(child.Get(), INFINITE);
  }
  if (out_reader.joinable()) out_reader.join();
  err_reader.join();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  DWORD code = 0;
  if (::GetExitCodeProcess(child.Get(), &code)) result.status = static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS memory{};
  if (::GetProcessMemoryInfo(child.Get(), &memory, sizeof memory)) {
    result.max_rss_kib = static_cast<long>(memory.PeakWorkingSetSize / 1024);
  }
  return result;
}

// Straight from the test: a Windows process's peak working set is its own.
ProcessResult RunConverter(const std::vector<std::string>& args, const ProcessLimits& limits) {
  std::vector<std::string> argv{MORV_CONV_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, limits);
}

bool MakesUnnamedFiles(const std::filesystem::path&) { return false; }

namespace {

// Winsock, up for as long as a listener needs it.
class TWinsock {
 public:
  TWinsock() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
  ~TWinsock() { ::WSACleanup(); }
  TWinsock(const TWinsock&) = delete;
  TWinsock& operator=(const TWinsock&) = delete;
};

SOCKET SocketOf(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

LoopbackListener::LoopbackListener() {
  static const TWinsock winsock;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  socket_ = static_cast<std::intptr_t>(s);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long non_blocking = 1;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    if (s != INVALID_SOCKET) ::closesocket(s);
    throw std::runtime_error("cannot listen on the loopback interface");
  }
  port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() { ::closesocket(SocketOf(socket_)); }

bool LoopbackListener::WasReached() const {
  const SOCKET connection = ::accept(SocketOf(socket_), nullptr, nullptr);
  if (connection != INVALID_SOCKET) {
    ::closesocket(connection);
    return true;
  }
  return ::WSAGetLastError() != WSAEWOULDBLOCK;
}

NamedPipe::NamedPipe(const std::string&, std::optional<std::string> content, bool endless) {
  static std::atomic<unsigned> serial{0};
  path_ = "\\\\.\\pipe\\morv_test_" + std::to_string(::GetCurrentProcessId()) + "_" +
          std::to_string(serial++);
  const std::wstring name = Utf16Of(path_);
  const HANDLE pipe =
      ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 16,
                         1 << 16, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateNamedPipe failed: " + path_);
  handle_ = reinterpret_cast<std::intptr_t>(pipe);
  if (content) {
    feeder_ = std::thread([this, text = *content, endless] { Feed(text, endless); });
  }
}

NamedPipe::~NamedPipe() {
  stop_ = true;
  if (feeder_.joinable()) {
    // A feeder still waiting for its reader gets one, and sees it is to stop.
    const std::wstring name = Utf16Of(path_);
    const HANDLE reader =
        ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    feeder_.join();
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
  }
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void NamedPipe::Feed(const std::string& content, bool endless) {
  const auto pipe = reinterpret_cast<HANDLE>(handle_);
  if (!::ConnectNamedPipe(pipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED) return;
  const std::string spaces(1 << 16, ' ');
  DWORD wrote = 0;
  bool open = true;
  for (std::size_t done = 0; open && done < content.size() && !stop_; done += wrote) {
    const std::size_t left = std::min<std::size_t>(content.size() - done, 1 << 16);
    open = ::WriteFile(pipe, content.data() + done, static_cast<DWORD>(left), &wrote, nullptr);
  }
  while (endless && open && !stop_) {
    open = ::WriteFile(pipe, spaces.data(), static_cast<DWORD>(spaces.size()), &wrote, nullptr);
  }
  // What the reader has not read yet stays readable when the server's end is
  // closed (a disconnection would drop it); the reader then sees the end.
  if (open) ::FlushFileBuffers(pipe);
  ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)));
}

}  // namespace morv::test
