// MorvConv: building the tables from a document and writing the table file.

#include "converter/MorvConv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "converter/Messages.h"
#include "converter/OutputFile.h"
#include "platform/TemporaryCleanup.h"

namespace {

using morv::test::ReadFile;
using morv::test::ScratchDir;
using morv::test::WriteFile;

void Fill(ifp::TMorvDocument& doc, int size, std::vector<int> frames, std::vector<int> textures,
          std::vector<int> palettes) {
  doc.tex_pattern_data.frame_idx.size = size;
  doc.tex_pattern_data.frame_idx.data = std::move(frames);
  doc.tex_pattern_data.image_idx.data = std::move(textures);
  doc.tex_pattern_data.palette_idx.data = std::move(palettes);
}

struct ConvertCase {
  const char* what;
  int size;
  std::vector<int> frames, textures, palettes;
  bool converts;
  std::vector<unsigned> frame_tbl, tex_tbl, pltt_tbl;
};

TEST(ConvertTest, CutsValuesToTheirTableWidthAndNeedsFullLists) {
  const ConvertCase cases[] = {
      {"plain", 2, {0, 30}, {1, 2}, {0, 0}, true, {0, 30}, {1, 2}, {0, 0}},
      {"truncated",
       3,
       {65536, 65541, -1},
       {300, 256, -1},
       {255, 44, -2},
       true,
       {0, 5, 0xFFFF},
       {44, 0, 0xFF},
       {255, 44, 0xFE}},
      {"longer lists", 1, {7, 8, 9}, {1, 2}, {3, 4, 5}, true, {7}, {1}, {3}},
      {"size 0", 0, {}, {1}, {}, true, {}, {}, {}},
      {"short frames", 3, {1, 2}, {1, 2, 3}, {1, 2, 3}, false, {}, {}, {}},
      {"short textures", 3, {1, 2, 3}, {1, 2}, {1, 2, 3}, false, {}, {}, {}},
      {"short palettes", 3, {1, 2, 3}, {1, 2, 3}, {}, false, {}, {}, {}},
      {"negative size", -1, {1}, {1}, {1}, false, {}, {}, {}},
      {"huge size, no values", 2000000000, {}, {}, {}, false, {}, {}, {}},
  };
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.what);
    ifp::TMorvDocument doc;
    Fill(doc, c.size, c.frames, c.textures, c.palettes);
    morv::MorvConv conv;
    ASSERT_EQ(conv.Convert(doc), c.converts);
    if (!c.converts) {
      // Nothing was allocated: the record is still empty.
      EXPECT_EQ(conv.tbl_num, 0u);
      EXPECT_EQ(conv.frame_tbl, nullptr);
      EXPECT_EQ(conv.tex_tbl, nullptr);
      EXPECT_EQ(conv.pltt_tbl, nullptr);
      continue;
    }
    ASSERT_EQ(conv.tbl_num, c.frame_tbl.size());
    for (std::size_t i = 0; i < c.frame_tbl.size(); ++i) {
      EXPECT_EQ(conv.frame_tbl[i], c.frame_tbl[i]);
      EXPECT_EQ(conv.tex_tbl[i], c.tex_tbl[i]);
      EXPECT_EQ(conv.pltt_tbl[i], c.pltt_tbl[i]);
    }
  }
}

TEST(ConvertTest, TablesAreCopiesThatOutliveTheDocument) {
  morv::MorvConv conv;
  {
    ifp::TMorvDocument doc;
    Fill(doc, 2, {10, 20}, {1, 2}, {3, 4});
    ASSERT_TRUE(conv.Convert(doc));
  }
  EXPECT_EQ(conv.frame_tbl[1], 20);
  conv.Release();
  EXPECT_EQ(conv.tbl_num, 0u);
  EXPECT_EQ(conv.frame_tbl, nullptr);
  EXPECT_EQ(conv.pltt_tbl, nullptr);

  // Tables large enough to have their pages faulted in on another thread
  // while they are written hold every value all the same.
  const int count = 5'000'000;
  std::vector<int> frames(count), textures(count), palettes(count);
  for (int i = 0; i < count; ++i) {
    frames[i] = i * 7;
    textures[i] = i * 13;
    palettes[i] = i * 5;
  }
  {
    ifp::TMorvDocument doc;
    Fill(doc, count, frames, textures, palettes);
    ASSERT_TRUE(conv.Convert(doc));
  }
  ASSERT_EQ(conv.tbl_num, static_cast<std::uint32_t>(count));
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(conv.frame_tbl[i], static_cast<std::uint16_t>(i * 7)) << i;
    ASSERT_EQ(conv.tex_tbl[i], static_cast<std::uint8_t>(i * 13)) << i;
    ASSERT_EQ(conv.pltt_tbl[i], static_cast<std::uint8_t>(i * 5)) << i;
  }
}

