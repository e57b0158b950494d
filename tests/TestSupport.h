#ifndef TESTS_TESTSUPPORT_H
#define TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "IntermediateFileParser/XmlPlatform.h"

namespace morv::test {

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the directory, as bytes.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// The UTF-8 text in CP932 (or another iconv encoding) bytes.
std::string Encode(const std::string& utf8, const char* encoding = "CP932");

// `text` written `times` times over.
std::string Repeat(const std::string& text, int times);

// A DOCTYPE declaring the entity bomb e10: ten levels of ten references each
// to the level below, 10^10 copies of "lol" in all.
std::string EntityBombDoctype();

// The declaration of the internal entity `name` with replacement text `text`.
std::string Entity(const std::string& name, const std::string& text);

// The declarations of a chain of `levels` entities e1 ... e<levels>: e1 is
// "x" and each further one refers to the one before, so that a reference to
// e<levels> nests `levels` entities deep.
std::string EntityChain(int levels);

// What an output file holds before a run that must leave it as it is.
extern const std::string kSentinel;

// The name of a table row as a test name: the words of `description`, each
// begun with a capital, joined; anything but letters and digits dropped (an
// apostrophe without ending the word).
std::string RowName(std::string_view description);

// The name generator of a parameterised test whose rows describe themselves
// in a member `what`.
struct NameRowByWhat {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return RowName(info.param.what);
  }
};

// A little-endian table file: count, frames, textures, palettes.
std::string TableFile(const std::vector<unsigned>& frames, const std::vector<unsigned>& textures,
                      const std::vector<unsigned>& palettes);

struct ProcessResult {
  int status = -1;               // exit status; -1 when the process did not exit normally
  int signal = 0;                // the signal that ended it, if any
  std::string out;               // everything written to standard output
  std::string err;               // everything written to standard error
  double seconds = 0;            // wall time
  long max_rss_kib = 0;          // peak resident memory (of the converter, for RunConverter)
  bool interrupted = false;      // the Interruption's point was reached
  bool tracing_refused = false;  // the system does not let the test trace the program
};

// A signal sent to a program at a known point of its run: the first time it
// enters one of `syscalls` (with, when `descriptor_in` is set, a first
// argument that is a descriptor of a file in that directory), it is held
// there, `at_stop` runs, and the signal is sent as it goes on.
struct Interruption {
  std::vector<long> syscalls;
  std::string descriptor_in;
  int signal = 0;
  std::function<void()> at_stop;
};

struct ProcessLimits {
  std::optional<rlim_t> file_size;              // RLIMIT_FSIZE, as `ulimit -f` sets it
  std::optional<rlim_t> cpu_seconds;            // RLIMIT_CPU
  std::optional<double> wall_seconds;           // killed (SIGKILL) when still running after this
  std::vector<std::string> environment;         // extra NAME=value entries
  bool stdout_closed = false;                   // standard output is a pipe nobody reads
  std::optional<std::pair<uid_t, gid_t>> user;  // runs as this user and group (needs root)
  std::optional<Interruption> interruption;     // for Run only, not RunConverter
};

// Runs `argv` (argv[0] is the program) and waits for it.
ProcessResult Run(const std::vector<std::string>& argv, const ProcessLimits& limits = {});

// Runs the built converter with these arguments.
ProcessResult RunConverter(const std::vector<std::string>& args, const ProcessLimits& limits = {});

// Brings the XML platform up for a test suite whose readers need it.
class XmlPlatformTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 private:
  static std::unique_ptr<ifp::TXmlPlatform> platform_;
};

// The Shift_JIS messages of the converter, for comparing output.
namespace msg {
std::string ReadFailed(const std::string& path);
std::string CannotCreate(const std::string& path);
extern const std::string kTooFewArguments;
extern const std::string kConvertFailed;
extern const std::string kWriteFailed;
extern const std::string kCountFailed;
extern const std::string kFrameFailed;
extern const std::string kTextureFailed;
extern const std::string kPaletteFailed;
}  // namespace msg

}  // namespace morv::test

#endif  // TESTS_TESTSUPPORT_H
