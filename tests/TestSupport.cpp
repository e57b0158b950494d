#include "TestSupport.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "platform/InputFile.h"

namespace morv::test {

std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string PathString(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

ScratchDir::ScratchDir() {
  std::random_device device;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path = temporary / ("morv_test_" + std::to_string(device()));
    if (std::filesystem::create_directory(path)) {
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
      path_ = path;
      return;
    }
  }
  throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string SourceFile(const std::string& name) { return MORV_SOURCE_DIR "/" + name; }
std::string DataFile(const std::string& name) { return SourceFile("tests/data/" + name); }

FromDir Named(std::string name) {
  return [name = std::move(name)](const ScratchDir& dir) { return dir / name; };
}

FromDir TheDir() {
  return [](const ScratchDir& dir) { return dir.str(); };
}

bool ForOtherSystem(const std::optional<TSystem>& only) { return only && *only != kSystem; }

std::string Repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string Document(const DocumentParts& parts) {
  const std::string encoding = parts.encoding.empty() ? "" : " encoding='" + parts.encoding + "'";
  return "<?xml version='1.0'" + encoding + "?>" + parts.doctype + "<r>" + parts.head + "<body>" +
         parts.body + "</body></r>";
}

std::string IndexLists(int size, const std::string& frames, const std::string& textures,
                       const std::string& palettes) {
  const std::string n = std::to_string(size);
  return "<d><frame_idx size='" + n + "'>" + frames + "</frame_idx><image_idx size='" + n + "'>" +
         textures + "</image_idx><palette_idx size='" + n + "'>" + palettes + "</palette_idx></d>";
}

std::string Doctype(const std::string& declarations) {
  return "<!DOCTYPE r [" + declarations + "]>";
}

std::string Attributes(int count) {
  std::string attributes;
  for (int i = 0; i < count; ++i) attributes += " a" + std::to_string(i) + "=''";
  return attributes;
}

std::string Bindings(int count) {
  std::string bindings;
  for (int i = 0; i < count; ++i) bindings += " xmlns:p" + std::to_string(i) + "='u'";
  return bindings;
}

std::string DeclaredAttributes(int count) {
  std::string declarations;
  for (int i = 0; i < count; ++i) declarations += " a" + std::to_string(i) + " CDATA #IMPLIED";
  return declarations;
}

std::string EntityBombDoctype() {
  std::string entities = Entity("e0", "lol");
  for (int i = 1; i <= 10; ++i) {
    entities += "<!ENTITY e" + std::to_string(i) + " '" +
                Repeat("&e" + std::to_string(i - 1) + ";", 10) + "'>";
  }
  return Doctype(entities);
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

std::vector<std::string> Leftovers(const std::filesystem::path& directory,
                                   const std::vector<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) names.push_back(name);
  }
  return names;
}

void WriteStepsDocument(const std::string& path, int steps) {
  std::string frames, textures;
  for (int i = 0; i < steps; ++i) {
    frames += std::to_string(i) + " ";
    textures += std::to_string(i % 3) + " ";
  }
  WriteFile(path, Document({.body = IndexLists(steps, frames, textures, textures)}));
}

ProcessResult RunDump(const std::vector<std::string>& args, const ProcessLimits& limits) {
  std::vector<std::string> argv{MORV_DUMP_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, limits);
}

namespace {

// A walk of one JSON value by recursive descent.
class JsonWalk {
 public:
  using Scalar = std::function<void(const std::string&, std::string_view)>;
  JsonWalk(std::string_view text, const Scalar& scalar) : text_(text), scalar_(scalar) {}

  bool Whole() {
    const bool value = Value("");
    Skip();
    return value && at_ == text_.size();
  }