class WriteTest : public ::testing::Test {
 protected:
  // Writes the tables of a document filled with these lists to `path`;
  // returns Write's result and keeps what it printed.
  bool Write(const std::string& path, std::vector<int> frames, std::vector<int> textures,
             std::vector<int> palettes) {
    ifp::TMorvDocument doc;
    Fill(doc, static_cast<int>(frames.size()), frames, textures, palettes);
    morv::MorvConv conv;
    EXPECT_TRUE(conv.Convert(doc));
    ::testing::internal::CaptureStdout();
    const bool result = conv.Write(path.c_str());
    std::fflush(stdout);
    printed = ::testing::internal::GetCapturedStdout();
    return result;
  }
  ScratchDir dir;
  std::string printed;
};

TEST_F(WriteTest, WritesTheTableFileByteForByte) {
  const std::string out = dir / "out.bin";
  ASSERT_TRUE(Write(out, {0, 30}, {1, 2}, {0, 0}));
  EXPECT_EQ(ReadFile(out), std::string("\x02\0\0\0\0\0\x1E\0\x01\x02\0\0", 12));
  EXPECT_EQ(printed, "");

  ASSERT_TRUE(Write(out, {0x0102, 0x0304, 0x0506}, {7, 8, 9}, {10, 11, 12}));
  const std::string bytes = ReadFile(out);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes.substr(4, 6), "\x02\x01\x04\x03\x06\x05");  // frames at 4, 6, 8
  EXPECT_EQ(bytes.substr(10, 3), "\x07\x08\x09");             // textures at 10, 11, 12
  EXPECT_EQ(bytes.substr(13, 3), "\x0A\x0B\x0C");             // palettes at 13, 14, 15

  ASSERT_TRUE(Write(out, {}, {}, {}));
  EXPECT_EQ(ReadFile(out), std::string(4, '\0'));
  EXPECT_EQ(printed, "");
}

