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

namespace morv::test {
namespace {

void Fill(ifp::TMorvDocument& doc, int size, std::vector<int> frames, std::vector<int> textures,
          std::vector<int> palettes) {
  doc.tex_pattern_data.frame_idx.size = size;
  doc.tex_pattern_data.frame_idx.data = std::move(frames);
  doc.tex_pattern_data.image_idx.data = std::move(textures);
  doc.tex_pattern_data.palette_idx.data = std::move(palettes);
}

// The three tables a document converts to.
struct Tables {
  std::vector<unsigned> frame_tbl, tex_tbl, pltt_tbl;
};

struct ConvertCase {
  const char* what = "";
  int size = 0;
  std::vector<int> frames = {}, textures = {}, palettes = {};
  std::optional<Tables> tables = std::nullopt;  // none: the document does not convert
};

TEST(ConvertTest, CutsValuesToTheirTableWidthAndNeedsFullLists) {
  const ConvertCase cases[] = {
      {"plain", 2, {0, 30}, {1, 2}, {0, 0}, Tables{{0, 30}, {1, 2}, {0, 0}}},
      {"truncated",
       3,
       {65536, 65541, -1},
       {300, 256, -1},
       {255, 44, -2},
       Tables{{0, 5, 0xFFFF}, {44, 0, 0xFF}, {255, 44, 0xFE}}},
      {"longer lists", 1, {7, 8, 9}, {1, 2}, {3, 4, 5}, Tables{{7}, {1}, {3}}},
      {"size 0", 0, {}, {1}, {}, Tables{}},
      {"short frames", 3, {1, 2}, {1, 2, 3}, {1, 2, 3}},
      {"short textures", 3, {1, 2, 3}, {1, 2}, {1, 2, 3}},
      {"short palettes", 3, {1, 2, 3}, {1, 2, 3}, {}},
      {"negative size", -1, {1}, {1}, {1}},
      {"huge size, no values", 2000000000},
  };
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.what);
    ifp::TMorvDocument doc;
    Fill(doc, c.size, c.frames, c.textures, c.palettes);
    MorvConv conv;
    ASSERT_EQ(conv.Convert(doc), c.tables.has_value());
    if (!c.tables) {
      // Nothing was allocated: the record is still empty.
      EXPECT_EQ(conv.tbl_num, 0u);
      EXPECT_EQ(conv.frame_tbl, nullptr);
      EXPECT_EQ(conv.tex_tbl, nullptr);
      EXPECT_EQ(conv.pltt_tbl, nullptr);
      continue;
    }
    const Tables& t = *c.tables;
    ASSERT_EQ(conv.tbl_num, t.frame_tbl.size());
    for (std::size_t i = 0; i < t.frame_tbl.size(); ++i) {
      EXPECT_EQ(conv.frame_tbl[i], t.frame_tbl[i]);
      EXPECT_EQ(conv.tex_tbl[i], t.tex_tbl[i]);
      EXPECT_EQ(conv.pltt_tbl[i], t.pltt_tbl[i]);
    }
  }
}