 private:
  void Skip() {
    while (at_ < text_.size() &&
           std::string_view(" \t\n\r").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
  }
  bool Take(char c) {
    Skip();
    if (at_ == text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool Digits() {
    const std::size_t start = at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
    return at_ > start;
  }
  bool Number() {
    Word("-");
    if (!Word("0") && !Digits()) return false;
    if (Word(".") && !Digits()) return false;
    if (Word("e") || Word("E")) {
      if (!Word("+")) Word("-");
      return Digits();
    }
    return true;
  }
  bool String() {
    if (!Take('"')) return false;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (static_cast<unsigned char>(text_[at_]) < 0x20) return false;
      if (text_[at_++] != '\\') continue;
      if (at_ == text_.size()) return false;
      const char escaped = text_[at_++];
      if (escaped == 'u') {
        for (int i = 0; i < 4; ++i, ++at_) {
          if (at_ == text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_]))) {
            return false;
          }
        }
      } else if (std::string_view("\"\\/bfnrt").find(escaped) == std::string_view::npos) {
        return false;
      }
    }
    return Take('"');
  }
  bool Value(const std::string& path) {
    const std::string prefix = path.empty() ? "" : path + "/";
    if (Take('{')) {
      if (Take('}')) return true;
      do {
        Skip();
        const std::size_t key = at_;
        if (!String()) return false;
        const std::string name(text_.substr(key + 1, at_ - key - 2));
        if (!Take(':') || !Value(prefix + name)) return false;
      } while (Take(','));
      return Take('}');
    }
    if (Take('[')) {
      if (Take(']')) return true;
      std::size_t index = 0;
      do {
        if (!Value(prefix + std::to_string(index++))) return false;
      } while (Take(','));
      return Take(']');
    }
    Skip();
    const std::size_t start = at_;
    const bool scalar = (at_ < text_.size() && text_[at_] == '"')
                            ? String()
                            : Word("true") || Word("false") || Word("null") || Number();
    if (scalar) scalar_(path, text_.substr(start, at_ - start));
    return scalar;
  }

  std::string_view text_;
  const Scalar& scalar_;
  std::size_t at_ = 0;
};

}  // namespace

bool WalkJson(std::string_view json,
              const std::function<void(const std::string& path, std::string_view text)>& scalar) {
  return JsonWalk(json, scalar).Whole();
}

std::unique_ptr<ifp::TXmlPlatform> XmlPlatformTest::platform_;

void XmlPlatformTest::SetUpTestSuite() { platform_ = std::make_unique<ifp::TXmlPlatform>(); }
void XmlPlatformTest::TearDownTestSuite() { platform_.reset(); }

// The paths in messages are the converter's: narrowed to CP932 on Windows.
namespace msg {
std::string ReadFailed(const std::string& path) {
  return ConsoleText(Encode("読み込み失敗 ") + morv::os::DisplayPath(path) + "\n");
}
std::string CannotCreate(const std::string& path) {
  return ConsoleText(Encode("ファイルを作れませんでした[") + morv::os::DisplayPath(path) + "]\n");
}
std::string ByName(const std::string& name, const std::string& input) {
  if (name == "read-failed") return ReadFailed(input);
  if (name == "convert-failed") return kConvertFailed;
  if (name == "-") return "";
  throw std::invalid_argument("no message named " + name);
}
const std::string kTooFewArguments = ConsoleText(Encode("引数数がたりません\n"));
const std::string kConvertFailed = ConsoleText(Encode("バッファ格納失敗\n"));
const std::string kWriteFailed = ConsoleText(Encode("書き出し失敗\n"));
const std::string kCountFailed = ConsoleText(Encode("書き出し失敗 tbl_num \n"));
const std::string kFrameFailed = ConsoleText(Encode("書き出し失敗 frame_tbl \n"));
const std::string kTextureFailed = ConsoleText(Encode("書き出し失敗 tex_tbl \n"));
const std::string kPaletteFailed = ConsoleText(Encode("書き出し失敗 pltt_tbl \n"));
std::string Dump(const std::string& text, const std::string& path) {
  return ConsoleText(Encode(text) + morv::os::DisplayPath(path) + "\n");
}
}  // namespace msg

}  // namespace morv::test
