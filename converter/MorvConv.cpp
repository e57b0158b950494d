#include "converter/MorvConv.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "converter/Messages.h"
#include "converter/OutputFile.h"
#include "platform/InputFile.h"
#include "platform/Memory.h"
#include "platform/Prefaulter.h"

namespace morv {
namespace {

// Writes the frame table as little-endian 16-bit items whatever the host's
// byte order.
bool WriteFrameTable(OutputFile& file, const std::uint16_t* table, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    return file.Write(table, sizeof(std::uint16_t) * count);
  } else {
    std::vector<std::uint8_t> bytes(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(table[i]);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(table[i] >> 8);
    }
    return file.Write(bytes.data(), bytes.size());
  }
}

// Copies the first `count` values into `table`, each cut to the width of the
// table's entries.
template <class Entry>
void CutInto(Entry* const table, const std::vector<int>& values, const std::uint32_t count) {
  std::transform(values.begin(), values.begin() + count, table,
                 [](const int value) { return static_cast<Entry>(value); });
}

}  // namespace

bool MorvConv::Convert(const ifp::TMorvDocument& document) {
  const ifp::ELE_tex_pattern_data& data = document.tex_pattern_data;
  const std::uint32_t count = static_cast<std::uint32_t>(data.frame_idx.size);
  // Every list must cover the whole table before anything is allocated: a
  // declared count that the lists do not back never costs memory.
  if (data.frame_idx.data.size() < count || data.image_idx.data.size() < count ||
      data.palette_idx.data.size() < count) {
    return false;
  }

  std::unique_ptr<std::uint16_t[]> frames(new (std::nothrow) std::uint16_t[count]);
  std::unique_ptr<std::uint8_t[]> textures(new (std::nothrow) std::uint8_t[count]);
  std::unique_ptr<std::uint8_t[]> palettes(new (std::nothrow) std::uint8_t[count]);
  if (!frames || !textures || !palettes) return false;
  os::AdviseSequentialFill(frames.get(), sizeof(std::uint16_t) * count);
  os::AdviseSequentialFill(textures.get(), count);
  os::AdviseSequentialFill(palettes.get(), count);

  // Values are cut to the width of their table, never clamped. One table
  // after the other: while the frame table is written, the pages of the
  // other two are faulted in beside it.
  {
    os::TPrefaulter prefaulter;
    prefaulter.Populate(textures.get(), count);
    prefaulter.Populate(palettes.get(), count);
    CutInto(frames.get(), data.frame_idx.data, count);
  }
  CutInto(textures.get(), data.image_idx.data, count);
  CutInto(palettes.get(), data.palette_idx.data, count);

  tbl_num = count;
  frame_tbl = std::move(frames);
  tex_tbl = std::move(textures);
  pltt_tbl = std::move(palettes);
  return true;
}

bool MorvConv::Write(const char* path) const {
  const std::size_t size = 4 + 4 * std::size_t{tbl_num};
  std::optional<OutputFile> output = OutputFile::Create(path, size);
  if (!output) {
    std::printf(msg::kCannotCreateFile, os::DisplayPath(path).c_str());
    return false;
  }

  // Every piece is attempted even after one has failed, each failure with
  // its own line, so that the user sees which pieces failed.
  bool result = true;
  const std::uint8_t count_bytes[4] = {
      static_cast<std::uint8_t>(tbl_num), static_cast<std::uint8_t>(tbl_num >> 8),
      static_cast<std::uint8_t>(tbl_num >> 16), static_cast<std::uint8_t>(tbl_num >> 24)};
  if (!output->Write(count_bytes, sizeof count_bytes)) {
    std::fputs(msg::kWriteCountFailed, stdout);
    result = false;
  }
  if (!WriteFrameTable(*output, frame_tbl.get(), tbl_num)) {
    std::fputs(msg::kWriteFrameTableFailed, stdout);
    result = false;
  }
  if (!output->Write(tex_tbl.get(), tbl_num)) {
    std::fputs(msg::kWriteTextureTableFailed, stdout);
    result = false;
  }
  if (!output->Write(pltt_tbl.get(), tbl_num)) {
    std::fputs(msg::kWritePaletteTableFailed, stdout);
    result = false;
  }

  // A table that is not whole never takes the place of what the path held.
  // Data still buffered may only fail when the file is closed (a full disk),
  // and a file written in place is written only now: either makes the write
  // fail, though no piece can be named for it.
  return result && output->Keep();
}

void MorvConv::Release() noexcept {
  tbl_num = 0;
  frame_tbl.reset();
  tex_tbl.reset();
  pltt_tbl.reset();
}

}  // namespace morv