TEST(ConvertTest, TablesAreCopiesThatOutliveTheDocument) {
  MorvConv conv;
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

class WriteTest : public ScratchTest<> {
 protected:
  // Writes the tables of a document filled with these lists to `path`;
  // returns Write's result and keeps what it printed.
  bool Write(const std::string& path, std::vector<int> frames, std::vector<int> textures,
             std::vector<int> palettes) {
    ifp::TMorvDocument doc;
    Fill(doc, static_cast<int>(frames.size()), frames, textures, palettes);
    MorvConv conv;
    EXPECT_TRUE(conv.Convert(doc));
    ::testing::internal::CaptureStdout();
    const bool result = conv.Write(path.c_str());
    std::fflush(stdout);
    printed = ::testing::internal::GetCapturedStdout();
    return result;
  }
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
  const std::string table = std::string("\x01\0\0\0\x05\0\x06\x07", 8);
  namespace fs = std::filesystem;
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
  const fs::perms rw_r = rw | fs::perms::group_read;
  fs::create_directory(FsPath(dir / "sub"));
  const struct {
    const char* what = "";
    std::string path = "";                // given to Write
    std::string target = "";              // where the table must be found; empty: nowhere
    fs::perms mode = fs::perms::unknown;  // the target's mode afterwards
    bool link_stays = false;              // `path` is still a symbolic link
    std::string old_name = "";            // another name of the file, which keeps its old bytes
    std::optional<TSystem> only = std::nullopt;  // the one system the row means something on
  } cases[] = {
      {.what = "a new file", .path = dir / "new.bin", .target = dir / "new.bin"},
      {.what = "an existing file keeps its mode",
       .path = dir / "kept.bin",
       .target = dir / "kept.bin",
       .mode = rw_r,
       .only = TSystem::kPosix},
      {.what = "a symbolic link",
       .path = dir / "link.bin",
       .target = dir / "sub/real.bin",
       .mode = rw,
       .link_stays = true,
       .only = TSystem::kPosix},
      {.what = "a symbolic link to nothing yet",
       .path = dir / "dangling.bin",
       .target = dir / "sub/later.bin",
       .link_stays = true,
       .only = TSystem::kPosix},
      {.what = "a device", .path = "/dev/null", .only = TSystem::kPosix},
      {.what = "a file with a second hard link is replaced by a new file",
       .path = dir / "hard.bin",
       .target = dir / "hard.bin",
       .mode = rw,
       .old_name = dir / "second.bin",
       .only = TSystem::kPosix},
      {.what = "an existing file",
       .path = dir / "old.bin",
       .target = dir / "old.bin",
       .only = TSystem::kWindows},
      {.what = "the null device", .path = "NUL", .only = TSystem::kWindows},
  };
  std::vector<std::string> expected_names{"new.bin", "sub"};
  if (kSystem == TSystem::kPosix) {
    fs::permissions(WriteFile(dir / "kept.bin", "old"), rw_r);
    fs::permissions(WriteFile(dir / "sub/real.bin", "old"), rw);
    fs::create_symlink("sub/real.bin", dir / "link.bin");
    fs::create_symlink(dir / "sub/later.bin", dir / "dangling.bin");
    fs::permissions(WriteFile(dir / "hard.bin", "old"), rw);
    fs::create_hard_link(dir / "hard.bin", dir / "second.bin");
    expected_names.insert(expected_names.end(),
                          {"dangling.bin", "hard.bin", "kept.bin", "later.bin", "link.bin",
                           "real.bin", "second.bin"});
  } else {
    WriteFile(dir / "old.bin", "old");
    expected_names.push_back("old.bin");
  }
  for (const auto& c : cases) {
    if (ForOtherSystem(c.only)) continue;
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Write(c.path, {5}, {6}, {7}));
    EXPECT_EQ(printed, "");
    if (!c.target.empty()) {
      EXPECT_EQ(ReadFile(c.target), table);
    }
    if (c.mode != fs::perms::unknown) {
      EXPECT_EQ(fs::status(c.target).permissions(), c.mode);
    }
    EXPECT_EQ(fs::is_symlink(FsPath(c.path)), c.link_stays);
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
    EXPECT_EQ(ConsoleText(printed), msg::CannotCreate(path));
  }
}

TEST_F(WriteTest, DataThatFailsOnlyAtCloseFailsTheWrite) {
  if (kSystem != TSystem::kPosix) {
    GTEST_SKIP() << "a device that takes data and fails at close is /dev/full, only on POSIX";
  }
  EXPECT_FALSE(Write("/dev/full", {1, 2}, {1, 2}, {1, 2}));
  EXPECT_EQ(printed, "");
}

using Staging = OutputFile::Staging;