// Where a table file goes: a regular file is replaced whole, keeping its mode;
// a symbolic link stays and its target receives the table; a device is
// written in place; no temporary file is left behind. Modes and symbolic
// links are the POSIX rows; each system has its own null device.
TEST_F(WriteTest, TheTableReplacesWhatThePathLeadsTo) {
  using morv::test::kSystem;
  using morv::test::TSystem;
  const std::string table = std::string("\x01\0\0\0\x05\0\x06\x07", 8);
  namespace fs = std::filesystem;
  fs::create_directory(morv::test::FsPath(dir / "sub"));
  const struct {
    const char* what;
    std::string path;      // given to Write
    std::string target;    // where the table must be found; empty: nowhere
    fs::perms mode;        // the target's mode afterwards
    bool link_stays;       // `path` is still a symbolic link
    std::string old_name;  // another name of the file, which keeps its old bytes
    std::optional<TSystem> only = std::nullopt;  // the one system the row means something on
  } cases[] = {
      {"a new file", dir / "new.bin", dir / "new.bin", fs::perms::unknown, false, ""},
      {"an existing file keeps its mode", dir / "kept.bin", dir / "kept.bin",
       fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read, false, "",
       TSystem::kPosix},
      {"a symbolic link", dir / "link.bin", dir / "sub/real.bin",
       fs::perms::owner_read | fs::perms::owner_write, true, "", TSystem::kPosix},
      {"a symbolic link to nothing yet", dir / "dangling.bin", dir / "sub/later.bin",
       fs::perms::unknown, true, "", TSystem::kPosix},
      {"a device", "/dev/null", "", fs::perms::unknown, false, "", TSystem::kPosix},
      {"a file with a second hard link is replaced by a new file", dir / "hard.bin",
       dir / "hard.bin", fs::perms::owner_read | fs::perms::owner_write, false, dir / "second.bin",
       TSystem::kPosix},
      {"an existing file", dir / "old.bin", dir / "old.bin", fs::perms::unknown, false, "",
       TSystem::kWindows},
      {"the null device", "NUL", "", fs::perms::unknown, false, "", TSystem::kWindows},
  };
  std::vector<std::string> expected_names{"new.bin", "sub"};
  if (kSystem == TSystem::kPosix) {
    WriteFile(dir / "kept.bin", "old");
    fs::permissions(dir / "kept.bin", cases[1].mode);
    WriteFile(dir / "sub/real.bin", "old");
    fs::permissions(dir / "sub/real.bin", cases[2].mode);
    fs::create_symlink("sub/real.bin", dir / "link.bin");
    fs::create_symlink(dir / "sub/later.bin", dir / "dangling.bin");
    WriteFile(dir / "hard.bin", "old");
    fs::permissions(dir / "hard.bin", cases[5].mode);
    fs::create_hard_link(dir / "hard.bin", dir / "second.bin");
    expected_names.insert(expected_names.end(),
                          {"dangling.bin", "hard.bin", "kept.bin", "later.bin", "link.bin",
                           "real.bin", "second.bin"});
  } else {
    WriteFile(dir / "old.bin", "old");
    expected_names.push_back("old.bin");
  }
  for (const auto& c : cases) {
    if (c.only && *c.only != kSystem) continue;
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Write(c.path, {5}, {6}, {7}));
    EXPECT_EQ(printed, "");
    if (!c.target.empty()) {
      EXPECT_EQ(ReadFile(c.target), table);
    }
    if (c.mode != fs::perms::unknown) {
      EXPECT_EQ(fs::status(c.target).permissions(), c.mode);
    }
    EXPECT_EQ(fs::is_symlink(morv::test::FsPath(c.path)), c.link_stays);
    if (!c.old_name.empty()) {
      EXPECT_EQ(ReadFile(c.old_name), "old");
    }
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(names, expected_names);
}

TEST_F(WriteTest, AFileThatCannotBeCreatedIsReportedWithItsPath) {
  for (const std::string& path : {dir / "missing/out.bin", dir.path().string()}) {
    EXPECT_FALSE(Write(path, {1}, {1}, {1}));
    // Captured in this process, the text comes back without the console's
    // CR of Windows.
    EXPECT_EQ(morv::test::ConsoleText(printed), morv::test::msg::CannotCreate(path));
  }
}

TEST_F(WriteTest, DataThatFailsOnlyAtCloseFailsTheWrite) {
  if (morv::test::kSystem != morv::test::TSystem::kPosix) {
    GTEST_SKIP() << "a device that takes data and fails at close is /dev/full, only on POSIX";
  }
  EXPECT_FALSE(Write("/dev/full", {1, 2}, {1, 2}, {1, 2}));
  EXPECT_EQ(printed, "");
}

using Staging = morv::OutputFile::Staging;

