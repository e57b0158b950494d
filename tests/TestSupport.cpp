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

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string DeclaredAttributes(int count) {
  std::string declarations;
  for (int i = 0; i < count; ++i) declarations += " a" + std::to_string(i) + " CDATA #IMPLIED";
  return declarations;
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

std::vector<std::string> Leftovers(const std::filesystem::path& dir,
                                   const std::vector<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
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
  const std::string n = std::to_string(steps);
  WriteFile(path, "<r><body><d><frame_idx size='" + n + "'>" + frames +
                      "</frame_idx><image_idx size='" + n + "'>" + textures +
                      "</image_idx><palette_idx size='" + n + "'>" + textures +
                      "</palette_idx></d></body></r>");
}

std::vector<std::string> Temporaries(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".morv_conv-", 0) == 0) names.push_back(name);
  }
  return names;
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
const std::string kTooFewArguments = ConsoleText(Encode("引数数がたりません\n"));
const std::string kConvertFailed = ConsoleText(Encode("バッファ格納失敗\n"));
const std::string kWriteFailed = ConsoleText(Encode("書き出し失敗\n"));
const std::string kCountFailed = ConsoleText(Encode("書き出し失敗 tbl_num \n"));
const std::string kFrameFailed = ConsoleText(Encode("書き出し失敗 frame_tbl \n"));
const std::string kTextureFailed = ConsoleText(Encode("書き出し失敗 tex_tbl \n"));
const std::string kPaletteFailed = ConsoleText(Encode("書き出し失敗 pltt_tbl \n"));
}  // namespace msg

}  // namespace morv::test