// Either kind of temporary file: it holds the table until Keep puts it in
// place, and is gone afterwards, or when the output is given up.
// Symbolic links and /dev/null are POSIX's rows, NUL Windows's.
TEST(OutputFileTest, EitherTemporaryFileHoldsTheTableUntilItIsWhole) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  fs::create_directory(dir / "sub");
  const bool unnamed = MakesUnnamedFiles(dir.path());
  const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  // Every name the rows give, beside which nothing must be left.
  const std::vector<std::string> names = {"new.bin",  "kept.bin", "link.bin",
                                          "none.bin", "sub",      "real.bin"};
  const struct {
    const char* what = "";
    std::string path = "";                       // opened
    std::string target = "";                     // where the bytes end up
    bool existing = false;                       // the target holds "old" before
    bool given_up = false;                       // the output is given up rather than kept
    bool in_place = false;                       // written in place rather than to a temporary file
    std::optional<TSystem> only = std::nullopt;  // the one system the row means something on
  } cases[] = {
      {.what = "a new file", .path = dir / "new.bin", .target = dir / "new.bin"},
      {.what = "an existing file",
       .path = dir / "kept.bin",
       .target = dir / "kept.bin",
       .existing = true},
      {.what = "a symbolic link",
       .path = dir / "link.bin",
       .target = dir / "sub/real.bin",
       .existing = true,
       .only = TSystem::kPosix},
      {.what = "an output given up",
       .path = dir / "kept.bin",
       .target = dir / "kept.bin",
       .existing = true,
       .given_up = true},
      {.what = "a new output given up",
       .path = dir / "none.bin",
       .target = dir / "none.bin",
       .given_up = true},
      {.what = "a device", .path = "/dev/null", .in_place = true, .only = TSystem::kPosix},
      {.what = "the null device", .path = "NUL", .in_place = true, .only = TSystem::kWindows},
  };
  if (kSystem == TSystem::kPosix) fs::create_symlink("sub/real.bin", dir / "link.bin");
  for (const Staging staging : {Staging::kUnnamed, Staging::kNamed}) {
    for (const auto& c : cases) {
      if (ForOtherSystem(c.only)) continue;
      SCOPED_TRACE(std::string(c.what) + (staging == Staging::kNamed ? ", named" : ", unnamed"));
      if (c.existing) {
        fs::permissions(WriteFile(c.target, "old"), kept);
      } else if (!c.target.empty()) {
        fs::remove(c.target);
      }
      {
        std::optional<OutputFile> output = OutputFile::Create(c.path.c_str(), 9, staging);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output->Replaces(), !c.in_place);
        ASSERT_TRUE(output->Write("new table", 9));
        // The path holds what it held; only a named temporary file is seen.
        if (!c.target.empty()) {
          EXPECT_EQ(fs::exists(c.target) ? ReadFile(c.target) : "", c.existing ? "old" : "");
          const fs::path beside = fs::path(c.target).parent_path();
          const bool named = staging == Staging::kNamed || !unnamed;
          EXPECT_EQ(Leftovers(beside, names).size(), named ? 1u : 0u);
        }
        if (!c.given_up) {
          EXPECT_TRUE(output->Keep());
        }
      }
      if (!c.target.empty()) {
        if (!c.given_up) {
          EXPECT_EQ(ReadFile(c.target), "new table");
        } else {
          EXPECT_EQ(fs::exists(c.target) ? ReadFile(c.target) : "", c.existing ? "old" : "");
        }
        if (c.existing && kSystem == TSystem::kPosix) {
          EXPECT_EQ(fs::status(c.target).permissions(), kept);
        }
        EXPECT_EQ(Leftovers(fs::path(c.target).parent_path(), names), std::vector<std::string>{});
      }
      EXPECT_EQ(fs::is_symlink(dir / "link.bin"), kSystem == TSystem::kPosix);
    }
  }
}

TEST(MessagesTest, AreTheShiftJisBytesOfTheirTexts) {
  namespace m = morv::msg;
  namespace t = msg;
  const struct {
    const char* literal;
    std::string encoded;  // the text encoded independently of the literal
    std::size_t bytes;
  } messages[] = {
      {m::kFrameworkInitFailed, ConsoleText(Encode("MFCの初期化失敗\n")), 16},
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
    EXPECT_EQ(ConsoleText(message.literal), message.encoded);
  }
}

}  // namespace
}  // namespace morv::test