// Either kind of temporary file: it holds the table until Keep puts it in
// place, and is gone afterwards, or when the output is given up.
// Symbolic links and /dev/null are POSIX's rows, NUL Windows's.
TEST(OutputFileTest, EitherTemporaryFileHoldsTheTableUntilItIsWhole) {
  namespace fs = std::filesystem;
  using morv::test::kSystem;
  using morv::test::MakesUnnamedFiles;
  using morv::test::Temporaries;
  using morv::test::TSystem;
  ScratchDir dir;
  fs::create_directory(dir / "sub");
  const bool unnamed = MakesUnnamedFiles(dir.path());
  const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  const struct {
    const char* what;
    std::string path;                            // opened
    std::string target;                          // where the bytes end up
    bool existing;                               // the target holds "old" before
    bool commit;                                 // false: the output is given up
    bool replaces;                               // written to a temporary file (false: in place)
    std::optional<TSystem> only = std::nullopt;  // the one system the row means something on
  } cases[] = {
      {"a new file", dir / "new.bin", dir / "new.bin", false, true, true},
      {"an existing file", dir / "kept.bin", dir / "kept.bin", true, true, true},
      {"a symbolic link", dir / "link.bin", dir / "sub/real.bin", true, true, true,
       TSystem::kPosix},
      {"an output given up", dir / "kept.bin", dir / "kept.bin", true, false, true},
      {"a new output given up", dir / "none.bin", dir / "none.bin", false, false, true},
      {"a device", "/dev/null", "", false, true, false, TSystem::kPosix},
      {"the null device", "NUL", "", false, true, false, TSystem::kWindows},
  };
  if (kSystem == TSystem::kPosix) fs::create_symlink("sub/real.bin", dir / "link.bin");
  for (const Staging staging : {Staging::kUnnamed, Staging::kNamed}) {
    for (const auto& c : cases) {
      if (c.only && *c.only != kSystem) continue;
      SCOPED_TRACE(std::string(c.what) + (staging == Staging::kNamed ? ", named" : ", unnamed"));
      if (c.existing) {
        WriteFile(c.target, "old");
        fs::permissions(c.target, kept);
      } else if (!c.target.empty()) {
        fs::remove(c.target);
      }
      {
        std::optional<morv::OutputFile> output =
            morv::OutputFile::Create(c.path.c_str(), 9, staging);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output->Replaces(), c.replaces);
        ASSERT_TRUE(output->Write("new table", 9));
        // The path holds what it held; only a named temporary file is seen.
        if (!c.target.empty()) {
          EXPECT_EQ(fs::exists(c.target) ? ReadFile(c.target) : "", c.existing ? "old" : "");
          const fs::path beside = fs::path(c.target).parent_path();
          const bool named = staging == Staging::kNamed || !unnamed;
          EXPECT_EQ(Temporaries(beside).size(), named ? 1u : 0u);
        }
        if (c.commit) {
          EXPECT_TRUE(output->Keep());
        }
      }
      if (!c.target.empty()) {
        if (c.commit) {
          EXPECT_EQ(ReadFile(c.target), "new table");
        } else {
          EXPECT_EQ(fs::exists(c.target) ? ReadFile(c.target) : "", c.existing ? "old" : "");
        }
        if (c.existing && kSystem == TSystem::kPosix) {
          EXPECT_EQ(fs::status(c.target).permissions(), kept);
        }
        EXPECT_EQ(Temporaries(fs::path(c.target).parent_path()), std::vector<std::string>{});
      }
      EXPECT_EQ(fs::is_symlink(dir / "link.bin"), kSystem == TSystem::kPosix);
    }
  }
}

TEST(MessagesTest, AreTheShiftJisBytesOfTheirTexts) {
  namespace m = morv::msg;
  namespace t = morv::test::msg;
  const struct {
    const char* literal;
    std::string encoded;  // the text encoded independently of the literal
    std::size_t bytes;
  } messages[] = {
      {m::kFrameworkInitFailed, morv::test::ConsoleText(morv::test::Encode("MFCの初期化失敗\n")),
       16},
      {m::kTooFewArguments, t::kTooFewArguments, 19},
      {m::kReadFailed, t::ReadFailed("%s"), 16},
      {m::kConvertFailed, t::kConvertFailed, 17},
      {m::kWriteFailed, t::kWriteFailed, 13},
      {m::kCannotCreateFile, t::CannotCreate("%s"), 31},
      {m::kWriteCountFailed, t::kCountFailed, 22},
      {m::kWriteFrameTableFailed, t::kFrameFailed, 24},
      {m::kWriteTextureTableFailed, t::kTextureFailed, 22},
      {m::kWritePaletteTableFailed, t::kPaletteFailed, 23},
  };
  for (const auto& message : messages) {
    EXPECT_EQ(std::strlen(message.literal), message.bytes) << message.encoded;
    // As the console shows them: with CR LF on Windows.
    EXPECT_EQ(morv::test::ConsoleText(message.literal), message.encoded);
  }
}

}  // namespace
