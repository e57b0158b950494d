#ifndef CONVERTER_MORVCONV_H
#define CONVERTER_MORVCONV_H

#include <cstdint>
#include <memory>

#include "IntermediateFileParser/MorvDocument.h"

namespace morv {

// Reduces a texture-pattern document to three parallel tables (frame number,
// texture index and palette index of each pattern step) and writes them as
// the texture-pattern table file:
//
//   offset      size   content
//   0           4      N, unsigned 32-bit little-endian
//   4           2N     frame numbers, unsigned 16-bit little-endian
//   4 + 2N      N      texture indices, one byte each
//   4 + 3N      N      palette indices, one byte each
//
// The tables are copies: nothing in them refers to the document once
// Convert has returned.
class MorvConv {
 public:
  MorvConv() = default;
  MorvConv(const MorvConv&) = delete;
  MorvConv& operator=(const MorvConv&) = delete;
  ~MorvConv() = default;

  // Builds the tables from the document's index lists: frame_idx.size
  // entries, each value cut to its table's width (low 16 or 8 bits). Returns
  // false, leaving the record as it was, when one of the three lists holds
  // fewer values than that count or the tables cannot be allocated.
  bool Convert(const ifp::TMorvDocument& document);

  // Writes the count and the three tables to the file at `path`, which holds
  // either the whole new table file afterwards or what it held before (see
  // OutputFile). Prints a message for a file that cannot be created
  // and one for each piece that is not written in full; returns true only
  // when every piece was written and the file was closed and put in place.
  bool Write(const char* path) const;

  // Frees the tables and empties the record.
  void Release() noexcept;

  std::uint32_t tbl_num = 0;
  std::unique_ptr<std::uint16_t[]> frame_tbl;
  std::unique_ptr<std::uint8_t[]> tex_tbl;
  std::unique_ptr<std::uint8_t[]> pltt_tbl;
};

}  // namespace morv

#endif  // CONVERTER_MORVCONV_H
