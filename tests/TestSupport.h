#ifndef TESTS_TESTSUPPORT_H
#define TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "IntermediateFileParser/XmlPlatform.h"

namespace morv::test {

// Whether the tests run under AddressSanitizer or ThreadSanitizer, which
// make everything several times slower and count memory their own way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

// The system the tests run on. Tests that only mean something on one system
// (FIFOs, permission bits, /dev/full; UNC and device names) say so by this.
enum class TSystem { kPosix, kWindows };
extern const TSystem kSystem;

// A path string, as the converter and the reader take paths (on Windows the
// UTF-8 form of the name), as std::filesystem takes it; and back.
std::filesystem::path FsPath(const std::string& path);
std::string PathString(const std::filesystem::path& path);

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the directory, as a path string.
  std::string operator/(const std::string& name) const { return PathString(path_ / FsPath(name)); }
  // The directory itself, as a path string.
  std::string str() const { return PathString(path_); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
// Writes `bytes` to `path`; gives the path.
std::string WriteFile(const std::string& path, const std::string& bytes);

// The path of `name` in the source tree, and in the test documents
// (tests/data/).
std::string SourceFile(const std::string& name);
std::string DataFile(const std::string& name);

// A fixture of `Base` (a test, a row of a table, a fixture of its own) whose
// every test runs in a fresh scratch directory, `dir`.
template <class Base = ::testing::Test>
class ScratchTest : public Base {
 protected:
  ScratchDir dir;
};

// A table of `Row`s, each row run in a fresh scratch directory.
template <class Row>
using ScratchRowTest = ScratchTest<::testing::TestWithParam<Row>>;

// A text of a table's row (a path, a document, a message), made when the
// row runs from the row's scratch directory.
using FromDir = std::function<std::string(const ScratchDir&)>;

// The path of `name` in the row's scratch directory; the directory itself.
FromDir Named(std::string name);
FromDir TheDir();

// Texts that need nothing of where the row runs: `text` itself, or what
// `make` makes when the row runs (a large document is made only then). They
// serve any kind of row text, whatever it is made from.
inline auto Fixed(std::string text) {
  return [text = std::move(text)](const auto&) { return text; };
}
inline auto Later(std::function<std::string()> make) {
  return [make = std::move(make)](const auto&) { return make(); };
}

// Whether a row meant for one system only (`only`) is the other system's.
bool ForOtherSystem(const std::optional<TSystem>& only);

// Skips a table's row meant for the other system (its member `only`); a
// macro, as GTEST_SKIP must run in the test's own body.
#define MORV_SKIP_ROW_OF_THE_OTHER_SYSTEM(row)                                                 \
  do {                                                                                         \
    if (::morv::test::ForOtherSystem((row).only)) GTEST_SKIP() << "a row of the other system"; \
  } while (false)

// The UTF-8 text in CP932 bytes, or in another encoding: "UTF-8", "UTF-16"
// (with a byte order mark), "EUC-JP".
std::string Encode(const std::string& utf8, const char* encoding = "CP932");

// `text` written `times` times over.
std::string Repeat(const std::string& text, int times);

// The parts of a test document of root "r": each is left out unless given,
// but for a head holding a title "t".
struct DocumentParts {
  std::string encoding = "";  // named in the XML declaration
  std::string doctype = "";
  std::string head = "<head><title>t</title></head>";
  std::string body = "";
};

// The document: the XML declaration, the DOCTYPE, then "r" holding the head
// and "body".
std::string Document(const DocumentParts& parts);

// The three index lists of a pattern in an element "d", each of `size` and
// holding its values as written.
std::string IndexLists(int size, const std::string& frames, const std::string& textures,
                       const std::string& palettes);

// A DOCTYPE of root "r" with these declarations.
std::string Doctype(const std::string& declarations);

// " a0='' a1='' ...": `count` attributes of a start tag; " xmlns:p0='u' ...":
// `count` namespace bindings.
std::string Attributes(int count);
std::string Bindings(int count);

// " a0 CDATA #IMPLIED a1 CDATA #IMPLIED ...": `count` attribute declarations
// for an ATTLIST.
std::string DeclaredAttributes(int count);

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

// A row that describes itself in a member `what` prints as that in a test's
// messages. In the unnamed namespace, which a test file's rows are in too:
// GoogleTest's printer finds it beside them.
namespace {
template <class Row>
requires requires(const Row& row, std::ostream& os) { os << row.what; }
void PrintTo(const Row& row, std::ostream* os) { *os << row.what; }
}  // namespace

// A little-endian table file: count, frames, textures, palettes.
std::string TableFile(const std::vector<unsigned>& frames, const std::vector<unsigned>& textures,
                      const std::vector<unsigned>& palettes);

// What a run left behind in `directory` (temporary files): the names in it
// other than the `known` ones.
std::vector<std::string> Leftovers(const std::filesystem::path& directory,
                                   const std::vector<std::string>& known);

// Whether the file system holding `directory` makes unnamed files (never on
// Windows).
bool MakesUnnamedFiles(const std::filesystem::path& directory);

// Writes a document of `steps` pattern steps to `path`: frame i, texture and
// palette i % 3.
void WriteStepsDocument(const std::string& path, int steps);

// The converter's console text: its lines end with the system's line end
// (CR LF on Windows, where messages are written in text mode).
std::string ConsoleText(const std::string& text);

struct ProcessResult {
  int status = -1;               // exit status; -1 when the process did not exit normally
  int signal = 0;                // the signal that ended it, if any (POSIX)
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
  // RLIMIT_FSIZE, as `ulimit -f` sets it (POSIX)
  std::optional<std::uint64_t> file_size;
  // RLIMIT_CPU; a job's time limit on Windows
  std::optional<std::uint64_t> cpu_seconds;
  // killed when still running after this
  std::optional<double> wall_seconds;
  // extra NAME=value entries
  std::vector<std::string> environment;
  // standard output is a pipe nobody reads
  bool stdout_closed = false;
  // runs as this user and group (POSIX, needs root)
  std::optional<std::pair<std::uint32_t, std::uint32_t>> user;
  // for Run only, not RunConverter (POSIX)
  std::optional<Interruption> interruption;
};

// Runs `argv` (argv[0] is the program) and waits for it.
ProcessResult Run(const std::vector<std::string>& argv, const ProcessLimits& limits = {});

// Runs the built converter with these arguments.
ProcessResult RunConverter(const std::vector<std::string>& args, const ProcessLimits& limits = {});

// Runs the built morv_dump with these arguments.
ProcessResult RunDump(const std::vector<std::string>& args, const ProcessLimits& limits = {});

// Walks one JSON value (RFC 8259) and calls `scalar(path, text)` for each
// number, string, true, false and null in it: `path` the keys and indices
// down to it joined by "/" ("steps/3/frame"), `text` as written. False when
// `json` is not one JSON value.
bool WalkJson(std::string_view json,
              const std::function<void(const std::string& path, std::string_view text)>& scalar);

// A TCP listener on the loopback interface that nobody must ever reach.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // True when a connection has come in since the listener was opened.
  bool WasReached() const;

 private:
  std::intptr_t socket_;
  int port_ = 0;
};

// A pipe with a name, as a document or what it names may give it: a FIFO at
// `fifo_path` on POSIX systems; a named pipe (\\.\pipe\...) on Windows.
// With `content`, a thread writes that into it once somebody reads, and then
// white space without end while `endless` (until the reader goes), or
// nothing more; without, nobody ever writes.
class NamedPipe {
 public:
  explicit NamedPipe(const std::string& fifo_path,
                     std::optional<std::string> content = std::nullopt, bool endless = true);
  ~NamedPipe();
  NamedPipe(const NamedPipe&) = delete;
  NamedPipe& operator=(const NamedPipe&) = delete;

  const std::string& Path() const { return path_; }

 private:
  void Feed(const std::string& content, bool endless);

  std::string path_;
  std::intptr_t handle_ = -1;  // the server's end, where the system has one
  std::atomic<bool> stop_{false};
  std::thread feeder_;
};

// Brings the XML platform up for a test suite whose readers need it.
class XmlPlatformTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 private:
  static std::unique_ptr<ifp::TXmlPlatform> platform_;
};

// The Shift_JIS messages of the converter and of morv_dump, for comparing
// output.
namespace msg {
std::string ReadFailed(const std::string& path);
std::string CannotCreate(const std::string& path);
// A message of the converter by the name tests/data/expected.tsv gives it:
// "read-failed" (of `input`), "convert-failed", or "-" for none.
std::string ByName(const std::string& name, const std::string& input);
extern const std::string kTooFewArguments;
extern const std::string kConvertFailed;
extern const std::string kWriteFailed;
extern const std::string kCountFailed;
extern const std::string kFrameFailed;
extern const std::string kTextureFailed;
extern const std::string kPaletteFailed;
// A message of morv_dump: the UTF-8 text in CP932, then the path as
// messages show it, then the line end.
std::string Dump(const std::string& text, const std::string& path = "");
}  // namespace msg

}  // namespace morv::test

#endif  // TESTS_TESTSUPPORT_H
